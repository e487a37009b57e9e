// The one check after every call into Java: a pending exception is printed
// by the VM (on its error stream) and cleared. Use on the thread that owns
// the JNIEnv.
#pragma once

#include <jni.h>

// True when an exception was pending (it has been described and cleared).
inline bool describeJavaException(JNIEnv* env) {
  if (env->ExceptionCheck() != JNI_TRUE) return false;
  env->ExceptionDescribe();
  env->ExceptionClear();
  return true;
}
