#include "wire/chunk_cache.h"

#include <cstdlib>

ChunkCache::ChunkCache(size_t maxIdleBytes, size_t maxIdleBlocks, int maxIdleMs)
    : maxIdleBytes_(maxIdleBytes),
      maxIdleBlocks_(maxIdleBlocks),
      maxIdle_(std::chrono::milliseconds(maxIdleMs)) {
  idle_.reserve(maxIdleBlocks + 1);
}

ChunkCache::~ChunkCache() { clear(); }

ChunkCache& ChunkCache::shared() {
  static ChunkCache* cache = new ChunkCache(kSharedIdleBytes, kSharedIdleBlocks, kSharedIdleMs);
  return *cache;
}

size_t ChunkCache::blockSize(size_t n) {
  if (n <= kMinBlock) return kMinBlock;
  size_t top = size_t{1} << (63 - __builtin_clzll(static_cast<unsigned long long>(n - 1)));
  size_t step = top / 8;
  return (n + step - 1) / step * step;
}

void* ChunkCache::acquire(size_t n, size_t* size) {
  size_t want = blockSize(n);
  std::vector<void*> expired;
  void* block = nullptr;
  {
    std::lock_guard<std::mutex> lock(mu_);
    // The most recently released block of the size: the likeliest to be
    // still in the processor's caches.
    for (size_t i = idle_.size(); i-- > 0;) {
      if (idle_[i].size == want) {
        block = idle_[i].block;
        idleBytes_ -= want;
        idle_.erase(idle_.begin() + static_cast<std::ptrdiff_t>(i));
        reuses_++;
        break;
      }
    }
    if (!idle_.empty()) expire(Clock::now(), &expired);
  }
  for (void* p : expired) std::free(p);
  if (block == nullptr) {
    block = std::malloc(want);
    if (block == nullptr) std::abort();
  }
  *size = want;
  return block;
}

void ChunkCache::release(void* block, size_t size) {
  if (block == nullptr) return;
  if (size > maxIdleBytes_ || maxIdleBlocks_ == 0) {
    std::free(block);
    return;
  }
  std::vector<void*> expired;
  {
    std::lock_guard<std::mutex> lock(mu_);
    Clock::time_point now = Clock::now();
    idle_.push_back({block, size, now});
    idleBytes_ += size;
    expire(now, &expired);
  }
  for (void* p : expired) std::free(p);
}

void ChunkCache::expire(Clock::time_point now, std::vector<void*>* out) {
  size_t drop = 0;
  size_t bytes = idleBytes_;
  while (drop < idle_.size() &&
         (bytes > maxIdleBytes_ || idle_.size() - drop > maxIdleBlocks_ || now - idle_[drop].since > maxIdle_)) {
    out->push_back(idle_[drop].block);
    bytes -= idle_[drop].size;
    drop++;
  }
  if (drop == 0) return;
  idle_.erase(idle_.begin(), idle_.begin() + static_cast<std::ptrdiff_t>(drop));
  idleBytes_ = bytes;
}

void ChunkCache::trim() {
  std::vector<void*> expired;
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (idle_.empty()) return;
    expire(Clock::now(), &expired);
  }
  for (void* p : expired) std::free(p);
}

void ChunkCache::clear() {
  std::vector<Idle> all;
  {
    std::lock_guard<std::mutex> lock(mu_);
    all.swap(idle_);
    idle_.reserve(maxIdleBlocks_ + 1);
    idleBytes_ = 0;
  }
  for (const Idle& i : all) std::free(i.block);
}

size_t ChunkCache::idleBytes() const {
  std::lock_guard<std::mutex> lock(mu_);
  return idleBytes_;
}

size_t ChunkCache::idleBlocks() const {
  std::lock_guard<std::mutex> lock(mu_);
  return idle_.size();
}

uint64_t ChunkCache::reuses() const {
  std::lock_guard<std::mutex> lock(mu_);
  return reuses_;
}
