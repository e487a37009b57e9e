#include "jni/java_object_reference.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include "jni/java_env.h"
#include "jni/java_string.h"
#include "jni/java_workers.h"

JavaObjectReference::JavaObjectReference(JNIEnv* env, jobject obj, int objectId)
    : object_(obj != nullptr ? newBridgeGlobalRef(env, obj) : nullptr), objectId_(objectId) {}

JavaObjectReference::~JavaObjectReference() {
  if (object_ != nullptr) orv_DeleteObjectRef(object_);
}

int JavaObjectReference::clone(const Principal*, Translatable** out) const {
  JNIEnv* env = orvJniAttach();
  if (env == nullptr) return 25;
  *out = new JavaObjectReference(env, object_, objectId_);
  return 0;
}

int JavaObjectReference::isEqual(const Principal*, bool* out, const Translatable* other) const {
  const auto* o = dynamic_cast<const JavaObjectReference*>(other);
  if (o == nullptr) {
    *out = false;
    return 0;
  }
  JNIEnv* env = orvJniAttach();
  if (env == nullptr) return 25;
  *out = env->IsSameObject(object_, o->object_) == JNI_TRUE;
  return 0;
}

char* JavaObjectReference::toString(Parser*) {
  JNIEnv* env = orvJniAttach();
  std::string text = "<ERROR>";
  if (env != nullptr && object_ != nullptr && env->PushLocalFrame(4) == JNI_OK) {
    jclass cls = env->FindClass("java/lang/Object");
    jmethodID m = cls != nullptr ? env->GetMethodID(cls, "toString", "()Ljava/lang/String;") : nullptr;
    auto s = m != nullptr ? static_cast<jstring>(env->CallObjectMethod(object_, m)) : nullptr;
    if (env->ExceptionCheck()) {
      env->ExceptionClear();
    } else if (s != nullptr) {
      (void)javaStringToUtf8(env, s, &text);
    }
    env->PopLocalFrame(nullptr);
  }
  return strdup(text.c_str());
}

int JavaObjectReference::getField(Parser* parser, Any** result, const char* name) const {
  return Translatable::getField(parser, result, name);
}
