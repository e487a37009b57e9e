// IntProgram: the flat form of an effect-free integer or condition
// expression (what the fast forms evalInt/evalCond compute), built once on
// the syntax node and run without walking the tree. Internal to kel.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "kel/ast/expr_nodes.h"
#include "model/any.h"

class LetOrVarAstNode;
class StmtListAstNode;
class VarSet;
class Parser;

// The instructions are three-address operations on a small register file:
// the names' values, the literals, and one register per operator result.
// The names of the program are bound to their variables together, under
// one scope serial and shape epoch (the condition under which
// IdentAstNode::variable keeps its answer). A program without short-cut
// operators reads every name it uses before its first operation (each
// would be read anyway, and a name that is not an integer makes the run
// fail whichever is read first); with them a name is read where it is used.
//
// A run answers only when every value on the way is a plain 32-bit integer
// (or a boolean where a condition is read); otherwise it fails having
// changed nothing and stored no error, and the caller evaluates the tree
// the ordinary way, which gives the same result or reports the error where
// the tree would. Failing is always allowed.
//
// A program belongs to its node: one thread runs it at a time. An
// expression program never runs inside its own run (the subtrees it hands
// to their own fast forms are other nodes, and fast forms call nothing). A
// loop program may run again inside a statement it executes the ordinary
// way (a recursive call): no register holds a value across such a
// statement, and the names are bound again after it when the scope or the
// epoch changed.
class IntProgram {
 public:
  enum Mode : uint8_t { kInt, kCond };

  // The program of `root` in `mode` (a condition gives 0 or 1), storing the
  // result into the variable `store` names when it is not null (an
  // assignment `store = root`). Null when the tree is too large for the
  // flat form (the recursive fast forms then serve).
  [[nodiscard]] static std::unique_ptr<IntProgram> build(const ExprAstNode* root, Mode mode,
                                                         const IdentAstNode* store);

  // Runs the program: true with the result in *out (and stored, for an
  // assignment); false with nothing changed otherwise.
  [[nodiscard]] bool run(Parser* parser, int* out) const;

  // The program of a function body that is one `return root;` (root an
  // integer operator in kInt mode, a comparison in kCond mode): the names
  // in `parameters` (distinct) read the call's arguments, every other name
  // is looked up from the current scope, which is the caller's (the body's
  // own scope would hold nothing but the parameters). Null when the tree
  // has any part the program cannot compute itself (a subtree left to its
  // own fast form would look the parameters up in the scope), or is too
  // large.
  // `locals` are the body's `var name = <integer operator expression>;`
  // statements before the return, in order: each value is computed into a
  // register that later reads of the name use (the body's scope would
  // hold the variable, read by nothing else). Null as well when a local's
  // name is a parameter's or another local's, or is read before its
  // definition or other than as an integer operand.
  [[nodiscard]] static std::unique_ptr<IntProgram> buildCall(const ExprAstNode* root, Mode mode,
                                                             const std::vector<std::string>& parameters,
                                                             const std::vector<const LetOrVarAstNode*>& locals);

  // Runs a call program with args[i] as the value of parameter i (each
  // present): as run(), true with the result in *out, false with nothing
  // changed. The arguments are read during the run only.
  [[nodiscard]] bool runCall(Parser* parser, Any* const* args, int* out) const;

  // The program of a for or while loop (`condition` and `step` may be null):
  // the condition, the body's statements and the step, each a unit of its
  // own. Assignments of integer expressions to names, to members of
  // attribute sets and to existing array elements held in variables, ++
  // and -- of names, and `if` over conditions of the fast forms run in the
  // program; any other statement is executed as the tree would execute it,
  // in its place.
  // A unit whose values are not of the fast forms is executed the ordinary
  // way too (it has changed nothing when it gives up: its store is its
  // last operation). Null when the body needs a scope of its own (a `let`)
  // or the loop is too large.
  [[nodiscard]] static std::unique_ptr<IntProgram> buildLoop(const ExprAstNode* condition,
                                                             const StmtAstNode* body,
                                                             const ExprAstNode* step);

  // The program of a function body, made as a loop's body is and run once
  // by runLoop(parser, nullptr) in the call's scope. Besides what a loop
  // body runs in the program, `var name = <integer operator expression>`,
  // `var name = other` (an integer) and `return <integer operator or
  // comparison>` run there too (as can they in loops). Null when the body
  // needs a scope of its own (a `let`) or nothing in it would run in the
  // program.
  [[nodiscard]] static std::unique_ptr<IntProgram> buildBody(const StmtListAstNode* body);

  // What runLoop gives: the loop's statement result (kFailed with the
  // error stored, kDone), or where the ordinary loop must take over:
  // before the body (the condition, run the ordinary way, left a flag
  // pending) or at the next turn (the step left a flag pending, or the
  // program cannot start: a flag is pending already, or the stack is low).
  enum LoopResult : int { kFailed = 0, kDone = 1, kContinueAtBody = 2, kContinueAtTurn = 3 };
  // Runs the loop `loop` (for its step budget) with this program; a body
  // program with `loop` null (kDone or kFailed once it started; it has
  // not started with kContinueAtTurn).
  [[nodiscard]] LoopResult runLoop(Parser* parser, const StmtAstNode* loop) const;

  // Instruction codes (defined with the interpreter of them).
  enum Op : uint8_t;
  struct Insn {
    uint8_t op = 0;
    uint8_t dst = 0;  // result register
    uint8_t a = 0;    // operand registers
    uint8_t b = 0;
    int32_t arg = 0;  // name index, subtree index or jump target
  };

 private:
  IntProgram() = default;
  friend class IntProgramBuilder;

  // Binds every name to its variable from the current scope (null where the
  // fast forms may not use it: operations on it then give up); the
  // parameters of a call program are left to runCall.
  void bind(Parser* parser) const;
  // The run state of a loop or body program of `body`, once built.
  void prepareStatements(const StmtAstNode* body, int registerCount);
  // Sets boundFrame_ after a binding from `set`.
  void noteFrame(VarSet* set) const;
  struct CallSite;
  // The call of `site` from `function` (a kel Function) with the arguments
  // in the registers and names, and the store of its result, as the
  // statement runs them from its checks on; false with the error stored.
  [[nodiscard]] bool runCallSite(Parser* parser, const CallSite& site, Translatable* function) const;

  // The operations of run() and runCall() once the names are bound.
  [[nodiscard]] bool evaluate(Parser* parser, int* out) const;

  // A statement, condition or step of a loop program, with the place where
  // the program goes on after it was executed the ordinary way.
  enum UnitKind : uint8_t { kConditionUnit, kStatementUnit, kStepUnit };
  struct Unit {
    UnitKind kind;
    const AstNode* node;
    int32_t resume = 0;
  };

  // How a name is read before the first operation.
  enum Preload : uint8_t { kNotRead, kReadInt, kReadBool };

  std::vector<Insn> code_;
  std::vector<const IdentAstNode*> names_;
  std::vector<uint8_t> nameRegisters_;     // the register of each name
  std::vector<Preload> preload_;           // per name
  std::vector<int> parameterOf_;           // call programs, per name: its parameter's index, or -1
  std::vector<const ExprAstNode*> nodes_;  // subtrees run by their own fast forms
  std::vector<Unit> units_;                // loop programs: the units
  std::vector<const char*> texts_;         // member names stored into (the tree's texts)
  // A statement `name = f(arguments)` run in the program: f a name, each
  // argument a name (its value copied as it is) or an integer expression.
  struct CallSite {
    const AssignmentExprAstNode* assignment;
    const FnCallAstNode* call;
    std::vector<int> arguments;  // a register, or -1 - the index of a name
  };
  std::vector<CallSite> calls_;
  std::vector<uint16_t> unitOf_;           // per operation, its unit
  int32_t bodyEnd_ = 0;                    // the operation after the body
  const StmtAstNode* body_ = nullptr;
  mutable std::vector<char> memberBlocked_;  // per subtree: a member that names a registered prototype
  bool never_ = false;                       // an operation that never answers runs whatever the values
  int result_ = 0;                           // the register of the result
  int storeName_ = -1;                       // the name the result is stored into, or -1
  mutable uint64_t boundScope_ = 0;          // serial of the scope the names were bound from (0: none)
  mutable uint64_t boundEpoch_ = 0;
  // Every name was found in the frame of the scope bound from (frame key
  // boundFrame_): a new scope of the same frame key under the same epoch
  // binds each by its frame index.
  mutable uint64_t boundFrame_ = 0;
  mutable std::vector<Any*> slots_;
  mutable std::vector<int> ownIndex_;  // per name: its entry's place when found in the scope itself, else -1
  mutable std::vector<int> registers_;
  std::vector<const IdentAstNode*> localReads_;  // call programs: the reads of locals
  mutable bool parametersBlocked_ = false;  // a parameter's or local's name is a registered prototype's
};
