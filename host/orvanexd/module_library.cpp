#include "module_library.h"

#include <dlfcn.h>

#include <new>
#include <type_traits>

#include "foundation/log.h"
#include "foundation/os_shutdown.h"
#include "foundation/properties.h"
#include "runtime/daemon_thread.h"

// The log and the Properties members have C++ linkage, so they are looked up
// by their Itanium names. These checks tie each name to the declaration it
// stands for: a changed signature stops the build here instead of failing
// the look-up at run time.
static_assert(std::is_same_v<decltype(&setLogDir), void (*)(const char*)>, "_Z9setLogDirPKc");
static_assert(std::is_same_v<decltype(&copyLogToStdout), void (*)()>, "_Z15copyLogToStdoutv");
// (The cast picks the one overload of log with exactly this signature.)
static_assert(sizeof(static_cast<void (*)(int, const char*, ...)>(&log)) != 0, "_Z3logiPKcz");
static_assert(std::is_same_v<decltype(&Properties::setProperty), void (Properties::*)(const char*, const char*, int)>,
              "_ZN10Properties11setPropertyEPKcS1_i");
static_assert(std::is_same_v<decltype(&s_attachMainThread), void (*)(int)>, "s_attachMainThread");
static_assert(std::is_same_v<decltype(&s_addShutdownHandler), void (*)(ShutdownHandler*)>, "s_addShutdownHandler");
static_assert(sizeof(Properties) <= sizeof(void*) && alignof(Properties) <= alignof(void*),
              "ModuleProperties storage");

namespace {

template <typename Fn>
bool resolve(void* handle, const char* name, Fn** out, std::string* missing) {
  *out = reinterpret_cast<Fn*>(dlsym(handle, name));
  if (*out == nullptr && missing != nullptr) {
    if (!missing->empty()) *missing += ", ";
    *missing += name;
  }
  return *out != nullptr;
}

}  // namespace

bool loadModule(const std::string& path, ModuleLibrary* lib, std::string* error) {
  void* h = dlopen(path.c_str(), RTLD_NOW | RTLD_GLOBAL);
  if (h == nullptr) {
    const char* why = dlerror();
    *error = why ? why : "dlopen failed";
    return false;
  }
  std::string missing;
  resolve(h, "moduleMain", &lib->moduleMain, &missing);
  resolve(h, "startJavaModule", &lib->startJavaModule, &missing);
  resolve(h, "runJavaClass", &lib->runJavaClass, &missing);
  resolve(h, "s_setOrvanexPropertiesPath", &lib->setPropertiesPath, &missing);
  resolve(h, "s_testOrvanexProperties", &lib->testProperties, &missing);
  resolve(h, "s_getOrvanexProperties", &lib->currentProperties, &missing);
  resolve(h, "s_getStringProperty", &lib->getStringProperty, &missing);
  resolve(h, "s_freeStringProperty", &lib->freeStringProperty, &missing);
  resolve(h, "s_getIntProperty", &lib->getIntProperty, &missing);
  resolve(h, "s_getDoubleProperty", &lib->getDoubleProperty, &missing);
  resolve(h, "s_getBoolProperty", &lib->getBoolProperty, &missing);
  resolve(h, "_Z9setLogDirPKc", &lib->setLogDir, &missing);
  resolve(h, "_Z15copyLogToStdoutv", &lib->copyLogToStdout, &missing);
  resolve(h, "_Z3logiPKcz", &lib->log, &missing);
  resolve(h, "_ZN10Properties11setPropertyEPKcS1_i", &lib->propertiesSetProperty, &missing);
  resolve(h, "_ZN10PropertiesD1Ev", &lib->propertiesDestroy, &missing);
  resolve(h, "s_fireShutdownHandlers", &lib->fireShutdownHandlers, nullptr);
  resolve(h, "s_attachMainThread", &lib->attachMainThread, nullptr);
  resolve(h, "s_addShutdownHandler", &lib->addShutdownHandler, nullptr);
  resolve(h, "testcred", &lib->testcred, nullptr);
  if (!missing.empty()) {
    *error = "the module lacks " + missing;
    dlclose(h);
    *lib = ModuleLibrary();
    return false;
  }
  lib->handle = h;
  return true;
}

ModuleProperties::ModuleProperties(const ModuleLibrary& lib) : lib_(lib), props_(new (storage_) Properties()) {}

ModuleProperties::~ModuleProperties() { lib_.propertiesDestroy(props_); }

void ModuleProperties::set(const char* key, const char* value) { lib_.propertiesSetProperty(props_, key, value, -1); }
