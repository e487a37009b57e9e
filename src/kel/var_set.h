// VarSet: the concrete kel variable set. Entries are a singly linked list,
// the most recently defined first; each holds a name, a value or a sub-set.
// An optional this-map (Attributes) is consulted before the variables.
// Lookups walk the chain of parents. Not synchronised: a set is used by one
// execution at a time.
#pragma once

#include "kel/abstract_var_set.h"
#include "model/obj_ref.h"

class VarSet final : public AbstractVarSet {
 public:
  VarSet();
  ~VarSet() override;
  VarSet(const VarSet&) = delete;
  VarSet& operator=(const VarSet&) = delete;
  // Scopes are made and dropped on every call: their blocks come from a
  // per-thread cache (block_cache.h).
  static void* operator new(size_t size);
  static void operator delete(void* block, size_t size);

  void setReadOnly(bool readOnly) override {
    readOnly_ = readOnly;
    noteShapeChange();
  }
  [[nodiscard]] bool isReadOnly() const { return readOnly_; }
  // The first entry of that name with a sub-set, here or in a parent.
  AbstractVarSet* getSubSet(const char* name) override;
  // The first entry of that name here gets the sub-set (its value dropped);
  // not found here or read-only: the parent's set; no parent: false.
  bool set(const char* name, AbstractVarSet* subSet) override;
  // Replaces the entry of that name here, or adds one at the head; false
  // when read-only.
  bool define(const char* name, AbstractVarSet* subSet) override;
  // The this-map's attribute, else the first entry of that name holding a
  // value, else the parent's get; null when none. Not a copy.
  Any* get(const char* name) override;
  // Takes `value` over (deleted when the set refuses it).
  bool set(const char* name, Any* value) override;
  bool define(const char* name, Any* value) override;
  // Removes the first entry of that name from this set (not read-only).
  void clear(const char* name) override;
  // Removes every entry (not read-only); an array, attribute set or Any
  // that a value refers to is emptied first.
  void clear() override;
  void setThis(Attributes* map) override;
  void clearThis() override;
  Attributes* getThis() override;
  char** getLocalVariables() override;

  bool assignValue(const char* name, Any& value) override;
  // The variable that both get(name) and assignValue(name, ...) reach, when
  // they reach the same one (a value entry of a writable VarSet, no this-map
  // attribute of that name on the way), for changing it in place; else null.
  [[nodiscard]] Any* findWritable(const char* name);
  // findWritable's variable when, besides, no this-map lies on the way (its
  // attributes can change without the shape epoch): the answer then stays
  // right while AbstractVarSet::shapeEpoch() is unchanged, so it may be
  // cached with it. Null when there is no such variable.
  // `ownIndex`, when given, receives the entry's place in this set's list
  // when the variable is this set's own (else -1).
  [[nodiscard]] Any* resolveSlot(const char* name, int* ownIndex = nullptr);
  // resolveSlot's answer when it is this set's entry at place `index` of
  // the list (a name looked up again in a new scope of the same shape,
  // such as a parameter in the next call); else null.
  [[nodiscard]] Any* slotAt(int index, const char* name);
  // Defines a name of `length` bytes known to have no entry in this
  // writable set (a new call's parameters) with a copy of `value` made as
  // a variable read makes it: added at the head.
  void defineNew(const char* name, size_t length, const Any& value);
  // define(name, value) moving the value in place.
  bool defineValue(const char* name, Any& value);

  char* toString(Parser* parser) override;

 private:
  struct Entry;
  [[nodiscard]] Entry* find(const char* name) const;
  // The entry of that name, else a new one at the head (`*added` true),
  // with neither a value nor a sub-set yet.
  Entry* findOrAdd(const char* name, bool* added);
  static void destroy(Entry* entry);

  Entry* entries_ = nullptr;
  ObjRef this_;
  bool readOnly_ = false;
};

inline VarSet* AbstractVarSet::asVarSet() { return isVarSet_ ? static_cast<VarSet*>(this) : nullptr; }
