#include "runtime/thread_context.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

#include "foundation/diagnostics.h"
#include "foundation/log.h"
#include "foundation/os_perf.h"

namespace {

constexpr int kInitialPollCapacity = 1024;
constexpr short kReadFlags = POLLIN | POLLERR | POLLHUP;  // 25

pthread_key_t contextKey;
pthread_once_t contextKeyOnce = PTHREAD_ONCE_INIT;

// The global list of contexts, for dump().
CriticalBlock& globalContextLock() {
  static CriticalBlock* block = new CriticalBlock();  // never destroyed: threads outlive statics
  return *block;
}
ThreadContext* contextList = nullptr;

void makeKey() {
  if (pthread_key_create(&contextKey, [](void* c) { ThreadContext::threadEnded(c); }) != 0) {
    log(errno, "Unable to create the thread context key.  Cannot Continue");
    std::exit(1);
  }
}

bool readyForRead(short revents) { return (revents & (kReadFlags | POLLNVAL)) != 0; }
// An error or hang-up is reported whatever was asked for; a writer must see it
// too, or the loop would spin on a descriptor whose handler never runs.
bool readyForWrite(short revents) { return (revents & (POLLOUT | POLLERR | POLLHUP | POLLNVAL)) != 0; }

}  // namespace

// ---------------------------------------------------------------------------
// Creation and the per-thread key

ThreadContext::ThreadContext() {
  registerProcessStats();
  int fds[2];
  if (::pipe(fds) != 0) {
    log(errno, "Unable to open pipe() in ThreadContext.  Cannot Continue");
    std::exit(1);
  }
  for (int fd : fds) {
    int flags = ::fcntl(fd, F_GETFL, 0);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0 || ::fcntl(fd, F_SETFD, FD_CLOEXEC) < 0) {
      log(errno, "Unable to set nudge descriptor non-blocking when creating ThreadContext");
      std::exit(1);
    }
  }
  nudgeRead_ = fds[0];
  nudgeWrite_ = fds[1];
  pollArray_.reserve(kInitialPollCapacity);
  pollEvents_.reserve(kInitialPollCapacity);
  tid_ = static_cast<pid_t>(::gettid());
  CriticalBlock& g = globalContextLock();
  g.enter();
  nextContext_ = contextList;
  if (contextList != nullptr) contextList->prevContext_ = this;
  contextList = this;
  g.exit();
}

ThreadContext::~ThreadContext() {
  ::close(nudgeRead_);
  ::close(nudgeWrite_);
}

ThreadContext* ThreadContext::get() {
  pthread_once(&contextKeyOnce, makeKey);
  auto* tc = static_cast<ThreadContext*>(pthread_getspecific(contextKey));
  if (tc == nullptr) {
    tc = new ThreadContext();
    pthread_setspecific(contextKey, tc);
  }
  return tc;
}

ThreadContext* ThreadContext::current() {
  pthread_once(&contextKeyOnce, makeKey);
  return static_cast<ThreadContext*>(pthread_getspecific(contextKey));
}

bool ThreadContext::unused() {
  timerLock.enter();
  bool noTimers = timers_.empty();
  timerLock.exit();
  return noTimers && fdHead_ == nullptr && countHead_ == nullptr;
}

// A thread's context is freed with its thread when nothing refers to it any
// more: otherwise every short-lived thread would keep two descriptors and a
// poll array for the rest of the process. A context that still has events
// stays, because another thread may still signal them.
void ThreadContext::threadEnded(void* context) {
  auto* tc = static_cast<ThreadContext*>(context);
  CriticalBlock& g = globalContextLock();
  g.enter();
  tc->threadEnded_ = true;
  bool release = tc->unused();
  if (release) {
    if (tc->prevContext_ != nullptr) tc->prevContext_->nextContext_ = tc->nextContext_;
    else contextList = tc->nextContext_;
    if (tc->nextContext_ != nullptr) tc->nextContext_->prevContext_ = tc->prevContext_;
  }
  g.exit();
  if (release) delete tc;
}

int64_t ThreadContext::nowMicros() {
  struct timespec ts;
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

// ---------------------------------------------------------------------------
// Waking

void ThreadContext::nudge() {
  contextLock_.enter();
  bool wake = waiting_;
  waiting_ = false;
  contextLock_.exit();
  if (!wake) return;
  // The byte may land after the lock is released: the owner cannot miss it,
  // since it only clears `waiting_` again after reading the pipe.
  char x = 'x';
  ssize_t rv = ::write(nudgeWrite_, &x, 1);
  if (rv != 1 && !(rv < 0 && errno == EAGAIN)) {
    log(errno, "%p: Unable to write nudge message to pipe. fd = %d, rv = %d", static_cast<void*>(this), nudgeWrite_,
        static_cast<int>(rv));
  }
}

void ThreadContext::drainNudgePipe() {
  char buf[64];
  while (::read(nudgeRead_, buf, sizeof(buf)) == static_cast<ssize_t>(sizeof(buf))) {
  }
}

// ---------------------------------------------------------------------------
// Lists

void ThreadContext::schedule(FdEvent* e) {
  orv_assert(e != NULL);
  if (e == nullptr) return;
  e->next = nullptr;
  e->prev = fdTail_;
  if (fdTail_ != nullptr) fdTail_->next = e;
  else fdHead_ = e;
  fdTail_ = e;
  e->pollIndex = -1;
  fdCount_++;
}

void ThreadContext::unschedule(FdEvent* e) {
  if (e->prev != nullptr) e->prev->next = e->next;
  else if (fdHead_ == e) fdHead_ = e->next;
  else return;  // not in the list
  if (e->next != nullptr) e->next->prev = e->prev;
  else fdTail_ = e->prev;
  e->next = e->prev = nullptr;
  if (e->pollIndex >= 0 && static_cast<size_t>(e->pollIndex) < pollEvents_.size()) {
    pollEvents_[e->pollIndex] = nullptr;
  }
  e->pollIndex = -1;
  fdCount_--;
  listChanged_ = true;
  if (firing_ == e) firingDeleted_ = true;
}

void ThreadContext::schedule(CountEvent* e) {
  e->prev = nullptr;
  e->next = countHead_;
  if (countHead_ != nullptr) countHead_->prev = e;
  countHead_ = e;
  countListChanged_ = true;
}

void ThreadContext::unschedule(CountEvent* e) {
  if (e->prev != nullptr) e->prev->next = e->next;
  else if (countHead_ == e) countHead_ = e->next;
  else return;
  if (e->next != nullptr) e->next->prev = e->prev;
  e->next = e->prev = nullptr;
  countListChanged_ = true;
  if (firing_ == e) firingDeleted_ = true;
}

bool ThreadContext::timerBefore(const TimerEvent* a, const TimerEvent* b) const {
  return a->expires < b->expires || (a->expires == b->expires && a->sequence < b->sequence);
}

void ThreadContext::heapUp(int i) {
  TimerEvent* t = timers_[i];
  while (i > 0) {
    int parent = (i - 1) / 2;
    if (!timerBefore(t, timers_[parent])) break;
    timers_[i] = timers_[parent];
    timers_[i]->heapIndex = i;
    i = parent;
  }
  timers_[i] = t;
  t->heapIndex = i;
}

void ThreadContext::heapDown(int i) {
  int n = static_cast<int>(timers_.size());
  TimerEvent* t = timers_[i];
  for (;;) {
    int child = 2 * i + 1;
    if (child >= n) break;
    if (child + 1 < n && timerBefore(timers_[child + 1], timers_[child])) child++;
    if (!timerBefore(timers_[child], t)) break;
    timers_[i] = timers_[child];
    timers_[i]->heapIndex = i;
    i = child;
  }
  timers_[i] = t;
  t->heapIndex = i;
}

// Timers live in a binary heap ordered by expiry and then by the order of
// their set() calls: the head is the next to fire, found in constant time, and
// arming or disarming one of a hundred thousand costs a few comparisons.
void ThreadContext::schedule(TimerEvent* e) {
  e->sequence = nextSequence_++;
  timers_.push_back(e);
  heapUp(static_cast<int>(timers_.size()) - 1);
  e->scheduled = true;
}

void ThreadContext::unschedule(TimerEvent* e) {
  if (!e->scheduled) return;
  int i = e->heapIndex;
  TimerEvent* last = timers_.back();
  timers_.pop_back();
  if (last != e) {
    timers_[i] = last;
    last->heapIndex = i;
    if (i > 0 && timerBefore(last, timers_[(i - 1) / 2])) heapUp(i);
    else heapDown(i);
  }
  e->heapIndex = -1;
  e->scheduled = false;
}

// ---------------------------------------------------------------------------
// The loop

void ThreadContext::setBusy(bool busy) {
  PerfThreadSlot* slot = perfThreadSlot(perfSlot_);
  if (slot == nullptr) return;
  __atomic_store_n(&slot->busySince, busy ? nowMicros() : 0, __ATOMIC_RELAXED);
}

void ThreadContext::fireExpiredCounts() {
  // Set before the counts are read: a signal that the pass below misses
  // finds `waiting_` set and writes to the pipe.
  contextLock_.enter();
  waiting_ = true;
  contextLock_.exit();
  bool busy = false;
  do {
    countListChanged_ = false;
    for (CountEvent* e = countHead_; e != nullptr && !countListChanged_;) {
      CountEvent* next = e->next;
      e->lock.enter();
      while (e->isEnabled() && e->readCount < e->writeCount) {
        e->lock.exit();
        if (!busy) {
          setBusy(true);
          busy = true;
        }
        statInc(_processStats.countFired);
        firing_ = e;
        firingDeleted_ = false;
        e->inHandler = true;
        e->handled++;
        e->handler->handleEvent(e);
        firing_ = nullptr;
        if (firingDeleted_) {
          e = nullptr;
          break;
        }
        e->inHandler = false;
        e->lock.enter();
      }
      if (e == nullptr) break;  // deleted by its handler; the list changed
      e->lock.exit();
      e = next;
    }
  } while (countListChanged_);
  if (busy) setBusy(false);
}

void ThreadContext::fireExpiredTimers(int64_t now) {
  timerLock.enter();
  // Only timers armed before this pass may fire in it: one that re-arms itself
  // for 0 ms, or is armed by another thread meanwhile, waits for the next
  // cycle instead of starving the loop.
  uint64_t passLimit = nextSequence_;
  while (!timers_.empty()) {
    TimerEvent* t = timers_.front();
    if (t->expires > now || t->sequence >= passLimit) break;
    unschedule(t);
    if (!t->isEnabled()) continue;  // a disabled timer is dropped
    statInc(_processStats.timerFired);
    t->inHandler = true;
    t->handled++;
    firingTimer_ = t;
    firingTimerDeleted_ = false;
    timerLock.exit();
    t->handler->handleEvent(t);
    timerLock.enter();
    firingTimer_ = nullptr;
    if (firingTimerDeleted_) continue;
    t->inHandler = false;
    if (t->rescheduleAfterHandler) {
      t->rescheduleAfterHandler = false;
      schedule(t);
    }
  }
  timerLock.exit();
}

int ThreadContext::buildPollArray() {
  size_t need = static_cast<size_t>(fdCount_) + 1;
  if (pollArray_.size() < need) {
    pollArray_.resize(need);
    pollEvents_.resize(need);
  }
  int n = 0;
  for (FdEvent* e = fdHead_; e != nullptr; e = e->next) {
    if (!e->isEnabled()) {
      e->pollIndex = -1;
      continue;
    }
    short events = 0;
    if (e->kind & (FdEvent::kReadable | FdEvent::kReadable2)) events |= kReadFlags;
    if (e->kind & FdEvent::kWritable) events |= POLLOUT;
    pollArray_[n].fd = e->fd;
    pollArray_[n].events = events;
    pollArray_[n].revents = 0;
    pollEvents_[n] = e;
    e->pollIndex = n++;
  }
  pollArray_[n].fd = nudgeRead_;
  pollArray_[n].events = POLLIN;
  pollArray_[n].revents = 0;
  pollEvents_[n] = nullptr;
  return n + 1;
}

// The slots were filled in list order, so walking them serves the ready
// descriptors in list order; each one served goes to the tail of the list,
// behind the descriptors that waited, and fires at most once per cycle.
void ThreadContext::fireDescriptors(int slots) {
  listChanged_ = false;
  for (int i = 0; i < slots; i++) {
    FdEvent* e = pollEvents_[i];
    if (e == nullptr) continue;  // unscheduled by an earlier handler
    short revents = pollArray_[i].revents;
    if (revents == 0) continue;
    pollEvents_[i] = nullptr;
    e->pollIndex = -1;
    if (!e->isEnabled()) continue;
    bool fire = ((e->kind & (FdEvent::kReadable | FdEvent::kReadable2)) && readyForRead(revents)) ||
                ((e->kind & FdEvent::kWritable) && readyForWrite(revents));
    if (!fire) continue;
    statInc(_processStats.fdFired);
    firing_ = e;
    firingDeleted_ = false;
    e->inHandler = true;
    e->handled++;
    e->handler->handleEvent(e);
    firing_ = nullptr;
    if (firingDeleted_) continue;
    e->inHandler = false;
    if (fdTail_ != e) {
      // Move to the tail.
      if (e->prev != nullptr) e->prev->next = e->next;
      else fdHead_ = e->next;
      e->next->prev = e->prev;
      e->prev = fdTail_;
      e->next = nullptr;
      fdTail_->next = e;
      fdTail_ = e;
    }
  }
}

int ThreadContext::run(int timeoutMs) {
  if (dumpRequested_.exchange(false)) dumpSelf();
  fireExpiredCounts();  // also sets waiting_
  int64_t now = nowMicros();
  int64_t deadline = timeoutMs >= 0 ? now + static_cast<int64_t>(timeoutMs) * 1000 : INT64_MAX;
  PerfThreadSlot* slot = perfThreadSlot(perfSlot_);
  for (;;) {
    fireExpiredTimers(now);
    int64_t wait = -1;
    timerLock.enter();
    if (!timers_.empty()) wait = timers_.front()->expires > now ? timers_.front()->expires - now : 0;
    timerLock.exit();
    if (timeoutMs >= 0) {
      int64_t left = deadline > now ? deadline - now : 0;
      if (wait < 0 || left < wait) wait = left;
    }
    int slots = buildPollArray();
    struct timespec ts;
    struct timespec* tsp = nullptr;
    if (wait >= 0) {
      ts.tv_sec = static_cast<time_t>(wait / 1000000);
      ts.tv_nsec = static_cast<long>((wait % 1000000) * 1000);
      tsp = &ts;
    }
    int ready = ::ppoll(pollArray_.data(), static_cast<nfds_t>(slots), tsp, nullptr);
    if (slot != nullptr) __atomic_add_fetch(&slot->cycles, 1, __ATOMIC_RELAXED);
    if (ready > 0) {
      if (pollArray_[slots - 1].revents & POLLIN) {
        drainNudgePipe();
        fireExpiredCounts();
        ready--;
      }
      if (ready > 0) {
        setBusy(true);
        fireDescriptors(slots - 1);
        setBusy(false);
      }
    } else if (ready < 0 && errno != EINTR) {
      log(errno, "%p: ppoll failed", static_cast<void*>(this));
    }
    now = nowMicros();
    if (timeoutMs >= 0 && now >= deadline) break;
  }
  contextLock_.enter();
  waiting_ = false;
  contextLock_.exit();
  return 0;
}

// ---------------------------------------------------------------------------
// Dump and performance slot

void ThreadContext::dump() {
  CriticalBlock& g = globalContextLock();
  g.enter();
  for (ThreadContext* tc = contextList; tc != nullptr; tc = tc->nextContext_) tc->dumpRequested_.store(true);
  g.exit();
}

void ThreadContext::dumpSelf() {
  int64_t now = nowMicros();
  log(0, "== Thread Context %p, Thread = %d, now = %ld.%06ld", static_cast<void*>(this), static_cast<int>(tid_),
      static_cast<long>(now / 1000000), static_cast<long>(now % 1000000));
  for (CountEvent* e = countHead_; e != nullptr; e = e->next) {
    e->lock.enter();
    long long r = e->readCount;
    long long w = e->writeCount;
    e->lock.exit();
    log(0, "==     CountEvent: %p, readCount = %lld, writeCount = %lld, enabled = %d, handled = %lld (delta = %lld)",
        static_cast<void*>(e), r, w, e->isEnabled() ? 1 : 0, static_cast<long long>(e->handled),
        static_cast<long long>(e->handled - e->handledAtDump));
    e->handledAtDump = e->handled;
  }
  for (FdEvent* e = fdHead_; e != nullptr; e = e->next) {
    log(0, "==     FdEvent: %p, fd = %d, kind = %d, enabled = %d, handled = %lld (delta = %lld)",
        static_cast<void*>(e), e->fd, e->kind, e->isEnabled() ? 1 : 0, static_cast<long long>(e->handled),
        static_cast<long long>(e->handled - e->handledAtDump));
    e->handledAtDump = e->handled;
  }
  // Printed under the timer lock, since other threads may re-arm them; the
  // heap is only partly ordered, so print in firing order.
  timerLock.enter();
  std::vector<TimerEvent*> sorted(timers_);
  std::sort(sorted.begin(), sorted.end(), [this](TimerEvent* a, TimerEvent* b) { return timerBefore(a, b); });
  for (TimerEvent* e : sorted) {
    log(0, "==     TimerEvent: %p, expires = %ld.%06ld, enabled = %d, handled = %lld (delta = %lld)",
        static_cast<void*>(e), static_cast<long>(e->expires / 1000000), static_cast<long>(e->expires % 1000000),
        e->isEnabled() ? 1 : 0, static_cast<long long>(e->handled),
        static_cast<long long>(e->handled - e->handledAtDump));
    e->handledAtDump = e->handled;
  }
  timerLock.exit();
}

void ThreadContext::addPerf(const char* name) {
  if (perfSlot_ < 0) perfSlot_ = addPerfThread(name);
}

void ThreadContext::setPerfState(int state) {
  PerfThreadSlot* slot = perfThreadSlot(perfSlot_);
  if (slot != nullptr) __atomic_store_n(&slot->state, state, __ATOMIC_RELAXED);
}
