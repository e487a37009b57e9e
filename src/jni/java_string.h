// Native texts handed to Java. JNI's NewStringUTF takes modified UTF-8; the
// native side holds standard UTF-8 (or, from files and peers, any bytes).
// These helpers make every text valid modified UTF-8 first, so that no input
// can make the VM misread a string. Thread-safe.
#pragma once

#include <jni.h>

#include <string>
#include <string_view>

// `text` as modified UTF-8: four-byte sequences become surrogate pairs, and
// bytes that are not well-formed UTF-8 become U+FFFD. Valid modified UTF-8
// (including an encoded NUL, C0 80, and surrogates) is kept as it is.
[[nodiscard]] std::string toModifiedUtf8(std::string_view text);

// True when `text` needs no change to be valid modified UTF-8.
[[nodiscard]] bool isModifiedUtf8(std::string_view text);

// A new Java string, or null for a null text. Null with an OutOfMemoryError
// pending when the VM has no room.
[[nodiscard]] jstring newJavaString(JNIEnv* env, const char* text);

// A new String[] of the texts of a null-terminated list (empty for a null
// list). Null with an exception pending on failure.
[[nodiscard]] jobjectArray newJavaStringArray(JNIEnv* env, const char* const* list);

// Modified UTF-8 from the VM as standard UTF-8: a surrogate pair becomes one
// four-byte sequence, a lone surrogate U+FFFD; the encoded NUL (C0 80) is
// kept, so that a native text never ends early and converts back unchanged.
[[nodiscard]] std::string fromModifiedUtf8(std::string_view text);
// True when `text` holds no surrogate (so it is standard UTF-8 as it is).
[[nodiscard]] bool hasNoSurrogates(std::string_view text);

// The UTF-8 text of a Java string into *out. False for a null string, or
// when the VM could not supply the characters (an OutOfMemoryError is then
// pending).
[[nodiscard]] bool javaStringToUtf8(JNIEnv* env, jstring s, std::string* out);
