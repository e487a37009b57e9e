#include "util/adler_kernels.h"

#include "util/adler.h"

// How a lane of L positions is rolled (M = 65521, s = seedLow, n = window
// length mod M):
// - d = in - out per position; D = the running sum of d over the lane.
//   The new a at each position is a0 + D, reduced.
// - The new b is b0 plus the running sum of e = a + t, where t is congruent
//   to -(s + n * out) and below 2^17: t = fold(kT - n * out), kT a multiple
//   of M above every n * out, less s. So the running sum of a lane stays
//   small.
// - fold(x) = x mod 2^16 + 15 * (x >> 16) is congruent to x, since 2^16 = 15
//   (mod M), and much smaller: one fold brings a value below 2^24 under 2M,
//   and one conditional subtraction finishes. A fold is one multiply-add of
//   the two 16-bit halves (by 1 and 15); the multiply-add takes the halves as
//   signed, so bit 15 is flipped before and its weight (32768) added back.
// - a0 is carried from lane to lane by one addition (the lane's total d) and
//   reduced once per chunk of kChunk positions: within a chunk it drifts by
//   at most 255 * kChunk, which kBiasA (a multiple of M) covers. b0 is the
//   last lane's folded b (below 2M), so one fold is all b needs. Everything
//   else works on the lanes in parallel, off those two short chains.

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>

#if !defined(__clang__)
// GCC 12's AVX-512 headers start some intrinsics from a deliberately
// undefined vector and then warn about it once inlined here.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

namespace {

constexpr uint32_t M = kAdlerMod;
constexpr size_t kChunk = 4096;
constexpr uint32_t kBiasA = 17 * M;
static_assert(kBiasA >= 255 * kChunk, "the drift of a within a chunk must stay above zero");
constexpr uint32_t kT = 257 * M;                  // above 65520 + 255 * n for every n below M
constexpr uint32_t kTMax = 65536 + 15 * (kT >> 16);  // t stays below this after its fold
static_assert(kT > 65520 + 255 * (M - 1), "kT - s - n * out must stay above zero");
static_assert(2 * M + 16 * (M + kTMax) < (1u << 24), "b0 + e must stay below 2^24 for one fold");
constexpr int kFoldWeights = 0x000F0001;  // low half times 1, high half times 15
constexpr int kBit15 = 0x8000;

#define ORV_AVX512 __attribute__((target("avx512f,avx512bw"), always_inline)) inline
#define ORV_AVX2 __attribute__((target("avx2"), always_inline)) inline

// ---- 16 lanes ----

ORV_AVX512 __m512i prefix16(__m512i x) {
  const __m512i z = _mm512_setzero_si512();
  x = _mm512_add_epi32(x, _mm512_alignr_epi32(x, z, 15));  // x shifted up one lane
  x = _mm512_add_epi32(x, _mm512_alignr_epi32(x, z, 14));
  x = _mm512_add_epi32(x, _mm512_alignr_epi32(x, z, 12));
  return _mm512_add_epi32(x, _mm512_alignr_epi32(x, z, 8));
}

ORV_AVX512 __m512i fold16(__m512i x) {  // x < 2^31 (the high half read as signed)
  const __m512i bit15 = _mm512_set1_epi32(kBit15);
  return _mm512_add_epi32(_mm512_madd_epi16(_mm512_xor_si512(x, bit15), _mm512_set1_epi32(kFoldWeights)), bit15);
}

ORV_AVX512 __m512i finish16(__m512i x) {  // x < 2M
  const __m512i m = _mm512_set1_epi32(M);
  return _mm512_mask_sub_epi32(x, _mm512_cmpge_epu32_mask(x, m), x, m);
}

ORV_AVX512 uint32_t lane0of16(__m512i x) { return static_cast<uint32_t>(_mm_cvtsi128_si32(_mm512_castsi512_si128(x))); }

// ---- 8 lanes ----

ORV_AVX2 __m256i prefix8(__m256i x) {
  x = _mm256_add_epi32(x, _mm256_slli_si256(x, 4));  // within each half
  x = _mm256_add_epi32(x, _mm256_slli_si256(x, 8));
  __m256i t = _mm256_shuffle_epi32(x, 0xFF);       // the low half's total...
  t = _mm256_permute2x128_si256(t, t, 0x08);        // ...moved to the high half
  return _mm256_add_epi32(x, t);
}

ORV_AVX2 __m256i fold8(__m256i x) {  // x < 2^31
  const __m256i bit15 = _mm256_set1_epi32(kBit15);
  return _mm256_add_epi32(_mm256_madd_epi16(_mm256_xor_si256(x, bit15), _mm256_set1_epi32(kFoldWeights)), bit15);
}

ORV_AVX2 __m256i finish8(__m256i x) {  // x < 2M
  const __m256i m = _mm256_set1_epi32(M);
  return _mm256_sub_epi32(x, _mm256_and_si256(_mm256_cmpgt_epi32(x, _mm256_set1_epi32(M - 1)), m));
}

ORV_AVX2 uint32_t lane0of8(__m256i x) { return static_cast<uint32_t>(_mm_cvtsi128_si32(_mm256_castsi256_si128(x))); }

}  // namespace

__attribute__((target("avx512f,avx512bw"))) size_t adlerRollAvx512(AdlerRollState* st, const unsigned char* window,
                                                          size_t count, uint32_t* digests) {
  const __m512i last = _mm512_set1_epi32(15);
  const __m512i tLessSeed = _mm512_set1_epi32(static_cast<int>(kT - st->seedLow));
  const __m512i n = _mm512_set1_epi32(static_cast<int>(st->windowMod));
  const unsigned char* in = window + st->window;
  uint32_t a = st->a, b = st->b;
  size_t done = 0;
  while (count - done >= 16) {
    size_t left = count - done;
    size_t end = done + ((left < kChunk ? left : kChunk) & ~size_t{15});
    __m512i a0 = _mm512_set1_epi32(static_cast<int>(a + kBiasA));
    __m512i b0 = _mm512_set1_epi32(static_cast<int>(b));
    for (; done < end; done += 16) {
      __m512i o = _mm512_cvtepu8_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(window + done)));
      __m512i i = _mm512_cvtepu8_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in + done)));
      __m512i d = prefix16(_mm512_sub_epi32(i, o));
      __m512i av = finish16(fold16(_mm512_add_epi32(a0, d)));
      a0 = _mm512_add_epi32(a0, _mm512_permutexvar_epi32(last, d));
      __m512i t = fold16(_mm512_sub_epi32(tLessSeed, _mm512_mullo_epi32(o, n)));
      __m512i e = prefix16(_mm512_add_epi32(av, t));
      __m512i bFolded = fold16(_mm512_add_epi32(b0, e));
      __m512i bv = finish16(bFolded);
      b0 = _mm512_permutexvar_epi32(last, bFolded);
      _mm512_storeu_si512(digests + done, _mm512_or_si512(_mm512_slli_epi32(bv, 16), av));
    }
    a = lane0of16(a0) % M;
    b = lane0of16(b0) % M;
  }
  st->a = a;
  st->b = b;
  return done;
}

__attribute__((target("avx2"))) size_t adlerRollAvx2(AdlerRollState* st, const unsigned char* window, size_t count,
                                                     uint32_t* digests) {
  const __m256i last = _mm256_set1_epi32(7);
  const __m256i tLessSeed = _mm256_set1_epi32(static_cast<int>(kT - st->seedLow));
  const __m256i n = _mm256_set1_epi32(static_cast<int>(st->windowMod));
  const unsigned char* in = window + st->window;
  uint32_t a = st->a, b = st->b;
  size_t done = 0;
  while (count - done >= 8) {
    size_t left = count - done;
    size_t end = done + ((left < kChunk ? left : kChunk) & ~size_t{7});
    __m256i a0 = _mm256_set1_epi32(static_cast<int>(a + kBiasA));
    __m256i b0 = _mm256_set1_epi32(static_cast<int>(b));
    for (; done < end; done += 8) {
      __m256i o = _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(window + done)));
      __m256i i = _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(in + done)));
      __m256i d = prefix8(_mm256_sub_epi32(i, o));
      __m256i av = finish8(fold8(_mm256_add_epi32(a0, d)));
      a0 = _mm256_add_epi32(a0, _mm256_permutevar8x32_epi32(d, last));
      __m256i t = fold8(_mm256_sub_epi32(tLessSeed, _mm256_mullo_epi32(o, n)));
      __m256i e = prefix8(_mm256_add_epi32(av, t));
      __m256i bFolded = fold8(_mm256_add_epi32(b0, e));
      __m256i bv = finish8(bFolded);
      b0 = _mm256_permutevar8x32_epi32(bFolded, last);
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(digests + done), _mm256_or_si256(_mm256_slli_epi32(bv, 16), av));
    }
    a = lane0of8(a0) % M;
    b = lane0of8(b0) % M;
  }
  st->a = a;
  st->b = b;
  return done;
}

// __builtin_cpu_init makes the answers right even before the runtime's own
// constructors have run (a first use from another static initialiser).
bool adlerHaveAvx512() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw");
}
bool adlerHaveAvx2() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2");
}

#else  // no vector kernels on this processor: the portable loop does all

size_t adlerRollAvx512(AdlerRollState*, const unsigned char*, size_t, uint32_t*) { return 0; }
size_t adlerRollAvx2(AdlerRollState*, const unsigned char*, size_t, uint32_t*) { return 0; }
bool adlerHaveAvx512() { return false; }
bool adlerHaveAvx2() { return false; }

#endif
