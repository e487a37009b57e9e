#include "kel/math_prototype.h"

#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <numbers>

#include "kel/builtin_modules.h"
#include "kel/member_names.h"
#include "kel/parser.h"
#include "model/any.h"

namespace {

struct Constant {
  const char* name;
  double value;
};
constexpr Constant kConstants[] = {
    {"E", std::numbers::e},         {"LN2", std::numbers::ln2},       {"LN10", std::numbers::ln10},
    {"LOG2E", std::numbers::log2e}, {"LOG10E", std::numbers::log10e}, {"PI", std::numbers::pi},
    {"SQRT1_2", 0.70710678118654752440}, {"SQRT2", std::numbers::sqrt2},
};

using Unary = double (*)(double);
struct UnaryFn {
  const char* name;
  Unary fn;
};
const UnaryFn kUnary[] = {
    {"acos", [](double x) { return std::acos(x); }}, {"asin", [](double x) { return std::asin(x); }},
    {"atan", [](double x) { return std::atan(x); }}, {"cos", [](double x) { return std::cos(x); }},
    {"sin", [](double x) { return std::sin(x); }},   {"tan", [](double x) { return std::tan(x); }},
    {"exp", [](double x) { return std::exp(x); }},   {"log", [](double x) { return std::log(x); }},
    {"sqrt", [](double x) { return std::sqrt(x); }}, {"round", [](double x) { return std::round(x); }},
};

const Any* argAt(Any** args, int i) {
  if (args == nullptr) return nullptr;
  for (int k = 0; k < i; k++) {
    if (args[k] == nullptr) return nullptr;
  }
  return args[i];
}

bool number(Parser* parser, Any** args, int i, double* out) {
  const Any* a = argAt(args, i);
  return a != nullptr && a->convertToDouble(parser, *out);
}

// min (sign 1) or max (sign -1) over the three kinds.
int extreme(Any** args, bool isMin, Any** result) {
  if (argAt(args, 0) == nullptr) return JSMathPrototype::kIllegalArgument;
  int i32 = isMin ? INT_MAX : INT_MIN;
  long long i64 = isMin ? LLONG_MAX : LLONG_MIN;
  double d = isMin ? std::numeric_limits<double>::max() : -std::numeric_limits<double>::max();
  auto beyond = [isMin](double a, double b) { return isMin ? a < b : a > b; };
  for (int i = 0; args[i] != nullptr; i++) {
    const Any* a = args[i];
    if (a->isOpaque()) return JSMathPrototype::kIllegalArgument;
    switch (a->getType()) {
      case ANY_BOOL:
      case ANY_INT32: {
        int v = a->getType() == ANY_BOOL ? (a->getBool() ? 1 : 0) : a->getInt32();
        if (isMin ? v < i32 : v > i32) i32 = v;
        break;
      }
      case ANY_INT64:
        if (isMin ? a->getInt64() < i64 : a->getInt64() > i64) i64 = a->getInt64();
        break;
      case ANY_FLOAT:
      case ANY_DOUBLE: {
        double v = a->getType() == ANY_FLOAT ? a->getFloat() : a->getDouble();
        if (beyond(v, d)) d = v;
        break;
      }
      default:
        return JSMathPrototype::kIllegalArgument;
    }
  }
  if (beyond(d, static_cast<double>(i32)) && beyond(d, static_cast<double>(i64))) {
    *result = new Any(d);
  } else if (isMin ? static_cast<long long>(i32) <= i64 : static_cast<long long>(i32) >= i64) {
    *result = new Any(i32);
  } else {
    *result = new Any(i64);
  }
  return 0;
}

}  // namespace

char* JSMathPrototype::toString(Parser*) { return strdup(""); }

int JSMathPrototype::getField(Parser* parser, Any** result, const char* name) const {
  if (name != nullptr) {
    for (const Constant& c : kConstants) {
      if (std::strcmp(c.name, name) == 0) {
        *result = new Any(c.value);
        return 0;
      }
    }
  }
  return Translatable::getField(parser, result, name);
}

int JSMathPrototype::callMemberFn(Parser* parser, Any** result, Translatable* self, const char* name, Any** args) {
  *result = nullptr;
  if (name == nullptr) return Translatable::callMemberFn(parser, result, self, name, args);
  if (std::strcmp(name, "min") == 0) return extreme(args, true, result);
  if (std::strcmp(name, "max") == 0) return extreme(args, false, result);
  if (std::strcmp(name, "random") == 0) {
    *result = new Any(static_cast<double>(std::rand()) / 2147483647.0);
    return 0;
  }
  if (std::strcmp(name, "abs") == 0) {
    const Any* a = argAt(args, 0);
    if (a == nullptr) return kIllegalArgument;
    switch (a->isOpaque() ? ANY_INVALID : a->getType()) {
      case ANY_BOOL: *result = new Any(a->getBool() ? 1 : 0); return 0;
      case ANY_INT32: {
        auto v = static_cast<unsigned>(a->getInt32());
        *result = new Any(static_cast<int>(a->getInt32() < 0 ? 0u - v : v));
        return 0;
      }
      case ANY_INT64: {
        auto v = static_cast<unsigned long long>(a->getInt64());
        *result = new Any(static_cast<long long>(a->getInt64() < 0 ? 0ull - v : v));
        return 0;
      }
      case ANY_FLOAT: *result = new Any(std::fabs(static_cast<double>(a->getFloat()))); return 0;
      case ANY_DOUBLE: *result = new Any(std::fabs(a->getDouble())); return 0;
      default: return Translatable::callMemberFn(parser, result, self, name, args);
    }
  }
  double x;
  if (std::strcmp(name, "atan2") == 0 || std::strcmp(name, "pow") == 0) {
    double y;
    if (!number(parser, args, 0, &x) || !number(parser, args, 1, &y)) return kIllegalArgument;
    *result = new Any(name[0] == 'a' ? std::atan2(x, y) : std::pow(x, y));
    return 0;
  }
  if (std::strcmp(name, "ceil") == 0) {
    if (!number(parser, args, 0, &x)) return kIllegalArgument;
    double c = std::ceil(x);
    if (!(c >= INT_MIN && c <= INT_MAX)) return kIllegalArgument;
    *result = new Any(static_cast<int>(c));
    return 0;
  }
  if (std::strcmp(name, "floor") == 0) {
    if (!number(parser, args, 0, &x)) return kIllegalArgument;
    double f = std::floor(x);
    // 2^63 itself does not fit.
    if (!(f >= -9223372036854775808.0 && f < 9223372036854775808.0)) return kIllegalArgument;
    *result = new Any(static_cast<long long>(f));
    return 0;
  }
  for (const UnaryFn& u : kUnary) {
    if (std::strcmp(u.name, name) == 0) {
      if (!number(parser, args, 0, &x)) return kIllegalArgument;
      *result = new Any(u.fn(x));
      return 0;
    }
  }
  return Translatable::callMemberFn(parser, result, self, name, args);
}

void registerMathModule() {
  Parser::registerObject(JSMathPrototype::kObjectId, "Math", new JSMathPrototype(), false);
  static const int kMembers[] = {KM_ABS,  KM_ACOS,  KM_ASIN, KM_ATAN, KM_ATAN2, KM_CEIL,  KM_COS,
                                 KM_EXP,  KM_FLOOR, KM_LOG,  KM_MAX,  KM_MIN,   KM_POW,   KM_RANDOM,
                                 KM_ROUND, KM_SIN,  KM_SQRT, KM_TAN,  0};
  Parser::registerMembers("Math", kMembers);
}
