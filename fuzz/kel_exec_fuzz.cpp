// Parses and executes arbitrary kel text (the first byte picks an
// expression, a script or a scriptlet template) against a fresh root
// variable set, under a step budget and small size limits so that every
// input ends quickly. An execution must never crash, leak, read out of
// bounds or run on; a failure always leaves an error behind.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string_view>

#include "kel/abstract_var_set.h"
#include "kel/output.h"
#include "kel/parser.h"
#include "model/any.h"
#include "model/obj_ref.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const int mode = data[0] % 3;
  std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
  ObjRef root = Parser::buildRootVarSet();
  auto* scope = static_cast<AbstractVarSet*>(root.getTarget());
  MemoryFile out;
  Parser parser("fuzz.js", text, nullptr, 1, 1, mode == 2);
  parser.setStandardOutput(&out);
  parser.setStepBudget(20000);
  parser.setMaxCallDepth(200);
  parser.setMaxTextLength(16 * 1024);
  parser.setMaxArrayLength(4096);
  bool ok;
  if (mode == 0) {
    ok = parser.parse();
    if (ok) {
      Any* result = nullptr;
      ok = parser.executeExpression(nullptr, scope, &result);
      if (ok && result != nullptr) {
        char* rendered = result->toString(&parser);
        std::free(rendered);
      }
      delete result;
    }
  } else {
    ok = mode == 1 ? parser.parseScript() : parser.parseScriptlet();
    if (ok && parser.scriptTree() != nullptr) {
      ok = parser.executeScript(nullptr, scope) != 0;
      std::unique_ptr<Any> value = parser.getReturnValue();
      if (value) {
        char* rendered = value->toString(&parser);
        std::free(rendered);
      }
    }
  }
  if (!ok && parser.getError() == nullptr) __builtin_trap();  // a failure always explains itself
  scope->clear();
  return 0;
}
