// The signal thread changes process-wide state (signal masks, handlers, the
// reaping of children), so each case runs in a child process of its own
// (a death test re-executing this binary) and reports through its exit.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <thread>

#include "foundation/os_perf.h"
#include "foundation/os_shutdown.h"
#include "runtime/daemon_thread.h"
#include "runtime/event.h"
#include "runtime/thread_context.h"

namespace {

class DeathStyle : public ::testing::Environment {
 public:
  void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};
const auto* const kStyle = ::testing::AddGlobalTestEnvironment(new DeathStyle);

template <typename Pred>
bool waitFor(Pred pred, int ms = 5000) {
  int64_t end = ThreadContext::nowMicros() / 1000 + ms;
  while (!pred()) {
    if (ThreadContext::nowMicros() / 1000 > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

class Says : public ShutdownHandler {
 public:
  explicit Says(const char* text) : text_(text) {}
  void shutdown() override { std::fprintf(stderr, "%s", text_); }

 private:
  const char* text_;
};

void termWithHandlers() {
  DaemonThread::attachMainThread(nullptr, false);
  s_addShutdownHandler(new Says("first-added;"));
  s_addShutdownHandler(new Says("second-added;"));
  // Threads started after attachMainThread inherit the blocked mask: the
  // signal can only reach the signal thread.
  std::thread busy([] { std::this_thread::sleep_for(std::chrono::seconds(10)); });
  busy.detach();
  ::kill(::getpid(), SIGTERM);
  std::this_thread::sleep_for(std::chrono::seconds(10));
  std::fprintf(stderr, "still alive");
  ::_exit(7);
}

TEST(SignalThread, SigtermRunsTheShutdownHandlersNewestFirstAndExitsZero) {
  EXPECT_EXIT(termWithHandlers(), ::testing::ExitedWithCode(0), "second-added;first-added;");
}

class Reaped : public ChildListener {
 public:
  void childExited(pid_t pid, int status, const struct rusage*) override {
    if (WIFEXITED(status)) sum.fetch_add(WEXITSTATUS(status));
    count.fetch_add(1);
    onSignalThread = onSignalThread && DaemonThread::getCurrentThread() != nullptr &&
                     std::string(DaemonThread::getCurrentThread()->getName()) == "sig-handler";
    (void)pid;
  }
  std::atomic<int> count{0};
  std::atomic<int> sum{0};
  std::atomic<bool> onSignalThread{true};
};

void reapTwo() {
  static Reaped listener;
  registerProcessStats();
  DaemonThread::attachMainThread(&listener, false);
  int gate[2];
  if (::pipe(gate) != 0) ::_exit(2);
  // Both children wait on the same pipe and end together when it closes.
  for (int code : {3, 4}) {
    pid_t pid = ::fork();
    if (pid == 0) {
      ::close(gate[1]);
      char c;
      ssize_t n = ::read(gate[0], &c, 1);
      (void)n;
      ::_exit(code);
    }
  }
  ::close(gate[0]);
  ::close(gate[1]);
  bool both = waitFor([] { return listener.count.load() == 2; });
  std::fprintf(stderr, "reaped=%d sum=%d counted=%d thread=%d\n", listener.count.load(), listener.sum.load(),
               statGet(_processStats.childrenReaped), listener.onSignalThread.load() ? 1 : 0);
  ::_exit(both && listener.sum.load() == 7 && statGet(_processStats.childrenReaped) == 2 ? 0 : 1);
}

TEST(SignalThread, TwoFinishedChildrenAreBothReapedAndReported) {
  EXPECT_EXIT(reapTwo(), ::testing::ExitedWithCode(0), "reaped=2 sum=7 counted=2 thread=1");
}

class Counts : public EventHandler {
 public:
  void handleEvent(Event* e) override {
    if (e == nullptr) calls.fetch_add(1);
  }
  std::atomic<int> calls{0};
};

void attachedSignal() {
  static Counts first, second;
  registerProcessStats();
  DaemonThread::attachSignalHandler(SIGUSR1, &first);
  DaemonThread::attachSignalHandler(SIGUSR1, &second);
  DaemonThread::attachMainThread(nullptr, true);
  ::kill(::getpid(), SIGUSR1);
  bool ok = waitFor([] { return first.calls.load() == 1 && second.calls.load() == 1; });
  std::fprintf(stderr, "calls=%d,%d other=%d server=%d\n", first.calls.load(), second.calls.load(),
               statGet(_processStats.sigOther), DaemonThread::isServer() ? 1 : 0);
  ::_exit(ok ? 0 : 1);
}

TEST(SignalThread, AttachedSignalCallsEveryHandlerForIt) {
  EXPECT_EXIT(attachedSignal(), ::testing::ExitedWithCode(0), "calls=1,1 other=1 server=1");
}

}  // namespace
