// The Java dispatch workers "java-dispatch-%d": runtime threads attached to
// the VM that deliver asynchronous work into Java (system events, future
// results, property changes, directory listener calls, message-queue
// messages, and the deletion of global references, which only happens on a
// worker). Also the one-thread "alert" pool of Java alert listeners and the
// queue statistics. Any thread may queue; each worker runs its queue in order.
#pragma once

#include <jni.h>

#include <cstddef>

struct DeferredOp;
class OpTarget;
class Translatable;

// Work run on a worker with its environment. `op` belongs to the queue and is
// deleted after the call; the function frees what op's words point to.
using JavaWorkFn = void (*)(JNIEnv* env, DeferredOp* op);

// Reads "java_dispatch_threads" (default 1, at most 16), logs "Starting %d
// java dispatch threads", starts the workers and waits until each has made
// its targets. Called once by the class cache; later calls do nothing.
void startJavaWorkers();
// The number of workers started (0 before).
[[nodiscard]] int javaDispatchThreadCount();

// Worker selection (see java_workers.cpp): round robin, and a hash of a key
// that keeps equal keys on at most two workers.
[[nodiscard]] int threadRR();
[[nodiscard]] int threadHash(const char* key);
// The pure forms, for a given worker count and call counter (tests).
[[nodiscard]] unsigned threadHashValue(const char* key);

// The targets: per worker (index 0 to count-1) and single.
enum class JavaTarget {
  kOrvEvent,        // _orvEventOt[worker]
  kFutureResult,    // _ot[worker]
  kProperties,      // _propertiesEventOt
  kLostConnection,  // _lostConnectionOpTarget
  kConnected,       // _connectedOpTarget
  kObjectEvent,     // _objectEventOpTarget
  kDelete,          // _deleteOpTarget
  kDispatchMQ,      // _dispatchMQOpTarget
};

// Queues fn(env, op) to the target (the worker index applies to the
// per-worker targets) and counts it. Takes `op`. Returns 0, or -1 when the
// workers are not running (`op` is then deleted unrun and false returned).
int queueJavaWork(JavaTarget target, int worker, JavaWorkFn fn, DeferredOp* op);

// A property-change notification for a Java OrvanexPropertiesListener
// (`listener` is a global reference the caller keeps).
void queueEventToJavaWorker(jobject listener);
// A system event for a Java OrvEventListener (a global reference the caller
// keeps). Takes `event` (a copy, deleted after delivery; converted to Java
// through its object id). Events of class "lengthy-operation" or "rule" go
// to the worker of threadHash(guid), others round robin.
void queueEventToJavaWorker(jobject listener, Translatable* event, const char* eventClass, const char* guid);

// Deletes a global reference on a worker (at once on the calling thread when
// no worker runs yet and the thread is attached). Null is ignored.
extern "C" void orv_DeleteObjectRef(jobject globalRef);

// A global reference made by the bridge, counted, so that tests can tell
// that references are not leaked; release with orv_DeleteObjectRef (or
// deleteBridgeGlobalRef on an attached thread).
[[nodiscard]] jobject newBridgeGlobalRef(JNIEnv* env, jobject obj);
void deleteBridgeGlobalRef(JNIEnv* env, jobject globalRef);
[[nodiscard]] long long liveBridgeGlobalRefs();

// Waits until every worker has run everything queued before the call; false
// after `timeoutMs`.
[[nodiscard]] bool syncJavaWorkers(int timeoutMs);

// Logs the queue counters and their change since the last dump.
void dumpJavaBindingPerf();

// Alert listener delivery on the "alert" pool (one thread, made on first
// use). Kinds: 1 alertUpdated (arg: native alert pointer), 2 alertDestroyed
// (arg: a malloc'd id text, freed here), 3 onAlertListenerConnected, 4
// onAlertListenerDisconnected, 5 onStartSync, 6 onEndSync. `listener` is a
// global reference the caller keeps.
void queueAlertToJava(int kind, jobject listener, void* arg);
