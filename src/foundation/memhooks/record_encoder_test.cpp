#include "foundation/memhooks/record_encoder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

using namespace memtrace;

namespace {

// The expected bytes, spelled out field by field in native (little-endian) order.
struct Bytes {
  std::vector<uint8_t> v;
  Bytes& u8(uint8_t x) {
    v.push_back(x);
    return *this;
  }
  Bytes& u32(uint32_t x) {
    for (int i = 0; i < 4; ++i) v.push_back(static_cast<uint8_t>(x >> (8 * i)));
    return *this;
  }
  Bytes& u64(uint64_t x) {
    for (int i = 0; i < 8; ++i) v.push_back(static_cast<uint8_t>(x >> (8 * i)));
    return *this;
  }
};

TEST(RecordEncoder, ByteLayoutOfEveryKind) {
  void* frames[kMaxFrames + 5];
  for (int i = 0; i < kMaxFrames + 5; ++i) frames[i] = reinterpret_cast<void*>(uintptr_t{0x1000} + i);
  struct Case {
    const char* name;
    std::vector<uint8_t> got;
    std::vector<uint8_t> want;
  };
  auto encode = [](auto fn) {
    uint8_t buf[kMaxAllocRecordBytes + 8];
    std::memset(buf, 0xEE, sizeof buf);
    size_t n = fn(buf);
    EXPECT_EQ(buf[n], 0xEE) << "nothing written past the returned length";
    return std::vector<uint8_t>(buf, buf + n);
  };
  std::vector<Case> cases;
  cases.push_back({"allocation, two frames",
                   encode([&](uint8_t* b) { return encodeAlloc(b, frames, 2, 40, 0x7f0012345678); }),
                   Bytes().u8(1).u32(2).u64(0x1000).u64(0x1001).u64(40).u64(0x7f0012345678).v});
  cases.push_back({"failed allocation, no frames", encode([&](uint8_t* b) { return encodeAlloc(b, frames, 0, ~0ull, 0); }),
                   Bytes().u8(1).u32(0).u64(~0ull).u64(0).v});
  cases.push_back({"release, one frame", encode([&](uint8_t* b) { return encodeRelease(b, frames, 1, 0xabcdef); }),
                   Bytes().u8(2).u32(1).u64(0x1000).u64(0xabcdef).v});
  cases.push_back({"mapping header", encode([&](uint8_t* b) { return encodeMappingHeader(b, 0x400000, 0x401000, 12); }),
                   Bytes().u8(3).u64(0x400000).u64(0x401000).u32(12).v});
  cases.push_back({"message header, three frames",
                   encode([&](uint8_t* b) { return encodeMessageHeader(b, frames, 3, 42); }),
                   Bytes().u8(4).u32(3).u64(0x1000).u64(0x1001).u64(0x1002).u64(42).v});
  cases.push_back({"negative frame count", encode([&](uint8_t* b) { return encodeRelease(b, frames, -4, 1); }),
                   Bytes().u8(2).u32(0).u64(1).v});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.got, c.want);
  }
}

TEST(RecordEncoder, FrameCountIsCappedAtTheTraceDepth) {
  void* frames[kMaxFrames + 5] = {};
  uint8_t buf[kMaxAllocRecordBytes];
  size_t n = encodeAlloc(buf, frames, kMaxFrames + 5, 1, 2);
  EXPECT_EQ(n, kMaxAllocRecordBytes);
  uint32_t count;
  std::memcpy(&count, buf + 1, 4);
  EXPECT_EQ(count, 29u);
}

}  // namespace
