// The signal thread changes process-wide state (signal masks, handlers, the
// reaping of children), so each case runs in a process of its own and
// reports through its exit status and its standard error.
#include <gtest/gtest.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <vector>
#include <string>
#include <thread>

#include "foundation/os_perf.h"
#include "foundation/os_shutdown.h"
#include "runtime/daemon_thread.h"
#include "runtime/event.h"
#include "runtime/thread_context.h"

namespace {

struct ChildResult {
  int status = -1;
  std::string err;
};

constexpr char kChildVar[] = "ORV_SIGNAL_TEST_CHILD";

// Runs the current test again in a fresh process of this binary (spawned,
// not forked, so no state of this process is inherited) with kChildVar set,
// where the test calls its body instead; collects that process's standard
// error and exit status within `limitMs`. An overdue child is killed and
// reported as status -1.
ChildResult runInChild(void (*body)(), int limitMs = 15000) {
  if (std::getenv(kChildVar) != nullptr) body();  // never returns
  ChildResult r;
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string filter = std::string("--gtest_filter=") + info->test_suite_name() + "." + info->name();
  char self[4096];
  ssize_t n = ::readlink("/proc/self/exe", self, sizeof(self) - 1);
  if (n <= 0) return r;
  self[n] = '\0';
  int fds[2];
  if (::pipe(fds) != 0) return r;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[1], STDERR_FILENO);
  posix_spawn_file_actions_addclose(&actions, fds[0]);
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; e++) env.emplace_back(*e);
  env.push_back(std::string(kChildVar) + "=1");
  std::vector<char*> envp;
  for (std::string& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  char* argv[] = {self, filter.data(), nullptr};
  pid_t pid = 0;
  int rv = posix_spawn(&pid, self, &actions, nullptr, argv, envp.data());
  posix_spawn_file_actions_destroy(&actions);
  ::close(fds[1]);
  if (rv != 0) {
    ::close(fds[0]);
    return r;
  }
  int64_t end = ThreadContext::nowMicros() / 1000 + limitMs;
  for (;;) {
    int64_t left = end - ThreadContext::nowMicros() / 1000;
    if (left <= 0) break;
    struct pollfd p = {fds[0], POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(left)) <= 0) break;
    char buf[512];
    ssize_t got = ::read(fds[0], buf, sizeof(buf));
    if (got <= 0) break;
    r.err.append(buf, static_cast<size_t>(got));
  }
  ::close(fds[0]);
  int status = 0;
  for (;;) {
    pid_t got = ::waitpid(pid, &status, WNOHANG);
    if (got == pid) {
      r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      break;
    }
    if (ThreadContext::nowMicros() / 1000 > end) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      break;
    }
    ::usleep(1000);
  }
  return r;
}

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
  ChildResult r = runInChild(termWithHandlers);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("second-added;first-added;"), std::string::npos) << r.err;
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
  // Both children wait on the same pipe and end together when it closes. The
  // third is not one of ours (as a Java Process would not be): it must be left
  // for its own waitpid, with its status.
  pid_t foreign = -1;
  for (int code : {3, 4, 9}) {
    lockPerfPid();
    pid_t pid = ::fork();
    if (pid == 0) {
      ::close(gate[1]);
      char c;
      ssize_t n = ::read(gate[0], &c, 1);
      (void)n;
      ::_exit(code);
    }
    if (code != 9) {
      addPerfPid(pid);
    } else {
      foreign = pid;
    }
    unlockPerfPid();
  }
  ::close(gate[0]);
  ::close(gate[1]);
  bool both = waitFor([] { return listener.count.load() == 2; });
  int foreignStatus = 0;
  bool foreignKept = ::waitpid(foreign, &foreignStatus, 0) == foreign && WIFEXITED(foreignStatus) &&
                     WEXITSTATUS(foreignStatus) == 9;
  std::fprintf(stderr, "reaped=%d sum=%d counted=%d thread=%d foreign=%d\n", listener.count.load(),
               listener.sum.load(), statGet(_processStats.childrenReaped), listener.onSignalThread.load() ? 1 : 0,
               foreignKept ? 1 : 0);
  ::_exit(both && foreignKept && listener.sum.load() == 7 && statGet(_processStats.childrenReaped) == 2 ? 0 : 1);
}

TEST(SignalThread, OwnFinishedChildrenAreReapedAndReportedOthersAreLeft) {
  ChildResult r = runInChild(reapTwo);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("reaped=2 sum=7 counted=2 thread=1 foreign=1"), std::string::npos) << r.err;
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
  ChildResult r = runInChild(attachedSignal);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("calls=1,1 other=1 server=1"), std::string::npos) << r.err;
}

}  // namespace
