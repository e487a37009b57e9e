// Feeds arbitrary filter lists and paths to the filter matcher. The input is
// lines: the first is the path (a trailing "/" marks a directory), each
// further line a filter ("+", "-" or "!" then the pattern). The verdict must
// be one of the four codes, reached in bounded time and stack.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "util/fmatch.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> lines;
  size_t at = 0;
  while (at <= text.size() && lines.size() < 64) {
    size_t nl = text.find('\n', at);
    if (nl == std::string::npos) nl = text.size();
    lines.push_back(text.substr(at, nl - at));
    at = nl + 1;
  }
  if (lines.empty()) return 0;
  std::string path = lines[0].c_str();
  bool isDir = !path.empty() && path.back() == '/';
  std::vector<std::unique_ptr<FilterEntry>> filters;
  for (size_t i = 1; i < lines.size(); ++i) {
    if (lines[i].empty()) continue;
    auto f = std::make_unique<FilterEntry>();
    char kind = lines[i][0];
    f->type = kind == '+' ? PAT_INCLUDE : kind == '!' ? PAT_PROTECT : PAT_EXCLUDE;
    f->pattern = lines[i].substr(1);
    if (!filters.empty()) filters.back()->next = f.get();
    filters.push_back(std::move(f));
  }
  int r = fmatch(path.c_str(), isDir, filters.empty() ? nullptr : filters[0].get());
  if (r < PAT_INCLUDE || r > PAT_PROTECT) abort();
  return 0;
}
