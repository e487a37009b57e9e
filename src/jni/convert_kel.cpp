// Values handed between Java and kel scripts: Java objects become kel values
// (scalars, shared native maps and arrays, kel dates, wrapped Java objects)
// and kel values become Java objects (boxed scalars, CAnyMap/CAnyArray
// handles on the shared native containers, dates, patterns, the wrapped Java
// object itself).
#include <memory>
#include <string>

#include "foundation/log.h"
#include "jni/class_cache.h"
#include "jni/convert.h"
#include "jni/java_exceptions.h"
#include "jni/java_object_reference.h"
#include "jni/java_string.h"
#include "jni/java_time_hooks.h"
#include "jni/kel_map_natives.h"
#include "kel/veskpattern.h"
#include "model/any.h"
#include "model/any_array.h"
#include "model/attributes.h"
#include "model/obj_ref.h"

namespace {

constexpr int kMaxArrayNesting = 200;

// The name of an object's class ("java.lang.String"); empty on failure.
std::string classNameOf(JNIEnv* env, jobject obj) {
  std::string out;
  jclass cls = env->GetObjectClass(obj);
  auto name = static_cast<jstring>(env->CallObjectMethod(cls, _classGetName));
  env->DeleteLocalRef(cls);
  if (env->ExceptionCheck()) {
    env->ExceptionClear();
    return out;
  }
  (void)javaStringToUtf8(env, name, &out);
  if (name != nullptr) env->DeleteLocalRef(name);
  return out;
}

// The static int `field` of the object's class, when it has one.
bool staticIntOf(JNIEnv* env, jobject obj, const char* field, int* out) {
  jclass cls = env->GetObjectClass(obj);
  jfieldID f = env->GetStaticFieldID(cls, field, "I");
  bool found = false;
  if (f == nullptr || env->ExceptionCheck()) {
    env->ExceptionClear();
  } else {
    *out = env->GetStaticIntField(cls, f);
    found = true;
  }
  env->DeleteLocalRef(cls);
  return found;
}

Any* refAny(Translatable* target) { return new Any(new ObjRef(target)); }

ObjRef* handleRef(JNIEnv* env, jobject obj, jfieldID field) { return nativePtr<ObjRef>(env, obj, field); }

// A Java array (of objects or of primitives) as a kel array of its elements.
Any* arrayFromJava(JNIEnv* env, jobject obj) {
  struct ArrayAccess {
    jclass arrays = nullptr;
    jmethodID get = nullptr;
  };
  // Looked up once (thread-safe initialisation); kept for the VM's life.
  static const ArrayAccess access = [env] {
    ArrayAccess a;
    jclass c = env->FindClass("java/lang/reflect/Array");
    if (c != nullptr) {
      a.get = env->GetStaticMethodID(c, "get", "(Ljava/lang/Object;I)Ljava/lang/Object;");
      a.arrays = static_cast<jclass>(env->NewGlobalRef(c));
      env->DeleteLocalRef(c);
    }
    env->ExceptionClear();
    return a;
  }();
  if (access.get == nullptr) return nullptr;
  jclass arrays = access.arrays;
  jmethodID get = access.get;
  log(_debug_java, LOG_TRACE, 0, 0, "Java: javaToAnyforKel: encountered an array");
  // An array that holds itself (directly or through others) would recurse
  // for ever: nesting is bounded as kel bounds its own containers.
  static thread_local int depth = 0;
  if (depth >= kMaxArrayNesting) {
    log(0, "Java: javaToAnyForKel: arrays nested deeper than %d", kMaxArrayNesting);
    return nullptr;
  }
  struct Deeper {
    Deeper() { ++depth; }
    ~Deeper() { --depth; }
  } deeper;
  auto out = std::make_unique<AnyArray>();
  const jsize n = env->GetArrayLength(static_cast<jarray>(obj));
  for (jsize i = 0; i < n; ++i) {
    jobject e = env->CallStaticObjectMethod(arrays, get, obj, i);
    if (env->ExceptionCheck()) {
      (void)ORV_TEST_EXCEPTION(env);
      return nullptr;
    }
    Any* v = javaToAnyForKel(env, e);
    if (e != nullptr) env->DeleteLocalRef(e);
    if (v == nullptr) return nullptr;  // nothing half-converted
    out->append(v);
  }
  return refAny(out.release());
}

}  // namespace

Any* javaToAnyForKel(JNIEnv* env, jobject obj) {
  if (obj == nullptr) return new Any();
  // The boxed classes and String are final: an instance test is the exact
  // class test.
  if (env->IsInstanceOf(obj, _StringClass) || env->IsInstanceOf(obj, _IntegerClass) ||
      env->IsInstanceOf(obj, _LongClass) || env->IsInstanceOf(obj, _DoubleClass) ||
      env->IsInstanceOf(obj, _FloatClass) || env->IsInstanceOf(obj, _BooleanClass)) {
    Any* out = nullptr;
    return toCObject(env, obj, &out) == 0 ? out : nullptr;
  }
  if (env->IsInstanceOf(obj, _CAnyClass)) {
    const Any* held = nativePtr<Any>(env, obj, _cAnyNativePtr);
    return held != nullptr ? Any::createForVariableAssign(held) : new Any();
  }
  if (env->IsInstanceOf(obj, _CAnyMapClass) || env->IsInstanceOf(obj, _CAnyArrayClass) ||
      env->IsInstanceOf(obj, _KelMapCImplClass)) {
    jfieldID f = env->IsInstanceOf(obj, _CAnyMapClass)     ? _cAnyMapNativePtr
                 : env->IsInstanceOf(obj, _CAnyArrayClass) ? _cAnyArrayNativePtr
                                                           : _kelMapNativePtr;
    ObjRef* r = handleRef(env, obj, f);
    return r != nullptr && r->getTarget() != nullptr ? new Any(new ObjRef(*r)) : new Any();
  }
  if (env->IsInstanceOf(obj, _AttributeClass)) {
    Any* out = nullptr;
    return javaAttributeToAny(env, obj, &out) == 0 ? out : nullptr;
  }
  if (env->IsInstanceOf(obj, _JavaAttributesClass)) {
    Attributes* a = unmakeAttributes(env, obj);
    return a != nullptr ? refAny(a) : nullptr;
  }
  if (env->IsInstanceOf(obj, _DateClass)) {
    const jlong ms = env->CallLongMethod(obj, _dateGetTime);
    if (ORV_TEST_EXCEPTION(env) != 0) return nullptr;
    return kelDateAny(ms);
  }
  const std::string name = classNameOf(env, obj);
  if (!name.empty() && name[0] == '[') return arrayFromJava(env, obj);
  int id = 0;
  if (staticIntOf(env, obj, "objectID", &id) || staticIntOf(env, obj, "kelOnlyObjectID", &id)) {
    return refAny(new JavaObjectReference(env, obj, id));
  }
  log(0, "javaToAnyForKel: no objectID field. cannot register, %s", name.c_str());
  return nullptr;
}

jobject anyToJavaForKel(JNIEnv* env, const Any* any) {
  if (any == nullptr) return nullptr;
  const int type = any->getType();
  if (type == ANY_REF) {
    Translatable* t = any->getRefTarget();
    const int id = t != nullptr ? t->getObjectID() : -1;
    if (id == OBJ_ATTRIBUTES_ID) return makeCAnyMap(env, static_cast<Attributes*>(t));
    if (id == OBJ_ANYARRAY_ID) return makeCAnyArray(env, static_cast<AnyArray*>(t));
    if (id == kKelDateObjectId) {
      long long ms = 0;
      if (!kelDateMillis(t, &ms)) return nullptr;
      jobject d = env->NewObject(_DateClass, _dateCreate, static_cast<jlong>(ms));
      return ORV_TEST_EXCEPTION(env) == 0 ? d : nullptr;
    }
    if (id == VeskPattern::kObjectId) {
      // The Java object owns its pattern: it gets its own compiled copy.
      const auto* p = static_cast<const VeskPattern*>(t);
      auto* copy = new VeskPattern(p->pattern(), p->flags());
      jobject o = env->NewObject(_VeskPatternClass, _veskPatternCreate, reinterpret_cast<jlong>(copy));
      if (o == nullptr) {
        delete copy;
        (void)ORV_TEST_EXCEPTION(env);
      }
      return o;
    }
    if (id >= JavaObjectReference::kFirstJavaObjectId && t->copyToJavaAsRef()) {
      return env->NewLocalRef(static_cast<const JavaObjectReference*>(t)->object());
    }
    log(_debug_java, LOG_ERROR, 0, 0,
        "Java: anyToJavaForKel: inconvertable object reference was encountered, id = %d", id);
    return nullptr;
  }
  if (type < 11) {
    if (type == ANY_NULL || type == ANY_UNDEFINED || type == ANY_INVALID) return nullptr;
    jobject out = nullptr;
    const int subtype = any->getSubtype();
    const bool attribute =
        type == ANY_STRING ? subtype != ANY_SUBTYPE_PLAIN_STRING && subtype != 0 : subtype != 0;
    const int rc = attribute ? anyToJavaAttribute(env, any, &out) : toJavaObject(env, &out, any);
    return rc == 0 ? out : nullptr;
  }
  log(_debug_java, LOG_ERROR, 0, 0, "Java: anyToJavaForKel: unexpected type encountered, %d", type);
  return nullptr;
}

int kelToJavaObject(JNIEnv* env, jobject* out, const Any* any) {
  if (any == nullptr) {
    *out = nullptr;
    return 0;
  }
  if (any->getType() == ANY_REF) {
    Translatable* t = any->getRefTarget();
    const int id = t != nullptr ? t->getObjectID() : -1;
    const bool javaForm = id == OBJ_ATTRIBUTES_ID || id == OBJ_ANYARRAY_ID || id == kKelDateObjectId ||
                          id == VeskPattern::kObjectId ||
                          (id >= JavaObjectReference::kFirstJavaObjectId && t->copyToJavaAsRef());
    if (!javaForm) {
      if (t == nullptr) {
        log(0, "Logic error: C Object cannot be converted to Java.");
        return 18;
      }
      // A native object without a Java form travels as an opaque handle.
      auto* ref = new ObjRef(t);
      jobject o = env->NewObject(_CObjRefClass, _cObjRefCreate, reinterpret_cast<jlong>(ref));
      if (o == nullptr) {
        delete ref;
        return ORV_TEST_EXCEPTION(env) != 0 ? 25 : 18;
      }
      *out = o;
      return 0;
    }
    *out = anyToJavaForKel(env, any);
    return 0;
  }
  if (any->getType() >= 11) {
    log(0, "Logic error: Illegal object type presented to kelToJava()");
    return 18;
  }
  *out = anyToJavaForKel(env, any);
  return 0;
}

int kelToCObject(JNIEnv* env, jobject obj, Any** out) {
  if (obj != nullptr && env->IsInstanceOf(obj, _CObjRefClass)) {
    ObjRef* r = handleRef(env, obj, _cObjRefNativePtr);
    *out = r != nullptr && r->getTarget() != nullptr ? new Any(new ObjRef(*r)) : new Any();
    return 0;
  }
  Any* a = javaToAnyForKel(env, obj);
  if (a == nullptr) return 17;
  *out = a;
  return 0;
}
