#include "kel/string_expand.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "foundation/log.h"
#include "kel/output.h"
#include "kel/parser.h"
#include "model/any.h"

namespace {

// The trace level of the expansion steps (the parser traces its own).
constexpr int kTraceLevel = 2;

void appendValue(std::string& out, const char* text, bool singleLine) {
  for (const char* p = text; *p != '\0'; ++p) {
    if (singleLine && (*p == '\n' || *p == '\r')) continue;
    out += *p;
  }
}

}  // namespace

StringExpand::StringExpand(const char* sourceName, const char* input)
    : debugLevel_(_debug_kel), sourceName_(sourceName != nullptr ? sourceName : ""),
      input_(input != nullptr ? input : "") {
  trace("Created a new StringExpand, source = %s, input = '%s'\n", sourceName_.c_str(), input_.c_str());
}

void StringExpand::trace(const char* format, ...) {
  if (debugLevel_ > kTraceLevel) return;
  char buffer[4096];
  va_list ap;
  va_start(ap, format);
  int n = std::vsnprintf(buffer, sizeof buffer, format, ap);
  va_end(ap);
  if (n < 0) return;
  size_t length = std::min(static_cast<size_t>(n), sizeof buffer - 1);
  if (traceStream_ != nullptr) (void)traceStream_->write(buffer, length);
  if (_debug_kel < 3) log(0, "Kel: %.*s", static_cast<int>(length > 0 && buffer[length - 1] == '\n' ? length - 1 : length), buffer);
}

bool StringExpand::expand(const Principal* principal, AbstractVarSet* varSet, int flags) {
  result_ = std::make_unique<std::string>();
  error_.reset();
  std::string& out = *result_;
  const bool doubleOpen = (flags & kDoubleOpen) != 0;
  const bool singleLine = (flags & kSingleLine) != 0;
  const std::string& in = input_;
  const size_t tagLength = doubleOpen ? 3 : 2;
  // Lines count from 0; columns from 1, as the lexer counts them after a
  // line break.
  int line = 0;
  int column = 1;
  size_t i = 0;
  while (i < in.size()) {
    char c = in[i];
    bool open = c == '<' && i + 1 < in.size() && in[i + 1] == '?';
    if (open) {
      bool third = i + 2 < in.size() && in[i + 2] == '?';
      open = doubleOpen ? third : !third;
    }
    if (!open) {
      if (c == '\n') {
        if (!singleLine) out += c;
        line++;
        column = 1;
      } else {
        out += c;
        column++;
      }
      i++;
      continue;
    }
    // A section: its code runs to the next "?>" that no backslash guards.
    const size_t tagAt = i;
    i += tagLength;
    column += static_cast<int>(tagLength);
    const int codeLine = line;
    const int codeColumn = column;
    const size_t codeAt = i;
    size_t close = std::string::npos;
    while (i < in.size()) {
      if (in[i] == '\\' && i + 1 < in.size() && in[i + 1] == '?') {
        i += 2;
        column += 2;
        continue;
      }
      if (in[i] == '?' && i + 1 < in.size() && in[i + 1] == '>') {
        close = i;
        break;
      }
      if (in[i] == '\n') {
        line++;
        column = 1;
      } else {
        column++;
      }
      i++;
    }
    if (close == std::string::npos) {
      error_ = std::make_unique<Error>(Error::SYNTAX_ERROR, kEofCode, kEofMessage);
      error_->addTraceback(Location(sourceName_, codeLine, codeColumn));
      return false;
    }
    i = close + 2;
    column += 2;
    std::string code = in.substr(codeAt, close - codeAt);
    trace("StringExpand, will run script, '%s'\n", code.c_str());
    Parser parser(sourceName_.c_str(), code, varSet, codeLine, codeColumn, false);
    parser.setDebugLevel(debugLevel_);
    parser.setTraceStream(traceStream_);
    if (standardOutput_ != nullptr) parser.setStandardOutput(standardOutput_);
    bool ok = parser.parse();
    if (!ok) trace("StringExpand, parser failed\n");
    Any* value = nullptr;
    if (ok) {
      trace("StringExpand, parse OK\n");
      if ((flags & kCheckOnly) != 0) continue;
      ok = parser.executeExpression(principal, varSet, &value);
      trace(ok ? "StringExpand, execute OK\n" : "StringExpand, execute failed\n");
    }
    std::unique_ptr<Any> held(value);
    if (!ok) {
      if ((flags & kLenient) != 0) {
        out.append(in, tagAt, i - tagAt);
        continue;
      }
      const Error* error = parser.getError();
      error_ = std::make_unique<Error>(error != nullptr ? *error
                                                         : Error(Error::EVAL_ERROR, 86, "Error but Not Defined"));
      return false;
    }
    if ((flags & kCheckOnly) != 0) continue;
    if (!held) {
      out += "null";
    } else if (held->isUndefined()) {
      out += "undefined";
    } else if (!held->isOpaque() && held->getType() == ANY_STRING) {
      appendValue(out, held->getString() != nullptr ? held->getString() : "", singleLine);
    } else {
      char* text = held->toString(nullptr);
      appendValue(out, text != nullptr ? text : "null", singleLine);
      std::free(text);
    }
  }
  trace("StringExpand, result is '%s'\n", out.c_str());
  return true;
}

Any* StringExpand::getResult() {
  if (!result_) return new Any();
  auto* value = new Any(result_->c_str());
  result_->clear();
  return value;
}

char* StringExpand::toString(Parser*) { return strdup(result_ ? result_->c_str() : ""); }
