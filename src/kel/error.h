// Error: the first syntax or run-time error a kel parser met: its kind, the
// directory error code, the message and a traceback of locations, innermost
// first. The Java bridge hands it to Java. A value object; not synchronised.
#pragma once

#include <string>
#include <vector>

#include "kel/location.h"
#include "model/translatable.h"

class Error : public Translatable {
 public:
  enum Type : int {
    NONE = 0,
    SYNTAX_ERROR = 1,
    EVAL_ERROR = 2,
    RANGE_ERROR = 3,
    REFERENCE_ERROR = 4,
    TYPE_ERROR = 5,
    URI_ERROR = 6,
  };

  Error(Type type, int code, std::string message) : type_(type), code_(code), message_(std::move(message)) {}

  [[nodiscard]] Type type() const { return type_; }
  [[nodiscard]] int code() const { return code_; }
  [[nodiscard]] const std::string& message() const { return message_; }
  [[nodiscard]] const std::vector<Location>& traceback() const { return traceback_; }
  void addTraceback(const Location& location) { traceback_.push_back(location); }

  // "SyntaxError", "EvalError"...; the empty text for NONE or an unknown type.
  [[nodiscard]] static const char* typeName(int type);

  // "<type name>: <message>" then, per traceback entry, a line break and
  // "    at: <function> (<file>:<line>:<column>)", or "    at: <file>:<line>:<column>"
  // when the entry names no function.
  [[nodiscard]] std::string text() const;
  char* toString(Parser* parser) override;
  // The fields scripts read: name (the type name), message, fileName,
  // lineNumber and columnNumber (of the first traceback entry; "" and 0
  // without one) and stack (the text above). Other names as the base.
  int getField(Parser* parser, Any** result, const char* name) const override;
  int clone(const Principal* principal, Translatable** out) const override;

 private:
  Type type_;
  int code_;
  std::string message_;
  std::vector<Location> traceback_;
};
