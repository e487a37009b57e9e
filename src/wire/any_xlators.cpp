// Translators of Any (1000) and AnyArray (1030).
//
// Any: field 1 the type code, field 2 the value (none for null and
// undefined), field 3 the subtype. A reference is sent as the object it points
// to. Any object other than an array is kept, on decoding, as its raw encoding
// (an opaque value) and decoded when first used.
#include <cstdlib>
#include <cstring>
#include <memory>

#include "foundation/log.h"
#include "model/any.h"
#include "model/any_array.h"
#include "model/translatable.h"
#include "wire/byte_order.h"
#include "wire/message_base.h"
#include "wire/model_xlators.h"

namespace {

// The largest type code and subtype an Any can hold.
constexpr int kTypeLimit = 0xFFFF;
// Codes below this are scalar kinds; object ids start here.
constexpr int kFirstObjectId = 12;

// Scalar values, the bulk of any record, are assembled whole (type, value
// and subtype fields) and written in one go.
struct Fields {
  explicit Fields(unsigned char* room) : b(room != nullptr ? room : own) {}
  unsigned char own[32];
  unsigned char* b;
  size_t n = 0;
  void int32(int field, uint32_t v) {
    b[n] = TAG_FIELD;
    b[n + 1] = static_cast<unsigned char>(field);
    b[n + 2] = TAG_INT32;
    wire::put32(b + n + 3, v);
    n += 7;
  }
  void int64(int field, unsigned char tag, uint64_t v) {
    b[n] = TAG_FIELD;
    b[n + 1] = static_cast<unsigned char>(field);
    b[n + 2] = tag;
    wire::put64(b + n + 3, v);
    n += 11;
  }
};

// Fields 1 and 2 of a scalar value (null and undefined have no field 2).
void scalarFields(Fields& f, const Any* a, int code) {
  f.int32(1, static_cast<uint32_t>(code));
  switch (code) {
    case ANY_BOOL:
      f.b[f.n] = TAG_FIELD;
      f.b[f.n + 1] = 2;
      f.b[f.n + 2] = TAG_BOOL;
      f.b[f.n + 3] = a->getBool() ? 1 : 0;
      f.n += 4;
      break;
    case ANY_INT32:
      f.int32(2, static_cast<uint32_t>(a->getInt32()));
      break;
    case ANY_INT64:
      f.int64(2, TAG_INT64, static_cast<uint64_t>(a->getInt64()));
      break;
    case ANY_FLOAT:
      f.int32(2, wire::floatBits(a->getFloat()));
      f.b[f.n - 5] = TAG_FLOAT;
      break;
    case ANY_DOUBLE:
      f.int64(2, TAG_DOUBLE, wire::doubleBits(a->getDouble()));
      break;
    default:
      break;
  }
}

int encodeAny(MessageBase* m, const Any* a) {
  int code = a->getType();
  const int subtype = a->getSubtype();
  if (a->isOpaque()) {
    m->writeInt32Field(1, code);
    m->writeOpaqueObjectField(2, code, a->getOpaqueBytes(), a->getOpaqueLength());
    m->writeInt32Field(3, subtype);
    return m->getError() != 0 ? -1 : 0;
  }
  // In place when the message has room; the fields of a non-scalar value
  // are written before them, so the room is taken afterwards.
  const bool scalar = code != ANY_STRING && code != ANY_CHAR && code != ANY_REF && code != ANY_INVALID &&
                      (code <= ANY_UNDEFINED);
  unsigned char* room = scalar ? m->encodeRoom(32) : nullptr;
  Fields f(room);
  switch (code) {
    case ANY_NULL:
    case ANY_UNDEFINED:
    case ANY_BOOL:
    case ANY_INT32:
    case ANY_INT64:
    case ANY_FLOAT:
    case ANY_DOUBLE:
      scalarFields(f, a, code);
      break;
    case ANY_STRING:
    case ANY_CHAR:
      m->writeInt32Field(1, code);
      m->writeStringField(2, a->getString());
      break;
    case ANY_REF: {
      // The peer gets the object itself, under its own id.
      const Translatable* target = a->getRefTarget();
      if (target == nullptr) {
        f.int32(1, ANY_NULL);
        break;
      }
      const int id = target->getObjectID();
      m->writeInt32Field(1, id);
      m->writeObjectField(2, id, target);
      break;
    }
    case ANY_INVALID:
      // Nothing a peer could make sense of; a copy of it is empty too.
      log(0, "Any::Any called on bad object");
      f.int32(1, ANY_NULL);
      break;
    default:
      m->writeInt32Field(1, code);
      m->writeObjectField(2, code, a->getHeldObject());
      break;
  }
  f.int32(3, static_cast<uint32_t>(subtype));
  if (room != nullptr) {
    m->commitEncoded(f.n);
  } else {
    m->writeEncoded(f.b, f.n);
  }
  return m->getError() != 0 ? -1 : 0;
}

}  // namespace

// Most values are scalars: their whole object (field prefix, header, the
// three fields, trailer) is written in one piece when the message has room.
int writeAnyField(MessageBase* m, int field, const Any* value) {
  if (value != nullptr && !value->isOpaque() && m->writingDepth() < MessageBase::kMaxNesting &&
      MessageBase::findXlatorFn(OBJ_ANY_ID) == &AnyXlator) {
    const int code = value->getType();
    size_t textLen = 0;
    const char* text = nullptr;
    bool inlineable = code >= ANY_NULL && code <= ANY_DOUBLE;
    inlineable = inlineable || code == ANY_UNDEFINED;
    if ((code == ANY_STRING || code == ANY_CHAR) && (text = value->getString()) != nullptr) {
      textLen = std::strlen(text);
      inlineable = textLen <= 4096;
    }
    unsigned char* room = inlineable ? m->encodeRoom(48 + textLen) : nullptr;
    if (room != nullptr) {
      unsigned char* p = room;
      p[0] = TAG_FIELD;
      p[1] = static_cast<unsigned char>(field & 0xFF);
      p[2] = TAG_OBJECT;
      wire::put32(p + 3, OBJ_ANY_ID);
      Fields f(p + 7);
      if (text != nullptr) {
        f.int32(1, static_cast<uint32_t>(code));
        f.b[f.n] = TAG_FIELD;
        f.b[f.n + 1] = 2;
        f.b[f.n + 2] = TAG_STRING;
        wire::put32(f.b + f.n + 3, static_cast<uint32_t>(textLen));
        std::memcpy(f.b + f.n + 7, text, textLen);
        f.n += 7 + textLen;
      } else {
        scalarFields(f, value, code);
      }
      f.int32(3, static_cast<uint32_t>(value->getSubtype()));
      f.b[f.n] = TAG_OBJECT_END;
      m->commitEncoded(7 + f.n + 1);
      return 0;
    }
  }
  return m->writeObjectField(field, OBJ_ANY_ID, value);
}

namespace {

// A value whose code and subtype would trip the Any's own assertions is
// malformed input, not a reason to stop the process.
int refuse(MessageBase* m) {
  m->setError(MSG_ERR_BAD_TYPE);
  return -1;
}

int decodeAny(MessageBase* m, Translatable** out) {
  int code;
  if (m->readInt32Field(1, code) != 0) return -1;
  if (code <= ANY_INVALID || code >= kTypeLimit || code == 11) return refuse(m);
  std::unique_ptr<Any> any;
  switch (code) {
    case ANY_NULL:
      any = std::make_unique<Any>();
      break;
    case ANY_UNDEFINED:
      any.reset(Any::createUndefined());
      break;
    case ANY_BOOL: {
      bool v;
      if (m->readBoolField(2, v) != 0) return -1;
      any = std::make_unique<Any>(v);
      break;
    }
    case ANY_INT32: {
      int v;
      if (m->readInt32Field(2, v) != 0) return -1;
      any = std::make_unique<Any>(v);
      break;
    }
    case ANY_INT64: {
      long long v;
      if (m->readInt64Field(2, v) != 0) return -1;
      any = std::make_unique<Any>(v);
      break;
    }
    case ANY_FLOAT: {
      float v;
      if (m->readFloatField(2, v) != 0) return -1;
      any = std::make_unique<Any>(v);
      break;
    }
    case ANY_DOUBLE: {
      double v;
      if (m->readDoubleField(2, v) != 0) return -1;
      any = std::make_unique<Any>(v);
      break;
    }
    case ANY_STRING:
    case ANY_CHAR: {
      char* text = nullptr;
      if (m->readStringField(2, text) != 0) return -1;
      any.reset(code == ANY_STRING ? Any::buildFromString(text) : new Any(ANY_CHAR, reinterpret_cast<Translatable*>(text)));
      break;
    }
    case OBJ_ANYARRAY_ID: {
      Translatable* array = nullptr;
      if (m->readObjectField(2, OBJ_ANYARRAY_ID, &array) != 0) return -1;
      any = std::make_unique<Any>();
      any->setObject(OBJ_ANYARRAY_ID, array);
      break;
    }
    default: {
      // Any other object, a reference's target included, stays encoded
      // until someone asks for it.
      int id = 0;
      char* bytes = nullptr;
      size_t n = 0;
      int rc = m->readOpaqueObjectField(2, &id, &bytes, &n);
      if (rc == MSG_ERR_NULL_OBJECT) {
        any = std::make_unique<Any>();
        if (code >= kFirstObjectId) any->setObject(code, nullptr);
        *out = any.release();
        return 0;  // a null object carries no subtype
      }
      if (rc != 0) return -1;
      if (id < kFirstObjectId || id >= kTypeLimit) {
        MessageBase::freeOpaqueObjectBuffer(bytes);
        return refuse(m);
      }
      any = std::make_unique<Any>();
      any->adoptOpaque(id, bytes, n);
      break;
    }
  }
  int subtype = 0;
  if (m->hasField(3) && m->readInt32Field(3, subtype) != 0) return -1;
  if (subtype < 0 || subtype >= kTypeLimit) return refuse(m);
  any->setSubtype(subtype);
  *out = any.release();
  return 0;
}

}  // namespace

int AnyXlator(MessageBase* m, Translatable** object, int direction) {
  if (direction == XLATE_ENCODE) return encodeAny(m, static_cast<const Any*>(*object));
  return decodeAny(m, object);
}

// AnyArray: field 1 the count, fields 2 to count+1 the elements. Field
// numbers are one byte, so an array of more than 254 elements reuses them:
// element i goes to field (i+2) & 0xFF, in order. Reading takes, for each
// element, the matching occurrence of its field number, so long arrays come
// back whole (the bytes are the same ones peers have always written).
int AnyArrayXlator(MessageBase* m, Translatable** object, int direction) {
  if (direction == XLATE_ENCODE) {
    const auto* a = static_cast<const AnyArray*>(*object);
    const int n = a->size();
    m->writeInt32Field(1, n);
    for (int i = 0; i < n; ++i) writeAnyField(m, i + 2, a->get(i));
    return m->getError() != 0 ? -1 : 0;
  }
  int n;
  if (m->readInt32Field(1, n) != 0) return -1;
  // Every element is a field of its own, three bytes at the least: a count
  // the object cannot hold is refused before anything is allocated for it.
  if (n < 0 || static_cast<uint64_t>(n) > m->bytesInObject() / 3) {
    m->setError(MSG_ERR_MISSING_FIELD);
    return -1;
  }
  auto array = std::make_unique<AnyArray>(n);
  for (int i = 0; i < n; ++i) {
    const int field = i + 2;
    const int low = field & 0xFF;
    // Field 1 (the count) is the first occurrence of its number; no field 0
    // precedes field 256.
    const int occurrence = (field >> 8) - (low == 0 ? 1 : 0);
    Translatable* element = nullptr;
    if (m->readObjectFieldOccurrence(low, occurrence, OBJ_ANY_ID, &element) != 0) return -1;
    if (array->set(i, static_cast<Any*>(element)) != 0) {
      delete element;
      m->setError(MSG_ERR_BAD_TYPE);
      return -1;
    }
  }
  *object = array.release();
  return 0;
}
