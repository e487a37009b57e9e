// AnyBatch: makes the values of a whole document (a JSON text being read) in
// shared blocks: Anys, their texts, and the Attributes and AnyArray that hold
// them. Each value made here stays an ordinary value: whoever holds it
// deletes it on its own, on any thread, and it may be shared and outlive the
// batch. A block goes back to the heap once the batch has moved past it and
// the last piece made in it is released, so a value kept after the rest of
// its document is gone keeps its block (at most 16 KB) alive. One thread at a
// time uses a batch.
#pragma once

#include <atomic>
#include <cstddef>
#include <new>
#include <utility>

#include "model/any.h"

class AnyBatch {
 public:
  AnyBatch() = default;
  // Lets go of the block being filled; what was made stays valid.
  ~AnyBatch();
  AnyBatch(const AnyBatch&) = delete;
  AnyBatch& operator=(const AnyBatch&) = delete;

  // A new Any built from `args` as `new Any(args...)` builds it; release it
  // with delete like any other.
  template <typename... Args>
  [[nodiscard]] Any* make(Args&&... args) {
    Any* any = new (allocate(sizeof(Any))) Any(std::forward<Args>(args)...);
    any->placed_ = true;
    return any;
  }
  // A new ANY_STRING of subtype 1 holding a copy of the `n` bytes at `text`
  // (no NUL among them).
  [[nodiscard]] Any* makeString(const char* text, size_t n);

  // `n` bytes (8-aligned) in the current block, or null when `n` is too large
  // for a block: the caller takes them from the heap then. The piece holds
  // the block until release() is called on it.
  [[nodiscard]] void* allocate(size_t n);
  // Gives back a piece made by allocate(), from any thread.
  static void release(void* piece);

  // Pieces above this size are refused by allocate().
  static constexpr size_t kMaxPiece = 2048;

 private:
  struct Block;
  static void drop(Block* block, long count);
  void retire();

  Block* block_ = nullptr;
  size_t used_ = 0;
  size_t capacity_ = 0;
  long pieces_ = 0;  // pieces made in the current block
};
