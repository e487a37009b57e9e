// Blocking stream connections, their encoders, the flow limit and the file
// form of the encoding.
#include "coms/stream_connection.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <fstream>
#include <thread>

#include "coms/coms_test_util.h"
#include "coms/file_message.h"
#include "coms/stream_connector.h"
#include "coms/stream_message.h"
#include "model/any.h"
#include "wire/model_xlators.h"

using namespace comstest;

namespace {

// Accepts streams and runs `serve` on each, on a thread of its own.
class StreamServer : public StreamConnectorListener {
 public:
  std::function<void(StreamConnection&)> serve;
  X509* cert = nullptr;
  EVP_PKEY* key = nullptr;
  std::unique_ptr<StreamConnector> connector;

  bool start() {
    if (comsAnonymousPair(&cert, &key) != 0) return false;
    connector = std::make_unique<StreamConnector>(this, cert, key);
    return connector->isValid() && connector->bind("0") == 0;
  }
  std::string port() const { return std::to_string(connector->getPort()); }
  void onNewSocket(int socket, const char* peer) override {
    std::string address = peer;
    workers_.emplace_back([this, socket, address] {
      StreamConnection s(connector.get(), socket, address.c_str());
      if (s.isConnected() && serve) serve(s);
      done_++;
    });
  }
  bool waitDone(int n, int ms = 10000) { return eventually([&] { return done_.load() >= n; }, ms); }
  ~StreamServer() {
    if (connector) connector->close();
    for (auto& t : workers_) t.join();
    connector.reset();
    X509_free(cert);
    EVP_PKEY_free(key);
  }

 private:
  std::vector<std::thread> workers_;
  std::atomic<int> done_{0};
};

TEST(StreamConnection, ItemsBothWays) {
  registerModelXlators();
  StreamServer server;
  std::atomic<int> gotType{0};
  std::string gotText;
  size_t gotBytes = 0;
  std::atomic<int> step{0};
  std::atomic<int> error{0};
  server.serve = [&](StreamConnection& s) {
    int type = 0;
    if (s.input()->readInt32(type) != 0) return;
    step = 1;
    gotType = type;
    char* text = nullptr;
    if (s.input()->readString(text) != 0) return;
    gotText = text;
    MessageBase::freeString(text);
    step = 2;
    size_t n = 0;
    char* block = nullptr;
    if (s.input()->readBytes(n, block) != 0) return;
    gotBytes = n;
    bool same = true;
    for (size_t i = 0; i < n; i++) same = same && block[i] == static_cast<char>(i % 251);
    MessageBase::freeBytes(block);
    step = 3;
    Translatable* object = nullptr;
    if (s.input()->readObject(1000, &object) != 0 || object == nullptr) {
      error = s.input()->getError();
      return;
    }
    step = 4;
    int value = static_cast<Any*>(object)->getInt32();
    delete object;
    (void)s.output()->writeBool(same);
    (void)s.output()->writeInt32(value + 1);
  };
  ASSERT_TRUE(server.start());
  StreamConnection client("127.0.0.1", server.port().c_str(), nullptr, nullptr, 100);
  ASSERT_EQ(client.connect(), 0);
  EXPECT_FALSE(client.getCipher().empty());
  std::string text(100000, 't');
  std::string block;
  for (size_t i = 0; i < 200000; i++) block.push_back(static_cast<char>(i % 251));
  ASSERT_EQ(client.output()->writeString(text.c_str()), 0);
  ASSERT_EQ(client.output()->writeBytes(block.size(), block.data()), 0);
  Any any(41);
  ASSERT_EQ(client.output()->writeObject(1000, &any), 0);
  bool same = false;
  int answer = 0;
  ASSERT_EQ(client.input()->readBool(same), 0) << "server stopped after step " << step << ", error " << error;
  ASSERT_EQ(client.input()->readInt32(answer), 0);
  EXPECT_TRUE(same);
  EXPECT_EQ(answer, 42);
  ASSERT_TRUE(server.waitDone(1));
  EXPECT_EQ(gotType.load(), 100);
  EXPECT_EQ(gotText, text);
  EXPECT_EQ(gotBytes, block.size());
}

TEST(StreamConnection, ConnectFailures) {
  RawTls probe;
  ASSERT_TRUE(probe.listen());
  std::string closed = std::to_string(probe.port());
  probe.close();
  struct Case {
    const char* host;
    std::string service;
    int want;
  };
  std::vector<Case> cases = {
      {"no-such-host.invalid", "4000", -3},
      {"127.0.0.1", "no-such-service-name", -4},
      {"127.0.0.1", closed, -7},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.want);
    StreamConnection s(c.host, c.service.c_str(), nullptr, nullptr, 100);
    EXPECT_EQ(s.connect(), c.want);
    EXPECT_FALSE(s.isConnected());
    EXPECT_EQ(s.read(nullptr, 0), -1);
  }
}

TEST(StreamConnection, PeerThatStopsMidItemTimesOut) {
  comsSettings().streamTimeoutMs = 300;
  StreamServer server;
  std::atomic<int> result{0};
  std::atomic<int> error{0};
  server.serve = [&](StreamConnection& s) {
    int type = 0;
    (void)s.input()->readInt32(type);
    char* text = nullptr;
    result = s.input()->readString(text);
    error = s.input()->getError();
    MessageBase::freeString(text);
  };
  ASSERT_TRUE(server.start());
  StreamConnection client("127.0.0.1", server.port().c_str(), nullptr, nullptr, 100);
  ASSERT_EQ(client.connect(), 0);
  // A string of 1000 bytes of which 10 arrive.
  std::string partial = bytes({6}) + be32(1000) + std::string(10, 'x');
  ASSERT_EQ(client.writeBytes(partial.data(), static_cast<int>(partial.size())), static_cast<int>(partial.size()));
  auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(server.waitDone(1, 5000));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
  EXPECT_EQ(result.load(), -1);
  EXPECT_EQ(error.load(), MSG_ERR_INCOMPLETE);
}

TEST(StreamConnection, HugeLengthIsRefusedUnread) {
  StreamServer server;
  std::atomic<int> result{0};
  server.serve = [&](StreamConnection& s) {
    int type = 0;
    (void)s.input()->readInt32(type);
    size_t n = 0;
    char* block = nullptr;
    result = s.input()->readBytes(n, block);
    MessageBase::freeBytes(block);
  };
  ASSERT_TRUE(server.start());
  StreamConnection client("127.0.0.1", server.port().c_str(), nullptr, nullptr, 100);
  ASSERT_EQ(client.connect(), 0);
  std::string huge = bytes({14}) + be32(0xFFFFFFF0) + "abc";
  ASSERT_GT(client.writeBytes(huge.data(), static_cast<int>(huge.size())), 0);
  ASSERT_TRUE(server.waitDone(1, 5000));
  EXPECT_EQ(result.load(), -1);
}

TEST(StreamMessage, FlowLimit) {
  StreamServer server;
  std::atomic<long> received{0};
  server.serve = [&](StreamConnection& s) {
    char buf[4096];
    int r;
    while ((r = s.read(buf, sizeof buf)) > 0) received += r;
  };
  ASSERT_TRUE(server.start());
  StreamConnection client("127.0.0.1", server.port().c_str(), nullptr, nullptr, 100);
  ASSERT_EQ(client.connect(), 0);
  StreamMessage* out = client.output();
  out->setFlowLimit(80);
  EXPECT_DOUBLE_EQ(out->getSliceBudget(), 1000.0);
  std::string block(9995, 'b');  // 10000 bytes with its tag and length
  auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(out->writeBytes(block.size(), block.data()), 0);
  auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
  // 999 bytes per 100-ms slice: ten slices after the first.
  EXPECT_GE(took.count(), 850);
  EXPECT_LE(took.count(), 1600);

  out->setFlowLimit(0);
  start = std::chrono::steady_clock::now();
  ASSERT_EQ(out->writeBytes(block.size(), block.data()), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(200));

  out->setFlowLimit(-5);
  EXPECT_DOUBLE_EQ(out->getSliceBudget(), 12.5);
  out->setFlowLimit(0.01);  // under a byte per slice: still sends one
  start = std::chrono::steady_clock::now();
  ASSERT_EQ(out->writeInt32(7), 0);  // 5 bytes: five slices
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1000));
  client.shutdownWrite();
}

TEST(StreamConnector, BusyPortGivesUpAfterRetries) {
  comsSettings().bindRetries = 3;
  comsSettings().bindRetryMs = 20;
  StreamServer server;
  ASSERT_TRUE(server.start());
  StreamServer second;
  X509* cert = nullptr;
  EVP_PKEY* key = nullptr;
  ASSERT_EQ(comsAnonymousPair(&cert, &key), 0);
  StreamConnector other(&second, cert, key);
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(other.bind(server.port().c_str()), -1);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(40));
  X509_free(cert);
  EVP_PKEY_free(key);

  // A connector whose key does not match its certificate is not valid.
  X509* cert2 = nullptr;
  EVP_PKEY* key2 = nullptr;
  std::string error;
  ASSERT_EQ(comsMakeSelfSigned("T", "other", 2048, 3600, &cert2, &key2, &error), 0);
  StreamConnector mismatched(&second, server.cert, key2);
  EXPECT_FALSE(mismatched.isValid());
  X509_free(cert2);
  EVP_PKEY_free(key2);
}

TEST(FileMessage, SameBytesAsAMessage) {
  registerModelXlators();
  orvtest::TempDir dir;
  std::string path = dir.file("encoded");
  Any any("text");
  {
    FileMessage f(path.c_str(), MSG_MODE_WRITE);
    ASSERT_TRUE(f.isOpen());
    ASSERT_EQ(f.writeInt32(5), 0);
    ASSERT_EQ(f.writeString(std::string(70000, 's').c_str()), 0);
    ASSERT_EQ(f.writeObject(1000, &any), 0);
    ASSERT_EQ(f.close(), 0);
  }
  Message m(1);
  ASSERT_EQ(m.writeInt32(5), 0);
  ASSERT_EQ(m.writeString(std::string(70000, 's').c_str()), 0);
  ASSERT_EQ(m.writeObject(1000, &any), 0);
  EXPECT_EQ(orvtest::readFile(path), payloadOf(&m));

  FileMessage r(path.c_str(), MSG_MODE_READ);
  int n = 0;
  char* s = nullptr;
  Translatable* object = nullptr;
  ASSERT_EQ(r.readInt32(n), 0);
  ASSERT_EQ(r.readString(s), 0);
  ASSERT_EQ(r.readObject(1000, &object), 0);
  EXPECT_EQ(n, 5);
  EXPECT_EQ(std::strlen(s), 70000u);
  EXPECT_STREQ(static_cast<Any*>(object)->getString(), "text");
  MessageBase::freeString(s);
  delete object;
  EXPECT_NE(r.readInt32(n), 0);  // the end
  EXPECT_EQ(r.getError(), MSG_ERR_EOF);
}

TEST(FileMessage, WriteFailureIsReported) {
  FileMessage f("/dev/full", MSG_MODE_WRITE);
  ASSERT_TRUE(f.isOpen());
  std::string big(100000, 'x');
  (void)f.writeString(big.c_str());
  EXPECT_NE(f.close(), 0);
  FileMessage missing("/nonexistent/dir/file", MSG_MODE_READ);
  EXPECT_FALSE(missing.isOpen());
  int n = 0;
  EXPECT_NE(missing.readInt32(n), 0);
}

}  // namespace
