#include "jni/class_cache.h"

#include "foundation/log.h"

// The cache is not filled yet: nothing in the bridge reads it so far.
int findCommonClassesAndMethods(JNIEnv* env) {
  log(_debug_java, LOG_DEBUG, 0, 0, "Java: class cache: nothing to fill yet");
  return 0;
}
