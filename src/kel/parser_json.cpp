// JSON text read into Attributes and AnyArray values. The reader scans the
// lexer's source directly, one pass and no tokens, following the lexer's
// rules for what JSON mode accepts: comments are skipped, strings may use
// single quotes and the lexer's escapes, every decimal integer is 64-bit.
// Where the lexer's rules would misread JSON data it reads it as JSON does:
// numbers are converted with correct rounding, an exponent may carry '+',
// `\/` is an escape, integers too large for 64 bits become doubles, and a
// leading zero (an octal literal in code) is refused rather than read in
// base 8. Texts written by the data model's JSON escape (`\a`, `\U0001F600`)
// read back. Nothing is read past the end of the text, and nesting deeper
// than Parser::kMaxNesting is an error, not a stack overflow.
#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "kel/parser.h"
#include "model/any.h"
#include "model/any_array.h"
#include "model/any_batch.h"
#include "model/attributes.h"
#include "model/obj_ref.h"

class Parser::JsonReader {
 public:
  JsonReader(Parser& parser, const Lex& lex)
      : parser_(parser),
        begin_(lex.source().data()),
        p_(begin_),
        end_(begin_ + lex.source().size()),
        cutAtNul_(lex.cutAtNul()),
        line_(lex.startLine()),
        column_(lex.startColumn()),
        mark_(begin_),
        markLine_(line_),
        markColumn_(column_) {}
  ~JsonReader() {
    for (const Member& m : members_) delete m.value;
    for (Any* e : elements_) delete e;
  }
  JsonReader(const JsonReader&) = delete;
  JsonReader& operator=(const JsonReader&) = delete;

  // The outer object or array, or null with the error stored.
  Any* read() {
    if (!skipSpace()) return nullptr;
    if (p_ < end_ && *p_ == '{') return object(1);
    if (p_ < end_ && *p_ == '[') return array(1);
    return fail("Expected '{' to start object or '[' to start array", p_);
  }

 private:
  static bool isSpace(int c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
  static bool isDigit(int c) { return c >= '0' && c <= '9'; }
  static bool isWordPart(int c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || isDigit(c) || c == '_' || c == '$';
  }
  int peek(size_t ahead = 0) const {
    return p_ + ahead < end_ ? static_cast<unsigned char>(p_[ahead]) : -1;
  }

  // Line and column of `at`, counted as the lexer counts them (a line break
  // starts a new line at column 1; every other byte is one column).
  void position(const char* at, int* line, int* column) {
    if (at < mark_) {
      markLine_ = line_;
      markColumn_ = column_;
      mark_ = begin_;
    }
    int l = markLine_;
    int c = markColumn_;
    for (const char* q = mark_; q < at;) {
      const void* nl = std::memchr(q, '\n', static_cast<size_t>(at - q));
      if (nl == nullptr) {
        c += static_cast<int>(at - q);
        break;
      }
      l++;
      c = 1;
      q = static_cast<const char*>(nl) + 1;
    }
    mark_ = at;
    markLine_ = l;
    markColumn_ = c;
    *line = l;
    *column = c;
  }

  Location locationAt(const char* at) {
    int line, column;
    position(at, &line, &column);
    return Location(parser_.sourceName(), line, column == 0 ? 1 : column);
  }

  // Stores the syntax error at `at` (the end of the text if the text was cut
  // at a NUL byte there: the byte is what is wrong) and gives null.
  Any* fail(const char* message, const char* at) {
    if (at >= end_ && cutAtNul_) message = "Illegal character 0x0 encountered";
    parser_.pError(message, locationAt(at));
    return nullptr;
  }

  // Skips whitespace and comments; false (error stored) for a comment that
  // the text ends in.
  bool skipSpace() {
    // Most tokens are followed by punctuation or a single space.
    if (p_ < end_ && static_cast<unsigned char>(*p_) > ' ' && *p_ != '/') return true;
    if (p_ + 1 < end_ && *p_ == ' ' && static_cast<unsigned char>(p_[1]) > ' ' && p_[1] != '/') {
      p_++;
      return true;
    }
    return skipSpaceAndComments();
  }

  [[gnu::noinline]] bool skipSpaceAndComments() {
    for (;;) {
      while (p_ < end_ && isSpace(static_cast<unsigned char>(*p_))) p_++;
      if (peek() != '/') return true;
      if (peek(1) == '/') {
        const void* nl = std::memchr(p_, '\n', static_cast<size_t>(end_ - p_));
        p_ = nl != nullptr ? static_cast<const char*>(nl) + 1 : end_;
      } else if (peek(1) == '*') {
        const char* start = p_;
        p_ += 2;
        while (p_ < end_ && !(p_[0] == '*' && p_ + 1 < end_ && p_[1] == '/')) p_++;
        if (p_ >= end_) {
          int line, column;
          position(start, &line, &column);
          char message[160];
          std::snprintf(message, sizeof message,
                        "End of file encountered in \"/*\" comment (Beginning at Line: %d, Position: %d)", line,
                        column);
          fail(message, start);
          return false;
        }
        p_ += 2;
      } else {
        return true;
      }
    }
  }

  // ---- containers

  // Members and elements are gathered on stacks shared by every level and
  // the container is built once its end is seen: its size is known then,
  // so its storage is allocated once.
  struct Member {
    size_t nameAt;  // offset of the name (NUL-terminated) in names_
    size_t nameLength;
    Any* value;  // owned until handed to the container; null once merged
  };

  Any* object(int depth) {
    const char* open = p_;
    if (depth > kMaxNesting) return fail(kNestingMessage, open);
    // Located now: positions are counted in one pass, in order.
    Pos at;
    position(open, &at.line, &at.column);
    p_++;  // {
    if (!skipSpace()) return nullptr;
    const size_t base = members_.size();
    const size_t namesBase = names_.size();
    if (peek() == '}') {
      p_++;
      return buildObject(at, base);
    }
    for (;;) {
      if (peek() != '"' && peek() != '\'') return fail("Member name as quoted string expected in object", p_);
      std::string_view name;
      if (!readString(&name)) return nullptr;
      Member member{names_.size(), name.size(), nullptr};
      names_.append(name);
      names_.push_back('\0');
      if (!skipSpace()) return nullptr;
      if (peek() != ':') return fail("Expected ':' between member name and value", p_);
      p_++;
      if (!skipSpace()) return nullptr;
      member.value = this->value(depth);
      if (member.value == nullptr) return nullptr;
      members_.push_back(member);
      if (!skipSpace()) return nullptr;
      if (peek() == ',') {
        p_++;
        if (!skipSpace()) return nullptr;
      } else if (peek() == '}') {
        p_++;
        Any* result = buildObject(at, base);
        names_.resize(namesBase);
        return result;
      } else {
        return fail("Expected '}' to end object. Were there too many commas?", p_);
      }
    }
  }

  // The object of the members from `base` on, in document order. A repeated
  // name keeps the last value in the first one's place.
  Any* buildObject(Pos at, size_t base) {
    const size_t n = members_.size() - base;
    Member* m = members_.data() + base;
    auto nameOf = [this](const Member& member) {
      return std::string_view(names_.data() + member.nameAt, member.nameLength);
    };
    auto merge = [m](size_t first, size_t later) {
      delete m[first].value;
      m[first].value = m[later].value;
      m[later].value = nullptr;
    };
    if (n <= kLinearMerge) {
      for (size_t i = 1; i < n; i++) {
        for (size_t j = 0; j < i; j++) {
          if (m[j].value != nullptr && nameOf(m[j]) == nameOf(m[i])) {
            merge(j, i);
            break;
          }
        }
      }
    } else {
      // Sorted by name and then position, each run of one name starts with
      // its first member; the later ones hand their values forward in order.
      order_.resize(n);
      for (size_t i = 0; i < n; i++) order_[i] = i;
      std::sort(order_.begin(), order_.end(), [&](size_t a, size_t b) {
        int c = nameOf(m[a]).compare(nameOf(m[b]));
        return c != 0 ? c < 0 : a < b;
      });
      for (size_t i = 1; i < n; i++) {
        size_t first = order_[i - 1];
        if (m[first].value == nullptr) continue;
        size_t k = i;
        while (k < n && nameOf(m[order_[k]]) == nameOf(m[first])) merge(first, order_[k++]);
        i = k;
      }
    }
    size_t nameBytes = 0;
    int kept = 0;
    for (size_t i = 0; i < n; i++) {
      if (m[i].value == nullptr) continue;
      nameBytes += m[i].nameLength;
      kept++;
    }
    // The holder first: freeing the document walks from it to the set.
    Any* holder = batch_.makeRef(nullptr);
    Attributes* map = Attributes::create(batch_, kept, nameBytes);
    holder->getRef()->set(map);
    const int column = at.column == 0 ? 1 : at.column;
    if (Location* placed = batch_.place<Location>(parser_.sourceName(), at.line, column)) {
      map->adoptPlacedLocation(placed);
    } else {
      Location location(parser_.sourceName(), at.line, column);
      map->setLocation(&location);
    }
    for (size_t i = 0; i < n; i++) {
      if (m[i].value != nullptr) map->appendAttribute(names_.data() + m[i].nameAt, m[i].value, 0);
    }
    members_.resize(base);
    return holder;
  }

  Any* array(int depth) {
    if (depth > kMaxNesting) return fail(kNestingMessage, p_);
    p_++;  // [
    if (!skipSpace()) return nullptr;
    const size_t base = elements_.size();
    if (peek() == ']') {
      p_++;
      return buildArray(base);
    }
    for (;;) {
      Any* value = this->value(depth);
      if (value == nullptr) return nullptr;
      elements_.push_back(value);
      if (!skipSpace()) return nullptr;
      if (peek() == ',') {
        p_++;
        if (!skipSpace()) return nullptr;
      } else if (peek() == ']') {
        p_++;
        return buildArray(base);
      } else {
        return fail("Expected ']' to end array. Were there too many or too few commas?", p_);
      }
    }
  }

  // The array of the elements from `base` on.
  Any* buildArray(size_t base) {
    Any* holder = batch_.makeRef(nullptr);
    AnyArray* list = AnyArray::create(batch_, static_cast<int>(elements_.size() - base));
    holder->getRef()->set(list);
    for (size_t i = base; i < elements_.size(); i++) list->append(elements_[i]);
    elements_.resize(base);
    return holder;
  }

  // One value at p_ (space already skipped).
  Any* value(int depth) {
    int c = peek();
    switch (c) {
      case '{': return object(depth + 1);
      case '[': return array(depth + 1);
      case '"':
      case '\'': {
        std::string_view text;
        if (!readString(&text)) return nullptr;
        return batch_.makeString(text.data(), text.size());
      }
      case '-': {
        p_++;
        if (!skipSpace()) return nullptr;
        if (isDigit(peek()) || (peek() == '.' && isDigit(peek(1)))) return number(true);
        if (matchWord("NaN")) return negativeNaN();
        return fail("Number expected after '-' in JSON text", p_);
      }
      default: break;
    }
    if (isDigit(c) || (c == '.' && isDigit(peek(1)))) return number(false);
    if (matchWord("true")) return batch_.make(true);
    if (matchWord("false")) return batch_.make(false);
    if (matchWord("null")) return batch_.make();
    if (matchWord("NaN")) return batch_.make(std::numeric_limits<double>::quiet_NaN());
    if (c < 0) return fail("Value expected in JSON text", p_);
    if (c >= 0x80 || (c < ' ' && !isSpace(c)) || c == 0x7F) {
      char message[64];
      std::snprintf(message, sizeof message, "Illegal character 0x%x encountered", static_cast<unsigned>(c));
      return fail(message, p_);
    }
    return fail("Value expected in JSON text", p_);
  }

  Any* negativeNaN() {
    Any* value = batch_.make(std::numeric_limits<double>::quiet_NaN());
    value->setSign(-1);
    return value;
  }

  // Consumes `word` when it stands at p_ as a whole word.
  bool matchWord(const char* word) {
    size_t n = std::strlen(word);
    if (static_cast<size_t>(end_ - p_) < n || std::memcmp(p_, word, n) != 0) return false;
    if (p_ + n < end_ && isWordPart(static_cast<unsigned char>(p_[n]))) return false;
    p_ += n;
    return true;
  }

  // ---- numbers

  Any* number(bool negative) {
    const char* start = p_;
    if (peek() == '0' && (peek(1) == 'x' || peek(1) == 'X')) return hexNumber(negative);
    if (peek() == '0' && isDigit(peek(1))) return fail("Leading zeros are not allowed in JSON numbers", start);
    bool floating = false;
    while (isDigit(peek())) p_++;
    if (peek() == '.') {
      floating = true;
      p_++;
      while (isDigit(peek())) p_++;
    }
    if (peek() == 'e' || peek() == 'E') {
      floating = true;
      p_++;
      if (peek() == '+' || peek() == '-') p_++;
      if (!isDigit(peek())) return fail("Digits expected in the exponent of a number", p_);
      while (isDigit(peek())) p_++;
    }
    const char* stop = p_;
    if (peek() == 'U') return fail(floating ? Lex::kFloatUnsignedMessage : Lex::kUnsignedMessage, start);
    if (floating && peek() == 'L') return fail(Lex::kFloatLongMessage, start);
    bool isFloat = false;
    if (peek() == 'F' || peek() == 'L') {
      isFloat = floating && peek() == 'F';
      p_++;
    }
    if (isWordPart(peek()) || peek() == '.') return fail("Illegal character in a number", p_);
    if (!floating) {
      // Up to 19 digits fit; the sign is taken into account so that the
      // most negative value reads exactly. Larger integers become doubles.
      uint64_t v = 0;
      bool overflow = false;
      for (const char* q = start; q < stop; q++) {
        unsigned d = static_cast<unsigned>(*q - '0');
        if (v > (UINT64_MAX - d) / 10) {
          overflow = true;
          break;
        }
        v = v * 10 + d;
      }
      const uint64_t limit = static_cast<uint64_t>(std::numeric_limits<long long>::max()) + (negative ? 1 : 0);
      if (!overflow && v <= limit) {
        long long n = negative ? static_cast<long long>(0 - v) : static_cast<long long>(v);
        return batch_.make(n);
      }
    }
    double d = 0;
    auto result = std::from_chars(start, stop, d);
    if (result.ec == std::errc::result_out_of_range) {
      // from_chars leaves the value alone: the text is beyond the doubles,
      // too small (a negative exponent, or a first significant digit far
      // after the point) or too large.
      const char* e = start;
      while (e < stop && *e != 'e' && *e != 'E') e++;
      bool tiny;
      if (e < stop) {
        tiny = e + 1 < stop && e[1] == '-';
      } else {
        const char* q = start;
        while (q < stop && (*q == '0' || *q == '.') && *q != '\0') q++;
        tiny = std::memchr(start, '.', static_cast<size_t>(q - start)) != nullptr;
      }
      d = tiny ? 0.0 : std::numeric_limits<double>::infinity();
    } else if (result.ec != std::errc() || result.ptr != stop) {
      return fail("Illegal character in a number", result.ptr);
    }
    if (negative) d = -d;
    if (isFloat) return batch_.make(static_cast<float>(d));
    return batch_.make(d);
  }

  // 0x followed by hexadecimal digits: 32 bits (the bits that fit), or 64
  // with an L suffix, as in code.
  Any* hexNumber(bool negative) {
    const char* start = p_;
    p_ += 2;
    uint64_t v = 0;
    const char* digits = p_;
    while (Lex::toHexValue(peek()) >= 0) {
      v = v * 16 + static_cast<unsigned>(Lex::toHexValue(peek()));
      p_++;
    }
    if (p_ == digits) return fail("Hexadecimal digits expected in a number", p_);
    if (peek() == 'U') return fail(Lex::kUnsignedMessage, start);
    bool isLong = peek() == 'L';
    if (isLong) p_++;
    if (isWordPart(peek()) || peek() == '.') return fail("Illegal character in a number", p_);
    if (isLong) {
      auto n = static_cast<long long>(v);
      return batch_.make(negative ? static_cast<long long>(0 - static_cast<uint64_t>(n)) : n);
    }
    auto n = static_cast<int>(static_cast<uint32_t>(v));
    return batch_.make(negative ? static_cast<int>(0u - static_cast<uint32_t>(n)) : n);
  }

  // ---- strings

  // The first quote `quote`, backslash or line break from `p` on, or `end`.
  // Eight bytes at a time: a byte equal to the one looked for leaves a zero
  // byte in the exclusive or, and the lowest flagged byte is the first zero
  // (the borrow can only flag bytes above a real zero).
  static const char* scanPlain(const char* p, const char* end, char quote) {
    if constexpr (std::endian::native == std::endian::little) {
      constexpr uint64_t kOnes = 0x0101010101010101ull;
      constexpr uint64_t kHigh = 0x8080808080808080ull;
      const uint64_t quotes = kOnes * static_cast<unsigned char>(quote);
      const uint64_t slashes = kOnes * static_cast<unsigned char>('\\');
      const uint64_t breaks = kOnes * static_cast<unsigned char>('\n');
      auto zeroes = [](uint64_t x) { return (x - kOnes) & ~x & kHigh; };
      while (end - p >= 8) {
        uint64_t word;
        std::memcpy(&word, p, 8);
        uint64_t hits = zeroes(word ^ quotes) | zeroes(word ^ slashes) | zeroes(word ^ breaks);
        if (hits != 0) return p + (std::countr_zero(hits) >> 3);
        p += 8;
      }
    }
    while (p < end && *p != quote && *p != '\\' && *p != '\n') p++;
    return p;
  }

  // Reads the string literal at p_; *text is its decoded text (UTF-8): the
  // source itself when the literal has no escapes, else scratch_. False with
  // the error stored, located at the opening quote as a bad token is.
  bool readString(std::string_view* text) {
    const char* run = p_ + 1;
    const char* stop = scanPlain(run, end_, *p_);
    if (stop < end_ && *stop == *p_) {
      *text = std::string_view(run, static_cast<size_t>(stop - run));
      p_ = stop + 1;
      return true;
    }
    if (!readEscaped(&scratch_)) return false;
    *text = scratch_;
    return true;
  }

  // readString for a literal that holds escapes (or is bad): decodes it
  // into *out.
  bool readEscaped(std::string* out) {
    const char* open = p_;
    const char quote = *p_++;
    out->clear();
    for (;;) {
      const char* run = p_;
      p_ = scanPlain(p_, end_, quote);
      out->append(run, static_cast<size_t>(p_ - run));
      if (p_ >= end_) return fail(Lex::kEofInStringMessage, p_ >= end_ && cutAtNul_ ? end_ : open), false;
      if (*p_ == quote) {
        p_++;
        return true;
      }
      if (*p_ == '\n') return fail(Lex::kNewlineInStringMessage, open), false;
      // A backslash.
      p_++;
      int e = peek();
      if (e < 0) return fail(Lex::kEofInStringMessage, cutAtNul_ ? end_ : open), false;
      p_++;
      switch (e) {
        case 'n': *out += '\n'; continue;
        case 't': *out += '\t'; continue;
        case 'r': *out += '\r'; continue;
        case 'b': *out += '\b'; continue;
        case 'f': *out += '\f'; continue;
        case 'v': *out += '\v'; continue;
        case 'a': *out += '\a'; continue;
        case '/':
        case '\\':
        case '\'':
        case '"': *out += static_cast<char>(e); continue;
        case '\n': continue;  // line continuation
        default: break;
      }
      if (e >= '0' && e <= '7') {
        unsigned v = static_cast<unsigned>(e - '0');
        for (int i = 0; i < 2 && peek() >= '0' && peek() <= '7'; ++i) v = v * 8 + static_cast<unsigned>(*p_++ - '0');
        if (!appendByte(out, v & 0xFF, open)) return false;
        continue;
      }
      if (e == 'x') {
        int h1 = Lex::toHexValue(peek());
        int h2 = h1 < 0 ? -1 : Lex::toHexValue(peek(1));
        if (h1 < 0 || h2 < 0) return fail(Lex::kBadHexEscapeMessage, open), false;
        p_ += 2;
        if (!appendByte(out, static_cast<unsigned>(h1 * 16 + h2), open)) return false;
        continue;
      }
      if (e == 'u' || e == 'U') {
        const int digits = e == 'u' ? 4 : 8;
        unsigned cp = 0;
        if (!hexDigits(digits, &cp)) {
          return fail(e == 'u' ? Lex::kBadUnicodeEscapeMessage : "Expected \\U and eight hexadecimal digits", open),
                 false;
        }
        if (e == 'u' && cp >= 0xD800 && cp <= 0xDBFF && peek() == '\\' && peek(1) == 'u') {
          // A surrogate pair written as two escapes is one character.
          const char* save = p_;
          p_ += 2;
          unsigned low = 0;
          if (hexDigits(4, &low) && low >= 0xDC00 && low <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
          } else {
            p_ = save;
          }
        }
        // A lone surrogate, or a code beyond Unicode, is the replacement
        // character.
        if ((cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) cp = 0xFFFD;
        if (cp == 0) return fail("A string cannot hold the character \\u0000", open), false;
        appendUtf8(out, cp);
        continue;
      }
      return fail(Lex::kBadEscapeMessage, open), false;
    }
  }

  bool hexDigits(int n, unsigned* out) {
    unsigned v = 0;
    for (int i = 0; i < n; ++i) {
      int h = Lex::toHexValue(peek(static_cast<size_t>(i)));
      if (h < 0) return false;
      v = v * 16 + static_cast<unsigned>(h);
    }
    p_ += n;
    *out = v;
    return true;
  }

  // A byte escape: a NUL byte cannot be held by a text (it would cut the
  // value short), so it is an error.
  bool appendByte(std::string* out, unsigned byte, const char* open) {
    if (byte == 0) {
      fail("A string cannot hold the character \\u0000", open);
      return false;
    }
    *out += static_cast<char>(byte);
    return true;
  }

  static void appendUtf8(std::string* out, unsigned cp) {
    char b[4];
    size_t n;
    if (cp < 0x80) {
      b[0] = static_cast<char>(cp);
      n = 1;
    } else if (cp < 0x800) {
      b[0] = static_cast<char>(0xC0 | (cp >> 6));
      b[1] = static_cast<char>(0x80 | (cp & 0x3F));
      n = 2;
    } else if (cp < 0x10000) {
      b[0] = static_cast<char>(0xE0 | (cp >> 12));
      b[1] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      b[2] = static_cast<char>(0x80 | (cp & 0x3F));
      n = 3;
    } else {
      b[0] = static_cast<char>(0xF0 | (cp >> 18));
      b[1] = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      b[2] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      b[3] = static_cast<char>(0x80 | (cp & 0x3F));
      n = 4;
    }
    out->append(b, n);
  }

  Parser& parser_;
  const char* begin_;
  const char* p_;
  const char* end_;
  bool cutAtNul_;
  int line_;
  int column_;
  // The last position computed, so that locating objects in order costs one
  // pass over the text in all.
  const char* mark_;
  int markLine_;
  int markColumn_;
  std::string scratch_;
  // Every value of the document is made here: a document of many small
  // values takes a few blocks instead of a heap allocation per value.
  AnyBatch batch_;
  // The members and elements of the containers being read, innermost last,
  // and the names of those members. What is left here when reading stops
  // at an error is released with the reader.
  std::vector<Member> members_;
  std::string names_;
  std::vector<Any*> elements_;
  std::vector<size_t> order_;
  // Objects up to this size find repeated names by comparing every pair.
  static constexpr size_t kLinearMerge = 16;
};

Any* Parser::parseJSON() {
  lex_.setJsonMode();
  JsonReader reader(*this, lex_);
  std::unique_ptr<Any> result(reader.read());
  if (!result && !errorFlag_) pError("Value expected in JSON text");
  return errorFlag_ ? nullptr : result.release();
}
