// SourcedMessage: a MessageBase whose bytes come from, or go straight to,
// something outside memory (a TLS stream, a file). Reading pulls 32768-byte
// chunks as the decoder needs them and releases the ones it has passed;
// writing hands every item to the sink as it is encoded.
//
// Not thread-safe: one thread uses a message.
#pragma once

#include <cstddef>
#include <cstdint>

#include "wire/message_base.h"

class SourcedMessage : public MessageBase {
 public:
  static constexpr size_t kChunkSize = 32768;

  // Mode 1: appendBytes writes through push(). Mode 2: reading pulls.
  void appendBytes(const void* data, size_t n) override;
  bool readLocBytes(_BufferLocation* location, void* out, size_t n) override;
  // What is buffered, plus (until the source has ended) the largest item
  // the reader may wait for: a length beyond that is refused unread.
  [[nodiscard]] uint64_t bytesAvailable(const _BufferLocation& location) const override;

  // Objects, containers and skipped items are decoded from buffered bytes:
  // these first pull the whole next item from the source, then decode it as
  // MessageBase does. (Single values pull as they are read.)
  [[nodiscard]] int readObject(int type, Translatable** out);
  [[nodiscard]] int readContainer(int type, Translatable** out);
  [[nodiscard]] int readOpaqueObjectField(int field, int* type, char** bytes, size_t* n);
  [[nodiscard]] int skipObject();
  [[nodiscard]] int skipToCmd();

  // True once the source reported its end or an error.
  [[nodiscard]] bool atEnd() const { return ended_; }

 protected:
  // `writeError` is the error state set when push() fails.
  SourcedMessage(int mode, int writeError);
  // Reads up to n bytes into `buffer`: the count, or <= 0 at the end or on
  // an error.
  virtual long pull(char* buffer, size_t n) = 0;
  // Writes all n bytes; false on failure.
  virtual bool push(const char* data, size_t n) = 0;
  // Pulls more bytes into the chain; false at the end.
  bool fill();

 private:
  // Pulls until the item at the current location is buffered whole (or the
  // source ends, or the item breaks the limits: the decoder then reports
  // what is wrong).
  void ensureItem();
  bool byteAt(uint64_t index, unsigned char* out);
  bool u32At(uint64_t index, uint32_t* out);
  bool haveThrough(uint64_t index);
  bool walk(uint64_t* pos, int depth);

  // Set by ensureItem for its walk.
  uint64_t walkStart_ = 0;
  uint64_t walkReturned_ = 0;
  int walkReturnedByte_ = -1;

 public:

 private:
  int writeError_;
  bool ended_ = false;
};
