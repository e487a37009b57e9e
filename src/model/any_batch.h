// AnyBatch: makes many Anys in shared blocks, for a reader that builds a
// whole document of values at once. Each Any made here stays an ordinary
// value: whoever holds it deletes it on its own, on any thread, and it may be
// shared and outlive the batch. A block goes back to the heap once the batch
// has moved past it and its last Any is deleted, so a value kept after the
// rest of its document is gone keeps its block (at most a few kilobytes)
// alive. One thread at a time uses a batch.
#pragma once

#include <atomic>
#include <cstddef>
#include <new>
#include <utility>

#include "model/any.h"

class AnyBatch {
 public:
  AnyBatch() = default;
  // Lets go of the block being filled; the Anys made stay valid.
  ~AnyBatch();
  AnyBatch(const AnyBatch&) = delete;
  AnyBatch& operator=(const AnyBatch&) = delete;

  // A new Any built from `args` as `new Any(args...)` builds it; release it
  // with delete like any other.
  template <typename... Args>
  [[nodiscard]] Any* make(Args&&... args) {
    Any* any = new (nextSlot()) Any(std::forward<Args>(args)...);
    any->placed_ = true;
    return any;
  }

 private:
  friend class Any;
  struct Block;
  // Deletes an Any made by a batch (Any's deletion comes here for those).
  static void destroy(Any* any);
  static void drop(Block* block, long count);
  void* nextSlot();
  void retire();

  Block* block_ = nullptr;
  size_t used_ = 0;
  size_t capacity_ = 0;
};
