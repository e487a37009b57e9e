// DatePrototype: the prototype kel reaches as `Date` (object id 9300):
// `new Date(...)`, the static-style members `Date.now()`, `Date.today()`,
// `Date.parse(text)` and the member functions of date objects. Stateless;
// registered once by the interpreter's root set (registerDateModule).
#pragma once

#include <string_view>

#include "model/translatable.h"

class Date;

class DatePrototype : public Translatable {
 public:
  static constexpr int kNotImplemented = 21;
  static constexpr int kIllegalArgument = 24;
  static constexpr int kMissingArguments = 48;

  // See the README of this folder for the table of members. Names that look
  // like date members but are not provided (getFullYear...) give 111.
  int callMemberFn(Parser* parser, Any** result, Translatable* self, const char* name, Any** args) override;
  // No argument: now. One 32- or 64-bit integer: that many milliseconds
  // since the epoch (24 outside +-8.64e15). Anything else: 21.
  int construct(Parser* parser, Any** result, Translatable** args) const override;
  bool isPrototype() const override { return true; }
  int getObjectID() const override;
  char* toString(Parser* parser) override;

  // Reads the whole of `text`: YYYY[-]MM[-]DD, optionally T hh[:]mm, then
  // optionally [:]ss and .mmm, then optionally Z or +-hh[[:]mm]. Without a
  // zone the wall-clock time is read in the selected zone. 0 with *date set,
  // or 24 (with the failure traced at level 5).
  [[nodiscard]] static int complexParse(Parser* parser, std::string_view text, Date* date);

  // strftime of the broken-down time with `pattern`, with "%s" the date's
  // seconds; 0, or 24 for "%z"/"%Z" (the zone of a date is not a property
  // scripts may rely on) or a result over 255 bytes.
  [[nodiscard]] static int format(const Date& date, std::string_view pattern, std::string* out);
};

// The module entry of kBuiltinModules: registers `Date`.
void registerDateModule();
