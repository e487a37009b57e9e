#include "runtime/cond_block.h"

#include <time.h>

#include "foundation/diagnostics.h"

#define LOCK_ASSERT(expr) ((expr) ? (void)0 : _orvanex_assert(#expr, "sem.h", __LINE__))

CondBlock::CondBlock() {
  pthread_mutex_init(&_mutex, nullptr);
  // Waits are measured on the monotonic clock: a wall-clock step (NTP, an
  // operator setting the date) must neither cut a wait short nor stretch it.
  pthread_condattr_t attr;
  pthread_condattr_init(&attr);
  pthread_condattr_setclock(&attr, CLOCK_MONOTONIC);
  pthread_cond_init(&_cond, &attr);
  pthread_condattr_destroy(&attr);
}

CondBlock::~CondBlock() {
  // At shutdown other threads may still sit in waits; leave them be.
  if (_shutdown) return;
  pthread_mutex_lock(&_mutex);
  LOCK_ASSERT(_lockers == 0);
  LOCK_ASSERT(!_freed);
  _freed = true;
  pthread_cond_broadcast(&_cond);
  pthread_mutex_unlock(&_mutex);
  pthread_cond_destroy(&_cond);
  pthread_mutex_destroy(&_mutex);
}

void CondBlock::lock() {
  LOCK_ASSERT(!_freed);
  int rv = pthread_mutex_lock(&_mutex);
  LOCK_ASSERT(rv == 0);
  _lockers++;
}

void CondBlock::unlock() {
  _lockers--;
  int rv = pthread_mutex_unlock(&_mutex);
  LOCK_ASSERT(rv == 0);
}

bool CondBlock::wait(int ms) {
  if (ms < 0) ms = 0;
  struct timespec deadline;
  clock_gettime(CLOCK_MONOTONIC, &deadline);
  deadline.tv_sec += ms / 1000;
  deadline.tv_nsec += (long)(ms % 1000) * 1000000L;
  if (deadline.tv_nsec >= 1000000000L) {
    deadline.tv_sec += 1;
    deadline.tv_nsec -= 1000000000L;
  }
  int rv = pthread_cond_timedwait(&_cond, &_mutex, &deadline);
  return rv == 0;
}

void CondBlock::signal() { pthread_cond_signal(&_cond); }

void CondBlock::broadcast() { pthread_cond_broadcast(&_cond); }
