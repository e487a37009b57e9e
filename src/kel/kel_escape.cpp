#include "kel/kel_escape.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include "model/text_util.h"

namespace {

const char kHex[] = "0123456789ABCDEF";

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
    unsigned cp = modeltext::decodeUtf8(p, end, &length);
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
