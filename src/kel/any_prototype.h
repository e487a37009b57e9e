// AnyPrototype: the prototype of plain values (object id 1000, registered as
// `Any`): the string methods scripts call on texts, "abc".indexOf("b").
// Positions are byte offsets into the UTF-8 text except where a method
// counts code points (charAt, charCodeAt, substring, slice). Stateless.
#pragma once

#include "model/translatable.h"

class AnyPrototype : public Translatable {
 public:
  // Dispatches on `name` for a text receiver (an opaque one gives 16; a
  // receiver of another kind, or an unknown name, the base's 111).
  int callMemberFn(Parser* parser, Any** result, Translatable* self, const char* name, Any** args) override;
  bool isPrototype() const override { return true; }
  int getObjectID() const override;
  char* toString(Parser* parser) override;
};
