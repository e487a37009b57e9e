// AnyArrayPrototype: the prototype of arrays (object id 1030, registered as
// `AnyArray` and `Array`): isArray, of, concat, includes, slice and join.
// Stateless.
#pragma once

#include "model/translatable.h"

class AnyArrayPrototype : public Translatable {
 public:
  // Dispatches on `name`; `self` is the array (or this prototype for the
  // static forms Array.of and Array.isArray). Unknown names: 111.
  int callMemberFn(Parser* parser, Any** result, Translatable* self, const char* name, Any** args) override;
  bool isPrototype() const override { return true; }
  int getObjectID() const override;
  char* toString(Parser* parser) override;
};
