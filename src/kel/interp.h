// Helpers shared by the interpreter's files (the evaluation of expression
// nodes, operators, calls and statements). Internal to kel.
#pragma once

#include <cstring>
#include <memory>
#include <new>

#include "kel/abstract_var_set.h"
#include "kel/ast/expr_nodes.h"
#include "kel/error.h"
#include "kel/int_program.h"
#include "kel/parser.h"
#include "kel/place.h"
#include "model/any.h"
#include "model/obj_ref.h"

inline Any* IdentAstNode::variable(Parser* parser) const {
  const AbstractVarSet* scope = parser->getCurrentScope();
  if (scope != nullptr && slotScope_ == scope->serial() && slotEpoch_ == AbstractVarSet::shapeEpoch()) return slot_;
  return resolveVariable(parser);
}

// A name's value as a plain 32-bit integer (IdentAstNode::evalInt,
// without the virtual call).
inline bool nameInt(Parser* parser, const IdentAstNode* name, int* out) {
  const Any* v = name->variable(parser);
  if (v == nullptr || v->getType() != ANY_INT32 || v->isOpaque()) return false;
  *out = v->getInt32();
  return true;
}

// The value `ident` reads, for a read that follows at once with nothing run
// in between: the remembered variable, or else a look-up in the current
// scope when it is one of the interpreter's own sets. Null when the name
// must take the general path (a registered prototype of that name, a scope
// of another kind, no such variable).
[[nodiscard]] const Any* lookUpName(Parser* parser, const IdentAstNode* ident);  // interp_expr.cpp
[[nodiscard]] inline const Any* peekName(Parser* parser, const IdentAstNode* ident) {
  const Any* value = ident->variable(parser);
  return value != nullptr ? value : lookUpName(parser, ident);
}

// The flat form of a binary node's fast form in `mode`, made on the first
// use (null when the subtree is too large for one).
inline const IntProgram* programOf(const BinaryExprAstNode* node, IntProgram::Mode mode) {
  if (!node->hasProgram()) node->setProgram(IntProgram::build(node, mode, nullptr));
  return node->program();
}

namespace interp {

// Error types of run-time errors.
constexpr int kSyntax = Error::SYNTAX_ERROR;
constexpr int kEval = Error::EVAL_ERROR;
constexpr int kRange = Error::RANGE_ERROR;
constexpr int kReference = Error::REFERENCE_ERROR;
constexpr int kType = Error::TYPE_ERROR;

// Stores a run-time error at `node` and gives false.
inline bool fail(Parser* parser, const AstNode* node, int type, int code) {
  parser->throwErrorCode(node, type, code);
  return false;
}

// Evaluates `node`; the result must be a boolean (or a place holding one):
// anything else is SyntaxError 97.
[[nodiscard]] bool expectBoolean(Parser* parser, const ExprAstNode* node, bool* out);

// Evaluates `node` without reading it; true with `place` set when it names
// a storage place. A reference to some other object is handed back through
// `object` when the caller asks for it (the call fails, no error stored);
// anything else is SyntaxError 98.
[[nodiscard]] bool expectAssignable(Parser* parser, const ExprAstNode* node, Place& place, Any* object);

// Evaluates `node` to a plain value when its fast form (evalInt,
// evalCond) has just failed: an operator node is evaluated the ordinary
// way without trying its fast form again.
[[nodiscard]] bool evalGeneric(Parser* parser, const ExprAstNode* node, Any& out);

// Reads a place into `out`; a failing read is an error of `type` with its
// code, reported at `node`.
[[nodiscard]] bool readPlace(Parser* parser, const AstNode* node, const Place& place, Any& out, int type);

// The operators over two plain values into `out`.
[[nodiscard]] bool mathOp(Parser* parser, const AstNode* node, int op, const Any& left, const Any& right, Any& out);
[[nodiscard]] bool bitOp(Parser* parser, const AstNode* node, int op, const Any& left, const Any& right, Any& out);

// The raw text of a string value (also a character), or null.
inline const char* textOf(const Any& value) {
  int t = value.getType();
  return (t == ANY_STRING || t == ANY_CHAR) && !value.isOpaque() ? value.getString() : nullptr;
}
inline bool isText(const Any& value) {
  int t = value.getType();
  return (t == ANY_STRING || t == ANY_CHAR) && !value.isOpaque();
}

// `text.length` of a string value (not a character): its length in bytes,
// as the value's own field gives it (Any::getField). False for other
// values.
inline bool textLength(const Any* value, int* out) {
  if (value == nullptr || value->getType() != ANY_STRING || value->isOpaque()) return false;
  const char* text = value->getString();
  *out = text != nullptr ? static_cast<int>(std::strlen(text)) : 0;
  return true;
}

// The target of an ANY_REF value, else null (not counted).
inline Translatable* refTarget(const Any& value) {
  ObjRef* ref = value.getRef();
  return ref != nullptr ? ref->getTarget() : nullptr;
}

// `out` becomes what `source.createReference()` would give (a scalar or
// text copied with its type word, a reference sharing its target), built in
// place instead of on the heap.
void referenceInto(Any& out, const Any& source);

// The evaluated arguments of one call: a null-terminated array of plain
// values, on the stack for the common short lists (only the values in use
// are constructed).
class Arguments {
 public:
  explicit Arguments(size_t n) : n_(n) {
    Any* store;
    if (n > kInline) {
      heap_ = std::make_unique<Any[]>(n);
      pointersHeap_ = std::make_unique<Any*[]>(n + 1);
      store = heap_.get();
      pointers_ = pointersHeap_.get();
    } else {
      store = reinterpret_cast<Any*>(inline_);
      pointers_ = pointersInline_;
    }
    for (size_t i = 0; i < n; i++) {
      if (n <= kInline) new (&store[i]) Any();
      pointers_[i] = &store[i];
    }
    pointers_[n] = nullptr;
  }
  ~Arguments() {
    if (n_ <= kInline) {
      Any* store = reinterpret_cast<Any*>(inline_);
      for (size_t i = 0; i < n_; i++) store[i].~Any();
    }
  }
  Arguments(const Arguments&) = delete;
  Arguments& operator=(const Arguments&) = delete;
  Any** pointers() { return pointers_; }
  Any& operator[](size_t i) { return *pointers_[i]; }
  [[nodiscard]] size_t size() const { return n_; }

 private:
  static constexpr size_t kInline = 6;
  size_t n_;
  alignas(Any) unsigned char inline_[kInline * sizeof(Any)];
  Any* pointersInline_[kInline + 1];
  std::unique_ptr<Any[]> heap_;
  std::unique_ptr<Any*[]> pointersHeap_;
  Any** pointers_;  // pointersInline_ or pointersHeap_
};

// name = value with the value already made (the assignment `node` of a
// name in the interpreter's own sets): the variable the name reaches now.
[[nodiscard]] bool assignToName(Parser* parser, const AssignmentExprAstNode* node, Any& value);

// Moves `from` into `to` (from is left null).
inline void moveValue(Any& to, Any& from) {
  if (!to.copyPlainFrom(from)) to.takeFrom(from);
  from.clear();
}

// Runs an expression for its effects (a statement, a loop's step). A call,
// an assignment, ++ and -- name no place that a read could fail on: they
// are evaluated straight to a value; any other expression is evaluated
// without reading the place it names.
[[nodiscard]] inline bool runForEffects(Parser* parser, const ExprAstNode* e) {
  switch (e->getType()) {
    case AstNode::ASSIGNMENT_EXPR: return static_cast<const AssignmentExprAstNode*>(e)->assign(parser, nullptr);
    case AstNode::INCREMENT:
    case AstNode::DECREMENT: return static_cast<const IncDecAstNode*>(e)->runForEffects(parser);
    case AstNode::FN_CALL: {
      Any value;
      return e->evalValue(parser, value);
    }
    default: {
      Place place;
      Any value;
      return e->evalRef(parser, place, value) != ExprAstNode::kFailed;
    }
  }
}

constexpr int kLoopFlags = Parser::kContinuePending | Parser::kBreakPending;

// After a loop body: clears break and continue; true when the loop must
// stop (a break, or a flag of the embedding asking every statement to stop).
inline bool loopShouldStop(Parser* parser) {
  int flags = parser->flags();
  if (flags == 0) return false;
  parser->setFlags(flags & ~kLoopFlags);
  return (flags & Parser::kBreakPending) != 0 || (flags & ~kLoopFlags) != 0;
}

}  // namespace interp

// Whether `value` may be stored into `owner` (see place.cpp): 0, 24 or 39.
// The walk is charged to `parser`'s step budget (13 when it runs out).
[[nodiscard]] int kelContainerCheckSlow(const Translatable* owner, const Any& value, Parser* parser);
// A value that refers to no container (a number, a text) is answered here.
[[nodiscard]] inline int kelContainerCheck(const Translatable* owner, const Any& value, Parser* parser) {
  int type = value.getType();
  if (value.isOpaque() || (type != ANY_REF && type != OBJ_ANYARRAY_ID)) return 0;
  return kelContainerCheckSlow(owner, value, parser);
}
