// Message: the MessageBase whose bytes live in a chain of memory chunks. A
// message built to be sent starts with the 9-byte frame header of the
// connection protocol (code 3, payload length, message type).
//
// Not thread-safe: one thread at a time uses a message.
#pragma once

#include <cstddef>

#include "wire/message_base.h"

class Message : public MessageBase {
 public:
  static constexpr size_t kHeaderSize = 9;
  // The first byte of a framed message on a connection.
  static constexpr unsigned char kFrameCode = 3;

  // Mode 1, message type `type`: the first chunk holds the frame header with
  // the payload length left for setFrameLength().
  explicit Message(int type);
  // An empty mode-2 message, filled by a receiver with appendBytes (frame
  // header included; switchToRead skips it).
  Message();
  // Mode 2 over a copy of `n` bytes that carry no frame header (an opaque
  // object, say): reading starts at the first byte.
  Message(const char* data, size_t n);
  // The same without the copy: the message reads the `n` bytes where they are,
  // and they must stay unchanged for as long as the message lives.
  Message(const char* data, size_t n, bool borrow);
  ~Message() override;

  // Mode 1: into the last chunk when it has room, else into a new chunk twice
  // the size of the last one (256 for the first, at most 32768, never smaller
  // than n + 9). Mode 2: a chunk of exactly n bytes when the last one is full.
  void appendBytes(const void* data, size_t n) override;

  // Mode 2: makes the next chunk exactly `n` bytes when the last one is full,
  // so that a receiver that knows how much is still expected fills one chunk.
  void reserve(size_t n);

  // Writes the payload length (every byte after the header) into the header.
  // Returns 0, or -1 when the message has no header or the payload does not
  // fit the 32-bit length.
  [[nodiscard]] int setFrameLength();
};
