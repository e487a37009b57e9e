// Place: a storage place an expression names (a variable or member of an
// owner, an element of a container, or an object itself), and the
// Assignable objects that carry a place outside one evaluation. The
// interpreter keeps places on its own stack frames, so naming a variable
// costs no allocation; evaluate() wraps one in an Assignable only when the
// reference leaves the interpreter. Not synchronised.
#pragma once

#include <cstdint>
#include <string>

#include "model/any.h"
#include "model/attributes.h"
#include "model/translatable.h"

class Place {
 public:
  enum Kind : uint8_t { kNone, kMember, kArray, kObject };

  Place() = default;
  Place(const Place&) = delete;
  Place& operator=(const Place&) = delete;

  // A member `name` of `owner`. The name must outlive the place (the tree's
  // text) unless own() is called. A scope owner is kept alive by the
  // running parser; any other owner must be held (hold/adoptHolder).
  void setMember(const char* name, Translatable* owner, bool ownerIsScope, bool undefinedIfMissing) {
    kind = kMember;
    this->name = name;
    target = owner;
    this->ownerIsScope = ownerIsScope;
    this->undefinedIfMissing = undefinedIfMissing;
    prototypeKnown = false;
  }
  // Element `index` (a plain value, taken over) of `container`.
  void setArray(Translatable* container, Any& index);
  // The object itself.
  void setObject(Translatable* object) {
    kind = kObject;
    target = object;
  }
  // Keeps the target alive through `holder`, an ANY_REF to it (moved in).
  void adoptHolder(Any& holder) { this->holder.takeFrom(holder), holder.clear(); }
  // Keeps the target alive with a new counted reference.
  void hold();
  // Copies the name into the place so that it no longer points into a tree.
  void own();

  Kind kind = kNone;
  bool undefinedIfMissing = false;
  bool ownerIsScope = false;
  // Set by an identifier that looked its name up in the prototype registry
  // already (prototype is then the result, null for none).
  bool prototypeKnown = false;
  Translatable* prototype = nullptr;
  const char* name = nullptr;
  Translatable* target = nullptr;
  Any holder;
  Any index;
  std::string ownedName;
};

// Reads a place: 0 with the value in `out`, or an error code.
//   member: a registered prototype of that name wins; then the owner's
//   field (getProperty); a missing member (50) reads as undefined when the
//   place says so.
//   array: the container's element at the index.
//   object: a reference to the object.
[[nodiscard]] int placeGet(Parser* parser, const Place& place, Any& out);
// Writes a place, taking `value` over (it is left empty): 0 or a code
// (100 for an object place; 46 for an unknown variable).
[[nodiscard]] int placeSet(Parser* parser, const Place& place, Any& value);
// A member store without a new Any: when `target` is an attribute set that
// owns the value of member `name` alone, that value takes `value` over (left
// empty) and the answer is true; otherwise false with nothing changed, and
// the caller stores through setField.
[[nodiscard]] inline bool assignMemberInPlace(Translatable* target, const char* name, Any& value) {
  return target->getObjectID() == OBJ_ATTRIBUTES_ID && static_cast<Attributes*>(target)->assignInPlace(name, value);
}
// The owner's field `name` (the owner's getField); when the owner lacks it
// and its prototype lists `name` as a member function, a ShadowFunction
// bound to the owner. 0, or the getField code.
// A temporary owner (a plain value on the interpreter's stack) is copied
// into the ShadowFunction.
[[nodiscard]] int getProperty(Parser* parser, Translatable* owner, const char* name, Any& out,
                              bool temporaryOwner = false);
// Copies `source` into `out` the way a variable read does: scalars and
// texts by value, references sharing their target.
// Numbers and the other plain values are copied inline.
void kelCopyValueSlow(Any& out, const Any& source);
inline void kelCopyValue(Any& out, const Any& source) {
  int code = source.getType();
  if ((code == ANY_INT32 || code == ANY_INT64 || source.getSubtype() == 0) && out.copyPlainFrom(source)) return;
  kelCopyValueSlow(out, source);
}

// A storage place as an object (a Translatable whose isAssignable is true).
class Assignable : public Translatable {
 public:
  bool isAssignable() const override { return true; }
  // Writes the place (takes `value` over): 0 or a code.
  [[nodiscard]] virtual int set(Parser* parser, Any* value);
  // Reads the place into a new Any: 0 or a code.
  [[nodiscard]] virtual int get(Parser* parser, Any** result);
  // The text of the current value.
  char* toString(Parser* parser) override;
  [[nodiscard]] const Place& place() const { return place_; }

  // A new Assignable of the place's kind that owns what the place refers
  // to (the place is emptied).
  [[nodiscard]] static Assignable* fromPlace(Place& place);

 protected:
  Place place_;
};

// A member `name` of an owner object or scope.
class MemberAssignable : public Assignable {
 public:
  MemberAssignable(const char* name, Translatable* owner, bool undefinedIfMissing);
};

// An element of a container (array or attribute set).
class ArrayAssignable : public Assignable {
 public:
  ArrayAssignable(Translatable* container, const Any& index);
};

// An object that can be read but not written (a function, a literal).
class ObjectAssignable : public Assignable {
 public:
  explicit ObjectAssignable(Translatable* object);
};
