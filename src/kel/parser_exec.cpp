// The execution side of the parser: running the parsed trees, the scope
// discipline, definitions, `new`, and the limits on calls, stack and time.
#include <pthread.h>

#include <cstdint>
#include <memory>

#include "kel/abstract_var_set.h"
#include "kel/ast/expr_nodes.h"
#include "kel/ast/stmt_nodes.h"
#include "kel/error.h"
#include "kel/parser.h"
#include "kel/place.h"
#include "kel/prototype_registry.h"
#include "kel/var_set.h"
#include "model/any.h"
#include "model/dir_error.h"

namespace {

// Stack kept free below the deepest evaluation: room for reporting the error
// (tracebacks, texts) and for the data model's own recursion (texts and
// releases of nested containers).
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr size_t kStackReserve = 256 * 1024;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr size_t kStackReserve = 256 * 1024;
#else
constexpr size_t kStackReserve = 128 * 1024;
#endif
#else
constexpr size_t kStackReserve = 128 * 1024;
#endif

// The lowest usable address of the calling thread's stack, or null when
// the system does not tell. Cached per thread.
const char* stackLow() {
  thread_local const char* low = nullptr;
  thread_local bool known = false;
  if (!known) {
    known = true;
    pthread_attr_t attr;
    if (pthread_getattr_np(pthread_self(), &attr) == 0) {
      void* addr = nullptr;
      size_t size = 0;
      if (pthread_attr_getstack(&attr, &addr, &size) == 0 && size > 2 * kStackReserve) {
        low = static_cast<const char*>(addr);
      }
      pthread_attr_destroy(&attr);
    }
  }
  return low;
}

}  // namespace

void Parser::prepareStackLimit() {
  const char* low = stackLow();
  stackLimit_ = low != nullptr ? low + kStackReserve : nullptr;
}

bool Parser::stackExhausted(const AstNode* node) {
  if (stackLimit_ == nullptr) return false;
  throwErrorCode(node, Error::RANGE_ERROR, kResourceCode);
  return true;
}

int Parser::executeScript(const Principal* principal, AbstractVarSet* varSet) {
  principal_ = principal;
  setScopes(varSet);
  prepareStackLimit();
  // A value no one took belongs to an earlier run.
  returnValue_.clear();
  hasReturnValue_ = false;
  callDepth_ = 0;
  int result = scriptTree_ ? scriptTree_->execute(this) : 0;
  setScopes(nullptr);
  return result;
}

bool Parser::executeExpression(const Principal* principal, AbstractVarSet* varSet, Any** result) {
  principal_ = principal;
  setScopes(varSet);
  prepareStackLimit();
  callDepth_ = 0;
  if (result != nullptr) *result = nullptr;
  bool ok = expressionTree_ && expressionTree_->evaluateToValue(this, result);
  setScopes(nullptr);
  return ok;
}

void Parser::throwErrorAt(const Location& location, int type, int code) {
  if (!error_) {
    error_ = std::make_unique<Error>(static_cast<Error::Type>(type), code, DirError::getErrorDescription(code));
    addTraceback(*error_, location);
  }
  errorFlag_ = true;
}

// ---- scopes

void Parser::push(int kind) { pushScope(new VarSet(), kind); }

void Parser::pushScope(AbstractVarSet* scope, int kind) {
  scope->setScopeKind(kind);
  // The new scope takes over the current reference's count of its parent.
  scope->adoptParent(static_cast<AbstractVarSet*>(currentScope_.release()));
  currentScope_.set(scope);
  current_ = scope;
  if (debugLevel_ <= 1) printf(1, "Parser: pushing varset, scope = %d\n", kind);
}

void Parser::pop() {
  AbstractVarSet* current = getCurrentScope();
  if (current == nullptr || current == rootScope()) return;
  if (debugLevel_ <= 1) printf(1, "Parser: popping varset\n");
  AbstractVarSet* parent = current->parent();
  if (current->refCount.load(std::memory_order_acquire) == 1) {
    // Nothing else holds the scope: its count of the parent moves back to
    // the current reference, and the scope ends (a call's scope may be kept
    // for the next call).
    AbstractVarSet* counted = current->releaseParent();
    (void)currentScope_.release();  // the one count of `current`, ended below
    currentScope_.adopt(counted);
    if (VarSet* set = current->asVarSet()) {
      VarSet::retire(set);
    } else {
      delete current;
    }
  } else {
    currentScope_.set(parent);
  }
  current_ = parent;
}

void Parser::popAll() {
  while (getCurrentScope() != nullptr && getCurrentScope() != rootScope()) pop();
}

int Parser::define(const char* name, Any* value, int kind) {
  if (value == nullptr) {
    printf(1, "Parser: logic error. Cannot define value to NULL should be Any(NULL)");
    return 86;
  }
  int rc = defineValue(name, *value, kind);
  delete value;
  return rc;
}

int Parser::defineValue(const char* name, Any& value, int kind) {
  AbstractVarSet* scope = getCurrentScope();
  if (debugLevel_ <= 1) {
    char* text = value.toString(this);
    printf(1, "Parser: asked to define %s, scope = %d, value = %s\n", name, scope ? scope->scopeKind() : 0,
           text ? text : "NULL");
    free(text);
  }
  if (kind != 1) {
    while (scope != nullptr && scope->scopeKind() != AbstractVarSet::kFunctionScope) {
      if (debugLevel_ <= 1) printf(1, "Parser: moving up the stack\n");
      scope = scope->parent();
    }
    if (debugLevel_ <= 1 && scope != nullptr) printf(1, "frame is scope = %d\n", scope->scopeKind());
  }
  if (scope == nullptr) {
    value.clear();
    return 113;
  }
  if (debugLevel_ <= 1) printf(1, "Parser: will define: %s, in this scope\n", name);
  if (VarSet* set = scope->asVarSet()) return set->defineValue(name, value) ? 0 : 46;
  auto* moved = new Any();
  moved->takeFrom(value);
  value.clear();
  return scope->define(name, moved) ? 0 : 46;
}

int Parser::constructObject(Any** result, const char* className, Any** args) {
  *result = nullptr;
  Translatable* prototype = PrototypeRegistry::findPrototypeObjectByName(className);
  if (prototype == nullptr) return 51;
  return prototype->construct(this, result, reinterpret_cast<Translatable**>(args));
}

Any* Parser::purifyAssignable(const Any* value) {
  if (value == nullptr) return nullptr;
  if (value->getType() == ANY_REF && !value->isOpaque()) {
    Translatable* target = value->getRefTarget();
    if (target != nullptr && target->isAssignable()) {
      Any* read = nullptr;
      return static_cast<Assignable*>(target)->get(this, &read) == 0 ? read : nullptr;
    }
  }
  auto* copy = new Any();
  kelCopyValue(*copy, *value);
  return copy;
}

// ---- limits

bool Parser::enterCall(const Location& location) {
  const char* here = static_cast<const char*>(__builtin_frame_address(0));
  if (callDepth_ >= maxCallDepth_ || (stackLimit_ != nullptr && here <= stackLimit_)) {
    throwErrorAt(location, Error::RANGE_ERROR, kResourceCode);
    return false;
  }
  if (limited_ && !chargeSlow(nullptr, 1, &location)) return false;
  ++callDepth_;
  return true;
}

bool Parser::chargeSlow(const AstNode* node, long long steps, const Location* at) {
  auto report = [&] {
    if (node == nullptr && at != nullptr) {
      throwErrorAt(*at, Error::RANGE_ERROR, kTimeoutCode);
    } else {
      throwErrorCode(node, Error::RANGE_ERROR, kTimeoutCode);
    }
  };
  if (limitHit_) {
    report();
    return false;
  }
  bool over = false;
  if (stepBudget_ > 0) {
    stepsLeft_ -= steps;
    over = stepsLeft_ < 0;
  }
  // Reading the clock costs more than a step: look every 64 charges.
  if (!over && hasDeadline_ && (++clockTick_ & 63u) == 0) over = std::chrono::steady_clock::now() >= deadline_;
  if (over) {
    limitHit_ = true;
    report();
    return false;
  }
  return true;
}
