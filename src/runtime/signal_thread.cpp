// attachMainThread and the signal thread "sig-handler" (declared in
// daemon_thread.h). Every signal the runtime handles is blocked in every
// thread and taken synchronously by this one thread with sigwaitinfo, so a
// handler never runs on an arbitrary thread in the middle of its work.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <sys/wait.h>

#include <cerrno>
#include <vector>
#include <unistd.h>

#include "foundation/log.h"
#include "foundation/os_perf.h"
#include "foundation/os_shutdown.h"
#include "runtime/daemon_thread.h"
#include "runtime/event.h"

namespace {

struct SignalEntry {
  int signal;
  EventHandler* handler;
  SignalEntry* next;
};

std::mutex attachLock;
SignalEntry* signalList = nullptr;  // newest first; fixed once the signal thread runs
ChildListener* childListener = nullptr;
bool serverFlag = false;
bool attached = false;
sigset_t waitedSignals;

// Reached only when a signal is delivered to a thread that does not block it
// (one created before attachMainThread, or one that changed its mask).
void exitHandler(int) {
  statInc(_processStats.sigWrongThread);
  static const char kText[] = "INCORRECT THREAD\n";
  ssize_t ignored = ::write(STDOUT_FILENO, kText, sizeof(kText) - 1);
  (void)ignored;
}

void termHandler(int) {}

void installHandler(int signal, void (*fn)(int), int flags) {
  struct sigaction sa;
  std::memset(&sa, 0, sizeof(sa));
  sa.sa_handler = fn;
  sa.sa_flags = flags;
  sigemptyset(&sa.sa_mask);
  ::sigaction(signal, &sa, nullptr);
}

// Reaps the module's own children that have ended. A wait for any child
// would also take the exit status of children that others in this process
// wait for by pid (the Java VM's Process objects): they would then see ECHILD
// and report a failed command as a success.
void reapChildren() {
  std::vector<pid_t> pids;
  lockPerfPid();
  ownChildPids(&pids);
  unlockPerfPid();
  for (pid_t child : pids) {
    int status = 0;
    struct rusage usage;
    std::memset(&usage, 0, sizeof(usage));
    pid_t pid = ::wait4(child, &status, WNOHANG, &usage);
    if (pid != child) {
      // Still running, or already reaped by the code that started it.
      if (pid < 0 && errno == ECHILD) {
        lockPerfPid();
        removePerfPid(child);
        unlockPerfPid();
      }
      continue;
    }
    statInc(_processStats.childrenReaped);
    if (childListener != nullptr) childListener->childExited(pid, status, &usage);
    lockPerfPid();
    removePerfPid(pid);
    unlockPerfPid();
  }
}

void* sigMain(void*) {
  // Owned by this thread for the life of the process.
  new MainDaemonThread("sig-handler");
  pthread_setname_np(pthread_self(), "sig-handler");
  for (;;) {
    siginfo_t info;
    int sig = ::sigwaitinfo(&waitedSignals, &info);
    if (sig < 0) {
      if (errno != EINTR) log(errno, "sig-handler: sigwaitinfo failed");
      continue;
    }
    if (sig == SIGCHLD) {
      statInc(_processStats.sigChld);
      reapChildren();
    } else if (sig == SIGTERM) {
      log(0, "Received request to shutdown...");
      s_fireShutdownHandlers();
      // The other threads are still running (the Java VM's among them):
      // running static destructors and atexit work under them could crash
      // the process on its way out, so only the buffered output is flushed.
      std::fflush(nullptr);
      ::_exit(0);
    } else {
      statInc(_processStats.sigOther);
      for (SignalEntry* e = signalList; e != nullptr; e = e->next) {
        if (e->signal == sig) e->handler->handleEvent(nullptr);
      }
    }
  }
  return nullptr;
}

}  // namespace

void DaemonThread::attachSignalHandler(int signal, EventHandler* handler) {
  std::lock_guard<std::mutex> hold(attachLock);
  if (attached) {
    log(0, "attachSignalHandler(%d) after attachMainThread: ignored", signal);
    return;
  }
  signalList = new SignalEntry{signal, handler, signalList};
}

bool DaemonThread::isServer() {
  std::lock_guard<std::mutex> hold(attachLock);
  return serverFlag;
}

void DaemonThread::attachMainThread(ChildListener* listener, bool server) {
  std::lock_guard<std::mutex> hold(attachLock);
  if (attached) return;
  attached = true;
  registerProcessStats();
  if (getCurrentThread() == nullptr) new MainDaemonThread("main");
  childListener = listener;
  serverFlag = server;
  sigemptyset(&waitedSignals);
  sigaddset(&waitedSignals, SIGCHLD);
  sigaddset(&waitedSignals, SIGTERM);
  sigaddset(&waitedSignals, SIGQUIT);
  for (SignalEntry* e = signalList; e != nullptr; e = e->next) sigaddset(&waitedSignals, e->signal);
  pthread_sigmask(SIG_BLOCK, &waitedSignals, nullptr);
  // Handlers, so that no signal we wait for is ignored (an ignored signal is
  // discarded and never reaches sigwaitinfo). Installed here, before the
  // signal thread and before the Java VM exists, so the VM sees them at its
  // start.
  for (SignalEntry* e = signalList; e != nullptr; e = e->next) installHandler(e->signal, exitHandler, SA_RESTART);
  installHandler(SIGCHLD, exitHandler, SA_NOCLDSTOP | SA_RESTART);
  installHandler(SIGTERM, termHandler, 0);
  pthread_t th;
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
  int rv = pthread_create(&th, &attr, sigMain, nullptr);
  pthread_attr_destroy(&attr);
  if (rv != 0) log(rv, "Error: pthread_create() fails");
}

// For a host that loads the module with dlopen and cannot name the class:
// attachMainThread with no child listener.
extern "C" void s_attachMainThread(int server) { DaemonThread::attachMainThread(nullptr, server != 0); }
