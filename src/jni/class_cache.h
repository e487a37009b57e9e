// The Java bridge's cache of classes, method and field IDs, filled once at
// start-up on a thread with a JNIEnv, before any native is used.
#pragma once

#include <jni.h>

// Fills the cache and starts the Java dispatch workers. Returns 0; a missing
// required class ends the process (status 1).
[[nodiscard]] int findCommonClassesAndMethods(JNIEnv* env);
