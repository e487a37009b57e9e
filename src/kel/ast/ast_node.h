// The bases of the kel syntax tree. The parser builds the tree once; the
// interpreter evaluates expressions (ExprAstNode::evaluate) and executes
// statements (StmtAstNode::execute) any number of times without changing it.
// A tree is used by one thread at a time.
#pragma once

#include <memory>
#include <string>

#include "kel/location.h"

class Any;
class OutputStmt;
class Place;
class Parser;

class AstNode {
 public:
  // One kind per node class (getType).
  enum Kind : int {
    LITERAL = 1,
    IDENT,
    OBJECT,
    OBJECT_FACTORY,
    MEMBER_DEREF,
    ARRAY_DEREF,
    FN_CALL,
    NEGATIVE,
    BOOLEAN_NOT,
    BITWISE_NOT,
    TYPEOF,
    INCREMENT,
    DECREMENT,
    ADD,
    MUL,
    SHIFT,
    COMPARE,
    EQUALS,
    BITWISE_AND,
    BITWISE_XOR,
    BITWISE_OR,
    LOGICAL_AND,
    LOGICAL_OR,
    CONDITIONAL,
    ASSIGNMENT_EXPR,
    ASSIGNMENT_STMT,
    LET_OR_VAR,
    STMT_LIST,
    IF_STMT,
    WHILE_STMT,
    DO_WHILE_STMT,
    FOR_STMT,
    SWITCH_STMT,
    FLOW_STMT,
    RETURN_STMT,
    OUTPUT_STMT,
  };

  // The binary operators whose value is a fresh 32-bit integer whenever
  // both operands are integers (the kinds the integer fast forms compute).
  [[nodiscard]] static constexpr bool isIntOperator(Kind kind) {
    return kind == ADD || kind == MUL || kind == SHIFT || kind == BITWISE_AND || kind == BITWISE_OR ||
           kind == BITWISE_XOR;
  }

  explicit AstNode(const Location& location) : location_(location) {}
  virtual ~AstNode() = default;
  AstNode(const AstNode&) = delete;
  AstNode& operator=(const AstNode&) = delete;

  [[nodiscard]] virtual Kind getType() const = 0;
  [[nodiscard]] virtual bool isIdentifier() const { return false; }
  // Appends the debug form of the subtree: "(Kind fields children...)";
  // statements start a new line indented by `indent` levels.
  virtual void dump(std::string& out, int indent) const = 0;

  [[nodiscard]] const Location& location() const { return location_; }

  // Height of the subtree (a leaf is 1), function bodies included. The
  // parser refuses trees higher than its bound, so that walking a tree
  // (dumping, evaluating, destroying it) can never exhaust the stack.
  [[nodiscard]] int height() const { return height_; }

 protected:
  void setHeight(int height) { height_ = height; }
  void raiseHeight(const AstNode* child) {
    if (child != nullptr && child->height_ + 1 > height_) height_ = child->height_ + 1;
  }
  static int heightOf(const AstNode* node) { return node != nullptr ? node->height_ : 0; }

 private:
  Location location_;
  int height_ = 1;
};

class ExprAstNode : public AstNode {
 public:
  using AstNode::AstNode;

  // Evaluates the expression into a new Any owned by the caller: a plain
  // value, or a reference to an assignable place (an Assignable). False on
  // failure, with the error normally stored in the parser. Built on the two
  // forms below, which the interpreter uses directly so that evaluating a
  // node allocates nothing it does not keep.
  [[nodiscard]] bool evaluate(Parser* parser, Any** result) const;
  // The same turned into a plain value (an assignable place is read).
  [[nodiscard]] bool evaluateToValue(Parser* parser, Any** result) const;

  // What evalRef produced.
  enum RefKind : int { kFailed = 0, kValue = 1, kPlace = 2 };
  // Evaluates without reading: kPlace with `place` describing the storage
  // place the expression names, kValue with the value in `value`, or
  // kFailed. Base: evalValue.
  [[nodiscard]] virtual int evalRef(Parser* parser, Place& place, Any& value) const;
  // Evaluates to a plain value in `out` (whatever it held is replaced): a
  // place is read. Base: evalRef, then the place's read. Every node class
  // overrides at least one of the two.
  [[nodiscard]] virtual bool evalValue(Parser* parser, Any& out) const;

  // The effect-free fast forms, for loops over counters and containers: a
  // subtree made only of names, literals, the integer, comparison and
  // logical operators over them, and members and elements read from
  // containers held in variables, evaluated without temporaries. True with
  // the result when the subtree is of that form and every value on the way
  // is a plain 32-bit integer (evalInt) or a boolean (evalCond); false
  // otherwise, having changed nothing and stored no error: the caller then
  // evaluates the node the ordinary way, which gives the same result or
  // reports the error. Base: false.
  [[nodiscard]] virtual bool evalInt(Parser* parser, int* out) const;
  [[nodiscard]] virtual bool evalCond(Parser* parser, bool* out) const;
};

using ExprPtr = std::unique_ptr<ExprAstNode>;

class StmtAstNode : public AstNode {
 public:
  explicit StmtAstNode(const Location& location);
  ~StmtAstNode() override;

  // Runs the statement; non-zero for success. Every statement first runs its
  // leading output (template text before it). The interpreter overrides this
  // for every node class; the base executes nothing and fails.
  [[nodiscard]] virtual int execute(Parser* parser) const;

  // Template text that runs before the statement.
  void setLeadingOutput(std::unique_ptr<OutputStmt> output);
  [[nodiscard]] const OutputStmt* leadingOutput() const { return leading_.get(); }

  // Whether running this statement as a block body can define a `let`
  // directly in the block (so that the block needs a scope of its own).
  // Computed on first use.
  [[nodiscard]] bool declaresLet() const { return declaresLet_ >= 0 ? declaresLet_ != 0 : findLet(); }

 protected:
  // Dumps the leading output, if any, on its own line.
  void dumpLeading(std::string& out, int indent) const;
  static void newLine(std::string& out, int indent);

 private:
  std::unique_ptr<OutputStmt> leading_;
  bool findLet() const;
  mutable signed char declaresLet_ = -1;
};

using StmtPtr = std::unique_ptr<StmtAstNode>;

// Helpers for dump(): an expression inline, or "-" for none; a function body
// inside it is indented from `indent`.
void dumpExpr(const ExprAstNode* node, std::string& out, int indent);
// A text as a quoted, escaped literal.
void dumpQuoted(const std::string& text, std::string& out);
