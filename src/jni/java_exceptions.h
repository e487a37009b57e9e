// The bridge's handling of Java exceptions: testing for a pending one after a
// call into Java, logging it (through the commons-logging logger of the class
// cache, or with its stack trace in the native log), and building the Java
// exception that stands for a directory error code. Every function runs on
// the thread that owns `env` and deletes the local references it makes,
// except the exception it returns.
#pragma once

#include <jni.h>

#include <cstddef>

// If an exception is pending: clears it and passes (text, throwable) to the
// Java logger. True when there was one.
bool testAndLogException(JNIEnv* env, const char* text);

// The same; then the exception's getErrorCode() when it is a
// DirectoryException, else 25. 0 when none was pending.
int testException(JNIEnv* env, const char* text);

// If an exception is pending: clears it, logs "Unexpected Java exception at
// %s, line %d", the DirectoryException code ("    Error is: %d") and the
// stack trace, and returns that code (0 for other exceptions, and when none
// was pending; 25 when getErrorCode itself throws).
int orvTestException(JNIEnv* env, const char* file, int line);
#define ORV_TEST_EXCEPTION(env) orvTestException((env), "orv-java", __LINE__)

// Clears any pending exception and logs "%s\n%s" with `text` and the stack
// trace of `throwable` as printStackTrace writes it.
void logStackTrace(JNIEnv* env, const char* text, jthrowable throwable);

// The Java exception that stands for directory error `code` (see the table
// in java_exceptions.cpp), with `key` (or, when null, `text`) as its message;
// for code 25 with `bytes`, the Java exception serialised in them. Null when
// even the fallback cannot be built (an exception is then pending).
[[nodiscard]] jthrowable makeExtDirectoryException(JNIEnv* env, int code, const char* key, const char* text,
                                                   size_t length, const char* bytes);
// makeExtDirectoryException(env, code, "error", text, 0, null).
[[nodiscard]] jthrowable makeDirectoryException(JNIEnv* env, int code, const char* text);
// A java.io.IOException with `text`.
[[nodiscard]] jthrowable makeIOException(JNIEnv* env, const char* text);

// Throws the exception of `code` with the directory's description of it as
// its text (the shape of every directory native's failure).
void throwDirectoryException(JNIEnv* env, int code);
// Throws the exception of `code` with `text`.
void throwDirectoryException(JNIEnv* env, int code, const char* text);
