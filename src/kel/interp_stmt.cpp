// Execution of the statement nodes: expression statements, declarations,
// statement lists, conditionals, loops, switch, flow statements, return and
// template output.
#include <cstdlib>
#include <cstring>
#include <optional>

#include "kel/abstract_var_set.h"
#include "kel/ast/stmt_nodes.h"
#include "kel/interp.h"
#include "kel/output.h"
#include "kel/var_set.h"

using namespace interp;

namespace {

// Pushes a scope for the lifetime of the guard: popped on every exit.
class ScopeGuard {
 public:
  ScopeGuard(Parser* parser, int kind) : parser_(parser) { parser_->push(kind); }
  ~ScopeGuard() { parser_->pop(); }
  ScopeGuard(const ScopeGuard&) = delete;
  ScopeGuard& operator=(const ScopeGuard&) = delete;

 private:
  Parser* parser_;
};

// Runs the template text that precedes a statement.
inline bool leading(Parser* parser, const StmtAstNode* statement) {
  const OutputStmt* output = statement->leadingOutput();
  return output == nullptr || output->execute(parser) != 0;
}

// Runs `body` in a block scope of its own. A body that declares no `let`
// could not tell its scope from the enclosing one (`var` and function
// statements define in the function scope, assignments never define): it
// runs without one, which saves a scope per loop turn.
inline int runInBlock(Parser* parser, const StmtAstNode* body) {
  if (!body->declaresLet()) return body->execute(parser);
  ScopeGuard scope(parser, AbstractVarSet::kBlockScope);
  return body->execute(parser);
}

// Runs a loop's flat program, when it has one: the loop statement's result
// when the program ended the loop, or -1 with *atBody telling where the
// ordinary loop takes over (before the body, or at the next turn).
int runLoopProgram(const IntProgram* program, Parser* parser, const StmtAstNode* loop, bool* atBody) {
  if (program == nullptr) return -1;
  IntProgram::LoopResult rc = program->runLoop(parser, loop);
  if (rc == IntProgram::kFailed || rc == IntProgram::kDone) return rc;
  *atBody = rc == IntProgram::kContinueAtBody;
  return -1;
}

}  // namespace

int AssignmentStmtAstNode::execute(Parser* parser) const {
  if (!leading(parser, this)) return 0;
  const ExprAstNode* e = expression_.get();
  if (isAssignment_) {
    const auto* assignment = static_cast<const AssignmentExprAstNode*>(e);
    if (!declaresFunction_) return assignment->assign(parser, nullptr);
    // function name(...) {...}; defines `name` in the nearest function scope.
    const auto* ident = static_cast<const IdentAstNode*>(assignment->target());
    Any value;
    if (!assignment->value()->evalValue(parser, value)) return 0;
    int rc = parser->defineValue(ident->name().c_str(), value, 2);
    if (rc != 0) return fail(parser, this, kReference, rc) ? 1 : 0;
    return 1;
  }
  // Runs for its effects; a place the expression names is not read.
  return runForEffects(parser, e) ? 1 : 0;
}

int LetOrVarAstNode::execute(Parser* parser) const {
  if (!leading(parser, this)) return 0;
  Any value;
  if (value_) {
    if (!value_->evalValue(parser, value)) return 0;
  } else {
    value.setUndefined();
  }
  if (defineInFrame(parser, value)) return 1;
  int rc = parser->defineValue(name_.c_str(), value, kind_);
  if (rc != 0) return fail(parser, this, kReference, rc) ? 1 : 0;
  // Where it landed, for the next call.
  frameKey_ = 0;
  VarSet* set = parser->debugLevel() > 1 ? definingSet(parser) : nullptr;
  if (set != nullptr && set->frameKey() != 0) {
    int index = set->frameIndexOf(name_.c_str());
    if (index >= 0) {
      frameKey_ = set->frameKey();
      frameIndex_ = index;
    }
  }
  return 1;
}

VarSet* LetOrVarAstNode::definingSet(Parser* parser) const {
  // A `var` defines in the nearest function scope, a `let` in the current
  // one (as Parser::defineValue).
  AbstractVarSet* scope = parser->getCurrentScope();
  if (kind_ != kLet) {
    while (scope != nullptr && scope->scopeKind() != AbstractVarSet::kFunctionScope) scope = scope->parent();
  }
  return scope != nullptr ? scope->asVarSet() : nullptr;
}

VarSet* LetOrVarAstNode::frameSet(Parser* parser) const {
  if (frameKey_ == 0 || parser->debugLevel() <= 1) return nullptr;  // traced definitions go the long way
  VarSet* set = definingSet(parser);
  return set != nullptr && set->frameKey() == frameKey_ ? set : nullptr;
}

bool LetOrVarAstNode::defineInFrame(Parser* parser, Any& value) const {
  VarSet* set = frameSet(parser);
  return set != nullptr && set->defineFrameValue(frameIndex_, value);
}

bool LetOrVarAstNode::defineIntInFrame(Parser* parser, int value, int subtype) const {
  VarSet* set = frameSet(parser);
  return set != nullptr && set->defineFrameInt(frameIndex_, value, subtype);
}

int StmtListAstNode::runEntries(Parser* parser, size_t start) const {
  for (size_t i = start; i < entries_.size(); i++) {
    if (entries_[i].statement->execute(parser) == 0) return 0;
    if (parser->flags() != 0) break;
  }
  return 1;
}

bool StmtAstNode::findLet() const {
  {
    bool found = false;
    if (getType() == LET_OR_VAR) {
      found = static_cast<const LetOrVarAstNode*>(this)->kind() == LetOrVarAstNode::kLet;
    } else if (getType() == STMT_LIST) {
      // Its own entries, and the declarator lists (scope kind 0) among them.
      for (const auto& entry : static_cast<const StmtListAstNode*>(this)->entries()) {
        const StmtAstNode* s = entry.statement.get();
        if (s->getType() == LET_OR_VAR ||
            (s->getType() == STMT_LIST && static_cast<const StmtListAstNode*>(s)->scopeKind() == 0)) {
          found = found || s->declaresLet();
        }
      }
    }
    declaresLet_ = found ? 1 : 0;
  }
  return declaresLet_ != 0;
}

int StmtListAstNode::execute(Parser* parser) const {
  if (!leading(parser, this) || !parser->stackRoom(this)) return 0;
  if (scopeKind_ == 0 || (scopeKind_ == AbstractVarSet::kBlockScope && !declaresLet())) {
    return runEntries(parser, 0);
  }
  ScopeGuard scope(parser, scopeKind_);
  return runEntries(parser, 0);
}

int IfStmtAstNode::execute(Parser* parser) const {
  if (!leading(parser, this)) return 0;
  for (const StmtHelperEntry& branch : branches_) {
    bool taken = true;
    if (branch.condition && !expectBoolean(parser, branch.condition.get(), &taken)) return 0;
    if (taken) return runInBlock(parser, branch.statement.get());
  }
  return 1;
}

int WhileStmtAstNode::execute(Parser* parser) const {
  if (!leading(parser, this)) return 0;
  if (!programMade_) {
    program_ = IntProgram::buildLoop(condition_.get(), body_.get(), nullptr);
    programMade_ = true;
  }
  bool atBody = false;
  if (int rc = runLoopProgram(program_.get(), parser, this, &atBody); rc >= 0) return rc;
  for (;;) {
    if (!atBody) {
      if (!parser->charge(this)) return 0;
      bool go;
      if (!expectBoolean(parser, condition_.get(), &go)) return 0;
      if (!go) return 1;
    }
    atBody = false;
    if (runInBlock(parser, body_.get()) == 0) return 0;
    if (loopShouldStop(parser)) return 1;
  }
}

int DoWhileStmtAstNode::execute(Parser* parser) const {
  if (!leading(parser, this)) return 0;
  for (;;) {
    if (!parser->charge(this)) return 0;
    int ok = runInBlock(parser, body_.get());
    bool stop = ok != 0 && loopShouldStop(parser);
    if (ok == 0) return 0;
    if (stop) return 1;
    bool go;
    if (!expectBoolean(parser, condition_.get(), &go)) return 0;
    if (!go) return 1;
  }
}

int ForStmtAstNode::execute(Parser* parser) const {
  if (!leading(parser, this)) return 0;
  std::optional<ScopeGuard> scope;
  if (initial_ && initial_->declaresLet()) scope.emplace(parser, AbstractVarSet::kBlockScope);
  if (initial_ && initial_->execute(parser) == 0) return 0;
  if (!programMade_) {
    if (body_) program_ = IntProgram::buildLoop(condition_.get(), body_.get(), final_.get());
    programMade_ = true;
  }
  bool atBody = false;
  if (int rc = runLoopProgram(program_.get(), parser, this, &atBody); rc >= 0) return rc;
  for (;;) {
    if (!atBody) {
      if (!parser->charge(this)) return 0;
      if (condition_) {
        bool go;
        if (!expectBoolean(parser, condition_.get(), &go)) return 0;
        if (!go) return 1;
      }
    }
    atBody = false;
    if (body_ && body_->execute(parser) == 0) return 0;
    if (loopShouldStop(parser)) return 1;
    if (final_ && !runForEffects(parser, final_.get())) return 0;
  }
}

int SwitchStmtAstNode::execute(Parser* parser) const {
  if (!leading(parser, this)) return 0;
  Any selector;
  if (!selector_->evalValue(parser, selector)) return 0;
  std::optional<ScopeGuard> scope;
  if (body_->declaresLet()) scope.emplace(parser, AbstractVarSet::kBlockScope);
  // The start entry: the first whose labels hold the selector, else the
  // last default; with neither nothing runs.
  const auto& entries = body_->entries();
  size_t start = entries.size();
  size_t fallback = entries.size();
  for (size_t i = 0; i < entries.size() && start == entries.size(); i++) {
    if (entries[i].labels) {
      for (const auto& label : entries[i].labels->values()) {
        if (*label == selector) {
          start = i;
          break;
        }
      }
    }
    if (entries[i].isDefault) fallback = i;
  }
  if (start == entries.size()) {
    for (size_t i = 0; i < entries.size(); i++) {
      if (entries[i].isDefault) fallback = i;
    }
    start = fallback;
  }
  if (start == entries.size()) return 1;
  if (!leading(parser, body_.get())) return 0;
  int ok = body_->runEntries(parser, start);
  parser->setFlags(parser->flags() & ~Parser::kBreakPending);
  return ok;
}

int FlowStmtAstNode::execute(Parser* parser) const {
  if (!leading(parser, this)) return 0;
  parser->setFlags(parser->flags() | (tokenKind_ == Token::KEYWORD_BREAK ? Parser::kBreakPending
                                                                          : Parser::kContinuePending));
  return 1;
}

int ReturnStmtAstNode::execute(Parser* parser) const {
  if (!leading(parser, this)) return 0;
  // The value is read here: a place named by the expression may belong to a
  // scope that ends with the function.
  Any value;
  if (!value_->evalValue(parser, value)) return 0;
  parser->storeReturnValue(value);
  return 1;
}

int OutputStmt::execute(Parser* parser) const {
  if (!leading(parser, this)) return 0;
  KelOutput* out = parser->standardOutput();
  if (out == nullptr) return fail(parser, this, kEval, 22) ? 1 : 0;
  if (!text_.empty() && out->write(text_.data(), text_.size()) < 0) return fail(parser, this, kEval, 22) ? 1 : 0;
  if (!expression_) return 1;
  Any value;
  if (!expression_->evalValue(parser, value)) return 0;
  if (isText(value)) {
    const char* text = textOf(value);
    if (text == nullptr) return fail(parser, this, kEval, 49) ? 1 : 0;
    if (out->write(text, std::strlen(text)) < 0) return fail(parser, this, kEval, 22) ? 1 : 0;
    return 1;
  }
  char* text = value.toString(parser);
  if (text == nullptr) return fail(parser, this, kEval, 49) ? 1 : 0;
  long written = out->write(text, std::strlen(text));
  std::free(text);
  if (written < 0) return fail(parser, this, kEval, 22) ? 1 : 0;
  return 1;
}
