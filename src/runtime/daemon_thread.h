// DaemonThread: every long-lived thread of the runtime. Threads are named,
// listed process-wide, started with a handshake (start() returns once the new
// thread calls setInitialized()), and can be handed clean-up calls to run
// later on their own thread. attachMainThread() makes the process's main
// thread known and starts the signal thread "sig-handler", which receives
// every process signal.
//
// Thread-safety: start/join/setDetached belong to the creating thread;
// deleteLater and the static look-ups may be called from any thread.
#pragma once

#include <cstddef>
#include <pthread.h>
#include <sys/resource.h>
#include <sys/types.h>

#include "runtime/cond_block.h"
#include "runtime/critical_block.h"

class EventHandler;

// Told on the signal thread about every child process that ended.
class ChildListener {
 public:
  virtual ~ChildListener() = default;
  virtual void childExited(pid_t pid, int status, const struct rusage* usage) = 0;
};

class DaemonThread {
 public:
  static constexpr size_t kNameSize = 20;  // 19 characters and a NUL

  // Counts "dthr-started" and adds the object to the process's thread list.
  explicit DaemonThread(const char* name = "");
  // Runs the later list, waits until a started thread's start() has seen the
  // handshake, counts "dthr-exited" and leaves the thread list.
  virtual ~DaemonThread();
  DaemonThread(const DaemonThread&) = delete;
  DaemonThread& operator=(const DaemonThread&) = delete;

  // The thread's body; call setInitialized() once ready to serve.
  virtual void run() = 0;
  // Called on the thread after run() returns.
  virtual void onRunComplete() {}

  // Creates the thread and waits until it calls setInitialized() (or ends
  // without calling it). Returns 0, or -1 when the thread cannot be created
  // (logged "Error: pthread_create() fails"; the object stays unstarted).
  int start();
  // Releases start(). Called by run().
  void setInitialized();
  // Waits until run() and onRunComplete() have returned, then joins the POSIX
  // thread. REQUIRES: not detached ("!_detached") and deleteOnExit false.
  void join();
  // The same with a limit: false when the thread is still running after
  // `timeoutMs` (it is then not joined).
  [[nodiscard]] bool join(int timeoutMs);
  // Detaches the thread (now, or when it is created). A second call is a
  // fatal assertion ("!_detached").
  void setDetached();
  // Whether the object deletes itself when run() returns (the default).
  void setDeleteOnExit(bool on) { deleteOnExit_ = on; }

  // The calling thread's object, or null for a thread unknown to the runtime.
  [[nodiscard]] static DaemonThread* getCurrentThread();
  // Copies the name of the thread with kernel id `tid` into `buffer` (cut to
  // fit). False, with buffer untouched, when no listed thread has that id.
  static bool getName(char* buffer, size_t length, int tid);

  // Queues fn(object) to run on this thread at its next processLaterList().
  // Any thread.
  void deleteLater(void* object, void (*fn)(void*));
  // Runs and frees every queued call, newest first. The owning thread.
  void processLaterList();

  // ThreadContext::get()->setPerfState(state).
  void setPerfState(int state);

  [[nodiscard]] const char* getName() const { return name_; }
  void setName(const char* name);
  [[nodiscard]] pid_t getTid() const;
  [[nodiscard]] bool isStarted();
  [[nodiscard]] bool hasExited();

  // A per-thread slot for the Java bridge's environment pointer; the runtime
  // never reads it.
  [[nodiscard]] void* env() const { return env_; }
  void setEnv(void* env) { env_ = env; }

  // Registers the calling thread as "main", remembers `listener` (told about
  // ended child processes; may be null) and `server`, blocks SIGCHLD, SIGTERM,
  // SIGQUIT and every attached signal in the calling thread (threads created
  // later inherit the mask) and starts the signal thread. Call it before any
  // other thread is created, the Java VM's included. A second call does
  // nothing.
  static void attachMainThread(ChildListener* listener, bool server);
  // Adds (signal, handler): the signal thread calls handler->handleEvent(
  // nullptr) for each arrival. REQUIRES: before attachMainThread.
  static void attachSignalHandler(int signal, EventHandler* handler);
  // The server flag given to attachMainThread.
  [[nodiscard]] static bool isServer();

 protected:
  // For MainDaemonThread: a record of a thread the runtime did not start.
  struct AttachCurrent {};
  DaemonThread(const char* name, AttachCurrent);

 private:
  static void* entry(void* self);

  struct LaterCall {
    void (*fn)(void*);
    void* object;
    LaterCall* next;
  };

  CondBlock startLock_;
  pthread_t thread_{};
  pid_t tid_ = 0;              // guarded by the thread list lock
  bool initialized_ = false;   // guarded by startLock_
  bool started_ = false;       // guarded by startLock_
  bool exited_ = false;        // guarded by startLock_
  bool created_ = false;       // a POSIX thread exists for this object
  bool joined_ = false;
  bool detached_ = false;      // guarded by startLock_
  bool selfDetached_ = false;  // the thread detached itself on exit
  bool deleteOnExit_ = true;
  CriticalBlock laterLock_;
  LaterCall* laterList_ = nullptr;  // guarded by laterLock_
  char name_[kNameSize] = {};
  void* env_ = nullptr;
  DaemonThread* next_ = nullptr;  // the thread list, guarded by _allThreadsBlock
  DaemonThread* prev_ = nullptr;
};

extern "C" {
// DaemonThread::attachMainThread(nullptr, server), for a host that finds the
// module's entry points by name.
void s_attachMainThread(int server);
}

// The record of a thread not started by the runtime (the main thread, the
// signal thread): its run() does nothing, it is started and initialized from
// the beginning, and it never deletes itself.
class MainDaemonThread : public DaemonThread {
 public:
  // Registers the calling thread under `name`.
  explicit MainDaemonThread(const char* name);
  void run() override {}
};
