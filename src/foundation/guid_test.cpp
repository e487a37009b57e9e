#include "foundation/guid.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <set>
#include <string>

#include "foundation/hex_dump.h"
#include "foundation/url_encode.h"

namespace {

bool isPlainUuid(const std::string& s) {
  if (s.size() != 36) return false;
  for (size_t i = 0; i < s.size(); i++) {
    bool hyphen = i == 8 || i == 13 || i == 18 || i == 23;
    if (hyphen ? s[i] != '-' : !isxdigit((unsigned char)s[i]) || isupper((unsigned char)s[i])) return false;
  }
  return true;
}

// The counter is process-wide, so the first calls of this process are the
// ones with the known counter values: this test must run first in its process.
TEST(Guid, CounterLettersMakeEveryTextUnique) {
  std::set<std::string> seen;
  for (unsigned cntr = 0; cntr < 2000; cntr++) {
    char* g = makeGuid();
    ASSERT_NE(g, nullptr);
    std::string s(g);
    freeGuid(g);
    ASSERT_EQ(s.size(), 36u);
    EXPECT_TRUE(seen.insert(s).second);
    int digit = 0;
    for (size_t i = 0; i < s.size(); i++) {
      if (s[i] == '-') continue;
      bool letter = s[i] >= 'g' && s[i] <= 'v';
      bool hexDigit = isxdigit((unsigned char)s[i]) && !isupper((unsigned char)s[i]);
      if (cntr < 2000 && seen.size() == cntr + 1) {
        // Only meaningful while this test owns the counter from 0.
        EXPECT_EQ(letter, (cntr >> digit & 1) != 0) << s << " digit " << digit;
        EXPECT_TRUE(letter || hexDigit) << s;
      }
      digit++;
    }
    if (cntr == 0) {
      EXPECT_TRUE(isPlainUuid(s)) << s;
    }
    if (cntr == 1) {
      EXPECT_GE(s[0], 'g');
    }
  }
}

TEST(Guid, FirstMacIsFormattedOrAbsent) {
  char mac[18];
  memset(mac, 'Z', sizeof(mac));
  int rv = getFirstMac(mac, sizeof(mac));
  if (rv == 0) {
    EXPECT_EQ(strlen(mac), 17u);
    for (int i = 0; i < 17; i++) {
      if (i % 3 == 2) EXPECT_EQ(mac[i], ':');
      else EXPECT_TRUE(isxdigit((unsigned char)mac[i]) && !isupper((unsigned char)mac[i]));
    }
  } else {
    EXPECT_EQ(rv, -1);  // a machine with loopback only
  }
  char small[8];
  EXPECT_EQ(getFirstMac(small, sizeof(small)), -1);
}

TEST(UrlEncode, Bytes) {
  struct Case {
    const char* in;
    const char* want;
  };
  const Case cases[] = {
      {"a b/c", "a+b%2fc"},
      {"AZaz09~_-.", "AZaz09~_-."},
      {"\xC3\xA9&=?%", "%c3%a9%26%3d%3f%25"},
      {"", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.in);
    char* out = urlEncode(c.in);
    EXPECT_STREQ(out, c.want);
    free(out);
  }
  EXPECT_EQ(urlEncode(nullptr), nullptr);
}

TEST(HexDump, Lines) {
  unsigned char bytes[33];
  for (int i = 0; i < 33; i++) bytes[i] = (unsigned char)('A' + i % 26);
  bytes[1] = 0x00;
  bytes[2] = 0xFF;
  std::string first = hexDumpLine(bytes, 32);
  EXPECT_EQ(first.size(), 32u * 3 + 32);
  EXPECT_EQ(first.substr(0, 9), "41 00 ff ");
  EXPECT_EQ(first.substr(96, 4), "A..D");
  std::string second = hexDumpLine(bytes + 32, 1);
  EXPECT_EQ(second, "47 " + std::string(31 * 3, ' ') + "G");
  testing::internal::CaptureStdout();
  hex(bytes, 33);
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out, first + "\n" + second + "\n33 bytes...\n");
}

}  // namespace
