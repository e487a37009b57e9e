#include "jni/java_var_set_wrapper.h"

#include <cstdlib>
#include <cstring>

#include "foundation/log.h"
#include "jni/class_cache.h"
#include "jni/convert.h"
#include "jni/java_env.h"
#include "jni/java_exceptions.h"
#include "jni/java_string.h"
#include "jni/java_workers.h"
#include "jni/kel_bridge.h"
#include "model/any.h"
#include "model/attributes.h"

namespace {

struct JavaMethods {
  jmethodID isDefined = nullptr;
  jmethodID getVariable = nullptr;
  jmethodID setVariable = nullptr;
  jmethodID defineVariable = nullptr;
  jmethodID getSubSet = nullptr;
};

const JavaMethods& methods(JNIEnv* env) {
  // Looked up once; the class and its IDs live as long as the VM.
  static const JavaMethods m = [env] {
    JavaMethods out;
    jclass c = _AbstractVariableSetClass;
    out.isDefined = env->GetMethodID(c, "isDefined", "(Ljava/lang/String;)Z");
    out.getVariable = env->GetMethodID(c, "getVariable", "(Ljava/lang/String;)Ljava/lang/Object;");
    out.setVariable = env->GetMethodID(c, "setVariable", "(Ljava/lang/String;Ljava/lang/Object;)V");
    out.defineVariable = env->GetMethodID(c, "defineVariable", "(Ljava/lang/String;Ljava/lang/Object;)V");
    out.getSubSet =
        env->GetMethodID(c, "getSubSet", "(Ljava/lang/String;)Lcom/vesk/orvanex/kel/AbstractVariableSet;");
    env->ExceptionClear();
    return out;
  }();
  return m;
}

// A local frame for one call into Java; a pending exception is logged and
// cleared when the frame ends.
class Frame {
 public:
  Frame() : env_(orvJniAttach()) {
    if (env_ != nullptr && env_->PushLocalFrame(8) != JNI_OK) {
      env_->ExceptionClear();
      env_ = nullptr;
    }
  }
  ~Frame() {
    if (env_ == nullptr) return;
    (void)testAndLogException(env_, "Unexpected exception in a Java variable set");
    env_->PopLocalFrame(nullptr);
  }
  Frame(const Frame&) = delete;
  Frame& operator=(const Frame&) = delete;
  [[nodiscard]] JNIEnv* env() const { return env_; }

 private:
  JNIEnv* env_;
};

}  // namespace

JavaAbstractVariableSetWrapper::JavaAbstractVariableSetWrapper(JNIEnv* env, jobject javaSet,
                                                               AbstractVarSet* parent)
    : javaSet_(newBridgeGlobalRef(env, javaSet)) {
  if (parent != nullptr) setParent(parent);
}

JavaAbstractVariableSetWrapper::~JavaAbstractVariableSetWrapper() { orv_DeleteObjectRef(javaSet_); }

AbstractVarSet* JavaAbstractVariableSetWrapper::getSubSet(const char* name) {
  if (name == nullptr) return nullptr;
  {
    Frame f;
    JNIEnv* env = f.env();
    if (env != nullptr) {
      jstring n = newJavaString(env, name);
      jobject sub = env->CallObjectMethod(javaSet_, methods(env).getSubSet, n);
      ObjRef held;
      if (!env->ExceptionCheck() && sub != nullptr && nativeVarSetOf(env, sub, &held)) {
        // Kept so that the pointer handed out stays valid.
        subSets_[name] = held;
        return static_cast<AbstractVarSet*>(held.getTarget());
      }
    }
  }
  return parent() != nullptr ? parent()->getSubSet(name) : nullptr;
}

bool JavaAbstractVariableSetWrapper::set(const char*, AbstractVarSet*) { return false; }
bool JavaAbstractVariableSetWrapper::define(const char*, AbstractVarSet*) { return false; }

Any* JavaAbstractVariableSetWrapper::get(const char* name) {
  if (name == nullptr) return nullptr;
  if (Attributes* self = getThis()) {
    if (Any* v = self->getAttribute(name)) return v;
  }
  {
    Frame f;
    JNIEnv* env = f.env();
    if (env != nullptr) {
      jstring n = newJavaString(env, name);
      const bool defined = env->CallBooleanMethod(javaSet_, methods(env).isDefined, n) == JNI_TRUE;
      if (defined && !env->ExceptionCheck()) {
        jobject v = env->CallObjectMethod(javaSet_, methods(env).getVariable, n);
        if (!env->ExceptionCheck()) {
          Any* any = javaToAnyForKel(env, v);
          if (any != nullptr) {
            auto& slot = values_[name];
            slot.reset(any);
            return any;
          }
        }
      }
    }
  }
  return parent() != nullptr ? parent()->get(name) : nullptr;
}

bool JavaAbstractVariableSetWrapper::set(const char* name, Any* value) {
  std::unique_ptr<Any> owned(value);
  if (name == nullptr || readOnly_) return false;
  Frame f;
  JNIEnv* env = f.env();
  if (env == nullptr) return false;
  jstring n = newJavaString(env, name);
  const bool defined = env->CallBooleanMethod(javaSet_, methods(env).isDefined, n) == JNI_TRUE;
  if (env->ExceptionCheck()) return false;
  if (!defined) return parent() != nullptr && parent()->set(name, owned.release());
  jobject v = nullptr;
  if (kelToJavaObject(env, &v, owned.get()) != 0) return false;
  env->CallVoidMethod(javaSet_, methods(env).setVariable, n, v);
  values_.erase(name);
  return !env->ExceptionCheck();
}

bool JavaAbstractVariableSetWrapper::define(const char* name, Any* value) {
  std::unique_ptr<Any> owned(value);
  if (name == nullptr || readOnly_) return false;
  Frame f;
  JNIEnv* env = f.env();
  if (env == nullptr) return false;
  jstring n = newJavaString(env, name);
  jobject v = nullptr;
  if (kelToJavaObject(env, &v, owned.get()) != 0) return false;
  env->CallVoidMethod(javaSet_, methods(env).defineVariable, n, v);
  values_.erase(name);
  return !env->ExceptionCheck();
}

void JavaAbstractVariableSetWrapper::clear(const char* name) {
  if (name == nullptr || readOnly_) return;
  Frame f;
  JNIEnv* env = f.env();
  if (env == nullptr) return;
  jstring n = newJavaString(env, name);
  env->CallVoidMethod(javaSet_, methods(env).setVariable, n, nullptr);
  values_.erase(name);
}

void JavaAbstractVariableSetWrapper::setThis(Attributes* map) { this_.set(map); }

Attributes* JavaAbstractVariableSetWrapper::getThis() { return static_cast<Attributes*>(this_.getTarget()); }

char** JavaAbstractVariableSetWrapper::getLocalVariables() {
  auto** out = new char*[1];
  out[0] = nullptr;
  return out;
}

char* JavaAbstractVariableSetWrapper::toString(Parser*) { return strdup("JavaAbstractVariableSet"); }
