#include "foundation/creds_locks.h"

#include <errno.h>
#include <signal.h>
#include <string.h>
#include <sys/wait.h>

#include <algorithm>
#include <atomic>
#include <vector>

#include "foundation/creds_cache.h"
#include "foundation/creds_protocol.h"
#include "foundation/log.h"
#include "foundation/os_perf.h"
#include "foundation/os_shutdown.h"
#include "runtime/cond_block.h"
#include "runtime/daemon_thread.h"

namespace {

struct LockSlot {
  int op = 0;  // 0: free
  int id = 0;
  pid_t pid = 0;
  int64_t start = 0;  // monotonic microseconds at which the child started
  bool named = false;
  char name[kCredSlotNameLength + 1] = {};
};

struct Straggler {
  pid_t pid;
  int64_t start;
};

std::atomic<int> _periodMs{kCredWatchdogPeriodMs};
std::atomic<int> _hungMs{kCredHungLimitMs};

class CredSafety;

// Never destroyed: look-ups may still run while the process exits.
CondBlock& threadLock() {
  static CondBlock* block = new CondBlock();
  return *block;
}

// Guarded by threadLock().
LockSlot locks[kCredLockSlots];
std::vector<Straggler>* stragglers = nullptr;
CredSafety* safetyThread = nullptr;

// Reaps `pid` if it has ended; true when it is gone (reaped here or by the
// process's signal thread).
bool reapIfEnded(pid_t pid) {
  int status = 0;
  pid_t r;
  do {
    r = waitpid(pid, &status, WNOHANG);
  } while (r < 0 && errno == EINTR);
  if (r == 0) return false;
  lockPerfPid();
  removePerfPid(pid);
  unlockPerfPid();
  return true;
}

// The watchdog ("_credSafety"): logs the counters, kills hung children and
// reaps the stragglers, once per period until told to exit.
class CredSafety : public DaemonThread {
 public:
  CredSafety() : DaemonThread("credSafety") { setDeleteOnExit(false); }

  void run() override {
    setInitialized();
    sleep_.lock();
    while (!_credExit) {
      const int64_t next = credNowMicros() + int64_t{credWatchdogPeriodMs()} * 1000;
      for (;;) {
        const int64_t left = next - credNowMicros();
        if (_credExit || left <= 0) break;
        (void)sleep_.wait(static_cast<int>(std::min<int64_t>(left / 1000 + 1, 1000)));
      }
      if (_credExit) break;
      sleep_.unlock();
      pass();
      sleep_.lock();
    }
    sleep_.unlock();
  }

  void stop() {
    CondBlock::Guard hold(sleep_);
    _credExit = true;
    sleep_.broadcast();
  }

 private:
  void pass() {
    log(_debug_creds, LOG_DEBUG, 0, 0, "Creds: lookups = %d, cacheHits = %d, blocked = %d, locks = %d",
        _credLookups.load(), _credCacheHits.load(), _credBlocked.load(), _credCacheLocks.load());
    CondBlock::Guard hold(threadLock());
    const int64_t now = credNowMicros();
    const int64_t hung = int64_t{credHungLimitMs()} * 1000;
    for (LockSlot& s : locks) {
      if (s.op == 0 || s.pid <= 0 || now - s.start <= hung) continue;
      log(_debug_creds, LOG_WARNING, 0, 0, "Creds: credSafetyTimer will kill sub-process %d. it's seems to have hung",
          static_cast<int>(s.pid));
      kill(s.pid, SIGKILL);
      s.pid = 0;
    }
    if (stragglers == nullptr) return;
    std::vector<Straggler>& list = *stragglers;
    for (size_t i = 0; i < list.size();) {
      if (reapIfEnded(list[i].pid)) {
        list[i] = list.back();
        list.pop_back();
        continue;
      }
      if (now - list[i].start > hung) kill(list[i].pid, SIGKILL);  // reaped at the next pass
      i++;
    }
  }

  CondBlock sleep_;
  bool _credExit = false;  // guarded by sleep_
};

// Stops the watchdog and flushes the cache when the process shuts down.
class CredShutdown : public ShutdownHandler {
 public:
  void shutdown() override { credCleanup(); }
};

// REQUIRES: threadLock() held.
void startWatchdog() {
  if (safetyThread != nullptr) return;
  static bool registered = false;
  if (!registered) {
    registered = true;
    // Never freed: the list may fire at any time until the process ends.
    s_addShutdownHandler(new CredShutdown());
  }
  auto* t = new CredSafety();
  if (t->start() != 0) {
    delete t;
    return;
  }
  safetyThread = t;
}

bool sameLookup(const LockSlot& s, const char* name, int id, int op) {
  if (s.op != op || s.id != id) return false;
  if (name == nullptr) return !s.named;
  return s.named && strncmp(s.name, name, kCredSlotNameLength) == 0;
}

bool validSlot(int slot) { return slot >= 0 && slot < kCredLockSlots; }

}  // namespace

int credWatchdogPeriodMs() { return _periodMs.load(std::memory_order_relaxed); }
int credHungLimitMs() { return _hungMs.load(std::memory_order_relaxed); }

void setCredWatchdogTiming(int periodMs, int hungMs) {
  _periodMs.store(periodMs > 0 ? periodMs : kCredWatchdogPeriodMs, std::memory_order_relaxed);
  _hungMs.store(hungMs > 0 ? hungMs : kCredHungLimitMs, std::memory_order_relaxed);
}

int64_t credReplyLimitMicros() {
  return (int64_t{credHungLimitMs()} + 2 * int64_t{credWatchdogPeriodMs()} + 1000) * 1000;
}

int lockOrWait(const char* name, int id, int op) {
  CondBlock::Guard hold(threadLock());
  startWatchdog();
  // The look-up being waited for is bounded (its tries each end by the reply
  // limit); this bound only guards against a holder that never lets go.
  const int64_t giveUp = credNowMicros() + 3 * credReplyLimitMicros() + 10000000;
  for (;;) {
    int freeSlot = -1;
    bool busy = false;
    for (int i = 0; i < kCredLockSlots; i++) {
      if (locks[i].op == 0) {
        if (freeSlot < 0) freeSlot = i;
      } else if (sameLookup(locks[i], name, id, op)) {
        busy = true;
      }
    }
    if (busy && credNowMicros() < giveUp) {
      _credBlocked++;
      log(_debug_creds, LOG_TRACE, 0, 0, "Creds: lockOrWait: Thread waiting");
      (void)threadLock().wait(1000);
      continue;
    }
    if (freeSlot < 0) {
      log(_debug_creds, LOG_WARNING, 0, 0, "Creds: Warning: cred lock table too small");
      return -1;
    }
    LockSlot& s = locks[freeSlot];
    s.op = op;
    s.id = id;
    s.pid = 0;
    s.start = 0;
    s.named = name != nullptr;
    memset(s.name, 0, sizeof(s.name));
    if (name != nullptr) strncpy(s.name, name, kCredSlotNameLength);
    log(_debug_creds, LOG_TRACE, 0, 0, "Creds: lockOrWait: locking slot %d", freeSlot);
    return freeSlot;
  }
}

void unlockCredSlot(int slot) {
  if (!validSlot(slot)) return;
  CondBlock::Guard hold(threadLock());
  locks[slot] = LockSlot();
  log(_debug_creds, LOG_TRACE, 0, 0, "Creds: unlock slot %d", slot);
  threadLock().broadcast();
}

void setCredSlotChild(int slot, pid_t pid) {
  if (!validSlot(slot)) return;
  CondBlock::Guard hold(threadLock());
  locks[slot].pid = pid;
  locks[slot].start = credNowMicros();
}

void clearCredSlotChild(int slot) {
  if (!validSlot(slot)) return;
  CondBlock::Guard hold(threadLock());
  locks[slot].pid = 0;
  locks[slot].start = 0;
}

void addCredStraggler(pid_t pid, int64_t startMicros) {
  if (pid <= 0) return;
  CondBlock::Guard hold(threadLock());
  if (stragglers == nullptr) stragglers = new std::vector<Straggler>();
  stragglers->push_back({pid, startMicros});
  startWatchdog();
}

int credBusySlots() {
  CondBlock::Guard hold(threadLock());
  int n = 0;
  for (const LockSlot& s : locks) n += s.op != 0 ? 1 : 0;
  return n;
}

extern "C" void credCleanup() {
  CredSafety* t = nullptr;
  {
    CondBlock::Guard hold(threadLock());
    t = safetyThread;
    safetyThread = nullptr;
  }
  if (t != nullptr) {
    t->stop();
    if (t->join(10000)) {
      delete t;
    } else {
      // Still inside a pass after ten seconds: leave the object to it rather
      // than free it under a running thread.
      log(_debug_creds, LOG_WARNING, 0, 0, "Creds: credCleanup: the watchdog did not stop");
    }
  }
  flushCredsCache();
}
