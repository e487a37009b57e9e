#include "kel/kel_escape.h"

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

const char kHex[] = "0123456789ABCDEF";

// The code point at `p` (its byte count in *length); a byte that does not
// start a well-formed sequence counts as itself. Reads nothing at or past
// `end`.
unsigned decode(const unsigned char* p, const unsigned char* end, int* length) {
  unsigned c = p[0];
  auto cont = [&](int i) { return p + i < end && (p[i] & 0xC0) == 0x80; };
  if (c >= 0xC2 && c <= 0xDF && cont(1)) {
    *length = 2;
    return ((c & 0x1F) << 6) | (p[1] & 0x3F);
  }
  if (c >= 0xE0 && c <= 0xEF && cont(1) && cont(2)) {
    unsigned cp = ((c & 0x0F) << 12) | ((p[1] & 0x3Fu) << 6) | (p[2] & 0x3F);
    if (cp >= 0x800) {
      *length = 3;
      return cp;
    }
  }
  if (c >= 0xF0 && c <= 0xF4 && cont(1) && cont(2) && cont(3)) {
    unsigned cp = ((c & 0x07) << 18) | ((p[1] & 0x3Fu) << 12) | ((p[2] & 0x3Fu) << 6) | (p[3] & 0x3F);
    if (cp >= 0x10000 && cp <= 0x10FFFF) {
      *length = 4;
      return cp;
    }
  }
  *length = 1;
  return c;
}

void hex(std::string& out, unsigned value, int digits) {
  for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4) out += kHex[(value >> shift) & 0xF];
}

}  // namespace

char* kel_escape(const char* text) {
  if (text == nullptr) return nullptr;
  size_t n = std::strlen(text);
  const auto* p = reinterpret_cast<const unsigned char*>(text);
  const auto* end = p + n;
  std::string out;
  out.reserve(n + 10);
  while (p < end) {
    unsigned c = *p;
    if (c >= 0x20 && c < 0x7F) {
      if (c == '"' || c == '\\') out += '\\';
      out += static_cast<char>(c);
      p++;
      continue;
    }
    int length;
    unsigned cp = decode(p, end, &length);
    p += length;
    switch (cp) {
      case '\n': out += "\\n"; continue;
      case '\t': out += "\\t"; continue;
      case '\r': out += "\\r"; continue;
      case '\b': out += "\\b"; continue;
      case '\f': out += "\\f"; continue;
      case '\v': out += "\\v"; continue;
      case '\a': out += "\\a"; continue;
      default: break;
    }
    if (cp < 0x20 || cp == 0x7F) {
      // Always two digits: "\x1" followed by a hexadecimal digit would
      // read back as one other character.
      out += "\\x";
      hex(out, cp, 2);
    } else if (cp <= 0xFFFF) {
      out += "\\u";
      hex(out, cp, 4);
    } else {
      out += "\\U";
      hex(out, cp, 8);
    }
  }
  return strdup(out.c_str());
}

void kel_escape_free(char* text) { std::free(text); }
