// The general conversion between Java objects and native values: scalars,
// Java serialisation (objects 101 and 2431), and the reflective copy of wire
// fields into the declared fields of Java classes and back.
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "foundation/log.h"
#include "jni/class_cache.h"
#include "jni/convert.h"
#include "jni/decode_list.h"
#include "jni/java_exceptions.h"
#include "jni/java_string.h"
#include "model/any.h"
#include "model/any_array.h"
#include "model/attributes.h"
#include "model/java_object.h"
#include "model/obj_ref.h"
#include "runtime/critical_block.h"
#include "wire/message.h"

namespace {

constexpr int kSerialisedObjectId = 101;
constexpr int kStringArrayObjectId = 2402;
constexpr int kSystemEventObjectId = 4987;

enum class Kind { kInt, kBoolean, kLong, kFloat, kDouble, kString, kDate, kAttributes, kBytes, kStringArray, kObject,
                  kArrayList, kNested };

struct MappedField {
  jfieldID id;
  Kind kind;
};

// What reflection tells about one Java class, worked out once per class.
struct ClassInfo {
  jclass cls;  // global
  bool hasObjectId = false;
  int objectId = 0;
  jmethodID defaultCtor = nullptr;
  std::string name;
  std::vector<MappedField> fields;
};

// _accessBlock guards the per-class reflection cache.
CriticalBlock& accessBlock() {
  static auto* block = new CriticalBlock();
  return *block;
}
std::vector<ClassInfo*>& classInfos() {
  static auto* infos = new std::vector<ClassInfo*>();
  return *infos;
}

Kind kindOf(const std::string& t) {
  if (t == "int") return Kind::kInt;
  if (t == "boolean") return Kind::kBoolean;
  if (t == "long") return Kind::kLong;
  if (t == "float") return Kind::kFloat;
  if (t == "double") return Kind::kDouble;
  if (t == "java.lang.String") return Kind::kString;
  if (t == "java.util.Date") return Kind::kDate;
  if (t == "com.vesk.orvanex.Attributes") return Kind::kAttributes;
  if (t == "[B") return Kind::kBytes;
  if (t == "[Ljava.lang.String;") return Kind::kStringArray;
  if (t == "java.lang.Object") return Kind::kObject;
  if (t == "java.util.ArrayList") return Kind::kArrayList;
  return Kind::kNested;
}

std::string className(JNIEnv* env, jclass cls) {
  std::string out;
  auto s = static_cast<jstring>(env->CallObjectMethod(cls, _classGetName));
  if (env->ExceptionCheck()) {
    env->ExceptionClear();
    return out;
  }
  (void)javaStringToUtf8(env, s, &out);
  if (s != nullptr) env->DeleteLocalRef(s);
  return out;
}

// Builds the description of `cls`: its static int objectID, its no-argument
// constructor and its mapped fields (declared order, skipping static, final
// and transient ones). Null with nothing pending on failure.
ClassInfo* describeClass(JNIEnv* env, jclass cls) {
  auto info = std::make_unique<ClassInfo>();
  info->name = className(env, cls);
  jfieldID idField = env->GetStaticFieldID(cls, "objectID", "I");
  if (env->ExceptionCheck()) env->ExceptionClear();
  if (idField != nullptr) {
    info->hasObjectId = true;
    info->objectId = env->GetStaticIntField(cls, idField);
  }
  info->defaultCtor = env->GetMethodID(cls, "<init>", "()V");
  if (env->ExceptionCheck()) env->ExceptionClear();
  if (info->hasObjectId) {
    auto fields = static_cast<jobjectArray>(env->CallObjectMethod(cls, _classGetDeclaredFields));
    if (env->ExceptionCheck() || fields == nullptr) {
      (void)ORV_TEST_EXCEPTION(env);
      return nullptr;
    }
    const jint skip = _modifierStatic | _modifierFinal | _modifierTransient;
    const jsize n = env->GetArrayLength(fields);
    for (jsize i = 0; i < n; ++i) {
      jobject f = env->GetObjectArrayElement(fields, i);
      const jint mods = env->CallIntMethod(f, _fieldGetModifiers);
      if ((mods & skip) == 0 && !env->ExceptionCheck()) {
        auto type = static_cast<jclass>(env->CallObjectMethod(f, _fieldGetType));
        if (type != nullptr && !env->ExceptionCheck()) {
          info->fields.push_back(MappedField{env->FromReflectedField(f), kindOf(className(env, type))});
        }
        if (type != nullptr) env->DeleteLocalRef(type);
      }
      if (env->ExceptionCheck()) env->ExceptionClear();
      env->DeleteLocalRef(f);
    }
    env->DeleteLocalRef(fields);
  }
  info->cls = static_cast<jclass>(env->NewGlobalRef(cls));
  return info.release();
}

// The cached description of `cls` (made on first use; never freed).
ClassInfo* classInfo(JNIEnv* env, jclass cls) {
  {
    CriticalGuard guard(accessBlock());
    for (ClassInfo* i : classInfos()) {
      if (env->IsSameObject(i->cls, cls)) return i;
    }
  }
  ClassInfo* made = describeClass(env, cls);
  if (made == nullptr) return nullptr;
  CriticalGuard guard(accessBlock());
  for (ClassInfo* i : classInfos()) {
    if (env->IsSameObject(i->cls, cls)) {
      // Another thread described it meanwhile; keep the first.
      env->DeleteGlobalRef(made->cls);
      delete made;
      return i;
    }
  }
  classInfos().push_back(made);
  return made;
}

bool isExactly(JNIEnv* env, jclass cls, jclass cached) { return cached != nullptr && env->IsSameObject(cls, cached); }

jobject box(JNIEnv* env, jclass cls, jmethodID valueOf, ...) {
  va_list args;
  va_start(args, valueOf);
  jobject o = env->CallStaticObjectMethodV(cls, valueOf, args);
  va_end(args);
  return o;
}

// ---------------------------------------------------------------- native to Java

int complexDecode(JNIEnv* env, int type, const char* bytes, size_t n, jobject* out);

void logFieldFailure(MessageBase& m, int objectId, int field, bool comma, int level) {
  log(_debug_java, level, 0, 0,
      comma ? "Java: decode failed, object id = %d, field = %d, stream error = %d"
            : "Java: decode failed. object id = %d, field = %d, stream error = %d",
      objectId, field, m.getError());
  m.recover();
}

jobjectArray stringArrayFromAnyArray(JNIEnv* env, const AnyArray* array, int objectId, int field) {
  const int n = array != nullptr ? array->size() : 0;
  jobjectArray out = env->NewObjectArray(n, _StringClass, nullptr);
  if (out == nullptr) return nullptr;
  for (int i = 0; i < n; ++i) {
    const Any* e = array->get(i);
    if (e == nullptr || e->isNull()) continue;
    if (!e->isString()) {
      log(_debug_java, LOG_ERROR, 0, 0, "Java: decode failed. No string found decoding array. object id = %d, field = %d",
          objectId, field);
      log(0, "Logic Error: no string found decoding string array");
      continue;
    }
    jstring s = newJavaString(env, e->getString());
    env->SetObjectArrayElement(out, i, s);
    if (s != nullptr) env->DeleteLocalRef(s);
  }
  return out;
}

// The elements of the container at field `k` as a new ArrayList; 28 for a bad
// container header.
int decodeArrayList(JNIEnv* env, MessageBase& m, const char* base, int objectId, int k, jobject* out) {
  _BufferLocation loc;
  if (m.findField(k, &loc) != 0) return -1;
  int ctype = 0;
  if (m.readContainerHeader(&loc, &ctype) != 0) {
    m.recover();
    return 28;
  }
  jobject list = env->NewObject(_ArrayListClass, _arrayListCreate);
  if (list == nullptr) return ORV_TEST_EXCEPTION(env) != 0 ? 25 : 25;
  for (;;) {
    const int tag = m.peekTag(loc);
    if (tag < 0 || tag == TAG_CONTAINER_END) break;
    const uint64_t start = MessageBase::offsetOf(loc);
    int t = 0;
    jobject element = nullptr;
    const int rc = m.indexObjectForRead(&loc, &t);
    if (rc == MSG_ERR_NULL_OBJECT) {
      // a null element
    } else if (rc != 0 || m.freeIndexObject() != 0) {
      log(_debug_java, LOG_DEBUG, 0, 0,
          "Java: decode of array element failed. object id = %d, field = %d, stream error = %d", objectId, k,
          m.getError());
      m.recover();
      break;
    } else {
      const uint64_t end = MessageBase::offsetOf(loc);
      const int drc = complexDecode(env, t, base + start, end - start, &element);
      if (drc != 0) {
        log(_debug_java, LOG_DEBUG, 0, 0,
            "Java: decode of array element failed. object id = %d, field = %d, stream error = %d", objectId, k, drc);
      }
    }
    env->CallBooleanMethod(list, _arrayListAdd, element);
    if (element != nullptr) env->DeleteLocalRef(element);
    if (ORV_TEST_EXCEPTION(env) != 0) break;
  }
  (void)m.readContainerTrailer(&loc);
  m.recover();
  *out = list;
  return 0;
}

// Reads wire field k of the object indexed in `m` into the Java field.
void decodeField(JNIEnv* env, MessageBase& m, const char* base, int objectId, jobject obj, const MappedField& f, int k) {
  switch (f.kind) {
    case Kind::kInt: {
      int v;
      if (m.readInt32Field(k, v) == 0) env->SetIntField(obj, f.id, v);
      else logFieldFailure(m, objectId, k, false, LOG_ERROR);
      return;
    }
    case Kind::kBoolean: {
      bool v;
      if (m.readBoolField(k, v) == 0) env->SetBooleanField(obj, f.id, v ? JNI_TRUE : JNI_FALSE);
      else logFieldFailure(m, objectId, k, false, LOG_ERROR);
      return;
    }
    case Kind::kLong: {
      long long v;
      if (m.readInt64Field(k, v) == 0) env->SetLongField(obj, f.id, v);
      else logFieldFailure(m, objectId, k, false, LOG_ERROR);
      return;
    }
    case Kind::kFloat: {
      float v;
      if (m.readFloatField(k, v) == 0) env->SetFloatField(obj, f.id, v);
      else logFieldFailure(m, objectId, k, false, LOG_ERROR);
      return;
    }
    case Kind::kDouble: {
      double v;
      if (m.readDoubleField(k, v) == 0) env->SetDoubleField(obj, f.id, v);
      else logFieldFailure(m, objectId, k, false, LOG_ERROR);
      return;
    }
    case Kind::kString: {
      char* v = nullptr;
      if (m.readStringField(k, v) != 0) {
        logFieldFailure(m, objectId, k, true, LOG_ERROR);
        return;
      }
      jstring s = newJavaString(env, v);
      MessageBase::freeString(v);
      env->SetObjectField(obj, f.id, s);
      if (s != nullptr) env->DeleteLocalRef(s);
      return;
    }
    case Kind::kDate: {
      long long ms;
      if (m.readInt64Field(k, ms) != 0) {
        logFieldFailure(m, objectId, k, true, LOG_ERROR);
        return;
      }
      jobject d = ms != 0 ? env->NewObject(_DateClass, _dateCreate, static_cast<jlong>(ms)) : nullptr;
      env->SetObjectField(obj, f.id, d);
      if (d != nullptr) env->DeleteLocalRef(d);
      return;
    }
    case Kind::kAttributes: {
      Translatable* t = nullptr;
      if (m.readObjectField(k, OBJ_ATTRIBUTES_ID, &t) != 0) {
        logFieldFailure(m, objectId, k, false, LOG_DEBUG);
        return;
      }
      std::unique_ptr<Translatable> owned(t);
      jobject a = makeAttributes(env, static_cast<Attributes*>(t));
      env->SetObjectField(obj, f.id, a);
      if (a != nullptr) env->DeleteLocalRef(a);
      return;
    }
    case Kind::kBytes: {
      size_t n = 0;
      char* v = nullptr;
      if (m.readBytesField(k, n, v) != 0) {
        logFieldFailure(m, objectId, k, false, LOG_DEBUG);
        return;
      }
      jbyteArray b = v != nullptr ? env->NewByteArray(static_cast<jsize>(n)) : nullptr;
      if (b != nullptr) env->SetByteArrayRegion(b, 0, static_cast<jsize>(n), reinterpret_cast<const jbyte*>(v));
      MessageBase::freeBytes(v);
      env->SetObjectField(obj, f.id, b);
      if (b != nullptr) env->DeleteLocalRef(b);
      return;
    }
    case Kind::kStringArray: {
      jobjectArray a = nullptr;
      if (objectId == kStringArrayObjectId) {
        char** list = nullptr;
        if (m.readStringArrayField(k, list) != 0) {
          logFieldFailure(m, objectId, k, false, LOG_DEBUG);
          return;
        }
        if (list != nullptr) a = newJavaStringArray(env, list);
        MessageBase::freeStringArray(list);
      } else {
        Translatable* t = nullptr;
        if (m.readObjectField(k, OBJ_ANYARRAY_ID, &t) != 0) {
          logFieldFailure(m, objectId, k, false, LOG_DEBUG);
          return;
        }
        std::unique_ptr<Translatable> owned(t);
        if (t != nullptr) a = stringArrayFromAnyArray(env, static_cast<AnyArray*>(t), objectId, k);
      }
      env->SetObjectField(obj, f.id, a);
      if (a != nullptr) env->DeleteLocalRef(a);
      return;
    }
    case Kind::kObject:
      if (objectId != kSystemEventObjectId) {
        Translatable* t = nullptr;
        if (m.readObjectField(k, OBJ_JAVAOBJECT_ID, &t) != 0) {
          logFieldFailure(m, objectId, k, false, LOG_DEBUG);
          return;
        }
        std::unique_ptr<Translatable> owned(t);
        jobject o = nullptr;
        if (t != nullptr && cToOpaqueJavaObject(env, static_cast<JavaObject*>(t), &o) != 0) o = nullptr;
        env->SetObjectField(obj, f.id, o);
        if (o != nullptr) env->DeleteLocalRef(o);
        return;
      }
      [[fallthrough]];
    case Kind::kNested: {
      int type = 0;
      char* bytes = nullptr;
      size_t n = 0;
      const int rc = m.readOpaqueObjectField(k, &type, &bytes, &n);
      if (rc == MSG_ERR_NULL_OBJECT) return;
      if (rc != 0) {
        logFieldFailure(m, objectId, k, false, LOG_DEBUG);
        return;
      }
      jobject o = nullptr;
      const int drc = complexDecode(env, type, bytes, n, &o);
      MessageBase::freeOpaqueObjectBuffer(bytes);
      if (drc != 0) {
        log(_debug_java, LOG_DEBUG, 0, 0,
            "Java: decode of java object failed. object id = %d, field = %d, stream error = %d", objectId, k, drc);
        return;
      }
      env->SetObjectField(obj, f.id, o);
      if (o != nullptr) env->DeleteLocalRef(o);
      return;
    }
    case Kind::kArrayList: {
      jobject list = nullptr;
      const int rc = decodeArrayList(env, m, base, objectId, k, &list);
      if (rc != 0) {
        m.recover();
        if (rc < 0) logFieldFailure(m, objectId, k, false, LOG_DEBUG);
        return;
      }
      env->SetObjectField(obj, f.id, list);
      if (list != nullptr) env->DeleteLocalRef(list);
      return;
    }
  }
}

// One whole encoded object of `type` (header to trailer, or a null object)
// as a Java object.
int complexDecode(JNIEnv* env, int type, const char* bytes, size_t n, jobject* out) {
  if (bytes == nullptr || n == 0 || static_cast<unsigned char>(bytes[0]) == TAG_NULL_OBJECT) {
    log(_debug_java, LOG_DEBUG, 0, 0, "Java: complexToJava: returning object null");
    *out = nullptr;
    return 0;
  }
  Message m(bytes, n, true);
  if (type == kSerialisedObjectId) {
    int t = 0;
    if (m.indexObjectForRead(m.getLocation(), &t) != 0) return 18;
    size_t len = 0;
    char* data = nullptr;
    const int rc = m.readBytesField(1, len, data);
    (void)m.freeIndexObject();
    if (rc != 0) return 18;
    jobject o = deserializeJavaObject(env, data, len);
    MessageBase::freeBytes(data);
    if (o == nullptr && env->ExceptionCheck()) return 25;
    const int ex = ORV_TEST_EXCEPTION(env);
    if (ex != 0) return ex;
    *out = o;
    return 0;
  }
  if (type == OBJ_ATTRIBUTES_ID || type == OBJ_ANY_ID || type == OBJ_ANYARRAY_ID) {
    // Values of the data model nested in an object: decoded natively, then
    // converted as any value.
    Translatable* t = nullptr;
    if (m.readObject(type, &t) != 0) return 18;
    std::unique_ptr<Translatable> owned(t);
    if (t == nullptr) {
      *out = nullptr;
      return 0;
    }
    if (type == OBJ_ATTRIBUTES_ID) {
      *out = makeAttributes(env, static_cast<Attributes*>(t));
      return *out != nullptr ? 0 : 18;
    }
    if (type == OBJ_ANY_ID) return toJavaObject(env, out, static_cast<Any*>(t));
    Any holder;
    holder.setObject(OBJ_ANYARRAY_ID, owned.release());
    return toJavaObject(env, out, &holder);
  }
  log(_debug_java, LOG_DEBUG, 0, 0, "Java: complexToJava: searching decode list for %d", type);
  jclass cls = findDecodeListClass(type);
  if (cls == nullptr) {
    log(_debug_java, LOG_WARNING, 0, 0, "Java: Warning: no registered java object id: %d", type);
    return 17;
  }
  ClassInfo* info = classInfo(env, cls);
  if (info == nullptr) return 25;
  if (info->defaultCtor == nullptr) {
    log(0, "Java: Error: no default constructor for class: %s", info->name.c_str());
    log(0, "Java:     it cannot be serialized/deserialized");
    return 26;
  }
  jobject obj = env->NewObject(cls, info->defaultCtor);
  if (obj == nullptr) {
    const int ex = ORV_TEST_EXCEPTION(env);
    return ex != 0 ? ex : 25;
  }
  log(_debug_java, LOG_DEBUG, 0, 0, "Java: complexToJava: decoder decoding object %d", type);
  int t = 0;
  if (m.indexObjectForRead(m.getLocation(), &t) != 0) {
    env->DeleteLocalRef(obj);
    return 18;
  }
  int k = 1;
  for (const MappedField& f : info->fields) {
    decodeField(env, m, bytes, type, obj, f, k++);
    if (env->ExceptionCheck()) (void)ORV_TEST_EXCEPTION(env);
  }
  (void)m.freeIndexObject();
  *out = obj;
  return 0;
}

// ---------------------------------------------------------------- Java to native

int encodeObject(JNIEnv* env, jobject obj, MessageBase* m);

void writeFieldPrefix(MessageBase* m, int k) {
  const unsigned char prefix[2] = {TAG_FIELD, static_cast<unsigned char>(k & 0xFF)};
  (void)m->writeEncoded(prefix, 2);
}

void writeNullObject(MessageBase* m) {
  const unsigned char tag = TAG_NULL_OBJECT;
  (void)m->writeEncoded(&tag, 1);
}

AnyArray* stringArrayToAnyArray(JNIEnv* env, jobjectArray a) {
  const jsize n = env->GetArrayLength(a);
  auto* out = new AnyArray();
  for (jsize i = 0; i < n; ++i) {
    auto s = static_cast<jstring>(env->GetObjectArrayElement(a, i));
    std::string text;
    if (s != nullptr && javaStringToUtf8(env, s, &text)) {
      out->append(new Any(text.c_str()));
    } else {
      out->append(new Any());
    }
    if (s != nullptr) env->DeleteLocalRef(s);
  }
  return out;
}

// Writes mapped field k (kind f) of `obj`; 0 or a status.
int encodeField(JNIEnv* env, jobject obj, const ClassInfo& info, const MappedField& f, int k, MessageBase* m) {
  switch (f.kind) {
    case Kind::kInt: return m->writeInt32Field(k, env->GetIntField(obj, f.id)) == 0 ? 0 : 18;
    case Kind::kBoolean: return m->writeBoolField(k, env->GetBooleanField(obj, f.id) == JNI_TRUE) == 0 ? 0 : 18;
    case Kind::kLong: return m->writeInt64Field(k, env->GetLongField(obj, f.id)) == 0 ? 0 : 18;
    case Kind::kFloat: return m->writeFloatField(k, env->GetFloatField(obj, f.id)) == 0 ? 0 : 18;
    case Kind::kDouble: return m->writeDoubleField(k, env->GetDoubleField(obj, f.id)) == 0 ? 0 : 18;
    default: break;
  }
  jobject v = env->GetObjectField(obj, f.id);
  int rc = 0;
  switch (f.kind) {
    case Kind::kString: {
      std::string text;
      const bool present = v != nullptr && javaStringToUtf8(env, static_cast<jstring>(v), &text);
      rc = m->writeStringField(k, present ? text.c_str() : nullptr) == 0 ? 0 : 18;
      break;
    }
    case Kind::kDate: {
      long long ms = 0;
      if (v != nullptr) ms = env->CallLongMethod(v, _dateGetTime);
      rc = ORV_TEST_EXCEPTION(env);
      if (rc == 0) rc = m->writeInt64Field(k, ms) == 0 ? 0 : 18;
      break;
    }
    case Kind::kAttributes: {
      std::unique_ptr<Attributes> a(v != nullptr ? unmakeAttributes(env, v) : nullptr);
      if (v != nullptr && a == nullptr) {
        rc = 18;
        break;
      }
      rc = m->writeObjectField(k, OBJ_ATTRIBUTES_ID, a.get()) == 0 ? 0 : 18;
      break;
    }
    case Kind::kBytes: {
      auto b = static_cast<jbyteArray>(v);
      const jsize n = b != nullptr ? env->GetArrayLength(b) : 0;
      std::vector<char> data(static_cast<size_t>(n));
      if (n > 0) env->GetByteArrayRegion(b, 0, n, reinterpret_cast<jbyte*>(data.data()));
      rc = m->writeBytesField(k, data.size(), data.data()) == 0 ? 0 : 18;
      break;
    }
    case Kind::kStringArray: {
      auto a = static_cast<jobjectArray>(v);
      if (info.objectId == kStringArrayObjectId) {
        std::vector<std::string> texts;
        std::vector<char*> ptrs;
        if (a != nullptr) {
          const jsize n = env->GetArrayLength(a);
          texts.resize(static_cast<size_t>(n));
          for (jsize i = 0; i < n; ++i) {
            auto s = static_cast<jstring>(env->GetObjectArrayElement(a, i));
            if (s != nullptr) (void)javaStringToUtf8(env, s, &texts[static_cast<size_t>(i)]);
            if (s != nullptr) env->DeleteLocalRef(s);
          }
          for (std::string& t : texts) ptrs.push_back(t.data());
          ptrs.push_back(nullptr);
        }
        rc = m->writeStringArrayField(k, a != nullptr ? ptrs.data() : nullptr) == 0 ? 0 : 18;
      } else {
        std::unique_ptr<AnyArray> arr(a != nullptr ? stringArrayToAnyArray(env, a) : nullptr);
        rc = m->writeObjectField(k, OBJ_ANYARRAY_ID, arr.get()) == 0 ? 0 : 18;
      }
      break;
    }
    case Kind::kObject: {
      JavaObject* jo = nullptr;
      if (v != nullptr) rc = opaqueJavaObjectToC(env, v, &jo);
      std::unique_ptr<JavaObject> owned(jo);
      if (rc == 0) rc = m->writeObjectField(k, OBJ_JAVAOBJECT_ID, jo) == 0 ? 0 : 18;
      break;
    }
    case Kind::kArrayList: {
      char name[64];
      snprintf(name, sizeof name, "container_field_%d_objectID", k);
      jfieldID idField = env->GetStaticFieldID(info.cls, name, "I");
      if (idField == nullptr) {
        env->ExceptionClear();
        rc = 17;
        break;
      }
      const int elementType = env->GetStaticIntField(info.cls, idField);
      writeFieldPrefix(m, k);
      (void)m->writeContainerHeader(elementType);
      if (v != nullptr) {
        jobject it = env->CallObjectMethod(v, _listIterator);
        rc = ORV_TEST_EXCEPTION(env);
        while (rc == 0 && it != nullptr && env->CallBooleanMethod(it, _iteratorHasNext) == JNI_TRUE) {
          jobject e = env->CallObjectMethod(it, _iteratorNext);
          rc = ORV_TEST_EXCEPTION(env);
          if (rc != 0) break;
          if (e == nullptr) {
            writeNullObject(m);
          } else {
            rc = encodeObject(env, e, m);
            env->DeleteLocalRef(e);
          }
        }
        if (rc == 0) rc = ORV_TEST_EXCEPTION(env);
        if (it != nullptr) env->DeleteLocalRef(it);
      }
      if (rc == 0) rc = m->writeContainerTrailer() == 0 ? 0 : 18;
      break;
    }
    default: {  // a nested object
      log(_debug_java, LOG_DEBUG, 0, 0, "Java: complexToC: it's complex %d", k);
      writeFieldPrefix(m, k);
      if (v == nullptr) {
        writeNullObject(m);
      } else {
        rc = encodeObject(env, v, m);
        log(_debug_java, LOG_DEBUG, 0, 0, "Java: complexToC: complex decode returns %d", rc);
      }
      break;
    }
  }
  if (v != nullptr) env->DeleteLocalRef(v);
  return rc;
}

// Writes `obj` as one whole object: field by field under its objectID, or in
// Java serialised form (object 101) when it is Serializable.
int encodeObject(JNIEnv* env, jobject obj, MessageBase* m) {
  jclass cls = env->GetObjectClass(obj);
  ClassInfo* info = classInfo(env, cls);
  if (info == nullptr) {
    env->DeleteLocalRef(cls);
    return 25;
  }
  log(_debug_java, LOG_DEBUG, 0, 0, "Java: _complexToCObject: called, object = %p, class = %s",
      static_cast<void*>(obj), info->name.c_str());
  int rc = 0;
  if (info->hasObjectId) {
    log(_debug_java, LOG_DEBUG, 0, 0, "Java: complexToC: objectID = %d", info->objectId);
    (void)m->writeObjectHeader(info->objectId);
    int k = 1;
    for (const MappedField& f : info->fields) {
      rc = encodeField(env, obj, *info, f, k, m);
      if (rc != 0) {
        log(_debug_java, LOG_DEBUG, 0, 0, "Java: complexToC: field %d of %s failed, status %d, stream error %d", k,
            info->name.c_str(), rc, m->getError());
        break;
      }
      ++k;
    }
    if (rc == 0) (void)m->writeObjectTrailer();
  } else if (env->IsInstanceOf(obj, _SerializableClass)) {
    log(_debug_java, LOG_DEBUG, 0, 0, "Java: encoding class = %s as binary object", info->name.c_str());
    jbyteArray bytes = serializeJavaObject(env, obj);
    if (bytes == nullptr) {
      rc = ORV_TEST_EXCEPTION(env);
      if (rc == 0) rc = 18;
    } else {
      const jsize n = env->GetArrayLength(bytes);
      jbyte* data = env->GetByteArrayElements(bytes, nullptr);
      (void)m->writeObjectHeader(kSerialisedObjectId);
      (void)m->writeBytesField(1, static_cast<size_t>(n), reinterpret_cast<const char*>(data));
      (void)m->writeObjectTrailer();
      env->ReleaseByteArrayElements(bytes, data, JNI_ABORT);
      env->DeleteLocalRef(bytes);
    }
  } else {
    log(_debug_java, LOG_ERROR, 0, 0, "Internal error: class %s is not Serializable and has no objectID",
        info->name.c_str());
    rc = 17;
  }
  env->DeleteLocalRef(cls);
  if (rc == 0 && m->getError() != 0) rc = 18;
  return rc;
}

int complexToC(JNIEnv* env, jobject obj, Any** out) {
  Message m(0);
  int rc = encodeObject(env, obj, &m);
  if (rc != 0) return rc;
  int type = 0;
  char* bytes = nullptr;
  size_t n = 0;
  if (m.switchToRead() != 0) rc = -1;
  if (rc == 0) rc = m.readOpaqueObjectField(-1, &type, &bytes, &n);
  if (rc == MSG_ERR_NULL_OBJECT) {
    *out = nullptr;
    return 0;
  }
  if (rc != 0) {
    std::string name;
    jclass cls = env->GetObjectClass(obj);
    name = className(env, cls);
    env->DeleteLocalRef(cls);
    log(_debug_java, LOG_ERROR, 0, 0, "Java: Error: marshall error: mesg: %d, processing object: %s", m.getError(),
        name.c_str());
    return 18;
  }
  auto* any = new Any();
  // The buffer of the reader is a plain malloc'd copy: the Any adopts it.
  any->adoptOpaque(type, bytes, n);
  *out = any;
  return 0;
}

// The object behind an Any in its encoded form: the opaque bytes, or a new
// encoding of the held or referenced object. 18 when there is none.
int encodedForm(const Any* any, int* type, std::string* bytes) {
  if (any->isOpaque()) {
    *type = any->getType();
    bytes->assign(any->getOpaqueBytes(), any->getOpaqueLength());
    return 0;
  }
  const Translatable* object = any->getType() == ANY_REF ? any->getRefTarget() : any->getHeldObject();
  if (object == nullptr) return 18;
  const int id = any->getType() == ANY_REF ? object->getObjectID() : any->getType();
  if (MessageBase::findXlatorFn(id) == nullptr) return 18;
  Message m(0);
  if (m.writeObject(id, object) != 0 || m.switchToRead() != 0) return 18;
  char* data = nullptr;
  size_t n = 0;
  const int rc = m.readOpaqueObjectField(-1, type, &data, &n);
  if (rc == MSG_ERR_NULL_OBJECT) {
    *type = id;
    bytes->clear();
    return 0;
  }
  if (rc != 0) return 18;
  bytes->assign(data, n);
  MessageBase::freeOpaqueObjectBuffer(data);
  return 0;
}

}  // namespace

jstring toJavaString(JNIEnv* env, const char* text) { return newJavaString(env, text); }

jbyteArray serializeJavaObject(JNIEnv* env, jobject obj) {
  jobject bos = env->NewObject(_ByteArrayOutputStreamClass, _byteArrayOutputStreamCreate);
  jobject oos = bos != nullptr ? env->NewObject(_ObjectOutputStreamClass, _objectOutputStreamCreate, bos) : nullptr;
  jbyteArray bytes = nullptr;
  if (oos != nullptr) {
    env->CallVoidMethod(oos, _objectOutputStreamWriteObject, obj);
    if (!env->ExceptionCheck()) env->CallVoidMethod(oos, _objectOutputStreamFlush);
    if (!env->ExceptionCheck()) bytes = static_cast<jbyteArray>(env->CallObjectMethod(bos, _byteArrayOutputStreamToByteArray));
  }
  if (oos != nullptr) env->DeleteLocalRef(oos);
  if (bos != nullptr) env->DeleteLocalRef(bos);
  if (env->ExceptionCheck() && bytes != nullptr) {
    env->DeleteLocalRef(bytes);
    bytes = nullptr;
  }
  return bytes;
}

jobject deserializeJavaObject(JNIEnv* env, const char* bytes, size_t length) {
  jbyteArray array = env->NewByteArray(static_cast<jsize>(length));
  if (array == nullptr) return nullptr;
  env->SetByteArrayRegion(array, 0, static_cast<jsize>(length), reinterpret_cast<const jbyte*>(bytes));
  jobject in = env->NewObject(_ByteArrayInputStreamClass, _byteArrayInputStreamCreate, array);
  jobject ois = in != nullptr ? env->NewObject(_SpecialObjectInputStreamClass, _specialObjectInputStreamCreate, in)
                              : nullptr;
  jobject obj = ois != nullptr ? env->CallObjectMethod(ois, _objectInputStreamReadObject) : nullptr;
  if (ois != nullptr) env->DeleteLocalRef(ois);
  if (in != nullptr) env->DeleteLocalRef(in);
  env->DeleteLocalRef(array);
  return obj;
}

int cToOpaqueJavaObject(JNIEnv* env, const JavaObject* object, jobject* out) {
  if (object == nullptr) {
    *out = nullptr;
    return 0;
  }
  jobject o = deserializeJavaObject(env, object->getBytes(), object->getLength());
  const int ex = ORV_TEST_EXCEPTION(env);
  if (ex != 0 || (o == nullptr && object->getLength() > 0)) {
    if (o != nullptr) env->DeleteLocalRef(o);
    return ex != 0 ? ex : 25;
  }
  *out = o;
  return 0;
}

int opaqueJavaObjectToC(JNIEnv* env, jobject obj, JavaObject** out) {
  if (obj == nullptr) {
    *out = nullptr;
    return 0;
  }
  jbyteArray bytes = serializeJavaObject(env, obj);
  const int ex = ORV_TEST_EXCEPTION(env);
  if (ex != 0 || bytes == nullptr) {
    if (bytes != nullptr) env->DeleteLocalRef(bytes);
    return ex != 0 ? ex : 25;
  }
  const jsize n = env->GetArrayLength(bytes);
  jbyte* data = env->GetByteArrayElements(bytes, nullptr);
  *out = new JavaObject(reinterpret_cast<const char*>(data), static_cast<size_t>(n));
  env->ReleaseByteArrayElements(bytes, data, JNI_ABORT);
  env->DeleteLocalRef(bytes);
  return 0;
}

int toJavaObject(JNIEnv* env, jobject* out, const Any* any) {
  if (any == nullptr) {
    *out = nullptr;
    return 0;
  }
  jobject o = nullptr;
  switch (any->getType()) {
    case ANY_NULL:
    case ANY_UNDEFINED:
    case ANY_INVALID:
      *out = nullptr;
      return 0;
    case ANY_BOOL: o = box(env, _BooleanClass, _booleanCreate, any->getBool() ? JNI_TRUE : JNI_FALSE); break;
    case ANY_INT32: o = box(env, _IntegerClass, _integerCreate, static_cast<jint>(any->getInt32())); break;
    case ANY_INT64: o = box(env, _LongClass, _longCreate, static_cast<jlong>(any->getInt64())); break;
    case ANY_FLOAT: o = box(env, _FloatClass, _floatCreate, static_cast<jdouble>(any->getFloat())); break;
    case ANY_DOUBLE: o = box(env, _DoubleClass, _doubleCreate, static_cast<jdouble>(any->getDouble())); break;
    case ANY_STRING:
    case ANY_CHAR:
      o = newJavaString(env, any->getString());
      break;
    case OBJ_ATTRIBUTES_ID: {
      Translatable* t = nullptr;
      if (!any->getObject(&t)) return 18;
      o = makeAttributes(env, static_cast<Attributes*>(t));
      if (o == nullptr) return ORV_TEST_EXCEPTION(env) != 0 ? 25 : 18;
      break;
    }
    case OBJ_ANYARRAY_ID: {
      Translatable* t = nullptr;
      if (!any->getObject(&t)) return 18;
      const auto* array = static_cast<const AnyArray*>(t);
      jobject list = env->NewObject(_AttributeArrayClass, _attributeArrayCreate);
      if (list == nullptr) return ORV_TEST_EXCEPTION(env) != 0 ? 25 : 25;
      for (int i = 0; i < array->size(); ++i) {
        const Any* e = array->get(i);
        jobject je = e != nullptr ? makeObjectFromAny(env, e) : nullptr;
        env->CallBooleanMethod(list, _attributeArrayAdd, je);
        if (je != nullptr) env->DeleteLocalRef(je);
        const int ex = ORV_TEST_EXCEPTION(env);
        if (ex != 0) {
          env->DeleteLocalRef(list);
          return ex;
        }
      }
      o = list;
      break;
    }
    default: {
      if (any->getType() == ANY_REF && any->getRefTarget() != nullptr &&
          any->getRefTarget()->getObjectID() == OBJ_ATTRIBUTES_ID) {
        o = makeAttributes(env, static_cast<const Attributes*>(any->getRefTarget()));
        if (o == nullptr) return 18;
        break;
      }
      int type = 0;
      std::string bytes;
      int rc = encodedForm(any, &type, &bytes);
      if (rc != 0) return rc;
      rc = complexDecode(env, type, bytes.data(), bytes.size(), &o);
      if (rc != 0) return rc;
      *out = o;
      return 0;
    }
  }
  const int ex = ORV_TEST_EXCEPTION(env);
  if (ex != 0) {
    if (o != nullptr) env->DeleteLocalRef(o);
    return ex;
  }
  *out = o;
  return 0;
}

int toCObject(JNIEnv* env, jobject obj, Any** out) {
  if (obj == nullptr) {
    *out = nullptr;
    return 0;
  }
  jclass cls = env->GetObjectClass(obj);
  Any* any = nullptr;
  int rc = 0;
  std::string text;
  if (isExactly(env, cls, _BooleanClass)) {
    any = new Any(env->CallBooleanMethod(obj, _booleanValue) == JNI_TRUE);
  } else if (isExactly(env, cls, _IntegerClass)) {
    any = new Any(static_cast<int>(env->CallIntMethod(obj, _intValue)));
  } else if (isExactly(env, cls, _LongClass)) {
    any = new Any(static_cast<long long>(env->CallLongMethod(obj, _longValue)));
  } else if (isExactly(env, cls, _DoubleClass)) {
    any = new Any(static_cast<double>(env->CallDoubleMethod(obj, _doubleValue)));
  } else if (isExactly(env, cls, _FloatClass)) {
    any = new Any(static_cast<float>(env->CallFloatMethod(obj, _floatValue)));
  } else if (isExactly(env, cls, _StringClass)) {
    if (javaStringToUtf8(env, static_cast<jstring>(obj), &text)) {
      any = new Any(text.c_str());
    } else {
      rc = 25;
    }
  } else if (isExactly(env, cls, _ObjectClass)) {
    JavaObject* jo = nullptr;
    if (opaqueJavaObjectToC(env, obj, &jo) == 0 && jo != nullptr) {
      any = new Any(OBJ_JAVAOBJECT_ID, jo);
    }
    // A plain Object that cannot be serialised gives a null pointer.
  } else if (isExactly(env, cls, _JavaAttributesClass)) {
    Attributes* a = unmakeAttributes(env, obj);
    if (a == nullptr) {
      rc = 18;
    } else {
      any = new Any(OBJ_ATTRIBUTES_ID, a);
    }
  } else {
    env->DeleteLocalRef(cls);
    return complexToC(env, obj, out);
  }
  env->DeleteLocalRef(cls);
  const int ex = ORV_TEST_EXCEPTION(env);
  if (ex != 0 || rc != 0) {
    delete any;
    return ex != 0 ? ex : rc;
  }
  *out = any;
  return 0;
}
