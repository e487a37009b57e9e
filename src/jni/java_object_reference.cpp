#include "jni/java_object_reference.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "foundation/log.h"
#include "jni/class_cache.h"
#include "jni/convert.h"
#include "jni/java_env.h"
#include "jni/java_prototype.h"
#include "jni/kel_bridge.h"
#include "kel/parser.h"
#include "kel/prototype_registry.h"
#include "model/any.h"
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

char* JavaObjectReference::toString(Parser* parser) {
  Translatable* prototype = PrototypeRegistry::findPrototype(objectId_);
  if (prototype == nullptr) {
    log(0, "Warning: object of type %d has no registered prototype", objectId_);
    return strdup("<ERROR>");
  }
  Any* args[] = {nullptr};
  Any* out = nullptr;
  std::unique_ptr<Any> value;
  if (prototype->callMemberFn(parser, &out, this, "toJSON", args) == 0) {
    value.reset(out);
    char* text = nullptr;
    if (value != nullptr && value->convertToString(text) && text != nullptr) return text;
  }
  // No toJSON on the Java side: the object's own text.
  JNIEnv* env = orvJniAttach();
  std::string text = "<ERROR>";
  if (env != nullptr && object_ != nullptr && env->PushLocalFrame(4) == JNI_OK) {
    jmethodID m = env->GetMethodID(_ObjectClass, "toString", "()Ljava/lang/String;");
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
  *result = nullptr;
  JNIEnv* env = orvJniAttach();
  if (env == nullptr || object_ == nullptr) return Translatable::getField(parser, result, name);
  if (env->PushLocalFrame(8) != JNI_OK) {
    env->ExceptionClear();
    return 25;
  }
  int rc = 0;
  bool fallBack = false;
  jobject principal = javaPrincipalOf(env, parser != nullptr ? parser->principal() : nullptr);
  jstring member = newJavaString(env, name);
  jobject out = env->CallStaticObjectMethod(_ParserClass, _parserFieldHelper, object_, principal, member);
  if (env->ExceptionCheck()) {
    jthrowable t = env->ExceptionOccurred();
    env->ExceptionClear();
    jclass notImplemented = env->FindClass("com/vesk/orvanex/NotImplementedException");
    if (notImplemented != nullptr && env->IsInstanceOf(t, notImplemented)) {
      fallBack = true;
    } else {
      env->ExceptionClear();
      log(0, "There was an exception in fieldHelper");
      rc = javaCallFailure(env, t, "There was an exception in fieldHelper");
    }
  } else {
    *result = javaToAnyForKel(env, out);
    if (*result == nullptr) rc = 18;
  }
  env->PopLocalFrame(nullptr);
  return fallBack ? Translatable::getField(parser, result, name) : rc;
}
