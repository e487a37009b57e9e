// Big-endian conversion of the numbers that follow item tags. Stateless.
#pragma once

#include <cstdint>
#include <cstring>

namespace wire {

inline void put32(unsigned char* p, uint32_t v) {
  p[0] = static_cast<unsigned char>(v >> 24);
  p[1] = static_cast<unsigned char>(v >> 16);
  p[2] = static_cast<unsigned char>(v >> 8);
  p[3] = static_cast<unsigned char>(v);
}

inline void put64(unsigned char* p, uint64_t v) {
  put32(p, static_cast<uint32_t>(v >> 32));
  put32(p + 4, static_cast<uint32_t>(v));
}

inline uint32_t get32(const unsigned char* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | uint32_t{p[3]};
}

inline uint64_t get64(const unsigned char* p) { return (uint64_t{get32(p)} << 32) | get32(p + 4); }

inline uint32_t floatBits(float f) {
  uint32_t v;
  std::memcpy(&v, &f, 4);
  return v;
}

inline uint64_t doubleBits(double d) {
  uint64_t v;
  std::memcpy(&v, &d, 8);
  return v;
}

inline float bitsFloat(uint32_t v) {
  float f;
  std::memcpy(&f, &v, 4);
  return f;
}

inline double bitsDouble(uint64_t v) {
  double d;
  std::memcpy(&d, &v, 8);
  return d;
}

}  // namespace wire
