// Feeds arbitrary text to the JSON mode of the kel parser, then renders and
// stringifies what it accepts and reads the JSON text of the result back
// through JSON.parse in a script. A parse must never crash, read past its
// text, recurse without bound or fail without saying why.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "kel/kel_runner.h"
#include "kel/output.h"
#include "kel/parser.h"
#include "model/any.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  Parser parser("JSON", text, nullptr, 1, 0, false);
  std::unique_ptr<Any> value(parser.parseJSON());
  if (!value) {
    const Error* error = parser.getError();
    if (error == nullptr || error->traceback().empty()) __builtin_trap();  // a rejection says where
    return 0;
  }
  char* rendered = value->toString(nullptr);
  std::free(rendered);
  char* json = value->toJSON(nullptr);
  if (json == nullptr) __builtin_trap();
  std::free(json);
  // The script path: the text as a kel string, parsed by JSON.parse.
  if (std::memchr(data, 0, size) == nullptr && size < 4096) {
    static KelRunner* runner = new KelRunner();
    Any literal(std::string(text).c_str());
    char* quoted = literal.escapeJSONString();
    if (quoted != nullptr) {
      MemoryFile out;
      std::string err;
      KelRunner::Limits limits;
      limits.steps = 10000;
      runner->setLimits(limits);
      (void)runner->runExpression(std::string("JSON.stringify(JSON.parse(") + quoted + "))", "fuzz", out, err);
      std::free(quoted);
    }
  }
  return 0;
}
