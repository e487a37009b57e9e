#include "runtime/thread_context.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <random>
#include <thread>
#include <vector>

namespace {

// Calls a function for each event; counts the calls.
class FnHandler : public EventHandler {
 public:
  explicit FnHandler(std::function<void(Event*)> fn = nullptr) : fn_(std::move(fn)) {}
  void handleEvent(Event* e) override {
    calls++;
    if (fn_) fn_(e);
  }
  int calls = 0;

 private:
  std::function<void(Event*)> fn_;
};

struct Pipe {
  Pipe() {
    int fds[2];
    EXPECT_EQ(::pipe(fds), 0);
    r = fds[0];
    w = fds[1];
  }
  ~Pipe() {
    ::close(r);
    ::close(w);
  }
  void put() { EXPECT_EQ(::write(w, "z", 1), 1); }
  int r, w;
};

int64_t elapsedMs(int64_t startMicros) { return (ThreadContext::nowMicros() - startMicros) / 1000; }

TEST(ThreadContext, RunZeroHandlesWhatIsReadyOnceAndReturns) {
  Pipe p;
  p.put();  // stays readable: nobody reads it
  FnHandler fdHandler;
  FnHandler timerHandler;
  FdEvent fe(&fdHandler, p.r, FdEvent::kReadable);
  TimerEvent te(&timerHandler);
  te.set(0);
  int64_t start = ThreadContext::nowMicros();
  EXPECT_EQ(Reactor::run(0), 0);
  EXPECT_LT(elapsedMs(start), 1000);
  EXPECT_EQ(fdHandler.calls, 1);
  EXPECT_EQ(timerHandler.calls, 1);
  EXPECT_FALSE(te.isScheduled());  // one-shot
  Reactor::run(0);
  EXPECT_EQ(fdHandler.calls, 2);
  EXPECT_EQ(timerHandler.calls, 1);
}

TEST(ThreadContext, TimersFireInExpiryOrderAndInSetOrderForTies) {
  std::vector<int> fired;
  constexpr int kTimers = 300;
  std::vector<std::unique_ptr<FnHandler>> handlers;
  std::vector<std::unique_ptr<TimerEvent>> timers;
  for (int i = 0; i < kTimers; i++) {
    handlers.push_back(std::make_unique<FnHandler>([&fired, i](Event*) { fired.push_back(i); }));
    timers.push_back(std::make_unique<TimerEvent>(handlers.back().get()));
  }
  // Groups of timers with the same delay, set in index order: each group
  // fires in the order of its set() calls, groups by delay.
  for (int i = 0; i < kTimers; i++) timers[i]->set(i % 3 == 0 ? 20 : i % 3 == 1 ? 0 : 10);
  int64_t start = ThreadContext::nowMicros();
  while (fired.size() < kTimers && elapsedMs(start) < 5000) Reactor::run(30);
  ASSERT_EQ(fired.size(), static_cast<size_t>(kTimers));
  std::vector<int> want;
  for (int group : {1, 2, 0}) {
    for (int i = 0; i < kTimers; i++) {
      if (i % 3 == group) want.push_back(i);
    }
  }
  EXPECT_EQ(fired, want);
}

TEST(ThreadContext, ManyTimersWithRandomDelaysAndCancels) {
  constexpr int kTimers = 2000;
  std::mt19937 rng(7);
  std::vector<int64_t> firedAt(kTimers, -1);
  std::vector<int> expiry(kTimers);
  std::vector<std::unique_ptr<FnHandler>> handlers;
  std::vector<std::unique_ptr<TimerEvent>> timers;
  int64_t order = 0;
  for (int i = 0; i < kTimers; i++) {
    handlers.push_back(std::make_unique<FnHandler>([&, i](Event*) { firedAt[i] = order++; }));
    timers.push_back(std::make_unique<TimerEvent>(handlers.back().get()));
    expiry[i] = static_cast<int>(rng() % 50);
    timers[i]->set(expiry[i]);
  }
  for (int i = 0; i < kTimers; i += 7) timers[i]->cancel();
  int64_t start = ThreadContext::nowMicros();
  Reactor::run(120);
  EXPECT_LT(elapsedMs(start), 5000);
  for (int i = 0; i < kTimers; i++) {
    SCOPED_TRACE(i);
    if (i % 7 == 0) {
      EXPECT_EQ(firedAt[i], -1);
    } else {
      ASSERT_GE(firedAt[i], 0);
    }
  }
  // A timer with a shorter delay (by more than the time the set loop took)
  // never fires after one with a longer delay.
  for (int i = 1; i < kTimers; i++) {
    for (int j = 0; j < 20 && j < i; j++) {
      if (i % 7 == 0 || j % 7 == 0) continue;
      if (expiry[j] + 5 < expiry[i]) {
        EXPECT_LT(firedAt[j], firedAt[i]);
      }
    }
  }
}

TEST(ThreadContext, TimerResetToZeroFromItsHandlerFiresInALaterPassNotRecursively) {
  int depth = 0;
  int maxDepth = 0;
  TimerEvent* self = nullptr;
  FnHandler h([&](Event*) {
    depth++;
    maxDepth = std::max(maxDepth, depth);
    self->set(0);
    depth--;
  });
  TimerEvent t(&h);
  self = &t;
  t.set(0);
  int64_t start = ThreadContext::nowMicros();
  Reactor::run(0);
  EXPECT_EQ(h.calls, 1);  // re-armed, but not in the same pass
  Reactor::run(30);       // and the loop is not starved by it
  EXPECT_LT(elapsedMs(start), 2000);
  EXPECT_GT(h.calls, 2);
  EXPECT_EQ(maxDepth, 1);
  t.cancel();
}

TEST(ThreadContext, DisabledTimerIsDroppedAndNeedsANewSet) {
  FnHandler h;
  TimerEvent t(&h);
  t.set(5);
  t.enabled(false);
  Reactor::run(30);
  EXPECT_EQ(h.calls, 0);
  EXPECT_FALSE(t.isScheduled());
  t.enabled(true);
  Reactor::run(30);
  EXPECT_EQ(h.calls, 0);
  t.set(1);
  Reactor::run(30);
  EXPECT_EQ(h.calls, 1);
}

TEST(ThreadContext, CountAdvancedFiveTimesFromAnotherThreadCallsTheHandlerFiveTimes) {
  CountEvent* ce = nullptr;
  FnHandler h([&](Event*) { ce->advanceReadCount(); });
  CountEvent e(&h);
  ce = &e;
  std::thread other([&] {
    for (int i = 0; i < 5; i++) e.advanceWriteCount();
  });
  other.join();
  Reactor::run(0);
  EXPECT_EQ(h.calls, 5);
  EXPECT_EQ(e.pending(), 0);
}

TEST(ThreadContext, DescriptorThatStaysReadyIsServedOncePerCycleThenMovedBehind) {
  Pipe a, b, c;
  std::vector<char> order;
  FnHandler ha([&](Event*) { order.push_back('a'); });
  FnHandler hb([&](Event*) { order.push_back('b'); });
  FnHandler hc([&](Event*) { order.push_back('c'); });
  FdEvent ea(&ha, a.r, FdEvent::kReadable);
  FdEvent eb(&hb, b.r, FdEvent::kReadable);
  FdEvent ec(&hc, c.r, FdEvent::kReadable);
  a.put();
  Reactor::run(0);
  EXPECT_EQ(std::string(order.begin(), order.end()), "a");
  b.put();
  c.put();
  order.clear();
  Reactor::run(0);  // a went behind b and c
  EXPECT_EQ(std::string(order.begin(), order.end()), "bca");
  order.clear();
  Reactor::run(0);
  EXPECT_EQ(std::string(order.begin(), order.end()), "bca");
}

TEST(ThreadContext, DisabledDescriptorIsNotPolled) {
  Pipe p;
  p.put();
  FnHandler h;
  FdEvent e(&h, p.r, FdEvent::kReadable);
  e.enabled(false);
  Reactor::run(0);
  EXPECT_EQ(h.calls, 0);
  e.enabled(true);
  Reactor::run(0);
  EXPECT_EQ(h.calls, 1);
}

TEST(ThreadContext, HandlerMayDestroyItsOwnAndOtherEvents) {
  Pipe a, b, c;
  a.put();
  b.put();
  c.put();
  std::unique_ptr<FdEvent> ea, eb, ec;
  FnHandler hb;
  FnHandler hc;
  FnHandler ha([&](Event*) {
    eb.reset();  // not served yet in this cycle
    ea.reset();  // itself
  });
  ea = std::make_unique<FdEvent>(&ha, a.r, FdEvent::kReadable);
  eb = std::make_unique<FdEvent>(&hb, b.r, FdEvent::kReadable);
  ec = std::make_unique<FdEvent>(&hc, c.r, FdEvent::kReadable);
  Reactor::run(0);
  EXPECT_EQ(ha.calls, 1);
  EXPECT_EQ(hb.calls, 0);
  EXPECT_EQ(hc.calls, 1);

  std::unique_ptr<CountEvent> ce;
  FnHandler hce([&](Event*) { ce.reset(); });
  ce = std::make_unique<CountEvent>(&hce);
  ce->advanceWriteCount();
  ce->advanceWriteCount();
  Reactor::run(0);
  EXPECT_EQ(hce.calls, 1);

  std::unique_ptr<TimerEvent> te;
  FnHandler hte([&](Event*) { te.reset(); });
  te = std::make_unique<TimerEvent>(&hte);
  te->set(0);
  Reactor::run(0);
  EXPECT_EQ(hte.calls, 1);
}

TEST(ThreadContext, ErrorOnAWriteOnlyDescriptorReachesItsHandler) {
  Pipe p;
  ::close(p.r);
  p.r = ::dup(p.w);  // keep the destructor's close balanced
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  ::close(fds[0]);  // no reader: the write end reports an error
  FnHandler h;
  FdEvent e(&h, fds[1], FdEvent::kWritable);
  Reactor::run(0);
  EXPECT_EQ(h.calls, 1);
  ::close(fds[1]);
}

TEST(ThreadContext, SignalsAndForeignTimersFromManyThreadsBeforeTheOwnerRunsAreAllHandled) {
  constexpr int kThreads = 8;
  constexpr int kSignals = 2000;
  constexpr int kTimersPerThread = 20;
  CountEvent* ce = nullptr;
  std::atomic<int> counted{0};
  FnHandler h([&](Event*) {
    ce->advanceReadCount();
    counted.fetch_add(1, std::memory_order_relaxed);
  });
  CountEvent e(&h);
  ce = &e;
  std::atomic<int> timersFired{0};
  FnHandler th([&](Event*) { timersFired.fetch_add(1, std::memory_order_relaxed); });
  std::vector<std::unique_ptr<TimerEvent>> timers;
  for (int i = 0; i < kThreads * kTimersPerThread; i++) timers.push_back(std::make_unique<TimerEvent>(&th));

  std::atomic<bool> go{false};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; t++) {
    threads.emplace_back([&, t] {
      while (!go.load()) std::this_thread::yield();
      for (int i = 0; i < kSignals; i++) {
        e.advanceWriteCount();
        if (i % (kSignals / kTimersPerThread) == 0) {
          timers[t * kTimersPerThread + i / (kSignals / kTimersPerThread)]->set(1);
          std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
      }
    });
  }
  go = true;
  // Long enough for the producers to finish many times over, even under a
  // sanitizer; they run while the owner waits inside this one call.
  int64_t start = ThreadContext::nowMicros();
  while (elapsedMs(start) < 100) std::this_thread::yield();
  for (auto& t : threads) t.join();
  Reactor::run(200);
  EXPECT_EQ(counted.load(), kThreads * kSignals);
  EXPECT_EQ(timersFired.load(), kThreads * kTimersPerThread);
}

// Many threads advance one count event and set timers of the owner while it
// waits in one run() call. A wake-up that is lost leaves the owner asleep in
// ppoll until the call ends, with the work undone: the test fails, it cannot
// hang.
TEST(ThreadContext, NoLostWakeUpWhileTheOwnerWaits) {
  constexpr int kThreads = 6;
  constexpr int kSignals = 3000;
  std::atomic<int> counted{0};
  std::atomic<int> timersFired{0};
  CountEvent* ce = nullptr;
  FnHandler h([&](Event*) {
    ce->advanceReadCount();
    counted.fetch_add(1, std::memory_order_relaxed);
  });
  FnHandler th([&](Event*) { timersFired.fetch_add(1, std::memory_order_relaxed); });
  CountEvent e(&h);
  ce = &e;
  std::vector<std::unique_ptr<TimerEvent>> timers;
  for (int i = 0; i < kThreads; i++) timers.push_back(std::make_unique<TimerEvent>(&th));
  std::vector<std::thread> threads;
  std::atomic<int> done{0};
  for (int t = 0; t < kThreads; t++) {
    threads.emplace_back([&, t] {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      for (int i = 0; i < kSignals; i++) {
        e.advanceWriteCount();
        if ((i & 63) == 0) std::this_thread::yield();
      }
      timers[t]->set(0);
      done.fetch_add(1);
    });
  }
  // Waits inside run(): every one of these handler calls is caused by a
  // nudge while the owner blocks in ppoll.
  int64_t start = ThreadContext::nowMicros();
  Reactor::run(3000);
  for (auto& t : threads) t.join();
  EXPECT_EQ(done.load(), kThreads);
  EXPECT_EQ(counted.load(), kThreads * kSignals);
  EXPECT_EQ(timersFired.load(), kThreads);
  EXPECT_LT(elapsedMs(start), 10000);
}

TEST(ThreadContext, TimerSetFromAnotherThreadWakesTheOwnerPromptly) {
  int64_t firedAt = 0;
  FnHandler h([&](Event*) { firedAt = ThreadContext::nowMicros(); });
  TimerEvent t(&h);
  std::atomic<int64_t> setAt{0};
  std::thread other([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    setAt = ThreadContext::nowMicros();
    t.set(20);
  });
  Reactor::run(1500);  // no timer when it starts waiting: only a nudge helps
  other.join();
  ASSERT_EQ(h.calls, 1);
  EXPECT_GE(firedAt - setAt.load(), 20000);
  EXPECT_LT(firedAt - setAt.load(), 1000000);  // woke for it, not at the end of run
}

TEST(ThreadContext, ContextsAreFreedWithTheirThreadWhenUnused) {
  // Thousands of short threads must not keep a pipe each.
  for (int i = 0; i < 2000; i++) {
    std::thread t([] { Reactor::run(0); });
    t.join();
  }
  int fd = ::dup(0);
  EXPECT_LT(fd, 200);
  ::close(fd);
}

TEST(ThreadContext, DumpLogsEveryEventWithoutDisturbingThem) {
  FnHandler h;
  TimerEvent t(&h);
  t.set(1000);
  CountEvent c(&h);
  ThreadContext::dump();
  Reactor::run(0);
  EXPECT_TRUE(t.isScheduled());
}

}  // namespace
