#include "shutdown_wait.h"

#include <signal.h>
#include <time.h>

#include <cerrno>

namespace {

sigset_t shutdownSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGHUP);
  return set;
}

}  // namespace

void blockShutdownSignals() {
  const sigset_t set = shutdownSignals();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

int waitForShutdown(int tickSeconds, void (*tick)()) {
  const sigset_t set = shutdownSignals();
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
