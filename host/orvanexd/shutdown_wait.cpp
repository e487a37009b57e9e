#include "shutdown_wait.h"

#include <signal.h>
#include <time.h>

#include <cerrno>

namespace {

sigset_t shutdownSignals(bool withTerm) {
  sigset_t set;
  sigemptyset(&set);
  if (withTerm) sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGHUP);
  return set;
}

}  // namespace

void blockShutdownSignals() {
  sigset_t set = shutdownSignals(true);
  // Taken by the runtime's signal thread once the module attaches it; a
  // thread that did not block them would have them delivered to a handler.
  sigaddset(&set, SIGCHLD);
  sigaddset(&set, SIGQUIT);
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

int waitForShutdown(int tickSeconds, void (*tick)(), bool runtimeTakesTerm) {
  const sigset_t set = shutdownSignals(!runtimeTakesTerm);
  for (;;) {
    int sig = -1;
    if (tickSeconds > 0) {
      timespec timeout{tickSeconds, 0};
      sig = sigtimedwait(&set, nullptr, &timeout);
      if (sig < 0) {
        if (errno == EAGAIN && tick != nullptr) tick();
        continue;
      }
    } else if (sigwait(&set, &sig) != 0) {
      continue;
    }
    if (sig == SIGTERM || sig == SIGINT) return sig;
  }
}
