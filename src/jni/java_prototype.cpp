#include "jni/java_prototype.h"

#include <cstdlib>
#include <cstring>
#include <memory>

#include "foundation/log.h"
#include "jni/class_cache.h"
#include "jni/convert.h"
#include "jni/java_env.h"
#include "jni/java_exceptions.h"
#include "jni/java_object_reference.h"
#include "jni/java_string.h"
#include "jni/java_workers.h"
#include "jni/kel_bridge.h"
#include "kel/parser.h"
#include "model/any.h"

int javaCallFailure(JNIEnv* env, jthrowable t, const char* what) {
  logStackTrace(env, what, t);
  int code = 25;
  jthrowable examined = t;
  jclass ite = env->FindClass("java/lang/reflect/InvocationTargetException");
  jthrowable cause = nullptr;
  if (ite != nullptr && env->IsInstanceOf(t, ite)) {
    jmethodID getCause = env->GetMethodID(ite, "getCause", "()Ljava/lang/Throwable;");
    cause = getCause != nullptr ? static_cast<jthrowable>(env->CallObjectMethod(t, getCause)) : nullptr;
    if (cause != nullptr) examined = cause;
  }
  env->ExceptionClear();
  if (examined != nullptr && env->IsInstanceOf(examined, _DirectoryExceptionClass)) {
    code = env->CallIntMethod(examined, _directoryExceptionGetErrorCode);
    if (env->ExceptionCheck()) {
      env->ExceptionClear();
      code = 25;
    }
  } else {
    log(0, "JavaObject: Warning: There was an execution exception");
  }
  if (cause != nullptr) env->DeleteLocalRef(cause);
  if (ite != nullptr) env->DeleteLocalRef(ite);
  return code;
}

JavaPrototype::JavaPrototype(JNIEnv* env, jclass cls, int objectId)
    : class_(static_cast<jclass>(newBridgeGlobalRef(env, cls))), objectId_(objectId) {}

JavaPrototype::~JavaPrototype() { orv_DeleteObjectRef(class_); }

char* JavaPrototype::toString(Parser*) { return strdup("prototype"); }

int JavaPrototype::callMemberFn(Parser* parser, Any** result, Translatable* self, const char* name,
                                Any** args) {
  *result = nullptr;
  JNIEnv* env = orvJniAttach();
  if (env == nullptr) return 25;
  int count = 0;
  while (args != nullptr && args[count] != nullptr) ++count;
  if (env->PushLocalFrame(count + 16) != JNI_OK) {
    env->ExceptionClear();
    return 25;
  }
  int rc = 0;
  jobject target = nullptr;
  if (self != nullptr && self->getObjectID() >= JavaObjectReference::kFirstJavaObjectId &&
      self->copyToJavaAsRef()) {
    target = static_cast<const JavaObjectReference*>(self)->object();
  }
  jobjectArray jargs = env->NewObjectArray(count, _ObjectClass, nullptr);
  for (int i = 0; jargs != nullptr && i < count && rc == 0; ++i) {
    jobject a = nullptr;
    rc = kelToJavaObject(env, &a, args[i]);
    if (rc == 0) env->SetObjectArrayElement(jargs, i, a);
  }
  if (jargs == nullptr) rc = 25;
  if (rc == 0) {
    jobject principal = javaPrincipalOf(env, parser != nullptr ? parser->principal() : nullptr);
    jstring member = newJavaString(env, name);
    jobject out =
        env->CallStaticObjectMethod(_ParserClass, _parserCallHelper, target, principal, member, jargs);
    if (env->ExceptionCheck()) {
      jthrowable t = env->ExceptionOccurred();
      env->ExceptionClear();
      log(0, "There was an exception in callHelper");
      rc = javaCallFailure(env, t, "There was an exception in callHelper");
    } else {
      *result = javaToAnyForKel(env, out);
      if (*result == nullptr) rc = 18;
    }
  }
  env->PopLocalFrame(nullptr);
  return rc;
}
