// The global functions every root variable set defines: eval, parseInt,
// parseFloat, and isset/isDefined (IsSetFunction, object id 9831, which the
// call node answers itself so that an undefined variable gives false rather
// than an error). Stateless NativeFunctions.
#pragma once

#include "kel/native_function.h"

class EvalFunction : public NativeFunction {
 public:
  // The first argument as a string (missing or not convertible: 24) is
  // parsed as a script (source name "eval", positions from the call's) and
  // run in the caller's current scope with the caller's principal, within
  // what is left of the caller's limits; a syntax or run-time error is
  // copied into the caller and its code returned. The result is undefined.
  int call(Parser* parser, const Location* location, Any** args, Any** result) override;
};

class ParseIntFunction : public NativeFunction {
 public:
  // A 32- or 64-bit integer is returned as it is. Otherwise the text of x,
  // leading whitespace skipped, read in `radix` (10 by default; 8 and 16
  // recognised, with any other radix no character is a digit) up to the
  // first non-digit; no digit gives the float NaN. No sign, no 0x prefix.
  // The result is a 32-bit integer, or a 64-bit one (then a double) when the
  // digits do not fit, rather than a wrapped value.
  int call(Parser* parser, const Location* location, Any** args, Any** result) override;
};

class ParseFloatFunction : public NativeFunction {
 public:
  // The text of x, leading whitespace skipped, must begin with a digit or
  // '.' and a digit (else the float NaN); digits, then a fraction after
  // '.', up to the first other character (no sign, no exponent). A zero
  // fraction gives the integer part as a 32-bit integer (64-bit, then
  // double, when it does not fit), otherwise the correctly rounded double.
  int call(Parser* parser, const Location* location, Any** args, Any** result) override;
};

class IsSetFunction : public NativeFunction {
 public:
  static constexpr int kObjectId = 9831;
  // True unless one of the arguments is undefined.
  int call(Parser* parser, const Location* location, Any** args, Any** result) override;
  int getObjectID() const override { return kObjectId; }
};
