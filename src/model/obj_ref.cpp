#include "model/obj_ref.h"

#include <cstdlib>
#include <vector>

#include "model/any.h"

CriticalBlock& objRefLock() {
  // Never destroyed: references may still be released on other threads while
  // the process runs its static destructors.
  static CriticalBlock* lock = new CriticalBlock;
  return *lock;
}

namespace {

// Drops one count of `t`; true when it was the last. A count of 1 seen
// with an acquiring load is the caller's own: no other holder is left to
// take a new one, so the object dies without the atomic step (the common
// case of a document being freed), and the load still orders every earlier
// holder's release before the deletion.
bool releaseCount(Translatable* t) {
  return t->refCount.load(std::memory_order_acquire) == 1 ||
         t->refCount.fetch_sub(1, std::memory_order_acq_rel) == 1;
}

// Takes one count of `t`. An object nobody counts yet is held by its maker
// alone (a count is copied from a counted reference, so no other thread can
// be taking one at the same time): its first count is a plain store, which
// spares building a document an atomic step per value.
void takeCount(Translatable* t) {
  if (t->refCount.load(std::memory_order_relaxed) == 0) {
    t->refCount.store(1, std::memory_order_relaxed);
  } else {
    t->refCount.fetch_add(1, std::memory_order_relaxed);
  }
}

// Replaces `slot`'s target by `next`, counting; returns the target to delete
// (the one whose count this release brought to 0). A new count is taken
// with a relaxed increment (the holder already has the object); a release
// orders the holder's use of the object before its deletion.
Translatable* exchange(Translatable*& slot, Translatable* next) {
  if (slot == next) return nullptr;
  Translatable* dead = nullptr;
  if (next) takeCount(next);
  if (slot && releaseCount(slot)) dead = slot;
  slot = next;
  return dead;
}

}  // namespace

ObjRef::ObjRef(Translatable* t) {
  if (!t) t = new Any();
  delete exchange(target, t);
}

ObjRef::ObjRef(const ObjRef& other) { delete exchange(target, other.target); }

ObjRef& ObjRef::operator=(const ObjRef& other) {
  if (this != &other) delete exchange(target, other.target);
  return *this;
}

ObjRef::~ObjRef() { delete exchange(target, nullptr); }

void ObjRef::adopt(Translatable* t) {
  Translatable* old = target;
  target = t;
  if (old != nullptr && old != t && releaseCount(old)) delete old;
}

void ObjRef::set(Translatable* t) { delete exchange(target, t); }

void ObjRef::adjustLock(int delta) {
  if (!target) return;
  target->refCount.fetch_add(delta, std::memory_order_acq_rel);
}

char* ObjRef::toString(Parser* parser) { return target ? target->toString(parser) : nullptr; }

bool releaseTarget(Translatable* t) { return t && releaseCount(t); }

void releaseTargets(Translatable* const* targets, int n) {
  if (n <= 0) return;
  std::vector<Translatable*> dead;
  for (int i = 0; i < n; i++) {
    Translatable* t = targets[i];
    if (releaseTarget(t)) dead.push_back(t);
  }
  for (Translatable* t : dead) delete t;
}
