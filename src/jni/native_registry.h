// Registration of the natives of the Java API (com.vesk.orvanex and its
// packages) with RegisterNatives, one table per class. Called once, after the
// class cache is filled, on the thread that created the VM.
#pragma once

#include <jni.h>

// Registers every table. Returns 0; a table that fails to register leaves a
// Java exception described and cleared, and the rest still registered.
[[nodiscard]] int registerNativeMethods(JNIEnv* env);
