#include "host_setup.h"

#include <unistd.h>

#include <cstring>
#include <memory>

#include "foundation/properties.h"
#include "host/host_globals.h"
#include "host/orvanex.h"

namespace {

// The value of a text setting, or empty with *present false.
std::string textSetting(const ModuleLibrary& lib, const char* key, bool* present) {
  char* value = lib.getStringProperty(key, nullptr);
  *present = value != nullptr;
  std::string out = value ? value : "";
  lib.freeStringProperty(value);
  return out;
}

void setText(const ModuleLibrary& lib, const char* key, void (Orvanex::*setter)(const char*),
             const char* fallback = nullptr) {
  bool present = false;
  const std::string value = textSetting(lib, key, &present);
  (Orvanex::instance().*setter)(present ? value.c_str() : fallback);
}

}  // namespace

std::vector<std::string> splitList(const std::string& text) {
  std::vector<std::string> items;
  std::string item;
  for (char c : text) {
    if (c == ',' || c == ' ' || c == '\t') {
      if (!item.empty()) items.push_back(item);
      item.clear();
    } else {
      item += c;
    }
  }
  if (!item.empty()) items.push_back(item);
  return items;
}

void configureHost(const ModuleLibrary& lib, const std::string& home, const std::string& exePath) {
  Orvanex& host = Orvanex::instance();
  host.setHome(home.c_str());
  setText(lib, "host_serves", &Orvanex::setServes);
  setText(lib, "host_asset_name", &Orvanex::setAssetName);
  setText(lib, "host_server_mode", &Orvanex::setServerMode, "agent");
  setText(lib, "host_authenticates", &Orvanex::setAuthenticates);
  setText(lib, "host_login_service", &Orvanex::setLoginServiceName);

  char machine[256] = "";
  if (gethostname(machine, sizeof machine - 1) != 0) machine[0] = '\0';
  setText(lib, "host_hostname", &Orvanex::setHostname, machine);

  bool present = false;
  host.setLocalAuthServices(splitList(textSetting(lib, "host_local_auth_services", &present)));

  _perf_share_factor = lib.getDoubleProperty("host_share_factor", 1.0);
  _perf_dh = lib.getIntProperty("host_dh", 0);
  _perf_sh = lib.getIntProperty("host_sh", 0);
  _perf_dm = lib.getIntProperty("host_dm", 0);
  _perf_eden = lib.getDoubleProperty("host_eden", 0.0);

  if (exePath.size() < sizeof commandPath) {
    std::memcpy(commandPath, exePath.c_str(), exePath.size() + 1);
  } else {
    lib.log(0, "orvanexd: the path %s is too long for credential look-ups", exePath.c_str());
  }
}

std::vector<std::string> configuredModules(const ModuleLibrary& lib) {
  bool present = false;
  std::vector<std::string> names;
  for (std::string& n : splitList(textSetting(lib, "java_modules", &present))) {
    bool seen = false;
    for (const std::string& m : names) seen = seen || m == n;
    if (!seen) names.push_back(std::move(n));
  }
  return names;
}

void startConfiguredModules(const ModuleLibrary& lib) {
  for (const std::string& name : configuredModules(lib)) {
    const std::string prefix = "java_module." + name + ".";
    ModuleProperties props(lib);
    // The configuration runs newest entry first; the module's set is built
    // oldest first so that its newest entry of a key is again found first.
    std::vector<const Properties::Entry*> entries;
    if (const Properties* all = lib.currentProperties()) {
      for (const Properties::Entry* e = all->head(); e != nullptr; e = e->next) {
        if (std::strncmp(e->key, prefix.c_str(), prefix.size()) == 0 && e->key[prefix.size()] != '\0') {
          entries.push_back(e);
        }
      }
    }
    for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
      props.set((*it)->key + prefix.size(), (*it)->value ? (*it)->value : "");
    }
    lib.startJavaModule(name.c_str(), props.get());
  }
}
