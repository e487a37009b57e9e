// Hostile peers: garbage, broken frames, a frame that never ends, a peer
// that stops mid-message or never reads. No crash, bounded memory, every
// connection ends and is freed.
#include <gtest/gtest.h>

#include <random>

#include "coms/coms_test_util.h"

using namespace comstest;

namespace {

const std::string kHello = bytes({C_TYPE2}) + be32(5) + bytes({0}) + be32(2);

TEST(HostilePeer, BrokenInputEndsTheConnection) {
  shortTiming(500, 100);
  Server server;
  ASSERT_TRUE(server.start());
  std::mt19937 random(12345);
  std::string garbage;
  for (int i = 0; i < 4000; i++) garbage.push_back(static_cast<char>(random()));
  struct Case {
    std::string name;
    std::string input;
  };
  std::vector<Case> cases = {
      {"zero-length frame", kHello + bytes({C_MESG}) + be32(0) + be32(1) + bytes({1, 1, 1})},
      {"frame over the limit", kHello + bytes({C_MESG}) + be32(0x50000000) + be32(1)},
      {"illogical message type", kHello + bytes({C_MESG}) + be32(1) + be32(0x01000000) + bytes({1})},
      {"largest frame, then nothing", kHello + bytes({C_MESG}) + be32(0x4FFFFFFF) + be32(1)},
      {"stops mid-message", kHello + bytes({C_MESG}) + be32(1000) + be32(1) + std::string(500, 'x')},
      {"stops mid-field", kHello + bytes({C_SETTIMING, 0, 0})},
      {"message before hello", bytes({C_MESG}) + be32(1) + be32(1) + bytes({1})},
      {"garbage", garbage},
      {"garbage after hello", kHello + garbage},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RawTls peer;
    ASSERT_TRUE(peer.connect(server.port));
    ASSERT_TRUE(peer.write(c.input));
    EXPECT_TRUE(peer.readEnd()) << "the server kept the connection";
  }
  // Not TLS at all.
  {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<uint16_t>(server.port));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to), 0);
    const char text[] = "GET / HTTP/1.0\r\n\r\n";
    ASSERT_EQ(::write(fd, text, sizeof text - 1), static_cast<ssize_t>(sizeof text - 1));
    pollfd p{fd, POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, 5000), 1);
    char buf[256];
    while (::read(fd, buf, sizeof buf) > 0) {
    }
    ::close(fd);
  }
  server.recorder.destroyServers();
  // Every server connection is gone, the refused and broken ones included.
  EXPECT_TRUE(waitCounts(idleCounts())) << server.recorder.eventText();
}

TEST(HostilePeer, ClientSurvivesBrokenServer) {
  shortTiming(500, 100);
  struct Case {
    std::string name;
    std::string input;
    std::string want;
  };
  std::vector<Case> cases = {
      {"zero-length frame", bytes({C_COMPLETE, C_MESG}) + be32(0) + be32(1), "C lost"},
      {"frame over the limit", bytes({C_COMPLETE, C_MESG}) + be32(0xFFFFFFFF) + be32(1), "C lost"},
      {"message before completion", bytes({C_MESG}) + be32(1) + be32(1) + bytes({1}), "C noconnect -10"},
      {"stops mid-message", bytes({C_COMPLETE, C_MESG}) + be32(100) + be32(1) + bytes({1}), "C lost"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RawTls peer;
    ASSERT_TRUE(peer.listen());
    Recorder client;
    Connection* conn = Connection::create("127.0.0.1", std::to_string(peer.port()).c_str(), nullptr, nullptr, 5);
    ASSERT_NE(conn, nullptr);
    conn->setListener(&client);
    (void)conn->connect();
    ASSERT_TRUE(peer.accept());
    ASSERT_TRUE(peer.write(c.input));
    EXPECT_TRUE(client.waitFor(c.want, 5000)) << client.eventText();
    EXPECT_TRUE(peer.readEnd());
    Connection::destroy(conn);
  }
  EXPECT_TRUE(waitCounts(idleCounts()));
}

TEST(HostilePeer, PeerThatNeverReadsIsDropped) {
  comsSettings().writeQueueLimit = 2 << 20;
  Server server;
  server.recorder.echo = false;
  ASSERT_TRUE(server.start());
  RawTls peer;
  ASSERT_TRUE(peer.connect(server.port));
  ASSERT_TRUE(peer.write(kHello));
  ASSERT_TRUE(server.recorder.waitFor("accepted 5"));
  Connection* s = server.recorder.servers().at(0);
  // The listener hears of the connection before it counts as connected: the
  // completion is written just after the callback returns.
  ASSERT_TRUE(eventually([&] { return s->isConnected(); }, 5000));
  std::string block(1 << 20, 'z');
  // The kernel's buffers take a few megabytes; past them the write queue
  // grows to its bound and the connection is dropped.
  int sent = 0;
  for (; sent < 200 && s->isConnected(); sent++) {
    if (s->send(makeMessage(1, bytes({14}) + be32(static_cast<uint32_t>(block.size())) + block)) != 0) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_LE(s->getPendingBytes(), (4 << 20) + (2 << 20));
  }
  EXPECT_TRUE(server.recorder.waitFor("S lost", 10000)) << "sent " << sent;
  EXPECT_LT(sent, 200);
}

TEST(HostilePeer, ProbeFloodWithoutReadingIsDropped) {
  // Every probe asks for a reply twice its size; a peer that sends them in
  // bulk and reads nothing fills the write queue while its own bytes are
  // still being parsed. The connection ends there, mid-read, cleanly.
  comsSettings().writeQueueLimit = 64 << 10;
  Server server;
  server.recorder.echo = false;
  ASSERT_TRUE(server.start());
  RawTls peer;
  ASSERT_TRUE(peer.connect(server.port));
  ASSERT_TRUE(peer.write(kHello));
  ASSERT_TRUE(server.recorder.waitFor("accepted 5"));
  std::string probes;
  for (int i = 0; i < 1800; i++) probes += bytes({C_GET_LD}) + be32(1) + be32(static_cast<uint32_t>(i));
  // 16 KB of probes per record, until the server gives up on us (or 64 MB).
  for (int i = 0; i < 4000 && peer.write(probes); i++) {
    if (server.recorder.count("S lost") > 0) break;
  }
  EXPECT_TRUE(server.recorder.waitFor("S lost", 10000)) << server.recorder.eventText();
  server.recorder.destroyServers();
  EXPECT_TRUE(waitCounts(idleCounts()));
}

}  // namespace
