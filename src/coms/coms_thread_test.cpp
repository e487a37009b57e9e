// The coms threads: how many start, and how connections spread over them.
// comsInit runs once per process, so each case needs a process of its own
// (as CTest runs them); run together, all but the first are skipped.
#include "coms/coms_thread.h"

#include <gtest/gtest.h>

#include "coms/coms_test_util.h"
#include "runtime/daemon_thread.h"

using namespace comstest;

namespace {

#define REQUIRE_FRESH_PROCESS()                                                     \
  if (!comsContexts().empty()) GTEST_SKIP() << "coms threads already started here"

TEST(ComsThreads, PropertyIsBounded) {
  REQUIRE_FRESH_PROCESS();
  orvtest::TempDir dir;
  setComsThreads(dir, 40);
  Connection::comsInit();
  EXPECT_EQ(comsContexts().size(), 32u);
  EXPECT_STREQ(comsContexts()[31]->thread()->getName(), "coms-32");
  EXPECT_STREQ(comsContexts()[0]->thread()->getName(), "coms-1");
}

TEST(ComsThreads, NegativeCountStartsOne) {
  REQUIRE_FRESH_PROCESS();
  orvtest::TempDir dir;
  setComsThreads(dir, -3);
  Connection::comsInit();
  EXPECT_EQ(comsContexts().size(), 1u);
}

TEST(ComsThreads, ZeroStartsOne) {
  REQUIRE_FRESH_PROCESS();
  orvtest::TempDir dir;
  setComsThreads(dir, 0);
  Connection::comsInit();
  EXPECT_EQ(comsContexts().size(), 1u);
}

TEST(ComsThreads, FirstThreadIsBiased) {
  REQUIRE_FRESH_PROCESS();
  orvtest::TempDir dir;
  setComsThreads(dir, 2);
  std::vector<Connection*> made;
  for (int i = 0; i < 5; i++) {
    made.push_back(Connection::create("127.0.0.1", "1", nullptr, nullptr, 1));
    ASSERT_NE(made.back(), nullptr);
  }
  EXPECT_EQ(comsContextCounts(), (std::vector<int>{20, 5}));
  for (Connection* c : made) Connection::destroy(c);
  EXPECT_TRUE(waitCounts({20, 0}));
}

TEST(ComsThreads, TrafficSpreadsOverThreads) {
  REQUIRE_FRESH_PROCESS();
  orvtest::TempDir dir;
  setComsThreads(dir, 3);
  Server server;
  ASSERT_TRUE(server.start());
  Recorder client;
  std::vector<Connection*> clients;
  for (int i = 0; i < 12; i++) {
    Connection* c = Connection::create("127.0.0.1", server.service().c_str(), nullptr, nullptr, 5);
    ASSERT_NE(c, nullptr);
    c->setListener(&client);
    c->setTypeVersion(2);
    (void)c->connect();
    clients.push_back(c);
  }
  ASSERT_TRUE(client.waitCount("C complete", 12)) << client.eventText();
  // 12 clients and 12 server connections over the two unbiased threads.
  EXPECT_EQ(comsContextCounts(), (std::vector<int>{20, 12, 12}));
  for (Connection* c : clients) ASSERT_EQ(c->send(makeMessage(7, bytes({1, 1}))), 0);
  ASSERT_TRUE(client.waitCount("C receive 7", 12)) << client.eventText();
  for (Connection* c : clients) Connection::destroy(c);
  ASSERT_TRUE(server.recorder.waitCount("S lost", 12));
  server.recorder.destroyServers();
  EXPECT_TRUE(waitCounts({20, 0, 0}));
}

TEST(ComsThreads, TwoHundredConnectionsAtOnce) {
  REQUIRE_FRESH_PROCESS();
  orvtest::TempDir dir;
  setComsThreads(dir, 2);
  Server server;
  ASSERT_TRUE(server.start());
  Recorder client;
  constexpr int kConnections = 200;
  std::vector<Connection*> clients;
  for (int i = 0; i < kConnections; i++) {
    Connection* c = Connection::create("127.0.0.1", server.service().c_str(), nullptr, nullptr, 5);
    ASSERT_NE(c, nullptr);
    c->setListener(&client);
    c->setTypeVersion(2);
    clients.push_back(c);
  }
  for (Connection* c : clients) (void)c->connect();
  ASSERT_TRUE(client.waitCount("C complete", kConnections, 60000)) << client.count("C complete");
  EXPECT_EQ(server.recorder.count("accepted 5"), kConnections);
  for (Connection* c : clients) ASSERT_EQ(c->send(makeMessage(3, bytes({2, 0, 0, 0, 1}))), 0);
  ASSERT_TRUE(client.waitCount("C receive 3", kConnections, 30000)) << client.count("C receive 3");
  for (Connection* c : clients) Connection::destroy(c);
  ASSERT_TRUE(server.recorder.waitCount("S lost", kConnections, 30000));
  server.recorder.destroyServers();
  EXPECT_TRUE(waitCounts({20, 0}, 30000));
}

}  // namespace
