// JSONPrototype: the `JSON` object of kel (object id 501): parse(text) reads
// JSON text through the parser's JSON mode, stringify(x) gives a value's
// JSON text. Stateless; registered once.
#pragma once

#include "model/translatable.h"

class JSONPrototype : public Translatable {
 public:
  static constexpr int kObjectId = 501;
  static constexpr int kIllegalArgument = 24;

  // parse(text): the first argument as a string (missing or not
  // convertible: 24) parsed with source name "JSON" from line 1, column 0;
  // the result is the object or array read. A syntax error is copied into
  // the calling parser (so the report shows where the text is wrong) and
  // its code (105) returned.
  // stringify(x): x's toJSON text as a string (a string is quoted and
  // escaped as in a JSON object); a value without a text gives an empty
  // value; no argument gives no result. Other names as the base (111).
  int callMemberFn(Parser* parser, Any** result, Translatable* self, const char* name, Any** args) override;
  bool isPrototype() const override { return true; }
  int getObjectID() const override { return kObjectId; }
  // The empty text.
  char* toString(Parser* parser) override;
};
