// CriticalBlock: the checking, non-recursive mutex behind every short critical
// section of the system, and CriticalGuard, its scoped holder. A second enter()
// by the thread that already holds the block, an exit() by another thread, or
// any use after destruction is a fatal assertion, never a silent deadlock.
// Thread-safe by construction; the object itself must outlive every user.
#pragma once

#include <pthread.h>

#include <atomic>

class CriticalBlock {
 public:
  CriticalBlock();
  // Marks the block destroyed; later use is a fatal assertion. Destroying a
  // block that is still held is a fatal assertion too.
  ~CriticalBlock();
  CriticalBlock(const CriticalBlock&) = delete;
  CriticalBlock& operator=(const CriticalBlock&) = delete;

  // Takes the block. REQUIRES: the calling thread does not hold it.
  void enter();
  // Releases the block. REQUIRES: the calling thread holds it.
  void exit();

  // Whether the calling thread holds the block (exact for the calling thread;
  // for others only a hint).
  [[nodiscard]] bool heldByCurrentThread() const;

 private:
  bool _destroyed = false;
  int _lockCount = 0;
  // The guards sit on both sides of the mutex: a stray write over the mutex
  // shows up as guards that differ before the mutex is trusted.
  unsigned char _guard1[40];
  pthread_mutex_t _mutex;
  unsigned char _guard2[40];
  // Written only by the holding thread while it holds the mutex; read without
  // the mutex by a thread checking whether it is itself the holder, for which
  // the answer is exact.
  std::atomic<pthread_t> _owner{0};
};

// Holds a CriticalBlock for the lifetime of the guard.
class CriticalGuard {
 public:
  explicit CriticalGuard(CriticalBlock& block) : block_(block) { block_.enter(); }
  ~CriticalGuard() { block_.exit(); }
  CriticalGuard(const CriticalGuard&) = delete;
  CriticalGuard& operator=(const CriticalGuard&) = delete;

 private:
  CriticalBlock& block_;
};
