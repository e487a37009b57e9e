#include "model/any_batch.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

struct AnyBatch::Block {
  // Counts down from kUnset as pieces are released; when the batch moves on
  // it takes off kUnset less the pieces it made, so that the count reaches 0
  // with the release of the last piece, whichever comes last.
  std::atomic<long> live;
  size_t capacity;
};

namespace {
constexpr long kUnset = 1L << 40;
// Blocks start small (a small document should not hold on to a large block)
// and double up to this size.
constexpr size_t kFirstBlock = 512;
constexpr size_t kMaxBlock = 16384;
}  // namespace

// The releases a thread has tallied while a ReleaseRun is open: `count`
// pieces of `block` not yet taken off its count.
struct AnyBatch::Pending {
  Block* block = nullptr;
  long count = 0;
  int depth = 0;
};

// Trivially destructible: usable by destructors that run late in a thread's
// exit.
thread_local AnyBatch::Pending AnyBatch::pending_;

// The full-size block that last went back on this thread, kept for the
// next batch that needs one. A thread that reads and frees document after
// document then reuses its memory rather than returning it: the last block
// of a document is the last freed and lies highest in the heap, and freeing
// it would let the heap give every page of the document back to the system,
// only to fault them all in again for the next one.
struct AnyBatch::Spare {
  Block* block = nullptr;
  bool closed = false;  // the thread is ending: blocks go straight back
  ~Spare() {
    closed = true;
    free(block);
    block = nullptr;
  }
};

thread_local AnyBatch::Spare AnyBatch::spare_;

AnyBatch::~AnyBatch() { retire(); }

void AnyBatch::drop(Block* block, long count) {
  // The last release sees every other holder's use of the block before it
  // frees it.
  if (block->live.fetch_sub(count, std::memory_order_acq_rel) == count) {
    const bool fullSize = block->capacity == kMaxBlock;
    block->~Block();
    Spare& spare = spare_;
    if (fullSize && !spare.closed) {
      // The newest freed is kept: it is the one that holds the heap up.
      std::swap(spare.block, block);
    }
    free(block);
  }
}

void AnyBatch::retire() {
  if (!block_) return;
  drop(block_, kUnset - pieces_);
  block_ = nullptr;
  room_ = nullptr;
  used_ = capacity_ = 0;
}

void* AnyBatch::allocateInNewBlock(size_t n) {
  static_assert(alignof(Any) <= kHeader && alignof(ObjRef) <= kHeader && sizeof(Block) % kHeader == 0);
  if (n > kMaxPiece) return nullptr;
  size_t need = kHeader + ((n + kHeader - 1) & ~(kHeader - 1));
  size_t capacity = block_ ? std::min(capacity_ * 2, kMaxBlock) : kFirstBlock;
  capacity = std::max(capacity, need);
  retire();
  void* memory = nullptr;
  if (capacity == kMaxBlock) {
    Spare& spare = spare_;
    memory = spare.block;
    spare.block = nullptr;
  }
  if (!memory) memory = malloc(sizeof(Block) + capacity);
  if (!memory) abort();
  block_ = new (memory) Block{{kUnset}, capacity};
  room_ = reinterpret_cast<char*>(block_ + 1);
  capacity_ = capacity;
  used_ = 0;
  pieces_ = 0;
  return allocate(n);
}

void AnyBatch::release(void* piece) {
  Block* block = *reinterpret_cast<Block**>(static_cast<char*>(piece) - kHeader);
  Pending& pending = pending_;
  if (pending.depth == 0) {
    drop(block, 1);
    return;
  }
  if (pending.block != block) {
    if (pending.block) drop(pending.block, pending.count);
    pending.block = block;
    pending.count = 0;
  }
  pending.count++;
}

AnyBatch::ReleaseRun::ReleaseRun() { pending_.depth++; }

AnyBatch::ReleaseRun::~ReleaseRun() {
  Pending& pending = pending_;
  if (--pending.depth > 0 || !pending.block) return;
  Block* block = pending.block;
  long count = pending.count;
  pending.block = nullptr;
  pending.count = 0;
  drop(block, count);
}

Any* AnyBatch::makeString(const char* text, size_t n) {
  // The text right after the value, in the same piece: one piece to make,
  // to walk and to give back.
  if (n < kMaxPiece - sizeof(Any)) {
    char* at = static_cast<char*>(allocate(sizeof(Any) + n + 1));
    Any* any = new (at) Any();
    any->placed_ = true;
    char* copy = at + sizeof(Any);
    memcpy(copy, text, n);
    copy[n] = '\0';
    any->adoptString(copy);
    any->textInside_ = true;
    return any;
  }
  auto* copy = static_cast<char*>(malloc(n + 1));
  if (!copy) abort();
  memcpy(copy, text, n);
  copy[n] = '\0';
  Any* any = make();
  any->adoptString(copy);
  return any;
}

Any* AnyBatch::makeRef(Translatable* target) {
  Any* any = make();
  ObjRef* ref = place<ObjRef>();
  bool placed = ref != nullptr;
  if (!placed) ref = new ObjRef();
  if (target) ref->set(target);
  any->setRef(ref);
  any->heldPlaced_ = placed;
  return any;
}

void Any::destroyPlaced(Any* any) {
  // Only AnyBatch makes placed values, all of class Any: the destructor is
  // called directly.
  if (!any->holdsResource()) {
    any->Any::~Any();
    AnyBatch::release(any);
    return;
  }
  // What it holds may hold more pieces: they are tallied together.
  AnyBatch::ReleaseRun run;
  any->Any::~Any();
  AnyBatch::release(any);
}

void Any::releasePlaced(void* piece) { AnyBatch::release(piece); }
