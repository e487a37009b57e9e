// CondBlock: a mutex with one condition variable, for a thread that waits
// until another one signals. Every wait has a time limit. Thread-safe; the
// object must outlive every waiter (its destructor wakes them and asserts that
// nobody is inside a wait).
#pragma once

#include <pthread.h>

class CondBlock {
 public:
  CondBlock();
  // Unless the process is shutting down: asserts that no thread holds the
  // block and that it was not destroyed before, wakes every waiter and
  // destroys the condition and the mutex.
  virtual ~CondBlock();
  CondBlock(const CondBlock&) = delete;
  CondBlock& operator=(const CondBlock&) = delete;

  void lock();
  void unlock();

  // Waits on the condition for at most `ms` milliseconds (0 or less: just
  // checks). REQUIRES: the caller holds the block (lock()). Returns true when
  // woken by signal()/broadcast(), false on time-out. Like every condition
  // wait it may also return true spuriously: callers re-check their state.
  [[nodiscard]] bool wait(int ms);

  // Wakes one waiter / every waiter. May be called with or without the block
  // held; call it with the block held when the waiter's state changed under it.
  void signal();
  void broadcast();

  // Holds the block for the lifetime of the guard.
  class Guard {
   public:
    explicit Guard(CondBlock& block) : block_(block) { block_.lock(); }
    ~Guard() { block_.unlock(); }
    Guard(const Guard&) = delete;
    Guard& operator=(const Guard&) = delete;

   private:
    CondBlock& block_;
  };

 protected:
  pthread_mutex_t _mutex;
  pthread_cond_t _cond;
  // Threads between lock() and unlock(), a waiter inside wait() included:
  // destroying the block while one of them is still there is a fatal error.
  int _lockers = 0;
  bool _freed = false;
};
