// Parser: the front door of kel. One Parser holds one source text (an
// expression, a script or a scriptlet template), its lexer and three-token
// window, the syntax tree built from it, the execution state the interpreter
// uses (principal, scopes, flow flags, return value) and the first error met.
// The text is parsed once and the tree may then be executed any number of
// times. A Parser is used by one thread at a time.
#pragma once

#include <chrono>
#include <cstdarg>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "kel/error.h"
#include "kel/lexer.h"
#include "kel/location.h"
#include "kel/token.h"
#include "model/obj_ref.h"

class AbstractVarSet;
class Any;
class AstNode;
class ExprAstNode;
class Function;
class KelOutput;
class LabelList;
class OutputStmt;
class Principal;
class StmtAstNode;
class Translatable;
class StmtListAstNode;

class Parser {
 public:
  // Nesting bound: an expression or statement nested deeper than this (the
  // parser's own recursion), or a tree higher than kMaxTreeHeight, is the
  // syntax error kNestingMessage instead of a stack overflow. The figures
  // leave room on a 1 MB thread stack, also in sanitizer builds.
  static constexpr int kMaxNesting = 200;
  static constexpr int kMaxTreeHeight = 1000;
  static constexpr const char* kNestingMessage = "Expression or statement nested too deeply";

  // Directory error code of every syntax error ("Syntax Error").
  static constexpr int kSyntaxErrorCode = 105;

  // Builds the lexer over `text` from `line`/`column`, keeps a reference to
  // `rootVarSet` (may be null) as root and current scope, and reads the
  // first three tokens.
  Parser(const char* sourceName, std::string_view text, AbstractVarSet* rootVarSet, int line, int column,
         bool scriptlet);
  ~Parser();
  Parser(const Parser&) = delete;
  Parser& operator=(const Parser&) = delete;

  // ---- parsing (each returns true when no error was reported)
  // One assignment expression, then the end of the text.
  [[nodiscard]] bool parse();
  // A statement sequence, then the end of the text.
  [[nodiscard]] bool parseScript();
  // The same over a scriptlet template (the parser must have been made
  // with scriptlet = true).
  [[nodiscard]] bool parseScriptlet();
  // JSON text: a new Any referring to the Attributes or AnyArray read, or
  // null on error (the error is stored).
  [[nodiscard]] Any* parseJSON();

  // ---- execution (the interpreter)
  // Runs the script tree with `varSet` as root and current scope; non-zero
  // for success, 0 when there is no script tree.
  [[nodiscard]] int executeScript(const Principal* principal, AbstractVarSet* varSet);
  // Evaluates the expression tree to a plain value into *result.
  [[nodiscard]] bool executeExpression(const Principal* principal, AbstractVarSet* varSet, Any** result);

  // Runs every ".js" script file below `path` (a file or a directory, read
  // recursively, entries in name order) against `varSet`. Failures are
  // logged; the result is 0, or the directory error code of a path that
  // cannot be read.
  static int source(const Principal* principal, AbstractVarSet* varSet, const char* path);
  static int source(const Principal* principal, AbstractVarSet* varSet, const char* path,
                    const char* relativeName);

  // ---- errors
  // Reports a syntax error at the current token (or at `location`): stores
  // an Error (SyntaxError, code 105, the message, a traceback) unless one is
  // stored already, and sets the error flag. When the current token is a
  // lexical ERROR token its own message is reported instead, as it tells
  // the real cause.
  void pError(const char* message);
  void pError(const char* message, const Location& location);
  // Reports a run-time error of `type` whose message is the directory
  // error text of `code`, with a traceback starting at `node`.
  void throwErrorCode(const AstNode* node, int type, int code);
  // The same with the traceback starting at `location`.
  void throwErrorAt(const Location& location, int type, int code);
  // Stores a copy of `error` (unless one is stored) and sets the flag.
  void throwError(const Error& error);
  // Discards the stored error; the error flag stays as it is.
  void recover() { error_.reset(); }
  [[nodiscard]] bool hasError() const { return errorFlag_; }
  [[nodiscard]] const Error* getError() const { return error_.get(); }
  // Builds the traceback of an error raised at `location` (the first entry)
  // through the function-call scopes active now.
  void addTraceback(Error& error, const Location& location) const;

  // ---- tracing and dumps
  // Formats (at most 4095 bytes) when the debug level is at most `level`:
  // the text goes to the trace stream if one is attached, and to the log
  // ("Kel: ..." per line) while the process-wide kel log level is below 3.
  void printf(int level, const char* format, ...) __attribute__((format(printf, 3, 4)));
  // Prints the expression tree, or else the script tree, at level 2.
  void dump();
  // The debug form of the expression tree, or else of the script tree
  // (empty when neither exists).
  [[nodiscard]] std::string dumpTree() const;

  [[nodiscard]] int debugLevel() const { return debugLevel_; }
  void setDebugLevel(int level) { debugLevel_ = level; }
  void setTraceStream(KelOutput* stream) { traceStream_ = stream; }
  [[nodiscard]] KelOutput* traceStream() const { return traceStream_; }
  void setStandardOutput(KelOutput* stream) { standardOutput_ = stream; }
  [[nodiscard]] KelOutput* standardOutput() const { return standardOutput_; }

  // ---- the parsed trees and the source
  [[nodiscard]] const std::string& sourceName() const { return sourceName_; }
  [[nodiscard]] const ExprAstNode* expressionTree() const { return expressionTree_.get(); }
  [[nodiscard]] const StmtListAstNode* scriptTree() const { return scriptTree_.get(); }
  [[nodiscard]] Lex& lexer() { return lex_; }

  // ---- execution state used by the interpreter
  [[nodiscard]] const Principal* principal() const { return principal_; }
  void setPrincipal(const Principal* principal) { principal_ = principal; }
  [[nodiscard]] AbstractVarSet* rootScope() const;
  [[nodiscard]] AbstractVarSet* getCurrentScope() const { return current_; }
  // Makes `scope` both root and current scope (null drops both).
  void setScopes(AbstractVarSet* scope);
  void setCurrentScope(AbstractVarSet* scope);
  // Flow flags: 1 continue pending, 2 break pending; other bits belong to
  // the embedding and are never cleared by kel.
  enum : int { kContinuePending = 1, kBreakPending = 2 };
  [[nodiscard]] int flags() const { return flags_; }
  void setFlags(int flags) { flags_ = flags; }
  // Hands the stored return value over (null when none); the parser forgets it.
  [[nodiscard]] std::unique_ptr<Any> getReturnValue();
  void setReturnValue(std::unique_ptr<Any> value);
  // The interpreter's forms, moving values in place: store `value` (left
  // empty) as the return value; move the return value, if any, into `out`
  // (false when there is none, `out` untouched).
  void storeReturnValue(Any& value) {
    if (!returnValue_.copyPlainFrom(value)) returnValue_.takeFrom(value);
    value.clear();
    hasReturnValue_ = true;
  }
  // storeReturnValue of a fresh integer or boolean.
  void storeReturnInt(int value) {
    returnValue_.set(value);
    hasReturnValue_ = true;
  }
  void storeReturnBool(bool value) {
    returnValue_.set(value);
    hasReturnValue_ = true;
  }
  [[nodiscard]] bool takeReturnValue(Any& out) {
    if (!hasReturnValue_) return false;
    if (!out.copyPlainFrom(returnValue_)) out.takeFrom(returnValue_);
    returnValue_.clear();
    hasReturnValue_ = false;
    return true;
  }
  [[nodiscard]] const Any* switchValue() const { return switchValue_.get(); }
  void setSwitchValue(std::unique_ptr<Any> value);

  // ---- scopes (the interpreter's variable-set discipline)
  // A new VarSet of scope kind `kind` (1 block, 2 function) whose parent is
  // the current scope becomes the current scope.
  void push(int kind);
  // The same with `scope`, a new set nothing holds yet.
  void pushScope(AbstractVarSet* scope, int kind);
  // The current scope's parent becomes current, unless the current scope is
  // the root.
  void pop();
  // Pops until the root is current.
  void popAll();
  // Defines `name` with `value` (taken over, also on failure): kind 1
  // (`let`) in the current scope; otherwise (`var`) in the nearest scope of
  // kind 2. 0, 113 when no scope of kind 2 is found, or 46 when the set is
  // read-only.
  [[nodiscard]] int define(const char* name, Any* value, int kind);
  // The same moving `value` in place.
  [[nodiscard]] int defineValue(const char* name, Any& value, int kind);

  // ---- the prototype registry (process-wide; see prototype_registry.h)
  static void registerObject(int objectID, const char* name, Translatable* prototype, bool isAlias);
  static void registerAlias(const char* existingName, const char* aliasName, Translatable* prototype);
  static void registerMembers(const char* name, const int* memberIndexes);
  [[nodiscard]] static Translatable* findPrototype(int objectID);
  [[nodiscard]] static Translatable* findPrototype(const Translatable* object);
  [[nodiscard]] static const char* findObjectName(int objectID);
  [[nodiscard]] static Any* findPrototypeByName(const char* name);
  [[nodiscard]] static bool isFunctionOf(const Translatable* object, const char* name);
  static void unregisterAll();
  // Makes a new object of the registered class `className` through its
  // prototype's construct: 0, 51 ("Class not found") or the prototype's code.
  [[nodiscard]] int constructObject(Any** result, const char* className, Any** args);
  // The plain value of `value`: a reference to an Assignable is read (null
  // when the read fails); anything else is copied. A new Any (caller owns).
  [[nodiscard]] Any* purifyAssignable(const Any* value);
  // The root variable set every execution starts from (see root_var_set.h).
  [[nodiscard]] static ObjRef buildRootVarSet();

  // ---- execution limits
  // None of these is set by default: a script may then loop and run for as
  // long as it likes. An embedding that must keep its thread sets a step
  // budget or a deadline; past it the execution fails with RangeError 13
  // ("Timeout"). Steps are loop iterations, function calls and units of
  // work of long-running built-ins.
  static constexpr int kDefaultMaxCallDepth = 1000;
  static constexpr int kTimeoutCode = 13;
  static constexpr int kResourceCode = 39;
  // 0 switches the budget off. The count restarts at every setStepBudget.
  void setStepBudget(long long steps) {
    stepBudget_ = steps;
    stepsLeft_ = steps;
    limitHit_ = false;
    updateLimited();
  }
  [[nodiscard]] long long stepsUsed() const { return stepBudget_ > 0 ? stepBudget_ - stepsLeft_ : 0; }
  // The steps left of the budget (0 when there is none), and the deadline:
  // a nested execution (eval) runs within what its caller has left.
  [[nodiscard]] long long stepsLeft() const { return stepBudget_ > 0 ? stepsLeft_ : 0; }
  [[nodiscard]] bool hasDeadline() const { return hasDeadline_; }
  [[nodiscard]] std::chrono::steady_clock::time_point deadline() const { return deadline_; }
  void setDeadline(std::chrono::steady_clock::time_point deadline) {
    deadline_ = deadline;
    hasDeadline_ = true;
    limitHit_ = false;
    clockTick_ = 63;  // the first charge reads the clock
    updateLimited();
  }
  void clearDeadline() {
    hasDeadline_ = false;
    updateLimited();
  }
  // Kel function calls nested deeper than this (or running the thread's
  // stack low) fail with RangeError 39 instead of overflowing the stack.
  void setMaxCallDepth(int depth) { maxCallDepth_ = depth > 0 ? depth : 1; }
  [[nodiscard]] int maxCallDepth() const { return maxCallDepth_; }
  [[nodiscard]] int callDepth() const { return callDepth_; }
  // Largest text (bytes) and array (elements) a script may build; larger
  // results fail with RangeError 39 instead of exhausting memory.
  void setMaxTextLength(size_t bytes) { maxTextLength_ = bytes; }
  [[nodiscard]] size_t maxTextLength() const { return maxTextLength_; }
  void setMaxArrayLength(int elements) { maxArrayLength_ = elements; }
  [[nodiscard]] int maxArrayLength() const { return maxArrayLength_; }
  // Charges `steps` against the budget and checks the deadline; false (with
  // the error stored, reported at `node` or the current token) once either
  // is exhausted. Cheap when no limit is set.
  [[nodiscard]] bool charge(const AstNode* node, long long steps = 1) {
    return !limited_ || chargeSlow(node, steps);
  }
  // Entering and leaving a kel function call: false (error stored) past the
  // call-depth bound or when the stack runs low.
  [[nodiscard]] bool enterCall(const Location& location);
  void leaveCall() { --callDepth_; }
  // True while the thread's stack has room for another level of
  // evaluation; otherwise stores RangeError 39 at `node` and is false.
  [[nodiscard]] bool stackRoom(const AstNode* node) {
    // The frame address is on the thread's real stack even where a
    // sanitizer moves locals elsewhere.
    return static_cast<const char*>(__builtin_frame_address(0)) > stackLimit_ || stackExhausted(node);
  }
  // The same test without storing an error (for the fast forms, which
  // leave the report to the ordinary evaluation).
  [[nodiscard]] bool hasStackRoom() const {
    return static_cast<const char*>(__builtin_frame_address(0)) > stackLimit_;
  }
  // Sets the stack bound of the running thread (done by each execution).
  void prepareStackLimit();

  // Pretty-print state of value texts (see the data model's text forms).
  [[nodiscard]] bool prettyPrint() const { return prettyPrint_; }
  void setPrettyPrint(bool on) { prettyPrint_ = on; }
  int adjustIndent(int delta) { return indent_ += delta; }

 private:
  // The syntax error thrown to unwind the recursive descent once an error
  // is stored; never leaves the parser.
  struct Abort {};
  class DepthGuard;

  // A token's position; the recursive descent keeps these small values on
  // its frames and makes a Location only where it builds a node.
  struct Pos {
    int line;
    int column;
  };
  [[nodiscard]] Pos pos() const { return Pos{cur_->line, cur_->column}; }
  [[nodiscard]] Location locate(Pos at) const;
  // Builds a node located at `at` and checks the height of its tree. Kept
  // out of line so that the Location lives on this frame, not on every
  // frame of the recursion.
  template <class Node, class... Args>
  [[gnu::noinline]] std::unique_ptr<Node> make(Pos at, Args&&... args);

  // ---- token window
  void advance();
  void traceState(const char* title);
  [[nodiscard]] Location here() const;
  [[nodiscard]] Location locationOf(const Token& token) const;
  [[noreturn]] void fail(const char* message);
  [[noreturn]] void fail(const char* message, const Location& location);
  void expectPunct(char c, const char* message);
  [[nodiscard]] bool punct(const Token* token, char c) const { return token->isPunct(c); }
  template <class Node>
  std::unique_ptr<Node> checked(std::unique_ptr<Node> node);

  // ---- expression grammar (parser_expr.cpp)
  std::unique_ptr<ExprAstNode> parseAssignment();
  std::unique_ptr<ExprAstNode> parseConditional();
  std::unique_ptr<ExprAstNode> parseLogicalOr();
  std::unique_ptr<ExprAstNode> parseLogicalAnd();
  std::unique_ptr<ExprAstNode> parseBitwiseOr();
  std::unique_ptr<ExprAstNode> parseBitwiseXor();
  std::unique_ptr<ExprAstNode> parseBitwiseAnd();
  std::unique_ptr<ExprAstNode> parseEquality();
  std::unique_ptr<ExprAstNode> parseRelational();
  std::unique_ptr<ExprAstNode> parseShift();
  std::unique_ptr<ExprAstNode> parseAdditive();
  std::unique_ptr<ExprAstNode> parseMultiplicative();
  std::unique_ptr<ExprAstNode> parseUnary();
  std::unique_ptr<ExprAstNode> parsePostfix();
  std::unique_ptr<ExprAstNode> parseNew();
  std::unique_ptr<ExprAstNode> parsePrimary();
  std::unique_ptr<ExprAstNode> parseObjectLiteral();
  std::unique_ptr<ExprAstNode> parseArrayLiteral();
  std::vector<std::unique_ptr<ExprAstNode>> parseArguments();
  std::unique_ptr<ExprAstNode> requireOperand(std::unique_ptr<ExprAstNode> node);
  // Reads "(params) { body }" into `function` (the keyword and name are read).
  void parseFunctionRest(Function* function);

  // ---- statement grammar (parser_stmt.cpp)
  void parseStatements(StmtListAstNode* list);
  std::unique_ptr<StmtAstNode> parseStatement();
  std::unique_ptr<LabelList> parseCaseLabels(bool* isDefault);
  std::unique_ptr<OutputStmt> takeTemplateText();
  std::unique_ptr<StmtAstNode> parseBlock();
  std::unique_ptr<StmtAstNode> parseDeclaration();
  std::unique_ptr<StmtAstNode> parseIf();
  std::unique_ptr<StmtAstNode> parseDo();
  std::unique_ptr<StmtAstNode> parseWhile();
  std::unique_ptr<StmtAstNode> parseSwitch();
  std::unique_ptr<StmtAstNode> parseFor();
  std::unique_ptr<StmtAstNode> parseFlow();
  std::unique_ptr<StmtAstNode> parseReturn();
  std::unique_ptr<StmtAstNode> parseFunctionStatement();
  std::unique_ptr<StmtAstNode> parseExpressionStatement();
  void expectStatementEnd();

  // ---- JSON (parser_json.cpp): the reader scans the lexer's source itself.
  class JsonReader;

  // Runs `body` and turns an Abort into a false result.
  template <class Body>
  bool guarded(Body body);

  int debugLevel_;
  KelOutput* traceStream_ = nullptr;
  KelOutput* standardOutput_ = nullptr;
  int flags_ = 0;
  const Principal* principal_ = nullptr;
  ObjRef rootScope_;
  ObjRef currentScope_;
  AbstractVarSet* current_ = nullptr;  // currentScope_'s target
  Lex lex_;
  Token tokens_[3];
  Token* cur_ = &tokens_[0];
  Token* next_ = &tokens_[1];
  Token* after_ = &tokens_[2];
  std::unique_ptr<ExprAstNode> expressionTree_;
  std::unique_ptr<StmtListAstNode> scriptTree_;
  bool errorFlag_ = false;
  std::unique_ptr<Error> error_;
  std::string sourceName_;
  Any returnValue_;  // meaningful when hasReturnValue_
  bool hasReturnValue_ = false;
  std::string traceLine_;
  std::unique_ptr<Any> switchValue_;
  int depth_ = 0;
  bool prettyPrint_ = false;
  int indent_ = 0;

  bool chargeSlow(const AstNode* node, long long steps, const Location* at = nullptr);
  bool stackExhausted(const AstNode* node);
  void updateLimited() { limited_ = stepBudget_ > 0 || hasDeadline_; }
  bool limited_ = false;
  bool limitHit_ = false;
  long long stepBudget_ = 0;
  long long stepsLeft_ = 0;
  bool hasDeadline_ = false;
  std::chrono::steady_clock::time_point deadline_{};
  unsigned clockTick_ = 0;
  int maxCallDepth_ = kDefaultMaxCallDepth;
  int callDepth_ = 0;
  size_t maxTextLength_ = size_t{1} << 30;
  int maxArrayLength_ = 1 << 24;
  const char* stackLimit_ = nullptr;
};
