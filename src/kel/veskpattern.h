// VeskPattern: the compiled regular expression of kel literals, of the string
// methods search/replace/split and of the Java pattern class. Patterns use
// Java's syntax over UTF-8 text and aim to match what java.util.regex matches.
// Immutable after construction; const operations may run on several threads.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "model/translatable.h"

class AnyArray;

class VeskPattern : public Translatable {
 public:
  // Flag bits of the mask given at construction.
  enum : int {
    kIgnoreCase = 1,  // `i`: ASCII letters compare without case, as Java's CASE_INSENSITIVE
    kMultiLine = 2,   // `m`: ^ and $ also match at line breaks, as Java's MULTILINE
    kGlobal = 4,      // `g`: replace and split act on every match
    kSearchMode = 8,  // matches() accepts any match instead of a whole-text one
  };
  static constexpr int kObjectId = 9223;

  // Compiles `pattern` (the whole text). A pattern that does not compile
  // still makes an object: hasError() is then true and errorText() tells why.
  VeskPattern(std::string_view pattern, int flags);
  ~VeskPattern() override;
  VeskPattern(const VeskPattern&) = delete;
  VeskPattern& operator=(const VeskPattern&) = delete;

  [[nodiscard]] bool hasError() const { return error_; }
  [[nodiscard]] const std::string& errorText() const { return errorText_; }
  [[nodiscard]] const std::string& pattern() const { return pattern_; }
  [[nodiscard]] int flags() const { return flags_; }

  // One match: byte offsets into the subject; groups[0] is the whole match,
  // groups[n] the n-th capture group, {-1, -1} for a group that took no part.
  struct Match {
    std::vector<std::pair<int, int>> groups;
    [[nodiscard]] int start() const { return groups.empty() ? -1 : groups[0].first; }
    [[nodiscard]] int end() const { return groups.empty() ? -1 : groups[0].second; }
  };

  // The first match at or after byte offset `from`. False when there is none,
  // the pattern has an error, `from` is past the text, or the text is not
  // valid UTF-8 (such a subject never matches).
  [[nodiscard]] bool find(std::string_view text, size_t from, Match* out) const;

  // Byte offset of the first match in `text`, or -1.
  [[nodiscard]] int search(std::string_view text) const;

  // With kSearchMode any match is enough; otherwise the pattern must match
  // the whole text, as Java's Matcher.matches() (alternatives and lazy
  // quantifiers are retried until the match reaches the end).
  [[nodiscard]] bool matches(std::string_view text) const;

  // `text` with the first match (every match with kGlobal) replaced by
  // `replacement` taken literally. An empty match advances by one character,
  // so a global replacement always ends.
  [[nodiscard]] std::string replaceText(std::string_view text, std::string_view replacement) const;

  // The pieces of `text` between the first match (every match with kGlobal),
  // then the piece after the last match. A match at offset 0 gives no leading
  // empty piece; an empty match never splits inside a UTF-8 character.
  [[nodiscard]] std::vector<std::string> splitText(std::string_view text) const;

  // "/" pattern "/" then i, g, m for the flags 1, 4, 2, in that order.
  [[nodiscard]] std::string toText() const;

  // replaceText as a new string value.
  [[nodiscard]] Any* replace(const char* text, const char* replacement) const;
  // splitText as a new array of string values.
  [[nodiscard]] AnyArray* split(const char* text) const;

  // The object protocol: "/pattern/flags" (release with free); equal to
  // another pattern object with the same text and flags.
  char* toString(Parser* parser) override;
  int getObjectID() const override { return kObjectId; }
  int isEqual(const Principal* principal, bool* out, const Translatable* other) const override;

  // Same pattern text and flags.
  [[nodiscard]] bool samePattern(const VeskPattern& other) const {
    return pattern_ == other.pattern_ && flags_ == other.flags_;
  }

  // Number of capture groups (0 when the pattern has an error).
  [[nodiscard]] int groupCount() const;

 private:
  struct Regex;  // the library's handles, kept out of this header

  // The anchored form used by a whole-text match, built on first use.
  const Regex* wholeTextRegex() const;

  std::string pattern_;
  int flags_;
  bool error_ = false;
  std::string errorText_;
  std::unique_ptr<Regex> regex_;
  mutable std::unique_ptr<Regex> whole_;
  mutable std::once_flag wholeOnce_;
};

// Compiles `pattern` with no flags and tells whether it matches the whole of
// `text`; a pattern that does not compile matches nothing.
[[nodiscard]] bool vesk_match(const char* pattern, const char* text);
