// The root variable set of kel executions and the process-wide start-up of
// kel: the first root set installs the data model's script hooks, seeds the
// random generator and registers the built-in prototypes; every root set is
// a new VarSet holding the global variables.
//
// Built-ins plug in through kBuiltinModules (root_var_set.cpp): each module
// names a function that registers its prototypes (run once per process) and
// one that defines its global variables in a new root set. Adding a built-in
// object is one entry there. Thread-safe: the one-time start-up runs under
// std::call_once.
#pragma once

#include "model/obj_ref.h"

class AbstractVarSet;

struct KelBuiltinModule {
  const char* name;
  // Registers the module's prototypes (Parser::registerObject...); once.
  void (*registerPrototypes)();
  // Defines the module's globals in a new root set (may be null).
  void (*defineGlobals)(AbstractVarSet* root);
};

// The start-up (hooks, random seed, prototypes); every buildRootVarSet runs
// it first. Safe to call more than once.
void kelStartup();
