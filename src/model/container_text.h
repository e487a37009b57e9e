// ContainerText: the shared rendering of Attributes and AnyArray. Compact:
// "{ a, b }" ("{  }" when empty). Pretty (the parser asks for it): the opening
// bracket and a line break, each item on its own line indented four blanks per
// depth level, items separated by ", " and a line break, a line break after
// the last item, and the closing bracket at the enclosing depth. With a
// parser the depth is raised for the items and lowered at the end in both
// modes. Not synchronised.
#pragma once

#include "model/string_builder.h"

class Any;
class Parser;
class Translatable;

// Appends the text of a whole Attributes or AnyArray to `out`, as its
// toString gives it.
void appendContainerText(StringBuilder& out, Translatable* container, Parser* parser);
// Appends the text of `value` as an item of a container (Any::toItemText;
// "null" for a null value or a null text) without making a text of its own
// for the common kinds.
void appendItemText(StringBuilder& out, Any* value, Parser* parser);
// Appends `text` (not null) as a JSON string literal, as escapeJSONText
// gives it.
void appendEscapedJSON(StringBuilder& out, const char* text);

class ContainerText {
 public:
  ContainerText(Parser* parser, char open, char close);
  // Writes into `into` (appended to what it holds) instead of a text of its
  // own; finish() then gives null.
  ContainerText(Parser* parser, char open, char close, StringBuilder* into);
  ~ContainerText();
  ContainerText(const ContainerText&) = delete;
  ContainerText& operator=(const ContainerText&) = delete;

  // Starts the next item (separator and indentation) and returns the builder
  // to write it into.
  StringBuilder& beginItem();
  // A whole item: `text`, or "null" for a null text.
  void item(const char* text);
  // The finished text (release with free).
  [[nodiscard]] char* finish();

 private:
  Parser* parser_;
  bool pretty_ = false;
  bool depthRaised_ = false;
  int depth_ = 0;
  int items_ = 0;
  char close_;
  StringBuilder own_;
  StringBuilder& out_;
  bool external_ = false;
};
