#include "coms/coms_thread.h"

#include <cstdio>
#include <mutex>

#include "coms/coms_settings.h"
#include "coms/connection.h"
#include "foundation/log.h"
#include "runtime/critical_block.h"
#include "runtime/daemon_thread.h"
#include "runtime/event.h"
#include "runtime/thread_context.h"
#include "wire/chunk_cache.h"

// ---------------------------------------------------------------------------
// The targets

class ComsThreadContext::SyncTarget : public OpTarget {
 public:
  int execute(DeferredOp* op) override { return (*static_cast<const std::function<int()>*>(op->object))(); }
};

// One queue for every connection operation of the thread, so that they run
// in the order they were asked for: a send queued before a close goes out
// before the close.
class ComsThreadContext::AsyncTarget : public AsyncOpTarget {
 public:
  explicit AsyncTarget(ComsThreadContext* owner) : owner_(owner) {}
  int execute(DeferredOp* op) override { return Connection::executeOp(op); }
  void processQueue() override {
    AsyncOpTarget::processQueue();
    owner_->flushDirty();
  }

 private:
  ComsThreadContext* owner_;
};

ComsThreadContext::ComsThreadContext(int index, DaemonThread* thread)
    : index_(index),
      thread_(thread),
      createTarget_(new SyncTarget()),
      opTarget_(new AsyncTarget(this)),
      laterTimer_(new TimerEvent(this)) {}

ComsThreadContext::~ComsThreadContext() {
  delete laterTimer_;
  delete opTarget_;
  delete createTarget_;
}

int ComsThreadContext::runSync(const std::function<int()>& fn) {
  DeferredOp op(const_cast<std::function<int()>*>(&fn));
  return createTarget_->doExecute(&op);
}

void ComsThreadContext::queue(DeferredOp* op) { (void)opTarget_->doExecute(op); }

void ComsThreadContext::deleteLater(void* object, void (*fn)(void*)) {
  thread_->deleteLater(object, fn);
  // The loop runs the later list after each turn; the timer makes it soon.
  laterTimer_->set(0);
}

void ComsThreadContext::handleEvent(Event*) { thread_->processLaterList(); }

void ComsThreadContext::markDirty(Connection* c) { dirty_.push_back(c); }

void ComsThreadContext::forgetDirty(Connection* c) {
  for (Connection*& d : dirty_) {
    if (d == c) d = nullptr;
  }
}

void ComsThreadContext::flushDirty() {
  // Taken whole: a flush may fail a connection, which never marks again.
  std::vector<Connection*> list;
  list.swap(dirty_);
  for (Connection* c : list) {
    if (c != nullptr) c->flushStage();
  }
}

// ---------------------------------------------------------------------------
// The threads and the balance

namespace {

CriticalBlock& balanceLock() {
  static CriticalBlock* block = new CriticalBlock();  // never destroyed: coms threads outlive statics
  return *block;
}

std::vector<ComsThreadContext*>& contexts() {
  static auto* list = new std::vector<ComsThreadContext*>();
  return *list;
}

std::mutex startMutex;

class ComsHelper : public DaemonThread {
 public:
  ComsHelper(int index, const char* name) : DaemonThread(name), index_(index) {}

  void run() override {
    ThreadContext::get()->addPerf(getName());
    auto* context = new ComsThreadContext(index_, this);
    context->count = index_ == 0 ? ComsThreadContext::kFirstThreadBias : 0;
    CriticalBlock& b = balanceLock();
    b.enter();
    contexts().push_back(context);
    b.exit();
    setInitialized();
    for (;;) {
      Reactor::run(comsSettings().loopMs);
      processLaterList();
      // Large message blocks left idle since the last turn go back to the
      // system: a connection that has gone quiet holds no spare megabytes.
      ChunkCache::shared().trim();
    }
  }

 private:
  int index_;
};

}  // namespace

int comsStartThreads(int threads) {
  std::lock_guard<std::mutex> guard(startMutex);
  if (!contexts().empty()) return static_cast<int>(contexts().size());
  for (int i = 0; i < threads; i++) {
    char name[DaemonThread::kNameSize];
    std::snprintf(name, sizeof name, "coms-%d", i + 1);
    auto* helper = new ComsHelper(i, name);
    if (helper->start() != 0) {
      delete helper;
      break;
    }
  }
  return static_cast<int>(contexts().size());
}

const std::vector<ComsThreadContext*>& comsContexts() { return contexts(); }

ComsThreadContext* comsBestContext() {
  CriticalBlock& b = balanceLock();
  b.enter();
  ComsThreadContext* best = nullptr;
  for (ComsThreadContext* c : contexts()) {
    if (best == nullptr || c->count < best->count) best = c;
  }
  if (best != nullptr) best->count++;
  b.exit();
  return best;
}

void comsReleaseContext(ComsThreadContext* context) {
  CriticalBlock& b = balanceLock();
  b.enter();
  context->count--;
  b.exit();
}

std::vector<int> comsContextCounts() {
  CriticalBlock& b = balanceLock();
  b.enter();
  std::vector<int> counts;
  for (ComsThreadContext* c : contexts()) counts.push_back(c->count);
  b.exit();
  return counts;
}
