// Runs the pattern table tests/kel/regex_cases.tsv through VeskPattern and
// through java.util.regex in a real JDK 17 (the RegexOracle program of
// orvtests.jar, as a child process) and compares what each one matched.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <sys/wait.h>

#include "kel/veskpattern.h"
#include "testing/test_util.h"

namespace {

std::string unescape(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 1 < s.size()) {
      char n = s[++i];
      out += n == 'n' ? '\n' : n == 'r' ? '\r' : n == 't' ? '\t' : n;
    } else {
      out += s[i];
    }
  }
  return out;
}

std::vector<std::string> splitTabs(const std::string& line) {
  std::vector<std::string> fields;
  std::string field;
  std::istringstream in(line);
  while (std::getline(in, field, '\t')) fields.push_back(field);
  if (!line.empty() && line.back() == '\t') fields.emplace_back();
  return fields;
}

// The line that RegexOracle prints for the same case.
std::string nativeLine(int lineNo, const std::string& flagText, const std::string& pattern,
                       const std::string& subject) {
  int flags = 0;
  if (flagText.find('i') != std::string::npos) flags |= VeskPattern::kIgnoreCase;
  if (flagText.find('m') != std::string::npos) flags |= VeskPattern::kMultiLine;
  VeskPattern p(pattern, flags);
  std::ostringstream out;
  out << lineNo << ": ";
  if (p.hasError()) {
    out << "error";
    return out.str();
  }
  out << "matches=" << (p.matches(subject) ? "true" : "false") << " find=";
  size_t from = 0;
  VeskPattern::Match m;
  for (int k = 0; k < 20 && from <= subject.size() && p.find(subject, from, &m); ++k) {
    if (k > 0) out << ';';
    out << m.start() << ':' << m.end() << '{';
    for (size_t g = 1; g < m.groups.size(); ++g) {
      if (g > 1) out << ',';
      if (m.groups[g].first < 0) {
        out << 'x';
      } else {
        out << m.groups[g].first << ':' << m.groups[g].second;
      }
    }
    out << '}';
    // As Matcher.find: after an empty match the next search starts one
    // character further on.
    from = m.end();
    if (m.end() == m.start()) {
      unsigned char c = from < subject.size() ? subject[from] : 0;
      from += c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
    }
  }
  return out.str();
}

std::string javaExecutable() {
  const char* home = std::getenv("JAVA_HOME");
  std::string dir = home && *home ? home : "/usr/lib/jvm/java-17-openjdk-amd64";
  return dir + "/bin/java";
}

TEST(VeskPatternJava, AgreesWithJavaUtilRegex) {
  const std::string table = orvtest::dataDir() + "/kel/regex_cases.tsv";
  const std::string jar = std::string(ORV_BINARY_DIR) + "/jars/orvtests.jar";
  ASSERT_TRUE(std::ifstream(jar).good()) << "build the orvtests_jar target first: " << jar;

  // The JVM gets a bounded time; a hung child fails the test.
  std::string command = "timeout 120 " + javaExecutable() + " -Xshare:auto -cp " + jar +
                        " com.vesk.orvanex.tests.kel.RegexOracle " + table;
  FILE* pipe = popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::map<int, std::string> java;
  char buffer[8192];
  while (fgets(buffer, sizeof buffer, pipe) != nullptr) {
    std::string line(buffer);
    if (!line.empty() && line.back() == '\n') line.pop_back();
    java[std::atoi(line.c_str())] = line;
  }
  int status = pclose(pipe);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "RegexOracle failed: " << command;

  std::ifstream in(table);
  ASSERT_TRUE(in.good()) << table;
  std::string line;
  int lineNo = 0, compared = 0, knownDifferences = 0;
  while (std::getline(in, line)) {
    ++lineNo;
    if (line.empty() || line[0] == '#') continue;
    std::vector<std::string> f = splitTabs(line);
    ASSERT_GE(f.size(), 3u) << "line " << lineNo;
    SCOPED_TRACE("line " + std::to_string(lineNo) + ": /" + f[1] + "/" + f[0]);
    ASSERT_TRUE(java.count(lineNo)) << "no Java result";
    std::string native = nativeLine(lineNo, f[0], f[1], unescape(f[2]));
    bool differs = f.size() > 3 && f[3].rfind("differs:", 0) == 0;
    if (differs) {
      ++knownDifferences;
      EXPECT_NE(native, java[lineNo]) << "documented difference no longer exists: " << f[3];
    } else {
      ++compared;
      EXPECT_EQ(native, java[lineNo]);
    }
  }
  EXPECT_GT(compared, 100);
  std::printf("compared %d cases with java.util.regex, %d documented differences\n", compared,
              knownDifferences);
}

}  // namespace
