// RAII holder of the modified-UTF-8 characters of a Java string: released on
// every path out of the native that took them. Use on the thread that owns
// the JNIEnv; not copyable.
#pragma once

#include <jni.h>

class UtfChars {
 public:
  // A null string gives a null get().
  UtfChars(JNIEnv* env, jstring s) : env_(env), s_(s), chars_(s ? env->GetStringUTFChars(s, nullptr) : nullptr) {}
  ~UtfChars() {
    if (chars_ != nullptr) env_->ReleaseStringUTFChars(s_, chars_);
  }
  UtfChars(const UtfChars&) = delete;
  UtfChars& operator=(const UtfChars&) = delete;

  // The characters, or null for a null string (or when the VM could not
  // supply them; see failed()).
  [[nodiscard]] const char* get() const { return chars_; }
  // True when the string was not null but its characters could not be had:
  // an OutOfMemoryError is then pending and the native must return.
  [[nodiscard]] bool failed() const { return s_ != nullptr && chars_ == nullptr; }

 private:
  JNIEnv* env_;
  jstring s_;
  const char* chars_;
};
