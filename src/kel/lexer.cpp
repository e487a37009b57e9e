#include "kel/lexer.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#include "kel/veskpattern.h"
#include "model/obj_ref.h"

namespace {

// Character classes of the C locale, spelled out so that a process locale
// set by the host or the JVM never changes how kel source is read.
bool isSpace(int c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
bool isDigit(int c) { return c >= '0' && c <= '9'; }
bool isOctal(int c) { return c >= '0' && c <= '7'; }
bool isAlpha(int c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool isWordStart(int c) { return isAlpha(c) || c == '_' || c == '$'; }
bool isWordPart(int c) { return isWordStart(c) || isDigit(c); }
bool isPunctChar(int c) { return c > ' ' && c < 0x7F && !isAlpha(c) && !isDigit(c); }

struct Keyword {
  const char* word;
  Token::Type type;
};
constexpr Keyword kKeywords[] = {
    {"break", Token::KEYWORD_BREAK},       {"case", Token::KEYWORD_CASE},
    {"catch", Token::KEYWORD_CATCH},       {"continue", Token::KEYWORD_CONTINUE},
    {"debugger", Token::KEYWORD_DEBUGGER}, {"default", Token::KEYWORD_DEFAULT},
    {"delete", Token::KEYWORD_DELETE},     {"do", Token::KEYWORD_DO},
    {"else", Token::KEYWORD_ELSE},         {"finally", Token::KEYWORD_FINALLY},
    {"for", Token::KEYWORD_FOR},           {"function", Token::KEYWORD_FUNCTION},
    {"if", Token::KEYWORD_IF},             {"in", Token::KEYWORD_IN},
    {"instanceof", Token::KEYWORD_INSTANCEOF}, {"new", Token::KEYWORD_NEW},
    {"return", Token::KEYWORD_RETURN},     {"switch", Token::KEYWORD_SWITCH},
    {"this", Token::KEYWORD_THIS},         {"throw", Token::KEYWORD_THROW},
    {"try", Token::KEYWORD_TRY},           {"typeof", Token::KEYWORD_TYPEOF},
    {"var", Token::KEYWORD_VAR},           {"let", Token::KEYWORD_LET},
    {"void", Token::KEYWORD_VOID},         {"while", Token::KEYWORD_WHILE},
    {"with", Token::KEYWORD_WITH},         {"null", Token::LITERAL_NULL},
};

constexpr const char* kReservedWords[] = {
    "class",      "const",     "enum",    "export",  "extends", "import",    "super",     "implements",
    "interface", "package",   "private", "protected", "public", "static", "yield",
};

// Appends code point `cp` as UTF-8.
void appendUtf8(std::string& out, unsigned cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// 10 raised to a clamped exponent: beyond +-400 the result is already an
// infinity or zero, and clamping keeps the exponent count from overflowing.
double scaleByExponent(double value, long exponent) {
  if (exponent == 0) return value;
  return value * std::pow(10.0, static_cast<double>(exponent));
}

// The decimal text from `begin` to `end` (digits, '.', an exponent) as the
// nearest double; the digit-by-digit sum drifts (0.3 came out as
// 0.30000000000000004), so it is only the fallback for text the exact
// conversion refuses (out of range: then the sum's infinity or zero).
double correctlyRounded(const char* begin, const char* end, double fallback) {
  double exact = 0;
  auto r = std::from_chars(begin, end, exact);
  return r.ec == std::errc() ? exact : fallback;
}

}  // namespace

// ---- Token

void Token::reset() {
  type = END;
  line = 0;
  column = 0;
  value.clear();
  spaceBefore = false;
  text.reset();
  expressionSection = false;
}

void Token::moveTo(Token& source) {
  type = source.type;
  line = source.line;
  column = source.column;
  value.takeFrom(source.value);
  source.value.clear();
  regexAllowed = source.regexAllowed;
  spaceBefore = source.spaceBefore;
  text = std::move(source.text);
  expressionSection = source.expressionSection;
  source.type = END;
}

const char* Token::textValue() const {
  if (type != IDENT && type != STRING && type != ERROR) return "";
  const char* s = value.getString();
  return s != nullptr ? s : "";
}

const char* Token::typeName(int type) {
  static const char* const kNames[] = {
      "END",           "IDENT",          "STRING",           "DOUBLE",         "FLOAT",
      "INTEGER",       "LONG_INTEGER",   "BOOL",             "PUNCT",          "KEYWORD_BREAK",
      "KEYWORD_CASE",  "KEYWORD_CATCH",  "KEYWORD_CONTINUE", "KEYWORD_DEBUGGER", "KEYWORD_DEFAULT",
      "KEYWORD_DELETE", "KEYWORD_DO",    "KEYWORD_ELSE",     "KEYWORD_FINALLY", "KEYWORD_FOR",
      "KEYWORD_FUNCTION", "KEYWORD_IF",  "KEYWORD_IN",       "KEYWORD_INSTANCEOF", "KEYWORD_NEW",
      "KEYWORD_RETURN", "KEYWORD_SWITCH", "KEYWORD_THIS",    "KEYWORD_THROW",  "KEYWORD_TRY",
      "KEYWORD_TYPEOF", "KEYWORD_VAR",   "KEYWORD_LET",      "KEYWORD_VOID",   "KEYWORD_WHILE",
      "KEYWORD_WITH",  "LITERAL_NULL",   "LITERAL_UNDEFINED", "REGEX",         "ERROR",
  };
  if (type < END || type > ERROR) return nullptr;
  return kNames[type - END];
}

std::string Token::describe() const {
  const char* name = typeName(type);
  char buffer[64];
  std::string out;
  if (name == nullptr) {
    std::snprintf(buffer, sizeof buffer, "type: %d ", static_cast<int>(type));
    return buffer;
  }
  out = name;
  switch (type) {
    case IDENT:
      out += "(" + std::string(textValue()) + ")";
      break;
    case STRING:
    case ERROR:
      out += "(\"" + std::string(textValue()) + "\")";
      break;
    case INTEGER:
    case PUNCT:
      if (type == PUNCT) {
        std::snprintf(buffer, sizeof buffer, "('%c')", static_cast<char>(value.getInt32()));
      } else {
        std::snprintf(buffer, sizeof buffer, "(%d)", value.getInt32());
      }
      out += buffer;
      break;
    case LONG_INTEGER:
      std::snprintf(buffer, sizeof buffer, "(%lld)", value.getInt64());
      out += buffer;
      break;
    case DOUBLE:
      std::snprintf(buffer, sizeof buffer, "(%.17g)", value.getDouble());
      out += buffer;
      break;
    case FLOAT:
      std::snprintf(buffer, sizeof buffer, "(%.9g)", static_cast<double>(value.getFloat()));
      out += buffer;
      break;
    case BOOL:
      out += value.getBool() ? "(true)" : "(false)";
      break;
    case REGEX:
      if (auto* p = dynamic_cast<VeskPattern*>(value.getRefTarget())) out += "(" + p->toText() + ")";
      break;
    default:
      break;
  }
  return out;
}

// ---- Lex

Lex::Lex(std::string_view text, int line, int column, bool scriptlet)
    : text_(text.substr(0, text.find('\0'))),
      line_(line),
      column_(column),
      scriptlet_(scriptlet),
      inText_(scriptlet),
      startLine_(line),
      startColumn_(column),
      cutAtNul_(text.find('\0') != std::string_view::npos) {
  lexeme_.reserve(128);
}

void Lex::advance() {
  if (pos_ >= text_.size()) return;
  if (text_[pos_] == '\n') {
    ++line_;
    column_ = 1;
  } else {
    ++column_;
  }
  ++pos_;
}

int Lex::toHexValue(int c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

void Lex::setError(Token& token, const std::string& message) {
  token.type = Token::ERROR;
  token.value.setString(message.c_str());
}

void Lex::readTemplateText() {
  while (pos_ < text_.size()) {
    if (peek() == '<' && peek(1) == '?') {
      advance(2);
      if (peek() == 'J' && peek(1) == 'S') {
        advance(2);
        expressionSection_ = false;
      } else {
        expressionSection_ = true;
      }
      inText_ = false;
      return;
    }
    templateText_ += text_[pos_];
    advance();
  }
}

void Lex::attachText(Token& token) {
  if (!textPending_) return;
  token.text = std::make_unique<std::string>(std::move(templateText_));
  templateText_.clear();
  token.expressionSection = expressionSection_;
  textPending_ = false;
}

bool Lex::skipSpace() {
  bool skipped = false;
  while (pos_ < text_.size() && isSpace(peek())) {
    advance();
    skipped = true;
  }
  return skipped;
}

Token& Lex::nextToken(Token& token) {
  token.reset();
  bool spaceBefore = false;
  for (;;) {
    if (inText_) {
      textPending_ = true;
      readTemplateText();
      if (inText_) break;  // the text ran to the end of the input
    }
    if (skipSpace()) spaceBefore = true;
    if (scriptlet_ && peek() == '?' && peek(1) == '>') {
      advance(2);
      inText_ = true;
      continue;
    }
    token.line = line_;
    token.column = column_;
    // Comments.
    if (peek() == '/' && peek(1) == '/') {
      // A comment on the last line of a script needs no line break after it:
      // the end of the input ends it.
      while (pos_ < text_.size() && peek() != '\n') advance();
      advance();
      spaceBefore = true;
      continue;
    }
    if (peek() == '/' && peek(1) == '*') {
      int startLine = line_, startColumn = column_;
      advance(2);
      while (pos_ < text_.size() && !(peek() == '*' && peek(1) == '/')) advance();
      if (pos_ >= text_.size()) {
        char message[160];
        std::snprintf(message, sizeof message,
                      "End of file encountered in \"/*\" comment (Beginning at Line: %d, Position: %d)",
                      startLine, startColumn);
        token.spaceBefore = spaceBefore;
        attachText(token);
        setError(token, message);
        return token;
      }
      advance(2);
      spaceBefore = true;
      continue;
    }
    break;
  }
  token.line = line_;
  token.column = column_;
  token.spaceBefore = spaceBefore;
  attachText(token);
  if (pos_ >= text_.size()) {
    token.type = Token::END;
    return token;
  }
  readToken(token);
  return token;
}

void Lex::readToken(Token& token) {
  int c = peek();
  if (c == '"' || c == '\'') {
    readString(token);
  } else if (isDigit(c) || (c == '.' && isDigit(peek(1)))) {
    readNumber(token);
  } else if (c == '/' && token.regexAllowed) {
    readRegex(token);
  } else if (isPunctChar(c) && c != '_' && c != '$') {
    advance();
    token.type = Token::PUNCT;
    token.value.set(c);
  } else if (isWordStart(c)) {
    readWord(token);
  } else {
    advance();
    char message[64];
    std::snprintf(message, sizeof message, "Illegal character 0x%x encountered", static_cast<unsigned>(c));
    setError(token, message);
  }
}

void Lex::readWord(Token& token) {
  lexeme_.clear();
  while (pos_ < text_.size() && isWordPart(peek())) {
    lexeme_ += text_[pos_];
    advance();
  }
  if (lexeme_ == "undefined") {
    token.type = Token::LITERAL_UNDEFINED;
    return;
  }
  if (lexeme_ == "NaN") {
    token.type = Token::DOUBLE;
    token.value.set(std::numeric_limits<double>::quiet_NaN());
    return;
  }
  for (const Keyword& k : kKeywords) {
    if (lexeme_ == k.word) {
      token.type = k.type;
      return;
    }
  }
  for (const char* reserved : kReservedWords) {
    if (lexeme_ == reserved) {
      setError(token, "Illegal use of reserved word, " + lexeme_);
      return;
    }
  }
  if (lexeme_ == "true" || lexeme_ == "false") {
    token.type = Token::BOOL;
    token.value.set(lexeme_ == "true");
    return;
  }
  token.type = Token::IDENT;
  token.value.setString(lexeme_.c_str());
}

void Lex::readString(Token& token) {
  const int quote = peek();
  advance();
  lexeme_.clear();
  const char* error = nullptr;
  // After an error the rest of the literal is skipped up to its closing
  // quote, so that its contents are never read as code.
  auto skipRest = [this, quote] {
    while (pos_ < text_.size() && peek() != quote && peek() != '\n') {
      if (peek() == '\\' && pos_ + 1 < text_.size() && peek(1) != '\n') advance();
      advance();
    }
    if (peek() == quote) advance();
  };
  for (;;) {
    int c = peek();
    if (c < 0) {
      error = kEofInStringMessage;
      break;
    }
    if (c == quote) {
      advance();
      break;
    }
    if (c == '\n') {
      error = kNewlineInStringMessage;
      break;
    }
    if (c != '\\') {
      lexeme_ += static_cast<char>(c);
      advance();
      continue;
    }
    advance();  // the backslash
    int e = peek();
    if (e < 0) {
      error = kEofInStringMessage;
      break;
    }
    switch (e) {
      case 'n': lexeme_ += '\n'; advance(); continue;
      case 't': lexeme_ += '\t'; advance(); continue;
      case 'r': lexeme_ += '\r'; advance(); continue;
      case 'b': lexeme_ += '\b'; advance(); continue;
      case 'f': lexeme_ += '\f'; advance(); continue;
      case 'v': lexeme_ += '\v'; advance(); continue;
      case '\\': case '\'': case '"': lexeme_ += static_cast<char>(e); advance(); continue;
      case '\n': advance(); continue;  // line continuation
      default: break;
    }
    if (isOctal(e)) {
      unsigned v = 0;
      for (int i = 0; i < 3 && isOctal(peek()); ++i) {
        v = v * 8 + static_cast<unsigned>(peek() - '0');
        advance();
      }
      lexeme_ += static_cast<char>(v & 0xFF);
      continue;
    }
    if (e == 'x') {
      advance();
      int h1 = toHexValue(peek());
      int h2 = h1 < 0 ? -1 : toHexValue(peek(1));
      if (h1 < 0 || h2 < 0) {
        error = kBadHexEscapeMessage;
        skipRest();
        break;
      }
      advance(2);
      lexeme_ += static_cast<char>(h1 * 16 + h2);
      continue;
    }
    if (e == 'u') {
      advance();
      unsigned cp = 0;
      bool ok = true;
      for (int i = 0; i < 4; ++i) {
        int h = toHexValue(peek(i));
        if (h < 0) {
          ok = false;
          break;
        }
        cp = cp * 16 + static_cast<unsigned>(h);
      }
      if (!ok) {
        error = kBadUnicodeEscapeMessage;
        skipRest();
        break;
      }
      advance(4);
      // The code is written as UTF-8, the encoding of every kel string; a
      // surrogate pair written as two escapes makes one character, and a
      // lone surrogate the replacement character.
      if (cp >= 0xD800 && cp <= 0xDBFF && peek() == '\\' && peek(1) == 'u') {
        unsigned low = 0;
        bool lowOk = true;
        for (int i = 0; i < 4; ++i) {
          int h = toHexValue(peek(2 + i));
          if (h < 0) {
            lowOk = false;
            break;
          }
          low = low * 16 + static_cast<unsigned>(h);
        }
        if (lowOk && low >= 0xDC00 && low <= 0xDFFF) {
          advance(6);
          cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
        }
      }
      if (cp >= 0xD800 && cp <= 0xDFFF) cp = 0xFFFD;
      appendUtf8(lexeme_, cp);
      continue;
    }
    error = kBadEscapeMessage;
    skipRest();
    break;
  }
  if (error != nullptr) {
    setError(token, error);
    return;
  }
  token.type = Token::STRING;
  // The value is a C text: a decoded NUL byte ends it.
  token.value.setString(lexeme_.c_str());
}

void Lex::readNumber(Token& token) {
  // Hexadecimal and octal literals keep the bits that fit the type, as
  // written masks such as 0xFFFFFFFF rely on.
  bool hex = peek() == '0' && (peek(1) == 'x' || peek(1) == 'X');
  bool octal = !hex && peek() == '0' && isOctal(peek(1));
  if (hex || octal) {
    const unsigned base = hex ? 16 : 8;
    advance(hex ? 2 : 1);
    size_t digitsEnd = pos_;
    while (digitsEnd < text_.size() &&
           (hex ? toHexValue(static_cast<unsigned char>(text_[digitsEnd])) >= 0
                : isOctal(static_cast<unsigned char>(text_[digitsEnd])))) {
      ++digitsEnd;
    }
    int suffix = digitsEnd < text_.size() ? static_cast<unsigned char>(text_[digitsEnd]) : -1;
    uint64_t v = 0;
    while (pos_ < digitsEnd) {
      v = v * base + static_cast<unsigned>(toHexValue(peek()));
      advance();
    }
    if (suffix == 'U') {
      setError(token, kUnsignedMessage);
    } else if (suffix == 'L') {
      token.type = Token::LONG_INTEGER;
      token.value.set(static_cast<long long>(v));
    } else {
      token.type = Token::INTEGER;
      token.value.set(static_cast<int>(static_cast<uint32_t>(v)));
      return;
    }
    while (peek() == 'L' || peek() == 'U' || peek() == 'F') advance();
    return;
  }

  // Decimal: look ahead over the characters a number may hold to learn
  // whether it is floating and which suffix follows.
  size_t runEnd = pos_;
  bool floating = false;
  while (runEnd < text_.size()) {
    char c = text_[runEnd];
    if (c == '.' || c == 'e' || c == 'E') {
      floating = true;
    } else if (!isDigit(static_cast<unsigned char>(c)) && c != '-') {
      break;
    }
    ++runEnd;
  }
  bool isUnsigned = false, isFloat = false, isLong = false;
  for (size_t i = runEnd; i < text_.size(); ++i) {
    char c = text_[i];
    if (c == 'U') {
      isUnsigned = true;
    } else if (c == 'F') {
      isFloat = true;
    } else if (c == 'L') {
      isLong = true;
    } else {
      break;
    }
  }
  const bool anyFlag = floating || isUnsigned || isFloat || isLong;

  if (floating && isUnsigned) {
    setError(token, kFloatUnsignedMessage);
    while (pos_ < runEnd) advance();
  } else if (floating && isLong) {
    setError(token, kFloatLongMessage);
    while (pos_ < runEnd) advance();
  } else if (floating) {
    const size_t start = pos_;
    double value = 0;
    while (isDigit(peek())) {
      value = value * 10 + (peek() - '0');
      advance();
    }
    if (peek() == '.') {
      advance();
      double scale = 0.1;
      while (isDigit(peek())) {
        value += (peek() - '0') * scale;
        scale *= 0.1;
        advance();
      }
    }
    if (peek() == 'e' || peek() == 'E') {
      advance();
      bool negative = false;
      if (peek() == '-') {
        negative = true;
        advance();
      }
      long exponent = 0;
      while (isDigit(peek())) {
        if (exponent < 100000) exponent = exponent * 10 + (peek() - '0');
        advance();
      }
      value = scaleByExponent(value, negative ? -exponent : exponent);
    }
    value = correctlyRounded(text_.data() + start, text_.data() + pos_, value);
    if (isFloat) {
      token.type = Token::FLOAT;
      token.value.set(static_cast<float>(value));
    } else {
      token.type = Token::DOUBLE;
      token.value.set(value);
    }
  } else if (isUnsigned) {
    setError(token, kUnsignedMessage);
    while (isDigit(peek())) advance();
  } else {
    // A decimal literal keeps its value: one too large for 32 bits becomes a
    // 64-bit integer, one too large for 64 bits is an error, never a wrap.
    uint64_t v = 0;
    bool overflow = false;
    while (isDigit(peek())) {
      unsigned d = static_cast<unsigned>(peek() - '0');
      if (v > (static_cast<uint64_t>(std::numeric_limits<long long>::max()) - d) / 10) overflow = true;
      if (!overflow) v = v * 10 + d;
      advance();
    }
    if (overflow) {
      setError(token, kIntegerTooLargeMessage);
    } else if (isLong || json_ || v > static_cast<uint64_t>(std::numeric_limits<int>::max())) {
      token.type = Token::LONG_INTEGER;
      token.value.set(static_cast<long long>(v));
    } else {
      token.type = Token::INTEGER;
      token.value.set(static_cast<int>(v));
    }
  }
  if (anyFlag) {
    while (peek() == 'L' || peek() == 'U' || peek() == 'F') advance();
  }
}

void Lex::readRegex(Token& token) {
  // Remember where the literal began: a line break inside it means the slash
  // was a division after all.
  const size_t startPos = pos_;
  const int startLine = line_, startColumn = column_;
  advance();  // the opening slash
  lexeme_.clear();
  for (;;) {
    int c = peek();
    if (c < 0) {
      setError(token, kEofInRegexMessage);
      return;
    }
    if (c == '\n') {
      pos_ = startPos;
      line_ = startLine;
      column_ = startColumn;
      advance();
      token.type = Token::PUNCT;
      token.value.set(static_cast<int>('/'));
      return;
    }
    if (c == '/' && (lexeme_.empty() || lexeme_.back() != '\\')) break;
    lexeme_ += static_cast<char>(c);
    advance();
  }
  advance();  // the closing slash
  int mask = 0;
  for (;;) {
    int c = peek();
    if (c == 'i') {
      mask |= VeskPattern::kIgnoreCase;
    } else if (c == 'm') {
      mask |= VeskPattern::kMultiLine;
    } else if (c == 'g') {
      mask |= VeskPattern::kGlobal;
    } else if (c == 'y') {
      advance();
      setError(token, kStickyRegexMessage);
      return;
    } else {
      break;
    }
    advance();
  }
  auto pattern = std::make_unique<VeskPattern>(lexeme_, mask);
  if (pattern->hasError()) {
    setError(token, "Bad or Illegal regular expression: " + pattern->errorText());
    return;
  }
  token.type = Token::REGEX;
  token.value.setRef(new ObjRef(pattern.release()));
}

// ---- conversions

bool Lex::convertToInt64(const char* text, long long* out) {
  if (text == nullptr) return false;
  const char* p = text;
  bool negative = false;
  if (*p == '-' || *p == '+') {
    negative = *p == '-';
    ++p;
  }
  uint64_t v = 0;
  if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
    p += 2;
    while (toHexValue(static_cast<unsigned char>(*p)) >= 0) v = v * 16 + toHexValue(static_cast<unsigned char>(*p++));
  } else if (p[0] == '0' && isOctal(static_cast<unsigned char>(p[1]))) {
    while (isOctal(static_cast<unsigned char>(*p))) v = v * 8 + static_cast<unsigned>(*p++ - '0');
  } else {
    while (isDigit(static_cast<unsigned char>(*p))) v = v * 10 + static_cast<unsigned>(*p++ - '0');
  }
  if (*p != '\0') return false;
  *out = static_cast<long long>(negative ? 0 - v : v);
  return true;
}

bool Lex::convertToDouble(const char* text, double* out) {
  if (text == nullptr) return false;
  const char* p = text;
  double value = 0;
  while (isDigit(static_cast<unsigned char>(*p))) value = value * 10 + (*p++ - '0');
  if (*p == '.') {
    ++p;
    double scale = 0.1;
    while (isDigit(static_cast<unsigned char>(*p))) {
      value += (*p++ - '0') * scale;
      scale *= 0.1;
    }
  }
  if (*p == 'e' || *p == 'E') {
    ++p;
    bool negative = false;
    if (*p == '-') {
      negative = true;
      ++p;
    }
    long exponent = 0;
    while (isDigit(static_cast<unsigned char>(*p))) {
      if (exponent < 100000) exponent = exponent * 10 + (*p - '0');
      ++p;
    }
    value = scaleByExponent(value, negative ? -exponent : exponent);
  }
  if (*p != '\0') return false;
  *out = correctlyRounded(text, p, value);
  return true;
}
