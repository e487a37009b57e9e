// The control protocol over real TLS against a raw peer that we drive byte
// by byte: every code in both directions, arriving in pieces.
#include <gtest/gtest.h>

#include "coms/coms_test_util.h"

using namespace comstest;

namespace {

// Reads one unit of `n` bytes that starts with `code`, skipping heartbeats
// that may arrive before it.
std::string readUnit(RawTls& peer, unsigned char code, size_t n) {
  for (int i = 0; i < 100; i++) {
    std::string first = peer.read(1);
    if (first.empty()) return "";
    if (static_cast<unsigned char>(first[0]) == C_HB && code != C_HB) continue;
    return first + peer.read(n - 1);
  }
  return "";
}

TEST(ControlProtocol, ServerTakesEveryCodeInPieces) {
  Server server;
  ASSERT_TRUE(server.start(2));
  RawTls peer;
  ASSERT_TRUE(peer.connect(server.port));
  ASSERT_TRUE(peer.trickle(bytes({C_TYPE2}) + be32(5) + bytes({1}) + be32(2)));
  EXPECT_EQ(readUnit(peer, C_COMPLETE2, 5), bytes({C_COMPLETE2}) + be32(2));
  ASSERT_TRUE(server.recorder.waitFor("accepted 5"));
  Connection* s = server.recorder.servers().at(0);
  EXPECT_EQ(s->getHelloFlag(), 1);

  ASSERT_TRUE(peer.trickle(bytes({C_ENABLE_TIMING})));
  EXPECT_EQ(readUnit(peer, C_ENABLE_TIMING, 1), bytes({C_ENABLE_TIMING}));
  ASSERT_TRUE(peer.trickle(bytes({C_SETTIMING}) + be32(30000) + be32(7000)));
  EXPECT_TRUE(eventually([&] { return s->getLostTimeMs() == 30000 && s->getHeartbeatMs() == 7000; },
                                        5000));

  ASSERT_TRUE(peer.trickle(bytes({C_GET_LD}) + be32(0x01020304) + be32(5)));
  std::string reply = readUnit(peer, C_LD_REPLY, 17);
  ASSERT_EQ(reply.size(), 17u);
  EXPECT_EQ(reply.substr(0, 9), bytes({C_LD_REPLY}) + be32(0x01020304) + be32(5));

  timeval now;
  gettimeofday(&now, nullptr);
  ASSERT_TRUE(peer.trickle(bytes({C_LD_REPLY}) + be32(static_cast<uint32_t>(now.tv_sec)) +
                           be32(static_cast<uint32_t>(now.tv_usec)) + be32(static_cast<uint32_t>(now.tv_sec)) +
                           be32(static_cast<uint32_t>(now.tv_usec))));
  EXPECT_TRUE(eventually([&] { return s->getLatency() >= 0; }, 5000));

  ASSERT_TRUE(peer.trickle(bytes({C_HB, 10, 11, 13, 29, 0, 200, C_HB})));
  std::string payload = bytes({2, 0, 0, 0, 7});
  ASSERT_TRUE(peer.trickle(bytes({C_MESG}) + be32(5) + be32(44) + payload));
  ASSERT_TRUE(server.recorder.waitFor("S receive 44")) << server.recorder.eventText();
  EXPECT_EQ(readUnit(peer, C_MESG, 14), bytes({C_MESG}) + be32(5) + be32(44) + payload);

  ASSERT_TRUE(peer.trickle(bytes({C_CLOSE})));
  ASSERT_TRUE(server.recorder.waitFor("S closed"));
  EXPECT_TRUE(peer.readEnd());
  EXPECT_FALSE(s->isConnected());
}

TEST(ControlProtocol, ClientTakesEveryCodeInPieces) {
  RawTls peer;
  ASSERT_TRUE(peer.listen());
  Recorder client;
  Connection* c = Connection::create("127.0.0.1", std::to_string(peer.port()).c_str(), nullptr, nullptr, 6);
  ASSERT_NE(c, nullptr);
  c->setListener(&client);
  c->setTypeVersion(3);
  c->setHelloFlag(4);
  c->setTiming(12345, 6789);  // kept for the negotiation (not connected yet)
  (void)c->connect();
  ASSERT_TRUE(peer.accept());
  EXPECT_EQ(peer.read(10), bytes({C_TYPE2}) + be32(6) + bytes({4}) + be32(3));
  EXPECT_EQ(peer.read(1), bytes({C_ENABLE_TIMING}));

  ASSERT_TRUE(peer.trickle(bytes({C_COMPLETE2}) + be32(11)));
  ASSERT_TRUE(client.waitFor("C complete"));
  EXPECT_EQ(c->getServerVersion(), 11);

  ASSERT_TRUE(peer.trickle(bytes({C_ENABLE_TIMING})));
  EXPECT_EQ(readUnit(peer, C_SETTIMING, 9), bytes({C_SETTIMING}) + be32(12345) + be32(6789));

  ASSERT_TRUE(peer.trickle(bytes({C_GET_LD}) + be32(77) + be32(88)));
  EXPECT_EQ(readUnit(peer, C_LD_REPLY, 17).substr(0, 9), bytes({C_LD_REPLY}) + be32(77) + be32(88));

  ASSERT_TRUE(peer.trickle(bytes({C_HB, 13, C_TYPE}) + be32(1) + bytes({0})));  // a hello to a client: ignored
  ASSERT_TRUE(peer.trickle(bytes({C_MESG}) + be32(2) + be32(0xFFFFFF) + bytes({1, 1})));
  ASSERT_TRUE(client.waitFor("C receive 16777215")) << client.eventText();
  ASSERT_TRUE(peer.trickle(bytes({C_AUTHFAIL, C_COMPLETE})));  // after completion: ignored
  ASSERT_TRUE(peer.trickle(bytes({C_CLOSE})));
  ASSERT_TRUE(client.waitFor("C closed")) << client.eventText();
  EXPECT_EQ(client.count("C noconnect -21"), 0);
  EXPECT_TRUE(peer.readEnd());
  Connection::destroy(c);
}

TEST(ControlProtocol, VersionZeroCompletion) {
  RawTls peer;
  ASSERT_TRUE(peer.listen());
  Recorder client;
  Connection* c = Connection::create("127.0.0.1", std::to_string(peer.port()).c_str(), nullptr, nullptr, 8);
  ASSERT_NE(c, nullptr);
  c->setListener(&client);
  (void)c->connect();
  ASSERT_TRUE(peer.accept());
  EXPECT_EQ(peer.read(6), bytes({C_TYPE}) + be32(8) + bytes({0}));
  ASSERT_TRUE(peer.trickle(bytes({C_COMPLETE})));
  ASSERT_TRUE(client.waitFor("C complete"));
  EXPECT_EQ(c->getServerVersion(), 0);
  Connection::destroy(c);
}

TEST(ControlProtocol, AuthFailFromServer) {
  RawTls peer;
  ASSERT_TRUE(peer.listen());
  Recorder client;
  Connection* c = Connection::create("127.0.0.1", std::to_string(peer.port()).c_str(), nullptr, nullptr, 8);
  ASSERT_NE(c, nullptr);
  c->setListener(&client);
  c->setTypeVersion(2);
  (void)c->connect();
  ASSERT_TRUE(peer.accept());
  EXPECT_EQ(peer.read(11).size(), 11u);
  ASSERT_TRUE(peer.write(bytes({C_AUTHFAIL})));
  ASSERT_TRUE(client.waitFor("C noconnect -21")) << client.eventText();
  EXPECT_TRUE(peer.readEnd());  // the client let go of the connection
  Connection::destroy(c);
}

TEST(ControlProtocol, HeartbeatsKeepQuietConnectionAlive) {
  // The lost period is long against the heartbeat so that a loaded machine
  // (a coms thread starved for a few hundred ms) does not fail the case.
  shortTiming(1200, 100);
  Server server;
  ASSERT_TRUE(server.start());
  Recorder client;
  Connection* c = Connection::create("127.0.0.1", server.service().c_str(), nullptr, nullptr, 5);
  ASSERT_NE(c, nullptr);
  c->setListener(&client);
  c->setTypeVersion(2);
  (void)c->connect();
  ASSERT_TRUE(client.waitFor("C complete"));
  // Two lost periods without a message.
  std::this_thread::sleep_for(std::chrono::milliseconds(2400));
  EXPECT_TRUE(c->isConnected());
  EXPECT_EQ(client.count("C lost"), 0) << client.eventText();
  EXPECT_EQ(server.recorder.count("S lost"), 0) << server.recorder.eventText();
  // Latency probes stand in for heartbeats when asked for.
  c->setLatencyProbe(true);
  c->setLatencyListener(&client);
  ASSERT_TRUE(client.waitCount("C latency 1 1", 2, 5000)) << client.eventText();
  Connection::destroy(c);
}

TEST(ControlProtocol, LostTimerEndsSilentConnections) {
  shortTiming(300, 100);
  // A server that completes the hello, then neither speaks nor listens.
  RawTls silent;
  ASSERT_TRUE(silent.listen());
  Recorder client;
  Connection* c = Connection::create("127.0.0.1", std::to_string(silent.port()).c_str(), nullptr, nullptr, 5);
  ASSERT_NE(c, nullptr);
  c->setListener(&client);
  (void)c->connect();
  ASSERT_TRUE(silent.accept());
  ASSERT_TRUE(silent.write(bytes({C_COMPLETE})));
  ASSERT_TRUE(client.waitFor("C complete"));
  EXPECT_TRUE(client.waitFor("C lost", 5000)) << client.eventText();
  Connection::destroy(c);

  // One that completes the TLS handshake but never the hello.
  RawTls mute;
  ASSERT_TRUE(mute.listen());
  Connection* c2 = Connection::create("127.0.0.1", std::to_string(mute.port()).c_str(), nullptr, nullptr, 5);
  ASSERT_NE(c2, nullptr);
  c2->setListener(&client);
  (void)c2->connect();
  ASSERT_TRUE(mute.accept());
  EXPECT_TRUE(client.waitFor("C noconnect -20", 5000)) << client.eventText();
  Connection::destroy(c2);

  // A client that says its hello and then nothing: the server ends it.
  Server server;
  ASSERT_TRUE(server.start());
  RawTls quiet;
  ASSERT_TRUE(quiet.connect(server.port));
  ASSERT_TRUE(quiet.write(bytes({C_TYPE}) + be32(5) + bytes({0})));
  EXPECT_TRUE(server.recorder.waitFor("S lost", 5000)) << server.recorder.eventText();
  EXPECT_TRUE(quiet.readEnd());
}

}  // namespace
