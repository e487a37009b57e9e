// ObjRef: a counted reference that lets several holders share one
// Translatable. Every ObjRef holding a target accounts for one unit of the
// target's refCount; counts change atomically, and the holder whose release
// brings the count to 0 deletes the target (after the reference itself is
// updated, so a destructor may release further references).
// An ObjRef itself is used by one thread at a time; the target may be shared.
#pragma once

#include "model/translatable.h"
#include "runtime/critical_block.h"

// A process-wide lock kept for callers that serialised with reference
// counting; the counts themselves no longer take it. Not recursive.
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

  // Hands the held target's count to the caller, holding nothing after:
  // adopt() it into another reference. Moving a count this way spares the
  // two atomic steps of taking a new one and dropping the old.
  [[nodiscard]] Translatable* release() {
    Translatable* t = target;
    target = nullptr;
    return t;
  }
  // Holds `t` with the count the caller hands over (from release()),
  // releasing the current target first.
  void adopt(Translatable* t);

 protected:
  // Holds `t` without counting it (the target belongs to someone else);
  // clearUncounted() must be called before this reference is destroyed.
  void setUncounted(Translatable* t) { target = t; }
  void clearUncounted() { target = nullptr; }

  Translatable* target = nullptr;
};

// Releases one count of `t` (null allowed); true when that was the last
// count: the caller deletes `t` then.
[[nodiscard]] bool releaseTarget(Translatable* t);
// Releases one count of each non-null target, then deletes the targets
// whose count reached 0. The entries of
// `targets` are left untouched; used by containers that drop many at once.
void releaseTargets(Translatable* const* targets, int n);
