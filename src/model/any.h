// Any: the tagged value every subsystem exchanges (directory attributes, rule
// parameters, message fields, kel results, values to and from Java): null,
// bool, int32, int64, float, double, string, character, undefined, a counted
// reference to an object, or an object held directly. An Any owns what it
// holds. Not synchronised: one thread at a time uses an Any.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>

#include "foundation/diagnostics.h"
#include "model/translatable.h"

class AnyArray;
class Attributes;
class Function;
class ObjRef;

// Type codes (the low half of the type word). Codes of 12 and above are the
// object id of an object held directly.
enum : int {
  ANY_INVALID = 0,
  ANY_NULL = 1,
  ANY_BOOL = 2,
  ANY_INT32 = 3,
  ANY_INT64 = 4,
  ANY_FLOAT = 5,
  ANY_DOUBLE = 6,
  ANY_STRING = 7,
  ANY_REF = 8,
  ANY_CHAR = 9,
  ANY_UNDEFINED = 10,
};

// Subtypes (the high half of the type word) that the system gives meaning to.
enum : int {
  ANY_SUBTYPE_PLAIN_STRING = 1,
  ANY_SUBTYPE_BOOL_TEXT = 4,
  ANY_SUBTYPE_INT32_TEXT = 6,
  ANY_SUBTYPE_INT64_TEXT = 7,
  ANY_SUBTYPE_ENUM_TEXT = 9,
  ANY_SUBTYPE_DATE = 13,
  ANY_SUBTYPE_ABSENT = 1002,
};

class Any : public Translatable {
 public:
  Any() = default;
  explicit Any(int value) : type_(ANY_INT32) { v_.i32 = value; }
  explicit Any(bool value) : type_(ANY_BOOL) { v_.b = value; }
  explicit Any(long long value) : type_(ANY_INT64) { v_.i64 = value; }
  explicit Any(float value) : type_(ANY_FLOAT) { v_.f = value; }
  explicit Any(double value) : type_(ANY_DOUBLE) { v_.d = value; }
  // ANY_STRING, subtype 1, holding a copy of `text` (null stays null).
  explicit Any(const char* text);
  // ANY_REF, adopting `ref` (a heap ObjRef).
  explicit Any(ObjRef* ref);
  // Stores `type` and adopts `object`. Type 7 and 9 take `object` as an owned
  // malloc'd char* (7 also sets subtype 1); type 8 is refused (use
  // Any(ObjRef*)). Asserts type < 0xFFFF.
  Any(int type, Translatable* object);
  // An empty (null) Any; the arguments are not used.
  Any(const Translatable* unused, Any** unusedResult);
  // Deep copy: texts are duplicated, a reference shares its target, an array
  // is copied element by element, opaque bytes are duplicated and any other
  // held object is copied through the wire encoding (object_codec.h).
  Any(const Any& other);
  Any& operator=(const Any&) = delete;
  // Inline: a scalar (the interpreter's temporaries) releases nothing.
  ~Any() override {
    if (holdsResource()) freeHeld();
  }
  // Deletion: an Any made by an AnyBatch (any_batch.h) gives its place back
  // to the batch's block; any other goes back to the heap.
  static void operator delete(Any* any, std::destroying_delete_t) {
    if (any->placed_) {
      destroyPlaced(any);
      return;
    }
    any->~Any();
    ::operator delete(any);
  }

  // New ANY_STRING of subtype 1 adopting `text` (malloc'd, may be null).
  [[nodiscard]] static Any* buildFromString(char* text);
  [[nodiscard]] static Any* createUndefined();
  // The value kel stores when assigning to a variable (see any.cpp); null
  // for a bad or unsupported source.
  [[nodiscard]] static Any* createForVariableAssign(const Any* source);

  // ---- type word
  [[nodiscard]] int getType() const { return (int)(type_ & 0xFFFF); }
  [[nodiscard]] int getSubtype() const { return (int)(type_ >> 16); }
  [[nodiscard]] uint32_t getTypeWord() const { return type_; }
  // Asserts subtype < 0xFFFF.
  void setSubtype(int subtype) {
    orv_assert(subtype < 0xFFFF);
    type_ = ((uint32_t)(subtype & 0xFFFF) << 16) | (type_ & 0xFFFF);
  }
  [[nodiscard]] bool isOpaque() const { return opaque_; }
  [[nodiscard]] bool isNull() const { return getType() == ANY_NULL; }
  [[nodiscard]] bool isUndefined() const { return getType() == ANY_UNDEFINED; }
  [[nodiscard]] bool isString() const { return getType() == ANY_STRING; }
  [[nodiscard]] bool isDate() const { return getType() == ANY_INT64 && getSubtype() == ANY_SUBTYPE_DATE; }

  // ---- raw value access (REQUIRES the matching type code; no conversion)
  [[nodiscard]] bool getBool() const { return v_.b; }
  [[nodiscard]] int getInt32() const { return v_.i32; }
  [[nodiscard]] long long getInt64() const { return v_.i64; }
  [[nodiscard]] float getFloat() const { return v_.f; }
  [[nodiscard]] double getDouble() const { return v_.d; }
  // The text of ANY_STRING or ANY_CHAR (may be null); null for other codes.
  [[nodiscard]] const char* getString() const;
  // The ObjRef of ANY_REF, else null. The Any keeps it.
  [[nodiscard]] ObjRef* getRef() const { return (!opaque_ && getType() == ANY_REF) ? v_.ref : nullptr; }
  // The target of ANY_REF, else null. Not counted.
  [[nodiscard]] Translatable* getRefTarget() const;
  // The object held directly (code 1030 or 12 and above, not opaque), else null.
  [[nodiscard]] Translatable* getHeldObject() const;
  // Opaque values: the encoded bytes and their count.
  [[nodiscard]] const char* getOpaqueBytes() const { return opaque_ ? v_.opaque : nullptr; }
  [[nodiscard]] size_t getOpaqueLength() const { return opaque_ ? opaqueLength_ : 0; }

  // ---- mutation (each first clear()s what is held)
  // Releases what is held; ANY_NULL with subtype 0 afterwards. Inline,
  // like the scalar setters: values are made and dropped on every step of
  // a script, and a scalar has nothing to release.
  void clear() {
    if (holdsResource()) releaseHeld();
    opaqueLength_ = 0;
    v_.i64 = 0;
    type_ = ANY_NULL;
  }
  void set(int value) {
    clear();
    type_ = ANY_INT32;
    v_.i32 = value;
  }
  void set(bool value) {
    clear();
    type_ = ANY_BOOL;
    v_.b = value;
  }
  void set(long long value) {
    clear();
    type_ = ANY_INT64;
    v_.i64 = value;
  }
  void set(float value) {
    clear();
    type_ = ANY_FLOAT;
    v_.f = value;
  }
  void set(double value) {
    clear();
    type_ = ANY_DOUBLE;
    v_.d = value;
  }
  // ANY_STRING, subtype 1, copy of `text`.
  void setString(const char* text);
  // ANY_STRING, subtype 1, adopting `text` (malloc'd, may be null).
  void adoptString(char* text);
  // ANY_REF adopting `ref`.
  void setRef(ObjRef* ref);
  // Code `type` (1030 or 12 and above) adopting `object` (may be null).
  void setObject(int type, Translatable* object);
  // ANY_UNDEFINED.
  void setUndefined() {
    clear();
    type_ = ANY_UNDEFINED;
  }
  // An opaque value of object type `type`, adopting `bytes` (malloc'd): the
  // complete encoding of one object, decoded on first use.
  void adoptOpaque(int type, char* bytes, size_t length);
  // Copies `other` with its type word when it is null, a boolean, a number
  // or undefined (not opaque); false, nothing changed, for anything else.
  bool copyPlainFrom(const Any& other) {
    unsigned code = other.type_ & 0xFFFFu;
    if (other.opaque_ || code < ANY_NULL || (code > ANY_DOUBLE && code != ANY_UNDEFINED)) return false;
    if (holdsResource()) releaseHeld();
    opaqueLength_ = 0;
    type_ = other.type_;
    v_ = other.v_;
    return true;
  }
  // Moves the value of `other` here. `other` keeps its type code and loses
  // what it held (a null text, reference or object).
  void takeFrom(Any& other);
  // Multiplies a numeric value by `sign` (unary minus); others untouched.
  void setSign(int sign);

  // ---- copies and references
  // A new Any sharing what can be shared: scalars copied, texts duplicated,
  // a reference shares its target, opaque bytes duplicated. An array or other
  // held object cannot be referenced this way: logged, the result holds none.
  [[nodiscard]] Any* createReference() const;
  int clone(const Principal* principal, Translatable** out) const override;

  // Asks the cache for the first lines of the object a reference or a held
  // object points to, ahead of a walk that is about to free or read it (a
  // large container freeing its elements). Changes nothing.
  void prefetchHeld() const;

  // ---- object access
  // The held object (the target for ANY_REF). An opaque value is decoded
  // first and kept decoded. False when nothing is held or decoding fails.
  [[nodiscard]] bool getObject(Translatable** out) const;
  // Hands the held object over: the Any keeps a null pointer. An opaque value
  // is decoded into a new object for the caller and left as it is. False for
  // references (a shared target cannot be handed over) and empty values.
  [[nodiscard]] bool takeObject(Translatable** out);

  // ---- conversions: true on success; the out-variable is written only then.
  // The Parser forms first read an ANY_REF to an assignable slot.
  [[nodiscard]] bool convertToString(char*& out) const;  // a new copy (may be null)
  [[nodiscard]] bool convertToInt64(long long& out) const;
  [[nodiscard]] bool convertToInt32(int& out) const;
  [[nodiscard]] bool convertToEnum(int& out) const;
  [[nodiscard]] bool convertToDouble(double& out) const;
  [[nodiscard]] bool convertToBool(bool& out) const;
  [[nodiscard]] bool convertToFunction(Function** out) const;
  [[nodiscard]] bool convertToArray(AnyArray** out) const;
  [[nodiscard]] bool convertToAttributes(Attributes** out) const;
  [[nodiscard]] bool convertToString(Parser* parser, char*& out) const;
  [[nodiscard]] bool convertToInt64(Parser* parser, long long& out) const;
  [[nodiscard]] bool convertToInt32(Parser* parser, int& out) const;
  [[nodiscard]] bool convertToEnum(Parser* parser, int& out) const;
  [[nodiscard]] bool convertToDouble(Parser* parser, double& out) const;
  [[nodiscard]] bool convertToBool(Parser* parser, bool& out) const;
  [[nodiscard]] bool convertToFunction(Parser* parser, Function** out) const;
  [[nodiscard]] bool convertToArray(Parser* parser, AnyArray** out) const;
  [[nodiscard]] bool convertToAttributes(Parser* parser, Attributes** out) const;

  // ---- text forms (new texts, release with free; may be null)
  char* toString(Parser* parser) override;
  char* toJSON(Parser* parser) override;
  // toString, but a held or referenced object gives its toItemText.
  char* toItemText(Parser* parser) override;
  // The string value as a JSON string literal (escaped by code point); null
  // unless this is an ANY_STRING with a text.
  [[nodiscard]] char* escapeJSONString() const;

  // ---- comparison and script support
  [[nodiscard]] long long hashValue() const;
  bool operator==(const Any& other) const;
  bool operator!=(const Any& other) const { return !(*this == other); }
  int isEqual(const Principal* principal, bool* out, const Translatable* other) const override;
  const char* getTypeOf(Parser* parser) const override;
  const char* getClassOf(Parser* parser) const override;
  int getField(Parser* parser, Any** result, const char* name) const override;
  int getObjectID() const override { return OBJ_ANY_ID; }

 private:
  friend class AnyBatch;
  static void destroyPlaced(Any* any);
  static void releasePlaced(void* piece);
  void setTypeWord(int type, int subtype);
  // Whether clear() has something to release: opaque bytes, a text, a
  // reference or an object held directly (codes 7 to 9, 12 and above).
  [[nodiscard]] bool holdsResource() const {
    unsigned code = type_ & 0xFFFFu;
    // Bits 7 to 9: ANY_STRING, ANY_REF, ANY_CHAR.
    return opaque_ | (code >= 12u) | (((0x380u >> (code & 31u)) & 1u) != 0);
  }
  // Releases what is held (opaque bytes, text, reference or object).
  void releaseHeld();
  // The same for a dying value: the fields are left as they are (a value
  // being freed is not written to, so that freeing a large document does
  // not write every one of its values back to memory).
  void freeHeld() const;
  // For an ANY_REF whose target is an assignable slot: reads the slot's value
  // through the parser into *value (1 = not such a reference, 0 = read,
  // -1 = the read failed).
  [[nodiscard]] int readAssignable(Parser* parser, Any** value) const;
  [[nodiscard]] bool decodeOpaque(Translatable** out) const;

  uint32_t type_ = ANY_NULL;
  // When set, the value is the still-encoded bytes of an object whose object
  // id is the type code. Mutable: decoding on first use is not a change of
  // value.
  mutable bool opaque_ = false;
  // Made by an AnyBatch: the storage belongs to one of its blocks. Never
  // copied: a copy is an ordinary heap value.
  bool placed_ = false;
  // The ObjRef (code 8) lies in an AnyBatch block: given back to the block
  // instead of deleted. Moves with the reference (takeFrom).
  bool heldPlaced_ = false;
  // The text (codes 7 and 9) lies right after this value, in its own piece
  // of an AnyBatch block: nothing to free, and a move hands over a copy.
  bool textInside_ = false;
  mutable size_t opaqueLength_ = 0;
  union Value {
    bool b;
    int i32;
    long long i64;
    float f;
    double d;
    char* s;
    ObjRef* ref;
    Translatable* obj;
    char* opaque;
  };
  // Braces alone would set only the first member (a one-byte bool) and leave
  // the rest of a pointer's bytes undefined; the widest member clears them all.
  mutable Value v_{.i64 = 0};
};

// `text` (not null) as a JSON string literal, escaped by code point as
// Any::escapeJSONString does. Release with free.
[[nodiscard]] char* escapeJSONText(const char* text);
