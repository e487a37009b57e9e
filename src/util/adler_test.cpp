#include "util/adler.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "testing/test_util.h"
#include "util/hash_table.h"

namespace {

uint32_t fresh(const unsigned char* p, size_t n) {
  _ADLER st;
  adler_Init(&st);
  adler_Update(&st, p, n);
  return adler_Final(&st);
}

uint32_t fresh(const std::string& s) { return fresh(reinterpret_cast<const unsigned char*>(s.data()), s.size()); }

class AdlerTest : public ::testing::Test {
 protected:
  void SetUp() override { adler_setSeed(0); }
  void TearDown() override { adler_setSeed(0); }
};

TEST_F(AdlerTest, KnownValues) {
  EXPECT_EQ(fresh(""), 0u);
  EXPECT_EQ(fresh("a"), 0x00610061u);
  // With seed 0 this is Adler-32 less its initial 1 in a.
  EXPECT_EQ(fresh("Wikipedia"), 0x11E60398u - 9u * 65536u - 1u);
  _ADLER st;
  adler_Init(&st);
  adler_Update(&st, reinterpret_cast<const unsigned char*>("ab"), 2);
  adler_Update(&st, 'a', 'c', 2);
  EXPECT_EQ(adler_Final(&st), fresh("bc"));
}

// The rolled value equals the value computed afresh at every offset, for
// random data, window sizes and seeds (seeds whose low half exceeds the
// modulus included), through both rolling forms.
TEST_F(AdlerTest, RollingMatchesFreshAtEveryOffset) {
  std::mt19937 rng(12345);
  std::vector<unsigned char> data(3000);
  for (auto& c : data) c = static_cast<unsigned char>(rng());
  const uint32_t seeds[] = {0, 1, 0xFFF0, 0xFFFF, 0x1234FFF5, 0xdeadbeef};
  const uint32_t windows[] = {1, 2, 3, 16, 700, 1024, 2999};
  for (uint32_t seed : seeds) {
    for (uint32_t w : windows) {
      SCOPED_TRACE("seed " + std::to_string(seed) + " window " + std::to_string(w));
      adler_setSeed(seed);
      _ADLER st;
      adler_Init(&st);
      adler_Update(&st, data.data(), w);
      AdlerRoller roller(seed, w);
      roller.reset(data.data());
      ASSERT_EQ(roller.digest(), adler_Final(&st));
      for (size_t at = 1; at + w <= data.size(); ++at) {
        adler_Update(&st, data[at - 1], data[at + w - 1], w);
        roller.roll(data[at - 1], data[at + w - 1]);
        uint32_t want = fresh(data.data() + at, w);
        ASSERT_EQ(adler_Final(&st), want) << "offset " << at;
        ASSERT_EQ(roller.digest(), want) << "offset " << at;
      }
    }
  }
}

// Every kernel of rollDigests the processor has gives, at every offset, the
// value computed afresh: random and extreme data (long runs of 0xFF leaving
// while zeros enter and the reverse, the largest drift of the sums), seeds
// whose low half exceeds the modulus, windows around the lane widths and the
// modulus, runs that end inside a lane and cross the vector code's chunks,
// and calls that alternate with roll().
TEST_F(AdlerTest, RollDigestsMatchesFreshWithEveryKernel) {
  std::mt19937 rng(777);
  std::vector<unsigned char> random(90000);
  for (auto& c : random) c = static_cast<unsigned char>(rng());
  std::vector<unsigned char> fallThenRise(30000, 0);
  std::fill(fallThenRise.begin(), fallThenRise.begin() + 5000, 0xFF);
  std::fill(fallThenRise.begin() + 15000, fallThenRise.end(), 0xFF);
  struct Case {
    const char* name;
    const std::vector<unsigned char>* data;
    uint32_t seed;
    uint32_t window;
    std::vector<size_t> runs;  // rollDigests calls of these counts; 0 stands for one roll()
  } cases[] = {
      {"window 1", &random, 0, 1, {40}},
      {"window 2, seed past the modulus", &random, 0xFFF5, 2, {1, 7, 8, 9, 15, 16, 17, 100}},
      {"window 15", &random, 0x1234FFF5, 15, {33, 0, 31}},
      {"window 16", &random, 0xdeadbeef, 16, {1000, 0, 0, 1000}},
      {"window 17", &random, 1, 17, {257}},
      {"window 700", &random, 0x5eed, 700, {9000}},
      {"window 2048 across chunks", &random, 0xFFFF, 2048, {4095, 4097, 16, 0, 8200}},
      {"window of the modulus", &random, 0xFFF0, 65521, {9000}},
      {"window past the modulus", &random, 0x5eed, 65537, {8000, 0, 5}},
      {"0xFF leaving, zeros entering", &fallThenRise, 0xFFFF, 5000, {9999, 0, 9999}},
      {"zeros leaving, 0xFF entering", &fallThenRise, 0x8000, 10000, {9000, 1, 10000}},
  };
  for (AdlerRoller::Kernel kernel :
       {AdlerRoller::Kernel::kPortable, AdlerRoller::Kernel::kAvx2, AdlerRoller::Kernel::kAvx512}) {
    if (!AdlerRoller::useKernel(kernel)) continue;  // the processor lacks it
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.name) + ", kernel " + std::to_string(static_cast<int>(kernel)));
      const std::vector<unsigned char>& data = *c.data;
      adler_setSeed(c.seed);
      AdlerRoller roller(c.seed, c.window);
      roller.reset(data.data());
      // The reference rolls with adler_Update, itself checked against fresh
      // sums above; fresh sums are taken at every 97th offset as well.
      _ADLER ref;
      adler_Init(&ref);
      adler_Update(&ref, data.data(), c.window);
      size_t at = 0;
      std::vector<uint32_t> got;
      for (size_t run : c.runs) {
        size_t n = run == 0 ? 1 : run;
        ASSERT_LE(at + n + c.window, data.size());
        got.assign(n, 0);
        if (run == 0) {
          roller.roll(data[at], data[at + c.window]);
          got[0] = roller.digest();
        } else {
          roller.rollDigests(data.data() + at, n, got.data());
        }
        for (size_t k = 0; k < n; ++k) {
          adler_Update(&ref, data[at + k], data[at + k + c.window], c.window);
          ASSERT_EQ(got[k], adler_Final(&ref)) << "offset " << at + k + 1;
          if ((at + k) % 97 == 0) {
            ASSERT_EQ(got[k], fresh(data.data() + at + k + 1, c.window)) << "offset " << at + k + 1;
          }
        }
        at += n;
      }
      EXPECT_EQ(roller.digest(), fresh(data.data() + at, c.window));
    }
  }
  ASSERT_TRUE(AdlerRoller::useKernel(AdlerRoller::Kernel::kAuto));
}

// One roll from any state, including states set by hand outside the
// modulus, against the arithmetic written out in 64 bits.
TEST_F(AdlerTest, OneRollFromAnyState) {
  std::mt19937 rng(4242);
  const uint32_t seeds[] = {0, 0xFFF0, 0xFFFF, 0x1234FFF5, 0xdeadbeef};
  const uint32_t windows[] = {1, 2, 65521, 65522, 20u << 20, 0xFFFFFFFFu};
  const uint32_t states[] = {0, 1, 65520, 65521, 65535, 131041, 131042, 131043, 0xFFFFFFFFu};
  for (uint32_t seed : seeds) {
    adler_setSeed(seed);
    for (uint32_t w : windows) {
      for (int k = 0; k < 200; ++k) {
        _ADLER st{k < 81 ? states[k % 9] : static_cast<uint32_t>(rng()), k < 81 ? states[k / 9] : static_cast<uint32_t>(rng() % 131042)};
        unsigned char out = static_cast<unsigned char>(rng()), in = static_cast<unsigned char>(rng());
        uint64_t s = (seed & 0xFFFF) % kAdlerMod;
        uint64_t a = (st.a % kAdlerMod + in + kAdlerMod - out) % kAdlerMod;
        uint64_t b = (st.b % kAdlerMod + a + kAdlerMod - s + kAdlerMod - uint64_t{w} % kAdlerMod * out % kAdlerMod) % kAdlerMod;
        SCOPED_TRACE("seed " + std::to_string(seed) + " window " + std::to_string(w) + " state " + std::to_string(st.a) +
                     "/" + std::to_string(st.b));
        adler_Update(&st, out, in, w);
        ASSERT_EQ(st.a, a);
        ASSERT_EQ(st.b, b);
      }
    }
  }
}

TEST_F(AdlerTest, HugeWindowDoesNotOverflow) {
  // n * out exceeds 32 bits for windows over 16 MB; a constant window makes
  // the fresh value easy to know.
  const uint32_t w = 20u << 20;
  std::vector<unsigned char> data(w + 1, 0xFF);
  data[w] = 0x01;
  _ADLER st;
  adler_Init(&st);
  adler_Update(&st, data.data(), w);
  adler_Update(&st, 0xFF, 0x01, w);
  EXPECT_EQ(adler_Final(&st), fresh(data.data() + 1, w));
}

TEST_F(AdlerTest, ReseedWalksTheTable) {
  adler_setSeedState(0, 15, 7);
  adler_reseed();  // seed_x wraps to 0
  uint32_t first = adler_getSeed();
  adler_reseed();
  uint32_t second = adler_getSeed();
  EXPECT_NE(first, 0u);
  EXPECT_NE(first, second);
  // The same start gives the same walk: both ends agree.
  adler_setSeedState(0, 15, 7);
  adler_reseed();
  EXPECT_EQ(adler_getSeed(), first);
  adler_reseed();
  EXPECT_EQ(adler_getSeed(), second);
}

TEST_F(AdlerTest, SumOfADescriptor) {
  orvtest::TempDir dir;
  std::string text(5000, 0);
  for (size_t i = 0; i < text.size(); ++i) text[i] = static_cast<char>(i * 31);
  orvtest::writeFile(dir.file("f"), text);
  int fd = open(dir.file("f").c_str(), O_RDONLY);
  uint32_t sum = 0;
  EXPECT_EQ(adler_sum(fd, 4000, &sum), 0);
  EXPECT_EQ(sum, fresh(text.substr(0, 4000)));
  lseek(fd, 0, SEEK_SET);
  EXPECT_EQ(adler_sum(fd, 6000, &sum), -5);  // the file ends first
  close(fd);
  EXPECT_EQ(adler_sum(-1, 10, &sum), -EBADF);
}

TEST(Md5Test, DigestAndTextAgreeWithMd5sum) {
  orvtest::TempDir dir;
  std::string text = "The quick brown fox jumps over the lazy dog\n";
  for (int i = 0; i < 100; ++i) text += std::to_string(i * i);
  orvtest::writeFile(dir.file("f"), text);
  unsigned char d[kMd5Size];
  ASSERT_EQ(md5_digest(text.data(), text.size(), d), 0);
  char hex[33];
  md5_digestToString(d, hex);
  FILE* p = popen(("md5sum '" + dir.file("f") + "'").c_str(), "r");
  ASSERT_NE(p, nullptr);
  char line[128] = "";
  ASSERT_NE(fgets(line, sizeof line, p), nullptr);
  pclose(p);
  EXPECT_EQ(std::string(line, 32), hex);
  ASSERT_EQ(md5_digest("", 0, d), 0);
  md5_digestToString(d, hex);
  EXPECT_STREQ(hex, "d41d8cd98f00b204e9800998ecf8427e");
}

TEST(HashTableTest, WeakMatchWithOtherDigestIsNotFound) {
  HashTable t(7);
  unsigned char a[kMd5Size] = {1}, b[kMd5Size] = {2};
  t.add(0, 100, a);
  t.add(1, 107, b);  // same bucket
  ASSERT_NE(t.find(100, a), nullptr);
  EXPECT_EQ(t.find(100, a)->blockIndex, 0);
  EXPECT_EQ(t.find(107, b)->blockIndex, 1);
  EXPECT_EQ(t.find(100, b), nullptr);
  EXPECT_TRUE(t.hasWeak(107));
  EXPECT_FALSE(t.hasWeak(114));
  HashTable zero(0);
  zero.add(5, 1, a);
  EXPECT_EQ(zero.find(1, a)->blockIndex, 5);
}

// The sender's side of block matching: every block of the receiver's file
// that survives unchanged in the modified copy is found there.
TEST(HashTableTest, FindsEveryBlockInsideAModifiedCopy) {
  adler_setSeed(0x5eed);
  std::mt19937 rng(99);
  const size_t kBlock = 512;
  std::string original(64 * kBlock, 0);
  for (auto& c : original) c = static_cast<char>(rng());
  HashTable table(1009);
  size_t blocks = original.size() / kBlock;
  for (size_t i = 0; i < blocks; ++i) {
    const auto* p = reinterpret_cast<const unsigned char*>(original.data() + i * kBlock);
    unsigned char d[kMd5Size];
    ASSERT_EQ(md5_digest(p, kBlock, d), 0);
    table.add(static_cast<int>(i), fresh(p, kBlock), d);
  }
  // The copy: bytes inserted before block 3, block 10 changed, block 20 cut
  // out, bytes appended to block 40.
  std::string copy = original;
  copy.insert(40 * kBlock + 100, "xyz");
  copy.erase(20 * kBlock, kBlock);
  copy[10 * kBlock + 7] ^= 1;
  copy.insert(3 * kBlock, std::string(77, 'q'));
  std::vector<bool> found(blocks, false);
  const auto* c = reinterpret_cast<const unsigned char*>(copy.data());
  AdlerRoller roller(0x5eed, kBlock);
  size_t at = 0;
  bool primed = false;
  while (at + kBlock <= copy.size()) {
    if (!primed) {
      roller.reset(c + at);
      primed = true;
    }
    uint32_t weak = roller.digest();
    if (table.hasWeak(weak)) {
      unsigned char d[kMd5Size];
      ASSERT_EQ(md5_digest(c + at, kBlock, d), 0);
      if (const HashBlock* b = table.find(weak, d)) {
        found[static_cast<size_t>(b->blockIndex)] = true;
        at += kBlock;
        primed = false;
        continue;
      }
    }
    if (at + kBlock < copy.size()) roller.roll(c[at], c[at + kBlock]);
    ++at;
  }
  for (size_t i = 0; i < blocks; ++i) {
    bool changed = i == 10 || i == 20 || i == 40;
    EXPECT_EQ(found[i], !changed) << "block " << i;
  }
  adler_setSeed(0);
}

}  // namespace
