#include "kel/kel_runner.h"

#include <cstdlib>
#include <cstring>
#include <memory>

#include "kel/abstract_var_set.h"
#include "kel/error.h"
#include "kel/output.h"
#include "kel/parser.h"
#include "kel/string_expand.h"
#include "model/any.h"

namespace {

void writeText(KelOutput& out, char* text) {
  const char* t = text != nullptr ? text : "(null)";
  (void)out.write(t, std::strlen(t));
  (void)out.write("\n", 1);
  std::free(text);
}

// Line `line` (1-based) of `source`, without its line break.
std::string_view sourceLine(std::string_view source, int line) {
  size_t start = 0;
  for (int k = 1; k < line; k++) {
    size_t nl = source.find('\n', start);
    if (nl == std::string_view::npos) return {};
    start = nl + 1;
  }
  size_t end = source.find('\n', start);
  if (end == std::string_view::npos) end = source.size();
  std::string_view text = source.substr(start, end - start);
  if (!text.empty() && text.back() == '\r') text.remove_suffix(1);
  return text;
}

}  // namespace

KelRunner::KelRunner() : root_(Parser::buildRootVarSet()) {}

KelRunner::~KelRunner() = default;

void KelRunner::configure(Parser& parser) const {
  if (limits_.steps > 0) parser.setStepBudget(limits_.steps);
  if (limits_.time.count() > 0) parser.setDeadline(std::chrono::steady_clock::now() + limits_.time);
  if (limits_.maxCallDepth > 0) parser.setMaxCallDepth(limits_.maxCallDepth);
  parser.setPrettyPrint(pretty_);
}

std::string KelRunner::describe(const Error& error, std::string_view source) {
  std::string out = Error::typeName(error.type());
  if (out.empty()) out = "Error";
  out += " " + std::to_string(error.code()) + ": " + error.message();
  const auto& traceback = error.traceback();
  // Runaway recursion repeats one entry many times: each run of equal
  // entries is shown once with its count.
  std::string previous;
  size_t repeats = 0;
  auto flush = [&] {
    if (repeats > 0) out += "\n    ... " + std::to_string(repeats) + " more of the same";
    repeats = 0;
  };
  for (const Location& at : traceback) {
    std::string place = at.fileName() + ":" + std::to_string(at.line()) + ":" + std::to_string(at.column());
    std::string entry = "\n    at: " + (at.hasFunctionName() ? at.functionName() + " (" + place + ")" : place);
    if (entry == previous) {
      repeats++;
      continue;
    }
    flush();
    out += entry;
    previous = entry;
  }
  flush();
  // The source line of the innermost entry, with a caret under the column.
  if (!traceback.empty()) {
    const Location& at = traceback.front();
    std::string_view line = sourceLine(source, at.line());
    if (!line.empty() && at.column() >= 1 && static_cast<size_t>(at.column()) <= line.size() + 1) {
      std::string number = std::to_string(at.line());
      out += "\n  " + number + " | " + std::string(line);
      out += "\n  " + std::string(number.size(), ' ') + " | ";
      for (size_t k = 0; k + 1 < static_cast<size_t>(at.column()); k++) out += line[k] == '\t' ? '\t' : ' ';
      out += '^';
    }
  }
  out += '\n';
  return out;
}

int KelRunner::report(const Parser& parser, std::string_view text, std::string& err) const {
  const Error* error = parser.getError();
  if (error != nullptr) {
    err += describe(*error, text);
  } else {
    err += "Error: the execution failed without an error report\n";
  }
  return 1;
}

int KelRunner::runExpression(std::string_view text, const char* sourceName, KelOutput& out, std::string& err) {
  Parser parser(sourceName, text, nullptr, 1, 1, false);
  parser.setStandardOutput(&out);
  configure(parser);
  if (!parser.parse()) return report(parser, text, err);
  Any* result = nullptr;
  if (!parser.executeExpression(nullptr, static_cast<AbstractVarSet*>(root_.getTarget()), &result)) {
    delete result;
    return report(parser, text, err);
  }
  std::unique_ptr<Any> value(result);
  writeText(out, value->toString(&parser));
  return 0;
}

int KelRunner::runScript(std::string_view text, const char* sourceName, bool printReturn, KelOutput& out,
                         std::string& err) {
  Parser parser(sourceName, text, nullptr, 1, 1, false);
  parser.setStandardOutput(&out);
  configure(parser);
  if (!parser.parseScript()) return report(parser, text, err);
  if (parser.executeScript(nullptr, static_cast<AbstractVarSet*>(root_.getTarget())) == 0) {
    return report(parser, text, err);
  }
  if (printReturn) {
    std::unique_ptr<Any> value = parser.getReturnValue();
    if (!value) value.reset(Any::createUndefined());
    writeText(out, value->toString(&parser));
  }
  return 0;
}

int KelRunner::runTemplate(std::string_view text, const char* sourceName, KelOutput& out, std::string& err) {
  Parser parser(sourceName, text, nullptr, 1, 1, true);
  parser.setStandardOutput(&out);
  configure(parser);
  if (!parser.parseScriptlet()) return report(parser, text, err);
  // An empty template has no statements and nothing to run.
  if (parser.scriptTree() == nullptr) return 0;
  if (parser.executeScript(nullptr, static_cast<AbstractVarSet*>(root_.getTarget())) == 0) {
    return report(parser, text, err);
  }
  return 0;
}

int KelRunner::runJson(std::string_view text, const char* sourceName, KelOutput& out, std::string& err) {
  Parser parser(sourceName, text, static_cast<AbstractVarSet*>(root_.getTarget()), 1, 1, false);
  parser.setPrettyPrint(pretty_);
  std::unique_ptr<Any> value(parser.parseJSON());
  if (!value) return report(parser, text, err);
  writeText(out, value->toString(&parser));
  return 0;
}

int KelRunner::runExpand(std::string_view text, const char* sourceName, int flags, KelOutput& out,
                         std::string& err) {
  StringExpand expander(sourceName, std::string(text).c_str());
  if (!expander.expand(nullptr, static_cast<AbstractVarSet*>(root_.getTarget()), flags)) {
    const Error* error = expander.getError();
    if (error == nullptr) {
      err += "Error: the expansion failed without an error report\n";
      return 1;
    }
    // Expansion counts lines from 0; the report counts from 1.
    Error shown(error->type(), error->code(), error->message());
    for (const Location& at : error->traceback()) {
      Location moved(at.fileName(), at.line() + 1, at.column());
      if (at.hasFunctionName()) moved.setFunctionName(at.functionName());
      shown.addTraceback(moved);
    }
    err += describe(shown, text);
    return 1;
  }
  std::unique_ptr<Any> value(expander.getResult());
  const char* t = value->getString() != nullptr ? value->getString() : "";
  (void)out.write(t, std::strlen(t));
  (void)out.write("\n", 1);
  return 0;
}
