// KelRunner: runs kel texts the way the `kel` command does (an expression, a
// script, a scriptlet template, JSON text) against one root variable set
// that it keeps across runs, writing what the text prints to an output
// stream and reporting errors as a person reads them: the stored error's
// type, code and message, its traceback, and the source line with a caret
// under the column. The `kel` tool and the script tests share this code
// path. Not synchronised: one thread at a time.
#pragma once

#include <chrono>
#include <string>
#include <string_view>

#include "model/obj_ref.h"

class Error;
class KelOutput;
class Parser;

class KelRunner {
 public:
  struct Limits {
    long long steps = 0;                    // 0: no step budget
    std::chrono::milliseconds time{0};      // 0: no deadline
    int maxCallDepth = 0;                   // 0: the parser's default
  };

  // A fresh root variable set.
  KelRunner();
  ~KelRunner();
  KelRunner(const KelRunner&) = delete;
  KelRunner& operator=(const KelRunner&) = delete;

  void setLimits(const Limits& limits) { limits_ = limits; }
  void setPrettyPrint(bool on) { pretty_ = on; }

  // Each returns 0 on success or 1 on a syntax or run-time error (its report
  // appended to `err`). `out` receives what the text writes.
  // The expression's value rendered by toString, then a line feed.
  int runExpression(std::string_view text, const char* sourceName, KelOutput& out, std::string& err);
  // A script; with `printReturn` the value of the last `return` (undefined
  // without one) is rendered after its output, then a line feed.
  int runScript(std::string_view text, const char* sourceName, bool printReturn, KelOutput& out, std::string& err);
  // A scriptlet template: text with <? expression ?> and <?JS statements ?>.
  int runTemplate(std::string_view text, const char* sourceName, KelOutput& out, std::string& err);
  // A text whose <? expression ?> sections StringExpand fills (flags as
  // StringExpand::expand takes them), printed with a line feed. Errors are
  // reported with lines and columns counted from 1 like the others.
  int runExpand(std::string_view text, const char* sourceName, int flags, KelOutput& out, std::string& err);
  // JSON text, printed back (toString rendering) with a line feed.
  int runJson(std::string_view text, const char* sourceName, KelOutput& out, std::string& err);

  // The report of `error` over `source` (see above).
  [[nodiscard]] static std::string describe(const Error& error, std::string_view source);

 private:
  void configure(Parser& parser) const;
  int report(const Parser& parser, std::string_view text, std::string& err) const;

  ObjRef root_;
  Limits limits_;
  bool pretty_ = false;
};
