// The natives of com.vesk.orvanex.kel.CVariableSet: a native kel variable
// set (an ObjRef to a VarSet behind _nativePtr) that Java and kel scripts
// share. Values cross with javaToAnyForKel/anyToJavaForKel. Changes hold the
// kel turn, so a set may be changed from Java while another thread's script
// runs elsewhere; one set must not be used from two Java threads at once.
#include "jni/kel_parser_natives.h"

#include <cstdlib>
#include <memory>
#include <string>

#include "foundation/log.h"
#include "jni/class_cache.h"
#include "jni/convert.h"
#include "jni/java_exceptions.h"
#include "jni/java_string.h"
#include "jni/kel_bridge.h"
#include "jni/kel_map_natives.h"
#include "kel/var_set.h"
#include "model/any.h"
#include "model/attributes.h"

namespace {

AbstractVarSet* setOf(JNIEnv* env, jobject self) {
  auto* ref = nativePtr<ObjRef>(env, self, _abstractVariableSetNativePtr);
  return ref != nullptr ? static_cast<AbstractVarSet*>(ref->getTarget()) : nullptr;
}

// The set and the name, or a DirectoryException (44 closed, 24 no name).
bool setAndName(JNIEnv* env, jobject self, jstring name, AbstractVarSet** set, std::string* n) {
  *set = setOf(env, self);
  if (*set == nullptr) {
    throwDirectoryException(env, 44);
    return false;
  }
  if (name == nullptr || !javaStringToUtf8(env, name, n)) {
    if (!env->ExceptionCheck()) throwDirectoryException(env, 24);
    return false;
  }
  return true;
}

void vs_open(JNIEnv* env, jobject self, jobject parent) {
  auto set = std::make_unique<VarSet>();
  AbstractVarSet* p = parent != nullptr ? setOf(env, parent) : nullptr;
  if (p != nullptr) set->setParent(p);
  setNativePtr(env, self, _abstractVariableSetNativePtr, new ObjRef(set.release()));
}

void vs_close(JNIEnv*, jobject, jlong p) {
  KelTurn turn;
  delete reinterpret_cast<ObjRef*>(static_cast<intptr_t>(p));
}

jboolean vs_isDefined(JNIEnv* env, jobject self, jstring name) {
  AbstractVarSet* set = nullptr;
  std::string n;
  if (!setAndName(env, self, name, &set, &n)) return JNI_FALSE;
  KelTurn turn;
  return set->get(n.c_str()) != nullptr || set->getSubSet(n.c_str()) != nullptr ? JNI_TRUE : JNI_FALSE;
}

void vs_defineUndefined(JNIEnv* env, jobject self, jstring name) {
  if (name == nullptr) {
    log(0,
        "LogicError: key is null in "
        "Java_com_vesk_orvanex_kel_CVariableSet_defineVariable__Ljava_lang_String_2");
    return;
  }
  AbstractVarSet* set = nullptr;
  std::string n;
  if (!setAndName(env, self, name, &set, &n)) return;
  KelTurn turn;
  (void)set->define(n.c_str(), Any::createUndefined());
}

// The value as kel holds it, or a DirectoryException (18).
Any* kelValueOf(JNIEnv* env, jobject value) {
  Any* any = nullptr;
  if (kelToCObject(env, value, &any) != 0 || any == nullptr) {
    if (!env->ExceptionCheck()) throwDirectoryException(env, 18, "Conversion to C object failed");
    return nullptr;
  }
  return any;
}

void vs_define(JNIEnv* env, jobject self, jstring name, jobject value) {
  AbstractVarSet* set = nullptr;
  std::string n;
  if (!setAndName(env, self, name, &set, &n)) return;
  Any* any = kelValueOf(env, value);
  if (any == nullptr) return;
  KelTurn turn;
  if (!set->define(n.c_str(), any)) throwDirectoryException(env, 46);
}

void vs_set(JNIEnv* env, jobject self, jstring name, jobject value) {
  AbstractVarSet* set = nullptr;
  std::string n;
  if (!setAndName(env, self, name, &set, &n)) return;
  Any* any = kelValueOf(env, value);
  if (any == nullptr) return;
  KelTurn turn;
  // An unknown name is defined here, as a Java map's put would.
  if (set->get(n.c_str()) == nullptr) {
    if (!set->define(n.c_str(), any)) throwDirectoryException(env, 46);
  } else if (!set->set(n.c_str(), any)) {
    throwDirectoryException(env, 46);
  }
}

jobject vs_get(JNIEnv* env, jobject self, jstring name) {
  AbstractVarSet* set = nullptr;
  std::string n;
  if (!setAndName(env, self, name, &set, &n)) return nullptr;
  KelTurn turn;
  const Any* v = set->get(n.c_str());
  return v != nullptr ? anyToJavaForKel(env, v) : nullptr;
}

void vs_unset(JNIEnv* env, jobject self, jstring name) {
  AbstractVarSet* set = nullptr;
  std::string n;
  if (!setAndName(env, self, name, &set, &n)) return;
  KelTurn turn;
  set->clear(n.c_str());
}

jobject newCVariableSet(JNIEnv* env, AbstractVarSet* set) {
  auto* ref = new ObjRef(set);
  jobject o = env->NewObject(_CVariableSetClass, _cVariableSetCreate, reinterpret_cast<jlong>(ref));
  if (o == nullptr) delete ref;
  return o;
}

jobject vs_getSubSet(JNIEnv* env, jobject self, jstring name) {
  AbstractVarSet* set = nullptr;
  std::string n;
  if (!setAndName(env, self, name, &set, &n)) return nullptr;
  KelTurn turn;
  AbstractVarSet* sub = set->getSubSet(n.c_str());
  return sub != nullptr ? newCVariableSet(env, sub) : nullptr;
}

void putSubSet(JNIEnv* env, jobject self, jstring name, jobject sub, bool define) {
  AbstractVarSet* set = nullptr;
  std::string n;
  if (!setAndName(env, self, name, &set, &n)) return;
  ObjRef held;
  if (!nativeVarSetOf(env, sub, &held)) {
    throwDirectoryException(env, 24);
    return;
  }
  KelTurn turn;
  auto* s = static_cast<AbstractVarSet*>(held.getTarget());
  if (!(define ? set->define(n.c_str(), s) : set->set(n.c_str(), s))) throwDirectoryException(env, 46);
}
void vs_setSubSet(JNIEnv* env, jobject self, jstring name, jobject sub) {
  putSubSet(env, self, name, sub, false);
}
void vs_defineSubSet(JNIEnv* env, jobject self, jstring name, jobject sub) {
  putSubSet(env, self, name, sub, true);
}

jobjectArray vs_getLocalVariables(JNIEnv* env, jobject self) {
  AbstractVarSet* set = setOf(env, self);
  if (set == nullptr) return newJavaStringArray(env, nullptr);
  char** names = nullptr;
  {
    KelTurn turn;
    names = set->getLocalVariables();
  }
  jobjectArray out = newJavaStringArray(env, names);
  for (char** p = names; p != nullptr && *p != nullptr; ++p) free(*p);
  delete[] names;
  return out;
}

void vs_clear(JNIEnv* env, jobject self) {
  AbstractVarSet* set = setOf(env, self);
  if (set == nullptr) return;
  KelTurn turn;
  set->clear();
}

void vs_setThis(JNIEnv* env, jobject self, jobject map) {
  AbstractVarSet* set = setOf(env, self);
  auto* ref = nativePtr<ObjRef>(env, map, _cAnyMapNativePtr);
  if (set == nullptr) return;
  KelTurn turn;
  if (ref != nullptr)
    set->setThis(static_cast<Attributes*>(ref->getTarget()));
  else
    set->clearThis();
}

void vs_clearThis(JNIEnv* env, jobject self) {
  AbstractVarSet* set = setOf(env, self);
  if (set == nullptr) return;
  KelTurn turn;
  set->clearThis();
}

jobject vs_getThis(JNIEnv* env, jobject self) {
  AbstractVarSet* set = setOf(env, self);
  if (set == nullptr) return nullptr;
  Attributes* a = nullptr;
  {
    KelTurn turn;
    a = set->getThis();
  }
  return a != nullptr ? makeCAnyMap(env, a) : nullptr;
}

#define M(name, sig, fn) \
  { const_cast<char*>(name), const_cast<char*>(sig), reinterpret_cast<void*>(fn) }

const JNINativeMethod kVarSet[] = {
    M("open", "(Lcom/vesk/orvanex/kel/CVariableSet;)V", vs_open),
    M("close", "(J)V", vs_close),
    M("isDefined", "(Ljava/lang/String;)Z", vs_isDefined),
    M("defineVariable", "(Ljava/lang/String;)V", vs_defineUndefined),
    M("defineVariable", "(Ljava/lang/String;Ljava/lang/Object;)V", vs_define),
    M("setVariable", "(Ljava/lang/String;Ljava/lang/Object;)V", vs_set),
    M("getVariable", "(Ljava/lang/String;)Ljava/lang/Object;", vs_get),
    M("unsetVariable", "(Ljava/lang/String;)V", vs_unset),
    M("getSubSet", "(Ljava/lang/String;)Lcom/vesk/orvanex/kel/AbstractVariableSet;", vs_getSubSet),
    M("setSubSet", "(Ljava/lang/String;Lcom/vesk/orvanex/kel/AbstractVariableSet;)V", vs_setSubSet),
    M("defineSubSet", "(Ljava/lang/String;Lcom/vesk/orvanex/kel/AbstractVariableSet;)V", vs_defineSubSet),
    M("getLocalVariables", "()[Ljava/lang/String;", vs_getLocalVariables),
    M("clear", "()V", vs_clear),
    M("setThis", "(Lcom/vesk/orvanex/kel/CAnyMap;)V", vs_setThis),
    M("clearThis", "()V", vs_clearThis),
    M("getThis", "()Lcom/vesk/orvanex/kel/CAnyMap;", vs_getThis),
};

#undef M

}  // namespace

KelNativeTable kelVarSetNatives() { return {"com/vesk/orvanex/kel/CVariableSet", kVarSet, 16}; }
