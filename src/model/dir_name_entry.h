// DirNameEntry: one component of a directory name, a class-like name and an
// ordered list of attribute = value pairs that select the object
// ("host:name=alpha,port=22"); a name or value between '<' and '>' is a kel
// expression evaluated later. Not synchronised: one thread at a time.
#pragma once

#include <cstddef>

#include "model/translatable.h"

class DirNameEntry : public Translatable {
 public:
  // One attribute of the entry.
  class AttrList : public Translatable {
   public:
    AttrList(const char* name, Any* value, bool isExpression);
    ~AttrList() override;
    AttrList(const AttrList&) = delete;
    AttrList& operator=(const AttrList&) = delete;
    [[nodiscard]] const char* getName() const { return name_; }
    [[nodiscard]] Any* getValue() const { return value_; }
    [[nodiscard]] bool isExpression() const { return isExpression_; }
    [[nodiscard]] AttrList* getNext() const { return next_; }
    int getObjectID() const override { return OBJ_DIRNAMEENTRY_ATTR_ID; }

   private:
    friend class DirNameEntry;
    char* name_;
    bool isExpression_;
    Any* value_;
    AttrList* next_ = nullptr;
  };

  explicit DirNameEntry(const char* name = nullptr);
  DirNameEntry(const char* name, const char* attr1, const char* value1);
  DirNameEntry(const char* name, const char* attr1, const char* value1, const char* attr2, const char* value2);
  // Copies the name, the flag and every attribute in order.
  DirNameEntry(const DirNameEntry& other);
  DirNameEntry& operator=(const DirNameEntry&) = delete;
  ~DirNameEntry() override;

  [[nodiscard]] const char* getName() const { return name_; }
  [[nodiscard]] bool isNameExpression() const { return nameIsExpression_; }
  void setNameIsExpression(bool expression) { nameIsExpression_ = expression; }
  [[nodiscard]] int getAttributeCount() const { return attributeCount_; }
  [[nodiscard]] AttrList* firstAttribute() const { return head_; }

  // Appends at the tail, adopting `value`. None of the adders replaces an
  // attribute of the same name.
  void addAttribute(const char* name, Any* value, bool isExpression);
  void setAttribute(const char* name, const char* value);  // ANY_STRING, subtype 1
  void setAttribute(const char* name, int value);
  void setAttribute(const char* name, bool value);
  void setAttribute(const char* name, long long value);
  void setAttribute(const char* name, float value);
  void setAttribute(const char* name, double value);
  // The expression text as a string of subtype 1, marked as an expression.
  void setAttributeExpression(const char* name, const char* expression);

  // The i-th attribute counted from 0; null out of range.
  [[nodiscard]] const char* getAttributeName(int i) const;
  [[nodiscard]] Any* getAttributeValue(int i) const;
  // The value of the first attribute of that name (case-sensitive), or null.
  [[nodiscard]] Any* getAttributeValue(const char* name) const;
  // Its text when that first attribute holds an ANY_STRING, else null.
  [[nodiscard]] const char* getStringAttributeValue(const char* name) const;

  // Parses "name:attr=value,attr2=<expression>". Any part may be quoted to
  // include ':', ',', '=', '/' or '<'; each piece is limited to 255 bytes.
  // Returns the new entry with *error 0, or null with *error set: 1 unmatched
  // quote, 3 piece too long, 4 no colon, 5 no '=', 8 unmatched '<'.
  [[nodiscard]] static DirNameEntry* createFromString(const char* text, int* error);

  // The tokenizer of both name parsers: copies from text[pos] into `out`
  // (size includes the NUL) up to a character of `delimiters` outside double
  // quotes. Quotes toggle the quoted state and are dropped, unless
  // `keepQuotes`. Returns 0 when a delimiter was found (pos moves past it),
  // 2 when the text ended with quotes balanced, 1 when it ended inside quotes,
  // 3 when `out` is too small. Never writes past out[outSize - 1].
  [[nodiscard]] static int parseNextString(const char* text, size_t& pos, const char* delimiters, char* out,
                                           size_t outSize, bool keepQuotes = false);

  // "name:attr=\"value\",expr=<text>"; non-string values print as null.
  char* toString(Parser* parser) override;
  // Names equal, and every attribute of this entry has a counterpart of the
  // same name in `other` (first match) with an equal value. One-sided.
  bool operator==(const DirNameEntry& other) const;
  [[nodiscard]] long long hashValue() const;
  int isEqual(const Principal* principal, bool* out, const Translatable* other) const override;
  int clone(const Principal* principal, Translatable** out) const override;
  int getObjectID() const override { return OBJ_DIRNAMEENTRY_ID; }
  [[nodiscard]] const char* getObjectName() const { return "com.vesk.DirNameEntry"; }

 private:
  AttrList* find(const char* name) const;

  char* name_ = nullptr;
  bool nameIsExpression_ = false;
  AttrList* head_ = nullptr;
  AttrList* tail_ = nullptr;
  int attributeCount_ = 0;
};
