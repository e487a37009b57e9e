#include "model/any.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "foundation/diagnostics.h"
#include "model/any_array.h"
#include "model/attributes.h"
#include "model/obj_ref.h"

namespace {

// The text of a toString-like call, freed.
std::string text(char* s) {
  if (!s) return "<null>";
  std::string r(s);
  free(s);
  return r;
}

std::string str(Any& a) { return text(a.toString(nullptr)); }

std::unique_ptr<Any> typedString(const char* s, int subtype) {
  auto a = std::make_unique<Any>(s);
  a->setSubtype(subtype);
  return a;
}

TEST(Any, TextForms) {
  struct Case {
    std::unique_ptr<Any> value;
    const char* want;
  };
  auto date = std::make_unique<Any>(0LL);
  date->setSubtype(ANY_SUBTYPE_DATE);
  auto lateDate = std::make_unique<Any>(1700000000123LL);
  lateDate->setSubtype(ANY_SUBTYPE_DATE);
  auto earlyDate = std::make_unique<Any>(-1LL);
  earlyDate->setSubtype(ANY_SUBTYPE_DATE);
  Case cases[] = {
      {std::make_unique<Any>(), "null"},
      {std::unique_ptr<Any>(Any::createUndefined()), "undefined"},
      {std::make_unique<Any>(true), "true"},
      {std::make_unique<Any>(false), "false"},
      {std::make_unique<Any>(-42), "-42"},
      {std::make_unique<Any>(INT_MIN), "-2147483648"},
      {std::make_unique<Any>(LLONG_MAX), "9223372036854775807"},
      {std::make_unique<Any>(1.5f), "1.5"},
      {std::make_unique<Any>(2.0), "2.0"},
      {std::make_unique<Any>(100.0), "100.0"},
      {std::make_unique<Any>(-0.25), "-0.25"},
      {std::make_unique<Any>(1.0 / 3), "0.333333"},
      {std::make_unique<Any>(1e20), "100000000000000000000.0"},
      {std::move(date), "\"1970-01-01T00:00:00.000Z\""},
      {std::move(lateDate), "\"2023-11-14T22:13:20.123Z\""},
      {std::move(earlyDate), "\"1969-12-31T23:59:59.999Z\""},
      {std::make_unique<Any>("plain"), "\"plain\""},
      {std::make_unique<Any>(static_cast<const char*>(nullptr)), "<null>"},
      {std::make_unique<Any>(ANY_CHAR, reinterpret_cast<Translatable*>(strdup("x"))), "'x'"},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.want);
    EXPECT_EQ(str(*c.value), c.want);
  }
}

TEST(Any, HugeDoublesDoNotOverrunTheirText) {
  Any big(1.7976931348623157e308);
  std::string s = str(big);
  EXPECT_EQ(s.size(), 311u);  // 309 digits, ".0"
  EXPECT_EQ(s.substr(s.size() - 2), ".0");
}

// Floating values print as the C library's "%f" does (then trimmed), alone
// and as items of a container, which writes its items in place.
TEST(Any, FloatingTextsMatchTheCLibrary) {
  auto expected = [](double v) {
    char buffer[400];
    snprintf(buffer, sizeof buffer, "%f", v);
    std::string s(buffer);
    size_t point = s.find('.');
    if (point != std::string::npos) {
      size_t end = s.size();
      while (end > point + 2 && s[end - 1] == '0') end--;
      s.resize(end);
    }
    return s;
  };
  std::vector<double> values = {0.0, -0.0, 0.5, 2.5e-7, 5e-7, 1e-6, 0.1234565, 0.1234575, 1e15 + 0.3, 1e300,
                                -1.7976931348623157e308, 4.9e-324, INFINITY, -INFINITY, NAN, -NAN};
  unsigned seed = 7;
  for (int i = 0; i < 2000; i++) {
    seed = seed * 1103515245u + 12345u;
    double mantissa = (double)(seed >> 4) / (double)(1u << 28);
    values.push_back((i % 2 ? -1 : 1) * std::ldexp(mantissa, (int)(seed % 80) - 40));
  }
  AnyArray array(0);
  Attributes object;
  std::string arrayText = "[ ";
  for (size_t i = 0; i < values.size(); i++) {
    double v = values[i];
    EXPECT_EQ(text(Any(v).toString(nullptr)), expected(v)) << v;
    EXPECT_EQ(text(Any((float)v).toString(nullptr)), expected((double)(float)v)) << v;
    array.append(new Any(v));
    arrayText += (i ? ", " : "") + expected(v);
  }
  EXPECT_EQ(text(array.toString(nullptr)), arrayText + " ]");
  object.appendAttribute("f", new Any(2.5f));
  object.appendAttribute("n", new Any((long long)LLONG_MIN));
  object.appendAttribute("i", new Any(INT_MIN));
  object.appendAttribute("s", new Any("a\"b"));
  object.appendAttribute("u", Any::createUndefined());
  object.appendAttribute("e", nullptr);
  EXPECT_EQ(text(object.toString(nullptr)),
            "{ \"f\" : 2.5, \"n\" : -9223372036854775808, \"i\" : -2147483648, \"s\" : \"a\\\"b\", "
            "\"u\" : undefined, \"e\" : null }");
}

TEST(Any, EscapeJSONStringByCodePoint) {
  struct Case {
    const char* in;
    const char* want;
  };
  const Case cases[] = {
      {"a\"\t\xC3\xA9", "\"a\\\"\\t\\u00E9\""},
      {"back\\slash", "\"back\\\\slash\""},
      {"\x07\x08\x0A\x0C\x0D", "\"\\a\\b\\n\\f\\r\""},
      {"\x0B\x1F\x01\x7F", "\"\\xB\\x1F\\x1\\x7F\""},
      {"\xE2\x82\xAC", "\"\\u20AC\""},            // euro sign, 3 bytes
      {"\xF0\x9F\x98\x80", "\"\\U0001F600\""},    // emoji, 4 bytes
      {"\xEF\xBF\xBF", "\"\\uFFFF\""},
      {"", "\"\""},
      {"~ok 123", "\"~ok 123\""},
      // Bytes that start no well-formed sequence stand for themselves.
      {"\xC3", "\"\\u00C3\""},
      {"\xFF\x41", "\"\\u00FFA\""},
      {"\xE2\x82", "\"\\u00E2\\u0082\""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.in);
    Any a(c.in);
    EXPECT_EQ(text(a.escapeJSONString()), c.want);
    EXPECT_EQ(str(a), c.want);
  }
  Any number(5);
  EXPECT_EQ(number.escapeJSONString(), nullptr);
}

TEST(Any, ToJSONQuotesStringsWithoutEscaping) {
  Any s("a\"b");
  EXPECT_EQ(text(s.toJSON(nullptr)), "\"a\"b\"");
  Any n(3);
  EXPECT_EQ(text(n.toJSON(nullptr)), "3");
  auto* attrs = new Attributes();
  attrs->setAttribute("k", "v");
  Any ref(new ObjRef(attrs));
  EXPECT_EQ(text(ref.toJSON(nullptr)), "{ \"k\" : \"v\" }");
  Any empty(new ObjRef());
  EXPECT_EQ(text(empty.toJSON(nullptr)), "null");
  EXPECT_EQ(str(empty), "null");
}

TEST(Any, ConvertToInt64FromText) {
  struct Case {
    const char* in;
    bool ok;
    long long want;
  };
  const Case cases[] = {
      {"12", true, 12},
      {" -1.5k ", true, -1536},
      {"1.5K", true, 1536},
      {"-2m", true, -2097152},
      {"12 x", true, 12},
      {"10Q", true, 10},
      {"1g", true, 1LL << 30},
      {"1t", true, 1LL << 40},
      {"2P", true, 2LL << 50},
      {"3e", true, 3LL << 60},
      {"3K4", false, 0},
      {"1 2", false, 0},
      {"abc", false, 0},
      {"", false, 0},
      {"-", false, 0},
      {"9223372036854775807", true, LLONG_MAX},
      {"-9223372036854775808", true, LLONG_MIN},
      {"9223372036854775808", false, 0},
      {"8E", false, 0},
      {"99999999999999999999999", false, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.in);
    auto a = typedString(c.in, ANY_SUBTYPE_INT64_TEXT);
    long long out = 77;
    EXPECT_EQ(a->convertToInt64(out), c.ok);
    EXPECT_EQ(out, c.ok ? c.want : 77);  // untouched on failure
  }
}

TEST(Any, ConvertToInt32FromText) {
  struct Case {
    const char* in;
    bool ok;
    int want;
  };
  const Case cases[] = {
      {"1g", true, 1},             // G is no unit for 32 bits
      {"1t", true, 1073741824},    // and T is 2^30
      {"2k", true, 2048},
      {"-3M", true, -3145728},
      {"2t", false, 0},            // 2^31 does not fit
      {"-2t", true, INT_MIN},
      {"0.5k", true, 512},
      {"3K4", false, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.in);
    auto a = typedString(c.in, ANY_SUBTYPE_INT32_TEXT);
    int out = 77;
    EXPECT_EQ(a->convertToInt32(out), c.ok);
    EXPECT_EQ(out, c.ok ? c.want : 77);
  }
}

TEST(Any, ConversionsByKind) {
  long long l = 5;
  int i = 5;
  double d = 5;
  bool b = false;
  Any i32(7);
  EXPECT_TRUE(i32.convertToInt64(l));
  EXPECT_EQ(l, 7);
  Any i64(1LL << 40);
  EXPECT_FALSE(i64.convertToInt32(i));
  EXPECT_EQ(i, 5);
  // A plain string is no number for the integer conversions.
  Any plain("12");
  EXPECT_FALSE(plain.convertToInt64(l));
  EXPECT_FALSE(plain.convertToInt32(i));
  // Absent values succeed and change nothing.
  Any absent(3.5);
  absent.setSubtype(ANY_SUBTYPE_ABSENT);
  auto absentText = typedString("x", ANY_SUBTYPE_ABSENT);
  i = 9;
  EXPECT_TRUE(absentText->convertToInt32(i));
  EXPECT_EQ(i, 9);
  d = 9;
  EXPECT_TRUE(absent.convertToDouble(d));
  EXPECT_EQ(d, 9);
  EXPECT_TRUE(absentText->convertToBool(b));
  EXPECT_TRUE(absentText->convertToEnum(i));
  // Booleans.
  struct BoolCase {
    const char* in;
    bool want;
  };
  const BoolCase bools[] = {{"YES", true}, {"true", true}, {"1", true}, {"1.0", false}, {"no", false}, {"", false}};
  for (const auto& c : bools) {
    SCOPED_TRACE(c.in);
    auto a = typedString(c.in, ANY_SUBTYPE_BOOL_TEXT);
    bool out = !c.want;
    EXPECT_TRUE(a->convertToBool(out));
    EXPECT_EQ(out, c.want);
  }
  EXPECT_FALSE(plain.convertToBool(b));
  Any t(true);
  EXPECT_TRUE(t.convertToBool(b));
  EXPECT_TRUE(b);
  EXPECT_TRUE(t.convertToDouble(d));
  EXPECT_EQ(d, 1.0);
  // Enumerations read a leading decimal number.
  auto e = typedString("  42 apples", ANY_SUBTYPE_ENUM_TEXT);
  EXPECT_TRUE(e->convertToEnum(i));
  EXPECT_EQ(i, 42);
  // Strings.
  char* s = nullptr;
  EXPECT_TRUE(plain.convertToString(s));
  EXPECT_EQ(text(s), "12");
  auto typed = typedString("12", ANY_SUBTYPE_INT32_TEXT);
  s = nullptr;
  EXPECT_FALSE(typed->convertToString(s));
  EXPECT_EQ(s, nullptr);
  EXPECT_FALSE(i32.convertToString(s));
}

TEST(Any, ConvertToDoubleFromText) {
  struct Case {
    const char* in;
    bool ok;
    double want;
  };
  const Case cases[] = {
      {".5", true, 0.5}, {"-.5", true, -0.5}, {"abc", false, 0}, {"   ", true, 0.0},
      {"2.5e3x", true, 2500}, {" 7", true, 7}, {"-", false, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.in);
    Any a(c.in);
    double out = 99;
    EXPECT_EQ(a.convertToDouble(out), c.ok);
    EXPECT_EQ(out, c.ok ? c.want : 99);
  }
}

TEST(Any, Equality) {
  EXPECT_TRUE(Any(3) == Any(3LL));
  EXPECT_TRUE(Any(3LL) == Any(3));
  EXPECT_TRUE(Any(0.5f) == Any(0.5));
  EXPECT_FALSE(Any(3) == Any(3.0));
  EXPECT_FALSE(Any(std::nan("")) == Any(std::nan("")));
  EXPECT_TRUE(Any() == Any());
  EXPECT_FALSE(Any() == *std::unique_ptr<Any>(Any::createUndefined()));
  auto a = typedString("x", 1);
  auto b = typedString("x", 4);
  EXPECT_FALSE(*a == *b);
  EXPECT_TRUE(Any("x") == Any("x"));
  EXPECT_FALSE(Any("x") == Any(static_cast<const char*>(nullptr)));
  auto d1 = std::make_unique<Any>(5LL);
  d1->setSubtype(ANY_SUBTYPE_DATE);
  EXPECT_TRUE(*d1 == Any(5));  // differing subtypes fall to the numeric pair
  // Held objects are never equal; references compare their targets.
  auto* x = new Attributes();
  x->setAttribute("k", 1);
  auto* y = new Attributes();
  y->setAttribute("k", 1);
  Any heldX(OBJ_ATTRIBUTES_ID, new Attributes(*x));
  Any heldY(OBJ_ATTRIBUTES_ID, new Attributes(*y));
  EXPECT_FALSE(heldX == heldY);
  Any refX(new ObjRef(x));
  Any refY(new ObjRef(y));
  EXPECT_TRUE(refX == refY);
  y->setAttribute("k", 2);
  EXPECT_FALSE(refX == refY);
}

TEST(Any, HashValues) {
  EXPECT_EQ(Any(true).hashValue(), 1);
  EXPECT_EQ(Any(-5).hashValue(), -5);
  EXPECT_EQ(Any(0x100000002LL).hashValue(), 3);  // low word 2 XOR high word 1
  EXPECT_EQ(Any(-1LL).hashValue(), (long long)(0xFFFFFFFFULL ^ 0xFFFFFFFFFFFFFFFFULL));
  EXPECT_EQ(Any(2.9).hashValue(), 2);
  EXPECT_EQ(Any(-1.5).hashValue(), -1);
  EXPECT_EQ(Any(1e19).hashValue(), (long long)10000000000000000000ULL);
  EXPECT_EQ(Any(std::nan("")).hashValue(), (long long)0x8000000000000000ULL);
  // djb2 with signed bytes.
  EXPECT_EQ(Any("a").hashValue(), 5381 * 33 + 'a');
  EXPECT_EQ(Any("\xE9").hashValue(), 5381 * 33 - 23);
  EXPECT_EQ(Any(static_cast<const char*>(nullptr)).hashValue(), 0);
  EXPECT_EQ(Any().hashValue(), 0);
}

TEST(Any, TypeAndClassNames) {
  struct Case {
    std::unique_ptr<Any> value;
    const char* type;
    const char* cls;
  };
  auto date = std::make_unique<Any>(1LL);
  date->setSubtype(ANY_SUBTYPE_DATE);
  auto date32 = std::make_unique<Any>(1);
  date32->setSubtype(ANY_SUBTYPE_DATE);
  Case cases[] = {
      {std::make_unique<Any>(), "object", "null"},
      {std::unique_ptr<Any>(Any::createUndefined()), "undefined", "undefined"},
      {std::make_unique<Any>(true), "boolean", "boolean"},
      {std::make_unique<Any>(1), "number", "int32"},
      {std::make_unique<Any>(1LL), "number", "int64"},
      {std::move(date), "date", "date"},
      {std::move(date32), "number", "date"},
      {std::make_unique<Any>(1.0f), "number", "float"},
      {std::make_unique<Any>(1.0), "number", "double"},
      {std::make_unique<Any>("s"), "string", "string"},
      {std::make_unique<Any>(ANY_CHAR, reinterpret_cast<Translatable*>(strdup("c"))), "string", "char"},
      {std::make_unique<Any>(OBJ_ANYARRAY_ID, new AnyArray(0)), "object", "array"},
      {std::make_unique<Any>(new ObjRef(new Attributes())), "object", "object"},
      {std::make_unique<Any>(OBJ_ATTRIBUTES_ID, new Attributes()), "object", "nodef"},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.cls);
    EXPECT_STREQ(c.value->getTypeOf(nullptr), c.type);
    EXPECT_STREQ(c.value->getClassOf(nullptr), c.cls);
  }
}

TEST(Any, FieldsOfPlainValues) {
  Any* result = nullptr;
  Any s("h\xC3\xA9llo");
  ASSERT_EQ(s.getField(nullptr, &result, "length"), 0);
  ASSERT_NE(result, nullptr);
  EXPECT_EQ(result->getInt32(), 6);  // bytes, not characters
  delete result;
  Any n;
  EXPECT_EQ(n.getField(nullptr, &result, "x"), 123);
  EXPECT_EQ(result, nullptr);
  Any i(1);
  EXPECT_EQ(i.getField(nullptr, &result, "x"), 50);
  // Without a parser there is no prototype: undefined.
  ASSERT_EQ(i.getField(nullptr, &result, "prototype"), 0);
  EXPECT_TRUE(result->isUndefined());
  delete result;
}

TEST(Any, CopiesAreDeepAndReferencesShare) {
  auto* attrs = new Attributes();
  Any ref(new ObjRef(attrs));
  {
    Any copy(ref);
    EXPECT_EQ(copy.getRefTarget(), attrs);
    EXPECT_EQ(attrs->refCount, 2);
  }
  EXPECT_EQ(attrs->refCount, 1);
  Any s("text");
  Any sc(s);
  EXPECT_NE(sc.getString(), s.getString());
  EXPECT_STREQ(sc.getString(), "text");
  auto* array = new AnyArray(0);
  array->append(new Any(1));
  array->append(nullptr);
  Any held(OBJ_ANYARRAY_ID, array);
  Any heldCopy(held);
  ASSERT_NE(heldCopy.getHeldObject(), nullptr);
  EXPECT_NE(heldCopy.getHeldObject(), array);
  EXPECT_TRUE(held == heldCopy);
  // Anything else held directly is copied through the wire encoding; with no
  // codec installed the copy holds nothing.
  Any other(OBJ_ATTRIBUTES_ID, new Attributes());
  Any otherCopy(other);
  EXPECT_EQ(otherCopy.getType(), OBJ_ATTRIBUTES_ID);
  EXPECT_EQ(otherCopy.getHeldObject(), nullptr);
  Any bad(0, nullptr);
  Any badCopy(bad);
  EXPECT_EQ(badCopy.getType(), 0);
}

TEST(Any, CreateReference) {
  auto* attrs = new Attributes();
  Any ref(new ObjRef(attrs));
  std::unique_ptr<Any> r(ref.createReference());
  EXPECT_EQ(r->getRefTarget(), attrs);
  EXPECT_EQ(attrs->refCount, 2);
  Any held(OBJ_ANYARRAY_ID, new AnyArray(1));
  std::unique_ptr<Any> h(held.createReference());
  EXPECT_EQ(h->getType(), OBJ_ANYARRAY_ID);
  EXPECT_EQ(h->getHeldObject(), nullptr);
  auto date = std::make_unique<Any>(9LL);
  date->setSubtype(ANY_SUBTYPE_DATE);
  std::unique_ptr<Any> d(date->createReference());
  EXPECT_TRUE(d->isDate());
  EXPECT_EQ(d->getInt64(), 9);
}

TEST(Any, CreateForVariableAssign) {
  std::unique_ptr<Any> u(Any::createUndefined());
  std::unique_ptr<Any> a(Any::createForVariableAssign(u.get()));
  EXPECT_TRUE(a->isNull());
  auto date = std::make_unique<Any>(9LL);
  date->setSubtype(ANY_SUBTYPE_DATE);
  a.reset(Any::createForVariableAssign(date.get()));
  EXPECT_EQ(a->getType(), ANY_INT64);
  EXPECT_EQ(a->getSubtype(), 0);
  Any c(ANY_CHAR, reinterpret_cast<Translatable*>(strdup("z")));
  a.reset(Any::createForVariableAssign(&c));
  EXPECT_EQ(a->getType(), ANY_STRING);
  EXPECT_EQ(a->getSubtype(), 1);
  EXPECT_STREQ(a->getString(), "z");
  Any held(OBJ_ANYARRAY_ID, new AnyArray(0));
  EXPECT_EQ(Any::createForVariableAssign(&held), nullptr);
  Any bad(0, nullptr);
  EXPECT_EQ(Any::createForVariableAssign(&bad), nullptr);
}

TEST(Any, TakeFromMovesAndLeavesTheSourceEmpty) {
  Any source("moved");
  Any target(5);
  target.takeFrom(source);
  EXPECT_STREQ(target.getString(), "moved");
  EXPECT_EQ(source.getType(), ANY_STRING);
  EXPECT_EQ(source.getString(), nullptr);
  EXPECT_EQ(str(source), "<null>");
  // Held objects move too: nothing is lost, nothing is owned twice.
  Any array(OBJ_ANYARRAY_ID, new AnyArray(2));
  Any to;
  to.takeFrom(array);
  ASSERT_NE(to.getHeldObject(), nullptr);
  EXPECT_EQ(array.getHeldObject(), nullptr);
  // Opaque bytes move as well.
  Any opaque;
  opaque.adoptOpaque(4000, strdup("xyz"), 3);
  Any to2;
  to2.takeFrom(opaque);
  EXPECT_TRUE(to2.isOpaque());
  EXPECT_EQ(to2.getOpaqueLength(), 3u);
  EXPECT_FALSE(opaque.isOpaque());
}

TEST(Any, SetSignAndClear) {
  Any i(5);
  i.setSign(-1);
  EXPECT_EQ(i.getInt32(), -5);
  Any d(2.5);
  d.setSign(-1);
  EXPECT_EQ(d.getDouble(), -2.5);
  Any s("x");
  s.setSign(-1);
  EXPECT_STREQ(s.getString(), "x");
  s.setSubtype(7);
  s.clear();
  EXPECT_EQ(s.getTypeWord(), (uint32_t)ANY_NULL);
  s.set(4);
  EXPECT_EQ(s.getType(), ANY_INT32);
}

TEST(Any, OpaqueValuesWithoutACodecStayUndecoded) {
  Any opaque;
  opaque.adoptOpaque(4000, strdup("abc"), 3);
  Translatable* object = nullptr;
  EXPECT_FALSE(opaque.getObject(&object));
  EXPECT_TRUE(opaque.isOpaque());
  EXPECT_STREQ(opaque.getTypeOf(nullptr), "nativeJava");
  Any copy(opaque);
  EXPECT_TRUE(copy.isOpaque());
  EXPECT_EQ(memcmp(copy.getOpaqueBytes(), "abc", 3), 0);
  Any* result = nullptr;
  EXPECT_EQ(opaque.getField(nullptr, &result, "x"), 16);
  EXPECT_FALSE(opaque == copy);
}

TEST(AnyDeathTest, TypeCodesOutOfRangeAreFatal) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(
      {
        _orvanex_assert_enabled = true;
        Any a;
        a.setSubtype(0xFFFF);
      },
      testing::_);
}

}  // namespace

namespace {

// Asking the cache ahead for what a value points to reads nothing it should
// not (an empty reference, an opaque value, a scalar) and changes nothing.
TEST(Any, PrefetchHeldChangesNothing) {
  std::vector<std::unique_ptr<Any>> values;
  values.emplace_back(new Any());
  values.emplace_back(new Any("text"));
  values.emplace_back(new Any(static_cast<ObjRef*>(nullptr)));
  values.emplace_back(new Any(new ObjRef()));
  values.emplace_back(new Any(new ObjRef(new Attributes())));
  values.emplace_back(new Any(OBJ_ANYARRAY_ID, new AnyArray(3)));
  values.emplace_back(new Any());
  values.back()->adoptOpaque(4000, strdup("xyz"), 3);
  for (auto& value : values) {
    Any before(*value);
    value->prefetchHeld();
    EXPECT_EQ(value->getTypeWord(), before.getTypeWord());
    EXPECT_EQ(value->isOpaque(), before.isOpaque());
  }
  EXPECT_STREQ(values[1]->getString(), "text");
  EXPECT_EQ(values[6]->getOpaqueLength(), 3u);
}

}  // namespace
