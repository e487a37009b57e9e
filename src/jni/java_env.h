// How native code finds a JNIEnv on the thread it runs on. Runtime threads
// (DaemonThreads) are attached to the VM the first time they ask and stay
// attached until they end; a Java thread running a native registers its own
// environment for the length of the native (pushJavaThread/popJavaThread), so
// that callbacks made on that thread find it. Thread-safe: every record is
// the calling thread's own.
#pragma once

#include <jni.h>

// The calling thread's JNIEnv: the attached environment of a DaemonThread
// (attaching it first, with any pending exception cleared), else the newest
// one the thread pushed, else null after the warning "WARNING: Caller to
// orvJniAttach() is not a daemon thread" and a stack dump.
[[nodiscard]] JNIEnv* orvJniAttach();

// Registers `env` as the calling thread's environment; pushes nest.
void pushJavaThread(JNIEnv* env);
// Removes the calling thread's newest registration (none: does nothing).
void popJavaThread();

// Brackets a native: push on construction, pop on every way out.
class JavaThreadScope {
 public:
  explicit JavaThreadScope(JNIEnv* env) { pushJavaThread(env); }
  ~JavaThreadScope() { popJavaThread(); }
  JavaThreadScope(const JavaThreadScope&) = delete;
  JavaThreadScope& operator=(const JavaThreadScope&) = delete;
};

// How many environments the calling thread has pushed and not popped.
[[nodiscard]] int pushedJavaThreadDepth();

// The Java-thread dump of a failed assertion: DiagHelper.dumpAllThreads on
// the calling thread (attached for the call when it is not). True when the
// dump was written. Installed as the assertion's hook by the class cache.
bool dumpJavaThreads();
