// The conversions of Any to plain values. A conversion either succeeds and
// writes its out-variable, or fails and leaves it untouched; none logs.
#include <cctype>
#include <cmath>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "model/any.h"
#include "model/any_array.h"
#include "model/attributes.h"
#include "model/obj_ref.h"
#include "model/script_hooks.h"
#include "model/text_util.h"

namespace {

// Unit multipliers of the 64-bit reading.
long long unit64(char c) {
  switch (c) {
    case 'E': case 'e': return 1LL << 60;
    case 'P': case 'p': return 1LL << 50;
    case 'T': case 't': return 1LL << 40;
    case 'G': case 'g': return 1LL << 30;
    case 'M': case 'm': return 1LL << 20;
    case 'K': case 'k': return 1LL << 10;
    default: return 1;
  }
}

// The 32-bit reading has its own, shorter table (T is 2^30 there, G nothing).
long long unit32(char c) {
  switch (c) {
    case 'T': case 't': return 1LL << 30;
    case 'M': case 'm': return 1LL << 20;
    case 'K': case 'k': return 1LL << 10;
    default: return 1;
  }
}

// Reads "[-]digits[.fraction][ ][unit][ ]" with `unit` as the suffix table.
// Fails on no digits, on anything after the unit but blanks, on a digit where
// the unit belongs, and on a result outside [min, max].
bool parseScaled(const char* text, long long (*unit)(char), long long min, long long max, long long* out) {
  if (!text) return false;
  const char* p = text;
  while (isspace((unsigned char)*p)) p++;
  bool negative = false;
  if (*p == '-') {
    negative = true;
    p++;
  }
  const char* digits = p;
  unsigned long long whole = 0;
  bool overflow = false;
  while (isdigit((unsigned char)*p)) {
    unsigned d = (unsigned)(*p - '0');
    if (whole > (ULLONG_MAX - d) / 10) overflow = true;
    whole = whole * 10 + d;
    p++;
  }
  if (p == digits) return false;
  bool fraction = false;
  long double fractional = 0;
  if (*p == '.') {
    char* end;
    fractional = strtold(digits, &end);
    p = end;
    fraction = true;
  } else if (overflow) {
    return false;
  }
  while (isspace((unsigned char)*p)) p++;
  long long multiplier = 1;
  if (*p) {
    if (isdigit((unsigned char)*p)) return false;  // "1 2" is two numbers, not one
    multiplier = unit(*p);
    p++;
    while (isspace((unsigned char)*p)) p++;
    if (*p) return false;
  }
  long double value;
  if (fraction) {
    value = fractional * (long double)multiplier;
  } else {
    value = (long double)whole * (long double)multiplier;
  }
  if (negative) value = -value;
  // Compare in extended precision before truncating: no wrap-around.
  if (!(value >= (long double)min - 1 && value <= (long double)max + 1)) return false;
  long long result;
  if (!fraction) {
    unsigned long long magnitude;
    if (__builtin_mul_overflow(whole, (unsigned long long)multiplier, &magnitude)) return false;
    if (negative) {
      if (magnitude > (unsigned long long)max + 1) return false;
      result = (long long)(0 - magnitude);
    } else {
      if (magnitude > (unsigned long long)max) return false;
      result = (long long)magnitude;
    }
  } else {
    long double truncated = truncl(value);
    if (truncated < (long double)min || truncated > (long double)max) return false;
    result = (long long)truncated;
  }
  if (result < min || result > max) return false;
  *out = result;
  return true;
}

bool textTrue(const char* text) {
  return strcasecmp(text, "yes") == 0 || strcasecmp(text, "true") == 0 || strcmp(text, "1") == 0;
}

bool refTargetOfKind(const Any& a, int objectId, Translatable** out) {
  if (a.isOpaque() || a.getType() != ANY_REF) return false;
  Translatable* target = a.getRefTarget();
  if (!target || target->getObjectID() != objectId) return false;
  *out = target;
  return true;
}

}  // namespace

bool Any::convertToString(char*& out) const {
  int code = getType();
  if (opaque_ || getSubtype() != ANY_SUBTYPE_PLAIN_STRING || (code != ANY_STRING && code != ANY_CHAR)) return false;
  out = modeltext::dup(v_.s);
  return true;
}

bool Any::convertToInt64(long long& out) const {
  if (opaque_) return false;
  int code = getType();
  if (code == ANY_INT64) {
    out = v_.i64;
    return true;
  }
  if (code == ANY_INT32) {
    out = v_.i32;
    return true;
  }
  int sub = getSubtype();
  if (sub == ANY_SUBTYPE_ABSENT) return true;
  if (sub == ANY_SUBTYPE_INT64_TEXT && code == ANY_STRING) {
    long long value;
    if (!parseScaled(v_.s, unit64, LLONG_MIN, LLONG_MAX, &value)) return false;
    out = value;
    return true;
  }
  return false;
}

bool Any::convertToInt32(int& out) const {
  if (opaque_) return false;
  int code = getType();
  if (code == ANY_INT32) {
    out = v_.i32;
    return true;
  }
  int sub = getSubtype();
  if (sub == ANY_SUBTYPE_ABSENT) return true;
  if (sub == ANY_SUBTYPE_INT32_TEXT && code == ANY_STRING) {
    long long value;
    if (!parseScaled(v_.s, unit32, INT_MIN, INT_MAX, &value)) return false;
    out = (int)value;
    return true;
  }
  return false;
}

bool Any::convertToEnum(int& out) const {
  if (opaque_) return false;
  int sub = getSubtype();
  if (sub == ANY_SUBTYPE_ABSENT) return true;
  if (sub != ANY_SUBTYPE_ENUM_TEXT || getType() != ANY_STRING || !v_.s) return false;
  const char* p = v_.s;
  while (isspace((unsigned char)*p)) p++;
  errno = 0;
  long value = strtol(p, nullptr, 10);
  if (errno == ERANGE || value < INT_MIN || value > INT_MAX) return false;
  out = (int)value;
  return true;
}

bool Any::convertToDouble(double& out) const {
  if (opaque_) return false;
  if (getSubtype() == ANY_SUBTYPE_ABSENT) return true;
  switch (getType()) {
    case ANY_BOOL:
      out = v_.b ? 1.0 : 0.0;
      return true;
    case ANY_INT32:
      out = (double)v_.i32;
      return true;
    case ANY_INT64:
      out = (double)v_.i64;
      return true;
    case ANY_FLOAT:
      out = (double)v_.f;
      return true;
    case ANY_DOUBLE:
      out = v_.d;
      return true;
    case ANY_STRING: {
      if (!v_.s) return false;
      const char* p = v_.s;
      while (isspace((unsigned char)*p)) p++;
      if (!*p) {
        out = 0.0;
        return true;
      }
      // strtod wants a digit before the point: ".5" and "-.5" get one.
      std::string text;
      if (p[0] == '.') {
        text = "0";
        text += p;
      } else if (p[0] == '-' && p[1] == '.') {
        text = "-0";
        text += p + 1;
      } else {
        text = p;
      }
      char* end;
      double value = strtod(text.c_str(), &end);
      if (end == text.c_str()) return false;
      out = value;
      return true;
    }
    default:
      return false;
  }
}

bool Any::convertToBool(bool& out) const {
  if (opaque_) return false;
  if (getSubtype() == ANY_SUBTYPE_ABSENT) return true;
  if (getType() == ANY_BOOL) {
    out = v_.b;
    return true;
  }
  if (getSubtype() == ANY_SUBTYPE_BOOL_TEXT && getType() == ANY_STRING && v_.s) {
    out = textTrue(v_.s);
    return true;
  }
  return false;
}

bool Any::convertToFunction(Function** out) const {
  Translatable* target;
  if (!refTargetOfKind(*this, OBJ_FUNCTION_ID, &target)) return false;
  // Function is a kel class this layer cannot see; Translatable is its
  // primary base, so the address is the same.
  *out = reinterpret_cast<Function*>(target);
  return true;
}

bool Any::convertToArray(AnyArray** out) const {
  Translatable* target;
  if (!refTargetOfKind(*this, OBJ_ANYARRAY_ID, &target)) return false;
  *out = static_cast<AnyArray*>(target);
  return true;
}

bool Any::convertToAttributes(Attributes** out) const {
  Translatable* target;
  if (!refTargetOfKind(*this, OBJ_ATTRIBUTES_ID, &target)) return false;
  *out = static_cast<Attributes*>(target);
  return true;
}

int Any::readAssignable(Parser* parser, Any** value) const {
  if (!parser || opaque_ || getType() != ANY_REF) return 1;
  Translatable* target = getRefTarget();
  if (!target || !target->isAssignable()) return 1;
  const ScriptHooks& hooks = scriptHooks();
  Any* read = nullptr;
  if (!hooks.readAssignable || hooks.readAssignable(parser, target, &read) != 0 || !read) return -1;
  *value = read;
  return 0;
}

// The parser forms: a reference to an assignable slot converts the slot's
// current value; anything else converts itself.
#define ANY_CONVERT_WITH_PARSER(Name, OutType)                  \
  bool Any::Name(Parser* parser, OutType out) const {           \
    Any* read = nullptr;                                        \
    int rv = readAssignable(parser, &read);                     \
    if (rv == 1) return Name(out);                              \
    if (rv != 0) return false;                                  \
    std::unique_ptr<Any> holder(read);                          \
    return holder->Name(out);                                   \
  }

ANY_CONVERT_WITH_PARSER(convertToString, char*&)
ANY_CONVERT_WITH_PARSER(convertToInt64, long long&)
ANY_CONVERT_WITH_PARSER(convertToInt32, int&)
ANY_CONVERT_WITH_PARSER(convertToEnum, int&)
ANY_CONVERT_WITH_PARSER(convertToDouble, double&)
ANY_CONVERT_WITH_PARSER(convertToBool, bool&)
ANY_CONVERT_WITH_PARSER(convertToFunction, Function**)
ANY_CONVERT_WITH_PARSER(convertToArray, AnyArray**)
ANY_CONVERT_WITH_PARSER(convertToAttributes, Attributes**)
