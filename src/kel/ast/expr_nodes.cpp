#include "kel/ast/expr_nodes.h"
#include "kel/ast/stmt_nodes.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "kel/function.h"
#include "kel/int_program.h"
#include "kel/veskpattern.h"

const char* opCodeText(int op) {
  switch (op) {
    case OP_ADD: return "+";
    case OP_SUB: return "-";
    case OP_MUL: return "*";
    case OP_DIV: return "/";
    case OP_MOD: return "%";
    case OP_LT: return "<";
    case OP_LE: return "<=";
    case OP_GT: return ">";
    case OP_GE: return ">=";
    case OP_SHL: return "<<";
    case OP_SHR: return ">>";
    case OP_USHR: return ">>>";
    case OP_EQ: return "==";
    case OP_NE: return "!=";
    case OP_STRICT_EQ: return "===";
    case OP_STRICT_NE: return "!==";
    case OP_BIT_AND: return "&";
    case OP_BIT_OR: return "|";
    case OP_BIT_XOR: return "^";
    default: return "?";
  }
}

namespace {

void appendDouble(double v, std::string& out) {
  if (std::isnan(v)) {
    out += "NaN";
    return;
  }
  if (std::isinf(v)) {
    out += v < 0 ? "-Infinity" : "Infinity";
    return;
  }
  char buffer[64];
  auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, v);
  std::string text(buffer, ec == std::errc() ? end : buffer);
  if (text.find_first_of(".eEn") == std::string::npos) text += ".0";
  out += text;
}

}  // namespace

// ---- LiteralAstNode

LiteralAstNode::LiteralAstNode(const Location& location, Token& token) : ExprAstNode(location) {
  token_.moveTo(token);
}

void LiteralAstNode::dump(std::string& out, int indent) const {
  out += "(Literal ";
  const Any& v = token_.value;
  switch (token_.type) {
    case Token::INTEGER: out += std::to_string(v.getInt32()); break;
    case Token::LONG_INTEGER: out += std::to_string(v.getInt64()) + "L"; break;
    case Token::DOUBLE: appendDouble(v.getDouble(), out); break;
    case Token::FLOAT: appendDouble(static_cast<double>(v.getFloat()), out); out += "F"; break;
    case Token::BOOL: out += v.getBool() ? "true" : "false"; break;
    case Token::STRING: dumpQuoted(token_.textValue(), out); break;
    case Token::LITERAL_NULL: out += "null"; break;
    case Token::LITERAL_UNDEFINED: out += "undefined"; break;
    case Token::REGEX:
      if (auto* p = dynamic_cast<const VeskPattern*>(v.getRefTarget())) out += p->toText();
      break;
    default: out += "?"; break;
  }
  out += ')';
}

// ---- IdentAstNode, ObjectAstNode

void IdentAstNode::dump(std::string& out, int indent) const { out += "(Ident " + name_ + ")"; }

ObjectAstNode::ObjectAstNode(const Location& location, Function* function)
    : ExprAstNode(location), object_(function) {
  raiseHeight(function->body());
}

ObjectAstNode::~ObjectAstNode() = default;

Function* ObjectAstNode::function() const { return static_cast<Function*>(object_.getTarget()); }

void ObjectAstNode::dump(std::string& out, int indent) const {
  const Function* f = function();
  out += "(Function ";
  out += f->displayName();
  out += " (";
  for (size_t i = 0; i < f->parameters().size(); ++i) {
    if (i > 0) out += ' ';
    out += f->parameters()[i];
  }
  out += ')';
  if (f->body() != nullptr) f->body()->dump(out, indent + 1);
  out += ')';
}

// ---- ObjectFactoryAstNode

void ObjectFactoryAstNode::addMember(std::string name, ExprPtr value) {
  setHeight(std::max(height(), heightOf(value.get()) + 1));
  members_.push_back(Member{true, std::move(name), std::move(value)});
}

void ObjectFactoryAstNode::addElement(ExprPtr value) {
  setHeight(std::max(height(), heightOf(value.get()) + 1));
  members_.push_back(Member{false, {}, std::move(value)});
}

void ObjectFactoryAstNode::dump(std::string& out, int indent) const {
  out += kind_ == kObject ? "(Object" : "(Array";
  for (const Member& m : members_) {
    out += ' ';
    if (m.hasName) {
      dumpQuoted(m.name, out);
      out += ':';
    }
    dumpExpr(m.value.get(), out, indent);
  }
  out += ')';
}

// ---- member, index and call

MemberDerefAstNode::MemberDerefAstNode(const Location& location, ExprPtr object, ExprPtr member)
    : ExprAstNode(location), object_(std::move(object)), member_(std::move(member)) {
  setHeight(std::max(heightOf(object_.get()), heightOf(member_.get())) + 1);
}

void MemberDerefAstNode::dump(std::string& out, int indent) const {
  out += "(Member ";
  dumpExpr(object_.get(), out, indent);
  out += ' ';
  dumpExpr(member_.get(), out, indent);
  out += ')';
}

ArrayDerefAstNode::ArrayDerefAstNode(const Location& location, ExprPtr object, std::vector<ExprPtr> indexes)
    : ExprAstNode(location), object_(std::move(object)), indexes_(std::move(indexes)) {
  int h = heightOf(object_.get());
  for (const ExprPtr& i : indexes_) h = std::max(h, heightOf(i.get()));
  setHeight(h + 1);
}

void ArrayDerefAstNode::dump(std::string& out, int indent) const {
  out += "(Index ";
  dumpExpr(object_.get(), out, indent);
  for (const ExprPtr& i : indexes_) {
    out += ' ';
    dumpExpr(i.get(), out, indent);
  }
  out += ')';
}

FnCallAstNode::FnCallAstNode(const Location& location, ExprPtr target, std::vector<ExprPtr> args)
    : ExprAstNode(location), target_(std::move(target)), args_(std::move(args)) {
  calleeIsName_ = target_ != nullptr && target_->getType() == IDENT;
  int h = heightOf(target_.get());
  for (const ExprPtr& a : args_) h = std::max(h, heightOf(a.get()));
  setHeight(h + 1);
}

void FnCallAstNode::dump(std::string& out, int indent) const {
  if (isNew_) {
    out += "(New " + className_;
  } else if (hasMemberName_) {
    out += "(MethodCall " + memberName_ + " ";
    dumpExpr(target_.get(), out, indent);
  } else {
    out += "(Call ";
    dumpExpr(target_.get(), out, indent);
  }
  for (const ExprPtr& a : args_) {
    out += ' ';
    dumpExpr(a.get(), out, indent);
  }
  out += ')';
}

// ---- unary

UnaryExprAstNode::UnaryExprAstNode(const Location& location, ExprPtr operand)
    : ExprAstNode(location), operand_(std::move(operand)) {
  setHeight(heightOf(operand_.get()) + 1);
}

void UnaryExprAstNode::dump(std::string& out, int indent) const {
  out += '(';
  out += dumpName();
  out += ' ';
  dumpExpr(operand_.get(), out, indent);
  out += ')';
}

void IncDecAstNode::dump(std::string& out, int indent) const {
  out += '(';
  out += dumpName();
  out += prefix_ ? " prefix " : " postfix ";
  dumpExpr(operand(), out, indent);
  out += ')';
}

// ---- binary

BinaryExprAstNode::BinaryExprAstNode(const Location& location, ExprPtr left, ExprPtr right, int op)
    : ExprAstNode(location), ownedLeft_(std::move(left)), left_(ownedLeft_.get()), right_(std::move(right)), op_(op) {
  setHeight(std::max(heightOf(left_), heightOf(right_.get())) + 1);
}

BinaryExprAstNode::BinaryExprAstNode(const Location& location, const ExprAstNode* sharedLeft, ExprPtr right, int op)
    : ExprAstNode(location), left_(sharedLeft), right_(std::move(right)), op_(op) {
  setHeight(std::max(heightOf(left_), heightOf(right_.get())) + 1);
}

BinaryExprAstNode::~BinaryExprAstNode() = default;

void BinaryExprAstNode::setProgram(std::unique_ptr<IntProgram> program) const {
  program_ = std::move(program);
  programMade_ = true;
}

void BinaryExprAstNode::dump(std::string& out, int indent) const {
  out += '(';
  out += dumpName();
  if (op_ != OP_NONE) {
    out += ' ';
    out += opCodeText(op_);
  }
  out += ' ';
  dumpExpr(left_, out, indent);
  out += ' ';
  dumpExpr(right_.get(), out, indent);
  out += ')';
}

// ---- conditional and assignment

ConditionalExpressionAstNode::ConditionalExpressionAstNode(const Location& location, ExprPtr condition,
                                                           ExprPtr thenExpr, ExprPtr elseExpr)
    : ExprAstNode(location), condition_(std::move(condition)), then_(std::move(thenExpr)), else_(std::move(elseExpr)) {
  setHeight(std::max({heightOf(condition_.get()), heightOf(then_.get()), heightOf(else_.get())}) + 1);
}

void ConditionalExpressionAstNode::dump(std::string& out, int indent) const {
  out += "(Conditional ";
  dumpExpr(condition_.get(), out, indent);
  out += ' ';
  dumpExpr(then_.get(), out, indent);
  out += ' ';
  dumpExpr(else_.get(), out, indent);
  out += ')';
}

AssignmentExprAstNode::AssignmentExprAstNode(const Location& location, ExprPtr target, ExprPtr value)
    : ExprAstNode(location), target_(std::move(target)), value_(std::move(value)) {
  targetIsName_ = target_ != nullptr && target_->getType() == IDENT;
  valueIsCall_ = value_ != nullptr && value_->getType() == FN_CALL;
  setHeight(std::max(heightOf(target_.get()), heightOf(value_.get())) + 1);
}

AssignmentExprAstNode::~AssignmentExprAstNode() = default;

void AssignmentExprAstNode::dump(std::string& out, int indent) const {
  out += "(Assign ";
  dumpExpr(target_.get(), out, indent);
  out += ' ';
  dumpExpr(value_.get(), out, indent);
  out += ')';
}
