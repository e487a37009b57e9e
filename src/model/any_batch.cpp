#include "model/any_batch.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

// Each piece is preceded by the address of its block, so that it finds the
// block when it is released.
struct AnyBatch::Block {
  // Counts down from kUnset as pieces are released; when the batch moves on
  // it takes off kUnset less the pieces it made, so that the count reaches 0
  // with the release of the last piece, whichever comes last.
  std::atomic<long> live;
};

namespace {
constexpr long kUnset = 1L << 40;
constexpr size_t kHeader = sizeof(void*);
// Blocks start small (a small document should not hold on to a large block)
// and double up to this size.
constexpr size_t kFirstBlock = 512;
constexpr size_t kMaxBlock = 16384;
static_assert(sizeof(AnyBatch) > 0 && alignof(Any) <= kHeader);
}  // namespace

AnyBatch::~AnyBatch() { retire(); }

void AnyBatch::drop(Block* block, long count) {
  // The last release sees every other holder's use of the block before it
  // frees it.
  if (block->live.fetch_sub(count, std::memory_order_acq_rel) == count) {
    block->~Block();
    free(block);
  }
}

void AnyBatch::retire() {
  if (!block_) return;
  drop(block_, kUnset - pieces_);
  block_ = nullptr;
}

void* AnyBatch::allocate(size_t n) {
  if (n > kMaxPiece) return nullptr;
  size_t need = kHeader + ((n + kHeader - 1) & ~(kHeader - 1));
  if (!block_ || capacity_ - used_ < need) {
    size_t capacity = block_ ? std::min(capacity_ * 2, kMaxBlock) : kFirstBlock;
    capacity = std::max(capacity, need);
    retire();
    void* memory = malloc(sizeof(Block) + capacity);
    if (!memory) abort();
    block_ = new (memory) Block{{kUnset}};
    capacity_ = capacity;
    used_ = 0;
    pieces_ = 0;
  }
  char* at = reinterpret_cast<char*>(block_ + 1) + used_;
  used_ += need;
  pieces_++;
  *reinterpret_cast<Block**>(at) = block_;
  return at + kHeader;
}

void AnyBatch::release(void* piece) { drop(*reinterpret_cast<Block**>(static_cast<char*>(piece) - kHeader), 1); }

Any* AnyBatch::makeString(const char* text, size_t n) {
  Any* any = make();
  auto* copy = static_cast<char*>(allocate(n + 1));
  bool placed = copy != nullptr;
  if (!placed) {
    copy = static_cast<char*>(malloc(n + 1));
    if (!copy) abort();
  }
  memcpy(copy, text, n);
  copy[n] = '\0';
  any->adoptString(copy);
  any->textPlaced_ = placed;
  return any;
}

void Any::destroyPlaced(Any* any) {
  any->~Any();
  AnyBatch::release(any);
}

void Any::releasePlacedText(char* text) { AnyBatch::release(text); }
