#include "runtime/delayed_event.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <set>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

long long elapsedMs(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

TEST(DelayedEvent, TimedWaitGivesUpAfterItsPeriod) {
  DelayedEvent event;
  auto start = Clock::now();
  EXPECT_FALSE(event.waitResult(100));
  long long ms = elapsedMs(start);
  EXPECT_GE(ms, 95);
  EXPECT_LT(ms, 5000);
}

TEST(DelayedEvent, MoreTimeKeepsTheWaitGoing) {
  DelayedEvent event;
  std::atomic<bool> stop{false};
  std::thread keeper([&] {
    // Extends the wait every 50 ms for about 400 ms, then completes it.
    for (int i = 0; i < 8 && !stop; i++) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      event.moreTime();
    }
    event.setValue(&event);
  });
  auto start = Clock::now();
  bool done = event.waitResult(100);
  long long ms = elapsedMs(start);
  stop = true;
  keeper.join();
  EXPECT_TRUE(done);
  EXPECT_GE(ms, 300);  // well past one 100 ms period
  EXPECT_EQ(event.getValue(), &event);
}

TEST(DelayedEvent, ValueSetBeforeTheWaitReturnsAtOnce) {
  DelayedEvent event;
  int answer = 42;
  event.setValue(&answer);
  auto start = Clock::now();
  EXPECT_TRUE(event.waitResult(10000));
  EXPECT_LT(elapsedMs(start), 1000);
  EXPECT_EQ(event.getValue(), &answer);
  EXPECT_FALSE(event.isError());
}

TEST(DelayedEvent, ErrorKeepsACopyOfItsText) {
  DelayedEvent event;
  {
    char text[] = "Timeout";
    event.setError(text, 13);
    text[0] = 'X';
  }
  EXPECT_TRUE(event.waitResult(10));
  EXPECT_TRUE(event.isError());
  EXPECT_EQ(event.getErrorCode(), 13);
  EXPECT_STREQ(event.getErrorText(), "Timeout");
  DelayedEvent plain;
  plain.setError(11);
  EXPECT_EQ(plain.getErrorText(), nullptr);
  EXPECT_EQ(plain.getErrorCode(), 11);
}

TEST(DelayedEvent, CompletionFromAnotherThreadWakesTheWaiter) {
  DelayedEvent event;
  long long id = event.getId();
  std::thread completer([id] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    DelayedEvent* found = DelayedEvent::lockById(id);
    ASSERT_NE(found, nullptr);
    found->setValue(reinterpret_cast<void*>(7));
    found->release();
  });
  EXPECT_TRUE(event.waitResult(10000));
  completer.join();
  EXPECT_EQ(event.getValue(), reinterpret_cast<void*>(7));
}

struct CountingListener : DelayedEventListener {
  int calls = 0;
  DelayedEvent* last = nullptr;
  void onDelayedEventChange(DelayedEvent* event) override {
    calls++;
    last = event;
  }
};

TEST(DelayedEvent, ReleaseInformsTheListenerOnlyWhenDone) {
  CountingListener listener;
  DelayedEvent event(&listener);
  DelayedEvent* found = DelayedEvent::lockById(event.getId());
  ASSERT_EQ(found, &event);
  found->release();
  EXPECT_EQ(listener.calls, 0);
  found = DelayedEvent::lockById(event.getId());
  ASSERT_EQ(found, &event);
  found->setValue(nullptr);
  found->release();
  EXPECT_EQ(listener.calls, 1);
  EXPECT_EQ(listener.last, &event);
}

TEST(DelayedEvent, LookupOfADestroyedEventFindsNothingAndFreesTheLock) {
  long long id;
  {
    DelayedEvent gone;
    id = gone.getId();
  }
  EXPECT_EQ(DelayedEvent::lockById(id), nullptr);
  // The class lock is free again: another lookup on this thread would be a
  // fatal double entry otherwise.
  DelayedEvent live;
  DelayedEvent* found = DelayedEvent::lockById(live.getId());
  ASSERT_EQ(found, &live);
  found->release();
}

TEST(DelayedEvent, IdsAreUniqueAndTheTwoKindsCountApart) {
  std::set<long long> ids;
  for (int i = 0; i < 100; i++) {
    DelayedEvent e;
    EXPECT_GT(e.getId(), 0);
    ids.insert(e.getId());
  }
  EXPECT_EQ(ids.size(), 100u);
  DelayedEvent first;
  DelayedEvent2 other;
  EXPECT_EQ(DelayedEvent2::lockById(first.getId() + 1000000), nullptr);
  DelayedEvent2* found = DelayedEvent2::lockById(other.getId());
  ASSERT_EQ(found, &other);
  found->setError(13);
  found->release();
  EXPECT_TRUE(other.waitResult(0));
  EXPECT_TRUE(other.isError());
}

TEST(DelayedEvent, ManyConcurrentCompletionsByIdWithDestructionRaces) {
  // Waiters give up and destroy their events while completers look them up:
  // a completion either finds the event or finds nothing, never freed memory.
  constexpr int kRounds = 200;
  std::atomic<long long> lastId{0};
  std::atomic<bool> stop{false};
  std::thread completer([&] {
    while (!stop) {
      long long id = lastId.load();
      if (DelayedEvent* e = DelayedEvent::lockById(id)) {
        e->setValue(nullptr);
        e->release();
      }
    }
  });
  int completed = 0;
  for (int i = 0; i < kRounds; i++) {
    DelayedEvent e;
    lastId = e.getId();
    if (e.waitResult(1)) completed++;
  }
  stop = true;
  completer.join();
  EXPECT_LE(completed, kRounds);
}

}  // namespace
