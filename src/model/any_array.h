// AnyArray: the array value of kel and of the wire encoding: `count` slots of
// owned Any*, a slot may be empty. Not synchronised: one thread at a time.
#pragma once

#include <new>

#include "model/translatable.h"

class AnyBatch;
class StringBuilder;

class AnyArray : public Translatable {
 public:
  // `n` empty slots (none for n below 1).
  explicit AnyArray(int n = 0);
  // Deep copy: each element copied with the Any copy constructor.
  AnyArray(const AnyArray& other);
  AnyArray& operator=(const AnyArray&) = delete;
  ~AnyArray() override;
  // A new empty array made in `batch` (any_batch.h) with room for `n`
  // elements in the same piece; a larger one comes from the heap. Delete it
  // like any other.
  [[nodiscard]] static AnyArray* create(AnyBatch& batch, int n);
  // Deletion: an array made in a batch gives its piece back.
  static void operator delete(AnyArray* array, std::destroying_delete_t) {
    if (array->placed_) {
      destroyPlaced(array);
      return;
    }
    array->~AnyArray();
    ::operator delete(array);
  }

  [[nodiscard]] int size() const { return count_; }
  // The element in slot `i` (not a copy), or null when empty or out of range.
  [[nodiscard]] Any* get(int i) const { return (i >= 0 && i < count_) ? elements_[i] : nullptr; }
  // Replaces slot `i` (deleting the old element) with `value`, adopted.
  // Returns 0, or 56 for an index outside 0..count-1 (`value` is deleted).
  [[nodiscard]] int set(int i, Any* value);
  // Adds one slot at the end holding `value` (adopted, may be null).
  void append(Any* value);
  // Hands the element of slot `i` over and leaves the slot empty.
  [[nodiscard]] Any* take(int i);
  // Deletes every element; count becomes 0.
  void clear();
  // Room for `n` slots in all, so that appending up to that many allocates
  // nothing more (a reader that knows the length builds the array at once).
  void reserve(int n);

  // Index: ANY_INT32 or ANY_INT64 (low 32 bits), else 24. In range and
  // non-empty: a reference (Any::createReference) to the element; otherwise
  // a new undefined. Status 0.
  int getArrayElement(Parser* parser, Any** result, const Any* index) const override;
  // Index: ANY_INT32, else 24; outside 0..count-1: 56. `value` is taken over
  // in every case (deleted on failure).
  int setArrayElement(Parser* parser, const Any* index, Any* value) override;
  // "length": a new ANY_INT32 holding count.
  int getField(Parser* parser, Any** result, const char* name) const override;
  bool operator==(const AnyArray& other) const;
  int isEqual(const Principal* principal, bool* out, const Translatable* other) const override;
  int clone(const Principal* principal, Translatable** out) const override;
  // "[ a, b ]", or indented one element per line in pretty mode.
  char* toString(Parser* parser) override;
  // Appends the toString text to `out`.
  void appendText(StringBuilder& out, Parser* parser);
  int getObjectID() const override { return OBJ_ANYARRAY_ID; }

 private:
  // Grows the storage to exactly `n` slots (never shrinks).
  void resizeStorage(int n);
  static void destroyPlaced(AnyArray* array);

  int count_ = 0;
  int capacity_ = 0;
  Any** elements_ = nullptr;
  // Made by create() in a batch's piece; the first storage shares the piece
  // (never freed or reallocated on its own).
  bool placed_ = false;
  bool elementsPlaced_ = false;
};
