// Connections over real TLS on loopback: the hello both ways, messages,
// timing, latency, close, refusal and destruction.
#include "coms/connection.h"

#include <gtest/gtest.h>

#include <memory>

#include "coms/coms_error.h"
#include "coms/coms_test_util.h"
#include "wire/chunk_cache.h"

using namespace comstest;

namespace {

// A client connected to `server` with protocol version `version`; null when
// it did not complete within the bound.
Connection* connectClient(Server& server, Recorder& client, int type = 5, int version = 2,
                          const char* host = "127.0.0.1") {
  Connection* c = Connection::create(host, server.service().c_str(), nullptr, nullptr, type);
  if (c == nullptr) return nullptr;
  c->setListener(&client);
  c->setTypeVersion(version);
  (void)c->connect();
  if (!client.waitFor("C complete")) {
    Connection::destroy(c);
    return nullptr;
  }
  return c;
}

TEST(Connection, HandshakeHelloAndEcho) {
  Server server;
  ASSERT_TRUE(server.start(7));
  Recorder client;
  Connection* c = connectClient(server, client, 5, 2);
  ASSERT_NE(c, nullptr) << client.eventText();
  EXPECT_EQ(server.recorder.count("accepted 5"), 1);
  EXPECT_TRUE(c->isConnected());
  EXPECT_EQ(c->getServerVersion(), 7);
  EXPECT_EQ(c->getProtocol(), "TLSv1.2");
  EXPECT_FALSE(c->getCipher().empty());
  // The connector presents the anonymous login certificate here.
  EXPECT_NE(c->getConnectionInfo().find("LoginRequest"), std::string::npos) << c->getConnectionInfo();
  EXPECT_EQ(c->getPeerAddress(), "127.0.0.1");
  ASSERT_EQ(server.recorder.servers().size(), 1u);
  Connection* s = server.recorder.servers()[0];
  EXPECT_EQ(s->getType(), 5);
  EXPECT_EQ(s->getTypeVersion(), 2);
  EXPECT_NE(s->getConnectionInfo().find("LoginRequest"), std::string::npos);

  std::string payload = bytes({2, 0, 0, 0, 42});
  ASSERT_EQ(c->send(makeMessage(300, payload)), 0);
  ASSERT_TRUE(client.waitFor("C receive 300")) << client.eventText();
  auto got = client.received(c);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].second, payload);
  EXPECT_GT(c->getBytesSent(), 0);
  EXPECT_GT(c->getBytesReceived(), 0);
  // Timing was negotiated: the client told the server its values.
  EXPECT_TRUE(eventually([&] { return s->isTimingEnabled(); }, 5000));
  EXPECT_TRUE(c->isTimingEnabled());
  Connection::destroy(c);
}

TEST(Connection, LargeMessagesKeepTheirBytesAndOrder) {
  Server server;
  ASSERT_TRUE(server.start());
  Recorder client;
  Connection* c = connectClient(server, client);
  ASSERT_NE(c, nullptr);
  std::vector<std::string> payloads;
  // Bodies handed over without a copy (writeEncodedShared) are let go once
  // sent, on the coms thread.
  std::vector<std::weak_ptr<const std::string>> owners;
  struct Case {
    size_t size;
    bool shared;
  };
  const Case cases[] = {{5, false},     {20000, false}, {size_t{1} << 20, false}, {100, false},
                        {3000000, false}, {size_t{1} << 20, true}, {7, false}, {40000, true}};
  for (const Case& k : cases) {
    std::string p = bytes({14}) + be32(static_cast<uint32_t>(k.size));
    for (size_t i = 0; i < k.size; i++) p.push_back(static_cast<char>((i * 31 + k.size) & 0xFF));
    payloads.push_back(p);
    int type = static_cast<int>(payloads.size());
    if (!k.shared) {
      ASSERT_EQ(c->send(makeMessage(type, p)), 0);
      continue;
    }
    auto owner = std::make_shared<const std::string>(p);
    owners.push_back(owner);
    auto* m = new Message(type);
    ASSERT_EQ(m->writeEncodedShared(owner, owner->data(), owner->size()), 0);
    ASSERT_EQ(c->send(m), 0);
  }
  std::string last = "C receive " + std::to_string(payloads.size());
  ASSERT_TRUE(client.waitCount(last, 1, 20000)) << client.eventText();
  auto got = client.received(c);
  ASSERT_EQ(got.size(), payloads.size());
  for (size_t i = 0; i < got.size(); i++) {
    EXPECT_EQ(got[i].first, static_cast<int>(i + 1));
    EXPECT_TRUE(got[i].second == payloads[i]) << "message " << i;
  }
  EXPECT_TRUE(eventually([&] {
    for (auto& w : owners) {
      if (!w.expired()) return false;
    }
    return true;
  }));
  Connection::destroy(c);
}

// Far more records than one read turn takes, arriving at once: TLS reads
// ahead, so after the turn the rest waits inside the session, where no poll
// sees it. Every message must still arrive, in order.
TEST(Connection, RecordsBufferedInsideTlsAreAllRead) {
  Server server;
  server.recorder.echo = false;
  ASSERT_TRUE(server.start());
  RawTls peer;
  ASSERT_TRUE(peer.connect(server.port));
  int cork = 1;
  ASSERT_EQ(::setsockopt(peer.fd(), IPPROTO_TCP, TCP_CORK, &cork, sizeof cork), 0);
  constexpr int kRecords = 300;
  ASSERT_TRUE(peer.write(bytes({C_TYPE2}) + be32(5) + bytes({0}) + be32(2)));
  for (int i = 1; i <= kRecords; i++) {
    ASSERT_TRUE(peer.write(bytes({C_MESG}) + be32(5) + be32(static_cast<uint32_t>(i)) + bytes({2}) +
                           be32(static_cast<uint32_t>(i))));
  }
  cork = 0;
  ASSERT_EQ(::setsockopt(peer.fd(), IPPROTO_TCP, TCP_CORK, &cork, sizeof cork), 0);
  ASSERT_TRUE(server.recorder.waitFor("S receive " + std::to_string(kRecords))) << server.recorder.eventText();
  ASSERT_EQ(server.recorder.servers().size(), 1u);
  auto got = server.recorder.received(server.recorder.servers()[0]);
  ASSERT_EQ(got.size(), static_cast<size_t>(kRecords));
  for (int i = 0; i < kRecords; i++) EXPECT_EQ(got[static_cast<size_t>(i)].first, i + 1);
}

// The blocks of large messages wait in the chunk cache for the next one,
// and go back to the system once the connections have gone quiet: the coms
// threads trim the cache on every loop turn.
TEST(Connection, IdleMessageBlocksGoBackToTheSystem) {
  comsSettings().loopMs = 200;
  Server server;
  ASSERT_TRUE(server.start());
  Recorder client;
  Connection* c = connectClient(server, client);
  ASSERT_NE(c, nullptr);
  std::string p = bytes({14}) + be32(1 << 20) + std::string(1 << 20, 'i');
  ASSERT_EQ(c->send(makeMessage(9, p)), 0);  // echoed by the server
  ASSERT_TRUE(client.waitFor("C receive 9")) << client.eventText();
  EXPECT_TRUE(eventually([] { return ChunkCache::shared().idleBlocks() > 0; }));
  EXPECT_TRUE(eventually([] { return ChunkCache::shared().idleBytes() == 0; }, 15000))
      << ChunkCache::shared().idleBytes() << " bytes still idle";
  Connection::destroy(c);
}

// Records of large messages leave in socket writes of many records each.
// A peer slow to read fills the socket, so records wait in the write buffer
// (and, with more to send, in the write queue too). An ordinary OpenSSL
// reader still gets every frame whole and in order, then the close, although
// the connection was destroyed right after it was asked to close.
TEST(Connection, GatheredRecordsReachAPlainReaderBeforeTheClose) {
  const std::vector<std::vector<size_t>> cases = {
      // One message: with the socket full, its tail may wait in the write
      // buffer alone, the write queue empty.
      {200000}, {1000000}, {4200000}, {4400000},
      {size_t{1} << 20, 100, 3000000, 20000, size_t{1} << 20},
  };
  for (const std::vector<size_t>& sizes : cases) {
    SCOPED_TRACE("first size " + std::to_string(sizes[0]));
    RawTls peer;
    ASSERT_TRUE(peer.listen());
    Recorder client;
    Connection* c = Connection::create("127.0.0.1", std::to_string(peer.port()).c_str(), nullptr, nullptr, 5);
    ASSERT_NE(c, nullptr);
    c->setListener(&client);
    c->setTypeVersion(2);
    (void)c->connect();
    ASSERT_TRUE(peer.accept());
    int small = 32 * 1024;
    ASSERT_EQ(::setsockopt(peer.fd(), SOL_SOCKET, SO_RCVBUF, &small, sizeof small), 0);
    ASSERT_EQ(peer.read(11), bytes({C_TYPE2}) + be32(5) + bytes({0}) + be32(2) + bytes({C_ENABLE_TIMING}));
    ASSERT_TRUE(peer.write(bytes({C_COMPLETE2}) + be32(2)));
    ASSERT_TRUE(client.waitFor("C complete")) << client.eventText();

    std::vector<std::string> payloads;
    for (size_t size : sizes) {
      std::string p = bytes({14}) + be32(static_cast<uint32_t>(size));
      for (size_t i = 0; i < size; i++) p.push_back(static_cast<char>((i * 7 + size) & 0xFF));
      payloads.push_back(p);
      int type = static_cast<int>(payloads.size());
      if (type == 1) {
        auto owner = std::make_shared<const std::string>(p);
        auto* m = new Message(type);
        ASSERT_EQ(m->writeEncodedShared(owner, owner->data(), owner->size()), 0);
        ASSERT_EQ(c->send(m), 0);
      } else {
        ASSERT_EQ(c->send(makeMessage(type, p)), 0);
      }
    }
    c->close();
    Connection::destroy(c);
    // Nothing is read for a while: the kernel's buffers fill up behind us.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    size_t next = 0;
    for (;;) {
      std::string code = peer.read(1);
      ASSERT_EQ(code.size(), 1u) << "the stream ended after " << next << " messages";
      if (code[0] == C_HB) continue;
      if (code[0] == C_CLOSE) break;
      ASSERT_EQ(code[0], C_MESG);
      ASSERT_LT(next, payloads.size());
      std::string header = peer.read(8);
      ASSERT_EQ(header, be32(static_cast<uint32_t>(payloads[next].size())) + be32(static_cast<uint32_t>(next + 1)));
      std::string body = peer.read(payloads[next].size());
      ASSERT_TRUE(body == payloads[next]) << "message " << next + 1 << " differs";
      next++;
    }
    EXPECT_EQ(next, payloads.size());
    EXPECT_TRUE(peer.readEnd());
  }
}

// The large write buffer is kept only while large messages flow: a quiet
// connection gives it back on a heartbeat.
TEST(Connection, LargeWriteBufferIsGivenBackWhenQuiet) {
  shortTiming(5000, 1000);
  Server server;
  ASSERT_TRUE(server.start());
  Recorder client;
  Connection* c = connectClient(server, client);
  ASSERT_NE(c, nullptr);
  const long small = c->getWriteBufferSize();
  EXPECT_GT(small, 0);
  ASSERT_EQ(c->send(makeMessage(9, bytes({2, 0, 0, 0, 1}))), 0);
  ASSERT_TRUE(client.waitFor("C receive 9")) << client.eventText();
  EXPECT_EQ(c->getWriteBufferSize(), small) << "small messages only";
  std::string p = bytes({14}) + be32(1 << 20) + std::string(1 << 20, 'q');
  ASSERT_EQ(c->send(makeMessage(10, p)), 0);
  // Raised for the message, and kept for at least a heartbeat period.
  EXPECT_TRUE(eventually([&] { return c->getWriteBufferSize() > small; }, 900));
  ASSERT_TRUE(client.waitFor("C receive 10")) << client.eventText();
  EXPECT_TRUE(eventually([&] { return c->getWriteBufferSize() == small; }, 10000)) << c->getWriteBufferSize();
  auto got = client.received(c);
  ASSERT_EQ(got.size(), 2u);
  EXPECT_TRUE(got[1].second == p);
  Connection::destroy(c);
}

TEST(Connection, VersionZeroSuffixSendsPlainHello) {
  Server server;
  ASSERT_TRUE(server.start(7));
  Recorder client;
  Connection* c = connectClient(server, client, 9, 2, "127.0.0.1:v0");
  ASSERT_NE(c, nullptr) << client.eventText();
  EXPECT_EQ(c->getHost(), "127.0.0.1");
  EXPECT_STREQ(c->getName(), ("C-127.0.0.1:" + server.service()).c_str());
  EXPECT_EQ(c->getServerVersion(), 0);  // C_COMPLETE, not C_COMPLETE2
  ASSERT_EQ(server.recorder.servers().size(), 1u);
  EXPECT_EQ(server.recorder.servers()[0]->getTypeVersion(), 0);
  Connection::destroy(c);
}

TEST(Connection, RefusedTypeIsAuthenticationFailure) {
  Server server;
  server.recorder.refused.insert(99);
  ASSERT_TRUE(server.start());
  Recorder client;
  Connection* c = Connection::create("127.0.0.1", server.service().c_str(), nullptr, nullptr, 99);
  ASSERT_NE(c, nullptr);
  c->setListener(&client);
  c->setTypeVersion(2);
  (void)c->connect();
  ASSERT_TRUE(client.waitFor("C noconnect -21")) << client.eventText();
  EXPECT_EQ(server.recorder.count("refused 99"), 1);
  EXPECT_STREQ(Connection::messageFromError(-21), "Authentication failure");
  Connection::destroy(c);
  // The refused server connection destroyed itself: only the bias is left.
  EXPECT_TRUE(waitCounts(idleCounts()));
  // One end report only.
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(client.events().size(), 2u) << client.eventText();
}

TEST(Connection, SendBeforeCompletionIsRefused) {
  Server server;
  ASSERT_TRUE(server.start());
  Recorder client;
  Connection* c = Connection::create("127.0.0.1", server.service().c_str(), nullptr, nullptr, 5);
  ASSERT_NE(c, nullptr);
  c->setListener(&client);
  EXPECT_EQ(c->send(makeMessage(1, bytes({1, 1}))), -10);
  EXPECT_STREQ(Connection::messageFromError(-10), "Not Connected (lost or closed)");
  (void)c->connect();
  ASSERT_TRUE(client.waitFor("C complete"));
  EXPECT_EQ(c->send(new Message(3)), -12);  // no payload: never framed
  Connection::destroy(c);
}

TEST(Connection, CloseReachesThePeer) {
  Server server;
  ASSERT_TRUE(server.start());
  Recorder client;
  Connection* c = connectClient(server, client);
  ASSERT_NE(c, nullptr);
  ASSERT_EQ(c->send(makeMessage(11, bytes({1, 1}))), 0);
  c->close();
  ASSERT_TRUE(server.recorder.waitFor("S closed")) << server.recorder.eventText();
  // The message queued before the close went out before it.
  EXPECT_EQ(server.recorder.count("S receive 11"), 1);
  EXPECT_TRUE(c->isClosing());
  EXPECT_EQ(c->send(makeMessage(1, bytes({1, 1}))), -10);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(client.count("C lost"), 0) << client.eventText();
  Connection::destroy(c);
  server.recorder.destroyServers();
  EXPECT_TRUE(waitCounts(idleCounts()));
}

TEST(Connection, DestroyWaitsForLocks) {
  Server server;
  ASSERT_TRUE(server.start());
  Recorder client;
  Connection* c = connectClient(server, client);
  ASSERT_NE(c, nullptr);
  std::vector<int> before = comsContextCounts();
  c->addLock();
  c->addLock();
  Connection::destroy(c);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(comsContextCounts(), before) << "deleted while locked";
  c->removeLock();
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(comsContextCounts(), before) << "deleted while locked";
  c->removeLock();  // the last lock destroys it
  // One connection fewer on the thread that carried it (whichever of the
  // process's coms threads that was).
  EXPECT_TRUE(eventually(
      [&] {
        std::vector<int> now = comsContextCounts();
        if (now.size() != before.size()) return false;
        int dropped = 0;
        for (size_t i = 0; i < now.size(); i++) {
          if (now[i] == before[i] - 1) {
            dropped++;
          } else if (now[i] != before[i]) {
            return false;
          }
        }
        return dropped == 1;
      },
      10000));
  // The peer saw the connection go.
  ASSERT_TRUE(server.recorder.waitFor("S lost")) << server.recorder.eventText();
}

TEST(Connection, LatencyProbeMeasures) {
  Server server;
  ASSERT_TRUE(server.start());
  Recorder client;
  Connection* c = connectClient(server, client);
  ASSERT_NE(c, nullptr);
  c->setLatencyListener(&client);
  EXPECT_EQ(c->getLatency(), -1);
  c->sendLatencyProbe();
  ASSERT_TRUE(client.waitFor("C latency 1 1")) << client.eventText();
  EXPECT_GE(c->getLatency(), 0);
  Connection::destroy(c);
}

TEST(Connection, ConnectFailuresAreReported) {
  Recorder client;
  struct Case {
    const char* host;
    std::string service;
    std::string want;
  };
  // A port nobody listens on: bind one, then let it go.
  RawTls probe;
  ASSERT_TRUE(probe.listen());
  std::string closedPort = std::to_string(probe.port());
  probe.close();
  std::vector<Case> cases = {
      {"127.0.0.1", closedPort, "C noconnect -8"},
      {"no-such-host.invalid", "4000", "C noconnect -3"},
      {"127.0.0.1", "no-such-service-name", "C noconnect -4"},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.want);
    Connection* c = Connection::create(k.host, k.service.c_str(), nullptr, nullptr, 1);
    ASSERT_NE(c, nullptr);
    c->setListener(&client);
    (void)c->connect();
    EXPECT_TRUE(client.waitFor(k.want)) << client.eventText();
    Connection::destroy(c);
  }
  EXPECT_EQ(Connection::create(nullptr, "1", nullptr, nullptr, 1), nullptr);
  EXPECT_TRUE(waitCounts(idleCounts()));
}

TEST(Connection, BusyPortGivesUpAfterRetries) {
  comsSettings().bindRetries = 3;
  comsSettings().bindRetryMs = 20;
  Server first;
  ASSERT_TRUE(first.start());
  Recorder other;
  Connector* second = Connector::create(&other, nullptr, nullptr, 2);
  ASSERT_NE(second, nullptr);
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(second->bind(first.service().c_str()), -1);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(40));
  EXPECT_EQ(second->bind("no-such-service-name"), -1);
  Connector::destroy(second);
}

TEST(Connection, MessageTextsAndModeNames) {
  EXPECT_STREQ(Connection::messageFromError(-1), "Connection refused by server");
  EXPECT_STREQ(Connection::messageFromError(-20), "Server did not complete handshake in a timely fashion");
  EXPECT_STREQ(Connection::messageFromError(-23), "No route to host");
  EXPECT_STREQ(Connection::messageFromError(-24), "");
  EXPECT_STREQ(Connection::messageFromError(0), "");
  EXPECT_STREQ(Connection::modeName(SM_WRITE), "SM_WRITE");
  EXPECT_STREQ(Connection::modeName(9), "unknown");
}

}  // namespace
