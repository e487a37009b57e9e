#include "model/any_array.h"

#include <cstdlib>
#include <cstring>

#include "model/any.h"
#include "model/any_batch.h"
#include "model/container_text.h"
#include "model/string_builder.h"

AnyArray::AnyArray(int n) {
  if (n < 1) return;
  resizeStorage(n);
  memset(elements_, 0, sizeof(Any*) * (size_t)n);
  count_ = n;
}

AnyArray::AnyArray(const AnyArray& other) : Translatable() {
  if (other.count_ < 1) return;
  resizeStorage(other.count_);
  for (int i = 0; i < other.count_; i++) elements_[i] = other.elements_[i] ? new Any(*other.elements_[i]) : nullptr;
  count_ = other.count_;
}

AnyArray::~AnyArray() { clear(); }

AnyArray* AnyArray::create(AnyBatch& batch, int n) {
  if (n < 0) n = 0;
  constexpr size_t kObject = (sizeof(AnyArray) + alignof(Any*) - 1) & ~(alignof(Any*) - 1);
  void* piece = batch.allocate(kObject + sizeof(Any*) * (size_t)n);
  if (!piece) {
    auto* array = new AnyArray(0);
    array->reserve(n);
    return array;
  }
  auto* array = new (piece) AnyArray(0);
  array->placed_ = true;
  if (n > 0) {
    array->elements_ = reinterpret_cast<Any**>(static_cast<char*>(piece) + kObject);
    array->capacity_ = n;
    array->elementsPlaced_ = true;
  }
  return array;
}

void AnyArray::destroyPlaced(AnyArray* array) {
  AnyBatch::ReleaseRun run;
  array->~AnyArray();
  AnyBatch::release(array);
}

void AnyArray::resizeStorage(int n) {
  if (n <= capacity_) return;
  Any** bigger;
  if (elementsPlaced_) {
    // The first storage shares the array's piece: the elements move to the
    // heap.
    bigger = static_cast<Any**>(malloc(sizeof(Any*) * (size_t)n));
    if (bigger && count_ > 0) memcpy(bigger, elements_, sizeof(Any*) * (size_t)count_);
    elementsPlaced_ = false;
  } else {
    bigger = static_cast<Any**>(realloc(elements_, sizeof(Any*) * (size_t)n));
  }
  if (!bigger) abort();
  elements_ = bigger;
  capacity_ = n;
}

void AnyArray::reserve(int n) { resizeStorage(n); }

int AnyArray::set(int i, Any* value) {
  if (i < 0 || i >= count_) {
    delete value;
    return 56;
  }
  delete elements_[i];
  elements_[i] = value;
  return 0;
}

void AnyArray::append(Any* value) {
  if (count_ == capacity_) {
    // Growth by doubling: appending one element at a time stays linear.
    resizeStorage(capacity_ < 4 ? 4 : capacity_ > (1 << 29) ? capacity_ + 1 : capacity_ * 2);
  }
  elements_[count_++] = value;
}

Any* AnyArray::take(int i) {
  if (i < 0 || i >= count_) return nullptr;
  Any* value = elements_[i];
  elements_[i] = nullptr;
  return value;
}

void AnyArray::clear() {
  // Elements are asked for a few ahead of their release so that their loads
  // overlap (an element and what it holds are rarely in the cache then).
  // Two stages: the elements (and the reference beside a document's
  // holder) first, then, once those are in, what they point to.
  constexpr int kAhead = 8;
  constexpr int kDeep = 4;
  auto ask = [this](int i) {
    // An element may be null (a hole): nothing to ask for then, and no
    // offset may be added to a null pointer.
    const Any* at = elements_[i];
    if (at == nullptr) return;
    const auto address = reinterpret_cast<uintptr_t>(at);
    __builtin_prefetch(at);
    __builtin_prefetch(reinterpret_cast<const void*>(address + 64));
  };
  for (int i = 0; i < count_ && i < kAhead; i++) ask(i);
  for (int i = 0; i < count_; i++) {
    if (i + kAhead < count_) ask(i + kAhead);
    if (i + kDeep < count_ && elements_[i + kDeep]) elements_[i + kDeep]->prefetchHeld();
    delete elements_[i];
  }
  if (!elementsPlaced_) free(elements_);
  elementsPlaced_ = false;
  elements_ = nullptr;
  count_ = capacity_ = 0;
}

int AnyArray::getArrayElement(Parser*, Any** result, const Any* index) const {
  int code = index ? index->getType() : 0;
  if (!index || index->isOpaque() || (code != ANY_INT32 && code != ANY_INT64)) {
    *result = nullptr;
    return 24;
  }
  int i = code == ANY_INT32 ? index->getInt32() : (int)(unsigned)(unsigned long long)index->getInt64();
  Any* element = get(i);
  *result = element ? element->createReference() : Any::createUndefined();
  return 0;
}

int AnyArray::setArrayElement(Parser*, const Any* index, Any* value) {
  if (!index || index->isOpaque() || index->getType() != ANY_INT32) {
    delete value;
    return 24;
  }
  return set(index->getInt32(), value);
}

int AnyArray::getField(Parser* parser, Any** result, const char* name) const {
  if (name && strcmp(name, "length") == 0) {
    *result = new Any(count_);
    return 0;
  }
  return Translatable::getField(parser, result, name);
}

bool AnyArray::operator==(const AnyArray& other) const {
  if (count_ != other.count_) return false;
  for (int i = 0; i < count_; i++) {
    const Any* a = elements_[i];
    const Any* b = other.elements_[i];
    if (!a || !b) {
      if (a != b) return false;
    } else if (!(*a == *b)) {
      return false;
    }
  }
  return true;
}

int AnyArray::isEqual(const Principal*, bool* out, const Translatable* other) const {
  *out = other && other->getObjectID() == OBJ_ANYARRAY_ID && *this == *static_cast<const AnyArray*>(other);
  return 0;
}

int AnyArray::clone(const Principal*, Translatable** out) const {
  *out = new AnyArray(*this);
  return 0;
}

char* AnyArray::toString(Parser* parser) {
  StringBuilder out;
  appendText(out, parser);
  return out.take();
}

void AnyArray::appendText(StringBuilder& into, Parser* parser) {
  ContainerText text(parser, '[', ']', &into);
  for (int i = 0; i < count_; i++) appendItemText(text.beginItem(), elements_[i], parser);
  (void)text.finish();
}
