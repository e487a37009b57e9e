// The stand-in of the host runtime's singleton: it keeps what the host daemon
// and the agent give it and logs what a real host would act upon.
#include "host/orvanex.h"

#include <cstring>

#include "../common/host_log.h"

namespace {

const char* textOf(const std::optional<std::string>& s) { return s ? s->c_str() : nullptr; }

std::optional<std::string> optionalText(const char* s) {
  return s ? std::optional<std::string>(s) : std::nullopt;
}

// Copies `value` with its NUL into buf when it fits; 0, or -2 when too long.
int copyOut(const std::string& value, char* buf, std::size_t len) {
  if (buf == nullptr || value.size() + 1 > len) return -2;
  std::memcpy(buf, value.c_str(), value.size() + 1);
  return 0;
}

}  // namespace

Orvanex& Orvanex::instance() {
  // Never destroyed: host and agent threads may still use it while the
  // process exits.
  static Orvanex* const self = new Orvanex();
  return *self;
}

const char* Orvanex::getHome() const { return textOf(home_); }
const char* Orvanex::getServes() const { return textOf(serves_); }
const char* Orvanex::getAssetName() const { return textOf(assetName_); }
const char* Orvanex::getServerMode() const { return textOf(serverMode_); }
const char* Orvanex::getAuthenticates() const { return textOf(authenticates_); }
const char* Orvanex::getHostname() const { return textOf(hostname_); }
const char* Orvanex::getLoginServiceName() const { return textOf(loginService_); }
const char* const* Orvanex::getLocalAuthServices() const { return authServicePtrs_.data(); }
void* Orvanex::getServesDirectory() const { return servesDirectory_; }

void Orvanex::setHome(const char* home) { home_ = optionalText(home); }
void Orvanex::setServes(const char* serves) { serves_ = optionalText(serves); }
void Orvanex::setAssetName(const char* name) { assetName_ = optionalText(name); }
void Orvanex::setServerMode(const char* mode) { serverMode_ = optionalText(mode); }
void Orvanex::setAuthenticates(const char* domain) { authenticates_ = optionalText(domain); }
void Orvanex::setHostname(const char* name) { hostname_ = optionalText(name); }
void Orvanex::setLoginServiceName(const char* name) { loginService_ = optionalText(name); }
void Orvanex::setServesDirectory(void* directory) { servesDirectory_ = directory; }

void Orvanex::setLocalAuthServices(const std::vector<std::string>& names) {
  authServices_ = names;
  authServicePtrs_.clear();
  for (const std::string& n : authServices_) authServicePtrs_.push_back(n.c_str());
  authServicePtrs_.push_back(nullptr);
}

std::string Orvanex::getThreadMap() const {
  std::lock_guard<std::mutex> g(lock_);
  return threadMap_;
}

void Orvanex::setThreadMap(const char* text) {
  std::lock_guard<std::mutex> g(lock_);
  threadMap_ = text ? text : "";
}

int Orvanex::getPassword(const char* key, char* buf, std::size_t len) const {
  return getPassword(key, nullptr, buf, len);
}

int Orvanex::getPassword(const char* a, const char* b, char* buf, std::size_t len) const {
  if (a == nullptr) return -1;
  std::lock_guard<std::mutex> g(lock_);
  for (const Password& p : passwords_) {
    if (p.a == a && p.b == (b ? b : "")) return copyOut(p.value, buf, len);
  }
  return -1;
}

int Orvanex::decodePassword(const char* text, char* buf, std::size_t len) const {
  if (text == nullptr) return -1;
  return copyOut(text, buf, len);
}

void Orvanex::setPassword(const char* key, const char* value) { setPassword(key, nullptr, value); }

void Orvanex::setPassword(const char* a, const char* b, const char* value) {
  if (a == nullptr || value == nullptr) return;
  std::lock_guard<std::mutex> g(lock_);
  const std::string second = b ? b : "";
  for (Password& p : passwords_) {
    if (p.a == a && p.b == second) {
      p.value = value;
      return;
    }
  }
  passwords_.push_back(Password{a, second, value});
}

void Orvanex::setReady(bool ready) {
  {
    std::lock_guard<std::mutex> g(lock_);
    ready_ = ready;
  }
  hostLog("Host: agent %s", ready ? "ready" : "not ready");
}

bool Orvanex::isReady() const {
  std::lock_guard<std::mutex> g(lock_);
  return ready_;
}

void Orvanex::setModuleStatus(const char* text, int code) {
  {
    std::lock_guard<std::mutex> g(lock_);
    status_ = text ? text : "";
    statusCode_ = code;
  }
  hostLog("Host: module status %d: %s", code, text ? text : "");
}

std::string Orvanex::getModuleStatus(int* code) const {
  std::lock_guard<std::mutex> g(lock_);
  if (code) *code = statusCode_;
  return status_;
}

void Orvanex::addTaskLog(const char* text) { hostLog("Host: task log: %s", text ? text : ""); }

void Orvanex::startAssetMonitor(const char* name) {
  if (name == nullptr) return;
  {
    std::lock_guard<std::mutex> g(lock_);
    for (const std::string& n : monitored_) {
      if (n == name) return;
    }
    monitored_.emplace_back(name);
  }
  hostLog("Host: monitoring asset %s", name);
}

void Orvanex::stopAssetMonitor(const char* name) {
  if (name == nullptr) return;
  {
    std::lock_guard<std::mutex> g(lock_);
    std::erase(monitored_, std::string(name));
  }
  hostLog("Host: no longer monitoring asset %s", name);
}

std::vector<std::string> Orvanex::getMonitoredAssets() const {
  std::lock_guard<std::mutex> g(lock_);
  return monitored_;
}

Principal* Orvanex::loginServiceUser(const char*, const char*, const char*, const char*) { return nullptr; }

void Orvanex::addServerStats(StatEntry* entry) {
  if (entry == nullptr) return;
  std::lock_guard<std::mutex> g(lock_);
  stats_.push_back(entry);
}

std::size_t Orvanex::serverStatsCount() const {
  std::lock_guard<std::mutex> g(lock_);
  return stats_.size();
}

void Orvanex::addOrvEventListener(OrvEventListener* listener) {
  if (listener == nullptr) return;
  std::lock_guard<std::mutex> g(lock_);
  eventListeners_.emplace_back(listener);
}

void Orvanex::fireEventListeners(const OrvEvent* event) {
  // Listeners are only ever added, and each is owned here for the life of
  // the process, so the raw pointers stay valid after the lock is released;
  // they are called without it so that a listener may add another.
  std::vector<OrvEventListener*> targets;
  {
    std::lock_guard<std::mutex> g(lock_);
    for (auto& l : eventListeners_) targets.push_back(l.get());
  }
  for (OrvEventListener* l : targets) l->handleEvent(event);
}

void Orvanex::addOrvanexPropertiesListener(OrvanexPropertiesListener* listener) {
  if (listener == nullptr) return;
  std::lock_guard<std::mutex> g(lock_);
  propertiesListeners_.emplace_back(listener);
}

void Orvanex::firePropertiesListeners() {
  std::vector<OrvanexPropertiesListener*> targets;
  {
    std::lock_guard<std::mutex> g(lock_);
    for (auto& l : propertiesListeners_) targets.push_back(l.get());
  }
  for (OrvanexPropertiesListener* l : targets) l->propertiesChanged();
}
