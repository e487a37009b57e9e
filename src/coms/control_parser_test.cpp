#include "coms/control_parser.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "wire/message.h"

namespace {

// Records every unit as a line of text.
class Log : public ControlSink {
 public:
  std::vector<std::string> lines;
  std::vector<std::string> payloads;
  bool stopAfterClose = true;

  bool onHeartbeat() override { return add("HB"); }
  bool onHello(uint32_t type, uint8_t flag, uint32_t typeVersion, bool v2) override {
    return add((v2 ? "TYPE2 " : "TYPE ") + std::to_string(type) + " " + std::to_string(flag) + " " +
               std::to_string(typeVersion));
  }
  bool onComplete(uint32_t serverVersion, bool v2) override {
    return add((v2 ? "COMPLETE2 " : "COMPLETE ") + std::to_string(serverVersion));
  }
  bool onAuthFail() override { return add("AUTHFAIL"); }
  bool onClose() override {
    add("CLOSE");
    return !stopAfterClose;
  }
  bool onEnableTiming() override { return add("ENABLE_TIMING"); }
  bool onSetTiming(uint32_t lost, uint32_t hb) override {
    return add("SETTIMING " + std::to_string(lost) + " " + std::to_string(hb));
  }
  bool onLatencyProbe(uint32_t s, uint32_t us) override {
    return add("GET_LD " + std::to_string(s) + " " + std::to_string(us));
  }
  bool onLatencyReply(uint32_t ps, uint32_t pu, uint32_t s, uint32_t us) override {
    return add("LD_REPLY " + std::to_string(ps) + " " + std::to_string(pu) + " " + std::to_string(s) + " " +
               std::to_string(us));
  }
  bool onMessage(std::unique_ptr<Message> m) override {
    std::string bytes;
    for (const MessageChunk* c = m->firstChunk(); c != nullptr; c = c->next) bytes.append(c->data, c->used);
    payloads.push_back(bytes.substr(Message::kHeaderSize));
    return add("MESG " + std::to_string(m->getMessageType()) + " " + std::to_string(m->getExpectedLength()));
  }
  bool onIgnoredCode(unsigned char code) override { return add("IGNORED " + std::to_string(code)); }
  void onFrameError(const char* text, uint32_t, uint32_t) override { add(std::string("ERROR ") + text); }

 private:
  bool add(const std::string& s) {
    lines.push_back(s);
    return true;
  }
};

std::string bytes(std::initializer_list<int> list) {
  std::string s;
  for (int b : list) s.push_back(static_cast<char>(b));
  return s;
}

std::string join(const std::vector<std::string>& v) {
  std::string s;
  for (const auto& x : v) s += x + "\n";
  return s;
}

// Feeds `input` whole, one byte at a time, and in pieces of 3: each way must
// give the same units.
std::vector<std::string> parseEveryWay(const std::string& input, std::vector<std::string>* payloads = nullptr) {
  std::vector<std::vector<std::string>> results;
  for (size_t piece : {input.size(), size_t{1}, size_t{3}}) {
    Log log;
    ControlParser parser(&log);
    if (piece == 0) piece = 1;
    for (size_t i = 0; i < input.size(); i += piece) {
      if (!parser.feed(input.data() + i, std::min(piece, input.size() - i))) break;
    }
    results.push_back(log.lines);
    if (payloads != nullptr) *payloads = log.payloads;
  }
  EXPECT_EQ(join(results[0]), join(results[1])) << "byte by byte differs";
  EXPECT_EQ(join(results[0]), join(results[2])) << "pieces of 3 differ";
  return results[0];
}

TEST(ControlParser, EveryCodeWholeAndTrickled) {
  struct Case {
    std::string name;
    std::string input;
    std::vector<std::string> want;
  };
  std::vector<Case> cases = {
      {"heartbeat", bytes({1}), {"HB"}},
      {"hello v0", bytes({2, 0, 0, 0, 5, 7}), {"TYPE 5 7 0"}},
      {"hello v2", bytes({12, 0, 0, 1, 0, 1, 0, 0, 0, 2}), {"TYPE2 256 1 2"}},
      {"complete", bytes({5}), {"COMPLETE 0"}},
      {"complete2", bytes({9, 0, 0, 0, 3}), {"COMPLETE2 3"}},
      {"authfail", bytes({6}), {"AUTHFAIL"}},
      {"enable timing", bytes({7}), {"ENABLE_TIMING"}},
      {"settiming", bytes({8, 0, 0, 0x4E, 0x20, 0, 0, 0x11, 0x94}), {"SETTIMING 20000 4500"}},
      {"get_ld", bytes({30, 0x60, 0, 0, 1, 0, 0x0F, 0x42, 0x3F}), {"GET_LD 1610612737 999999"}},
      {"ld_reply", bytes({31, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0, 4}), {"LD_REPLY 1 2 3 4"}},
      {"ignored codes", bytes({10, 11, 13, 29, 0, 32, 255}),
       {"IGNORED 10", "IGNORED 11", "IGNORED 13", "IGNORED 29", "IGNORED 0", "IGNORED 32", "IGNORED 255"}},
      {"message", bytes({3, 0, 0, 0, 2, 0, 0, 0, 9, 0xAA, 0xBB}), {"MESG 9 2"}},
      {"largest type", bytes({3, 0, 0, 0, 1, 0, 0xFF, 0xFF, 0xFF, 1}), {"MESG 16777215 1"}},
      {"zero length", bytes({3, 0, 0, 0, 0, 0, 0, 0, 1, 1}), {"ERROR Less than or zero size message"}},
      {"too large", bytes({3, 0x50, 0, 0, 0, 0, 0, 0, 1}), {"ERROR packet too large 2G"}},
      {"illogical type", bytes({3, 0, 0, 0, 1, 1, 0, 0, 0, 1}), {"ERROR illogical message type"}},
      {"close stops", bytes({1, 4, 1, 1}), {"HB", "CLOSE"}},
      {"stream", bytes({12, 0, 0, 0, 1, 0, 0, 0, 0, 2, 7, 1, 3, 0, 0, 0, 1, 0, 0, 0, 4, 0x42, 1}),
       {"TYPE2 1 0 2", "ENABLE_TIMING", "HB", "MESG 4 1", "HB"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(join(parseEveryWay(c.input)), join(c.want));
  }
}

TEST(ControlParser, MessagePayloadArrivesWhole) {
  std::string payload;
  for (int i = 0; i < 70000; i++) payload.push_back(static_cast<char>(i * 7));
  std::string input = bytes({3, 0, 1, 0x11, 0x70, 0, 0, 0, 42}) + payload + bytes({1});
  std::vector<std::string> payloads;
  EXPECT_EQ(join(parseEveryWay(input, &payloads)), "MESG 42 70000\nHB\n");
  ASSERT_EQ(payloads.size(), 1u);
  EXPECT_EQ(payloads[0], payload);
}

TEST(ControlParser, ReceivedMessageDecodes) {
  Message out(77);
  ASSERT_EQ(out.writeInt32(12345), 0);
  ASSERT_EQ(out.writeString("hello"), 0);
  ASSERT_EQ(out.setFrameLength(), 0);
  std::string wireBytes;
  for (const MessageChunk* c = out.firstChunk(); c != nullptr; c = c->next) wireBytes.append(c->data, c->used);

  struct Keep : Log {
    std::unique_ptr<Message> kept;
    bool onMessage(std::unique_ptr<Message> m) override {
      kept = std::move(m);
      return true;
    }
  } sink;
  ControlParser parser(&sink);
  for (char b : wireBytes) ASSERT_TRUE(parser.feed(&b, 1));
  ASSERT_NE(sink.kept, nullptr);
  ASSERT_EQ(sink.kept->switchToRead(), 0);
  int n = 0;
  char* s = nullptr;
  ASSERT_EQ(sink.kept->readInt32(n), 0);
  ASSERT_EQ(sink.kept->readString(s), 0);
  EXPECT_EQ(n, 12345);
  EXPECT_STREQ(s, "hello");
  MessageBase::freeString(s);
  EXPECT_EQ(sink.kept->getMessageType(), 77);
}

TEST(ControlParser, HugeFrameWithoutDataCostsLittle) {
  // A frame of the largest length that then stops: the parser holds one
  // small chunk, not the announced size.
  Log log;
  ControlParser parser(&log);
  std::string input = bytes({3, 0x4F, 0xFF, 0xFF, 0xFF, 0, 0, 0, 1}) + std::string(100, 'x');
  EXPECT_TRUE(parser.feed(input.data(), input.size()));
  EXPECT_TRUE(parser.midUnit());
  EXPECT_EQ(parser.messageReceived(), 100u);
  EXPECT_EQ(parser.messageLength(), 0x4FFFFFFFu);
  EXPECT_TRUE(log.lines.empty());
}

TEST(ControlParser, StoppedParserTakesNothingMore) {
  Log log;
  ControlParser parser(&log);
  std::string input = bytes({3, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1});
  EXPECT_FALSE(parser.feed(input.data(), input.size()));
  EXPECT_TRUE(parser.stopped());
  std::string more = bytes({1});
  EXPECT_FALSE(parser.feed(more.data(), more.size()));
  EXPECT_EQ(join(log.lines), "ERROR Less than or zero size message\n");
}

}  // namespace
