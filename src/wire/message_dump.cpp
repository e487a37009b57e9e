#include "wire/message_dump.h"

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "wire/byte_order.h"
#include "wire/message.h"
#include "wire/message_base.h"

namespace {

constexpr size_t kTextShown = 256;
constexpr size_t kBytesShown = 32;

class Dumper {
 public:
  Dumper(MessageBase& m, std::string& out, uint64_t base) : m_(m), out_(out), base_(base) {}

  int run(MessageDump::Error* error) {
    _BufferLocation* loc = m_.getLocation();
    while (m_.peekTag(*loc) >= 0) {
      if (value(0, "") != 0) break;
    }
    if (code_ == 0) return 0;
    if (error != nullptr) {
      error->code = code_;
      error->offset = base_ + at_;
      error->text = MessageBase::errorText(code_);
    }
    return code_;
  }

 private:
  void line(uint64_t offset, int depth, std::string_view prefix, std::string_view text) {
    char head[32];
    std::snprintf(head, sizeof head, "%8" PRIu64 "  ", base_ + offset);
    out_ += head;
    out_.append(static_cast<size_t>(depth) * 2, ' ');
    out_ += prefix;
    out_ += text;
    out_ += '\n';
  }

  uint64_t here() { return MessageBase::offsetOf(*m_.getLocation()); }

  // Records the decoder's failure for the item that starts at `offset`.
  int failed(uint64_t offset, int code = 0) {
    if (code != 0 && m_.getError() == 0) m_.setError(code);
    code_ = m_.getError() != 0 ? m_.getError() : MSG_ERR_INCOMPLETE;
    at_ = offset;
    return -1;
  }

  static std::string quoted(const char* s) {
    std::string r = "\"";
    size_t n = 0;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(s); *p != 0; ++p, ++n) {
      if (n == kTextShown) {
        size_t rest = 0;
        while (p[rest] != 0) ++rest;
        return r + "\"... (" + std::to_string(rest) + " more bytes)";
      }
      unsigned c = *p;
      if (c == '"' || c == '\\') {
        r += '\\';
        r += static_cast<char>(c);
      } else if (c < 0x20 || c == 0x7F) {
        char b[8];
        std::snprintf(b, sizeof b, "\\x%02X", c);
        r += b;
      } else {
        r += static_cast<char>(c);
      }
    }
    return r + "\"";
  }

  static std::string hex(const char* data, size_t n) {
    std::string r;
    char b[8];
    for (size_t i = 0; i < n && i < kBytesShown; ++i) {
      std::snprintf(b, sizeof b, "%s%02X", i ? " " : "", static_cast<unsigned char>(data[i]));
      r += b;
    }
    if (n > kBytesShown) r += " ... (" + std::to_string(n - kBytesShown) + " more)";
    return r;
  }

  static std::string typeName(const char* what, int type) {
    std::string r = std::string(what) + " " + std::to_string(type);
    const char* name = MessageBase::findXlatorName(type);
    r += name != nullptr ? std::string(" (") + name + ")" : " (no translator)";
    return r;
  }

  // One value at the read location; `prefix` is "field N: " for field values.
  // `shownAt` is the offset printed on the line: a field's line starts at its
  // field tag, not at its value.
  int value(int depth, const std::string& prefix, int64_t shownAt = -1) {
    if (depth >= MessageBase::kMaxNesting) {
      return failed(here(), MSG_ERR_BAD_TYPE);
    }
    _BufferLocation* loc = m_.getLocation();
    const uint64_t at = shownAt >= 0 ? static_cast<uint64_t>(shownAt) : here();
    int tag = m_.peekTag(*loc);
    char num[64];
    switch (tag) {
      case -1:
        return failed(at, MSG_ERR_EOF);
      case TAG_BOOL: {
        bool v;
        if (m_.readBool(v) != 0) return failed(at);
        line(at, depth, prefix, v ? "bool true" : "bool false");
        return 0;
      }
      case TAG_INT32: {
        int v;
        if (m_.readInt32(v) != 0) return failed(at);
        line(at, depth, prefix, "int32 " + std::to_string(v));
        return 0;
      }
      case TAG_INT64: {
        long long v;
        if (m_.readInt64(v) != 0) return failed(at);
        line(at, depth, prefix, "int64 " + std::to_string(v));
        return 0;
      }
      case TAG_FLOAT: {
        float v;
        if (m_.readFloat(v) != 0) return failed(at);
        std::snprintf(num, sizeof num, "float %.9g", static_cast<double>(v));
        line(at, depth, prefix, num);
        return 0;
      }
      case TAG_DOUBLE: {
        double v;
        if (m_.readDouble(v) != 0) return failed(at);
        std::snprintf(num, sizeof num, "double %.17g", v);
        line(at, depth, prefix, num);
        return 0;
      }
      case TAG_STRING:
      case TAG_NULL_STRING: {
        char* s = nullptr;
        if (m_.readString(s) != 0) return failed(at);
        line(at, depth, prefix, s != nullptr ? "string " + quoted(s) : std::string("null string"));
        MessageBase::freeString(s);
        return 0;
      }
      case TAG_NULL_OBJECT:
        if (m_.skipObject() != 0) return failed(at);
        line(at, depth, prefix, "null object");
        return 0;
      case TAG_BYTES: {
        size_t n = 0;
        char* b = nullptr;
        if (m_.readBytes(n, b) != 0) return failed(at);
        line(at, depth, prefix, "bytes " + std::to_string(n) + (n ? ": " + hex(b, n) : std::string()));
        MessageBase::freeBytes(b);
        return 0;
      }
      case TAG_STRING_ARRAY: {
        char** list = nullptr;
        if (m_.readStringArray(list) != 0) return failed(at);
        size_t n = 0;
        while (list[n] != nullptr) ++n;
        line(at, depth, prefix, "string array " + std::to_string(n));
        for (size_t i = 0; i < n; ++i) line(at, depth + 1, "[" + std::to_string(i) + "] ", quoted(list[i]));
        MessageBase::freeStringArray(list);
        return 0;
      }
      case TAG_CMD: {
        int v;
        if (m_.readCmd(v) != 0) return failed(at);
        line(at, depth, prefix, "command " + std::to_string(v));
        return 0;
      }
      case TAG_OBJECT:
        return object(depth, prefix, at);
      case TAG_CONTAINER:
        return container(depth, prefix, at);
      case TAG_FIELD: {
        // A lone field (a piece of an object) is shown as such at the top.
        if (depth != 0) return failed(at, MSG_ERR_MISSING_TYPE);
        int field;
        if (m_.readFieldHeader(loc, &field) != 0) return failed(at);
        if (m_.peekTag(*loc) < 0) return failed(at, MSG_ERR_MISSING_FIELD_CODE);
        return value(depth, "field " + std::to_string(field) + ": ", static_cast<int64_t>(at));
      }
      default:
        // A trailer, a field outside an object or an unknown tag.
        return failed(at, MSG_ERR_MISSING_TYPE);
    }
  }

  int object(int depth, const std::string& prefix, uint64_t at) {
    _BufferLocation* loc = m_.getLocation();
    int type;
    if (m_.readObjectHeader(loc, &type) != 0) return failed(at);
    line(at, depth, prefix, typeName("object", type));
    for (;;) {
      const uint64_t fieldAt = here();
      int tag = m_.peekTag(*loc);
      if (tag < 0) return failed(fieldAt, MSG_ERR_MISSING_FIELD_CODE);
      if (tag == TAG_OBJECT_END) {
        if (m_.readObjectTrailer(loc) != 0) return failed(fieldAt);
        line(fieldAt, depth, "", "end object");
        return 0;
      }
      if (tag != TAG_FIELD) return failed(fieldAt, MSG_ERR_BAD_FIELD_CODE);
      int field;
      if (m_.readFieldHeader(loc, &field) != 0) return failed(fieldAt);
      if (m_.peekTag(*loc) < 0) return failed(fieldAt, MSG_ERR_MISSING_FIELD_CODE);
      if (value(depth + 1, "field " + std::to_string(field) + ": ", static_cast<int64_t>(fieldAt)) != 0) {
        // The decoder reports data that ends anywhere inside an object so.
        if (code_ == MSG_ERR_EOF || code_ == MSG_ERR_INCOMPLETE) code_ = MSG_ERR_MISSING_FIELD_CODE;
        return -1;
      }
    }
  }

  int container(int depth, const std::string& prefix, uint64_t at) {
    _BufferLocation* loc = m_.getLocation();
    int type;
    if (m_.readContainerHeader(loc, &type) != 0) return failed(at);
    line(at, depth, prefix, typeName("container", type));
    for (;;) {
      const uint64_t itemAt = here();
      int tag = m_.peekTag(*loc);
      if (tag < 0) return failed(itemAt, MSG_ERR_EOF);
      if (tag == TAG_CONTAINER_END) {
        if (m_.readContainerTrailer(loc) != 0) return failed(itemAt);
        line(itemAt, depth, "", "end container");
        return 0;
      }
      if (value(depth + 1, "") != 0) return -1;
    }
  }

  MessageBase& m_;
  std::string& out_;
  uint64_t base_;
  int code_ = 0;
  uint64_t at_ = 0;
};

int frameError(MessageDump::Error* error, int code, uint64_t offset, const std::string& text) {
  if (error != nullptr) {
    error->code = code;
    error->offset = offset;
    error->text = text;
  }
  return code;
}

}  // namespace

int MessageDump::dumpItems(MessageBase& message, std::string& out, Error* error, uint64_t base) {
  Dumper d(message, out, base);
  return d.run(error);
}

int MessageDump::dumpBytes(const char* data, size_t n, bool framed, std::string& out, Error* error) {
  if (!framed) {
    Message m(data, n);
    return dumpItems(m, out, error);
  }
  size_t pos = 0;
  while (pos < n) {
    const auto* h = reinterpret_cast<const unsigned char*>(data + pos);
    if (n - pos < Message::kHeaderSize) {
      return frameError(error, MSG_ERR_INCOMPLETE, pos, MessageBase::errorText(MSG_ERR_INCOMPLETE));
    }
    if (h[0] != Message::kFrameCode) {
      return frameError(error, MSG_ERR_BAD_TYPE, pos,
                        "not a framed message (first byte " + std::to_string(h[0]) + ", expected 3)");
    }
    const uint32_t length = wire::get32(h + 1);
    const uint32_t type = wire::get32(h + 5);
    // The same limits a connection applies to a frame it receives.
    if (length == 0 || length > 0x7FFFFFFFu) {
      return frameError(error, MSG_ERR_BAD_TYPE, pos, "Less than or zero size message");
    }
    if (length > 0x4FFFFFFFu) return frameError(error, MSG_ERR_BAD_TYPE, pos, "packet too large 2G");
    if (type > 0xFFFFFFu) return frameError(error, MSG_ERR_BAD_TYPE, pos, "illogical message type");
    char head[96];
    std::snprintf(head, sizeof head, "%8zu  frame: message type %u, payload %u bytes\n", pos, type, length);
    out += head;
    const size_t have = n - pos - Message::kHeaderSize;
    const size_t take = have < length ? have : length;
    Message m(data + pos + Message::kHeaderSize, take);
    int rc = dumpItems(m, out, error, pos + Message::kHeaderSize);
    if (rc != 0) return rc;
    if (take < length) {
      return frameError(error, MSG_ERR_INCOMPLETE, pos + Message::kHeaderSize + take,
                        "Incomplete message (the frame announces " + std::to_string(length) + " payload bytes, " +
                            std::to_string(take) + " are present)");
    }
    pos += Message::kHeaderSize + length;
  }
  return 0;
}
