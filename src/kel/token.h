// Token: one lexical unit of kel source, filled by Lex::nextToken. The parser
// owns three of them (the current token and two of look-ahead) and moves
// values out of them into the syntax tree. Not synchronised.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "model/any.h"

class Location;
class Parser;

class Token {
 public:
  enum Type : int32_t {
    END = 1,
    IDENT = 2,
    STRING = 3,
    DOUBLE = 4,
    FLOAT = 5,
    INTEGER = 6,
    LONG_INTEGER = 7,
    BOOL = 8,
    PUNCT = 9,
    KEYWORD_BREAK = 10,
    KEYWORD_CASE = 11,
    KEYWORD_CATCH = 12,
    KEYWORD_CONTINUE = 13,
    KEYWORD_DEBUGGER = 14,
    KEYWORD_DEFAULT = 15,
    KEYWORD_DELETE = 16,
    KEYWORD_DO = 17,
    KEYWORD_ELSE = 18,
    KEYWORD_FINALLY = 19,
    KEYWORD_FOR = 20,
    KEYWORD_FUNCTION = 21,
    KEYWORD_IF = 22,
    KEYWORD_IN = 23,
    KEYWORD_INSTANCEOF = 24,
    KEYWORD_NEW = 25,
    KEYWORD_RETURN = 26,
    KEYWORD_SWITCH = 27,
    KEYWORD_THIS = 28,
    KEYWORD_THROW = 29,
    KEYWORD_TRY = 30,
    KEYWORD_TYPEOF = 31,
    KEYWORD_VAR = 32,
    KEYWORD_LET = 33,
    KEYWORD_VOID = 34,
    KEYWORD_WHILE = 35,
    KEYWORD_WITH = 36,
    LITERAL_NULL = 37,
    LITERAL_UNDEFINED = 38,
    REGEX = 39,
    ERROR = 40,
  };

  Token() = default;
  Token(const Token&) = delete;
  Token& operator=(const Token&) = delete;

  // Moves every field of `source` into this token; the value and the text
  // change owner, `source` is left empty (END, no value, no text).
  void moveTo(Token& source);

  // Empties the token before the lexer fills it again (regexAllowed is kept:
  // the parser sets it on the slot before the read).
  void reset();

  // A new location: the parser's source name, this token's line and column
  // (a column of 0 is reported as 1).
  [[nodiscard]] std::unique_ptr<Location> getLocation(const Parser& parser) const;

  // Token-kind name as the token trace prints it ("IDENT", "KEYWORD_IF"...),
  // or null for a number outside the table.
  [[nodiscard]] static const char* typeName(int type);

  // The trace form: the kind and the value, e.g. IDENT(name), PUNCT('+'),
  // STRING("a\n"), ERROR("message").
  [[nodiscard]] std::string describe() const;

  // Is this the punctuation character `c`?
  [[nodiscard]] bool isPunct(char c) const { return type == PUNCT && value.getInt32() == c; }
  // The text of IDENT, STRING and ERROR tokens (empty for others).
  [[nodiscard]] const char* textValue() const;

  Type type = END;
  int32_t line = 0;
  int32_t column = 0;
  Any value;
  bool regexAllowed = false;
  bool spaceBefore = false;
  // Scriptlet mode: the template text read before this token, when the token
  // is the first one of a code section (or the END after trailing text).
  std::unique_ptr<std::string> text;
  // Scriptlet mode: the section this token opens began with `<?` alone (an
  // expression section) rather than `<?JS` (a statement section).
  bool expressionSection = false;
};
