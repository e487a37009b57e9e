// Items, fields, errors, frames and the chunk chain of MessageBase/Message.
#include "wire/message_base.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "wire/message.h"
#include "wire/wire_test_util.h"

namespace {

using wiretest::bytesOf;
using wiretest::hex;
using wiretest::payload;
using wiretest::readerOf;

TEST(MessageBase, ByteExactItems) {
  struct Case {
    const char* name;
    void (*write)(Message&);
    const char* want;
  };
  const Case cases[] = {
      {"int32 field", [](Message& m) { m.writeInt32Field(2, 5); }, "0B 02 02 00 00 00 05"},
      {"string", [](Message& m) { m.writeString("abc"); }, "06 00 00 00 03 61 62 63"},
      {"null string", [](Message& m) { m.writeString(nullptr); }, "07"},
      {"bool", [](Message& m) { m.writeBool(true); }, "01 01"},
      {"int64", [](Message& m) { m.writeInt64(-2); }, "03 FF FF FF FF FF FF FF FE"},
      {"float", [](Message& m) { m.writeFloat(1.5f); }, "04 3F C0 00 00"},
      {"double", [](Message& m) { m.writeDouble(-2.0); }, "05 C0 00 00 00 00 00 00 00"},
      {"bytes", [](Message& m) { m.writeBytes(2, "\x01\xFF"); }, "0E 00 00 00 02 01 FF"},
      {"command", [](Message& m) { m.writeCmd(258); }, "10 00 00 01 02"},
      {"string array",
       [](Message& m) {
         const char* list[] = {"a", "", nullptr};
         m.writeStringArray(const_cast<char**>(list));
       },
       "0F 00 00 00 02 00 00 00 01 61 00 00 00 00"},
      {"null string array", [](Message& m) { m.writeStringArray(nullptr); }, "07"},
      {"field number keeps the low eight bits", [](Message& m) { m.writeBoolField(0x105, false); }, "0B 05 01 00"},
      {"string field", [](Message& m) { m.writeStringField(1, "x"); }, "0B 01 06 00 00 00 01 78"},
      {"null object", [](Message& m) { m.writeObject(1000, nullptr); }, "08"},
      {"headers and trailers",
       [](Message& m) {
         m.writeObjectHeader(1000);
         m.writeObjectTrailer();
         m.writeContainerHeader(1003);
         m.writeContainerTrailer();
       },
       "09 00 00 03 E8 0A 0C 00 00 03 EB 0D"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Message m(0);
    c.write(m);
    EXPECT_EQ(hex(payload(m)), c.want);
    EXPECT_EQ(m.getError(), 0);
  }
}

TEST(MessageBase, FrameHeader) {
  Message m(0x010203);
  EXPECT_EQ(m.getMode(), MSG_MODE_WRITE);
  EXPECT_EQ(m.getMessageType(), 0x010203);
  m.writeInt32(7);
  ASSERT_EQ(m.setFrameLength(), 0);
  EXPECT_EQ(hex(bytesOf(m)), "03 00 00 00 05 00 01 02 03 02 00 00 00 07");

  // A receiver fills an empty message with the frame and reads it.
  Message in;
  std::string frame = bytesOf(m);
  in.appendBytes(frame.data(), frame.size());
  EXPECT_EQ(in.getMessageType(), -1);
  ASSERT_EQ(in.switchToRead(), 0);
  EXPECT_EQ(in.getMessageType(), 0x010203);
  int v = 0;
  ASSERT_EQ(in.readInt32(v), 0);
  EXPECT_EQ(v, 7);
}

// Every item written, read back from a message cut into chunks of 1 to 9
// bytes, so that each item crosses chunk boundaries somewhere.
TEST(MessageBase, ItemsRoundTripAcrossChunks) {
  Message w(0);
  const char* list[] = {"alpha", "", "\xC3\xA9t\xC3\xA9", nullptr};
  std::string big(1000, 'z');
  w.writeBool(false);
  w.writeInt32(std::numeric_limits<int>::min());
  w.writeInt64(std::numeric_limits<long long>::max());
  w.writeFloat(-0.25f);
  w.writeDouble(std::nan(""));
  w.writeString("h\xC3\xA9llo");
  w.writeString(nullptr);
  w.writeString(big.c_str());
  w.writeStringArray(const_cast<char**>(list));
  w.writeBytes(3, "\0\1\2");
  w.writeBytes(0, nullptr);
  w.writeCmd(-1);
  const std::string data = payload(w);

  for (size_t chunk = 1; chunk <= 9; ++chunk) {
    SCOPED_TRACE("chunk size " + std::to_string(chunk));
    Message m;
    readerOf(m, data, chunk);
    bool b = true;
    int i = 0;
    long long l = 0;
    float f = 0;
    double d = 0;
    char* s = nullptr;
    char** a = nullptr;
    size_t n = 0;
    char* bytes = nullptr;
    ASSERT_EQ(m.readBool(b), 0);
    EXPECT_FALSE(b);
    ASSERT_EQ(m.readInt32(i), 0);
    EXPECT_EQ(i, std::numeric_limits<int>::min());
    ASSERT_EQ(m.readInt64(l), 0);
    EXPECT_EQ(l, std::numeric_limits<long long>::max());
    ASSERT_EQ(m.readFloat(f), 0);
    EXPECT_EQ(f, -0.25f);
    ASSERT_EQ(m.readDouble(d), 0);
    EXPECT_TRUE(std::isnan(d));
    ASSERT_EQ(m.readString(s), 0);
    EXPECT_STREQ(s, "h\xC3\xA9llo");
    MessageBase::freeString(s);
    s = reinterpret_cast<char*>(1);
    ASSERT_EQ(m.readString(s), 0);
    EXPECT_EQ(s, nullptr);
    ASSERT_EQ(m.readString(s), 0);
    EXPECT_EQ(s, big);
    MessageBase::freeString(s);
    ASSERT_EQ(m.readStringArray(a), 0);
    ASSERT_NE(a, nullptr);
    EXPECT_STREQ(a[0], "alpha");
    EXPECT_STREQ(a[1], "");
    EXPECT_STREQ(a[2], "\xC3\xA9t\xC3\xA9");
    EXPECT_EQ(a[3], nullptr);
    MessageBase::freeStringArray(a);
    ASSERT_EQ(m.readBytes(n, bytes), 0);
    ASSERT_EQ(n, 3u);
    EXPECT_EQ(std::string(bytes, 3), std::string("\0\1\2", 3));
    MessageBase::freeBytes(bytes);
    ASSERT_EQ(m.readBytes(n, bytes), 0);
    EXPECT_EQ(n, 0u);
    MessageBase::freeBytes(bytes);
    ASSERT_EQ(m.readCmd(i), 0);
    EXPECT_EQ(i, -1);
    EXPECT_EQ(m.peekTag(*m.getLocation()), -1);
    EXPECT_EQ(m.readInt32(i), -1);
    EXPECT_EQ(m.getError(), MSG_ERR_EOF);
  }
}

TEST(MessageBase, UnexpectedTagIsLeftForTheNextRead) {
  Message m;
  readerOf(m, wiretest::unhex("10 00 00 00 05"), 2);
  long long size = 0;
  EXPECT_EQ(m.readInt64(size), -1);
  EXPECT_EQ(m.getError(), MSG_ERR_BAD_TYPE);
  int cmd = 0;
  EXPECT_EQ(m.readCmd(cmd), -1);  // still in the error state
  m.recover();
  ASSERT_EQ(m.readCmd(cmd), 0);
  EXPECT_EQ(cmd, 5);
}

// Index an object by hand, then read its fields.
TEST(MessageBase, FieldsOfAnIndexedObject) {
  Message w(0);
  w.writeObjectHeader(4242);
  w.writeInt64Field(1, (1LL << 32) + 5);
  w.writeInt32Field(2, -1);
  w.writeStringField(3, "first");
  w.writeStringField(3, "second");
  w.writeDoubleField(4, 0.5);
  w.writeObjectTrailer();
  w.writeInt32(99);
  for (size_t chunk : {1, 3, 1000}) {
    SCOPED_TRACE("chunk size " + std::to_string(chunk));
    Message m;
    readerOf(m, payload(w), chunk);
    int type = 0;
    ASSERT_EQ(m.indexObjectForRead(m.getLocation(), &type), 0);
    EXPECT_EQ(type, 4242);
    EXPECT_EQ(m.fieldCount(), 5);
    int i = 0;
    long long l = 0;
    ASSERT_EQ(m.readInt32Field(1, i), 0);
    EXPECT_EQ(i, 5);
    ASSERT_EQ(m.readInt64Field(2, l), 0);
    EXPECT_EQ(l, -1);
    char* s = nullptr;
    ASSERT_EQ(m.readStringField(3, s), 0);
    EXPECT_STREQ(s, "first");  // the first occurrence wins
    MessageBase::freeString(s);
    double d = 0;
    ASSERT_EQ(m.readDoubleField(4, d), 0);
    EXPECT_EQ(d, 0.5);
    float f = 0;
    EXPECT_EQ(m.readFloatField(4, f), -1);  // only its own tag
    EXPECT_EQ(m.getError(), MSG_ERR_BAD_TYPE);
    m.recover();
    // An absent field fails and every later read fails until recover().
    EXPECT_FALSE(m.hasField(9));
    EXPECT_EQ(m.readInt32Field(9, i), -1);
    EXPECT_EQ(m.getError(), MSG_ERR_MISSING_FIELD);
    EXPECT_EQ(m.readInt32Field(2, i), -1);
    m.recover();
    ASSERT_EQ(m.readInt32Field(2, i), 0);
    EXPECT_EQ(i, -1);
    m.freeIndexObject();
    // The read location is past the object.
    ASSERT_EQ(m.readInt32(i), 0);
    EXPECT_EQ(i, 99);
    // No object open: no fields.
    EXPECT_EQ(m.readInt32Field(2, i), -1);
    EXPECT_EQ(m.getError(), MSG_ERR_MISSING_FIELD);
  }
}

TEST(MessageBase, OpaqueObjects) {
  Message v(0);
  v.writeObjectHeader(5000);
  v.writeInt32Field(1, 1);
  v.writeObjectTrailer();
  const std::string inner = payload(v);

  Message o(0);
  o.writeObjectHeader(77);
  o.writeOpaqueObjectField(2, 5000, inner.data(), inner.size());
  o.writeObjectField(3, 1, nullptr);
  o.writeStringField(4, "after");
  o.writeObjectTrailer();
  o.writeOpaqueObject(5000, inner.data(), inner.size());
  o.writeInt32(3);
  ASSERT_EQ(o.getError(), 0);

  for (size_t chunk : {1, 2, 5, 4096}) {
    SCOPED_TRACE("chunk size " + std::to_string(chunk));
    Message m;
    readerOf(m, payload(o), chunk);
    int type = 0;
    ASSERT_EQ(m.indexObjectForRead(m.getLocation(), &type), 0);
    char* bytes = nullptr;
    size_t n = 0;
    ASSERT_EQ(m.readOpaqueObjectField(2, &type, &bytes, &n), 0);
    EXPECT_EQ(type, 5000);
    EXPECT_EQ(std::string(bytes, n), inner);
    MessageBase::freeOpaqueObjectBuffer(bytes);
    EXPECT_EQ(m.readOpaqueObjectField(3, &type, &bytes, &n), MSG_ERR_NULL_OBJECT);
    EXPECT_EQ(m.getError(), 0);
    EXPECT_EQ(m.readOpaqueObjectField(4, &type, &bytes, &n), -1);
    EXPECT_EQ(m.getError(), MSG_ERR_BAD_TYPE);
    m.recover();
    m.freeIndexObject();
    ASSERT_EQ(m.readOpaqueObjectField(-1, &type, &bytes, &n), 0);
    EXPECT_EQ(std::string(bytes, n), inner);
    char* dup = MessageBase::dupOpaqueObjectBuffer(bytes, n);
    EXPECT_EQ(std::string(dup, n), inner);
    MessageBase::freeOpaqueObjectBuffer(dup);
    MessageBase::freeOpaqueObjectBuffer(bytes);
    int i = 0;
    ASSERT_EQ(m.readInt32(i), 0);
    EXPECT_EQ(i, 3);
  }

  // Splicing anything but a whole object would break the message.
  Message x(0);
  EXPECT_EQ(x.writeOpaqueObject(1, "\x06\x00", 2), -1);
  EXPECT_EQ(x.getError(), MSG_ERR_BAD_TYPE);
}

TEST(MessageBase, SkipObjectAndSkipToCmd) {
  // An object header where a field is due.
  Message w(0);
  w.writeObjectHeader(1);
  w.writeStringField(1, "x");
  w.writeObjectHeader(2);
  w.writeObjectTrailer();
  w.writeObjectTrailer();
  const std::string malformed = payload(w);
  Message m;
  readerOf(m, malformed, 3);
  EXPECT_EQ(m.skipObject(), -1);
  EXPECT_EQ(m.getError(), MSG_ERR_BAD_FIELD_CODE);

  Message g(0);
  g.writeObjectHeader(1);
  g.writeStringField(1, "x");
  g.writeObjectTrailer();
  g.writeContainerHeader(9);
  g.writeObjectHeader(2);
  g.writeObjectTrailer();
  g.writeObject(3, nullptr);
  g.writeContainerTrailer();
  g.writeString("s");
  const char* list[] = {"a", "bc", nullptr};
  g.writeStringArray(const_cast<char**>(list));
  g.writeCmd(42);
  Message r;
  readerOf(r, payload(g), 4);
  ASSERT_EQ(r.skipToCmd(), 0);
  int cmd = 0;
  ASSERT_EQ(r.readCmd(cmd), 0);
  EXPECT_EQ(cmd, 42);
  EXPECT_EQ(r.skipToCmd(), -1);
  EXPECT_EQ(r.getError(), MSG_ERR_EOF);
}

// Malformed and hostile input: each fails with its code, never reads past
// the data and never allocates for a length the data does not hold.
TEST(MessageBase, HostileInputFailsCleanly) {
  struct Case {
    const char* name;
    std::string bytes;
    int (*read)(MessageBase&);
    int want;
  };
  auto str = [](MessageBase& m) {
    char* s = nullptr;
    int rc = m.readString(s);
    MessageBase::freeString(s);
    return rc;
  };
  auto arr = [](MessageBase& m) {
    char** a = nullptr;
    int rc = m.readStringArray(a);
    MessageBase::freeStringArray(a);
    return rc;
  };
  auto bytes = [](MessageBase& m) {
    char* b = nullptr;
    size_t n = 0;
    int rc = m.readBytes(n, b);
    MessageBase::freeBytes(b);
    return rc;
  };
  auto index = [](MessageBase& m) {
    int type = 0;
    int rc = m.indexObjectForRead(m.getLocation(), &type);
    return rc == 0 ? m.freeIndexObject() : rc;
  };
  auto skip = [](MessageBase& m) { return m.skipObject(); };
  auto i32 = [](MessageBase& m) {
    int v;
    return m.readInt32(v);
  };
  using wiretest::unhex;
  const Case cases[] = {
      {"nothing", "", i32, MSG_ERR_EOF},
      {"truncated int32", unhex("02 00 00"), i32, MSG_ERR_INCOMPLETE},
      {"string longer than the data", unhex("06 FF FF FF FF 61"), str, MSG_ERR_INCOMPLETE},
      {"string length cut", unhex("06 00 00"), str, MSG_ERR_INCOMPLETE},
      {"string array count too big", unhex("0F 7F FF FF FF 00 00 00 00"), arr, MSG_ERR_INCOMPLETE},
      {"string array element too long", unhex("0F 00 00 00 01 00 00 00 09 61"), arr, MSG_ERR_INCOMPLETE},
      {"bytes longer than the data", unhex("0E 80 00 00 00"), bytes, MSG_ERR_INCOMPLETE},
      {"int where a string is due", unhex("02 00 00 00 01"), str, MSG_ERR_BAD_TYPE},
      {"object never closed", unhex("09 00 00 00 01 0B 01 02 00 00 00 01"), index, MSG_ERR_MISSING_FIELD_CODE},
      {"field number missing", unhex("09 00 00 00 01 0B"), index, MSG_ERR_MISSING_FIELD_CODE},
      {"field value missing", unhex("09 00 00 00 01 0B 01"), index, MSG_ERR_MISSING_FIELD_CODE},
      {"string in a field too long", unhex("09 00 00 00 01 0B 01 06 00 00 01 00 41"), index,
       MSG_ERR_MISSING_FIELD_CODE},
      {"a string where a field is due", unhex("09 00 00 00 01 06 00 00 00 00 0A"), index, MSG_ERR_BAD_FIELD_CODE},
      {"unknown tag in a field", unhex("09 00 00 00 01 0B 01 63 0A"), index, MSG_ERR_MISSING_TYPE},
      {"a trailer as a field value", unhex("09 00 00 00 01 0B 01 0A 0A"), index, MSG_ERR_MISSING_TYPE},
      {"unknown tag skipped", unhex("FF"), skip, MSG_ERR_MISSING_TYPE},
      {"command skipped", unhex("10 00 00 00 01"), skip, MSG_ERR_MISSING_TYPE},
      {"container never closed", unhex("0C 00 00 00 01 08 08"), skip, MSG_ERR_INCOMPLETE},
      {"object type cut", unhex("09 00 00"), index, MSG_ERR_INCOMPLETE},
      {"not an object", unhex("06 00 00 00 00"), index, MSG_ERR_BAD_TYPE},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (size_t chunk : {1, 2, 64}) {
      Message m;
      readerOf(m, c.bytes, chunk);
      EXPECT_EQ(c.read(m), -1);
      EXPECT_EQ(m.getError(), c.want) << MessageBase::errorText(m.getError());
    }
  }
}

TEST(MessageBase, NullObjectIsAStatusNotAnError) {
  Message m;
  readerOf(m, wiretest::unhex("08 02 00 00 00 04"), 1);
  int type = 0;
  EXPECT_EQ(m.indexObjectForRead(m.getLocation(), &type), MSG_ERR_NULL_OBJECT);
  EXPECT_EQ(m.getError(), 0);
  EXPECT_EQ(m.frameDepth(), 0);
  int v = 0;
  ASSERT_EQ(m.readInt32(v), 0);
  EXPECT_EQ(v, 4);
}

// Objects and containers nested far deeper than any record: a decoder error,
// not a stack overflow, whether read, skipped or indexed.
TEST(MessageBase, DeepNestingIsRefused) {
  const int depth = 1000000;
  std::string deep;
  deep.reserve(depth * 7 + 16);
  for (int i = 0; i < depth; ++i) deep += wiretest::unhex("09 00 00 00 01 0B 01");
  deep += wiretest::unhex("08");
  for (int i = 0; i < depth; ++i) deep += '\x0A';
  std::string containers;
  for (int i = 0; i < depth; ++i) containers += wiretest::unhex("0C 00 00 00 01");

  for (const std::string* data : {&deep, &containers}) {
    Message a(data->data(), data->size());
    EXPECT_EQ(a.skipObject(), -1);
    EXPECT_EQ(a.getError(), MSG_ERR_BAD_TYPE);
    Message b(data->data(), data->size());
    int type;
    int rc = b.indexObjectForRead(b.getLocation(), &type);
    if (rc == 0) rc = b.freeIndexObject();
    EXPECT_EQ(rc, -1);
    EXPECT_NE(b.getError(), 0);
    EXPECT_EQ(b.frameDepth(), 0);
  }
  // Just inside the limit is fine.
  std::string ok;
  const int limit = MessageBase::kMaxNesting;
  for (int i = 0; i < limit - 1; ++i) ok += wiretest::unhex("09 00 00 00 01 0B 01");
  ok += wiretest::unhex("09 00 00 00 01 0A");
  for (int i = 0; i < limit - 1; ++i) ok += '\x0A';
  Message c(ok.data(), ok.size());
  EXPECT_EQ(c.skipObject(), 0);
}

// Chunks behind the read location are released once nothing points into
// them; an open frame keeps its chunks.
TEST(MessageBase, ConsumedChunksAreReleased) {
  Message w(0);
  std::string text(100, 'q');
  for (int i = 0; i < 2000; ++i) w.writeString(text.c_str());
  const std::string data = payload(w);
  Message m;
  readerOf(m, data, 1000);
  const MessageChunk* first = m.firstChunk();
  char* s = nullptr;
  ASSERT_EQ(m.readString(s), 0);
  MessageBase::freeString(s);
  EXPECT_EQ(m.firstChunk(), first);
  for (int i = 0; i < 100; ++i) {
    ASSERT_EQ(m.readString(s), 0);
    MessageBase::freeString(s);
  }
  EXPECT_NE(m.firstChunk(), first);
  EXPECT_GT(m.firstChunk()->start, 9000u);
  EXPECT_LE(m.firstChunk()->start, MessageBase::offsetOf(*m.getLocation()));

  // Index an object, then move the read location far past it: the chunks of
  // the open frame stay until the frame is closed.
  Message o(0);
  o.writeObjectHeader(1);
  o.writeStringField(1, text.c_str());
  o.writeObjectTrailer();
  for (int i = 0; i < 100; ++i) o.writeString(text.c_str());
  Message r;
  readerOf(r, payload(o), 50);
  int type;
  _BufferLocation at = *r.getLocation();
  ASSERT_EQ(r.indexObjectForRead(&at, &type), 0);
  const MessageChunk* held = r.firstChunk();
  ASSERT_EQ(r.skipObject(), 0);
  for (int i = 0; i < 100; ++i) {
    ASSERT_EQ(r.readString(s), 0);
    MessageBase::freeString(s);
  }
  EXPECT_EQ(r.firstChunk(), held);
  ASSERT_EQ(r.readStringField(1, s), 0);
  EXPECT_EQ(std::string(s), text);
  MessageBase::freeString(s);
  ASSERT_EQ(r.freeIndexObject(), 0);
  EXPECT_NE(r.firstChunk(), held);
}

TEST(MessageBase, ChunkGrowthWhenWriting) {
  Message m(0);
  std::vector<size_t> sizes;
  std::string item(100, 'a');
  for (int i = 0; i < 2000; ++i) m.writeBytes(item.size(), item.data());
  for (const MessageChunk* c = m.firstChunk(); c != nullptr; c = c->next) sizes.push_back(c->capacity);
  ASSERT_GE(sizes.size(), 9u);
  EXPECT_EQ(sizes[0], 256u);
  EXPECT_EQ(sizes[1], 512u);
  EXPECT_EQ(sizes[7], 32768u);
  EXPECT_EQ(sizes.back(), 32768u);
  // A block larger than the cap gets a chunk of its own, never a smaller one.
  std::string huge(100000, 'h');
  m.writeBytes(huge.size(), huge.data());
  size_t last = 0;
  for (const MessageChunk* c = m.firstChunk(); c != nullptr; c = c->next) last = c->capacity;
  EXPECT_EQ(last, huge.size() + 9);
}

// A large block of items handed over with its owner: the same bytes as a
// copy, read in place, the owner's buffer never written, the owner let go
// with the message (small blocks are copied and their owner not kept).
TEST(MessageBase, SharedEncodedBytes) {
  std::string items(1, static_cast<char>(TAG_BYTES));
  const uint32_t n = 100000;
  for (int s = 24; s >= 0; s -= 8) items.push_back(static_cast<char>((n >> s) & 0xFF));
  for (uint32_t i = 0; i < n; ++i) items.push_back(static_cast<char>(i * 7));
  auto owner = std::make_shared<const std::string>(items);
  std::weak_ptr<const std::string> watch = owner;

  auto shared = std::make_unique<Message>(9);
  Message copied(9);
  for (Message* m : {shared.get(), &copied}) ASSERT_EQ(m->writeInt32(1), 0);
  ASSERT_EQ(shared->writeEncodedShared(owner, owner->data(), owner->size()), 0);
  ASSERT_EQ(copied.writeEncoded(items.data(), items.size()), 0);
  for (Message* m : {shared.get(), &copied}) {
    ASSERT_EQ(m->writeInt32(2), 0);
    ASSERT_EQ(m->writeString("after"), 0);
    ASSERT_EQ(m->setFrameLength(), 0);
  }
  EXPECT_TRUE(bytesOf(*shared) == bytesOf(copied));
  bool inPlace = false;
  for (const MessageChunk* c = shared->firstChunk(); c != nullptr; c = c->next) inPlace |= c->data == owner->data();
  EXPECT_TRUE(inPlace);
  EXPECT_TRUE(*owner == items);  // nothing written after it went into its buffer
  owner.reset();
  EXPECT_FALSE(watch.expired());

  ASSERT_EQ(shared->switchToRead(), 0);
  int v = 0;
  ASSERT_EQ(shared->readInt32(v), 0);
  EXPECT_EQ(v, 1);
  size_t got = 0;
  char* block = nullptr;
  ASSERT_EQ(shared->readBytes(got, block), 0);
  ASSERT_EQ(got, n);
  EXPECT_EQ(std::memcmp(block, items.data() + 5, n), 0);
  MessageBase::freeBytes(block);
  ASSERT_EQ(shared->readInt32(v), 0);
  EXPECT_EQ(v, 2);
  shared.reset();
  EXPECT_TRUE(watch.expired());

  auto small = std::make_shared<const std::string>(wiretest::unhex("02 00 00 00 05"));
  std::weak_ptr<const std::string> smallWatch = small;
  Message m(9);
  ASSERT_EQ(m.writeEncodedShared(small, small->data(), small->size()), 0);
  small.reset();
  EXPECT_TRUE(smallWatch.expired());
  EXPECT_EQ(hex(payload(m)), "02 00 00 00 05");

  auto refused = std::make_shared<const std::string>(items);
  Message broken(9);
  broken.setError(MSG_ERR_BAD_TYPE);
  EXPECT_EQ(broken.writeEncodedShared(refused, refused->data(), refused->size()), -1);
  EXPECT_EQ(refused.use_count(), 1);
}

TEST(MessageBase, ErrorTexts) {
  EXPECT_STREQ(MessageBase::errorText(-11), "Unexpected end of file");
  EXPECT_STREQ(MessageBase::errorText(-14), "Invalid or unexpected type");
  EXPECT_STREQ(MessageBase::errorText(-19), "Unexpected NULL object");
  EXPECT_STREQ(MessageBase::errorText(-3), "");
}

TEST(MessageBase, ReturnedByteIsReadFirst) {
  Message m;
  readerOf(m, wiretest::unhex("00 00 00 05"), 2);
  m.returnByte(TAG_INT32);
  int v = 0;
  ASSERT_EQ(m.readInt32(v), 0);
  EXPECT_EQ(v, 5);
}

}  // namespace
