// The text forms of Any: toString (the script and log form), toJSON and the
// JSON string escape. Scripts, logs and Java callers see these texts, so
// every character is fixed.
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "model/any.h"
#include "model/any_array.h"
#include "model/attributes.h"
#include "model/container_text.h"
#include "model/obj_ref.h"
#include "model/string_builder.h"
#include "model/text_util.h"

namespace {

char* dupText(const char* text) { return modeltext::dup(text); }

// Wide enough for "%f" of the largest double (309 digits, sign, point, 6).
constexpr size_t kFloatingBuffer = 400;

// "%f" of `value` with the trailing zeros trimmed, into `buffer`; its length.
// The C library's conversion and std::to_chars with a precision give the same
// digits (both round correctly); the latter is several times faster.
size_t formatFloatingInto(char (&buffer)[kFloatingBuffer], double value) {
  if (std::isfinite(value)) {
    auto result = std::to_chars(buffer, buffer + sizeof(buffer) - 1, value, std::chars_format::fixed, 6);
    *result.ptr = '\0';
  } else {
    snprintf(buffer, sizeof(buffer), "%f", value);
  }
  modeltext::trimNumeric(buffer);
  return strlen(buffer);
}

char* formatFloating(double value) {
  char buffer[kFloatingBuffer];
  formatFloatingInto(buffer, value);
  return dupText(buffer);
}

char* formatDate(long long ms) {
  // Floor division keeps dates before 1970 right: -1 ms is 23:59:59.999 of
  // the day before, not a negative millisecond count.
  long long seconds = ms / 1000;
  long long millis = ms % 1000;
  if (millis < 0) {
    millis += 1000;
    seconds -= 1;
  }
  time_t t = (time_t)seconds;
  struct tm tm;
  if (!gmtime_r(&t, &tm)) {
    char buffer[32];
    snprintf(buffer, sizeof(buffer), "%lld", ms);
    return dupText(buffer);
  }
  char buffer[96];
  snprintf(buffer, sizeof(buffer), "\"%04d-%02d-%02dT%02d:%02d:%02d.%03dZ\"", tm.tm_year + 1900, tm.tm_mon + 1,
           tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, (int)millis);
  return dupText(buffer);
}

// Bytes copied unchanged: printable ASCII except the quote and the backslash.
struct PlainTable {
  bool plain[256];
  constexpr PlainTable() : plain() {
    for (int c = 0x20; c < 0x7F; c++) plain[c] = c != '"' && c != '\\';
  }
};
constexpr PlainTable kPlain;

const char kHex[] = "0123456789ABCDEF";

}  // namespace

char* escapeJSONText(const char* text) {
  StringBuilder out;
  appendEscapedJSON(out, text);
  return out.take();
}

void appendEscapedJSON(StringBuilder& out, const char* text) {
  size_t n = strlen(text);
  const auto* p = reinterpret_cast<const unsigned char*>(text);
  const auto* end = p + n;
  (void)out.reserve(n + n / 8 + 2);
  out.append('"');
  while (p < end) {
    const unsigned char* run = p;
    while (p < end && kPlain.plain[*p]) p++;
    if (p > run) out.append(reinterpret_cast<const char*>(run), (size_t)(p - run));
    if (p >= end) break;
    int length;
    unsigned cp = modeltext::decodeUtf8(p, end, &length);
    p += length;
    char* at = out.reserve(10);
    size_t k = 0;
    at[k++] = '\\';
    switch (cp) {
      case '"': at[k++] = '"'; break;
      case '\\': at[k++] = '\\'; break;
      case 7: at[k++] = 'a'; break;
      case 8: at[k++] = 'b'; break;
      case 9: at[k++] = 't'; break;
      case 10: at[k++] = 'n'; break;
      case 12: at[k++] = 'f'; break;
      case 13: at[k++] = 'r'; break;
      default:
        if (cp < 0x20 || cp == 0x7F) {
          at[k++] = 'x';
          if (cp >= 0x10) at[k++] = kHex[cp >> 4];
          at[k++] = kHex[cp & 0xF];
        } else if (cp <= 0xFFFF) {
          at[k++] = 'u';
          for (int shift = 12; shift >= 0; shift -= 4) at[k++] = kHex[(cp >> shift) & 0xF];
        } else {
          at[k++] = 'U';
          for (int shift = 28; shift >= 0; shift -= 4) at[k++] = kHex[(cp >> shift) & 0xF];
        }
        break;
    }
    out.commit(k);
  }
  out.append('"');
}

void appendItemText(StringBuilder& out, Any* value, Parser* parser) {
  if (!value) {
    out.append("null", 4);
    return;
  }
  if (!value->isOpaque()) {
    // The common kinds are written in place; the text is the one toItemText
    // gives, without a text of its own per value.
    char buffer[kFloatingBuffer];
    switch (value->getType()) {
      case ANY_NULL:
        out.append("null", 4);
        return;
      case ANY_UNDEFINED:
        out.append("undefined", 9);
        return;
      case ANY_BOOL:
        value->getBool() ? out.append("true", 4) : out.append("false", 5);
        return;
      case ANY_INT32: {
        auto result = std::to_chars(buffer, buffer + sizeof(buffer), value->getInt32());
        out.append(buffer, (size_t)(result.ptr - buffer));
        return;
      }
      case ANY_INT64: {
        if (value->getSubtype() == ANY_SUBTYPE_DATE) break;
        auto result = std::to_chars(buffer, buffer + sizeof(buffer), value->getInt64());
        out.append(buffer, (size_t)(result.ptr - buffer));
        return;
      }
      case ANY_FLOAT:
        out.append(buffer, formatFloatingInto(buffer, (double)value->getFloat()));
        return;
      case ANY_DOUBLE:
        out.append(buffer, formatFloatingInto(buffer, value->getDouble()));
        return;
      case ANY_STRING:
        if (value->getString()) {
          appendEscapedJSON(out, value->getString());
        } else {
          out.append("null", 4);
        }
        return;
      default:
        break;
    }
  }
  // A set or array referenced from here writes itself in place too.
  if (!value->isOpaque() && value->getType() == ANY_REF) {
    // (Checked by class: a prototype may report the same object id.)
    Translatable* target = value->getRefTarget();
    int id = target ? target->getObjectID() : 0;
    if (id == OBJ_ATTRIBUTES_ID) {
      if (auto* set = dynamic_cast<Attributes*>(target)) {
        set->appendText(out, parser);
        return;
      }
    } else if (id == OBJ_ANYARRAY_ID) {
      if (auto* array = dynamic_cast<AnyArray*>(target)) {
        array->appendText(out, parser);
        return;
      }
    }
  }
  char* text = value->toItemText(parser);
  out.append(text ? text : "null");
  free(text);
}

char* Any::escapeJSONString() const {
  const char* text = getType() == ANY_STRING ? getString() : nullptr;
  return text ? escapeJSONText(text) : nullptr;
}

char* Any::toString(Parser* parser) {
  if (opaque_) {
    Translatable* object;
    if (!getObject(&object) || !object) return nullptr;
    return object->toString(parser);
  }
  switch (getType()) {
    case ANY_NULL:
      return dupText("null");
    case ANY_UNDEFINED:
      return dupText("undefined");
    case ANY_BOOL:
      return dupText(v_.b ? "true" : "false");
    case ANY_INT32: {
      // to_chars writes what "%d" would, without the format machinery
      // (numbers are turned into text on every `"text" + n`).
      char buffer[16];
      *std::to_chars(buffer, buffer + sizeof(buffer) - 1, v_.i32).ptr = '\0';
      return dupText(buffer);
    }
    case ANY_INT64: {
      if (getSubtype() == ANY_SUBTYPE_DATE) return formatDate(v_.i64);
      char buffer[24];
      *std::to_chars(buffer, buffer + sizeof(buffer) - 1, v_.i64).ptr = '\0';
      return dupText(buffer);
    }
    case ANY_FLOAT:
      return formatFloating((double)v_.f);
    case ANY_DOUBLE:
      return formatFloating(v_.d);
    case ANY_STRING:
      return escapeJSONString();
    case ANY_CHAR: {
      if (!v_.s) return nullptr;
      StringBuilder out;
      out.append('\'');
      out.append(v_.s);
      out.append('\'');
      return out.take();
    }
    case ANY_REF: {
      Translatable* target = getRefTarget();
      return target ? target->toString(parser) : dupText("null");
    }
    default: {
      Translatable* object = getHeldObject();
      return object ? object->toString(parser) : nullptr;
    }
  }
}

char* Any::toItemText(Parser* parser) {
  Translatable* object = nullptr;
  if (opaque_) {
    if (!getObject(&object) || !object) return nullptr;
  } else if (getType() == ANY_REF) {
    object = getRefTarget();
    if (!object) return dupText("null");
  } else {
    object = getHeldObject();
  }
  return object ? object->toItemText(parser) : toString(parser);
}

char* Any::toJSON(Parser* parser) {
  if (opaque_) return toString(parser);
  switch (getType()) {
    case ANY_STRING: {
      if (!v_.s) return nullptr;
      StringBuilder out;
      out.append('"');
      out.append(v_.s);
      out.append('"');
      return out.take();
    }
    case ANY_REF: {
      Translatable* target = getRefTarget();
      return target ? target->toJSON(parser) : dupText("null");
    }
    default:
      return toString(parser);
  }
}
