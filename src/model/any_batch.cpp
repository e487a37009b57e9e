#include "model/any_batch.h"

#include <algorithm>
#include <cstdlib>

// Each slot is the owning block's address followed by the Any, so that the
// Any finds its block when it is deleted.
struct alignas(16) AnyBatch::Block {
  // Anys of the block not yet deleted, plus one while the batch fills it.
  std::atomic<long> live;
};

namespace {
constexpr size_t kSlotSize = (sizeof(void*) + sizeof(Any) + alignof(Any) - 1) & ~(alignof(Any) - 1);
// Blocks start small (a small document should not hold on to a large block)
// and double up to this many slots.
constexpr size_t kFirstSlots = 8;
constexpr size_t kMaxSlots = 256;
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
  // The slots never handed out and the batch's own hold.
  drop(block_, (long)(capacity_ - used_) + 1);
  block_ = nullptr;
}

void* AnyBatch::nextSlot() {
  if (!block_ || used_ == capacity_) {
    size_t capacity = block_ ? std::min(capacity_ * 2, kMaxSlots) : kFirstSlots;
    retire();
    void* memory = malloc(sizeof(Block) + capacity * kSlotSize);
    if (!memory) abort();
    // Counted in advance for every slot, so that making an Any costs no
    // atomic operation; retire() gives back the slots not used.
    block_ = new (memory) Block{{(long)capacity + 1}};
    capacity_ = capacity;
    used_ = 0;
  }
  char* slot = reinterpret_cast<char*>(block_ + 1) + used_++ * kSlotSize;
  *reinterpret_cast<Block**>(slot) = block_;
  return slot + sizeof(void*);
}

void AnyBatch::destroy(Any* any) {
  Block* block = *reinterpret_cast<Block**>(reinterpret_cast<char*>(any) - sizeof(void*));
  any->~Any();
  drop(block, 1);
}

void Any::destroyPlaced(Any* any) { AnyBatch::destroy(any); }
