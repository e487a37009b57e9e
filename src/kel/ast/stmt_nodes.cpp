#include "kel/ast/stmt_nodes.h"

#include <cstdlib>

#include "kel/int_program.h"
#include "kel/token.h"

// ---- OutputStmt, LabelList

void OutputStmt::dump(std::string& out, int indent) const {
  newLine(out, indent);
  out += "(Output ";
  dumpQuoted(text_, out);
  if (expression_) {
    out += ' ';
    dumpExpr(expression_.get(), out, indent);
  }
  out += ')';
}

void LabelList::dump(std::string& out) const {
  for (const std::unique_ptr<Any>& v : values_) {
    out += " case ";
    if (v->isString()) {
      dumpQuoted(v->getString() != nullptr ? v->getString() : "", out);
      continue;
    }
    char* text = v->toString(nullptr);
    out += text != nullptr ? text : "?";
    if (v->getType() == ANY_INT64) out += 'L';
    std::free(text);
  }
}

// ---- simple statements

AssignmentStmtAstNode::AssignmentStmtAstNode(const Location& location, ExprPtr expression)
    : StmtAstNode(location), expression_(std::move(expression)) {
  raiseHeight(expression_.get());
  isAssignment_ = expression_ != nullptr && expression_->getType() == ASSIGNMENT_EXPR;
}

void AssignmentStmtAstNode::dump(std::string& out, int indent) const {
  dumpLeading(out, indent);
  newLine(out, indent);
  out += "(Expr ";
  dumpExpr(expression_.get(), out, indent);
  out += ')';
}

LetOrVarAstNode::LetOrVarAstNode(const Location& location, std::string name, ExprPtr value, DeclKind kind)
    : StmtAstNode(location), name_(std::move(name)), value_(std::move(value)), kind_(kind) {
  raiseHeight(value_.get());
}

void LetOrVarAstNode::dump(std::string& out, int indent) const {
  dumpLeading(out, indent);
  newLine(out, indent);
  out += kind_ == kLet ? "(Let " : "(Var ";
  out += name_;
  if (value_) {
    out += ' ';
    dumpExpr(value_.get(), out, indent);
  }
  out += ')';
}

void FlowStmtAstNode::dump(std::string& out, int indent) const {
  dumpLeading(out, indent);
  newLine(out, indent);
  out += tokenKind_ == Token::KEYWORD_BREAK ? "(Break)" : "(Continue)";
}

ReturnStmtAstNode::ReturnStmtAstNode(const Location& location, ExprPtr value)
    : StmtAstNode(location), value_(std::move(value)) {
  raiseHeight(value_.get());
}

void ReturnStmtAstNode::dump(std::string& out, int indent) const {
  dumpLeading(out, indent);
  newLine(out, indent);
  out += "(Return ";
  dumpExpr(value_.get(), out, indent);
  out += ')';
}

// ---- StmtListAstNode

void StmtListAstNode::add(StmtPtr statement, std::unique_ptr<LabelList> labels, bool isDefault) {
  raiseHeight(statement.get());
  entries_.push_back(Entry{std::move(statement), std::move(labels), isDefault});
}

void StmtListAstNode::dump(std::string& out, int indent) const {
  dumpLeading(out, indent);
  newLine(out, indent);
  out += "(List scope=" + std::to_string(scopeKind_);
  for (const Entry& e : entries_) {
    if ((e.labels && !e.labels->empty()) || e.isDefault) {
      newLine(out, indent + 1);
      out += "(Labels";
      if (e.labels) e.labels->dump(out);
      if (e.isDefault) out += " default";
      out += ')';
    }
    e.statement->dump(out, indent + 1);
  }
  out += ')';
}

// ---- control statements

void IfStmtAstNode::addBranch(ExprPtr condition, StmtPtr statement) {
  raiseHeight(condition.get());
  raiseHeight(statement.get());
  branches_.push_back(StmtHelperEntry{std::move(condition), std::move(statement)});
}

void IfStmtAstNode::dump(std::string& out, int indent) const {
  dumpLeading(out, indent);
  newLine(out, indent);
  out += "(If";
  for (const StmtHelperEntry& b : branches_) {
    newLine(out, indent + 1);
    if (b.condition) {
      out += "(When ";
      dumpExpr(b.condition.get(), out, indent);
    } else {
      out += "(Else";
    }
    b.statement->dump(out, indent + 2);
    out += ')';
  }
  out += ')';
}

WhileStmtAstNode::WhileStmtAstNode(const Location& location, ExprPtr condition, StmtPtr body)
    : StmtAstNode(location), condition_(std::move(condition)), body_(std::move(body)) {
  raiseHeight(condition_.get());
  raiseHeight(body_.get());
}

WhileStmtAstNode::~WhileStmtAstNode() = default;

void WhileStmtAstNode::dump(std::string& out, int indent) const {
  dumpLeading(out, indent);
  newLine(out, indent);
  out += "(While ";
  dumpExpr(condition_.get(), out, indent);
  body_->dump(out, indent + 1);
  out += ')';
}

DoWhileStmtAstNode::DoWhileStmtAstNode(const Location& location, ExprPtr condition, StmtPtr body)
    : StmtAstNode(location), condition_(std::move(condition)), body_(std::move(body)) {
  raiseHeight(condition_.get());
  raiseHeight(body_.get());
}

void DoWhileStmtAstNode::dump(std::string& out, int indent) const {
  dumpLeading(out, indent);
  newLine(out, indent);
  out += "(DoWhile ";
  dumpExpr(condition_.get(), out, indent);
  body_->dump(out, indent + 1);
  out += ')';
}

ForStmtAstNode::ForStmtAstNode(const Location& location, StmtPtr initial, ExprPtr condition, ExprPtr final,
                               StmtPtr body)
    : StmtAstNode(location),
      initial_(std::move(initial)),
      condition_(std::move(condition)),
      final_(std::move(final)),
      body_(std::move(body)) {
  raiseHeight(initial_.get());
  raiseHeight(condition_.get());
  raiseHeight(final_.get());
  raiseHeight(body_.get());
}

ForStmtAstNode::~ForStmtAstNode() = default;

void ForStmtAstNode::dump(std::string& out, int indent) const {
  dumpLeading(out, indent);
  newLine(out, indent);
  out += "(For ";
  dumpExpr(condition_.get(), out, indent);
  out += ' ';
  dumpExpr(final_.get(), out, indent);
  initial_->dump(out, indent + 1);
  body_->dump(out, indent + 1);
  out += ')';
}

SwitchStmtAstNode::SwitchStmtAstNode(const Location& location, ExprPtr selector,
                                     std::unique_ptr<StmtListAstNode> body)
    : StmtAstNode(location), selector_(std::move(selector)), body_(std::move(body)) {
  raiseHeight(selector_.get());
  raiseHeight(body_.get());
}

void SwitchStmtAstNode::dump(std::string& out, int indent) const {
  dumpLeading(out, indent);
  newLine(out, indent);
  out += "(Switch ";
  dumpExpr(selector_.get(), out, indent);
  body_->dump(out, indent + 1);
  out += ')';
}
