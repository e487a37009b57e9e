#include "kel/root_var_set.h"

#include <cmath>
#include <cstdlib>
#include <ctime>
#include <limits>
#include <mutex>

#include "kel/any_array_prototype.h"
#include "kel/any_prototype.h"
#include "kel/any_string_prototype.h"
#include "kel/builtin_modules.h"
#include "kel/date_prototype.h"
#include "kel/member_names.h"
#include "kel/parser.h"
#include "kel/place.h"
#include "kel/prototype_registry.h"
#include "kel/var_set.h"
#include "kel/veskpattern.h"
#include "kel/veskpattern_prototype.h"
#include "model/any.h"
#include "model/script_hooks.h"

namespace {

void registerValuePrototypes() {
  Parser::registerObject(OBJ_ANY_ID, "Any", new AnyPrototype(), false);
  Parser::registerAlias("Any", "String", new AnyStringPrototype());
  auto* arrays = new AnyArrayPrototype();
  Parser::registerObject(OBJ_ANYARRAY_ID, "AnyArray", arrays, false);
  static const int kArrayMembers[] = {KM_CONCAT, 0};
  Parser::registerMembers("AnyArray", kArrayMembers);
  Parser::registerAlias("AnyArray", "Array", arrays);
  Parser::registerObject(VeskPattern::kObjectId, "VeskPattern", new VeskPatternPrototype(), false);
}

void defineValueGlobals(AbstractVarSet* root) {
  auto* set = static_cast<VarSet*>(root);
  Any value;
  value.set(std::numeric_limits<float>::infinity());
  (void)set->defineValue("Infinity", value);
  value.set(std::numeric_limits<float>::quiet_NaN());
  (void)set->defineValue("NaN", value);
  value.setUndefined();
  (void)set->defineValue("undefined", value);
}

// The built-in modules, in registration order. The objects of the runtime
// library (Math, console, JSON, Date, X, the global functions) are added
// here as modules of their own.
const KelBuiltinModule kBuiltinModules[] = {
    {"values", registerValuePrototypes, defineValueGlobals},
    {"Math", registerMathModule, nullptr},
    {"console", registerConsoleModule, defineConsoleGlobals},
    {"JSON", registerJsonModule, nullptr},
    {"X", registerXModule, nullptr},
    {"global functions", nullptr, defineGlobalFunctions},
    {"Date", registerDateModule, nullptr},
};

// ---- the data model's hooks into kel

Translatable* prototypeFor(Parser*, int objectId) { return PrototypeRegistry::findPrototype(objectId); }
const char* classNameFor(Parser*, int objectId) { return PrototypeRegistry::findObjectName(objectId); }
bool isPrettyPrint(Parser* parser) { return parser != nullptr && parser->prettyPrint(); }
int adjustIndent(Parser* parser, int delta) { return parser != nullptr ? parser->adjustIndent(delta) : 0; }
int readAssignable(Parser* parser, Translatable* assignable, Any** value) {
  return static_cast<Assignable*>(assignable)->get(parser, value);
}

}  // namespace

void kelStartup() {
  static std::once_flag once;
  std::call_once(once, [] {
    ScriptHooks hooks;
    hooks.prototypeFor = prototypeFor;
    hooks.classNameFor = classNameFor;
    hooks.isPrettyPrint = isPrettyPrint;
    hooks.adjustIndent = adjustIndent;
    hooks.readAssignable = readAssignable;
    setScriptHooks(hooks);
    std::srand(static_cast<unsigned>(std::time(nullptr)));
    for (const KelBuiltinModule& m : kBuiltinModules) {
      if (m.registerPrototypes != nullptr) m.registerPrototypes();
    }
  });
}

ObjRef Parser::buildRootVarSet() {
  kelStartup();
  auto* root = new VarSet();
  root->setScopeKind(AbstractVarSet::kFunctionScope);
  ObjRef ref(root);
  for (const KelBuiltinModule& m : kBuiltinModules) {
    if (m.defineGlobals != nullptr) m.defineGlobals(root);
  }
  return ref;
}
