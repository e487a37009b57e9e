#include "foundation/url_encode.h"

#include <cstdlib>
#include <cstring>

char* urlEncode(const char* text) {
  if (!text) return nullptr;
  static const char hex[] = "0123456789abcdef";
  size_t n = strlen(text);
  char* out = static_cast<char*>(malloc(n * 3 + 1));
  if (!out) return nullptr;
  char* o = out;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; p++) {
    unsigned char c = *p;
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '~' || c == '_' ||
        c == '-' || c == '.') {
      *o++ = (char)c;
    } else if (c == ' ') {
      *o++ = '+';
    } else {
      *o++ = '%';
      *o++ = hex[c >> 4];
      *o++ = hex[c & 0xF];
    }
  }
  *o = '\0';
  return out;
}
