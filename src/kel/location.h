// Location: a place in kel source (file, line, column, and the enclosing
// function's name when known), carried by syntax-tree nodes, functions and
// error tracebacks. A plain value object; not synchronised.
#pragma once

#include <string>

#include "model/translatable.h"

class Location : public Translatable {
 public:
  Location() = default;
  Location(std::string fileName, int line, int column)
      : fileName_(std::move(fileName)), line_(line), column_(column) {}
  Location(std::string functionName, std::string fileName, int line, int column)
      : functionName_(std::move(functionName)), hasFunctionName_(true), fileName_(std::move(fileName)),
        line_(line), column_(column) {}

  [[nodiscard]] const std::string& fileName() const { return fileName_; }
  [[nodiscard]] int line() const { return line_; }
  [[nodiscard]] int column() const { return column_; }
  [[nodiscard]] bool hasFunctionName() const { return hasFunctionName_; }
  [[nodiscard]] const std::string& functionName() const { return functionName_; }
  void setFunctionName(std::string name) {
    functionName_ = std::move(name);
    hasFunctionName_ = true;
  }

  // "(file:line:column)", the form function texts show.
  [[nodiscard]] std::string text() const;
  // The same as a new C text (release with free).
  char* toString(Parser* parser) override;
  int clone(const Principal* principal, Translatable** out) const override;

 private:
  std::string functionName_;
  bool hasFunctionName_ = false;
  std::string fileName_;
  int line_ = 0;
  int column_ = 0;
};
