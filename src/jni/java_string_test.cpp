#include "jni/java_string.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(JavaString, ModifiedUtf8) {
  struct Case {
    const char* name;
    std::string in;
    std::string want;
    bool alreadyValid;
  };
  const std::string fffd = "\xEF\xBF\xBD";
  const Case cases[] = {
      {"ascii", "hello", "hello", true},
      {"empty", "", "", true},
      {"two bytes", "caf\xC3\xA9", "caf\xC3\xA9", true},
      {"three bytes", "\xE2\x82\xAC", "\xE2\x82\xAC", true},
      {"encoded NUL kept", std::string("a\xC0\x80" "b"), std::string("a\xC0\x80" "b"), true},
      {"surrogate pair kept", "\xED\xA0\xBD\xED\xB8\x80", "\xED\xA0\xBD\xED\xB8\x80", true},
      // U+1F600 becomes the surrogate pair D83D DE00.
      {"four bytes", "x\xF0\x9F\x98\x80y", "x\xED\xA0\xBD\xED\xB8\x80y", false},
      {"largest code point", "\xF4\x8F\xBF\xBF", "\xED\xAF\xBF\xED\xBF\xBF", false},
      {"latin-1 byte", "caf\xE9", "caf" + fffd, false},
      {"stray continuation", "\x80z", fffd + "z", false},
      {"cut sequence at end", "ab\xE2\x82", "ab" + fffd + fffd, false},
      {"overlong slash", "\xC0\xAF", fffd + fffd, false},
      {"overlong three bytes", "\xE0\x80\xAF", fffd + fffd + fffd, false},
      {"beyond U+10FFFF", "\xF4\x90\x80\x80", fffd + fffd + fffd + fffd, false},
      {"F5 never valid", "\xF5", fffd, false},
      {"NUL byte in a view", std::string("a\0b", 3), "a" + fffd + "b", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(toModifiedUtf8(c.in), c.want);
    EXPECT_EQ(isModifiedUtf8(c.in), c.alreadyValid);
    EXPECT_TRUE(isModifiedUtf8(toModifiedUtf8(c.in)));
  }
}

}  // namespace
