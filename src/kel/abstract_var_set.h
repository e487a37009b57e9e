// AbstractVarSet: the interface of kel variable sets, the chains of scopes a
// script runs in (the root set handed to each execution, and the block and
// function scopes the interpreter pushes). The parser holds its root and
// current scope through this interface; VarSet implements it.
// Not synchronised: a set is used by one execution at a time.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "kel/location.h"
#include "model/obj_ref.h"
#include "model/translatable.h"

class Any;
class Attributes;
class VarSet;

class AbstractVarSet : public Translatable {
 public:
  // Scope kinds.
  enum : int { kBlockScope = 1, kFunctionScope = 2 };

  [[nodiscard]] AbstractVarSet* parent() const { return static_cast<AbstractVarSet*>(parent_.getTarget()); }
  // This set as the concrete VarSet, or null for another implementation
  // (lookups take the VarSet's direct path without a dynamic_cast).
  // Defined in var_set.h.
  [[nodiscard]] inline VarSet* asVarSet();
  void setParent(AbstractVarSet* parent) {
    parent_.set(parent);
    noteChangeHere();
  }
  // setParent with the count of `parent` that the caller hands over
  // (ObjRef::release()).
  void adoptParent(AbstractVarSet* parent) {
    parent_.adopt(parent);
    noteChangeHere();
  }
  // Hands the count of the parent to the caller (for a set about to end:
  // it has no parent after).
  [[nodiscard]] AbstractVarSet* releaseParent() { return static_cast<AbstractVarSet*>(parent_.release()); }
  [[nodiscard]] int scopeKind() const { return scopeKind_; }

  // Where a name leads from a scope may be cached (by the syntax tree's
  // names) under the scope's serial, unique for the life of the process,
  // and the shape epoch, a process-wide count that changes whenever the
  // answer might change: when a set that some lookup has reached
  // (VarSet::resolveSlot marks it) is re-parented or loses or turns an
  // entry between value and sub-set, when a set that some lookup went
  // past without finding its name there gains an entry, when any set's
  // this-map or read-only flag changes, and when the prototype registry
  // changes. A new entry cannot change where a name already found in the
  // same set leads (names are unique within a set and entries do not
  // move), so the `var` of a call's body whose other names are all its
  // own leaves the epoch alone, as do making, filling and dropping the
  // fresh scope of a call and assigning a new value to an existing
  // variable.
  [[nodiscard]] uint64_t serial() const { return serial_; }
  [[nodiscard]] static uint64_t shapeEpoch() { return shapeEpoch_.load(std::memory_order_relaxed); }
  static void noteShapeChange() { shapeEpoch_.fetch_add(1, std::memory_order_relaxed); }
  void setScopeKind(int kind) { scopeKind_ = kind; }

  // The call location and function name of the set made for a function
  // call; tracebacks list one entry per such set.
  void setLocation(const char* functionName, const Location& location) {
    ownedSite_ = std::make_unique<OwnedCallSite>();
    ownedSite_->name = functionName != nullptr ? functionName : "<anonymous>";
    ownedSite_->location = location;
    callName_ = ownedSite_->name.c_str();
    callSite_ = &ownedSite_->location;
  }
  // The same without copies, for the scope of a kel function call, which
  // ends before the function and the calling tree can: `functionName` and
  // `location` must outlive the set's use as a scope.
  void setCallSite(const char* functionName, const Location* location) {
    callName_ = functionName != nullptr ? functionName : "<anonymous>";
    callSite_ = location;
  }
  [[nodiscard]] bool hasCallLocation() const { return callSite_ != nullptr; }
  [[nodiscard]] const Location& getLocation() const { return callSite_ != nullptr ? *callSite_ : noLocation(); }
  [[nodiscard]] const char* functionName() const { return callName_ != nullptr ? callName_ : ""; }

  virtual void setReadOnly(bool readOnly) = 0;
  [[nodiscard]] virtual AbstractVarSet* getSubSet(const char* name) = 0;
  virtual bool set(const char* name, AbstractVarSet* subSet) = 0;
  virtual bool define(const char* name, AbstractVarSet* subSet) = 0;
  [[nodiscard]] virtual Any* get(const char* name) = 0;
  virtual bool set(const char* name, Any* value) = 0;
  virtual bool define(const char* name, Any* value) = 0;
  virtual void clear(const char* name) = 0;
  virtual void clear() = 0;
  virtual void setThis(Attributes* map) = 0;
  virtual void clearThis() = 0;
  [[nodiscard]] virtual Attributes* getThis() = 0;
  // A null-terminated array of new copies of this set's own names, most
  // recent first (release each with free, then the array with delete[]).
  [[nodiscard]] virtual char** getLocalVariables() = 0;

  // The interpreter's forms of get and set, which copy and move values in
  // place instead of allocating: `readVariable` copies the variable's value
  // into `out` (0), or else a reference to the named sub-set (0), or gives
  // 46; `assignValue` is set(name, value) taking the value over by moving
  // it (false when no set of the chain has the name, or it is read-only).
  [[nodiscard]] virtual int readVariable(const char* name, Any& out);
  [[nodiscard]] virtual bool assignValue(const char* name, Any& value);

  // The object protocol: a copy of get(name), else a reference to
  // getSubSet(name), else 46; set(name, value), false giving 46.
  int getField(Parser* parser, Any** result, const char* name) const override;
  int setField(Parser* parser, const char* name, Any* value) override;
  int callMemberFn(Parser* parser, Any** result, Translatable* self, const char* name, Any** args) override;

 protected:
  // A set reused for a new scope (VarSet::retire): a new serial, no marks,
  // no call site, as a new set has.
  void renewSerial() { serial_ = newSerial(); }
  void resetForReuse() {
    shapeCached_ = false;
    lookedPast_ = false;
    ownedSite_.reset();
    callName_ = nullptr;
    callSite_ = nullptr;
    scopeKind_ = kFunctionScope;
  }
  // A change of this set's shape: the epoch moves when a lookup has
  // walked through the set.
  void noteChangeHere() {
    if (shapeCached_) noteShapeChange();
  }
  // A new entry in this set: the epoch moves when a lookup has gone past
  // the set (the name could now be found here).
  void noteGrowthHere() {
    if (lookedPast_) noteShapeChange();
  }

  bool isVarSet_ = false;
  // Some lookup has reached this set (found its name here or went past).
  bool shapeCached_ = false;
  // Some lookup reached this set without finding its name here.
  bool lookedPast_ = false;
  static std::atomic<uint64_t> shapeEpoch_;

 private:
  static std::atomic<uint64_t> nextSerial_;
  // Serials are handed to each thread in blocks: a call's scope takes one
  // without an atomic step.
  static uint64_t newSerial();
  uint64_t serial_ = newSerial();
  ObjRef parent_;
  int scopeKind_ = kFunctionScope;
  // Copies kept by setLocation (the sets of the interpreter's calls borrow
  // theirs and make none).
  struct OwnedCallSite {
    std::string name;
    Location location;
  };
  static const Location& noLocation();
  std::unique_ptr<OwnedCallSite> ownedSite_;
  const char* callName_ = nullptr;
  const Location* callSite_ = nullptr;
};
