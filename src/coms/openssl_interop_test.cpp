// Interoperation with a TLS peer we did not write: openssl s_client and
// s_server carry the raw control bytes of the protocol.
#include <gtest/gtest.h>

#include "coms/coms_test_util.h"

using namespace comstest;

namespace {

TEST(OpensslInterop, SClientSaysHelloToConnector) {
  Server server;
  ASSERT_TRUE(server.start(2));
  Child client;
  ASSERT_TRUE(client.start({"openssl", "s_client", "-connect", "127.0.0.1:" + server.service(), "-quiet"}));
  ASSERT_TRUE(client.write(bytes({C_TYPE2}) + be32(5) + bytes({0}) + be32(2) + bytes({C_ENABLE_TIMING})));
  EXPECT_EQ(client.read(6), bytes({C_COMPLETE2}) + be32(2) + bytes({C_ENABLE_TIMING}));
  ASSERT_TRUE(server.recorder.waitFor("accepted 5"));
  // A message through s_client comes back echoed.
  std::string payload = bytes({6}) + be32(2) + "hi";
  ASSERT_TRUE(client.write(bytes({C_MESG}) + be32(static_cast<uint32_t>(payload.size())) + be32(21) + payload));
  std::string echo = client.read(9 + payload.size());
  // Heartbeats may come first; they are one byte each.
  while (!echo.empty() && echo[0] == C_HB) echo = echo.substr(1) + client.read(1);
  EXPECT_EQ(echo, bytes({C_MESG}) + be32(static_cast<uint32_t>(payload.size())) + be32(21) + payload);
  ASSERT_TRUE(client.write(bytes({C_CLOSE})));
  EXPECT_TRUE(server.recorder.waitFor("S closed"));
  client.closeInput();
  EXPECT_NE(client.wait(), -1);
}

TEST(OpensslInterop, SServerCompletesOurHello) {
  orvtest::TempDir dir;
  X509* cert = nullptr;
  EVP_PKEY* key = nullptr;
  std::string error;
  ASSERT_EQ(comsMakeSelfSigned("Test", "s_server", 2048, 3600, &cert, &key, &error), 0) << error;
  ASSERT_TRUE(comsWritePem(dir.file("cert.pem").c_str(), dir.file("key.pem").c_str(), cert, key, &error)) << error;
  X509_free(cert);
  EVP_PKEY_free(key);
  int port = freePort();
  Child server;
  ASSERT_TRUE(server.start({"openssl", "s_server", "-accept", std::to_string(port), "-cert", dir.file("cert.pem"),
                            "-key", dir.file("key.pem"), "-quiet", "-naccept", "1"}));
  // s_server says nothing when it is ready.
  ASSERT_TRUE(waitListening(port));
  Recorder client;
  Connection* c = Connection::create("127.0.0.1", std::to_string(port).c_str(), nullptr, nullptr, 4);
  ASSERT_NE(c, nullptr);
  c->setListener(&client);
  c->setTypeVersion(2);
  (void)c->connect();
  ASSERT_NE(c, nullptr) << client.eventText();
  EXPECT_EQ(server.read(11), bytes({C_TYPE2}) + be32(4) + bytes({0}) + be32(2) + bytes({C_ENABLE_TIMING}));
  ASSERT_TRUE(server.write(bytes({C_COMPLETE2}) + be32(3) + bytes({C_ENABLE_TIMING})));
  ASSERT_TRUE(client.waitFor("C complete")) << client.eventText();
  EXPECT_EQ(c->getServerVersion(), 3);
  // The client answers the timing request with its own values.
  EXPECT_EQ(server.read(9), bytes({C_SETTIMING}) + be32(20000) + be32(4500));
  ASSERT_TRUE(server.write(bytes({C_MESG}) + be32(5) + be32(12) + bytes({2, 0, 0, 0, 9})));
  ASSERT_TRUE(client.waitFor("C receive 12")) << client.eventText();
  ASSERT_TRUE(server.write(bytes({C_CLOSE})));
  ASSERT_TRUE(client.waitFor("C closed")) << client.eventText();
  Connection::destroy(c);
}

}  // namespace
