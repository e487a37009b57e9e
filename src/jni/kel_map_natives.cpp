#include "jni/kel_map_natives.h"

#include <cstdlib>
#include <memory>
#include <string>
#include <type_traits>

#include "foundation/log.h"
#include "jni/class_cache.h"
#include "jni/convert.h"
#include "jni/java_exceptions.h"
#include "jni/java_string.h"
#include "jni/java_time_hooks.h"
#include "jni/kel_bridge.h"
#include "kel/location.h"
#include "kel/parser.h"
#include "kel/veskpattern.h"
#include "model/any.h"
#include "model/any_array.h"
#include "model/attributes.h"
#include "model/obj_ref.h"

namespace {

// ---- handles

ObjRef* refOf(JNIEnv* env, jobject self, jfieldID field) { return nativePtr<ObjRef>(env, self, field); }

Attributes* mapOf(JNIEnv* env, jobject self, jfieldID field) {
  ObjRef* r = refOf(env, self, field);
  return r != nullptr ? static_cast<Attributes*>(r->getTarget()) : nullptr;
}

AnyArray* arrayOf(JNIEnv* env, jobject self) {
  ObjRef* r = refOf(env, self, _cAnyArrayNativePtr);
  return r != nullptr ? static_cast<AnyArray*>(r->getTarget()) : nullptr;
}

Any* anyOf(JNIEnv* env, jobject self) { return nativePtr<Any>(env, self, _cAnyNativePtr); }

void closeRef(JNIEnv*, jobject, jlong p) { delete reinterpret_cast<ObjRef*>(static_cast<intptr_t>(p)); }

bool keyOf(JNIEnv* env, jobject key, std::string* out) {
  if (key == nullptr || !env->IsInstanceOf(key, _StringClass)) return false;
  return javaStringToUtf8(env, static_cast<jstring>(key), out);
}

void throwNullHandle(JNIEnv* env) { throwDirectoryException(env, 44); }

jobject javaValueOf(JNIEnv* env, const Any* value) {
  jobject out = nullptr;
  if (value == nullptr) return nullptr;
  if (toJavaObject(env, &out, value) != 0) return nullptr;
  return out;
}

// ---- KelMapCImpl

jobject km_create(JNIEnv* env, jclass) {
  auto* ref = new ObjRef(new Attributes());
  jobject o = env->NewObject(_KelMapCImplClass, _kelMapCreate, reinterpret_cast<jlong>(ref));
  if (o == nullptr) delete ref;
  return o;
}

jint km_size(JNIEnv* env, jobject self) {
  Attributes* a = mapOf(env, self, _kelMapNativePtr);
  return a != nullptr ? a->size() : 0;
}

jboolean km_containsKey(JNIEnv* env, jobject self, jobject key) {
  Attributes* a = mapOf(env, self, _kelMapNativePtr);
  std::string k;
  return a != nullptr && keyOf(env, key, &k) && a->getAttribute(k.c_str()) != nullptr ? JNI_TRUE : JNI_FALSE;
}

jobject km_get(JNIEnv* env, jobject self, jobject key) {
  Attributes* a = mapOf(env, self, _kelMapNativePtr);
  std::string k;
  if (a == nullptr || !keyOf(env, key, &k)) return nullptr;
  return javaValueOf(env, a->getAttribute(k.c_str()));
}

jobject km_put(JNIEnv* env, jobject self, jstring key, jobject value) {
  Attributes* a = mapOf(env, self, _kelMapNativePtr);
  std::string k;
  if (a == nullptr) {
    throwNullHandle(env);
    return nullptr;
  }
  if (!javaStringToUtf8(env, key, &k)) return nullptr;
  Any* any = nullptr;
  if (toCObject(env, value, &any) != 0) {
    throwDirectoryException(env, 18, "Conversion to C object failed");
    return nullptr;
  }
  // The previous value, as java.util.Map.put promises.
  jobject previous = javaValueOf(env, a->getAttribute(k.c_str()));
  a->addOrSetAttribute(k.c_str(), any != nullptr ? any : new Any());
  return previous;
}

jobject km_remove(JNIEnv*, jobject, jobject) { return nullptr; }
void km_clear(JNIEnv*, jobject) {}

template <class T>
bool scalarOf(JNIEnv* env, jobject self, jstring name, T* out) {
  Attributes* a = mapOf(env, self, _kelMapNativePtr);
  std::string k;
  if (a == nullptr || !javaStringToUtf8(env, name, &k)) return false;
  const Any* v = a->getAttribute(k.c_str());
  if (v == nullptr) return false;
  if constexpr (std::is_same_v<T, bool>) return v->convertToBool(*out);
  if constexpr (std::is_same_v<T, int>) return v->convertToInt32(*out);
  if constexpr (std::is_same_v<T, long long>) return v->convertToInt64(*out);
  if constexpr (std::is_same_v<T, double>) return v->convertToDouble(*out);
  return false;
}

jboolean km_getBoolean(JNIEnv* env, jobject self, jstring name) {
  bool v = false;
  return scalarOf(env, self, name, &v) && v ? JNI_TRUE : JNI_FALSE;
}
jint km_getInt(JNIEnv* env, jobject self, jstring name) {
  int v = 0;
  return scalarOf(env, self, name, &v) ? v : 0;
}
jlong km_getLong(JNIEnv* env, jobject self, jstring name) {
  long long v = 0;
  return scalarOf(env, self, name, &v) ? v : 0;
}
jfloat km_getFloat(JNIEnv* env, jobject self, jstring name) {
  double v = 0;
  return scalarOf(env, self, name, &v) ? static_cast<jfloat>(v) : 0.0f;
}
jdouble km_getDouble(JNIEnv* env, jobject self, jstring name) {
  double v = 0;
  return scalarOf(env, self, name, &v) ? v : 0.0;
}
jstring km_getString(JNIEnv* env, jobject self, jstring name) {
  Attributes* a = mapOf(env, self, _kelMapNativePtr);
  std::string k;
  if (a == nullptr || !javaStringToUtf8(env, name, &k)) return nullptr;
  const Any* v = a->getAttribute(k.c_str());
  char* text = nullptr;
  if (v == nullptr || !v->convertToString(text)) return nullptr;
  jstring s = newJavaString(env, text);
  free(text);
  return s;
}
jobject km_getObject(JNIEnv* env, jobject self, jstring name) { return km_get(env, self, name); }

void setValue(JNIEnv* env, jobject self, jfieldID field, jstring name, Any* value, int flags) {
  std::unique_ptr<Any> owned(value);
  Attributes* a = mapOf(env, self, field);
  std::string k;
  if (a == nullptr) {
    throwNullHandle(env);
    return;
  }
  if (!javaStringToUtf8(env, name, &k)) return;
  a->addOrSetAttribute(k.c_str(), owned.release(), flags);
}

void km_setZ(JNIEnv* env, jobject self, jstring n, jboolean v) { setValue(env, self, _kelMapNativePtr, n, new Any(v == JNI_TRUE), 0); }
void km_setI(JNIEnv* env, jobject self, jstring n, jint v) { setValue(env, self, _kelMapNativePtr, n, new Any(static_cast<int>(v)), 0); }
void km_setJ(JNIEnv* env, jobject self, jstring n, jlong v) { setValue(env, self, _kelMapNativePtr, n, new Any(static_cast<long long>(v)), 0); }
void km_setF(JNIEnv* env, jobject self, jstring n, jfloat v) { setValue(env, self, _kelMapNativePtr, n, new Any(static_cast<float>(v)), 0); }
void km_setD(JNIEnv* env, jobject self, jstring n, jdouble v) { setValue(env, self, _kelMapNativePtr, n, new Any(static_cast<double>(v)), 0); }
Any* textAny(JNIEnv* env, jstring v) {
  std::string t;
  return javaStringToUtf8(env, v, &t) ? new Any(t.c_str()) : new Any(static_cast<const char*>(nullptr));
}
void km_setS(JNIEnv* env, jobject self, jstring n, jstring v) { setValue(env, self, _kelMapNativePtr, n, textAny(env, v), 0); }
void km_setIF(JNIEnv* env, jobject self, jstring n, jint v, jint f) { setValue(env, self, _kelMapNativePtr, n, new Any(static_cast<int>(v)), f); }
void km_setJF(JNIEnv* env, jobject self, jstring n, jlong v, jint f) { setValue(env, self, _kelMapNativePtr, n, new Any(static_cast<long long>(v)), f); }
void km_setFF(JNIEnv* env, jobject self, jstring n, jfloat v, jint f) { setValue(env, self, _kelMapNativePtr, n, new Any(static_cast<float>(v)), f); }
void km_setDF(JNIEnv* env, jobject self, jstring n, jdouble v, jint f) { setValue(env, self, _kelMapNativePtr, n, new Any(static_cast<double>(v)), f); }
void km_setSF(JNIEnv* env, jobject self, jstring n, jstring v, jint f) { setValue(env, self, _kelMapNativePtr, n, textAny(env, v), f); }
void km_setOF(JNIEnv* env, jobject self, jstring n, jobject v, jint f) {
  Any* any = nullptr;
  if (toCObject(env, v, &any) != 0) {
    throwDirectoryException(env, 18, "Conversion to C object failed");
    return;
  }
  setValue(env, self, _kelMapNativePtr, n, any != nullptr ? any : new Any(), f);
}

jint km_getDisplayHint(JNIEnv* env, jobject self, jstring name) {
  Attributes* a = mapOf(env, self, _kelMapNativePtr);
  std::string k;
  return a != nullptr && javaStringToUtf8(env, name, &k) ? a->getDisplayHint(k.c_str()) : 0;
}

jobjectArray namesOf(JNIEnv* env, Attributes* a) {
  if (a == nullptr) return newJavaStringArray(env, nullptr);
  char** keys = a->getKeys();
  jobjectArray out = newJavaStringArray(env, keys);
  a->freeKeys(keys);
  return out;
}
jobjectArray km_getAttributeNames(JNIEnv* env, jobject self) { return namesOf(env, mapOf(env, self, _kelMapNativePtr)); }

jstring km_toString(JNIEnv* env, jobject self) {
  Attributes* a = mapOf(env, self, _kelMapNativePtr);
  if (a == nullptr) return nullptr;
  char* text = a->toString(nullptr);
  jstring s = newJavaString(env, text);
  free(text);
  return s;
}

jobject km_clone(JNIEnv* env, jobject self) {
  Attributes* a = mapOf(env, self, _kelMapNativePtr);
  if (a == nullptr) return nullptr;
  Translatable* copy = nullptr;
  if (a->clone(nullptr, &copy) != 0) return nullptr;
  auto* ref = new ObjRef(copy);
  jobject o = env->NewObject(_KelMapCImplClass, _kelMapCreate, reinterpret_cast<jlong>(ref));
  if (o == nullptr) delete ref;
  return o;
}

jobject km_getAnyArray(JNIEnv* env, jobject self, jstring name) {
  Attributes* a = mapOf(env, self, _kelMapNativePtr);
  std::string k;
  if (a == nullptr || !javaStringToUtf8(env, name, &k)) return nullptr;
  const Any* v = a->getAttribute(k.c_str());
  if (v == nullptr) return nullptr;
  AnyArray* arr = nullptr;
  if (!v->convertToArray(&arr) || arr == nullptr) return nullptr;
  Any holder;
  holder.setObject(OBJ_ANYARRAY_ID, new AnyArray(*arr));
  return javaValueOf(env, &holder);
}

#define M(name, sig, fn) {const_cast<char*>(name), const_cast<char*>(sig), reinterpret_cast<void*>(fn)}

const JNINativeMethod kKelMap[] = {
    M("create", "()Lcom/vesk/orvanex/kel/impl/KelMapCImpl;", km_create),
    M("close", "(J)V", closeRef),
    M("size", "()I", km_size),
    M("containsKey", "(Ljava/lang/Object;)Z", km_containsKey),
    M("get", "(Ljava/lang/Object;)Ljava/lang/Object;", km_get),
    M("put", "(Ljava/lang/String;Ljava/lang/Object;)Ljava/lang/Object;", km_put),
    M("remove", "(Ljava/lang/Object;)Ljava/lang/Object;", km_remove),
    M("clear", "()V", km_clear),
    M("getBooleanAttribute", "(Ljava/lang/String;)Z", km_getBoolean),
    M("getIntAttribute", "(Ljava/lang/String;)I", km_getInt),
    M("getLongAttribute", "(Ljava/lang/String;)J", km_getLong),
    M("getFloatAttribute", "(Ljava/lang/String;)F", km_getFloat),
    M("getDoubleAttribute", "(Ljava/lang/String;)D", km_getDouble),
    M("getStringAttribute", "(Ljava/lang/String;)Ljava/lang/String;", km_getString),
    M("getAnyArrayAttribute", "(Ljava/lang/String;)Lcom/vesk/orvanex/AnyArray;", km_getAnyArray),
    M("getObjectAttribute", "(Ljava/lang/String;)Ljava/lang/Object;", km_getObject),
    M("setAttribute", "(Ljava/lang/String;Z)V", km_setZ),
    M("setAttribute", "(Ljava/lang/String;I)V", km_setI),
    M("setAttribute", "(Ljava/lang/String;J)V", km_setJ),
    M("setAttribute", "(Ljava/lang/String;F)V", km_setF),
    M("setAttribute", "(Ljava/lang/String;D)V", km_setD),
    M("setAttribute", "(Ljava/lang/String;Ljava/lang/String;)V", km_setS),
    M("setAttribute", "(Ljava/lang/String;II)V", km_setIF),
    M("setAttribute", "(Ljava/lang/String;JI)V", km_setJF),
    M("setAttribute", "(Ljava/lang/String;FI)V", km_setFF),
    M("setAttribute", "(Ljava/lang/String;DI)V", km_setDF),
    M("setAttribute", "(Ljava/lang/String;Ljava/lang/String;I)V", km_setSF),
    M("setAttribute", "(Ljava/lang/String;Ljava/lang/Object;I)V", km_setOF),
    M("getDisplayHint", "(Ljava/lang/String;)I", km_getDisplayHint),
    M("getAttributeNames", "()[Ljava/lang/String;", km_getAttributeNames),
    M("toString", "()Ljava/lang/String;", km_toString),
    M("clone", "()Ljava/lang/Object;", km_clone),
};

// ---- CAnyMap (the subset that needs no interpreter)

void cm_create(JNIEnv* env, jobject self) { setNativePtr(env, self, _cAnyMapNativePtr, new ObjRef(new Attributes())); }
jint cm_size(JNIEnv* env, jobject self) {
  Attributes* a = mapOf(env, self, _cAnyMapNativePtr);
  return a != nullptr ? a->size() : 0;
}
void cm_setZ(JNIEnv* env, jobject self, jstring n, jboolean v) { setValue(env, self, _cAnyMapNativePtr, n, new Any(v == JNI_TRUE), 0); }
void cm_setIF(JNIEnv* env, jobject self, jstring n, jint v, jint f) { setValue(env, self, _cAnyMapNativePtr, n, new Any(static_cast<int>(v)), f); }
void cm_setJF(JNIEnv* env, jobject self, jstring n, jlong v, jint f) {
  // Flags 13 mark milliseconds of a date: stored as a kel date object.
  if (f == ANY_SUBTYPE_DATE) {
    setValue(env, self, _cAnyMapNativePtr, n, kelDateAny(static_cast<long long>(v)), 0);
    return;
  }
  setValue(env, self, _cAnyMapNativePtr, n, new Any(static_cast<long long>(v)), f);
}
void cm_setFF(JNIEnv* env, jobject self, jstring n, jfloat v, jint f) { setValue(env, self, _cAnyMapNativePtr, n, new Any(static_cast<float>(v)), f); }
void cm_setDF(JNIEnv* env, jobject self, jstring n, jdouble v, jint f) { setValue(env, self, _cAnyMapNativePtr, n, new Any(static_cast<double>(v)), f); }
void cm_setSF(JNIEnv* env, jobject self, jstring n, jstring v, jint f) { setValue(env, self, _cAnyMapNativePtr, n, textAny(env, v), f); }
void cm_setAnyF(JNIEnv* env, jobject self, jstring n, jobject v, jint f) {
  Any* any = nullptr;
  if (v != nullptr && env->IsInstanceOf(v, _CAnyClass)) {
    Any* held = anyOf(env, v);
    any = held != nullptr ? new Any(*held) : new Any();
  } else if (v != nullptr && env->IsInstanceOf(v, _AttributeClass)) {
    any = unmakeObjectFromAny(env, v);
  } else if (toCObject(env, v, &any) != 0) {
    throwDirectoryException(env, 18, "Conversion to C object failed");
    return;
  }
  setValue(env, self, _cAnyMapNativePtr, n, any != nullptr ? any : new Any(), f);
}
void cm_setArray(JNIEnv* env, jobject self, jstring n, jobject v) {
  ObjRef* r = refOf(env, v, _cAnyArrayNativePtr);
  setValue(env, self, _cAnyMapNativePtr, n, r != nullptr ? new Any(new ObjRef(*r)) : new Any(), 0);
}
void cm_setMap(JNIEnv* env, jobject self, jstring n, jobject v) {
  ObjRef* r = refOf(env, v, _cAnyMapNativePtr);
  setValue(env, self, _cAnyMapNativePtr, n, r != nullptr ? new Any(new ObjRef(*r)) : new Any(), 0);
}
jobject cm_getAttribute(JNIEnv* env, jobject self, jstring name) {
  Attributes* a = mapOf(env, self, _cAnyMapNativePtr);
  std::string k;
  if (a == nullptr || !javaStringToUtf8(env, name, &k)) return nullptr;
  const Any* v = a->getAttribute(k.c_str());
  return v != nullptr ? newCAny(env, new Any(*v)) : nullptr;
}
jint cm_getDisplayHint(JNIEnv* env, jobject self, jstring name) {
  Attributes* a = mapOf(env, self, _cAnyMapNativePtr);
  std::string k;
  return a != nullptr && javaStringToUtf8(env, name, &k) ? a->getDisplayHint(k.c_str()) : 0;
}
jobjectArray cm_getAttributeNames(JNIEnv* env, jobject self) { return namesOf(env, mapOf(env, self, _cAnyMapNativePtr)); }
jstring cm_toHTTPQuery(JNIEnv* env, jobject self) {
  Attributes* a = mapOf(env, self, _cAnyMapNativePtr);
  char* q = a != nullptr ? a->toHTTPQuery() : nullptr;
  jstring s = newJavaString(env, q);
  free(q);
  return s;
}
void cm_clear(JNIEnv* env, jobject self) {
  Attributes* a = mapOf(env, self, _cAnyMapNativePtr);
  if (a != nullptr) a->clear();
}

// The native parser of a Java kel.Parser (null for null or a closed one).
Parser* parserOf(JNIEnv* env, jobject parser) { return nativePtr<Parser>(env, parser, _parserNativePtr); }

jstring jsonOf(JNIEnv* env, Translatable* t, Parser* parser) {
  if (t == nullptr) return nullptr;
  char* text = t->toJSON(parser);
  jstring s = newJavaString(env, text);
  free(text);
  return s;
}

jstring cm_toJSON(JNIEnv* env, jobject self) { return jsonOf(env, mapOf(env, self, _cAnyMapNativePtr), nullptr); }
jstring cm_toJSONWith(JNIEnv* env, jobject self, jobject parser) {
  return jsonOf(env, mapOf(env, self, _cAnyMapNativePtr), parserOf(env, parser));
}

// A deep copy in a new handle of the same class.
jobject cloneHandle(JNIEnv* env, Translatable* t, jclass cls, jmethodID create) {
  if (t == nullptr) return nullptr;
  Translatable* copy = nullptr;
  if (t->clone(nullptr, &copy) != 0 || copy == nullptr) return nullptr;
  auto* ref = new ObjRef(copy);
  jobject o = env->NewObject(cls, create, reinterpret_cast<jlong>(ref));
  if (o == nullptr) delete ref;
  return o;
}

jobject cm_clone(JNIEnv* env, jobject self) {
  return cloneHandle(env, mapOf(env, self, _cAnyMapNativePtr), _CAnyMapClass, _cAnyMapCreate);
}

// Equal when both stand for equal native values (the same one included).
jboolean equalTargets(JNIEnv* env, Translatable* mine, jobject other, jclass cls, jfieldID field) {
  if (mine == nullptr || other == nullptr || !env->IsInstanceOf(other, cls)) return JNI_FALSE;
  ObjRef* r = refOf(env, other, field);
  Translatable* theirs = r != nullptr ? r->getTarget() : nullptr;
  if (theirs == nullptr) return JNI_FALSE;
  if (theirs == mine) return JNI_TRUE;
  bool equal = false;
  return mine->isEqual(nullptr, &equal, theirs) == 0 && equal ? JNI_TRUE : JNI_FALSE;
}

jboolean cm_equals(JNIEnv* env, jobject self, jobject other) {
  return equalTargets(env, mapOf(env, self, _cAnyMapNativePtr), other, _CAnyMapClass, _cAnyMapNativePtr);
}

jobject cm_getLocation(JNIEnv* env, jobject self) {
  Attributes* a = mapOf(env, self, _cAnyMapNativePtr);
  const auto* at = a != nullptr ? static_cast<const Location*>(a->getLocation()) : nullptr;
  return at != nullptr ? makeLocation(env, *at) : nullptr;
}

// The alert is kept as the value Java conversion gives it.
void cm_setAlert(JNIEnv* env, jobject self, jstring n, jobject alert) {
  Any* any = nullptr;
  if (toCObject(env, alert, &any) != 0) {
    throwDirectoryException(env, 18, "Conversion to C object failed");
    return;
  }
  setValue(env, self, _cAnyMapNativePtr, n, any != nullptr ? any : new Any(), 0);
}

const JNINativeMethod kCAnyMap[] = {
    M("create", "()V", cm_create),
    M("close", "(J)V", closeRef),
    M("setAttribute", "(Ljava/lang/String;Z)V", cm_setZ),
    M("setAttribute", "(Ljava/lang/String;II)V", cm_setIF),
    M("setAttribute", "(Ljava/lang/String;JI)V", cm_setJF),
    M("setAttribute", "(Ljava/lang/String;FI)V", cm_setFF),
    M("setAttribute", "(Ljava/lang/String;DI)V", cm_setDF),
    M("setAttribute", "(Ljava/lang/String;Ljava/lang/String;I)V", cm_setSF),
    M("setAttribute", "(Ljava/lang/String;Lcom/vesk/orvanex/Any;I)V", cm_setAnyF),
    M("setAttribute", "(Ljava/lang/String;Ljava/lang/Object;I)V", cm_setAnyF),
    M("setAttribute", "(Ljava/lang/String;Lcom/vesk/orvanex/kel/CAnyArray;)V", cm_setArray),
    M("setAttribute", "(Ljava/lang/String;Lcom/vesk/orvanex/kel/CAnyMap;)V", cm_setMap),
    M("addOrSetAttribute", "(Ljava/lang/String;Lcom/vesk/orvanex/Any;I)V", cm_setAnyF),
    M("getAttribute", "(Ljava/lang/String;)Lcom/vesk/orvanex/Any;", cm_getAttribute),
    M("getDisplayHint", "(Ljava/lang/String;)I", cm_getDisplayHint),
    M("getAttributeNames", "()[Ljava/lang/String;", cm_getAttributeNames),
    M("setAlertAttribute", "(Ljava/lang/String;Lcom/vesk/orvanex/alert/Alert;)V", cm_setAlert),
    M("toJSON", "()Ljava/lang/String;", cm_toJSON),
    M("toJSON", "(Lcom/vesk/orvanex/kel/Parser;)Ljava/lang/String;", cm_toJSONWith),
    M("toHTTPQuery", "()Ljava/lang/String;", cm_toHTTPQuery),
    M("clear", "()V", cm_clear),
    M("clone", "()Ljava/lang/Object;", cm_clone),
    M("size", "()I", cm_size),
    M("equals", "(Ljava/lang/Object;)Z", cm_equals),
    M("getLocation", "()Lcom/vesk/orvanex/kel/Location;", cm_getLocation),
};

// ---- CAnyArray (subset)

void ca_create(JNIEnv* env, jobject self) { setNativePtr(env, self, _cAnyArrayNativePtr, new ObjRef(new AnyArray())); }
jint ca_size(JNIEnv* env, jobject self) {
  AnyArray* a = arrayOf(env, self);
  return a != nullptr ? a->size() : 0;
}
Any* elementFrom(JNIEnv* env, jobject v, const char* message) {
  if (v == nullptr) return new Any();
  if (env->IsInstanceOf(v, _CAnyClass)) {
    Any* held = anyOf(env, v);
    return held != nullptr ? new Any(*held) : new Any();
  }
  if (env->IsInstanceOf(v, _AttributeClass)) {
    Any* out = nullptr;
    return javaAttributeToAny(env, v, &out) == 0 ? out : nullptr;
  }
  log(0, "%s", message);
  return nullptr;
}
jboolean ca_add(JNIEnv* env, jobject self, jobject v) {
  AnyArray* a = arrayOf(env, self);
  if (a == nullptr) return JNI_FALSE;
  a->append(elementFrom(env, v, "Logic Error: CAnyArray.add() called with illegal value"));
  return JNI_TRUE;
}
void ca_addRef(JNIEnv* env, jobject self, jobject v, jfieldID field) {
  AnyArray* a = arrayOf(env, self);
  ObjRef* r = refOf(env, v, field);
  if (a != nullptr) a->append(r != nullptr ? new Any(new ObjRef(*r)) : new Any());
}
void ca_addArray(JNIEnv* env, jobject self, jobject v) { ca_addRef(env, self, v, _cAnyArrayNativePtr); }
void ca_addMap(JNIEnv* env, jobject self, jobject v) { ca_addRef(env, self, v, _cAnyMapNativePtr); }
jobject ca_get(JNIEnv* env, jobject self, jint i) {
  AnyArray* a = arrayOf(env, self);
  const Any* v = a != nullptr ? a->get(i) : nullptr;
  return v != nullptr ? newCAny(env, new Any(*v)) : nullptr;
}
jobject ca_set(JNIEnv* env, jobject self, jint i, jobject v) {
  AnyArray* a = arrayOf(env, self);
  if (a == nullptr) return nullptr;
  if (i < 0 || i >= a->size()) {
    // An index outside the array is the caller's error, reported to it.
    throwDirectoryException(env, 56);
    return nullptr;
  }
  Any* previous = a->take(i);
  (void)a->set(i, elementFrom(env, v, "Logic Error: CAnyArray.set() called with illegal value"));
  return newCAny(env, previous);
}
void ca_clear(JNIEnv* env, jobject self) {
  AnyArray* a = arrayOf(env, self);
  if (a != nullptr) a->clear();
}

jstring ca_toJSON(JNIEnv* env, jobject self) { return jsonOf(env, arrayOf(env, self), nullptr); }
jobject ca_clone(JNIEnv* env, jobject self) { return cloneHandle(env, arrayOf(env, self), _CAnyArrayClass, _cAnyArrayCreate); }
jboolean ca_equals(JNIEnv* env, jobject self, jobject other) {
  return equalTargets(env, arrayOf(env, self), other, _CAnyArrayClass, _cAnyArrayNativePtr);
}

const JNINativeMethod kCAnyArray[] = {
    M("create", "()V", ca_create),
    M("close", "(J)V", closeRef),
    M("add", "(Lcom/vesk/orvanex/Any;)Z", ca_add),
    M("add", "(Lcom/vesk/orvanex/kel/CAnyArray;)V", ca_addArray),
    M("add", "(Lcom/vesk/orvanex/kel/CAnyMap;)V", ca_addMap),
    M("get", "(I)Lcom/vesk/orvanex/Any;", ca_get),
    M("set", "(ILcom/vesk/orvanex/Any;)Lcom/vesk/orvanex/Any;", ca_set),
    M("clear", "()V", ca_clear),
    M("size", "()I", ca_size),
    M("toJSON", "()Ljava/lang/String;", ca_toJSON),
    M("clone", "()Ljava/lang/Object;", ca_clone),
    M("equals", "(Ljava/lang/Object;)Z", ca_equals),
};

// ---- CAny (subset)

void cany_close(JNIEnv*, jobject, jlong p) { delete reinterpret_cast<Any*>(static_cast<intptr_t>(p)); }
jint cany_getType(JNIEnv* env, jobject self) {
  Any* a = anyOf(env, self);
  return a != nullptr ? a->getType() : ANY_NULL;
}
jint cany_getMtsType(JNIEnv* env, jobject self) {
  Any* a = anyOf(env, self);
  return a != nullptr ? a->getSubtype() : 0;
}
void throwType(JNIEnv* env, bool describe) {
  jobject t = env->NewObject(_TypeExceptionClass, _typeExceptionCreate);
  if (t == nullptr) return;
  if (describe) log(0, "Java: CAny: value is not of the requested type");
  env->Throw(static_cast<jthrowable>(t));
  env->DeleteLocalRef(t);
}
jint cany_getInt32(JNIEnv* env, jobject self) {
  Any* a = anyOf(env, self);
  if (a != nullptr && a->getType() == ANY_INT32) return a->getInt32();
  if (a != nullptr && a->getType() == ANY_INT64) return static_cast<jint>(a->getInt64());
  throwType(env, true);
  return 0;
}
jlong cany_getInt64(JNIEnv* env, jobject self) {
  Any* a = anyOf(env, self);
  if (a != nullptr && a->getType() == ANY_INT64) return a->getInt64();
  throwType(env, false);
  return 0;
}
jdouble cany_getDouble(JNIEnv* env, jobject self) {
  Any* a = anyOf(env, self);
  if (a != nullptr && a->getType() == ANY_DOUBLE) return a->getDouble();
  throwType(env, false);
  return 0;
}
jboolean cany_isNull(JNIEnv* env, jobject self) {
  Any* a = anyOf(env, self);
  return a == nullptr || a->isNull() ? JNI_TRUE : JNI_FALSE;
}
jstring cany_getString(JNIEnv* env, jobject self) {
  Any* a = anyOf(env, self);
  char* text = nullptr;
  if (a == nullptr || a->isNull() || !a->convertToString(text)) return nullptr;
  jstring s = newJavaString(env, text);
  free(text);
  return s;
}
jobject cany_getObject(JNIEnv* env, jobject self) { return javaValueOf(env, anyOf(env, self)); }
void cany_clear(JNIEnv* env, jobject self) {
  Any* a = anyOf(env, self);
  if (a != nullptr) a->clear();
}
jobject cany_createString(JNIEnv* env, jclass, jstring s) { return newCAny(env, textAny(env, s)); }
jobject cany_createDouble(JNIEnv* env, jclass, jdouble d) { return newCAny(env, new Any(static_cast<double>(d))); }
jobject cany_clone(JNIEnv* env, jobject self) {
  Any* a = anyOf(env, self);
  return a != nullptr ? newCAny(env, new Any(*a)) : nullptr;
}

void cany_setMtsType(JNIEnv* env, jobject self, jint t) {
  Any* a = anyOf(env, self);
  if (a == nullptr) return;
  // A subtype must fit the type word: a larger one is the caller's error.
  if (t < 0 || t >= 0xFFFF) {
    throwDirectoryException(env, 24, "subtype out of range");
    return;
  }
  a->setSubtype(t);
}
jfloat cany_getFloat(JNIEnv* env, jobject self) {
  Any* a = anyOf(env, self);
  if (a != nullptr && a->getType() == ANY_FLOAT) return a->getFloat();
  if (a != nullptr && a->getType() == ANY_DOUBLE) return static_cast<jfloat>(a->getDouble());
  throwType(env, false);
  return 0;
}
jboolean cany_getBoolean(JNIEnv* env, jobject self) {
  Any* a = anyOf(env, self);
  if (a != nullptr && a->getType() == ANY_BOOL) return a->getBool() ? JNI_TRUE : JNI_FALSE;
  throwType(env, false);
  return JNI_FALSE;
}
jobject cany_getArray(JNIEnv* env, jobject self) {
  Any* a = anyOf(env, self);
  AnyArray* arr = nullptr;
  if (a == nullptr || !a->convertToArray(&arr) || arr == nullptr) return nullptr;
  Any holder;
  holder.setObject(OBJ_ANYARRAY_ID, new AnyArray(*arr));
  return javaValueOf(env, &holder);
}
jobject cany_getMap(JNIEnv* env, jobject self) {
  Any* a = anyOf(env, self);
  Attributes* map = nullptr;
  if (a == nullptr || !a->convertToAttributes(&map) || map == nullptr) return nullptr;
  return makeAttributes(env, map);
}
jstring cany_toJSON(JNIEnv* env, jobject self) { return jsonOf(env, anyOf(env, self), nullptr); }
jstring cany_toJSONWith(JNIEnv* env, jobject self, jobject parser) {
  return jsonOf(env, anyOf(env, self), parserOf(env, parser));
}
jobject cany_createRef(JNIEnv* env, jobject handle, jfieldID field) {
  ObjRef* r = refOf(env, handle, field);
  return newCAny(env, r != nullptr && r->getTarget() != nullptr ? new Any(new ObjRef(*r)) : new Any());
}
jobject cany_createArray(JNIEnv* env, jclass, jobject a) { return cany_createRef(env, a, _cAnyArrayNativePtr); }
jobject cany_createMap(JNIEnv* env, jclass, jobject m) { return cany_createRef(env, m, _cAnyMapNativePtr); }

// The kel type or class name of the value, asked with a temporary parser.
jstring kelNameOf(JNIEnv* env, jobject self, bool className) {
  Any* a = anyOf(env, self);
  if (a == nullptr || a->isNull()) return newJavaString(env, "null");
  Parser parser("java", "", nullptr, 1, 1, false);
  const char* name = className ? a->getClassOf(&parser) : a->getTypeOf(&parser);
  return newJavaString(env, name != nullptr ? name : "null");
}
jstring cany_getTypeName(JNIEnv* env, jobject self) { return kelNameOf(env, self, false); }
jstring cany_getClassName(JNIEnv* env, jobject self) { return kelNameOf(env, self, true); }

jboolean cany_equals(JNIEnv* env, jobject self, jobject other) {
  Any* a = anyOf(env, self);
  if (a == nullptr || other == nullptr || !env->IsInstanceOf(other, _CAnyClass)) return JNI_FALSE;
  Any* b = anyOf(env, other);
  return b != nullptr && (a == b || *a == *b) ? JNI_TRUE : JNI_FALSE;
}

jobject cany_getBigDecimal(JNIEnv* env, jobject self) {
  Any* a = anyOf(env, self);
  if (a == nullptr || a->isNull() || a->isUndefined()) return nullptr;
  // The value's own text: numbers keep every digit they have.
  char* text = a->toString(nullptr);
  if (text == nullptr) return nullptr;
  jstring s = newJavaString(env, text);
  free(text);
  jobject o = env->NewObject(_KelBigDecimalClass, _kelBigDecimalCreate, s);
  if (s != nullptr) env->DeleteLocalRef(s);
  // A text that is no number is the caller's NumberFormatException.
  return o;
}

const JNINativeMethod kCAny[] = {
    M("close", "(J)V", cany_close),
    M("getType", "()I", cany_getType),
    M("getMtsType", "()I", cany_getMtsType),
    M("getInt32", "()I", cany_getInt32),
    M("getInt64", "()J", cany_getInt64),
    M("getDouble", "()D", cany_getDouble),
    M("isNull", "()Z", cany_isNull),
    M("getString", "()Ljava/lang/String;", cany_getString),
    M("getObject", "()Ljava/lang/Object;", cany_getObject),
    M("clear", "()V", cany_clear),
    M("clone", "()Ljava/lang/Object;", cany_clone),
    M("setMtsType", "(I)V", cany_setMtsType),
    M("getFloat", "()F", cany_getFloat),
    M("getBoolean", "()Z", cany_getBoolean),
    M("getArray", "()Lcom/vesk/orvanex/AnyArray;", cany_getArray),
    M("getMap", "()Lcom/vesk/orvanex/AnyMap;", cany_getMap),
    M("toJSON", "()Ljava/lang/String;", cany_toJSON),
    M("toJSON", "(Lcom/vesk/orvanex/kel/Parser;)Ljava/lang/String;", cany_toJSONWith),
    M("createString", "(Ljava/lang/String;)Lcom/vesk/orvanex/kel/CAny;", cany_createString),
    M("create", "(Lcom/vesk/orvanex/kel/CAnyArray;)Lcom/vesk/orvanex/kel/CAny;", cany_createArray),
    M("create", "(Lcom/vesk/orvanex/kel/CAnyMap;)Lcom/vesk/orvanex/kel/CAny;", cany_createMap),
    M("create", "(D)Lcom/vesk/orvanex/kel/CAny;", cany_createDouble),
    M("getTypeName", "()Ljava/lang/String;", cany_getTypeName),
    M("getClassName", "()Ljava/lang/String;", cany_getClassName),
    M("equals", "(Ljava/lang/Object;)Z", cany_equals),
    M("getBigDecimal", "()Lcom/vesk/orvanex/kel/KelBigDecimal;", cany_getBigDecimal),
};

// ---- CObjRef

const JNINativeMethod kCObjRef[] = {M("close", "(J)V", closeRef)};

// ---- VeskPattern

jobject vp_create(JNIEnv* env, jclass, jstring text, jint flags) {
  std::string t;
  if (!javaStringToUtf8(env, text, &t)) return nullptr;
  auto* p = new VeskPattern(t, flags);
  jobject o = env->NewObject(_VeskPatternClass, _veskPatternCreate, reinterpret_cast<jlong>(p));
  if (o == nullptr) delete p;
  return o;
}
jboolean vp_matches(JNIEnv* env, jobject self, jstring text) {
  auto* p = nativePtr<VeskPattern>(env, self, _veskPatternNativePtr);
  std::string t;
  if (p == nullptr || !javaStringToUtf8(env, text, &t)) return JNI_FALSE;
  return p->matches(t) ? JNI_TRUE : JNI_FALSE;
}
jboolean vp_isError(JNIEnv* env, jobject self) {
  auto* p = nativePtr<VeskPattern>(env, self, _veskPatternNativePtr);
  return p == nullptr || p->hasError() ? JNI_TRUE : JNI_FALSE;
}
jstring vp_errorMessage(JNIEnv* env, jobject self) {
  auto* p = nativePtr<VeskPattern>(env, self, _veskPatternNativePtr);
  return p != nullptr && p->hasError() ? newJavaString(env, p->errorText().c_str()) : nullptr;
}
void vp_close(JNIEnv*, jobject, jlong p) { delete reinterpret_cast<VeskPattern*>(static_cast<intptr_t>(p)); }

const JNINativeMethod kVeskPattern[] = {
    M("createPattern", "(Ljava/lang/String;I)Lcom/vesk/orvanex/regex/VeskPattern;", vp_create),
    M("matches", "(Ljava/lang/String;)Z", vp_matches),
    M("isError", "()Z", vp_isError),
    M("getErrorMessage", "()Ljava/lang/String;", vp_errorMessage),
    M("close", "(J)V", vp_close),
};

#undef M

template <size_t N>
constexpr int countOf(const JNINativeMethod (&)[N]) {
  return static_cast<int>(N);
}

static_assert(countOf(kKelMap) == 32 && countOf(kCObjRef) == 1 && countOf(kVeskPattern) == 5 &&
              countOf(kCAny) == 26 && countOf(kCAnyMap) == 25 && countOf(kCAnyArray) == 12);

}  // namespace

KelNativeTable kelMapCImplNatives() { return {"com/vesk/orvanex/kel/impl/KelMapCImpl", kKelMap, countOf(kKelMap)}; }
KelNativeTable kelObjRefNatives() { return {"com/vesk/orvanex/kel/CObjRef", kCObjRef, countOf(kCObjRef)}; }
KelNativeTable veskPatternNatives() { return {"com/vesk/orvanex/regex/VeskPattern", kVeskPattern, countOf(kVeskPattern)}; }
KelNativeTable kelAnyNatives() { return {"com/vesk/orvanex/kel/CAny", kCAny, countOf(kCAny)}; }
KelNativeTable kelAnyMapNatives() { return {"com/vesk/orvanex/kel/CAnyMap", kCAnyMap, countOf(kCAnyMap)}; }
KelNativeTable kelAnyArrayNatives() { return {"com/vesk/orvanex/kel/CAnyArray", kCAnyArray, countOf(kCAnyArray)}; }

jobject makeCAnyMap(JNIEnv* env, Attributes* attrs) {
  auto* ref = new ObjRef(attrs);
  jobject o = env->NewObject(_CAnyMapClass, _cAnyMapCreate, reinterpret_cast<jlong>(ref));
  if (o == nullptr) delete ref;
  return o;
}

jobject makeCAnyArray(JNIEnv* env, AnyArray* array) {
  auto* ref = new ObjRef(array);
  jobject o = env->NewObject(_CAnyArrayClass, _cAnyArrayCreate, reinterpret_cast<jlong>(ref));
  if (o == nullptr) delete ref;
  return o;
}
