// Function: a function written in kel, made by the parser for a function
// statement or a function expression: its parameter names, its name (may be
// absent), where it was defined, and its body. Shared through ObjRefs by the
// syntax tree and the variables that hold it; not synchronised.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "kel/location.h"
#include "model/translatable.h"

class IntProgram;
class StmtListAstNode;

class Function : public Translatable {
 public:
  static constexpr int kObjectId = 9224;

  Function();
  ~Function() override;

  // Builders used by the parser.
  void addArgument(std::string name) {
    for (const std::string& p : parameters_) distinctParameters_ = distinctParameters_ && p != name;
    parameters_.push_back(std::move(name));
  }
  void setBody(std::unique_ptr<StmtListAstNode> body);
  void setName(std::string name) {
    name_ = std::move(name);
    hasName_ = true;
  }
  void setLocation(const Location& location) { location_ = location; }

  [[nodiscard]] const std::vector<std::string>& parameters() const { return parameters_; }
  [[nodiscard]] bool hasName() const { return hasName_; }
  // The name, or "<anonymous>".
  [[nodiscard]] const char* displayName() const { return hasName_ ? name_.c_str() : "<anonymous>"; }
  [[nodiscard]] const Location& location() const { return location_; }
  [[nodiscard]] const StmtListAstNode* body() const { return body_.get(); }

  // "<name> (<file>:<line>:<column>)".
  [[nodiscard]] std::string text() const;
  char* toString(Parser* parser) override;
  // Runs the body in a new function scope whose parent is the caller's
  // current scope, the parameters bound to copies of the arguments (extra
  // arguments ignored, missing ones left undefined); the result is the value
  // of the last `return` that ran (undefined without one). 108 when the
  // body fails, with the body's error stored.
  int call(Parser* parser, const Location* location, Any** args, Any** result) override;
  // The same with the result moved into `out` (the interpreter's form;
  // `at` is the call's location, which must outlive the call). 0 or 108.
  [[nodiscard]] int invoke(Parser* parser, const Location& at, Any** args, Any& out);
  // "name": the name or "<anonymous>"; "length": the parameter count.
  int getField(Parser* parser, Any** result, const char* name) const override;
  int getObjectID() const override { return kObjectId; }
  const char* getTypeOf(Parser*) const override { return "function"; }

 private:
  std::vector<std::string> parameters_;
  bool distinctParameters_ = true;  // no name repeats (f(a, a) binds a twice)
  std::string name_;
  bool hasName_ = false;
  Location location_;
  std::unique_ptr<StmtListAstNode> body_;

  // A body that is one `return` of an integer or comparison expression
  // over the parameters and names it only reads, possibly after `var`s of
  // integer expressions it reads as well, runs as a flat program
  // (int_program.h) with the arguments as the parameters' values, without
  // a scope: nothing in such a body could tell (it calls nothing, defines
  // nothing, and a name not a parameter would be looked up past the empty
  // scope anyway). Made on the first call; null when the body is not of
  // that form.
  [[nodiscard]] bool invokeFlat(Parser* parser, Any** args, Any& out);

  // The names of the call scope's frame (VarSet::makeFrame): the
  // parameters, then the names of the body's `var`s (outside nested
  // functions, each once), as far as they fit; empty when the parameters
  // do not all fit or repeat. Made on the first call.
  void makeFrameNames();
  // The body as a flat program (IntProgram::buildBody), run in the call's
  // scope in place of the tree; made on the first call, null when the body
  // has no statement the program runs itself.
  std::unique_ptr<IntProgram> bodyProgram_;
  bool bodyMade_ = false;
  std::vector<std::string> frameNames_;
  uint64_t frameKey_ = 0;
  bool frameMade_ = false;
  std::unique_ptr<IntProgram> flatProgram_;
  bool flatMade_ = false;
  bool flatIsCondition_ = false;  // the result is a boolean
  bool flatHasLocals_ = false;    // the body defines locals before its return
};
