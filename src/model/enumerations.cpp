#include "model/enumerations.h"

#include <cstdlib>

#include "model/acl.h"
#include "model/attributes.h"
#include "model/container_text.h"
#include "model/dir_name_entry.h"
#include "model/text_util.h"

// ---- ClassEnumeration

ClassEnumeration::ClassEnumeration(const ClassEnumeration& other) : Translatable() {
  for (EnumEntry* e = other.list_.head; e; e = e->next) append(e->name);
}

ClassEnumeration::~ClassEnumeration() {
  EnumEntry* e = list_.head;
  while (e) {
    EnumEntry* next = e->next;
    free(e->name);
    delete e;
    e = next;
  }
}

void ClassEnumeration::append(const char* name) {
  auto* e = new EnumEntry{modeltext::dup(name), nullptr};
  list_.link(e);
}

bool ClassEnumeration::next() { return list_.advance(); }

void ClassEnumeration::takeContents(ClassEnumeration* other) { list_.splice(other ? &other->list_ : nullptr); }

char* ClassEnumeration::toString(Parser* parser) {
  ContainerText text(parser, '[', ']');
  for (EnumEntry* e = list_.head; e; e = e->next) {
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
  for (EnumEntry* e = other.list_.head; e; e = e->next) {
    append(e->name ? new DirNameEntry(*e->name) : nullptr, e->attributes ? new Attributes(*e->attributes) : nullptr,
           e->acl ? new Acl(*e->acl) : nullptr);
  }
}

DirectoryEnumeration::~DirectoryEnumeration() {
  EnumEntry* e = list_.head;
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
  list_.link(e);
}

bool DirectoryEnumeration::next() { return list_.advance(); }

void DirectoryEnumeration::takeContents(DirectoryEnumeration* other) { list_.splice(other ? &other->list_ : nullptr); }

char* DirectoryEnumeration::toString(Parser* parser) {
  ContainerText text(parser, '[', ']');
  for (EnumEntry* e = list_.head; e; e = e->next) {
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
