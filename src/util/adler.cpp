#include "util/adler.h"

#include <openssl/evp.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <mutex>

#include "util/adler_kernels.h"

namespace {

// Agreed by both ends of a transfer: changing any value breaks matching with
// peers that still use the old ones.
constexpr uint32_t kSeeds[16] = {
    0x3c6ef372, 0xa54ff53a, 0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19, 0xcbbb9d5d, 0x629a292a,
    0x9159015a, 0x152fecd8, 0x67332667, 0x8eb44a87, 0xdb0c2e0d, 0x47b5481d, 0xae5f9156, 0xcf6c85d2,
};
constexpr uint32_t kInitialSeedT = 0x6a09e667;

// Readers take the seed without the lock (it is read for every checksum);
// the lock keeps a reseed's three updates together.
std::mutex seedLock;
std::atomic<uint32_t> seed{0};
int seedX = 0;
uint32_t seedT = kInitialSeedT;

}  // namespace

void adler_setSeed(uint32_t value) {
  std::lock_guard<std::mutex> lk(seedLock);
  seed = value;
}

uint32_t adler_getSeed() { return seed.load(std::memory_order_relaxed); }

void adler_reseed() {
  std::lock_guard<std::mutex> lk(seedLock);
  seedX = (seedX + 1) & 15;
  seed.store(seed.load(std::memory_order_relaxed) + kSeeds[seedX] - seedT, std::memory_order_relaxed);
  seedT += 1;
}

void adler_setSeedState(uint32_t s, int x, uint32_t t) {
  std::lock_guard<std::mutex> lk(seedLock);
  seed = s;
  seedX = x & 15;
  seedT = t;
}

void adler_Init(_ADLER* state) {
  state->a = adler_getSeed() & 0xFFFF;
  state->b = 0;
}

void adler_Update(_ADLER* state, const unsigned char* bytes, size_t length) {
  uint32_t a = state->a;
  uint32_t b = state->b;
  // Sums of up to 3800 bytes stay below 2^32 before they are reduced
  // (a < 65521 + 3800 * 255, b grows by at most a per byte).
  while (length > 0) {
    size_t n = length < 3800 ? length : 3800;
    length -= n;
    while (n-- > 0) {
      a += *bytes++;
      b += a;
    }
    a %= kAdlerMod;
    b %= kAdlerMod;
  }
  state->a = a;
  state->b = b;
}

namespace {

// x below 2M: x mod M without a division.
inline uint32_t belowM(uint32_t x) { return x >= kAdlerMod ? x - kAdlerMod : x; }

}  // namespace

void adler_Update(_ADLER* state, unsigned char out, unsigned char in, uint32_t windowLength) {
  // The seed's low half may exceed the modulus, and so may a state just
  // initialised from it; n * out may exceed 32 bits. Everything is reduced
  // before it is subtracted, without divisions on the usual path.
  if (state->a >= 2 * kAdlerMod || state->b >= 2 * kAdlerMod) {  // a state set by hand: reduce it first
    state->a %= kAdlerMod;
    state->b %= kAdlerMod;
  }
  uint32_t s = belowM(adler_getSeed() & 0xFFFF);
  uint32_t a = belowM(belowM(belowM(state->a) + in + (kAdlerMod - out)));  // in + M - out < 2M
  uint32_t nOut = (windowLength % kAdlerMod) * static_cast<uint32_t>(out);  // below 2^24
  nOut = belowM((nOut & 0xFFFF) + 15 * (nOut >> 16));  // 2^16 = 15 (mod M)
  uint32_t b = belowM(state->b) + a;                  // below 2M
  b = belowM(b) + (kAdlerMod - s);                     // below 2M
  b = belowM(b) + (kAdlerMod - nOut);                  // below 2M
  state->a = a;
  state->b = belowM(b);
}

int adler_sum(AdlerReadFn read, void* context, long long length, uint32_t* result) {
  _ADLER st;
  adler_Init(&st);
  char buf[1024];
  while (length > 0) {
    int want = length < static_cast<long long>(sizeof buf) ? static_cast<int>(length) : static_cast<int>(sizeof buf);
    int n = read(context, buf, want);
    if (n < 0) return n;
    if (n == 0) return -EIO;
    adler_Update(&st, reinterpret_cast<unsigned char*>(buf), static_cast<size_t>(n));
    length -= n;
  }
  *result = adler_Final(&st);
  return 0;
}

int adler_sum(int fd, long long length, uint32_t* result) {
  auto readFd = [](void* ctx, char* buf, int n) -> int {
    int fd = *static_cast<int*>(ctx);
    for (;;) {
      ssize_t r = ::read(fd, buf, static_cast<size_t>(n));
      if (r < 0 && errno == EINTR) continue;
      return r < 0 ? -errno : static_cast<int>(r);
    }
  };
  return adler_sum(readFd, &fd, length, result);
}

AdlerRoller::AdlerRoller(uint32_t s, uint32_t windowLength) : seed_(s), window_(windowLength) {
  uint32_t negSeed = kAdlerMod - (s & 0xFFFF) % kAdlerMod;  // in 1..65521
  uint64_t n = windowLength % kAdlerMod;
  for (uint32_t v = 0; v < 256; ++v) {
    uint32_t negOut = kAdlerMod - static_cast<uint32_t>(n * v % kAdlerMod);  // in 1..65521
    addOut_[v] = negSeed + negOut;
  }
}

void AdlerRoller::reset(const unsigned char* bytes) {
  _ADLER st{seed_ & 0xFFFF, 0};
  adler_Update(&st, bytes, window_);
  a_ = st.a;
  b_ = st.b;
  untilReduce_ = kReduceEvery;
}

namespace {

using Kernel = AdlerRoller::Kernel;

Kernel bestKernel() {
  if (adlerHaveAvx512()) return Kernel::kAvx512;
  if (adlerHaveAvx2()) return Kernel::kAvx2;
  return Kernel::kPortable;
}

bool haveKernel(Kernel k) {
  switch (k) {
    case Kernel::kAuto:
    case Kernel::kPortable: return true;
    case Kernel::kAvx2: return adlerHaveAvx2();
    case Kernel::kAvx512: return adlerHaveAvx512();
  }
  return false;
}

std::atomic<Kernel>& kernelSlot() {
  static std::atomic<Kernel> slot{bestKernel()};
  return slot;
}

}  // namespace

bool AdlerRoller::useKernel(Kernel kernel) {
  if (!haveKernel(kernel)) return false;
  kernelSlot().store(kernel == Kernel::kAuto ? bestKernel() : kernel, std::memory_order_relaxed);
  return true;
}

AdlerRoller::Kernel AdlerRoller::kernelInUse() { return kernelSlot().load(std::memory_order_relaxed); }

void AdlerRoller::rollDigests(const unsigned char* window, size_t count, uint32_t* digests) {
  size_t done = 0;
  Kernel kernel = kernelInUse();
  if (kernel != Kernel::kPortable && count >= 16) {
    reduce();
    AdlerRollState st{a_, b_, (seed_ & 0xFFFF) % kAdlerMod, window_ % kAdlerMod, window_};
    done = kernel == Kernel::kAvx512 ? adlerRollAvx512(&st, window, count, digests)
                                     : adlerRollAvx2(&st, window, count, digests);
    a_ = st.a;
    b_ = st.b;
  }
  // The rest (and everything without vector instructions), a byte at a time.
  for (const unsigned char* in = window + window_; done < count; ++done) {
    roll(window[done], in[done]);
    digests[done] = digest();
  }
}

int md5_digest(const void* bytes, size_t length, unsigned char digest[kMd5Size]) {
  unsigned int n = 0;
  if (EVP_Digest(bytes, length, digest, &n, EVP_md5(), nullptr) != 1 || n != kMd5Size) return -1;
  return 0;
}

void md5_digestToString(const unsigned char digest[kMd5Size], char* dst) {
  static const char kHex[] = "0123456789abcdef";
  for (size_t i = 0; i < kMd5Size; ++i) {
    dst[2 * i] = kHex[digest[i] >> 4];
    dst[2 * i + 1] = kHex[digest[i] & 15];
  }
  dst[2 * kMd5Size] = 0;
}
