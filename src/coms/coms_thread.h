// The coms threads ("coms-1", "coms-2", ...) that carry every connection,
// and the balance of connections over them. Each thread owns a
// ComsThreadContext: its operation targets, its count of connections, and
// the means to delete objects later on its own thread.
//
// Thread-safety: comsStartThreads, comsBestContext and comsReleaseContext
// from any thread (the balance has one global lock). A context's targets
// accept operations from any thread; everything else of a context belongs
// to its own thread.
#pragma once

#include <functional>
#include <vector>

#include "runtime/op_target.h"

class Connection;
class DaemonThread;
class TimerEvent;

class ComsThreadContext : public EventHandler {
 public:
  // The first thread starts with this many connections' worth of weight, so
  // that it (which also runs the listeners) takes connections only when the
  // others are busier.
  static constexpr int kFirstThreadBias = 20;

  // On the coms thread itself.
  ComsThreadContext(int index, DaemonThread* thread);
  ~ComsThreadContext() override;

  [[nodiscard]] int index() const { return index_; }
  [[nodiscard]] DaemonThread* thread() const { return thread_; }

  // Runs `fn` on this thread and returns its result (the synchronous create
  // and bind operations). OpTarget::kTimedOut when the thread did not take
  // it in time (fn did not run). Called on this thread, runs fn at once.
  int runSync(const std::function<int()>& fn);
  // Queues a connection operation (kind in op->value); it runs on this
  // thread in the order queued, and the op is deleted afterwards.
  void queue(DeferredOp* op);

  // On this thread: fn(object) runs soon, from the thread's later list,
  // outside every handler of the object.
  void deleteLater(void* object, void (*fn)(void*));
  // On this thread: `c` has small writes gathered; they are sent once the
  // operations queued now have all run, so that many small messages share
  // one TLS record.
  void markDirty(Connection* c);
  // On this thread: `c` is going away; it must not be flushed any more.
  void forgetDirty(Connection* c);

  // The later-list timer.
  void handleEvent(Event* event) override;

  int count = 0;  // connections placed here; guarded by the balance lock

 private:
  class SyncTarget;
  class AsyncTarget;
  void flushDirty();

  int index_;
  DaemonThread* thread_;
  SyncTarget* createTarget_;
  AsyncTarget* opTarget_;
  TimerEvent* laterTimer_;
  std::vector<Connection*> dirty_;
};

// Starts `threads` coms threads (once per process; later calls return the
// number already running). Returns the number of threads.
int comsStartThreads(int threads);
// The running threads' contexts, in thread order (empty before the start).
[[nodiscard]] const std::vector<ComsThreadContext*>& comsContexts();
// The context with the fewest connections (the lowest index among equals),
// its count raised by one. Null when no thread runs.
[[nodiscard]] ComsThreadContext* comsBestContext();
// Lowers the count of `context` by one.
void comsReleaseContext(ComsThreadContext* context);
// The counts of every context, for tests and diagnostics.
[[nodiscard]] std::vector<int> comsContextCounts();
