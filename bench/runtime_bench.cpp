// The runtime's hand-over, timers and reactor cycle, side by side with libuv
// doing the same work in the same run:
//   HandOver: a DeferredOp posted to another thread's OpTarget and answered,
//             against a uv_async_send ping-pong between two loops.
//   Timers:   100,000 timers set and fired (all due at once, and spread over
//             a few milliseconds), against uv_timer_start.
//   IdleFds:  one loop cycle with 1,000 idle descriptors and one busy one
//             (the packed ppoll array rebuilt every cycle), against uv_poll
//             handles on the same descriptors.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>
#include <uv.h>

#include <atomic>
#include <memory>
#include <random>
#include <thread>
#include <vector>

#include "runtime/daemon_thread.h"
#include "runtime/op_target.h"
#include "runtime/thread_context.h"

namespace {

constexpr int kTimers = 100000;
constexpr int kIdleFds = 1000;

void raiseDescriptorLimit() {
  struct rlimit rl;
  if (getrlimit(RLIMIT_NOFILE, &rl) == 0 && rl.rlim_cur < 4096) {
    rl.rlim_cur = rl.rlim_max < 4096 ? rl.rlim_max : 4096;
    setrlimit(RLIMIT_NOFILE, &rl);
  }
}

// ---------------------------------------------------------------------------
// Hand-over

class Echo : public OpTarget {
 public:
  int execute(DeferredOp* op) override { return static_cast<int>(op->value) + 1; }
};

class Owner : public DaemonThread {
 public:
  Owner() : DaemonThread("bench-owner") { setDeleteOnExit(false); }
  void run() override {
    target = new Echo();
    setInitialized();
    while (!stop.load(std::memory_order_relaxed)) Reactor::run(100);
    delete target;
  }
  Echo* target = nullptr;
  std::atomic<bool> stop{false};
};

void BM_HandOver_OpTarget(benchmark::State& state) {
  Owner owner;
  if (owner.start() != 0) {
    state.SkipWithError("no thread");
    return;
  }
  long long i = 0;
  for (auto _ : state) {
    DeferredOp op(nullptr, nullptr, i);
    int rv = owner.target->doExecute(&op);
    benchmark::DoNotOptimize(rv);
    i++;
  }
  state.SetItemsProcessed(state.iterations());
  owner.stop = true;
  owner.join();
}
BENCHMARK(BM_HandOver_OpTarget)->UseRealTime()->MinTime(1.0);

struct UvPeer {
  uv_loop_t loop;
  uv_async_t async;
  UvPeer* other = nullptr;
  std::atomic<bool> answered{false};
  bool isEcho = false;
};

void onAsync(uv_async_t* handle) {
  auto* self = static_cast<UvPeer*>(handle->data);
  if (self->isEcho) {
    uv_async_send(&self->other->async);  // answer
  } else {
    self->answered.store(true, std::memory_order_relaxed);
  }
}

void BM_HandOver_UvAsync(benchmark::State& state) {
  UvPeer caller, echo;
  caller.other = &echo;
  echo.other = &caller;
  echo.isEcho = true;
  uv_loop_init(&caller.loop);
  uv_loop_init(&echo.loop);
  uv_async_init(&caller.loop, &caller.async, onAsync);
  uv_async_init(&echo.loop, &echo.async, onAsync);
  caller.async.data = &caller;
  echo.async.data = &echo;
  std::atomic<bool> stop{false};
  uv_async_t stopper;
  uv_async_init(&echo.loop, &stopper, [](uv_async_t* h) { uv_stop(h->loop); });
  std::thread t([&] { uv_run(&echo.loop, UV_RUN_DEFAULT); });
  for (auto _ : state) {
    caller.answered.store(false, std::memory_order_relaxed);
    uv_async_send(&echo.async);
    while (!caller.answered.load(std::memory_order_relaxed)) uv_run(&caller.loop, UV_RUN_ONCE);
  }
  state.SetItemsProcessed(state.iterations());
  uv_async_send(&stopper);
  t.join();
  uv_close(reinterpret_cast<uv_handle_t*>(&stopper), nullptr);
  uv_close(reinterpret_cast<uv_handle_t*>(&echo.async), nullptr);
  uv_run(&echo.loop, UV_RUN_DEFAULT);
  uv_close(reinterpret_cast<uv_handle_t*>(&caller.async), nullptr);
  uv_run(&caller.loop, UV_RUN_DEFAULT);
  uv_loop_close(&echo.loop);
  uv_loop_close(&caller.loop);
  (void)stop;
}
BENCHMARK(BM_HandOver_UvAsync)->UseRealTime()->MinTime(1.0);

// ---------------------------------------------------------------------------
// Timers: state.range(0) is the spread of the delays in milliseconds.

class CountFired : public EventHandler {
 public:
  void handleEvent(Event*) override { fired++; }
  int fired = 0;
};

std::vector<int> delays(int spread) {
  std::vector<int> d(kTimers);
  std::mt19937 rng(11);
  for (int& v : d) v = spread == 0 ? 0 : static_cast<int>(rng() % (spread + 1));
  return d;
}

void BM_Timers_Reactor(benchmark::State& state) {
  std::vector<int> d = delays(static_cast<int>(state.range(0)));
  CountFired h;
  std::vector<std::unique_ptr<TimerEvent>> timers;
  timers.reserve(kTimers);
  for (int i = 0; i < kTimers; i++) timers.push_back(std::make_unique<TimerEvent>(&h));
  for (auto _ : state) {
    h.fired = 0;
    for (int i = 0; i < kTimers; i++) timers[i]->set(d[i]);
    while (h.fired < kTimers) Reactor::run(0);
  }
  state.SetItemsProcessed(state.iterations() * kTimers);
}
BENCHMARK(BM_Timers_Reactor)->Arg(0)->Arg(5)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_Timers_Uv(benchmark::State& state) {
  std::vector<int> d = delays(static_cast<int>(state.range(0)));
  uv_loop_t loop;
  uv_loop_init(&loop);
  static int fired;
  std::vector<uv_timer_t> timers(kTimers);
  for (auto& t : timers) uv_timer_init(&loop, &t);
  for (auto _ : state) {
    fired = 0;
    uv_update_time(&loop);
    for (int i = 0; i < kTimers; i++) uv_timer_start(&timers[i], [](uv_timer_t*) { fired++; }, d[i], 0);
    while (fired < kTimers) uv_run(&loop, UV_RUN_ONCE);
  }
  state.SetItemsProcessed(state.iterations() * kTimers);
  for (auto& t : timers) uv_close(reinterpret_cast<uv_handle_t*>(&t), nullptr);
  uv_run(&loop, UV_RUN_DEFAULT);
  uv_loop_close(&loop);
}
BENCHMARK(BM_Timers_Uv)->Arg(0)->Arg(5)->UseRealTime()->Unit(benchmark::kMillisecond);

// ---------------------------------------------------------------------------
// One cycle with 1,000 idle descriptors and one that stays readable.

struct Descriptors {
  Descriptors() {
    raiseDescriptorLimit();
    for (int i = 0; i < kIdleFds / 2; i++) {
      int sv[2];
      if (socketpair(AF_UNIX, SOCK_STREAM, 0, sv) != 0) break;
      idle.push_back(sv[0]);
      idle.push_back(sv[1]);
    }
    int p[2];
    if (pipe(p) == 0) {
      busyRead = p[0];
      busyWrite = p[1];
      (void)!write(busyWrite, "x", 1);  // never read: stays readable
    }
  }
  ~Descriptors() {
    for (int fd : idle) close(fd);
    close(busyRead);
    close(busyWrite);
  }
  std::vector<int> idle;
  int busyRead = -1;
  int busyWrite = -1;
};

void BM_IdleFds_Reactor(benchmark::State& state) {
  Descriptors fds;
  if (fds.idle.size() != static_cast<size_t>(kIdleFds)) {
    state.SkipWithError("cannot open the descriptors");
    return;
  }
  CountFired h;
  std::vector<std::unique_ptr<FdEvent>> events;
  for (int fd : fds.idle) events.push_back(std::make_unique<FdEvent>(&h, fd, FdEvent::kReadable));
  events.push_back(std::make_unique<FdEvent>(&h, fds.busyRead, FdEvent::kReadable));
  for (auto _ : state) Reactor::run(0);
  if (h.fired < state.iterations()) state.SkipWithError("the busy descriptor was not served every cycle");
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_IdleFds_Reactor)->UseRealTime();

void BM_IdleFds_Uv(benchmark::State& state) {
  Descriptors fds;
  if (fds.idle.size() != static_cast<size_t>(kIdleFds)) {
    state.SkipWithError("cannot open the descriptors");
    return;
  }
  uv_loop_t loop;
  uv_loop_init(&loop);
  static long long fired;
  fired = 0;
  std::vector<uv_poll_t> polls(fds.idle.size() + 1);
  for (size_t i = 0; i < polls.size(); i++) {
    int fd = i < fds.idle.size() ? fds.idle[i] : fds.busyRead;
    uv_poll_init(&loop, &polls[i], fd);
    uv_poll_start(&polls[i], UV_READABLE, [](uv_poll_t*, int, int) { fired++; });
  }
  for (auto _ : state) uv_run(&loop, UV_RUN_NOWAIT);
  if (fired < state.iterations()) state.SkipWithError("the busy descriptor was not served every cycle");
  state.SetItemsProcessed(state.iterations());
  for (auto& p : polls) uv_close(reinterpret_cast<uv_handle_t*>(&p), nullptr);
  uv_run(&loop, UV_RUN_DEFAULT);
  uv_loop_close(&loop);
}
BENCHMARK(BM_IdleFds_Uv)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
