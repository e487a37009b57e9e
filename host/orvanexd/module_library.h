// The module as the host daemon sees it: the shared library loaded with
// dlopen (RTLD_GLOBAL, so that the libraries loaded with it and after it find
// its process-wide log and configuration) and the entry points it exports,
// looked up by name. Filled once on the start-up thread; read-only after.
#pragma once

#include <string>

class Properties;
class ShutdownHandler;

struct ModuleLibrary {
  void* handle = nullptr;

  // Entry points.
  int (*moduleMain)() = nullptr;
  int (*startJavaModule)(const char* name, Properties* props) = nullptr;
  void (*runJavaClass)(const char* className) = nullptr;

  // The process-wide configuration.
  void (*setPropertiesPath)(const char* path) = nullptr;
  bool (*testProperties)(bool verbose, void (*callback)(Properties*)) = nullptr;
  Properties* (*currentProperties)() = nullptr;
  char* (*getStringProperty)(const char* key, const char* def) = nullptr;
  void (*freeStringProperty)(char* value) = nullptr;
  int (*getIntProperty)(const char* key, int def) = nullptr;
  double (*getDoubleProperty)(const char* key, double def) = nullptr;
  bool (*getBoolProperty)(const char* key, bool def) = nullptr;

  // The process-wide log.
  void (*setLogDir)(const char* dir) = nullptr;
  void (*copyLogToStdout)() = nullptr;
  void (*log)(int err, const char* fmt, ...) = nullptr;

  // Members of Properties, called with the object as first argument.
  void (*propertiesSetProperty)(Properties* self, const char* key, const char* value, int line) = nullptr;
  void (*propertiesDestroy)(Properties* self) = nullptr;

  // Optional: absent from a module that does not have them.
  void (*fireShutdownHandlers)() = nullptr;
  // The runtime's signal thread (SIGTERM, SIGCHLD, SIGQUIT) and its
  // shutdown-handler list.
  void (*attachMainThread)(int server) = nullptr;
  void (*addShutdownHandler)(ShutdownHandler* handler) = nullptr;
  void (*testcred)() = nullptr;
};

// Loads the module at `path` and resolves its entry points. False with a
// readable reason in *error when the file cannot be loaded or lacks one of
// the required names.
[[nodiscard]] bool loadModule(const std::string& path, ModuleLibrary* lib, std::string* error);

// A property set built by the daemon and handed to the module, which owns
// the code of the class; the set lives in this object's storage.
class ModuleProperties {
 public:
  explicit ModuleProperties(const ModuleLibrary& lib);
  ~ModuleProperties();
  ModuleProperties(const ModuleProperties&) = delete;
  ModuleProperties& operator=(const ModuleProperties&) = delete;

  // Adds an entry at the head of the set (a later key shadows an earlier one).
  void set(const char* key, const char* value);
  [[nodiscard]] Properties* get() { return props_; }

 private:
  const ModuleLibrary& lib_;
  Properties* props_;
  alignas(void*) unsigned char storage_[sizeof(void*)];
};
