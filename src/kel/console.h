// Console: the object of the root variable `console` (object id 500) and
// ConsolePrototype, its member functions: log(text) to the log, print,
// echo and println to the parser's standard output, identity(x). Stateless;
// the prototype is registered once.
#pragma once

#include "model/translatable.h"

class Console : public Translatable {
 public:
  static constexpr int kObjectId = 500;
  int getObjectID() const override { return kObjectId; }
  char* toString(Parser* parser) override;
  int clone(const Principal* principal, Translatable** out) const override;
};

class ConsolePrototype : public Translatable {
 public:
  static constexpr int kIllegalArgument = 24;
  // log(text): a string, logged as it is ("%s"); otherwise 24.
  // print(x), echo(x), println(x): a string as it is, another value as its
  // toString text ("(null)" when it has none), println adding a line feed;
  // no argument is 24; without a standard output nothing is written.
  // identity(x): a copy of x. Other names as the base (111).
  int callMemberFn(Parser* parser, Any** result, Translatable* self, const char* name, Any** args) override;
  bool isPrototype() const override { return true; }
  int getObjectID() const override { return Console::kObjectId; }
  char* toString(Parser* parser) override;
};
