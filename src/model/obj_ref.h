// ObjRef: a counted reference that lets several holders share one
// Translatable. Every ObjRef holding a target accounts for one unit of the
// target's refCount; all count changes happen under the one process-wide
// objRefLock, and a target whose count reaches 0 is deleted after that lock
// is released (so a destructor may release further references).
// An ObjRef itself is used by one thread at a time; the target may be shared.
#pragma once

#include "model/translatable.h"
#include "runtime/critical_block.h"

// The lock behind every reference count. Never take it around code that
// creates, copies or releases an ObjRef: it is not recursive.
[[nodiscard]] CriticalBlock& objRefLock();

class ObjRef {
 public:
  // No target.
  ObjRef() = default;
  // Holds `t` (counted); a null `t` makes the reference hold a new null Any.
  explicit ObjRef(Translatable* t);
  ObjRef(const ObjRef& other);
  ObjRef& operator=(const ObjRef& other);
  virtual ~ObjRef();

  // Releases the current target and holds `t` (null allowed: no target).
  // Holding the target already held leaves the count unchanged.
  void set(Translatable* t);
  // Adds `delta` to the target's count without changing what is held (pins
  // an object so that it outlives every other reference).
  void adjustLock(int delta);
  // The target's text, or null without a target. Release with free.
  [[nodiscard]] char* toString(Parser* parser);

  [[nodiscard]] Translatable* getTarget() const { return target; }

 protected:
  // Holds `t` without counting it (the target belongs to someone else);
  // clearUncounted() must be called before this reference is destroyed.
  void setUncounted(Translatable* t) { target = t; }
  void clearUncounted() { target = nullptr; }

  Translatable* target = nullptr;
};

// Releases one count of each non-null target under a single hold of
// objRefLock, then deletes the targets whose count reached 0. The entries of
// `targets` are left untouched; used by containers that drop many at once.
void releaseTargets(Translatable* const* targets, int n);
