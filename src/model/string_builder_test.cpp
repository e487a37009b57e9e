#include "model/string_builder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

TEST(StringBuilder, AppendsAndHandsOver) {
  StringBuilder b;
  EXPECT_EQ(b.get(), nullptr);
  char* empty = b.take();
  EXPECT_STREQ(empty, "");
  free(empty);
  b.append("abc");
  b.append("defgh", 2);
  b.append("xyz", (size_t)-1);
  b.append('!');
  b.appendNoNl("l1\r\nl2\n", (size_t)-1);
  b.appendf("%d-%s", 42, "x");
  b.append(static_cast<const char*>(nullptr));
  EXPECT_STREQ(b.get(), "abcdexyz!l1l242-x");
  EXPECT_EQ(b.length(), 17u);
  char* text = b.take();
  EXPECT_STREQ(text, "abcdexyz!l1l242-x");
  free(text);
  EXPECT_EQ(b.get(), nullptr);
  EXPECT_EQ(b.length(), 0u);
}

TEST(StringBuilder, GrowsForLongTexts) {
  StringBuilder b;
  std::string want;
  for (int i = 0; i < 10000; i++) {
    b.append("0123456789");
    want += "0123456789";
  }
  std::string big(500, 'q');
  b.appendf("%s", big.c_str());
  want += big;
  EXPECT_EQ(std::string(b.get()), want);
  EXPECT_GT(b.capacity(), b.length());
  b.clear();
  EXPECT_EQ(b.get(), nullptr);
}

}  // namespace
