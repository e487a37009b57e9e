#include "runtime/event.h"

#include "foundation/diagnostics.h"
#include "runtime/thread_context.h"

// ---------------------------------------------------------------------------
// FdEvent

FdEvent::FdEvent(EventHandler* handler, int fd, int kind)
    : Event(handler), fd(fd), kind(kind), context(ThreadContext::get()) {
  context->schedule(this);
}

FdEvent::~FdEvent() {
  ThreadContext* tc = ThreadContext::current();
  ThreadContext* _tc = context;
  orv_assert(tc == _tc);
  if (tc == _tc) context->unschedule(this);
}

// ---------------------------------------------------------------------------
// TimerEvent

TimerEvent::TimerEvent(EventHandler* handler) : Event(handler), context(ThreadContext::get()) {}

TimerEvent::~TimerEvent() {
  ThreadContext* tc = ThreadContext::current();
  ThreadContext* _owningContext = context;
  orv_assert(tc == _owningContext);
  context->timerLock.enter();
  context->unschedule(this);
  rescheduleAfterHandler = false;
  if (context->firingTimer_ == this) context->firingTimerDeleted_ = true;
  context->timerLock.exit();
}

void TimerEvent::set(int ms) {
  if (ms < 0) ms = 0;
  int64_t expiry = ThreadContext::nowMicros() + static_cast<int64_t>(ms) * 1000;
  context->timerLock.enter();
  context->unschedule(this);
  expires = expiry;
  if (inHandler) {
    rescheduleAfterHandler = true;
  } else {
    context->schedule(this);
  }
  context->timerLock.exit();
  // The owner computes its wait from the heap after it last set `waiting`,
  // so a nudge is needed only when another thread changed the heap.
  if (ThreadContext::current() != context) context->nudge();
}

void TimerEvent::cancel() {
  context->timerLock.enter();
  context->unschedule(this);
  rescheduleAfterHandler = false;
  context->timerLock.exit();
}

void TimerEvent::enabled(bool on) {
  context->timerLock.enter();
  enabled_.store(on, std::memory_order_relaxed);
  context->timerLock.exit();
}

bool TimerEvent::isScheduled() const {
  context->timerLock.enter();
  bool s = scheduled || rescheduleAfterHandler;
  context->timerLock.exit();
  return s;
}

// ---------------------------------------------------------------------------
// CountEvent

CountEvent::CountEvent(EventHandler* handler) : Event(handler), owningContext(ThreadContext::get()) {
  owningContext->schedule(this);
}

CountEvent::~CountEvent() {
  ThreadContext* tc = ThreadContext::current();
  ThreadContext* _owningContext = owningContext;
  orv_assert(tc == _owningContext);
  if (tc == _owningContext) owningContext->unschedule(this);
}

void CountEvent::advanceWriteCount() {
  lock.enter();
  writeCount++;
  lock.exit();
  owningContext->nudge();
}

void CountEvent::advanceReadCount() {
  lock.enter();
  readCount++;
  lock.exit();
}

int64_t CountEvent::pending() {
  lock.enter();
  int64_t n = writeCount - readCount;
  lock.exit();
  return n;
}

void CountEvent::enabled(bool on) {
  enabled_.store(on, std::memory_order_relaxed);
  if (on) owningContext->nudge();
}
