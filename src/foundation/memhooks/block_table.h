// BlockTable: the set of guarded blocks that are alive, keyed by the address
// handed to the program, with the size each was asked for. It is what tells a
// guarded block from a plain one when a block comes back: a block allocated
// before guards were on, or by an aligned allocation, is never in it, so it is
// never taken apart as a guarded one, and a damaged size field in a guarded
// block cannot mislead the checks.
//
// Its memory comes straight from mmap, never from the allocator it serves.
// Not thread-safe: the hooks hold their lock around every call. A
// zero-initialised object is a valid empty table (usable before constructors).
#pragma once

#include <cstddef>
#include <cstdint>

class BlockTable {
 public:
  constexpr BlockTable() = default;
  BlockTable(const BlockTable&) = delete;
  BlockTable& operator=(const BlockTable&) = delete;
  // Returns the memory to the system.
  void release();

  // Adds `key` (non-zero, not yet present) with `size`. Returns false, leaving
  // the table unchanged, when no memory could be had for it.
  [[nodiscard]] bool insert(uintptr_t key, size_t size);
  // Whether `key` is present; writes *size only when it is.
  [[nodiscard]] bool find(uintptr_t key, size_t* size) const;
  // Removes `key`; writes *size only when it was present.
  [[nodiscard]] bool take(uintptr_t key, size_t* size);

  [[nodiscard]] size_t count() const { return _count; }

 private:
  struct Slot {
    uintptr_t key;  // 0: empty
    size_t size;
  };

  [[nodiscard]] size_t home(uintptr_t key) const;
  [[nodiscard]] bool grow();
  void place(Slot* slots, size_t capacity, uintptr_t key, size_t size);

  Slot* _slots = nullptr;
  size_t _capacity = 0;  // a power of two, or 0
  size_t _count = 0;
};
