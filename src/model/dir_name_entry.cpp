#include "model/dir_name_entry.h"

#include <cstdlib>
#include <cstring>
#include <memory>

#include "model/any.h"
#include "model/dir_error.h"
#include "model/string_builder.h"
#include "model/text_util.h"

namespace {
// Every piece of a name (a component, a name, an attribute) is at most this
// long, the terminating NUL not counted.
constexpr size_t kPieceSize = 256;
}  // namespace

DirNameEntry::AttrList::AttrList(const char* name, Any* value, bool isExpression)
    : name_(modeltext::dup(name ? name : "")), isExpression_(isExpression), value_(value) {}

DirNameEntry::AttrList::~AttrList() {
  free(name_);
  delete value_;
}

DirNameEntry::DirNameEntry(const char* name) : name_(modeltext::dup(name)) {}

DirNameEntry::DirNameEntry(const char* name, const char* attr1, const char* value1) : DirNameEntry(name) {
  setAttribute(attr1, value1);
}

DirNameEntry::DirNameEntry(const char* name, const char* attr1, const char* value1, const char* attr2,
                           const char* value2)
    : DirNameEntry(name) {
  setAttribute(attr1, value1);
  setAttribute(attr2, value2);
}

DirNameEntry::DirNameEntry(const DirNameEntry& other)
    : Translatable(), name_(modeltext::dup(other.name_)), nameIsExpression_(other.nameIsExpression_) {
  for (AttrList* a = other.head_; a; a = a->next_) {
    addAttribute(a->name_, a->value_ ? new Any(*a->value_) : nullptr, a->isExpression_);
  }
}

DirNameEntry::~DirNameEntry() {
  free(name_);
  AttrList* a = head_;
  while (a) {
    AttrList* next = a->next_;
    delete a;
    a = next;
  }
}

void DirNameEntry::addAttribute(const char* name, Any* value, bool isExpression) {
  auto* a = new AttrList(name, value, isExpression);
  if (tail_) tail_->next_ = a;
  else head_ = a;
  tail_ = a;
  attributeCount_++;
}

void DirNameEntry::setAttribute(const char* name, const char* value) { addAttribute(name, new Any(value), false); }
void DirNameEntry::setAttribute(const char* name, int value) { addAttribute(name, new Any(value), false); }
void DirNameEntry::setAttribute(const char* name, bool value) { addAttribute(name, new Any(value), false); }
void DirNameEntry::setAttribute(const char* name, long long value) { addAttribute(name, new Any(value), false); }
void DirNameEntry::setAttribute(const char* name, float value) { addAttribute(name, new Any(value), false); }
void DirNameEntry::setAttribute(const char* name, double value) { addAttribute(name, new Any(value), false); }

void DirNameEntry::setAttributeExpression(const char* name, const char* expression) {
  addAttribute(name, new Any(expression), true);
}

const char* DirNameEntry::getAttributeName(int i) const {
  if (i < 0) return nullptr;
  for (AttrList* a = head_; a; a = a->next_, i--) {
    if (i == 0) return a->name_;
  }
  return nullptr;
}

Any* DirNameEntry::getAttributeValue(int i) const {
  if (i < 0) return nullptr;
  for (AttrList* a = head_; a; a = a->next_, i--) {
    if (i == 0) return a->value_;
  }
  return nullptr;
}

DirNameEntry::AttrList* DirNameEntry::find(const char* name) const {
  if (!name) return nullptr;
  for (AttrList* a = head_; a; a = a->next_) {
    if (strcmp(a->name_, name) == 0) return a;
  }
  return nullptr;
}

Any* DirNameEntry::getAttributeValue(const char* name) const {
  AttrList* a = find(name);
  return a ? a->value_ : nullptr;
}

const char* DirNameEntry::getStringAttributeValue(const char* name) const {
  AttrList* a = find(name);
  if (!a || !a->value_ || a->value_->isOpaque() || a->value_->getType() != ANY_STRING) return nullptr;
  return a->value_->getString();
}

int DirNameEntry::parseNextString(const char* text, size_t& pos, const char* delimiters, char* out, size_t outSize,
                                  bool keepQuotes) {
  if (outSize == 0) return DirError::BUFFER_TOO_SMALL;
  bool quoted = false;
  size_t used = 0;
  size_t p = pos;
  for (;; p++) {
    char c = text[p];
    if (c == '\0') {
      out[used] = '\0';
      pos = p;
      return quoted ? DirError::UNMATCHED_QUOTE : DirError::DELIMITER_NOT_FOUND;
    }
    if (c == '"') {
      quoted = !quoted;
      if (!keepQuotes) continue;
    } else if (!quoted && strchr(delimiters, c)) {
      out[used] = '\0';
      pos = p + 1;
      return 0;
    }
    if (used + 1 >= outSize) {
      out[outSize - 1] = '\0';
      return DirError::BUFFER_TOO_SMALL;
    }
    out[used++] = c;
  }
}

DirNameEntry* DirNameEntry::createFromString(const char* text, int* error) {
  auto fail = [&](int code) -> DirNameEntry* {
    if (error) *error = code;
    return nullptr;
  };
  if (!text) return fail(DirError::MISSING_COLON);
  char piece[kPieceSize];
  size_t pos = 0;
  int rv = parseNextString(text, pos, ":", piece, sizeof(piece));
  if (rv == DirError::DELIMITER_NOT_FOUND) return fail(DirError::MISSING_COLON);
  if (rv != 0) return fail(rv);
  auto entry = std::make_unique<DirNameEntry>();
  size_t n = strlen(piece);
  if (piece[0] == '<') {
    if (n < 2 || piece[n - 1] != '>') return fail(DirError::UNMATCHED_ANGLE);
    piece[n - 1] = '\0';
    entry->name_ = modeltext::dup(piece + 1);
    entry->nameIsExpression_ = true;
  } else {
    entry->name_ = modeltext::dup(piece);
  }
  while (text[pos] != '\0') {
    rv = parseNextString(text, pos, ",", piece, sizeof(piece));
    if (rv != 0 && rv != DirError::DELIMITER_NOT_FOUND) return fail(rv);
    char* eq = strchr(piece, '=');
    if (!eq) return fail(DirError::MISSING_EQUAL_SIGN);
    *eq = '\0';
    char* value = eq + 1;
    size_t vn = strlen(value);
    if (value[0] == '<') {
      if (vn < 2 || value[vn - 1] != '>') return fail(DirError::UNMATCHED_ANGLE);
      value[vn - 1] = '\0';
      entry->setAttributeExpression(piece, value + 1);
    } else {
      entry->setAttribute(piece, static_cast<const char*>(value));
    }
  }
  if (error) *error = 0;
  return entry.release();
}

char* DirNameEntry::toString(Parser* parser) {
  StringBuilder out;
  out.append(name_ ? name_ : "");
  out.append(':');
  for (AttrList* a = head_; a; a = a->next_) {
    if (a != head_) out.append(',');
    out.append(a->name_);
    out.append('=');
    char* value = nullptr;
    bool have = a->value_ && a->value_->convertToString(parser, value);
    out.append(a->isExpression_ ? '<' : '"');
    out.append(have && value ? value : "null");
    out.append(a->isExpression_ ? '>' : '"');
    free(value);
  }
  return out.take();
}

bool DirNameEntry::operator==(const DirNameEntry& other) const {
  if (!name_ || !other.name_) {
    if (name_ != other.name_) return false;
  } else if (strcmp(name_, other.name_) != 0) {
    return false;
  }
  for (AttrList* a = head_; a; a = a->next_) {
    AttrList* b = other.find(a->name_);
    if (!b) return false;
    if (!a->value_ || !b->value_) {
      if (a->value_ != b->value_) return false;
    } else if (!(*a->value_ == *b->value_)) {
      return false;
    }
  }
  return true;
}

long long DirNameEntry::hashValue() const {
  unsigned long long h = name_ ? (unsigned long long)modeltext::hashText(name_) : 0;
  for (AttrList* a = head_; a; a = a->next_) {
    unsigned long long v = a->value_ ? (unsigned long long)a->value_->hashValue() : 0;
    h = h * 59 + (unsigned long long)modeltext::hashText(a->name_) * 33 + v;
  }
  return (long long)h;
}

int DirNameEntry::isEqual(const Principal*, bool* out, const Translatable* other) const {
  *out = other && other->getObjectID() == OBJ_DIRNAMEENTRY_ID && *this == *static_cast<const DirNameEntry*>(other);
  return 0;
}

int DirNameEntry::clone(const Principal*, Translatable** out) const {
  *out = new DirNameEntry(*this);
  return 0;
}
