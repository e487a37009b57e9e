#include "model/dir_name.h"

#include <cstdlib>
#include <memory>

#include "model/dir_error.h"
#include "model/string_builder.h"

DirName::DirName(const DirName& other)
    : Translatable(), absolute_(other.absolute_), doubleSlash_(other.doubleSlash_) {
  for (NameList* n = other.head_; n; n = n->next_) append(n->entry_ ? new DirNameEntry(*n->entry_) : nullptr);
}

DirName::~DirName() {
  NameList* n = head_;
  while (n) {
    NameList* next = n->next_;
    delete n;
    n = next;
  }
}

void DirName::append(DirNameEntry* entry) {
  auto* node = new NameList(entry);
  if (tail_) tail_->next_ = node;
  else head_ = node;
  tail_ = node;
  count_++;
}

void DirName::prepend(DirNameEntry* entry) {
  auto* node = new NameList(entry);
  node->next_ = head_;
  head_ = node;
  if (!tail_) tail_ = node;
  count_++;
}

DirNameEntry* DirName::get(int i) const {
  if (i < 0 || i >= count_) return nullptr;
  NameList* n = head_;
  while (i-- > 0) n = n->next_;
  return n->entry_;
}

DirName* DirName::createFromString(const char* text, int* error) {
  auto fail = [&](int code) -> DirName* {
    if (error) *error = code;
    return nullptr;
  };
  auto name = std::make_unique<DirName>();
  if (!text) text = "";
  size_t pos = 0;
  if (text[0] == '/' && text[1] == '/') {
    name->doubleSlash_ = true;
    pos = 2;
  } else if (text[0] == '/') {
    name->absolute_ = true;
    pos = 1;
  }
  char piece[256];
  while (text[pos] != '\0') {
    int rv = DirNameEntry::parseNextString(text, pos, "/", piece, sizeof(piece), true);
    if (rv != 0 && rv != DirError::DELIMITER_NOT_FOUND) return fail(rv);
    int entryError = 0;
    DirNameEntry* entry = DirNameEntry::createFromString(piece, &entryError);
    if (!entry) return fail(entryError);
    name->append(entry);
  }
  if (error) *error = 0;
  return name.release();
}

char* DirName::toString(Parser* parser) {
  StringBuilder out;
  if (doubleSlash_) out.append("//", 2);
  else if (absolute_) out.append('/');
  for (NameList* n = head_; n; n = n->next_) {
    if (n != head_) out.append('/');
    char* entry = n->entry_ ? n->entry_->toString(parser) : nullptr;
    out.append(entry ? entry : "null");
    free(entry);
  }
  return out.take();
}

long long DirName::hashValue() const {
  unsigned long long h = 0;
  for (NameList* n = head_; n; n = n->next_) {
    h = h * 33 + (unsigned long long)(n->entry_ ? n->entry_->hashValue() : 0);
  }
  return (long long)h;
}

bool DirName::operator==(const DirName& other) const {
  if (count_ != other.count_ || absolute_ != other.absolute_ || doubleSlash_ != other.doubleSlash_) return false;
  for (NameList *a = head_, *b = other.head_; a && b; a = a->next_, b = b->next_) {
    if (!a->entry_ || !b->entry_) {
      if (a->entry_ != b->entry_) return false;
    } else if (!(*a->entry_ == *b->entry_)) {
      return false;
    }
  }
  return true;
}

int DirName::isEqual(const Principal*, bool* out, const Translatable* other) const {
  *out = other && other->getObjectID() == OBJ_DIRNAME_ID && *this == *static_cast<const DirName*>(other);
  return 0;
}

int DirName::clone(const Principal*, Translatable** out) const {
  *out = new DirName(*this);
  return 0;
}
