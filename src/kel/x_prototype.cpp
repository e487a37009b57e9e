#include "kel/x_prototype.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "kel/builtin_modules.h"
#include "kel/location.h"
#include "kel/member_names.h"
#include "kel/parser.h"
#include "kel/place.h"
#include "kel/veskpattern.h"
#include "model/any.h"
#include "model/any_array.h"
#include "model/attributes.h"
#include "model/obj_ref.h"

namespace {

std::atomic<KelCredentialCheckout> gCheckout{nullptr};

constexpr int kIllegal = XPrototype::kIllegalArgument;
constexpr int kMaxDepth = 200;
constexpr int kBufferSize = 8192;

const Any* argAt(Any** args, int i) {
  if (args == nullptr) return nullptr;
  for (int k = 0; k < i; k++) {
    if (args[k] == nullptr) return nullptr;
  }
  return args[i];
}

std::string ownedText(char* text, const char* fallback) {
  std::string out = text != nullptr ? text : fallback;
  std::free(text);
  return out;
}

// The value's JSON text.
std::string jsonText(Parser* parser, const Any* value) {
  if (value == nullptr) return "null";
  return ownedText(const_cast<Any*>(value)->toJSON(parser), "null");
}

// `text` as an SQL string literal.
std::string sqlQuoted(const std::string& text) {
  std::string out = "'";
  for (char c : text) {
    if (c == '\'') out += '\'';
    out += c;
  }
  return out + "'";
}

int range(Parser* parser, Any** args, Any** result) {
  int from, to;
  const Any* a = argAt(args, 0);
  const Any* b = argAt(args, 1);
  if (a == nullptr || b == nullptr || !a->convertToInt32(parser, from) || !b->convertToInt32(parser, to)) {
    return kIllegal;
  }
  long long n = from > to ? 0 : static_cast<long long>(to) - from + 1;
  if (parser != nullptr && n > parser->maxArrayLength()) return XPrototype::kResource;
  if (parser != nullptr && !parser->charge(nullptr, n >> 12)) return Parser::kTimeoutCode;
  auto* list = new AnyArray(0);
  std::unique_ptr<Any> holder(new Any(new ObjRef(list)));
  for (long long v = from; v <= to; v++) list->append(new Any(static_cast<int>(v)));
  *result = holder.release();
  return 0;
}

int versionNumber(Parser* parser, Any** args, Any** result) {
  const Any* a = argAt(args, 0);
  char* raw = nullptr;
  if (a == nullptr || !a->convertToString(parser, raw)) return kIllegal;
  std::string text = ownedText(raw, "");
  if (text == "trunk" || text == "master") {
    *result = new Any(999999);
    return 0;
  }
  size_t i = 0;
  while (i < text.size() && !(text[i] >= '0' && text[i] <= '9')) i++;
  // Unsigned arithmetic: a long version wraps as 32-bit numbers do,
  // without undefined behaviour.
  unsigned accumulated = 0, part = 0;
  for (; i < text.size(); i++) {
    char c = text[i];
    if (c == '.') {
      accumulated = accumulated * 100 + part;
      part = 0;
    } else if (c >= '0' && c <= '9') {
      part = part * 10 + static_cast<unsigned>(c - '0');
    }
  }
  *result = new Any(static_cast<int>(accumulated * 100 + part));
  return 0;
}

int sqlEquals(Parser* parser, Any** args, Any** result) {
  const Any* a = argAt(args, 0);
  std::string out;
  if (a == nullptr || a->isNull() || a->isUndefined()) {
    out = "IS NULL";
  } else if (!a->isOpaque() && a->getType() == ANY_STRING) {
    out = "= " + sqlQuoted(a->getString() != nullptr ? a->getString() : "");
  } else {
    std::string text = jsonText(parser, a);
    if (text.size() >= 2 && text.front() == '"' && text.back() == '"') text = text.substr(1, text.size() - 2);
    bool plain = !text.empty() && text.find_first_not_of("0123456789.") == std::string::npos;
    out = "= " + (plain ? text : sqlQuoted(text));
  }
  *result = new Any(out.c_str());
  return 0;
}

int asCommaString(Parser* parser, Any** args, Any** result) {
  const Any* a = argAt(args, 0);
  AnyArray* list = nullptr;
  if (a == nullptr || !a->convertToArray(parser, &list)) return kIllegal;
  bool quote = false;
  if (const Any* q = argAt(args, 1)) {
    if (!q->convertToBool(parser, quote)) quote = false;
  }
  std::string out;
  for (int i = 0; i < list->size(); i++) {
    if (i > 0) out += ", ";
    std::string text = jsonText(parser, list->get(i));
    if (quote && (text.empty() || text[0] != '"')) text = "\"" + text + "\"";
    out += text;
    if (parser != nullptr && out.size() > parser->maxTextLength()) return XPrototype::kResource;
  }
  *result = new Any(out.c_str());
  return 0;
}

int flatten(Parser* parser, const AnyArray* from, AnyArray* into, int depth) {
  if (depth > kMaxDepth) return XPrototype::kResource;
  for (int i = 0; i < from->size(); i++) {
    const Any* element = from->get(i);
    AnyArray* nested = nullptr;
    if (element != nullptr && element->convertToArray(&nested)) {
      if (int rc = flatten(parser, nested, into, depth + 1)) return rc;
      continue;
    }
    if (parser != nullptr && into->size() >= parser->maxArrayLength()) return XPrototype::kResource;
    auto* copy = new Any();
    if (element != nullptr) kelCopyValue(*copy, *element);
    into->append(copy);
  }
  return 0;
}

int levelArray(Parser* parser, Any** args, Any** result) {
  const Any* a = argAt(args, 0);
  AnyArray* list = nullptr;
  if (a == nullptr || !a->convertToArray(parser, &list)) return kIllegal;
  auto* flat = new AnyArray(0);
  std::unique_ptr<Any> holder(new Any(new ObjRef(flat)));
  if (int rc = flatten(parser, list, flat, 1)) return rc;
  *result = holder.release();
  return 0;
}

int findIn(Parser* parser, Any** args, Any** result) {
  const Any* a = argAt(args, 0);
  const Any* p = argAt(args, 1);
  AnyArray* list = nullptr;
  if (a == nullptr || !a->convertToArray(parser, &list)) return kIllegal;
  const VeskPattern* pattern = nullptr;
  if (p != nullptr && !p->isOpaque() && p->getType() == ANY_REF && p->getRefTarget() != nullptr &&
      p->getRefTarget()->getObjectID() == VeskPattern::kObjectId) {
    pattern = dynamic_cast<const VeskPattern*>(p->getRefTarget());
  }
  if (pattern == nullptr) return kIllegal;
  auto* found = new AnyArray(0);
  std::unique_ptr<Any> holder(new Any(new ObjRef(found)));
  for (int i = 0; i < list->size(); i++) {
    const Any* element = list->get(i);
    char* text = nullptr;
    if (element == nullptr || !element->convertToString(parser, text) || text == nullptr) {
      std::free(text);
      continue;
    }
    if (pattern->matches(text)) {
      found->append(Any::buildFromString(text));
    } else {
      std::free(text);
    }
  }
  *result = holder.release();
  return 0;
}

// The callable object an argument refers to, or null.
Translatable* functionOf(Parser* parser, const Any* value) {
  if (value == nullptr || value->isOpaque() || value->getType() != ANY_REF) return nullptr;
  Translatable* target = value->getRefTarget();
  if (target == nullptr || std::strcmp(target->getTypeOf(parser), "function") != 0) return nullptr;
  return target;
}

int filterList(Parser* parser, Any** args, Any** result) {
  const Any* mapArg = argAt(args, 0);
  Attributes* map = nullptr;
  if (mapArg == nullptr || !mapArg->convertToAttributes(parser, &map)) return kIllegal;
  Translatable* listFunction = functionOf(parser, argAt(args, 1));
  Translatable* filterFunction = functionOf(parser, argAt(args, 2));
  if (listFunction == nullptr || filterFunction == nullptr) return kIllegal;
  const Any* fallback = argAt(args, 3);
  Attributes* fallbackMap = nullptr;
  if (fallback != nullptr && !fallback->convertToAttributes(parser, &fallbackMap)) return kIllegal;
  // The functions and the map stay alive through the calls: the arguments
  // hold them.
  Location at("<builtin function>", 1, 1);
  Any mapValue;
  kelCopyValue(mapValue, *mapArg);
  Any* listArgs[] = {&mapValue, nullptr};
  Any* listed = nullptr;
  int rc = listFunction->call(parser, &at, listArgs, &listed);
  std::unique_ptr<Any> listHolder(listed);
  if (rc != 0) return rc;
  AnyArray* list = nullptr;
  if (!listHolder || !listHolder->convertToArray(parser, &list)) return kIllegal;
  for (int i = 0; i < list->size(); i++) {
    Any element;
    if (const Any* e = list->get(i)) kelCopyValue(element, *e);
    Any* callArgs[] = {&element, nullptr};
    Any* verdict = nullptr;
    rc = filterFunction->call(parser, &at, callArgs, &verdict);
    std::unique_ptr<Any> verdictHolder(verdict);
    if (rc != 0) return rc;
    bool chosen = false;
    if (verdictHolder && verdictHolder->convertToBool(parser, chosen) && chosen) {
      auto* copy = new Any();
      if (const Any* e = list->get(i)) kelCopyValue(*copy, *e);
      *result = copy;
      return 0;
    }
  }
  if (fallbackMap != nullptr) *result = new Any(new ObjRef(fallbackMap));
  return 0;
}

int credential(Parser* parser, Any** args, bool password, Any** result) {
  const Any* a = argAt(args, 0);
  char* raw = nullptr;
  if (a == nullptr || !a->convertToString(parser, raw)) return kIllegal;
  std::string name = ownedText(raw, "");
  KelCredentialCheckout checkout = gCheckout.load();
  if (checkout == nullptr) return XPrototype::kNoCheckout;
  auto login = std::make_unique<char[]>(kBufferSize);
  std::unique_ptr<char[]> secret = password ? std::make_unique<char[]>(kBufferSize) : nullptr;
  login[0] = '\0';
  if (secret) secret[0] = '\0';
  int rc = checkout(parser != nullptr ? parser->principal() : nullptr, name.c_str(), login.get(), kBufferSize,
                    secret.get(), password ? kBufferSize : 0);
  login[kBufferSize - 1] = '\0';
  if (secret) secret[kBufferSize - 1] = '\0';
  if (rc == 0) *result = new Any(password ? secret.get() : login.get());
  // The password does not stay in freed memory.
  if (secret) {
    volatile char* p = secret.get();
    for (int i = 0; i < kBufferSize; i++) p[i] = 0;
  }
  return rc;
}

}  // namespace

void setKelCredentialCheckout(KelCredentialCheckout checkout) { gCheckout.store(checkout); }

char* XPrototype::toString(Parser*) { return strdup("X"); }

int XPrototype::callMemberFn(Parser* parser, Any** result, Translatable* self, const char* name, Any** args) {
  *result = nullptr;
  if (name == nullptr) return Translatable::callMemberFn(parser, result, self, name, args);
  struct Member {
    const char* name;
    int (*fn)(Parser*, Any**, Any**);
  };
  static const Member kMembers[] = {
      {"range", range},           {"versionNumber", versionNumber}, {"sqlEquals", sqlEquals},
      {"asCommaString", asCommaString}, {"levelArray", levelArray}, {"findIn", findIn},
      {"filterList", filterList},
      {"getLogin", [](Parser* p, Any** a, Any** r) { return credential(p, a, false, r); }},
      {"getPassword", [](Parser* p, Any** a, Any** r) { return credential(p, a, true, r); }},
  };
  for (const Member& m : kMembers) {
    if (std::strcmp(m.name, name) == 0) {
      int rc = m.fn(parser, args, result);
      if (rc != 0) {
        delete *result;
        *result = nullptr;
      }
      return rc;
    }
  }
  return Translatable::callMemberFn(parser, result, self, name, args);
}

void registerXModule() {
  Parser::registerObject(XPrototype::kObjectId, "X", new XPrototype(), false);
  static const int kMembers[] = {KM_LEVEL_ARRAY, KM_AS_COMMA_STRING, 0};
  Parser::registerMembers("X", kMembers);
}
