// Attributes: the named-value set of directory attributes, alert and rule
// parameters, kel objects and JSON objects. A singly linked list: new entries
// go to the head, so iteration runs from the newest entry to the oldest;
// duplicate names are allowed and lookups find the newest. Large sets keep a
// hash index beside the list so that lookups stay fast; the list alone
// defines the order. Entries and their names live in blocks owned by the set
// (entries are never removed one by one), so a set of n entries costs a few
// allocations rather than 2n. Not synchronised: one thread at a time uses a set (the
// values' reference counts are shared atomically).
#pragma once

#include <cstddef>
#include <memory>
#include <new>

#include "model/obj_ref.h"
#include "model/translatable.h"

class AnyBatch;
class StringBuilder;

class Attributes : public Translatable {
 public:
  // One entry. The entry's ObjRef target is its value (an Any); an owning
  // entry counts the value, a non-owning one (setAttributeDontFree) does not.
  class AttrList final : public ObjRef, public Translatable {
   public:
    AttrList(const char* name, Any* value, int displayHint, bool freeValue);
    ~AttrList() override;
    AttrList(const AttrList&) = delete;
    AttrList& operator=(const AttrList&) = delete;

    [[nodiscard]] const char* getName() const { return name; }
    [[nodiscard]] Any* getValue() const;
    [[nodiscard]] int getDisplayHint() const { return displayHint; }
    [[nodiscard]] bool ownsValue() const { return freeValue; }
    [[nodiscard]] AttrList* getNext() const { return next; }
    int getObjectID() const override { return OBJ_ATTRLIST_ID; }
    char* toString(Parser* parser) override;

   private:
    friend class Attributes;
    // An entry placed in one of the set's blocks: `placedName` (already
    // holding the name) lies in the same block and is not freed.
    struct Placed {};
    AttrList(Placed, char* placedName, Any* value, int displayHint, bool freeValue);
    // Ends an entry of a set being destroyed, in place of its destructor:
    // releases an owned value and frees an owned name without writing to
    // the entry (the set's memory goes next; a large document is not
    // written back to memory just to be freed). The entry holds nothing
    // else.
    void dispose();
    // Replaces the value (releasing or forgetting the old one); owning after.
    void replaceValue(Any* value);

    char* name;
    int displayHint;
    bool freeValue;
    bool ownsName = true;
    AttrList* next = nullptr;
  };

  Attributes();
  // Deep copy through each value's clone(); the copy lists the entries in the
  // reverse order of the source. An unclonable value becomes a null Any.
  Attributes(const Attributes& other);
  Attributes& operator=(const Attributes&) = delete;
  // Frees the names, releases every owned value, deletes the location.
  ~Attributes() override;
  // A new empty set made in `batch` (any_batch.h) with room for `entries`
  // entries whose names total `nameBytes` bytes, in the same piece; a set
  // too large for a piece comes from the heap. Delete it like any other.
  [[nodiscard]] static Attributes* create(AnyBatch& batch, int entries, size_t nameBytes);
  // Deletion: a set made in a batch gives its piece back.
  static void operator delete(Attributes* set, std::destroying_delete_t) {
    if (set->placed_) {
      destroyPlaced(set);
      return;
    }
    set->~Attributes();
    ::operator delete(set);
  }

  // New entry at the head adopting `value` (may be null); no duplicate check.
  void addAttribute(const char* name, Any* value, int displayHint = 0);
  // New entry at the tail adopting `value`: rebuilding a set in list order
  // (a decoder) keeps the order.
  void appendAttribute(const char* name, Any* value, int displayHint = 0);
  // Room for `entries` more entries whose names total `nameBytes` bytes
  // (without their NULs) in one allocation: a reader that knows the members
  // of an object before building it adds them without further allocations.
  void reserve(int entries, size_t nameBytes);
  // New entry at the head that does not own `value`: the caller keeps it and
  // must keep it alive as long as the entry exists.
  void setAttributeDontFree(const char* name, Any* value, int displayHint = 0);
  // Replaces the value of the first entry of that name (keeping its hint), or
  // adds a new entry at the head. Adopts `value`.
  void addOrSetAttribute(const char* name, Any* value, int displayHint = 0);
  // addOrSetAttribute without a new Any: the newest entry of that name takes
  // the value of `value` into the Any it already holds, and `value` is left
  // null. Only done when that entry owns its value and no other reference
  // counts it (a value shared elsewhere must keep its contents, and a
  // foreign value is never written). False, nothing changed, otherwise (no
  // entry of that name, a non-owning entry, no value, a shared value): the
  // caller stores through addOrSetAttribute or setField instead.
  [[nodiscard]] bool assignInPlace(const char* name, Any& value);
  // addOrSetAttribute with a new value of the matching kind.
  void setAttribute(const char* name, int value, int displayHint = 0);
  void setAttribute(const char* name, bool value, int displayHint = 0);
  void setAttribute(const char* name, long long value, int displayHint = 0);
  void setAttribute(const char* name, float value, int displayHint = 0);
  void setAttribute(const char* name, double value, int displayHint = 0);
  // Always a new entry at the head: an ANY_STRING of subtype 1 (copy of
  // `value`, or null).
  void setAttribute(const char* name, const char* value, int displayHint = 0);

  // The stored value of the first entry of that name (not a copy), or null.
  [[nodiscard]] Any* getAttribute(const char* name);
  [[nodiscard]] const Any* getAttribute(const char* name) const;
  // The stored value, or a new undefined Any that the caller owns (tell the
  // two apart with isUndefined() on a set that stores no undefined values).
  [[nodiscard]] Any* getAttributeOrUndefined(const char* name);
  // The text of the first entry of that name holding an ANY_STRING (others
  // of that name are skipped); null when none, or when the first entry of
  // that name has no value.
  [[nodiscard]] const char* getStringAttribute(const char* name) const;
  // The hint of the first entry of that name, else 0.
  [[nodiscard]] int getDisplayHint(const char* name) const;
  [[nodiscard]] int size() const { return count_; }
  // The first (newest) entry; follow getNext().
  [[nodiscard]] AttrList* first() const { return list_; }
  // A new NULL-terminated array of copies of the names in list order.
  [[nodiscard]] char** getKeys() const;
  void freeKeys(char** keys) const;
  // Does nothing: the entries stay. The Java map binding and the kel
  // variable sets rely on this.
  void clear() {}

  // Keeps a copy (clone()) of a kel source location, or drops it for null.
  void setLocation(const Translatable* location);
  // Keeps `location` itself, made in a piece of a batch (AnyBatch::place):
  // the set destroys it and gives the piece back. Null drops the location.
  void adoptPlacedLocation(Translatable* location);
  [[nodiscard]] const Translatable* getLocation() const { return location_; }

  bool operator==(const Attributes& other) const;
  int isEqual(const Principal* principal, bool* out, const Translatable* other) const override;
  int clone(const Principal* principal, Translatable** out) const override;
  // The kel object literal form, compact or pretty (see container_text.h).
  char* toString(Parser* parser) override;
  // Appends the toString text to `out`.
  void appendText(StringBuilder& out, Parser* parser);
  // "k=v&k2=v2" in list order, URL-encoded; null for an empty set.
  [[nodiscard]] char* toHTTPQuery() const;
  // The query of `url` (from its '?', which the first name keeps) as string
  // entries; null without a '?' or when a piece lacks '='. Not decoded.
  [[nodiscard]] static Attributes* fromURL(const char* url);

  // kel access.
  int getField(Parser* parser, Any** result, const char* name) const override;
  int setField(Parser* parser, const char* name, Any* value) override;
  int getArrayElement(Parser* parser, Any** result, const Any* index) const override;
  int setArrayElement(Parser* parser, const Any* index, Any* value) override;
  int getObjectID() const override { return OBJ_ATTRIBUTES_ID; }
  [[nodiscard]] const char* getObjectType() const { return "Attributes"; }

 private:
  struct Index;
  struct Block;
  static void destroyPlaced(Attributes* set);
  AttrList* find(const char* name) const;
  // Builds the index when the set is large enough to need one.
  void buildIndex() const;
  // A new entry (name copied beside it) in the current block.
  AttrList* place(const char* name, Any* value, int displayHint, bool owns);
  void addBlock(size_t capacity);
  // How many entries carry `name` (from the index when there is one).
  int countNamed(const char* name, AttrList* first) const;
  void link(AttrList* entry, bool atHead);
  void dropLocation();

  AttrList* list_ = nullptr;
  AttrList* tail_ = nullptr;
  int count_ = 0;
  // Deleted with the set, or destroyed and given back to its batch when
  // placed.
  Translatable* location_ = nullptr;
  bool locationPlaced_ = false;
  mutable std::unique_ptr<Index> index_;
  // The newest block first; the entries of every block are destroyed by the
  // destructor before the blocks are freed.
  Block* blocks_ = nullptr;
  // Made by create() in a batch's piece.
  bool placed_ = false;
};
