#include "kel/global_functions.h"

#include <charconv>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <string>

#include "kel/abstract_var_set.h"
#include "kel/builtin_modules.h"
#include "kel/location.h"
#include "kel/parser.h"
#include "kel/var_set.h"
#include "model/any.h"
#include "model/obj_ref.h"

namespace {

constexpr int kIllegalArgument = 24;

bool isSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// The text of the first argument (a new text, never null), or false.
bool firstText(Parser* parser, Any** args, std::string* out) {
  const Any* first = args != nullptr ? args[0] : nullptr;
  char* text = nullptr;
  if (first == nullptr || !first->convertToString(parser, text)) return false;
  *out = text != nullptr ? text : "";
  std::free(text);
  return true;
}

Any* notANumber() { return new Any(std::numeric_limits<float>::quiet_NaN()); }

// The smallest integer kind that holds `v`, or a double.
Any* integerValue(unsigned long long v, bool overflow, double approx) {
  if (!overflow && v <= static_cast<unsigned long long>(INT_MAX)) return new Any(static_cast<int>(v));
  if (!overflow && v <= static_cast<unsigned long long>(LLONG_MAX)) return new Any(static_cast<long long>(v));
  return new Any(approx);
}

}  // namespace

int EvalFunction::call(Parser* parser, const Location* location, Any** args, Any** result) {
  *result = nullptr;
  std::string text;
  if (parser == nullptr || !firstText(parser, args, &text)) return kIllegalArgument;
  AbstractVarSet* scope = parser->getCurrentScope();
  int line = location != nullptr ? location->line() : 1;
  int column = location != nullptr ? location->column() : 1;
  Parser script("eval", text, scope, line, column, false);
  script.setStandardOutput(parser->standardOutput());
  script.setTraceStream(parser->traceStream());
  // Within what the caller has left: an eval'd loop must not escape the
  // budget, the deadline or the call depth of the script that ran it.
  if (parser->stepsLeft() > 0) script.setStepBudget(parser->stepsLeft());
  if (parser->hasDeadline()) script.setDeadline(parser->deadline());
  script.setMaxCallDepth(parser->maxCallDepth() - parser->callDepth());
  script.setMaxTextLength(parser->maxTextLength());
  script.setMaxArrayLength(parser->maxArrayLength());
  if (!script.parseScript()) {
    const Error* error = script.getError();
    if (error != nullptr) parser->throwError(*error);
    return error != nullptr ? error->code() : Parser::kSyntaxErrorCode;
  }
  int ok = script.scriptTree() == nullptr || script.executeScript(parser->principal(), scope) != 0;
  if (!ok) {
    const Error* error = script.getError();
    if (error != nullptr) parser->throwError(*error);
    // The nested run's steps count against the caller's budget.
    if (script.stepsUsed() > 0) (void)parser->charge(nullptr, script.stepsUsed());
    return error != nullptr ? error->code() : 108;
  }
  if (script.stepsUsed() > 0 && !parser->charge(nullptr, script.stepsUsed())) return Parser::kTimeoutCode;
  *result = Any::createUndefined();
  return 0;
}

int ParseIntFunction::call(Parser* parser, const Location*, Any** args, Any** result) {
  *result = nullptr;
  const Any* x = args != nullptr ? args[0] : nullptr;
  if (x == nullptr) return kIllegalArgument;
  if (!x->isOpaque() && (x->getType() == ANY_INT32 || x->getType() == ANY_INT64)) {
    *result = new Any(*x);
    return 0;
  }
  std::string text;
  if (!firstText(parser, args, &text)) return kIllegalArgument;
  int radix = 10;
  if (args[1] != nullptr && !args[1]->convertToInt32(parser, radix)) return kIllegalArgument;
  auto digit = [radix](char c) {
    int d = -1;
    if (c >= '0' && c <= '9') d = c - '0';
    if (radix == 16 && c >= 'a' && c <= 'f') d = c - 'a' + 10;
    if (radix == 16 && c >= 'A' && c <= 'F') d = c - 'A' + 10;
    if (radix != 10 && radix != 8 && radix != 16) return -1;
    return d < radix ? d : -1;
  };
  size_t i = 0;
  while (i < text.size() && isSpace(text[i])) i++;
  if (i >= text.size() || digit(text[i]) < 0) {
    *result = notANumber();
    return 0;
  }
  unsigned long long v = 0;
  double approx = 0;
  bool overflow = false;
  const size_t start = i;
  for (; i < text.size() && digit(text[i]) >= 0; i++) {
    auto d = static_cast<unsigned>(digit(text[i]));
    if (v > (ULLONG_MAX - d) / static_cast<unsigned>(radix)) overflow = true;
    if (!overflow) v = v * static_cast<unsigned>(radix) + d;
    approx = approx * radix + d;
  }
  if (overflow && radix == 10) {
    // Rounded once, not digit by digit.
    (void)std::from_chars(text.data() + start, text.data() + i, approx);
  }
  *result = integerValue(v, overflow, approx);
  return 0;
}

int ParseFloatFunction::call(Parser* parser, const Location*, Any** args, Any** result) {
  *result = nullptr;
  std::string text;
  if (!firstText(parser, args, &text)) return kIllegalArgument;
  auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
  size_t i = 0;
  while (i < text.size() && isSpace(text[i])) i++;
  size_t start = i;
  if (!(i < text.size() && (isDigit(text[i]) || (text[i] == '.' && i + 1 < text.size() && isDigit(text[i + 1]))))) {
    *result = notANumber();
    return 0;
  }
  unsigned long long v = 0;
  bool overflow = false;
  double approx = 0;
  for (; i < text.size() && isDigit(text[i]); i++) {
    auto d = static_cast<unsigned>(text[i] - '0');
    if (v > (ULLONG_MAX - d) / 10) overflow = true;
    if (!overflow) v = v * 10 + d;
    approx = approx * 10 + d;
  }
  bool fraction = false;
  if (i < text.size() && text[i] == '.') {
    for (i++; i < text.size() && isDigit(text[i]); i++) {
      if (text[i] != '0') fraction = true;
    }
  }
  if (!fraction) {
    if (overflow) (void)std::from_chars(text.data() + start, text.data() + i, approx);
    *result = integerValue(v, overflow, approx);
    return 0;
  }
  double d = 0;
  auto r = std::from_chars(text.data() + start, text.data() + i, d);
  if (r.ec != std::errc()) d = approx;
  *result = new Any(d);
  return 0;
}

int IsSetFunction::call(Parser*, const Location*, Any** args, Any** result) {
  bool set = true;
  for (int i = 0; args != nullptr && args[i] != nullptr; i++) {
    if (args[i]->isUndefined()) set = false;
  }
  *result = new Any(set);
  return 0;
}

void defineGlobalFunctions(AbstractVarSet* root) {
  auto* set = static_cast<VarSet*>(root);
  auto define = [set](const char* name, Translatable* function) {
    Any value(new ObjRef(function));
    (void)set->defineValue(name, value);
  };
  define("eval", new EvalFunction());
  define("parseInt", new ParseIntFunction());
  define("parseFloat", new ParseFloatFunction());
  define("isset", new IsSetFunction());
  define("isDefined", new IsSetFunction());
}
