// The natives of the expression language's value handles that need no
// interpreter of their own: com.vesk.orvanex.kel.impl.KelMapCImpl (a java.util.Map over a
// native Attributes), kel.CAnyMap, kel.CAnyArray, kel.CAny, kel.CObjRef and
// regex.VeskPattern. Each Java object owns its native object through
// _nativePtr until close. A handle is used by one thread at a time.
#pragma once

#include <jni.h>

struct KelNativeTable {
  const char* className;
  const JNINativeMethod* methods;
  int count;
};

// The tables of the value handles.
[[nodiscard]] KelNativeTable kelMapCImplNatives();
[[nodiscard]] KelNativeTable kelObjRefNatives();
[[nodiscard]] KelNativeTable veskPatternNatives();
[[nodiscard]] KelNativeTable kelAnyNatives();
[[nodiscard]] KelNativeTable kelAnyMapNatives();
[[nodiscard]] KelNativeTable kelAnyArrayNatives();

// A new Java handle on a native map or array (shared through a new ObjRef).
class Attributes;
class AnyArray;
[[nodiscard]] jobject makeCAnyMap(JNIEnv* env, Attributes* attrs);
[[nodiscard]] jobject makeCAnyArray(JNIEnv* env, AnyArray* array);
