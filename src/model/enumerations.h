// Directory listings: ClassEnumeration (class names) and DirectoryEnumeration
// (name, attributes and ACL of each object), each a list with a cursor that
// next() moves. Not synchronised: one thread at a time.
#pragma once

#include "model/translatable.h"

class Acl;
class Attributes;
class DirNameEntry;

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
  [[nodiscard]] const char* getClass() const { return cursor_ ? cursor_->name : nullptr; }
  // Moves all of `other`'s nodes to the end of this list; `other` is empty.
  void takeContents(ClassEnumeration* other);
  [[nodiscard]] int size() const { return count_; }
  [[nodiscard]] EnumEntry* first() const { return head_; }

  char* toString(Parser* parser) override;
  int clone(const Principal* principal, Translatable** out) const override;
  int getObjectID() const override { return OBJ_CLASSENUMERATION_ID; }

 private:
  EnumEntry* head_ = nullptr;
  EnumEntry* tail_ = nullptr;
  EnumEntry* cursor_ = nullptr;
  bool started_ = false;
  int count_ = 0;
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
  [[nodiscard]] DirNameEntry* getName() const { return cursor_ ? cursor_->name : nullptr; }
  [[nodiscard]] Attributes* getAttributes() const { return cursor_ ? cursor_->attributes : nullptr; }
  [[nodiscard]] Acl* getAcl() const { return cursor_ ? cursor_->acl : nullptr; }
  // Moves all of `other`'s entries to the end of this list; `other` is empty.
  void takeContents(DirectoryEnumeration* other);
  [[nodiscard]] int size() const { return count_; }
  [[nodiscard]] EnumEntry* first() const { return head_; }
  [[nodiscard]] const char* getObjectType() const { return "DirectoryEnumeration"; }

  char* toString(Parser* parser) override;
  int clone(const Principal* principal, Translatable** out) const override;
  int getObjectID() const override { return OBJ_DIRECTORYENUMERATION_ID; }

 private:
  EnumEntry* head_ = nullptr;
  EnumEntry* tail_ = nullptr;
  EnumEntry* cursor_ = nullptr;
  bool started_ = false;
  int count_ = 0;
};
