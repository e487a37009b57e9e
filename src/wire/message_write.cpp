// The item writers of MessageBase. Each item (with its field prefix) goes to
// the store in one appendBytes call where it is small, so that a message of
// small items is a run of memcpy's into the last chunk.
#include <cstdint>
#include <cstring>

#include "foundation/diagnostics.h"
#include "foundation/log.h"
#include "wire/byte_order.h"
#include "wire/message_base.h"

namespace {

// A small item being assembled before it is appended.
struct ItemBuf {
  unsigned char b[32];
  size_t n = 0;
  void byte(unsigned v) { b[n++] = static_cast<unsigned char>(v); }
  void u32(uint32_t v) {
    wire::put32(b + n, v);
    n += 4;
  }
  void u64(uint64_t v) {
    wire::put64(b + n, v);
    n += 8;
  }
  // Field prefix for field >= 0; the low eight bits are the field number.
  void field(int f) {
    if (f >= 0) {
      byte(TAG_FIELD);
      byte(static_cast<unsigned>(f) & 0xFF);
    }
  }
};

constexpr uint64_t kMaxLength = 0xFFFFFFFFu;

}  // namespace

int MessageBase::writeItem(const unsigned char* bytes, size_t n) {
  if (error_ != 0) return -1;
  appendBytes(bytes, n);
  return 0;
}

#define ORV_SCALAR_WRITERS(Name, Type, TAG, PUT)         \
  int MessageBase::write##Name(Type value) {             \
    ItemBuf it;                                          \
    it.byte(TAG);                                        \
    PUT;                                                 \
    return writeItem(it.b, it.n);                        \
  }                                                      \
  int MessageBase::write##Name##Field(int field, Type value) { \
    ItemBuf it;                                          \
    it.field(field & 0xFF);                              \
    it.byte(TAG);                                        \
    PUT;                                                 \
    return writeItem(it.b, it.n);                        \
  }

ORV_SCALAR_WRITERS(Bool, bool, TAG_BOOL, it.byte(value ? 1 : 0))
ORV_SCALAR_WRITERS(Int32, int, TAG_INT32, it.u32(static_cast<uint32_t>(value)))
ORV_SCALAR_WRITERS(Int64, long long, TAG_INT64, it.u64(static_cast<uint64_t>(value)))
ORV_SCALAR_WRITERS(Float, float, TAG_FLOAT, it.u32(wire::floatBits(value)))
ORV_SCALAR_WRITERS(Double, double, TAG_DOUBLE, it.u64(wire::doubleBits(value)))
#undef ORV_SCALAR_WRITERS

int MessageBase::writeCmd(int command) {
  ItemBuf it;
  it.byte(TAG_CMD);
  it.u32(static_cast<uint32_t>(command));
  return writeItem(it.b, it.n);
}

// A length-prefixed block (string or bytes), optionally as a field value.
int MessageBase::writeBlock(int field, unsigned char tag, const char* data, size_t len) {
  if (error_ != 0) return -1;
  if (len > kMaxLength) {
    log(0, "Error: item of %zu bytes is too large for a message", len);
    return fail(MSG_ERR_INCOMPLETE);
  }
  unsigned char small[256];
  ItemBuf it;
  it.field(field);
  it.byte(tag);
  it.u32(static_cast<uint32_t>(len));
  if (it.n + len <= sizeof small) {
    std::memcpy(small, it.b, it.n);
    if (len > 0) std::memcpy(small + it.n, data, len);
    appendBytes(small, it.n + len);
  } else {
    appendBytes(it.b, it.n);
    appendBytes(data, len);
  }
  return 0;
}

int MessageBase::writeString(const char* text) { return writeStringAt(-1, text); }
int MessageBase::writeStringField(int field, const char* text) { return writeStringAt(field & 0xFF, text); }

int MessageBase::writeStringAt(int field, const char* text) {
  if (text == nullptr) {
    ItemBuf it;
    it.field(field);
    it.byte(TAG_NULL_STRING);
    return writeItem(it.b, it.n);
  }
  return writeBlock(field, TAG_STRING, text, std::strlen(text));
}

int MessageBase::writeBytes(size_t n, const char* data) {
  return writeBlock(-1, TAG_BYTES, data, data != nullptr ? n : 0);
}

int MessageBase::writeBytesField(int field, size_t n, const char* data) {
  return writeBlock(field & 0xFF, TAG_BYTES, data, data != nullptr ? n : 0);
}

int MessageBase::writeStringArray(char** strings) { return writeStringArrayAt(-1, strings); }
int MessageBase::writeStringArrayField(int field, char** strings) {
  return writeStringArrayAt(field & 0xFF, strings);
}

int MessageBase::writeStringArrayAt(int field, char** strings) {
  if (error_ != 0) return -1;
  ItemBuf it;
  it.field(field);
  if (strings == nullptr) {
    it.byte(TAG_NULL_STRING);
    return writeItem(it.b, it.n);
  }
  uint64_t count = 0;
  for (char** p = strings; *p != nullptr; ++p) {
    if (std::strlen(*p) > kMaxLength) {
      log(0, "Error: item of %zu bytes is too large for a message", std::strlen(*p));
      return fail(MSG_ERR_INCOMPLETE);
    }
    ++count;
  }
  if (count > kMaxLength) return fail(MSG_ERR_INCOMPLETE);
  it.byte(TAG_STRING_ARRAY);
  it.u32(static_cast<uint32_t>(count));
  appendBytes(it.b, it.n);
  for (char** p = strings; *p != nullptr; ++p) {
    size_t len = std::strlen(*p);
    unsigned char l[4];
    wire::put32(l, static_cast<uint32_t>(len));
    appendBytes(l, 4);
    appendBytes(*p, len);
  }
  return 0;
}

// ---- objects and containers ----

int MessageBase::writeObject(int type, const Translatable* object) { return writeObjectAt(-1, type, object); }

int MessageBase::writeObjectField(int field, int type, const Translatable* object) {
  return writeObjectAt(field & 0xFF, type, object);
}

int MessageBase::writeObjectAt(int field, int type, const Translatable* object) {
  if (error_ != 0) return -1;
  ItemBuf it;
  it.field(field);
  if (object == nullptr) {
    it.byte(TAG_NULL_OBJECT);
    return writeItem(it.b, it.n);
  }
  Xlator fn = findXlatorFn(type);
  if (fn == nullptr) {
    log(0, "Fatal error: unable to find translator for object id: %d", type);
    orv_assert(fn != nullptr);
    // Going on (the assertion is not armed): keep the stream well formed and
    // the message marked broken.
    it.byte(TAG_NULL_OBJECT);
    writeItem(it.b, it.n);
    return fail(MSG_ERR_NO_XLATOR);
  }
  // Deeper than a reader would follow: the peer could not decode it, so
  // refuse it here rather than send something that cannot be read back.
  if (writeDepth_ >= kMaxNesting) {
    log(0, "Error: objects nested deeper than %d levels cannot be encoded (object id: %d)", kMaxNesting,
        type);
    return fail(MSG_ERR_BAD_TYPE);
  }
  it.byte(TAG_OBJECT);
  it.u32(static_cast<uint32_t>(type));
  appendBytes(it.b, it.n);
  auto* p = const_cast<Translatable*>(object);
  ++writeDepth_;
  int rc = fn(this, &p, XLATE_ENCODE);
  --writeDepth_;
  unsigned char end = TAG_OBJECT_END;
  writeItem(&end, 1);
  if (rc != 0) return fail(MSG_ERR_BAD_TYPE);
  return error_ != 0 ? -1 : 0;
}

int MessageBase::writeContainer(int type, const Translatable* object) {
  return writeContainerAt(-1, type, object);
}

int MessageBase::writeContainerField(int field, int type, const Translatable* object) {
  return writeContainerAt(field & 0xFF, type, object);
}

int MessageBase::writeContainerAt(int field, int type, const Translatable* object) {
  if (error_ != 0) return -1;
  Xlator fn = findXlatorFn(type);
  if (fn == nullptr) {
    log(0, "Fatal error encoding object of type: %d", type);
    return fail(MSG_ERR_NO_XLATOR);
  }
  if (writeDepth_ >= kMaxNesting) {
    log(0, "Error: objects nested deeper than %d levels cannot be encoded (object id: %d)", kMaxNesting,
        type);
    return fail(MSG_ERR_BAD_TYPE);
  }
  ItemBuf it;
  it.field(field);
  it.byte(TAG_CONTAINER);
  it.u32(static_cast<uint32_t>(type));
  appendBytes(it.b, it.n);
  int rc = 0;
  if (object != nullptr) {
    auto* p = const_cast<Translatable*>(object);
    ++writeDepth_;
    rc = fn(this, &p, XLATE_ENCODE);
    --writeDepth_;
  }
  unsigned char end = TAG_CONTAINER_END;
  writeItem(&end, 1);
  if (rc != 0) return fail(MSG_ERR_BAD_TYPE);
  return error_ != 0 ? -1 : 0;
}

int MessageBase::writeObjectHeader(int type) {
  ItemBuf it;
  it.byte(TAG_OBJECT);
  it.u32(static_cast<uint32_t>(type));
  return writeItem(it.b, it.n);
}

int MessageBase::writeObjectTrailer() {
  unsigned char b = TAG_OBJECT_END;
  return writeItem(&b, 1);
}

int MessageBase::writeContainerHeader(int type) {
  ItemBuf it;
  it.byte(TAG_CONTAINER);
  it.u32(static_cast<uint32_t>(type));
  return writeItem(it.b, it.n);
}

int MessageBase::writeContainerTrailer() {
  unsigned char b = TAG_CONTAINER_END;
  return writeItem(&b, 1);
}

int MessageBase::writeOpaqueObject(int type, const char* bytes, size_t n) {
  return writeOpaqueObjectAt(-1, type, bytes, n);
}

int MessageBase::writeOpaqueObjectField(int field, int type, const char* bytes, size_t n) {
  return writeOpaqueObjectAt(field & 0xFF, type, bytes, n);
}

int MessageBase::writeOpaqueObjectAt(int field, int type, const char* bytes, size_t n) {
  if (error_ != 0) return -1;
  ItemBuf it;
  it.field(field);
  if (bytes == nullptr) {
    it.byte(TAG_NULL_OBJECT);
    return writeItem(it.b, it.n);
  }
  // The bytes are spliced in as they are: anything but a whole object would
  // make the rest of the message unreadable.
  if (n < 6 || static_cast<unsigned char>(bytes[0]) != TAG_OBJECT ||
      static_cast<unsigned char>(bytes[n - 1]) != TAG_OBJECT_END) {
    log(0, "Error: opaque object of type %d is not an encoded object", type);
    return fail(MSG_ERR_BAD_TYPE);
  }
  if (it.n > 0) appendBytes(it.b, it.n);
  appendBytes(bytes, n);
  return 0;
}
