#include "runtime/daemon_thread.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "foundation/os_perf.h"
#include "runtime/cond_block.h"
#include "runtime/op_target.h"
#include "runtime/thread_context.h"
#include "runtime/thread_pool.h"

namespace {

int64_t nowMs() { return ThreadContext::nowMicros() / 1000; }

// Waits (bounded) until `pred` holds.
template <typename Pred>
bool waitFor(Pred pred, int ms = 5000) {
  int64_t end = nowMs() + ms;
  while (!pred()) {
    if (nowMs() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

class FlagThread : public DaemonThread {
 public:
  explicit FlagThread(const char* name) : DaemonThread(name) {}
  void run() override {
    ready = 42;  // published by the start handshake
    tid = static_cast<pid_t>(::gettid());
    char buf[DaemonThread::kNameSize];
    if (DaemonThread::getName(buf, sizeof(buf), tid)) listedName = buf;
    isCurrent = getCurrentThread() == this;
    setInitialized();
    while (!stop.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  void onRunComplete() override { completed = true; }
  int ready = 0;
  pid_t tid = 0;
  std::string listedName;
  bool isCurrent = false;
  bool completed = false;
  std::atomic<bool> stop{false};
};

TEST(DaemonThread, StartWaitsForTheHandshakeAndJoinWaitsForTheEnd) {
  FlagThread t("worker-x");
  t.setDeleteOnExit(false);
  ASSERT_EQ(t.start(), 0);
  EXPECT_TRUE(t.isStarted());
  EXPECT_EQ(t.ready, 42);  // written before setInitialized, read after start
  EXPECT_EQ(t.listedName, "worker-x");
  EXPECT_TRUE(t.isCurrent);
  EXPECT_EQ(t.getTid(), t.tid);
  EXPECT_FALSE(t.join(20));  // still running: the bounded join gives up
  t.stop = true;
  EXPECT_TRUE(t.join(5000));
  EXPECT_TRUE(t.completed);
  EXPECT_TRUE(t.hasExited());
  EXPECT_EQ(DaemonThread::getCurrentThread(), nullptr);
}

TEST(DaemonThread, SelfDeletingThreadsLeaveTheListAndCountTheirExit) {
  registerProcessStats();
  std::atomic<int> ran{0};
  class Quick : public DaemonThread {
   public:
    explicit Quick(std::atomic<int>* ran) : DaemonThread("quick"), ran_(ran) {}
    // Ends at once, without setInitialized: start() must not wait forever.
    void run() override { ran_->fetch_add(1); }
    std::atomic<int>* ran_;
  };
  int32_t exitedBefore = statGet(_processStats.threadsExited);
  for (int i = 0; i < 50; i++) {
    auto* q = new Quick(&ran);
    ASSERT_EQ(q->start(), 0);
  }
  EXPECT_TRUE(waitFor([&] { return statGet(_processStats.threadsExited) - exitedBefore >= 50; }));
  EXPECT_EQ(ran.load(), 50);
}

TEST(DaemonThread, LaterListRunsNewestFirstOnTheOwningThread) {
  FlagThread t("later");
  t.setDeleteOnExit(false);
  std::vector<int> order;
  auto push = [](void* p) {
    auto* pair = static_cast<std::pair<std::vector<int>*, int>*>(p);
    pair->first->push_back(pair->second);
    delete pair;
  };
  t.deleteLater(new std::pair<std::vector<int>*, int>(&order, 1), push);
  t.deleteLater(new std::pair<std::vector<int>*, int>(&order, 2), push);
  t.processLaterList();
  EXPECT_EQ(order, (std::vector<int>{2, 1}));
}

TEST(DaemonThread, GetNameOfAnUnknownThreadLeavesTheBufferAlone) {
  char buf[8] = "keep";
  EXPECT_FALSE(DaemonThread::getName(buf, sizeof(buf), -12345));
  EXPECT_STREQ(buf, "keep");
}

// ---------------------------------------------------------------------------
// ThreadPool

class RecordingPool : public ThreadPool {
 public:
  RecordingPool(const char* name, int threads) : ThreadPool(name, threads) {}
  ~RecordingPool() override { (void)shutdown(false, 10000); }
  void run(DeferredOp* op) override {
    if (op->message != nullptr) {
      auto* gate = static_cast<std::atomic<bool>*>(op->message);
      (void)waitFor([gate] { return gate->load(); }, 10000);
    }
    std::lock_guard<std::mutex> hold(m);
    order.push_back(static_cast<int>(op->value));
    names.push_back(DaemonThread::getCurrentThread()->getName());
    if (op->object != nullptr) {
      // Queued on this thread's later list: must run before its next item.
      DaemonThread::getCurrentThread()->deleteLater(this, [](void* p) {
        auto* self = static_cast<RecordingPool*>(p);
        std::lock_guard<std::mutex> hold(self->m);
        self->order.push_back(-1);
        self->names.push_back(DaemonThread::getCurrentThread()->getName());
      });
    }
  }
  std::mutex m;
  std::vector<int> order;
  std::vector<std::string> names;
};

TEST(ThreadPool, ThreadsAreNamedAfterThePoolAndItemsRunInQueueOrder) {
  RecordingPool pool("alert", 3);
  ASSERT_EQ(pool.threadCount(), 3);
  for (int i = 0; i < 30; i++) ASSERT_EQ(pool.queue(new DeferredOp(nullptr, nullptr, i)), 0);
  ASSERT_TRUE(waitFor([&] {
    std::lock_guard<std::mutex> hold(pool.m);
    return pool.order.size() == 30;
  }));
  std::lock_guard<std::mutex> hold(pool.m);
  for (const std::string& n : pool.names) EXPECT_TRUE(n == "alert-0" || n == "alert-1" || n == "alert-2") << n;
}

TEST(ThreadPool, OneThreadRunsItemsInQueueOrderAndTheLaterListBeforeTheNextItem) {
  RecordingPool pool("one", 1);
  int marker = 0;
  for (int i = 0; i < 5; i++) ASSERT_EQ(pool.queue(new DeferredOp(i == 2 ? &marker : nullptr, nullptr, i)), 0);
  ASSERT_TRUE(waitFor([&] {
    std::lock_guard<std::mutex> hold(pool.m);
    return pool.order.size() == 6;
  }));
  std::lock_guard<std::mutex> hold(pool.m);
  EXPECT_EQ(pool.order, (std::vector<int>{0, 1, 2, -1, 3, 4}));
  for (const std::string& n : pool.names) EXPECT_EQ(n, "one-0");
}

TEST(ThreadPool, ShutdownWithWorkQueuedRunsItOrDropsItAsAsked) {
  for (bool runQueued : {true, false}) {
    SCOPED_TRACE(runQueued);
    RecordingPool pool("stop", 2);
    std::atomic<bool> gate{false};
    // Two blockers hold both threads; forty items wait behind them.
    ASSERT_EQ(pool.queue(new DeferredOp(nullptr, &gate, 100)), 0);
    ASSERT_EQ(pool.queue(new DeferredOp(nullptr, &gate, 101)), 0);
    for (int i = 0; i < 40; i++) ASSERT_EQ(pool.queue(new DeferredOp(nullptr, nullptr, i)), 0);
    ASSERT_TRUE(waitFor([&] { return pool.queued() == 40; }));
    std::thread opener([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      gate = true;
    });
    EXPECT_TRUE(pool.shutdown(runQueued, 10000));
    opener.join();
    auto* refused = new DeferredOp();
    EXPECT_EQ(pool.queue(refused), -1);
    delete refused;
    std::lock_guard<std::mutex> hold(pool.m);
    EXPECT_EQ(pool.order.size(), runQueued ? 42u : 2u);
  }
}

// ---------------------------------------------------------------------------
// OpTarget

// A thread with a reactor that owns the targets created on it.
class ReactorThread : public DaemonThread {
 public:
  template <typename Make>
  explicit ReactorThread(Make make) : DaemonThread("reactor"), make_(std::move(make)) {
    setDeleteOnExit(false);
  }
  void run() override {
    make_();
    setInitialized();
    while (!stop.load()) Reactor::run(20);
    if (cleanup) cleanup();
  }
  std::function<void()> make_;
  std::function<void()> cleanup;
  std::atomic<bool> stop{false};
};

class EchoTarget : public OpTarget {
 public:
  int execute(DeferredOp* op) override {
    ranOn = static_cast<pid_t>(::gettid());
    if (op->message != nullptr) std::this_thread::sleep_for(std::chrono::milliseconds(op->value));
    executed.fetch_add(1);
    return static_cast<int>(op->value) * 2 + 1;
  }
  std::atomic<pid_t> ranOn{0};
  std::atomic<int> executed{0};
};

TEST(OpTarget, DoExecuteFromAnotherThreadReturnsWhatExecuteReturnedOnTheOwner) {
  EchoTarget* target = nullptr;
  ReactorThread owner([&] { target = new EchoTarget(); });
  owner.cleanup = [&] { delete target; };
  ASSERT_EQ(owner.start(), 0);
  for (int i = 0; i < 100; i++) {
    DeferredOp op(nullptr, nullptr, i);
    EXPECT_EQ(op.execute(target), 2 * i + 1);
  }
  EXPECT_EQ(target->ranOn.load(), owner.getTid());
  owner.stop = true;
  EXPECT_TRUE(owner.join(5000));
}

TEST(OpTarget, ManyCallersAtOnceEachGetTheirOwnResult) {
  EchoTarget* target = nullptr;
  ReactorThread owner([&] { target = new EchoTarget(); });
  owner.cleanup = [&] { delete target; };
  ASSERT_EQ(owner.start(), 0);
  std::atomic<int> wrong{0};
  std::vector<std::thread> callers;
  for (int t = 0; t < 6; t++) {
    callers.emplace_back([&, t] {
      for (int i = 0; i < 300; i++) {
        DeferredOp op(nullptr, nullptr, t * 1000 + i);
        if (target->doExecute(&op) != 2 * (t * 1000 + i) + 1) wrong.fetch_add(1);
      }
    });
  }
  for (auto& c : callers) c.join();
  EXPECT_EQ(wrong.load(), 0);
  EXPECT_EQ(target->executed.load(), 1800);
  owner.stop = true;
  EXPECT_TRUE(owner.join(5000));
}

TEST(OpTarget, CallerWaitsForABusyOwnerAndTimesOutOnlyIfTheOpWasNeverTaken) {
  EchoTarget* target = nullptr;
  ReactorThread owner([&] { target = new EchoTarget(); });
  owner.cleanup = [&] { delete target; };
  ASSERT_EQ(owner.start(), 0);

  // The owner is busy in a long operation: a second caller waits for it and
  // still gets its answer.
  std::thread busy([&] {
    DeferredOp slow(nullptr, &owner, 400);  // sleeps 400 ms on the owner
    EXPECT_EQ(target->doExecute(&slow), 801);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  DeferredOp quick(nullptr, nullptr, 5);
  EXPECT_EQ(target->doExecute(&quick), 11);
  busy.join();

  // With a short limit, an operation stuck behind the busy owner is withdrawn
  // and never runs; the slow one that was already taken is waited for.
  target->setWaitLimit(100);
  std::thread busy2([&] {
    DeferredOp slow(nullptr, &owner, 600);
    EXPECT_EQ(target->doExecute(&slow), 1201);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  int before = target->executed.load();
  DeferredOp stuck(nullptr, nullptr, 7);
  int64_t start = nowMs();
  EXPECT_EQ(target->doExecute(&stuck), OpTarget::kTimedOut);
  EXPECT_LT(nowMs() - start, 2000);
  busy2.join();
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(target->executed.load(), before + 1);  // only the slow one ran
  owner.stop = true;
  EXPECT_TRUE(owner.join(5000));
}

TEST(OpTarget, DoExecuteOnTheOwningThreadRunsInline) {
  EchoTarget target;
  DeferredOp op(nullptr, nullptr, 20);
  EXPECT_EQ(target.doExecute(&op), 41);
}

class OrderTarget : public AsyncOpTarget {
 public:
  void handleEvent(Event* e) override {
    handlerCalls++;
    AsyncOpTarget::handleEvent(e);
  }
  int execute(DeferredOp* op) override {
    order.push_back(static_cast<int>(op->value));
    ranOn = static_cast<pid_t>(::gettid());
    return 0;
  }
  int handlerCalls = 0;
  std::vector<int> order;
  pid_t ranOn = 0;
};

TEST(AsyncOpTarget, TenOpsQueuedBeforeTheOwnerRunsExecuteInOrderWithTenHandlerCalls) {
  OrderTarget target;
  std::thread other([&] {
    for (int i = 0; i < 10; i++) EXPECT_EQ((new DeferredOp(nullptr, nullptr, i))->execute(&target), 0);
  });
  other.join();
  Reactor::run(0);
  EXPECT_EQ(target.order, (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
  EXPECT_EQ(target.handlerCalls, 10);
  EXPECT_EQ(target.ranOn, static_cast<pid_t>(::gettid()));
}

TEST(AsyncOpTarget, OpsStillQueuedWhenTheTargetGoesAreFreed) {
  auto* target = new OrderTarget();
  for (int i = 0; i < 5; i++) (void)target->doExecute(new DeferredOp(nullptr, nullptr, i));
  delete target;  // the sanitizer build checks nothing leaks
}

}  // namespace
