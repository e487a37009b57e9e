// The built-in modules of the kel runtime library (Math, console, JSON, X
// and the global functions): each registers its prototypes once per process
// and defines its globals in every new root set. root_var_set.cpp lists
// them in kBuiltinModules. Internal to kel.
#pragma once

class AbstractVarSet;

// Math (JSMathPrototype, object id 9230).
void registerMathModule();
// The console (Console, 500): the root variable `console`.
void registerConsoleModule();
void defineConsoleGlobals(AbstractVarSet* root);
// JSON (JSONPrototype, 501).
void registerJsonModule();
// X (XPrototype, 9229).
void registerXModule();
// eval, parseInt, parseFloat, isset and isDefined.
void defineGlobalFunctions(AbstractVarSet* root);
