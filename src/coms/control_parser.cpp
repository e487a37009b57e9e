#include "coms/control_parser.h"

#include <algorithm>
#include <cstring>

#include "wire/byte_order.h"
#include "wire/message.h"

namespace {

// A message is assembled in chunks sized to the bytes still expected, but
// never much larger than what has already arrived: a peer that announces a
// huge frame and then sends nothing costs one small chunk, not the frame.
constexpr size_t kFirstChunkMax = 64 * 1024;
constexpr size_t kChunkMax = 8 * 1024 * 1024;

}  // namespace

ControlParser::~ControlParser() = default;

int ControlParser::fieldBytes(unsigned char code) {
  switch (code) {
    case C_TYPE: return 5;
    case C_TYPE2: return 9;
    case C_MESG: return 8;
    case C_COMPLETE2: return 4;
    case C_SETTIMING: return 8;
    case C_GET_LD: return 8;
    case C_LD_REPLY: return 16;
    default: return -1;
  }
}

bool ControlParser::feed(const char* data, size_t n) {
  size_t i = 0;
  while (i < n) {
    if (stopped_) return false;
    if (message_ != nullptr) {
      i += feedMessage(data + i, n - i);
      continue;
    }
    if (code_ == 0) {
      unsigned char c = static_cast<unsigned char>(data[i++]);
      int fields = fieldBytes(c);
      if (fields < 0) {
        bool go;
        switch (c) {
          case C_HB: go = sink_->onHeartbeat(); break;
          case C_CLOSE: go = sink_->onClose(); break;
          case C_COMPLETE: go = sink_->onComplete(0, false); break;
          case C_AUTHFAIL: go = sink_->onAuthFail(); break;
          case C_ENABLE_TIMING: go = sink_->onEnableTiming(); break;
          default: go = sink_->onIgnoredCode(c); break;
        }
        if (!go) stopped_ = true;
        continue;
      }
      code_ = c;
      need_ = static_cast<size_t>(fields);
      have_ = 0;
      continue;
    }
    size_t k = std::min(need_ - have_, n - i);
    std::memcpy(field_ + have_, data + i, k);
    have_ += k;
    i += k;
    if (have_ == need_) {
      if (!dispatch()) stopped_ = true;
    }
  }
  return !stopped_;
}

bool ControlParser::dispatch() {
  unsigned char code = code_;
  code_ = 0;
  const unsigned char* f = field_;
  switch (code) {
    case C_TYPE: return sink_->onHello(wire::get32(f), f[4], 0, false);
    case C_TYPE2: return sink_->onHello(wire::get32(f), f[4], wire::get32(f + 5), true);
    case C_COMPLETE2: return sink_->onComplete(wire::get32(f), true);
    case C_SETTIMING: return sink_->onSetTiming(wire::get32(f), wire::get32(f + 4));
    case C_GET_LD: return sink_->onLatencyProbe(wire::get32(f), wire::get32(f + 4));
    case C_LD_REPLY:
      return sink_->onLatencyReply(wire::get32(f), wire::get32(f + 4), wire::get32(f + 8), wire::get32(f + 12));
    case C_MESG: return startMessage();
    default: return true;
  }
}

bool ControlParser::startMessage() {
  length_ = wire::get32(field_);
  type_ = wire::get32(field_ + 4);
  const char* error = nullptr;
  if (length_ < 1) {
    error = "Less than or zero size message";
  } else if (length_ > kMaxFrameLength) {
    error = "packet too large 2G";
  } else if (type_ > kMaxMessageType) {
    error = "illogical message type";
  }
  if (error != nullptr) {
    sink_->onFrameError(error, length_, type_);
    return false;
  }
  message_ = std::make_unique<Message>();
  size_t first = std::min<size_t>(size_t{length_} + Message::kHeaderSize, kFirstChunkMax);
  message_->reserve(first);
  chunkRoom_ = first;
  unsigned char header[Message::kHeaderSize];
  header[0] = C_MESG;
  std::memcpy(header + 1, field_, 8);
  message_->appendBytes(header, sizeof header);
  chunkRoom_ -= sizeof header;
  received_ = 0;
  return true;
}

void ControlParser::nextChunk() {
  uint64_t remaining = length_ - received_;
  size_t grow = std::max<size_t>(kFirstChunkMax, static_cast<size_t>(received_));
  size_t next = static_cast<size_t>(std::min<uint64_t>(remaining, std::min(grow, kChunkMax)));
  message_->reserve(next);
  chunkRoom_ = next;
}

size_t ControlParser::feedMessage(const char* data, size_t n) {
  size_t used = 0;
  while (used < n && received_ < length_) {
    uint64_t remaining = length_ - received_;
    if (chunkRoom_ == 0) nextChunk();
    size_t k = static_cast<size_t>(std::min<uint64_t>({remaining, n - used, chunkRoom_}));
    message_->appendBytes(data + used, k);
    chunkRoom_ -= k;
    used += k;
    received_ += k;
  }
  if (received_ == length_) finishMessage();
  return used;
}

void ControlParser::finishMessage() {
  message_->setMessageType(static_cast<int>(type_));
  message_->setExpectedLength(length_);
  message_->setReceivedCount(static_cast<int64_t>(received_));
  std::unique_ptr<Message> done = std::move(message_);
  received_ = 0;
  chunkRoom_ = 0;
  if (!sink_->onMessage(std::move(done))) stopped_ = true;
}

char* ControlParser::directRoom(size_t* room) {
  if (stopped_ || message_ == nullptr || received_ >= length_) return nullptr;
  if (chunkRoom_ == 0) nextChunk();
  size_t n = static_cast<size_t>(std::min<uint64_t>(length_ - received_, chunkRoom_));
  unsigned char* at = message_->encodeRoom(n);
  if (at == nullptr) return nullptr;
  *room = n;
  return reinterpret_cast<char*>(at);
}

bool ControlParser::filled(size_t n) {
  message_->commitEncoded(n);
  chunkRoom_ -= n;
  received_ += n;
  if (received_ == length_) finishMessage();
  return !stopped_;
}
