#include "foundation/memhooks/block_table.h"

#include <gtest/gtest.h>

#include <random>
#include <unordered_map>

namespace {

TEST(BlockTable, InsertFindTake) {
  BlockTable t;
  size_t size = 0;
  EXPECT_FALSE(t.find(0x1000, &size));
  EXPECT_FALSE(t.take(0x1000, &size));
  ASSERT_TRUE(t.insert(0x1000, 40));
  ASSERT_TRUE(t.insert(0x2000, 0));
  EXPECT_EQ(t.count(), 2u);
  ASSERT_TRUE(t.find(0x1000, &size));
  EXPECT_EQ(size, 40u);
  size = 99;
  EXPECT_FALSE(t.find(0x3000, &size));
  EXPECT_EQ(size, 99u) << "untouched on a miss";
  ASSERT_TRUE(t.take(0x2000, &size));
  EXPECT_EQ(size, 0u);
  EXPECT_FALSE(t.find(0x2000, &size));
  EXPECT_EQ(t.count(), 1u);
  t.release();
  EXPECT_EQ(t.count(), 0u);
  EXPECT_FALSE(t.find(0x1000, &size));
}

// Random inserts and removals against a reference map, through several growths
// and with keys crowded into few home slots, so that removal from the middle
// of long probe runs (and runs that wrap around the end) is exercised.
TEST(BlockTable, AgreesWithAReferenceMap) {
  struct Case {
    const char* name;
    uintptr_t stride;  // distance between candidate keys
    size_t keys;
  };
  const Case cases[] = {
      {"malloc-like addresses", 16, 200000},
      {"page-spaced addresses", 4096, 50000},
      {"few distinct keys", 16, 64},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    BlockTable t;
    std::unordered_map<uintptr_t, size_t> ref;
    std::mt19937_64 rng(42);
    for (int i = 0; i < 300000; ++i) {
      uintptr_t key = 0x10000 + (rng() % c.keys) * c.stride;
      size_t size = rng() % 100000;
      size_t got = 0;
      if (ref.count(key) != 0) {
        ASSERT_TRUE(t.find(key, &got));
        ASSERT_EQ(got, ref[key]);
        if (rng() % 2 == 0) {
          ASSERT_TRUE(t.take(key, &got));
          ASSERT_EQ(got, ref[key]);
          ref.erase(key);
        }
      } else {
        ASSERT_FALSE(t.find(key, &got));
        ASSERT_TRUE(t.insert(key, size));
        ref[key] = size;
      }
      ASSERT_EQ(t.count(), ref.size());
    }
    for (const auto& [key, size] : ref) {
      size_t got = 0;
      ASSERT_TRUE(t.find(key, &got));
      ASSERT_EQ(got, size);
    }
    t.release();
  }
}

}  // namespace
