// The events a thread's reactor waits for: descriptor readiness (FdEvent),
// one-shot timers (TimerEvent) and cross-thread signals (CountEvent). An event
// belongs to the ThreadContext of the thread that created it, and its handler
// always runs on that thread with no runtime lock held.
//
// Thread-safety: create, destroy, enable and schedule an event on its owning
// thread only, except TimerEvent::set/reset/enabled and
// CountEvent::advanceWriteCount, which any thread may call.
#pragma once

#include <atomic>
#include <cstdint>

#include "runtime/critical_block.h"

class Event;
class ThreadContext;

class EventHandler {
 public:
  virtual ~EventHandler() = default;
  // Called on the owning thread when `event` fires.
  virtual void handleEvent(Event* event) = 0;
};

class Event {
 public:
  explicit Event(EventHandler* handler) : handler(handler) {}
  virtual ~Event() = default;
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;

  // A disabled event stays registered but is neither polled nor fired.
  virtual void enabled(bool on) { enabled_.store(on, std::memory_order_relaxed); }
  [[nodiscard]] bool isEnabled() const { return enabled_.load(std::memory_order_relaxed); }

  EventHandler* handler;     // not owned
  bool inHandler = false;    // true while the handler runs
  int64_t handled = 0;       // handler calls
  int64_t handledAtDump = 0; // `handled` at the last dump

 protected:
  std::atomic<bool> enabled_{true};
};

// Readiness of a descriptor. Registered at the tail of the creating thread's
// descriptor list; a descriptor that stays ready is served once per cycle and
// then moved behind the others.
class FdEvent : public Event {
 public:
  static constexpr int kReadable = 1;
  static constexpr int kWritable = 2;
  static constexpr int kReadable2 = 4;  // polled and fired like kReadable

  // `kind` is kReadable, kWritable (or both or-ed) or kReadable2.
  FdEvent(EventHandler* handler, int fd, int kind);
  // REQUIRES: called on the owning thread ("tc == _tc").
  ~FdEvent() override;
  void enabled(bool on) override { enabled_.store(on, std::memory_order_relaxed); }

  int fd;
  int kind;
  int pollIndex = -1;  // slot in this cycle's poll array, -1 when not polled
  FdEvent* next = nullptr;
  FdEvent* prev = nullptr;
  ThreadContext* context;
};

// A one-shot timer. set() arms it (again); it fires once, on the owning
// thread, at or after its expiry; timers with the same expiry fire in the
// order they were set.
class TimerEvent : public Event {
 public:
  explicit TimerEvent(EventHandler* handler);
  // REQUIRES: called on the owning thread ("tc == _owningContext").
  ~TimerEvent() override;

  // (Re)arms the timer to fire `ms` milliseconds from now (negative counts as
  // 0). From its own handler, the timer is armed again once the handler
  // returns and fires in a later pass, never recursively. Any thread.
  void set(int ms);
  void reset(int ms) { set(ms); }
  // Disarms the timer. Any thread.
  void cancel();
  // A timer disabled when it expires is dropped: it fires again only after
  // another set(). Any thread.
  void enabled(bool on) override;
  [[nodiscard]] bool isScheduled() const;

  int64_t expires = 0;       // monotonic microseconds; guarded by the context's timer lock
  bool rescheduleAfterHandler = false;
  bool scheduled = false;
  int heapIndex = -1;        // position in the context's timer heap
  uint64_t sequence = 0;     // orders timers with the same expiry
  ThreadContext* context;
};

// A counter of signals from any thread. The event is pending while readCount
// is below writeCount; its handler consumes one signal per advanceReadCount.
// A handler that consumes nothing is called again at once.
class CountEvent : public Event {
 public:
  explicit CountEvent(EventHandler* handler);
  // REQUIRES: called on the owning thread ("tc == _owningContext").
  ~CountEvent() override;

  // One more signal; wakes the owning thread. Any thread.
  void advanceWriteCount();
  // Consumes one signal. Owning thread, normally from the handler.
  void advanceReadCount();
  // Re-enabling wakes the owning thread so that signals that arrived while
  // the event was disabled are not left waiting for the next wake-up.
  void enabled(bool on) override;
  [[nodiscard]] int64_t pending();

  int64_t writeCount = 0;    // guarded by lock
  int64_t readCount = 0;     // guarded by lock
  CriticalBlock lock;
  CountEvent* next = nullptr;
  CountEvent* prev = nullptr;
  ThreadContext* owningContext;
};
