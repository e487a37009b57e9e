#include "jni/native_registry.h"

#include "foundation/log.h"
#include "jni/java_exception.h"
#include "jni/java_time_hooks.h"
#include "jni/kel_map_natives.h"
#include "jni/kel_parser_natives.h"
#include "jni/orvanex_properties_natives.h"

namespace {

// Registers one table. The result is not a reason to stop: a class missing
// from the jars only loses its own natives.
void registerTable(JNIEnv* env, const char* className, const JNINativeMethod* methods, int count) {
  jclass cls = env->FindClass(className);
  if (cls == nullptr) {
    describeJavaException(env);
    log(0, "Java: unable to find %s to register its natives", className);
    return;
  }
  if (env->RegisterNatives(cls, methods, count) != JNI_OK) {
    describeJavaException(env);
    log(0, "Java: unable to register the natives of %s", className);
  }
  env->DeleteLocalRef(cls);
}

}  // namespace

// The tables of the Java API written so far, in registration order; the
// directory, stream and CSV tables join this list with their natives.
int registerNativeMethods(JNIEnv* env) {
  // The kel tables keep their places among the Java API's tables.
  const KelNativeTable kel[] = {kelMapCImplNatives(), kelStringsNatives(), kelParserNatives(),
                                kelObjRefNatives(),   kelVarSetNatives(),  veskPatternNatives(),
                                kelAnyNatives(),      kelAnyMapNatives(),  kelAnyArrayNatives()};
  for (const KelNativeTable& t : kel) registerTable(env, t.className, t.methods, t.count);
  registerTable(env, "com/vesk/orvanex/OrvanexPropertiesImpl", OrvanexPropertiesNatives::kMethods,
                OrvanexPropertiesNatives::kCount);
  // kel dates convert time zones with Java's rules from now on (OrvanexImpl
  // installs its own object again when it opens).
  if (installJavaTimeHooks(env, nullptr) != 0) log(0, "Java: time-zone conversions of kel dates stay native");
  log(_debug_java, LOG_DEBUG, 0, 0, "Java: native methods of the Java API registered");
  return 0;
}
