// ChunkCache: large message chunks kept for reuse. glibc serves a block of
// a megabyte with mmap and unmaps it on free, so a process that sends or
// receives one large message after another would fault every page of every
// message in again. Freed large blocks wait here instead, for the next
// message of about the same size.
//
// What the cache may hold idle is bounded in bytes, in blocks and in time: a
// block not reused within maxIdleMs goes back to the allocator at the next
// use of the cache or the next trim() (the coms threads call it once per
// loop turn), so a process that goes quiet gives the memory back.
//
// Thread-safe: one mutex. A block may be released on another thread than the
// one that acquired it.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

class ChunkCache {
 public:
  // Smaller blocks are the allocator's business: its arenas reuse them
  // without a system call. Larger ones than kMaxBlock are rare and kept
  // out, so that one odd message cannot pin a large idle block.
  static constexpr size_t kMinBlock = size_t{64} << 10;
  static constexpr size_t kMaxBlock = size_t{16} << 20;

  // The bounds of the process-wide cache.
  static constexpr size_t kSharedIdleBytes = size_t{32} << 20;
  static constexpr size_t kSharedIdleBlocks = 128;
  static constexpr int kSharedIdleMs = 2000;

  ChunkCache(size_t maxIdleBytes, size_t maxIdleBlocks, int maxIdleMs);
  ~ChunkCache();  // frees every idle block
  ChunkCache(const ChunkCache&) = delete;
  ChunkCache& operator=(const ChunkCache&) = delete;

  // The cache every message uses (never destroyed: coms threads free
  // messages until the process ends).
  static ChunkCache& shared();

  // The size of the block that serves a request of n bytes: n rounded up to
  // an eighth of its power of two, so that messages of nearby sizes share
  // blocks (at most 12.5% more than asked).
  [[nodiscard]] static size_t blockSize(size_t n);
  // True when a block of `n` bytes is served through the cache.
  [[nodiscard]] static bool cached(size_t n) { return n >= kMinBlock && n <= kMaxBlock; }

  // A block of at least n bytes (cached(n) must hold); *size receives its
  // size, to be passed back to release(). Aborts when memory is exhausted,
  // as operator new would.
  [[nodiscard]] void* acquire(size_t n, size_t* size);
  // Takes back a block from acquire(); kept idle or freed.
  void release(void* block, size_t size);

  // Frees the blocks idle for longer than the time bound.
  void trim();
  // Frees every idle block.
  void clear();

  // For tests and diagnostics.
  [[nodiscard]] size_t idleBytes() const;
  [[nodiscard]] size_t idleBlocks() const;
  [[nodiscard]] uint64_t reuses() const;

 private:
  using Clock = std::chrono::steady_clock;
  struct Idle {
    void* block;
    size_t size;
    Clock::time_point since;
  };
  // Removes from idle_ (oldest first) what the bounds no longer allow, into
  // `out` to be freed once the lock is dropped. Called with mu_ held.
  void expire(Clock::time_point now, std::vector<void*>* out);

  const size_t maxIdleBytes_;
  const size_t maxIdleBlocks_;
  const Clock::duration maxIdle_;
  mutable std::mutex mu_;
  std::vector<Idle> idle_;  // in the order released, oldest first
  size_t idleBytes_ = 0;
  uint64_t reuses_ = 0;
};
