// Directory listings: ClassEnumeration (class names) and DirectoryEnumeration
// (name, attributes and ACL of each object), each a list with a cursor that
// next() moves. Not synchronised: one thread at a time.
#pragma once

#include "model/translatable.h"

class Acl;
class Attributes;
class DirNameEntry;

namespace enumdetail {
// The singly linked list with a cursor that both enumerations are: nodes are
// linked at the tail, next() walks them, and a splice moves a whole list.
// Owns no payload: each enumeration frees its own nodes.
template <typename Entry>
struct CursorList {
  Entry* head = nullptr;
  Entry* tail = nullptr;
  Entry* cursor = nullptr;
  bool started = false;
  int count = 0;

  void link(Entry* e) {
    if (tail) tail->next = e;
    else head = e;
    tail = e;
    count++;
  }
  bool advance() {
    if (!started) {
      started = true;
      cursor = head;
    } else if (cursor) {
      cursor = cursor->next;
    }
    return cursor != nullptr;
  }
  void splice(CursorList* other) {
    if (!other || other == this || !other->head) return;
    if (tail) tail->next = other->head;
    else head = other->head;
    tail = other->tail;
    count += other->count;
    *other = CursorList();
  }
};
}  // namespace enumdetail

class ClassEnumeration : public Translatable {
 public:
  struct EnumEntry {
    char* name;
    EnumEntry* next;
  };

  ClassEnumeration() = default;
  ClassEnumeration(const ClassEnumeration& other);
  ClassEnumeration& operator=(const ClassEnumeration&) = delete;
  ~ClassEnumeration() override;

  // Appends a copy of `name` at the tail.
  void append(const char* name);
  // Moves the cursor to the head on the first call and to the following node
  // afterwards; whether it is on a node.
  [[nodiscard]] bool next();
  // The cursor's name (null before the first next() or past the end).
  [[nodiscard]] const char* getClass() const { return list_.cursor ? list_.cursor->name : nullptr; }
  // Moves all of `other`'s nodes to the end of this list; `other` is empty.
  void takeContents(ClassEnumeration* other);
  [[nodiscard]] int size() const { return list_.count; }
  [[nodiscard]] EnumEntry* first() const { return list_.head; }

  char* toString(Parser* parser) override;
  int clone(const Principal* principal, Translatable** out) const override;
  int getObjectID() const override { return OBJ_CLASSENUMERATION_ID; }

 private:
  enumdetail::CursorList<EnumEntry> list_;
};

class DirectoryEnumeration : public Translatable {
 public:
  struct EnumEntry {
    DirNameEntry* name;
    Attributes* attributes;
    Acl* acl;
    EnumEntry* next;
  };

  DirectoryEnumeration() = default;
  DirectoryEnumeration(const DirectoryEnumeration& other);
  DirectoryEnumeration& operator=(const DirectoryEnumeration&) = delete;
  ~DirectoryEnumeration() override;

  // Adopts all three (any may be null); count + 1.
  void append(DirNameEntry* name, Attributes* attributes, Acl* acl);
  // As ClassEnumeration::next().
  [[nodiscard]] bool next();
  // Of the cursor's node; null before the first next().
  [[nodiscard]] DirNameEntry* getName() const { return list_.cursor ? list_.cursor->name : nullptr; }
  [[nodiscard]] Attributes* getAttributes() const { return list_.cursor ? list_.cursor->attributes : nullptr; }
  [[nodiscard]] Acl* getAcl() const { return list_.cursor ? list_.cursor->acl : nullptr; }
  // Moves all of `other`'s entries to the end of this list; `other` is empty.
  void takeContents(DirectoryEnumeration* other);
  [[nodiscard]] int size() const { return list_.count; }
  [[nodiscard]] EnumEntry* first() const { return list_.head; }
  [[nodiscard]] const char* getObjectType() const { return "DirectoryEnumeration"; }

  char* toString(Parser* parser) override;
  int clone(const Principal* principal, Translatable** out) const override;
  int getObjectID() const override { return OBJ_DIRECTORYENUMERATION_ID; }

 private:
  enumdetail::CursorList<EnumEntry> list_;
};
