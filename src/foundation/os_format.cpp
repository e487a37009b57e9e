#include "foundation/os_format.h"

#include <cstdio>
#include <cstring>

extern "C" int s_format_number(char* dst, size_t len, long long value) {
  if (dst == nullptr || len == 0) return -1;
  // Work on the magnitude as unsigned so that the most negative value has one.
  unsigned long long magnitude =
      value < 0 ? 0ull - static_cast<unsigned long long>(value) : static_cast<unsigned long long>(value);
  unsigned groups[8];  // 2^64 has 20 digits: seven groups at most
  int count = 0;
  do {
    groups[count++] = static_cast<unsigned>(magnitude % 1000);
    magnitude /= 1000;
  } while (magnitude != 0);
  char text[40];
  int n = std::snprintf(text, sizeof(text), "%s%u", value < 0 ? "-" : "", groups[count - 1]);
  for (int i = count - 2; i >= 0; i--) n += std::snprintf(text + n, sizeof(text) - n, ",%03u", groups[i]);
  if (static_cast<size_t>(n) + 1 > len) {
    dst[0] = '\0';
    return -1;
  }
  std::memcpy(dst, text, static_cast<size_t>(n) + 1);
  return n;
}

extern "C" char* trimNumeric(char* str) {
  if (str == nullptr) return str;
  char* point = std::strchr(str, '.');
  if (point == nullptr) return str;
  size_t n = std::strlen(str);
  char* keep = point + 1;  // the first digit after the point always stays
  if (*keep == '\0') return str;
  char* end = str + n - 1;
  while (end > keep && *end == '0') *end-- = '\0';
  return str;
}

extern "C" int64_t makeHash(const char* str) {
  uint64_t h = 1125899906842597ull;
  if (str != nullptr) {
    for (const char* p = str; *p; p++) h = h * 31 + static_cast<uint64_t>(static_cast<int64_t>(*p - '0'));
  }
  return static_cast<int64_t>(h);
}

extern "C" int64_t getHashValue(const char* str) {
  uint64_t h = 5381;
  if (str != nullptr) {
    for (const char* p = str; *p; p++) {
      h = h * 33 + static_cast<uint64_t>(static_cast<int64_t>(static_cast<signed char>(*p)));
    }
  }
  return static_cast<int64_t>(h);
}
