// The registration tables of the kel natives that run the interpreter:
// kel.Parser (12 natives), kel.Strings (2) and kel.CVariableSet (16).
#pragma once

#include "jni/kel_map_natives.h"

[[nodiscard]] KelNativeTable kelParserNatives();
[[nodiscard]] KelNativeTable kelStringsNatives();
[[nodiscard]] KelNativeTable kelVarSetNatives();
