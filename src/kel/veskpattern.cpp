#include "kel/veskpattern.h"

#include <cstdlib>
#include <cstring>

#include "model/any.h"
#include "model/any_array.h"

// Oniguruma's header defines a UChar of its own, which clashes with ICU's: it
// is included here only, never from a header.
#include <oniguruma.h>

namespace {

// Java's syntax as Oniguruma ships it lacks named groups; add them so that
// (?<name>...) and \k<name> work as in java.util.regex, and keep numbered
// groups capturing beside named ones.
OnigSyntaxType g_javaSyntax;
std::once_flag g_initOnce;

void initLibrary() {
  std::call_once(g_initOnce, [] {
    OnigEncoding encodings[] = {ONIG_ENCODING_UTF8};
    onig_initialize(encodings, 1);
    onig_copy_syntax(&g_javaSyntax, ONIG_SYNTAX_JAVA);
    g_javaSyntax.op2 |= ONIG_SYN_OP2_QMARK_LT_NAMED_GROUP | ONIG_SYN_OP2_ESC_K_NAMED_BACKREF;
    g_javaSyntax.behavior &= ~ONIG_SYN_CAPTURE_ONLY_NAMED_GROUP;
  });
}

// Java's predefined classes \w \d \s, its POSIX classes and its case folding
// (without UNICODE_CASE) are ASCII-only; Oniguruma's are Unicode unless told.
// Java's MULTILINE makes ^ and $ line anchors: in Oniguruma's terms that is
// clearing the single-line default of the Java syntax. (Oniguruma's own
// MULTILINE option is Java's DOTALL and is not what the m flag means.)
OnigOptionType compileOptions(int flags) {
  OnigOptionType options = ONIG_OPTION_WORD_IS_ASCII | ONIG_OPTION_DIGIT_IS_ASCII |
                           ONIG_OPTION_SPACE_IS_ASCII | ONIG_OPTION_POSIX_IS_ASCII |
                           ONIG_OPTION_IGNORECASE_IS_ASCII;
  if (flags & VeskPattern::kIgnoreCase) options |= ONIG_OPTION_IGNORECASE;
  if (flags & VeskPattern::kMultiLine) options |= ONIG_OPTION_NEGATE_SINGLELINE;
  return options;
}

const OnigUChar* bytes(std::string_view s) { return reinterpret_cast<const OnigUChar*>(s.data()); }

bool validUtf8(std::string_view s) {
  return ONIGENC_IS_VALID_MBC_STRING(ONIG_ENCODING_UTF8, bytes(s), bytes(s) + s.size()) != 0;
}

// Length of the UTF-8 character starting at `at` (1 for a stray byte), never
// past the end of the text.
size_t charLength(std::string_view s, size_t at) {
  if (at >= s.size()) return 0;
  int n = ONIGENC_MBC_ENC_LEN(ONIG_ENCODING_UTF8, bytes(s) + at);
  if (n < 1) n = 1;
  return std::min(static_cast<size_t>(n), s.size() - at);
}

}  // namespace

struct VeskPattern::Regex {
  OnigRegex handle = nullptr;
  ~Regex() {
    if (handle != nullptr) onig_free(handle);
  }
};

namespace {

// Compiles `text`; 0 or the library's error code (message in *message).
int compile(std::string_view text, int flags, OnigRegex* out, std::string* message) {
  OnigErrorInfo info;
  int rc = onig_new(out, bytes(text), bytes(text) + text.size(), compileOptions(flags),
                    ONIG_ENCODING_UTF8, &g_javaSyntax, &info);
  if (rc != ONIG_NORMAL) {
    *out = nullptr;
    if (message != nullptr) {
      OnigUChar buffer[ONIG_MAX_ERROR_MESSAGE_LEN + 1] = {};
      onig_error_code_to_str(buffer, rc, &info);
      *message = reinterpret_cast<const char*>(buffer);
    }
  }
  return rc;
}

bool compiles(const std::string& text, int flags) {
  OnigRegex r = nullptr;
  if (compile(text, flags, &r, nullptr) != ONIG_NORMAL) return false;
  onig_free(r);
  return true;
}

}  // namespace

VeskPattern::VeskPattern(std::string_view pattern, int flags)
    : pattern_(pattern.substr(0, pattern.find('\0'))), flags_(flags) {
  initLibrary();
  auto regex = std::make_unique<Regex>();
  if (compile(pattern_, flags_, &regex->handle, &errorText_) != ONIG_NORMAL) {
    error_ = true;
    return;
  }
  regex_ = std::move(regex);
}

VeskPattern::~VeskPattern() = default;

int VeskPattern::groupCount() const { return regex_ ? onig_number_of_captures(regex_->handle) : 0; }

bool VeskPattern::find(std::string_view text, size_t from, Match* out) const {
  if (!regex_ || from > text.size() || !validUtf8(text)) return false;
  OnigRegion* region = onig_region_new();
  const OnigUChar* start = bytes(text);
  const OnigUChar* end = start + text.size();
  int rc = onig_search(regex_->handle, start, end, start + from, end, region, ONIG_OPTION_NONE);
  bool found = rc >= 0;
  if (found && out != nullptr) {
    out->groups.clear();
    for (int i = 0; i < region->num_regs; ++i) out->groups.emplace_back(region->beg[i], region->end[i]);
  }
  onig_region_free(region, 1);
  return found;
}

int VeskPattern::search(std::string_view text) const {
  Match m;
  return find(text, 0, &m) ? m.start() : -1;
}

// A whole-text match must let the engine backtrack into alternatives and lazy
// quantifiers until it reaches the end of the text (a|ab matches "ab"), so
// the pattern is compiled a second time as (?:pattern)\z. Two constructs of
// the pattern could swallow the appended tail: an unclosed \Q quote and a #
// comment of the x flag running to the end. Trial compilations tell which
// one is open, and the tail closes it first.
const VeskPattern::Regex* VeskPattern::wholeTextRegex() const {
  std::call_once(wholeOnce_, [this] {
    if (!regex_) return;
    std::string closer;
    if (compiles(pattern_ + "(", flags_)) {      // the tail is swallowed
      if (!compiles(pattern_ + "\\E(", flags_)) {
        closer = "\\E";                           // an open \Q quote
      } else if (!compiles(pattern_ + "\n(", flags_)) {
        closer = "\n";                            // an open x-mode comment
      } else {
        return;                                   // unknown: fall back
      }
    }
    auto regex = std::make_unique<Regex>();
    if (compile("(?:" + pattern_ + closer + ")\\z", flags_, &regex->handle, nullptr) == ONIG_NORMAL) {
      whole_ = std::move(regex);
    }
  });
  return whole_.get();
}

bool VeskPattern::matches(std::string_view text) const {
  if (!regex_ || !validUtf8(text)) return false;
  if (flags_ & kSearchMode) return search(text) >= 0;
  const OnigUChar* start = bytes(text);
  const OnigUChar* end = start + text.size();
  if (const Regex* whole = wholeTextRegex()) {
    return onig_match(whole->handle, start, end, start, nullptr, ONIG_OPTION_NONE) ==
           static_cast<int>(text.size());
  }
  // The anchored form could not be built: the first match must span the text.
  Match m;
  return find(text, 0, &m) && m.start() == 0 && m.end() == static_cast<int>(text.size());
}

std::string VeskPattern::replaceText(std::string_view text, std::string_view replacement) const {
  std::string out;
  size_t copied = 0;
  size_t from = 0;
  Match m;
  while (from <= text.size() && find(text, from, &m)) {
    size_t s = m.start(), e = m.end();
    out.append(text.substr(copied, s - copied));
    out.append(replacement);
    copied = e;
    if (!(flags_ & kGlobal)) break;
    if (e == s) {
      // An empty match: step over one character so the search moves on.
      size_t n = charLength(text, e);
      if (n == 0) break;
      out.append(text.substr(e, n));
      copied = e + n;
      from = e + n;
    } else {
      from = e;
    }
  }
  out.append(text.substr(std::min(copied, text.size())));
  return out;
}

std::vector<std::string> VeskPattern::splitText(std::string_view text) const {
  std::vector<std::string> pieces;
  size_t last = 0;
  size_t from = 0;
  Match m;
  while (from <= text.size() && find(text, from, &m)) {
    size_t s = m.start(), e = m.end();
    bool empty = s == e;
    if (empty && s >= text.size()) break;  // an empty match at the end splits nothing
    // No leading empty piece, and an empty match never makes an empty piece.
    if (s != 0 && !(empty && s == last)) {
      pieces.emplace_back(text.substr(last, s - last));
      last = e;
    } else if (s == 0) {
      last = e;
    }
    if (!(flags_ & kGlobal)) break;
    from = empty ? e + charLength(text, e) : e;
  }
  pieces.emplace_back(text.substr(std::min(last, text.size())));
  return pieces;
}

std::string VeskPattern::toText() const {
  std::string out = "/" + pattern_ + "/";
  if (flags_ & kIgnoreCase) out += 'i';
  if (flags_ & kGlobal) out += 'g';
  if (flags_ & kMultiLine) out += 'm';
  return out;
}

Any* VeskPattern::replace(const char* text, const char* replacement) const {
  std::string out = replaceText(text != nullptr ? text : "", replacement != nullptr ? replacement : "");
  return new Any(out.c_str());
}

AnyArray* VeskPattern::split(const char* text) const {
  auto* array = new AnyArray(0);
  for (const std::string& piece : splitText(text != nullptr ? text : "")) array->append(new Any(piece.c_str()));
  return array;
}

char* VeskPattern::toString(Parser*) { return strdup(toText().c_str()); }

int VeskPattern::isEqual(const Principal*, bool* out, const Translatable* other) const {
  const auto* p = dynamic_cast<const VeskPattern*>(other);
  *out = p != nullptr && other->getObjectID() == kObjectId && samePattern(*p);
  return 0;
}

bool vesk_match(const char* pattern, const char* text) {
  if (pattern == nullptr || text == nullptr) return false;
  VeskPattern p(pattern, 0);
  return !p.hasError() && p.matches(text);
}
