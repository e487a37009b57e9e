// DirName: the name of a directory object, a path of DirNameEntry components
// ("/domain:name=corp/host:name=alpha"); a leading "/" makes it absolute, a
// leading "//" marks the double-slash form. Not synchronised.
#pragma once

#include "model/dir_name_entry.h"
#include "model/translatable.h"

class DirName : public Translatable {
 public:
  // One node of the path; owns its entry.
  class NameList : public Translatable {
   public:
    explicit NameList(DirNameEntry* entry) : entry_(entry) {}
    ~NameList() override { delete entry_; }
    NameList(const NameList&) = delete;
    NameList& operator=(const NameList&) = delete;
    [[nodiscard]] DirNameEntry* getEntry() const { return entry_; }
    [[nodiscard]] NameList* getNext() const { return next_; }
    int getObjectID() const override { return OBJ_DIRNAME_NODE_ID; }

   private:
    friend class DirName;
    DirNameEntry* entry_;
    NameList* next_ = nullptr;
  };

  DirName() = default;
  // Flags copied, every entry deep-copied in order.
  DirName(const DirName& other);
  DirName& operator=(const DirName&) = delete;
  ~DirName() override;

  // Adopt `entry` at the tail / head.
  void append(DirNameEntry* entry);
  void prepend(DirNameEntry* entry);
  // The i-th entry from 0, null when out of range.
  [[nodiscard]] DirNameEntry* get(int i) const;
  [[nodiscard]] int size() const { return count_; }
  [[nodiscard]] NameList* first() const { return head_; }
  [[nodiscard]] bool isAbsolute() const { return absolute_; }
  [[nodiscard]] bool isDoubleSlash() const { return doubleSlash_; }
  void setAbsolute(bool absolute) { absolute_ = absolute; }
  void setDoubleSlash(bool doubleSlash) { doubleSlash_ = doubleSlash; }

  // Parses a whole name: components separated by '/' outside double quotes,
  // each parsed by DirNameEntry::createFromString (quotes reach it intact, so
  // a quoted ',' or '=' inside a value survives). An empty text is an empty
  // relative name; a single trailing '/' ends the name. Returns null with
  // *error set on failure: 1, 3, 4 (also for an empty component), 5 or 8.
  [[nodiscard]] static DirName* createFromString(const char* text, int* error);

  // "//" or "/" as flagged, then the entries joined by '/'.
  char* toString(Parser* parser) override;
  [[nodiscard]] long long hashValue() const;
  // Same flags and count, entries pairwise equal (DirNameEntry equality).
  bool operator==(const DirName& other) const;
  int isEqual(const Principal* principal, bool* out, const Translatable* other) const override;
  int clone(const Principal* principal, Translatable** out) const override;
  int getObjectID() const override { return OBJ_DIRNAME_ID; }
  [[nodiscard]] const char* getObjectName() const { return "com.vesk.DirName"; }

 private:
  NameList* head_ = nullptr;
  NameList* tail_ = nullptr;
  int count_ = 0;
  bool absolute_ = false;
  bool doubleSlash_ = false;
};
