// The assertion handler and the stack dumps. They run when something is
// already wrong, so they use nothing but the log and the C library.
#include "foundation/diagnostics.h"

#include <execinfo.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>

#include "foundation/log.h"

bool _shutdown = false;
bool _orvanex_assert_enabled = false;
bool _orvanex_java_loaded = false;

namespace {

constexpr int kMaxFrames = 50;
constexpr int kMaxStatisticsHooks = 16;

std::atomic<JavaThreadDumpHook> javaThreadDumpHook{nullptr};
std::atomic<StatisticsDumpHook> statisticsHooks[kMaxStatisticsHooks];
std::atomic<int> statisticsHookCount{0};

}  // namespace

void setJavaThreadDumpHook(JavaThreadDumpHook hook) { javaThreadDumpHook.store(hook); }

void addStatisticsDumpHook(StatisticsDumpHook hook) {
  const int slot = statisticsHookCount.fetch_add(1);
  if (slot < kMaxStatisticsHooks) statisticsHooks[slot].store(hook);
}

extern "C" void s_dumpStatistics() {
  const int n = statisticsHookCount.load();
  for (int i = 0; i < n && i < kMaxStatisticsHooks; ++i) {
    StatisticsDumpHook hook = statisticsHooks[i].load();
    if (hook != nullptr) hook();
  }
}

extern "C" void s_dump_stack(const char* title) {
  void* frames[kMaxFrames];
  int count = backtrace(frames, kMaxFrames);
  log(0, "%s", title != nullptr ? title : "");
  char** symbols = backtrace_symbols(frames, count);
  for (int i = 0; i < count; ++i) {
    if (symbols != nullptr) {
      log(0, "%s", symbols[i]);
    } else {
      // No memory for the symbol texts: the addresses still locate the fault.
      log(0, "%p", frames[i]);
    }
  }
  free(symbols);
}

extern "C" void s_dump_stack_stdout(const char* title) {
  void* frames[kMaxFrames];
  int count = backtrace(frames, kMaxFrames);
  printf("%s\n", title != nullptr ? title : "");
  fflush(stdout);
  // Written straight to the descriptor: needs no memory, so it works even
  // when the fault is a corrupted heap.
  backtrace_symbols_fd(frames, count, STDOUT_FILENO);
  printf("\n");
  fflush(stdout);
}

extern "C" void _orvanex_assert(const char* expr, const char* file, int line) {
  if (_shutdown) return;
  log(0, "|||== assertion failure: %s, at %s:%d", expr, file, line);
  s_dump_stack("Assertion...");
  if (_orvanex_assert_enabled) {
    // Disarmed first, so that an assertion failing inside a SIGABRT handler
    // cannot recurse.
    _orvanex_assert_enabled = false;
    raise(SIGABRT);
    _exit(55);
  }
  if (_orvanex_java_loaded) {
    // The bridge's hook writes the dump on this thread before it returns.
    JavaThreadDumpHook hook = javaThreadDumpHook.load();
    if (hook != nullptr && hook()) return;
    // Without it the VM answers SIGQUIT with a dump of every Java thread
    // (unless it runs with -Xrs); give it the time to write it before the
    // caller carries on.
    kill(getpid(), SIGQUIT);
    sleep(2);
  }
}
