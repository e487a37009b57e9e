// The bridge from the data model to the wire encoding, which lives in a higher
// layer. An Any that holds an object of a kind the model cannot copy itself
// copies it by encoding and decoding it, and an Any that carries an object's
// still-encoded bytes (an opaque value) decodes them on first use. The wire
// layer installs both functions at start-up (installObjectCodec); until then
// such copies and decodes fail cleanly (nothing is held, a warning is logged).
// The table is written during start-up and read without locking later.
#pragma once

#include <cstddef>

class Translatable;

struct ObjectCodec {
  // A deep copy of `object`, whose wire type id is `type`, into *copy.
  // Returns 0, or non-zero with *copy untouched.
  int (*copyObject)(int type, const Translatable* object, Translatable** copy) = nullptr;
  // Decodes the complete encoding of one object (from its object header
  // through its trailer) of wire type `type` into *object.
  // Returns 0, or non-zero with *object untouched.
  int (*decodeObject)(int type, const char* bytes, size_t length, Translatable** object) = nullptr;
};

void setObjectCodec(const ObjectCodec& codec);
[[nodiscard]] const ObjectCodec& objectCodec();

// Opaque byte buffers held by an Any are allocated with malloc and released
// with free, on both sides of the bridge.
