// VarSet: the concrete kel variable set. Entries are a singly linked list,
// the most recently defined first; each holds a name, a value or a sub-set.
// An optional this-map (Attributes) is consulted before the variables.
// Lookups walk the chain of parents. Not synchronised: a set is used by one
// execution at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "kel/abstract_var_set.h"
#include "model/any.h"
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
  [[nodiscard]] inline Any* slotAt(int index, const char* name);
  // Defines a name of `length` bytes known to have no entry in this
  // writable set (a new call's parameters) with a copy of `value` made as
  // a variable read makes it: added at the head.
  void defineNew(const char* name, size_t length, const Any& value);
  // define(name, value) moving the value in place.
  bool defineValue(const char* name, Any& value);

  // A call's frame: entries for the names a function's call defines every
  // time (its parameters, its body's `var`s), made together with the set
  // in one block instead of one by one. A frame entry is not defined until
  // a definition names it (a parameter bound, a `var` run): until then no
  // lookup finds it, exactly as if it did not exist, and once defined it
  // joins the list at the head like any new entry. What a frame changes is
  // only where entries live, and that a name found in one is found again
  // by its index (resolveSlot reports kFrameIndex | index) without walking
  // the list.
  static constexpr size_t kFrameName = 16;  // a frame name is shorter than this
  static constexpr size_t kMaxFrame = 8;
  static constexpr int kFrameIndex = 1 << 16;
  // Gives this new, empty set a frame of `n` (at most kMaxFrame) distinct
  // names, each shorter than kFrameName bytes. `key` names the layout: every
  // frame made with the same key has the same names at the same indexes
  // (the function's call scopes); unique for the life of the process.
  void makeFrame(const std::string* names, size_t n, uint64_t key);
  [[nodiscard]] uint64_t frameKey() const { return frameKey_; }
  // A new set with a frame (makeFrame's arguments), for a call's scope: the
  // thread's spare when it has that key (a set of the same function's
  // earlier call, emptied and given a new serial), else made.
  [[nodiscard]] static VarSet* makeCallScope(const std::string* names, size_t n, uint64_t key);
  // Ends a set whose one count the caller holds and gives up, its parent
  // handed back already (AbstractVarSet::releaseParent): a call scope is
  // emptied and kept as the thread's spare when the place is free, any
  // other set is deleted.
  static void retire(VarSet* set);
  // The index of the defined frame entry of that name, or -1.
  [[nodiscard]] int frameIndexOf(const char* name) const;
  // defineValue(name, value) for the name of frame entry `index`, in place
  // (no list entry can hold a frame entry's name: definitions of it land in
  // the frame entry). False, changing nothing, when the set is read-only.
  bool defineFrameValue(int index, Any& value);
  // The same for a 32-bit integer with subtype `subtype` (false as well
  // for an entry holding a sub-set: the long way then).
  bool defineFrameInt(int index, int value, int subtype) {
    if (readOnly_ || index < 0 || static_cast<size_t>(index) >= frameSize_) return false;
    Entry* e = frameEntry(static_cast<size_t>(index));
    if (!e->linked) {
      // As findOrAdd adds an entry.
      linkFrameEntry(e);
      noteGrowthHere();
      e->hasValue = true;
    } else if (!e->hasValue) {
      return false;
    }
    e->value.set(value);
    if (subtype != 0) e->value.setSubtype(subtype);
    return true;
  }
  // For a name that resolveSlot found at `ownIndex` (a frame index) in a
  // set of the same frame key: the variable now, or null when the entry is
  // not defined (a later definition then moves the shape epoch) or the set
  // has a this-map or is read-only.
  [[nodiscard]] Any* frameValue(int ownIndex) {
    auto at = static_cast<size_t>(ownIndex & ~kFrameIndex);
    if (this_.getTarget() != nullptr || readOnly_ || at >= frameSize_) return nullptr;
    shapeCached_ = true;
    Entry* e = frameEntry(at);
    if (!e->linked || !e->hasValue) {
      lookedPast_ = true;
      return nullptr;
    }
    return &e->value;
  }
  // The same for flat programs, which read only integers, booleans and
  // containers and store only into variables holding a value: an entry
  // not defined yet gives its (null) value, which such a program neither
  // reads nor stores into, so that its definition later changes nothing
  // the program bound. Null for a this-map, a read-only set, a sub-set.
  [[nodiscard]] Any* frameSlot(int ownIndex) {
    auto at = static_cast<size_t>(ownIndex & ~kFrameIndex);
    if (this_.getTarget() != nullptr || readOnly_ || at >= frameSize_) return nullptr;
    shapeCached_ = true;
    Entry* e = frameEntry(at);
    if (e->linked && !e->hasValue) return nullptr;
    return &e->value;
  }
  // Defines frame entry `index` (not yet defined; no list entry has its
  // name) with a copy of `value` made as a variable read makes it.
  void defineFrame(size_t index, const Any& value);

  char* toString(Parser* parser) override;

 private:
  friend struct VarSetFrame;
  // One allocation per variable: the entry holds its value and its name.
  // Entries of short names come from a per-thread cache of blocks; frame
  // entries live in their set's frame block.
  struct Entry {
    Entry* next = nullptr;
    ObjRef subSet;  // may be empty
    Any value;      // meaningful when hasValue
    bool hasValue = false;
    bool cached = false;  // the block came from the entry block cache
    bool framed = false;  // one of the set's frame entries (freed with the frame)
    bool linked = false;  // a frame entry that is defined (in the list)
    uint8_t frameIndex = 0;
    char name[1];  // the name's bytes run on past the struct

    static Entry* make(const char* name);
    static Entry* make(const char* name, size_t n);
    // Copies the name and its terminator. Names are mostly a few bytes: a
    // short one is copied in place, which costs less than the call.
    static void copyName(char* to, const char* from, size_t n);
    static constexpr size_t kShortName = 16;
    static constexpr size_t kSmallBlock = 128;
    // Drops the value (a sub-set may take its place).
    void dropValue() {
      value.clear();
      hasValue = false;
    }
  };
  // A frame entry takes a fixed stride: the entry and a name of up to
  // kFrameName - 1 bytes.
  static constexpr size_t kFrameStride =
      (sizeof(Entry) + kFrameName + alignof(Entry) - 1) / alignof(Entry) * alignof(Entry);
  // Name comparison on the lookup path: names are short, a call to strcmp
  // costs more than the loop.
  static bool sameName(const char* a, const char* b) {
    while (*a == *b) {
      if (*a == '\0') return true;
      ++a;
      ++b;
    }
    return false;
  }
  [[nodiscard]] Any* slotAtList(int index, const char* name);
  [[nodiscard]] Entry* find(const char* name) const;
  // The entry of that name, else a new one at the head (`*added` true),
  // with neither a value nor a sub-set yet.
  Entry* findOrAdd(const char* name, bool* added);
  static void destroy(Entry* entry);
  // The frame entry of that name that is not defined, or null.
  [[nodiscard]] Entry* dormantFrameEntry(const char* name) const;
  // A definition's value moved into `e` (`added`: the entry is new).
  void storeDefinition(Entry* e, bool added, Any& value);
  // Empties the list (frame entries back to not defined).
  void dropEntries();
  [[nodiscard]] Entry* frameEntry(size_t index) const {
    return reinterpret_cast<Entry*>(frame_ + index * kFrameStride);
  }
  // A frame entry becomes defined: at the head of the list.
  void linkFrameEntry(Entry* e) {
    e->linked = true;
    e->next = entries_;
    entries_ = e;
  }
  // A frame entry goes back to not defined (out of the list already).
  static void resetFrameEntry(Entry* e) {
    e->dropValue();
    if (e->subSet.getTarget() != nullptr) e->subSet.set(nullptr);
    e->linked = false;
    e->next = nullptr;
  }

  Entry* entries_ = nullptr;
  unsigned char* frame_ = nullptr;  // frameSize_ entries of a fixed stride
  size_t frameSize_ = 0;
  uint64_t frameKey_ = 0;  // 0: no frame
  ObjRef this_;
  bool readOnly_ = false;
};

Any* VarSet::slotAt(int index, const char* name) {
  if ((index & kFrameIndex) == 0) return slotAtList(index, name);
  auto at = static_cast<size_t>(index & ~kFrameIndex);
  if (at >= frameSize_ || this_.getTarget() != nullptr || readOnly_) return nullptr;
  Entry* e = frameEntry(at);
  // A frame entry holds its name whether defined or not: the same name at
  // the same index is the same variable.
  if (!e->linked || !e->hasValue || !sameName(e->name, name)) return nullptr;
  shapeCached_ = true;
  return &e->value;
}

inline VarSet* AbstractVarSet::asVarSet() { return isVarSet_ ? static_cast<VarSet*>(this) : nullptr; }
