// ThreadContext: one per thread that waits for work, holding that thread's
// descriptor events, timers and count events, and running its event loop
// (Reactor::run). Other threads wake a context through its nudge pipe: one
// byte per wait however many signals arrive, and never a lost wake-up.
//
// Thread-safety: run() and the schedule/unschedule calls for descriptor and
// count events belong to the owning thread. nudge(), dump() and the timer
// calls may come from any thread (the timer heap is guarded by the timer lock).
#pragma once

#include <atomic>
#include <cstdint>
#include <poll.h>
#include <sys/types.h>
#include <vector>

#include "runtime/critical_block.h"
#include "runtime/event.h"

class ThreadContext {
 public:
  // The calling thread's context, created on first use. A context whose
  // thread has ended is closed when no event refers to it any more.
  [[nodiscard]] static ThreadContext* get();
  // The calling thread's context, or null when it has none yet.
  [[nodiscard]] static ThreadContext* current();

  // Runs the loop: fires timers, descriptor events and count events until
  // `timeoutMs` has passed. -1 runs until the process ends; 0 handles what is
  // ready once and returns. Returns 0. REQUIRES: the owning thread.
  int run(int timeoutMs);

  // Wakes the owning thread if it waits in run(). Any thread.
  void nudge();

  // List maintenance used by the event classes.
  void schedule(FdEvent* e);      // "e != NULL"; tail of the descriptor list
  void unschedule(FdEvent* e);
  void schedule(CountEvent* e);
  void unschedule(CountEvent* e);
  // REQUIRES: the timer lock held (the timer's own calls take it).
  void schedule(TimerEvent* e);
  void unschedule(TimerEvent* e);

  // Every context logs its events at its next entry into run().
  static void dump();

  // Gives this context a slot of the process performance table named `name`
  // (cut to 19 characters); a context with a slot records when it is busy
  // and counts its cycles. setPerfState stores a state number in the slot.
  void addPerf(const char* name);
  void setPerfState(int state);
  [[nodiscard]] int perfSlot() const { return perfSlot_; }

  // The kernel id of the owning thread.
  [[nodiscard]] pid_t tid() const { return tid_; }

  // The destructor of the per-thread key: frees the context of an ended
  // thread once no event refers to it. Not for other callers.
  static void threadEnded(void* context);

  // Monotonic clock in microseconds: the time base of every timer.
  [[nodiscard]] static int64_t nowMicros();

  CriticalBlock timerLock;

 private:
  friend class TimerEvent;
  friend class CountEvent;
  ThreadContext();
  ~ThreadContext();

  void fireExpiredCounts();
  void fireExpiredTimers(int64_t now);
  void fireDescriptors(int ready);
  int buildPollArray();
  void drainNudgePipe();
  void dumpSelf();
  bool unused();
  void setBusy(bool busy);

  // Timer heap, ordered by (expires, sequence); guarded by timerLock.
  bool timerBefore(const TimerEvent* a, const TimerEvent* b) const;
  void heapUp(int i);
  void heapDown(int i);
  std::vector<TimerEvent*> timers_;
  uint64_t nextSequence_ = 0;
  TimerEvent* firingTimer_ = nullptr;  // guarded by timerLock
  bool firingTimerDeleted_ = false;    // guarded by timerLock

  // Owning thread only.
  FdEvent* fdHead_ = nullptr;
  FdEvent* fdTail_ = nullptr;
  int fdCount_ = 0;
  CountEvent* countHead_ = nullptr;
  bool listChanged_ = false;
  bool countListChanged_ = false;
  Event* firing_ = nullptr;
  bool firingDeleted_ = false;
  std::vector<pollfd> pollArray_;
  std::vector<FdEvent*> pollEvents_;  // the event of each slot; null once unscheduled

  int nudgeRead_ = -1;
  int nudgeWrite_ = -1;
  CriticalBlock contextLock_;
  bool waiting_ = false;  // guarded by contextLock_
  std::atomic<bool> dumpRequested_{false};
  int perfSlot_ = -1;
  pid_t tid_ = 0;
  bool threadEnded_ = false;  // guarded by the global context lock
  ThreadContext* nextContext_ = nullptr;
  ThreadContext* prevContext_ = nullptr;
};

class Reactor {
 public:
  // ThreadContext::get()->run(timeoutMs).
  static int run(int timeoutMs) { return ThreadContext::get()->run(timeoutMs); }
};
