// JSMathPrototype: the `Math` object of kel (object id 9230): the constants
// E, LN2, LN10, LOG2E, LOG10E, PI, SQRT1_2, SQRT2 as fields and the member
// functions abs, acos, asin, atan, atan2, ceil, cos, exp, floor, log, max,
// min, pow, random, round, sin, sqrt, tan. Stateless; registered once.
#pragma once

#include "model/translatable.h"

class JSMathPrototype : public Translatable {
 public:
  static constexpr int kObjectId = 9230;
  static constexpr int kIllegalArgument = 24;

  // A missing argument or one that does not convert to a number is 24.
  // ceil gives a 32-bit and floor a 64-bit integer; a value outside their
  // range (or NaN) is 24 rather than an undefined conversion. abs keeps the
  // integer kinds (the most negative value stays itself, as negation does).
  // min and max keep one running extreme per number kind (32-bit with
  // booleans, 64-bit, double): the double one wins when it is beyond both
  // integer ones, else the 32-bit one when it is not beyond the 64-bit one.
  int callMemberFn(Parser* parser, Any** result, Translatable* self, const char* name, Any** args) override;
  // The constants; other names as the base.
  int getField(Parser* parser, Any** result, const char* name) const override;
  bool isPrototype() const override { return true; }
  int getObjectID() const override { return kObjectId; }
  // The empty text.
  char* toString(Parser* parser) override;
};
