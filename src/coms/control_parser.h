// The control protocol carried on a connection's TLS stream: one-byte codes,
// some followed by big-endian fields, and framed messages (code 3, payload
// length, message type, payload). ControlParser turns the bytes as they
// arrive, in pieces of any size, into calls on a ControlSink; it knows
// nothing of sockets or TLS, so it can be fed from a test or a fuzzer.
//
// Not thread-safe: one parser per connection, used by its coms thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "wire/message.h"

// The codes of the control protocol.
enum : unsigned char {
  C_HB = 1,
  C_TYPE = 2,
  C_MESG = 3,
  C_CLOSE = 4,
  C_COMPLETE = 5,
  C_AUTHFAIL = 6,
  C_ENABLE_TIMING = 7,
  C_SETTIMING = 8,
  C_COMPLETE2 = 9,
  C_TYPE2 = 12,
  C_GET_LD = 30,
  C_LD_REPLY = 31,
};

// Limits of a framed message: the payload length is 1 to kMaxFrameLength and
// the message type at most kMaxMessageType.
inline constexpr uint32_t kMaxFrameLength = 0x4FFFFFFF;
inline constexpr uint32_t kMaxMessageType = 0xFFFFFF;

// What the parser found. Every call returns true to go on parsing, false to
// stop at once (the connection is going away); a stopped parser takes no
// more bytes.
class ControlSink {
 public:
  virtual ~ControlSink() = default;
  virtual bool onHeartbeat() = 0;
  // C_TYPE (version2 false, typeVersion 0) or C_TYPE2.
  virtual bool onHello(uint32_t type, uint8_t flag, uint32_t typeVersion, bool version2) = 0;
  // C_COMPLETE (version2 false, serverVersion 0) or C_COMPLETE2.
  virtual bool onComplete(uint32_t serverVersion, bool version2) = 0;
  virtual bool onAuthFail() = 0;
  virtual bool onClose() = 0;
  virtual bool onEnableTiming() = 0;
  virtual bool onSetTiming(uint32_t lostTimeMs, uint32_t heartbeatMs) = 0;
  virtual bool onLatencyProbe(uint32_t seconds, uint32_t micros) = 0;
  virtual bool onLatencyReply(uint32_t probeSeconds, uint32_t probeMicros, uint32_t peerSeconds,
                              uint32_t peerMicros) = 0;
  // A whole message (mode 2, frame header included; switchToRead skips it).
  // The sink owns it from now on.
  virtual bool onMessage(std::unique_ptr<Message> message) = 0;
  // A code the protocol reserves or does not know; nothing follows it.
  virtual bool onIgnoredCode(unsigned char code) { (void)code; return true; }
  // A frame broke the limits ("Less than or zero size message", "packet too
  // large 2G", "illogical message type"). The stream cannot be followed past
  // it, so the parser stops for good after this call.
  virtual void onFrameError(const char* text, uint32_t length, uint32_t type) = 0;
};

class ControlParser {
 public:
  explicit ControlParser(ControlSink* sink) : sink_(sink) {}
  ~ControlParser();
  ControlParser(const ControlParser&) = delete;
  ControlParser& operator=(const ControlParser&) = delete;

  // Parses `n` more bytes. Returns false once the parser has stopped (a
  // sink call asked it to, or a frame error); the rest of the bytes are
  // then left unread.
  bool feed(const char* data, size_t n);

  // While a message body is being received: where up to *room of its next
  // bytes may be read directly (saving a copy), or null. Follow the read
  // with filled().
  [[nodiscard]] char* directRoom(size_t* room);
  // `n` bytes were read into directRoom(). Returns as feed() does.
  bool filled(size_t n);

  [[nodiscard]] bool stopped() const { return stopped_; }
  // True while a message or a control field is only partly received.
  [[nodiscard]] bool midUnit() const { return code_ != 0 || message_ != nullptr; }
  // Bytes of the message being received so far (payload), and its length.
  [[nodiscard]] uint64_t messageReceived() const { return received_; }
  [[nodiscard]] uint32_t messageLength() const { return length_; }

 private:
  // Fields of each code, in bytes; -1 for codes that end at once.
  static int fieldBytes(unsigned char code);
  bool dispatch();
  bool startMessage();
  size_t feedMessage(const char* data, size_t n);
  void nextChunk();
  void finishMessage();

  ControlSink* sink_;
  bool stopped_ = false;
  unsigned char code_ = 0;  // the code whose fields are being read, 0 between units
  unsigned char field_[16];
  size_t need_ = 0;
  size_t have_ = 0;
  // The message being received.
  std::unique_ptr<Message> message_;
  uint32_t length_ = 0;
  uint32_t type_ = 0;
  uint64_t received_ = 0;
  size_t chunkRoom_ = 0;
};
