// The expression nodes of the kel syntax tree: literals, names, object and
// array literals, member and index access, calls, and the unary, binary,
// conditional and assignment operators. Built by the parser; read-only
// afterwards. Not synchronised.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "kel/ast/ast_node.h"
#include "kel/token.h"
#include "model/obj_ref.h"

class Function;
class IntProgram;

// Operator codes of the binary nodes.
enum OpCode : int {
  OP_NONE = 0,
  OP_ADD = 16,
  OP_SUB = 17,
  OP_MUL = 18,
  OP_DIV = 19,
  OP_MOD = 20,
  OP_LT = 21,
  OP_LE = 22,
  OP_GT = 23,
  OP_GE = 24,
  OP_SHL = 25,
  OP_SHR = 26,
  OP_USHR = 27,
  OP_EQ = 28,
  OP_NE = 29,
  OP_STRICT_EQ = 30,
  OP_STRICT_NE = 31,
  OP_BIT_AND = 35,
  OP_BIT_OR = 36,
  OP_BIT_XOR = 37,
};

// The source form of an operator code ("+", ">>>", ...), "?" for others.
[[nodiscard]] const char* opCodeText(int op);

// A number, string, boolean, regular expression, null or undefined. Holds
// the token it was read from (for REGEX its value refers to the compiled
// pattern, shared by every evaluation).
class LiteralAstNode : public ExprAstNode {
 public:
  // Takes the token's value over; `token` is left empty.
  LiteralAstNode(const Location& location, Token& token);
  Kind getType() const override { return LITERAL; }
  bool evalValue(Parser* parser, Any& out) const override;
  bool evalInt(Parser* parser, int* out) const override;
  bool evalCond(Parser* parser, bool* out) const override;
  void dump(std::string& out, int indent) const override;
  [[nodiscard]] const Token& token() const { return token_; }

 private:
  Token token_;
};

class IdentAstNode : public ExprAstNode {
 public:
  IdentAstNode(const Location& location, std::string name) : ExprAstNode(location), name_(std::move(name)) {}
  Kind getType() const override { return IDENT; }
  bool evalValue(Parser* parser, Any& out) const override;
  bool evalInt(Parser* parser, int* out) const override;
  bool evalCond(Parser* parser, bool* out) const override;
  int evalRef(Parser* parser, Place& place, Any& value) const override;
  // The prototype registered under this name, or null; cached until the
  // registry changes.
  [[nodiscard]] Translatable* registeredPrototype() const;
  // The variable this name reaches from the parser's current scope, to be
  // read or written in place: a value entry of the interpreter's own sets
  // that both a read and an assignment reach (VarSet::resolveSlot). Null
  // when the name must take the general path (a registered prototype of
  // that name, no such variable, a this-map or a set of another kind on
  // the way, a read-only set). Remembered with the scope and the shape
  // epoch, so a loop finds its variables without a search.
  // Defined in interp.h (the interpreter's files use it).
  [[nodiscard]] inline Any* variable(Parser* parser) const;
  bool isIdentifier() const override { return true; }
  void dump(std::string& out, int indent) const override;
  [[nodiscard]] const std::string& name() const { return name_; }
  // Where variable() last found the name in the scope itself (the entry's
  // place in that set), else -1.
  [[nodiscard]] int ownIndex() const { return ownIndex_; }

 private:
  Any* resolveVariable(Parser* parser) const;

  std::string name_;
  mutable uint64_t registryGeneration_ = 0;
  mutable Translatable* prototype_ = nullptr;
  mutable uint64_t slotScope_ = 0;  // the scope's serial
  mutable uint64_t slotEpoch_ = 0;
  mutable Any* slot_ = nullptr;
  mutable int ownIndex_ = -1;  // the entry's place when found in the scope itself
  // The frame key of the scope when the entry found was one of its frame
  // entries (a call's parameter or `var`), else 0: the next call's scope
  // has it at the same index.
  mutable uint64_t slotFrame_ = 0;
};

// A function expression: refers to the Function the parser made.
class ObjectAstNode : public ExprAstNode {
 public:
  ObjectAstNode(const Location& location, Function* function);
  ~ObjectAstNode() override;
  Kind getType() const override { return OBJECT; }
  bool evalValue(Parser* parser, Any& out) const override;
  int evalRef(Parser* parser, Place& place, Any& value) const override;
  void dump(std::string& out, int indent) const override;
  [[nodiscard]] const ObjRef& object() const { return object_; }
  [[nodiscard]] Function* function() const;

 private:
  ObjRef object_;
};

// An object literal {"name": value, ...} (kind 1) or an array literal
// [value, ...] (kind 2).
class ObjectFactoryAstNode : public ExprAstNode {
 public:
  enum FactoryKind : int { kObject = 1, kArray = 2 };
  struct Member {
    bool hasName = false;
    std::string name;
    ExprPtr value;
  };
  ObjectFactoryAstNode(const Location& location, FactoryKind kind) : ExprAstNode(location), kind_(kind) {}
  Kind getType() const override { return OBJECT_FACTORY; }
  bool evalValue(Parser* parser, Any& out) const override;
  int evalRef(Parser* parser, Place& place, Any& value) const override;
  void dump(std::string& out, int indent) const override;
  void addMember(std::string name, ExprPtr value);
  void addElement(ExprPtr value);
  [[nodiscard]] FactoryKind kind() const { return kind_; }
  [[nodiscard]] const std::vector<Member>& members() const { return members_; }

 private:
  FactoryKind kind_;
  std::vector<Member> members_;
};

// object.member; the member is a primary (an identifier when well formed).
class MemberDerefAstNode : public ExprAstNode {
 public:
  MemberDerefAstNode(const Location& location, ExprPtr object, ExprPtr member);
  Kind getType() const override { return MEMBER_DEREF; }
  int evalRef(Parser* parser, Place& place, Any& value) const override;
  bool evalValue(Parser* parser, Any& out) const override;
  bool evalInt(Parser* parser, int* out) const override;
  void dump(std::string& out, int indent) const override;
  [[nodiscard]] const ExprAstNode* object() const { return object_.get(); }
  [[nodiscard]] const ExprAstNode* member() const { return member_.get(); }

 private:
  ExprPtr object_;
  ExprPtr member_;
};

// object[i][j]...: directly consecutive index brackets in one node.
class ArrayDerefAstNode : public ExprAstNode {
 public:
  ArrayDerefAstNode(const Location& location, ExprPtr object, std::vector<ExprPtr> indexes);
  Kind getType() const override { return ARRAY_DEREF; }
  int evalRef(Parser* parser, Place& place, Any& value) const override;
  bool evalValue(Parser* parser, Any& out) const override;
  bool evalInt(Parser* parser, int* out) const override;
  void dump(std::string& out, int indent) const override;
  [[nodiscard]] const ExprAstNode* object() const { return object_.get(); }
  [[nodiscard]] const std::vector<ExprPtr>& indexes() const { return indexes_; }

 private:
  ExprPtr object_;
  std::vector<ExprPtr> indexes_;
};

// A call f(...), a method call target.name(...) or new Class.Name(...).
class FnCallAstNode : public ExprAstNode {
 public:
  FnCallAstNode(const Location& location, ExprPtr target, std::vector<ExprPtr> args);
  Kind getType() const override { return FN_CALL; }
  bool evalValue(Parser* parser, Any& out) const override;
  void dump(std::string& out, int indent) const override;

  void setNew(std::string className) {
    isNew_ = true;
    className_ = std::move(className);
  }
  void setMemberName(std::string name) {
    memberName_ = std::move(name);
    hasMemberName_ = true;
  }

  [[nodiscard]] bool isNew() const { return isNew_; }
  [[nodiscard]] const std::string& className() const { return className_; }
  [[nodiscard]] bool hasMemberName() const { return hasMemberName_; }
  [[nodiscard]] const std::string& memberName() const { return memberName_; }
  // The callee, or the object of a method call; null for `new`.
  [[nodiscard]] const ExprAstNode* target() const { return target_.get(); }
  [[nodiscard]] const std::vector<ExprPtr>& args() const { return args_; }
  // Whether the callee is a plain name (f(...)).
  [[nodiscard]] bool calleeIsName() const { return calleeIsName_; }

 private:
  bool calleeIsName_ = false;
  bool isNew_ = false;
  std::string className_;
  bool hasMemberName_ = false;
  std::string memberName_;
  ExprPtr target_;
  std::vector<ExprPtr> args_;
};

// Base of the one-operand nodes.
class UnaryExprAstNode : public ExprAstNode {
 public:
  UnaryExprAstNode(const Location& location, ExprPtr operand);
  void dump(std::string& out, int indent) const override;
  [[nodiscard]] const ExprAstNode* operand() const { return operand_.get(); }

 protected:
  [[nodiscard]] virtual const char* dumpName() const = 0;

 private:
  ExprPtr operand_;
};

class NegativeAstNode : public UnaryExprAstNode {
 public:
  using UnaryExprAstNode::UnaryExprAstNode;
  Kind getType() const override { return NEGATIVE; }
  bool evalValue(Parser* parser, Any& out) const override;
  bool evalInt(Parser* parser, int* out) const override;

 protected:
  const char* dumpName() const override { return "Negative"; }
};

class BooleanNotAstNode : public UnaryExprAstNode {
 public:
  using UnaryExprAstNode::UnaryExprAstNode;
  Kind getType() const override { return BOOLEAN_NOT; }
  bool evalValue(Parser* parser, Any& out) const override;
  bool evalCond(Parser* parser, bool* out) const override;

 protected:
  const char* dumpName() const override { return "Not"; }
};

class BitwiseNotAstNode : public UnaryExprAstNode {
 public:
  using UnaryExprAstNode::UnaryExprAstNode;
  Kind getType() const override { return BITWISE_NOT; }
  bool evalValue(Parser* parser, Any& out) const override;

 protected:
  const char* dumpName() const override { return "BitNot"; }
};

class TypeofAstNode : public UnaryExprAstNode {
 public:
  using UnaryExprAstNode::UnaryExprAstNode;
  Kind getType() const override { return TYPEOF; }
  bool evalValue(Parser* parser, Any& out) const override;

 protected:
  const char* dumpName() const override { return "Typeof"; }
};

// ++ and --, prefix (flag 1) or postfix (flag 0).
class IncDecAstNode : public UnaryExprAstNode {
 public:
  IncDecAstNode(const Location& location, ExprPtr operand, int prefix)
      : UnaryExprAstNode(location, std::move(operand)), prefix_(prefix) {}
  void dump(std::string& out, int indent) const override;
  bool evalValue(Parser* parser, Any& out) const override;
  // Adds `step` (+1 or -1) to the operand in its own type.
  [[nodiscard]] bool doIncDec(Parser* parser, Any& out, int step) const;
  // The same when the result is not wanted (a statement, a loop's step).
  [[nodiscard]] bool runForEffects(Parser* parser) const;
  [[nodiscard]] int prefix() const { return prefix_; }

 private:
  int prefix_;
};

class IncrementAstNode : public IncDecAstNode {
 public:
  using IncDecAstNode::IncDecAstNode;
  Kind getType() const override { return INCREMENT; }

 protected:
  const char* dumpName() const override { return "Increment"; }
};

class DecrementAstNode : public IncDecAstNode {
 public:
  using IncDecAstNode::IncDecAstNode;
  Kind getType() const override { return DECREMENT; }

 protected:
  const char* dumpName() const override { return "Decrement"; }
};

// Base of the two-operand nodes. The left operand is normally owned; for a
// compound assignment (a += b is a = a + b) it is the assignment's own
// target, which this node only refers to.
class BinaryExprAstNode : public ExprAstNode {
 public:
  BinaryExprAstNode(const Location& location, ExprPtr left, ExprPtr right, int op);
  BinaryExprAstNode(const Location& location, const ExprAstNode* sharedLeft, ExprPtr right, int op);
  ~BinaryExprAstNode() override;
  void dump(std::string& out, int indent) const override;
  [[nodiscard]] const ExprAstNode* left() const { return left_; }
  [[nodiscard]] const ExprAstNode* right() const { return right_.get(); }
  [[nodiscard]] int opCode() const { return op_; }

  // What the interpreter's integer fast form learns about the node on its
  // first evaluation (the tree itself never changes): the operator it
  // computes and the form of each operand, so that a literal operand is
  // not evaluated and a name is read without a virtual call.
  enum OperandForm : int8_t { kFormUnknown = 0, kFormInt, kFormNotInt, kFormName, kFormIntOperator, kFormOther };
  struct FastShape {
    bool known = false;
    int op = 0;
    OperandForm leftForm = kFormUnknown;
    OperandForm rightForm = kFormUnknown;
    int leftInt = 0;
    int rightInt = 0;
  };
  [[nodiscard]] FastShape& fastShape() const { return fast_; }

  // The flat form of the node's fast form (int_program.h), made on the
  // first evaluation: null before, or when the subtree is too large for it.
  [[nodiscard]] bool hasProgram() const { return programMade_; }
  [[nodiscard]] const IntProgram* program() const { return program_.get(); }
  void setProgram(std::unique_ptr<IntProgram> program) const;

 protected:
  [[nodiscard]] virtual const char* dumpName() const = 0;

 private:
  ExprPtr ownedLeft_;
  const ExprAstNode* left_;
  ExprPtr right_;
  int op_;
  mutable FastShape fast_;
  mutable bool programMade_ = false;
  mutable std::unique_ptr<IntProgram> program_;
};

#define KEL_BINARY_NODE(Class, KindValue, Name)                                                  \
  class Class : public BinaryExprAstNode {                                                       \
   public:                                                                                       \
    using BinaryExprAstNode::BinaryExprAstNode;                                                  \
    Kind getType() const override { return KindValue; }                                          \
    bool evalValue(Parser* parser, Any& out) const override;                                     \
    bool evalInt(Parser* parser, int* out) const override;                                       \
    bool evalCond(Parser* parser, bool* out) const override;                                     \
                                                                                                 \
   protected:                                                                                    \
    const char* dumpName() const override { return Name; }                                       \
  };

KEL_BINARY_NODE(AddAstNode, ADD, "Add")
KEL_BINARY_NODE(MulAstNode, MUL, "Mul")
KEL_BINARY_NODE(ShiftAstNode, SHIFT, "Shift")
KEL_BINARY_NODE(CompareAstNode, COMPARE, "Compare")
KEL_BINARY_NODE(EqualsAstNode, EQUALS, "Equals")
KEL_BINARY_NODE(BitwiseAndAstNode, BITWISE_AND, "BitAnd")
KEL_BINARY_NODE(BitwiseXorAstNode, BITWISE_XOR, "BitXor")
KEL_BINARY_NODE(BitwiseOrAstNode, BITWISE_OR, "BitOr")
KEL_BINARY_NODE(LogicalAndAstNode, LOGICAL_AND, "And")
KEL_BINARY_NODE(LogicalOrAstNode, LOGICAL_OR, "Or")

#undef KEL_BINARY_NODE

class ConditionalExpressionAstNode : public ExprAstNode {
 public:
  ConditionalExpressionAstNode(const Location& location, ExprPtr condition, ExprPtr thenExpr, ExprPtr elseExpr);
  Kind getType() const override { return CONDITIONAL; }
  bool evalValue(Parser* parser, Any& out) const override;
  int evalRef(Parser* parser, Place& place, Any& value) const override;
  void dump(std::string& out, int indent) const override;
  [[nodiscard]] const ExprAstNode* condition() const { return condition_.get(); }
  [[nodiscard]] const ExprAstNode* thenExpr() const { return then_.get(); }
  [[nodiscard]] const ExprAstNode* elseExpr() const { return else_.get(); }

 private:
  ExprPtr condition_;
  ExprPtr then_;
  ExprPtr else_;
};

// target = value. For a compound operator the value is the operator node
// whose left operand is this node's target.
class AssignmentExprAstNode : public ExprAstNode {
 public:
  AssignmentExprAstNode(const Location& location, ExprPtr target, ExprPtr value);
  ~AssignmentExprAstNode() override;
  Kind getType() const override { return ASSIGNMENT_EXPR; }
  bool evalValue(Parser* parser, Any& out) const override;
  // Runs the assignment; the assigned value is copied into *result when
  // one is asked for.
  [[nodiscard]] bool assign(Parser* parser, Any* result) const;
  // The paths for targets other than a name of the interpreter's sets.
  [[nodiscard]] bool assignGeneral(Parser* parser, Any* result) const;
  void dump(std::string& out, int indent) const override;
  [[nodiscard]] const ExprAstNode* target() const { return target_.get(); }
  [[nodiscard]] const ExprAstNode* value() const { return value_.get(); }

 private:
  // Declared first so that it is destroyed last: the value may refer to it.
  ExprPtr target_;
  ExprPtr value_;
  bool targetIsName_ = false;
  bool valueIsCall_ = false;  // a call has no integer fast form
  // For name = value: the flat form of the value's integer fast form that
  // stores into the name, made on the first evaluation (null when the value
  // is too large for it).
  mutable bool programMade_ = false;
  mutable std::unique_ptr<IntProgram> program_;
};
