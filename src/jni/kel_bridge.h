// What the kel natives share: the process-wide lock that serialises every
// kel execution started from Java, the native objects behind the Java
// Principal and AbstractVariableSet handles, and the Java forms of a kel
// run's outcome (Result, Error, Location) and of values (CAny).
// The helpers run on the thread that owns `env`; the lock is the only state.
#pragma once

#include <jni.h>

#include <string>

#include "model/obj_ref.h"

class AbstractVarSet;
class Any;
class Error;
class Location;
class MemoryFile;
class Parser;
class Principal;

// Holds the process-wide kel lock for its scope. Taken again on a thread
// that already holds it (a script that calls Java that runs kel), it does
// nothing: kel started from a Java callback of a running script nests in
// that script's turn instead of waiting for itself.
class KelTurn {
 public:
  KelTurn();
  ~KelTurn();
  KelTurn(const KelTurn&) = delete;
  KelTurn& operator=(const KelTurn&) = delete;

 private:
  bool entered_;
};

// The native principal of a Java Principal (null for null or an empty one).
[[nodiscard]] const Principal* nativePrincipalOf(JNIEnv* env, jobject principal);
// A Java Principal shadowing `principal` (not owned by the Java object), or
// null when there is none.
[[nodiscard]] jobject javaPrincipalOf(JNIEnv* env, const Principal* principal);

// The native variable set of a Java AbstractVariableSet, held by `out`: the
// set a CVariableSet stands for, or a new wrapper that forwards to any other
// Java implementation. False (nothing held) for null or a closed set.
[[nodiscard]] bool nativeVarSetOf(JNIEnv* env, jobject vars, ObjRef* out);

// A new CAny owning `value` (deleted when the Java object cannot be made);
// null for a null value.
[[nodiscard]] jobject newCAny(JNIEnv* env, Any* value);

// The Java forms of kel's error records.
[[nodiscard]] jobject makeLocation(JNIEnv* env, const Location& location);
[[nodiscard]] jobject makeError(JNIEnv* env, const Error& error);
// A kel.Error[] of `error` (an empty array for none): the chain holds one.
[[nodiscard]] jobjectArray makeErrorList(JNIEnv* env, const Error* error);

// The Result of a kel run: success when the parser stored no error; the
// value (taken over) as a CAny; the error; and, when `withOutput` or on
// error, the collected standard output and trace texts.
[[nodiscard]] jobject makeKelResult(JNIEnv* env, const Parser& parser, Any* value, bool withOutput,
                                    MemoryFile* output, MemoryFile* trace);
