#include "kel/parser.h"

#include <cstdio>

#include "foundation/log.h"
#include "kel/abstract_var_set.h"
#include "kel/ast/expr_nodes.h"
#include "kel/ast/stmt_nodes.h"
#include "kel/output.h"
#include "model/any.h"
#include "model/dir_error.h"

Parser::Parser(const char* sourceName, std::string_view text, AbstractVarSet* rootVarSet, int line, int column,
               bool scriptlet)
    : debugLevel_(_debug_kel),
      lex_(text, line, column, scriptlet),
      sourceName_(sourceName != nullptr ? sourceName : "") {
  setScopes(rootVarSet);
  // The very first token never starts a regular expression.
  cur_->regexAllowed = false;
  lex_.nextToken(*cur_);
  next_->regexAllowed = cur_->type == Token::PUNCT ? !cur_->isPunct(')') && !cur_->isPunct(']')
                                                    : cur_->type == Token::KEYWORD_TYPEOF;
  lex_.nextToken(*next_);
  after_->regexAllowed = next_->type == Token::PUNCT ? !next_->isPunct(')') && !next_->isPunct(']')
                                                      : next_->type == Token::KEYWORD_TYPEOF;
  lex_.nextToken(*after_);
  if (debugLevel_ < 3) traceState("Inital State");
}

Parser::~Parser() {
  // Drop the trees before the scopes: nothing in them refers to a scope, but
  // functions held by variables may outlive the parser and must not see it.
  expressionTree_.reset();
  scriptTree_.reset();
  setScopes(nullptr);
}

// ---- token window

void Parser::advance() {
  // A token that carries template text is taken apart by the statement
  // reader before it is consumed; reaching here with text still on it means
  // a code section ended inside an expression, and its text would be lost.
  if (cur_->text && !errorFlag_) fail("Template text inside an expression or statement");
  Token* old = cur_;
  cur_ = next_;
  next_ = after_;
  after_ = old;
  // A slash starts a regular expression after punctuation (except a closing
  // parenthesis or bracket, after which it divides) and after typeof.
  after_->regexAllowed = next_->type == Token::PUNCT ? !next_->isPunct(')') && !next_->isPunct(']')
                                                      : next_->type == Token::KEYWORD_TYPEOF;
  lex_.nextToken(*after_);
  if (debugLevel_ < 3) traceState("State");
}

void Parser::traceState(const char* title) {
  printf(2, "%s: t1: %s, t2: %s, t3: %s\n", title, cur_->describe().c_str(), next_->describe().c_str(),
         after_->describe().c_str());
}

Location Parser::locationOf(const Token& token) const {
  return Location(sourceName_, token.line, token.column == 0 ? 1 : token.column);
}

Location Parser::here() const { return locationOf(*cur_); }

Location Parser::locate(Pos at) const { return Location(sourceName_, at.line, at.column == 0 ? 1 : at.column); }

std::unique_ptr<Location> Token::getLocation(const Parser& parser) const {
  return std::make_unique<Location>(parser.sourceName(), line, column == 0 ? 1 : column);
}

void Parser::fail(const char* message) {
  pError(message);
  throw Abort{};
}

void Parser::fail(const char* message, const Location& location) {
  pError(message, location);
  throw Abort{};
}

void Parser::expectPunct(char c, const char* message) {
  if (!cur_->isPunct(c)) fail(message);
  advance();
}

// ---- errors

void Parser::pError(const char* message) {
  if (cur_->type == Token::ERROR) message = cur_->textValue();
  pError(message, here());
}

void Parser::pError(const char* message, const Location& location) {
  if (!error_) {
    error_ = std::make_unique<Error>(Error::SYNTAX_ERROR, kSyntaxErrorCode, message);
    addTraceback(*error_, location);
    printf(5, "Parser: error: %s at %s:%d:%d\n", message, location.fileName().c_str(), location.line(),
           location.column());
  }
  errorFlag_ = true;
}

void Parser::throwErrorCode(const AstNode* node, int type, int code) {
  if (!error_) {
    error_ = std::make_unique<Error>(static_cast<Error::Type>(type), code, DirError::getErrorDescription(code));
    addTraceback(*error_, node != nullptr ? node->location() : here());
  }
  errorFlag_ = true;
}

void Parser::throwError(const Error& error) {
  if (!error_) error_ = std::make_unique<Error>(error);
  errorFlag_ = true;
}

void Parser::addTraceback(Error& error, const Location& location) const {
  // The innermost function whose scope is active names the first entry; each
  // function call scope further out adds the place it was called from, named
  // by the next enclosing function.
  AbstractVarSet* scope = getCurrentScope();
  auto nextFunctionName = [](AbstractVarSet* from, std::string* name) {
    for (AbstractVarSet* s = from; s != nullptr; s = s->parent()) {
      if (s->hasCallLocation()) {
        *name = s->functionName();
        return true;
      }
    }
    return false;
  };
  Location first = location;
  std::string name;
  if (nextFunctionName(scope, &name)) first.setFunctionName(name);
  error.addTraceback(first);
  for (AbstractVarSet* s = scope; s != nullptr; s = s->parent()) {
    if (!s->hasCallLocation()) continue;
    Location call = s->getLocation();
    if (nextFunctionName(s->parent(), &name)) call.setFunctionName(name);
    error.addTraceback(call);
  }
}

// ---- scopes and execution state

AbstractVarSet* Parser::rootScope() const { return static_cast<AbstractVarSet*>(rootScope_.getTarget()); }


void Parser::setScopes(AbstractVarSet* scope) {
  rootScope_.set(scope);
  currentScope_.set(scope);
  current_ = scope;
}

void Parser::setCurrentScope(AbstractVarSet* scope) {
  currentScope_.set(scope);
  current_ = scope;
}

std::unique_ptr<Any> Parser::getReturnValue() {
  if (!hasReturnValue_) return nullptr;
  auto value = std::make_unique<Any>();
  (void)takeReturnValue(*value);
  return value;
}

void Parser::setReturnValue(std::unique_ptr<Any> value) {
  if (value) {
    storeReturnValue(*value);
  } else {
    returnValue_.clear();
    hasReturnValue_ = false;
  }
}

void Parser::setSwitchValue(std::unique_ptr<Any> value) { switchValue_ = std::move(value); }

// ---- tracing

void Parser::printf(int level, const char* format, ...) {
  if (debugLevel_ > level) return;
  char buffer[4096];
  va_list ap;
  va_start(ap, format);
  int n = std::vsnprintf(buffer, sizeof buffer, format, ap);
  va_end(ap);
  if (n < 0) return;
  size_t length = std::min(static_cast<size_t>(n), sizeof buffer - 1);
  if (traceStream_ != nullptr) (void)traceStream_->write(buffer, length);
  if (_debug_kel < 3) {
    traceLine_.append(buffer, length);
    size_t end;
    while ((end = traceLine_.find('\n')) != std::string::npos) {
      log(0, "Kel: %s", traceLine_.substr(0, end).c_str());
      traceLine_.erase(0, end + 1);
    }
    if (traceLine_.size() >= sizeof buffer) {  // a line without end: log it in pieces
      log(0, "Kel: %s", traceLine_.c_str());
      traceLine_.clear();
    }
  }
}

std::string Parser::dumpTree() const {
  std::string out;
  if (expressionTree_) {
    expressionTree_->dump(out, 0);
  } else if (scriptTree_) {
    scriptTree_->dump(out, 0);
  }
  return out;
}

void Parser::dump() {
  if (debugLevel_ > 2) return;
  // Line by line: a tree's text may be longer than one trace piece.
  std::string text = dumpTree();
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    printf(2, "%.*s\n", static_cast<int>(end - start), text.c_str() + start);
    start = end + 1;
  }
}
