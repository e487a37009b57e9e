// The flat form of the integer and condition fast forms: building it from a
// subtree and running it.
#include "kel/int_program.h"

#include <cstring>
#include <string>
#include <typeinfo>
#include <utility>
#include <vector>

#include "kel/abstract_var_set.h"
#include "kel/ast/stmt_nodes.h"
#include "kel/function.h"
#include "kel/interp.h"
#include "kel/parser.h"
#include "kel/var_set.h"
#include "model/any_array.h"
#include "model/attributes.h"

namespace {

// Bounds of the flat form; a larger tree keeps the recursive fast forms.
constexpr size_t kMaxCode = 512;
constexpr int kMaxRegisters = 255;
constexpr int kMaxNesting = 64;

// The binary operators over 32-bit integers, `a` and `b` the operands and
// `r` the result: the interpreter's integer rules (wrapping; division and
// remainder by zero answer nothing (KEL_GIVE_UP), so that the ordinary
// evaluation reports them; comparisons give 0 or 1).
#define KEL_INT_PROGRAM_BINARY(X)                                                                        \
  X(Add, r = static_cast<int>(static_cast<unsigned>(a) + static_cast<unsigned>(b)))                      \
  X(Sub, r = static_cast<int>(static_cast<unsigned>(a) - static_cast<unsigned>(b)))                      \
  X(Mul, r = static_cast<int>(static_cast<unsigned>(a) * static_cast<unsigned>(b)))                      \
  X(Div, if (b == 0) KEL_GIVE_UP; r = b == -1 ? static_cast<int>(0u - static_cast<unsigned>(a)) : a / b) \
  X(Mod, if (b == 0) KEL_GIVE_UP; r = b == -1 ? 0 : a % b)                                               \
  X(And, r = a & b)                                                                                      \
  X(Or, r = a | b)                                                                                       \
  X(Xor, r = a ^ b)                                                                                      \
  X(Shl, r = static_cast<int>(static_cast<unsigned>(a) << (static_cast<unsigned>(b) & 31u)))             \
  X(Shr, r = a >> (static_cast<unsigned>(b) & 31u))                                                      \
  X(Ushr, r = static_cast<int>(static_cast<unsigned>(a) >> (static_cast<unsigned>(b) & 31u)))            \
  X(Lt, r = a < b ? 1 : 0)                                                                               \
  X(Le, r = a <= b ? 1 : 0)                                                                              \
  X(Gt, r = a > b ? 1 : 0)                                                                               \
  X(Ge, r = a >= b ? 1 : 0)                                                                              \
  X(Eq, r = a == b ? 1 : 0)                                                                              \
  X(Ne, r = a != b ? 1 : 0)

}  // namespace

// The operations other than the binary operators, in the order of their
// codes:
//   kFail           a literal or operator whose fast form never answers
//   kLoadInt        dst = the integer in name `arg` (where names are read at their use)
//   kLoadBool       dst = the boolean in name `arg`
//   kMember         dst = name `a` . member (an integer member, or an array's length); arg: subtree
//   kElement        dst = name `a` [b] (an integer element of an array)
//   kIntNode        dst = subtree `arg`'s evalInt
//   kCondNode       dst = subtree `arg`'s evalCond
//   kMove           dst = a
//   kNegate         dst = -a
//   kNot            dst = !a
//   kJumpIfZero     to `arg` when a is 0
//   kJumpIfNotZero  to `arg` when a is not 0
// and those of loop programs:
//   kStore          name `arg` = a (the last operation of an assignment)
//   kStep           name `arg` += 1 (b 0) or -= 1 (b 1), in place
//   kStoreMember    name `a` . text `arg` = b, in place (an attribute set's own value)
//   kStoreElement   name `a` [b] = dst, in place (an existing element of an array)
//   kJump           to `arg`
//   kExitIfZero     the loop ends when a is 0
//   kGeneral        unit `arg` executed the ordinary way
//   kBodyEnd        after the body: break, continue and the embedding's flags
//   kTurnEnd        the next turn
//   kDefine         the `var` of unit `arg` defines its name as a (the unit's last operation)
//   kDefineCopy     the same with a copy of the integer in name `a` (its subtype kept)
//   kReturnInt      the return value is the integer a
//   kReturnBool     the return value is the boolean a
//   kFinish         a function body's end
//   kCall           call site `arg`: name = f(arguments), the unit's last operation
#define KEL_INT_PROGRAM_OPS(X)                                                                         \
  X(kFail)                                                                                             \
  X(kLoadInt) X(kLoadBool) X(kMember) X(kElement) X(kIntNode) X(kCondNode) X(kMove) X(kNegate) X(kNot) \
      X(kJumpIfZero) X(kJumpIfNotZero) X(kStore) X(kStep) X(kStoreMember) X(kStoreElement) X(kJump)    \
          X(kExitIfZero) X(kGeneral) X(kBodyEnd) X(kTurnEnd) X(kDefine) X(kDefineCopy) X(kReturnInt)    \
              X(kReturnBool) X(kFinish) X(kCall)

enum IntProgram::Op : uint8_t {
#define KEL_OP_CODE(op) op,
  KEL_INT_PROGRAM_OPS(KEL_OP_CODE)
#undef KEL_OP_CODE
#define KEL_OP_CODE(name, expr) k##name,
      KEL_INT_PROGRAM_BINARY(KEL_OP_CODE)
#undef KEL_OP_CODE
};

namespace {

// The operation of an operator code; kFail for a code the integer rules
// give no integer for.
IntProgram::Op binaryOp(int op) {
  switch (op) {
    case OP_ADD:
      return IntProgram::kAdd;
    case OP_SUB:
      return IntProgram::kSub;
    case OP_MUL:
      return IntProgram::kMul;
    case OP_DIV:
      return IntProgram::kDiv;
    case OP_MOD:
      return IntProgram::kMod;
    case OP_BIT_AND:
      return IntProgram::kAnd;
    case OP_BIT_OR:
      return IntProgram::kOr;
    case OP_BIT_XOR:
      return IntProgram::kXor;
    case OP_SHL:
      return IntProgram::kShl;
    case OP_SHR:
      return IntProgram::kShr;
    case OP_USHR:
      return IntProgram::kUshr;
    case OP_LT:
      return IntProgram::kLt;
    case OP_LE:
      return IntProgram::kLe;
    case OP_GT:
      return IntProgram::kGt;
    case OP_GE:
      return IntProgram::kGe;
    case OP_EQ:
    case OP_STRICT_EQ:
      return IntProgram::kEq;
    case OP_NE:
    case OP_STRICT_NE:
      return IntProgram::kNe;
    default:
      return IntProgram::kFail;
  }
}

// The operator code a binary node computes (the bit nodes carry theirs in
// their kind).
int operatorOf(const BinaryExprAstNode* node) {
  switch (node->getType()) {
    case AstNode::BITWISE_AND:
      return OP_BIT_AND;
    case AstNode::BITWISE_OR:
      return OP_BIT_OR;
    case AstNode::BITWISE_XOR:
      return OP_BIT_XOR;
    default:
      return node->opCode();
  }
}

}  // namespace

// Translates a subtree into operations, the way the fast forms of its nodes
// (evalInt, evalCond) evaluate it. Each emit gives the register that holds
// the value, or -1 when the program would exceed its bounds.
class IntProgramBuilder {
 public:
  explicit IntProgramBuilder(IntProgram& program) : p_(program) {}

  int emitInt(const ExprAstNode* node, int nesting) {
    if (nesting > kMaxNesting) return -1;
    switch (node->getType()) {
      case AstNode::LITERAL: {
        int v;
        return node->evalInt(nullptr, &v) ? constant(v) : fail();
      }
      case AstNode::IDENT:
        return readName(static_cast<const IdentAstNode*>(node), IntProgram::kLoadInt, IntProgram::kReadInt);
      case AstNode::ADD:
      case AstNode::MUL:
      case AstNode::SHIFT:
      case AstNode::BITWISE_AND:
      case AstNode::BITWISE_OR:
      case AstNode::BITWISE_XOR:
        return emitBinary(static_cast<const BinaryExprAstNode*>(node), nesting);
      case AstNode::NEGATIVE: {
        int a = emitInt(static_cast<const NegativeAstNode*>(node)->operand(), nesting + 1);
        return a < 0 ? -1 : op(IntProgram::kNegate, a, 0, 0);
      }
      case AstNode::COMPARE:
      case AstNode::EQUALS:
      case AstNode::LOGICAL_AND:
      case AstNode::LOGICAL_OR:
      case AstNode::BOOLEAN_NOT:
        // A condition has no integer fast form.
        return fail();
      case AstNode::MEMBER_DEREF: {
        const auto* deref = static_cast<const MemberDerefAstNode*>(node);
        if (deref->object()->getType() != AstNode::IDENT || deref->member() == nullptr ||
            deref->member()->getType() != AstNode::IDENT) {
          return subtree(IntProgram::kIntNode, node);
        }
        int name = nameIndex(static_cast<const IdentAstNode*>(deref->object()));
        return name < 0 ? -1 : op(IntProgram::kMember, name, 0, addNode(node));
      }
      case AstNode::ARRAY_DEREF: {
        const auto* deref = static_cast<const ArrayDerefAstNode*>(node);
        if (deref->object()->getType() != AstNode::IDENT || deref->indexes().size() != 1) {
          return subtree(IntProgram::kIntNode, node);
        }
        int name = nameIndex(static_cast<const IdentAstNode*>(deref->object()));
        int index = name < 0 ? -1 : emitInt(deref->indexes()[0].get(), nesting + 1);
        return index < 0 ? -1 : op(IntProgram::kElement, name, index, 0);
      }
      default:
        return subtree(IntProgram::kIntNode, node);
    }
  }

  int emitCond(const ExprAstNode* node, int nesting) {
    if (nesting > kMaxNesting) return -1;
    switch (node->getType()) {
      case AstNode::LITERAL: {
        bool v;
        return node->evalCond(nullptr, &v) ? constant(v ? 1 : 0) : fail();
      }
      case AstNode::IDENT:
        return readName(static_cast<const IdentAstNode*>(node), IntProgram::kLoadBool, IntProgram::kReadBool);
      case AstNode::COMPARE:
      case AstNode::EQUALS:
        return emitBinary(static_cast<const BinaryExprAstNode*>(node), nesting);
      case AstNode::LOGICAL_AND:
      case AstNode::LOGICAL_OR: {
        // The right operand only when the left does not decide.
        const auto* logical = static_cast<const BinaryExprAstNode*>(node);
        int result = newRegister();
        int left = result < 0 ? -1 : emitCond(logical->left(), nesting + 1);
        if (left < 0 || op(IntProgram::kMove, left, 0, 0, result) < 0) return -1;
        size_t jump = p_.code_.size();
        auto kind =
            node->getType() == AstNode::LOGICAL_AND ? IntProgram::kJumpIfZero : IntProgram::kJumpIfNotZero;
        if (op(kind, result, 0, 0, result) < 0) return -1;
        hasJumps_ = true;
        int right = emitCond(logical->right(), nesting + 1);
        if (right < 0 || op(IntProgram::kMove, right, 0, 0, result) < 0) return -1;
        p_.code_[jump].arg = static_cast<int32_t>(p_.code_.size());
        return result;
      }
      case AstNode::BOOLEAN_NOT: {
        int a = emitCond(static_cast<const BooleanNotAstNode*>(node)->operand(), nesting + 1);
        return a < 0 ? -1 : op(IntProgram::kNot, a, 0, 0);
      }
      case AstNode::ADD:
      case AstNode::MUL:
      case AstNode::SHIFT:
      case AstNode::BITWISE_AND:
      case AstNode::BITWISE_OR:
      case AstNode::BITWISE_XOR:
      case AstNode::NEGATIVE:
        // An integer has no condition fast form.
        return fail();
      default:
        return subtree(IntProgram::kCondNode, node);
    }
  }

  // The index of the name (one per variable name: the same name reaches
  // the same variable), or -1.
  int nameIndex(const IdentAstNode* name) {
    // A local of a call program lives in a register only: it has no
    // variable for a member, element or store to reach.
    if (isLocal(name->name())) return -1;
    for (size_t i = 0; i < p_.names_.size(); i++) {
      if (p_.names_[i]->name() == name->name()) return static_cast<int>(i);
    }
    int reg = newRegister();
    if (reg < 0) return -1;
    p_.names_.push_back(name);
    p_.nameRegisters_.push_back(static_cast<uint8_t>(reg));
    p_.preload_.push_back(IntProgram::kNotRead);
    return static_cast<int>(p_.names_.size() - 1);
  }

  // A loop: its condition, body and step.
  bool emitLoop(const ExprAstNode* condition, const StmtAstNode* body, const ExprAstNode* step) {
    if (condition != nullptr) {
      int unit = newUnit(IntProgram::kConditionUnit, condition);
      if (unit < 0) return false;
      int go = emitCond(condition, 0);
      if (go < 0 || op(IntProgram::kExitIfZero, go, 0, 0, 0) < 0) return false;
      endUnit(unit);
    }
    if (!emitBody(body, 0)) return false;
    p_.bodyEnd_ = static_cast<int32_t>(p_.code_.size());
    if (op(IntProgram::kBodyEnd, 0, 0, 0, 0) < 0) return false;
    if (step != nullptr) {
      int unit = newUnit(IntProgram::kStepUnit, step);
      if (unit < 0 || !emitEffect(step) || !endUnit(unit)) return false;
    }
    return op(IntProgram::kTurnEnd, 0, 0, 0, 0) >= 0;
  }

  // A function body: its statements, then the end.
  bool emitFunctionBody(const StmtAstNode* body) {
    if (body->getType() != AstNode::STMT_LIST || body->leadingOutput() != nullptr) return false;
    const auto* list = static_cast<const StmtListAstNode*>(body);
    if (list->declaresLet() || list->scopeKind() == AbstractVarSet::kFunctionScope) return false;
    for (const auto& entry : list->entries()) {
      if (entry.labels != nullptr || entry.isDefault) return false;
      if (!emitStatement(entry.statement.get(), 1)) return false;
    }
    p_.bodyEnd_ = static_cast<int32_t>(p_.code_.size());
    return op(IntProgram::kFinish, 0, 0, 0, 0) >= 0;
  }

  [[nodiscard]] int registerCount() const { return registers_; }

  // Call programs: the names of the body's locals (each read of one,
  // before its definition included, is decided by defineLocal).
  void setLocalNames(std::vector<std::string> names) { localNames_ = std::move(names); }
  // The local `name` holds the value in `reg` from here on.
  void defineLocal(const std::string& name, int reg) { definedLocals_.emplace_back(name, reg); }

  // Reads of names move before the first operation when no operation is
  // skipped and no name is read both ways; else they stay where they are.
  void finish() {
    bool eager = !hasJumps_ && !mixedReads_;
    if (!eager) {
      for (auto& preload : p_.preload_) preload = IntProgram::kNotRead;
      return;
    }
    std::vector<IntProgram::Insn> code;
    for (const IntProgram::Insn& insn : p_.code_) {
      if (insn.op == IntProgram::kFail) p_.never_ = true;
      if (insn.op != IntProgram::kLoadInt && insn.op != IntProgram::kLoadBool) code.push_back(insn);
    }
    p_.code_.swap(code);
  }

 private:
  int newRegister() {
    if (registers_ >= kMaxRegisters) return -1;
    return registers_++;
  }

  // An operation with a new result register (or `dst`); its register or -1.
  int op(uint8_t code, int a, int b, int32_t arg, int dst = -1) {
    if (p_.code_.size() >= kMaxCode) return -1;
    if (dst < 0) dst = newRegister();
    if (dst < 0) return -1;
    p_.unitOf_.push_back(static_cast<uint16_t>(unit_));
    IntProgram::Insn insn;
    insn.op = code;
    insn.dst = static_cast<uint8_t>(dst);
    insn.a = static_cast<uint8_t>(a);
    insn.b = static_cast<uint8_t>(b);
    insn.arg = arg;
    p_.code_.push_back(insn);
    return dst;
  }

  int fail() { return op(IntProgram::kFail, 0, 0, 0); }

  int constant(int value) {
    int reg = newRegister();
    if (reg < 0) return -1;
    if (p_.registers_.size() <= static_cast<size_t>(reg)) p_.registers_.resize(reg + 1, 0);
    p_.registers_[reg] = value;
    return reg;
  }

  [[nodiscard]] bool isLocal(const std::string& name) const {
    for (const std::string& local : localNames_) {
      if (local == name) return true;
    }
    return false;
  }

  int readName(const IdentAstNode* node, IntProgram::Op load, IntProgram::Preload kind) {
    if (isLocal(node->name())) {
      // Its register, once defined, read as an integer; a read before the
      // definition would reach another variable, a condition read a
      // boolean: neither has the form.
      if (load != IntProgram::kLoadInt) return -1;
      for (const auto& [local, reg] : definedLocals_) {
        if (local == node->name()) {
          p_.localReads_.push_back(node);
          return reg;
        }
      }
      return -1;
    }
    int name = nameIndex(node);
    if (name < 0) return -1;
    IntProgram::Preload& preload = p_.preload_[name];
    if (preload != IntProgram::kNotRead && preload != kind) mixedReads_ = true;
    preload = kind;
    return op(load, 0, 0, name, p_.nameRegisters_[name]);
  }

  int newUnit(IntProgram::UnitKind kind, const AstNode* node) {
    if (p_.units_.size() >= 0xFFFF) return -1;
    IntProgram::Unit unit;
    unit.kind = kind;
    unit.node = node;
    p_.units_.push_back(unit);
    unit_ = static_cast<int>(p_.units_.size() - 1);
    return unit_;
  }

  // The unit's code ends here; the operations that follow belong to
  // `outer`.
  bool endUnit(int unit, int outer = 0) {
    p_.units_[unit].resume = static_cast<int32_t>(p_.code_.size());
    unit_ = outer;
    return true;
  }

  // A statement executed the ordinary way in its place.
  bool general(const StmtAstNode* statement) {
    int outer = unit_;
    int unit = newUnit(IntProgram::kStatementUnit, statement);
    return unit >= 0 && op(IntProgram::kGeneral, 0, 0, unit, 0) >= 0 && endUnit(unit, outer);
  }

  // The statements of a block that needs no scope of its own (as
  // StmtListAstNode::execute runs them), else the statement.
  bool emitBody(const StmtAstNode* body, int nesting) {
    if (nesting > kMaxNesting) return false;
    if (body->getType() == AstNode::STMT_LIST && body->leadingOutput() == nullptr) {
      const auto* list = static_cast<const StmtListAstNode*>(body);
      if (list->scopeKind() == AbstractVarSet::kBlockScope && !list->declaresLet()) {
        for (const auto& entry : list->entries()) {
          if (!emitStatement(entry.statement.get(), nesting + 1)) return false;
        }
        return true;
      }
    }
    return emitStatement(body, nesting);
  }

  // What an expression run for its effects can be in the program: an
  // assignment of an integer expression to a name, to a member of a
  // variable (`o.name`, `o["name"]`) or to an element of one (`a[i]`), or
  // ++/-- of a name.
  enum EffectForm { kNoForm, kNameStore, kMemberStore, kElementStore, kNameStep };
  static EffectForm effectForm(const ExprAstNode* e) {
    if (e->getType() == AstNode::INCREMENT || e->getType() == AstNode::DECREMENT) {
      return static_cast<const IncDecAstNode*>(e)->operand()->getType() == AstNode::IDENT ? kNameStep
                                                                                          : kNoForm;
    }
    if (e->getType() != AstNode::ASSIGNMENT_EXPR) return kNoForm;
    const auto* assignment = static_cast<const AssignmentExprAstNode*>(e);
    if (assignment->value()->getType() == AstNode::FN_CALL) return kNoForm;
    const ExprAstNode* target = assignment->target();
    switch (target->getType()) {
      case AstNode::IDENT:
        return kNameStore;
      case AstNode::MEMBER_DEREF: {
        const auto* deref = static_cast<const MemberDerefAstNode*>(target);
        return deref->object()->getType() == AstNode::IDENT && deref->member() != nullptr &&
                       deref->member()->getType() == AstNode::IDENT
                   ? kMemberStore
                   : kNoForm;
      }
      case AstNode::ARRAY_DEREF: {
        const auto* deref = static_cast<const ArrayDerefAstNode*>(target);
        if (deref->object()->getType() != AstNode::IDENT || deref->indexes().size() != 1) return kNoForm;
        return memberText(deref->indexes()[0].get()) != nullptr ? kMemberStore : kElementStore;
      }
      default:
        return kNoForm;
    }
  }

  // The text of a string literal index (o["name"]), else null.
  static const char* memberText(const ExprAstNode* index) {
    if (index->getType() != AstNode::LITERAL) return nullptr;
    const Token& token = static_cast<const LiteralAstNode*>(index)->token();
    if (token.type == Token::LITERAL_NULL || token.type == Token::LITERAL_UNDEFINED) return nullptr;
    return token.value.getType() == ANY_STRING && !token.value.isOpaque() ? token.value.getString() : nullptr;
  }

  // The effect in the program (its store its last operation); false when
  // it has no form there or the program would be too large.
  bool emitFastEffect(const ExprAstNode* e) {
    EffectForm form = effectForm(e);
    if (form == kNoForm) return false;
    if (form == kNameStep) {
      const auto* incDec = static_cast<const IncDecAstNode*>(e);
      int name = nameIndex(static_cast<const IdentAstNode*>(incDec->operand()));
      return name >= 0 && op(IntProgram::kStep, 0, e->getType() == AstNode::INCREMENT ? 0 : 1, name, 0) >= 0;
    }
    const auto* assignment = static_cast<const AssignmentExprAstNode*>(e);
    const ExprAstNode* target = assignment->target();
    if (form == kNameStore) {
      int value = emitInt(assignment->value(), 1);
      int name = value < 0 ? -1 : nameIndex(static_cast<const IdentAstNode*>(target));
      return name >= 0 && op(IntProgram::kStore, value, 0, name, 0) >= 0;
    }
    const ExprAstNode* object;
    const char* member = nullptr;
    const ExprAstNode* index = nullptr;
    if (target->getType() == AstNode::MEMBER_DEREF) {
      const auto* deref = static_cast<const MemberDerefAstNode*>(target);
      object = deref->object();
      member = static_cast<const IdentAstNode*>(deref->member())->name().c_str();
    } else {
      const auto* deref = static_cast<const ArrayDerefAstNode*>(target);
      object = deref->object();
      member = memberText(deref->indexes()[0].get());
      if (member == nullptr) index = deref->indexes()[0].get();
    }
    int name = nameIndex(static_cast<const IdentAstNode*>(object));
    int position = name < 0 || index == nullptr ? 0 : emitInt(index, 1);
    int value = name < 0 || position < 0 ? -1 : emitInt(assignment->value(), 1);
    if (value < 0) return false;
    if (member != nullptr) {
      p_.texts_.push_back(member);
      return op(IntProgram::kStoreMember, name, value, static_cast<int32_t>(p_.texts_.size() - 1), 0) >= 0;
    }
    return op(IntProgram::kStoreElement, name, position, 0, value) >= 0;
  }

  // `name = f(arguments)`: f a name, each argument a name, an integer
  // operator expression or an integer literal.
  static bool isCallForm(const ExprAstNode* e) {
    if (e->getType() != AstNode::ASSIGNMENT_EXPR) return false;
    const auto* assignment = static_cast<const AssignmentExprAstNode*>(e);
    if (assignment->target()->getType() != AstNode::IDENT || assignment->value()->getType() != AstNode::FN_CALL) {
      return false;
    }
    const auto* call = static_cast<const FnCallAstNode*>(assignment->value());
    if (!call->calleeIsName() || call->isNew() || call->hasMemberName()) return false;
    for (const ExprPtr& argument : call->args()) {
      AstNode::Kind kind = argument->getType();
      if (kind == AstNode::LITERAL) {
        // A fresh integer, as the literal's value is.
        const Any& v = static_cast<const LiteralAstNode*>(argument.get())->token().value;
        if (v.getType() != ANY_INT32 || v.isOpaque() || v.getSubtype() != 0) return false;
      } else if (kind != AstNode::IDENT && !AstNode::isIntOperator(kind)) {
        return false;
      }
    }
    return true;
  }

  bool emitCall(const AssignmentExprAstNode* assignment) {
    const auto* call = static_cast<const FnCallAstNode*>(assignment->value());
    IntProgram::CallSite site;
    site.assignment = assignment;
    site.call = call;
    for (const ExprPtr& argument : call->args()) {
      if (argument->getType() == AstNode::IDENT) {
        int name = nameIndex(static_cast<const IdentAstNode*>(argument.get()));
        if (name < 0) return false;
        site.arguments.push_back(-1 - name);
      } else {
        int reg = emitInt(argument.get(), 1);
        if (reg < 0) return false;
        site.arguments.push_back(reg);
      }
    }
    p_.calls_.push_back(std::move(site));
    return op(IntProgram::kCall, 0, 0, static_cast<int32_t>(p_.calls_.size() - 1), 0) >= 0;
  }

  // The loop's step: in the program when it can be, else run the ordinary
  // way.
  bool emitEffect(const ExprAstNode* e) {
    size_t mark = p_.code_.size();
    if (emitFastEffect(e)) return true;
    if (p_.code_.size() != mark) return false;  // too large
    return op(IntProgram::kGeneral, 0, 0, unit_, 0) >= 0;
  }

  bool emitStatement(const StmtAstNode* statement, int nesting) {
    if (nesting > kMaxNesting) return false;
    if (statement->leadingOutput() != nullptr) return general(statement);
    switch (statement->getType()) {
      case AstNode::ASSIGNMENT_STMT: {
        const auto* s = static_cast<const AssignmentStmtAstNode*>(statement);
        if (s->declaresFunction()) return general(statement);
        const ExprAstNode* e = s->expression();
        if (isCallForm(e)) {
          int outer = unit_;
          int unit = newUnit(IntProgram::kStatementUnit, statement);
          return unit >= 0 && emitCall(static_cast<const AssignmentExprAstNode*>(e)) && endUnit(unit, outer);
        }
        if (effectForm(e) == kNoForm) return general(statement);
        int outer = unit_;
        int unit = newUnit(IntProgram::kStatementUnit, statement);
        return unit >= 0 && emitFastEffect(e) && endUnit(unit, outer);
      }
      case AstNode::IF_STMT: {
        const auto* s = static_cast<const IfStmtAstNode*>(statement);
        for (const auto& branch : s->branches()) {
          if (branch.statement->declaresLet()) return general(statement);
        }
        int outer = unit_;
        int unit = newUnit(IntProgram::kStatementUnit, statement);
        if (unit < 0) return false;
        std::vector<size_t> toEnd;
        for (const auto& branch : s->branches()) {
          size_t skip = 0;
          if (branch.condition) {
            int taken = emitCond(branch.condition.get(), nesting + 1);
            if (taken < 0) return false;
            skip = p_.code_.size();
            if (op(IntProgram::kJumpIfZero, taken, 0, 0, 0) < 0) return false;
          }
          if (!emitBody(branch.statement.get(), nesting + 1)) return false;
          unit_ = unit;
          toEnd.push_back(p_.code_.size());
          if (op(IntProgram::kJump, 0, 0, 0, 0) < 0) return false;
          if (branch.condition) p_.code_[skip].arg = static_cast<int32_t>(p_.code_.size());
          if (!branch.condition) break;  // an else ends the chain
        }
        for (size_t at : toEnd) p_.code_[at].arg = static_cast<int32_t>(p_.code_.size());
        hasJumps_ = true;
        return endUnit(unit, outer);
      }
      case AstNode::STMT_LIST: {
        const auto* list = static_cast<const StmtListAstNode*>(statement);
        if (list->scopeKind() != AbstractVarSet::kBlockScope || list->declaresLet())
          return general(statement);
        return emitBody(statement, nesting);
      }
      case AstNode::LET_OR_VAR: {
        // `var name = <integer operator expression>` or `var name = other`
        // (a copy of other's integer): defined in the program when the
        // call's frame has the name (LetOrVarAstNode::defineInFrame).
        const auto* s = static_cast<const LetOrVarAstNode*>(statement);
        const ExprAstNode* value = s->value();
        if (s->kind() != LetOrVarAstNode::kVar || value == nullptr) return general(statement);
        bool copy = value->getType() == AstNode::IDENT;
        if (!copy && !AstNode::isIntOperator(value->getType())) return general(statement);
        int outer = unit_;
        int unit = newUnit(IntProgram::kStatementUnit, statement);
        if (unit < 0) return false;
        if (copy) {
          int name = nameIndex(static_cast<const IdentAstNode*>(value));
          if (name < 0 || op(IntProgram::kDefineCopy, name, 0, unit, 0) < 0) return false;
        } else {
          int reg = emitInt(value, nesting + 1);
          if (reg < 0 || op(IntProgram::kDefine, reg, 0, unit, 0) < 0) return false;
        }
        return endUnit(unit, outer);
      }
      case AstNode::RETURN_STMT: {
        // `return <integer operator or comparison>`: a fresh value either
        // way (a bare name would keep its subtype: the ordinary way).
        const auto* s = static_cast<const ReturnStmtAstNode*>(statement);
        const ExprAstNode* value = s->value();
        if (value == nullptr) return general(statement);
        bool isInt = AstNode::isIntOperator(value->getType());
        if (!isInt && value->getType() != AstNode::COMPARE && value->getType() != AstNode::EQUALS) {
          return general(statement);
        }
        int outer = unit_;
        int unit = newUnit(IntProgram::kStatementUnit, statement);
        if (unit < 0) return false;
        int reg = isInt ? emitInt(value, nesting + 1) : emitCond(value, nesting + 1);
        if (reg < 0 || op(isInt ? IntProgram::kReturnInt : IntProgram::kReturnBool, reg, 0, 0, 0) < 0) return false;
        return endUnit(unit, outer);
      }
      default:
        return general(statement);
    }
  }

  int32_t addNode(const ExprAstNode* node) {
    p_.nodes_.push_back(node);
    return static_cast<int32_t>(p_.nodes_.size() - 1);
  }

  int subtree(IntProgram::Op code, const ExprAstNode* node) { return op(code, 0, 0, addNode(node)); }

  int emitBinary(const BinaryExprAstNode* node, int nesting) {
    IntProgram::Op code = binaryOp(operatorOf(node));
    if (code == IntProgram::kFail) return fail();
    int a = emitInt(node->left(), nesting + 1);
    int b = a < 0 ? -1 : emitInt(node->right(), nesting + 1);
    return b < 0 ? -1 : op(code, a, b, 0);
  }

  IntProgram& p_;
  int unit_ = 0;  // the unit of the operations emitted now
  int registers_ = 0;
  std::vector<std::string> localNames_;
  std::vector<std::pair<std::string, int>> definedLocals_;
  bool hasJumps_ = false;
  bool mixedReads_ = false;
};

std::unique_ptr<IntProgram> IntProgram::build(const ExprAstNode* root, Mode mode, const IdentAstNode* store) {
  std::unique_ptr<IntProgram> program(new IntProgram());
  IntProgramBuilder builder(*program);
  program->result_ = mode == kInt ? builder.emitInt(root, 0) : builder.emitCond(root, 0);
  if (program->result_ < 0) return nullptr;
  if (store != nullptr) {
    program->storeName_ = builder.nameIndex(store);
    if (program->storeName_ < 0) return nullptr;
  }
  builder.finish();
  program->unitOf_.clear();
  program->registers_.resize(static_cast<size_t>(builder.registerCount()), 0);
  program->slots_.assign(program->names_.size(), nullptr);
  program->ownIndex_.assign(program->names_.size(), -1);
  program->memberBlocked_.assign(program->nodes_.size(), 0);
  return program;
}

std::unique_ptr<IntProgram> IntProgram::buildCall(const ExprAstNode* root, Mode mode,
                                                  const std::vector<std::string>& parameters,
                                                  const std::vector<const LetOrVarAstNode*>& locals) {
  std::unique_ptr<IntProgram> program;
  if (locals.empty()) {
    program = build(root, mode, nullptr);
  } else {
    std::vector<std::string> names;
    for (const LetOrVarAstNode* local : locals) {
      for (const std::string& other : names) {
        if (other == local->name()) return nullptr;
      }
      for (const std::string& parameter : parameters) {
        if (parameter == local->name()) return nullptr;
      }
      if (local->value() == nullptr) return nullptr;
      names.push_back(local->name());
    }
    program.reset(new IntProgram());
    IntProgramBuilder builder(*program);
    builder.setLocalNames(std::move(names));
    for (const LetOrVarAstNode* local : locals) {
      int reg = builder.emitInt(local->value(), 0);
      if (reg < 0) return nullptr;
      builder.defineLocal(local->name(), reg);
    }
    program->result_ = mode == kInt ? builder.emitInt(root, 0) : builder.emitCond(root, 0);
    if (program->result_ < 0) return nullptr;
    builder.finish();
    program->unitOf_.clear();
    program->registers_.resize(static_cast<size_t>(builder.registerCount()), 0);
    program->slots_.assign(program->names_.size(), nullptr);
    program->ownIndex_.assign(program->names_.size(), -1);
    program->memberBlocked_.assign(program->nodes_.size(), 0);
  }
  if (program == nullptr || program->never_) return nullptr;
  for (const Insn& insn : program->code_) {
    if (insn.op == kFail || insn.op == kIntNode || insn.op == kCondNode) return nullptr;
  }
  program->parameterOf_.assign(program->names_.size(), -1);
  for (size_t i = 0; i < program->names_.size(); i++) {
    for (size_t k = 0; k < parameters.size(); k++) {
      if (program->names_[i]->name() == parameters[k]) program->parameterOf_[i] = static_cast<int>(k);
    }
  }
  return program;
}

std::unique_ptr<IntProgram> IntProgram::buildLoop(const ExprAstNode* condition, const StmtAstNode* body,
                                                  const ExprAstNode* step) {
  if (body == nullptr || body->declaresLet()) return nullptr;
  std::unique_ptr<IntProgram> program(new IntProgram());
  IntProgramBuilder builder(*program);
  if (!builder.emitLoop(condition, body, step)) return nullptr;
  // Names are read where they are used: the statements change them.
  program->prepareStatements(body, builder.registerCount());
  return program;
}

void IntProgram::prepareStatements(const StmtAstNode* body, int registerCount) {
  body_ = body;
  registers_.resize(static_cast<size_t>(registerCount), 0);
  slots_.assign(names_.size(), nullptr);
  ownIndex_.assign(names_.size(), -1);
  memberBlocked_.assign(nodes_.size(), 0);
}

std::unique_ptr<IntProgram> IntProgram::buildBody(const StmtListAstNode* body) {
  if (body == nullptr) return nullptr;
  std::unique_ptr<IntProgram> program(new IntProgram());
  IntProgramBuilder builder(*program);
  if (!builder.emitFunctionBody(body)) return nullptr;
  // Nothing runs in the program: no use for it.
  bool any = false;
  for (const Insn& insn : program->code_) {
    if (insn.op != kGeneral && insn.op != kFinish) any = true;
  }
  if (!any) return nullptr;
  program->prepareStatements(body, builder.registerCount());
  return program;
}

void IntProgram::bind(Parser* parser) const {
  AbstractVarSet* scope = parser->getCurrentScope();
  uint64_t epoch = AbstractVarSet::shapeEpoch();
  // Under the epoch of the last binding only the scope changed (a call's
  // fresh scope, a loop entered again): no name has become a registered
  // prototype, and a name that was found in the scope itself is tried at
  // the same place first (nothing can hide a variable of the innermost
  // scope).
  bool sameEpoch = epoch == boundEpoch_;
  VarSet* set = sameEpoch ? scope->asVarSet() : nullptr;
  if (set != nullptr && boundFrame_ != 0 && set->frameKey() == boundFrame_) {
    // The next call of the function whose frame held every name: each is
    // at its index again (an entry not defined yet binds to its null value,
    // which the program neither reads nor stores into, so its definition
    // changes nothing bound here).
    for (size_t i = 0, n = names_.size(); i < n; i++) slots_[i] = set->frameSlot(ownIndex_[i]);
    boundScope_ = scope->serial();
    return;
  }
  boundFrame_ = 0;
  parametersBlocked_ = false;
  if (set != nullptr && parameterOf_.empty() && localReads_.empty()) {
    // The common case of a new scope of the same shape (the next call of
    // a function): every name that was found in the scope itself is at
    // the same place again; the others are looked up as below.
    for (size_t i = 0, n = names_.size(); i < n; i++) {
      Any* slot = ownIndex_[i] >= 0 ? set->slotAt(ownIndex_[i], names_[i]->name().c_str()) : nullptr;
      if (slot == nullptr) {
        slot = names_[i]->variable(parser);
        ownIndex_[i] = slot != nullptr ? names_[i]->ownIndex() : -1;
      }
      slots_[i] = slot;
    }
    boundScope_ = scope->serial();
    noteFrame(set);
    return;
  }
  for (size_t i = 0; i < names_.size(); i++) {
    if (!parameterOf_.empty() && parameterOf_[i] >= 0) {
      // A parameter named after a registered prototype reads the
      // prototype, not its argument (a registration moves the epoch).
      if (names_[i]->registeredPrototype() != nullptr) parametersBlocked_ = true;
      continue;
    }
    Any* slot = nullptr;
    if (set != nullptr && ownIndex_[i] >= 0) slot = set->slotAt(ownIndex_[i], names_[i]->name().c_str());
    if (slot == nullptr) {
      slot = names_[i]->variable(parser);
      ownIndex_[i] = slot != nullptr ? names_[i]->ownIndex() : -1;
    }
    slots_[i] = slot;
  }
  // A local named after a registered prototype: its reads give the
  // prototype, as for a parameter.
  for (const IdentAstNode* read : localReads_) {
    if (read->registeredPrototype() != nullptr) parametersBlocked_ = true;
  }
  if (!sameEpoch) {
    // A member that names a registered prototype reads the prototype (no
    // integer); a registration moves the epoch, so this holds while bound.
    for (size_t i = 0; i < nodes_.size(); i++) {
      const ExprAstNode* node = nodes_[i];
      memberBlocked_[i] = 0;
      if (node->getType() != AstNode::MEMBER_DEREF) continue;
      const auto* member =
          static_cast<const IdentAstNode*>(static_cast<const MemberDerefAstNode*>(node)->member());
      memberBlocked_[i] = member->registeredPrototype() != nullptr ? 1 : 0;
    }
  }
  boundScope_ = scope->serial();
  boundEpoch_ = epoch;
  noteFrame(scope->asVarSet());
}

void IntProgram::noteFrame(VarSet* set) const {
  boundFrame_ = 0;
  if (set == nullptr || set->frameKey() == 0 || !parameterOf_.empty() || !localReads_.empty() || names_.empty()) {
    return;
  }
  for (size_t i = 0, n = names_.size(); i < n; i++) {
    if (slots_[i] == nullptr || ownIndex_[i] < 0 || (ownIndex_[i] & VarSet::kFrameIndex) == 0) return;
  }
  boundFrame_ = set->frameKey();
}

namespace {

inline bool intIn(const Any* value, int* out) {
  if (value == nullptr || value->getType() != ANY_INT32 || value->isOpaque()) return false;
  *out = value->getInt32();
  return true;
}

inline bool boolIn(const Any* value, int* out) {
  if (value == nullptr || value->getType() != ANY_BOOL || value->isOpaque()) return false;
  *out = value->getBool() ? 1 : 0;
  return true;
}

// name.member of an array or attribute set in the variable, or the length
// of a text in it (as MemberDerefAstNode::evalInt reads them).
[[gnu::noinline]] bool textLengthMember(const Any* variable, const MemberDerefAstNode* node, int* out) {
  return static_cast<const IdentAstNode*>(node->member())->name() == "length" && interp::textLength(variable, out);
}

bool memberInt(const Any* variable, const MemberDerefAstNode* node, int* out) {
  if (variable == nullptr) return false;
  const Translatable* target = interp::refTarget(*variable);
  if (target == nullptr) return textLengthMember(variable, node, out);
  const char* name = static_cast<const IdentAstNode*>(node->member())->name().c_str();
  int id = target->getObjectID();
  if (id == OBJ_ATTRIBUTES_ID) return intIn(static_cast<const Attributes*>(target)->getAttribute(name), out);
  if (id != OBJ_ANYARRAY_ID || std::strcmp(name, "length") != 0) return false;
  *out = static_cast<const AnyArray*>(target)->size();
  return true;
}

// name[index] of an array in the variable (as ArrayDerefAstNode::evalInt).
inline bool elementInt(const Any* variable, int index, int* out) {
  if (variable == nullptr) return false;
  const Translatable* target = interp::refTarget(*variable);
  if (target == nullptr || target->getObjectID() != OBJ_ANYARRAY_ID) return false;
  return intIn(static_cast<const AnyArray*>(target)->get(index), out);
}

}  // namespace

// The operations of the expressions, shared by both interpreters below;
// FAIL is what a run does when an operation gives up.
// KEL_CASE(op) starts the operation `op` and KEL_NEXT goes on with the next
// one; each interpreter below defines both.
#define KEL_INT_PROGRAM_EXPRESSION_CASES(FAIL)                                                             \
  KEL_CASE(kFail) FAIL;                                                                                    \
  KEL_CASE(kLoadInt) if (!intIn(slots[p->arg], &reg[p->dst])) FAIL;                                        \
  KEL_NEXT;                                                                                                \
  KEL_CASE(kLoadBool) if (!boolIn(slots[p->arg], &reg[p->dst])) FAIL;                                      \
  KEL_NEXT;                                                                                                \
  KEL_CASE(kMember)                                                                                        \
  if (memberBlocked_[p->arg] != 0 ||                                                                       \
      !memberInt(slots[p->a], static_cast<const MemberDerefAstNode*>(nodes_[p->arg]), &reg[p->dst])) FAIL; \
  KEL_NEXT;                                                                                                \
  KEL_CASE(kElement) if (!elementInt(slots[p->a], reg[p->b], &reg[p->dst])) FAIL;                          \
  KEL_NEXT;                                                                                                \
  KEL_CASE(kIntNode) if (!nodes_[p->arg]->evalInt(parser, &reg[p->dst])) FAIL;                             \
  KEL_NEXT;                                                                                                \
  KEL_CASE(kCondNode) {                                                                                    \
    bool v;                                                                                                \
    if (!nodes_[p->arg]->evalCond(parser, &v)) FAIL;                                                       \
    reg[p->dst] = v ? 1 : 0;                                                                               \
  }                                                                                                        \
  KEL_NEXT;                                                                                                \
  KEL_CASE(kMove) reg[p->dst] = reg[p->a];                                                                 \
  KEL_NEXT;                                                                                                \
  KEL_CASE(kNegate) reg[p->dst] = static_cast<int>(0u - static_cast<unsigned>(reg[p->a]));                 \
  KEL_NEXT;                                                                                                \
  KEL_CASE(kNot) reg[p->dst] = reg[p->a] == 0 ? 1 : 0;                                                     \
  KEL_NEXT;                                                                                                \
  KEL_CASE(kJumpIfZero) if (reg[p->a] == 0) p = code + p->arg - 1;                                         \
  KEL_NEXT;                                                                                                \
  KEL_CASE(kJumpIfNotZero) if (reg[p->a] != 0) p = code + p->arg - 1;                                      \
  KEL_NEXT;

#define KEL_OP_CASE(name, expr) \
  KEL_CASE(k##name) {           \
    int a = reg[p->a];          \
    int b = reg[p->b];          \
    int r;                      \
    expr;                       \
    reg[p->dst] = r;            \
  }                             \
  KEL_NEXT;

bool IntProgram::evaluate(Parser* parser, int* out) const {
  Any* const* slots = slots_.data();
  int* reg = registers_.data();
  for (size_t i = 0, n = preload_.size(); i < n; i++) {
    switch (preload_[i]) {
      case kReadInt:
        if (!intIn(slots[i], &reg[nameRegisters_[i]])) return false;
        break;
      case kReadBool:
        if (!boolIn(slots[i], &reg[nameRegisters_[i]])) return false;
        break;
      default:
        break;
    }
  }
  const Insn* code = code_.data();
  const Insn* end = code + code_.size();
  for (const Insn* p = code; p != end; ++p) {
    switch (p->op) {
#define KEL_CASE(op) case op:
#define KEL_NEXT break
#define KEL_GIVE_UP return false
      KEL_INT_PROGRAM_EXPRESSION_CASES(return false)
      KEL_INT_PROGRAM_BINARY(KEL_OP_CASE)
#undef KEL_GIVE_UP
#undef KEL_NEXT
#undef KEL_CASE
      default:
        return false;
    }
  }
  int result = reg[result_];
  if (storeName_ >= 0) {
    // A variable holding null may be a frame entry not defined yet.
    if (slots[storeName_] == nullptr || slots[storeName_]->isNull()) return false;
    slots[storeName_]->set(result);
  }
  *out = result;
  return true;
}

bool IntProgram::run(Parser* parser, int* out) const {
  if (never_) return false;
  const AbstractVarSet* scope = parser->getCurrentScope();
  if (scope == nullptr) return false;
  if (boundScope_ != scope->serial() || boundEpoch_ != AbstractVarSet::shapeEpoch()) bind(parser);
  if (!parser->hasStackRoom()) return false;
  return evaluate(parser, out);
}

bool IntProgram::runCall(Parser* parser, Any* const* args, int* out) const {
  const AbstractVarSet* scope = parser->getCurrentScope();
  if (scope == nullptr) return false;
  if (boundScope_ != scope->serial() || boundEpoch_ != AbstractVarSet::shapeEpoch()) bind(parser);
  if (parametersBlocked_ || !parser->hasStackRoom()) return false;
  for (size_t i = 0, n = parameterOf_.size(); i < n; i++) {
    if (parameterOf_[i] >= 0) slots_[i] = args[parameterOf_[i]];
  }
  return evaluate(parser, out);
}

bool IntProgram::runCallSite(Parser* parser, const CallSite& site, Translatable* function) const {
  // As AssignmentExprAstNode::assign and FnCallAstNode::evalValue check
  // before the call.
  if (!parser->stackRoom(site.assignment) || !parser->stackRoom(site.call) || !parser->charge(site.call)) {
    return false;
  }
  ObjRef hold(function);  // the body may drop the variable's reference
  interp::Arguments arguments(site.arguments.size());
  for (size_t i = 0; i < site.arguments.size(); i++) {
    int argument = site.arguments[i];
    if (argument < 0) {
      kelCopyValue(arguments[i], *slots_[-1 - argument]);
    } else {
      arguments[i].set(registers_[argument]);
    }
  }
  Any result;
  int rc = static_cast<Function*>(function)->invoke(parser, site.call->location(), arguments.pointers(), result);
  if (rc != 0) return interp::fail(parser, site.call, interp::kEval, rc);
  return interp::assignToName(parser, site.assignment, result);
}

IntProgram::LoopResult IntProgram::runLoop(Parser* parser, const StmtAstNode* loop) const {
  AbstractVarSet* scope = parser->getCurrentScope();
  // A flag already pending (the embedding's) stops a body after its first
  // statement: the ordinary loop does that.
  if (scope == nullptr || !parser->hasStackRoom() || parser->flags() != 0) return kContinueAtTurn;
  bind(parser);
  if (loop != nullptr && !parser->charge(loop)) return kFailed;
  Any* const* slots = slots_.data();
  int* reg = registers_.data();
  const Insn* code = code_.data();
  const Insn* p = code;
  int unit;
  // Each operation goes straight to the next one's code (the dispatch is
  // repeated at the end of every operation rather than shared by all, so
  // that the processor learns which operation follows which). The table
  // lists the operations in the order of their codes.
  static const void* const kTargets[] = {
#define KEL_TARGET(op) &&op_##op,
      KEL_INT_PROGRAM_OPS(KEL_TARGET)
#undef KEL_TARGET
#define KEL_BINARY_TARGET(name, expr) &&op_k##name,
          KEL_INT_PROGRAM_BINARY(KEL_BINARY_TARGET)
#undef KEL_BINARY_TARGET
  };
#define KEL_CASE(op) op_##op:
#define KEL_NEXT           \
  do {                     \
    ++p;                   \
    goto* kTargets[p->op]; \
  } while (0)
#define KEL_GIVE_UP goto giveUp
  goto* kTargets[p->op];
  KEL_INT_PROGRAM_EXPRESSION_CASES(goto giveUp)
  KEL_INT_PROGRAM_BINARY(KEL_OP_CASE)
op_kStore : {
  // A variable holding null may be a frame entry not defined yet: the
  // ordinary assignment decides.
  Any* variable = slots[p->arg];
  if (variable == nullptr || variable->isNull()) goto giveUp;
  variable->set(reg[p->a]);
}
  KEL_NEXT;
op_kStep : {
  // In place, keeping the subtype (as IncDecAstNode::runForEffects).
  Any* variable = slots[p->arg];
  if (variable == nullptr || variable->getType() != ANY_INT32 || variable->isOpaque()) goto giveUp;
  int sub = variable->getSubtype();
  variable->set(static_cast<int>(static_cast<unsigned>(variable->getInt32()) + (p->b != 0 ? ~0u : 1u)));
  variable->setSubtype(sub);
}
  KEL_NEXT;
op_kStoreMember : {
  // As the store of an integer into a member (assignToContainer): an
  // attribute set's own value takes it in place; every other store takes
  // the ordinary way.
  Any* variable = slots[p->a];
  Translatable* target = variable != nullptr ? interp::refTarget(*variable) : nullptr;
  if (target == nullptr) goto giveUp;
  Any value(reg[p->b]);
  if (!assignMemberInPlace(target, texts_[p->arg], value)) goto giveUp;
}
  KEL_NEXT;
op_kStoreElement : {
  Any* variable = slots[p->a];
  Translatable* target = variable != nullptr ? interp::refTarget(*variable) : nullptr;
  if (target == nullptr || target->getObjectID() != OBJ_ANYARRAY_ID) goto giveUp;
  Any* element = static_cast<AnyArray*>(target)->get(reg[p->b]);
  if (element == nullptr) goto giveUp;
  element->set(reg[p->dst]);
}
  KEL_NEXT;
op_kJump:
  p = code + p->arg;
  goto* kTargets[p->op];
op_kExitIfZero:
  if (reg[p->a] == 0) return kDone;
  KEL_NEXT;
op_kGeneral:
  unit = p->arg;
  goto ordinary;
op_kBodyEnd:
  if (parser->flags() != 0 && interp::loopShouldStop(parser)) return kDone;
  KEL_NEXT;
op_kTurnEnd:
  if (!parser->charge(loop)) return kFailed;
  p = code;
  goto* kTargets[p->op];
op_kDefine:
  if (!static_cast<const LetOrVarAstNode*>(units_[p->arg].node)->defineIntInFrame(parser, reg[p->a], 0)) {
    goto giveUp;
  }
  // A definition where some lookup went past (a name read from the caller
  // before its `var`) changes where that name leads.
  if (AbstractVarSet::shapeEpoch() != boundEpoch_) bind(parser);
  KEL_NEXT;
op_kDefineCopy : {
  const Any* source = slots[p->a];
  if (source == nullptr || source->getType() != ANY_INT32 || source->isOpaque()) goto giveUp;
  const auto* definition = static_cast<const LetOrVarAstNode*>(units_[p->arg].node);
  if (!definition->defineIntInFrame(parser, source->getInt32(), source->getSubtype())) goto giveUp;
}
  if (AbstractVarSet::shapeEpoch() != boundEpoch_) bind(parser);
  KEL_NEXT;
op_kReturnInt:
  parser->storeReturnInt(reg[p->a]);
  KEL_NEXT;
op_kReturnBool:
  parser->storeReturnBool(reg[p->a] != 0);
  KEL_NEXT;
op_kFinish:
  return kDone;
op_kCall : {
  // Nothing has happened yet that the statement run the ordinary way would
  // not do again: the callee must be a kel Function and every argument a
  // value to pass (a variable holding null may be a frame entry not
  // defined yet).
  const CallSite& site = calls_[p->arg];
  const Any* callee = static_cast<const IdentAstNode*>(site.call->target())->variable(parser);
  Translatable* function = callee != nullptr ? interp::refTarget(*callee) : nullptr;
  if (function == nullptr || typeid(*function) != typeid(Function) || scope->asVarSet() == nullptr) goto giveUp;
  for (int argument : site.arguments) {
    if (argument < 0 && (slots[-1 - argument] == nullptr || slots[-1 - argument]->isNull())) goto giveUp;
  }
  int32_t resume = units_[unitOf_[p - code]].resume;
  if (!runCallSite(parser, site, function)) return kFailed;
  // A flag (break, continue, the embedding's) ends the body.
  p = code + (parser->flags() != 0 ? bodyEnd_ : resume);
  goto afterUnit;
}
#undef KEL_GIVE_UP
#undef KEL_NEXT
#undef KEL_CASE

giveUp:
  unit = unitOf_[p - code];
ordinary : {
  // The unit the ordinary way, then on after it.
  const Unit& u = units_[unit];
  switch (u.kind) {
    case kConditionUnit: {
      bool go;
      if (!interp::expectBoolean(parser, static_cast<const ExprAstNode*>(u.node), &go)) return kFailed;
      if (!go) return kDone;
      if (parser->flags() != 0) return kContinueAtBody;
      p = code + u.resume;
      break;
    }
    case kStatementUnit:
      if (static_cast<const StmtAstNode*>(u.node)->execute(parser) == 0) return kFailed;
      // A flag (break, continue, the embedding's) ends the body.
      p = code + (parser->flags() != 0 ? bodyEnd_ : u.resume);
      break;
    default:
      if (!interp::runForEffects(parser, static_cast<const ExprAstNode*>(u.node))) return kFailed;
      if (parser->flags() != 0) return kContinueAtTurn;
      p = code + u.resume;
      break;
  }
}
afterUnit:
  // What ran may have changed the scopes.
  if (scope->serial() != boundScope_ || AbstractVarSet::shapeEpoch() != boundEpoch_) bind(parser);
  goto* kTargets[p->op];
}
#undef KEL_OP_CASE
#undef KEL_INT_PROGRAM_EXPRESSION_CASES
