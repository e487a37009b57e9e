// The companion library liborv-java: it registers its own Java natives once
// the module has registered the module's.
#pragma once

#include <jni.h>

extern "C" void orvj_register_native_methods(JNIEnv* env);
