#include "wire/fast_decode.h"

#include <cstdlib>
#include <cstring>
#include <memory>

#include "model/acl.h"
#include "model/any.h"
#include "model/any_array.h"
#include "model/attributes.h"
#include "model/dir_name_entry.h"
#include "wire/byte_order.h"
#include "wire/message_base.h"

namespace wirefast {

bool Name::set(const unsigned char* bytes, size_t n) {
  char* to = small_;
  if (n >= sizeof small_) {
    std::free(heap_);
    heap_ = static_cast<char*>(std::malloc(n + 1));
    if (heap_ == nullptr) return false;
    to = heap_;
  }
  std::memcpy(to, bytes, n);
  to[n] = '\0';
  text_ = to;
  return true;
}

namespace {

constexpr int kTypeLimit = 0xFFFF;

// A cursor over the run that declines (sets `ok` false) on the first byte it
// does not expect or that is not there.
struct Reader {
  const unsigned char* p;
  size_t n;
  size_t at = 0;
  bool ok = true;

  bool has(size_t k) {
    if (ok && n - at >= k) return true;
    ok = false;
    return false;
  }
  bool byte(unsigned char want) {
    if (!has(1) || p[at] != want) return ok = false;
    ++at;
    return true;
  }
  // Field prefix and the value's tag.
  bool field(unsigned number, unsigned char tag) {
    if (!has(3) || p[at] != TAG_FIELD || p[at + 1] != number || p[at + 2] != tag) return ok = false;
    at += 3;
    return true;
  }
  uint32_t u32() {
    if (!has(4)) return 0;
    uint32_t v = wire::get32(p + at);
    at += 4;
    return v;
  }
  uint64_t u64() {
    if (!has(8)) return 0;
    uint64_t v = wire::get64(p + at);
    at += 8;
    return v;
  }
  bool header(uint32_t type) { return byte(TAG_OBJECT) && u32() == type && ok; }
  // A string value after its tag, into `out`.
  bool name(Name* out) {
    uint32_t len = u32();
    if (!ok || !has(len) || !out->set(p + at, len)) return ok = false;
    at += len;
    return true;
  }
  // The next item is a null object: taken.
  bool null() {
    if (ok && at < n && p[at] == TAG_NULL_OBJECT) {
      ++at;
      return true;
    }
    return false;
  }
  bool containerHeader(uint32_t type) { return byte(TAG_CONTAINER) && u32() == type && ok; }
  // A string value after its tag: a new text, or declines.
  char* text() {
    uint32_t len = u32();
    if (!ok || !has(len)) return nullptr;
    auto* s = static_cast<char*>(std::malloc(size_t{len} + 1));
    if (s == nullptr) {
      ok = false;
      return nullptr;
    }
    std::memcpy(s, p + at, len);
    s[len] = '\0';
    at += len;
    return s;
  }
};

Any* readAnyAt(Reader& r, int depth);

// An AnyArray object as the array translator writes it.
AnyArray* readArrayAt(Reader& r, int depth) {
  if (depth >= MessageBase::kMaxNesting || !r.header(OBJ_ANYARRAY_ID) || !r.field(1, TAG_INT32)) return nullptr;
  const auto count = static_cast<int32_t>(r.u32());
  if (!r.ok || count < 0 || static_cast<size_t>(count) > (r.n - r.at) / 3) return r.ok = false, nullptr;
  auto array = std::make_unique<AnyArray>(count);
  for (int i = 0; i < count; ++i) {
    if (!r.has(3) || r.p[r.at] != TAG_FIELD || r.p[r.at + 1] != ((i + 2) & 0xFF)) return r.ok = false, nullptr;
    r.at += 2;
    if (r.p[r.at] == TAG_NULL_OBJECT) {
      ++r.at;
      continue;
    }
    Any* element = readAnyAt(r, depth + 1);
    if (!r.ok) return nullptr;
    if (array->set(i, element) != 0) {
      delete element;
      return r.ok = false, nullptr;
    }
  }
  if (!r.byte(TAG_OBJECT_END)) return nullptr;
  return array.release();
}

Any* readAnyAt(Reader& r, int depth) {
  if (depth >= MessageBase::kMaxNesting || !r.header(OBJ_ANY_ID) || !r.field(1, TAG_INT32)) return nullptr;
  const auto code = static_cast<int32_t>(r.u32());
  if (!r.ok) return nullptr;
  std::unique_ptr<Any> any;
  switch (code) {
    case ANY_NULL:
      any = std::make_unique<Any>();
      break;
    case ANY_UNDEFINED:
      any.reset(Any::createUndefined());
      break;
    case ANY_BOOL: {
      if (!r.field(2, TAG_BOOL) || !r.has(1)) return nullptr;
      any = std::make_unique<Any>(r.p[r.at++] != 0);
      break;
    }
    case ANY_INT32: {
      if (!r.field(2, TAG_INT32)) return nullptr;
      int v = static_cast<int>(r.u32());
      if (!r.ok) return nullptr;
      any = std::make_unique<Any>(v);
      break;
    }
    case ANY_INT64: {
      if (!r.field(2, TAG_INT64)) return nullptr;
      auto v = static_cast<long long>(r.u64());
      if (!r.ok) return nullptr;
      any = std::make_unique<Any>(v);
      break;
    }
    case ANY_FLOAT: {
      if (!r.field(2, TAG_FLOAT)) return nullptr;
      float v = wire::bitsFloat(r.u32());
      if (!r.ok) return nullptr;
      any = std::make_unique<Any>(v);
      break;
    }
    case ANY_DOUBLE: {
      if (!r.field(2, TAG_DOUBLE)) return nullptr;
      double v = wire::bitsDouble(r.u64());
      if (!r.ok) return nullptr;
      any = std::make_unique<Any>(v);
      break;
    }
    case ANY_STRING:
    case ANY_CHAR: {
      char* s = nullptr;
      if (!r.has(3) || r.p[r.at] != TAG_FIELD || r.p[r.at + 1] != 2) return r.ok = false, nullptr;
      if (r.p[r.at + 2] == TAG_NULL_STRING) {
        r.at += 3;
      } else if (r.field(2, TAG_STRING)) {
        s = r.text();
        if (!r.ok) return nullptr;
      } else {
        return nullptr;
      }
      any.reset(code == ANY_STRING ? Any::buildFromString(s) : new Any(ANY_CHAR, reinterpret_cast<Translatable*>(s)));
      break;
    }
    case OBJ_ANYARRAY_ID: {
      if (!r.has(3) || r.p[r.at] != TAG_FIELD || r.p[r.at + 1] != 2) return r.ok = false, nullptr;
      r.at += 2;
      AnyArray* array = nullptr;
      if (r.p[r.at] == TAG_NULL_OBJECT) {
        ++r.at;
      } else {
        array = readArrayAt(r, depth + 1);
        if (!r.ok) return nullptr;
      }
      any = std::make_unique<Any>();
      any->setObject(OBJ_ANYARRAY_ID, array);
      break;
    }
    default:
      // Held objects stay encoded: the general reader copies them.
      return r.ok = false, nullptr;
  }
  if (!r.field(3, TAG_INT32)) return nullptr;
  const auto subtype = static_cast<int32_t>(r.u32());
  if (!r.ok || subtype < 0 || subtype >= kTypeLimit || !r.byte(TAG_OBJECT_END)) return r.ok = false, nullptr;
  any->setSubtype(subtype);
  return any.release();
}

}  // namespace

size_t readAny(const unsigned char* p, size_t n, int depth, Any** out) {
  Reader r{p, n};
  Any* any = readAnyAt(r, depth);
  if (!r.ok) return 0;
  *out = any;
  return r.at;
}

namespace {

// The fields and trailer of a named value after its header.
bool readNamedValueBody(Reader& r, int depth, Name* name, int* number, Any** value) {
  if (!r.field(1, TAG_STRING) || !r.name(name) || !r.field(2, TAG_INT32)) return false;
  const int h = static_cast<int>(r.u32());
  if (!r.ok || !r.has(3) || r.p[r.at] != TAG_FIELD || r.p[r.at + 1] != 3) return r.ok = false;
  r.at += 2;
  Any* v = nullptr;
  if (!r.null()) {
    v = readAnyAt(r, depth + 1);
    if (!r.ok) return false;
  }
  if (!r.byte(TAG_OBJECT_END)) {
    delete v;
    return false;
  }
  *number = h;
  *value = v;
  return true;
}

DirNameEntry* readNameEntryAt(Reader& r, int depth) {
  if (depth + 3 >= MessageBase::kMaxNesting || !r.header(OBJ_DIRNAMEENTRY_ID)) return nullptr;
  Name name;
  if (!r.has(3) || r.p[r.at] != TAG_FIELD || r.p[r.at + 1] != 1) return r.ok = false, nullptr;
  if (r.p[r.at + 2] == TAG_NULL_STRING) {
    r.at += 3;
  } else if (!r.field(1, TAG_STRING) || !r.name(&name)) {
    return nullptr;
  }
  if (!r.field(2, TAG_INT32)) return nullptr;
  const uint32_t expression = r.u32();
  if (!r.ok || !r.byte(TAG_FIELD) || !r.byte(3) || !r.containerHeader(1006)) return nullptr;
  auto entry = std::make_unique<DirNameEntry>(name.get());
  entry->setNameIsExpression(expression != 0);
  while (r.ok && r.has(1) && r.p[r.at] != TAG_CONTAINER_END) {
    if (r.null()) continue;
    Name an;
    int x;
    Any* v;
    if (!r.header(OBJ_DIRNAMEENTRY_ATTR_ID) || !readNamedValueBody(r, depth + 2, &an, &x, &v)) return nullptr;
    entry->addAttribute(an.get(), v, x != 0);
  }
  if (!r.byte(TAG_CONTAINER_END) || !r.byte(TAG_OBJECT_END)) return nullptr;
  return entry.release();
}

Attributes* readAttributesAt(Reader& r, int depth) {
  if (depth + 3 >= MessageBase::kMaxNesting || !r.header(OBJ_ATTRIBUTES_ID) || !r.byte(TAG_FIELD) || !r.byte(1) ||
      !r.containerHeader(1003)) {
    return nullptr;
  }
  auto set = std::make_unique<Attributes>();
  while (r.ok && r.has(1) && r.p[r.at] != TAG_CONTAINER_END) {
    if (r.null()) continue;
    Name an;
    int hint;
    Any* v;
    if (!r.header(OBJ_ATTRLIST_ID) || !readNamedValueBody(r, depth + 2, &an, &hint, &v)) return nullptr;
    set->appendAttribute(an.get(), v, hint);
  }
  if (!r.byte(TAG_CONTAINER_END) || !r.byte(TAG_OBJECT_END)) return nullptr;
  return set.release();
}

Acl* readAclAt(Reader& r) {
  if (!r.header(OBJ_ACL_ID) || !r.has(3) || r.p[r.at] != TAG_FIELD || r.p[r.at + 1] != 1) return r.ok = false, nullptr;
  Name text;
  if (r.p[r.at + 2] == TAG_NULL_STRING) {
    r.at += 3;
  } else if (!r.field(1, TAG_STRING) || !r.name(&text)) {
    return nullptr;
  }
  if (!r.byte(TAG_OBJECT_END)) return nullptr;
  return new Acl(text.get());
}

}  // namespace

size_t readNamedValue(const unsigned char* p, size_t n, int depth, int type, Name* name, int* number, Any** value) {
  Reader r{p, n};
  if (depth >= MessageBase::kMaxNesting || !r.header(static_cast<uint32_t>(type))) return 0;
  return readNamedValueBody(r, depth, name, number, value) ? r.at : 0;
}

size_t readDirectoryEntry(const unsigned char* p, size_t n, int depth, DirNameEntry** name, Attributes** attributes,
                          Acl** acl) {
  Reader r{p, n};
  if (depth + 1 >= MessageBase::kMaxNesting || !r.header(1011) || !r.byte(TAG_FIELD) || !r.byte(1)) return 0;
  std::unique_ptr<DirNameEntry> e(r.null() ? nullptr : readNameEntryAt(r, depth + 1));
  if (!r.ok || !r.byte(TAG_FIELD) || !r.byte(2)) return 0;
  std::unique_ptr<Attributes> a(r.null() ? nullptr : readAttributesAt(r, depth + 1));
  if (!r.ok || !r.byte(TAG_FIELD) || !r.byte(3)) return 0;
  std::unique_ptr<Acl> c(r.null() ? nullptr : readAclAt(r));
  if (!r.ok || !r.byte(TAG_OBJECT_END)) return 0;
  *name = e.release();
  *attributes = a.release();
  *acl = c.release();
  return r.at;
}

}  // namespace wirefast
