#include "jni/orvanex_properties_natives.h"

#include "foundation/properties.h"
#include "jni/java_string.h"
#include "jni/convert.h"
#include "jni/utf_chars.h"
#include "model/attributes.h"

jboolean Java_com_vesk_orvanex_OrvanexPropertiesImpl_testOrvanexProperties(JNIEnv*, jobject) {
  return s_testOrvanexProperties(true, nullptr) ? JNI_TRUE : JNI_FALSE;
}

void Java_com_vesk_orvanex_OrvanexPropertiesImpl_setOrvanexPropertiesPath(JNIEnv* env, jobject, jstring path) {
  UtfChars p(env, path);
  if (p.get() == nullptr) return;
  s_setOrvanexPropertiesPath(p.get());
}

jstring Java_com_vesk_orvanex_OrvanexPropertiesImpl_getStringProperty(JNIEnv* env, jobject, jstring key, jstring def) {
  UtfChars k(env, key);
  UtfChars d(env, def);
  if (k.failed() || d.failed()) return nullptr;
  if (k.get() == nullptr) return def;
  char* value = s_getStringProperty(k.get(), d.get());
  jstring result = newJavaString(env, value);
  s_freeStringProperty(value);
  return result;
}

jint Java_com_vesk_orvanex_OrvanexPropertiesImpl_getIntProperty(JNIEnv* env, jobject, jstring key, jint def) {
  UtfChars k(env, key);
  if (k.get() == nullptr) return def;
  return s_getIntProperty(k.get(), def);
}

jint Java_com_vesk_orvanex_OrvanexPropertiesImpl_getLevelProperty(JNIEnv* env, jobject, jstring key, jint def) {
  UtfChars k(env, key);
  if (k.get() == nullptr) return def;
  return s_getLevelProperty(k.get(), def);
}

jboolean Java_com_vesk_orvanex_OrvanexPropertiesImpl_getBooleanProperty(JNIEnv* env, jobject, jstring key,
                                                                        jboolean def) {
  UtfChars k(env, key);
  if (k.get() == nullptr) return def;
  return s_getBoolProperty(k.get(), def != JNI_FALSE) ? JNI_TRUE : JNI_FALSE;
}

jdouble Java_com_vesk_orvanex_OrvanexPropertiesImpl_getDoubleProperty(JNIEnv* env, jobject, jstring key, jdouble def) {
  UtfChars k(env, key);
  if (k.get() == nullptr) return def;
  return s_getDoubleProperty(k.get(), def);
}

jobject Java_com_vesk_orvanex_OrvanexPropertiesImpl_getAllProperties(JNIEnv* env, jobject) {
  Attributes* attrs = s_getAllProperties();
  if (attrs == nullptr) return nullptr;
  jobject result = makeAttributes(env, attrs);
  delete attrs;
  return result;
}

const JNINativeMethod OrvanexPropertiesNatives::kMethods[] = {
    {const_cast<char*>("testOrvanexProperties"), const_cast<char*>("()Z"),
     reinterpret_cast<void*>(Java_com_vesk_orvanex_OrvanexPropertiesImpl_testOrvanexProperties)},
    {const_cast<char*>("setOrvanexPropertiesPath"), const_cast<char*>("(Ljava/lang/String;)V"),
     reinterpret_cast<void*>(Java_com_vesk_orvanex_OrvanexPropertiesImpl_setOrvanexPropertiesPath)},
    {const_cast<char*>("getStringProperty"), const_cast<char*>("(Ljava/lang/String;Ljava/lang/String;)Ljava/lang/String;"),
     reinterpret_cast<void*>(Java_com_vesk_orvanex_OrvanexPropertiesImpl_getStringProperty)},
    {const_cast<char*>("getIntProperty"), const_cast<char*>("(Ljava/lang/String;I)I"),
     reinterpret_cast<void*>(Java_com_vesk_orvanex_OrvanexPropertiesImpl_getIntProperty)},
    {const_cast<char*>("getLevelProperty"), const_cast<char*>("(Ljava/lang/String;I)I"),
     reinterpret_cast<void*>(Java_com_vesk_orvanex_OrvanexPropertiesImpl_getLevelProperty)},
    {const_cast<char*>("getBooleanProperty"), const_cast<char*>("(Ljava/lang/String;Z)Z"),
     reinterpret_cast<void*>(Java_com_vesk_orvanex_OrvanexPropertiesImpl_getBooleanProperty)},
    {const_cast<char*>("getDoubleProperty"), const_cast<char*>("(Ljava/lang/String;D)D"),
     reinterpret_cast<void*>(Java_com_vesk_orvanex_OrvanexPropertiesImpl_getDoubleProperty)},
    {const_cast<char*>("getAllProperties"), const_cast<char*>("()Lcom/vesk/orvanex/Attributes;"),
     reinterpret_cast<void*>(Java_com_vesk_orvanex_OrvanexPropertiesImpl_getAllProperties)},
};

const int OrvanexPropertiesNatives::kCount = sizeof(kMethods) / sizeof(kMethods[0]);
