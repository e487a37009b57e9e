// orvcoms: talks the agent connection protocol, for people who run agents.
//   orvcoms listen PORT      a connector that accepts every type and echoes
//   orvcoms ping HOST:PORT   connect, hello, timing, latency probes
//   orvcoms send HOST:PORT FILE   one message out, its reply printed
// Errors print the connection layer's own texts and exit 1; bad usage exits 2.
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "coms/coms_settings.h"
#include "coms/connection.h"
#include "coms/connector.h"
#include "coms/tls_util.h"
#include "foundation/log.h"
#include "foundation/os_init.h"
#include "foundation/os_info.h"
#include "wire/message.h"
#include "wire/message_dump.h"
#include "wire/model_xlators.h"

namespace {

const char kUsage[] =
    "usage: orvcoms listen PORT [--cert FILE --key FILE] [--server-version N] [--verbose]\n"
    "       orvcoms ping HOST:PORT [--type N] [--version N] [--count K] [--interval MS]\n"
    "                              [--cert FILE --key FILE] [--verbose]\n"
    "       orvcoms send HOST:PORT FILE [--type N] [--message-type N] [--timeout MS]\n"
    "                              [--cert FILE --key FILE] [--verbose]\n"
    "\n"
    "Speaks the TLS connection protocol of the agents and servers.\n"
    "\n"
    "  listen   accepts connections on PORT (0: any free port, printed) with the\n"
    "           certificate and key of the PEM files, or a self-signed pair made\n"
    "           at start; takes the hello of every connection type and answers\n"
    "           every message with a message of the same type and payload. Runs\n"
    "           until interrupted.\n"
    "  ping     connects, completes the hello, has timing enabled, sends K\n"
    "           latency probes (default 4, one per interval, default 1000 ms) and\n"
    "           prints the handshake time, protocol, cipher, server version and\n"
    "           each probe's latency and clock drift.\n"
    "  send     sends one message whose payload is the encoded items of FILE (as\n"
    "           orvwire dump reads them) and prints the reply as orvwire does.\n"
    "\n"
    "  --type N           connection type of the hello (default 1)\n"
    "  --version N        protocol version of the hello (default 2; 0 sends C_TYPE)\n"
    "  --message-type N   type of the message sent (default 1)\n"
    "  --timeout MS       wait for the reply (default 30000)\n"
    "  --cert, --key      PEM files of this end's certificate and private key\n"
    "  --verbose          the connection log on standard output\n"
    "  --help             this text\n"
    "\n"
    "Exit status: 0 done, 1 the work failed, 2 bad usage.\n";

int usage(const char* problem) {
  if (problem != nullptr) std::fprintf(stderr, "orvcoms: %s\n", problem);
  std::fputs(kUsage, stderr);
  return 2;
}

struct Options {
  std::vector<std::string> positional;
  std::string cert;
  std::string key;
  int type = 1;
  int version = 2;
  int messageType = 1;
  int count = 4;
  int intervalMs = 1000;
  int timeoutMs = 30000;
  int serverVersion = 2;
  bool verbose = false;
};

bool parseInt(const std::string& text, int* out) {
  char* end = nullptr;
  errno = 0;
  long v = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || errno != 0 || v < -2147483647L || v > 2147483647L) return false;
  *out = static_cast<int>(v);
  return true;
}

// Splits "host:port" at its last colon.
bool splitAddress(const std::string& address, std::string* host, std::string* port) {
  size_t colon = address.rfind(':');
  if (colon == std::string::npos || colon == 0 || colon + 1 == address.size()) return false;
  *host = address.substr(0, colon);
  *port = address.substr(colon + 1);
  return true;
}

// This end's pair: from the files, or none (null, null).
bool loadPair(const Options& o, X509** cert, EVP_PKEY** key) {
  *cert = nullptr;
  *key = nullptr;
  if (o.cert.empty() && o.key.empty()) return true;
  if (o.cert.empty() || o.key.empty()) {
    std::fprintf(stderr, "orvcoms: --cert and --key go together\n");
    return false;
  }
  std::string error;
  *cert = comsReadCertificate(o.cert.c_str(), &error);
  if (*cert != nullptr) *key = comsReadPrivateKey(o.key.c_str(), &error);
  if (*cert == nullptr || *key == nullptr) {
    std::fprintf(stderr, "orvcoms: %s\n", error.c_str());
    return false;
  }
  return true;
}

// ---------------------------------------------------------------------------
// listen

class Echo : public ConnectionListener, public ConnectorListener {
 public:
  explicit Echo(bool verbose) : verbose_(verbose) {}
  bool newConnection(Connection* c, int type) override {
    c->setListener(this);
    if (verbose_) std::printf("%s: hello, type %d, version %d\n", c->getName(), type, c->getTypeVersion());
    return true;
  }
  int onReceive(Connection* c, Message* m) override {
    // The payload goes back unchanged under the same message type.
    auto* reply = new Message(m->getMessageType());
    for (const MessageChunk* k = m->firstChunk(); k != nullptr; k = k->next) {
      size_t skip = k->start < Message::kHeaderSize ? Message::kHeaderSize - k->start : 0;
      if (skip < k->used) (void)reply->writeEncoded(k->data + skip, k->used - skip);
    }
    (void)c->send(reply);
    return 0;
  }
  void onNoConnect(Connection* c, int) override { Connection::destroy(c); }
  void onLost(Connection* c) override { Connection::destroy(c); }
  void onClosed(Connection* c) override { Connection::destroy(c); }
  void onConnectComplete(Connection*) override {}

 private:
  bool verbose_;
};

int listenCommand(const Options& o) {
  if (o.positional.size() != 2) return usage("listen takes one PORT");
  // The signals are taken by this thread only (blocked before any thread
  // starts, so the coms threads inherit the mask).
  sigset_t stop;
  sigemptyset(&stop);
  sigaddset(&stop, SIGINT);
  sigaddset(&stop, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stop, nullptr);
  X509* cert = nullptr;
  EVP_PKEY* key = nullptr;
  if (!loadPair(o, &cert, &key)) return 1;
  if (cert == nullptr) {
    char host[256] = "localhost";
    (void)s_gethostname(host, sizeof host);
    std::string error;
    if (comsMakeSelfSigned("orvcoms", host, 2048, 365L * 24 * 3600, &cert, &key, &error) != 0) {
      std::fprintf(stderr, "orvcoms: %s\n", error.c_str());
      return 1;
    }
  }
  Echo echo(o.verbose);
  Connector* connector = Connector::create(&echo, cert, key, o.serverVersion);
  if (connector == nullptr) {
    std::fprintf(stderr, "orvcoms: %s\n", Connection::messageFromError(-5));
    return 1;
  }
  if (connector->bind(o.positional[1].c_str()) != 0) {
    std::fprintf(stderr, "orvcoms: unable to listen on port %s\n", o.positional[1].c_str());
    return 1;
  }
  std::printf("listening on port %d\n", connector->getPort());
  std::fflush(stdout);
  int sig = 0;
  sigwait(&stop, &sig);
  Connector::destroy(connector);
  std::fflush(stdout);
  // The coms threads run on; nothing of theirs needs to outlive the process.
  _exit(0);
}

// ---------------------------------------------------------------------------
// The client side of ping and send

class Client : public ConnectionListener, public LatencyListener {
 public:
  int onReceive(Connection*, Message* m) override {
    std::lock_guard<std::mutex> g(mu_);
    reply_.reset(m);
    cv_.notify_all();
    return 1;  // kept
  }
  void onNoConnect(Connection*, int error) override { finish(error); }
  void onLost(Connection*) override { finish(-10); }
  void onClosed(Connection*) override { finish(-10); }
  void onConnectComplete(Connection*) override {
    std::lock_guard<std::mutex> g(mu_);
    complete_ = true;
    cv_.notify_all();
  }
  void onLatency(Connection*, int latency, int drift) override {
    std::lock_guard<std::mutex> g(mu_);
    probes_.push_back({latency, drift});
    cv_.notify_all();
  }

  // 0 when complete, else the error, within `ms`.
  int waitComplete(int ms) {
    std::unique_lock<std::mutex> g(mu_);
    if (!cv_.wait_for(g, std::chrono::milliseconds(ms), [&] { return complete_ || error_ != 0; })) return -20;
    return complete_ ? 0 : error_;
  }
  // The reply, or null with *error set.
  std::unique_ptr<Message> waitReply(int ms, int* error) {
    std::unique_lock<std::mutex> g(mu_);
    cv_.wait_for(g, std::chrono::milliseconds(ms), [&] { return reply_ != nullptr || error_ != 0; });
    *error = error_ != 0 ? error_ : -12;
    return std::move(reply_);
  }
  bool waitProbe(size_t n, int ms, std::pair<int, int>* out) {
    std::unique_lock<std::mutex> g(mu_);
    if (!cv_.wait_for(g, std::chrono::milliseconds(ms), [&] { return probes_.size() >= n || error_ != 0; }) ||
        probes_.size() < n) {
      return false;
    }
    *out = probes_[n - 1];
    return true;
  }
  int error() {
    std::lock_guard<std::mutex> g(mu_);
    return error_;
  }

 private:
  void finish(int error) {
    std::lock_guard<std::mutex> g(mu_);
    if (error_ == 0) error_ = error;
    cv_.notify_all();
  }
  std::mutex mu_;
  std::condition_variable cv_;
  bool complete_ = false;
  int error_ = 0;
  std::unique_ptr<Message> reply_;
  std::vector<std::pair<int, int>> probes_;
};

int fail(int error) {
  const char* text = Connection::messageFromError(error);
  std::fprintf(stderr, "orvcoms: %s\n", *text != '\0' ? text : "failed");
  return 1;
}

// Connects and waits for the hello's completion: the connection, or null
// after printing the error.
Connection* open(const Options& o, Client* client, double* handshakeMs) {
  std::string host, port;
  if (!splitAddress(o.positional[1], &host, &port)) {
    std::fprintf(stderr, "orvcoms: not HOST:PORT: %s\n", o.positional[1].c_str());
    return nullptr;
  }
  X509* cert = nullptr;
  EVP_PKEY* key = nullptr;
  if (!loadPair(o, &cert, &key)) return nullptr;
  if (key == nullptr) {
    // The anonymous login pair is made before the clock starts: its key
    // generation is no part of the handshake.
    X509* anonCert = nullptr;
    EVP_PKEY* anonKey = nullptr;
    if (comsAnonymousPair(&anonCert, &anonKey) != 0) {
      (void)fail(-6);
      return nullptr;
    }
    X509_free(anonCert);
    EVP_PKEY_free(anonKey);
  }
  Connection* c = Connection::create(host.c_str(), port.c_str(), cert, key, o.type);
  if (c == nullptr) {
    (void)fail(-7);
    return nullptr;
  }
  c->setListener(client);
  c->setLatencyListener(client);
  c->setTypeVersion(o.version);
  auto start = std::chrono::steady_clock::now();
  (void)c->connect();
  int rc = client->waitComplete(o.timeoutMs);
  *handshakeMs =
      std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start).count() / 1000.0;
  if (rc != 0) {
    (void)fail(rc);
    Connection::destroy(c);
    return nullptr;
  }
  return c;
}

int pingCommand(const Options& o) {
  if (o.positional.size() != 2) return usage("ping takes one HOST:PORT");
  Client client;
  double handshakeMs = 0;
  Connection* c = open(o, &client, &handshakeMs);
  if (c == nullptr) return 1;
  std::printf("connected to %s in %.1f ms\n", o.positional[1].c_str(), handshakeMs);
  std::printf("protocol %s, cipher %s\n", c->getProtocol().c_str(), c->getCipher().c_str());
  std::printf("server version %d\n", c->getServerVersion());
  std::fflush(stdout);
  // The hello asked for timing; the server's echo enables it.
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(o.timeoutMs);
  while (!c->isTimingEnabled() && client.error() == 0 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  if (!c->isTimingEnabled()) {
    Connection::destroy(c);
    return fail(client.error() != 0 ? client.error() : -20);
  }
  std::printf("timing enabled: lost %d ms, heartbeat %d ms\n", c->getLostTimeMs(), c->getHeartbeatMs());
  std::fflush(stdout);
  int status = 0;
  if (o.version == 0) {
    std::printf("no latency probes: protocol version 0\n");
    c->close();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    Connection::destroy(c);
    return 0;
  }
  for (int i = 1; i <= o.count; i++) {
    if (i > 1) std::this_thread::sleep_for(std::chrono::milliseconds(o.intervalMs));
    c->sendLatencyProbe();
    std::pair<int, int> probe;
    if (!client.waitProbe(static_cast<size_t>(i), o.timeoutMs, &probe)) {
      status = fail(client.error() != 0 ? client.error() : -10);
      break;
    }
    std::printf("probe %d: latency %d ms, drift %d ms\n", i, probe.first, probe.second);
    std::fflush(stdout);
  }
  c->close();
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  Connection::destroy(c);
  return status;
}

int sendCommand(const Options& o) {
  if (o.positional.size() != 3) return usage("send takes HOST:PORT and FILE");
  std::FILE* f = std::fopen(o.positional[2].c_str(), "rb");
  if (f == nullptr) {
    std::fprintf(stderr, "orvcoms: cannot open %s: %s\n", o.positional[2].c_str(), std::strerror(errno));
    return 1;
  }
  std::string payload;
  char buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) payload.append(buf, n);
  std::fclose(f);
  registerModelXlators();
  // The file must hold whole items: what cannot be decoded is not sent.
  std::string dump;
  MessageDump::Error error;
  if (MessageDump::dumpBytes(payload.data(), payload.size(), false, dump, &error) != 0 || payload.empty()) {
    std::fprintf(stderr, "orvcoms: %s: %s\n", o.positional[2].c_str(),
                 payload.empty() ? "empty file" : error.text.c_str());
    return 1;
  }
  Client client;
  double handshakeMs = 0;
  Connection* c = open(o, &client, &handshakeMs);
  if (c == nullptr) return 1;
  auto* m = new Message(o.messageType);
  (void)m->writeEncoded(payload.data(), payload.size());
  int rc = c->send(m);
  if (rc != 0) {
    Connection::destroy(c);
    return fail(rc);
  }
  int err = 0;
  std::unique_ptr<Message> reply = client.waitReply(o.timeoutMs, &err);
  if (reply == nullptr) {
    Connection::destroy(c);
    return fail(err);
  }
  std::printf("reply: message type %d, %lld bytes\n", reply->getMessageType(),
              static_cast<long long>(reply->getExpectedLength()));
  std::string out;
  int status = 0;
  if (reply->switchToRead() != 0 || MessageDump::dumpItems(*reply, out, &error, 0) != 0) {
    std::fwrite(out.data(), 1, out.size(), stdout);
    std::fprintf(stderr, "orvcoms: reply: %s\n", Connection::messageFromError(error.code));
    status = 1;
  } else {
    std::fwrite(out.data(), 1, out.size(), stdout);
  }
  std::fflush(stdout);
  c->close();
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  Connection::destroy(c);
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; i++) {
    std::string a = argv[i];
    auto value = [&](int* out) {
      if (i + 1 >= argc || !parseInt(argv[i + 1], out)) return false;
      i++;
      return true;
    };
    auto text = [&](std::string* out) {
      if (i + 1 >= argc) return false;
      *out = argv[++i];
      return true;
    };
    if (a == "--help" || a == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    bool ok = true;
    if (a == "--type") ok = value(&o.type);
    else if (a == "--version") ok = value(&o.version);
    else if (a == "--message-type") ok = value(&o.messageType);
    else if (a == "--count") ok = value(&o.count) && o.count > 0;
    else if (a == "--interval") ok = value(&o.intervalMs) && o.intervalMs >= 0;
    else if (a == "--timeout") ok = value(&o.timeoutMs) && o.timeoutMs > 0;
    else if (a == "--server-version") ok = value(&o.serverVersion);
    else if (a == "--cert") ok = text(&o.cert);
    else if (a == "--key") ok = text(&o.key);
    else if (a == "--verbose") o.verbose = true;
    else if (a.size() > 1 && a[0] == '-') return usage(("unknown option " + a).c_str());
    else o.positional.push_back(a);
    if (!ok) return usage(("bad value for " + a).c_str());
  }
  if (o.positional.empty()) return usage(nullptr);
  if (o.verbose) {
    setLog(nullptr);
    _debug_coms = LOG_DEBUG;
  }
  orvanex_init();
  const std::string& command = o.positional[0];
  if (command == "listen") return listenCommand(o);
  if (command == "ping" || command == "send") {
    int status = command == "ping" ? pingCommand(o) : sendCommand(o);
    // The coms threads run until the process ends, and one may still be
    // deleting the destroyed connection: returning from main would run the
    // TLS library's exit handlers under it.
    std::fflush(stdout);
    std::fflush(stderr);
    _exit(status);
  }
  return usage(("unknown command " + command).c_str());
}
