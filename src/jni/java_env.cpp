#include "jni/java_env.h"

#include <cstdio>
#include <vector>

#include "foundation/diagnostics.h"
#include "foundation/log.h"
#include "jni/jvm_handles.h"
#include "runtime/daemon_thread.h"

namespace {

// The environments a Java thread pushed, newest last. A per-thread stack:
// each thread only ever reads and changes its own, so no lock is needed and
// nested natives on one thread stack as they should.
thread_local std::vector<JNIEnv*> pushedEnvs;

// Detaches a runtime thread that this layer attached, when the thread ends:
// a native thread that ends attached leaves its Java thread behind.
struct AttachedThread {
  bool attached = false;
  ~AttachedThread() {
    if (attached && _thisVM != nullptr) _thisVM->DetachCurrentThread();
  }
};
thread_local AttachedThread attachedThread;

JavaVM* theVM() {
  if (_thisVM == nullptr) {
    JavaVM* vms[1] = {nullptr};
    jsize n = 0;
    if (JNI_GetCreatedJavaVMs(vms, 1, &n) == JNI_OK && n > 0) _thisVM = vms[0];
  }
  return _thisVM;
}

}  // namespace

JNIEnv* orvJniAttach() {
  DaemonThread* self = DaemonThread::getCurrentThread();
  if (self != nullptr) {
    auto* env = static_cast<JNIEnv*>(self->env());
    if (env == nullptr) {
      JavaVM* vm = theVM();
      if (vm != nullptr) {
        // A thread the VM already knows (the one that created it) keeps its
        // own environment and is not detached by us.
        if (vm->GetEnv(reinterpret_cast<void**>(&env), JNI_VERSION_1_6) != JNI_OK) {
          char name[64];
          snprintf(name, sizeof name, "DaemonThread-%p", static_cast<void*>(self));
          JavaVMAttachArgs args{JNI_VERSION_1_6, name, nullptr};
          // As a daemon: the VM never waits for a runtime thread to end.
          if (vm->AttachCurrentThreadAsDaemon(reinterpret_cast<void**>(&env), &args) == JNI_OK) {
            attachedThread.attached = true;
          } else {
            env = nullptr;
          }
        }
        self->setEnv(env);
      }
    }
    if (env != nullptr) {
      if (env->ExceptionCheck()) env->ExceptionClear();
      return env;
    }
  }
  if (!pushedEnvs.empty()) return pushedEnvs.back();
  log(_debug_java, LOG_WARNING, 0, 0, "WARNING: Caller to orvJniAttach() is not a daemon thread");
  s_dump_stack("fatal error in orvJniAttach");
  return nullptr;
}

void pushJavaThread(JNIEnv* env) { pushedEnvs.push_back(env); }

void popJavaThread() {
  if (!pushedEnvs.empty()) pushedEnvs.pop_back();
}

int pushedJavaThreadDepth() { return static_cast<int>(pushedEnvs.size()); }

bool dumpJavaThreads() {
  JavaVM* vm = theVM();
  if (vm == nullptr) return false;
  JNIEnv* env = nullptr;
  bool attachedHere = false;
  if (vm->GetEnv(reinterpret_cast<void**>(&env), JNI_VERSION_1_6) != JNI_OK) {
    JavaVMAttachArgs args{JNI_VERSION_1_6, const_cast<char*>("assertion"), nullptr};
    if (vm->AttachCurrentThreadAsDaemon(reinterpret_cast<void**>(&env), &args) != JNI_OK) return false;
    attachedHere = true;
  }
  // A Java call is not allowed with an exception pending: keep it aside and
  // raise it again afterwards, so that the caller sees what it would have.
  jthrowable pending = env->ExceptionOccurred();
  if (pending != nullptr) env->ExceptionClear();
  bool ok = false;
  if (env->PushLocalFrame(8) == JNI_OK) {
    jclass helper = env->FindClass("com/vesk/orvanex/diag/DiagHelper");
    jmethodID dump = helper != nullptr ? env->GetStaticMethodID(helper, "dumpAllThreads", "()V") : nullptr;
    if (dump != nullptr) {
      env->CallStaticVoidMethod(helper, dump);
      ok = env->ExceptionCheck() != JNI_TRUE;
    }
    if (env->ExceptionCheck()) env->ExceptionClear();
    env->PopLocalFrame(nullptr);
  } else {
    env->ExceptionClear();
  }
  if (pending != nullptr) {
    env->Throw(pending);
    env->DeleteLocalRef(pending);
  }
  if (attachedHere) vm->DetachCurrentThread();
  return ok;
}
