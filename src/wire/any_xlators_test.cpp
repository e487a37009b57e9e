// The translators of Any, AnyArray and Attributes, and the deep copy of held
// objects through the encoding.
#include <gtest/gtest.h>

#include <cmath>
#include <algorithm>
#include <cstring>
#include <memory>
#include <string>

#include "model/any.h"
#include "model/any_array.h"
#include "model/attributes.h"
#include "model/obj_ref.h"
#include "wire/message.h"
#include "wire/model_xlators.h"
#include "wire/wire_test_util.h"

namespace {

using wiretest::hex;
using wiretest::payload;
using wiretest::unhex;

class AnyXlators : public ::testing::Test {
 protected:
  void SetUp() override { registerModelXlators(); }
};

std::string encode(int type, const Translatable* object) {
  Message m(0);
  EXPECT_EQ(m.writeObject(type, object), 0);
  EXPECT_EQ(m.getError(), 0);
  return payload(m);
}

// Decodes `bytes` from a message cut into chunks of `chunk` bytes.
template <class T>
std::unique_ptr<T> decode(int type, const std::string& bytes, size_t chunk = 4096, int* error = nullptr) {
  Message m;
  wiretest::readerOf(m, bytes, chunk);
  Translatable* out = nullptr;
  int rc = m.readObject(type, &out);
  if (error != nullptr) *error = m.getError();
  if (rc != 0) return nullptr;
  return std::unique_ptr<T>(static_cast<T*>(out));
}

TEST_F(AnyXlators, Int32IsByteExact) {
  Any seven(7);
  EXPECT_EQ(hex(encode(1000, &seven)),
            "09 00 00 03 E8 0B 01 02 00 00 00 03 0B 02 02 00 00 00 07 0B 03 02 00 00 00 00 0A");
}

TEST_F(AnyXlators, MissingSubtypeIsZeroWithoutError) {
  Message m;
  wiretest::readerOf(m, unhex("09 00 00 03 E8 0B 01 02 00 00 00 07 0B 02 06 00 00 00 01 78 0A 02 00 00 00 09"), 3);
  Translatable* out = nullptr;
  ASSERT_EQ(m.readObject(1000, &out), 0);
  std::unique_ptr<Any> a(static_cast<Any*>(out));
  EXPECT_EQ(a->getType(), ANY_STRING);
  EXPECT_EQ(a->getSubtype(), 0);
  EXPECT_STREQ(a->getString(), "x");
  EXPECT_EQ(m.getError(), 0);
  int next = 0;
  ASSERT_EQ(m.readInt32(next), 0);
  EXPECT_EQ(next, 9);
}

std::unique_ptr<Any> withSubtype(Any* a, int subtype) {
  a->setSubtype(subtype);
  return std::unique_ptr<Any>(a);
}

// Every type code an Any can hold comes back as it was, from messages cut
// into chunks of 1 to 7 bytes.
TEST_F(AnyXlators, EveryTypeCodeRoundTrips) {
  auto array = std::make_unique<AnyArray>(0);
  array->append(new Any(1));
  array->append(nullptr);
  auto inner = new AnyArray(0);
  inner->append(new Any("deep"));
  array->append(new Any(OBJ_ANYARRAY_ID, inner));
  struct Case {
    const char* name;
    std::unique_ptr<Any> value;
  };
  Case cases[] = {
      {"null", std::make_unique<Any>()},
      {"undefined", std::unique_ptr<Any>(Any::createUndefined())},
      {"bool", std::make_unique<Any>(true)},
      {"int32", std::make_unique<Any>(-123456)},
      {"int64 date", withSubtype(new Any(1700000000123LL), ANY_SUBTYPE_DATE)},
      {"float", std::make_unique<Any>(2.5f)},
      {"double", std::make_unique<Any>(-1e300)},
      {"string", std::make_unique<Any>("h\xC3\xA9llo \"world\"")},
      {"string read as a boolean", withSubtype(new Any("yes"), ANY_SUBTYPE_BOOL_TEXT)},
      {"null string", std::make_unique<Any>(static_cast<const char*>(nullptr))},
      {"char", std::make_unique<Any>(ANY_CHAR, reinterpret_cast<Translatable*>(strdup("\xC3\xA9")))},
      {"array", std::make_unique<Any>(OBJ_ANYARRAY_ID, array.release())},
      {"empty array", std::make_unique<Any>(OBJ_ANYARRAY_ID, new AnyArray(0))},
      {"no array", std::make_unique<Any>(OBJ_ANYARRAY_ID, nullptr)},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string bytes = encode(1000, c.value.get());
    for (size_t chunk = 1; chunk <= 7; ++chunk) {
      auto back = decode<Any>(1000, bytes, chunk);
      ASSERT_NE(back, nullptr) << "chunk " << chunk;
      EXPECT_EQ(back->getTypeWord(), c.value->getTypeWord());
      EXPECT_FALSE(back->isOpaque());
      if (c.value->getType() == OBJ_ANYARRAY_ID) {
        auto* a = static_cast<AnyArray*>(c.value->getHeldObject());
        auto* b = static_cast<AnyArray*>(back->getHeldObject());
        ASSERT_EQ(a == nullptr, b == nullptr);
        if (a != nullptr) {
          EXPECT_TRUE(*a == *b);
        }
      } else {
        EXPECT_TRUE(*back == *c.value);
      }
      EXPECT_EQ(encode(1000, back.get()), bytes);
    }
  }
}

std::unique_ptr<Attributes> sample() {
  auto set = std::make_unique<Attributes>();
  set->appendAttribute("name", new Any("alpha"), 2);
  set->appendAttribute("count", new Any(5), 0);
  set->appendAttribute("size", new Any(1LL << 40), 1);
  set->appendAttribute("ratio", new Any(0.75), 0);
  auto* list = new AnyArray(0);
  list->append(new Any("x"));
  list->append(new Any(OBJ_ANYARRAY_ID, new AnyArray(0)));
  set->appendAttribute("list", new Any(OBJ_ANYARRAY_ID, list), 0);
  return set;
}

std::string keys(const Attributes& set) {
  std::string r;
  for (auto* e = set.first(); e != nullptr; e = e->getNext()) r += std::string(e->getName()) + ",";
  return r;
}

TEST_F(AnyXlators, AttributesKeepTheirOrder) {
  auto set = sample();
  set->appendAttribute("dup", new Any(1), 0);
  set->appendAttribute("dup", new Any(2), 0);
  const std::string bytes = encode(1001, set.get());
  for (size_t chunk : {1, 2, 3, 5, 8, 4096}) {
    SCOPED_TRACE(chunk);
    auto back = decode<Attributes>(1001, bytes, chunk);
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(keys(*back), keys(*set));
    EXPECT_EQ(back->getDisplayHint("name"), 2);
    EXPECT_EQ(back->getAttribute("dup")->getInt32(), set->getAttribute("dup")->getInt32());
    EXPECT_EQ(encode(1001, back.get()), bytes);
  }
}

TEST_F(AnyXlators, EmptyAttributesAreAnEmptyContainer) {
  Attributes empty;
  const std::string bytes = encode(1001, &empty);
  EXPECT_EQ(hex(bytes), "09 00 00 03 E9 0B 01 0C 00 00 03 EB 0D 0A");
  auto back = decode<Attributes>(1001, bytes);
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(back->size(), 0);
}

// Objects other than arrays stay encoded inside a decoded Any until asked
// for; held directly or through a reference, they come back equal.
TEST_F(AnyXlators, HeldObjectsDecodeLater) {
  Any held(OBJ_ATTRIBUTES_ID, sample().release());
  auto target = sample();
  const Attributes* original = target.get();
  Any ref(new ObjRef(target.release()));
  for (const Any* a : {&held, &ref}) {
    const std::string bytes = encode(1000, a);
    for (size_t chunk : {1, 4, 4096}) {
      auto back = decode<Any>(1000, bytes, chunk);
      ASSERT_NE(back, nullptr);
      EXPECT_TRUE(back->isOpaque());
      EXPECT_EQ(back->getType(), OBJ_ATTRIBUTES_ID);
      // Re-encoding an undecoded value sends its bytes unchanged.
      EXPECT_EQ(encode(1000, back.get()), bytes);
      Translatable* object = nullptr;
      ASSERT_TRUE(back->getObject(&object));
      EXPECT_FALSE(back->isOpaque());
      ASSERT_NE(object, nullptr);
      EXPECT_TRUE(*static_cast<Attributes*>(object) == *original);
      EXPECT_EQ(keys(*static_cast<Attributes*>(object)), keys(*original));
    }
  }
}

// Copying an Any that holds an object copies the object through the wire.
TEST_F(AnyXlators, DeepCopyOfHeldObjects) {
  Any held(OBJ_ATTRIBUTES_ID, sample().release());
  Any copy(held);
  ASSERT_EQ(copy.getType(), OBJ_ATTRIBUTES_ID);
  auto* a = static_cast<Attributes*>(held.getHeldObject());
  auto* b = static_cast<Attributes*>(copy.getHeldObject());
  ASSERT_NE(b, nullptr);
  EXPECT_NE(a, b);
  EXPECT_TRUE(*a == *b);
  EXPECT_EQ(keys(*a), keys(*b));
}

// Element i of a long array travels as field (i + 2) & 0xFF, as peers have
// always written it; it comes back whole.
TEST_F(AnyXlators, ArraysLongerThanTheFieldNumbers) {
  for (int n : {253, 254, 255, 256, 300, 1000}) {
    SCOPED_TRACE(n);
    AnyArray array(0);
    for (int i = 0; i < n; ++i) array.append(i % 7 == 3 ? nullptr : new Any(i));
    const std::string bytes = encode(1030, &array);
    for (size_t chunk : {3, 4096}) {
      auto back = decode<AnyArray>(1030, bytes, chunk);
      ASSERT_NE(back, nullptr);
      ASSERT_EQ(back->size(), n);
      EXPECT_TRUE(*back == array);
    }
  }
  // The bytes: after field 255 (element 253) comes field 0 (element 254) and
  // field 1 (element 255), after the count in the first field 1.
  AnyArray a(0);
  for (int i = 0; i < 256; ++i) a.append(new Any(i));
  Message m(0);
  ASSERT_EQ(m.writeObject(1030, &a), 0);
  ASSERT_EQ(m.switchToRead(), 0);
  int type = 0;
  ASSERT_EQ(m.indexObjectForRead(m.getLocation(), &type), 0);
  EXPECT_EQ(m.fieldCount(), 257);
  int count = 0;
  ASSERT_EQ(m.readInt32Field(1, count), 0);
  EXPECT_EQ(count, 256);
}

TEST_F(AnyXlators, HostileValuesAreRefused) {
  struct Case {
    const char* name;
    const char* hex;
    int type;
    int want;
  };
  const Case cases[] = {
      {"type code too large", "09 00 00 03 E8 0B 01 02 00 00 FF FF 0A", 1000, MSG_ERR_BAD_TYPE},
      {"type code 0", "09 00 00 03 E8 0B 01 02 00 00 00 00 0A", 1000, MSG_ERR_BAD_TYPE},
      {"subtype too large", "09 00 00 03 E8 0B 01 02 00 00 00 01 0B 03 02 00 01 00 00 0A", 1000, MSG_ERR_BAD_TYPE},
      {"negative subtype", "09 00 00 03 E8 0B 01 02 00 00 00 01 0B 03 02 FF FF FF FF 0A", 1000, MSG_ERR_BAD_TYPE},
      {"object whose id is a scalar code", "09 00 00 03 E8 0B 01 02 00 00 13 88 0B 02 09 00 00 00 03 0A 0A", 1000,
       MSG_ERR_BAD_TYPE},
      {"object id too large", "09 00 00 03 E8 0B 01 02 00 00 13 88 0B 02 09 00 01 00 00 0A 0A", 1000,
       MSG_ERR_BAD_TYPE},
      {"value of another kind", "09 00 00 03 E8 0B 01 02 00 00 00 03 0B 02 06 00 00 00 00 0A", 1000,
       MSG_ERR_BAD_TYPE},
      {"value missing", "09 00 00 03 E8 0B 01 02 00 00 00 03 0A", 1000, MSG_ERR_MISSING_FIELD},
      {"array count beyond its fields", "09 00 00 04 06 0B 01 02 3B 9A CA 00 0A", 1030, MSG_ERR_MISSING_FIELD},
      {"negative array count", "09 00 00 04 06 0B 01 02 FF FF FF FF 0A", 1030, MSG_ERR_MISSING_FIELD},
      {"array element of another type", "09 00 00 04 06 0B 01 02 00 00 00 01 0B 02 09 00 00 03 E9 0A 0A", 1030,
       MSG_ERR_BAD_TYPE},
      {"attribute without a name",
       "09 00 00 03 E9 0B 01 0C 00 00 03 EB 09 00 00 03 EA 0B 01 07 0B 02 02 00 00 00 00 0B 03 08 0A 0D 0A", 1001,
       MSG_ERR_BAD_TYPE},
      {"attributes container of another type", "09 00 00 03 E9 0B 01 0C 00 00 03 EC 0D 0A", 1001,
       MSG_ERR_BAD_TYPE},
      {"attributes container not closed", "09 00 00 03 E9 0B 01 0C 00 00 03 EB 08 0A", 1001,
       MSG_ERR_BAD_TYPE},
      {"wrong object type", "09 00 00 03 E9 0A", 1000, MSG_ERR_BAD_TYPE},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    int error = 0;
    auto back = decode<Translatable>(c.type, unhex(c.hex), 2, &error);
    EXPECT_EQ(back, nullptr);
    EXPECT_EQ(error, c.want) << MessageBase::errorText(error);
  }
}

// Arrays nested deeper than a reader follows are refused when written, so
// nothing is sent that cannot be read back; crafted ones fail to decode.
TEST_F(AnyXlators, NestingBeyondTheLimit) {
  Any* top = new Any(1);
  for (int i = 0; i < MessageBase::kMaxNesting; ++i) {
    auto* a = new AnyArray(0);
    a->append(top);
    top = new Any(OBJ_ANYARRAY_ID, a);
  }
  std::unique_ptr<Any> deep(top);
  Message m(0);
  EXPECT_EQ(m.writeObject(1000, deep.get()), -1);
  EXPECT_EQ(m.getError(), MSG_ERR_BAD_TYPE);

  std::string crafted;
  for (int i = 0; i < 100000; ++i) crafted += unhex("09 00 00 03 E8 0B 01 02 00 00 04 06 0B 02 09 00 00 04 06 0B 01 02 00 00 00 01 0B 02");
  int error = 0;
  EXPECT_EQ(decode<Any>(1000, crafted, 4096, &error), nullptr);
  EXPECT_EQ(error, MSG_ERR_BAD_TYPE);
}

// Our encoder's own layout is read in one pass; any other order or form of
// the same fields (as another peer may write) gives the same values.
TEST_F(AnyXlators, OtherLayoutsDecodeTheSame) {
  struct Case {
    const char* name;
    const char* hex;
    int type;
    const char* want;  // toString of the result
  };
  const Case cases[] = {
      {"fields reversed", "09 00 00 03 E8 0B 03 02 00 00 00 00 0B 02 02 00 00 00 07 0B 01 02 00 00 00 03 0A", 1000, "7"},
      {"an extra field", "09 00 00 03 E8 0B 01 02 00 00 00 03 0B 09 06 00 00 00 00 0B 02 02 00 00 00 07 0A", 1000,
       "7"},
      {"int64 sent as int32", "09 00 00 03 E8 0B 01 02 00 00 00 04 0B 02 02 FF FF FF FF 0A", 1000, "-1"},
      {"attribute hint as int64",
       "09 00 00 03 E9 0B 01 0C 00 00 03 EB 09 00 00 03 EA 0B 01 06 00 00 00 01 6E 0B 02 03 00 00 00 01 00 00 00 02 "
       "0B 03 09 00 00 03 E8 0B 01 02 00 00 00 01 0A 0A 0D 0A",
       1001, "{ \"n\" : null }"},
      {"array elements out of order",
       "09 00 00 04 06 0B 03 08 0B 01 02 00 00 00 02 0B 02 09 00 00 03 E8 0B 01 02 00 00 00 03 0B 02 02 00 00 00 05 "
       "0A 0A",
       1030, "[ 5, null ]"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (size_t chunk : {2, 4096}) {
      auto back = decode<Translatable>(c.type, unhex(c.hex), chunk);
      ASSERT_NE(back, nullptr);
      char* text = back->toString(nullptr);
      EXPECT_STREQ(text, c.want);
      free(text);
    }
  }
}

TEST_F(AnyXlators, Registry) {
  EXPECT_EQ(MessageBase::findXlatorFn(1000), &AnyXlator);
  EXPECT_STREQ(MessageBase::findXlatorName(1030), "AnyArrayXlator");
  EXPECT_EQ(MessageBase::findXlatorFn(424242), nullptr);
  // A later registration of a type wins.
  MessageBase::registerObjectXlator(1000, &AnyArrayXlator, "other");
  EXPECT_EQ(MessageBase::findXlatorFn(1000), &AnyArrayXlator);
  MessageBase::registerObjectXlator(1000, &AnyXlator, "AnyXlator");
  EXPECT_EQ(MessageBase::findXlatorFn(1000), &AnyXlator);
  auto types = MessageBase::registeredTypes();
  EXPECT_NE(std::find(types.begin(), types.end(), 1003), types.end());
  MessageBase::unregisterAll();
  EXPECT_EQ(MessageBase::findXlatorFn(1000), nullptr);
  Message m(0);
  m.writeInt32(1);
  EXPECT_EQ(m.writeContainer(1003, nullptr), -1);
  EXPECT_EQ(m.getError(), MSG_ERR_NO_XLATOR);
  registerModelXlators();
}

}  // namespace
