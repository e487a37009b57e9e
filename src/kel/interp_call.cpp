// Evaluation of calls: function calls, method calls on objects and plain
// values, `new`, and the call of a kel Function.
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <typeinfo>
#include <vector>

#include "kel/abstract_var_set.h"
#include "kel/ast/expr_nodes.h"
#include "kel/ast/stmt_nodes.h"
#include "kel/function.h"
#include "kel/int_program.h"
#include "kel/interp.h"
#include "kel/prototype_registry.h"
#include "kel/var_set.h"
#include "model/obj_ref.h"

using namespace interp;

namespace {

constexpr int kIsSetFunctionId = 9831;

// f(...) where f is a variable holding a kel Function: the function is
// held by a counted reference on the stack for the whole call (the
// arguments or the body may drop the variable's), the result moved
// straight into `out`. The steps and results of the general path below.
// -1 when the call is not of that form (nothing evaluated); else 1 or 0.
int callFunctionVariable(Parser* parser, const FnCallAstNode* node, Any& out) {
  const auto* ident = static_cast<const IdentAstNode*>(node->target());
  const Any* callee = ident->variable(parser);
  if (callee == nullptr) return -1;
  Translatable* target = refTarget(*callee);
  if (target == nullptr || typeid(*target) != typeid(Function)) return -1;
  ObjRef hold(target);
  const auto& argNodes = node->args();
  Arguments args(argNodes.size());
  for (size_t i = 0; i < argNodes.size(); i++) {
    if (!argNodes[i]->evalValue(parser, args[i])) return 0;
  }
  int rc = static_cast<Function*>(target)->invoke(parser, node->location(), args.pointers(), out);
  if (rc != 0) return fail(parser, node, kEval, rc) ? 1 : 0;
  return 1;
}

// Reads an object part to a value (a place is read).
bool readObjectPart(Parser* parser, const ExprAstNode* node, Any& out) {
  Place place;
  int kind = node->evalRef(parser, place, out);
  if (kind == ExprAstNode::kFailed) return false;
  if (kind == ExprAstNode::kPlace) return readPlace(parser, node, place, out, kReference);
  return true;
}

}  // namespace

bool FnCallAstNode::evalValue(Parser* parser, Any& out) const {
  if (!parser->stackRoom(this) || !parser->charge(this)) return false;
  if (calleeIsName_ && !isNew_ && !hasMemberName_) {
    int done = callFunctionVariable(parser, this, out);
    if (done >= 0) return done != 0;
  }
  // The target object T (kept alive by `holder` or by the scope chain) and
  // the member name F (null for none).
  Any holder;
  Translatable* target = nullptr;
  const char* member = hasMemberName_ ? memberName_.c_str() : nullptr;

  if (!isNew_) {
    Place place;
    Any value;
    int kind;
    const auto* deref = member == nullptr && target_->getType() == MEMBER_DEREF
                            ? static_cast<const MemberDerefAstNode*>(target_.get())
                            : nullptr;
    if (deref != nullptr && deref->member() != nullptr && deref->member()->isIdentifier()) {
      // obj.name(...): the object part is evaluated once. On an object the
      // member is a place as for a read; on a plain value (a text, a
      // number) a member that cannot be read calls the method `name` of
      // the value's prototype.
      const char* name = static_cast<const IdentAstNode*>(deref->member())->name().c_str();
      if (!readObjectPart(parser, deref->object(), holder)) return false;
      if (holder.getType() == ANY_REF && !holder.isOpaque()) {
        Translatable* owner = holder.getRefTarget();
        if (owner == nullptr) return fail(parser, this, kSyntax, 109);
        place.setMember(name, owner, false, true);
        place.adoptHolder(holder);
        kind = kPlace;
      } else if (getProperty(parser, &holder, name, value, true) == 0 && value.getType() == ANY_REF &&
                 value.getRefTarget() != nullptr) {
        holder.clear();
        kind = kValue;
      } else {
        value.clear();
        target = &holder;
        member = name;
        kind = -1;  // decided
      }
    } else {
      kind = target_->evalRef(parser, place, value);
    }
    if (kind == -1) {
      // T and F are set.
    } else if (kind == kFailed) {
      return false;
    } else if (kind == kPlace) {
      int rc = placeGet(parser, place, value);
      if (rc == 0 && value.getType() == ANY_REF && value.getRefTarget() != nullptr) {
        target = value.getRefTarget();
        moveValue(holder, value);
      } else if (rc != 0 || value.isUndefined()) {
        if (member == nullptr && place.kind == Place::kMember) {
          // f(...) where f reads as nothing: the member function f of the
          // owner's prototype.
          target = place.target;
          if (!place.ownerIsScope) moveValue(holder, place.holder);
          member = place.name;
        } else if (rc != 0) {
          return fail(parser, this, kReference, rc);
        } else {
          return fail(parser, this, kEval, 111);
        }
      } else if (value.isNull()) {
        return fail(parser, this, kEval, 107);
      } else {
        moveValue(holder, value);
        target = &holder;
      }
    } else {
      if (value.getType() == ANY_REF && !value.isOpaque()) {
        target = value.getRefTarget();
        if (target == nullptr) return fail(parser, this, kEval, 107);
        moveValue(holder, value);
      } else if (value.isNull()) {
        return fail(parser, this, kEval, 107);
      } else if (value.isUndefined()) {
        return fail(parser, this, kEval, 111);
      } else {
        moveValue(holder, value);
        target = &holder;
      }
    }
  }

  // The arguments, left to right, as plain values.
  Arguments args(args_.size());
  for (size_t i = 0; i < args_.size(); i++) {
    if (!args_[i]->evalValue(parser, args[i])) {
      const Error* error = parser->getError();
      if (!isNew_ && member == nullptr && target != nullptr && target->getObjectID() == kIsSetFunctionId &&
          error != nullptr && error->code() == 46) {
        parser->recover();
        out.set(false);
        return true;
      }
      return false;
    }
  }

  if (!isNew_ && member == nullptr && target != nullptr && target->getObjectID() == kIsSetFunctionId) {
    bool set = true;
    for (size_t i = 0; i < args.size(); i++) {
      if (args[i].isUndefined()) set = false;
    }
    out.set(set);
    return true;
  }

  Any* result = nullptr;
  int rc;
  if (isNew_) {
    rc = parser->constructObject(&result, className_.c_str(), args.pointers());
  } else if (target == nullptr) {
    return fail(parser, this, kEval, 107);
  } else if (member != nullptr) {
    if (!target->isPrototype() && args.size() == 0 && std::strcmp(member, "toString") == 0) {
      out.adoptString(target->toString(parser));
      return true;
    }
    Translatable* prototype = target->isPrototype() ? target : PrototypeRegistry::findPrototype(target);
    if (prototype == nullptr) return fail(parser, this, kEval, 107);
    rc = prototype->callMemberFn(parser, &result, target, member, args.pointers());
  } else {
    rc = target->call(parser, &location(), args.pointers(), &result);
  }
  if (rc != 0) {
    delete result;
    return fail(parser, this, kEval, rc);
  }
  if (result != nullptr) {
    moveValue(out, *result);
    delete result;
  } else {
    out.clear();
  }
  return true;
}

// ---- kel functions

int Function::call(Parser* parser, const Location* location, Any** args, Any** result) {
  *result = nullptr;
  Any out;
  int rc = invoke(parser, location != nullptr ? *location : location_, args, out);
  if (rc != 0) return rc;
  *result = new Any();
  moveValue(**result, out);
  return 0;
}

bool Function::invokeFlat(Parser* parser, Any** args, Any& out) {
  if (!flatMade_) {
    flatMade_ = true;
    const StmtListAstNode* body = body_.get();
    // No template text; `var <name> = <integer operator expression>;`
    // statements, then `return <operator expression>;`.
    if (body == nullptr || !distinctParameters_ || body->leadingOutput() != nullptr || body->entries().empty() ||
        body->entries().back().statement->getType() != AstNode::RETURN_STMT) {
      return false;
    }
    std::vector<const LetOrVarAstNode*> locals;
    for (size_t i = 0; i + 1 < body->entries().size(); i++) {
      const auto& entry = body->entries()[i];
      const StmtAstNode* statement = entry.statement.get();
      if (entry.labels != nullptr || entry.isDefault || statement->getType() != AstNode::LET_OR_VAR ||
          statement->leadingOutput() != nullptr) {
        return false;
      }
      const auto* local = static_cast<const LetOrVarAstNode*>(statement);
      if (local->kind() != LetOrVarAstNode::kVar || local->value() == nullptr ||
          !AstNode::isIntOperator(local->value()->getType())) {
        return false;
      }
      locals.push_back(local);
    }
    const auto* ret = static_cast<const ReturnStmtAstNode*>(body->entries().back().statement.get());
    const ExprAstNode* value = ret->value();
    if (ret->leadingOutput() != nullptr || body->entries().back().labels != nullptr || value == nullptr) {
      return false;
    }
    // Operators only: their ordinary value is a fresh integer or boolean
    // whenever the program answers (a bare name would keep its subtype).
    if (AstNode::isIntOperator(value->getType())) {
      flatProgram_ = IntProgram::buildCall(value, IntProgram::kInt, parameters_, locals);
    } else if (value->getType() == AstNode::COMPARE || value->getType() == AstNode::EQUALS) {
      flatIsCondition_ = true;
      flatProgram_ = IntProgram::buildCall(value, IntProgram::kCond, parameters_, locals);
    } else {
      return false;
    }
    flatHasLocals_ = !locals.empty();
  }
  // Traced scopes and definitions, and a parameter without its argument
  // (its name then reaches an enclosing variable), take the ordinary way.
  if (flatProgram_ == nullptr || parser->debugLevel() <= 1) return false;
  // A flag pending before the body would end it after its first
  // statement.
  if (flatHasLocals_ && parser->flags() != 0) return false;
  for (size_t i = 0; i < parameters_.size(); i++) {
    if (args == nullptr || args[i] == nullptr) return false;
  }
  int v;
  if (!flatProgram_->runCall(parser, args, &v)) return false;
  if (flatIsCondition_) {
    out.set(v != 0);
  } else {
    out.set(v);
  }
  return true;
}

int Function::invoke(Parser* parser, const Location& at, Any** args, Any& out) {
  if (!parser->enterCall(at)) return 108;
  // Entered as every call is (the depth bound and the step it is charged);
  // a flat body that gives up has changed nothing and runs the ordinary way.
  if ((!flatMade_ || flatProgram_ != nullptr) && invokeFlat(parser, args, out)) {
    parser->leaveCall();
    return 0;
  }
  // A return that ran in the caller before this call belongs to the caller:
  // keep it aside so that the callee neither sees nor consumes it.
  Any callerReturn;
  bool callerReturned = parser->takeReturnValue(callerReturn);
  // The caller holds a reference to this function for the whole call (the
  // call node keeps the value it called), so the body outlives an
  // assignment that drops the function's last variable.
  if (!frameMade_) makeFrameNames();
  // Traced definitions go the long way, without a frame.
  bool framed = parser->debugLevel() > 1 && !frameNames_.empty();
  if (framed) {
    parser->pushScope(VarSet::makeCallScope(frameNames_.data(), frameNames_.size(), frameKey_),
                      AbstractVarSet::kFunctionScope);
  } else {
    parser->push(AbstractVarSet::kFunctionScope);
  }
  AbstractVarSet* scope = parser->getCurrentScope();
  VarSet* set = parser->debugLevel() > 1 ? scope->asVarSet() : nullptr;
  Any** arg = args;
  if (framed) {
    // The parameters are the frame's first entries; missing arguments
    // leave theirs not defined.
    for (size_t i = 0, n = parameters_.size(); i < n && arg != nullptr && *arg != nullptr; i++, ++arg) {
      set->defineFrame(i, **arg);
    }
  } else {
    for (const std::string& name : parameters_) {
      if (arg == nullptr || *arg == nullptr) break;  // missing arguments stay undefined
      if (set != nullptr && distinctParameters_) {
        set->defineNew(name.c_str(), name.size(), **arg);  // the scope is new: no entry of that name yet
        ++arg;
        continue;
      }
      Any value;
      kelCopyValue(value, **arg);
      if (set != nullptr) {
        (void)set->defineValue(name.c_str(), value);
      } else {
        (void)parser->defineValue(name.c_str(), value, 1);
      }
      ++arg;
    }
  }
  // The call site stays valid while the scope is in use: the calling tree
  // and this function outlive the call.
  scope->setCallSite(displayName(), &at);
  if (!bodyMade_) {
    bodyMade_ = true;
    bodyProgram_ = IntProgram::buildBody(body_.get());
  }
  // Tracing shows every definition: the tree then.
  IntProgram::LoopResult run = bodyProgram_ != nullptr && parser->debugLevel() > 1
                                   ? bodyProgram_->runLoop(parser, nullptr)
                                   : IntProgram::kContinueAtTurn;
  int ok;
  if (run == IntProgram::kDone) {
    ok = 1;
  } else if (run == IntProgram::kFailed) {
    ok = 0;
  } else {
    ok = body_ ? body_->execute(parser) : 1;  // the program did not start
  }
  parser->pop();
  parser->leaveCall();
  if (!parser->takeReturnValue(out)) out.setUndefined();
  if (callerReturned) parser->storeReturnValue(callerReturn);
  if (!ok) return 108;
  return 0;
}

int Function::getField(Parser* parser, Any** result, const char* name) const {
  if (name != nullptr && std::strcmp(name, "name") == 0) {
    *result = new Any(displayName());
    return 0;
  }
  if (name != nullptr && std::strcmp(name, "length") == 0) {
    *result = new Any(static_cast<int>(parameters_.size()));
    return 0;
  }
  return Translatable::getField(parser, result, name);
}
