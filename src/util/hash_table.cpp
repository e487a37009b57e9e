#include "util/hash_table.h"

#include <cstring>

HashTable::HashTable(int buckets) : heads_(static_cast<size_t>(buckets > 0 ? buckets : 1)) {}

HashTable::~HashTable() {
  // Unlink the chains one block at a time: a long chain freed recursively
  // would take a stack frame per block.
  for (auto& head : heads_) {
    while (head) head = std::move(head->next);
  }
}

void HashTable::add(int blockIndex, uint32_t weak, const unsigned char strong[kMd5Size]) {
  auto block = std::make_unique<HashBlock>();
  block->blockIndex = blockIndex;
  block->weak = weak;
  memcpy(block->strong, strong, kMd5Size);
  auto& head = heads_[weak % heads_.size()];
  block->next = std::move(head);
  head = std::move(block);
  ++count_;
}

const HashBlock* HashTable::find(uint32_t weak, const unsigned char strong[kMd5Size]) const {
  for (const HashBlock* b = heads_[weak % heads_.size()].get(); b != nullptr; b = b->next.get()) {
    if (b->weak == weak && memcmp(b->strong, strong, kMd5Size) == 0) return b;
  }
  return nullptr;
}

bool HashTable::hasWeak(uint32_t weak) const {
  for (const HashBlock* b = heads_[weak % heads_.size()].get(); b != nullptr; b = b->next.get()) {
    if (b->weak == weak) return true;
  }
  return false;
}
