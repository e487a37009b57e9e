// AnyStringPrototype: the static string functions reached through the
// `String` global: fromCharCode and fromCodePoint. Stateless.
#pragma once

#include "model/translatable.h"

class AnyStringPrototype : public Translatable {
 public:
  // fromCharCode(codes...): one byte per argument (its low eight bits); an
  // argument that is no integer, or whose low byte is 0 (a text cannot hold
  // it), gives 49. fromCodePoint: 21. Other names: 111.
  int callMemberFn(Parser* parser, Any** result, Translatable* self, const char* name, Any** args) override;
  bool isPrototype() const override { return true; }
  int getObjectID() const override;
  char* toString(Parser* parser) override;
};
