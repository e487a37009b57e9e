// VeskPatternPrototype: the prototype kel reaches as `VeskPattern` (object id
// 9223): `new VeskPattern(text)` and the member `test(text)` of pattern
// objects. Stateless; registered once by the interpreter's root set.
#pragma once

#include "model/translatable.h"

class VeskPatternPrototype : public Translatable {
 public:
  // Directory error codes of the failures.
  static constexpr int kMissingArguments = 48;
  static constexpr int kNotConvertible = 49;
  static constexpr int kIllegalArgument = 24;

  // test(text): the first argument as a string (none: 48; not a string: 49);
  // the result is the boolean matches(text) of `self`, a pattern. Other
  // names fall to the base (111).
  int callMemberFn(Parser* parser, Any** result, Translatable* self, const char* name, Any** args) override;
  // new VeskPattern(text): compiles the first argument, a string, with no
  // flags (none or not a string: 24). A pattern that does not compile is
  // still made, with its error flag set.
  int construct(Parser* parser, Any** result, Translatable** args) const override;
  bool isPrototype() const override { return true; }
  int getObjectID() const override;
  char* toString(Parser* parser) override;
};
