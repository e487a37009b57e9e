// The `kel` command itself: its modes, exit statuses and error reports.
// Runs the program built beside the tests (bin/kel).
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <string>

#include "testing/test_util.h"

namespace {

std::string kelPath() {
  char self[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return "";
  self[n] = '\0';
  std::string dir(self);
  dir = dir.substr(0, dir.rfind('/'));
  return dir + "/../bin/kel";
}

struct Result {
  int status = -1;
  std::string out;
  std::string err;
};

// Runs kel with `args` (shell words) and standard input from `input`.
Result runKel(const std::string& args, const std::string& input = "") {
  orvtest::TempDir dir;
  orvtest::writeFile(dir.file("in"), input);
  std::string command = "timeout 60 " + kelPath() + " " + args + " <" + dir.file("in") + " >" + dir.file("out") +
                        " 2>" + dir.file("err");
  Result r;
  int raw = std::system(command.c_str());
  r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  r.out = orvtest::readFile(dir.file("out"));
  r.err = orvtest::readFile(dir.file("err"));
  return r;
}

class KelTool : public ::testing::Test {
 protected:
  void SetUp() override {
    if (access(kelPath().c_str(), X_OK) != 0) GTEST_SKIP() << "bin/kel is not built";
  }
};

TEST_F(KelTool, Modes) {
  struct Case {
    const char* args;
    const char* input;
    int status;
    const char* out;
  } cases[] = {
      {"-e '1 + 2'", "", 0, "3\n"},
      {"-e '\"a\" + 1'", "", 0, "\"a1\"\n"},
      {"-s 'var x = 2; return x * 21;' --print-return", "", 0, "42\n"},
      {"-s 'var x = 2;' --print-return", "", 0, "undefined\n"},
      {"-", "var s = \"n\"; return s + 1;", 0, ""},
      {"--print-return -", "var s = \"n\"; return s + 1;", 0, "\"n1\"\n"},
      {"-t 'a<? 1 + 1 ?>b<?JS var i; for (i = 0; i < 2; i++) { ?>.<?JS } ?>'", "", 0, "a2b.."},
      {"--template -", "x=<? \"y\" ?>", 0, "x=y"},
      {"--json -", "{\"a\": [1, true]}", 0, "{ \"a\" : [ 1, true ] }\n"},
      {"--json -", "[1, 2", 1, ""},
      {"-e 'JSON.parse(\"[1, {\\\"b\\\": null}]\")'", "", 0, "[ 1, { \"b\" : null } ]\n"},
      {"-e 'Math.max(1, 2L) + X.range(1, 2).length'", "", 0, "4\n"},
      {"-t '<?JS console.println(\"x\"); ?>'", "", 0, "x\n"},
      {"-x 'Hello <? \"you\" ?>!'", "", 0, "Hello you!\n"},
      {"--flags 4 -x 'a <? 1 + ?> b'", "", 0, "a <? 1 + ?> b\n"},
      {"--expand -", "<? 6 * 7 ?>", 0, "42\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args);
    Result r = runKel(c.args, c.input);
    EXPECT_EQ(r.status, c.status) << r.err;
    EXPECT_EQ(r.out, c.out);
  }
}

TEST_F(KelTool, ErrorsAndUsage) {
  Result r = runKel("-e '1 / 0'");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err,
            "TypeError 99: Operand illegal for math operation\n"
            "    at: expression:1:3\n"
            "  1 | 1 / 0\n"
            "    |   ^\n");
  r = runKel("-s 'var x = ;'");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err.rfind("SyntaxError 105: Primary expression expected", 0), 0u) << r.err;
  r = runKel("--steps 100 -s 'while (true) { }'");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err.rfind("RangeError 13: Timeout", 0), 0u) << r.err;
  r = runKel("--timeout 100 -s 'while (true) { }'");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err.rfind("RangeError 13: Timeout", 0), 0u) << r.err;
  r = runKel("/nonexistent/script.kel");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("cannot read /nonexistent/script.kel"), std::string::npos);
  r = runKel("--json -", "{\"a\": 1,\n \"b\" 2}");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err,
            "SyntaxError 105: Expected ':' between member name and value\n"
            "    at: stdin:2:6\n"
            "  2 |  \"b\" 2}\n"
            "    |      ^\n");
  for (const char* bad : {"", "--bogus", "-e", "-e 1 -s 2", "--steps x -e 1", "--flags 16 -x a"}) {
    SCOPED_TRACE(bad);
    r = runKel(bad);
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("usage: kel"), std::string::npos);
  }
  r = runKel("--help");
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("--print-return"), std::string::npos);
}

}  // namespace
