#include "kel/any_array_prototype.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include "kel/parser.h"
#include "kel/place.h"
#include "kel/value_args.h"
#include "model/any.h"
#include "model/any_array.h"
#include "model/obj_ref.h"

using namespace valueargs;

namespace {

AnyArray* arrayOf(Translatable* t) {
  return t != nullptr && t->getObjectID() == OBJ_ANYARRAY_ID ? dynamic_cast<AnyArray*>(t) : nullptr;
}

// The array an argument refers to, or null.
AnyArray* arrayArg(const Any* value) {
  if (value == nullptr || value->isOpaque() || value->getType() != ANY_REF) return nullptr;
  return arrayOf(value->getRefTarget());
}

int maxArray(Parser* parser) { return parser != nullptr ? parser->maxArrayLength() : 1 << 24; }

// An element copy for a new array: the value, sharing what it refers to;
// an empty slot stays empty.
Any* elementCopy(const Any* element) {
  if (element == nullptr) return nullptr;
  auto* copy = new Any();
  kelCopyValue(*copy, *element);
  return copy;
}

Any* handOver(AnyArray* array) { return new Any(new ObjRef(array)); }

int of(Parser* parser, Any** args, Any** result) {
  long long n;
  if (int rc = int64Arg(args, 0, true, 0, &n)) return rc;
  if (n > maxArray(parser)) return kResource;
  if (int rc = chargeWork(parser, n > 0 ? static_cast<size_t>(n) : 0)) return rc;
  *result = handOver(new AnyArray(n > 0 ? static_cast<int>(n) : 0));
  return 0;
}

int concat(Parser* parser, const AnyArray* self, Any** args, Any** result) {
  long long total = self->size();
  for (int i = 0; args != nullptr && args[i] != nullptr; i++) {
    AnyArray* other = arrayArg(args[i]);
    if (other == nullptr) return kNotConvertible;
    total += other->size();
  }
  if (total > maxArray(parser)) return kResource;
  if (int rc = chargeWork(parser, static_cast<size_t>(total) * 16)) return rc;
  auto* out = new AnyArray();
  for (int k = 0; k < self->size(); k++) out->append(elementCopy(self->get(k)));
  for (int i = 0; args != nullptr && args[i] != nullptr; i++) {
    AnyArray* other = arrayArg(args[i]);
    for (int k = 0; k < other->size(); k++) out->append(elementCopy(other->get(k)));
  }
  *result = handOver(out);
  return 0;
}

int includes(Parser* parser, const AnyArray* self, Any** args, Any** result) {
  if (int rc = chargeWork(parser, static_cast<size_t>(self->size()) * 16)) return rc;
  const Any* value = arg(args, 0);
  if (value == nullptr) return kMissing;
  long long from;
  if (int rc = int64Arg(args, 1, false, 0, &from)) return rc;
  if (from < 0) from += self->size();  // a negative start counts from the end
  if (from < 0) from = 0;
  bool found = false;
  for (long long k = from; k < self->size() && !found; k++) {
    const Any* element = self->get(static_cast<int>(k));
    found = element != nullptr && *element == *value;
  }
  *result = new Any(found);
  return 0;
}

int slice(Parser* parser, const AnyArray* self, Any** args, Any** result) {
  if (int rc = chargeWork(parser, static_cast<size_t>(self->size()) * 16)) return rc;
  long long n = self->size();
  long long start;
  long long end;
  if (int rc = int64Arg(args, 0, true, 0, &start)) return rc;
  if (int rc = int64Arg(args, 1, false, n, &end)) return rc;
  if (start < 0) start += n;
  if (end < 0) end += n;
  auto* out = new AnyArray();
  if (start >= 0 && start < n && end >= start) {
    if (end > n) end = n;
    for (long long k = start; k < end; k++) out->append(elementCopy(self->get(static_cast<int>(k))));
  }
  *result = handOver(out);
  return 0;
}

int join(Parser* parser, const AnyArray* self, Any** args, Any** result) {
  const char* separator = ",";
  if (arg(args, 0) != nullptr) {
    if (int rc = textArg(args, 0, &separator)) return rc;
  }
  std::string out;
  bool first = true;
  if (int rc = chargeWork(parser, static_cast<size_t>(self->size()) * 16)) return rc;
  for (int k = 0; k < self->size(); k++) {
    Any* element = self->get(k);
    char* owned = nullptr;
    const char* piece;
    if (element == nullptr) {
      piece = "undefined";
    } else if (element->getType() == ANY_STRING && !element->isOpaque()) {
      piece = element->getString();
    } else {
      owned = element->toString(parser);
      piece = owned;
    }
    if (piece != nullptr) {
      if (!first) out += separator;
      out += piece;
      first = false;
    }
    std::free(owned);
    if (parser != nullptr && out.size() > parser->maxTextLength()) return kResource;
    if (int rc = chargeWork(parser, std::strlen(separator))) return rc;
  }
  *result = new Any(out.c_str());
  return 0;
}

}  // namespace

int AnyArrayPrototype::getObjectID() const { return OBJ_ANYARRAY_ID; }

char* AnyArrayPrototype::toString(Parser*) { return strdup("Array"); }

int AnyArrayPrototype::callMemberFn(Parser* parser, Any** result, Translatable* self, const char* name,
                                    Any** args) {
  *result = nullptr;
  if (name == nullptr) return Translatable::callMemberFn(parser, result, self, name, args);
  if (std::strcmp(name, "isArray") == 0) {
    *result = new Any(true);
    return 0;
  }
  if (std::strcmp(name, "of") == 0) return of(parser, args, result);
  AnyArray* array = arrayOf(self);
  if (array != nullptr) {
    if (std::strcmp(name, "concat") == 0) return concat(parser, array, args, result);
    if (std::strcmp(name, "includes") == 0) return includes(parser, array, args, result);
    if (std::strcmp(name, "slice") == 0) return slice(parser, array, args, result);
    if (std::strcmp(name, "join") == 0) return join(parser, array, args, result);
  }
  return Translatable::callMemberFn(parser, result, self, name, args);
}
