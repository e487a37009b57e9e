// The orvcoms tool against itself and against openssl s_client.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include "coms/coms_test_util.h"

using namespace comstest;

namespace {

std::string tool() { return std::string(ORV_BINARY_DIR) + "/bin/orvcoms"; }

#define REQUIRE_TOOL()                                                              \
  struct stat st_;                                                                  \
  if (::stat(tool().c_str(), &st_) != 0) GTEST_SKIP() << tool() << " is not built"

// Runs the tool to its end: the exit status, standard output and error.
struct ToolRun {
  int status = -1;
  std::string out;
  std::string err;
};
ToolRun run(const std::vector<std::string>& args) {
  Child child;
  std::vector<std::string> argv = {tool()};
  argv.insert(argv.end(), args.begin(), args.end());
  ToolRun r;
  if (!child.start(argv)) return r;
  child.closeInput();
  r.out = child.readUntil("\x01never", 30000);
  r.err = child.readError(1000);
  r.status = child.wait(30000);
  return r;
}

// `orvcoms listen 0` with its port.
struct Listener {
  Child child;
  int port = 0;
  bool start(const std::vector<std::string>& extra = {}) {
    std::vector<std::string> argv = {tool(), "listen", "0"};
    argv.insert(argv.end(), extra.begin(), extra.end());
    if (!child.start(argv)) return false;
    std::string line = child.readUntil("\n", 30000);
    size_t at = line.find("listening on port ");
    if (at == std::string::npos) return false;
    port = std::atoi(line.c_str() + at + 18);
    return port > 0;
  }
  std::string address() const { return "127.0.0.1:" + std::to_string(port); }
};

TEST(OrvcomsTool, ListenAnswersSClientPingAndSend) {
  REQUIRE_TOOL();
  Listener listener;
  ASSERT_TRUE(listener.start());

  // A peer we did not write says the hello.
  Child sclient;
  ASSERT_TRUE(sclient.start({"openssl", "s_client", "-connect", listener.address(), "-quiet"}));
  ASSERT_TRUE(sclient.write(bytes({C_TYPE2}) + be32(77) + bytes({0}) + be32(2)));
  EXPECT_EQ(sclient.read(5), bytes({C_COMPLETE2}) + be32(2));
  ASSERT_TRUE(sclient.write(bytes({C_CLOSE})));
  EXPECT_NE(sclient.wait(), -1);  // the listener ended the connection

  ToolRun pingRun = run({"ping", listener.address(), "--count", "2", "--interval", "50", "--type", "9"});
  EXPECT_EQ(pingRun.status, 0) << pingRun.out << pingRun.err;
  EXPECT_NE(pingRun.out.find("connected to " + listener.address() + " in "), std::string::npos) << pingRun.out;
  EXPECT_NE(pingRun.out.find("protocol TLSv1.2, cipher "), std::string::npos) << pingRun.out;
  EXPECT_NE(pingRun.out.find("server version 2"), std::string::npos) << pingRun.out;
  EXPECT_NE(pingRun.out.find("timing enabled: lost 20000 ms, heartbeat 4500 ms"), std::string::npos) << pingRun.out;
  EXPECT_NE(pingRun.out.find("probe 2: latency "), std::string::npos) << pingRun.out;

  orvtest::TempDir dir;
  orvtest::writeFile(dir.file("items"), bytes({2, 0, 0, 0, 42, 6, 0, 0, 0, 3}) + "abc");
  ToolRun sendRun = run({"send", listener.address(), dir.file("items"), "--message-type", "77"});
  EXPECT_EQ(sendRun.status, 0) << sendRun.out << sendRun.err;
  EXPECT_NE(sendRun.out.find("reply: message type 77, 13 bytes"), std::string::npos) << sendRun.out;
  EXPECT_NE(sendRun.out.find("int32 42"), std::string::npos) << sendRun.out;
  EXPECT_NE(sendRun.out.find("string \"abc\""), std::string::npos) << sendRun.out;

  listener.child.signal(SIGTERM);
  EXPECT_EQ(listener.child.wait(), 0);
}

TEST(OrvcomsTool, ListenWithCertificateFiles) {
  REQUIRE_TOOL();
  orvtest::TempDir dir;
  X509* cert = nullptr;
  EVP_PKEY* key = nullptr;
  std::string error;
  ASSERT_EQ(comsMakeSelfSigned("Test", "orvcoms-files", 2048, 3600, &cert, &key, &error), 0);
  ASSERT_TRUE(comsWritePem(dir.file("c.pem").c_str(), dir.file("k.pem").c_str(), cert, key, &error));
  X509_free(cert);
  EVP_PKEY_free(key);
  Listener listener;
  ASSERT_TRUE(listener.start({"--cert", dir.file("c.pem"), "--key", dir.file("k.pem"), "--server-version", "5"}));
  Recorder client;
  Connection* c = Connection::create("127.0.0.1", std::to_string(listener.port).c_str(), nullptr, nullptr, 3);
  ASSERT_NE(c, nullptr);
  c->setListener(&client);
  c->setTypeVersion(2);
  (void)c->connect();
  ASSERT_TRUE(client.waitFor("C complete")) << client.eventText();
  EXPECT_EQ(c->getServerVersion(), 5);
  EXPECT_NE(c->getConnectionInfo().find("orvcoms-files"), std::string::npos) << c->getConnectionInfo();
  Connection::destroy(c);
}

TEST(OrvcomsTool, PingAgainstSServer) {
  REQUIRE_TOOL();
  orvtest::TempDir dir;
  X509* cert = nullptr;
  EVP_PKEY* key = nullptr;
  std::string error;
  ASSERT_EQ(comsMakeSelfSigned("Test", "s_server", 2048, 3600, &cert, &key, &error), 0);
  ASSERT_TRUE(comsWritePem(dir.file("c.pem").c_str(), dir.file("k.pem").c_str(), cert, key, &error));
  X509_free(cert);
  EVP_PKEY_free(key);
  int port = freePort();
  Child server;
  ASSERT_TRUE(server.start({"openssl", "s_server", "-accept", std::to_string(port), "-cert", dir.file("c.pem"), "-key",
                            dir.file("k.pem"), "-quiet", "-naccept", "1"}));
  ASSERT_TRUE(waitListening(port));
  Child ping;
  ASSERT_TRUE(ping.start({tool(), "ping", "127.0.0.1:" + std::to_string(port), "--count", "1", "--type", "6"}));
  // The test plays the server's part through s_server.
  EXPECT_EQ(server.read(11), bytes({C_TYPE2}) + be32(6) + bytes({0}) + be32(2) + bytes({C_ENABLE_TIMING}));
  ASSERT_TRUE(server.write(bytes({C_COMPLETE2}) + be32(4) + bytes({C_ENABLE_TIMING})));
  EXPECT_EQ(server.read(9), bytes({C_SETTIMING}) + be32(20000) + be32(4500));
  std::string probe = server.read(9);
  ASSERT_EQ(probe.size(), 9u);
  ASSERT_EQ(probe[0], static_cast<char>(C_GET_LD));
  // Our clock is the client's: the reply shows no drift to speak of.
  timeval now;
  gettimeofday(&now, nullptr);
  ASSERT_TRUE(server.write(bytes({C_LD_REPLY}) + probe.substr(1) + be32(static_cast<uint32_t>(now.tv_sec)) +
                           be32(static_cast<uint32_t>(now.tv_usec))));
  std::string out = ping.readUntil("probe 1:", 10000) + ping.readUntil("\n", 2000);
  EXPECT_EQ(ping.wait(), 0) << out << ping.readError();
  EXPECT_NE(out.find("server version 4"), std::string::npos) << out;
  EXPECT_NE(out.find("probe 1: latency "), std::string::npos) << out;
}

TEST(OrvcomsTool, ErrorsAndUsage) {
  REQUIRE_TOOL();
  orvtest::TempDir dir;
  orvtest::writeFile(dir.file("broken"), bytes({6, 0, 0, 0, 9}) + "ab");
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string err;
  };
  std::vector<Case> cases = {
      {{"ping", "127.0.0.1:" + std::to_string(freePort())}, 1, "orvcoms: Connection refused\n"},
      {{"ping", "no-such-host.invalid:4000"}, 1, "orvcoms: No such host\n"},
      {{"send", "127.0.0.1:1", dir.file("missing")}, 1, "orvcoms: cannot open"},
      {{"send", "127.0.0.1:1", dir.file("broken")}, 1, "Incomplete message"},
      {{"ping", "nohostport"}, 1, "orvcoms: not HOST:PORT: nohostport"},
      {{}, 2, "usage:"},
      {{"frobnicate"}, 2, "unknown command frobnicate"},
      {{"ping", "a:1", "--count", "x"}, 2, "bad value for --count"},
      {{"ping", "a:1", "--bogus"}, 2, "unknown option --bogus"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.empty() ? "(none)" : c.args[0] + " " + (c.args.size() > 1 ? c.args[1] : ""));
    ToolRun r = run(c.args);
    EXPECT_EQ(r.status, c.status) << r.err;
    EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
  }
  ToolRun help = run({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("orvcoms listen PORT"), std::string::npos);
}

}  // namespace
