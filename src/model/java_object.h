// JavaObject: a serialised Java object carried through the directory
// untouched (an owned byte buffer). Challenge and EmbDeviceChallenge: the
// embedded-device login challenge, five texts carried as wire fields 1 to 5.
// Not synchronised.
#pragma once

#include <cstddef>

#include "model/translatable.h"

class JavaObject : public Translatable {
 public:
  // Copies `length` bytes of `bytes`.
  JavaObject(const char* bytes, size_t length);
  JavaObject(const JavaObject& other);
  JavaObject& operator=(const JavaObject&) = delete;
  ~JavaObject() override;

  [[nodiscard]] const char* getBytes() const { return bytes_; }
  [[nodiscard]] size_t getLength() const { return length_; }
  // "JavaObject(<length> bytes)".
  char* toString(Parser* parser) override;
  int clone(const Principal* principal, Translatable** out) const override;
  int getObjectID() const override { return OBJ_JAVAOBJECT_ID; }

 private:
  char* bytes_;
  size_t length_;
};

class Challenge : public Translatable {};

class EmbDeviceChallenge : public Challenge {
 public:
  EmbDeviceChallenge(const char* s1, const char* s2, const char* s3, const char* s4, const char* s5);
  EmbDeviceChallenge(const EmbDeviceChallenge& other);
  EmbDeviceChallenge& operator=(const EmbDeviceChallenge&) = delete;
  ~EmbDeviceChallenge() override;

  // Field `i` from 1 to 5 (null outside).
  [[nodiscard]] const char* get(int i) const { return (i >= 1 && i <= 5) ? fields_[i - 1] : nullptr; }
  char* toString(Parser* parser) override;
  int clone(const Principal* principal, Translatable** out) const override;
  int getObjectID() const override { return OBJ_EMBDEVICECHALLENGE_ID; }

 private:
  char* fields_[5];
};
