// The kel language cases kept as data: tests/kel/expressions.tsv (one
// expression per line) and tests/kel/scripts/*.kel (one script per file),
// run through KelRunner, the code path of the `kel` command.
#include <dirent.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "kel/kel_runner.h"
#include "kel/output.h"
#include "testing/test_util.h"

namespace {

std::string trimTrailingNewlines(std::string s) {
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
  return s;
}

std::string firstLine(const std::string& s) { return s.substr(0, s.find('\n')); }

// One expression file: <expression> TAB <expected rendering>, or TAB
// !<first line of the error report>; # lines are comments.
void runExpressionFile(const std::string& name, int atLeast) {
  std::ifstream in(orvtest::dataDir() + "/kel/" + name);
  ASSERT_TRUE(in.is_open()) << name;
  std::string line;
  int lineNumber = 0;
  int cases = 0;
  while (std::getline(in, line)) {
    lineNumber++;
    if (line.empty() || line[0] == '#') continue;
    size_t tab = line.find('\t');
    ASSERT_NE(tab, std::string::npos) << "line " << lineNumber << " has no tab";
    std::string expression = line.substr(0, tab);
    std::string want = line.substr(tab + 1);
    SCOPED_TRACE(name + ":" + std::to_string(lineNumber) + ": " + expression);
    KelRunner runner;
    MemoryFile out;
    std::string err;
    int rc = runner.runExpression(expression, "expression", out, err);
    if (!want.empty() && want[0] == '!') {
      EXPECT_EQ(rc, 1) << out.text();
      EXPECT_EQ(firstLine(err), want.substr(1));
    } else {
      EXPECT_EQ(rc, 0) << err;
      EXPECT_EQ(trimTrailingNewlines(out.text()), want);
    }
    cases++;
  }
  EXPECT_GT(cases, atLeast);
}

TEST(KelScripts, Expressions) { runExpressionFile("expressions.tsv", 100); }

// Math, JSON, X, console and the global functions.
TEST(KelScripts, BuiltIns) { runExpressionFile("builtins.tsv", 100); }

std::string unescape(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); i++) {
    if (s[i] == '\\' && i + 1 < s.size() && (s[i + 1] == 'n' || s[i + 1] == 't' || s[i + 1] == '\\')) {
      char c = s[++i];
      out += c == 'n' ? '\n' : c == 't' ? '\t' : '\\';
    } else {
      out += s[i];
    }
  }
  return out;
}

// String expansion: <setup script> TAB <flags> TAB <template> TAB <expected>.
TEST(KelScripts, Expansion) {
  std::ifstream in(orvtest::dataDir() + "/kel/expand.tsv");
  ASSERT_TRUE(in.is_open());
  std::string line;
  int lineNumber = 0;
  int cases = 0;
  while (std::getline(in, line)) {
    lineNumber++;
    if (line.empty() || line[0] == '#') continue;
    std::vector<std::string> fields;
    size_t start = 0;
    for (int k = 0; k < 3; k++) {
      size_t tab = line.find('\t', start);
      ASSERT_NE(tab, std::string::npos) << "line " << lineNumber << " needs four fields";
      fields.push_back(line.substr(start, tab - start));
      start = tab + 1;
    }
    fields.push_back(line.substr(start));
    SCOPED_TRACE("expand.tsv:" + std::to_string(lineNumber) + ": " + fields[2]);
    KelRunner runner;
    MemoryFile out;
    std::string err;
    if (!fields[0].empty()) {
      ASSERT_EQ(runner.runScript(fields[0], "setup", false, out, err), 0) << err;
    }
    int rc = runner.runExpand(unescape(fields[2]), "text", std::stoi(fields[1]), out, err);
    const std::string& want = fields[3];
    if (!want.empty() && want[0] == '!') {
      EXPECT_EQ(rc, 1) << out.text();
      EXPECT_EQ(firstLine(err), want.substr(1));
    } else {
      EXPECT_EQ(rc, 0) << err;
      EXPECT_EQ(out.text(), unescape(want) + "\n");
    }
    cases++;
  }
  EXPECT_GT(cases, 20);
}

// A script case file: a description, then sections introduced by lines
// "--- <name> [argument]": script or template (the source), stdout (the
// expected output), return (the expected rendering of the return value),
// error (the expected error report, complete), steps N (a step budget).
struct ScriptCase {
  std::string mode = "script";
  std::string source;
  bool hasStdout = false;
  std::string stdoutText;
  bool hasReturn = false;
  std::string returnText;
  bool hasError = false;
  std::string errorText;
  long long steps = 0;
};

ScriptCase readCase(const std::string& path) {
  ScriptCase c;
  std::ifstream in(path);
  std::string line;
  std::string* section = nullptr;
  while (std::getline(in, line)) {
    if (line.rfind("--- ", 0) == 0) {
      std::istringstream words(line.substr(4));
      std::string name;
      words >> name;
      if (name == "script" || name == "template") {
        c.mode = name;
        section = &c.source;
      } else if (name == "stdout") {
        c.hasStdout = true;
        section = &c.stdoutText;
      } else if (name == "return") {
        c.hasReturn = true;
        section = &c.returnText;
      } else if (name == "error") {
        c.hasError = true;
        section = &c.errorText;
      } else if (name == "steps") {
        words >> c.steps;
        section = nullptr;
      } else {
        ADD_FAILURE() << path << ": unknown section " << name;
      }
      continue;
    }
    if (section != nullptr) *section += line + "\n";
  }
  return c;
}

TEST(KelScripts, Scripts) {
  std::string dir = orvtest::dataDir() + "/kel/scripts";
  std::vector<std::string> names;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d)) {
      std::string name = e->d_name;
      if (name.size() > 4 && name.compare(name.size() - 4, 4, ".kel") == 0) names.push_back(name);
    }
    closedir(d);
  }
  std::sort(names.begin(), names.end());
  ASSERT_GT(names.size(), 20u);
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    ScriptCase c = readCase(dir + "/" + name);
    KelRunner runner;
    KelRunner::Limits limits;
    limits.steps = c.steps;
    runner.setLimits(limits);
    MemoryFile out;
    std::string err;
    int rc = c.mode == "template" ? runner.runTemplate(trimTrailingNewlines(c.source), name.c_str(), out, err)
                                  : runner.runScript(c.source, name.c_str(), c.hasReturn, out, err);
    if (c.hasError) {
      EXPECT_EQ(rc, 1);
      EXPECT_EQ(trimTrailingNewlines(err), trimTrailingNewlines(c.errorText));
    } else {
      EXPECT_EQ(rc, 0) << err;
    }
    std::string expected = c.stdoutText + c.returnText;
    if (c.hasStdout || c.hasReturn) {
      EXPECT_EQ(trimTrailingNewlines(out.text()), trimTrailingNewlines(expected));
    }
  }
}

}  // namespace
