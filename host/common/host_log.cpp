#include "host_log.h"

#include <dlfcn.h>

#include <atomic>
#include <cstdarg>
#include <cstdio>

// The module's unconditional log(int err, const char* fmt, ...). A weak
// reference binds when the module is loaded together with this library (the
// module depends on it, or an executable that links the module's archive
// exports it because this library refers to it); otherwise the symbol is
// looked up again at call time, which finds a module loaded later with
// RTLD_GLOBAL. Failing both, lines go to standard error.
void log(int err, const char* fmt, ...) __attribute__((weak));

namespace {

using LogFn = void (*)(int, const char*, ...);

LogFn findLog() {
  static std::atomic<LogFn> cached{nullptr};
  LogFn fn = cached.load(std::memory_order_acquire);
  if (fn != nullptr) return fn;
  if (&log != nullptr) {
    fn = &log;
  } else {
    // The Itanium name of log(int, const char*, ...).
    fn = reinterpret_cast<LogFn>(dlsym(RTLD_DEFAULT, "_Z3logiPKcz"));
  }
  if (fn != nullptr) cached.store(fn, std::memory_order_release);
  return fn;
}

}  // namespace

void hostLog(const char* fmt, ...) {
  char line[4096];
  va_list ap;
  va_start(ap, fmt);
  vsnprintf(line, sizeof line, fmt, ap);
  va_end(ap);
  if (LogFn fn = findLog()) {
    fn(0, "%s", line);
  } else {
    fprintf(stderr, "%s\n", line);
  }
}
