// ExpectEntry and ExpectList: the send/expect steps of an interactive
// session (what to send, what to expect, whether that is a regular
// expression, and what was actually received). Not synchronised.
#pragma once

#include "model/translatable.h"

class ExpectEntry : public Translatable {
 public:
  ExpectEntry(const char* expect, const char* send, bool isRegex, const char* actual = nullptr);
  ExpectEntry(const ExpectEntry& other);
  ExpectEntry& operator=(const ExpectEntry&) = delete;
  ~ExpectEntry() override;

  [[nodiscard]] const char* getExpect() const { return expect_; }
  [[nodiscard]] const char* getSend() const { return send_; }
  [[nodiscard]] bool isRegex() const { return isRegex_; }
  [[nodiscard]] const char* getActual() const { return actual_; }
  void setActual(const char* actual);

  // { "send" : "...", "isRegex" : true|false, "actual" : "..." } (a missing
  // text prints as null; texts inserted as they are).
  char* toString(Parser* parser) override;
  int clone(const Principal* principal, Translatable** out) const override;
  int getObjectID() const override { return OBJ_EXPECTENTRY_ID; }

 private:
  char* expect_;
  char* send_;
  bool isRegex_;
  char* actual_;
};

class ExpectList : public Translatable {
 public:
  ExpectList() = default;
  ExpectList(const ExpectList& other);
  ExpectList& operator=(const ExpectList&) = delete;
  ~ExpectList() override;

  // Adopts `entry` at the tail.
  void append(ExpectEntry* entry);
  [[nodiscard]] int size() const { return count_; }
  // The i-th entry from 0, null when out of range.
  [[nodiscard]] ExpectEntry* get(int i) const;

  // "[ " + (", " + entry text) for every entry + " ]".
  char* toString(Parser* parser) override;
  int clone(const Principal* principal, Translatable** out) const override;
  int getObjectID() const override { return OBJ_EXPECTLIST_ID; }

 private:
  struct Node {
    ExpectEntry* entry;
    Node* next;
  };
  Node* head_ = nullptr;
  Node* tail_ = nullptr;
  int count_ = 0;
};
