#include "kel/any_string_prototype.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include "kel/parser.h"
#include "kel/value_args.h"
#include "model/any.h"

using namespace valueargs;

int AnyStringPrototype::getObjectID() const { return OBJ_ANY_ID; }

char* AnyStringPrototype::toString(Parser*) { return strdup("String"); }

int AnyStringPrototype::callMemberFn(Parser* parser, Any** result, Translatable* self, const char* name,
                                     Any** args) {
  *result = nullptr;
  if (name != nullptr && std::strcmp(name, "fromCharCode") == 0) {
    std::string out;
    for (int i = 0; args != nullptr && args[i] != nullptr; i++) {
      long long code;
      if (!args[i]->convertToInt64(code)) return kNotConvertible;
      auto byte = static_cast<char>(code & 0xFF);
      if (byte == '\0') return kNotConvertible;
      out += byte;
    }
    *result = new Any(out.c_str());
    return 0;
  }
  if (name != nullptr && std::strcmp(name, "fromCodePoint") == 0) return kNotImplemented;
  return Translatable::callMemberFn(parser, result, self, name, args);
}
