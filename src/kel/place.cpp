#include "kel/place.h"

#include <cstdlib>
#include <cstring>
#include <unordered_map>

#include "kel/abstract_var_set.h"
#include "kel/native_function.h"
#include "kel/parser.h"
#include "kel/prototype_registry.h"
#include "model/any_array.h"
#include "model/attributes.h"
#include "model/obj_ref.h"

namespace {

// Nesting bound of containers stored into containers: texts and
// destructors of the data model walk nesting recursively, so a script must
// not build it without end.
constexpr int kMaxContainerDepth = 200;

bool isContainer(const Translatable* t) {
  if (t == nullptr) return false;
  int id = t->getObjectID();
  return id == OBJ_ANYARRAY_ID || id == OBJ_ATTRIBUTES_ID;
}

// The container a value refers to or holds, or null.
Translatable* containerOf(const Any* value) {
  if (value == nullptr || value->isOpaque()) return nullptr;
  if (value->getType() == ANY_REF) {
    Translatable* t = value->getRefTarget();
    return isContainer(t) ? t : nullptr;
  }
  if (value->getType() == OBJ_ANYARRAY_ID) return value->getHeldObject();
  return nullptr;
}

// Depth of the containers below `node` (1 for an empty one), or -1 when
// `owner` is reachable from it (or a cycle exists already), or past `limit`.
class DepthWalk {
 public:
  DepthWalk(const Translatable* owner, int limit) : owner_(owner), limit_(limit) {}
  [[nodiscard]] size_t visited() const { return visited_; }

  int depth(const Translatable* node, int level) {
    if (node == owner_ || level > limit_) return -1;
    auto it = memo_.find(node);
    if (it != memo_.end()) return it->second == 0 ? -1 : it->second;  // 0: being walked, a cycle
    memo_[node] = 0;
    int deepest = 0;
    visited_++;
    auto visit = [&](const Any* value) {
      if (deepest < 0) return;
      const Translatable* child = containerOf(value);
      if (child == nullptr) return;
      int d = depth(child, level + 1);
      if (d < 0) {
        deepest = -1;
        return;
      }
      if (d > deepest) deepest = d;
    };
    if (node->getObjectID() == OBJ_ANYARRAY_ID) {
      const auto* array = static_cast<const AnyArray*>(node);
      visited_ += static_cast<size_t>(array->size());
      for (int i = 0; i < array->size() && deepest >= 0; i++) visit(array->get(i));
    } else {
      const auto* map = static_cast<const Attributes*>(node);
      for (auto* e = map->first(); e != nullptr && deepest >= 0; e = e->getNext()) visit(e->getValue());
    }
    if (deepest < 0) return -1;
    memo_[node] = deepest + 1;
    return deepest + 1;
  }

 private:
  const Translatable* owner_;
  int limit_;
  size_t visited_ = 0;
  std::unordered_map<const Translatable*, int> memo_;
};

}  // namespace

// 0 when `value` may be stored into `owner`; 24 when that would make a
// container hold itself (its text and its release would never end); 39
// when the nesting would grow past the bound.
int kelContainerCheckSlow(const Translatable* owner, const Any& value, Parser* parser) {
  const Translatable* child = containerOf(&value);
  if (child == nullptr) return 0;
  if (child == owner) return 24;
  DepthWalk walk(owner, kMaxContainerDepth);
  int d = walk.depth(child, 1);
  // The walk is work a step budget must see (a step per 256 items).
  if (parser != nullptr && !parser->charge(nullptr, static_cast<long long>(walk.visited() >> 8))) {
    return Parser::kTimeoutCode;
  }
  if (d >= 0) return 0;
  // Tell a cycle from depth: walk again without the owner.
  DepthWalk plain(nullptr, kMaxContainerDepth);
  return plain.depth(child, 1) >= 0 ? 24 : 39;
}

void Place::setArray(Translatable* container, Any& index) {
  kind = kArray;
  target = container;
  this->index.takeFrom(index);
  index.clear();
}

void Place::hold() {
  if (target != nullptr && holder.getRefTarget() != target) holder.setRef(new ObjRef(target));
}

void Place::own() {
  if (name != nullptr && name != ownedName.c_str()) {
    ownedName = name;
    name = ownedName.c_str();
  }
}

int getProperty(Parser* parser, Translatable* owner, const char* name, Any& out, bool temporaryOwner) {
  if (owner == nullptr) return 100;
  Any* result = nullptr;
  int rc = owner->getField(parser, &result, name);
  if (rc == 0) {
    if (result != nullptr) {
      out.takeFrom(*result);
      delete result;
    } else {
      out.setUndefined();
    }
    return 0;
  }
  delete result;
  if (rc == 123) return rc;
  Translatable* prototype = owner->isPrototype() ? owner : PrototypeRegistry::findPrototype(owner);
  if (prototype != nullptr && PrototypeRegistry::isFunctionOf(owner, name)) {
    Translatable* bound = owner;
    if (temporaryOwner) bound = new Any(*static_cast<Any*>(owner));
    out.setRef(new ObjRef(new ShadowFunction(prototype, bound, name)));
    return 0;
  }
  return rc;
}

int placeGet(Parser* parser, const Place& place, Any& out) {
  switch (place.kind) {
    case Place::kMember: {
      Translatable* prototype = place.prototypeKnown ? place.prototype
                                                     : PrototypeRegistry::findPrototypeObjectByName(place.name);
      if (prototype != nullptr) {
        out.setRef(new ObjRef(prototype));
        return 0;
      }
      int rc;
      if (place.ownerIsScope) {
        rc = static_cast<AbstractVarSet*>(place.target)->readVariable(place.name, out);
        if (rc != 0) {
          // A scope has no prototype of its own that lists members.
          Translatable* own = PrototypeRegistry::findPrototype(place.target);
          if (own != nullptr && PrototypeRegistry::isFunctionOf(place.target, place.name)) {
            out.setRef(new ObjRef(new ShadowFunction(own, place.target, place.name)));
            rc = 0;
          }
        }
      } else {
        rc = getProperty(parser, place.target, place.name, out);
      }
      if (rc == 50 && place.undefinedIfMissing) {
        out.setUndefined();
        return 0;
      }
      return rc;
    }
    case Place::kArray: {
      if (place.target == nullptr) return 100;
      Any* result = nullptr;
      int rc = place.target->getArrayElement(parser, &result, &place.index);
      if (rc != 0) {
        delete result;
        return rc;
      }
      if (result != nullptr) {
        out.takeFrom(*result);
        delete result;
      } else {
        out.setUndefined();
      }
      return 0;
    }
    case Place::kObject:
      if (place.target == nullptr) return 110;
      out.setRef(new ObjRef(place.target));
      return 0;
    default:
      return 98;
  }
}

int placeSet(Parser* parser, const Place& place, Any& value) {
  switch (place.kind) {
    case Place::kMember: {
      if (place.ownerIsScope) {
        return static_cast<AbstractVarSet*>(place.target)->assignValue(place.name, value) ? 0 : 46;
      }
      if (place.target == nullptr) return 100;
      if (int rc = kelContainerCheckSlow(place.target, value, parser)) {
        value.clear();
        return rc;
      }
      if (assignMemberInPlace(place.target, place.name, value)) return 0;
      Any* moved = new Any();
      moved->takeFrom(value);
      value.clear();
      return place.target->setField(parser, place.name, moved);
    }
    case Place::kArray: {
      if (place.target == nullptr) return 100;
      if (int rc = kelContainerCheckSlow(place.target, value, parser)) {
        value.clear();
        return rc;
      }
      Any* moved = new Any();
      moved->takeFrom(value);
      value.clear();
      return place.target->setArrayElement(parser, &place.index, moved);
    }
    default:
      value.clear();
      return 100;
  }
}

// ---- Assignable

int Assignable::set(Parser* parser, Any* value) {
  if (value == nullptr) return 100;
  int rc = placeSet(parser, place_, *value);
  delete value;
  return rc;
}

int Assignable::get(Parser* parser, Any** result) {
  Any* out = new Any();
  int rc = placeGet(parser, place_, *out);
  if (rc != 0) {
    delete out;
    out = nullptr;
  }
  *result = out;
  return rc;
}

char* Assignable::toString(Parser* parser) {
  Any value;
  if (placeGet(parser, place_, value) != 0) return strdup("undefined");
  return value.toString(parser);
}

Assignable* Assignable::fromPlace(Place& place) {
  Assignable* a;
  switch (place.kind) {
    case Place::kMember:
      a = new MemberAssignable(place.name, place.target, place.undefinedIfMissing);
      a->place_.prototypeKnown = place.prototypeKnown;
      a->place_.prototype = place.prototype;
      break;
    case Place::kArray:
      a = new ArrayAssignable(place.target, place.index);
      break;
    default:
      a = new ObjectAssignable(place.target);
      break;
  }
  return a;
}

MemberAssignable::MemberAssignable(const char* name, Translatable* owner, bool undefinedIfMissing) {
  place_.setMember(name, owner, dynamic_cast<AbstractVarSet*>(owner) != nullptr, undefinedIfMissing);
  place_.own();
  place_.hold();
}

ArrayAssignable::ArrayAssignable(Translatable* container, const Any& index) {
  Any copy;
  kelCopyValue(copy, index);
  place_.setArray(container, copy);
  place_.hold();
}

ObjectAssignable::ObjectAssignable(Translatable* object) {
  place_.setObject(object);
  place_.hold();
}
