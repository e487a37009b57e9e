// The natives of com.vesk.orvanex.OrvanexPropertiesImpl: the Java face of the
// process-wide configuration. Exported under their JNI names (a library that
// Java loads itself is searched by name) and also registered explicitly by
// registerNativeMethods (a VM created in-process does not search the module).
// Any Java thread may call them.
#pragma once

#include <jni.h>

extern "C" {
// s_testOrvanexProperties(true, none).
JNIEXPORT jboolean JNICALL Java_com_vesk_orvanex_OrvanexPropertiesImpl_testOrvanexProperties(JNIEnv* env, jobject self);
// s_setOrvanexPropertiesPath(path); a null path is ignored.
JNIEXPORT void JNICALL Java_com_vesk_orvanex_OrvanexPropertiesImpl_setOrvanexPropertiesPath(JNIEnv* env, jobject self,
                                                                                             jstring path);
// The value, else the default (which may be null); a null key gives the default.
JNIEXPORT jstring JNICALL Java_com_vesk_orvanex_OrvanexPropertiesImpl_getStringProperty(JNIEnv* env, jobject self,
                                                                                        jstring key, jstring def);
JNIEXPORT jint JNICALL Java_com_vesk_orvanex_OrvanexPropertiesImpl_getIntProperty(JNIEnv* env, jobject self, jstring key,
                                                                                  jint def);
JNIEXPORT jint JNICALL Java_com_vesk_orvanex_OrvanexPropertiesImpl_getLevelProperty(JNIEnv* env, jobject self,
                                                                                    jstring key, jint def);
JNIEXPORT jboolean JNICALL Java_com_vesk_orvanex_OrvanexPropertiesImpl_getBooleanProperty(JNIEnv* env, jobject self,
                                                                                          jstring key, jboolean def);
JNIEXPORT jdouble JNICALL Java_com_vesk_orvanex_OrvanexPropertiesImpl_getDoubleProperty(JNIEnv* env, jobject self,
                                                                                        jstring key, jdouble def);
// Every entry of the current set as a com.vesk.orvanex.Attributes.
JNIEXPORT jobject JNICALL Java_com_vesk_orvanex_OrvanexPropertiesImpl_getAllProperties(JNIEnv* env, jobject self);
}

// The registration table of the class, for registerNativeMethods.
struct OrvanexPropertiesNatives {
  static const JNINativeMethod kMethods[];
  static const int kCount;
};
