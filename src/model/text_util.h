// Small text helpers shared by the data-model classes. Stateless, thread-safe.
#pragma once

#include <cstddef>

namespace modeltext {

// djb2 over the bytes taken as signed char: h = 5381, h = h*33 + c, with
// 64-bit wrap-around. A null text hashes to 0.
[[nodiscard]] long long hashText(const char* text);

// In a number with a decimal point, removes trailing '0's after the point but
// keeps the first digit after it (2.500000 -> 2.5, 3.000000 -> 3.0).
void trimNumeric(char* number);

// A malloc'd copy of `n` bytes of `text` plus a NUL; aborts when memory is
// exhausted.
[[nodiscard]] char* dupBytes(const char* text, size_t n);
// strdup that aborts when memory is exhausted; null stays null.
[[nodiscard]] char* dup(const char* text);

// One code point of UTF-8 at `p` (before `end`): its value and byte count. A
// byte that does not start a well-formed sequence stands for itself (as in
// Latin-1), so every input gives some output and nothing is read past `end`.
inline unsigned decodeUtf8(const unsigned char* p, const unsigned char* end, int* length) {
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

}  // namespace modeltext
