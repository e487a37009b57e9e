// The few questions the data model asks of the kel parser, which lives in a
// higher layer: the parser installs these hooks once at start-up. With no
// hooks installed (or a null parser) the model behaves as without a parser.
// The hook table is written during start-up and read without locking later.
#pragma once

class Any;
class Parser;
class Translatable;

struct ScriptHooks {
  // The prototype object the parser registered for `objectId`, or null.
  Translatable* (*prototypeFor)(Parser* parser, int objectId) = nullptr;
  // The class name the parser registered for `objectId`, or null.
  const char* (*classNameFor)(Parser* parser, int objectId) = nullptr;
  // Whether the parser is printing in pretty mode.
  bool (*isPrettyPrint)(Parser* parser) = nullptr;
  // Adds `delta` to the parser's indentation depth; returns the new depth.
  int (*adjustIndent)(Parser* parser, int delta) = nullptr;
  // Reads the current value of an assignable slot (an object whose
  // isAssignable() is true) into a new Any; 0 or an error code.
  int (*readAssignable)(Parser* parser, Translatable* assignable, Any** value) = nullptr;
};

// Installs the hooks (copied). Call before any parser runs.
void setScriptHooks(const ScriptHooks& hooks);
[[nodiscard]] const ScriptHooks& scriptHooks();
