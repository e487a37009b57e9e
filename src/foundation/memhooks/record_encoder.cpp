#include "foundation/memhooks/record_encoder.h"

#include <cstring>

namespace memtrace {
namespace {

template <typename T>
uint8_t* put(uint8_t* out, T value) {
  std::memcpy(out, &value, sizeof value);
  return out + sizeof value;
}

uint8_t* putFrames(uint8_t* out, uint8_t marker, void* const* frames, int count) {
  if (count < 0) count = 0;
  if (count > kMaxFrames) count = kMaxFrames;
  *out++ = marker;
  out = put<uint32_t>(out, static_cast<uint32_t>(count));
  for (int i = 0; i < count; ++i) out = put<uint64_t>(out, reinterpret_cast<uintptr_t>(frames[i]));
  return out;
}

}  // namespace

size_t encodeAlloc(uint8_t* out, void* const* frames, int count, uint64_t size, uint64_t address) {
  uint8_t* p = putFrames(out, kRecordAlloc, frames, count);
  p = put<uint64_t>(p, size);
  p = put<uint64_t>(p, address);
  return static_cast<size_t>(p - out);
}

size_t encodeRelease(uint8_t* out, void* const* frames, int count, uint64_t address) {
  uint8_t* p = putFrames(out, kRecordRelease, frames, count);
  p = put<uint64_t>(p, address);
  return static_cast<size_t>(p - out);
}

size_t encodeMessageHeader(uint8_t* out, void* const* frames, int count, uint64_t textLength) {
  uint8_t* p = putFrames(out, kRecordMessage, frames, count);
  p = put<uint64_t>(p, textLength);
  return static_cast<size_t>(p - out);
}

size_t encodeMappingHeader(uint8_t* out, uint64_t start, uint64_t end, uint32_t pathLength) {
  uint8_t* p = out;
  *p++ = kRecordMapping;
  p = put<uint64_t>(p, start);
  p = put<uint64_t>(p, end);
  p = put<uint32_t>(p, pathLength);
  return static_cast<size_t>(p - out);
}

}  // namespace memtrace
