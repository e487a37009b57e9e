// ThreadPool: a fixed number of threads, named "<name>-<index>", running the
// queued DeferredOps in queue order, each on whichever pool thread is free.
// A subclass says what one item does (run). Before each item a pool thread
// runs its later list.
//
// Thread-safety: queue() from any thread. Call shutdown() before destroying
// the subclass: a pool thread may be inside run() until then.
#pragma once

#include <vector>

#include "runtime/cond_block.h"
#include "runtime/daemon_thread.h"
#include "runtime/deferred_op.h"

class ThreadPool;

class ThreadPoolThread : public DaemonThread {
 public:
  ThreadPoolThread(ThreadPool* pool, const char* name);
  void run() override;

  ThreadPool* pool;
};

class ThreadPool {
 public:
  // Stores `threads` in "pool-threads", then creates and starts that many
  // threads named "%s-%d" (cut to 19 characters).
  ThreadPool(const char* name, int threads);
  // Stops the threads (dropping what is still queued) if shutdown() was not
  // called; waits for them without limit, since they use this object.
  virtual ~ThreadPool();
  ThreadPool(const ThreadPool&) = delete;
  ThreadPool& operator=(const ThreadPool&) = delete;

  // The work of one item, on a pool thread with no lock held. The pool
  // deletes `op` afterwards.
  virtual void run(DeferredOp* op) = 0;

  // Appends `op` and wakes one idle thread; the pool owns `op` from now on.
  // Returns 0, or -1 once the pool is shut down (the caller keeps `op`).
  int queue(DeferredOp* op);

  // Stops the pool. With `runQueued` the threads first run every item already
  // queued; otherwise those items are deleted unrun. New items are refused.
  // Waits up to `timeoutMs` for the threads to end; true when all ended.
  [[nodiscard]] bool shutdown(bool runQueued, int timeoutMs);

  [[nodiscard]] int threadCount() const { return static_cast<int>(threads_.size()); }
  // Items queued and not yet taken.
  [[nodiscard]] int queued();

 private:
  friend class ThreadPoolThread;
  struct Item {
    DeferredOp* op;
    Item* next;
  };
  // One pass of a pool thread: waits for an item and runs it. False when
  // the pool is stopping and nothing is left for this thread.
  bool poolRun();

  CondBlock queueLock_;
  Item* head_ = nullptr;  // guarded by queueLock_
  Item* tail_ = nullptr;
  int count_ = 0;
  bool stopping_ = false;
  bool runQueued_ = true;
  std::vector<ThreadPoolThread*> threads_;
};
