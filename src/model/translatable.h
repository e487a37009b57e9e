// Translatable: the abstract base of every object that the kel language can
// script and the wire encoding can carry. The base results below are what an
// object that does not take part in an operation reports.
// Not synchronised: one thread at a time uses an object, except `refCount`,
// an atomic count changed by ObjRef (see obj_ref.h).
#pragma once

#include <atomic>

class Any;
class Parser;     // the kel parser; reached only through script_hooks.h
class Location;   // a kel source location (a Translatable)
class Principal;

// Object ids of the data model (the full table lives with the wire encoding).
enum : int {
  OBJ_ANY_ID = 1000,
  OBJ_ATTRIBUTES_ID = 1001,
  OBJ_ATTRLIST_ID = 1002,
  OBJ_DIRNAMEENTRY_ID = 1004,
  OBJ_DIRNAMEENTRY_ATTR_ID = 1005,
  OBJ_DIRNAME_ID = 1007,
  OBJ_DIRNAME_NODE_ID = 1008,
  OBJ_DIRECTORYENUMERATION_ID = 1010,
  OBJ_DIRECTORYENUMERATION_ENTRY_ID = 1011,
  OBJ_ACL_ID = 1014,
  OBJ_CLASSENUMERATION_ID = 1020,
  OBJ_CLASSENUMERATION_ENTRY_ID = 1021,
  OBJ_ANYARRAY_ID = 1030,
  OBJ_EXPECTENTRY_ID = 2390,
  OBJ_EXPECTLIST_ID = 2391,
  OBJ_EXPECTLIST_NODE_ID = 2393,
  OBJ_JAVAOBJECT_ID = 2431,
  OBJ_PRINCIPAL_ID = 7,
  OBJ_FUNCTION_ID = 9224,
  OBJ_EMBDEVICECHALLENGE_ID = 50501,
};

class Translatable {
 public:
  Translatable() = default;
  // Copies never share the count: a copy starts unshared.
  Translatable(const Translatable&) : refCount(0) {}
  Translatable& operator=(const Translatable&) { return *this; }
  // Inline: values on the interpreter's stack are made and dropped all the time.
  virtual ~Translatable() = default;

  // Ownership rule for every operation below that takes an `Any* value`:
  // the callee always takes the value over, on success and on failure alike.
  // Results handed back through `Any** result` belong to the caller; on a
  // non-zero status *result is null.

  // Calls member `name` on `self` (called on a prototype). Base: 111.
  [[nodiscard]] virtual int callMemberFn(Parser* parser, Any** result, Translatable* self, const char* name,
                                         Any** args);
  // Calls the object as a function. Base: 108.
  [[nodiscard]] virtual int call(Parser* parser, const Location* location, Any** args, Any** result);
  // Base: "prototype" gives a reference to the parser's prototype of this
  // class (undefined when it has none) for objects with an id; else 50.
  [[nodiscard]] virtual int getField(Parser* parser, Any** result, const char* name) const;
  // Base: deletes `value`, 21.
  [[nodiscard]] virtual int setField(Parser* parser, const char* name, Any* value);
  // Base: 21.
  [[nodiscard]] virtual int getArrayElement(Parser* parser, Any** result, const Any* index) const;
  // Base: deletes `value`, 21.
  [[nodiscard]] virtual int setArrayElement(Parser* parser, const Any* index, Any* value);
  // Iteration step. Base: 21.
  [[nodiscard]] virtual int findNext(Parser* parser, Any** result, const Any* cursor);
  // A new text (release with free). Every concrete class that can reach a
  // text form overrides it; the base version is a programming error that
  // logs "VIRTUAL tostring called" and ends the process with status 1.
  [[nodiscard]] virtual char* toString(Parser* parser);
  // Base: toString.
  [[nodiscard]] virtual char* toJSON(Parser* parser);
  // The object's text as an item of a container's text (Attributes, AnyArray,
  // JSON.stringify), which readers take back as JSON: an object whose own
  // text is not a JSON value (a kel Date) gives its JSON form here. Base:
  // toString.
  [[nodiscard]] virtual char* toItemText(Parser* parser);
  [[nodiscard]] virtual bool copyToJavaAsRef() const;
  // The object's type id on the wire and inside Any; base -1.
  [[nodiscard]] virtual int getObjectID() const;
  [[nodiscard]] virtual bool isAssignable() const;
  [[nodiscard]] virtual bool isPrototype() const;
  // A new copy in *out. Base: 21.
  [[nodiscard]] virtual int clone(const Principal* principal, Translatable** out) const;
  // Base: 21.
  [[nodiscard]] virtual int isEqual(const Principal* principal, bool* out, const Translatable* other) const;
  // Base: 21.
  [[nodiscard]] virtual int compareTo(const Principal* principal, int* out, const Translatable* other) const;
  // Makes a new object (called on a prototype for `new`). Base: 21.
  [[nodiscard]] virtual int construct(Parser* parser, Any** result, Translatable** args) const;
  // Static texts. Base: "undefined" for a prototype, else "object".
  [[nodiscard]] virtual const char* getTypeOf(Parser* parser) const;
  // Static or parser-owned text. Base: "prototype" for a prototype, else the
  // parser's registered class name for getObjectID(), else "object".
  [[nodiscard]] virtual const char* getClassOf(Parser* parser) const;

  // Counts the ObjRefs sharing this object. Atomic: references are taken
  // and dropped on every step of a script, too often for a lock.
  std::atomic<int> refCount{0};
};
