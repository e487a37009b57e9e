#include "kel/veskpattern_prototype.h"

#include <cstdlib>
#include <cstring>
#include <memory>

#include "kel/veskpattern.h"
#include "model/any.h"
#include "model/obj_ref.h"

namespace {

// The first argument as a new text; 0, or the code of the failure.
int firstString(Parser* parser, Translatable* const* args, char** text, int missing, int wrong) {
  const Any* first = args != nullptr ? dynamic_cast<const Any*>(args[0]) : nullptr;
  if (first == nullptr) return missing;
  char* value = nullptr;
  if (!first->convertToString(parser, value)) return wrong;
  *text = value != nullptr ? value : strdup("");
  return 0;
}

}  // namespace

int VeskPatternPrototype::getObjectID() const { return VeskPattern::kObjectId; }

char* VeskPatternPrototype::toString(Parser*) { return strdup("VeskPattern"); }

int VeskPatternPrototype::callMemberFn(Parser* parser, Any** result, Translatable* self, const char* name,
                                       Any** args) {
  auto* pattern = dynamic_cast<VeskPattern*>(self);
  if (name == nullptr || std::strcmp(name, "test") != 0 || pattern == nullptr) {
    return Translatable::callMemberFn(parser, result, self, name, args);
  }
  char* text = nullptr;
  int rc = firstString(parser, reinterpret_cast<Translatable* const*>(args), &text, kMissingArguments,
                       kNotConvertible);
  if (rc != 0) {
    *result = nullptr;
    return rc;
  }
  *result = new Any(pattern->matches(text));
  std::free(text);
  return 0;
}

int VeskPatternPrototype::construct(Parser* parser, Any** result, Translatable** args) const {
  char* text = nullptr;
  int rc = firstString(parser, args, &text, kIllegalArgument, kIllegalArgument);
  if (rc != 0) {
    *result = nullptr;
    return rc;
  }
  auto* pattern = new VeskPattern(text, 0);
  std::free(text);
  *result = new Any(new ObjRef(pattern));
  return 0;
}
