// Conversions of the data model's own Java forms: Attribute, Attributes,
// AttributeArray, DirName, DirNameEntry and Acl.
#include <algorithm>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "foundation/diagnostics.h"
#include "foundation/log.h"
#include "jni/class_cache.h"
#include "jni/convert.h"
#include "jni/java_exceptions.h"
#include "jni/java_object_reference.h"
#include "jni/java_string.h"
#include "model/acl.h"
#include "model/any.h"
#include "model/any_array.h"
#include "model/attributes.h"
#include "model/dir_name.h"
#include "model/dir_name_entry.h"
#include "model/obj_ref.h"

namespace {

// The attribute type codes of com.vesk.orvanex.Attribute.
constexpr int kAttrObjectReference = JavaObjectReference::kAttributeObjectId;

bool failed(JNIEnv* env) { return ORV_TEST_EXCEPTION(env) != 0 || env->ExceptionCheck(); }

void setMts(JNIEnv* env, jobject attr, int subtype) {
  if (attr != nullptr) env->CallVoidMethod(attr, _attrSetMtsType, static_cast<jint>(subtype));
}

std::string utf8(JNIEnv* env, jstring s, bool* present) {
  std::string out;
  *present = s != nullptr && javaStringToUtf8(env, s, &out);
  return out;
}

}  // namespace

jobject makeObjectFromAny(JNIEnv* env, const Any* any) {
  if (any == nullptr) return nullptr;
  jobject o = nullptr;
  switch (any->getType()) {
    case ANY_INT64: o = env->NewObject(_AttributeClass, _attrCreateLong, static_cast<jlong>(any->getInt64())); break;
    case ANY_DOUBLE: o = env->NewObject(_AttributeClass, _attrCreateDouble, any->getDouble()); break;
    case ANY_FLOAT: o = env->NewObject(_AttributeClass, _attrCreateFloat, static_cast<jdouble>(any->getFloat())); break;
    case ANY_STRING: {
      jstring s = newJavaString(env, any->getString());
      if (s == nullptr && any->getString() != nullptr) break;
      o = env->NewObject(_AttributeClass, _attrCreateString, s);
      if (s != nullptr) env->DeleteLocalRef(s);
      // A new Attribute has type 0 already: one call into Java fewer.
      if (o != nullptr && any->getSubtype() != 0) setMts(env, o, any->getSubtype());
      break;
    }
    case ANY_BOOL: o = env->NewObject(_AttributeClass, _attrCreateBoolean, any->getBool() ? JNI_TRUE : JNI_FALSE); break;
    case ANY_INT32: o = env->NewObject(_AttributeClass, _attrCreateInt, static_cast<jint>(any->getInt32())); break;
    case ANY_NULL: return nullptr;
    case OBJ_ANYARRAY_ID: {
      Translatable* t = nullptr;
      if (!any->getObject(&t)) return nullptr;
      const auto* array = static_cast<const AnyArray*>(t);
      jobject list = env->NewObject(_AttributeArrayClass, _attributeArrayCreate);
      if (list == nullptr) break;
      for (int i = 0; i < array->size(); ++i) {
        jobject e = makeObjectFromAny(env, array->get(i));
        env->CallBooleanMethod(list, _attributeArrayAdd, e);
        if (e != nullptr) env->DeleteLocalRef(e);
        if (env->ExceptionCheck()) break;
      }
      if (!env->ExceptionCheck()) o = env->NewObject(_AttributeClass, _attrCreateObject, list);
      env->DeleteLocalRef(list);
      break;
    }
    default: {
      jobject inner = nullptr;
      const Translatable* target = any->getType() == ANY_REF ? any->getRefTarget() : nullptr;
      if (target != nullptr && target->getObjectID() >= JavaObjectReference::kFirstJavaObjectId &&
          target->copyToJavaAsRef()) {
        // A Java object handed through the native side: the same object.
        inner = env->NewLocalRef(static_cast<const JavaObjectReference*>(target)->object());
      } else if (toJavaObject(env, &inner, any) != 0) {
        return nullptr;
      }
      o = env->NewObject(_AttributeClass, _attrCreateObject, inner);
      if (inner != nullptr) env->DeleteLocalRef(inner);
      break;
    }
  }
  if (failed(env)) {
    if (o != nullptr) env->DeleteLocalRef(o);
    return nullptr;
  }
  return o;
}

Any* unmakeObjectFromAny(JNIEnv* env, jobject attribute) {
  if (attribute == nullptr) return nullptr;
  const int type = env->CallIntMethod(attribute, _attrGetType);
  if (failed(env)) return nullptr;
  auto subtypeOf = [&](int* out) {
    const int t = env->CallIntMethod(attribute, _attrGetMtsType);
    if (failed(env)) return false;
    // A subtype must fit the type word; a larger one is refused, not asserted.
    if (t < 0 || t >= 0xFFFF) {
      log(0, "Java: unmakeObjectFromAny: subtype %d out of range", t);
      return false;
    }
    *out = t;
    return true;
  };
  std::unique_ptr<Any> any;
  switch (type) {
    case ANY_INT64: {
      const jlong v = env->CallLongMethod(attribute, _attrGetInt64);
      int st = 0;
      if (failed(env) || !subtypeOf(&st)) return nullptr;
      any = std::make_unique<Any>(static_cast<long long>(v));
      any->setSubtype(st);
      break;
    }
    case ANY_DOUBLE: {
      const jdouble v = env->CallDoubleMethod(attribute, _attrGetDouble);
      if (failed(env)) return nullptr;
      any = std::make_unique<Any>(static_cast<double>(v));
      break;
    }
    case ANY_FLOAT: {
      const jfloat v = env->CallFloatMethod(attribute, _attrGetFloat);
      if (failed(env)) return nullptr;
      any = std::make_unique<Any>(static_cast<float>(v));
      break;
    }
    case ANY_STRING: {
      auto s = static_cast<jstring>(env->CallObjectMethod(attribute, _attrGetString));
      if (failed(env)) return nullptr;
      if (s == nullptr) {
        log(_debug_java, LOG_DEBUG, 0, 0, "Java: unmakeObjectFromAny: string is null");
        return nullptr;
      }
      bool present = false;
      const std::string text = utf8(env, s, &present);
      env->DeleteLocalRef(s);
      int st = 0;
      if (!present || !subtypeOf(&st)) return nullptr;
      any = std::make_unique<Any>(text.c_str());
      any->setSubtype(st);
      break;
    }
    case kAttrObjectReference: {
      jobject o = env->CallObjectMethod(attribute, _attrGetObject);
      if (failed(env)) return nullptr;
      any = std::make_unique<Any>(new ObjRef(new JavaObjectReference(env, o, kAttrObjectReference)));
      if (o != nullptr) env->DeleteLocalRef(o);
      break;
    }
    case ANY_BOOL: {
      const jboolean v = env->CallBooleanMethod(attribute, _attrGetBoolean);
      if (failed(env)) return nullptr;
      any = std::make_unique<Any>(v == JNI_TRUE);
      break;
    }
    case ANY_INT32: {
      const jint v = env->CallIntMethod(attribute, _attrGetInt32);
      int st = 0;
      if (failed(env) || !subtypeOf(&st)) return nullptr;
      any = std::make_unique<Any>(static_cast<int>(v));
      any->setSubtype(st);
      break;
    }
    case ANY_NULL:
      any = std::make_unique<Any>();
      break;
    default: {
      jobject o = env->CallObjectMethod(attribute, _attrGetObject);
      if (failed(env)) return nullptr;
      Any* converted = nullptr;
      const int rc = toCObject(env, o, &converted);
      if (o != nullptr) env->DeleteLocalRef(o);
      if (rc != 0) {
        log(0, "Java: unmakeObjectFromAny: Unable to convert java object to any, error = %d", rc);
        return nullptr;
      }
      return converted;
    }
  }
  return any.release();
}

jobject makeAttributes(JNIEnv* env, const Attributes* attrs) {
  if (attrs == nullptr) return nullptr;
  jobject set = env->NewObject(_JavaAttributesClass, _attributesCreate);
  if (set == nullptr) {
    (void)failed(env);
    return nullptr;
  }
  // In list order. A name set twice is handed on once, with its first
  // (newest) value: the one every native lookup finds. The Java set would
  // otherwise end up holding the oldest. Duplicates are rare: they are
  // looked for once, without an allocation per entry.
  std::vector<std::string_view> names;
  names.reserve(static_cast<size_t>(attrs->size()));
  for (const Attributes::AttrList* e = attrs->first(); e != nullptr; e = e->getNext()) {
    if (e->getName() != nullptr) names.emplace_back(e->getName());
  }
  std::sort(names.begin(), names.end());
  const bool duplicates = std::adjacent_find(names.begin(), names.end()) != names.end();
  std::unordered_set<std::string_view> seen;
  for (const Attributes::AttrList* e = attrs->first(); e != nullptr; e = e->getNext()) {
    if (e->getName() == nullptr || (duplicates && !seen.insert(e->getName()).second)) continue;
    jstring name = newJavaString(env, e->getName());
    jobject value = makeObjectFromAny(env, e->getValue());
    if (!env->ExceptionCheck() && name != nullptr) {
      env->CallVoidMethod(set, _attributesSetAttribute, name, value, static_cast<jint>(e->getDisplayHint()));
    }
    if (name != nullptr) env->DeleteLocalRef(name);
    if (value != nullptr) env->DeleteLocalRef(value);
    if (failed(env)) {
      env->DeleteLocalRef(set);
      return nullptr;
    }
  }
  return set;
}

Attributes* unmakeAttributes(JNIEnv* env, jobject obj) {
  if (obj == nullptr) return nullptr;
  auto names = static_cast<jobjectArray>(env->CallObjectMethod(obj, _attributesGetAttributeNames));
  if (failed(env)) return nullptr;
  auto out = std::make_unique<Attributes>();
  const jsize n = names != nullptr ? env->GetArrayLength(names) : 0;
  for (jsize i = 0; i < n; ++i) {
    auto name = static_cast<jstring>(env->GetObjectArrayElement(names, i));
    bool present = false;
    const std::string text = utf8(env, name, &present);
    log(_debug_java, LOG_TRACE, 0, 0, "Java: unmakeAttributes: i = %d, field = %s", i, text.c_str());
    jobject value = name != nullptr ? env->CallObjectMethod(obj, _attributesGetAttribute, name) : nullptr;
    jint flags = 0;
    if (name != nullptr && _attributesGetFlags != nullptr && !env->ExceptionCheck()) {
      flags = env->CallIntMethod(obj, _attributesGetFlags, name);
    }
    if (name != nullptr) env->DeleteLocalRef(name);
    if (failed(env)) {
      if (names != nullptr) env->DeleteLocalRef(names);
      return nullptr;
    }
    Any* any = nullptr;
    if (value != nullptr) {
      // An Attribute through its own rules, any other Any (a CAny, say)
      // through the general converter.
      if (env->IsInstanceOf(value, _AttributeClass)) {
        any = unmakeObjectFromAny(env, value);
      } else if (toCObject(env, value, &any) != 0) {
        any = nullptr;
      }
      env->DeleteLocalRef(value);
      if (env->ExceptionCheck()) {
        (void)failed(env);
        delete any;
        if (names != nullptr) env->DeleteLocalRef(names);
        return nullptr;
      }
    }
    if (present) out->appendAttribute(text.c_str(), any != nullptr ? any : new Any(), flags);
    else delete any;
  }
  if (names != nullptr) env->DeleteLocalRef(names);
  return out.release();
}

jobject makeDirNameEntry(JNIEnv* env, const DirNameEntry* entry) {
  if (entry == nullptr) return nullptr;
  jobject e = env->NewObject(_DirNameEntryClass, _dneCreate);
  if (e == nullptr) {
    (void)failed(env);
    return nullptr;
  }
  jstring cls = newJavaString(env, entry->getName());
  env->CallVoidMethod(e, entry->isNameExpression() ? _dneSetClassnameExpression : _dneSetClassname, cls);
  if (cls != nullptr) env->DeleteLocalRef(cls);
  for (const DirNameEntry::AttrList* a = entry->firstAttribute(); a != nullptr && !env->ExceptionCheck();
       a = a->getNext()) {
    jstring name = newJavaString(env, a->getName());
    if (a->isExpression()) {
      jstring expr = newJavaString(env, a->getValue() != nullptr ? a->getValue()->getString() : nullptr);
      env->CallVoidMethod(e, _dneSetAttributeExpression, name, expr);
      if (expr != nullptr) env->DeleteLocalRef(expr);
    } else {
      jobject v = makeObjectFromAny(env, a->getValue());
      if (!env->ExceptionCheck()) env->CallVoidMethod(e, _dneSetAttribute, name, v);
      if (v != nullptr) env->DeleteLocalRef(v);
    }
    if (name != nullptr) env->DeleteLocalRef(name);
  }
  if (failed(env)) {
    env->DeleteLocalRef(e);
    return nullptr;
  }
  return e;
}

jobject makeDirName(JNIEnv* env, const DirName* name) {
  if (name == nullptr) return nullptr;
  jobject n = env->NewObject(_DirNameClass, _dirNameCreate);
  if (n == nullptr) {
    (void)failed(env);
    return nullptr;
  }
  env->CallVoidMethod(n, _dirNameSetLeadingSlash, name->isAbsolute() ? JNI_TRUE : JNI_FALSE);
  env->CallVoidMethod(n, _dirNameSetDomainLeadingSlash, name->isDoubleSlash() ? JNI_TRUE : JNI_FALSE);
  for (int i = 0; i < name->size() && !env->ExceptionCheck(); ++i) {
    jobject e = makeDirNameEntry(env, name->get(i));
    if (e == nullptr) break;
    env->CallVoidMethod(n, _dirNameAppend, e);
    env->DeleteLocalRef(e);
  }
  if (failed(env)) {
    env->DeleteLocalRef(n);
    return nullptr;
  }
  return n;
}

DirNameEntry* unmakeDirNameEntry(JNIEnv* env, jobject obj) {
  if (obj == nullptr) return nullptr;
  auto cls = static_cast<jstring>(env->CallObjectMethod(obj, _dneGetClassname));
  const bool clsExpr = env->CallBooleanMethod(obj, _dneIsClassnameExpression) == JNI_TRUE;
  const jint n = env->CallIntMethod(obj, _dneGetAttributeCount);
  if (failed(env)) {
    if (cls != nullptr) env->DeleteLocalRef(cls);
    return nullptr;
  }
  bool present = false;
  const std::string clsText = utf8(env, cls, &present);
  if (cls != nullptr) env->DeleteLocalRef(cls);
  auto entry = std::make_unique<DirNameEntry>(present ? clsText.c_str() : nullptr);
  entry->setNameIsExpression(clsExpr);
  for (jint i = 0; i < n; ++i) {
    auto name = static_cast<jstring>(env->CallObjectMethod(obj, _dneGetAttributeName, i));
    const bool expr = env->CallBooleanMethod(obj, _dneIsAttributeExpression, i) == JNI_TRUE;
    jobject value = env->CallObjectMethod(obj, _dneGetAttributeValue, i);
    if (failed(env)) {
      if (name != nullptr) env->DeleteLocalRef(name);
      if (value != nullptr) env->DeleteLocalRef(value);
      return nullptr;
    }
    bool hasName = false;
    const std::string nameText = utf8(env, name, &hasName);
    if (expr) {
      bool hasExpr = false;
      const std::string exprText = utf8(env, static_cast<jstring>(value), &hasExpr);
      entry->setAttributeExpression(nameText.c_str(), hasExpr ? exprText.c_str() : nullptr);
    } else {
      Any* v = unmakeObjectFromAny(env, value);
      entry->addAttribute(nameText.c_str(), v != nullptr ? v : new Any(), false);
    }
    if (name != nullptr) env->DeleteLocalRef(name);
    if (value != nullptr) env->DeleteLocalRef(value);
  }
  return entry.release();
}

DirName* unmakeDirName(JNIEnv* env, jobject obj) {
  if (obj == nullptr) return nullptr;
  const jint n = env->CallIntMethod(obj, _dirNameSize);
  const bool lead = env->CallBooleanMethod(obj, _dirNameHasLeadingSlash) == JNI_TRUE;
  const bool domain = env->CallBooleanMethod(obj, _dirNameHasDomainLeadingSlash) == JNI_TRUE;
  if (failed(env)) return nullptr;
  auto name = std::make_unique<DirName>();
  name->setAbsolute(lead);
  name->setDoubleSlash(domain);
  for (jint i = 0; i < n; ++i) {
    jobject e = env->CallObjectMethod(obj, _dirNameGet, i);
    if (failed(env)) return nullptr;
    DirNameEntry* entry = unmakeDirNameEntry(env, e);
    if (e != nullptr) env->DeleteLocalRef(e);
    if (entry == nullptr) return nullptr;
    name->append(entry);
  }
  return name.release();
}

jobject makeAcl(JNIEnv* env, const Acl* acl) {
  if (acl == nullptr) return nullptr;
  jstring text = newJavaString(env, acl->getText());
  jobject o = env->NewObject(_AclClass, _aclCreate, text);
  if (text != nullptr) env->DeleteLocalRef(text);
  if (failed(env)) {
    if (o != nullptr) env->DeleteLocalRef(o);
    return nullptr;
  }
  return o;
}

Acl* unmakeAcl(JNIEnv* env, jobject obj) {
  if (obj == nullptr || _aclEncodedAclFieldId == nullptr) return nullptr;
  auto text = static_cast<jstring>(env->GetObjectField(obj, _aclEncodedAclFieldId));
  if (failed(env) || text == nullptr) return nullptr;
  bool present = false;
  const std::string t = utf8(env, text, &present);
  env->DeleteLocalRef(text);
  return present ? new Acl(t.c_str()) : nullptr;
}

int anyToJavaAttribute(JNIEnv* env, const Any* any, jobject* out) {
  if (any == nullptr) {
    *out = nullptr;
    return 0;
  }
  jobject o = nullptr;
  switch (any->getType()) {
    case ANY_INT64:
      if (any->getSubtype() == ANY_SUBTYPE_DATE) {
        o = env->NewObject(_DateClass, _dateCreate, static_cast<jlong>(any->getInt64()));
      } else {
        o = env->NewObject(_AttributeClass, _attrCreateLong, static_cast<jlong>(any->getInt64()));
        setMts(env, o, any->getSubtype());
      }
      break;
    case ANY_INT32:
      o = env->NewObject(_AttributeClass, _attrCreateInt, static_cast<jint>(any->getInt32()));
      setMts(env, o, any->getSubtype());
      break;
    case ANY_STRING: {
      jstring s = newJavaString(env, any->getString());
      o = env->NewObject(_AttributeClass, _attrCreateString, s);
      if (s != nullptr) env->DeleteLocalRef(s);
      setMts(env, o, any->getSubtype());
      break;
    }
    case ANY_BOOL: o = env->NewObject(_AttributeClass, _attrCreateBoolean, any->getBool() ? JNI_TRUE : JNI_FALSE); break;
    case ANY_FLOAT: o = env->NewObject(_AttributeClass, _attrCreateFloat, static_cast<jdouble>(any->getFloat())); break;
    case ANY_DOUBLE: o = env->NewObject(_AttributeClass, _attrCreateDouble, any->getDouble()); break;
    case ANY_NULL: *out = nullptr; return 0;
    default:
      log(0, "Logic error: anyToJavaAttributes was passed a non-primative type");
      return 18;
  }
  const int ex = ORV_TEST_EXCEPTION(env);
  if (ex != 0) {
    if (o != nullptr) env->DeleteLocalRef(o);
    return ex;
  }
  *out = o;
  return 0;
}

int javaAttributeToAny(JNIEnv* env, jobject obj, Any** out) {
  if (obj == nullptr) {
    *out = nullptr;
    return 0;
  }
  const int type = env->CallIntMethod(obj, _attrGetType);
  if (int ex = ORV_TEST_EXCEPTION(env); ex != 0) return ex;
  if (type < ANY_NULL || type > ANY_STRING) {
    log(0, "Logic error: javaAttributesToAny was passed a non-primative type");
    return 18;
  }
  Any* any = unmakeObjectFromAny(env, obj);
  if (any == nullptr) return 18;
  *out = any;
  return 0;
}
