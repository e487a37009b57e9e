// The seeded Adler-style checksum of block-matching transfers, which rolls
// over a window one byte at a time, and the MD5 digest that confirms a weak
// match. Both ends of a transfer must use the same seed.
// Thread-safe: the seed state is process-wide and guarded; a checksum state
// belongs to one thread.
#pragma once

#include <cstddef>
#include <cstdint>

// Two sums, each kept below 65521 once a byte went in.
struct _ADLER {
  uint32_t a;
  uint32_t b;
};

inline constexpr uint32_t kAdlerMod = 65521;

// ---- the process-wide seed ----
void adler_setSeed(uint32_t value);
[[nodiscard]] uint32_t adler_getSeed();
// Moves to the next seed: seed_x advances (wrapping from 15 to 0), seed +=
// seeds[seed_x] - seed_t, then seed_t += 1.
void adler_reseed();
// Sets seed, seed_x and seed_t (for tests and for a peer that must start from
// a known point).
void adler_setSeedState(uint32_t seed, int seedX, uint32_t seedT);

// ---- the checksum ----
// a = the low 16 bits of the seed, b = 0.
void adler_Init(_ADLER* state);
void adler_Update(_ADLER* state, const unsigned char* bytes, size_t length);
// Rolls a window of `windowLength` bytes by one byte: `out` leaves, `in`
// enters. Exact modular arithmetic: the result equals the checksum of the
// new window computed afresh, for every seed and window length.
void adler_Update(_ADLER* state, unsigned char out, unsigned char in, uint32_t windowLength);
// (b << 16) | (a & 0xFFFF).
[[nodiscard]] inline uint32_t adler_Final(const _ADLER* state) { return (state->b << 16) | (state->a & 0xFFFF); }

// The checksum of the first `length` bytes read through `read` (which fills
// up to n bytes of buf and returns the count, 0 at the end, or a negative
// error), in pieces of at most 1024 bytes. 0 on success; a failing read's
// negative result; -EIO (-5) when the data ends before `length` bytes.
using AdlerReadFn = int (*)(void* context, char* buf, int n);
[[nodiscard]] int adler_sum(AdlerReadFn read, void* context, long long length, uint32_t* result);
// The same over a descriptor, from its current offset.
[[nodiscard]] int adler_sum(int fd, long long length, uint32_t* result);

// A rolling window of fixed length for the hot loop of block matching.
// Gives exactly the values of adler_Update, for every seed and window length.
// Two ways to roll:
// - roll() and digest(), one byte at a time: the sums run unreduced (only
//   ever growing, so they stay congruent to the true sums) and are reduced
//   every kReduceEvery bytes, so the loop-carried work per byte is two
//   additions;
// - rollDigests(), many bytes at a time: the digests of a run of windows
//   into an array, computed with vector instructions where the processor has
//   them (AVX-512 or AVX2, chosen at run time), which is several times
//   faster. Block matching looks at every window's digest, so it can take
//   them a run at a time and start over after a match.
// A roller belongs to one thread.
class AdlerRoller {
 public:
  AdlerRoller(uint32_t seed, uint32_t windowLength);
  // Starts over on the window `bytes[0..windowLength)`.
  void reset(const unsigned char* bytes);
  void roll(unsigned char out, unsigned char in) {
    a_ += in + (kAdlerMod - out);  // grows by at most 65776 a byte
    b_ += a_ + addOut_[out];       // grows by at most a + 2 * 65521
    if (--untilReduce_ == 0) reduce();
  }
  [[nodiscard]] uint32_t digest() const {
    return ((b_ % kAdlerMod) << 16) | (a_ % kAdlerMod);
  }
  // Rolls `count` times over the bytes at `window`, where the current window
  // starts: roll k removes window[k] and adds window[windowLength + k], and
  // digests[k] receives the digest after it. window[0 .. windowLength +
  // count) must be readable. Afterwards the roller stands on the window that
  // starts at window + count, and roll() may go on from there.
  void rollDigests(const unsigned char* window, size_t count, uint32_t* digests);

  // The instructions rollDigests uses: kAuto picks the best the processor
  // has. For tests and benchmarks; process-wide. useKernel returns false
  // (and changes nothing) when the processor lacks the instructions.
  enum class Kernel { kAuto, kPortable, kAvx2, kAvx512 };
  static bool useKernel(Kernel kernel);
  [[nodiscard]] static Kernel kernelInUse();

 private:
  // After this many rolls both sums still fit 32 bits (a below 2^24, b below
  // 240 * (2^24 + 2 * 65521)), so the reductions in digest() are 32-bit ones.
  static constexpr uint32_t kReduceEvery = 240;
  void reduce() {
    a_ %= kAdlerMod;
    b_ %= kAdlerMod;
    untilReduce_ = kReduceEvery;
  }

  uint32_t seed_;
  uint32_t window_;
  uint32_t a_ = 0;
  uint32_t b_ = 0;
  uint32_t untilReduce_ = kReduceEvery;
  // (65521 - seed mod 65521) + (65521 - (window * v) mod 65521): adding it
  // subtracts the seed and window * v modulo 65521.
  uint32_t addOut_[256];
};

// ---- MD5, through the TLS library ----
inline constexpr size_t kMd5Size = 16;
// The digest of `length` bytes into `digest`. 0, or -1 when the library
// refuses (MD5 disabled).
[[nodiscard]] int md5_digest(const void* bytes, size_t length, unsigned char digest[kMd5Size]);
// The 16 bytes as 32 lower-case hex digits and a NUL (dst: 33 bytes).
void md5_digestToString(const unsigned char digest[kMd5Size], char* dst);
