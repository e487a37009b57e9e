#include "kel/function.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#include "kel/ast/stmt_nodes.h"
#include "kel/int_program.h"
#include "kel/var_set.h"

Function::Function() = default;
Function::~Function() = default;

void Function::setBody(std::unique_ptr<StmtListAstNode> body) { body_ = std::move(body); }

std::string Function::text() const { return std::string(displayName()) + " " + location_.text(); }

char* Function::toString(Parser*) { return strdup(text().c_str()); }

namespace {

// The names the `var`s of `statement` define, outside nested functions
// (a function statement's body is its own function's). Statement lists and
// the branches of `if`s are searched: a `var` anywhere else still works, it
// only gets an entry of its own.
void collectVarNames(const StmtAstNode* statement, std::vector<std::string>& names) {
  if (statement == nullptr) return;
  switch (statement->getType()) {
    case AstNode::LET_OR_VAR: {
      const auto* decl = static_cast<const LetOrVarAstNode*>(statement);
      if (decl->kind() == LetOrVarAstNode::kVar) names.push_back(decl->name());
      return;
    }
    case AstNode::STMT_LIST:
      for (const auto& entry : static_cast<const StmtListAstNode*>(statement)->entries()) {
        collectVarNames(entry.statement.get(), names);
      }
      return;
    case AstNode::IF_STMT:
      for (const auto& branch : static_cast<const IfStmtAstNode*>(statement)->branches()) {
        collectVarNames(branch.statement.get(), names);
      }
      return;
    default:
      return;
  }
}

}  // namespace

void Function::makeFrameNames() {
  frameMade_ = true;
  if (!distinctParameters_ || parameters_.size() > VarSet::kMaxFrame) return;
  auto fits = [](const std::string& name) {
    return !name.empty() && name.size() < VarSet::kFrameName && name.find('\0') == std::string::npos;
  };
  for (const std::string& p : parameters_) {
    if (!fits(p)) return;
  }
  std::vector<std::string> names = parameters_;
  std::vector<std::string> vars;
  collectVarNames(body_.get(), vars);
  for (const std::string& v : vars) {
    if (names.size() == VarSet::kMaxFrame) break;
    if (fits(v) && std::find(names.begin(), names.end(), v) == names.end()) names.push_back(v);
  }
  frameNames_ = std::move(names);
  static std::atomic<uint64_t> nextKey{1};
  frameKey_ = nextKey.fetch_add(1, std::memory_order_relaxed);
}
