#include "kel/var_set.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "model/any.h"
#include "model/any_array.h"
#include "model/attributes.h"
#include "model/string_builder.h"
#include "kel/block_cache.h"
#include "kel/place.h"

struct VarSetFrame {
  using EntryBlocks = BlockCache<VarSet::Entry::kSmallBlock>;
  struct Spare;
  static thread_local Spare spare_;
  // Ends the frame's entries and frees its block.
  static void destroy(unsigned char* frame, size_t size);
  // Ends the spare scope (the thread ends).
  static void drain();
};

VarSet::Entry* VarSet::Entry::make(const char* name) {
  // The length without the call for the short names of most variables.
  size_t n = 0;
  while (n < kShortName && name[n] != '\0') n++;
  if (n == kShortName) n += std::strlen(name + n);
  return make(name, n);
}

VarSet::Entry* VarSet::Entry::make(const char* name, size_t n) {
  bool small = sizeof(Entry) + n <= kSmallBlock;
  void* raw = small ? VarSetFrame::EntryBlocks::take() : ::operator new(sizeof(Entry) + n);
  auto* e = new (raw) Entry;
  e->cached = small;
  copyName(e->name, name, n);
  return e;
}

void VarSet::Entry::copyName(char* to, const char* from, size_t n) {
  if (n >= kShortName) {
    std::memcpy(to, from, n + 1);
    return;
  }
  // Up to the terminator (not a counted loop, which the compiler would
  // turn back into the call).
  while ((*to++ = *from++) != '\0') {
  }
}

namespace {

// Copies `source` into `out` the way a variable read does: scalars and texts
// by value, references sharing their target.
void copyValue(Any& out, const Any& source) {
  // Numbers keep their subtype; other plain values are copied without one.
  int code = source.getType();
  if ((code == ANY_INT32 || code == ANY_INT64 || source.getSubtype() == 0) && out.copyPlainFrom(source)) return;
  switch (code) {
    case ANY_NULL: out.clear(); return;
    case ANY_UNDEFINED: out.setUndefined(); return;
    case ANY_BOOL: out.set(source.getBool()); return;
    case ANY_INT32:
      out.set(source.getInt32());
      out.setSubtype(source.getSubtype());
      return;
    case ANY_INT64:
      out.set(source.getInt64());
      out.setSubtype(source.getSubtype());
      return;
    case ANY_FLOAT: out.set(source.getFloat()); return;
    case ANY_DOUBLE: out.set(source.getDouble()); return;
    case ANY_STRING:
      // The text copied with its subtype, as the Any copy does.
      if (!source.isOpaque()) {
        out.setString(source.getString());
        out.setSubtype(source.getSubtype());
        return;
      }
      break;
    case ANY_REF:
      if (!source.isOpaque()) {
        out.setRef(source.getRef() != nullptr ? new ObjRef(*source.getRef()) : nullptr);
        return;
      }
      break;
    default:
      break;
  }
  Any* copy = new Any(source);
  out.takeFrom(*copy);
  delete copy;
}

}  // namespace

void kelCopyValueSlow(Any& out, const Any& source) { copyValue(out, source); }

// ---- AbstractVarSet defaults and the object protocol

std::atomic<uint64_t> AbstractVarSet::shapeEpoch_{1};
std::atomic<uint64_t> AbstractVarSet::nextSerial_{1};

uint64_t AbstractVarSet::newSerial() {
  constexpr uint64_t kBlock = 4096;
  struct Range {
    uint64_t next;
    uint64_t end;
  };
  static thread_local Range range{0, 0};
  if (range.next == range.end) {
    range.next = nextSerial_.fetch_add(kBlock, std::memory_order_relaxed);
    range.end = range.next + kBlock;
  }
  return range.next++;
}

const Location& AbstractVarSet::noLocation() {
  static const Location* none = new Location();  // never destroyed: read while the process exits
  return *none;
}

int AbstractVarSet::readVariable(const char* name, Any& out) {
  if (Any* value = get(name)) {
    copyValue(out, *value);
    return 0;
  }
  if (AbstractVarSet* sub = getSubSet(name)) {
    out.setRef(new ObjRef(sub));
    return 0;
  }
  return 46;
}

bool AbstractVarSet::assignValue(const char* name, Any& value) {
  Any* moved = new Any();
  moved->takeFrom(value);
  value.clear();
  return set(name, moved);
}

int AbstractVarSet::getField(Parser*, Any** result, const char* name) const {
  auto* self = const_cast<AbstractVarSet*>(this);
  Any* out = new Any();
  int rc = self->readVariable(name, *out);
  if (rc != 0) {
    delete out;
    out = nullptr;
  }
  *result = out;
  return rc;
}

int AbstractVarSet::setField(Parser*, const char* name, Any* value) { return set(name, value) ? 0 : 46; }

int AbstractVarSet::callMemberFn(Parser* parser, Any** result, Translatable* self, const char* name, Any** args) {
  return Translatable::callMemberFn(parser, result, self, name, args);
}

// ---- VarSet

VarSet::VarSet() { isVarSet_ = true; }

VarSet::~VarSet() {
  dropEntries();
  if (frame_ != nullptr) VarSetFrame::destroy(frame_, frameSize_);
}

void VarSet::dropEntries() {
  // Iteratively: a long list must not recurse. Frame entries go back to
  // not defined and stay in their block.
  Entry* e = entries_;
  entries_ = nullptr;
  while (e != nullptr) {
    Entry* next = e->next;
    if (e->framed) {
      resetFrameEntry(e);
    } else {
      destroy(e);
    }
    e = next;
  }
}

// The call scope that ended last on this thread, emptied, kept with its
// frame for the next call of the same function (a loop's calls, or the
// innermost level of a recursion): that call finds the set made and its
// entries named. Plain data, so that reaching it costs no guard;
// ScopeSpareDrainer frees what it holds when the thread ends.
struct VarSetFrame::Spare {
  VarSet* set;
  bool closed;  // the thread is ending: sets are deleted at once
};
thread_local VarSetFrame::Spare VarSetFrame::spare_{nullptr, false};

namespace {
struct ScopeSpareDrainer {
  void arm() {}
  ~ScopeSpareDrainer() { VarSetFrame::drain(); }
};
thread_local ScopeSpareDrainer scopeSpareDrainer;
}  // namespace

void VarSetFrame::destroy(unsigned char* frame, size_t size) {
  for (size_t i = 0; i < size; i++) reinterpret_cast<VarSet::Entry*>(frame + i * VarSet::kFrameStride)->~Entry();
  ::operator delete(frame);
}

void VarSetFrame::drain() {
  Spare& spare = spare_;
  VarSet* set = spare.set;
  spare.set = nullptr;
  spare.closed = true;
  delete set;
}

VarSet* VarSet::makeCallScope(const std::string* names, size_t n, uint64_t key) {
#if KEL_BLOCK_CACHE
  VarSetFrame::Spare& spare = VarSetFrame::spare_;
  if (spare.set != nullptr && spare.set->frameKey_ == key) {
    VarSet* set = spare.set;
    spare.set = nullptr;
    set->renewSerial();
    return set;
  }
#endif
  auto* set = new VarSet();
  set->makeFrame(names, n, key);
  return set;
}

void VarSet::retire(VarSet* set) {
#if KEL_BLOCK_CACHE
  if (set->frame_ != nullptr && !VarSetFrame::spare_.closed) {
    // As new: no entries, no this-map, writable, no marks, no call site,
    // uncounted. (Its parent was handed back before.)
    set->dropEntries();
    if (set->this_.getTarget() != nullptr) set->this_.set(nullptr);
    set->readOnly_ = false;
    set->resetForReuse();
    set->refCount.store(0, std::memory_order_relaxed);
    // Dropping a value may have retired another scope into the place:
    // then this one ends.
    VarSetFrame::Spare& spare = VarSetFrame::spare_;
    if (spare.set == nullptr && !spare.closed) {
      scopeSpareDrainer.arm();
      spare.set = set;
      return;
    }
  }
#endif
  delete set;
}

void VarSet::makeFrame(const std::string* names, size_t n, uint64_t key) {
  frameSize_ = n;
  frameKey_ = key;
  frame_ = static_cast<unsigned char*>(::operator new(kFrameStride * n));
  for (size_t i = 0; i < n; i++) {
    auto* e = new (frame_ + i * kFrameStride) Entry;
    e->framed = true;
    e->frameIndex = static_cast<uint8_t>(i);
    Entry::copyName(e->name, names[i].c_str(), names[i].size());
  }
}

void VarSet::defineFrame(size_t index, const Any& value) {
  Entry* e = frameEntry(index);
  linkFrameEntry(e);
  e->hasValue = true;
  kelCopyValue(e->value, value);
  noteChangeHere();
}

int VarSet::frameIndexOf(const char* name) const {
  for (size_t i = 0; i < frameSize_; i++) {
    Entry* e = frameEntry(i);
    if (e->linked && sameName(e->name, name)) return static_cast<int>(i);
  }
  return -1;
}

bool VarSet::defineFrameValue(int index, Any& value) {
  if (readOnly_ || index < 0 || static_cast<size_t>(index) >= frameSize_) return false;
  Entry* e = frameEntry(static_cast<size_t>(index));
  bool added = !e->linked;
  if (added) {
    // As findOrAdd adds an entry.
    linkFrameEntry(e);
    noteGrowthHere();
  }
  storeDefinition(e, added, value);
  return true;
}

void VarSet::storeDefinition(Entry* e, bool added, Any& value) {
  if (added) {
    e->hasValue = true;  // a new entry has no sub-set to drop
  } else if (!e->hasValue) {
    e->subSet.set(nullptr);
    e->hasValue = true;
    noteChangeHere();
  }
  if (!e->value.copyPlainFrom(value)) e->value.takeFrom(value);
  value.clear();
}

VarSet::Entry* VarSet::dormantFrameEntry(const char* name) const {
  for (size_t i = 0; i < frameSize_; i++) {
    Entry* e = frameEntry(i);
    if (!e->linked && sameName(e->name, name)) return e;
  }
  return nullptr;
}

void VarSet::destroy(Entry* entry) {
  if (entry->framed) {
    // Back to not defined: the block keeps it until the set ends.
    resetFrameEntry(entry);
    return;
  }
  bool cached = entry->cached;
  entry->~Entry();
  if (cached) {
    VarSetFrame::EntryBlocks::give(entry);
  } else {
    ::operator delete(entry);
  }
}

namespace {
using SetBlocks = BlockCache<sizeof(VarSet)>;
}  // namespace

void* VarSet::operator new(size_t size) {
  return size == SetBlocks::kBlockSize ? SetBlocks::take() : ::operator new(size);
}

void VarSet::operator delete(void* block, size_t size) {
  if (size == SetBlocks::kBlockSize) {
    SetBlocks::give(block);
  } else {
    ::operator delete(block);
  }
}

VarSet::Entry* VarSet::find(const char* name) const {
  for (Entry* e = entries_; e != nullptr; e = e->next) {
    if (sameName(e->name, name)) return e;
  }
  return nullptr;
}

VarSet::Entry* VarSet::findOrAdd(const char* name, bool* added) {
  *added = false;
  if (Entry* e = find(name)) return e;
  Entry* e = frame_ != nullptr ? dormantFrameEntry(name) : nullptr;
  if (e != nullptr) {
    linkFrameEntry(e);
  } else {
    e = Entry::make(name);
    e->next = entries_;
    entries_ = e;
  }
  *added = true;
  noteGrowthHere();
  return e;
}

AbstractVarSet* VarSet::getSubSet(const char* name) {
  if (name == nullptr) return nullptr;
  for (VarSet* s = this; s != nullptr;) {
    for (Entry* e = s->entries_; e != nullptr; e = e->next) {
      if (e->subSet.getTarget() != nullptr && std::strcmp(e->name, name) == 0) {
        return static_cast<AbstractVarSet*>(e->subSet.getTarget());
      }
    }
    AbstractVarSet* p = s->parent();
    if (p == nullptr) return nullptr;
    s = p->asVarSet();
    if (s == nullptr) return p->getSubSet(name);
  }
  return nullptr;
}

bool VarSet::set(const char* name, AbstractVarSet* subSet) {
  if (name == nullptr) return false;
  if (!readOnly_) {
    if (Entry* e = find(name)) {
      e->dropValue();
      e->subSet.set(subSet);
      noteChangeHere();
      return true;
    }
  }
  AbstractVarSet* p = parent();
  return p != nullptr && p->set(name, subSet);
}

bool VarSet::define(const char* name, AbstractVarSet* subSet) {
  if (readOnly_ || name == nullptr) return false;
  bool added;
  Entry* e = findOrAdd(name, &added);
  e->dropValue();
  e->subSet.set(subSet);
  if (!added) noteChangeHere();
  return true;
}

Any* VarSet::get(const char* name) {
  if (name == nullptr) return nullptr;
  for (VarSet* s = this; s != nullptr;) {
    if (Attributes* map = s->getThis()) {
      if (Any* value = map->getAttribute(name)) return value;
    }
    for (Entry* e = s->entries_; e != nullptr; e = e->next) {
      if (e->hasValue && sameName(e->name, name)) return &e->value;
    }
    AbstractVarSet* p = s->parent();
    if (p == nullptr) return nullptr;
    s = p->asVarSet();
    if (s == nullptr) return p->get(name);
  }
  return nullptr;
}

bool VarSet::set(const char* name, Any* value) {
  if (value == nullptr) return false;
  bool ok = assignValue(name, *value);
  delete value;
  return ok;
}

bool VarSet::assignValue(const char* name, Any& value) {
  if (name == nullptr) return false;
  for (VarSet* s = this; s != nullptr;) {
    if (!s->readOnly_) {
      if (Entry* e = s->find(name)) {
        if (!e->hasValue) {
          e->subSet.set(nullptr);
          e->hasValue = true;
          s->noteChangeHere();
        }
        if (!e->value.copyPlainFrom(value)) e->value.takeFrom(value);
        value.clear();
        return true;
      }
    }
    AbstractVarSet* p = s->parent();
    if (p == nullptr) return false;
    s = p->asVarSet();
    if (s == nullptr) return p->assignValue(name, value);
  }
  return false;
}

Any* VarSet::resolveSlot(const char* name, int* ownIndex) {
  if (ownIndex != nullptr) *ownIndex = -1;
  if (name == nullptr) return nullptr;
  for (VarSet* s = this; s != nullptr;) {
    // From now on a change of this set's shape may change a cached answer.
    s->shapeCached_ = true;
    // A this-map may gain the name without the epoch changing.
    if (s->this_.getTarget() != nullptr) {
      s->lookedPast_ = true;
      return nullptr;
    }
    if (s == this && ownIndex != nullptr) {
      int i = 0;
      for (Entry* e = entries_; e != nullptr; e = e->next, i++) {
        if (sameName(e->name, name)) {
          if (readOnly_ || !e->hasValue) return nullptr;
          *ownIndex = e->framed ? kFrameIndex | e->frameIndex : i;
          return &e->value;
        }
      }
    } else if (Entry* e = s->find(name)) {
      return !s->readOnly_ && e->hasValue ? &e->value : nullptr;
    }
    // Not here: a new entry of this name here would change the answer.
    s->lookedPast_ = true;
    AbstractVarSet* p = s->parent();
    if (p == nullptr) return nullptr;
    s = p->asVarSet();
  }
  return nullptr;
}

Any* VarSet::slotAtList(int index, const char* name) {
  if (this_.getTarget() != nullptr || readOnly_ || name == nullptr) return nullptr;
  Entry* e = entries_;
  for (int i = 0; i < index && e != nullptr; i++) e = e->next;
  // Names are unique within a set: the entry at that place is the one.
  if (e == nullptr || !e->hasValue || !sameName(e->name, name)) return nullptr;
  shapeCached_ = true;
  return &e->value;
}

Any* VarSet::findWritable(const char* name) {
  if (name == nullptr) return nullptr;
  for (VarSet* s = this; s != nullptr;) {
    if (Attributes* map = s->getThis()) {
      if (map->getAttribute(name) != nullptr) return nullptr;
    }
    if (Entry* e = s->find(name)) return !s->readOnly_ && e->hasValue ? &e->value : nullptr;
    AbstractVarSet* p = s->parent();
    if (p == nullptr) return nullptr;
    s = p->asVarSet();
  }
  return nullptr;
}

bool VarSet::define(const char* name, Any* value) {
  if (value == nullptr) return false;
  if (readOnly_ || name == nullptr) {
    delete value;
    return false;
  }
  bool added;
  Entry* e = findOrAdd(name, &added);
  if (!e->hasValue) {
    e->subSet.set(nullptr);
    e->hasValue = true;
    if (!added) noteChangeHere();
  }
  e->value.takeFrom(*value);
  delete value;
  return true;
}

void VarSet::defineNew(const char* name, size_t length, const Any& value) {
  Entry* e = Entry::make(name, length);
  e->next = entries_;
  entries_ = e;
  e->hasValue = true;
  kelCopyValue(e->value, value);
  noteChangeHere();
}

bool VarSet::defineValue(const char* name, Any& value) {
  if (readOnly_ || name == nullptr) return false;
  bool added;
  Entry* e = findOrAdd(name, &added);
  storeDefinition(e, added, value);
  return true;
}

void VarSet::clear(const char* name) {
  if (readOnly_ || name == nullptr) return;
  for (Entry** link = &entries_; *link != nullptr; link = &(*link)->next) {
    if (std::strcmp((*link)->name, name) == 0) {
      Entry* dead = *link;
      *link = dead->next;
      noteChangeHere();
      destroy(dead);
      return;
    }
  }
}

void VarSet::clear() {
  if (readOnly_) return;
  Entry* e = entries_;
  entries_ = nullptr;
  noteChangeHere();
  while (e != nullptr) {
    Entry* next = e->next;
    if (e->hasValue && e->value.getType() == ANY_REF) {
      // A container the variable refers to is emptied with it, so that a
      // cleared set leaves no large structure behind in other holders.
      Translatable* target = e->value.getRefTarget();
      if (target != nullptr) {
        switch (target->getObjectID()) {
          case OBJ_ANY_ID: static_cast<Any*>(target)->clear(); break;
          case OBJ_ANYARRAY_ID: static_cast<AnyArray*>(target)->clear(); break;
          case OBJ_ATTRIBUTES_ID: static_cast<Attributes*>(target)->clear(); break;
          default: break;
        }
      }
    }
    destroy(e);
    e = next;
  }
}

void VarSet::setThis(Attributes* map) {
  this_.set(map);
  noteShapeChange();
}
void VarSet::clearThis() {
  this_.set(nullptr);
  noteShapeChange();
}
Attributes* VarSet::getThis() { return static_cast<Attributes*>(this_.getTarget()); }

char** VarSet::getLocalVariables() {
  int n = 0;
  for (Entry* e = entries_; e != nullptr; e = e->next) n++;
  char** names = new char*[n + 1];
  int i = 0;
  for (Entry* e = entries_; e != nullptr; e = e->next) names[i++] = strdup(e->name);
  names[i] = nullptr;
  return names;
}

char* VarSet::toString(Parser* parser) {
  StringBuilder out;
  out.append("{ ");
  bool first = true;
  for (Entry* e = entries_; e != nullptr; e = e->next) {
    if (!first) out.append(", ");
    first = false;
    out.append(e->name);
    out.append(": ");
    if (e->hasValue) {
      char* text = e->value.toString(parser);
      out.append(text != nullptr ? text : "null");
      free(text);
    } else {
      out.append("<set>");
    }
  }
  out.append(first ? " }" : " }");
  return out.take();
}
