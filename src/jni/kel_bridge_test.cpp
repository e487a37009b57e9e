// The process-wide kel turn: nested on one thread it does not wait for
// itself; across threads it serialises.
#include "jni/kel_bridge.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

TEST(KelTurn, NestsOnOneThread) {
  KelTurn outer;
  {
    KelTurn inner;  // a script that called Java that runs kel
    KelTurn deeper;
  }
  SUCCEED();
}

TEST(KelTurn, SerialisesThreads) {
  std::atomic<int> stage{0};
  std::atomic<bool> overlapped{false};
  std::atomic<int> inside{0};
  auto body = [&] {
    KelTurn turn;
    if (inside.fetch_add(1) != 0) overlapped = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    inside.fetch_sub(1);
    stage.fetch_add(1);
  };
  std::thread a(body);
  std::thread b(body);
  std::thread c(body);
  a.join();
  b.join();
  c.join();
  EXPECT_EQ(stage.load(), 3);
  EXPECT_FALSE(overlapped.load());
}

TEST(KelTurn, ReleasedAfterNesting) {
  {
    KelTurn outer;
    KelTurn inner;
  }
  // Another thread gets the turn within a bound once both scopes ended.
  std::atomic<bool> got{false};
  std::thread t([&] {
    KelTurn turn;
    got = true;
  });
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!got && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_TRUE(got.load());
  if (got) {
    t.join();
  } else {
    t.detach();  // fails rather than hangs
  }
}

}  // namespace
