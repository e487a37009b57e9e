// The statement grammar of the parser: statement sequences with their case
// labels and scriptlet template text, and every statement kind.
#include "kel/ast/expr_nodes.h"
#include "kel/ast/stmt_nodes.h"
#include "kel/function.h"
#include "kel/parser.h"
#include "kel/parser_internal.h"

bool Parser::parse() {
  return guarded([this] {
    auto expression = parseAssignment();
    if (!expression) fail("Primary expression expected");
    if (cur_->type != Token::END) fail("Unexpected input at end");
    expressionTree_ = std::move(expression);
  });
}

bool Parser::parseScript() {
  return guarded([this] {
    auto list = std::make_unique<StmtListAstNode>(here(), 0);
    parseStatements(list.get());
    if (cur_->type != Token::END) fail("Unexpected input at end");
    scriptTree_ = checked(std::move(list));
  });
}

bool Parser::parseScriptlet() { return parseScript(); }

std::unique_ptr<OutputStmt> Parser::takeTemplateText() {
  auto output = std::make_unique<OutputStmt>(here(), std::move(*cur_->text));
  cur_->text.reset();
  return output;
}

void Parser::parseStatements(StmtListAstNode* list) {
  std::unique_ptr<LabelList> labels;
  bool isDefault = false;
  std::unique_ptr<OutputStmt> leading;
  auto add = [&](std::unique_ptr<StmtAstNode> statement) {
    list->add(std::move(statement), std::move(labels), isDefault);
    labels.reset();
    isDefault = false;
  };
  for (;;) {
    bool atEnd = cur_->type == Token::END || cur_->isPunct('}');
    if (cur_->text) {
      if (leading) add(std::move(leading));
      bool expressionSection = cur_->expressionSection;
      auto output = takeTemplateText();
      if (expressionSection && !atEnd) {
        // <? expression ?>: the text, then the expression's value.
        DepthGuard guard(this);
        output->setExpression(requireOperand(parseAssignment()));
        if (cur_->isPunct(';') && !cur_->text) advance();  // <? name; ?> reads as <? name ?>
        add(checked(std::move(output)));
      } else {
        leading = std::move(output);
      }
      continue;
    }
    if (atEnd) {
      // Template text still pending ends the sequence; labels with no
      // statement after them are dropped.
      if (leading) add(std::move(leading));
      return;
    }
    if (cur_->type == Token::KEYWORD_CASE || cur_->type == Token::KEYWORD_DEFAULT) {
      auto more = parseCaseLabels(&isDefault);
      if (!labels) {
        labels = std::move(more);
      } else {
        for (const auto& v : more->values()) labels->add(std::make_unique<Any>(*v));
      }
      continue;
    }
    auto statement = parseStatement();
    if (leading) statement->setLeadingOutput(std::move(leading));
    add(checked(std::move(statement)));
  }
}

std::unique_ptr<LabelList> Parser::parseCaseLabels(bool* isDefault) {
  auto labels = std::make_unique<LabelList>();
  while (!cur_->text) {
    if (cur_->type == Token::KEYWORD_DEFAULT) {
      advance();
      expectPunct(':', "Expected ':' after 'default'");
      *isDefault = true;
      continue;
    }
    if (cur_->type != Token::KEYWORD_CASE) break;
    advance();
    bool negative = false;
    if (cur_->isPunct('-')) {
      negative = true;
      advance();
    }
    switch (cur_->type) {
      case Token::INTEGER:
      case Token::LONG_INTEGER:
      case Token::DOUBLE:
      case Token::FLOAT: {
        auto value = std::make_unique<Any>(cur_->value);
        if (negative) value->setSign(-1);
        labels->add(std::move(value));
        break;
      }
      case Token::STRING:
      case Token::BOOL:
      case Token::LITERAL_NULL:
        if (negative) fail("Expected literal value after 'case'");
        labels->add(std::make_unique<Any>(cur_->value));
        break;
      default:
        fail("Expected literal value after 'case'");
    }
    advance();
    expectPunct(':', "Expected ':' after 'case' <literal>");
  }
  return labels;
}

std::unique_ptr<StmtAstNode> Parser::parseStatement() {
  DepthGuard guard(this);
  std::unique_ptr<StmtAstNode> statement;
  switch (cur_->type) {
    case Token::PUNCT:
      statement = cur_->isPunct('{') ? parseBlock() : parseExpressionStatement();
      break;
    case Token::KEYWORD_VAR:
    case Token::KEYWORD_LET: statement = parseDeclaration(); break;
    case Token::KEYWORD_IF: statement = parseIf(); break;
    case Token::KEYWORD_DO: statement = parseDo(); break;
    case Token::KEYWORD_WHILE: statement = parseWhile(); break;
    case Token::KEYWORD_SWITCH: statement = parseSwitch(); break;
    case Token::KEYWORD_FOR: statement = parseFor(); break;
    case Token::KEYWORD_BREAK:
    case Token::KEYWORD_CONTINUE: statement = parseFlow(); break;
    case Token::KEYWORD_RETURN: statement = parseReturn(); break;
    case Token::KEYWORD_FUNCTION: statement = parseFunctionStatement(); break;
    default: statement = parseExpressionStatement(); break;
  }
  return checked(std::move(statement));
}

void Parser::expectStatementEnd() { expectPunct(';', "Expected ';' to follow statement."); }

std::unique_ptr<StmtAstNode> Parser::parseBlock() {
  Pos at = pos();
  advance();
  auto block = make<StmtListAstNode>(at, 1);
  parseStatements(block.get());
  if (!cur_->isPunct('}')) fail("Unmatched '{'", locate(at));
  advance();
  return block;
}

std::unique_ptr<StmtAstNode> Parser::parseDeclaration() {
  Pos at = pos();
  auto kind = cur_->type == Token::KEYWORD_VAR ? LetOrVarAstNode::kVar : LetOrVarAstNode::kLet;
  advance();
  std::vector<std::unique_ptr<StmtAstNode>> declarations;
  for (;;) {
    if (cur_->type != Token::IDENT) fail("Identifier expected after 'var' or 'let'");
    Pos declAt = pos();
    std::string name = cur_->textValue();
    advance();
    std::unique_ptr<ExprAstNode> value;
    if (cur_->isPunct('=')) {
      advance();
      value = requireOperand(parseAssignment());
    } else if (!cur_->isPunct(',') && !cur_->isPunct(';')) {
      fail("'=' operator expected after 'var' or 'let' <identifier>");
    }
    declarations.push_back(make<LetOrVarAstNode>(declAt, std::move(name), std::move(value), kind));
    if (cur_->isPunct(',')) {
      advance();
    } else if (cur_->isPunct(';')) {
      advance();
      break;
    } else {
      fail("Expected ';' or ',' to follow statement.");
    }
  }
  if (declarations.size() == 1) return std::move(declarations.front());
  auto list = make<StmtListAstNode>(at, 0);
  for (auto& d : declarations) list->add(std::move(d));
  return list;
}

std::unique_ptr<StmtAstNode> Parser::parseIf() {
  auto node = make<IfStmtAstNode>(pos());
  advance();
  expectPunct('(', "Expected '(' after 'if' keyword");
  auto condition = parseAssignment();
  if (!condition) fail("Expected expression after 'if ('");
  expectPunct(')', "Expected ')' after 'if ( <expression> '");
  node->addBranch(std::move(condition), parseStatement());
  while (cur_->type == Token::KEYWORD_ELSE) {
    if (next_->type == Token::KEYWORD_IF) {
      advance();
      advance();
      expectPunct('(', "Expected '(' after 'if' keyword");
      condition = parseAssignment();
      if (!condition) fail("Expected expression after 'else if ('");
      expectPunct(')', "Expected ')' after 'else if ( <expression> '");
      node->addBranch(std::move(condition), parseStatement());
      continue;
    }
    advance();
    node->addBranch(nullptr, parseStatement());
    break;
  }
  return node;
}

std::unique_ptr<StmtAstNode> Parser::parseDo() {
  Pos at = pos();
  advance();
  auto body = parseStatement();
  if (cur_->type != Token::KEYWORD_WHILE) fail("Expected 'while' after 'do' <statement>");
  advance();
  expectPunct('(', "Expected '(' after 'while' keyword");
  auto condition = parseAssignment();
  if (!condition) fail("Expected expression after 'do ... while ('");
  expectPunct(')', "Expected ')' after 'while ( <expression> '");
  expectPunct(';', "Expected ';' after 'do .. while ( <expression> )'");
  return make<DoWhileStmtAstNode>(at, std::move(condition), std::move(body));
}

std::unique_ptr<StmtAstNode> Parser::parseWhile() {
  Pos at = pos();
  advance();
  expectPunct('(', "Expected '(' after 'while' keyword");
  auto condition = parseAssignment();
  if (!condition) fail("Expected expression after 'while ('");
  expectPunct(')', "Expected ')' after 'while ( <expression> '");
  auto body = parseStatement();
  return make<WhileStmtAstNode>(at, std::move(condition), std::move(body));
}

std::unique_ptr<StmtAstNode> Parser::parseSwitch() {
  Pos at = pos();
  advance();
  expectPunct('(', "Expected '(' after 'switch' keyword");
  auto selector = parseAssignment();
  if (!selector) fail("Expected expression after 'switch ('");
  expectPunct(')', "Expected ')' after 'switch ( <expression> '");
  Pos bodyAt = pos();
  expectPunct('{', "Expected '{' to start body of switch statement");
  auto body = make<StmtListAstNode>(bodyAt, 0);
  parseStatements(body.get());
  expectPunct('}', "Expected '}' to end body of switch statement");
  return make<SwitchStmtAstNode>(at, std::move(selector), std::move(body));
}

std::unique_ptr<StmtAstNode> Parser::parseFor() {
  Pos at = pos();
  advance();
  expectPunct('(', "Expected '(' after 'for' keyword");
  if (cur_->isPunct(';') || cur_->isPunct(')') || cur_->type == Token::END) {
    fail("Expected statement after 'for ('");
  }
  auto initial = parseStatement();
  auto condition = requireOperand(parseConditional());
  expectPunct(';', "Expected ';' after 'for ( <expression> ; <condition> '");
  auto final = requireOperand(parseAssignment());
  expectPunct(')', "Expected ')' after 'for ( <expression> ; <condition> ; <final> '");
  auto body = parseStatement();
  return make<ForStmtAstNode>(at, std::move(initial), std::move(condition), std::move(final),
                                          std::move(body));
}

std::unique_ptr<StmtAstNode> Parser::parseFlow() {
  Pos at = pos();
  int kind = cur_->type;
  advance();
  expectStatementEnd();
  return make<FlowStmtAstNode>(at, kind);
}

std::unique_ptr<StmtAstNode> Parser::parseReturn() {
  Pos at = pos();
  advance();
  auto value = requireOperand(parseAssignment());
  expectStatementEnd();
  return make<ReturnStmtAstNode>(at, std::move(value));
}

std::unique_ptr<StmtAstNode> Parser::parseFunctionStatement() {
  Pos at = pos();
  advance();
  if (cur_->type != Token::IDENT) fail("function name expected after the 'function' keyword");
  std::string name = cur_->textValue();
  advance();
  auto* function = new Function();
  ObjRef keep(function);  // owns the function while its body is read
  function->setName(name);
  function->setLocation(locate(at));
  parseFunctionRest(function);
  expectStatementEnd();
  auto value = make<ObjectAstNode>(at, function);
  auto target = make<IdentAstNode>(at, name);
  auto assignment = make<AssignmentExprAstNode>(at, std::move(target), std::move(value));
  auto statement = make<AssignmentStmtAstNode>(at, std::move(assignment));
  statement->setDeclaresFunction();
  return statement;
}

std::unique_ptr<StmtAstNode> Parser::parseExpressionStatement() {
  Pos at = pos();
  auto expression = parseAssignment();
  if (!expression) fail("Primary expression expected");
  expectStatementEnd();
  return make<AssignmentStmtAstNode>(at, std::move(expression));
}
