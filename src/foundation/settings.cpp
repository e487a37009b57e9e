// The process-wide configuration: the current Properties set with its
// reload-on-change test, the s_get*Property readers, the CPU affinity reader,
// and the settings a reload refreshes for the other subsystems.
#include "foundation/settings.h"

#include <sys/stat.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>

#include "foundation/log.h"
#include "foundation/properties.h"
#include "model/attributes.h"

std::atomic<bool> _upgrade_certs{false};
std::atomic<int> _ft_listen_queue_size{25};
std::atomic<int> _listen_queue_size{10};
std::atomic<int> _creds_buffer_size{0};
std::atomic<bool> _creds_nss_workaround{false};

namespace {

const char kLabel[] = "    orvanex.properties";

std::mutex _groupLockMutex;
std::optional<std::string> _authGroupLock;

// The current set. Readers copy the shared pointer under the mutex, so a
// reload never frees a set that a reader is using. The set replaced last is
// kept one reload longer, for callers of s_getOrvanexProperties that hold a
// plain pointer.
std::mutex _propsMutex;
std::shared_ptr<Properties> _props;
std::shared_ptr<Properties> _retiredProps;
std::string _propsPath;
bool _propsPathSet = false;
// Modification time of the file when last loaded, to the nanosecond: an edit
// made within the same second as the previous load is still seen.
struct timespec _propsLastLoad = {0, 0};
bool _propsLoaded = false;
bool _missingReported = false;

// Serialises reloads: the host and the Java side may both ask for one.
std::mutex _reloadMutex;

std::shared_ptr<Properties> current() {
  std::lock_guard<std::mutex> guard(_propsMutex);
  return _props;
}

// The log thresholds are plain ints read by every thread without a lock; a
// reload writes one only when its value changes, and then atomically.
void storeIfChanged(int* target, int value) {
  std::atomic_ref<int> ref(*target);
  if (ref.load(std::memory_order_relaxed) != value) ref.store(value, std::memory_order_relaxed);
}

void storeIfChanged(bool* target, bool value) {
  std::atomic_ref<bool> ref(*target);
  if (ref.load(std::memory_order_relaxed) != value) ref.store(value, std::memory_order_relaxed);
}

void refreshInt(const Properties& props, const char* key, std::atomic<int>* target, int def) {
  int value = target->load();
  if (props.intFromProperty(key, kLabel, false, &value, def)) target->store(value);
}

}  // namespace

std::optional<std::string> authGroupLock() {
  std::lock_guard<std::mutex> guard(_groupLockMutex);
  return _authGroupLock;
}

void setAuthGroupLock(const char* text) {
  std::lock_guard<std::mutex> guard(_groupLockMutex);
  if (text == nullptr) {
    _authGroupLock.reset();
  } else {
    _authGroupLock = text;
  }
}

void refreshOrvanexSettings(const Properties& props) {
  struct Threshold {
    const char* key;
    int* target;
  };
  const Threshold thresholds[] = {
      {"log_roll", &_debug_logs},         {"log_ft", &_debug_ft},     {"log_creds", &_debug_creds},
      {"log_coms", &_debug_coms},         {"log_netclient", &_debug_netclient},
      {"log_domain", &_debug_domain},     {"log_kel", &_debug_kel},   {"log_io", &_debug_io},
      {"log_java", &_debug_java},         {"log_csv", &_debug_csv},
  };
  for (const Threshold& t : thresholds) {
    int value = std::atomic_ref<int>(*t.target).load(std::memory_order_relaxed);
    if (props.levelFromProperty(t.key, kLabel, false, &value, LOG_INFO)) storeIfChanged(t.target, value);
  }

  bool hourly = std::atomic_ref<bool>(_hourlyLogs).load(std::memory_order_relaxed);
  if (props.boolFromProperty("hourly_logs", kLabel, false, &hourly, false)) storeIfChanged(&_hourlyLogs, hourly);
  bool upgrade = _upgrade_certs.load();
  if (props.boolFromProperty("upgrade_certs", kLabel, false, &upgrade, false)) _upgrade_certs.store(upgrade);
  refreshInt(props, "ft_listen_queue_size", &_ft_listen_queue_size, 25);
  refreshInt(props, "listen_queue_size", &_listen_queue_size, 10);
  refreshInt(props, "creds_buffer_size", &_creds_buffer_size, 0);

  if (props.find("libnss-sss_creds_workaround") != nullptr) {
    _creds_nss_workaround.store(true);
    log(0, "libnss-sss creds workaround engaged");
  }
  const char* groupLock = props.getProperty("auth_group_lock");
  setAuthGroupLock(groupLock);
  if (groupLock != nullptr) log(0, "auth_group_lock: '%s'", groupLock);
}

extern "C" Properties* s_getOrvanexProperties() { return current().get(); }

extern "C" Attributes* s_getAllProperties() {
  auto props = current();
  return props != nullptr ? props->getProperties() : new Attributes();
}

extern "C" void s_setOrvanexPropertiesPath(const char* path) {
  std::lock_guard<std::mutex> reload(_reloadMutex);
  std::lock_guard<std::mutex> guard(_propsMutex);
  _propsPathSet = path != nullptr;
  _propsPath = path != nullptr ? path : "";
  _propsLastLoad = {0, 0};
  _missingReported = false;
}

extern "C" bool s_testOrvanexProperties(bool verbose, void (*callback)(Properties*)) {
  std::lock_guard<std::mutex> reload(_reloadMutex);
  std::string path;
  {
    std::lock_guard<std::mutex> guard(_propsMutex);
    if (!_propsPathSet) return true;
    path = _propsPath;
  }

  struct stat st;
  if (stat(path.c_str(), &st) != 0) {
    if (!_missingReported) {
      _missingReported = true;
      log(0, "Warning: file %s was not found. All properties set to defaults", path.c_str());
    }
    return true;
  }
  if (_propsLoaded && st.st_mtim.tv_sec == _propsLastLoad.tv_sec && st.st_mtim.tv_nsec == _propsLastLoad.tv_nsec) {
    return true;
  }
  if (verbose) {
    if (!_propsLoaded) {
      log(0, "Reading %s, ...", path.c_str());
    } else {
      log(0, "Config file, %s, has changed", path.c_str());
    }
  }
  // Recorded before the load, so that a file that fails to load is not read
  // again until it changes again.
  _propsLastLoad = st.st_mtim;
  _propsLoaded = true;

  auto fresh = std::make_shared<Properties>();
  if (!fresh->load(path.c_str())) {
    log(0, "Failed to load %s", path.c_str());
    return false;
  }
  {
    std::lock_guard<std::mutex> guard(_propsMutex);
    _retiredProps = std::move(_props);
    _props = fresh;
  }
  if (verbose) fresh->logProperties(kLabel);
  refreshOrvanexSettings(*fresh);
  if (callback != nullptr) callback(fresh.get());
  return true;
}

extern "C" bool s_getBoolProperty(const char* key, bool def) {
  auto props = current();
  bool value = def;
  if (props == nullptr || !props->boolFromProperty(key, kLabel, false, &value, def)) return def;
  return value;
}

extern "C" int s_getIntProperty(const char* key, int def) {
  auto props = current();
  int value = def;
  if (props == nullptr || !props->intFromProperty(key, kLabel, false, &value, def)) return def;
  return value;
}

extern "C" int s_getLevelProperty(const char* key, int def) {
  auto props = current();
  int value = def;
  if (props == nullptr || !props->levelFromProperty(key, kLabel, false, &value, def)) return def;
  return value;
}

extern "C" double s_getDoubleProperty(const char* key, double def) {
  auto props = current();
  double value = def;
  if (props == nullptr || !props->doubleFromProperty(key, kLabel, false, &value, def)) return def;
  return value;
}

extern "C" char* s_getStringProperty(const char* key, const char* def) {
  auto props = current();
  const char* value = props != nullptr ? props->getProperty(key) : nullptr;
  if (value == nullptr) value = def;
  return value != nullptr ? strdup(value) : nullptr;
}

extern "C" void s_freeStringProperty(char* value) { free(value); }

extern "C" bool s_readCpuAffinity(cpu_set_t* set) {
  auto props = current();
  const char* value = props != nullptr ? props->getProperty("cpu_affinity") : nullptr;
  if (value == nullptr) return false;
  CPU_ZERO(set);
  // The whole value is read: cutting a long list could turn "10" into "1".
  const std::string text(value);
  size_t pos = 0;
  while (pos < text.size()) {
    const size_t start = text.find_first_not_of(", \t", pos);
    if (start == std::string::npos) break;
    size_t stop = text.find_first_of(", \t", start);
    if (stop == std::string::npos) stop = text.size();
    pos = stop;
    const std::string piece = text.substr(start, stop - start);
    char* end = nullptr;
    errno = 0;
    const long cpu = strtol(piece.c_str(), &end, 10);
    if (end == piece.c_str() || *end != '\0') {
      // Not a number: taking it as CPU 0 would pin the process somewhere
      // nobody asked for.
      log(0, "cpu_affinity: '%s' is not a CPU number, ignored", piece.c_str());
      continue;
    }
    if (cpu < 0) {
      log(0, "Fatal error: cpu_affinity setting is invalid");
      exit(1);
    }
    log(0, "setting cpu %ld", cpu);
    if (cpu < CPU_SETSIZE) CPU_SET(static_cast<int>(cpu), set);
  }
  return true;
}
