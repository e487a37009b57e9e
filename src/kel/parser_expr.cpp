// The expression grammar of the parser, from assignment (loosest) down to
// primary expressions. Multi-character operators are recognised here from
// the single punctuation tokens of the lexer.
#include "kel/ast/expr_nodes.h"
#include "kel/ast/stmt_nodes.h"
#include "kel/function.h"
#include "kel/parser.h"
#include "kel/parser_internal.h"

using ExprList = std::vector<std::unique_ptr<ExprAstNode>>;

std::unique_ptr<ExprAstNode> Parser::requireOperand(std::unique_ptr<ExprAstNode> node) {
  if (!node) fail("Primary expression expected");
  return node;
}

std::unique_ptr<ExprAstNode> Parser::parseAssignment() {
  DepthGuard guard(this);
  auto target = parseConditional();
  if (!target) return nullptr;
  Pos at = pos();
  if (cur_->isPunct('=') && !next_->isPunct('=')) {
    advance();
    auto value = requireOperand(parseAssignment());
    return (make<AssignmentExprAstNode>(at, std::move(target), std::move(value)));
  }
  // Compound assignment: a op= b is a = a op b, the operator node sharing
  // the target as its left operand.
  if (cur_->type == Token::PUNCT && next_->isPunct('=')) {
    int op = OP_NONE;
    switch (cur_->value.getInt32()) {
      case '+': op = OP_ADD; break;
      case '-': op = OP_SUB; break;
      case '*': op = OP_MUL; break;
      case '/': op = OP_DIV; break;
      case '%': op = OP_MOD; break;
      default: break;
    }
    if (op != OP_NONE) {
      advance();
      advance();
      auto right = requireOperand(parseAssignment());
      std::unique_ptr<ExprAstNode> value;
      if (op == OP_ADD || op == OP_SUB) {
        value = make<AddAstNode>(at, target.get(), std::move(right), op);
      } else {
        value = make<MulAstNode>(at, target.get(), std::move(right), op);
      }
      return (make<AssignmentExprAstNode>(at, std::move(target), std::move(value)));
    }
  }
  return target;
}

std::unique_ptr<ExprAstNode> Parser::parseConditional() {
  DepthGuard guard(this);
  auto condition = parseLogicalOr();
  if (!condition || !cur_->isPunct('?')) return condition;
  Pos at = pos();
  advance();
  auto thenExpr = requireOperand(parseConditional());
  expectPunct(':', "Expected ':' in conditional expression");
  auto elseExpr = requireOperand(parseAssignment());
  return make<ConditionalExpressionAstNode>(at, std::move(condition), std::move(thenExpr), std::move(elseExpr));
}

std::unique_ptr<ExprAstNode> Parser::parseLogicalOr() {
  auto left = parseLogicalAnd();
  while (left && cur_->isPunct('|') && next_->isPunct('|')) {
    Pos at = pos();
    advance();
    advance();
    left = (make<LogicalOrAstNode>(at, std::move(left), requireOperand(parseLogicalAnd()), OP_NONE));
  }
  return left;
}

std::unique_ptr<ExprAstNode> Parser::parseLogicalAnd() {
  auto left = parseBitwiseOr();
  while (left && cur_->isPunct('&') && next_->isPunct('&')) {
    Pos at = pos();
    advance();
    advance();
    left = (make<LogicalAndAstNode>(at, std::move(left), requireOperand(parseBitwiseOr()), OP_NONE));
  }
  return left;
}

std::unique_ptr<ExprAstNode> Parser::parseBitwiseOr() {
  auto left = parseBitwiseXor();
  while (left && cur_->isPunct('|') && !next_->isPunct('|')) {
    Pos at = pos();
    advance();
    left = (make<BitwiseOrAstNode>(at, std::move(left), requireOperand(parseBitwiseXor()), OP_BIT_OR));
  }
  return left;
}

std::unique_ptr<ExprAstNode> Parser::parseBitwiseXor() {
  auto left = parseBitwiseAnd();
  while (left && cur_->isPunct('^')) {
    Pos at = pos();
    advance();
    left = (make<BitwiseXorAstNode>(at, std::move(left), requireOperand(parseBitwiseAnd()), OP_BIT_XOR));
  }
  return left;
}

std::unique_ptr<ExprAstNode> Parser::parseBitwiseAnd() {
  auto left = parseEquality();
  while (left && cur_->isPunct('&') && !next_->isPunct('&')) {
    Pos at = pos();
    advance();
    left = (make<BitwiseAndAstNode>(at, std::move(left), requireOperand(parseEquality()), OP_BIT_AND));
  }
  return left;
}

std::unique_ptr<ExprAstNode> Parser::parseEquality() {
  auto left = parseRelational();
  while (left && (cur_->isPunct('=') || cur_->isPunct('!')) && next_->isPunct('=')) {
    Pos at = pos();
    bool negated = cur_->isPunct('!');
    bool strict = after_->isPunct('=');
    int op = strict ? (negated ? OP_STRICT_NE : OP_STRICT_EQ) : (negated ? OP_NE : OP_EQ);
    advance();
    advance();
    if (strict) advance();
    left = (make<EqualsAstNode>(at, std::move(left), requireOperand(parseRelational()), op));
  }
  return left;
}

std::unique_ptr<ExprAstNode> Parser::parseRelational() {
  if (cur_->type == Token::KEYWORD_TYPEOF) {
    // typeof binds looser than arithmetic: typeof a + b is typeof (a + b).
    DepthGuard guard(this);
    Pos at = pos();
    advance();
    auto operand = requireOperand(parseRelational());
    return (make<TypeofAstNode>(at, std::move(operand)));
  }
  auto left = parseShift();
  while (left) {
    int op;
    if (cur_->isPunct('<') && !next_->isPunct('<')) {
      op = next_->isPunct('=') ? OP_LE : OP_LT;
    } else if (cur_->isPunct('>') && !next_->isPunct('>')) {
      op = next_->isPunct('=') ? OP_GE : OP_GT;
    } else {
      break;
    }
    Pos at = pos();
    advance();
    if (op == OP_LE || op == OP_GE) advance();
    left = (make<CompareAstNode>(at, std::move(left), requireOperand(parseShift()), op));
  }
  return left;
}

std::unique_ptr<ExprAstNode> Parser::parseShift() {
  auto left = parseAdditive();
  while (left) {
    int op;
    if (cur_->isPunct('<') && next_->isPunct('<')) {
      op = OP_SHL;
    } else if (cur_->isPunct('>') && next_->isPunct('>')) {
      op = after_->isPunct('>') ? OP_USHR : OP_SHR;
    } else {
      break;
    }
    Pos at = pos();
    advance();
    advance();
    if (op == OP_USHR) advance();
    left = (make<ShiftAstNode>(at, std::move(left), requireOperand(parseAdditive()), op));
  }
  return left;
}

std::unique_ptr<ExprAstNode> Parser::parseAdditive() {
  auto left = parseMultiplicative();
  while (left && (cur_->isPunct('+') || cur_->isPunct('-')) && !next_->isPunct('=')) {
    Pos at = pos();
    int op = cur_->isPunct('+') ? OP_ADD : OP_SUB;
    advance();
    left = (make<AddAstNode>(at, std::move(left), requireOperand(parseMultiplicative()), op));
  }
  return left;
}

std::unique_ptr<ExprAstNode> Parser::parseMultiplicative() {
  auto left = parseUnary();
  while (left && (cur_->isPunct('*') || cur_->isPunct('/') || cur_->isPunct('%')) && !next_->isPunct('=')) {
    Pos at = pos();
    int op = cur_->isPunct('*') ? OP_MUL : cur_->isPunct('/') ? OP_DIV : OP_MOD;
    advance();
    left = (make<MulAstNode>(at, std::move(left), requireOperand(parseUnary()), op));
  }
  return left;
}

std::unique_ptr<ExprAstNode> Parser::parseUnary() {
  Pos at = pos();
  // ++ and -- are two adjacent characters; "+ +" is a plus that builds nothing.
  enum { kNone, kIncrement, kDecrement, kPlus, kMinus, kNot, kBitNot } prefix = kNone;
  if (cur_->isPunct('+') && next_->isPunct('+') && !next_->spaceBefore) {
    prefix = kIncrement;
  } else if (cur_->isPunct('-') && next_->isPunct('-') && !next_->spaceBefore) {
    prefix = kDecrement;
  } else if (cur_->isPunct('+')) {
    prefix = kPlus;
  } else if (cur_->isPunct('-')) {
    prefix = kMinus;
  } else if (cur_->isPunct('!')) {
    prefix = kNot;
  } else if (cur_->isPunct('~')) {
    prefix = kBitNot;
  }
  if (prefix == kIncrement || prefix == kDecrement) advance();
  if (prefix != kNone) advance();

  auto operand = parsePostfix();
  if (!operand) {
    if (prefix != kNone) fail("Primary expression expected");
    return nullptr;
  }
  if (cur_->isPunct('+') && next_->isPunct('+') && !next_->spaceBefore) {
    Pos post = pos();
    advance();
    advance();
    operand = (make<IncrementAstNode>(post, std::move(operand), 0));
  } else if (cur_->isPunct('-') && next_->isPunct('-') && !next_->spaceBefore) {
    Pos post = pos();
    advance();
    advance();
    operand = (make<DecrementAstNode>(post, std::move(operand), 0));
  }
  std::unique_ptr<ExprAstNode> node;
  switch (prefix) {
    case kNone:
    case kPlus: return operand;
    case kIncrement: node = make<IncrementAstNode>(at, std::move(operand), 1); break;
    case kDecrement: node = make<DecrementAstNode>(at, std::move(operand), 1); break;
    case kMinus: node = make<NegativeAstNode>(at, std::move(operand)); break;
    case kNot: node = make<BooleanNotAstNode>(at, std::move(operand)); break;
    case kBitNot: node = make<BitwiseNotAstNode>(at, std::move(operand)); break;
  }
  return checked(std::move(node));
}

std::unique_ptr<ExprAstNode> Parser::parsePostfix() {
  auto expr = cur_->type == Token::KEYWORD_NEW ? parseNew() : parsePrimary();
  if (!expr) return nullptr;
  bool first = true;
  for (;; first = false) {
    Pos at = pos();
    if (cur_->isPunct('.')) {
      if (!first && next_->type == Token::IDENT && after_->isPunct('(')) {
        // a.b.c(...): the method c called on a.b.
        std::string name = next_->textValue();
        advance();
        advance();
        auto args = parseArguments();
        auto call = make<FnCallAstNode>(at, std::move(expr), std::move(args));
        call->setMemberName(std::move(name));
        expr = checked<ExprAstNode>(std::move(call));
        continue;
      }
      advance();
      auto member = requireOperand(parsePrimary());
      expr = (make<MemberDerefAstNode>(at, std::move(expr), std::move(member)));
    } else if (cur_->isPunct('[')) {
      ExprList indexes;
      while (cur_->isPunct('[')) {
        advance();
        indexes.push_back(requireOperand(parseAssignment()));
        expectPunct(']', "']' expected");
      }
      expr = (make<ArrayDerefAstNode>(at, std::move(expr), std::move(indexes)));
    } else if (cur_->isPunct('(')) {
      auto args = parseArguments();
      expr = (make<FnCallAstNode>(at, std::move(expr), std::move(args)));
    } else {
      return expr;
    }
  }
}

std::unique_ptr<ExprAstNode> Parser::parseNew() {
  Pos at = pos();
  advance();
  if (cur_->type != Token::IDENT) fail("Expected class name after 'new'");
  std::string className = cur_->textValue();
  advance();
  while (cur_->isPunct('.') && next_->type == Token::IDENT) {
    className += '.';
    className += next_->textValue();
    advance();
    advance();
  }
  if (!cur_->isPunct('(')) fail("Expected '(' after 'new <className>'");
  auto call = make<FnCallAstNode>(at, nullptr, parseArguments());
  call->setNew(std::move(className));
  return checked<ExprAstNode>(std::move(call));
}

ExprList Parser::parseArguments() {
  ExprList args;
  advance();  // the opening parenthesis
  if (cur_->isPunct(')')) {
    advance();
    return args;
  }
  for (;;) {
    auto arg = parseAssignment();
    if (!arg) fail("Expected ')' after arguments");
    args.push_back(std::move(arg));
    if (cur_->isPunct(',')) {
      advance();
    } else if (cur_->isPunct(')')) {
      advance();
      return args;
    } else {
      fail("Expected ')' after arguments");
    }
  }
}

std::unique_ptr<ExprAstNode> Parser::parsePrimary() {
  Pos at = pos();
  switch (cur_->type) {
    case Token::LITERAL_NULL:
    case Token::LITERAL_UNDEFINED:
    case Token::DOUBLE:
    case Token::FLOAT:
    case Token::INTEGER:
    case Token::LONG_INTEGER:
    case Token::BOOL:
    case Token::STRING:
    case Token::REGEX: {
      auto node = make<LiteralAstNode>(at, *cur_);
      advance();
      return node;
    }
    case Token::IDENT: {
      auto node = make<IdentAstNode>(at, cur_->textValue());
      advance();
      return node;
    }
    case Token::KEYWORD_FUNCTION: {
      advance();
      auto* function = new Function();
      ObjRef keep(function);  // owns the function while its body is read
      function->setLocation(locate(at));
      parseFunctionRest(function);
      return (make<ObjectAstNode>(at, function));
    }
    case Token::PUNCT:
      if (cur_->isPunct('(')) {
        advance();
        auto inner = requireOperand(parseAssignment());
        expectPunct(')', "Expected ')'");
        return inner;
      }
      if (cur_->isPunct('{')) return parseObjectLiteral();
      if (cur_->isPunct('[')) return parseArrayLiteral();
      return nullptr;
    default:
      return nullptr;
  }
}

std::unique_ptr<ExprAstNode> Parser::parseObjectLiteral() {
  Pos at = pos();
  expectPunct('{', "Expected '{' to start object");
  auto node = make<ObjectFactoryAstNode>(at, ObjectFactoryAstNode::kObject);
  if (cur_->isPunct('}')) {
    advance();
    return node;
  }
  for (;;) {
    if (cur_->type != Token::STRING) fail("Member name as quoted string expected in object");
    std::string name = cur_->textValue();
    advance();
    expectPunct(':', "Expected ':' between member name and value");
    auto value = parseAssignment();
    if (!value) fail("Expected primary expression in object creation");
    node->addMember(std::move(name), std::move(value));
    if (cur_->isPunct(',')) {
      advance();
    } else if (cur_->isPunct('}')) {
      advance();
      return checked<ExprAstNode>(std::move(node));
    } else {
      fail("Expected '}' to end object. Were there too many commas?");
    }
  }
}

std::unique_ptr<ExprAstNode> Parser::parseArrayLiteral() {
  Pos at = pos();
  expectPunct('[', "Expected '[' to start array");
  auto node = make<ObjectFactoryAstNode>(at, ObjectFactoryAstNode::kArray);
  if (cur_->isPunct(']')) {
    advance();
    return node;
  }
  for (;;) {
    auto value = parseAssignment();
    if (!value) fail("Expected primary expression in array creation");
    node->addElement(std::move(value));
    if (cur_->isPunct(',')) {
      advance();
    } else if (cur_->isPunct(']')) {
      advance();
      return checked<ExprAstNode>(std::move(node));
    } else {
      fail("Expected ']' to end array. Were there too many or too few commas?");
    }
  }
}

void Parser::parseFunctionRest(Function* function) {
  expectPunct('(', "Argument list starting with '(' expected after 'function <functionName>'");
  if (!cur_->isPunct(')')) {
    if (cur_->type != Token::IDENT) fail("variable name expected after 'function <functionName> ('");
    function->addArgument(cur_->textValue());
    advance();
    while (cur_->isPunct(',')) {
      advance();
      if (cur_->type != Token::IDENT) fail("variable name expected in argument list");
      function->addArgument(cur_->textValue());
      advance();
    }
  }
  expectPunct(')', "Expected ')' after arguments");
  Pos bodyAt = pos();
  expectPunct('{', "Expected '{' to start body of function after arguments");
  auto body = make<StmtListAstNode>(bodyAt, 0);
  parseStatements(body.get());
  expectPunct('}', "Expected '}' to terminate body of function");
  function->setBody(checked(std::move(body)));
}
