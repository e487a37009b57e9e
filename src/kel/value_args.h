// Argument readers shared by the value prototypes (string, array and String
// methods). Arguments are a null-terminated array of plain values. Internal
// to kel.
#pragma once

#include <string>
#include <string_view>

#include "kel/parser.h"
#include "model/any.h"

namespace valueargs {

// Status codes of the value methods.
constexpr int kTypeMismatch = 16;
constexpr int kNotImplemented = 21;
constexpr int kMissing = 48;
constexpr int kNotConvertible = 49;
constexpr int kOutOfBounds = 56;
constexpr int kResource = 39;

// The argument at `i`, or null when the array is shorter.
inline const Any* arg(Any** args, int i) {
  if (args == nullptr) return nullptr;
  for (int k = 0; k < i; k++) {
    if (args[k] == nullptr) return nullptr;
  }
  return args[i];
}

inline int count(Any** args) {
  int n = 0;
  while (args != nullptr && args[n] != nullptr) n++;
  return n;
}

// The text of a text value (a plain string or a character), else null.
inline const char* text(const Any* value) {
  if (value == nullptr || value->isOpaque()) return nullptr;
  if (value->getType() == ANY_CHAR) return value->getString() ? value->getString() : "";
  if (value->getType() == ANY_STRING && value->getSubtype() == ANY_SUBTYPE_PLAIN_STRING) {
    return value->getString() ? value->getString() : "";
  }
  return nullptr;
}

// Reads an integer argument: 0 with *out set, kMissing when absent and
// required, the default when absent and optional, kNotConvertible otherwise.
inline int int64Arg(Any** args, int i, bool required, long long fallback, long long* out) {
  const Any* a = arg(args, i);
  if (a == nullptr) {
    if (required) return kMissing;
    *out = fallback;
    return 0;
  }
  long long v;
  if (!a->convertToInt64(v)) return kNotConvertible;
  *out = v;
  return 0;
}

inline int int32Arg(Any** args, int i, bool required, int fallback, int* out) {
  const Any* a = arg(args, i);
  if (a == nullptr) {
    if (required) return kMissing;
    *out = fallback;
    return 0;
  }
  int v;
  if (!a->convertToInt32(v)) return kNotConvertible;
  *out = v;
  return 0;
}

inline int textArg(Any** args, int i, const char** out) {
  const Any* a = arg(args, i);
  if (a == nullptr) return kMissing;
  const char* t = text(a);
  if (t == nullptr) return kNotConvertible;
  *out = t;
  return 0;
}

// Charges the work of building `units` bytes or elements (one step per
// 4096) to the parser's budget: 0, or 13 when the budget is spent.
inline int chargeWork(Parser* parser, size_t units) {
  if (parser == nullptr || (units >> 12) == 0) return 0;
  return parser->charge(nullptr, static_cast<long long>(units >> 12)) ? 0 : Parser::kTimeoutCode;
}

// Byte offsets of the code points of `s`: offsets[k] is where code point k
// starts; offsets[count] is the byte length. A byte that does not start a
// well-formed sequence counts as one code point.
void codePointOffsets(std::string_view s, std::basic_string<size_t>* offsets);
// The code point at byte offset `at` (its length in *length), or -1 for a
// malformed sequence.
int decodeCodePoint(std::string_view s, size_t at, int* length);

}  // namespace valueargs
