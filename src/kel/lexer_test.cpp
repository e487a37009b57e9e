#include "kel/lexer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "kel/veskpattern.h"

namespace {

// Every token of `source` in trace form, separated by blanks. With `regex`
// every slot allows a regular expression.
std::string lexAll(const std::string& source, bool regex = false, bool json = false) {
  Lex lex(source, 1, 0, false);
  if (json) lex.setJsonMode();
  std::string out;
  Token token;
  for (int i = 0; i < 100; ++i) {
    token.regexAllowed = regex;
    lex.nextToken(token);
    if (!out.empty()) out += ' ';
    out += token.describe();
    if (token.type == Token::END) break;
  }
  return out;
}

TEST(Lex, Tokens) {
  struct Case {
    const char* source;
    const char* want;
    bool regex = false;
  };
  const Case cases[] = {
      // numbers and their suffixes
      {"0x1FL", "LONG_INTEGER(31) END"},
      {"0x1F", "INTEGER(31) END"},
      {"0xFFFFFFFF", "INTEGER(-1) END"},  // written masks keep their bits
      {"017", "INTEGER(15) END"},
      {"017L", "LONG_INTEGER(15) END"},
      {"08", "INTEGER(8) END"},
      {"0", "INTEGER(0) END"},
      {"0x10U", "ERROR(\"Unsigned values are not supported yet\") END"},
      {"010U", "ERROR(\"Unsigned values are not supported yet\") END"},
      {"12U", "ERROR(\"Unsigned values are not supported yet\") END"},
      {"1.5F", "FLOAT(1.5) END"},
      {"1.5L", "ERROR(\"Floating point values cannot be marked long\") END"},
      {"1.5U", "ERROR(\"Floating point values cannot be unsigned\") END"},
      {"2e-3", "DOUBLE(0.002) END"},
      {"1e+5", "DOUBLE(1) PUNCT('+') INTEGER(5) END"},
      {"1E3", "DOUBLE(1000) END"},
      {".5", "DOUBLE(0.5) END"},
      {".", "PUNCT('.') END"},
      {"1-2.5", "DOUBLE(1) PUNCT('-') DOUBLE(2.5) END"},
      {"1-2", "INTEGER(1) PUNCT('-') INTEGER(2) END"},
      {"5LLL", "LONG_INTEGER(5) END"},
      {"5F", "INTEGER(5) END"},
      {"2147483647", "INTEGER(2147483647) END"},
      {"2147483648", "LONG_INTEGER(2147483648) END"},  // kept, not wrapped
      {"9223372036854775807L", "LONG_INTEGER(9223372036854775807) END"},
      {"9223372036854775808", "ERROR(\"Integer literal is too large\") END"},
      {"1e400", "DOUBLE(inf) END"},
      {"1e99999999999999999999", "DOUBLE(inf) END"},
      // strings
      {"'a\\x41\\101'", "STRING(\"aAA\") END"},
      {"'\\u0041'", "STRING(\"A\") END"},
      {"'\\u00e9'", "STRING(\"\xC3\xA9\") END"},                 // UTF-8, the encoding of kel strings
      {"'\\ud83d\\ude00'", "STRING(\"\xF0\x9F\x98\x80\") END"},  // a surrogate pair is one character
      {"'\\ud83d'", "STRING(\"\xEF\xBF\xBD\") END"},
      {"'\\q' x", "ERROR(\"Illegal character escape sequence\") IDENT(x) END"},
      {"'\\x4g' x", "ERROR(\"Expected \\x<HEXDIGIT><HEXDIGIT>\") IDENT(x) END"},
      {"'\\u004' x", "ERROR(\"Expected \\u<HEXDIGIT><HEXDIGIT><HEXDIGIT><HEXDIGIT>\") IDENT(x) END"},
      {"\"a\nb\"", "ERROR(\"Newline not allowed in string\") IDENT(b) ERROR(\"Unexpected end of file while recognizing string\") END"},
      {"'abc", "ERROR(\"Unexpected end of file while recognizing string\") END"},
      {"'abc\\", "ERROR(\"Unexpected end of file while recognizing string\") END"},
      {"'a\\\nb'", "STRING(\"ab\") END"},
      {"'\\n\\t\\r\\\\\\'\\\"'", "STRING(\"\n\t\r\\'\"\") END"},
      {"\"it's\"", "STRING(\"it's\") END"},
      {"'a\\0b'", "STRING(\"a\") END"},  // a C text: a NUL ends it
      // words
      {"class", "ERROR(\"Illegal use of reserved word, class\") END"},
      {"yield", "ERROR(\"Illegal use of reserved word, yield\") END"},
      {"NaN", "DOUBLE(nan) END"},
      {"undefined null true false", "LITERAL_UNDEFINED LITERAL_NULL BOOL(true) BOOL(false) END"},
      {"if Else $a _b1", "KEYWORD_IF IDENT(Else) IDENT($a) IDENT(_b1) END"},
      {"typeof try this", "KEYWORD_TYPEOF KEYWORD_TRY KEYWORD_THIS END"},
      {"a\xC3\xA9", "IDENT(a) ERROR(\"Illegal character 0xc3 encountered\") ERROR(\"Illegal character 0xa9 encountered\") END"},
      {"@#", "PUNCT('@') PUNCT('#') END"},
      // comments
      {"a // note\nb", "IDENT(a) IDENT(b) END"},
      {"a // a last line without a line break", "IDENT(a) END"},
      {"a /* x\ny */ b", "IDENT(a) IDENT(b) END"},
      {"a\n  /* never closed", "IDENT(a) ERROR(\"End of file encountered in \"/*\" comment (Beginning at Line: 2, Position: 3)\") END"},
      // regular expressions
      {"/ab+c/gi", "REGEX(/ab+c/ig) END", true},
      {"/ab+c/gi", "PUNCT('/') IDENT(ab) PUNCT('+') IDENT(c) PUNCT('/') IDENT(gi) END"},
      {"/x/y", "ERROR(\"'sticky' regular expressions are not supported\") END", true},
      {"/ 2\n", "PUNCT('/') INTEGER(2) END", true},
      {"/abc", "ERROR(\"Unexpected end of file while recognizing regular expression\") END", true},
      {"/a\\/b/", "REGEX(/a\\/b/) END", true},
      {"/(/", "ERROR(\"Bad or Illegal regular expression: end pattern with unmatched parenthesis\") END", true},
      {"/x/mgm", "REGEX(/x/gm) END", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.source);
    EXPECT_EQ(lexAll(c.source, c.regex), c.want);
  }
}

TEST(Lex, JsonModeMakesIntegersLong) {
  EXPECT_EQ(lexAll("[1, -2, 0x10, 1.5]", false, true),
            "PUNCT('[') LONG_INTEGER(1) PUNCT(',') PUNCT('-') LONG_INTEGER(2) PUNCT(',') INTEGER(16) "
            "PUNCT(',') DOUBLE(1.5) PUNCT(']') END");
}

TEST(Lex, RegexLiteralHoldsCompiledPattern) {
  Lex lex("/ab+c/gi", 1, 0, false);
  Token token;
  token.regexAllowed = true;
  lex.nextToken(token);
  ASSERT_EQ(token.type, Token::REGEX);
  auto* pattern = dynamic_cast<VeskPattern*>(token.value.getRefTarget());
  ASSERT_NE(pattern, nullptr);
  EXPECT_EQ(pattern->flags(), 5);
  EXPECT_EQ(pattern->pattern(), "ab+c");
  EXPECT_TRUE(pattern->matches("ABBC"));
}

TEST(Lex, Positions) {
  // Columns count from the given start; a line break starts the next line
  // at column 1; a tab is one column.
  Lex lex("ab cd\n\tx\n  'a\\\nb' y", 1, 0, false);
  struct Want {
    int line, column;
    bool space;
  };
  const Want wants[] = {{1, 0, false}, {1, 3, true}, {2, 2, true}, {3, 3, true}, {4, 4, true}, {4, 5, false}};
  Token token;
  for (const Want& w : wants) {
    lex.nextToken(token);
    SCOPED_TRACE(token.describe());
    EXPECT_EQ(token.line, w.line);
    EXPECT_EQ(token.column, w.column);
    EXPECT_EQ(token.spaceBefore, w.space);
  }
  EXPECT_EQ(token.type, Token::END);
  Lex offset("x", 7, 12, false);
  offset.nextToken(token);
  EXPECT_EQ(token.line, 7);
  EXPECT_EQ(token.column, 12);
}

TEST(Lex, EndRepeats) {
  Lex lex("", 1, 0, false);
  Token token;
  for (int i = 0; i < 3; ++i) EXPECT_EQ(lex.nextToken(token).type, Token::END);
}

TEST(Lex, Scriptlet) {
  Lex lex("Hello <? name ?>!", 1, 0, true);
  Token token;
  lex.nextToken(token);
  EXPECT_EQ(token.describe(), "IDENT(name)");
  ASSERT_TRUE(token.text);
  EXPECT_EQ(*token.text, "Hello ");
  EXPECT_TRUE(token.expressionSection);
  lex.nextToken(token);
  EXPECT_EQ(token.type, Token::END);
  ASSERT_TRUE(token.text);
  EXPECT_EQ(*token.text, "!");

  Lex statements("<?JS x = 1; ?>", 1, 0, true);
  statements.nextToken(token);
  EXPECT_EQ(token.describe(), "IDENT(x)");
  ASSERT_TRUE(token.text);
  EXPECT_EQ(*token.text, "");
  EXPECT_FALSE(token.expressionSection);
  statements.nextToken(token);
  EXPECT_FALSE(token.text);
  for (int i = 0; i < 2; ++i) statements.nextToken(token);
  EXPECT_EQ(token.describe(), "PUNCT(';')");
  statements.nextToken(token);
  EXPECT_EQ(token.type, Token::END);
  ASSERT_TRUE(token.text);
  EXPECT_EQ(*token.text, "");

  // Only text: the END token carries all of it; an empty section joins
  // the text around it.
  Lex plain("a <? ?>b\n<?", 1, 0, true);
  plain.nextToken(token);
  EXPECT_EQ(token.type, Token::END);
  ASSERT_TRUE(token.text);
  EXPECT_EQ(*token.text, "a b\n");
  // Positions run through the text.
  Lex lines("ab\ncd<? x ?>", 1, 0, true);
  lines.nextToken(token);
  EXPECT_EQ(token.line, 2);
  EXPECT_EQ(token.column, 6);
}

TEST(Lex, ConvertToInt64) {
  struct Case {
    const char* text;
    bool ok;
    long long value;
  };
  const Case cases[] = {
      {"-0x10", true, -16}, {"12a", false, 0}, {"", true, 0},     {"-", true, 0},      {"+7", true, 7},
      {"017", true, 15},    {"09", true, 9},   {"0x", true, 0},   {"0xfF", true, 255}, {"019", false, 0},
      {" 1", false, 0},     {"1 ", false, 0},  {"9223372036854775807", true, 9223372036854775807LL},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    long long v = -999;
    EXPECT_EQ(Lex::convertToInt64(c.text, &v), c.ok);
    EXPECT_EQ(v, c.ok ? c.value : -999);  // untouched on failure
  }
}

TEST(Lex, ConvertToDouble) {
  struct Case {
    const char* text;
    bool ok;
    double value;
  };
  const Case cases[] = {
      {"1.25", true, 1.25}, {"2e-3", true, 0.002}, {"3E2", true, 300}, {"", true, 0},
      {"-1", false, 0},     {"1.5x", false, 0},    {"1e+2", false, 0}, {".5", true, 0.5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    double v = -999;
    EXPECT_EQ(Lex::convertToDouble(c.text, &v), c.ok);
    EXPECT_DOUBLE_EQ(v, c.ok ? c.value : -999);
  }
}

TEST(Lex, ToHexValue) {
  EXPECT_EQ(Lex::toHexValue('0'), 0);
  EXPECT_EQ(Lex::toHexValue('9'), 9);
  EXPECT_EQ(Lex::toHexValue('a'), 10);
  EXPECT_EQ(Lex::toHexValue('F'), 15);
  EXPECT_EQ(Lex::toHexValue('g'), -1);
  EXPECT_EQ(Lex::toHexValue(-1), -1);
}

}  // namespace
