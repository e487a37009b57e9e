#include "kel/any_prototype.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "kel/parser.h"
#include "kel/value_args.h"
#include "kel/veskpattern.h"
#include "model/any.h"
#include "model/any_array.h"
#include "model/obj_ref.h"

using namespace valueargs;

namespace {

using Offsets = std::basic_string<size_t>;

Any* newText(std::string_view text) {
  char* copy = static_cast<char*>(std::malloc(text.size() + 1));
  std::memcpy(copy, text.data(), text.size());
  copy[text.size()] = '\0';
  return Any::buildFromString(copy);
}

// The pattern a value refers to, or null.
const VeskPattern* patternOf(const Any* value) {
  if (value == nullptr || value->isOpaque() || value->getType() != ANY_REF) return nullptr;
  Translatable* t = value->getRefTarget();
  if (t == nullptr || t->getObjectID() != VeskPattern::kObjectId) return nullptr;
  return dynamic_cast<const VeskPattern*>(t);
}

size_t maxText(Parser* parser) { return parser != nullptr ? parser->maxTextLength() : size_t{1} << 30; }

int charAt(std::string_view s, Any** args, Any** result, bool code) {
  long long index;
  if (int rc = int64Arg(args, 0, true, 0, &index)) return rc;
  Offsets offsets;
  codePointOffsets(s, &offsets);
  long long n = static_cast<long long>(offsets.size()) - 1;
  if (index < 0 || index >= n) return kOutOfBounds;
  size_t from = offsets[index];
  size_t to = offsets[index + 1];
  if (code) {
    int length;
    *result = new Any(decodeCodePoint(s, from, &length));
    return 0;
  }
  char* bytes = static_cast<char*>(std::malloc(to - from + 1));
  std::memcpy(bytes, s.data() + from, to - from);
  bytes[to - from] = '\0';
  *result = new Any(ANY_CHAR, reinterpret_cast<Translatable*>(bytes));
  return 0;
}

int concat(Parser* parser, std::string_view s, Any** args, Any** result) {
  std::string out(s);
  for (int i = 0; args != nullptr && args[i] != nullptr; i++) {
    const char* t = text(args[i]);
    if (t == nullptr) return kNotConvertible;
    out += t;
    if (out.size() > maxText(parser)) return kResource;
    if (int rc = chargeWork(parser, std::strlen(t))) return rc;
  }
  *result = newText(out);
  return 0;
}

int startsWith(std::string_view s, Any** args, Any** result) {
  const char* search;
  int position;
  if (int rc = textArg(args, 0, &search)) return rc;
  if (int rc = int32Arg(args, 1, false, 0, &position)) return rc;
  bool r = false;
  if (position >= 0 && static_cast<size_t>(position) <= s.size()) {
    r = s.substr(static_cast<size_t>(position)).rfind(search, 0) == 0;
  }
  *result = new Any(r);
  return 0;
}

int endsWith(std::string_view s, Any** args, Any** result) {
  const char* search;
  int end;
  if (int rc = textArg(args, 0, &search)) return rc;
  if (int rc = int32Arg(args, 1, false, static_cast<int>(s.size()), &end)) return rc;
  if (end < 0 || static_cast<size_t>(end) > s.size()) return kOutOfBounds;
  size_t n = std::strlen(search);
  bool r = n <= static_cast<size_t>(end) && s.compare(static_cast<size_t>(end) - n, n, search) == 0;
  *result = new Any(r);
  return 0;
}

int includes(std::string_view s, Any** args, Any** result) {
  const char* search;
  int position;
  if (int rc = textArg(args, 0, &search)) return rc;
  if (int rc = int32Arg(args, 1, false, 0, &position)) return rc;
  if (position < 0) position = 0;  // a negative position searches the whole text
  bool r = static_cast<size_t>(position) <= s.size() && s.find(search, static_cast<size_t>(position)) != s.npos;
  *result = new Any(r);
  return 0;
}

int indexOf(std::string_view s, Any** args, Any** result) {
  const char* search;
  int from;
  if (int rc = textArg(args, 0, &search)) return rc;
  if (int rc = int32Arg(args, 1, false, 0, &from)) return rc;
  if (from < 0) from = 0;  // a negative start searches the whole text
  int r;
  if (static_cast<size_t>(from) >= s.size()) {
    r = static_cast<int>(s.size());
  } else if (*search == '\0') {
    r = from;
  } else {
    size_t at = s.find(search, static_cast<size_t>(from));
    r = at == s.npos ? -1 : static_cast<int>(at);
  }
  *result = new Any(r);
  return 0;
}

int lastIndexOf(std::string_view s, Any** args, Any** result) {
  const char* search;
  int from;
  if (int rc = textArg(args, 0, &search)) return rc;
  if (int rc = int32Arg(args, 1, false, static_cast<int>(s.size()), &from)) return rc;
  if (from < 0) from = 0;
  if (static_cast<size_t>(from) > s.size()) from = static_cast<int>(s.size());
  int r;
  if (*search == '\0') {
    r = from;
  } else {
    size_t at = s.rfind(search, static_cast<size_t>(from));
    r = at == s.npos ? -1 : static_cast<int>(at);
  }
  *result = new Any(r);
  return 0;
}

int search(std::string_view s, Any** args, Any** result) {
  const Any* a = arg(args, 0);
  if (a == nullptr) return kMissing;
  const VeskPattern* pattern = patternOf(a);
  if (pattern == nullptr) return kNotConvertible;
  *result = new Any(pattern->search(s));
  return 0;
}

int replace(Parser* parser, std::string_view s, Any** args, Any** result) {
  const Any* p = arg(args, 0);
  if (p == nullptr) return kMissing;
  const char* replacement;
  if (int rc = textArg(args, 1, &replacement)) return rc;
  if (const VeskPattern* pattern = patternOf(p)) {
    std::string out = pattern->replaceText(s, replacement);
    if (out.size() > maxText(parser)) return kResource;
    *result = newText(out);
    return 0;
  }
  const char* search = text(p);
  if (search == nullptr) return kNotConvertible;
  std::string out;
  size_t n = std::strlen(search);
  if (n == 0) {
    // An empty search text matches before every character and at the end.
    Offsets offsets;
    codePointOffsets(s, &offsets);
    for (size_t k = 0; k + 1 < offsets.size(); k++) {
      out += replacement;
      out.append(s.substr(offsets[k], offsets[k + 1] - offsets[k]));
      if (out.size() > maxText(parser)) return kResource;
      if (int rc = chargeWork(parser, std::strlen(replacement))) return rc;
    }
    out += replacement;
  } else {
    size_t at = 0;
    for (;;) {
      size_t hit = s.find(search, at);
      if (hit == s.npos) break;
      out.append(s.substr(at, hit - at));
      out += replacement;
      if (out.size() > maxText(parser)) return kResource;
      if (int rc = chargeWork(parser, std::strlen(replacement))) return rc;
      at = hit + n;
    }
    out.append(s.substr(at));
  }
  if (out.size() > maxText(parser)) return kResource;
  *result = newText(out);
  return 0;
}

int changeCase(std::string_view s, Any** result, bool upper) {
  std::string out(s);
  for (char& c : out) {
    if (upper && c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (!upper && c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  *result = newText(out);
  return 0;
}

// substring and slice count code points for both bounds and cut at the
// matching byte offsets, so that a character is never cut in two.
int substring(std::string_view s, Any** args, Any** result, bool slice) {
  long long start;
  long long end;
  Offsets offsets;
  codePointOffsets(s, &offsets);
  long long length = static_cast<long long>(offsets.size()) - 1;
  if (int rc = int64Arg(args, 0, true, 0, &start)) return rc;
  if (int rc = int64Arg(args, 1, false, length, &end)) return rc;
  if (slice) {
    if (start < 0) start += length;
    if (end < 0) end += length;
    if (start < 0 || start >= length || end < start) {
      *result = newText("");
      return 0;
    }
    if (end > length) end = length;
  } else {
    start = start < 0 ? 0 : start > length ? length : start;
    end = end < 0 ? 0 : end > length ? length : end;
    if (start > end) std::swap(start, end);
  }
  *result = newText(s.substr(offsets[start], offsets[end] - offsets[start]));
  return 0;
}

int split(Parser* parser, std::string_view s, Any** args, Any** result) {
  const Any* separator = arg(args, 0);
  auto* array = new AnyArray();
  Any out(new ObjRef(array));  // owns the array until it is handed over
  if (separator == nullptr) {
    array->append(newText(s));
  } else if (const VeskPattern* pattern = patternOf(separator)) {
    for (const std::string& piece : pattern->splitText(s)) array->append(newText(piece));
  } else if (const char* sep = text(separator)) {
    long long limit;
    if (arg(args, 1) != nullptr && int64Arg(args, 1, false, 0, &limit) != 0) return kNotConvertible;
    size_t n = std::strlen(sep);
    size_t piece = 0;
    if (n == 0) {
      // An empty separator splits between the characters.
      Offsets offsets;
      codePointOffsets(s, &offsets);
      for (size_t k = 0; k + 1 < offsets.size(); k++) {
        array->append(newText(s.substr(offsets[k], offsets[k + 1] - offsets[k])));
      }
      piece = s.size();
    } else {
      size_t at = 0;
      while (at + n <= s.size()) {
        if (s.compare(at, n, sep) == 0) {
          array->append(newText(s.substr(piece, at - piece)));
          at += n;
          piece = at;
        } else {
          at++;
        }
      }
    }
    if (piece < s.size()) array->append(newText(s.substr(piece)));
  } else {
    return kNotConvertible;
  }
  if (parser != nullptr && array->size() > parser->maxArrayLength()) return kResource;
  *result = new Any();
  (*result)->takeFrom(out);
  out.clear();
  return 0;
}

}  // namespace

int AnyPrototype::getObjectID() const { return OBJ_ANY_ID; }

char* AnyPrototype::toString(Parser*) { return strdup("Any"); }

int AnyPrototype::callMemberFn(Parser* parser, Any** result, Translatable* self, const char* name, Any** args) {
  *result = nullptr;
  auto* value = dynamic_cast<Any*>(self);
  if (value == nullptr || name == nullptr) return Translatable::callMemberFn(parser, result, self, name, args);
  if (value->isOpaque()) return kTypeMismatch;
  const char* t = text(value);
  if (t == nullptr) return Translatable::callMemberFn(parser, result, self, name, args);
  std::string_view s(t);
  // Every method walks the text at most a few times.
  if (int rc = chargeWork(parser, s.size())) return rc;
  switch (name[0]) {
    case 'c':
      if (std::strcmp(name, "charAt") == 0) return charAt(s, args, result, false);
      if (std::strcmp(name, "charCodeAt") == 0) return charAt(s, args, result, true);
      if (std::strcmp(name, "concat") == 0) return concat(parser, s, args, result);
      break;
    case 'e':
      if (std::strcmp(name, "endsWith") == 0) return endsWith(s, args, result);
      break;
    case 'i':
      if (std::strcmp(name, "includes") == 0) return includes(s, args, result);
      if (std::strcmp(name, "indexOf") == 0) return indexOf(s, args, result);
      break;
    case 'l':
      if (std::strcmp(name, "lastIndexOf") == 0) return lastIndexOf(s, args, result);
      break;
    case 'r':
      if (std::strcmp(name, "replace") == 0) return replace(parser, s, args, result);
      break;
    case 's':
      if (std::strcmp(name, "startsWith") == 0) return startsWith(s, args, result);
      if (std::strcmp(name, "search") == 0) return search(s, args, result);
      if (std::strcmp(name, "substring") == 0) return substring(s, args, result, false);
      if (std::strcmp(name, "slice") == 0) return substring(s, args, result, true);
      if (std::strcmp(name, "split") == 0) return split(parser, s, args, result);
      break;
    case 't':
      if (std::strcmp(name, "toLowerCase") == 0 || std::strcmp(name, "toLocaleLowerCase") == 0) {
        return changeCase(s, result, false);
      }
      if (std::strcmp(name, "toUpperCase") == 0 || std::strcmp(name, "toLocaleUpperCase") == 0) {
        return changeCase(s, result, true);
      }
      break;
    default:
      break;
  }
  return Translatable::callMemberFn(parser, result, self, name, args);
}
