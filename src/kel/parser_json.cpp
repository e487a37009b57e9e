// JSON text read through the kel lexer in JSON mode (every decimal integer is
// 64-bit) into Attributes and AnyArray values.
#include <memory>

#include "kel/parser.h"
#include "kel/parser_internal.h"
#include "model/any.h"
#include "model/any_array.h"
#include "model/attributes.h"

Any* Parser::parseJSON() {
  lex_.setJsonMode();
  // The tokens read ahead before the mode was set follow it too.
  for (Token* t : {cur_, next_, after_}) {
    if (t->type == Token::INTEGER) {
      long long v = t->value.getInt32();
      t->type = Token::LONG_INTEGER;
      t->value.set(v);
    }
  }
  std::unique_ptr<Any> result;
  bool ok = guarded([this, &result] {
    if (cur_->isPunct('{')) {
      result.reset(parseJsonObject());
    } else if (cur_->isPunct('[')) {
      result.reset(parseJsonArray());
    } else {
      fail("Expected '{' to start object or '[' to start array");
    }
  });
  return ok ? result.release() : nullptr;
}

Any* Parser::parseJsonValue(bool* present) {
  *present = true;
  bool negative = false;
  if (cur_->isPunct('-')) {
    negative = true;
    advance();
  }
  switch (cur_->type) {
    case Token::DOUBLE:
    case Token::FLOAT:
    case Token::INTEGER:
    case Token::LONG_INTEGER: {
      auto value = std::make_unique<Any>(cur_->value);
      if (negative) value->setSign(-1);
      advance();
      return value.release();
    }
    default:
      break;
  }
  if (negative) fail("Number expected after '-' in JSON text");
  switch (cur_->type) {
    case Token::BOOL:
    case Token::STRING: {
      auto value = std::make_unique<Any>(cur_->value);
      advance();
      return value.release();
    }
    case Token::LITERAL_NULL:
      advance();
      return new Any();
    case Token::PUNCT:
      if (cur_->isPunct('{')) return parseJsonObject();
      if (cur_->isPunct('[')) return parseJsonArray();
      break;
    default:
      break;
  }
  // Anything else is not JSON: it is reported rather than stored as a
  // member without a value.
  *present = false;
  fail("Value expected in JSON text");
}

Any* Parser::parseJsonObject() {
  DepthGuard guard(this);
  auto* map = new Attributes();
  std::unique_ptr<Any> holder(new Any(new ObjRef(map)));
  map->setLocation(std::make_unique<Location>(here()).get());  // on the heap: this frame recurses
  advance();  // {
  if (cur_->isPunct('}')) {
    advance();
    return holder.release();
  }
  for (;;) {
    if (cur_->type != Token::STRING) fail("Member name as quoted string expected in object");
    std::string name = cur_->textValue();
    advance();
    expectPunct(':', "Expected ':' between member name and value");
    bool present = false;
    Any* value = parseJsonValue(&present);
    map->addOrSetAttribute(name.c_str(), value, 0);
    if (cur_->isPunct(',')) {
      advance();
    } else if (cur_->isPunct('}')) {
      advance();
      return holder.release();
    } else {
      fail("Expected '}' to end object. Were there too many commas?");
    }
  }
}

Any* Parser::parseJsonArray() {
  DepthGuard guard(this);
  advance();  // [
  auto* array = new AnyArray(0);
  std::unique_ptr<Any> holder(new Any(new ObjRef(array)));
  if (cur_->isPunct(']')) {
    advance();
    return holder.release();
  }
  for (;;) {
    bool present = false;
    array->append(parseJsonValue(&present));
    if (cur_->isPunct(',')) {
      advance();
    } else if (cur_->isPunct(']')) {
      advance();
      return holder.release();
    } else {
      fail("Expected ']' to end array. Were there too many or too few commas?");
    }
  }
}
