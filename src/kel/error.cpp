#include "kel/error.h"

#include <cstring>

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
