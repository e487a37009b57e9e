#include "kel/error.h"

#include <cstring>

#include "model/any.h"

const char* Error::typeName(int type) {
  switch (type) {
    case SYNTAX_ERROR: return "SyntaxError";
    case EVAL_ERROR: return "EvalError";
    case RANGE_ERROR: return "RangeError";
    case REFERENCE_ERROR: return "ReferenceError";
    case TYPE_ERROR: return "TypeError";
    case URI_ERROR: return "URIError";
    default: return "";
  }
}

std::string Error::text() const {
  std::string out = std::string(typeName(type_)) + ": " + message_;
  for (const Location& at : traceback_) {
    out += "\n    at: ";
    if (at.hasFunctionName()) out += at.functionName() + " ";
    std::string place = at.fileName() + ":" + std::to_string(at.line()) + ":" + std::to_string(at.column());
    out += at.hasFunctionName() ? "(" + place + ")" : place;
  }
  return out;
}

char* Error::toString(Parser*) { return strdup(text().c_str()); }

int Error::clone(const Principal*, Translatable** out) const {
  *out = new Error(*this);
  return 0;
}

int Error::getField(Parser* parser, Any** result, const char* name) const {
  const Location* first = traceback_.empty() ? nullptr : &traceback_.front();
  if (name == nullptr) return Translatable::getField(parser, result, name);
  if (std::strcmp(name, "name") == 0) {
    *result = new Any(typeName(type_));
  } else if (std::strcmp(name, "message") == 0) {
    *result = new Any(message_.c_str());
  } else if (std::strcmp(name, "fileName") == 0) {
    *result = new Any(first != nullptr ? first->fileName().c_str() : "");
  } else if (std::strcmp(name, "lineNumber") == 0) {
    *result = new Any(first != nullptr ? first->line() : 0);
  } else if (std::strcmp(name, "columnNumber") == 0) {
    *result = new Any(first != nullptr ? first->column() : 0);
  } else if (std::strcmp(name, "stack") == 0) {
    *result = new Any(text().c_str());
  } else {
    return Translatable::getField(parser, result, name);
  }
  return 0;
}
