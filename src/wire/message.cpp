#include "wire/message.h"

#include <cstring>

#include "wire/byte_order.h"

namespace {
constexpr size_t kFirstChunk = 256;
constexpr size_t kMaxChunk = 32768;
}  // namespace

Message::Message(int type) : MessageBase(MSG_MODE_WRITE, type) {
  enableDirectWrite();
  MessageChunk* c = addChunk(kFirstChunk);
  auto* h = reinterpret_cast<unsigned char*>(c->data);
  h[0] = kFrameCode;
  wire::put32(h + 1, 0);
  wire::put32(h + 5, static_cast<uint32_t>(type));
  chunkFilled(c, kHeaderSize);
}

Message::Message() : MessageBase(MSG_MODE_READ, -1) { enableDirectWrite(); }

Message::Message(const char* data, size_t n) : Message(data, n, false) {}

Message::Message(const char* data, size_t n, bool borrow) : MessageBase(MSG_MODE_READ, -1) {
  if (n == 0) return;
  if (!borrow) enableDirectWrite();
  if (!borrow) {
    MessageChunk* c = addChunk(n);
    std::memcpy(c->data, data, n);
    chunkFilled(c, n);
    return;
  }
  // Mode 2 never writes into a chunk: the bytes can be used in place.
  MessageChunk* c = addChunk(0);
  c->data = const_cast<char*>(data);
  c->capacity = n;
  chunkFilled(c, n);
}

Message::~Message() = default;

void Message::appendBytes(const void* data, size_t n) {
  if (n == 0) return;
  MessageChunk* last = lastChunk();
  if (last == nullptr || last->capacity - last->used < n) {
    size_t size = n;
    if (getMode() == MSG_MODE_WRITE) {
      size = last == nullptr ? kFirstChunk : last->capacity * 2;
      if (size > kMaxChunk) size = kMaxChunk;
      if (size < n + kHeaderSize) size = n + kHeaderSize;
    }
    last = addChunk(size);
  }
  std::memcpy(last->data + last->used, data, n);
  chunkFilled(last, n);
}

int Message::writeEncodedShared(std::shared_ptr<const void> owner, const void* bytes, size_t n) {
  if (n < kShareMin || owner == nullptr) return writeEncoded(bytes, n);
  if (getError() != 0) return -1;
  auto* keep = new std::shared_ptr<const void>(std::move(owner));
  (void)addForeignChunk(bytes, n, [](void* arg) { delete static_cast<std::shared_ptr<const void>*>(arg); }, keep);
  return 0;
}

void Message::reserve(size_t n) {
  MessageChunk* last = lastChunk();
  if (n > 0 && (last == nullptr || last->used == last->capacity)) addChunk(n);
}

int Message::setFrameLength() {
  const MessageChunk* c = firstChunk();
  if (c == nullptr || c->start != 0 || c->used < kHeaderSize || static_cast<unsigned char>(c->data[0]) != kFrameCode)
    return -1;
  uint64_t payload = size() - kHeaderSize;
  if (payload > 0xFFFFFFFFu) return -1;
  wire::put32(reinterpret_cast<unsigned char*>(c->data) + 1, static_cast<uint32_t>(payload));
  return 0;
}
