// Feeds arbitrary text to the kel parser as an expression, a script, a
// scriptlet template and JSON text (the first byte picks the mode), and dumps
// the tree it builds. A parse must never crash, read past its text or hang.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "kel/parser.h"
#include "model/any.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const int mode = data[0] % 4;
  std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
  Parser parser("fuzz.js", text, nullptr, 1, 0, mode == 2);
  bool ok = false;
  switch (mode) {
    case 0: ok = parser.parse(); break;
    case 1: ok = parser.parseScript(); break;
    case 2: ok = parser.parseScriptlet(); break;
    default: {
      std::unique_ptr<Any> json(parser.parseJSON());
      ok = json != nullptr;
      if (ok) {
        char* rendered = json->toString(nullptr);
        free(rendered);
      }
      break;
    }
  }
  if (ok) {
    std::string tree = parser.dumpTree();
    (void)tree;
  } else if (parser.getError() == nullptr) {
    __builtin_trap();  // a failed parse always explains itself
  }
  return 0;
}
