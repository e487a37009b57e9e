// Message: the MessageBase whose bytes live in a chain of memory chunks. A
// message built to be sent starts with the 9-byte frame header of the
// connection protocol (code 3, payload length, message type).
//
// Not thread-safe: one thread at a time uses a message.
#pragma once

#include <cstddef>
#include <memory>

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

  // Appends `n` bytes that already are whole items (as writeEncoded) without
  // copying them when they are large: the message then refers to `bytes`
  // and holds `owner`, which must keep them alive and unchanged, until it no
  // longer needs them; the last reference may drop on whichever thread
  // deletes the message (a coms thread, for a message sent). Bytes shorter
  // than kShareMin, or without an owner, are copied, and `owner` is not
  // kept. 0, or -1 in the error state.
  static constexpr size_t kShareMin = 16384;
  int writeEncodedShared(std::shared_ptr<const void> owner, const void* bytes, size_t n);

  // Mode 2: makes the next chunk exactly `n` bytes when the last one is full,
  // so that a receiver that knows how much is still expected fills one chunk.
  void reserve(size_t n);

  // Writes the payload length (every byte after the header) into the header.
  // Returns 0, or -1 when the message has no header or the payload does not
  // fit the 32-bit length.
  [[nodiscard]] int setFrameLength();
};
