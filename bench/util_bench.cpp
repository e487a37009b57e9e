// The data utilities' hot paths side by side with their references:
// - rolling the weak checksum one byte at a time over 256 MB, looking at
//   every window's digest: a byte per call (roll, digest) and a run of 1024
//   digests per call (rollDigests, with each of its kernels), against
//   librsync's rolling sum (its RollsumRotate step, reproduced here over the
//   same data since the library's public header has no rolling call) and
//   against zlib's adler32 over the same bytes (a block sum, not rolling: the
//   ceiling for touching every byte once);
// - writing and reading one day of statistics (8,640 entries of 50 rows) as
//   a file, and as the buffer form alone.
//   build/bin/bench_util --benchmark_min_time=0.5
//   build/bin/bench_util --benchmark_filter='Roll|Adler32' --benchmark_min_time=0.5
// Rates are of CPU time; the statistics rates count the bytes of the buffer
// form (what gzip is handed), not of the smaller compressed file.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "testing/test_util.h"
#include "util/adler.h"
#include "util/stats_file.h"

namespace {

constexpr size_t kRollBytes = 256u << 20;
constexpr uint32_t kWindow = 2048;

const std::vector<unsigned char>& data() {
  static const std::vector<unsigned char> d = [] {
    std::vector<unsigned char> v(kRollBytes + kWindow);
    uint64_t x = 0x9e3779b97f4a7c15ull;
    for (auto& c : v) {
      x ^= x << 13;
      x ^= x >> 7;
      x ^= x << 17;
      c = static_cast<unsigned char>(x);
    }
    return v;
  }();
  return d;
}

// librsync's rolling sum: s1 and s2 with a character offset of 31, rotated
// by one byte as its RollsumRotate does.
struct Rollsum {
  uint32_t count, s1, s2;
};
constexpr uint32_t kRollsumCharOffset = 31;
inline void RollsumUpdate(Rollsum* sum, const unsigned char* p, size_t n) {
  uint32_t s1 = sum->s1, s2 = sum->s2;
  for (size_t i = 0; i < n; ++i) {
    s1 += p[i] + kRollsumCharOffset;
    s2 += s1;
  }
  sum->s1 = s1;
  sum->s2 = s2;
  sum->count += static_cast<uint32_t>(n);
}
inline void RollsumRotate(Rollsum* sum, unsigned char out, unsigned char in) {
  sum->s1 += in - out;
  sum->s2 += sum->s1 - sum->count * (out + kRollsumCharOffset);
}
inline uint32_t RollsumDigest(const Rollsum* sum) { return (sum->s2 << 16) | (sum->s1 & 0xffff); }

void BM_RollAdlerRoller(benchmark::State& state) {
  const auto& d = data();
  for (auto _ : state) {
    AdlerRoller r(0x5eed, kWindow);
    r.reset(d.data());
    uint32_t acc = 0;
    for (size_t i = 0; i < kRollBytes; ++i) {
      r.roll(d[i], d[i + kWindow]);
      acc += r.digest();  // every window's value is looked at, as matching does
    }
    benchmark::DoNotOptimize(acc);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kRollBytes);
}
BENCHMARK(BM_RollAdlerRoller)->Unit(benchmark::kMillisecond);

// The digests of runs of kRun windows at a time, as block matching takes
// them, with the kernel given (0 the best the processor has, 1 the portable
// loop, 2 AVX2, 3 AVX-512).
constexpr size_t kRun = 1024;
void BM_RollAdlerRollerRuns(benchmark::State& state) {
  auto kernel = static_cast<AdlerRoller::Kernel>(state.range(0));
  if (!AdlerRoller::useKernel(kernel)) {
    state.SkipWithError("the processor lacks these instructions");
    return;
  }
  const auto& d = data();
  std::vector<uint32_t> digests(kRun);
  for (auto _ : state) {
    AdlerRoller r(0x5eed, kWindow);
    r.reset(d.data());
    uint32_t acc = 0;
    for (size_t at = 0; at < kRollBytes; at += kRun) {
      r.rollDigests(d.data() + at, kRun, digests.data());
      for (uint32_t v : digests) acc += v;  // every window's value is looked at
    }
    benchmark::DoNotOptimize(acc);
  }
  static const char* const kNames[] = {"auto", "portable", "avx2", "avx512"};
  state.SetLabel(kNames[static_cast<int>(AdlerRoller::kernelInUse())]);
  (void)AdlerRoller::useKernel(AdlerRoller::Kernel::kAuto);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kRollBytes);
}
BENCHMARK(BM_RollAdlerRollerRuns)->ArgName("kernel")->Arg(0)->Arg(1)->Arg(2)->Arg(3)->Unit(benchmark::kMillisecond);

void BM_RollAdlerUpdate(benchmark::State& state) {
  const auto& d = data();
  adler_setSeed(0x5eed);
  for (auto _ : state) {
    _ADLER st;
    adler_Init(&st);
    adler_Update(&st, d.data(), kWindow);
    uint32_t acc = 0;
    for (size_t i = 0; i < kRollBytes; ++i) {
      adler_Update(&st, d[i], d[i + kWindow], kWindow);
      acc += adler_Final(&st);
    }
    benchmark::DoNotOptimize(acc);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kRollBytes);
}
BENCHMARK(BM_RollAdlerUpdate)->Unit(benchmark::kMillisecond);

void BM_RollLibrsyncRollsum(benchmark::State& state) {
  const auto& d = data();
  for (auto _ : state) {
    Rollsum sum{0, 0, 0};
    RollsumUpdate(&sum, d.data(), kWindow);
    uint32_t acc = 0;
    for (size_t i = 0; i < kRollBytes; ++i) {
      RollsumRotate(&sum, d[i], d[i + kWindow]);
      acc += RollsumDigest(&sum);
    }
    benchmark::DoNotOptimize(acc);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kRollBytes);
}
BENCHMARK(BM_RollLibrsyncRollsum)->Unit(benchmark::kMillisecond);

void BM_ZlibAdler32Block(benchmark::State& state) {
  const auto& d = data();
  for (auto _ : state) {
    uLong a = adler32(0L, Z_NULL, 0);
    for (size_t at = 0; at < kRollBytes; at += 1u << 20) a = adler32(a, d.data() + at, 1u << 20);
    benchmark::DoNotOptimize(a);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kRollBytes);
}
BENCHMARK(BM_ZlibAdler32Block)->Unit(benchmark::kMillisecond);

// One day at ten-second steps, 50 rows of four data each.
const StatsFile& day() {
  static const StatsFile f = [] {
    StatsFile s;
    for (int e = 0; e < 8640; ++e) {
      StatEntry entry(1767225600 + e * 10);
      entry.rows.reserve(50);
      for (int r = 0; r < 50; ++r) {
        entry.addRow(StatRow(r % 8, r, (r % 2) != 0 ? "filesystem /var" : "cpu",
                             {StatData::ofLong(e * 37 + r), StatData::ofDouble(e * 0.25 + r),
                              StatData::ofLong(1000000 + e), StatData::ofDouble(r / 3.0)}));
      }
      s.add(std::move(entry));
    }
    return s;
  }();
  return f;
}

void BM_StatsWriteFile(benchmark::State& state) {
  const StatsFile& f = day();
  orvtest::TempDir dir;
  std::string path = dir.file("20260101-000000.stats");
  int64_t bytes = 0;
  for (auto _ : state) {
    int n = f.writeToFile(path.c_str());
    if (n <= 0) state.SkipWithError("write failed");
    bytes += n;
  }
  state.SetBytesProcessed(bytes);  // bytes of the buffer form handed to gzip
}
BENCHMARK(BM_StatsWriteFile)->Unit(benchmark::kMillisecond);

void BM_StatsReadFile(benchmark::State& state) {
  const StatsFile& f = day();
  orvtest::TempDir dir;
  std::string path = dir.file("20260101-000000.stats");
  int n = f.writeToFile(path.c_str());
  for (auto _ : state) {
    std::unique_ptr<StatsFile> back(StatsFile::readFromFile(path.c_str()));
    if (!back || back->entries().size() != 8640) state.SkipWithError("read failed");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * n);
}
BENCHMARK(BM_StatsReadFile)->Unit(benchmark::kMillisecond);

// The compression alone: zlib's gzip at level 9 (what files are written
// with) and at its default level 6, over the same buffer form.
void BM_ZlibGzipSameBytes(benchmark::State& state) {
  std::string b = day().writeToBuffer();
  int level = static_cast<int>(state.range(0));
  std::vector<unsigned char> out(compressBound(b.size()) + 64);
  for (auto _ : state) {
    z_stream zs{};
    deflateInit2(&zs, level, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY);
    zs.next_in = reinterpret_cast<unsigned char*>(b.data());
    zs.avail_in = static_cast<uInt>(b.size());
    zs.next_out = out.data();
    zs.avail_out = static_cast<uInt>(out.size());
    if (deflate(&zs, Z_FINISH) != Z_STREAM_END) state.SkipWithError("deflate failed");
    deflateEnd(&zs);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(b.size()));
}
BENCHMARK(BM_ZlibGzipSameBytes)->Arg(9)->Arg(6)->Unit(benchmark::kMillisecond);

void BM_StatsEncodeBuffer(benchmark::State& state) {
  const StatsFile& f = day();
  int64_t bytes = 0;
  for (auto _ : state) {
    std::string b = f.writeToBuffer();
    bytes += static_cast<int64_t>(b.size());
    benchmark::DoNotOptimize(b.data());
  }
  state.SetBytesProcessed(bytes);
}
BENCHMARK(BM_StatsEncodeBuffer)->Unit(benchmark::kMillisecond);

void BM_StatsDecodeBuffer(benchmark::State& state) {
  std::string b = day().writeToBuffer();
  for (auto _ : state) {
    std::unique_ptr<StatsFile> back(StatsFile::readFromBuffer(b.data(), b.size()));
    if (!back) state.SkipWithError("decode failed");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(b.size()));
}
BENCHMARK(BM_StatsDecodeBuffer)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
