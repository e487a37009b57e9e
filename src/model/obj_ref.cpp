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

// Replaces `slot`'s target by `next`, counting; returns the target to delete.
Translatable* exchange(Translatable*& slot, Translatable* next) {
  if (slot == next) return nullptr;
  Translatable* dead = nullptr;
  CriticalGuard guard(objRefLock());
  if (slot && --slot->refCount == 0) dead = slot;
  slot = next;
  if (next) next->refCount++;
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

void ObjRef::set(Translatable* t) { delete exchange(target, t); }

void ObjRef::adjustLock(int delta) {
  if (!target) return;
  CriticalGuard guard(objRefLock());
  target->refCount += delta;
}

char* ObjRef::toString(Parser* parser) { return target ? target->toString(parser) : nullptr; }

void releaseTargets(Translatable* const* targets, int n) {
  if (n <= 0) return;
  std::vector<Translatable*> dead;
  {
    CriticalGuard guard(objRefLock());
    for (int i = 0; i < n; i++) {
      Translatable* t = targets[i];
      if (t && --t->refCount == 0) dead.push_back(t);
    }
  }
  for (Translatable* t : dead) delete t;
}
