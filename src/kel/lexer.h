// Lex: turns kel source text into Tokens for the parser, keeping line and
// column positions. In scriptlet mode the source is a text template whose
// code sections are opened by `<?` (an expression) or `<?JS` (statements) and
// closed by `?>`. Every punctuation character is a token of its own; the
// parser forms the multi-character operators. Lexical errors never stop the
// lexer: they come out as ERROR tokens holding the message.
// A Lex belongs to one parser and is used by one thread at a time.
#pragma once

#include <string>
#include <string_view>

#include "kel/token.h"

class Lex {
 public:
  // Copies `text` (up to a NUL byte, if it holds one); positions start at
  // `line` and `column`. With `scriptlet` the text starts in template mode.
  Lex(std::string_view text, int line, int column, bool scriptlet);

  // Fills `token` with the next token and returns it. The slot's
  // regexAllowed flag, set by the caller, lets a `/` start a regular
  // expression. After END, every further call gives END again.
  Token& nextToken(Token& token);

  // JSON mode: every decimal integer literal becomes a LONG_INTEGER. Once
  // set it stays set.
  void setJsonMode() { json_ = true; }
  [[nodiscard]] bool jsonMode() const { return json_; }

  // The source text (up to its first NUL byte, if it held one) and the
  // position its first character has; the JSON reader scans it directly.
  [[nodiscard]] std::string_view source() const { return text_; }
  [[nodiscard]] int startLine() const { return startLine_; }
  [[nodiscard]] int startColumn() const { return startColumn_; }
  // Whether the text given held a NUL byte (the source stops before it).
  [[nodiscard]] bool cutAtNul() const { return cutAtNul_; }

  // Where the next read starts (for tests and traces).
  [[nodiscard]] int line() const { return line_; }
  [[nodiscard]] int column() const { return column_; }

  // 0-15 for 0-9, a-f, A-F; -1 otherwise.
  [[nodiscard]] static int toHexValue(int c);

  // Text to a 64-bit integer: optional sign, then 0x/0X and hex digits, or 0
  // and octal digits (0 followed by 8 or 9 reads as decimal), or decimal
  // digits; the whole text must be used. "" and a lone sign give 0.
  // *out is written only on success.
  [[nodiscard]] static bool convertToInt64(const char* text, long long* out);
  // Text to a double: digits, optional fraction, optional e/E with optional
  // '-' and digits; no sign; the whole text must be used.
  [[nodiscard]] static bool convertToDouble(const char* text, double* out);

  // Messages of the ERROR tokens that take no argument.
  static constexpr const char* kUnsignedMessage = "Unsigned values are not supported yet";
  static constexpr const char* kFloatUnsignedMessage = "Floating point values cannot be unsigned";
  static constexpr const char* kFloatLongMessage = "Floating point values cannot be marked long";
  static constexpr const char* kIntegerTooLargeMessage = "Integer literal is too large";
  static constexpr const char* kBadHexEscapeMessage = "Expected \\x<HEXDIGIT><HEXDIGIT>";
  static constexpr const char* kBadUnicodeEscapeMessage = "Expected \\u<HEXDIGIT><HEXDIGIT><HEXDIGIT><HEXDIGIT>";
  static constexpr const char* kBadEscapeMessage = "Illegal character escape sequence";
  static constexpr const char* kNewlineInStringMessage = "Newline not allowed in string";
  static constexpr const char* kEofInStringMessage = "Unexpected end of file while recognizing string";
  static constexpr const char* kEofInRegexMessage = "Unexpected end of file while recognizing regular expression";
  static constexpr const char* kStickyRegexMessage = "'sticky' regular expressions are not supported";

 private:
  [[nodiscard]] int peek(size_t ahead = 0) const {
    return pos_ + ahead < text_.size() ? static_cast<unsigned char>(text_[pos_ + ahead]) : -1;
  }
  // Consumes one character, counting the position.
  void advance();
  void advance(size_t n) {
    while (n-- > 0) advance();
  }

  void readTemplateText();
  bool skipSpace();
  // Hands the template text collected so far to `token`, if any is pending.
  void attachText(Token& token);
  void readToken(Token& token);
  void readString(Token& token);
  void readNumber(Token& token);
  void readRegex(Token& token);
  void readWord(Token& token);
  static void setError(Token& token, const std::string& message);

  std::string text_;
  size_t pos_ = 0;
  int line_;
  int column_;
  std::string lexeme_;

  bool scriptlet_;
  bool inText_;          // template mode: collecting text
  bool textPending_ = false;  // the next token carries the collected text
  bool expressionSection_ = false;
  std::string templateText_;
  bool json_ = false;
  int startLine_;
  int startColumn_;
  bool cutAtNul_;
};
