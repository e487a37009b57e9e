// The statement nodes of the kel syntax tree: expression statements,
// declarations, statement lists (blocks, scripts, switch bodies) with their
// case labels, conditionals, loops, switch, flow statements, return, and the
// template output of scriptlets. Built by the parser; read-only afterwards.
// Not synchronised.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "kel/ast/ast_node.h"
#include "kel/ast/expr_nodes.h"
#include "model/any.h"

class IntProgram;
class VarSet;

// Template text, and in an expression section (<? ... ?>) the expression
// whose value is written after it.
class OutputStmt : public StmtAstNode {
 public:
  OutputStmt(const Location& location, std::string text) : StmtAstNode(location), text_(std::move(text)) {}
  Kind getType() const override { return OUTPUT_STMT; }
  int execute(Parser* parser) const override;
  void dump(std::string& out, int indent) const override;
  void setExpression(ExprPtr expression) {
    raiseHeight(expression.get());
    expression_ = std::move(expression);
  }
  [[nodiscard]] const std::string& text() const { return text_; }
  [[nodiscard]] const ExprAstNode* expression() const { return expression_.get(); }

 private:
  std::string text_;
  ExprPtr expression_;
};

// The literal values of the case labels that precede one statement.
class LabelList {
 public:
  void add(std::unique_ptr<Any> value) { values_.push_back(std::move(value)); }
  [[nodiscard]] const std::vector<std::unique_ptr<Any>>& values() const { return values_; }
  [[nodiscard]] bool empty() const { return values_.empty(); }
  void dump(std::string& out) const;

 private:
  std::vector<std::unique_ptr<Any>> values_;
};

// An expression used as a statement.
class AssignmentStmtAstNode : public StmtAstNode {
 public:
  AssignmentStmtAstNode(const Location& location, ExprPtr expression);
  Kind getType() const override { return ASSIGNMENT_STMT; }
  int execute(Parser* parser) const override;
  void dump(std::string& out, int indent) const override;
  [[nodiscard]] const ExprAstNode* expression() const { return expression_.get(); }
  // A function statement: the function is defined under its name in the
  // nearest function scope (as `var` does) instead of assigned, since an
  // assignment never creates a variable.
  void setDeclaresFunction() { declaresFunction_ = true; }
  [[nodiscard]] bool declaresFunction() const { return declaresFunction_; }

 private:
  ExprPtr expression_;
  bool declaresFunction_ = false;
  bool isAssignment_ = false;  // the expression is an AssignmentExprAstNode
};

// One declared variable: `let` (kind 1) or `var` (kind 2), with its initial
// value or none.
class LetOrVarAstNode : public StmtAstNode {
 public:
  enum DeclKind : int { kLet = 1, kVar = 2 };
  LetOrVarAstNode(const Location& location, std::string name, ExprPtr value, DeclKind kind);
  Kind getType() const override { return LET_OR_VAR; }
  int execute(Parser* parser) const override;
  void dump(std::string& out, int indent) const override;
  [[nodiscard]] const std::string& name() const { return name_; }
  [[nodiscard]] const ExprAstNode* value() const { return value_.get(); }
  [[nodiscard]] DeclKind kind() const { return kind_; }
  // Defines the name with `value` (moved) in the frame entry where the
  // last definition landed, when the scope it defines in is a frame of
  // the same function (the next call): true then, as execute() would have
  // defined it after evaluating `value`. False, changing nothing, when it
  // cannot (no such frame, tracing, a read-only set).
  [[nodiscard]] bool defineInFrame(Parser* parser, Any& value) const;
  // The same with a 32-bit integer of subtype `subtype`.
  [[nodiscard]] bool defineIntInFrame(Parser* parser, int value, int subtype) const;

 private:
  [[nodiscard]] VarSet* definingSet(Parser* parser) const;
  // definingSet when it is a frame of the key the last definition landed
  // in and nothing is traced, else null.
  [[nodiscard]] VarSet* frameSet(Parser* parser) const;

  std::string name_;
  ExprPtr value_;
  DeclKind kind_;
  // Where the last definition landed when it was a frame entry of a
  // function's call scope (VarSet::makeFrame): the next call's scope has
  // the same entry at the same index.
  mutable uint64_t frameKey_ = 0;
  mutable int frameIndex_ = 0;
};

// A block (scope kind 1), a script or function body, a switch body or the
// declarators of one declaration (scope kind 0). Each entry may carry the
// case labels that precede it and a default mark.
class StmtListAstNode : public StmtAstNode {
 public:
  struct Entry {
    StmtPtr statement;
    std::unique_ptr<LabelList> labels;
    bool isDefault = false;
  };
  StmtListAstNode(const Location& location, int scopeKind) : StmtAstNode(location), scopeKind_(scopeKind) {}
  Kind getType() const override { return STMT_LIST; }
  int execute(Parser* parser) const override;
  void dump(std::string& out, int indent) const override;
  void add(StmtPtr statement, std::unique_ptr<LabelList> labels = nullptr, bool isDefault = false);
  [[nodiscard]] int scopeKind() const { return scopeKind_; }
  [[nodiscard]] const std::vector<Entry>& entries() const { return entries_; }
  // Runs the entries from `start` in the current scope (no scope pushed).
  [[nodiscard]] int runEntries(Parser* parser, size_t start) const;

 private:
  int scopeKind_;
  std::vector<Entry> entries_;
};

// if / else if / else: one entry per branch; the final else has no condition.
class IfStmtAstNode : public StmtAstNode {
 public:
  struct StmtHelperEntry {
    ExprPtr condition;
    StmtPtr statement;
  };
  using StmtAstNode::StmtAstNode;
  Kind getType() const override { return IF_STMT; }
  int execute(Parser* parser) const override;
  void dump(std::string& out, int indent) const override;
  void addBranch(ExprPtr condition, StmtPtr statement);
  [[nodiscard]] const std::vector<StmtHelperEntry>& branches() const { return branches_; }

 private:
  std::vector<StmtHelperEntry> branches_;
};

class WhileStmtAstNode : public StmtAstNode {
 public:
  WhileStmtAstNode(const Location& location, ExprPtr condition, StmtPtr body);
  ~WhileStmtAstNode() override;
  Kind getType() const override { return WHILE_STMT; }
  int execute(Parser* parser) const override;
  void dump(std::string& out, int indent) const override;
  [[nodiscard]] const ExprAstNode* condition() const { return condition_.get(); }
  [[nodiscard]] const StmtAstNode* body() const { return body_.get(); }

 private:
  ExprPtr condition_;
  StmtPtr body_;
  // The loop's flat form (int_program.h), made on the first execution
  // (null when the loop has none).
  mutable bool programMade_ = false;
  mutable std::unique_ptr<IntProgram> program_;
};

class DoWhileStmtAstNode : public StmtAstNode {
 public:
  DoWhileStmtAstNode(const Location& location, ExprPtr condition, StmtPtr body);
  Kind getType() const override { return DO_WHILE_STMT; }
  int execute(Parser* parser) const override;
  void dump(std::string& out, int indent) const override;
  [[nodiscard]] const ExprAstNode* condition() const { return condition_.get(); }
  [[nodiscard]] const StmtAstNode* body() const { return body_.get(); }

 private:
  ExprPtr condition_;
  StmtPtr body_;
};

class ForStmtAstNode : public StmtAstNode {
 public:
  ForStmtAstNode(const Location& location, StmtPtr initial, ExprPtr condition, ExprPtr final, StmtPtr body);
  ~ForStmtAstNode() override;
  Kind getType() const override { return FOR_STMT; }
  int execute(Parser* parser) const override;
  void dump(std::string& out, int indent) const override;
  [[nodiscard]] const StmtAstNode* initial() const { return initial_.get(); }
  [[nodiscard]] const ExprAstNode* condition() const { return condition_.get(); }
  [[nodiscard]] const ExprAstNode* finalExpr() const { return final_.get(); }
  [[nodiscard]] const StmtAstNode* body() const { return body_.get(); }

 private:
  StmtPtr initial_;
  ExprPtr condition_;
  ExprPtr final_;
  StmtPtr body_;
  // The loop's flat form (int_program.h), made on the first execution
  // (null when the loop has none).
  mutable bool programMade_ = false;
  mutable std::unique_ptr<IntProgram> program_;
};

class SwitchStmtAstNode : public StmtAstNode {
 public:
  SwitchStmtAstNode(const Location& location, ExprPtr selector, std::unique_ptr<StmtListAstNode> body);
  Kind getType() const override { return SWITCH_STMT; }
  int execute(Parser* parser) const override;
  void dump(std::string& out, int indent) const override;
  [[nodiscard]] const ExprAstNode* selector() const { return selector_.get(); }
  [[nodiscard]] const StmtListAstNode* body() const { return body_.get(); }

 private:
  ExprPtr selector_;
  std::unique_ptr<StmtListAstNode> body_;
};

// break (token kind 10) or continue (13).
class FlowStmtAstNode : public StmtAstNode {
 public:
  FlowStmtAstNode(const Location& location, int tokenKind) : StmtAstNode(location), tokenKind_(tokenKind) {}
  Kind getType() const override { return FLOW_STMT; }
  int execute(Parser* parser) const override;
  void dump(std::string& out, int indent) const override;
  [[nodiscard]] int tokenKind() const { return tokenKind_; }

 private:
  int tokenKind_;
};

class ReturnStmtAstNode : public StmtAstNode {
 public:
  ReturnStmtAstNode(const Location& location, ExprPtr value);
  Kind getType() const override { return RETURN_STMT; }
  int execute(Parser* parser) const override;
  void dump(std::string& out, int indent) const override;
  [[nodiscard]] const ExprAstNode* value() const { return value_.get(); }

 private:
  ExprPtr value_;
};
