// OpTarget: the hand-over point between threads. Any thread queues a
// DeferredOp; the operation runs on the thread that constructed the target
// (through a CountEvent, so that thread's reactor must be running), and the
// caller waits for the int that execute() returned. AsyncOpTarget returns at
// once instead and deletes the operation after it has run.
//
// Thread-safety: doExecute from any thread; execute and processQueue run on
// the owning thread only. Lock order: the target's lock, then the count
// event's lock, then the owning context's lock (through the nudge).
#pragma once

#include "runtime/critical_block.h"
#include "runtime/deferred_op.h"
#include "runtime/event.h"

class DelayedEvent2;

class OpTarget : public EventHandler {
 public:
  // Returned by doExecute when the owning thread did not take the operation
  // within the wait limit (the directory error "Timeout"); the operation was
  // withdrawn and did not run.
  static constexpr int kTimedOut = 13;
  // Returned to callers still waiting when the target is destroyed ("Invalid
  // Object"); their operations did not run.
  static constexpr int kTargetGone = 44;
  static constexpr int kDefaultWaitLimitMs = 300000;

  // The target belongs to the calling thread.
  OpTarget();
  // Operations still queued are not run: an asynchronous one is deleted, a
  // waiting caller gets kTargetGone. REQUIRES: the owning thread.
  ~OpTarget() override;
  OpTarget(const OpTarget&) = delete;
  OpTarget& operator=(const OpTarget&) = delete;

  // Calls processQueue().
  void handleEvent(Event* event) override;
  // The work of one operation, on the owning thread.
  virtual int execute(DeferredOp* op) = 0;
  // Queues `op` and waits for execute()'s result. Called on the owning
  // thread itself it runs execute() at once (waiting would deadlock). When
  // the owner has not taken the operation within the wait limit, withdraws it
  // and returns kTimedOut; once taken, waits for it to finish.
  virtual int doExecute(DeferredOp* op);
  // Runs every queued operation. The owning thread, from handleEvent.
  virtual void processQueue();

  // How long doExecute waits for the owner to take an operation.
  void setWaitLimit(int ms) { waitLimitMs_ = ms; }

 protected:
  struct Node {
    DeferredOp* op;
    DelayedEvent2* result;  // null for an asynchronous operation
    Node* next;
  };
  // Appends under the lock and signals the owner.
  void enqueue(Node* node);
  // The head node, or null after consuming one signal (both under the lock).
  Node* takeHead();
  // Removes `node` if still queued; false when the owner has taken it.
  bool withdraw(Node* node);

  CriticalBlock lock;
  Node* head_ = nullptr;  // guarded by lock
  Node* tail_ = nullptr;
  CountEvent signal;
  int waitLimitMs_ = kDefaultWaitLimitMs;
};

class AsyncOpTarget : public OpTarget {
 public:
  // Queues `op` and returns 0 at once; the runtime deletes `op` after it has
  // run. Called on the owning thread, it is queued like any other.
  int doExecute(DeferredOp* op) override;
  void processQueue() override;
};
