// Decoders for the exact byte layouts that this system's own encoders write
// for Any values (with nested arrays) and attribute entries, reading straight
// from one contiguous run of bytes. Anything else (other field orders, extra
// fields, held objects, data running past the run, nesting near the limit)
// makes them decline, and the general reader takes over: for the layouts they
// accept, both produce the same objects. Stateless and thread-safe.
#pragma once

#include <cstddef>
#include <cstdlib>

class Acl;
class Any;
class Attributes;
class DirNameEntry;

namespace wirefast {

// A decoded name, kept on the stack when short: the model copies names it is
// given, so a heap copy here would be made only to be freed again.
class Name {
 public:
  Name() = default;
  Name(const Name&) = delete;
  Name& operator=(const Name&) = delete;
  ~Name() { std::free(heap_); }
  // Null until set; then the text, NUL-terminated.
  [[nodiscard]] const char* get() const { return text_; }
  // False when no memory could be had.
  [[nodiscard]] bool set(const unsigned char* bytes, size_t n);

 private:
  char small_[256];
  char* heap_ = nullptr;
  const char* text_ = nullptr;
};

// The Any object starting at p[0] (its object tag). Returns the bytes it
// takes, or 0 to decline. `depth` is the nesting the object would be read at.
size_t readAny(const unsigned char* p, size_t n, int depth, Any** out);

// A named value starting at p[0]: an object of `type` with a string name
// (field 1), an int32 (field 2) and an Any (field 3), as an attribute entry
// (1002) or a name attribute (1005) is written. Gives the name (malloc'd),
// the int32 and the value (null for a null object). Returns the bytes it
// takes, or 0 to decline.
size_t readNamedValue(const unsigned char* p, size_t n, int depth, int type, Name* name, int* number, Any** value);

// A directory-listing entry (1011): its name entry (1004, with its attribute
// list), attributes (1001) and ACL (1014), each possibly a null object.
size_t readDirectoryEntry(const unsigned char* p, size_t n, int depth, DirNameEntry** name, Attributes** attributes,
                          Acl** acl);

}  // namespace wirefast
