#include "jni/text_attributes.h"

#include <set>
#include <string>

#include "foundation/log.h"
#include "jni/java_string.h"
#include "model/any.h"
#include "model/attributes.h"

namespace {

// The Java classes and members, looked up per call: this conversion runs a
// few times per process (configuration reads), not per directory request.
struct JavaAttributes {
  jclass attributes = nullptr;
  jclass attribute = nullptr;
  jmethodID newAttributes = nullptr;
  jmethodID setAttribute = nullptr;
  jmethodID newTextAttribute = nullptr;

  explicit JavaAttributes(JNIEnv* env) : env_(env) {
    attributes = env->FindClass("com/vesk/orvanex/Attributes");
    if (attributes == nullptr) return;
    attribute = env->FindClass("com/vesk/orvanex/Attribute");
    if (attribute == nullptr) return;
    newAttributes = env->GetMethodID(attributes, "<init>", "()V");
    if (newAttributes == nullptr) return;
    setAttribute = env->GetMethodID(attributes, "setAttribute", "(Ljava/lang/String;Lcom/vesk/orvanex/Any;I)V");
    if (setAttribute == nullptr) return;
    newTextAttribute = env->GetMethodID(attribute, "<init>", "(Ljava/lang/String;)V");
  }
  ~JavaAttributes() {
    if (attributes != nullptr) env_->DeleteLocalRef(attributes);
    if (attribute != nullptr) env_->DeleteLocalRef(attribute);
  }
  JavaAttributes(const JavaAttributes&) = delete;
  JavaAttributes& operator=(const JavaAttributes&) = delete;

  [[nodiscard]] bool ok() const { return newTextAttribute != nullptr; }

 private:
  JNIEnv* env_;
};

// Adds name = text to the Java set; false with an exception pending.
bool addText(JNIEnv* env, const JavaAttributes& j, jobject set, const char* name, const char* text, int flags) {
  jstring jname = newJavaString(env, name);
  if (jname == nullptr) return false;
  jstring jtext = newJavaString(env, text);
  jobject value = jtext != nullptr ? env->NewObject(j.attribute, j.newTextAttribute, jtext) : nullptr;
  bool ok = value != nullptr;
  if (ok) {
    env->CallVoidMethod(set, j.setAttribute, jname, value, static_cast<jint>(flags));
    ok = env->ExceptionCheck() != JNI_TRUE;
  }
  env->DeleteLocalRef(jname);
  if (jtext != nullptr) env->DeleteLocalRef(jtext);
  if (value != nullptr) env->DeleteLocalRef(value);
  return ok;
}

}  // namespace

jobject textAttributesToJava(JNIEnv* env, const Attributes& attrs) {
  const JavaAttributes j(env);
  if (!j.ok()) return nullptr;
  jobject set = env->NewObject(j.attributes, j.newAttributes);
  if (set == nullptr) return nullptr;
  // The list runs newest first and a name may occur more than once: the
  // first occurrence is the value every native lookup finds, so only it is
  // handed on and Java sees the same value.
  std::set<std::string> seen;
  for (const Attributes::AttrList* e = attrs.first(); e != nullptr; e = e->getNext()) {
    const char* name = e->getName();
    const Any* value = e->getValue();
    if (name == nullptr || !seen.insert(name).second) continue;
    if (value == nullptr || !value->isString() || value->getString() == nullptr) {
      log(_debug_java, LOG_DEBUG, 0, 0, "Java: attribute %s is not a text; left out", name);
      continue;
    }
    if (!addText(env, j, set, name, value->getString(), e->getDisplayHint())) {
      env->DeleteLocalRef(set);
      return nullptr;
    }
  }
  return set;
}
