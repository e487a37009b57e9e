#include "model/java_object.h"

#include <cstdlib>
#include <cstring>

#include "model/string_builder.h"
#include "model/text_util.h"

JavaObject::JavaObject(const char* bytes, size_t length)
    : bytes_(modeltext::dupBytes(bytes ? bytes : "", bytes ? length : 0)), length_(bytes ? length : 0) {}

JavaObject::JavaObject(const JavaObject& other)
    : Translatable(), bytes_(modeltext::dupBytes(other.bytes_, other.length_)), length_(other.length_) {}

JavaObject::~JavaObject() { free(bytes_); }

char* JavaObject::toString(Parser*) {
  StringBuilder out;
  out.appendf("JavaObject(%zu bytes)", length_);
  return out.take();
}

int JavaObject::clone(const Principal*, Translatable** out) const {
  *out = new JavaObject(*this);
  return 0;
}

EmbDeviceChallenge::EmbDeviceChallenge(const char* s1, const char* s2, const char* s3, const char* s4,
                                       const char* s5)
    : fields_{modeltext::dup(s1), modeltext::dup(s2), modeltext::dup(s3), modeltext::dup(s4), modeltext::dup(s5)} {}

EmbDeviceChallenge::EmbDeviceChallenge(const EmbDeviceChallenge& other) : Challenge() {
  for (int i = 0; i < 5; i++) fields_[i] = modeltext::dup(other.fields_[i]);
}

EmbDeviceChallenge::~EmbDeviceChallenge() {
  for (char* f : fields_) free(f);
}

char* EmbDeviceChallenge::toString(Parser*) {
  StringBuilder out;
  out.append("EmbDeviceChallenge[");
  for (int i = 0; i < 5; i++) {
    if (i) out.append(", ");
    out.append(fields_[i] ? fields_[i] : "null");
  }
  out.append(']');
  return out.take();
}

int EmbDeviceChallenge::clone(const Principal*, Translatable** out) const {
  *out = new EmbDeviceChallenge(*this);
  return 0;
}
