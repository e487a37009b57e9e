// Construction, ownership, copies and comparison of Any. The text forms and
// conversions are in any_text.cpp and any_convert.cpp.
#include "model/any.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "foundation/diagnostics.h"
#include "foundation/log.h"
#include "model/any_array.h"
#include "model/object_codec.h"
#include "model/obj_ref.h"
#include "model/script_hooks.h"
#include "model/text_util.h"

namespace {

// Codes whose value is an object held directly (arrays included).
bool holdsObject(int code) { return code == OBJ_ANYARRAY_ID || code >= 12; }

bool holdsText(int code) { return code == ANY_STRING || code == ANY_CHAR; }

}  // namespace

void Any::setTypeWord(int type, int subtype) {
  orv_assert(type < 0xFFFF);
  orv_assert(subtype < 0xFFFF);
  type_ = ((uint32_t)(subtype & 0xFFFF) << 16) | (uint32_t)(type & 0xFFFF);
}

Any::Any(const char* text) : type_((ANY_SUBTYPE_PLAIN_STRING << 16) | ANY_STRING) { v_.s = modeltext::dup(text); }

Any::Any(ObjRef* ref) : type_(ANY_REF) { v_.ref = ref; }

Any::Any(int type, Translatable* object) {
  setTypeWord(type, 0);
  if (type == ANY_STRING || type == ANY_CHAR) {
    v_.s = reinterpret_cast<char*>(object);
    if (type == ANY_STRING) setSubtype(ANY_SUBTYPE_PLAIN_STRING);
  } else if (type == ANY_REF) {
    // A reference needs its own counted holder.
    v_.ref = object ? new ObjRef(object) : nullptr;
  } else if (holdsObject(type)) {
    v_.obj = object;
  } else {
    // A scalar code has no place for an object: take it over and drop it.
    delete object;
  }
}

Any::Any(const Translatable*, Any**) {}

Any::Any(const Any& other) : Translatable() {
  int code = other.getType();
  setTypeWord(code, other.getSubtype());
  if (other.opaque_) {
    opaqueLength_ = other.opaqueLength_;
    v_.opaque = modeltext::dupBytes(other.v_.opaque, other.opaqueLength_);
    opaque_ = true;
    return;
  }
  switch (code) {
    case ANY_INVALID:
      log(0, "Any::Any called on bad object");
      break;
    case ANY_NULL:
    case ANY_UNDEFINED:
    case 11:
      break;
    case ANY_BOOL:
    case ANY_INT32:
    case ANY_INT64:
    case ANY_FLOAT:
    case ANY_DOUBLE:
      v_ = other.v_;
      break;
    case ANY_STRING:
    case ANY_CHAR:
      v_.s = modeltext::dup(other.v_.s);
      break;
    case ANY_REF:
      v_.ref = other.v_.ref ? new ObjRef(*other.v_.ref) : nullptr;
      break;
    case OBJ_ANYARRAY_ID:
      v_.obj = other.v_.obj ? new AnyArray(*static_cast<const AnyArray*>(other.v_.obj)) : nullptr;
      break;
    default: {
      if (!other.v_.obj) break;
      Translatable* copy = nullptr;
      const ObjectCodec& codec = objectCodec();
      if (codec.copyObject && codec.copyObject(code, other.v_.obj, &copy) == 0) {
        v_.obj = copy;
      } else {
        log(0, "Warning: unable to copy object of type: %d", code);
      }
      break;
    }
  }
}

Any* Any::buildFromString(char* text) {
  Any* a = new Any();
  a->adoptString(text);
  return a;
}

Any* Any::createUndefined() {
  Any* a = new Any();
  a->type_ = ANY_UNDEFINED;
  return a;
}

void Any::releaseHeld() {
  freeHeld();
  opaque_ = false;
  heldPlaced_ = false;
  textInside_ = false;
  opaqueLength_ = 0;
  v_.i64 = 0;
  type_ = ANY_NULL;
}

void Any::freeHeld() const {
  int code = getType();
  if (opaque_) {
    free(v_.opaque);
  } else if (holdsText(code)) {
    if (!textInside_) free(v_.s);
  } else if (code == ANY_REF) {
    if (heldPlaced_) {
      if (v_.ref) {
        v_.ref->~ObjRef();
        releasePlaced(v_.ref);
      }
    } else {
      delete v_.ref;
    }
  } else if (holdsObject(code)) {
    delete v_.obj;
  }
}

void Any::prefetchHeld() const {
  if (opaque_) return;
  int code = getType();
  const Translatable* target = nullptr;
  if (code == ANY_REF) {
    if (v_.ref) target = v_.ref->getTarget();
  } else if (holdsObject(code)) {
    target = v_.obj;
  }
  if (!target) return;
  // A set or array of a document lies with its entries or elements in one
  // piece: a dozen lines cover the common ones.
  // Addresses past a small object are only hints: computed as integers, not
  // as pointers beyond the object.
  const auto at = reinterpret_cast<uintptr_t>(target);
  for (int line = 0; line < 12; line++) __builtin_prefetch(reinterpret_cast<const void*>(at + 64 * line));
}

void Any::setString(const char* text) { adoptString(modeltext::dup(text)); }

void Any::adoptString(char* text) {
  clear();
  heldPlaced_ = false;
  textInside_ = false;
  type_ = (ANY_SUBTYPE_PLAIN_STRING << 16) | ANY_STRING;
  v_.s = text;
}

void Any::setRef(ObjRef* ref) {
  clear();
  heldPlaced_ = false;
  textInside_ = false;
  type_ = ANY_REF;
  v_.ref = ref;
}

void Any::setObject(int type, Translatable* object) {
  orv_assert(holdsObject(type));
  clear();
  setTypeWord(type, 0);
  v_.obj = object;
}

void Any::adoptOpaque(int type, char* bytes, size_t length) {
  clear();
  setTypeWord(type, 0);
  v_.opaque = bytes;
  opaqueLength_ = length;
  opaque_ = true;
}

void Any::takeFrom(Any& other) {
  if (&other == this) return;
  clear();
  type_ = other.type_;
  int code = other.getType();
  if (other.opaque_) {
    // The bytes change owner; the source keeps its type code and no bytes.
    v_.opaque = other.v_.opaque;
    opaqueLength_ = other.opaqueLength_;
    opaque_ = true;
    other.v_.opaque = nullptr;
    other.opaqueLength_ = 0;
    other.opaque_ = false;
  } else if (holdsText(code) || code == ANY_REF || holdsObject(code)) {
    // Pointers move; the source keeps its type code with a null pointer. A
    // text inside the source's own piece goes with that piece: a copy moves.
    v_ = other.v_;
    other.v_.i64 = 0;
    heldPlaced_ = other.heldPlaced_;
    other.heldPlaced_ = false;
    if (other.textInside_) {
      if (v_.s) v_.s = modeltext::dup(v_.s);
      other.textInside_ = false;
    }
  } else {
    v_ = other.v_;
  }
}

void Any::setSign(int sign) {
  if (opaque_) return;
  switch (getType()) {
    case ANY_INT32:
      v_.i32 = (int)((unsigned)v_.i32 * (unsigned)sign);  // wraps like the hardware
      break;
    case ANY_INT64:
      v_.i64 = (long long)((unsigned long long)v_.i64 * (unsigned long long)(long long)sign);
      break;
    case ANY_FLOAT:
      v_.f *= (float)sign;
      break;
    case ANY_DOUBLE:
      v_.d *= (double)sign;
      break;
    default:
      break;
  }
}

const char* Any::getString() const { return (!opaque_ && holdsText(getType())) ? v_.s : nullptr; }

Translatable* Any::getRefTarget() const {
  ObjRef* ref = getRef();
  return ref ? ref->getTarget() : nullptr;
}

Translatable* Any::getHeldObject() const { return (!opaque_ && holdsObject(getType())) ? v_.obj : nullptr; }

Any* Any::createReference() const {
  Any* a = new Any();
  a->type_ = type_;
  int code = getType();
  if (opaque_) {
    a->v_.opaque = modeltext::dupBytes(v_.opaque, opaqueLength_);
    a->opaqueLength_ = opaqueLength_;
    a->opaque_ = true;
    return a;
  }
  switch (code) {
    case ANY_STRING:
    case ANY_CHAR:
      a->v_.s = modeltext::dup(v_.s);
      break;
    case ANY_REF:
      a->v_.ref = v_.ref ? new ObjRef(*v_.ref) : nullptr;
      break;
    case OBJ_ANYARRAY_ID:
      log(0, "Logic Error: OBJ_ANYARRAY_ID cannot be used in createReference()");
      break;
    default:
      if (holdsObject(code)) {
        log(0, "Logic Error: generic type cannot be used in createReference()");
      } else {
        a->v_ = v_;
      }
      break;
  }
  return a;
}

Any* Any::createForVariableAssign(const Any* source) {
  if (!source) return nullptr;
  int code = source->getType();
  if (source->opaque_) return nullptr;
  Any* a;
  switch (code) {
    case ANY_INVALID:
      log(0, "Any::createForVariableAssign called on bad object");
      return nullptr;
    case ANY_NULL:
    case ANY_UNDEFINED:
      return new Any();
    case ANY_BOOL:
    case ANY_INT32:
    case ANY_INT64:
    case ANY_FLOAT:
    case ANY_DOUBLE:
      a = new Any();
      a->type_ = (uint32_t)code;
      a->v_ = source->v_;
      return a;
    case ANY_STRING:
    case ANY_CHAR:
      return new Any(source->v_.s);
    case ANY_REF:
      return new Any(source->v_.ref ? new ObjRef(*source->v_.ref) : nullptr);
    default:
      return nullptr;
  }
}

int Any::clone(const Principal*, Translatable** out) const {
  *out = new Any(*this);
  return 0;
}

bool Any::decodeOpaque(Translatable** out) const {
  Translatable* object = nullptr;
  const ObjectCodec& codec = objectCodec();
  if (!codec.decodeObject || codec.decodeObject(getType(), v_.opaque, opaqueLength_, &object) != 0) {
    log(0, "Warning: decode of object type: %d failed", getType());
    return false;
  }
  *out = object;
  return true;
}

bool Any::getObject(Translatable** out) const {
  int code = getType();
  if (opaque_) {
    Translatable* object;
    if (!decodeOpaque(&object)) return false;
    free(v_.opaque);
    v_.obj = object;
    opaque_ = false;
    opaqueLength_ = 0;
    *out = object;
    return true;
  }
  if (code == ANY_REF) {
    *out = v_.ref ? v_.ref->getTarget() : nullptr;
    return true;
  }
  if (holdsObject(code)) {
    *out = v_.obj;
    return true;
  }
  return false;
}

bool Any::takeObject(Translatable** out) {
  if (opaque_) return decodeOpaque(out);
  if (!holdsObject(getType())) return false;
  *out = v_.obj;
  v_.obj = nullptr;
  return true;
}

bool Any::operator==(const Any& other) const {
  int a = getType();
  int b = other.getType();
  if (!opaque_ && !other.opaque_ && type_ == other.type_) {
    switch (a) {
      case ANY_NULL:
      case ANY_UNDEFINED:
        return true;
      case ANY_BOOL:
        return v_.b == other.v_.b;
      case ANY_INT32:
        return v_.i32 == other.v_.i32;
      case ANY_INT64:
        return v_.i64 == other.v_.i64;
      case ANY_FLOAT:
        return v_.f == other.v_.f;
      case ANY_DOUBLE:
        return v_.d == other.v_.d;
      case ANY_STRING:
      case ANY_CHAR:
        if (!v_.s || !other.v_.s) return !v_.s && !other.v_.s;
        return strcmp(v_.s, other.v_.s) == 0;
      case ANY_REF: {
        Translatable* left = getRefTarget();
        Translatable* right = other.getRefTarget();
        if (!left || !right) return !left && !right;
        bool equal = false;
        return left->isEqual(nullptr, &equal, right) == 0 && equal;
      }
      case OBJ_ANYARRAY_ID: {
        const auto* left = static_cast<const AnyArray*>(v_.obj);
        const auto* right = static_cast<const AnyArray*>(other.v_.obj);
        if (!left || !right) return !left && !right;
        return *left == *right;
      }
      default:
        return false;
    }
  }
  // Different kinds: only the integer pair and the floating pair compare.
  if (opaque_ || other.opaque_) return false;
  if (a == ANY_INT64 && b == ANY_INT32) return v_.i64 == (long long)other.v_.i32;
  if (a == ANY_INT32 && b == ANY_INT64) return (long long)v_.i32 == other.v_.i64;
  if (a == ANY_FLOAT && b == ANY_DOUBLE) return (double)v_.f == other.v_.d;
  if (a == ANY_DOUBLE && b == ANY_FLOAT) return v_.d == (double)other.v_.f;
  return false;
}

int Any::isEqual(const Principal*, bool* out, const Translatable* other) const {
  *out = other && other->getObjectID() == OBJ_ANY_ID && *this == *static_cast<const Any*>(other);
  return 0;
}

namespace {

// The C conversion of a floating value to an unsigned 64-bit integer as the
// hardware performs it, without the undefined behaviour of the C cast for
// negative or huge values.
unsigned long long floatingToU64(double v) {
  const double two63 = 9223372036854775808.0;
  const unsigned long long indefinite = 0x8000000000000000ULL;
  if (std::isnan(v)) return indefinite;
  if (v >= two63) {
    double rest = v - two63;
    if (rest >= two63) return indefinite;
    return (unsigned long long)(long long)rest | indefinite;
  }
  if (v < -two63) return indefinite;
  return (unsigned long long)(long long)v;
}

}  // namespace

long long Any::hashValue() const {
  if (opaque_) return 0;
  switch (getType()) {
    case ANY_BOOL:
      return v_.b ? 1 : 0;
    case ANY_INT32:
      return (long long)v_.i32;
    case ANY_INT64:
      return (long long)((unsigned long long)(uint32_t)v_.i64 ^ (unsigned long long)(v_.i64 >> 32));
    case ANY_FLOAT:
      return (long long)floatingToU64((double)v_.f);
    case ANY_DOUBLE:
      return (long long)floatingToU64(v_.d);
    case ANY_STRING:
    case ANY_CHAR:
      return modeltext::hashText(v_.s);
    default:
      return 0;
  }
}

const char* Any::getTypeOf(Parser* parser) const {
  if (opaque_) return "nativeJava";
  switch (getType()) {
    case ANY_NULL:
      return "object";
    case ANY_BOOL:
      return "boolean";
    case ANY_INT32:
    case ANY_FLOAT:
    case ANY_DOUBLE:
      return "number";
    case ANY_INT64:
      return getSubtype() == ANY_SUBTYPE_DATE ? "date" : "number";
    case ANY_STRING:
    case ANY_CHAR:
      return "string";
    case ANY_UNDEFINED:
      return "undefined";
    case OBJ_ANYARRAY_ID:
      return "object";
    case ANY_REF: {
      Translatable* target = getRefTarget();
      return (target && target->getObjectID() == OBJ_FUNCTION_ID) ? "function" : "object";
    }
    default:
      // An object held directly answers for itself.
      if (holdsObject(getType()) && v_.obj) return v_.obj->getTypeOf(parser);
      return "object";
  }
}

const char* Any::getClassOf(Parser* parser) const {
  if (opaque_) return "nativeJava";
  bool date = getSubtype() == ANY_SUBTYPE_DATE;
  switch (getType()) {
    case ANY_NULL:
      return "null";
    case ANY_BOOL:
      return "boolean";
    case ANY_INT32:
      return date ? "date" : "int32";
    case ANY_INT64:
      return date ? "date" : "int64";
    case ANY_FLOAT:
      return "float";
    case ANY_DOUBLE:
      return "double";
    case ANY_STRING:
      return "string";
    case ANY_CHAR:
      return "char";
    case ANY_UNDEFINED:
      return "undefined";
    case OBJ_ANYARRAY_ID:
      return "array";
    case ANY_REF: {
      Translatable* target = getRefTarget();
      const ScriptHooks& hooks = scriptHooks();
      if (target && parser && hooks.classNameFor) {
        if (const char* name = hooks.classNameFor(parser, target->getObjectID())) return name;
      }
      return "object";
    }
    default:
      return "nodef";
  }
}

int Any::getField(Parser* parser, Any** result, const char* name) const {
  if (opaque_) {
    *result = nullptr;
    return 16;
  }
  int code = getType();
  if (code == ANY_STRING && name && strcmp(name, "length") == 0) {
    *result = new Any((int)(v_.s ? strlen(v_.s) : 0));
    return 0;
  }
  if (code == ANY_NULL || code == ANY_UNDEFINED) {
    *result = nullptr;
    return 123;
  }
  return Translatable::getField(parser, result, name);
}
