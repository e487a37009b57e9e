// The arithmetic, comparison, equality and bit operators (mathOp, bitOp)
// and the binary nodes that use them.
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "kel/ast/expr_nodes.h"
#include "kel/interp.h"
#include "kel/lexer.h"
#include "kel/var_set.h"
#include "model/string_builder.h"

using namespace interp;

namespace {

bool isEquality(int op) { return op == OP_EQ || op == OP_NE || op == OP_STRICT_EQ || op == OP_STRICT_NE; }
bool isOrdering(int op) { return op == OP_LT || op == OP_LE || op == OP_GT || op == OP_GE; }
bool isArithmetic(int op) { return op >= OP_ADD && op <= OP_MOD; }

bool isNumber(int t) { return t == ANY_INT32 || t == ANY_INT64 || t == ANY_FLOAT || t == ANY_DOUBLE; }
bool isNumeric(int t) { return isNumber(t) || t == ANY_BOOL; }
bool isInteger(int t) { return t == ANY_INT32 || t == ANY_INT64; }

// The type code of a plain value as the operators see it (opaque values are
// objects).
int kindOf(const Any& v) { return v.isOpaque() ? 1000 : v.getType(); }

template <class T>
bool compare(int op, T a, T b, bool* out) {
  switch (op) {
    case OP_LT: *out = a < b; return true;
    case OP_LE: *out = a <= b; return true;
    case OP_GT: *out = a > b; return true;
    case OP_GE: *out = a >= b; return true;
    case OP_EQ: case OP_STRICT_EQ: *out = a == b; return true;
    case OP_NE: case OP_STRICT_NE: *out = a != b; return true;
    default: return false;
  }
}

// Integer arithmetic wrapping in the type's width. Division and remainder
// by zero are TypeError 99; the most negative value divided by -1 wraps to
// itself (as its multiplication by -1 does) and its remainder is 0.
template <class T, class U>
bool integerArith(Parser* parser, const AstNode* node, int op, T a, T b, T* out) {
  switch (op) {
    case OP_ADD: *out = static_cast<T>(static_cast<U>(a) + static_cast<U>(b)); return true;
    case OP_SUB: *out = static_cast<T>(static_cast<U>(a) - static_cast<U>(b)); return true;
    case OP_MUL: *out = static_cast<T>(static_cast<U>(a) * static_cast<U>(b)); return true;
    case OP_DIV:
    case OP_MOD:
      if (b == 0) return fail(parser, node, kType, 99);
      if (b == -1) {
        *out = op == OP_DIV ? static_cast<T>(U{0} - static_cast<U>(a)) : T{0};
        return true;
      }
      *out = op == OP_DIV ? a / b : a % b;
      return true;
    default:
      return fail(parser, node, kType, 99);
  }
}

template <class T>
bool floatingArith(int op, T a, T b, T* out) {
  switch (op) {
    case OP_ADD: *out = a + b; return true;
    case OP_SUB: *out = a - b; return true;
    case OP_MUL: *out = a * b; return true;
    case OP_DIV: *out = a / b; return true;
    case OP_MOD: *out = static_cast<T>(std::fmod(a, b)); return true;
    default: return false;
  }
}

long long asInt64(const Any& v) {
  switch (v.getType()) {
    case ANY_INT32: return v.getInt32();
    case ANY_INT64: return v.getInt64();
    case ANY_BOOL: return v.getBool() ? 1 : 0;
    default: return 0;
  }
}

double asDouble(const Any& v) {
  switch (v.getType()) {
    case ANY_INT32: return v.getInt32();
    case ANY_INT64: return static_cast<double>(v.getInt64());
    case ANY_FLOAT: return v.getFloat();
    case ANY_DOUBLE: return v.getDouble();
    case ANY_BOOL: return v.getBool() ? 1.0 : 0.0;
    default: return 0.0;
  }
}

// `+` with a text: the texts of both operands joined.
bool concatenate(Parser* parser, const AstNode* node, const Any& left, const Any& right, Any& out) {
  char* owned[2] = {nullptr, nullptr};
  const char* parts[2];
  const Any* operands[2] = {&left, &right};
  for (int i = 0; i < 2; i++) {
    if (isText(*operands[i])) {
      parts[i] = textOf(*operands[i]);
    } else {
      owned[i] = const_cast<Any*>(operands[i])->toString(parser);
      parts[i] = owned[i];
    }
    if (parts[i] == nullptr) parts[i] = "";
  }
  size_t a = std::strlen(parts[0]);
  size_t b = std::strlen(parts[1]);
  bool ok = a + b <= parser->maxTextLength();
  // Building long texts is work: a step per 4 KiB, so that a budget also
  // bounds a loop of large concatenations.
  if (ok && !parser->charge(node, static_cast<long long>((a + b) >> 12))) {
    std::free(owned[0]);
    std::free(owned[1]);
    return false;
  }
  if (ok) {
    char* text = static_cast<char*>(std::malloc(a + b + 1));
    if (text == nullptr) {
      ok = false;
    } else {
      std::memcpy(text, parts[0], a);
      std::memcpy(text + a, parts[1], b);
      text[a + b] = '\0';
      out.adoptString(text);
    }
  }
  std::free(owned[0]);
  std::free(owned[1]);
  return ok || fail(parser, node, kRange, Parser::kResourceCode);
}

// Rule for a text against a number: the text converted, then the operation
// in 64-bit integers (`integer`) or in double.
bool textWithNumber(Parser* parser, const AstNode* node, int op, const Any& left, const Any& right, Any& out,
                    bool integer) {
  bool leftText = isText(left);
  const char* text = leftText ? textOf(left) : textOf(right);
  const Any& number = leftText ? right : left;
  if (op == OP_STRICT_EQ || op == OP_STRICT_NE) {
    out.set(op == OP_STRICT_NE);
    return true;
  }
  long long i = 0;
  double d = 0;
  bool converted = text != nullptr && (integer ? Lex::convertToInt64(text, &i) : Lex::convertToDouble(text, &d));
  if (!converted) {
    if (isArithmetic(op)) return fail(parser, node, kType, 49);
    out.set(op == OP_NE);
    return true;
  }
  if (integer) {
    long long a = leftText ? i : asInt64(number);
    long long b = leftText ? asInt64(number) : i;
    if (isArithmetic(op)) {
      long long r;
      if (!integerArith<long long, unsigned long long>(parser, node, op, a, b, &r)) return false;
      out.set(r);
      return true;
    }
    bool r;
    if (!compare(op, a, b, &r)) return fail(parser, node, kType, 99);
    out.set(r);
    return true;
  }
  double a = leftText ? d : asDouble(number);
  double b = leftText ? asDouble(number) : d;
  if (isArithmetic(op)) {
    double r;
    if (!floatingArith(op, a, b, &r)) return fail(parser, node, kType, 99);
    out.set(r);
    return true;
  }
  if (op == OP_EQ) {
    // Loose equality of a text with a floating value allows for the
    // rounding of the text's decimal digits.
    out.set(std::fabs(a - b) < 1e-11);
    return true;
  }
  bool r;
  if (!compare(op, a, b, &r)) return fail(parser, node, kType, 99);
  out.set(r);
  return true;
}

}  // namespace

namespace interp {

bool mathOp(Parser* parser, const AstNode* node, int op, const Any& left, const Any& right, Any& out) {
  // Two 32-bit integers, the common case of loops and counters: the rule 7
  // below with its type already known.
  if (left.getType() == ANY_INT32 && right.getType() == ANY_INT32 && !left.isOpaque() && !right.isOpaque()) {
    int a = left.getInt32();
    int b = right.getInt32();
    if (isArithmetic(op)) {
      int v;
      if (!integerArith<int, unsigned>(parser, node, op, a, b, &v)) return false;
      out.set(v);
      return true;
    }
    bool r;
    if (!compare(op, a, b, &r)) return fail(parser, node, kType, 99);
    out.set(r);
    return true;
  }
  int lt = kindOf(left);
  int rt = kindOf(right);
  bool ls = isText(left);
  bool rs = isText(right);

  // 1. `+` with a text concatenates.
  if (op == OP_ADD && (ls || rs)) return concatenate(parser, node, left, right, out);

  // 2. null.
  if (lt == ANY_NULL || rt == ANY_NULL) {
    bool bothNull = lt == ANY_NULL && rt == ANY_NULL;
    switch (op) {
      case OP_EQ: out.set(bothNull || lt == ANY_UNDEFINED || rt == ANY_UNDEFINED); return true;
      case OP_NE: out.set(!(bothNull || lt == ANY_UNDEFINED || rt == ANY_UNDEFINED)); return true;
      case OP_STRICT_EQ: out.set(bothNull); return true;
      case OP_STRICT_NE: out.set(!bothNull); return true;
      default: return fail(parser, node, kType, 99);
    }
  }
  // 3. undefined.
  if (lt == ANY_UNDEFINED || rt == ANY_UNDEFINED) {
    bool both = lt == ANY_UNDEFINED && rt == ANY_UNDEFINED;
    switch (op) {
      case OP_EQ: case OP_STRICT_EQ: out.set(both); return true;
      case OP_NE: case OP_STRICT_NE: out.set(!both); return true;
      default: return fail(parser, node, kType, 99);
    }
  }
  // 4. two texts.
  if (ls && rs) {
    const char* a = textOf(left);
    const char* b = textOf(right);
    int c = std::strcmp(a != nullptr ? a : "", b != nullptr ? b : "");
    bool r;
    if (!compare(op, c, 0, &r)) return fail(parser, node, kType, 99);
    out.set(r);
    return true;
  }
  // 5. and 6. a text with a number.
  if ((ls && isInteger(rt)) || (rs && isInteger(lt))) return textWithNumber(parser, node, op, left, right, out, true);
  if ((ls && (rt == ANY_FLOAT || rt == ANY_DOUBLE)) || (rs && (lt == ANY_FLOAT || lt == ANY_DOUBLE))) {
    return textWithNumber(parser, node, op, left, right, out, false);
  }
  // 7. numbers and booleans.
  if (isNumeric(lt) && isNumeric(rt)) {
    if (lt == ANY_BOOL && rt == ANY_BOOL && (op == OP_STRICT_EQ || op == OP_STRICT_NE)) {
      // Two booleans have the same type: strict equality compares them.
      out.set((left.getBool() == right.getBool()) == (op == OP_STRICT_EQ));
      return true;
    }
    int type = ANY_INT32;
    if (lt == ANY_DOUBLE || rt == ANY_DOUBLE) {
      type = ANY_DOUBLE;
    } else if (lt == ANY_FLOAT || rt == ANY_FLOAT) {
      type = ANY_FLOAT;
    } else if (lt == ANY_INT64 || rt == ANY_INT64) {
      type = ANY_INT64;
    }
    bool sameType = lt == type && rt == type;
    if (op == OP_STRICT_EQ && !sameType) {
      out.set(false);
      return true;
    }
    if (op == OP_STRICT_NE && !sameType) {
      out.set(true);
      return true;
    }
    bool r;
    switch (type) {
      case ANY_INT32: {
        int a = static_cast<int>(asInt64(left));
        int b = static_cast<int>(asInt64(right));
        if (isArithmetic(op)) {
          int v;
          if (!integerArith<int, unsigned>(parser, node, op, a, b, &v)) return false;
          out.set(v);
          return true;
        }
        if (!compare(op, a, b, &r)) return fail(parser, node, kType, 99);
        break;
      }
      case ANY_INT64: {
        long long a = asInt64(left);
        long long b = asInt64(right);
        if (isArithmetic(op)) {
          long long v;
          if (!integerArith<long long, unsigned long long>(parser, node, op, a, b, &v)) return false;
          out.set(v);
          return true;
        }
        if (!compare(op, a, b, &r)) return fail(parser, node, kType, 99);
        break;
      }
      case ANY_FLOAT: {
        auto a = static_cast<float>(asDouble(left));
        auto b = static_cast<float>(asDouble(right));
        if (isArithmetic(op)) {
          float v;
          if (!floatingArith(op, a, b, &v)) return fail(parser, node, kType, 99);
          out.set(v);
          return true;
        }
        if (!compare(op, a, b, &r)) return fail(parser, node, kType, 99);
        break;
      }
      default: {
        double a = asDouble(left);
        double b = asDouble(right);
        if (isArithmetic(op)) {
          double v;
          if (!floatingArith(op, a, b, &v)) return fail(parser, node, kType, 99);
          out.set(v);
          return true;
        }
        if (!compare(op, a, b, &r)) return fail(parser, node, kType, 99);
        break;
      }
    }
    out.set(r);
    return true;
  }
  // 8. the rest.
  if (lt == ANY_BOOL || rt == ANY_BOOL) {
    if (!ls && !rs) return fail(parser, node, kReference, 21);
  }
  (void)isEquality;
  (void)isOrdering;
  return fail(parser, node, kType, 99);
}

bool bitOp(Parser* parser, const AstNode* node, int op, const Any& left, const Any& right, Any& out) {
  int lt = kindOf(left);
  int rt = kindOf(right);
  if (lt == ANY_INT32 && rt == ANY_INT32) {
    int a = left.getInt32();
    int b = right.getInt32();
    unsigned count = static_cast<unsigned>(b) & 31u;
    switch (op) {
      case OP_BIT_AND: out.set(a & b); return true;
      case OP_BIT_OR: out.set(a | b); return true;
      case OP_BIT_XOR: out.set(a ^ b); return true;
      case OP_SHL: out.set(static_cast<int>(static_cast<unsigned>(a) << count)); return true;
      case OP_SHR: out.set(a >> count); return true;
      case OP_USHR: out.set(static_cast<int>(static_cast<unsigned>(a) >> count)); return true;
      default: return fail(parser, node, kType, 101);
    }
  }
  if (isInteger(lt) && isInteger(rt)) {
    long long a = asInt64(left);
    long long b = asInt64(right);
    unsigned count = static_cast<unsigned>(b) & 63u;
    switch (op) {
      case OP_BIT_AND: out.set(a & b); return true;
      case OP_BIT_OR: out.set(a | b); return true;
      case OP_BIT_XOR: out.set(a ^ b); return true;
      case OP_SHL: out.set(static_cast<long long>(static_cast<unsigned long long>(a) << count)); return true;
      case OP_SHR: out.set(a >> count); return true;
      case OP_USHR: out.set(static_cast<long long>(static_cast<unsigned long long>(a) >> count)); return true;
      default: return fail(parser, node, kType, 101);
    }
  }
  return fail(parser, node, kType, 101);
}

}  // namespace interp

// ---- the binary nodes

namespace {

// Whether evaluating `node` runs no code (a literal or a name): nothing it
// does can change a variable.
bool runsNoCode(const ExprAstNode* node) {
  int kind = node->getType();
  return kind == AstNode::LITERAL || kind == AstNode::IDENT;
}

// The plain value (not an object, not opaque) that `node` evaluates to when
// it is a literal or a variable of the interpreter's own sets, without a
// copy; null otherwise (the caller evaluates the node). The operators never
// look at a subtype, so the original serves as well as a copy would.
const Any* borrowedOperand(Parser* parser, const ExprAstNode* node) {
  const Any* value = nullptr;
  if (node->getType() == AstNode::LITERAL) {
    const Token& token = static_cast<const LiteralAstNode*>(node)->token();
    if (token.type == Token::LITERAL_NULL || token.type == Token::LITERAL_UNDEFINED) return nullptr;
    value = &token.value;
  } else if (node->getType() == AstNode::IDENT) {
    value = peekName(parser, static_cast<const IdentAstNode*>(node));
  }
  if (value == nullptr || value->isOpaque()) return nullptr;
  int type = value->getType();
  return type >= ANY_NULL && type <= ANY_UNDEFINED && type != ANY_REF ? value : nullptr;
}

// The 32-bit integer operators of mathOp and bitOp on two plain 32-bit
// integers; false where those report an error (division by zero) or for an
// operator that gives no integer.
inline bool intOp(int op, int a, int b, int* out) {
  auto ua = static_cast<unsigned>(a);
  auto ub = static_cast<unsigned>(b);
  switch (op) {
    case OP_ADD: *out = static_cast<int>(ua + ub); return true;
    case OP_SUB: *out = static_cast<int>(ua - ub); return true;
    case OP_MUL: *out = static_cast<int>(ua * ub); return true;
    case OP_DIV:
    case OP_MOD:
      if (b == 0) return false;
      if (b == -1) {
        *out = op == OP_DIV ? static_cast<int>(0u - ua) : 0;
        return true;
      }
      *out = op == OP_DIV ? a / b : a % b;
      return true;
    case OP_BIT_AND: *out = a & b; return true;
    case OP_BIT_OR: *out = a | b; return true;
    case OP_BIT_XOR: *out = a ^ b; return true;
    case OP_SHL: *out = static_cast<int>(ua << (ub & 31u)); return true;
    case OP_SHR: *out = a >> (ub & 31u); return true;
    case OP_USHR: *out = static_cast<int>(ua >> (ub & 31u)); return true;
    default: return false;
  }
}

// The operator code a binary node evaluates with.
inline int opOf(const BinaryExprAstNode* node) {
  switch (node->getType()) {
    case AstNode::BITWISE_AND: return OP_BIT_AND;
    case AstNode::BITWISE_OR: return OP_BIT_OR;
    case AstNode::BITWISE_XOR: return OP_BIT_XOR;
    default: return node->opCode();
  }
}

bool evalMath(Parser* parser, const BinaryExprAstNode* node, int op, Any& out);
bool evalBits(Parser* parser, const BinaryExprAstNode* node, int op, Any& out);

// Evaluates an operand of an operator whose fast form failed: an operator
// node below is evaluated the ordinary way at once (its fast form would
// fail on the same operand again), anything else by its evalValue.
bool evalOperand(Parser* parser, const ExprAstNode* node, Any& out) {
  switch (node->getType()) {
    case AstNode::ADD:
    case AstNode::MUL:
    case AstNode::COMPARE:
    case AstNode::EQUALS: {
      const auto* binary = static_cast<const BinaryExprAstNode*>(node);
      return evalMath(parser, binary, binary->opCode(), out);
    }
    case AstNode::SHIFT:
    case AstNode::BITWISE_AND:
    case AstNode::BITWISE_OR:
    case AstNode::BITWISE_XOR: {
      const auto* binary = static_cast<const BinaryExprAstNode*>(node);
      return evalBits(parser, binary, opOf(binary), out);
    }
    default:
      return node->evalValue(parser, out);
  }
}

// The form of an operand for the fast forms.
BinaryExprAstNode::OperandForm operandForm(const ExprAstNode* node, int* literal) {
  switch (node->getType()) {
    case AstNode::LITERAL:
      // A literal's value never changes: known once for all.
      return node->evalInt(nullptr, literal) ? BinaryExprAstNode::kFormInt : BinaryExprAstNode::kFormNotInt;
    case AstNode::IDENT:
      return BinaryExprAstNode::kFormName;
    default:
      return AstNode::isIntOperator(node->getType()) ? BinaryExprAstNode::kFormIntOperator
                                                     : BinaryExprAstNode::kFormOther;
  }
}

bool binaryInt(Parser* parser, const BinaryExprAstNode* node, int* out);

const BinaryExprAstNode::FastShape& shapeOf(const BinaryExprAstNode* node) {
  BinaryExprAstNode::FastShape& shape = node->fastShape();
  if (!shape.known) {
    shape.op = opOf(node);
    shape.leftForm = operandForm(node->left(), &shape.leftInt);
    shape.rightForm = operandForm(node->right(), &shape.rightInt);
    shape.known = true;
  }
  return shape;
}

inline bool operandInt(Parser* parser, const ExprAstNode* node, BinaryExprAstNode::OperandForm form, int literal,
                       int* out) {
  switch (form) {
    case BinaryExprAstNode::kFormInt: *out = literal; return true;
    case BinaryExprAstNode::kFormNotInt: return false;
    case BinaryExprAstNode::kFormName: return nameInt(parser, static_cast<const IdentAstNode*>(node), out);
    case BinaryExprAstNode::kFormIntOperator:
      // What the operator's evalInt does, without the virtual call.
      return binaryInt(parser, static_cast<const BinaryExprAstNode*>(node), out);
    default: return node->evalInt(parser, out);
  }
}

// The fast form of the integer operators: both operands plain 32-bit
// integers by their own fast forms.
bool binaryInt(Parser* parser, const BinaryExprAstNode* node, int* out) {
  if (!parser->hasStackRoom()) return false;
  const BinaryExprAstNode::FastShape& shape = shapeOf(node);
  int a;
  int b;
  return operandInt(parser, node->left(), shape.leftForm, shape.leftInt, &a) &&
         operandInt(parser, node->right(), shape.rightForm, shape.rightInt, &b) && intOp(shape.op, a, b, out);
}

// The fast form of the comparisons: two plain 32-bit integers.
inline bool compareInt(Parser* parser, const BinaryExprAstNode* node, bool* out) {
  if (!parser->hasStackRoom()) return false;
  const BinaryExprAstNode::FastShape& shape = shapeOf(node);
  int a;
  int b;
  if (!operandInt(parser, node->left(), shape.leftForm, shape.leftInt, &a) ||
      !operandInt(parser, node->right(), shape.rightForm, shape.rightInt, &b)) {
    return false;
  }
  switch (shape.op) {
    case OP_LT: *out = a < b; return true;
    case OP_LE: *out = a <= b; return true;
    case OP_GT: *out = a > b; return true;
    case OP_GE: *out = a >= b; return true;
    case OP_EQ:
    case OP_STRICT_EQ: *out = a == b; return true;
    case OP_NE:
    case OP_STRICT_NE: *out = a != b; return true;
    default: return false;
  }
}

bool evalMath(Parser* parser, const BinaryExprAstNode* node, int op, Any& out) {
  if (!parser->stackRoom(node)) return false;
  // Operands that are literals or variables are read where they are: the
  // left one only when the right one cannot change it meanwhile.
  Any left;
  Any right;
  const Any* l = runsNoCode(node->right()) ? borrowedOperand(parser, node->left()) : nullptr;
  if (l == nullptr) {
    if (!evalOperand(parser, node->left(), left)) return false;
    l = &left;
  }
  const Any* r = borrowedOperand(parser, node->right());
  if (r == nullptr) {
    if (!evalOperand(parser, node->right(), right)) return false;
    r = &right;
  }
  // Sums, differences, products and comparisons of two 32-bit integers
  // here; everything else (division included) in mathOp.
  if (l->getType() == ANY_INT32 && r->getType() == ANY_INT32 && !l->isOpaque() && !r->isOpaque()) {
    auto a = static_cast<unsigned>(l->getInt32());
    auto b = static_cast<unsigned>(r->getInt32());
    switch (op) {
      case OP_ADD: out.set(static_cast<int>(a + b)); return true;
      case OP_SUB: out.set(static_cast<int>(a - b)); return true;
      case OP_MUL: out.set(static_cast<int>(a * b)); return true;
      case OP_LT: out.set(l->getInt32() < r->getInt32()); return true;
      case OP_LE: out.set(l->getInt32() <= r->getInt32()); return true;
      case OP_GT: out.set(l->getInt32() > r->getInt32()); return true;
      case OP_GE: out.set(l->getInt32() >= r->getInt32()); return true;
      default: break;
    }
  }
  return mathOp(parser, node, op, *l, *r, out);
}

bool evalBits(Parser* parser, const BinaryExprAstNode* node, int op, Any& out) {
  if (!parser->stackRoom(node)) return false;
  Any left;
  Any right;
  if (!evalOperand(parser, node->left(), left) || !evalOperand(parser, node->right(), right)) return false;
  return bitOp(parser, node, op, left, right, out);
}

}  // namespace

namespace interp {

bool evalGeneric(Parser* parser, const ExprAstNode* node, Any& out) { return evalOperand(parser, node, out); }

}  // namespace interp

// Integer operators: the fast form first (a result of 32 bits carries no
// subtype, as the ordinary form's does not).
#define KEL_INT_OPERATOR(Class)                                                                      \
  bool Class::evalValue(Parser* parser, Any& out) const {                                            \
    int v;                                                                                           \
    if (evalInt(parser, &v)) {                                                                       \
      out.set(v);                                                                                    \
      return true;                                                                                   \
    }                                                                                                \
    return evalOperand(parser, this, out);                                                           \
  }                                                                                                  \
  bool Class::evalInt(Parser* parser, int* out) const {                                              \
    const IntProgram* program = programOf(this, IntProgram::kInt);                                   \
    return program != nullptr ? program->run(parser, out) : binaryInt(parser, this, out);            \
  }                                                                                                  \
  bool Class::evalCond(Parser*, bool*) const { return false; }

KEL_INT_OPERATOR(AddAstNode)
KEL_INT_OPERATOR(MulAstNode)
KEL_INT_OPERATOR(ShiftAstNode)
KEL_INT_OPERATOR(BitwiseAndAstNode)
KEL_INT_OPERATOR(BitwiseOrAstNode)
KEL_INT_OPERATOR(BitwiseXorAstNode)
#undef KEL_INT_OPERATOR

// Comparisons: the fast form first.
#define KEL_COMPARISON(Class)                                                \
  bool Class::evalValue(Parser* parser, Any& out) const {                    \
    bool v;                                                                  \
    if (evalCond(parser, &v)) {                                              \
      out.set(v);                                                            \
      return true;                                                           \
    }                                                                        \
    return evalOperand(parser, this, out);                                   \
  }                                                                          \
  bool Class::evalInt(Parser*, int*) const { return false; }                 \
  bool Class::evalCond(Parser* parser, bool* out) const {                    \
    const IntProgram* program = programOf(this, IntProgram::kCond);          \
    if (program == nullptr) return compareInt(parser, this, out);            \
    int v;                                                                   \
    if (!program->run(parser, &v)) return false;                             \
    *out = v != 0;                                                           \
    return true;                                                             \
  }

KEL_COMPARISON(CompareAstNode)
KEL_COMPARISON(EqualsAstNode)
#undef KEL_COMPARISON
