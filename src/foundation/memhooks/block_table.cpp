#include "foundation/memhooks/block_table.h"

#include <sys/mman.h>

namespace {

constexpr size_t kInitialCapacity = 4096;

size_t bytesFor(size_t capacity) { return capacity * 2 * sizeof(uintptr_t); }

}  // namespace

void BlockTable::release() {
  if (_slots != nullptr) munmap(_slots, bytesFor(_capacity));
  _slots = nullptr;
  _capacity = 0;
  _count = 0;
}

size_t BlockTable::home(uintptr_t key) const {
  // Blocks are 16-byte aligned: drop the bits that never vary, then mix.
  uint64_t h = (static_cast<uint64_t>(key) >> 4) * 0x9E3779B97F4A7C15ull;
  return static_cast<size_t>(h ^ (h >> 29)) & (_capacity - 1);
}

void BlockTable::place(Slot* slots, size_t capacity, uintptr_t key, size_t size) {
  size_t i = home(key);
  while (slots[i].key != 0) i = (i + 1) & (capacity - 1);
  slots[i].key = key;
  slots[i].size = size;
}

bool BlockTable::grow() {
  size_t capacity = _capacity == 0 ? kInitialCapacity : _capacity * 2;
  void* mem = mmap(nullptr, bytesFor(capacity), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mem == MAP_FAILED) return false;
  Slot* old = _slots;
  size_t oldCapacity = _capacity;
  _slots = static_cast<Slot*>(mem);
  _capacity = capacity;
  for (size_t i = 0; i < oldCapacity; ++i) {
    if (old[i].key != 0) place(_slots, _capacity, old[i].key, old[i].size);
  }
  if (old != nullptr) munmap(old, bytesFor(oldCapacity));
  return true;
}

bool BlockTable::insert(uintptr_t key, size_t size) {
  // At most half full, so probe runs stay short.
  if ((_count + 1) * 2 > _capacity && !grow()) return false;
  place(_slots, _capacity, key, size);
  ++_count;
  return true;
}

bool BlockTable::find(uintptr_t key, size_t* size) const {
  if (_count == 0) return false;
  for (size_t i = home(key); _slots[i].key != 0; i = (i + 1) & (_capacity - 1)) {
    if (_slots[i].key == key) {
      *size = _slots[i].size;
      return true;
    }
  }
  return false;
}

bool BlockTable::take(uintptr_t key, size_t* size) {
  if (_count == 0) return false;
  size_t mask = _capacity - 1;
  size_t i = home(key);
  while (_slots[i].key != key) {
    if (_slots[i].key == 0) return false;
    i = (i + 1) & mask;
  }
  *size = _slots[i].size;
  // Backward-shift deletion: pull later members of the run into the hole
  // whenever the hole lies on their probe path, so no tombstones are needed.
  size_t hole = i;
  for (size_t j = (i + 1) & mask; _slots[j].key != 0; j = (j + 1) & mask) {
    size_t h = home(_slots[j].key);
    bool movable = hole <= j ? (h <= hole || h > j) : (h <= hole && h > j);
    if (movable) {
      _slots[hole] = _slots[j];
      hole = j;
    }
  }
  _slots[hole].key = 0;
  _slots[hole].size = 0;
  --_count;
  return true;
}
