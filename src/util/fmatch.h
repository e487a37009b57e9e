// File filter matching: decides, for a path met while walking a tree during a
// file transfer, whether it is included, excluded or protected, by running it
// against an ordered list of filters. A filter is a slash-separated pattern
// whose components are regular expressions matched against whole path
// components; "**" stands for any number of components, a trailing "/" keeps
// the filter to directories and a trailing "/***" makes it match a directory
// and everything below it. Thread-safe: matching reads only its arguments.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// Verdicts (matchName gives their texts).
enum : int { PAT_NOMATCH = 0, PAT_INCLUDE = 1, PAT_EXCLUDE = 2, PAT_PROTECT = 3 };

// One filter of a list; the file-transfer request that carries the filters
// owns the list.
struct FilterEntry {
  int type = PAT_INCLUDE;  // PAT_INCLUDE, PAT_EXCLUDE or PAT_PROTECT
  std::string pattern;
  FilterEntry* next = nullptr;
};

// When set, every step of matching is logged.
extern bool _debug_fmatch;

// "PAT_NOMATCH", "PAT_INCLUDE", "PAT_EXCLUDE", "PAT_PROTECT"; "PAT_UNKNOWN"
// for anything else.
[[nodiscard]] const char* matchName(int code);

// The verdict of the first filter that has one; PAT_INCLUDE when the list is
// empty or no filter applies.
[[nodiscard]] int fmatch(const char* path, bool isDirectory, const FilterEntry* firstFilter);

// The components of a path or pattern: split at "/", empty ones dropped.
[[nodiscard]] std::vector<std::string_view> splitComponents(std::string_view text);

// One filter's verdict: its type when it matches, else PAT_NOMATCH.
[[nodiscard]] int imatch(const std::vector<std::string_view>& path, bool isDirectory, const FilterEntry* filter);
// Left-anchored component match (1 or 0); with `allowPrefix` the pattern may
// end before the path.
[[nodiscard]] int lmatch(const std::string_view* pattern, int patternCount, const std::string_view* path,
                         int pathCount, bool allowPrefix);
// Right-anchored component match (1 or 0).
[[nodiscard]] int rmatch(const std::string_view* pattern, int patternCount, const std::string_view* path,
                         int pathCount);
