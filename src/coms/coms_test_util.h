// Helpers for the communication tests: a recording listener on both sides,
// raw TLS peers driven byte by byte (with OpenSSL, blocking, every wait
// bounded), and message helpers. Test code only.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "coms/coms_settings.h"
#include "coms/coms_thread.h"
#include "coms/connection.h"
#include "coms/connector.h"
#include "coms/tls_util.h"
#include "foundation/log.h"
#include "foundation/properties.h"
#include "testing/test_util.h"
#include "wire/message.h"

namespace comstest {

// ORV_COMS_TEST_LOG=1 (or a level number) shows the coms log on standard
// output while a test runs.
inline const bool kVerbose = [] {
  const char* v = std::getenv("ORV_COMS_TEST_LOG");
  if (v == nullptr) return false;
  setLog(nullptr);
  _debug_coms = std::atoi(v) > 1 ? std::atoi(v) : LOG_DEBUG;
  return true;
}();

inline std::string bytes(std::initializer_list<int> list) {
  std::string s;
  for (int b : list) s.push_back(static_cast<char>(b));
  return s;
}

inline std::string be32(uint32_t v) {
  return bytes({static_cast<int>(v >> 24), static_cast<int>((v >> 16) & 0xFF), static_cast<int>((v >> 8) & 0xFF),
                static_cast<int>(v & 0xFF)});
}

// The payload of a message (the bytes after its 9-byte header).
inline std::string payloadOf(const Message* m) {
  std::string all;
  for (const MessageChunk* c = m->firstChunk(); c != nullptr; c = c->next) all.append(c->data, c->used);
  return all.size() >= Message::kHeaderSize ? all.substr(Message::kHeaderSize) : std::string();
}

// A message of `type` whose payload is `payload` (taken as items, unchanged).
inline Message* makeMessage(int type, const std::string& payload) {
  auto* m = new Message(type);
  if (!payload.empty()) (void)m->writeEncoded(payload.data(), payload.size());
  return m;
}

// Sets "coms_threads" for this process (before the first connection).
inline void setComsThreads(orvtest::TempDir& dir, int n) {
  std::string path = dir.file("orvanex.properties");
  orvtest::writeFile(path, "coms_threads: " + std::to_string(n) + "\n");
  s_setOrvanexPropertiesPath(path.c_str());
  (void)s_testOrvanexProperties(false, nullptr);
}

// Short timing for tests that wait for heartbeats or the lost timer.
inline void shortTiming(int lostMs, int heartbeatMs) {
  comsSettings().lostTimeMs = lostMs;
  comsSettings().heartbeatMs = heartbeatMs;
  comsSettings().loopMs = 200;
}

// Records what happens to connections, on both sides. Server connections
// are accepted unless their type is refused; their messages are echoed.
class Recorder : public ConnectionListener, public ConnectorListener, public LatencyListener {
 public:
  std::set<int> refused;
  bool echo = true;

  int onReceive(Connection* c, Message* m) override {
    std::string payload = payloadOf(m);
    {
      std::lock_guard<std::mutex> g(mu_);
      received_[c].push_back({m->getMessageType(), payload});
      events_.push_back(tag(c) + "receive " + std::to_string(m->getMessageType()));
    }
    cv_.notify_all();
    if (echo && c->isServer()) (void)c->send(makeMessage(m->getMessageType(), payload));
    return 0;
  }
  void onNoConnect(Connection* c, int error) override { add(tag(c) + "noconnect " + std::to_string(error)); }
  void onLost(Connection* c) override { add(tag(c) + "lost"); }
  void onClosed(Connection* c) override { add(tag(c) + "closed"); }
  void onConnectComplete(Connection* c) override { add(tag(c) + "complete"); }
  void onResolveComplete(Connection* c, int status, int) override {
    add(tag(c) + "resolved " + std::to_string(status));
  }
  bool newConnection(Connection* c, int type) override {
    if (refused.count(type) != 0) {
      add("refused " + std::to_string(type));
      return false;
    }
    c->setListener(this);
    {
      std::lock_guard<std::mutex> g(mu_);
      servers_.push_back(c);
    }
    add("accepted " + std::to_string(type));
    return true;
  }
  void onLatency(Connection* c, int latency, int drift) override {
    add(tag(c) + "latency " + std::to_string(latency >= 0 ? 1 : 0) + " " + std::to_string(std::abs(drift) < 1000));
  }

  // True when `event` was recorded within `ms`.
  bool waitFor(const std::string& event, int ms = 10000) {
    return waitUntil([&] { return countLocked(event) > 0; }, ms);
  }
  bool waitCount(const std::string& event, int n, int ms = 10000) {
    return waitUntil([&] { return countLocked(event) >= n; }, ms);
  }
  int count(const std::string& event) {
    std::lock_guard<std::mutex> g(mu_);
    return countLocked(event);
  }
  bool waitUntil(const std::function<bool()>& pred, int ms) {
    std::unique_lock<std::mutex> g(mu_);
    return cv_.wait_for(g, std::chrono::milliseconds(ms), pred);
  }
  std::vector<std::string> events() {
    std::lock_guard<std::mutex> g(mu_);
    return events_;
  }
  std::string eventText() {
    std::string s;
    for (const auto& e : events()) s += e + "; ";
    return s;
  }
  std::vector<Connection*> servers() {
    std::lock_guard<std::mutex> g(mu_);
    return servers_;
  }
  std::vector<std::pair<int, std::string>> received(Connection* c) {
    std::lock_guard<std::mutex> g(mu_);
    return received_[c];
  }
  void add(const std::string& e) {
    {
      std::lock_guard<std::mutex> g(mu_);
      events_.push_back(e);
    }
    cv_.notify_all();
  }
  // Destroys every accepted server connection.
  void destroyServers() {
    std::vector<Connection*> list;
    {
      std::lock_guard<std::mutex> g(mu_);
      list.swap(servers_);
    }
    for (Connection* c : list) Connection::destroy(c);
  }

 private:
  static std::string tag(Connection* c) { return c->isServer() ? "S " : "C "; }
  int countLocked(const std::string& event) {
    int n = 0;
    for (const auto& e : events_) n += e == event;
    return n;
  }
  std::mutex mu_;
  std::condition_variable cv_;
  std::vector<std::string> events_;
  std::vector<Connection*> servers_;
  std::map<Connection*, std::vector<std::pair<int, std::string>>> received_;
};

// Polls `pred` until it holds or `ms` pass (for state that no event
// announces).
inline bool eventually(const std::function<bool()>& pred, int ms = 5000) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!pred()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

// Waits (bounded) until the connection counts of the coms threads are `want`.
inline bool waitCounts(const std::vector<int>& want, int ms = 10000) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (comsContextCounts() != want) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

// The counts of coms threads that carry no connection: the first thread's
// bias and nothing on the others, however many threads earlier tests of
// the same process started.
inline std::vector<int> idleCounts() {
  std::vector<int> counts(std::max<size_t>(comsContextCounts().size(), 1), 0);
  counts[0] = ComsThreadContext::kFirstThreadBias;
  return counts;
}

// Every test starts with the default timing values and limits, whatever an
// earlier test of the same process set (a short lost time left behind
// would end a later test's quiet connections).
class ComsSettingsReset : public testing::EmptyTestEventListener {
 public:
  void OnTestStart(const testing::TestInfo&) override { comsSettings() = ComsSettings{}; }
};
inline const bool kComsSettingsResetInstalled = [] {
  testing::UnitTest::GetInstance()->listeners().Append(new ComsSettingsReset);
  return true;
}();

// One end of a raw TLS connection that a test drives byte by byte. Every
// read waits at most the given time.
class RawTls {
 public:
  ~RawTls() { close(); }

  // Client: connects to 127.0.0.1:port and completes the handshake.
  bool connect(int port, int timeoutMs = 5000) {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0) return false;
    setTimeouts(timeoutMs);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<uint16_t>(port));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd_, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) return false;
    ctx_ = SSL_CTX_new(TLS_client_method());
    SSL_CTX_set_max_proto_version(ctx_, TLS1_2_VERSION);
    ssl_ = SSL_new(ctx_);
    SSL_set_fd(ssl_, fd_);
    return SSL_connect(ssl_) == 1;
  }

  // Server: listens on a free port (see port()); accept() takes one client.
  bool listen() {
    lfd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(lfd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(lfd_, 8) != 0) return false;
    socklen_t len = sizeof a;
    ::getsockname(lfd_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    return true;
  }
  int port() const { return port_; }
  bool accept(int timeoutMs = 5000) {
    pollfd p{lfd_, POLLIN, 0};
    if (::poll(&p, 1, timeoutMs) != 1) return false;
    fd_ = ::accept4(lfd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd_ < 0) return false;
    setTimeouts(timeoutMs);
    X509* cert = nullptr;
    EVP_PKEY* key = nullptr;
    if (comsAnonymousPair(&cert, &key) != 0) return false;
    std::string error;
    ctx_ = comsServerContext(cert, key, &error);
    X509_free(cert);
    EVP_PKEY_free(key);
    if (ctx_ == nullptr) return false;
    ssl_ = SSL_new(ctx_);
    SSL_set_fd(ssl_, fd_);
    return SSL_accept(ssl_) == 1;
  }
  // Accepts a plain TCP connection without TLS.
  bool acceptPlain(int timeoutMs = 5000) {
    pollfd p{lfd_, POLLIN, 0};
    if (::poll(&p, 1, timeoutMs) != 1) return false;
    fd_ = ::accept4(lfd_, nullptr, nullptr, SOCK_CLOEXEC);
    return fd_ >= 0;
  }

  bool write(const std::string& data) {
    size_t done = 0;
    while (done < data.size()) {
      int r = SSL_write(ssl_, data.data() + done, static_cast<int>(data.size() - done));
      if (r <= 0) return false;
      done += static_cast<size_t>(r);
    }
    return true;
  }
  // One TLS record per byte, a little apart, so the reader sees every field
  // arrive in pieces.
  bool trickle(const std::string& data, int gapMs = 1) {
    for (char b : data) {
      if (!write(std::string(1, b))) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(gapMs));
    }
    return true;
  }
  // Exactly n bytes, or what arrived before the time-out / end.
  std::string read(size_t n) {
    std::string out;
    char buf[4096];
    while (out.size() < n) {
      int r = SSL_read(ssl_, buf, static_cast<int>(std::min(sizeof buf, n - out.size())));
      if (r <= 0) break;
      out.append(buf, static_cast<size_t>(r));
    }
    return out;
  }
  // True when the peer ended the connection (EOF or error) within the
  // socket time-out.
  bool readEnd() {
    char buf[4096];
    for (;;) {
      int r = SSL_read(ssl_, buf, sizeof buf);
      if (r > 0) continue;
      int e = SSL_get_error(ssl_, r);
      return e == SSL_ERROR_ZERO_RETURN || (e == SSL_ERROR_SYSCALL && errno != EAGAIN && errno != EWOULDBLOCK) ||
             e == SSL_ERROR_SSL;
    }
  }
  int fd() const { return fd_; }
  SSL* ssl() const { return ssl_; }

  void close() {
    if (ssl_ != nullptr) SSL_free(ssl_);
    if (ctx_ != nullptr) SSL_CTX_free(ctx_);
    if (fd_ >= 0) ::close(fd_);
    if (lfd_ >= 0) ::close(lfd_);
    ssl_ = nullptr;
    ctx_ = nullptr;
    fd_ = lfd_ = -1;
    ERR_clear_error();
  }

 private:
  void setTimeouts(int ms) {
    timeval tv{ms / 1000, (ms % 1000) * 1000};
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    ::setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
  }
  int fd_ = -1;
  int lfd_ = -1;
  int port_ = 0;
  SSL_CTX* ctx_ = nullptr;
  SSL* ssl_ = nullptr;
};

// A connector on a free port with its recorder.
struct Server {
  Recorder recorder;
  Connector* connector = nullptr;
  int port = 0;
  bool start(int serverVersion = 2) {
    connector = Connector::create(&recorder, nullptr, nullptr, serverVersion);
    if (connector == nullptr || connector->bind("0") != 0) return false;
    port = connector->getPort();
    return port > 0;
  }
  std::string service() const { return std::to_string(port); }
  ~Server() {
    if (connector != nullptr) Connector::destroy(connector);
    recorder.destroyServers();
  }
};

// A child process (openssl s_client/s_server, orvcoms) with pipes to its
// standard input and output; every read is bounded. Killed and reaped when
// the object goes.
class Child {
 public:
  ~Child() { stop(); }

  bool start(const std::vector<std::string>& args) {
    int in[2], out[2], err[2];
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    int rc = posix_spawnp(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(in[0]);
    ::close(out[1]);
    ::close(err[1]);
    in_ = in[1];
    out_ = out[0];
    err_ = err[0];
    return rc == 0;
  }
  bool write(const std::string& data) {
    return ::write(in_, data.data(), data.size()) == static_cast<ssize_t>(data.size());
  }
  void closeInput() {
    if (in_ >= 0) ::close(in_);
    in_ = -1;
  }
  // Exactly n bytes of standard output, or what came within `ms`.
  std::string read(size_t n, int ms = 10000) { return readFrom(out_, n, ms, ""); }
  // Standard output until `marker` appears (or `ms` pass).
  std::string readUntil(const std::string& marker, int ms = 10000) { return readFrom(out_, SIZE_MAX, ms, marker); }
  std::string readError(int ms = 2000) { return readFrom(err_, SIZE_MAX, ms, ""); }
  // The exit status (-1 when it does not end within `ms`).
  int wait(int ms = 10000) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (pid_ > 0) {
      int status = 0;
      pid_t r = ::waitpid(pid_, &status, WNOHANG);
      if (r == pid_) {
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      if (std::chrono::steady_clock::now() > deadline) return -1;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return -1;
  }
  void signal(int sig) {
    if (pid_ > 0) ::kill(pid_, sig);
  }
  void stop() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      (void)wait(5000);
    }
    closeInput();
    if (out_ >= 0) ::close(out_);
    if (err_ >= 0) ::close(err_);
    out_ = err_ = -1;
  }

 private:
  static std::string readFrom(int fd, size_t n, int ms, const std::string& marker) {
    std::string got;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (got.size() < n && (marker.empty() || got.find(marker) == std::string::npos)) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) break;
      pollfd p{fd, POLLIN, 0};
      if (::poll(&p, 1, static_cast<int>(left.count())) != 1) break;
      char buf[4096];
      ssize_t r = ::read(fd, buf, std::min(sizeof buf, n - got.size()));
      if (r <= 0) break;
      got.append(buf, static_cast<size_t>(r));
    }
    return got;
  }
  pid_t pid_ = -1;
  int in_ = -1;
  int out_ = -1;
  int err_ = -1;
};

// Waits until some process listens on TCP `port` (read from /proc/net/tcp
// and tcp6, so that the check costs the listener no connection).
inline bool waitListening(int port, int ms = 10000) {
  char want[16];
  std::snprintf(want, sizeof want, ":%04X ", port);
  return eventually(
      [&] {
        std::string table = orvtest::readFile("/proc/net/tcp") + orvtest::readFile("/proc/net/tcp6");
        for (size_t at = table.find(want); at != std::string::npos; at = table.find(want, at + 1)) {
          // local_address rem_address st: the state follows the remote address.
          size_t st = table.find(' ', table.find(' ', at + 1) + 1);
          if (st != std::string::npos && table.compare(st + 1, 2, "0A") == 0) return true;
        }
        return false;
      },
      ms);
}

// A port that was free a moment ago.
inline int freePort() {
  RawTls probe;
  if (!probe.listen()) return 0;
  return probe.port();
}

}  // namespace comstest
