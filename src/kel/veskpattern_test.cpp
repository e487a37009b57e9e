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

#include "kel/veskpattern_prototype.h"
#include "model/any.h"
#include "model/obj_ref.h"

namespace {

TEST(VeskPatternPrototype, ConstructAndTest) {
  VeskPatternPrototype prototype;
  EXPECT_TRUE(prototype.isPrototype());
  EXPECT_EQ(prototype.getObjectID(), 9223);

  Any text("a+");
  Translatable* args[] = {&text, nullptr};
  Any* made = nullptr;
  ASSERT_EQ(prototype.construct(nullptr, &made, args), 0);
  std::unique_ptr<Any> holder(made);
  auto* pattern = dynamic_cast<VeskPattern*>(made->getRefTarget());
  ASSERT_NE(pattern, nullptr);
  EXPECT_EQ(pattern->flags(), 0);

  struct Case {
    Any* arg;
    int rc;
    bool value;
  };
  Any whole("aaa"), part("baaa"), number(5);
  const Case cases[] = {{&whole, 0, true}, {&part, 0, false}, {&number, 49, false}, {nullptr, 48, false}};
  for (const Case& c : cases) {
    Any* callArgs[] = {c.arg, nullptr};
    Any* result = nullptr;
    EXPECT_EQ(prototype.callMemberFn(nullptr, &result, pattern, "test", callArgs), c.rc);
    std::unique_ptr<Any> r(result);
    if (c.rc == 0) {
      ASSERT_NE(r, nullptr);
      EXPECT_EQ(r->getType(), ANY_BOOL);
      EXPECT_EQ(r->getBool(), c.value);
    } else {
      EXPECT_EQ(r, nullptr);
    }
  }
  Any* none = nullptr;
  Any* noArgs[] = {nullptr};
  EXPECT_EQ(prototype.callMemberFn(nullptr, &none, pattern, "exec", noArgs), 111);

  // A pattern that does not compile is still made, with its error flag set.
  Any bad("(");
  Translatable* badArgs[] = {&bad, nullptr};
  Any* broken = nullptr;
  ASSERT_EQ(prototype.construct(nullptr, &broken, badArgs), 0);
  std::unique_ptr<Any> brokenHolder(broken);
  EXPECT_TRUE(dynamic_cast<VeskPattern*>(broken->getRefTarget())->hasError());
  Translatable* noneArgs[] = {nullptr};
  Any* missing = nullptr;
  EXPECT_EQ(prototype.construct(nullptr, &missing, noneArgs), 24);
  Translatable* wrongArgs[] = {&number, nullptr};
  EXPECT_EQ(prototype.construct(nullptr, &missing, wrongArgs), 24);
}

TEST(VeskPattern, ObjectProtocol) {
  VeskPattern a("x", 7), b("x", 7), c("x", 1);
  char* text = a.toString(nullptr);
  EXPECT_STREQ(text, "/x/igm");
  free(text);
  bool equal = false;
  EXPECT_EQ(a.isEqual(nullptr, &equal, &b), 0);
  EXPECT_TRUE(equal);
  EXPECT_EQ(a.isEqual(nullptr, &equal, &c), 0);
  EXPECT_FALSE(equal);
  Any other(1);
  EXPECT_EQ(a.isEqual(nullptr, &equal, &other), 0);
  EXPECT_FALSE(equal);
  std::unique_ptr<Any> replaced(VeskPattern("-", VeskPattern::kGlobal).replace("a-b-c", "+"));
  EXPECT_STREQ(replaced->getString(), "a+b+c");
}

}  // namespace
