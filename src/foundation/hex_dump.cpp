#include "foundation/hex_dump.h"

#include <cctype>
#include <cstdio>

#include "foundation/log.h"

namespace {
constexpr size_t kBytesPerLine = 32;
}

std::string hexDumpLine(const unsigned char* bytes, size_t n) {
  static const char digits[] = "0123456789abcdef";
  std::string line;
  line.reserve(kBytesPerLine * 4);
  for (size_t i = 0; i < kBytesPerLine; i++) {
    if (i < n) {
      line += digits[bytes[i] >> 4];
      line += digits[bytes[i] & 0xF];
      line += ' ';
    } else {
      line += "   ";
    }
  }
  for (size_t i = 0; i < n && i < kBytesPerLine; i++) line += isprint(bytes[i]) ? (char)bytes[i] : '.';
  return line;
}

void hex(const void* bytes, int length) {
  const auto* p = static_cast<const unsigned char*>(bytes);
  for (int at = 0; p && at < length; at += (int)kBytesPerLine) {
    size_t n = (size_t)(length - at) < kBytesPerLine ? (size_t)(length - at) : kBytesPerLine;
    printf("%s\n", hexDumpLine(p + at, n).c_str());
  }
  printf("%d bytes...\n", length);
}

void logHex(const void* bytes, int length) {
  const auto* p = static_cast<const unsigned char*>(bytes);
  log(0, "--- %d bytes...", length);
  for (int at = 0; p && at < length; at += (int)kBytesPerLine) {
    size_t n = (size_t)(length - at) < kBytesPerLine ? (size_t)(length - at) : kBytesPerLine;
    log(0, "%s", hexDumpLine(p + at, n).c_str());
  }
  log(0, "---");
}
