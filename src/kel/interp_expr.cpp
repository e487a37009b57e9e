// Evaluation of the expression nodes: literals, names, function and object
// literals, member and index access, assignment, the unary operators, the
// logical and conditional operators.
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "kel/abstract_var_set.h"
#include "kel/ast/expr_nodes.h"
#include "kel/ast/stmt_nodes.h"
#include "kel/function.h"
#include "kel/interp.h"
#include "kel/prototype_registry.h"
#include "kel/var_set.h"
#include "model/any_array.h"
#include "model/attributes.h"
#include "model/obj_ref.h"

using namespace interp;

namespace {
inline int failRef(Parser* parser, const AstNode* node, int type, int code);
}

// ---- the evaluation contract

bool ExprAstNode::evaluate(Parser* parser, Any** result) const {
  *result = nullptr;
  Place place;
  auto* value = new Any();
  int kind = evalRef(parser, place, *value);
  if (kind == kFailed) {
    delete value;
    return false;
  }
  if (kind == kPlace) value->setRef(new ObjRef(Assignable::fromPlace(place)));
  *result = value;
  return true;
}

bool ExprAstNode::evaluateToValue(Parser* parser, Any** result) const {
  *result = nullptr;
  auto* value = new Any();
  if (!evalValue(parser, *value)) {
    delete value;
    return false;
  }
  *result = value;
  return true;
}

bool ExprAstNode::evalInt(Parser*, int*) const { return false; }
bool ExprAstNode::evalCond(Parser*, bool*) const { return false; }

int ExprAstNode::evalRef(Parser* parser, Place&, Any& value) const {
  return evalValue(parser, value) ? kValue : kFailed;
}

bool ExprAstNode::evalValue(Parser* parser, Any& out) const {
  Place place;
  int kind = evalRef(parser, place, out);
  if (kind == kFailed) return false;
  if (kind == kPlace) return readPlace(parser, this, place, out, kReference);
  // A reference to an Assignable made outside the interpreter is read too.
  if (out.getType() == ANY_REF && !out.isOpaque()) {
    Translatable* target = out.getRefTarget();
    if (target != nullptr && target->isAssignable()) {
      Any* read = nullptr;
      int rc = static_cast<Assignable*>(target)->get(parser, &read);
      if (rc != 0) return fail(parser, this, kReference, rc);
      moveValue(out, *read);
      delete read;
    }
  }
  return true;
}

namespace interp {

bool readPlace(Parser* parser, const AstNode* node, const Place& place, Any& out, int type) {
  int rc = placeGet(parser, place, out);
  if (rc != 0) return fail(parser, node, type, rc);
  return true;
}

namespace {

[[gnu::noinline]] bool expectBooleanSlow(Parser* parser, const ExprAstNode* node, bool* out) {
  Any value;
  if (!evalGeneric(parser, node, value)) return false;
  if (value.getType() != ANY_BOOL || value.isOpaque()) return fail(parser, node, kSyntax, 97);
  *out = value.getBool();
  return true;
}

}  // namespace

bool expectBoolean(Parser* parser, const ExprAstNode* node, bool* out) {
  return node->evalCond(parser, out) || expectBooleanSlow(parser, node, out);
}

bool expectAssignable(Parser* parser, const ExprAstNode* node, Place& place, Any* object) {
  Any value;
  int kind = node->evalRef(parser, place, value);
  if (kind == ExprAstNode::kFailed) return false;
  if (kind == ExprAstNode::kPlace) return true;
  if (value.getType() == ANY_REF && !value.isOpaque()) {
    Translatable* target = value.getRefTarget();
    if (target != nullptr && target->isAssignable()) {
      // An Assignable made outside the interpreter: take its place over.
      const Place& from = static_cast<Assignable*>(target)->place();
      switch (from.kind) {
        case Place::kMember:
          place.setMember(from.name, from.target, from.ownerIsScope, from.undefinedIfMissing);
          break;
        case Place::kArray: {
          Any index;
          kelCopyValue(index, from.index);
          place.setArray(from.target, index);
          break;
        }
        default:
          place.setObject(from.target);
          break;
      }
      place.own();
      place.hold();
      return true;
    }
    if (object != nullptr) {
      moveValue(*object, value);
      return false;
    }
  }
  return fail(parser, node, kSyntax, 98);
}

}  // namespace interp

// ---- literals and names

bool LiteralAstNode::evalValue(Parser*, Any& out) const {
  const Any& v = token_.value;
  switch (token_.type) {
    case Token::LITERAL_NULL: out.clear(); return true;
    case Token::LITERAL_UNDEFINED: out.setUndefined(); return true;
    default: kelCopyValue(out, v); return true;
  }
}

bool LiteralAstNode::evalInt(Parser*, int* out) const {
  const Any& v = token_.value;
  if (token_.type == Token::LITERAL_NULL || token_.type == Token::LITERAL_UNDEFINED) return false;
  if (v.getType() != ANY_INT32 || v.isOpaque()) return false;
  *out = v.getInt32();
  return true;
}

bool LiteralAstNode::evalCond(Parser*, bool* out) const {
  const Any& v = token_.value;
  if (token_.type == Token::LITERAL_NULL || token_.type == Token::LITERAL_UNDEFINED) return false;
  if (v.getType() != ANY_BOOL || v.isOpaque()) return false;
  *out = v.getBool();
  return true;
}

bool IdentAstNode::evalInt(Parser* parser, int* out) const { return nameInt(parser, this, out); }

bool IdentAstNode::evalCond(Parser* parser, bool* out) const {
  const Any* v = variable(parser);
  if (v == nullptr || v->getType() != ANY_BOOL || v->isOpaque()) return false;
  *out = v->getBool();
  return true;
}

Translatable* IdentAstNode::registeredPrototype() const {
  uint64_t generation = PrototypeRegistry::generation();
  if (registryGeneration_ != generation) {
    prototype_ = PrototypeRegistry::findPrototypeObjectByName(name_.c_str());
    registryGeneration_ = generation;
  }
  return prototype_;
}

Any* IdentAstNode::resolveVariable(Parser* parser) const {
  AbstractVarSet* scope = parser->getCurrentScope();
  uint64_t epoch = AbstractVarSet::shapeEpoch();
  Any* slot = nullptr;
  VarSet* set = scope != nullptr ? scope->asVarSet() : nullptr;
  if (set != nullptr && slotFrame_ != 0 && epoch == slotEpoch_ && set->frameKey() == slotFrame_) {
    // The next call of the function whose frame held the name, under the
    // same epoch (so no prototype was registered under the name since).
    slot = set->frameValue(ownIndex_);
    if (slot != nullptr) {
      slotScope_ = scope->serial();
      slot_ = slot;
      return slot;
    }
  }
  if (set != nullptr && registeredPrototype() == nullptr) {
    // Where the name was last found in its own scope is tried first.
    if (ownIndex_ >= 0) slot = set->slotAt(ownIndex_, name_.c_str());
    if (slot == nullptr) slot = set->resolveSlot(name_.c_str(), &ownIndex_);
  }
  slotFrame_ = slot != nullptr && ownIndex_ >= 0 && (ownIndex_ & VarSet::kFrameIndex) != 0 ? set->frameKey() : 0;
  slotScope_ = scope != nullptr ? scope->serial() : 0;
  slotEpoch_ = epoch;
  slot_ = slot;
  return slot;
}

int IdentAstNode::evalRef(Parser* parser, Place& place, Any&) const {
  AbstractVarSet* scope = parser->getCurrentScope();
  if (scope == nullptr) return failRef(parser, this, kReference, 46);
  place.setMember(name_.c_str(), scope, true, false);
  place.prototypeKnown = true;
  place.prototype = registeredPrototype();
  return kPlace;
}

bool IdentAstNode::evalValue(Parser* parser, Any& out) const {
  if (const Any* value = variable(parser)) {
    kelCopyValue(out, *value);
    return true;
  }
  if (Translatable* prototype = registeredPrototype()) {
    out.setRef(new ObjRef(prototype));
    return true;
  }
  AbstractVarSet* scope = parser->getCurrentScope();
  if (scope == nullptr) return fail(parser, this, kReference, 46);
  // A variable of the interpreter's own sets: found and copied without the
  // virtual protocol (readVariable does the same).
  if (VarSet* set = scope->asVarSet()) {
    if (const Any* value = set->VarSet::get(name_.c_str())) {
      kelCopyValue(out, *value);
      return true;
    }
  }
  int rc = scope->readVariable(name_.c_str(), out);
  if (rc != 0) return fail(parser, this, kReference, rc);
  return true;
}

// ---- function and object literals

int ObjectAstNode::evalRef(Parser*, Place& place, Any&) const {
  place.setObject(object_.getTarget());  // the tree keeps the function alive
  return kPlace;
}

bool ObjectAstNode::evalValue(Parser*, Any& out) const {
  out.setRef(new ObjRef(object_.getTarget()));
  return true;
}

bool ObjectFactoryAstNode::evalValue(Parser* parser, Any& out) const {
  if (!parser->stackRoom(this)) return false;
  Translatable* object;
  if (kind_ == kObject) {
    auto* map = new Attributes();
    object = map;
    out.setRef(new ObjRef(map));  // owns the object from here on
    for (const Member& m : members_) {
      Any value;
      if (!m.value->evalValue(parser, value)) return false;
      if (int rc = kelContainerCheck(map, value, parser)) return fail(parser, m.value.get(), kRange, rc);
      auto* stored = new Any();
      moveValue(*stored, value);
      map->addAttribute(m.name.c_str(), stored);
    }
  } else {
    if (static_cast<int>(members_.size()) > parser->maxArrayLength()) return fail(parser, this, kRange, 39);
    auto* array = new AnyArray();
    object = array;
    out.setRef(new ObjRef(array));
    if (!parser->charge(this, static_cast<long long>(members_.size() >> 6))) return false;
    for (const Member& m : members_) {
      Any value;
      if (!m.value->evalValue(parser, value)) return false;
      if (int rc = kelContainerCheck(array, value, parser)) return fail(parser, m.value.get(), kRange, rc);
      auto* stored = new Any();
      moveValue(*stored, value);
      array->append(stored);
    }
  }
  (void)object;
  return true;
}

int ObjectFactoryAstNode::evalRef(Parser* parser, Place& place, Any& value) const {
  Any made;
  if (!evalValue(parser, made)) return kFailed;
  place.setObject(made.getRefTarget());
  place.adoptHolder(made);
  (void)value;
  return kPlace;
}

// ---- member and index access

// The part of peekName after the remembered variable.
const Any* lookUpName(Parser* parser, const IdentAstNode* ident) {
  if (ident->registeredPrototype() != nullptr) return nullptr;
  AbstractVarSet* scope = parser->getCurrentScope();
  VarSet* set = scope != nullptr ? scope->asVarSet() : nullptr;
  return set != nullptr ? set->VarSet::get(ident->name().c_str()) : nullptr;
}

namespace {

// Evaluates an object part to its value: a place is read, a reference to an
// outside Assignable too.
bool objectValue(Parser* parser, const ExprAstNode* node, Any& out) {
  Place place;
  int kind = node->evalRef(parser, place, out);
  if (kind == ExprAstNode::kFailed) return false;
  if (kind == ExprAstNode::kPlace) return readPlace(parser, node, place, out, kReference);
  if (out.getType() == ANY_REF && !out.isOpaque()) {
    Translatable* target = out.getRefTarget();
    if (target != nullptr && target->isAssignable()) {
      Any* read = nullptr;
      int rc = static_cast<Assignable*>(target)->get(parser, &read);
      if (rc != 0) return fail(parser, node, kReference, rc);
      moveValue(out, *read);
      delete read;
    }
  }
  return true;
}

inline int failRef(Parser* parser, const AstNode* node, int type, int code) {
  fail(parser, node, type, code);
  return ExprAstNode::kFailed;
}

// The array or attribute set that a variable named by `node` refers to,
// for a read that follows at once: the variable keeps the container alive
// while nothing else runs, so the read needs no counted reference of its
// own. Null (and nothing evaluated) when `node` is not such a variable;
// the caller then takes the general path.
Translatable* borrowedContainer(Parser* parser, const ExprAstNode* node) {
  if (node->getType() != AstNode::IDENT) return nullptr;
  const Any* value = peekName(parser, static_cast<const IdentAstNode*>(node));
  if (value == nullptr) return nullptr;
  Translatable* target = refTarget(*value);
  if (target == nullptr) return nullptr;
  int id = target->getObjectID();
  return id == OBJ_ATTRIBUTES_ID || id == OBJ_ANYARRAY_ID ? target : nullptr;
}

}  // namespace

namespace interp {

void referenceInto(Any& out, const Any& source) {
  if (out.copyPlainFrom(source)) return;
  if (!source.isOpaque()) {
    int sub = source.getSubtype();
    switch (source.getType()) {
      case ANY_NULL: out.clear(); break;
      case ANY_UNDEFINED: out.setUndefined(); break;
      case ANY_BOOL: out.set(source.getBool()); break;
      case ANY_INT32: out.set(source.getInt32()); break;
      case ANY_INT64: out.set(source.getInt64()); break;
      case ANY_FLOAT: out.set(source.getFloat()); break;
      case ANY_DOUBLE: out.set(source.getDouble()); break;
      case ANY_STRING: out.setString(source.getString()); break;
      case ANY_REF: {
        ObjRef* ref = source.getRef();
        out.setRef(ref != nullptr ? new ObjRef(*ref) : nullptr);
        break;
      }
      default: {
        Any* copy = source.createReference();
        out.takeFrom(*copy);
        delete copy;
        return;
      }
    }
    out.setSubtype(sub);
    return;
  }
  Any* copy = source.createReference();
  out.takeFrom(*copy);
  delete copy;
}

}  // namespace interp

bool MemberDerefAstNode::evalValue(Parser* parser, Any& out) const {
  // obj.name read from an array or attribute set in a variable: the member
  // read straight from the container (the registered prototype of that
  // name still wins, as in placeGet).
  if (member_ != nullptr && member_->getType() == IDENT) {
    if (Translatable* target = borrowedContainer(parser, object_.get())) {
      if (!parser->stackRoom(this)) return false;
      const auto* member = static_cast<const IdentAstNode*>(member_.get());
      if (Translatable* prototype = member->registeredPrototype()) {
        out.setRef(new ObjRef(prototype));
        return true;
      }
      const char* name = member->name().c_str();
      if (target->getObjectID() == OBJ_ANYARRAY_ID && std::strcmp(name, "length") == 0) {
        out.set(static_cast<const AnyArray*>(target)->size());  // as AnyArray::getField
        return true;
      }
      if (target->getObjectID() == OBJ_ATTRIBUTES_ID) {
        if (const Any* value = static_cast<const Attributes*>(target)->getAttribute(name)) {
          referenceInto(out, *value);
          return true;
        }
      }
      int rc = getProperty(parser, target, name, out);
      if (rc == 50) {
        out.setUndefined();
        return true;
      }
      if (rc != 0) return fail(parser, this, kReference, rc);
      return true;
    }
    // text.length of a text in a variable, without copying the text.
    const auto* member = static_cast<const IdentAstNode*>(member_.get());
    int length;
    if (object_->getType() == IDENT && member->name() == "length" &&
        textLength(peekName(parser, static_cast<const IdentAstNode*>(object_.get())), &length) &&
        member->registeredPrototype() == nullptr) {
      if (!parser->stackRoom(this)) return false;
      out.set(length);
      return true;
    }
  }
  return ExprAstNode::evalValue(parser, out);
}

bool ArrayDerefAstNode::evalValue(Parser* parser, Any& out) const {
  // array[i] with a variable or literal index (whose evaluation runs no
  // code that could drop the array): the element read straight from the
  // array in the variable.
  if (indexes_.size() == 1 && (indexes_[0]->getType() == IDENT || indexes_[0]->getType() == LITERAL)) {
    Translatable* target = borrowedContainer(parser, object_.get());
    if (target != nullptr && target->getObjectID() == OBJ_ANYARRAY_ID) {
      if (!parser->stackRoom(this)) return false;
      Any index;
      if (!indexes_[0]->evalValue(parser, index)) return false;
      if (index.getType() == ANY_INT32 && !index.isOpaque()) {
        if (const Any* element = static_cast<const AnyArray*>(target)->get(index.getInt32())) {
          referenceInto(out, *element);
        } else {
          out.setUndefined();
        }
        return true;
      }
    }
  }
  return ExprAstNode::evalValue(parser, out);
}

namespace {

// The object a variable named by `node` refers to, for the fast forms
// (which run no code while they use it); null when `node` is not such a
// variable.
inline const Translatable* variableTarget(Parser* parser, const ExprAstNode* node) {
  if (node->getType() != AstNode::IDENT) return nullptr;
  const Any* value = static_cast<const IdentAstNode*>(node)->variable(parser);
  return value != nullptr ? refTarget(*value) : nullptr;
}

}  // namespace

bool MemberDerefAstNode::evalInt(Parser* parser, int* out) const {
  // array.length, or an integer member of an attribute set, held in a
  // variable (as the direct path of evalValue reads them).
  if (member_ == nullptr || member_->getType() != IDENT) return false;
  const auto* member = static_cast<const IdentAstNode*>(member_.get());
  const Translatable* target = variableTarget(parser, object_.get());
  if (target == nullptr) {
    // text.length of a text in a variable.
    return object_->getType() == IDENT && member->name() == "length" &&
           textLength(static_cast<const IdentAstNode*>(object_.get())->variable(parser), out) &&
           member->registeredPrototype() == nullptr;
  }
  if (member->registeredPrototype() != nullptr) return false;
  const char* name = member->name().c_str();
  int id = target->getObjectID();
  if (id == OBJ_ANYARRAY_ID) {
    if (std::strcmp(name, "length") != 0) return false;
    *out = static_cast<const AnyArray*>(target)->size();
    return true;
  }
  if (id != OBJ_ATTRIBUTES_ID) return false;
  const Any* value = static_cast<const Attributes*>(target)->getAttribute(name);
  if (value == nullptr || value->getType() != ANY_INT32 || value->isOpaque()) return false;
  *out = value->getInt32();
  return true;
}

bool ArrayDerefAstNode::evalInt(Parser* parser, int* out) const {
  // array[index] of an array held in a variable, the index itself of the
  // fast form (it runs no code that could drop the array).
  if (indexes_.size() != 1) return false;
  const Translatable* target = variableTarget(parser, object_.get());
  if (target == nullptr || target->getObjectID() != OBJ_ANYARRAY_ID) return false;
  int index;
  if (!indexes_[0]->evalInt(parser, &index)) return false;
  const Any* element = static_cast<const AnyArray*>(target)->get(index);
  if (element == nullptr || element->getType() != ANY_INT32 || element->isOpaque()) return false;
  *out = element->getInt32();
  return true;
}

int MemberDerefAstNode::evalRef(Parser* parser, Place& place, Any& value) const {
  if (!parser->stackRoom(this)) return kFailed;
  if (member_ == nullptr || !member_->isIdentifier()) return failRef(parser, this, kSyntax, 105);
  const char* name = static_cast<const IdentAstNode*>(member_.get())->name().c_str();
  Any object;
  if (!objectValue(parser, object_.get(), object)) return kFailed;
  if (object.getType() == ANY_REF && !object.isOpaque()) {
    Translatable* target = object.getRefTarget();
    if (target == nullptr) return failRef(parser, this, kType, 110);
    place.setMember(name, target, false, true);
    place.adoptHolder(object);
    return kPlace;
  }
  // A plain value (a text, a number): its property directly.
  int rc = getProperty(parser, &object, name, value, true);
  if (rc != 0) return failRef(parser, this, kReference, rc);
  return kValue;
}

int ArrayDerefAstNode::evalRef(Parser* parser, Place& place, Any&) const {
  if (!parser->stackRoom(this)) return kFailed;
  Any container;
  if (!objectValue(parser, object_.get(), container)) return kFailed;
  if (container.getType() != ANY_REF || container.isOpaque()) return failRef(parser, this, kType, 100);
  if (container.getRefTarget() == nullptr) return failRef(parser, this, kType, 110);
  size_t n = indexes_.size();
  for (size_t i = 0; i < n; i++) {
    Any index;
    if (!indexes_[i]->evalValue(parser, index)) return kFailed;
    if (i + 1 == n) {
      place.setArray(container.getRefTarget(), index);
      place.adoptHolder(container);
      return kPlace;
    }
    Any* element = nullptr;
    int rc = container.getRefTarget()->getArrayElement(parser, &element, &index);
    if (rc != 0) {
      delete element;
      return failRef(parser, indexes_[i].get(), kType, rc);
    }
    if (element == nullptr || element->getType() != ANY_REF || element->getRefTarget() == nullptr) {
      delete element;
      return failRef(parser, indexes_[i].get(), kType, 100);
    }
    moveValue(container, *element);
    delete element;
  }
  return kFailed;
}

// ---- assignment

namespace {

// obj.name = value and obj[index] = value where obj is a variable holding
// an array or attribute set: the place of the general path, with the
// container held by a counted reference on the stack (the index and the
// value may run code that drops the variable's reference). -1 when the
// target is not of that form (nothing evaluated); else the statement
// result (1 success, 0 failure with the error stored).
int assignToContainer(Parser* parser, const AssignmentExprAstNode* node, Any* result) {
  const ExprAstNode* target = node->target();
  const ExprAstNode* objectNode = nullptr;
  const char* member = nullptr;
  const ExprAstNode* indexNode = nullptr;
  if (target->getType() == AstNode::MEMBER_DEREF) {
    const auto* deref = static_cast<const MemberDerefAstNode*>(target);
    if (deref->member() == nullptr || deref->member()->getType() != AstNode::IDENT) return -1;
    objectNode = deref->object();
    member = static_cast<const IdentAstNode*>(deref->member())->name().c_str();
  } else if (target->getType() == AstNode::ARRAY_DEREF) {
    const auto* deref = static_cast<const ArrayDerefAstNode*>(target);
    if (deref->indexes().size() != 1) return -1;
    objectNode = deref->object();
    indexNode = deref->indexes()[0].get();
  } else {
    return -1;
  }
  Translatable* container = borrowedContainer(parser, objectNode);
  if (container == nullptr) return -1;
  if (!parser->stackRoom(target)) return 0;
  {
    // An integer index and value by their fast forms run no code, so the
    // variable still holds the container: no counted reference needed.
    int position = 0;
    int number;
    if ((indexNode == nullptr || indexNode->evalInt(parser, &position)) && node->value()->evalInt(parser, &number)) {
      if (result != nullptr) result->set(number);
      int rc;
      if (member != nullptr) {
        Any value(number);
        if (assignMemberInPlace(container, member, value)) return 1;
        rc = container->setField(parser, member, new Any(number));
      } else {
        if (container->getObjectID() == OBJ_ANYARRAY_ID) {
          if (Any* element = static_cast<AnyArray*>(container)->get(position)) {
            element->set(number);  // in place, as below
            return 1;
          }
        }
        Any index(position);
        rc = container->setArrayElement(parser, &index, new Any(number));
      }
      if (rc != 0) return fail(parser, node, kReference, rc) ? 1 : 0;
      return 1;
    }
  }
  ObjRef hold(container);
  Any index;
  const Any* indexValue = &index;
  if (indexNode != nullptr && indexNode->getType() == AstNode::LITERAL &&
      static_cast<const LiteralAstNode*>(indexNode)->token().type != Token::LITERAL_NULL &&
      static_cast<const LiteralAstNode*>(indexNode)->token().type != Token::LITERAL_UNDEFINED) {
    // A literal index is used where it is (o["name"] = ...).
    indexValue = &static_cast<const LiteralAstNode*>(indexNode)->token().value;
  } else if (indexNode != nullptr && !indexNode->evalValue(parser, index)) {
    return 0;
  }
  Any value;
  if (!node->value()->evalValue(parser, value)) return 0;
  if (result != nullptr) kelCopyValue(*result, value);
  int rc = kelContainerCheck(container, value, parser);
  if (rc == 0 && indexNode != nullptr && container->getObjectID() == OBJ_ANYARRAY_ID &&
      indexValue->getType() == ANY_INT32 && !indexValue->isOpaque()) {
    // An element that exists takes the value in place (what the array's
    // store does, without a new Any).
    if (Any* element = static_cast<AnyArray*>(container)->get(indexValue->getInt32())) {
      moveValue(*element, value);
      return 1;
    }
  }
  if (rc == 0) {
    // A member the set owns alone takes the value in place (the store below
    // would make a new Any and release the old one).
    const char* name = member;
    if (name == nullptr && indexValue->getType() == ANY_STRING && !indexValue->isOpaque()) {
      name = indexValue->getString();
    }
    if (name != nullptr && assignMemberInPlace(container, name, value)) return 1;
  }
  if (rc == 0) {
    auto* moved = new Any();
    moved->takeFrom(value);
    value.clear();
    rc = member != nullptr ? container->setField(parser, member, moved)
                           : container->setArrayElement(parser, indexValue, moved);
  }
  if (rc != 0) return fail(parser, node, kReference, rc) ? 1 : 0;
  return 1;
}

}  // namespace

// The value may have run code that changed the scopes: the variable the
// name reaches now.
bool interp::assignToName(Parser* parser, const AssignmentExprAstNode* node, Any& value) {
  const auto* ident = static_cast<const IdentAstNode*>(node->target());
  if (Any* variable = ident->variable(parser)) {
    moveValue(*variable, value);
    return true;
  }
  AbstractVarSet* scope = parser->getCurrentScope();
  VarSet* set = scope != nullptr ? scope->asVarSet() : nullptr;
  if (set == nullptr) {
    // Not reached: a call restores the scope it found.
    if (scope == nullptr || !scope->assignValue(ident->name().c_str(), value)) {
      return fail(parser, node, kReference, 46);
    }
    return true;
  }
  if (!set->VarSet::assignValue(ident->name().c_str(), value)) return fail(parser, node, kReference, 46);
  return true;
}

namespace {

// name = value for a value without the integer fast form.
[[gnu::noinline]] bool assignValueToName(Parser* parser, const AssignmentExprAstNode* node, Any* result) {
  Any value;
  if (!evalGeneric(parser, node->value(), value)) return false;
  if (result != nullptr) kelCopyValue(*result, value);
  return assignToName(parser, node, value);
}

[[gnu::noinline]] bool assignInteger(Parser* parser, const AssignmentExprAstNode* node, int number) {
  Any value;
  value.set(number);
  return assignToName(parser, node, value);
}

}  // namespace

bool AssignmentExprAstNode::assign(Parser* parser, Any* result) const {
  if (!parser->stackRoom(this)) return false;
  if (targetIsName_) {
    // name = value in the interpreter's own sets: the place below without
    // the virtual protocol.
    AbstractVarSet* scope = parser->getCurrentScope();
    if (scope != nullptr && scope->asVarSet() != nullptr) {
      int number;
      if (valueIsCall_) return assignValueToName(parser, this, result);
      if (!programMade_) {
        program_ = IntProgram::build(value_.get(), IntProgram::kInt, static_cast<const IdentAstNode*>(target_.get()));
        programMade_ = true;
      }
      if (program_ != nullptr) {
        // The value's fast form and the store in one flat run; when it does
        // not answer, the value is not an integer of the fast form (or the
        // name needs the general store): the ordinary evaluation follows.
        if (!program_->run(parser, &number)) return assignValueToName(parser, this, result);
        if (result != nullptr) result->set(number);
        return true;
      }
      if (!value_->evalInt(parser, &number)) return assignValueToName(parser, this, result);
      if (result != nullptr) result->set(number);
      if (Any* variable = static_cast<const IdentAstNode*>(target_.get())->variable(parser)) {
        variable->set(number);
        return true;
      }
      return assignInteger(parser, this, number);
    }
  }
  return assignGeneral(parser, result);
}

bool AssignmentExprAstNode::assignGeneral(Parser* parser, Any* result) const {
  int done = assignToContainer(parser, this, result);
  if (done >= 0) return done != 0;
  Place place;
  if (!expectAssignable(parser, target_.get(), place, nullptr)) return false;
  Any value;
  if (!value_->evalValue(parser, value)) return false;
  if (result != nullptr) kelCopyValue(*result, value);
  int rc = placeSet(parser, place, value);
  if (rc != 0) return fail(parser, this, kReference, rc);
  return true;
}

bool AssignmentExprAstNode::evalValue(Parser* parser, Any& out) const { return assign(parser, &out); }

// ---- unary operators

bool IncDecAstNode::doIncDec(Parser* parser, Any& out, int step) const {
  // A 32-bit integer variable of the interpreter's own sets changes in
  // place (the same read and write as below, without the copies).
  if (operand()->getType() == IDENT) {
    const auto* ident = static_cast<const IdentAstNode*>(operand());
    {
      Any* variable = ident->variable(parser);
      if (variable != nullptr && variable->getType() == ANY_INT32 && !variable->isOpaque()) {
        int sub = variable->getSubtype();
        int before = variable->getInt32();
        int after = static_cast<int>(static_cast<unsigned>(before) + static_cast<unsigned>(step));
        out.set(prefix_ != 0 ? after : before);
        out.setSubtype(sub);
        variable->set(after);
        variable->setSubtype(sub);
        return true;
      }
    }
  }
  Place place;
  if (!expectAssignable(parser, operand(), place, nullptr)) return false;
  Any value;
  if (!readPlace(parser, this, place, value, kType)) return false;
  if (prefix_ == 0) kelCopyValue(out, value);
  switch (value.isOpaque() ? 0 : value.getType()) {
    case ANY_INT32: {
      int sub = value.getSubtype();
      value.set(static_cast<int>(static_cast<unsigned>(value.getInt32()) + static_cast<unsigned>(step)));
      value.setSubtype(sub);
      break;
    }
    case ANY_INT64: {
      int sub = value.getSubtype();
      value.set(static_cast<long long>(static_cast<unsigned long long>(value.getInt64()) +
                                       static_cast<unsigned long long>(static_cast<long long>(step))));
      value.setSubtype(sub);
      break;
    }
    case ANY_FLOAT: value.set(value.getFloat() + static_cast<float>(step)); break;
    case ANY_DOUBLE: value.set(value.getDouble() + static_cast<double>(step)); break;
    default: return fail(parser, this, kType, 49);
  }
  if (prefix_ != 0) kelCopyValue(out, value);
  int rc = placeSet(parser, place, value);
  if (rc != 0) return fail(parser, this, kType, rc);
  return true;
}

bool IncDecAstNode::runForEffects(Parser* parser) const {
  int step = getType() == INCREMENT ? 1 : -1;
  if (operand()->getType() == IDENT) {
    Any* variable = static_cast<const IdentAstNode*>(operand())->variable(parser);
    if (variable != nullptr && variable->getType() == ANY_INT32 && !variable->isOpaque()) {
      // In place, keeping the subtype (as doIncDec).
      int sub = variable->getSubtype();
      variable->set(static_cast<int>(static_cast<unsigned>(variable->getInt32()) + static_cast<unsigned>(step)));
      variable->setSubtype(sub);
      return true;
    }
  }
  Any value;
  return doIncDec(parser, value, step);
}

bool IncDecAstNode::evalValue(Parser* parser, Any& out) const {
  return doIncDec(parser, out, getType() == INCREMENT ? 1 : -1);
}

bool NegativeAstNode::evalValue(Parser* parser, Any& out) const {
  if (!operand()->evalValue(parser, out)) return false;
  switch (out.isOpaque() ? 0 : out.getType()) {
    case ANY_INT32:
    case ANY_INT64:
    case ANY_FLOAT:
    case ANY_DOUBLE:
      out.setSign(-1);
      return true;
    default:
      return fail(parser, this, kType, 99);
  }
}

bool NegativeAstNode::evalInt(Parser* parser, int* out) const {
  int v;
  if (!operand()->evalInt(parser, &v)) return false;
  *out = static_cast<int>(0u - static_cast<unsigned>(v));  // wraps as setSign does
  return true;
}

bool BooleanNotAstNode::evalCond(Parser* parser, bool* out) const {
  bool v;
  if (!operand()->evalCond(parser, &v)) return false;
  *out = !v;
  return true;
}

bool BooleanNotAstNode::evalValue(Parser* parser, Any& out) const {
  bool value;
  if (!expectBoolean(parser, operand(), &value)) return false;
  out.set(!value);
  return true;
}

bool BitwiseNotAstNode::evalValue(Parser* parser, Any& out) const {
  // The complement of an integer in its own width; other types, as for the
  // binary bit operators, are TypeError 101.
  if (!operand()->evalValue(parser, out)) return false;
  switch (out.isOpaque() ? 0 : out.getType()) {
    case ANY_INT32: out.set(~out.getInt32()); return true;
    case ANY_INT64: out.set(~out.getInt64()); return true;
    default: return fail(parser, this, kType, 101);
  }
}

bool TypeofAstNode::evalValue(Parser* parser, Any& out) const {
  Any value;
  if (!operand()->evalValue(parser, value)) {
    const Error* error = parser->getError();
    if (error == nullptr || error->code() != 46) return false;
    parser->recover();
    out.setString("undefined");
    return true;
  }
  out.setString(value.getTypeOf(parser));
  return true;
}

// ---- logical and conditional operators

bool LogicalAndAstNode::evalInt(Parser*, int*) const { return false; }
bool LogicalOrAstNode::evalInt(Parser*, int*) const { return false; }

// The right operand only when the left does not decide (as below); a right
// operand whose fast form fails sends the whole node the ordinary way,
// which evaluates the effect-free left operand again.
bool LogicalAndAstNode::evalCond(Parser* parser, bool* out) const {
  if (const IntProgram* program = programOf(this, IntProgram::kCond)) {
    int result;
    if (!program->run(parser, &result)) return false;
    *out = result != 0;
    return true;
  }
  if (!parser->hasStackRoom()) return false;
  bool v;
  if (!left()->evalCond(parser, &v)) return false;
  if (!v) {
    *out = false;
    return true;
  }
  return right()->evalCond(parser, out);
}

bool LogicalOrAstNode::evalCond(Parser* parser, bool* out) const {
  if (const IntProgram* program = programOf(this, IntProgram::kCond)) {
    int result;
    if (!program->run(parser, &result)) return false;
    *out = result != 0;
    return true;
  }
  if (!parser->hasStackRoom()) return false;
  bool v;
  if (!left()->evalCond(parser, &v)) return false;
  if (v) {
    *out = true;
    return true;
  }
  return right()->evalCond(parser, out);
}

bool LogicalAndAstNode::evalValue(Parser* parser, Any& out) const {
  bool value;
  if (!expectBoolean(parser, left(), &value)) return false;
  if (value && !expectBoolean(parser, right(), &value)) return false;
  out.set(value);
  return true;
}

bool LogicalOrAstNode::evalValue(Parser* parser, Any& out) const {
  bool value;
  if (!expectBoolean(parser, left(), &value)) return false;
  if (!value && !expectBoolean(parser, right(), &value)) return false;
  out.set(value);
  return true;
}

int ConditionalExpressionAstNode::evalRef(Parser* parser, Place& place, Any& value) const {
  if (!parser->stackRoom(this)) return kFailed;
  bool condition;
  if (!expectBoolean(parser, condition_.get(), &condition)) return kFailed;
  return (condition ? then_ : else_)->evalRef(parser, place, value);
}

bool ConditionalExpressionAstNode::evalValue(Parser* parser, Any& out) const {
  if (!parser->stackRoom(this)) return false;
  bool condition;
  if (!expectBoolean(parser, condition_.get(), &condition)) return false;
  return (condition ? then_ : else_)->evalValue(parser, out);
}
