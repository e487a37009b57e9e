// The chunk cache: block sizes, reuse, the idle bounds (bytes, blocks,
// time), concurrent use; and its use by messages.
#include "wire/chunk_cache.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "wire/message.h"
#include "wire/wire_test_util.h"

namespace {

constexpr size_t kK = 1024;
constexpr size_t kM = 1024 * 1024;

TEST(ChunkCache, BlockSizes) {
  struct Case {
    size_t n;
    size_t want;
  };
  const Case cases[] = {
      {1, 64 * kK},
      {64 * kK, 64 * kK},
      {64 * kK + 1, 72 * kK},
      {72 * kK, 72 * kK},
      {128 * kK, 128 * kK},
      {128 * kK + 1, 144 * kK},
      {kM + 57, kM + 128 * kK},
      {8 * kM, 8 * kM},
      {8 * kM + 1, 9 * kM},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.n);
    EXPECT_EQ(ChunkCache::blockSize(c.n), c.want);
    EXPECT_GE(ChunkCache::blockSize(c.n), c.n);
    // Never more than an eighth wasted above the smallest block.
    if (c.n > 64 * kK) {
      EXPECT_LE(ChunkCache::blockSize(c.n) - c.n, c.n / 8);
    }
  }
  EXPECT_FALSE(ChunkCache::cached(ChunkCache::kMinBlock - 1));
  EXPECT_TRUE(ChunkCache::cached(ChunkCache::kMinBlock));
  EXPECT_TRUE(ChunkCache::cached(ChunkCache::kMaxBlock));
  EXPECT_FALSE(ChunkCache::cached(ChunkCache::kMaxBlock + 1));
}

TEST(ChunkCache, ReusesBlocksOfTheSameSizeOnly) {
  ChunkCache cache(8 * kM, 16, 60000);
  size_t size = 0;
  void* a = cache.acquire(kM + 9, &size);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(size, ChunkCache::blockSize(kM + 9));
  std::memset(a, 'x', size);  // the whole block is usable
  cache.release(a, size);
  EXPECT_EQ(cache.idleBlocks(), 1u);
  EXPECT_EQ(cache.idleBytes(), size);

  // Another size class: a new block, the idle one stays.
  size_t other = 0;
  void* b = cache.acquire(200 * kK, &other);
  EXPECT_NE(b, a);
  EXPECT_EQ(cache.idleBlocks(), 1u);
  // A nearby size in the same class takes the idle block.
  size_t again = 0;
  void* c = cache.acquire(kM + 100, &again);
  EXPECT_EQ(c, a);
  EXPECT_EQ(again, size);
  EXPECT_EQ(cache.reuses(), 1u);
  EXPECT_EQ(cache.idleBlocks(), 0u);
  cache.release(b, other);
  cache.release(c, again);
  cache.clear();
  EXPECT_EQ(cache.idleBlocks(), 0u);
  EXPECT_EQ(cache.idleBytes(), 0u);
}

TEST(ChunkCache, IdleBoundsFreeTheOldestBlocks) {
  {
    SCOPED_TRACE("bytes");
    ChunkCache cache(3 * kM, 100, 60000);
    std::vector<std::pair<void*, size_t>> held;
    for (int i = 0; i < 5; i++) {
      size_t size = 0;
      void* p = cache.acquire(kM, &size);
      held.emplace_back(p, size);
    }
    for (auto& [p, size] : held) cache.release(p, size);
    EXPECT_EQ(cache.idleBlocks(), 3u);
    EXPECT_LE(cache.idleBytes(), 3 * kM);
    // The newest stay: the last one released comes back first.
    size_t size = 0;
    EXPECT_EQ(cache.acquire(kM, &size), held.back().first);
    cache.release(held.back().first, size);
  }
  {
    SCOPED_TRACE("blocks");
    ChunkCache cache(64 * kM, 2, 60000);
    std::vector<std::pair<void*, size_t>> held;
    for (int i = 0; i < 4; i++) {
      size_t size = 0;
      void* p = cache.acquire(100 * kK, &size);
      held.emplace_back(p, size);
    }
    for (auto& [p, size] : held) cache.release(p, size);
    EXPECT_EQ(cache.idleBlocks(), 2u);
  }
  {
    SCOPED_TRACE("a block larger than the byte bound is never kept");
    ChunkCache cache(kM, 100, 60000);
    size_t size = 0;
    void* p = cache.acquire(2 * kM, &size);
    cache.release(p, size);
    EXPECT_EQ(cache.idleBlocks(), 0u);
  }
  {
    SCOPED_TRACE("time");
    ChunkCache cache(64 * kM, 100, 1);
    size_t size = 0;
    void* p = cache.acquire(kM, &size);
    cache.release(p, size);
    EXPECT_EQ(cache.idleBlocks(), 1u);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    cache.trim();
    EXPECT_EQ(cache.idleBlocks(), 0u);
    EXPECT_EQ(cache.idleBytes(), 0u);
    // An aged block is also given back by the next acquire of any size.
    p = cache.acquire(kM, &size);
    cache.release(p, size);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    size_t other = 0;
    void* q = cache.acquire(300 * kK, &other);
    EXPECT_EQ(cache.idleBlocks(), 0u);
    cache.release(q, other);
  }
}

// Blocks acquired on one thread and released on another, as messages built
// by a caller are freed on a coms thread (tsan watches this one).
TEST(ChunkCache, ConcurrentUse) {
  ChunkCache cache(4 * kM, 8, 60000);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; t++) {
    threads.emplace_back([&cache, t] {
      for (int i = 0; i < 200; i++) {
        size_t size = 0;
        size_t n = (64 + static_cast<size_t>((i * 7 + t) % 5) * 100) * kK;
        auto* p = static_cast<unsigned char*>(cache.acquire(n, &size));
        p[0] = static_cast<unsigned char>(i);
        p[n - 1] = static_cast<unsigned char>(t);
        cache.release(p, size);
        if (i % 50 == 0) cache.trim();
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_LE(cache.idleBlocks(), 8u);
  EXPECT_LE(cache.idleBytes(), 4 * kM);
  EXPECT_GT(cache.reuses(), 0u);
}

TEST(ChunkCache, MessagesReuseTheirLargeChunks) {
  std::string body(kM, 'b');
  uint64_t before = ChunkCache::shared().reuses();
  std::string first;
  for (int i = 0; i < 3; i++) {
    Message m(7);
    ASSERT_EQ(m.writeEncoded(body.data(), body.size()), 0);
    ASSERT_EQ(m.setFrameLength(), 0);
    std::string bytes = wiretest::bytesOf(m);
    if (i == 0) first = bytes;
    EXPECT_TRUE(bytes == first);  // a reused block carries nothing over
  }
  EXPECT_GE(ChunkCache::shared().reuses(), before + 2);
}

}  // namespace
