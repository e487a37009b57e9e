// The readers of MessageBase: items, fields, objects, containers, opaque
// objects and skipping. Everything is decoded in place from the chunk chain;
// a length read from the data is trusted only after the bytes it announces
// are known to be there.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "foundation/log.h"
#include "model/any.h"
#include "wire/byte_order.h"
#include "wire/fast_decode.h"
#include "wire/model_xlators.h"
#include "wire/message_base.h"

namespace {

// Keeps a chunk (and so every chunk after it) alive across a read that may
// move the read location past it.
class ChunkPin {
 public:
  explicit ChunkPin(MessageChunk* c) : c_(c) {
    if (c_ != nullptr) ++c_->refs;
  }
  ~ChunkPin() {
    if (c_ != nullptr) --c_->refs;
  }
  ChunkPin(const ChunkPin&) = delete;
  ChunkPin& operator=(const ChunkPin&) = delete;

 private:
  MessageChunk* c_;
};

void logTooDeep() { log(0, "Error: objects nested deeper than %d levels in message", MessageBase::kMaxNesting); }

}  // namespace

int MessageBase::switchToRead() {
  mode_ = MSG_MODE_READ;
  if (error_ != 0) return -1;
  unsigned char header[9];
  if (!take(&readLoc_, header, sizeof header)) return fail(MSG_ERR_INCOMPLETE);
  if (type_ == -1) type_ = static_cast<int>(wire::get32(header + 5));
  releaseConsumed();
  return 0;
}

// ---- single items at a location; these return a code, callers set it ----

int MessageBase::expectTag(_BufferLocation* loc, int want) {
  int tag;
  if (readTag(loc, &tag) != 0) return MSG_ERR_EOF;
  if (tag != want) {
    unreadTag(loc, tag);
    return MSG_ERR_BAD_TYPE;
  }
  return 0;
}

int MessageBase::readU32(_BufferLocation* loc, uint32_t* out) {
  unsigned char b[4];
  if (!take(loc, b, 4)) return MSG_ERR_INCOMPLETE;
  *out = wire::get32(b);
  return 0;
}

int MessageBase::readFixed(_BufferLocation* loc, int tag, void* out, size_t n) {
  int rc = expectTag(loc, tag);
  if (rc != 0) return rc;
  return take(loc, out, n) ? 0 : MSG_ERR_INCOMPLETE;
}

int MessageBase::readStringAt(_BufferLocation* loc, char*& out) {
  int tag;
  if (readTag(loc, &tag) != 0) return MSG_ERR_EOF;
  if (tag == TAG_NULL_STRING) {
    out = nullptr;
    return 0;
  }
  if (tag != TAG_STRING) {
    unreadTag(loc, tag);
    return MSG_ERR_BAD_TYPE;
  }
  uint32_t len;
  if (readU32(loc, &len) != 0 || bytesAvailable(*loc) < len) return MSG_ERR_INCOMPLETE;
  auto* s = static_cast<char*>(std::malloc(size_t{len} + 1));
  if (s == nullptr) return MSG_ERR_INCOMPLETE;
  if (!take(loc, s, len)) {
    std::free(s);
    return MSG_ERR_INCOMPLETE;
  }
  s[len] = '\0';
  out = s;
  return 0;
}

int MessageBase::readStringArrayAt(_BufferLocation* loc, char**& out) {
  int tag;
  if (readTag(loc, &tag) != 0) return MSG_ERR_EOF;
  if (tag == TAG_NULL_STRING) {
    out = nullptr;
    return 0;
  }
  if (tag != TAG_STRING_ARRAY) {
    unreadTag(loc, tag);
    return MSG_ERR_BAD_TYPE;
  }
  uint32_t count;
  // Every string takes at least its 4-byte length: a count the data cannot
  // hold is refused before anything is allocated for it.
  if (readU32(loc, &count) != 0 || bytesAvailable(*loc) / 4 < count) return MSG_ERR_INCOMPLETE;
  auto** list = static_cast<char**>(std::calloc(size_t{count} + 1, sizeof(char*)));
  if (list == nullptr) return MSG_ERR_INCOMPLETE;
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t len;
    char* s = nullptr;
    if (readU32(loc, &len) != 0 || bytesAvailable(*loc) < len ||
        (s = static_cast<char*>(std::malloc(size_t{len} + 1))) == nullptr || !take(loc, s, len)) {
      std::free(s);
      freeStringArray(list);
      return MSG_ERR_INCOMPLETE;
    }
    s[len] = '\0';
    list[i] = s;
  }
  out = list;
  return 0;
}

int MessageBase::readBytesAt(_BufferLocation* loc, size_t& n, char*& out) {
  int tag;
  if (readTag(loc, &tag) != 0) return MSG_ERR_EOF;
  if (tag == TAG_NULL_STRING) {
    n = 0;
    out = nullptr;
    return 0;
  }
  if (tag != TAG_BYTES) {
    unreadTag(loc, tag);
    return MSG_ERR_BAD_TYPE;
  }
  uint32_t len;
  if (readU32(loc, &len) != 0 || bytesAvailable(*loc) < len) return MSG_ERR_INCOMPLETE;
  auto* b = static_cast<char*>(std::malloc(len ? len : 1));
  if (b == nullptr) return MSG_ERR_INCOMPLETE;
  if (!take(loc, b, len)) {
    std::free(b);
    return MSG_ERR_INCOMPLETE;
  }
  n = len;
  out = b;
  return 0;
}

// ---- item readers at the current location ----

int MessageBase::readCmd(int& out) {
  if (error_ != 0) return -1;
  unsigned char b[4];
  int rc = readFixed(getLocation(), TAG_CMD, b, 4);
  if (rc != 0) return fail(rc);
  out = static_cast<int>(wire::get32(b));
  return 0;
}

int MessageBase::readInt32(int& out) {
  if (error_ != 0) return -1;
  unsigned char b[4];
  int rc = readFixed(getLocation(), TAG_INT32, b, 4);
  if (rc != 0) return fail(rc);
  out = static_cast<int>(wire::get32(b));
  return 0;
}

int MessageBase::readInt64(long long& out) {
  if (error_ != 0) return -1;
  unsigned char b[8];
  int rc = readFixed(getLocation(), TAG_INT64, b, 8);
  if (rc != 0) return fail(rc);
  out = static_cast<long long>(wire::get64(b));
  return 0;
}

int MessageBase::readFloat(float& out) {
  if (error_ != 0) return -1;
  unsigned char b[4];
  int rc = readFixed(getLocation(), TAG_FLOAT, b, 4);
  if (rc != 0) return fail(rc);
  out = wire::bitsFloat(wire::get32(b));
  return 0;
}

int MessageBase::readDouble(double& out) {
  if (error_ != 0) return -1;
  unsigned char b[8];
  int rc = readFixed(getLocation(), TAG_DOUBLE, b, 8);
  if (rc != 0) return fail(rc);
  out = wire::bitsDouble(wire::get64(b));
  return 0;
}

int MessageBase::readBool(bool& out) {
  if (error_ != 0) return -1;
  unsigned char b;
  int rc = readFixed(getLocation(), TAG_BOOL, &b, 1);
  if (rc != 0) return fail(rc);
  out = b != 0;
  return 0;
}

int MessageBase::readString(char*& out) {
  if (error_ != 0) return -1;
  int rc = readStringAt(getLocation(), out);
  return rc != 0 ? fail(rc) : 0;
}

int MessageBase::readStringArray(char**& out) {
  if (error_ != 0) return -1;
  int rc = readStringArrayAt(getLocation(), out);
  return rc != 0 ? fail(rc) : 0;
}

int MessageBase::readBytes(size_t& n, char*& out) {
  if (error_ != 0) return -1;
  int rc = readBytesAt(getLocation(), n, out);
  return rc != 0 ? fail(rc) : 0;
}

// ---- field readers ----

int MessageBase::readBoolField(int field, bool& out) {
  if (error_ != 0) return -1;
  FieldRef f;
  int rc = openField(field, 0, &f);
  unsigned char b = 0;
  if (rc == 0) rc = readFixed(&f.loc, TAG_BOOL, &b, 1);
  if (rc != 0) return fail(rc);
  closeField(f);
  out = b != 0;
  return 0;
}

int MessageBase::readInt32Field(int field, int& out) {
  if (error_ != 0) return -1;
  FieldRef f;
  int rc = openField(field, 0, &f);
  if (rc != 0) return fail(rc);
  int tag;
  if (readTag(&f.loc, &tag) != 0) return fail(MSG_ERR_EOF);
  unsigned char b[8];
  if (tag == TAG_INT32) {
    if (!take(&f.loc, b, 4)) return fail(MSG_ERR_INCOMPLETE);
    out = static_cast<int>(wire::get32(b));
  } else if (tag == TAG_INT64) {
    if (!take(&f.loc, b, 8)) return fail(MSG_ERR_INCOMPLETE);
    out = static_cast<int>(static_cast<uint32_t>(wire::get64(b)));
  } else {
    return fail(MSG_ERR_BAD_TYPE);
  }
  closeField(f);
  return 0;
}

int MessageBase::readInt64Field(int field, long long& out) {
  if (error_ != 0) return -1;
  FieldRef f;
  int rc = openField(field, 0, &f);
  if (rc != 0) return fail(rc);
  int tag;
  if (readTag(&f.loc, &tag) != 0) return fail(MSG_ERR_EOF);
  unsigned char b[8];
  if (tag == TAG_INT64) {
    if (!take(&f.loc, b, 8)) return fail(MSG_ERR_INCOMPLETE);
    out = static_cast<long long>(wire::get64(b));
  } else if (tag == TAG_INT32) {
    if (!take(&f.loc, b, 4)) return fail(MSG_ERR_INCOMPLETE);
    out = static_cast<int32_t>(wire::get32(b));
  } else {
    return fail(MSG_ERR_BAD_TYPE);
  }
  closeField(f);
  return 0;
}

int MessageBase::readFloatField(int field, float& out) {
  if (error_ != 0) return -1;
  FieldRef f;
  int rc = openField(field, 0, &f);
  unsigned char b[4];
  if (rc == 0) rc = readFixed(&f.loc, TAG_FLOAT, b, 4);
  if (rc != 0) return fail(rc);
  closeField(f);
  out = wire::bitsFloat(wire::get32(b));
  return 0;
}

int MessageBase::readDoubleField(int field, double& out) {
  if (error_ != 0) return -1;
  FieldRef f;
  int rc = openField(field, 0, &f);
  unsigned char b[8];
  if (rc == 0) rc = readFixed(&f.loc, TAG_DOUBLE, b, 8);
  if (rc != 0) return fail(rc);
  closeField(f);
  out = wire::bitsDouble(wire::get64(b));
  return 0;
}

int MessageBase::readStringField(int field, char*& out) {
  if (error_ != 0) return -1;
  FieldRef f;
  int rc = openField(field, 0, &f);
  if (rc == 0) rc = readStringAt(&f.loc, out);
  if (rc != 0) return fail(rc);
  closeField(f);
  return 0;
}

int MessageBase::readStringArrayField(int field, char**& out) {
  if (error_ != 0) return -1;
  FieldRef f;
  int rc = openField(field, 0, &f);
  if (rc == 0) rc = readStringArrayAt(&f.loc, out);
  if (rc != 0) return fail(rc);
  closeField(f);
  return 0;
}

int MessageBase::readBytesField(int field, size_t& n, char*& out) {
  if (error_ != 0) return -1;
  FieldRef f;
  int rc = openField(field, 0, &f);
  if (rc == 0) rc = readBytesAt(&f.loc, n, out);
  if (rc != 0) return fail(rc);
  closeField(f);
  return 0;
}

// ---- single structural items ----

int MessageBase::openContainerItem(int type) {
  int id;
  int rc = indexObjectForRead(getLocation(), &id);
  if (rc == MSG_ERR_NULL_OBJECT) return 1;
  if (rc != 0) return -1;
  if (id != type) {
    setError(MSG_ERR_BAD_TYPE);
    (void)freeIndexObject();
    return -1;
  }
  return 0;
}

int MessageBase::readTaggedId(_BufferLocation* location, int tag, int* id) {
  if (error_ != 0) return -1;
  int rc = expectTag(location, tag);
  uint32_t value = 0;
  if (rc == 0) rc = readU32(location, &value);
  if (rc != 0) return fail(rc);
  *id = static_cast<int>(value);
  return 0;
}

int MessageBase::readEndTag(_BufferLocation* location, int tag) {
  if (error_ != 0) return -1;
  int rc = expectTag(location, tag);
  return rc != 0 ? fail(rc) : 0;
}

int MessageBase::readContainerHeader(_BufferLocation* location, int* type) {
  return readTaggedId(location, TAG_CONTAINER, type);
}

int MessageBase::readContainerTrailer(_BufferLocation* location) { return readEndTag(location, TAG_CONTAINER_END); }

int MessageBase::readObjectHeader(_BufferLocation* location, int* type) {
  return readTaggedId(location, TAG_OBJECT, type);
}

int MessageBase::readObjectTrailer(_BufferLocation* location) { return readEndTag(location, TAG_OBJECT_END); }

int MessageBase::readFieldHeader(_BufferLocation* location, int* field) {
  if (error_ != 0) return -1;
  int rc = expectTag(location, TAG_FIELD);
  unsigned char b = 0;
  if (rc == 0 && !take(location, &b, 1)) rc = MSG_ERR_MISSING_FIELD_CODE;
  if (rc != 0) return fail(rc);
  *field = b;
  return 0;
}

bool MessageBase::hasNext() {
  if (error_ != 0) return false;
  int tag = peekTag(*getLocation());
  return tag >= 0 && tag != TAG_CONTAINER_END;
}

// ---- skipping ----

// Skips one value at *loc without recursion: objects and containers nested
// in it are tracked on a small explicit stack, bounded by kMaxNesting.
// `endError` is the code for data that ends after the first tag (the first
// tag missing is MSG_ERR_EOF, or `endError` when that is MSG_ERR_MISSING_FIELD_CODE).
int MessageBase::skipValue(_BufferLocation* loc, int endError) {
  int fast = skipFast(loc);
  if (fast <= 0) return fast;
  const int firstEnd = endError == MSG_ERR_MISSING_FIELD_CODE ? endError : MSG_ERR_EOF;
  bool levels[kMaxNesting];  // true: inside an object, false: inside a container
  int top = 0;
  int tag;
  if (readTag(loc, &tag) != 0) return firstEnd;
  for (;;) {
    // `tag` starts a value.
    uint32_t n;
    switch (tag) {
      case TAG_BOOL:
        if (!skipBytes(loc, 1)) return endError;
        break;
      case TAG_INT32:
      case TAG_FLOAT:
        if (!skipBytes(loc, 4)) return endError;
        break;
      case TAG_INT64:
      case TAG_DOUBLE:
        if (!skipBytes(loc, 8)) return endError;
        break;
      case TAG_STRING:
      case TAG_BYTES:
        if (readU32(loc, &n) != 0 || !skipBytes(loc, n)) return endError;
        break;
      case TAG_NULL_STRING:
      case TAG_NULL_OBJECT:
        break;
      case TAG_OBJECT:
      case TAG_CONTAINER:
        if (depth_ + top >= kMaxNesting) {
          logTooDeep();
          return MSG_ERR_BAD_TYPE;
        }
        if (!skipBytes(loc, 4)) return endError;
        levels[top++] = tag == TAG_OBJECT;
        break;
      case TAG_STRING_ARRAY: {
        if (readU32(loc, &n) != 0) return endError;
        for (uint32_t i = 0; i < n; ++i) {
          uint32_t len;
          if (readU32(loc, &len) != 0 || !skipBytes(loc, len)) return endError;
        }
        break;
      }
      default:
        log(0, "Error: Missing type descriptor in message: %d", tag);
        return MSG_ERR_MISSING_TYPE;
    }
    // Close finished levels until a value is due or the outermost one ended.
    for (;;) {
      if (top == 0) return 0;
      if (readTag(loc, &tag) != 0) return endError;
      if (levels[top - 1]) {
        if (tag == TAG_OBJECT_END) {
          --top;
          continue;
        }
        if (tag != TAG_FIELD) return MSG_ERR_BAD_FIELD_CODE;
        if (!skipBytes(loc, 1) || readTag(loc, &tag) != 0) return endError;
        break;
      }
      if (tag == TAG_CONTAINER_END) {
        --top;
        continue;
      }
      break;  // an item of the container
    }
  }
}

// The common case of skipValue: the whole value lies in the current chunk.
// Walks the bytes directly; returns 0 (skipped), an error code found on the
// way, or 1 when the value runs past the chunk (nothing moved: the general
// path takes over and reports how the data ends).
int MessageBase::skipFast(_BufferLocation* loc) {
  MessageChunk* c = loc->chunk;
  if (c == nullptr || (hasReturned_ && loc == &readLoc_)) return 1;
  const auto* p = reinterpret_cast<const unsigned char*>(c->data);
  const size_t end = c->used;
  size_t at = loc->offset;
  bool levels[kMaxNesting];
  int top = 0;
  if (at >= end) return 1;
  unsigned tag = p[at++];
  for (;;) {
    size_t need;
    switch (tag) {
      case TAG_BOOL: need = 1; break;
      case TAG_INT32:
      case TAG_FLOAT: need = 4; break;
      case TAG_INT64:
      case TAG_DOUBLE: need = 8; break;
      case TAG_STRING:
      case TAG_BYTES:
        if (end - at < 4) return 1;
        need = 4 + size_t{wire::get32(p + at)};
        break;
      case TAG_NULL_STRING:
      case TAG_NULL_OBJECT: need = 0; break;
      case TAG_OBJECT:
      case TAG_CONTAINER:
        if (depth_ + top >= kMaxNesting) {
          logTooDeep();
          return MSG_ERR_BAD_TYPE;
        }
        levels[top++] = tag == TAG_OBJECT;
        need = 4;
        break;
      case TAG_STRING_ARRAY: {
        if (end - at < 4) return 1;
        uint32_t count = wire::get32(p + at);
        at += 4;
        for (uint32_t i = 0; i < count; ++i) {
          if (end - at < 4) return 1;
          size_t len = wire::get32(p + at);
          if (end - at - 4 < len) return 1;
          at += 4 + len;
        }
        need = 0;
        break;
      }
      default:
        log(0, "Error: Missing type descriptor in message: %d", static_cast<int>(tag));
        return MSG_ERR_MISSING_TYPE;
    }
    if (end - at < need) return 1;
    at += need;
    for (;;) {
      if (top == 0) {
        loc->offset = at;
        return 0;
      }
      if (at >= end) return 1;
      tag = p[at++];
      if (levels[top - 1]) {
        if (tag == TAG_OBJECT_END) {
          --top;
          continue;
        }
        if (tag != TAG_FIELD) return MSG_ERR_BAD_FIELD_CODE;
        if (end - at < 2) return 1;
        ++at;
        tag = p[at++];
        break;
      }
      if (tag == TAG_CONTAINER_END) {
        --top;
        continue;
      }
      break;
    }
  }
}

int MessageBase::skipObject() {
  if (error_ != 0) return -1;
  int rc = skipValue(getLocation(), MSG_ERR_INCOMPLETE);
  return rc != 0 ? fail(rc) : 0;
}

int MessageBase::skipToCmd() {
  if (error_ != 0) return -1;
  _BufferLocation* loc = getLocation();
  for (;;) {
    int tag = peekTag(*loc);
    if (tag < 0) return fail(MSG_ERR_EOF);
    if (tag == TAG_CMD) return 0;
    int rc = skipValue(loc, MSG_ERR_INCOMPLETE);
    if (rc != 0) return fail(rc);
  }
}

// ---- objects ----

// Reads the header of the object at *loc and opens its frame, which scans
// the fields as they are asked for and moves *loc past the trailer when it is
// finished. Returns a code (the caller sets it); MSG_ERR_NULL_OBJECT for a
// null object.
int MessageBase::indexAt(_BufferLocation* loc, int expectType, int* type) {
  if (!normalize(loc)) return MSG_ERR_EOF;
  const _BufferLocation start = *loc;
  ChunkPin keep(start.chunk);
  int tag;
  if (readTag(loc, &tag) != 0) return MSG_ERR_EOF;
  if (tag == TAG_NULL_OBJECT) return MSG_ERR_NULL_OBJECT;
  if (tag != TAG_OBJECT) {
    unreadTag(loc, tag);
    return MSG_ERR_BAD_TYPE;
  }
  uint32_t id;
  _BufferLocation body = *loc;
  if (readU32(&body, &id) != 0) return MSG_ERR_INCOMPLETE;
  if (expectType != 0 && static_cast<int>(id) != expectType) return MSG_ERR_BAD_TYPE;
  if (depth_ >= kMaxNesting) {
    logTooDeep();
    return MSG_ERR_BAD_TYPE;
  }
  Frame& f = pushFrame(false, static_cast<int>(id), start);
  f.cursor = body;
  f.origin = loc;
  *type = static_cast<int>(id);
  return 0;
}

int MessageBase::indexObjectForRead(_BufferLocation* location, int* type) {
  if (error_ != 0) return -1;
  int id;
  int rc = indexAt(location, 0, &id);
  if (rc == MSG_ERR_NULL_OBJECT) return rc;
  if (rc != 0) return fail(rc);
  *type = id;
  return 0;
}

int MessageBase::readObjectAt(_BufferLocation* loc, int type, Translatable** out, bool warn) {
  if (error_ != 0) return -1;
  Xlator fn = findXlatorFn(type);
  if (fn == nullptr) return fail(MSG_ERR_NO_XLATOR);
  // Values, the bulk of every record, in the layout our encoder writes.
  if (fn == &AnyXlator) {
    size_t n;
    const unsigned char* p = peekContiguous(loc, &n);
    Any* any = nullptr;
    size_t used = p != nullptr && p[0] == TAG_OBJECT ? wirefast::readAny(p, n, depth_, &any) : 0;
    if (used != 0) {
      skipContiguous(loc, used);
      *out = any;
      return 0;
    }
  }
  int id;
  int rc = indexAt(loc, type, &id);
  if (rc == MSG_ERR_NULL_OBJECT) {
    *out = nullptr;
    return 0;
  }
  if (rc != 0) return fail(rc);
  const int depth = depth_;
  Translatable* object = nullptr;
  rc = fn(this, &object, XLATE_DECODE);
  // A translator that left frames open must not leave them to its caller.
  while (depth_ > depth) popFrame();
  // Fields the translator did not read are passed now: a malformed object
  // fails as a whole.
  if (rc == 0 && error_ == 0) {
    int end = finishFrame(frames_[depth - 1]);
    if (end != 0) fail(end);
  }
  popFrame();
  if (rc != 0 || error_ != 0) {
    // A translator that ignored a failed read has not decoded its object.
    if (rc == 0) discardObject(object);
    if (warn) log(0, "Warning: object translator failed for ObjectId: %d", id);
    return fail(MSG_ERR_BAD_TYPE);
  }
  *out = object;
  return 0;
}

int MessageBase::readObject(int type, Translatable** out) { return readObjectAt(getLocation(), type, out, true); }

int MessageBase::readObjectField(int field, int type, Translatable** out) {
  return readObjectFieldOccurrence(field, 0, type, out);
}

int MessageBase::readObjectFieldOccurrence(int field, int occurrence, int type, Translatable** out) {
  if (error_ != 0) return -1;
  FieldRef f;
  int rc = openField(field, occurrence, &f);
  if (rc != 0) return fail(rc);
  if (readObjectAt(&f.loc, type, out, false) != 0) return -1;
  closeField(f);
  return 0;
}

// ---- containers ----

int MessageBase::readContainerAt(_BufferLocation* loc, int type, Translatable** out, Translatable* into) {
  if (error_ != 0) return -1;
  Xlator fn = findXlatorFn(type);
  if (fn == nullptr) return fail(MSG_ERR_NO_XLATOR);
  if (!normalize(loc)) return fail(MSG_ERR_EOF);
  ChunkPin keep(loc->chunk);
  int tag;
  if (readTag(loc, &tag) != 0) return fail(MSG_ERR_EOF);
  if (tag != TAG_CONTAINER) {
    unreadTag(loc, tag);
    return fail(MSG_ERR_BAD_TYPE);
  }
  uint32_t id;
  if (readU32(loc, &id) != 0) return fail(MSG_ERR_INCOMPLETE);
  if (static_cast<int>(id) != type) return fail(MSG_ERR_BAD_TYPE);
  if (depth_ >= kMaxNesting) {
    logTooDeep();
    return fail(MSG_ERR_BAD_TYPE);
  }
  const int index = depth_;
  pushFrame(true, type, *loc);
  Translatable* object = into;
  int rc = fn(this, &object, XLATE_DECODE);
  while (depth_ > index + 1) popFrame();
  _BufferLocation cursor = frames_[index].cursor;
  if (rc == 0 && error_ == 0) {
    rc = expectTag(&cursor, TAG_CONTAINER_END);
    if (rc != 0) {
      popFrame();
      if (object != into) discardObject(object);
      return fail(rc);
    }
  }
  popFrame();
  if (rc != 0 || error_ != 0) {
    if (rc == 0 && object != into) discardObject(object);
    return fail(MSG_ERR_BAD_TYPE);
  }
  assignLocation(loc, cursor);
  *out = object;
  return 0;
}

int MessageBase::readContainer(int type, Translatable** out) {
  return readContainerAt(getLocation(), type, out, nullptr);
}

int MessageBase::readContainerField(int field, int type, Translatable** out) {
  if (error_ != 0) return -1;
  FieldRef f;
  int rc = openField(field, 0, &f);
  if (rc != 0) return fail(rc);
  if (readContainerAt(&f.loc, type, out, nullptr) != 0) return -1;
  closeField(f);
  return 0;
}

int MessageBase::readContainerFieldInto(int field, int type, Translatable* into) {
  if (error_ != 0) return -1;
  FieldRef f;
  int rc = openField(field, 0, &f);
  if (rc != 0) return fail(rc);
  Translatable* out = nullptr;
  if (readContainerAt(&f.loc, type, &out, into) != 0) return -1;
  if (out != into) {
    // A translator that does not fill objects made a new one.
    discardObject(out);
    return fail(MSG_ERR_BAD_TYPE);
  }
  closeField(f);
  return 0;
}

// ---- opaque objects ----

int MessageBase::readOpaqueObjectField(int field, int* type, char** bytes, size_t* n) {
  if (error_ != 0) return -1;
  FieldRef ref{};
  _BufferLocation* loc = &ref.loc;
  if (field == -1) {
    loc = getLocation();
  } else if (int rc = openField(field, 0, &ref); rc != 0) {
    return fail(rc);
  }
  if (!normalize(loc)) return fail(MSG_ERR_EOF);
  const _BufferLocation start = *loc;
  ChunkPin keep(start.chunk);
  int tag;
  if (readTag(loc, &tag) != 0) return fail(MSG_ERR_EOF);
  if (tag == TAG_NULL_OBJECT) return MSG_ERR_NULL_OBJECT;
  if (tag != TAG_OBJECT) {
    unreadTag(loc, tag);
    return fail(MSG_ERR_BAD_TYPE);
  }
  uint32_t id;
  if (readU32(loc, &id) != 0) return fail(MSG_ERR_INCOMPLETE);
  // Find the end of the object from its start, then copy it whole.
  _BufferLocation end = start;
  int rc = skipValue(&end, MSG_ERR_INCOMPLETE);
  if (rc != 0) return fail(rc);
  const uint64_t length = offsetOf(end) - offsetOf(start);
  auto* copy = static_cast<char*>(std::malloc(length));
  if (copy == nullptr) return fail(MSG_ERR_INCOMPLETE);
  _BufferLocation from = start;
  if (!take(&from, copy, length)) {
    std::free(copy);
    return fail(MSG_ERR_INCOMPLETE);
  }
  if (field == -1) {
    assignLocation(loc, end);
  } else {
    ref.loc = end;
    closeField(ref);
  }
  *type = static_cast<int>(id);
  *bytes = copy;
  *n = length;
  return 0;
}
