// The trace reader and summary of orvmemtrace, on traces built here with the
// hooks' own encoder.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "foundation/memhooks/maps_scanner.h"
#include "foundation/memhooks/record_encoder.h"
#include "symbolizer.h"
#include "trace_reader.h"
#include "trace_summary.h"

using namespace memtrace;

extern "C" __attribute__((noinline)) int memhooks_symbolizer_probe(int x) { return x * 3 + 1; }

namespace {

class TraceBuilder {
 public:
  TraceBuilder& alloc(std::vector<uint64_t> frames, uint64_t size, uint64_t address) {
    uint8_t buf[kMaxAllocRecordBytes];
    auto f = toPointers(frames);
    append(buf, encodeAlloc(buf, f.data(), static_cast<int>(f.size()), size, address));
    return *this;
  }
  TraceBuilder& release(std::vector<uint64_t> frames, uint64_t address) {
    uint8_t buf[kMaxAllocRecordBytes];
    auto f = toPointers(frames);
    append(buf, encodeRelease(buf, f.data(), static_cast<int>(f.size()), address));
    return *this;
  }
  TraceBuilder& message(std::vector<uint64_t> frames, const std::string& text) {
    uint8_t buf[kMaxAllocRecordBytes];
    auto f = toPointers(frames);
    append(buf, encodeMessageHeader(buf, f.data(), static_cast<int>(f.size()), text.size()));
    bytes += text;
    return *this;
  }
  TraceBuilder& mapping(uint64_t start, uint64_t end, const std::string& path) {
    uint8_t buf[kMappingHeaderBytes];
    append(buf, encodeMappingHeader(buf, start, end, static_cast<uint32_t>(path.size())));
    bytes += path;
    return *this;
  }
  std::string bytes;

 private:
  static std::vector<void*> toPointers(const std::vector<uint64_t>& frames) {
    std::vector<void*> v;
    for (uint64_t f : frames) v.push_back(reinterpret_cast<void*>(f));
    return v;
  }
  void append(const uint8_t* p, size_t n) { bytes.append(reinterpret_cast<const char*>(p), n); }
};

std::vector<TraceRecord> readAll(const std::string& bytes, TraceReader::Status* end, std::string* error) {
  std::istringstream in(bytes);
  TraceReader reader(in);
  std::vector<TraceRecord> records;
  TraceRecord r;
  TraceReader::Status s;
  while ((s = reader.next(&r)) == TraceReader::Status::kRecord) records.push_back(r);
  *end = s;
  *error = reader.error();
  EXPECT_EQ(reader.next(&r), s) << "the reader stays where it stopped";
  return records;
}

TEST(TraceReader, ReadsEveryKind) {
  TraceBuilder t;
  t.mapping(0x400000, 0x401000, "/bin/x").alloc({0x400010, 0x400020}, 40, 0x1000).message({0x400030}, "hello");
  t.release({}, 0x1000);
  TraceReader::Status end;
  std::string error;
  auto records = readAll(t.bytes, &end, &error);
  ASSERT_EQ(end, TraceReader::Status::kEnd);
  ASSERT_EQ(records.size(), 4u);
  EXPECT_EQ(records[0].kind, kRecordMapping);
  EXPECT_EQ(records[0].start, 0x400000u);
  EXPECT_EQ(records[0].end, 0x401000u);
  EXPECT_EQ(records[0].text, "/bin/x");
  EXPECT_EQ(records[1].kind, kRecordAlloc);
  EXPECT_EQ(records[1].offset, 1u + 8 + 8 + 4 + 6);
  EXPECT_EQ(records[1].frames, (std::vector<uint64_t>{0x400010, 0x400020}));
  EXPECT_EQ(records[1].size, 40u);
  EXPECT_EQ(records[1].address, 0x1000u);
  EXPECT_EQ(records[2].kind, kRecordMessage);
  EXPECT_EQ(records[2].text, "hello");
  EXPECT_EQ(records[3].kind, kRecordRelease);
  EXPECT_TRUE(records[3].frames.empty());
}

// Cut anywhere, a trace gives the whole records before the cut and names the
// offset of the record that was cut.
TEST(TraceReader, TruncationAtEveryOffset) {
  TraceBuilder t;
  t.mapping(0x400000, 0x401000, "/bin/x").alloc({0x400010, 0x400020}, 40, 0x1000).message({0x400030}, "hello");
  t.release({0x1}, 0x1000);
  std::vector<uint64_t> starts = {0};
  {
    TraceReader::Status end;
    std::string error;
    for (const TraceRecord& r : readAll(t.bytes, &end, &error)) starts.push_back(r.offset);
    starts.erase(starts.begin());
  }
  for (size_t cut = 0; cut < t.bytes.size(); ++cut) {
    SCOPED_TRACE(cut);
    TraceReader::Status end;
    std::string error;
    auto records = readAll(t.bytes.substr(0, cut), &end, &error);
    auto boundary = std::find(starts.begin(), starts.end(), cut);
    if (cut == 0 || boundary != starts.end()) {
      EXPECT_EQ(end, TraceReader::Status::kEnd);
      EXPECT_EQ(records.size(), cut == 0 ? 0u : static_cast<size_t>(boundary - starts.begin()));
      continue;
    }
    ASSERT_EQ(end, TraceReader::Status::kTruncated);
    ASSERT_LT(records.size(), starts.size());
    EXPECT_NE(error.find("truncated"), std::string::npos) << error;
    EXPECT_NE(error.find("at offset " + std::to_string(starts[records.size()])), std::string::npos) << error;
  }
}

TEST(TraceReader, DamageIsReportedNotBelieved) {
  struct Case {
    const char* name;
    std::string bytes;
    const char* want;
  };
  std::string hugeFrames("\x01\xff\xff\xff\x7f", 5);
  std::string hugeText = std::string("\x04\x00\x00\x00\x00", 5) + std::string("\xff\xff\xff\xff\xff\xff\x00\x00", 8);
  std::string hugePath = std::string("\x03", 1) + std::string(16, '\0') + std::string("\xff\xff\xff\x00", 4);
  const Case cases[] = {
      {"unknown marker", std::string("\x09", 1), "unknown record marker 0x09 at offset 0"},
      {"marker zero after a record", TraceBuilder().release({}, 1).bytes + std::string("\0", 1),
       "unknown record marker 0x00 at offset 13"},
      {"frame count beyond any stack", hugeFrames, "frame count 2147483647 at offset 0"},
      {"text length beyond any message", hugeText, "text length 281474976710655 at offset 0"},
      {"path length beyond any path", hugePath, "path length 16777215 at offset 0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TraceReader::Status end;
    std::string error;
    (void)readAll(c.bytes, &end, &error);
    EXPECT_EQ(end, TraceReader::Status::kDamaged);
    EXPECT_NE(error.find(c.want), std::string::npos) << error;
  }
}

TEST(TraceSummary, LiveBlocksViolationsAndCounts) {
  TraceBuilder t;
  t.alloc({0xa1}, 100, 0x1000).alloc({0xa1}, 100, 0x2000).alloc({0xb1}, 7, 0x3000);
  t.release({0xc1}, 0x3000).message({0xc1}, "POSTGUARD was destroyed. Detected in free()");
  t.release({0xc2}, 0x9000);  // allocated before the trace
  t.alloc({0xd1}, 5, 0);      // failed
  t.message({0xe1}, "PREGUARD was destroyed. Detected in free()");  // after no release
  TraceReader::Status end;
  std::string error;
  TraceSummary s;
  for (const TraceRecord& r : readAll(t.bytes, &end, &error)) s.add(r);
  const auto& c = s.counts();
  EXPECT_EQ(c.allocations, 3u);
  EXPECT_EQ(c.failedAllocations, 1u);
  EXPECT_EQ(c.releases, 2u);
  EXPECT_EQ(c.releasesOfUnknownBlocks, 1u);
  EXPECT_EQ(c.messages, 2u);
  EXPECT_EQ(c.liveBlocks, 2u);
  EXPECT_EQ(c.liveBytes, 200u);
  EXPECT_EQ(c.peakLiveBytes, 207u);
  auto groups = s.liveByStack();
  ASSERT_EQ(groups.size(), 1u);
  EXPECT_EQ(groups.begin()->second.count, 2u);
  EXPECT_EQ(groups.begin()->second.bytes, 200u);
  ASSERT_EQ(s.violations().size(), 2u);
  const auto& v = s.violations()[0];
  EXPECT_TRUE(v.blockKnown);
  EXPECT_TRUE(v.sizeKnown);
  EXPECT_EQ(v.address, 0x3000u);
  EXPECT_EQ(v.size, 7u);
  EXPECT_EQ(s.stack(v.allocStack), std::vector<uint64_t>{0xb1});
  EXPECT_EQ(s.stack(v.releaseStack), std::vector<uint64_t>{0xc1});
  EXPECT_FALSE(s.violations()[1].blockKnown);

  Symbolizer sym;
  std::ostringstream out;
  s.print(out, sym, TraceSummary::Options{});
  EXPECT_NE(out.str().find("live blocks: 2 blocks, 200 bytes"), std::string::npos) << out.str();
  EXPECT_NE(out.str().find("guard violations: 2"), std::string::npos);
  EXPECT_NE(out.str().find("block 0x3000 of 7 bytes"), std::string::npos);
}

// Frames of this very program resolve to its function names through its own
// mapping records; with symbols off, to module+offset.
TEST(Symbolizer, ResolvesThroughMappingRecords) {
  Symbolizer sym;
  struct Ctx {
    Symbolizer* s;
  } ctx{&sym};
  ASSERT_TRUE(scanOwnMaps(
      [](void* c, const MapsLine& m) {
        if (m.executable) static_cast<Ctx*>(c)->s->addMapping(m.start, m.end, std::string(m.path, m.pathLength));
      },
      &ctx));
  uint64_t pc = reinterpret_cast<uintptr_t>(&memhooks_symbolizer_probe) + 4;
  std::string d = sym.describe(pc);
  EXPECT_NE(d.find("memhooks_symbolizer_probe+0x4 (/"), std::string::npos) << d;
  EXPECT_NE(d.find("memhooks_tests)"), std::string::npos) << d;
  Symbolizer::Frame f = sym.resolve(pc);
  EXPECT_TRUE(f.mapped);

  Symbolizer bare;
  bare.setUseSymbols(false);
  bare.addMapping(pc & ~uint64_t{0xfff}, pc + 0x1000, "/nonexistent/module.so");
  std::string b = bare.describe(pc);
  EXPECT_EQ(b.rfind("/nonexistent/module.so+0x", 0), 0u) << b;
  EXPECT_EQ(sym.describe(0x10), "0x10");
}

}  // namespace
