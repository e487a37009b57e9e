#include "kel/veskpattern.h"

#include <gtest/gtest.h>

namespace {

using Pieces = std::vector<std::string>;

TEST(VeskPattern, WholeTextAndSearch) {
  struct Case {
    const char* pattern;
    int flags;
    const char* text;
    bool matches;
    int search;
  };
  const Case cases[] = {
      {"a+", 0, "aaa", true, 0},
      {"a+", 0, "baaa", false, 1},
      {"a+", VeskPattern::kSearchMode, "baaa", true, 1},
      {"a|ab", 0, "ab", true, 0},        // the engine retries the second alternative
      {"a+?", 0, "aaa", true, 0},        // and lets a lazy quantifier grow
      {"(a|ab)(c|bcd)(d*)", 0, "abcd", true, 0},
      {"abc", VeskPattern::kIgnoreCase, "ABC", true, 0},
      {"\\Qa.c", 0, "a.c", true, 0},     // an open quote still anchors at the end
      {"\\Qa.c", 0, "a.cd", false, 0},
      {"(?x)a b # comment", 0, "ab", true, 0},
      {"(?x)a b # comment", 0, "abc", false, 0},
      {"a$", 0, "a\n", false, 0},        // $ before a final line break: found, not whole
      {"^b$", 0, "a\nb", false, -1},
      {"^b$", VeskPattern::kMultiLine, "a\nb", false, 2},
      {"a.b", 0, "a\nb", false, -1},
      {"\\w+", 0, "\xC3\xA9t\xC3\xA9", false, 2},   // \w is ASCII, as in Java
      {"caf.", 0, "caf\xE9", false, -1},             // not UTF-8: never matches
      {"", 0, "", true, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.pattern) + " on " + c.text);
    VeskPattern p(c.pattern, c.flags);
    ASSERT_FALSE(p.hasError()) << p.errorText();
    EXPECT_EQ(p.matches(c.text), c.matches);
    EXPECT_EQ(p.search(c.text), c.search);
  }
}

TEST(VeskPattern, CompileErrorsKeepAnObject) {
  for (const char* bad : {"(", "a)", "[a", "*", "a{2,1}", "\\", "\xE9"}) {
    SCOPED_TRACE(bad);
    VeskPattern p(bad, 0);
    EXPECT_TRUE(p.hasError());
    EXPECT_FALSE(p.errorText().empty());
    EXPECT_FALSE(p.matches("("));
    EXPECT_EQ(p.search("("), -1);
    EXPECT_EQ(p.replaceText("(", "x"), "(");
    EXPECT_EQ(p.splitText("a(b"), Pieces{"a(b"});
  }
}

TEST(VeskPattern, Replace) {
  struct Case {
    const char* pattern;
    int flags;
    const char* text;
    const char* replacement;
    const char* want;
  };
  const Case cases[] = {
      {"-", VeskPattern::kGlobal, "a-b-c", "+", "a+b+c"},
      {"-", 0, "a-b-c", "+", "a+b-c"},
      {"x*", VeskPattern::kGlobal, "abc", "-", "-a-b-c-"},
      {"x*", VeskPattern::kGlobal, "xab", "-", "--a-b-"},
      {"", VeskPattern::kGlobal, "\xC3\xA9z", "|", "|\xC3\xA9|z|"},  // never inside a character
      {"(a)", VeskPattern::kGlobal, "banana", "$1", "b$1n$1n$1"},      // taken literally
      {"q", VeskPattern::kGlobal, "abc", "x", "abc"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.pattern) + " on " + c.text);
    VeskPattern p(c.pattern, c.flags);
    EXPECT_EQ(p.replaceText(c.text, c.replacement), c.want);
  }
}

TEST(VeskPattern, Split) {
  struct Case {
    const char* pattern;
    int flags;
    const char* text;
    Pieces want;
  };
  const Case cases[] = {
      {",", VeskPattern::kGlobal, "a,b,c", {"a", "b", "c"}},
      {",", 0, "a,b,c", {"a", "b,c"}},
      {",", VeskPattern::kGlobal, ",a,,b,", {"a", "", "b", ""}},
      {"q", VeskPattern::kGlobal, "abc", {"abc"}},
      {"x*", VeskPattern::kGlobal, "abc", {"a", "b", "c"}},
      {"", VeskPattern::kGlobal, "\xC3\xA9z", {"\xC3\xA9", "z"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.pattern) + " on " + c.text);
    VeskPattern p(c.pattern, c.flags);
    EXPECT_EQ(p.splitText(c.text), c.want);
  }
}

TEST(VeskPattern, TextFormAndEquality) {
  EXPECT_EQ(VeskPattern("x", 7).toText(), "/x/igm");
  EXPECT_EQ(VeskPattern("a/b", 0).toText(), "/a/b/");
  EXPECT_TRUE(VeskPattern("x", 1).samePattern(VeskPattern("x", 1)));
  EXPECT_FALSE(VeskPattern("x", 1).samePattern(VeskPattern("x", 5)));
  EXPECT_FALSE(VeskPattern("x", 1).samePattern(VeskPattern("y", 1)));
}

TEST(VeskPattern, GroupsAndNames) {
  VeskPattern p("(?<year>\\d{4})-(\\d\\d)", 0);
  ASSERT_FALSE(p.hasError()) << p.errorText();
  EXPECT_EQ(p.groupCount(), 2);
  VeskPattern::Match m;
  ASSERT_TRUE(p.find("on 2024-03", 0, &m));
  ASSERT_EQ(m.groups.size(), 3u);
  EXPECT_EQ(m.groups[1], std::make_pair(3, 7));
  EXPECT_EQ(m.groups[2], std::make_pair(8, 10));
  EXPECT_FALSE(p.find("on 2024-03", 4, &m));
  EXPECT_FALSE(p.find("x", 5, &m));  // past the end
}

TEST(VeskPattern, VeskMatch) {
  EXPECT_TRUE(vesk_match("a.*z", "abcz"));
  EXPECT_FALSE(vesk_match("a.*z", "abcza"));
  EXPECT_FALSE(vesk_match("(", "("));
  EXPECT_FALSE(vesk_match(nullptr, "x"));
}

}  // namespace
