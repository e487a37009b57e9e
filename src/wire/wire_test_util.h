// Helpers for the tests of the wire layer: hex texts, the bytes of a message,
// and messages cut into small chunks. Header-only (test code only).
#pragma once

#include <cstdio>
#include <string>

#include "wire/message.h"

namespace wiretest {

// "0B 02 ..." for the bytes of `s`.
inline std::string hex(const std::string& s) {
  std::string r;
  char b[4];
  for (size_t i = 0; i < s.size(); ++i) {
    std::snprintf(b, sizeof b, i ? " %02X" : "%02X", static_cast<unsigned char>(s[i]));
    r += b;
  }
  return r;
}

// The bytes of a hex text; blanks and line breaks are ignored.
inline std::string unhex(const std::string& text) {
  std::string r;
  int high = -1;
  for (char c : text) {
    int v;
    if (c >= '0' && c <= '9') {
      v = c - '0';
    } else if (c >= 'a' && c <= 'f') {
      v = c - 'a' + 10;
    } else if (c >= 'A' && c <= 'F') {
      v = c - 'A' + 10;
    } else {
      continue;
    }
    if (high < 0) {
      high = v;
    } else {
      r += static_cast<char>(high * 16 + v);
      high = -1;
    }
  }
  return r;
}

// Every byte the message still holds, in order.
inline std::string bytesOf(const MessageBase& m) {
  std::string r;
  for (const MessageChunk* c = m.firstChunk(); c != nullptr; c = c->next) r.append(c->data, c->used);
  return r;
}

// The items of a message being written (without its frame header).
inline std::string payload(const Message& m) { return bytesOf(m).substr(Message::kHeaderSize); }

// Fills an empty mode-2 message with `data` in chunks of `chunk` bytes.
inline void readerOf(Message& m, const std::string& data, size_t chunk) {
  for (size_t at = 0; at < data.size(); at += chunk) {
    size_t n = data.size() - at < chunk ? data.size() - at : chunk;
    m.appendBytes(data.data() + at, n);
  }
}

}  // namespace wiretest
