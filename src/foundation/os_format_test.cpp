#include "foundation/os_format.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

namespace {

TEST(FormatNumber, GroupsThousandsWithCommas) {
  struct Case {
    long long value;
    const char* want;
  } cases[] = {
      {1234567, "1,234,567"}, {1000, "1,000"}, {0, "0"},          {999, "999"},
      {1000001, "1,000,001"}, {-1234, "-1,234"}, {LLONG_MAX, "9,223,372,036,854,775,807"},
      {LLONG_MIN, "-9,223,372,036,854,775,808"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    char buf[64];
    EXPECT_EQ(s_format_number(buf, sizeof(buf), c.value), static_cast<int>(std::string(c.want).size()));
    EXPECT_STREQ(buf, c.want);
  }
  char small[5];
  EXPECT_EQ(s_format_number(small, sizeof(small), 12345), -1);  // "12,345" does not fit
  EXPECT_STREQ(small, "");
}

TEST(TrimNumeric, KeepsOneDigitAfterThePoint) {
  struct Case {
    const char* in;
    const char* want;
  } cases[] = {
      {"1.500", "1.5"}, {"2.000", "2.0"}, {"2.500000", "2.5"}, {"100", "100"}, {"0.0", "0.0"},
      {"3.", "3."},     {"-1.250", "-1.25"}, {"10.01", "10.01"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.in);
    std::string s = c.in;
    EXPECT_STREQ(trimNumeric(s.data()), c.want);
  }
}

TEST(Hashes, MatchTheirDefinitions) {
  EXPECT_EQ(getHashValue(""), 5381);
  EXPECT_EQ(getHashValue("a"), 5381 * 33 + 'a');
  EXPECT_EQ(getHashValue("\xff"), 5381 * 33 - 1);  // bytes count as signed chars
  EXPECT_EQ(getHashValue(nullptr), 5381);
  EXPECT_EQ(makeHash(""), 1125899906842597LL);
  uint64_t h = 1125899906842597ULL;
  for (char c : std::string("12ab")) h = h * 31 + static_cast<uint64_t>(static_cast<int64_t>(c - '0'));
  EXPECT_EQ(makeHash("12ab"), static_cast<int64_t>(h));
  // 64-bit wrap-around of a long text is defined, not an overflow.
  std::string longText(1000, 'z');
  EXPECT_NE(getHashValue(longText.c_str()), 0);
}

}  // namespace
