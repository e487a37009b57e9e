#include "kel/console.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include "foundation/log.h"
#include "kel/builtin_modules.h"
#include "kel/output.h"
#include "kel/parser.h"
#include "kel/place.h"
#include "kel/var_set.h"
#include "model/any.h"
#include "model/obj_ref.h"

char* Console::toString(Parser*) { return strdup("console"); }

int Console::clone(const Principal*, Translatable** out) const {
  *out = new Console();
  return 0;
}

char* ConsolePrototype::toString(Parser*) { return strdup("Console"); }

int ConsolePrototype::callMemberFn(Parser* parser, Any** result, Translatable* self, const char* name,
                                   Any** args) {
  *result = nullptr;
  const Any* first = args != nullptr ? args[0] : nullptr;
  if (name == nullptr) return Translatable::callMemberFn(parser, result, self, name, args);
  if (std::strcmp(name, "log") == 0) {
    if (first == nullptr || first->isOpaque() || first->getType() != ANY_STRING) return kIllegalArgument;
    log(0, "%s", first->getString() != nullptr ? first->getString() : "");
    return 0;
  }
  bool line = std::strcmp(name, "println") == 0;
  if (line || std::strcmp(name, "print") == 0 || std::strcmp(name, "echo") == 0) {
    if (first == nullptr) return kIllegalArgument;
    KelOutput* out = parser != nullptr ? parser->standardOutput() : nullptr;
    if (out == nullptr) return 0;
    std::string text;
    if (!first->isOpaque() && first->getType() == ANY_STRING) {
      text = first->getString() != nullptr ? first->getString() : "";
    } else {
      char* rendered = const_cast<Any*>(first)->toString(parser);
      text = rendered != nullptr ? rendered : "(null)";
      std::free(rendered);
    }
    if (line) text += '\n';
    (void)out->write(text.data(), text.size());
    return 0;
  }
  if (std::strcmp(name, "identity") == 0) {
    if (first == nullptr) return kIllegalArgument;
    auto* copy = new Any();
    kelCopyValue(*copy, *first);
    *result = copy;
    return 0;
  }
  return Translatable::callMemberFn(parser, result, self, name, args);
}

void registerConsoleModule() {
  Parser::registerObject(Console::kObjectId, "Console", new ConsolePrototype(), false);
}

void defineConsoleGlobals(AbstractVarSet* root) {
  Any value(new ObjRef(new Console()));
  (void)static_cast<VarSet*>(root)->defineValue("console", value);
}
