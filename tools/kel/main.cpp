// kel: runs kel expressions, scripts, scriptlet templates and JSON text.
//   kel -e EXPRESSION | -s SCRIPT | FILE | - | -t TEMPLATE | --template FILE | --json FILE |
//       -x TEXT | --expand FILE
// With no argument on a terminal it is an interactive prompt that keeps one
// variable set across lines. Errors go to standard error with the error's
// type, code, message, traceback and the source line; the exit status is 0
// on success, 1 on a syntax or run-time error or an unreadable file, 2 on
// bad usage.
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "kel/kel_runner.h"
#include "kel/output.h"

namespace {

const char kUsageLine[] =
    "usage: kel [options] (-e EXPRESSION | -s SCRIPT | FILE | - | -t TEMPLATE | --template FILE | --json FILE |\n"
    "                      -x TEXT | --expand FILE)\n";

const char kHelp[] =
    "\n"
    "Runs kel text and prints what it produces.\n"
    "\n"
    "  -e EXPRESSION      evaluate one expression and print its value\n"
    "  -s SCRIPT          run the statements of SCRIPT\n"
    "  FILE               run the script in FILE (\"-\" reads standard input)\n"
    "  -t TEMPLATE        expand a scriptlet template: text with <? expression ?>\n"
    "                     and <?JS statements ?> sections\n"
    "  --template FILE    the same, read from FILE (\"-\" for standard input)\n"
    "  --json FILE        parse JSON text from FILE (\"-\" for standard input) and\n"
    "                     print it back\n"
    "  -x TEXT            expand the <? expression ?> sections of TEXT (string\n"
    "                     expansion, as configuration values and messages use)\n"
    "  --expand FILE      the same, read from FILE (\"-\" for standard input)\n"
    "  --flags N          expansion flags: 1 check only, 2 sections open with <??,\n"
    "                     4 copy failing sections unchanged, 8 single line\n"
    "  --print-return     after a script, print the value of its last return\n"
    "  --pretty           print objects and arrays indented, one item per line\n"
    "  --steps N          stop the run after N steps (loop turns and calls)\n"
    "  --timeout MS       stop the run after MS milliseconds\n"
    "  --max-depth N      allow at most N nested function calls\n"
    "  --help             this text\n"
    "\n"
    "Without arguments on a terminal, kel reads lines interactively and keeps\n"
    "its variables from one line to the next.\n"
    "\n"
    "Exit status: 0 success, 1 syntax or run-time error (reported on standard\n"
    "error), 2 bad usage.\n";

int usage(const char* problem) {
  if (problem != nullptr) std::fprintf(stderr, "kel: %s\n", problem);
  std::fputs(kUsageLine, stderr);
  return 2;
}

// Script output straight to standard output.
class StdoutOutput : public KelOutput {
 public:
  long write(const char* data, size_t n) override {
    return std::fwrite(data, 1, n, stdout) == n ? static_cast<long>(n) : -1;
  }
};

bool readFile(const std::string& path, std::string* text, std::string* problem) {
  std::FILE* f = path == "-" ? stdin : std::fopen(path.c_str(), "rb");
  if (f == nullptr) {
    *problem = "cannot read " + path + ": " + std::strerror(errno);
    return false;
  }
  char buffer[65536];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) text->append(buffer, n);
  bool ok = std::ferror(f) == 0;
  if (!ok) *problem = "cannot read " + path + ": " + std::strerror(errno);
  if (f != stdin) std::fclose(f);
  return ok;
}

bool parseNumber(const char* text, long long* out) {
  char* end = nullptr;
  errno = 0;
  long long v = std::strtoll(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || v < 0) return false;
  *out = v;
  return true;
}

// How far a text leaves brackets open (strings and comments skipped
// roughly): the prompt keeps reading lines while it is above 0.
int openBrackets(const std::string& text) {
  int depth = 0;
  char quote = 0;
  for (size_t i = 0; i < text.size(); i++) {
    char c = text[i];
    if (quote != 0) {
      if (c == '\\') {
        i++;
      } else if (c == quote) {
        quote = 0;
      }
      continue;
    }
    if (c == '"' || c == '\'') {
      quote = c;
    } else if (c == '/' && i + 1 < text.size() && text[i + 1] == '/') {
      while (i < text.size() && text[i] != '\n') i++;
    } else if (c == '{' || c == '(' || c == '[') {
      depth++;
    } else if (c == '}' || c == ')' || c == ']') {
      depth--;
    }
  }
  return depth;
}

int interactive(KelRunner& runner) {
  StdoutOutput out;
  std::string pending;
  std::string line;
  std::fputs("kel: enter expressions or statements; an empty line after an open block ends it; Ctrl-D quits\n",
             stdout);
  for (;;) {
    std::fputs(pending.empty() ? "kel> " : "...> ", stdout);
    std::fflush(stdout);
    if (!std::getline(std::cin, line)) break;
    pending += line;
    pending += '\n';
    if (openBrackets(pending) > 0 && !line.empty()) continue;
    std::string text;
    text.swap(pending);
    if (text.find_first_not_of(" \t\r\n") == std::string::npos) continue;
    // A line that is one expression prints its value; anything else runs
    // as statements.
    std::string err;
    std::string trimmed = text.substr(0, text.find_last_not_of(" \t\r\n;") + 1);
    int rc = runner.runExpression(trimmed, "stdin", out, err);
    if (rc != 0 && err.rfind("SyntaxError", 0) == 0) {
      // Statements; a line without its closing ';' (a declaration, a
      // function statement) gets one. A syntax error runs nothing, so
      // trying again is safe.
      err.clear();
      rc = runner.runScript(text, "stdin", false, out, err);
      if (rc != 0 && err.rfind("SyntaxError", 0) == 0) {
        std::string retryErr;
        int retry = runner.runScript(trimmed + ";\n", "stdin", false, out, retryErr);
        if (retry == 0 || retryErr.rfind("SyntaxError", 0) != 0) {
          rc = retry;
          err = retryErr;
        }
      }
    }
    std::fflush(stdout);
    if (rc != 0) std::fputs(err.c_str(), stderr);
  }
  std::fputs("\n", stdout);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  enum Mode { kNone, kExpression, kScript, kFile, kTemplate, kTemplateFile, kJson, kExpand, kExpandFile } mode = kNone;
  int expandFlags = 0;
  std::string operand;
  bool printReturn = false;
  bool pretty = false;
  KelRunner::Limits limits;
  auto setMode = [&](Mode m, const char* value) {
    if (mode != kNone) return false;
    mode = m;
    operand = value;
    return true;
  };
  for (int i = 1; i < argc; i++) {
    std::string a = argv[i];
    auto value = [&](const char** out) {
      if (i + 1 >= argc) return false;
      *out = argv[++i];
      return true;
    };
    const char* v = nullptr;
    long long n = 0;
    if (a == "--help" || a == "-h") {
      std::fputs(kUsageLine, stdout);
      std::fputs(kHelp, stdout);
      return 0;
    } else if (a == "-e" || a == "-s" || a == "-t" || a == "--template" || a == "--json" || a == "-x" ||
               a == "--expand") {
      if (!value(&v)) return usage((a + " needs an argument").c_str());
      Mode m = a == "-e" ? kExpression : a == "-s" ? kScript : a == "-t" ? kTemplate
               : a == "--template" ? kTemplateFile : a == "--json" ? kJson : a == "-x" ? kExpand : kExpandFile;
      if (!setMode(m, v)) return usage("give one text to run");
    } else if (a == "--flags") {
      if (!value(&v) || !parseNumber(v, &n) || n > 15) return usage("--flags needs a number from 0 to 15");
      expandFlags = static_cast<int>(n);
    } else if (a == "--print-return") {
      printReturn = true;
    } else if (a == "--pretty") {
      pretty = true;
    } else if (a == "--steps" || a == "--timeout" || a == "--max-depth") {
      if (!value(&v) || !parseNumber(v, &n) || n == 0) return usage((a + " needs a positive number").c_str());
      if (a == "--steps") limits.steps = n;
      if (a == "--timeout") limits.time = std::chrono::milliseconds(n);
      if (a == "--max-depth") limits.maxCallDepth = n > 1000000 ? 1000000 : static_cast<int>(n);
    } else if (a == "-" || a[0] != '-') {
      if (!setMode(kFile, argv[i])) return usage("give one text to run");
    } else {
      return usage(("unknown option " + a).c_str());
    }
  }

  KelRunner runner;
  runner.setLimits(limits);
  runner.setPrettyPrint(pretty);
  if (mode == kNone) {
    if (isatty(STDIN_FILENO) && isatty(STDOUT_FILENO)) return interactive(runner);
    return usage(nullptr);
  }

  std::string text = operand;
  std::string source = mode == kExpression ? "expression"
                       : mode == kScript     ? "script"
                       : mode == kTemplate   ? "template"
                       : mode == kExpand     ? "text"
                                             : operand;
  if (mode == kFile || mode == kTemplateFile || mode == kJson || mode == kExpandFile) {
    text.clear();
    std::string problem;
    if (!readFile(operand, &text, &problem)) {
      std::fprintf(stderr, "kel: %s\n", problem.c_str());
      return 1;
    }
    if (operand == "-") source = "stdin";
  }
  StdoutOutput out;
  std::string err;
  int rc;
  switch (mode) {
    case kExpression: rc = runner.runExpression(text, source.c_str(), out, err); break;
    case kTemplate:
    case kTemplateFile: rc = runner.runTemplate(text, source.c_str(), out, err); break;
    case kJson: rc = runner.runJson(text, source.c_str(), out, err); break;
    case kExpand:
    case kExpandFile: rc = runner.runExpand(text, source.c_str(), expandFlags, out, err); break;
    default: rc = runner.runScript(text, source.c_str(), printReturn, out, err); break;
  }
  std::fflush(stdout);
  if (rc != 0) std::fputs(err.c_str(), stderr);
  return rc;
}
