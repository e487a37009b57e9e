#include "kel/value_args.h"

namespace valueargs {

int decodeCodePoint(std::string_view s, size_t at, int* length) {
  auto byte = [&](size_t i) { return static_cast<unsigned char>(s[i]); };
  unsigned c = byte(at);
  int n = c < 0x80 ? 1 : c >= 0xC2 && c <= 0xDF ? 2 : c >= 0xE0 && c <= 0xEF ? 3 : c >= 0xF0 && c <= 0xF4 ? 4 : 0;
  if (n == 0 || at + n > s.size()) {
    *length = 1;
    return -1;
  }
  unsigned cp = n == 1 ? c : n == 2 ? (c & 0x1F) : n == 3 ? (c & 0x0F) : (c & 0x07);
  for (int k = 1; k < n; k++) {
    unsigned b = byte(at + k);
    if ((b & 0xC0) != 0x80) {
      *length = 1;
      return -1;
    }
    cp = (cp << 6) | (b & 0x3F);
  }
  if ((n == 3 && cp < 0x800) || (n == 4 && (cp < 0x10000 || cp > 0x10FFFF)) || (cp >= 0xD800 && cp <= 0xDFFF)) {
    *length = 1;
    return -1;
  }
  *length = n;
  return static_cast<int>(cp);
}

void codePointOffsets(std::string_view s, std::basic_string<size_t>* offsets) {
  offsets->clear();
  size_t at = 0;
  while (at < s.size()) {
    offsets->push_back(at);
    int length;
    (void)decodeCodePoint(s, at, &length);
    at += static_cast<size_t>(length);
  }
  offsets->push_back(s.size());
}

}  // namespace valueargs
