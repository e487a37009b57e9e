// NativeFunction: the base of kel functions implemented natively (the
// global functions an embedding installs); ShadowFunction: a member function
// of a prototype bound to a target object, made when a script reads a member
// function as a value (`f = list.concat; f([1])`). Not synchronised.
#pragma once

#include <string>

#include "model/obj_ref.h"
#include "model/translatable.h"

class NativeFunction : public Translatable {
 public:
  // Subclasses override; the base gives 86 ("Error but Not Defined").
  int call(Parser* parser, const Location* location, Any** args, Any** result) override;
  // "prototype" reads as undefined; other names as the base.
  int getField(Parser* parser, Any** result, const char* name) const override;
  const char* getTypeOf(Parser*) const override { return "function"; }
  char* toString(Parser* parser) override;
};

class ShadowFunction : public Translatable {
 public:
  static constexpr int kObjectId = 9224;

  // Binds member `name` of `prototype` (not owned: registered prototypes
  // live until unregistered) to `target` (counted).
  ShadowFunction(Translatable* prototype, Translatable* target, const char* name);

  // prototype.callMemberFn(parser, result, target, name, args).
  int call(Parser* parser, const Location* location, Any** args, Any** result) override;
  // "name" gives the member name; other names as the base.
  int getField(Parser* parser, Any** result, const char* name) const override;
  int getObjectID() const override { return kObjectId; }
  const char* getTypeOf(Parser*) const override { return "function"; }
  // "<name> (native)".
  char* toString(Parser* parser) override;

  [[nodiscard]] Translatable* prototype() const { return prototype_; }
  [[nodiscard]] Translatable* target() const { return target_.getTarget(); }
  [[nodiscard]] const std::string& name() const { return name_; }

 private:
  Translatable* prototype_;
  ObjRef target_;
  std::string name_;
};
