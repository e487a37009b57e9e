#include "model/enumerations.h"

#include <cstdlib>

#include "model/acl.h"
#include "model/attributes.h"
#include "model/container_text.h"
#include "model/dir_name_entry.h"
#include "model/text_util.h"

// ---- ClassEnumeration

ClassEnumeration::ClassEnumeration(const ClassEnumeration& other) : Translatable() {
  for (EnumEntry* e = other.head_; e; e = e->next) append(e->name);
}

ClassEnumeration::~ClassEnumeration() {
  EnumEntry* e = head_;
  while (e) {
    EnumEntry* next = e->next;
    free(e->name);
    delete e;
    e = next;
  }
}

void ClassEnumeration::append(const char* name) {
  auto* e = new EnumEntry{modeltext::dup(name), nullptr};
  if (tail_) tail_->next = e;
  else head_ = e;
  tail_ = e;
  count_++;
}

bool ClassEnumeration::next() {
  if (!started_) {
    started_ = true;
    cursor_ = head_;
  } else if (cursor_) {
    cursor_ = cursor_->next;
  }
  return cursor_ != nullptr;
}

void ClassEnumeration::takeContents(ClassEnumeration* other) {
  if (!other || other == this || !other->head_) return;
  if (tail_) tail_->next = other->head_;
  else head_ = other->head_;
  tail_ = other->tail_;
  count_ += other->count_;
  other->head_ = other->tail_ = other->cursor_ = nullptr;
  other->started_ = false;
  other->count_ = 0;
}

char* ClassEnumeration::toString(Parser* parser) {
  ContainerText text(parser, '[', ']');
  for (EnumEntry* e = head_; e; e = e->next) {
    StringBuilder& out = text.beginItem();
    out.append('"');
    out.append(e->name ? e->name : "");
    out.append('"');
  }
  return text.finish();
}

int ClassEnumeration::clone(const Principal*, Translatable** out) const {
  *out = new ClassEnumeration(*this);
  return 0;
}

// ---- DirectoryEnumeration

DirectoryEnumeration::DirectoryEnumeration(const DirectoryEnumeration& other) : Translatable() {
  for (EnumEntry* e = other.head_; e; e = e->next) {
    append(e->name ? new DirNameEntry(*e->name) : nullptr, e->attributes ? new Attributes(*e->attributes) : nullptr,
           e->acl ? new Acl(*e->acl) : nullptr);
  }
}

DirectoryEnumeration::~DirectoryEnumeration() {
  EnumEntry* e = head_;
  while (e) {
    EnumEntry* next = e->next;
    delete e->name;
    delete e->attributes;
    delete e->acl;
    delete e;
    e = next;
  }
}

void DirectoryEnumeration::append(DirNameEntry* name, Attributes* attributes, Acl* acl) {
  auto* e = new EnumEntry{name, attributes, acl, nullptr};
  if (tail_) tail_->next = e;
  else head_ = e;
  tail_ = e;
  count_++;
}

bool DirectoryEnumeration::next() {
  if (!started_) {
    started_ = true;
    cursor_ = head_;
  } else if (cursor_) {
    cursor_ = cursor_->next;
  }
  return cursor_ != nullptr;
}

void DirectoryEnumeration::takeContents(DirectoryEnumeration* other) {
  if (!other || other == this || !other->head_) return;
  if (tail_) tail_->next = other->head_;
  else head_ = other->head_;
  tail_ = other->tail_;
  count_ += other->count_;
  other->head_ = other->tail_ = other->cursor_ = nullptr;
  other->started_ = false;
  other->count_ = 0;
}

char* DirectoryEnumeration::toString(Parser* parser) {
  ContainerText text(parser, '[', ']');
  for (EnumEntry* e = head_; e; e = e->next) {
    char* name = e->name ? e->name->toString(parser) : nullptr;
    char* attributes = e->attributes ? e->attributes->toString(parser) : nullptr;
    StringBuilder& out = text.beginItem();
    out.append("{ \"name\" : \"");
    out.append(name ? name : "");
    out.append("\", \"attributes\" : ");
    out.append(attributes ? attributes : "null");
    out.append(" }");
    free(name);
    free(attributes);
  }
  return text.finish();
}

int DirectoryEnumeration::clone(const Principal*, Translatable** out) const {
  *out = new DirectoryEnumeration(*this);
  return 0;
}
