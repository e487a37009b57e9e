#include "util/fmatch.h"

#include <string>

#include "foundation/log.h"
#include "kel/veskpattern.h"

bool _debug_fmatch = false;

namespace {

constexpr size_t kMaxPattern = 4096;

#define FM_LOG(...)                 \
  do {                              \
    if (_debug_fmatch) log(0, __VA_ARGS__); \
  } while (0)

bool componentMatches(std::string_view regex, std::string_view text) {
  std::string r(regex), t(text);
  FM_LOG("compare regex '%s' and path '%s'", r.c_str(), t.c_str());
  return vesk_match(r.c_str(), t.c_str());
}

bool endsWith(std::string_view s, std::string_view suffix) {
  return s.size() >= suffix.size() && s.substr(s.size() - suffix.size()) == suffix;
}

void logComponents(const char* title, const std::vector<std::string_view>& parts) {
  if (!_debug_fmatch) return;
  for (size_t i = 0; i < parts.size(); ++i) {
    std::string p(parts[i]);
    log(0, title, static_cast<int>(i), p.c_str());
  }
}

}  // namespace

const char* matchName(int code) {
  switch (code) {
    case PAT_NOMATCH: return "PAT_NOMATCH";
    case PAT_INCLUDE: return "PAT_INCLUDE";
    case PAT_EXCLUDE: return "PAT_EXCLUDE";
    case PAT_PROTECT: return "PAT_PROTECT";
    default: return "PAT_UNKNOWN";
  }
}

std::vector<std::string_view> splitComponents(std::string_view text) {
  std::vector<std::string_view> out;
  size_t at = 0;
  while (at <= text.size()) {
    size_t slash = text.find('/', at);
    if (slash == std::string_view::npos) slash = text.size();
    if (slash > at) out.push_back(text.substr(at, slash - at));
    at = slash + 1;
  }
  return out;
}

namespace {

// Right-anchored matching with every (pattern prefix, path prefix) pair
// decided once: patterns with several "**" would otherwise retry the same
// pairs exponentially often.
class RightMatcher {
 public:
  RightMatcher(const std::string_view* pattern, int patternCount, const std::string_view* path, int pathCount)
      : pattern_(pattern), path_(path), n_(pathCount),
        memo_(static_cast<size_t>(patternCount + 1) * static_cast<size_t>(pathCount + 1), -1) {}

  // Whether pattern[0..i) matches the end of path[0..k).
  int match(int i, int k) {
    if (i == 0) return 1;
    signed char& m = memo_[static_cast<size_t>(i) * static_cast<size_t>(n_ + 1) + static_cast<size_t>(k)];
    if (m >= 0) return m;
    int r = 0;
    if (pattern_[i - 1] == "**") {
      // What comes before "**" must end somewhere in what is left of the
      // path, tried from the longest prefix down to the empty one.
      for (int kk = k; kk >= 0 && !r; --kk) r = match(i - 1, kk);
    } else if (k > 0 && componentMatches(pattern_[i - 1], path_[k - 1])) {
      r = match(i - 1, k - 1);
    }
    m = static_cast<signed char>(r);
    return r;
  }

 private:
  const std::string_view* pattern_;
  const std::string_view* path_;
  int n_;
  std::vector<signed char> memo_;
};

}  // namespace

int rmatch(const std::string_view* pattern, int patternCount, const std::string_view* path, int pathCount) {
  if (patternCount <= 0) return 1;
  RightMatcher m(pattern, patternCount, path, pathCount > 0 ? pathCount : 0);
  int r = m.match(patternCount, pathCount > 0 ? pathCount : 0);
  FM_LOG(r ? "rmatch returns match\n" : "rmatch returns NOMATCH\n");
  return r;
}

int lmatch(const std::string_view* pattern, int patternCount, const std::string_view* path, int pathCount,
           bool allowPrefix) {
  int i = 0;
  int j = 0;
  while (i < patternCount) {
    if (pattern[i] == "**") {
      // The rest of the pattern must end the rest of the path (rmatch lets
      // it start anywhere in it); for a "/***" pattern it may also end at
      // any deeper component, since everything below a match matches too.
      for (int e = pathCount; e >= (allowPrefix ? j : pathCount); --e) {
        if (rmatch(pattern + i + 1, patternCount - i - 1, path + j, e - j)) {
          FM_LOG("lmatch returns INCLUDE\n");
          return 1;
        }
      }
      FM_LOG("lmatch: returning PAT_NOMATCH");
      return 0;
    }
    if (j >= pathCount || !componentMatches(pattern[i], path[j])) {
      FM_LOG("lmatch returns NOMATCH\n");
      return 0;
    }
    ++i;
    ++j;
  }
  int result = (j == pathCount || allowPrefix) ? 1 : 0;
  FM_LOG(result ? "lmatch returns INCLUDE\n" : "lmatch returns NOMATCH\n");
  return result;
}

int imatch(const std::vector<std::string_view>& path, bool isDirectory, const FilterEntry* filter) {
  std::string_view pattern = filter->pattern;
  FM_LOG("imatch: isdir = %d, n = %d", isDirectory ? 1 : 0, static_cast<int>(path.size()));
  FM_LOG("    against: '%s'", filter->pattern.c_str());
  if (pattern.empty()) {
    FM_LOG("imatch: input pattern is empty, returning NOMATCH");
    return PAT_NOMATCH;
  }
  if (pattern.size() > kMaxPattern) {
    // Matching recurses once per component: a pattern this long is no filter
    // anyone wrote, and it must not exhaust the stack.
    log(0, "Warning: file filter of %d characters ignored", static_cast<int>(pattern.size()));
    return PAT_NOMATCH;
  }
  bool anyKind = pattern.size() > 4 && endsWith(pattern, "/***");
  if (anyKind) {
    FM_LOG("Can end in any type\n");
  } else if ((pattern.back() == '/') != isDirectory) {
    FM_LOG("imatch: will return NOMATCH");
    return PAT_NOMATCH;
  }
  std::vector<std::string_view> parts = splitComponents(pattern);
  logComponents("    patern[%d] = '%s'", parts);
  int used = static_cast<int>(parts.size()) - (anyKind ? 1 : 0);
  int n = static_cast<int>(path.size());
  if (used > n) {
    FM_LOG("imatch: will return NOMATCH");
    return PAT_NOMATCH;
  }
  int m;
  if (pattern.front() == '/') {
    m = lmatch(parts.data(), used, path.data(), n, anyKind);
  } else if (anyKind) {
    // "dir/***" without an anchor: the directory anywhere, and everything
    // below it, so the pattern's end may meet any of the path's prefixes.
    m = 0;
    for (int k = n; k >= used && !m; --k) m = rmatch(parts.data(), used, path.data(), k);
  } else {
    m = rmatch(parts.data(), used, path.data(), n);
  }
  FM_LOG("fmatch: submatch returns %s", matchName(m ? PAT_INCLUDE : PAT_NOMATCH));
  if (m) {
    FM_LOG("imatch: since it was include, returning filter type %d", filter->type);
    return filter->type;
  }
  FM_LOG("imatch: will return NOMATCH");
  return PAT_NOMATCH;
}

int fmatch(const char* path, bool isDirectory, const FilterEntry* firstFilter) {
  FM_LOG("fmatch: path = %s, isdir = %d", path != nullptr ? path : "", isDirectory ? 1 : 0);
  if (firstFilter == nullptr) {
    FM_LOG("fmatch: no pattern, returning include");
    return PAT_INCLUDE;
  }
  std::vector<std::string_view> parts = splitComponents(path != nullptr ? path : "");
  logComponents("    path[%d] = '%s'", parts);
  for (const FilterEntry* f = firstFilter; f != nullptr; f = f->next) {
    FM_LOG("    pattern: %s", f->pattern.c_str());
    FM_LOG("fmatch: will call imatch for %s", f->pattern.c_str());
    int r = imatch(parts, isDirectory, f);
    FM_LOG("fmatch: imatch returns %s", matchName(r));
    if (r != PAT_NOMATCH) {
      FM_LOG("fmatch: returning %s", matchName(r));
      return r;
    }
    FM_LOG("fmatch: Since no specific action, process next filter");
  }
  FM_LOG("fmatch: returning include");
  return PAT_INCLUDE;
}
