// Feeds arbitrary bytes to the input state machine of a connection (the
// control-protocol parser), in pieces whose sizes the first input byte
// picks, and checks that the pieces do not change what is parsed: the same
// units must come out as from the whole input. Every message that arrives
// is decoded by the dump walker, as a receiver would read it.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "coms/control_parser.h"
#include "wire/message.h"
#include "wire/message_dump.h"
#include "wire/model_xlators.h"

namespace {

class Sink : public ControlSink {
 public:
  std::string trace;

  bool onHeartbeat() override { return add("H"); }
  bool onHello(uint32_t type, uint8_t flag, uint32_t version, bool v2) override {
    return add("T" + std::to_string(type) + "," + std::to_string(flag) + "," + std::to_string(version) +
               (v2 ? "v2" : ""));
  }
  bool onComplete(uint32_t version, bool v2) override { return add("C" + std::to_string(version) + (v2 ? "v2" : "")); }
  bool onAuthFail() override { return add("A"); }
  bool onClose() override {
    add("X");
    return closes_++ < 3;  // a connection stops at its close; go on a little to cover more
  }
  bool onEnableTiming() override { return add("E"); }
  bool onSetTiming(uint32_t lost, uint32_t hb) override {
    return add("S" + std::to_string(lost) + "," + std::to_string(hb));
  }
  bool onLatencyProbe(uint32_t s, uint32_t us) override { return add("G" + std::to_string(s) + "," + std::to_string(us)); }
  bool onLatencyReply(uint32_t a, uint32_t b, uint32_t c, uint32_t d) override {
    return add("R" + std::to_string(a ^ b ^ c ^ d));
  }
  bool onMessage(std::unique_ptr<Message> m) override {
    if (m->getExpectedLength() < 1 || m->getMessageType() < 0 || m->getMessageType() > 0xFFFFFF) std::abort();
    if (m->size() != static_cast<uint64_t>(m->getExpectedLength()) + Message::kHeaderSize) std::abort();
    std::string out;
    MessageDump::Error error;
    if (m->switchToRead() == 0) (void)MessageDump::dumpItems(*m, out, &error, 0);
    return add("M" + std::to_string(m->getMessageType()) + ":" + std::to_string(m->getExpectedLength()));
  }
  bool onIgnoredCode(unsigned char code) override { return add("I" + std::to_string(code)); }
  void onFrameError(const char* text, uint32_t, uint32_t) override { add(std::string("F") + text); }

 private:
  bool add(const std::string& s) {
    trace += s;
    trace += ';';
    return true;
  }
  int closes_ = 0;
};

std::string parse(const uint8_t* data, size_t n, size_t piece) {
  Sink sink;
  ControlParser parser(&sink);
  for (size_t at = 0; at < n; at += piece) {
    if (!parser.feed(reinterpret_cast<const char*>(data) + at, n - at < piece ? n - at : piece)) break;
  }
  return sink.trace;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool once = [] {
    registerModelXlators();
    return true;
  }();
  (void)once;
  if (size < 1) return 0;
  size_t piece = (data[0] % 17) + 1;
  std::string whole = parse(data + 1, size - 1, size);
  std::string pieces = parse(data + 1, size - 1, piece);
  if (whole != pieces) {
    std::fprintf(stderr, "pieces of %zu parse differently:\n%s\n%s\n", piece, whole.c_str(), pieces.c_str());
    std::abort();
  }
  return 0;
}
