#include "jni/java_workers.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "foundation/diagnostics.h"
#include "foundation/log.h"
#include "foundation/properties.h"
#include "jni/class_cache.h"
#include "jni/convert.h"
#include "jni/java_env.h"
#include "jni/java_exceptions.h"
#include "jni/jvm_handles.h"
#include "model/any.h"
#include "runtime/cond_block.h"
#include "runtime/daemon_thread.h"
#include "runtime/deferred_op.h"
#include "runtime/op_target.h"
#include "runtime/thread_context.h"
#include "runtime/thread_pool.h"

namespace {

constexpr int kMaxDispatchThreads = 16;
constexpr int kReactorSliceMs = 10000;

// A target that runs the JavaWorkFn carried in each operation's `reserved`
// word with the worker's environment.
class JavaWorkerTarget : public AsyncOpTarget {
 public:
  explicit JavaWorkerTarget(JNIEnv* env) : env_(env) {}
  int execute(DeferredOp* op) override {
    auto fn = reinterpret_cast<JavaWorkFn>(op->reserved);
    if (fn != nullptr) {
      // Each operation gets its own local frame: a long-lived worker never
      // piles up local references.
      if (env_->PushLocalFrame(32) == JNI_OK) {
        fn(env_, op);
        if (env_->ExceptionCheck()) (void)testAndLogException(env_, "Unexpected exception on a Java worker");
        env_->PopLocalFrame(nullptr);
      } else {
        env_->ExceptionClear();
      }
    }
    return 0;
  }

 private:
  JNIEnv* env_;
};

struct Counters {
  std::atomic<long long> events{0}, results{0};
  long long lastEvents = 0, lastResults = 0;
};

// Written once while the workers start, read without locks afterwards.
struct Workers {
  int count = 0;
  JavaWorkerTarget* orvEventOt[kMaxDispatchThreads] = {};  // _orvEventOt
  JavaWorkerTarget* ot[kMaxDispatchThreads] = {};          // _ot
  JavaWorkerTarget* propertiesEventOt = nullptr;
  JavaWorkerTarget* lostConnectionOpTarget = nullptr;
  JavaWorkerTarget* connectedOpTarget = nullptr;
  JavaWorkerTarget* objectEventOpTarget = nullptr;
  JavaWorkerTarget* deleteOpTarget = nullptr;
  JavaWorkerTarget* dispatchMQOpTarget = nullptr;
  Counters perWorker[kMaxDispatchThreads];
  std::atomic<long long> deletes{0}, lost{0}, object{0}, connected{0};
  long long lastDeletes = 0, lastLost = 0, lastObject = 0, lastConnected = 0;
  std::atomic<bool> running{false};
};

Workers& workers() {
  static auto* w = new Workers();
  return *w;
}

std::atomic<long long> liveGlobals{0};
std::atomic<unsigned> callCounter{0};
std::atomic<unsigned> mainCursor{0};
std::atomic<unsigned> secondCursor{0};

class JavaHelperThread : public DaemonThread {
 public:
  JavaHelperThread(const char* name, int index) : DaemonThread(name), index_(index) {}

  void run() override {
    JNIEnv* env = orvJniAttach();
    Workers& w = workers();
    if (env != nullptr) {
      w.orvEventOt[index_] = new JavaWorkerTarget(env);
      w.ot[index_] = new JavaWorkerTarget(env);
      if (index_ == 0) {
        w.propertiesEventOt = new JavaWorkerTarget(env);
        w.lostConnectionOpTarget = new JavaWorkerTarget(env);
        w.connectedOpTarget = new JavaWorkerTarget(env);
        w.objectEventOpTarget = new JavaWorkerTarget(env);
        w.deleteOpTarget = new JavaWorkerTarget(env);
        w.dispatchMQOpTarget = new JavaWorkerTarget(env);
      }
    }
    setInitialized();
    if (env == nullptr) return;
    for (;;) {
      log(_debug_java, LOG_TRACE, 0, 0, "Java: thread alive");
      (void)Reactor::run(kReactorSliceMs);
    }
  }

 private:
  int index_;
};

JavaWorkerTarget* targetOf(JavaTarget t, int worker) {
  Workers& w = workers();
  if (!w.running.load(std::memory_order_acquire)) return nullptr;
  if (worker < 0 || worker >= w.count) worker = 0;
  switch (t) {
    case JavaTarget::kOrvEvent: return w.orvEventOt[worker];
    case JavaTarget::kFutureResult: return w.ot[worker];
    case JavaTarget::kProperties: return w.propertiesEventOt;
    case JavaTarget::kLostConnection: return w.lostConnectionOpTarget;
    case JavaTarget::kConnected: return w.connectedOpTarget;
    case JavaTarget::kObjectEvent: return w.objectEventOpTarget;
    case JavaTarget::kDelete: return w.deleteOpTarget;
    case JavaTarget::kDispatchMQ: return w.dispatchMQOpTarget;
  }
  return nullptr;
}

void deleteRef(JNIEnv* env, DeferredOp* op) {
  workers().deletes.fetch_add(1, std::memory_order_relaxed);
  deleteBridgeGlobalRef(env, static_cast<jobject>(op->object));
}

void deliverPropertiesChanged(JNIEnv* env, DeferredOp* op) {
  jclass cls = env->FindClass("com/vesk/orvanex/agent/OrvanexPropertiesListener");
  jmethodID m = cls != nullptr ? env->GetMethodID(cls, "propertiesChanged", "()V") : nullptr;
  if (m != nullptr) env->CallVoidMethod(static_cast<jobject>(op->object), m);
  (void)testAndLogException(env, "Unexpected exception delivering a properties change to JAVA listeners");
}

// op: object = listener, message = the event (an Any holding it, owned).
void deliverEvent(JNIEnv* env, DeferredOp* op) {
  std::unique_ptr<Any> event(static_cast<Any*>(op->message));
  if (_debug_java <= LOG_TRACE) {
    Translatable* t = nullptr;
    char* text = event->getObject(&t) && t != nullptr ? t->toString(nullptr) : nullptr;
    log(_debug_java, LOG_TRACE, 0, 0, "EVENT PROCESSED: %s", text != nullptr ? text : "");
    free(text);
  }
  jobject jevent = nullptr;
  const int rc = toJavaObject(env, &jevent, event.get());
  if (testAndLogException(env, "Unexpected exception converting object") || rc != 0 || jevent == nullptr) {
    log(0, "ERROR: unable to convert 'c' event to java");
    return;
  }
  jclass cls = env->FindClass("com/vesk/orvanex/agent/OrvEventListener");
  jmethodID m = cls != nullptr ? env->GetMethodID(cls, "handleEvent", "(Lcom/vesk/orvanex/OrvEvent;)V") : nullptr;
  if (m != nullptr) env->CallVoidMethod(static_cast<jobject>(op->object), m, jevent);
  env->DeleteLocalRef(jevent);
  (void)testAndLogException(env, "Unexpected exception delivering OrvEvent to JAVA listeners");
  log(_debug_java, LOG_TRACE, 0, 0, "- EVENT PROCESSED");
}

// ---- the alert pool

struct AlertMethods {
  jmethodID updated = nullptr, destroyed = nullptr, connected = nullptr, disconnected = nullptr, startSync = nullptr,
            endSync = nullptr;
};

class AlertThreadPool : public ThreadPool {
 public:
  AlertThreadPool() : ThreadPool("alert", 1) {}

  // op: value = kind, object = listener, message = argument.
  void run(DeferredOp* op) override {
    JNIEnv* env = orvJniAttach();
    if (env == nullptr) return;
    if (methods_.updated == nullptr) lookUp(env);
    auto listener = static_cast<jobject>(op->object);
    if (env->PushLocalFrame(8) != JNI_OK) {
      env->ExceptionClear();
      return;
    }
    switch (op->value) {
      case 1: {
        jobject alert = env->NewObject(_AlertClass, _alertCreate, reinterpret_cast<jlong>(op->message), JNI_FALSE);
        if (alert != nullptr) env->CallVoidMethod(listener, methods_.updated, alert);
        if (alert != nullptr) env->DeleteLocalRef(alert);
        break;
      }
      case 2: {
        jstring id = newIdString(env, static_cast<char*>(op->message));
        env->CallVoidMethod(listener, methods_.destroyed, id);
        break;
      }
      case 3: env->CallVoidMethod(listener, methods_.connected); break;
      case 4: env->CallVoidMethod(listener, methods_.disconnected); break;
      case 5: env->CallVoidMethod(listener, methods_.startSync); break;
      case 6: env->CallVoidMethod(listener, methods_.endSync); break;
      default: break;
    }
    (void)testAndLogException(env, "AlertListener threw unexpected exception");
    env->PopLocalFrame(nullptr);
  }

 private:
  static jstring newIdString(JNIEnv* env, char* text) {
    jstring s = toJavaString(env, text);
    free(text);
    return s;
  }

  void lookUp(JNIEnv* env) {
    jclass c = _AlertListenerClass;
    methods_.updated = env->GetMethodID(c, "alertUpdated", "(Lcom/vesk/orvanex/alert/Alert;)V");
    methods_.destroyed = env->GetMethodID(c, "alertDestroyed", "(Ljava/lang/String;)V");
    methods_.connected = env->GetMethodID(c, "onAlertListenerConnected", "()V");
    methods_.disconnected = env->GetMethodID(c, "onAlertListenerDisconnected", "()V");
    methods_.startSync = env->GetMethodID(c, "onStartSync", "()V");
    methods_.endSync = env->GetMethodID(c, "onEndSync", "()V");
    if (env->ExceptionCheck()) env->ExceptionClear();
  }

  AlertMethods methods_;
};

std::atomic<AlertThreadPool*> _alertThreadPool{nullptr};
CriticalBlock& alertPoolBlock() {
  static auto* b = new CriticalBlock();
  return *b;
}

}  // namespace

void startJavaWorkers() {
  Workers& w = workers();
  if (w.count > 0) return;
  int n = s_getIntProperty("java_dispatch_threads", 1);
  if (n < 1) n = 1;
  if (n > kMaxDispatchThreads) n = kMaxDispatchThreads;
  setJavaThreadDumpHook(dumpJavaThreads);
  addStatisticsDumpHook(dumpJavaBindingPerf);
  log(0, "Starting %d java dispatch threads", n);
  int started = 0;
  for (int i = 0; i < n; ++i) {
    char name[DaemonThread::kNameSize];
    snprintf(name, sizeof name, "java-dispatch-%d", i);
    auto* t = new JavaHelperThread(name, i);
    if (t->start() != 0) {
      delete t;
      break;
    }
    ++started;
  }
  w.count = started;
  w.running.store(started > 0 && w.deleteOpTarget != nullptr, std::memory_order_release);
}

int javaDispatchThreadCount() { return workers().count; }

unsigned threadHashValue(const char* key) {
  unsigned h = 5381;
  if (key == nullptr) return h;
  for (int i = 0; i < 8 && key[i] != '\0'; ++i) {
    h = h * 33u + static_cast<unsigned>(static_cast<int>(static_cast<signed char>(key[i])) - 48);
  }
  return h;
}

int threadRR() {
  const unsigned n = static_cast<unsigned>(workers().count > 0 ? workers().count : 1);
  if (n > 2) {
    const unsigned c = callCounter.fetch_add(1, std::memory_order_relaxed) + 1;
    if (c % 2 == 0) {
      const unsigned next = (secondCursor.load(std::memory_order_relaxed) + 1) % (n - 1) + 1;
      secondCursor.store(next, std::memory_order_relaxed);
      return static_cast<int>(next);
    }
  }
  const unsigned next = (mainCursor.load(std::memory_order_relaxed) + 1) % n;
  mainCursor.store(next, std::memory_order_relaxed);
  return static_cast<int>(next);
}

int threadHash(const char* key) {
  const unsigned n = static_cast<unsigned>(workers().count > 0 ? workers().count : 1);
  const unsigned h = threadHashValue(key);
  if (n > 2) {
    const unsigned c = callCounter.fetch_add(1, std::memory_order_relaxed) + 1;
    if (c % 2 == 0) return static_cast<int>(h % (n - 1) + 1);
  }
  return static_cast<int>(h % n);
}

int queueJavaWork(JavaTarget target, int worker, JavaWorkFn fn, DeferredOp* op) {
  JavaWorkerTarget* t = targetOf(target, worker);
  if (t == nullptr) {
    delete op;
    return -1;
  }
  Workers& w = workers();
  switch (target) {
    case JavaTarget::kOrvEvent: w.perWorker[worker].events.fetch_add(1, std::memory_order_relaxed); break;
    case JavaTarget::kFutureResult: w.perWorker[worker].results.fetch_add(1, std::memory_order_relaxed); break;
    case JavaTarget::kLostConnection: w.lost.fetch_add(1, std::memory_order_relaxed); break;
    case JavaTarget::kConnected: w.connected.fetch_add(1, std::memory_order_relaxed); break;
    case JavaTarget::kObjectEvent: w.object.fetch_add(1, std::memory_order_relaxed); break;
    default: break;
  }
  op->reserved = reinterpret_cast<void*>(fn);
  return t->doExecute(op);
}

void queueEventToJavaWorker(jobject listener) {
  (void)queueJavaWork(JavaTarget::kProperties, 0, deliverPropertiesChanged, new DeferredOp(listener));
}

void queueEventToJavaWorker(jobject listener, Translatable* event, const char* eventClass, const char* guid) {
  auto* held = new Any(event->getObjectID(), event);
  int worker = 0;
  if (eventClass != nullptr && (strcmp(eventClass, "lengthy-operation") == 0 || strcmp(eventClass, "rule") == 0)) {
    worker = threadHash(guid != nullptr ? guid : "");
  } else {
    worker = threadRR();
  }
  if (queueJavaWork(JavaTarget::kOrvEvent, worker, deliverEvent, new DeferredOp(listener, held)) != 0) delete held;
}

jobject newBridgeGlobalRef(JNIEnv* env, jobject obj) {
  if (obj == nullptr) return nullptr;
  jobject g = env->NewGlobalRef(obj);
  if (g != nullptr) liveGlobals.fetch_add(1, std::memory_order_relaxed);
  return g;
}

void deleteBridgeGlobalRef(JNIEnv* env, jobject globalRef) {
  if (globalRef == nullptr) return;
  env->DeleteGlobalRef(globalRef);
  liveGlobals.fetch_sub(1, std::memory_order_relaxed);
}

long long liveBridgeGlobalRefs() { return liveGlobals.load(std::memory_order_relaxed); }

extern "C" void orv_DeleteObjectRef(jobject globalRef) {
  if (globalRef == nullptr) return;
  if (queueJavaWork(JavaTarget::kDelete, 0, deleteRef, new DeferredOp(globalRef)) == 0) return;
  // No worker yet: delete it here when this thread can.
  JNIEnv* env = nullptr;
  if (_thisVM != nullptr && _thisVM->GetEnv(reinterpret_cast<void**>(&env), JNI_VERSION_1_6) == JNI_OK) {
    deleteBridgeGlobalRef(env, globalRef);
  }
}

namespace {

struct SyncState {
  CondBlock block;
  int pending = 0;
};

void syncStep(JNIEnv*, DeferredOp* op) {
  auto* s = static_cast<SyncState*>(op->object);
  s->block.lock();
  --s->pending;
  s->block.signal();
  s->block.unlock();
}

}  // namespace

bool syncJavaWorkers(int timeoutMs) {
  Workers& w = workers();
  if (!w.running.load()) return true;
  // Shared with the queued steps, which may still run after a timeout.
  auto state = std::make_shared<SyncState>();
  static std::vector<std::shared_ptr<SyncState>>* keep = new std::vector<std::shared_ptr<SyncState>>();
  const JavaTarget kinds[] = {JavaTarget::kOrvEvent, JavaTarget::kFutureResult};
  state->block.lock();
  for (int i = 0; i < w.count; ++i) {
    for (JavaTarget k : kinds) {
      ++state->pending;
      if (queueJavaWork(k, i, syncStep, new DeferredOp(state.get())) != 0) --state->pending;
    }
  }
  for (JavaTarget k : {JavaTarget::kProperties, JavaTarget::kDelete, JavaTarget::kDispatchMQ, JavaTarget::kConnected,
                       JavaTarget::kLostConnection, JavaTarget::kObjectEvent}) {
    ++state->pending;
    JavaWorkerTarget* t = targetOf(k, 0);
    auto* op = new DeferredOp(state.get());
    op->reserved = reinterpret_cast<void*>(static_cast<JavaWorkFn>(syncStep));
    if (t == nullptr || t->doExecute(op) != 0) --state->pending;
  }
  const int64_t deadline = ThreadContext::nowMicros() + static_cast<int64_t>(timeoutMs) * 1000;
  while (state->pending > 0) {
    const int64_t left = (deadline - ThreadContext::nowMicros()) / 1000;
    if (left <= 0) break;
    (void)state->block.wait(static_cast<int>(left));
  }
  const bool done = state->pending <= 0;
  state->block.unlock();
  if (!done) keep->push_back(state);  // steps still queued point at it
  return done;
}

void dumpJavaBindingPerf() {
  Workers& w = workers();
  const long long d = w.deletes.load(), l = w.lost.load(), o = w.object.load(), c = w.connected.load();
  log(0, "== Java queue: deletes = %lld (delta = %lld), lost = %lld (%lld), object = %lld (%lld), connected = %lld (%lld)",
      d, d - w.lastDeletes, l, l - w.lastLost, o, o - w.lastObject, c, c - w.lastConnected);
  w.lastDeletes = d;
  w.lastLost = l;
  w.lastObject = o;
  w.lastConnected = c;
  for (int i = 0; i < w.count; ++i) {
    Counters& k = w.perWorker[i];
    const long long e = k.events.load(), r = k.results.load();
    log(0, "==    %d: events = %lld (%lld), results = %lld (%lld)", i, e, e - k.lastEvents, r, r - k.lastResults);
    k.lastEvents = e;
    k.lastResults = r;
  }
}

void queueAlertToJava(int kind, jobject listener, void* arg) {
  AlertThreadPool* pool = _alertThreadPool.load(std::memory_order_acquire);
  if (pool == nullptr) {
    CriticalGuard guard(alertPoolBlock());
    pool = _alertThreadPool.load(std::memory_order_acquire);
    if (pool == nullptr) {
      pool = new AlertThreadPool();
      _alertThreadPool.store(pool, std::memory_order_release);
    }
  }
  auto* op = new DeferredOp(listener, arg, kind);
  if (pool->queue(op) != 0) {
    if (kind == 2) free(arg);
    delete op;
  }
}
