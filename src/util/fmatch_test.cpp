#include "util/fmatch.h"

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "testing/test_util.h"

namespace {

std::vector<std::string> splitTabs(const std::string& line) {
  std::vector<std::string> out;
  std::stringstream ss(line);
  std::string field;
  while (std::getline(ss, field, '\t')) out.push_back(field);
  return out;
}

int verdictOf(const std::string& word) {
  if (word == "include") return PAT_INCLUDE;
  if (word == "exclude") return PAT_EXCLUDE;
  if (word == "protect") return PAT_PROTECT;
  return -1;
}

TEST(FmatchTest, CasesFromTheTable) {
  std::ifstream in(orvtest::dataDir() + "/util/fmatch_cases.tsv");
  ASSERT_TRUE(in.good());
  std::string line;
  int lineNo = 0;
  int cases = 0;
  while (std::getline(in, line)) {
    ++lineNo;
    if (line.empty() || line[0] == '#') continue;
    auto f = splitTabs(line);
    ASSERT_GE(f.size(), 3u) << "line " << lineNo;
    SCOPED_TRACE("line " + std::to_string(lineNo) + ": " + line);
    std::vector<std::unique_ptr<FilterEntry>> filters;
    for (size_t i = 3; i < f.size(); ++i) {
      auto e = std::make_unique<FilterEntry>();
      char kind = f[i][0];
      e->type = kind == '+' ? PAT_INCLUDE : kind == '-' ? PAT_EXCLUDE : PAT_PROTECT;
      e->pattern = f[i].substr(1);
      if (!filters.empty()) filters.back()->next = e.get();
      filters.push_back(std::move(e));
    }
    int want = verdictOf(f[0]);
    ASSERT_NE(want, -1);
    EXPECT_EQ(matchName(fmatch(f[1].c_str(), f[2] == "d", filters.empty() ? nullptr : filters[0].get())),
              std::string(matchName(want)));
    ++cases;
  }
  EXPECT_GT(cases, 50);
}

TEST(FmatchTest, NamesAndComponents) {
  EXPECT_STREQ(matchName(0), "PAT_NOMATCH");
  EXPECT_STREQ(matchName(3), "PAT_PROTECT");
  EXPECT_STREQ(matchName(9), "PAT_UNKNOWN");
  auto parts = splitComponents("//a//b/c/");
  ASSERT_EQ(parts.size(), 3u);
  EXPECT_EQ(parts[2], "c");
  EXPECT_TRUE(splitComponents("").empty());
}

TEST(FmatchTest, ManyDoubleStarsStayFast) {
  // Each "**" multiplies the ways to split the path; matching must not try
  // them all again and again.
  std::string pattern;
  for (int i = 0; i < 40; ++i) pattern += "**/";
  pattern += "nomatch";
  std::string path;
  for (int i = 0; i < 200; ++i) path += "d/";
  path += "file";
  FilterEntry f{PAT_EXCLUDE, pattern, nullptr};
  EXPECT_EQ(fmatch(path.c_str(), false, &f), PAT_INCLUDE);
  FilterEntry tooLong{PAT_EXCLUDE, std::string(5000, 'a'), nullptr};
  EXPECT_EQ(fmatch("a", false, &tooLong), PAT_INCLUDE);
}

TEST(FmatchTest, DebugLoggingRuns) {
  _debug_fmatch = true;
  FilterEntry second{PAT_EXCLUDE, "/a/**/c/***", nullptr};
  FilterEntry first{PAT_INCLUDE, "zz", &second};
  EXPECT_EQ(fmatch("/a/b/c/d", true, &first), PAT_EXCLUDE);
  _debug_fmatch = false;
}

}  // namespace
