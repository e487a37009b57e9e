// AnyBatch: makes the values of a whole document (a JSON text being read) in
// shared blocks: Anys, their texts, and the Attributes and AnyArray that hold
// them. Each value made here stays an ordinary value: whoever holds it
// deletes it on its own, on any thread, and it may be shared and outlive the
// batch. A block goes back to the heap once the batch has moved past it and
// the last piece made in it is released, so a value kept after the rest of
// its document is gone keeps its block (at most 16 KB) alive. One thread at a
// time uses a batch.
// Freeing a whole document releases its pieces in long runs from the same
// block: while a value made here is being deleted, the releases on that
// thread are tallied and taken off each block's count once per run instead
// of one atomic step per piece (see ReleaseRun).
#pragma once

#include <atomic>
#include <cstddef>
#include <new>
#include <utility>

#include "model/any.h"
#include "model/obj_ref.h"

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
  // A new ANY_REF holding `target` (counted), its ObjRef made here too. For
  // a null `target` the reference holds nothing yet: a container made
  // after its holder (getRef()->set()) lies after it in the block, in the
  // order it is walked when freed.
  [[nodiscard]] Any* makeRef(Translatable* target);
  // A new `T` built from `args` in a piece of its own, or null when T is too
  // large (never for the small objects this is meant for). Its owner
  // destroys it with ~T and gives the piece back with release().
  template <typename T, typename... Args>
  [[nodiscard]] T* place(Args&&... args) {
    void* at = allocate(sizeof(T));
    return at ? new (at) T(std::forward<Args>(args)...) : nullptr;
  }

  // `n` bytes (8-aligned) in the current block, or null when `n` is too large
  // for a block: the caller takes them from the heap then. The piece holds
  // the block until release() is called on it.
  [[nodiscard]] void* allocate(size_t n) {
    // Inline: every value of a document comes through here.
    size_t need = kHeader + ((n + kHeader - 1) & ~(kHeader - 1));
    if (n > kMaxPiece || capacity_ - used_ < need) return allocateInNewBlock(n);
    char* at = room_ + used_;
    used_ += need;
    pieces_++;
    *reinterpret_cast<Block**>(at) = block_;
    return at + kHeader;
  }
  // Gives back a piece made by allocate(), from any thread.
  static void release(void* piece);

  // While one lives on a thread (they nest), that thread's release() calls
  // are tallied per block and taken off the block's count when a piece of
  // another block comes, and at the latest when the outermost one ends; a
  // block is therefore freed at the end of the deletion that released its
  // last piece rather than at that piece. Opened by the deletion of every
  // value made in a batch, so that freeing a document costs an atomic step
  // per run of pieces from one block rather than per piece.
  class ReleaseRun {
   public:
    ReleaseRun();
    ~ReleaseRun();
    ReleaseRun(const ReleaseRun&) = delete;
    ReleaseRun& operator=(const ReleaseRun&) = delete;
  };

  // Pieces above this size are refused by allocate().
  static constexpr size_t kMaxPiece = 2048;

 private:
  struct Block;
  struct Pending;
  struct Spare;
  // Each piece is preceded by the address of its block, so that it finds
  // the block when it is released.
  static constexpr size_t kHeader = sizeof(void*);

  static void drop(Block* block, long count);
  void retire();
  // allocate() when the current block has no room (or there is none yet).
  [[nodiscard]] void* allocateInNewBlock(size_t n);

  static thread_local Pending pending_;
  static thread_local Spare spare_;

  Block* block_ = nullptr;
  char* room_ = nullptr;  // the current block's room for pieces
  size_t used_ = 0;
  size_t capacity_ = 0;
  long pieces_ = 0;  // pieces made in the current block
};
