#include "model/attributes.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "foundation/log.h"
#include "foundation/url_encode.h"
#include "model/any.h"
#include "model/any_batch.h"
#include "model/container_text.h"
#include "model/string_builder.h"
#include "model/text_util.h"

namespace {
// Sets smaller than this are searched along the list; from this size on a
// hash index is kept beside it.
constexpr int kIndexFrom = 12;
}  // namespace

struct Attributes::Index {
  struct Slot {
    AttrList* first;  // the newest entry of the name
    int count;        // entries of the name
  };
  std::unordered_map<std::string_view, Slot> map;
};

// A block of entries, each followed by its name. Blocks are only freed with
// the set.
struct Attributes::Block {
  Block* next;
  size_t used;
  size_t capacity;
  // False for the block that shares the piece of a set made in a batch: it
  // goes back with the set.
  bool ownMemory;
  char* data() { return reinterpret_cast<char*>(this + 1); }
};

namespace {
// The largest block a set grows by when it is filled one entry at a time.
constexpr size_t kMaxGrowth = 8192;
// Bytes an entry with a name of `length` bytes takes in a block.
size_t placedSize(size_t length) {
  size_t n = sizeof(Attributes::AttrList) + length + 1;
  return (n + alignof(Attributes::AttrList) - 1) & ~(alignof(Attributes::AttrList) - 1);
}
// Room for `entries` entries whose names total `nameBytes` bytes: each
// placedSize() is at most the entry, its name and a whole alignment (which
// covers the NUL and the rounding).
size_t roomFor(int entries, size_t nameBytes) {
  return (size_t)entries * (sizeof(Attributes::AttrList) + alignof(Attributes::AttrList)) + nameBytes;
}
}  // namespace

// ---- AttrList

Attributes::AttrList::AttrList(const char* n, Any* value, int hint, bool owns)
    : name(modeltext::dup(n ? n : "")), displayHint(hint), freeValue(owns) {
  if (owns) {
    if (value) ObjRef::set(value);
  } else {
    setUncounted(value);
  }
}

Attributes::AttrList::AttrList(Placed, char* placedName, Any* value, int hint, bool owns)
    : name(placedName), displayHint(hint), freeValue(owns), ownsName(false) {
  if (owns) {
    if (value) ObjRef::set(value);
  } else {
    setUncounted(value);
  }
}

Attributes::AttrList::~AttrList() {
  // A foreign value is forgotten, never released.
  if (!freeValue) clearUncounted();
  if (ownsName) free(name);
}

void Attributes::AttrList::dispose() {
  Translatable* value = target;
  if (freeValue && releaseTarget(value)) delete value;
  if (ownsName) free(name);
}

Any* Attributes::AttrList::getValue() const { return static_cast<Any*>(target); }

void Attributes::AttrList::replaceValue(Any* value) {
  if (!freeValue) {
    clearUncounted();
    freeValue = true;
  }
  ObjRef::set(value);
}

char* Attributes::AttrList::toString(Parser* parser) {
  Any* value = getValue();
  return value ? value->toString(parser) : modeltext::dup("null");
}

// ---- Attributes

Attributes::Attributes() = default;

Attributes::Attributes(const Attributes& other) : Translatable() {
  size_t nameBytes = 0;
  for (AttrList* e = other.list_; e; e = e->next) nameBytes += strlen(e->name);
  reserve(other.count_, nameBytes);
  for (AttrList* e = other.list_; e; e = e->next) {
    Any* copy = nullptr;
    if (Any* value = e->getValue()) {
      Translatable* cloned = nullptr;
      if (value->clone(nullptr, &cloned) == 0 && cloned) {
        copy = static_cast<Any*>(cloned);
      } else {
        log(0, "Warning: object is not clonable in Attributes::Attributes(const Attributes &);");
        copy = new Any();
      }
    }
    addAttribute(e->name, copy, e->displayHint);
  }
  if (other.location_) setLocation(other.location_);
}

Attributes::~Attributes() {
  // The entries and the values are rarely in the cache when a document is
  // freed: asking for all of them first lets their loads overlap instead
  // of waiting for one after the other (the entries lie in the blocks in
  // order; a document's values were made before their set).
  for (Block* block = blocks_; block; block = block->next) {
    const char* data = block->data();
    const size_t used = std::min(block->used, kMaxGrowth);
    for (size_t at = 0; at < used; at += 64) __builtin_prefetch(data + at);
  }
  for (AttrList* e = list_; e; e = e->next) __builtin_prefetch(e->target);
  AttrList* e = list_;
  while (e) {
    AttrList* next = e->next;
    // Every entry of a set lives in one of its blocks.
    e->dispose();
    e = next;
  }
  dropLocation();
  for (Block* block = blocks_; block;) {
    Block* next = block->next;
    if (block->ownMemory) free(block);
    block = next;
  }
}

Attributes* Attributes::create(AnyBatch& batch, int entries, size_t nameBytes) {
  // The object, then its first block of entries.
  constexpr size_t kObject = (sizeof(Attributes) + alignof(Block) - 1) & ~(alignof(Block) - 1);
  size_t room = entries > 0 ? roomFor(entries, nameBytes) : 0;
  void* piece = batch.allocate(kObject + sizeof(Block) + room);
  if (!piece) {
    auto* set = new Attributes();
    set->reserve(entries, nameBytes);
    return set;
  }
  auto* set = new (piece) Attributes();
  set->placed_ = true;
  if (room > 0) {
    auto* block = reinterpret_cast<Block*>(static_cast<char*>(piece) + kObject);
    block->next = nullptr;
    block->used = 0;
    block->capacity = room;
    block->ownMemory = false;
    set->blocks_ = block;
  }
  return set;
}

void Attributes::destroyPlaced(Attributes* set) {
  AnyBatch::ReleaseRun run;
  set->~Attributes();
  AnyBatch::release(set);
}

void Attributes::addBlock(size_t capacity) {
  auto* block = static_cast<Block*>(malloc(sizeof(Block) + capacity));
  if (!block) abort();
  block->next = blocks_;
  block->used = 0;
  block->capacity = capacity;
  block->ownMemory = true;
  blocks_ = block;
}

void Attributes::reserve(int entries, size_t nameBytes) {
  if (entries <= 0) return;
  size_t need = roomFor(entries, nameBytes);
  if (blocks_ && blocks_->capacity - blocks_->used >= need) return;
  addBlock(need);
}

Attributes::AttrList* Attributes::place(const char* name, Any* value, int displayHint, bool owns) {
  if (!name) name = "";
  size_t length = strlen(name);
  size_t need = placedSize(length);
  if (!blocks_ || blocks_->capacity - blocks_->used < need) {
    // Filled one entry at a time, a set takes blocks of doubling size, so
    // n entries cost about log n allocations.
    size_t capacity = blocks_ ? std::min(blocks_->capacity * 2, kMaxGrowth) : need;
    addBlock(std::max(capacity, need));
  }
  char* at = blocks_->data() + blocks_->used;
  blocks_->used += need;
  char* placedName = at + sizeof(AttrList);
  memcpy(placedName, name, length + 1);
  return new (at) AttrList(AttrList::Placed{}, placedName, value, displayHint, owns);
}

void Attributes::link(AttrList* entry, bool atHead) {
  if (atHead) {
    entry->next = list_;
    list_ = entry;
    if (!tail_) tail_ = entry;
  } else {
    if (tail_) tail_->next = entry;
    else list_ = entry;
    tail_ = entry;
  }
  count_++;
  // The index is built by the first lookup that needs it (a set that is
  // only built and walked, like a document being read, never pays for it)
  // and kept up to date from then on.
  if (index_) {
    auto [it, inserted] = index_->map.try_emplace(std::string_view(entry->name), Index::Slot{entry, 0});
    if (atHead) it->second.first = entry;
    it->second.count++;
  }
}

void Attributes::buildIndex() const {
  index_ = std::make_unique<Index>();
  index_->map.reserve((size_t)count_ * 2);
  // From the tail forwards would need back links; walking from the head
  // and keeping the first seen gives the newest entry per name.
  for (AttrList* e = list_; e; e = e->next) {
    auto [it, inserted] = index_->map.try_emplace(std::string_view(e->name), Index::Slot{e, 0});
    it->second.count++;
  }
}

Attributes::AttrList* Attributes::find(const char* name) const {
  if (!name) return nullptr;
  if (!index_ && count_ >= kIndexFrom) buildIndex();
  if (index_) {
    auto it = index_->map.find(std::string_view(name));
    return it == index_->map.end() ? nullptr : it->second.first;
  }
  for (AttrList* e = list_; e; e = e->next) {
    if (strcmp(e->name, name) == 0) return e;
  }
  return nullptr;
}

int Attributes::countNamed(const char* name, AttrList* first) const {
  if (!first) return 0;
  if (index_) {
    auto it = index_->map.find(std::string_view(name));
    return it == index_->map.end() ? 0 : it->second.count;
  }
  int n = 0;
  for (AttrList* e = first; e; e = e->next) {
    if (strcmp(e->name, name) == 0) n++;
  }
  return n;
}

void Attributes::addAttribute(const char* name, Any* value, int displayHint) {
  link(place(name, value, displayHint, true), true);
}

void Attributes::appendAttribute(const char* name, Any* value, int displayHint) {
  link(place(name, value, displayHint, true), false);
}

void Attributes::setAttributeDontFree(const char* name, Any* value, int displayHint) {
  link(place(name, value, displayHint, false), true);
}

void Attributes::addOrSetAttribute(const char* name, Any* value, int displayHint) {
  if (AttrList* e = find(name)) {
    e->replaceValue(value);
    return;
  }
  addAttribute(name, value, displayHint);
}

bool Attributes::assignInPlace(const char* name, Any& value) {
  AttrList* e = find(name);
  if (e == nullptr || !e->freeValue) return false;
  Any* stored = e->getValue();
  // Acquire: a reference dropped by another thread is done with the value
  // before it is overwritten here.
  if (stored == nullptr || stored->refCount.load(std::memory_order_acquire) != 1) return false;
  if (stored == &value) return true;
  if (!stored->copyPlainFrom(value)) stored->takeFrom(value);
  value.clear();
  return true;
}

void Attributes::setAttribute(const char* name, int value, int displayHint) {
  addOrSetAttribute(name, new Any(value), displayHint);
}

void Attributes::setAttribute(const char* name, bool value, int displayHint) {
  addOrSetAttribute(name, new Any(value), displayHint);
}

void Attributes::setAttribute(const char* name, long long value, int displayHint) {
  addOrSetAttribute(name, new Any(value), displayHint);
}

void Attributes::setAttribute(const char* name, float value, int displayHint) {
  addOrSetAttribute(name, new Any(value), displayHint);
}

void Attributes::setAttribute(const char* name, double value, int displayHint) {
  addOrSetAttribute(name, new Any(value), displayHint);
}

void Attributes::setAttribute(const char* name, const char* value, int displayHint) {
  addAttribute(name, new Any(value), displayHint);
}

Any* Attributes::getAttribute(const char* name) {
  AttrList* e = find(name);
  return e ? e->getValue() : nullptr;
}

const Any* Attributes::getAttribute(const char* name) const {
  AttrList* e = find(name);
  return e ? e->getValue() : nullptr;
}

Any* Attributes::getAttributeOrUndefined(const char* name) {
  Any* value = getAttribute(name);
  return value ? value : Any::createUndefined();
}

const char* Attributes::getStringAttribute(const char* name) const {
  AttrList* first = find(name);
  if (!first || !first->getValue()) return nullptr;
  int left = countNamed(name, first);
  for (AttrList* e = first; e && left > 0; e = e->next) {
    if (strcmp(e->name, name) != 0) continue;
    left--;
    Any* value = e->getValue();
    if (value && !value->isOpaque() && value->getType() == ANY_STRING) return value->getString();
  }
  return nullptr;
}

int Attributes::getDisplayHint(const char* name) const {
  AttrList* e = find(name);
  return e ? e->displayHint : 0;
}

char** Attributes::getKeys() const {
  char** keys = static_cast<char**>(malloc(sizeof(char*) * ((size_t)count_ + 1)));
  if (!keys) abort();
  int i = 0;
  for (AttrList* e = list_; e; e = e->next) keys[i++] = modeltext::dup(e->name);
  keys[i] = nullptr;
  return keys;
}

void Attributes::freeKeys(char** keys) const {
  if (!keys) return;
  for (char** k = keys; *k; k++) free(*k);
  free(keys);
}

void Attributes::setLocation(const Translatable* location) {
  Translatable* copy = nullptr;
  if (location && location->clone(nullptr, &copy) != 0) copy = nullptr;
  dropLocation();
  location_ = copy;
}

void Attributes::adoptPlacedLocation(Translatable* location) {
  dropLocation();
  location_ = location;
  locationPlaced_ = location != nullptr;
}

void Attributes::dropLocation() {
  if (locationPlaced_) {
    location_->~Translatable();
    AnyBatch::release(location_);
  } else {
    delete location_;
  }
  location_ = nullptr;
  locationPlaced_ = false;
}

bool Attributes::operator==(const Attributes& other) const {
  if (count_ != other.count_) return false;
  for (AttrList* left = list_; left; left = left->next) {
    AttrList* first = other.find(left->name);
    if (!first) return false;
    int n = other.countNamed(left->name, first);
    for (AttrList* right = first; right && n > 0; right = right->next) {
      if (strcmp(right->name, left->name) != 0) continue;
      n--;
      Any* a = left->getValue();
      Any* b = right->getValue();
      if (!a || !b) {
        if (a != b) return false;
      } else {
        bool equal = false;
        if (a->isEqual(nullptr, &equal, b) != 0 || !equal) return false;
      }
      if (right->displayHint != left->displayHint) return false;
    }
  }
  return true;
}

int Attributes::isEqual(const Principal*, bool* out, const Translatable* other) const {
  *out = other && other->getObjectID() == OBJ_ATTRIBUTES_ID && *this == *static_cast<const Attributes*>(other);
  return 0;
}

int Attributes::clone(const Principal*, Translatable** out) const {
  *out = new Attributes(*this);
  return 0;
}

char* Attributes::toString(Parser* parser) {
  StringBuilder out;
  appendText(out, parser);
  return out.take();
}

void Attributes::appendText(StringBuilder& into, Parser* parser) {
  ContainerText text(parser, '{', '}', &into);
  for (AttrList* e = list_; e; e = e->next) {
    Any* value = e->getValue();
    StringBuilder& out = text.beginItem();
    out.append('"');
    out.append(e->name);
    out.append("\" : ", 4);
    appendItemText(out, value, parser);
    if (!value) continue;
    // A subtype travels with the value as a pseudo-entry, so that a reader of
    // the text (a Java caller, a script) can restore it; a plain string has
    // nothing to restore.
    int subtype = value->getSubtype();
    if (subtype != 0 && !(value->getType() == ANY_STRING && subtype == ANY_SUBTYPE_PLAIN_STRING)) {
      StringBuilder& mts = text.beginItem();
      mts.append('"');
      mts.append(e->name);
      mts.append("_mts\" : ", 8);
      mts.appendf("%d", subtype);
    }
  }
  (void)text.finish();
}

char* Attributes::toHTTPQuery() const {
  if (count_ == 0) return nullptr;
  StringBuilder out;
  for (AttrList* e = list_; e; e = e->next) {
    if (e != list_) out.append('&');
    char* key = urlEncode(e->name);
    out.append(key);
    free(key);
    out.append('=');
    Any* value = e->getValue();
    if (!value || value->isNull()) continue;
    char* raw;
    if (!value->isOpaque() && value->getType() == ANY_STRING) {
      raw = modeltext::dup(value->getString());
    } else {
      raw = value->toString(nullptr);
    }
    if (raw) {
      char* encoded = urlEncode(raw);
      out.append(encoded);
      free(encoded);
      free(raw);
    }
  }
  return out.take();
}

Attributes* Attributes::fromURL(const char* url) {
  if (!url) return nullptr;
  const char* query = strchr(url, '?');
  if (!query) return nullptr;
  auto* result = new Attributes();
  const char* p = query;
  for (;;) {
    const char* end = strchr(p, '&');
    size_t n = end ? (size_t)(end - p) : strlen(p);
    const char* eq = static_cast<const char*>(memchr(p, '=', n));
    if (!eq) {
      delete result;
      return nullptr;
    }
    char* name = modeltext::dupBytes(p, (size_t)(eq - p));
    char* value = modeltext::dupBytes(eq + 1, n - (size_t)(eq - p) - 1);
    result->addAttribute(name, Any::buildFromString(value), 0);
    free(name);
    if (!end) break;
    p = end + 1;
  }
  return result;
}

int Attributes::getField(Parser* parser, Any** result, const char* name) const {
  if (const Any* value = getAttribute(name)) {
    *result = value->createReference();
    return 0;
  }
  return Translatable::getField(parser, result, name);
}

int Attributes::setField(Parser*, const char* name, Any* value) {
  addOrSetAttribute(name, value, 0);
  return 0;
}

int Attributes::getArrayElement(Parser* parser, Any** result, const Any* index) const {
  if (!index || index->isOpaque() || index->getType() != ANY_STRING || !index->getString()) {
    *result = nullptr;
    return 24;
  }
  return getField(parser, result, index->getString());
}

int Attributes::setArrayElement(Parser* parser, const Any* index, Any* value) {
  if (!index || index->isOpaque() || index->getType() != ANY_STRING || !index->getString()) {
    delete value;
    return 24;
  }
  return setField(parser, index->getString(), value);
}
