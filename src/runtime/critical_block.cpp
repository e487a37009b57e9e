#include "runtime/critical_block.h"

#include <cstdlib>
#include <cstring>

#include "foundation/diagnostics.h"

// The lock assertions carry the name of the lock header that operators and
// support know from the field, whatever file the code lives in today.
#define LOCK_ASSERT(expr) ((expr) ? (void)0 : _orvanex_assert(#expr, "sem.h", __LINE__))

CriticalBlock::CriticalBlock() {
  memset(_guard1, 0xCC, sizeof(_guard1));
  memset(_guard2, 0xCC, sizeof(_guard2));
  pthread_mutex_init(&_mutex, nullptr);
}

CriticalBlock::~CriticalBlock() {
  LOCK_ASSERT(_lockCount == 0);
  _destroyed = true;
  if (_lockCount == 0) pthread_mutex_destroy(&_mutex);
}

void CriticalBlock::enter() {
  LOCK_ASSERT(!_destroyed);
  LOCK_ASSERT(memcmp(_guard1, _guard2, sizeof(_guard1)) == 0);
  pthread_t self = pthread_self();
  // Checked before the mutex is touched: a default mutex taken twice by one
  // thread blocks forever, and a hang is exactly what this lock must never
  // turn a programming error into.
  if (pthread_equal(_owner.load(std::memory_order_relaxed), self)) {
    _orvanex_assert("_owner == (pthread_t) NULL", "sem.h", __LINE__);
    // An unarmed assertion returns; continuing could only deadlock.
    abort();
  }
  int rv = pthread_mutex_lock(&_mutex);
  LOCK_ASSERT(rv == 0);
  LOCK_ASSERT(_owner.load(std::memory_order_relaxed) == (pthread_t) NULL);
  _owner.store(self, std::memory_order_relaxed);
  _lockCount++;
  LOCK_ASSERT(_lockCount == 1);
}

void CriticalBlock::exit() {
  LOCK_ASSERT(!_destroyed);
  pthread_t t = pthread_self();
  if (!pthread_equal(_owner.load(std::memory_order_relaxed), t)) {
    _orvanex_assert("pthread_equal(_owner, t)", "sem.h", __LINE__);
    // Unlocking a mutex held by another thread is undefined; refuse.
    abort();
  }
  _owner.store((pthread_t) NULL, std::memory_order_relaxed);
  _lockCount--;
  LOCK_ASSERT(_lockCount == 0);
  int rv = pthread_mutex_unlock(&_mutex);
  LOCK_ASSERT(rv == 0);
}

bool CriticalBlock::heldByCurrentThread() const {
  return pthread_equal(_owner.load(std::memory_order_relaxed), pthread_self());
}
