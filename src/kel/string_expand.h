// StringExpand: fills the `<? expression ?>` sections of a text with the
// values of kel expressions (configuration values, messages and commands
// are written this way and expanded at run time). One object holds one
// template; each expand() makes a new result. Used by one thread at a time.
#pragma once

#include <memory>
#include <string>

#include "kel/error.h"
#include "model/translatable.h"

class AbstractVarSet;
class Any;
class KelOutput;
class Principal;

class StringExpand : public Translatable {
 public:
  // Flag bits of expand().
  enum : int {
    kCheckOnly = 1,    // sections are parsed, not run, and add nothing
    kDoubleOpen = 2,   // sections open with "<??" (a plain "<?" is text)
    kLenient = 4,      // a failing section is copied unchanged
    kSingleLine = 8,   // template line breaks dropped; CR/LF dropped from values
  };
  static constexpr int kEofCode = 106;
  static constexpr const char* kEofMessage = "Error: EOF reached before ?>";

  // Keeps copies of both texts; the debug level is the process's kel level.
  StringExpand(const char* sourceName, const char* input);

  // Expands the template into a new result: text is copied, each section's
  // code (up to the next "?>" not preceded by a backslash) is compiled as
  // one expression with positions from its place in the template (lines counted
  // from 0, columns from 1) and run against `varSet`; its value is inserted
  // (undefined as "undefined", no value as "null", a string as it is, others
  // as their toString text). True on success; on the first failure (unless
  // kLenient) false, with the error kept (getError) and the result so far
  // kept. A section the text ends in is the error 106.
  [[nodiscard]] bool expand(const Principal* principal, AbstractVarSet* varSet, int flags);

  // A new string Any with the expanded text (the result is handed over), or
  // a null Any when expand never ran.
  [[nodiscard]] Any* getResult();
  [[nodiscard]] const Error* getError() const { return error_.get(); }

  void setDebugLevel(int level) { debugLevel_ = level; }
  void setTraceStream(KelOutput* stream) { traceStream_ = stream; }
  // Where the sections' console output goes (the parser's default when null).
  void setStandardOutput(KelOutput* stream) { standardOutput_ = stream; }

  // The expanded text so far (empty before expand).
  char* toString(Parser* parser) override;

 private:
  void trace(const char* format, ...) __attribute__((format(printf, 2, 3)));

  int debugLevel_;
  KelOutput* traceStream_ = nullptr;
  KelOutput* standardOutput_ = nullptr;
  std::string sourceName_;
  std::string input_;
  std::unique_ptr<std::string> result_;
  std::unique_ptr<Error> error_;
};
