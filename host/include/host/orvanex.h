// The host runtime's process-wide singleton, as the module sees it: the
// installation's settings, the password store, the host's status and the
// listeners through which the host reaches the Java agent.
//
// Thread-safe. The start-up settings (home, serves, asset name, server mode,
// authenticating domain, local authentication services, host name, login
// service, served directory) are set by the host daemon before it loads the
// module and are only read afterwards; the texts they return stay valid for
// the life of the process. Everything else may be called from any thread.
#pragma once

#include <cstddef>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

class OrvEvent;
class Principal;
class StatEntry;

// A host listener for system events. The host calls it on its own threads;
// the event stays the caller's.
class OrvEventListener {
 public:
  virtual ~OrvEventListener() = default;
  virtual void handleEvent(const OrvEvent* event) = 0;
};

// A host listener told when the configuration file has been reloaded.
class OrvanexPropertiesListener {
 public:
  virtual ~OrvanexPropertiesListener() = default;
  virtual void propertiesChanged() = 0;
};

class Orvanex {
 public:
  static Orvanex& instance();

  Orvanex(const Orvanex&) = delete;
  Orvanex& operator=(const Orvanex&) = delete;

  // ---- Start-up settings. A getter returns null when the setting is absent.
  const char* getHome() const;
  const char* getServes() const;
  const char* getAssetName() const;
  const char* getServerMode() const;
  const char* getAuthenticates() const;
  const char* getHostname() const;
  // The login service used for password checks; null when none.
  const char* getLoginServiceName() const;
  // Null-terminated list of local authentication service names (never null;
  // the first element is null when the list is empty).
  const char* const* getLocalAuthServices() const;
  // The directory this host serves; opaque to the host stand-in.
  void* getServesDirectory() const;

  // A null text makes the setting absent.
  void setHome(const char* home);
  void setServes(const char* serves);
  void setAssetName(const char* name);
  void setServerMode(const char* mode);
  void setAuthenticates(const char* domain);
  void setHostname(const char* name);
  void setLoginServiceName(const char* name);
  void setLocalAuthServices(const std::vector<std::string>& names);
  void setServesDirectory(void* directory);

  // ---- The thread map: a text the agent may replace at any time.
  std::string getThreadMap() const;
  // Replaces the text with a copy; null clears it.
  void setThreadMap(const char* text);

  // ---- Passwords. Status 0 writes the NUL-terminated text into buf; any
  // other status means no value and leaves buf untouched (a value that does
  // not fit in len bytes is no value: it is never cut).
  [[nodiscard]] int getPassword(const char* key, char* buf, std::size_t len) const;
  [[nodiscard]] int getPassword(const char* a, const char* b, char* buf, std::size_t len) const;
  // The stand-in stores passwords as they are given, so decoding copies.
  [[nodiscard]] int decodePassword(const char* text, char* buf, std::size_t len) const;
  void setPassword(const char* key, const char* value);
  void setPassword(const char* a, const char* b, const char* value);

  // ---- Status reported by the agent.
  void setReady(bool ready);
  [[nodiscard]] bool isReady() const;
  void setModuleStatus(const char* text, int code);
  // The last status text ("" before any) and its code.
  [[nodiscard]] std::string getModuleStatus(int* code) const;
  void addTaskLog(const char* text);
  void startAssetMonitor(const char* name);
  void stopAssetMonitor(const char* name);
  [[nodiscard]] std::vector<std::string> getMonitoredAssets() const;

  // A new principal for a service user, or null. The stand-in has none.
  [[nodiscard]] Principal* loginServiceUser(const char* domain, const char* host, const char* name,
                                            const char* password);

  // Takes ownership of a statistics entry. The stand-in has no consumer: it
  // counts the entries and keeps them for the life of the process.
  void addServerStats(StatEntry* entry);
  [[nodiscard]] std::size_t serverStatsCount() const;

  // ---- Listeners. The host takes ownership of each listener.
  void addOrvEventListener(OrvEventListener* listener);
  // Calls every event listener, in registration order, on this thread.
  void fireEventListeners(const OrvEvent* event);
  void addOrvanexPropertiesListener(OrvanexPropertiesListener* listener);
  // Calls every properties listener, in registration order, on this thread.
  void firePropertiesListeners();

 private:
  Orvanex() = default;
  ~Orvanex() = default;

  struct Password {
    std::string a, b, value;
  };

  mutable std::mutex lock_;
  std::optional<std::string> home_, serves_, assetName_, serverMode_, authenticates_, hostname_, loginService_;
  std::vector<std::string> authServices_;
  std::vector<const char*> authServicePtrs_{nullptr};
  void* servesDirectory_ = nullptr;
  std::string threadMap_;
  std::vector<Password> passwords_;
  bool ready_ = false;
  std::string status_;
  int statusCode_ = 0;
  std::vector<std::string> monitored_;
  std::vector<StatEntry*> stats_;
  std::vector<std::unique_ptr<OrvEventListener>> eventListeners_;
  std::vector<std::unique_ptr<OrvanexPropertiesListener>> propertiesListeners_;
};
