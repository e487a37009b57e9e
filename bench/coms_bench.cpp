// Connections on loopback, side by side in the same run with a plain
// OpenSSL TLS socket pair (no framing, one SSL_write per message, the same
// protocol version and cipher):
//   Small: 100-byte messages, messages per second.
//   Large: 1 MB messages, bytes per second. The body is handed to the
//   message without a copy (writeEncodedShared), as the reference hands its
//   buffer to SSL_write; LargeCopied writes it with writeEncoded, a copy
//   per message.
// Each with 1 connection and with 16. Our side runs the agent's way: the
// receiving Connector in a process of its own (forked at start, 2 coms
// threads), the sending connections on 2 coms threads here; the reference
// runs a writer thread and a reader thread. cpu_ms_per_MB counts the
// processor time of both ends (both processes for ours) per megabyte moved.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <malloc.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "coms/connection.h"
#include "coms/connector.h"
#include "coms/tls_util.h"
#include "foundation/properties.h"
#include "wire/message.h"

namespace {

constexpr size_t kSmall = 100;
constexpr size_t kLarge = size_t{1} << 20;
constexpr int kSmallPerIteration = 50000;
constexpr int kLargePerIteration = 96;
constexpr int kTypeData = 1;
constexpr int kTypeLast = 2;  // the last message of a batch: answered with an ack
constexpr int kTypeAck = 3;

int serverPort = 0;
pid_t receiverPid = 0;
std::string cipherOurs;
std::string cipherPlain;

void useTwoComsThreads() {
  static std::string path = [] {
    char tmpl[] = "/tmp/coms_bench.XXXXXX";
    int fd = mkstemp(tmpl);
    const char text[] = "coms_threads: 2\n";
    if (fd < 0 || write(fd, text, sizeof text - 1) != static_cast<ssize_t>(sizeof text - 1)) std::abort();
    close(fd);
    return std::string(tmpl);
  }();
  s_setOrvanexPropertiesPath(path.c_str());
  (void)s_testOrvanexProperties(false, nullptr);
}

// A payload of `size` bytes: one byte-block item.
std::string payload(size_t size) {
  std::string p;
  p.push_back(14);
  uint32_t n = static_cast<uint32_t>(size - 5);
  for (int s = 24; s >= 0; s -= 8) p.push_back(static_cast<char>((n >> s) & 0xFF));
  p.append(size - 5, 'p');
  return p;
}

// ---------------------------------------------------------------------------
// The receiving process

class Sink : public ConnectorListener, public ConnectionListener {
 public:
  bool newConnection(Connection* c, int) override {
    c->setListener(this);
    return true;
  }
  int onReceive(Connection* c, Message* m) override {
    if (m->getMessageType() == kTypeLast) {
      auto* ack = new Message(kTypeAck);
      (void)ack->writeInt32(1);
      (void)c->send(ack);
    }
    return 0;
  }
  void onNoConnect(Connection* c, int) override { Connection::destroy(c); }
  void onLost(Connection* c) override { Connection::destroy(c); }
  void onClosed(Connection* c) override { Connection::destroy(c); }
  void onConnectComplete(Connection*) override {}
};

void runReceiver(int portPipe) {
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  useTwoComsThreads();
  static Sink sink;
  Connector* connector = Connector::create(&sink, nullptr, nullptr, 2);
  if (connector == nullptr || connector->bind("0") != 0) _exit(1);
  int port = connector->getPort();
  if (write(portPipe, &port, sizeof port) != sizeof port) _exit(1);
  close(portPipe);
  for (;;) pause();
}

void startReceiver() {
  int fds[2];
  if (pipe(fds) != 0) std::abort();
  pid_t pid = fork();
  receiverPid = pid;
  if (pid == 0) {
    close(fds[0]);
    runReceiver(fds[1]);
  }
  close(fds[1]);
  if (read(fds[0], &serverPort, sizeof serverPort) != sizeof serverPort) std::abort();
  close(fds[0]);
}

// Processor seconds used so far by this process and the receiving one
// (which works only for our side). Wall time on a shared machine depends on
// what else runs; processor time per byte does much less.
double cpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  double self = static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
  char path[64];
  std::snprintf(path, sizeof path, "/proc/%d/stat", static_cast<int>(receiverPid));
  FILE* f = std::fopen(path, "r");
  if (f == nullptr) return self;
  char text[1024];
  size_t n = std::fread(text, 1, sizeof text - 1, f);
  std::fclose(f);
  text[n] = '\0';
  // Fields 14 and 15 (user and system ticks) follow the name in parentheses.
  const char* p = std::strrchr(text, ')');
  unsigned long long user = 0, system = 0;
  if (p == nullptr || std::sscanf(p + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %llu %llu", &user, &system) != 2)
    return self;
  return self + static_cast<double>(user + system) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// The processor milliseconds per megabyte moved, as a counter.
void reportCpu(benchmark::State& state, double cpuBefore, size_t size, int perIteration) {
  double mb = static_cast<double>(state.iterations()) * perIteration * static_cast<double>(size) / (1 << 20);
  state.counters["cpu_ms_per_MB"] = (cpuSeconds() - cpuBefore) * 1000.0 / mb;
}

// ---------------------------------------------------------------------------
// Our side

class Acks : public ConnectionListener {
 public:
  std::atomic<int> acks{0};
  std::atomic<int> completed{0};
  int onReceive(Connection*, Message* m) override {
    if (m->getMessageType() == kTypeAck) acks++;
    return 0;
  }
  void onNoConnect(Connection*, int error) override {
    std::fprintf(stderr, "coms_bench: %s\n", Connection::messageFromError(error));
    std::abort();
  }
  void onLost(Connection*) override {
    std::fprintf(stderr, "coms_bench: connection lost\n");
    std::abort();
  }
  void onClosed(Connection*) override {}
  void onConnectComplete(Connection*) override { completed++; }
};

void runOurs(benchmark::State& state, size_t size, int perIteration, long long window, bool share) {
  int n = static_cast<int>(state.range(0));
  useTwoComsThreads();
  Acks acks;
  std::vector<Connection*> conns;
  for (int i = 0; i < n; i++) {
    Connection* c = Connection::create("127.0.0.1", std::to_string(serverPort).c_str(), nullptr, nullptr, 1);
    c->setListener(&acks);
    c->setTypeVersion(2);
    (void)c->connect();
    conns.push_back(c);
  }
  while (acks.completed.load() < n) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  cipherOurs = conns[0]->getCipher();
  auto body = std::make_shared<const std::string>(payload(size));
  const auto nap = std::chrono::microseconds(size >= kLarge ? 500 : 50);
  double cpuBefore = cpuSeconds();
  for (auto _ : state) {
    int before = acks.acks.load();
    for (int i = 0; i < perIteration; i++) {
      Connection* c = conns[static_cast<size_t>(i % n)];
      // A sender that waits sleeps: spinning would take the CPU the coms
      // threads need. Its naps are a small part of the time the window
      // takes to drain: every wake-up costs processor time the reference's
      // writer, blocked in the kernel, never spends.
      while (c->getPendingBytes() > window) std::this_thread::sleep_for(nap);
      auto* m = new Message(i >= perIteration - n ? kTypeLast : kTypeData);
      if (share) {
        (void)m->writeEncodedShared(body, body->data(), body->size());
      } else {
        (void)m->writeEncoded(body->data(), body->size());
      }
      if (c->send(m) != 0) std::abort();
    }
    while (acks.acks.load() < before + n) std::this_thread::sleep_for(nap);
  }
  state.SetItemsProcessed(state.iterations() * perIteration);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * perIteration * static_cast<int64_t>(size));
  reportCpu(state, cpuBefore, size, perIteration);
  state.SetLabel(cipherOurs);
  for (Connection* c : conns) Connection::destroy(c);
}

void BM_Coms_Small(benchmark::State& state) { runOurs(state, kSmall, kSmallPerIteration, 64 * 1024, false); }
void BM_Coms_Large(benchmark::State& state) { runOurs(state, kLarge, kLargePerIteration, 1536 * 1024, true); }
void BM_Coms_LargeCopied(benchmark::State& state) {
  runOurs(state, kLarge, kLargePerIteration, 1536 * 1024, false);
}

// ---------------------------------------------------------------------------
// The reference: plain TLS socket pairs

struct Pair {
  int clientFd = -1;
  int serverFd = -1;
  SSL* client = nullptr;
  SSL* server = nullptr;
};

std::vector<Pair> makePairs(int n) {
  static SSL_CTX* serverCtx = [] {
    X509* cert = nullptr;
    EVP_PKEY* key = nullptr;
    std::string error;
    if (comsAnonymousPair(&cert, &key) != 0) std::abort();
    SSL_CTX* ctx = SSL_CTX_new(TLS_server_method());
    SSL_CTX_set_max_proto_version(ctx, TLS1_2_VERSION);
    SSL_CTX_use_certificate(ctx, cert);
    SSL_CTX_use_PrivateKey(ctx, key);
    return ctx;
  }();
  static SSL_CTX* clientCtx = [] {
    SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
    SSL_CTX_set_max_proto_version(ctx, TLS1_2_VERSION);
    return ctx;
  }();
  int lfd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  if (bind(lfd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(lfd, 64) != 0) std::abort();
  getsockname(lfd, reinterpret_cast<sockaddr*>(&a), &len);
  std::vector<Pair> pairs(static_cast<size_t>(n));
  int one = 1;
  for (Pair& p : pairs) {
    p.clientFd = socket(AF_INET, SOCK_STREAM, 0);
    if (connect(p.clientFd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) std::abort();
    p.serverFd = accept(lfd, nullptr, nullptr);
    setsockopt(p.clientFd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    setsockopt(p.serverFd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    p.client = SSL_new(clientCtx);
    p.server = SSL_new(serverCtx);
    SSL_set_fd(p.client, p.clientFd);
    SSL_set_fd(p.server, p.serverFd);
    std::thread t([&] { SSL_connect(p.client); });
    if (SSL_accept(p.server) != 1) std::abort();
    t.join();
    fcntl(p.serverFd, F_SETFL, O_NONBLOCK);
  }
  close(lfd);
  cipherPlain = SSL_get_cipher_name(pairs[0].client);
  return pairs;
}

void runPlain(benchmark::State& state, size_t size, int perIteration) {
  int n = static_cast<int>(state.range(0));
  std::vector<Pair> pairs = makePairs(n);
  std::string body = payload(size);
  std::vector<char> buf(16384);
  double cpuBefore = cpuSeconds();
  for (auto _ : state) {
    const long long total = static_cast<long long>(perIteration) * static_cast<long long>(size);
    std::thread writer([&] {
      for (int i = 0; i < perIteration; i++) {
        SSL* s = pairs[static_cast<size_t>(i % n)].client;
        if (SSL_write(s, body.data(), static_cast<int>(body.size())) <= 0) std::abort();
      }
    });
    long long got = 0;
    std::vector<pollfd> polls(static_cast<size_t>(n));
    while (got < total) {
      for (int i = 0; i < n; i++) polls[static_cast<size_t>(i)] = {pairs[static_cast<size_t>(i)].serverFd, POLLIN, 0};
      if (poll(polls.data(), polls.size(), 1000) <= 0) continue;
      for (int i = 0; i < n; i++) {
        if (polls[static_cast<size_t>(i)].revents == 0) continue;
        int r;
        while ((r = SSL_read(pairs[static_cast<size_t>(i)].server, buf.data(), static_cast<int>(buf.size()))) > 0) got += r;
      }
    }
    writer.join();
  }
  state.SetItemsProcessed(state.iterations() * perIteration);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * perIteration * static_cast<int64_t>(size));
  reportCpu(state, cpuBefore, size, perIteration);
  state.SetLabel(cipherPlain);
  for (Pair& p : pairs) {
    SSL_free(p.client);
    SSL_free(p.server);
    close(p.clientFd);
    close(p.serverFd);
  }
}

void BM_PlainTls_Small(benchmark::State& state) { runPlain(state, kSmall, kSmallPerIteration); }
void BM_PlainTls_Large(benchmark::State& state) { runPlain(state, kLarge, kLargePerIteration); }

BENCHMARK(BM_Coms_Small)->Arg(1)->Arg(16)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_PlainTls_Small)->Arg(1)->Arg(16)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_Coms_Large)->Arg(1)->Arg(16)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_Coms_LargeCopied)->Arg(1)->Arg(16)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_PlainTls_Large)->Arg(1)->Arg(16)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

}  // namespace

int main(int argc, char** argv) {
  // The allocator runs with glibc's defaults, as it does in our users'
  // processes. COMS_BENCH_TUNED_MALLOC=1 raises the mmap and trim thresholds
  // (freed megabytes then stay in the heap) for comparison.
  const char* tuned = std::getenv("COMS_BENCH_TUNED_MALLOC");
  if (tuned != nullptr && std::strcmp(tuned, "1") == 0) {
    (void)mallopt(M_MMAP_THRESHOLD, 32 << 20);
    (void)mallopt(M_TRIM_THRESHOLD, 256 << 20);
  }
  // Repetitions of ours and of the reference take turns in a random order
  // unless told otherwise: the load of a shared machine comes and goes in
  // bursts longer than one run, and a burst then lands on both sides alike
  // instead of on whichever ran during it.
  std::vector<char*> args(argv, argv + argc);
  bool interleavingGiven = false;
  for (int i = 1; i < argc; i++) {
    if (std::strncmp(argv[i], "--benchmark_enable_random_interleaving", 38) == 0) interleavingGiven = true;
  }
  static char interleave[] = "--benchmark_enable_random_interleaving=true";
  if (!interleavingGiven) args.push_back(interleave);
  int count = static_cast<int>(args.size());
  args.push_back(nullptr);
  // The receiver is forked before any thread exists.
  startReceiver();
  benchmark::Initialize(&count, args.data());
  if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  if (!cipherOurs.empty() && !cipherPlain.empty() && cipherOurs != cipherPlain) {
    std::fprintf(stderr, "coms_bench: the ciphers differ: %s and %s\n", cipherOurs.c_str(), cipherPlain.c_str());
    return 1;
  }
  return 0;
}
