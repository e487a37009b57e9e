#include "kel/json_prototype.h"

#include <cstdlib>
#include <cstring>
#include <memory>

#include "kel/builtin_modules.h"
#include "kel/member_names.h"
#include "kel/parser.h"
#include "model/any.h"

char* JSONPrototype::toString(Parser*) { return strdup(""); }

int JSONPrototype::callMemberFn(Parser* parser, Any** result, Translatable* self, const char* name, Any** args) {
  *result = nullptr;
  const Any* first = args != nullptr ? args[0] : nullptr;
  if (name != nullptr && std::strcmp(name, "parse") == 0) {
    char* text = nullptr;
    if (first == nullptr || !first->convertToString(parser, text)) return kIllegalArgument;
    std::unique_ptr<char, decltype(&std::free)> owned(text, &std::free);
    Parser json("JSON", text != nullptr ? text : "", parser != nullptr ? parser->getCurrentScope() : nullptr, 1, 0,
                false);
    std::unique_ptr<Any> value(json.parseJSON());
    if (!value) {
      const Error* error = json.getError();
      if (parser != nullptr && error != nullptr) parser->throwError(*error);
      return error != nullptr ? error->code() : Parser::kSyntaxErrorCode;
    }
    *result = value.release();
    return 0;
  }
  if (name != nullptr && std::strcmp(name, "stringify") == 0) {
    if (first == nullptr) return 0;
    char* text;
    if (!first->isOpaque() && first->getType() == ANY_STRING) {
      // A string alone is escaped as it is inside an object, so that the
      // text is JSON a reader can take back.
      text = first->escapeJSONString();
    } else {
      text = const_cast<Any*>(first)->toJSON(parser);
    }
    *result = text != nullptr ? Any::buildFromString(text) : new Any();
    return 0;
  }
  return Translatable::callMemberFn(parser, result, self, name, args);
}

void registerJsonModule() {
  Parser::registerObject(JSONPrototype::kObjectId, "JSON", new JSONPrototype(), false);
  static const int kMembers[] = {KM_PARSE, KM_STRINGIFY, 0};
  Parser::registerMembers("JSON", kMembers);
}
