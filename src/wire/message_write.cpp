// The item writers of MessageBase. A small item (with its field prefix) is
// written in place at the end of the last chunk when the store allows it, and
// otherwise goes to the store in one appendBytes call.
#include <cstdint>
#include <cstring>

#include "foundation/diagnostics.h"
#include "foundation/log.h"
#include "wire/byte_order.h"
#include "wire/message_base.h"

namespace {

// Field prefix bytes: tag and the low eight bits of the number.
inline unsigned char* prefix(unsigned char* p, int field) {
  p[0] = TAG_FIELD;
  p[1] = static_cast<unsigned char>(field & 0xFF);
  return p + 2;
}

constexpr uint64_t kMaxLength = 0xFFFFFFFFu;

}  // namespace

// Writes an item of N bytes, in place in the last chunk when it has room
// (the common case: no copy through a buffer, no call into the store), else
// through appendBytes.
template <size_t N, class Fill>
int MessageBase::put(Fill&& fill) {
  if (error_ != 0) return -1;
  MessageChunk* c = last_;
  if (directWrite_ && c != nullptr && c->capacity - c->used >= N) {
    fill(reinterpret_cast<unsigned char*>(c->data) + c->used);
    c->used += N;
    return 0;
  }
  unsigned char b[N];
  fill(b);
  appendBytes(b, N);
  return 0;
}

int MessageBase::writeItem(const unsigned char* bytes, size_t n) {
  if (error_ != 0) return -1;
  appendBytes(bytes, n);
  return 0;
}

unsigned char* MessageBase::encodeRoom(size_t n) {
  MessageChunk* c = last_;
  if (error_ != 0 || !directWrite_ || c == nullptr || c->capacity - c->used < n) return nullptr;
  return reinterpret_cast<unsigned char*>(c->data) + c->used;
}

void MessageBase::commitEncoded(size_t n) { last_->used += n; }

int MessageBase::writeEncoded(const void* bytes, size_t n) {
  if (error_ != 0) return -1;
  MessageChunk* c = last_;
  if (directWrite_ && c != nullptr && c->capacity - c->used >= n) {
    std::memcpy(c->data + c->used, bytes, n);
    c->used += n;
    return 0;
  }
  appendBytes(bytes, n);
  return 0;
}

int MessageBase::writeBool(bool value) {
  return put<2>([&](unsigned char* p) {
    p[0] = TAG_BOOL;
    p[1] = value ? 1 : 0;
  });
}

int MessageBase::writeBoolField(int field, bool value) {
  return put<4>([&](unsigned char* p) {
    p = prefix(p, field);
    p[0] = TAG_BOOL;
    p[1] = value ? 1 : 0;
  });
}

int MessageBase::writeInt32(int value) {
  return put<5>([&](unsigned char* p) {
    p[0] = TAG_INT32;
    wire::put32(p + 1, static_cast<uint32_t>(value));
  });
}

int MessageBase::writeInt32Field(int field, int value) {
  return put<7>([&](unsigned char* p) {
    p = prefix(p, field);
    p[0] = TAG_INT32;
    wire::put32(p + 1, static_cast<uint32_t>(value));
  });
}

int MessageBase::writeInt64(long long value) {
  return put<9>([&](unsigned char* p) {
    p[0] = TAG_INT64;
    wire::put64(p + 1, static_cast<uint64_t>(value));
  });
}

int MessageBase::writeInt64Field(int field, long long value) {
  return put<11>([&](unsigned char* p) {
    p = prefix(p, field);
    p[0] = TAG_INT64;
    wire::put64(p + 1, static_cast<uint64_t>(value));
  });
}

int MessageBase::writeFloat(float value) {
  return put<5>([&](unsigned char* p) {
    p[0] = TAG_FLOAT;
    wire::put32(p + 1, wire::floatBits(value));
  });
}

int MessageBase::writeFloatField(int field, float value) {
  return put<7>([&](unsigned char* p) {
    p = prefix(p, field);
    p[0] = TAG_FLOAT;
    wire::put32(p + 1, wire::floatBits(value));
  });
}

int MessageBase::writeDouble(double value) {
  return put<9>([&](unsigned char* p) {
    p[0] = TAG_DOUBLE;
    wire::put64(p + 1, wire::doubleBits(value));
  });
}

int MessageBase::writeDoubleField(int field, double value) {
  return put<11>([&](unsigned char* p) {
    p = prefix(p, field);
    p[0] = TAG_DOUBLE;
    wire::put64(p + 1, wire::doubleBits(value));
  });
}

int MessageBase::writeCmd(int command) {
  return put<5>([&](unsigned char* p) {
    p[0] = TAG_CMD;
    wire::put32(p + 1, static_cast<uint32_t>(command));
  });
}

// A length-prefixed block (string or bytes), optionally as a field value.
int MessageBase::writeBlock(int field, unsigned char tag, const char* data, size_t len) {
  if (error_ != 0) return -1;
  if (len > kMaxLength) {
    log(0, "Error: item of %zu bytes is too large for a message", len);
    return fail(MSG_ERR_INCOMPLETE);
  }
  const size_t h = field >= 0 ? 7 : 5;
  // The header is written where it goes: assembled in a buffer first and
  // copied, it would be read back before its bytes have settled.
  auto header = [&](unsigned char* p) {
    if (field >= 0) p = prefix(p, field);
    p[0] = tag;
    wire::put32(p + 1, static_cast<uint32_t>(len));
  };
  MessageChunk* c = last_;
  if (directWrite_ && c != nullptr && c->capacity - c->used >= h + len) {
    auto* d = reinterpret_cast<unsigned char*>(c->data) + c->used;
    header(d);
    if (len > 0) std::memcpy(d + h, data, len);
    c->used += h + len;
  } else if (h + len <= 256) {
    unsigned char small[256];
    header(small);
    if (len > 0) std::memcpy(small + h, data, len);
    appendBytes(small, h + len);
  } else {
    unsigned char head[7];
    header(head);
    appendBytes(head, h);
    appendBytes(data, len);
  }
  return 0;
}

int MessageBase::writeString(const char* text) { return writeStringAt(-1, text); }
int MessageBase::writeStringField(int field, const char* text) { return writeStringAt(field & 0xFF, text); }

int MessageBase::writeStringAt(int field, const char* text) {
  if (text == nullptr) {
    if (field < 0) return put<1>([](unsigned char* p) { p[0] = TAG_NULL_STRING; });
    return put<3>([&](unsigned char* p) { prefix(p, field)[0] = TAG_NULL_STRING; });
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
  unsigned char head[7];
  unsigned char* p = field >= 0 ? prefix(head, field) : head;
  if (strings == nullptr) {
    p[0] = TAG_NULL_STRING;
    return writeItem(head, static_cast<size_t>(p + 1 - head));
  }
  uint64_t count = 0;
  for (char** s = strings; *s != nullptr; ++s) {
    const size_t len = std::strlen(*s);
    if (len > kMaxLength) {
      log(0, "Error: item of %zu bytes is too large for a message", len);
      return fail(MSG_ERR_INCOMPLETE);
    }
    ++count;
  }
  if (count > kMaxLength) return fail(MSG_ERR_INCOMPLETE);
  p[0] = TAG_STRING_ARRAY;
  wire::put32(p + 1, static_cast<uint32_t>(count));
  appendBytes(head, static_cast<size_t>(p + 5 - head));
  for (char** s = strings; *s != nullptr; ++s) {
    const size_t len = std::strlen(*s);
    unsigned char l[4];
    wire::put32(l, static_cast<uint32_t>(len));
    appendBytes(l, 4);
    appendBytes(*s, len);
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
  if (object == nullptr) {
    if (field < 0) return put<1>([](unsigned char* p) { p[0] = TAG_NULL_OBJECT; });
    return put<3>([&](unsigned char* p) { prefix(p, field)[0] = TAG_NULL_OBJECT; });
  }
  Xlator fn = findXlatorFn(type);
  if (fn == nullptr) {
    log(0, "Fatal error: unable to find translator for object id: %d", type);
    orv_assert(fn != nullptr);
    // Going on (the assertion is not armed): keep the stream well formed and
    // the message marked broken.
    writeObjectAt(field, type, nullptr);
    return fail(MSG_ERR_NO_XLATOR);
  }
  // Deeper than a reader would follow: the peer could not decode it, so
  // refuse it here rather than send something that cannot be read back.
  if (writeDepth_ >= kMaxNesting) {
    log(0, "Error: objects nested deeper than %d levels cannot be encoded (object id: %d)", kMaxNesting,
        type);
    return fail(MSG_ERR_BAD_TYPE);
  }
  const auto id = static_cast<uint32_t>(type);
  if (field < 0) {
    put<5>([&](unsigned char* p) {
      p[0] = TAG_OBJECT;
      wire::put32(p + 1, id);
    });
  } else {
    put<7>([&](unsigned char* p) {
      p = prefix(p, field);
      p[0] = TAG_OBJECT;
      wire::put32(p + 1, id);
    });
  }
  auto* p = const_cast<Translatable*>(object);
  ++writeDepth_;
  int rc = fn(this, &p, XLATE_ENCODE);
  --writeDepth_;
  put<1>([](unsigned char* b) { b[0] = TAG_OBJECT_END; });
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
  unsigned char head[7];
  unsigned char* h = field >= 0 ? prefix(head, field) : head;
  h[0] = TAG_CONTAINER;
  wire::put32(h + 1, static_cast<uint32_t>(type));
  appendBytes(head, static_cast<size_t>(h + 5 - head));
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
  return put<5>([&](unsigned char* p) {
    p[0] = TAG_OBJECT;
    wire::put32(p + 1, static_cast<uint32_t>(type));
  });
}

int MessageBase::writeObjectTrailer() {
  unsigned char b = TAG_OBJECT_END;
  return writeItem(&b, 1);
}

int MessageBase::writeContainerHeader(int type) {
  return put<5>([&](unsigned char* p) {
    p[0] = TAG_CONTAINER;
    wire::put32(p + 1, static_cast<uint32_t>(type));
  });
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
  if (bytes == nullptr) return writeObjectAt(field, type, nullptr);
  // The bytes are spliced in as they are: anything but a whole object would
  // make the rest of the message unreadable.
  if (n < 6 || static_cast<unsigned char>(bytes[0]) != TAG_OBJECT ||
      static_cast<unsigned char>(bytes[n - 1]) != TAG_OBJECT_END) {
    log(0, "Error: opaque object of type %d is not an encoded object", type);
    return fail(MSG_ERR_BAD_TYPE);
  }
  if (field >= 0) {
    unsigned char head[2];
    prefix(head, field);
    appendBytes(head, 2);
  }
  appendBytes(bytes, n);
  return 0;
}
