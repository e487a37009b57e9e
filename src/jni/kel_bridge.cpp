#include "jni/kel_bridge.h"

#include <memory>
#include <string>

#include "foundation/log.h"
#include "jni/class_cache.h"
#include "jni/java_exceptions.h"
#include "jni/java_string.h"
#include "jni/java_var_set_wrapper.h"
#include "kel/abstract_var_set.h"
#include "kel/error.h"
#include "kel/location.h"
#include "kel/output.h"
#include "kel/parser.h"
#include "model/any.h"
#include "model/principal.h"
#include "runtime/critical_block.h"

namespace {

// Serialises all kel work started from Java in this process.
CriticalBlock& bx2() {
  static CriticalBlock* block = new CriticalBlock();  // never destroyed: natives may run at exit
  return *block;
}

}  // namespace

KelTurn::KelTurn() : entered_(!bx2().heldByCurrentThread()) {
  if (entered_) bx2().enter();
}

KelTurn::~KelTurn() {
  if (entered_) bx2().exit();
}

const Principal* nativePrincipalOf(JNIEnv* env, jobject principal) {
  if (principal == nullptr || _principalNativePtr == nullptr) return nullptr;
  return nativePtr<Principal>(env, principal, _principalNativePtr);
}

jobject javaPrincipalOf(JNIEnv* env, const Principal* principal) {
  if (principal == nullptr) return nullptr;
  jmethodID create = env->GetMethodID(_PrincipalClass, "<init>", "(JZ)V");
  if (create == nullptr) {
    env->ExceptionClear();
    return nullptr;
  }
  // A shadow: the Java object does not own the native principal.
  jobject o = env->NewObject(_PrincipalClass, create, reinterpret_cast<jlong>(principal), JNI_TRUE);
  if (o == nullptr) env->ExceptionClear();
  return o;
}

bool nativeVarSetOf(JNIEnv* env, jobject vars, ObjRef* out) {
  if (vars == nullptr) return false;
  if (env->IsInstanceOf(vars, _CVariableSetClass)) {
    auto* ref = nativePtr<ObjRef>(env, vars, _abstractVariableSetNativePtr);
    if (ref == nullptr || ref->getTarget() == nullptr) return false;
    *out = *ref;
    return true;
  }
  // Any other Java implementation: its names first, then the built-ins.
  ObjRef root = Parser::buildRootVarSet();
  out->set(new JavaAbstractVariableSetWrapper(env, vars, static_cast<AbstractVarSet*>(root.getTarget())));
  return true;
}

jobject newCAny(JNIEnv* env, Any* value) {
  if (value == nullptr) return nullptr;
  jobject o = env->NewObject(_CAnyClass, _cAnyCreate, reinterpret_cast<jlong>(value));
  if (o == nullptr) {
    delete value;
    env->ExceptionClear();
  }
  return o;
}

jobject makeLocation(JNIEnv* env, const Location& location) {
  jstring file = newJavaString(env, location.fileName().c_str());
  jstring fn = location.hasFunctionName() ? newJavaString(env, location.functionName().c_str()) : nullptr;
  jobject o = env->NewObject(_LocationClass, _locationCreate, file, fn, static_cast<jint>(location.line()),
                             static_cast<jint>(location.column()));
  if (file != nullptr) env->DeleteLocalRef(file);
  if (fn != nullptr) env->DeleteLocalRef(fn);
  return o;
}

jobject makeError(JNIEnv* env, const Error& error) {
  const auto& traceback = error.traceback();
  jobjectArray locations = env->NewObjectArray(static_cast<jsize>(traceback.size()), _LocationClass, nullptr);
  if (locations == nullptr) return nullptr;
  for (size_t i = 0; i < traceback.size(); ++i) {
    jobject l = makeLocation(env, traceback[i]);
    if (l == nullptr) break;
    env->SetObjectArrayElement(locations, static_cast<jsize>(i), l);
    env->DeleteLocalRef(l);
  }
  jstring message = newJavaString(env, error.message().c_str());
  jobject o = env->ExceptionCheck()
                  ? nullptr
                  : env->NewObject(_KelErrorClass, _kelErrorCreate, static_cast<jint>(error.type()),
                                   static_cast<jint>(error.code()), message, locations);
  if (message != nullptr) env->DeleteLocalRef(message);
  env->DeleteLocalRef(locations);
  return o;
}

jobjectArray makeErrorList(JNIEnv* env, const Error* error) {
  jobjectArray out = env->NewObjectArray(error != nullptr ? 1 : 0, _KelErrorClass, nullptr);
  if (out == nullptr || error == nullptr) return out;
  jobject e = makeError(env, *error);
  if (e != nullptr) {
    env->SetObjectArrayElement(out, 0, e);
    env->DeleteLocalRef(e);
  }
  return out;
}

jobject makeKelResult(JNIEnv* env, const Parser& parser, Any* value, bool withOutput, MemoryFile* output,
                      MemoryFile* trace) {
  std::unique_ptr<Any> owned(value);
  const bool ok = !parser.hasError();
  jobject v = newCAny(env, owned.release());
  jobject error = nullptr;
  jstring out = nullptr;
  jstring traceText = nullptr;
  if (!ok || withOutput) {
    if (parser.getError() != nullptr) error = makeError(env, *parser.getError());
    out = newJavaString(env, output != nullptr ? output->take().c_str() : "");
    traceText = newJavaString(env, trace != nullptr ? trace->take().c_str() : "");
  }
  jobject r = env->ExceptionCheck() ? nullptr
                                    : env->NewObject(_ResultClass, _resultCreate, ok ? JNI_TRUE : JNI_FALSE,
                                                     v, error, out, traceText);
  if (r == nullptr && v != nullptr) {
    // The value's native side goes with the Result that failed to be made.
    env->ExceptionClear();
    Any* held = nativePtr<Any>(env, v, _cAnyNativePtr);
    env->SetLongField(v, _cAnyNativePtr, 0);
    delete held;
  }
  for (jobject o : {v, error, static_cast<jobject>(out), static_cast<jobject>(traceText)}) {
    if (o != nullptr) env->DeleteLocalRef(o);
  }
  return r;
}
