#include "runtime/critical_block.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "foundation/diagnostics.h"
#include "runtime/cond_block.h"

namespace {

TEST(CriticalBlock, ExcludesOtherThreads) {
  CriticalBlock block;
  long long counter = 0;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; t++) {
    threads.emplace_back([&] {
      for (int i = 0; i < 20000; i++) {
        CriticalGuard guard(block);
        counter++;
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(counter, 80000);
}

TEST(CriticalBlock, KnowsItsHolder) {
  CriticalBlock block;
  EXPECT_FALSE(block.heldByCurrentThread());
  {
    CriticalGuard guard(block);
    EXPECT_TRUE(block.heldByCurrentThread());
    bool heldElsewhere = true;
    std::thread([&] { heldElsewhere = block.heldByCurrentThread(); }).join();
    EXPECT_FALSE(heldElsewhere);
  }
  EXPECT_FALSE(block.heldByCurrentThread());
}

TEST(CriticalBlockDeathTest, EnteringTwiceOnOneThreadIsFatalNotAHang) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(
      {
        _orvanex_assert_enabled = true;
        CriticalBlock block;
        block.enter();
        block.enter();
      },
      testing::_);
}

TEST(CriticalBlockDeathTest, EnteringTwiceIsFatalEvenUnarmed) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(
      {
        _orvanex_assert_enabled = false;
        CriticalBlock block;
        block.enter();
        block.enter();
      },
      testing::_);
}

TEST(CriticalBlockDeathTest, ExitByAnotherThreadIsFatal) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(
      {
        _orvanex_assert_enabled = true;
        CriticalBlock block;
        block.enter();
        std::thread([&] { block.exit(); }).join();
      },
      testing::_);
}

TEST(CondBlock, WaitTimesOutWithinItsBound) {
  CondBlock cond;
  CondBlock::Guard guard(cond);
  auto start = std::chrono::steady_clock::now();
  bool woken = cond.wait(50);
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
  EXPECT_FALSE(woken);
  EXPECT_GE(ms, 45);
  EXPECT_LT(ms, 5000);
}

TEST(CondBlock, SignalWakesAWaiter) {
  CondBlock cond;
  bool flag = false;
  std::thread setter([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    CondBlock::Guard guard(cond);
    flag = true;
    cond.signal();
  });
  {
    CondBlock::Guard guard(cond);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!flag && std::chrono::steady_clock::now() < deadline) (void)cond.wait(1000);
    EXPECT_TRUE(flag);
  }
  setter.join();
}

}  // namespace
