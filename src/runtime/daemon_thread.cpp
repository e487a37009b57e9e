#include "runtime/daemon_thread.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unistd.h>

#include "foundation/diagnostics.h"
#include "foundation/log.h"
#include "foundation/os_perf.h"
#include "runtime/thread_context.h"

namespace {

// Slices of the waits below: each is bounded, and a wake-up between two
// slices is never missed because the state is re-checked under the lock.
constexpr int kWaitSliceMs = 1000;

CriticalBlock& allThreadsBlock() {
  static CriticalBlock* block = new CriticalBlock();  // never destroyed: threads outlive statics
  return *block;
}
DaemonThread* allThreads = nullptr;

pthread_key_t daemonVar;
pthread_once_t daemonVarOnce = PTHREAD_ONCE_INIT;
void makeDaemonVar() { pthread_key_create(&daemonVar, nullptr); }

}  // namespace

DaemonThread::DaemonThread(const char* name) {
  registerProcessStats();
  pthread_once(&daemonVarOnce, makeDaemonVar);
  setName(name);
  statInc(_processStats.threadsStarted);
  CriticalBlock& g = allThreadsBlock();
  g.enter();
  next_ = allThreads;
  if (allThreads != nullptr) allThreads->prev_ = this;
  allThreads = this;
  g.exit();
}

DaemonThread::DaemonThread(const char* name, AttachCurrent) : DaemonThread(name) {
  thread_ = pthread_self();
  deleteOnExit_ = false;
  startLock_.lock();
  initialized_ = started_ = true;
  startLock_.unlock();
  CriticalBlock& g = allThreadsBlock();
  g.enter();
  tid_ = static_cast<pid_t>(::gettid());
  g.exit();
  pthread_setspecific(daemonVar, this);
}

DaemonThread::~DaemonThread() {
  processLaterList();
  startLock_.lock();
  if (created_) {
    // start() may still be between the handshake and its last touch of this
    // object: wait for it to let go.
    while (!started_) {
      if (!startLock_.wait(kWaitSliceMs) && !started_) log(0, "DaemonThread %s: waiting for start() to finish", name_);
    }
  }
  startLock_.unlock();
  statInc(_processStats.threadsExited);
  CriticalBlock& g = allThreadsBlock();
  g.enter();
  if (prev_ != nullptr) prev_->next_ = next_;
  else if (allThreads == this) allThreads = next_;
  if (next_ != nullptr) next_->prev_ = prev_;
  g.exit();
  if (pthread_getspecific(daemonVar) == this) pthread_setspecific(daemonVar, nullptr);
}

void DaemonThread::setName(const char* name) {
  std::memset(name_, 0, sizeof(name_));
  if (name != nullptr) std::strncpy(name_, name, sizeof(name_) - 1);
}

void* DaemonThread::entry(void* self) {
  auto* t = static_cast<DaemonThread*>(self);
  pthread_setspecific(daemonVar, t);
  CriticalBlock& g = allThreadsBlock();
  g.enter();
  t->tid_ = static_cast<pid_t>(::gettid());
  g.exit();
  // The kernel keeps 15 characters of a thread's name.
  char shortName[16];
  size_t n = strnlen(t->name_, sizeof(shortName) - 1);
  std::memcpy(shortName, t->name_, n);
  shortName[n] = '\0';
  pthread_setname_np(pthread_self(), shortName);
  t->run();
  t->onRunComplete();
  // Everything read here is read before `exited_` is published: from then on
  // the owner may delete the object.
  t->startLock_.lock();
  bool deleteSelf = t->deleteOnExit_;
  // Nobody joins a thread that deletes its own object: detach it, or its
  // stack would stay allocated for the life of the process.
  bool detachSelf = deleteSelf && !t->detached_;
  if (detachSelf) t->detached_ = t->selfDetached_ = true;
  t->exited_ = true;
  t->startLock_.broadcast();
  t->startLock_.unlock();
  pthread_setspecific(daemonVar, nullptr);
  if (detachSelf) pthread_detach(pthread_self());
  if (deleteSelf) delete t;
  return nullptr;
}

int DaemonThread::start() {
  // Marked before the thread exists: a thread that ends and deletes itself
  // at once must still find that start() has to let go of the object first.
  startLock_.lock();
  created_ = true;
  startLock_.unlock();
  pthread_t th;
  int rv = pthread_create(&th, nullptr, entry, this);
  if (rv != 0) {
    startLock_.lock();
    created_ = false;
    startLock_.unlock();
    log(rv, "Error: pthread_create() fails");
    return -1;
  }
  startLock_.lock();
  thread_ = th;
  bool detach = detached_ && !selfDetached_;
  startLock_.unlock();
  if (detach) pthread_detach(th);
  startLock_.lock();
  while (!initialized_ && !exited_) {
    if (!startLock_.wait(kWaitSliceMs) && !initialized_ && !exited_) {
      log(0, "DaemonThread %s: still waiting for the thread to initialize", name_);
    }
  }
  started_ = true;
  startLock_.broadcast();
  startLock_.unlock();
  return 0;
}

void DaemonThread::setInitialized() {
  startLock_.lock();
  initialized_ = true;
  startLock_.broadcast();
  startLock_.unlock();
}

bool DaemonThread::join(int timeoutMs) {
  startLock_.lock();
  bool _detached = detached_;
  bool created = created_;
  startLock_.unlock();
  orv_assert(!_detached);
  orv_assert(!deleteOnExit_);
  if (_detached || !created || joined_) return !created || joined_;
  int64_t deadline = timeoutMs < 0 ? INT64_MAX : ThreadContext::nowMicros() + int64_t{timeoutMs} * 1000;
  startLock_.lock();
  while (!exited_) {
    int64_t left = deadline - ThreadContext::nowMicros();
    if (left <= 0) break;
    (void)startLock_.wait(static_cast<int>(std::min<int64_t>(left / 1000 + 1, kWaitSliceMs)));
  }
  bool done = exited_;
  startLock_.unlock();
  if (!done) return false;
  pthread_join(thread_, nullptr);
  joined_ = true;
  return true;
}

void DaemonThread::join() { (void)join(-1); }

void DaemonThread::setDetached() {
  startLock_.lock();
  bool _detached = detached_;
  detached_ = true;
  bool created = created_ && thread_ != pthread_t{};
  startLock_.unlock();
  orv_assert(!_detached);
  if (!_detached && created) pthread_detach(thread_);
}

bool DaemonThread::isStarted() {
  startLock_.lock();
  bool s = started_;
  startLock_.unlock();
  return s;
}

bool DaemonThread::hasExited() {
  startLock_.lock();
  bool e = exited_;
  startLock_.unlock();
  return e;
}

pid_t DaemonThread::getTid() const {
  CriticalBlock& g = allThreadsBlock();
  g.enter();
  pid_t tid = tid_;
  g.exit();
  return tid;
}

DaemonThread* DaemonThread::getCurrentThread() {
  pthread_once(&daemonVarOnce, makeDaemonVar);
  return static_cast<DaemonThread*>(pthread_getspecific(daemonVar));
}

bool DaemonThread::getName(char* buffer, size_t length, int tid) {
  if (buffer == nullptr || length == 0) return false;
  CriticalBlock& g = allThreadsBlock();
  g.enter();
  bool found = false;
  for (DaemonThread* t = allThreads; t != nullptr; t = t->next_) {
    if (t->tid_ == tid) {
      std::snprintf(buffer, length, "%s", t->name_);
      found = true;
      break;
    }
  }
  g.exit();
  return found;
}

void DaemonThread::deleteLater(void* object, void (*fn)(void*)) {
  auto* call = new LaterCall{fn, object, nullptr};
  laterLock_.enter();
  call->next = laterList_;
  laterList_ = call;
  laterLock_.exit();
  statInc(_processStats.laterAdded);
}

void DaemonThread::processLaterList() {
  // Taken whole, then run with no lock held: a call may queue another one,
  // or run for long, without blocking other threads' deleteLater.
  laterLock_.enter();
  LaterCall* list = laterList_;
  laterList_ = nullptr;
  laterLock_.exit();
  while (list != nullptr) {
    LaterCall* call = list;
    list = list->next;
    call->fn(call->object);
    delete call;
    statInc(_processStats.laterRemoved);
  }
}

void DaemonThread::setPerfState(int state) { ThreadContext::get()->setPerfState(state); }

MainDaemonThread::MainDaemonThread(const char* name) : DaemonThread(name, AttachCurrent{}) {}
