// HashTable: the blocks of the receiver's copy of a file, keyed by their weak
// (rolling) checksum and confirmed by their 16-byte MD5 digest, so that the
// sender can find which of its windows the receiver already has.
// Not thread-safe for adding; find() may run on several threads at once
// once the table is filled.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "util/adler.h"

struct HashBlock {
  int blockIndex;
  uint32_t weak;
  unsigned char strong[kMd5Size];
  std::unique_ptr<HashBlock> next;
};

class HashTable {
 public:
  // `buckets` below 1 counts as 1.
  explicit HashTable(int buckets);
  ~HashTable();
  HashTable(const HashTable&) = delete;
  HashTable& operator=(const HashTable&) = delete;

  // Puts the block in front of bucket (weak mod buckets).
  void add(int blockIndex, uint32_t weak, const unsigned char strong[kMd5Size]);
  // The first block of the bucket with both checksums equal, or null.
  [[nodiscard]] const HashBlock* find(uint32_t weak, const unsigned char strong[kMd5Size]) const;
  // Whether some block has this weak checksum: the cheap test made at every
  // offset before a digest is worth computing.
  [[nodiscard]] bool hasWeak(uint32_t weak) const;

  [[nodiscard]] int buckets() const { return static_cast<int>(heads_.size()); }
  [[nodiscard]] size_t size() const { return count_; }

 private:
  std::vector<std::unique_ptr<HashBlock>> heads_;
  size_t count_ = 0;
};
