#include "model/attributes.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "model/any.h"
#include "model/any_array.h"
#include "model/obj_ref.h"

namespace {

std::string text(char* s) {
  if (!s) return "<null>";
  std::string r(s);
  free(s);
  return r;
}

std::vector<std::string> names(const Attributes& a) {
  std::vector<std::string> out;
  for (auto* e = a.first(); e; e = e->getNext()) out.push_back(e->getName());
  return out;
}

TEST(Attributes, NewEntriesGoToTheHeadAndCopiesReverse) {
  Attributes a;
  a.setAttribute("a", 1);
  a.setAttribute("b", 2);
  EXPECT_EQ(names(a), (std::vector<std::string>{"b", "a"}));
  char** keys = a.getKeys();
  ASSERT_NE(keys, nullptr);
  EXPECT_STREQ(keys[0], "b");
  EXPECT_STREQ(keys[1], "a");
  EXPECT_EQ(keys[2], nullptr);
  a.freeKeys(keys);
  Attributes copy(a);
  EXPECT_EQ(names(copy), (std::vector<std::string>{"a", "b"}));
  EXPECT_TRUE(copy == a);
  EXPECT_NE(copy.getAttribute("a"), a.getAttribute("a"));
}

TEST(Attributes, DuplicateNamesAndReplacement) {
  Attributes a;
  a.setAttribute("x", "first");
  a.setAttribute("x", "second");
  EXPECT_EQ(a.size(), 2);
  EXPECT_STREQ(a.getAttribute("x")->getString(), "second");
  a.addOrSetAttribute("x", new Any(3), 7);
  EXPECT_EQ(a.size(), 2);
  EXPECT_EQ(a.getAttribute("x")->getInt32(), 3);
  EXPECT_EQ(a.getDisplayHint("x"), 0);  // the hint of the entry is kept
  EXPECT_STREQ(a.getStringAttribute("x"), "first");  // skips the int
  // The numeric setters replace; the string setter always adds.
  a.setAttribute("n", 1, 4);
  a.setAttribute("n", 2, 5);
  EXPECT_EQ(a.size(), 3);
  EXPECT_EQ(a.getAttribute("n")->getInt32(), 2);
  EXPECT_EQ(a.getDisplayHint("n"), 4);
  EXPECT_EQ(a.getDisplayHint("missing"), 0);
  EXPECT_EQ(a.getAttribute("missing"), nullptr);
}

TEST(Attributes, StringAttributeOfAnEntryWithoutValue) {
  Attributes a;
  a.setAttribute("s", "text");
  a.addAttribute("s", nullptr);
  EXPECT_EQ(a.getStringAttribute("s"), nullptr);
}

TEST(Attributes, ForeignValuesAreNeverDeleted) {
  Any foreign("mine");
  {
    Attributes a;
    a.setAttributeDontFree("f", &foreign);
    EXPECT_EQ(a.getAttribute("f"), &foreign);
    EXPECT_EQ(foreign.refCount, 0);
    a.addOrSetAttribute("f", new Any(1));  // forgets the foreign value
    EXPECT_EQ(a.getAttribute("f")->getInt32(), 1);
    a.setAttributeDontFree("g", &foreign);
  }
  EXPECT_STREQ(foreign.getString(), "mine");  // still alive (ASan would say)
}

TEST(Attributes, SharedValuesOutliveTheSet) {
  ObjRef keep;
  {
    Attributes a;
    a.setAttribute("v", "shared");
    keep.set(a.getAttribute("v"));
    EXPECT_EQ(a.getAttribute("v")->refCount, 2);
  }
  ASSERT_NE(keep.getTarget(), nullptr);
  EXPECT_STREQ(static_cast<Any*>(keep.getTarget())->getString(), "shared");
  EXPECT_EQ(keep.getTarget()->refCount, 1);
}

// Assigning in place must look, from outside, exactly like storing a new
// value through addOrSetAttribute: same entries, same order, same texts;
// only the Any that holds the value is kept.
TEST(Attributes, AssignInPlaceOnlyWhenOwnedAndUnshared) {
  Attributes a;
  a.setAttribute("n", 1);
  a.setAttribute("s", "old");
  a.addAttribute("s", new Any("newest"));  // duplicate: lookups find this one
  Any* stored = a.getAttribute("n");

  Any number(7);
  ASSERT_TRUE(a.assignInPlace("n", number));
  EXPECT_EQ(a.getAttribute("n"), stored);  // same Any, new contents
  EXPECT_EQ(stored->getInt32(), 7);
  EXPECT_EQ(number.getType(), ANY_NULL);  // moved out

  Any textValue("moved");
  ASSERT_TRUE(a.assignInPlace("s", textValue));
  EXPECT_STREQ(a.getAttribute("s")->getString(), "moved");
  EXPECT_EQ(textValue.getType(), ANY_NULL);
  // The older duplicate keeps its value; order and size are unchanged.
  EXPECT_EQ(names(a), (std::vector<std::string>{"s", "s", "n"}));
  EXPECT_STREQ(a.first()->getNext()->getValue()->getString(), "old");

  // A value counted by another reference is never written.
  ObjRef keep(a.getAttribute("n"));
  Any other(8);
  EXPECT_FALSE(a.assignInPlace("n", other));
  EXPECT_EQ(other.getInt32(), 8);  // untouched, for the caller's own store
  EXPECT_EQ(static_cast<Any*>(keep.getTarget())->getInt32(), 7);
  keep.set(nullptr);
  EXPECT_TRUE(a.assignInPlace("n", other));  // unshared again

  // A foreign value (setAttributeDontFree), a missing name and an entry
  // without a value are left to the ordinary store.
  Any foreign("mine");
  a.setAttributeDontFree("f", &foreign);
  a.addAttribute("empty", nullptr);
  Any attempt("theirs");
  EXPECT_FALSE(a.assignInPlace("f", attempt));
  EXPECT_FALSE(a.assignInPlace("missing", attempt));
  EXPECT_FALSE(a.assignInPlace("empty", attempt));
  EXPECT_FALSE(a.assignInPlace(nullptr, attempt));
  EXPECT_STREQ(attempt.getString(), "theirs");
  EXPECT_STREQ(foreign.getString(), "mine");
  EXPECT_EQ(foreign.refCount, 0);
  EXPECT_EQ(a.size(), 5);
}

TEST(Attributes, AssignInPlaceReleasesWhatTheOldValueHeld) {
  Attributes a;
  auto* inner = new Attributes();
  a.addAttribute("o", new Any(new ObjRef(inner)));
  ObjRef watch(inner);
  EXPECT_EQ(inner->refCount, 2);
  Any replacement(3.5);
  ASSERT_TRUE(a.assignInPlace("o", replacement));
  EXPECT_EQ(inner->refCount, 1);  // the set's reference went with the old value
  EXPECT_EQ(a.getAttribute("o")->getDouble(), 3.5);
}

// The same writes through assignInPlace (falling back to addOrSetAttribute)
// and through addOrSetAttribute alone give the same entries in the same
// order with the same texts, on a set large enough to be indexed and with a
// shared and a foreign entry.
TEST(Attributes, AssignInPlaceMatchesTheOrdinaryStore) {
  Any foreignA("f");
  Any foreignB("f");
  Attributes inPlace;
  Attributes ordinary;
  for (Attributes* set : {&inPlace, &ordinary}) {
    for (int i = 0; i < 20; i++) set->setAttribute(("k" + std::to_string(i)).c_str(), i);
    set->addAttribute("k3", new Any("dup"));
  }
  inPlace.setAttributeDontFree("foreign", &foreignA);
  ordinary.setAttributeDontFree("foreign", &foreignB);
  ObjRef shared(inPlace.getAttribute("k5"));
  for (int round = 0; round < 3; round++) {
    for (const char* name : {"k0", "k3", "k5", "k19", "foreign", "new"}) {
      Any value(std::string(name).append("-").append(std::to_string(round)).c_str());
      if (!inPlace.assignInPlace(name, value)) inPlace.addOrSetAttribute(name, new Any(value.getString()));
      ordinary.addOrSetAttribute(name, new Any(std::string(name).append("-").append(std::to_string(round)).c_str()));
    }
  }
  EXPECT_EQ(names(inPlace), names(ordinary));
  EXPECT_EQ(text(inPlace.toString(nullptr)), text(ordinary.toString(nullptr)));
  EXPECT_EQ(static_cast<Any*>(shared.getTarget())->getInt32(), 5);  // the sharer's copy stayed
  EXPECT_STREQ(foreignA.getString(), "f");
}

TEST(Attributes, TextForms) {
  Attributes empty;
  EXPECT_EQ(text(empty.toString(nullptr)), "{  }");
  Attributes one;
  one.setAttribute("n", 5);
  EXPECT_EQ(text(one.toString(nullptr)), "{ \"n\" : 5 }");
  Attributes several;
  several.setAttribute("s", "x\"y");
  auto* date = new Any(0LL);
  date->setSubtype(ANY_SUBTYPE_DATE);
  several.addAttribute("when", date);
  several.addAttribute("none", nullptr);
  auto* typed = new Any("12");
  typed->setSubtype(ANY_SUBTYPE_INT32_TEXT);
  several.addAttribute("t", typed);
  EXPECT_EQ(text(several.toString(nullptr)),
            "{ \"t\" : \"12\", \"t_mts\" : 6, \"none\" : null, "
            "\"when\" : \"1970-01-01T00:00:00.000Z\", \"when_mts\" : 13, \"s\" : \"x\\\"y\" }");
  // Nested containers render recursively.
  Attributes outer;
  auto* inner = new Attributes();
  inner->setAttribute("k", true);
  outer.addAttribute("in", new Any(new ObjRef(inner)));
  auto* list = new AnyArray(0);
  list->append(new Any(1));
  list->append(nullptr);
  outer.addAttribute("list", new Any(OBJ_ANYARRAY_ID, list));
  EXPECT_EQ(text(outer.toString(nullptr)), "{ \"list\" : [ 1, null ], \"in\" : { \"k\" : true } }");
}

TEST(Attributes, HTTPQuery) {
  Attributes a;
  a.setAttribute("a", "x y");
  a.addAttribute("b", new Any());
  EXPECT_EQ(text(a.toHTTPQuery()), "b=&a=x+y");
  Attributes b;
  b.setAttribute("n", 1.5);
  b.setAttribute("k/e y", "a&b=c~_-.");
  EXPECT_EQ(text(b.toHTTPQuery()), "k%2fe+y=a%26b%3dc~_-.&n=1.5");
  Attributes empty;
  EXPECT_EQ(empty.toHTTPQuery(), nullptr);
}

TEST(Attributes, FromURL) {
  std::unique_ptr<Attributes> a(Attributes::fromURL("http://h/p?a=1&b=2"));
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(names(*a), (std::vector<std::string>{"b", "?a"}));
  EXPECT_STREQ(a->getStringAttribute("?a"), "1");
  EXPECT_STREQ(a->getStringAttribute("b"), "2");
  EXPECT_EQ(a->getAttribute("b")->getSubtype(), ANY_SUBTYPE_PLAIN_STRING);
  std::unique_ptr<Attributes> raw(Attributes::fromURL("x?q=a%20b&e="));
  ASSERT_NE(raw, nullptr);
  EXPECT_STREQ(raw->getStringAttribute("?q"), "a%20b");
  EXPECT_STREQ(raw->getStringAttribute("e"), "");
  EXPECT_EQ(Attributes::fromURL("http://h/p"), nullptr);
  EXPECT_EQ(Attributes::fromURL("p?a=1&b"), nullptr);
}

TEST(Attributes, Equality) {
  Attributes a;
  a.setAttribute("x", 1);
  a.setAttribute("y", "s");
  Attributes b;
  b.setAttribute("y", "s");
  b.setAttribute("x", 1);
  EXPECT_TRUE(a == b);  // order does not matter
  b.setAttribute("x", 2);
  EXPECT_FALSE(a == b);
  Attributes c;
  c.setAttribute("y", "s");
  c.setAttribute("x", 1, 9);
  EXPECT_FALSE(a == c);  // hints count
  Attributes d;
  d.setAttribute("x", 1);
  EXPECT_FALSE(a == d);
  // Every right entry of the name must match.
  Attributes e;
  e.setAttribute("x", "1");
  e.setAttribute("x", "1");
  Attributes f;
  f.setAttribute("x", "1");
  f.setAttribute("x", "2");
  EXPECT_FALSE(e == f);
  bool equal = false;
  EXPECT_EQ(a.isEqual(nullptr, &equal, &a), 0);
  EXPECT_TRUE(equal);
}

TEST(Attributes, ScriptAccess) {
  Attributes a;
  a.setAttribute("k", "v");
  Any* result = nullptr;
  ASSERT_EQ(a.getField(nullptr, &result, "k"), 0);
  EXPECT_STREQ(result->getString(), "v");
  EXPECT_NE(result, a.getAttribute("k"));
  delete result;
  EXPECT_EQ(a.getField(nullptr, &result, "missing"), 50);
  EXPECT_EQ(a.setField(nullptr, "k", new Any(4)), 0);
  EXPECT_EQ(a.getAttribute("k")->getInt32(), 4);
  Any key("k");
  ASSERT_EQ(a.getArrayElement(nullptr, &result, &key), 0);
  EXPECT_EQ(result->getInt32(), 4);
  delete result;
  Any index(0);
  EXPECT_EQ(a.getArrayElement(nullptr, &result, &index), 24);
  EXPECT_EQ(a.setArrayElement(nullptr, &index, new Any(1)), 24);  // value taken over
  EXPECT_EQ(a.setArrayElement(nullptr, &key, new Any(5)), 0);
  EXPECT_EQ(a.getAttribute("k")->getInt32(), 5);
  Any* undefined = a.getAttributeOrUndefined("none");
  EXPECT_TRUE(undefined->isUndefined());
  delete undefined;
  a.clear();
  EXPECT_EQ(a.size(), 1);  // clear keeps the entries
}

TEST(Attributes, LargeSetsKeepOrderAndFindTheNewest) {
  Attributes a;
  for (int i = 0; i < 1000; i++) a.setAttribute(("k" + std::to_string(i)).c_str(), "old");
  for (int i = 0; i < 1000; i += 10) a.setAttribute(("k" + std::to_string(i)).c_str(), "new");
  a.appendAttribute("tail", new Any(1));
  a.appendAttribute("k5", new Any(2));  // older than the existing k5
  EXPECT_EQ(a.size(), 1102);
  EXPECT_STREQ(a.getStringAttribute("k0"), "new");
  EXPECT_STREQ(a.getStringAttribute("k5"), "old");
  EXPECT_EQ(a.getAttribute("tail")->getInt32(), 1);
  EXPECT_EQ(a.getAttribute("nothere"), nullptr);
  EXPECT_EQ(names(a).front(), "k990");
  EXPECT_EQ(names(a).back(), "k5");
  a.addOrSetAttribute("k990", new Any(7));
  EXPECT_EQ(a.getAttribute("k990")->getInt32(), 7);
  // The copy runs backwards, so its newest k990 is the oldest one here.
  Attributes copy(a);
  EXPECT_EQ(copy.size(), a.size());
  EXPECT_STREQ(copy.getStringAttribute("k990"), "old");
  EXPECT_EQ(names(copy).front(), "k5");
  // Duplicates with different values make a set unequal even to itself.
  EXPECT_FALSE(copy == a);
  Attributes unique;
  for (int i = 0; i < 100; i++) unique.setAttribute(("u" + std::to_string(i)).c_str(), i);
  Attributes uniqueCopy(unique);
  EXPECT_TRUE(uniqueCopy == unique);
  uniqueCopy.setAttribute("u50", -1);
  EXPECT_FALSE(uniqueCopy == unique);
}

// Entries live in blocks shared with their names: names of every length,
// a reserved block filled exactly and then overrun, and lookups before and
// after the set grows past the size that gets an index.
TEST(Attributes, EntriesOfEveryNameLengthInSharedBlocks) {
  Attributes a;
  std::vector<std::string> added;
  a.reserve(3, 3);
  for (int i = 0; i < 3; i++) {
    added.push_back(std::string(1, (char)('a' + i)));
    a.appendAttribute(added.back().c_str(), new Any(i));
  }
  EXPECT_EQ(a.getAttribute("b")->getInt32(), 1);  // small: no index yet
  for (int i = 3; i < 60; i++) {
    // Lengths 0 to 56, and one far larger than any block grown so far.
    added.push_back(i == 40 ? std::string(20000, 'L') : std::string((size_t)(i - 3), 'x') + std::to_string(i));
    if (i % 2) {
      a.appendAttribute(added.back().c_str(), new Any(i));
    } else {
      a.setAttributeDontFree(added.back().c_str(), nullptr);
      a.addOrSetAttribute(added.back().c_str(), new Any(i));
      added.insert(added.begin(), added.back());
      added.pop_back();
    }
    if (i == 20) {
      EXPECT_EQ(a.getAttribute("b")->getInt32(), 1);  // builds the index
    }
  }
  a.appendAttribute(nullptr, new Any(99));
  added.push_back("");
  EXPECT_EQ(names(a), added);
  EXPECT_EQ(a.getAttribute(std::string(20000, 'L').c_str())->getInt32(), 40);
  EXPECT_EQ(a.getAttribute("")->getInt32(), 99);
  for (const std::string& name : added) EXPECT_NE(a.getAttribute(name.c_str()), nullptr) << name;
  Attributes copy(a);
  std::vector<std::string> reversed(added.rbegin(), added.rend());
  EXPECT_EQ(names(copy), reversed);
  EXPECT_TRUE(copy == a);
}

TEST(AnyArray, BasicsAndText) {
  AnyArray empty(0);
  EXPECT_EQ(empty.size(), 0);
  EXPECT_EQ(text(empty.toString(nullptr)), "[  ]");
  Any* result = nullptr;
  ASSERT_EQ(empty.getField(nullptr, &result, "length"), 0);
  EXPECT_EQ(result->getInt32(), 0);
  delete result;
  AnyArray a(2);
  EXPECT_EQ(text(a.toString(nullptr)), "[ null, null ]");
  EXPECT_EQ(a.set(0, new Any("s")), 0);
  a.append(new Any(2.5));
  EXPECT_EQ(text(a.toString(nullptr)), "[ \"s\", null, 2.5 ]");
  AnyArray copy(a);
  EXPECT_TRUE(copy == a);
  EXPECT_NE(copy.get(0), a.get(0));
  EXPECT_EQ(copy.get(1), nullptr);
  EXPECT_EQ(a.set(1, new Any(1)), 0);
  EXPECT_FALSE(copy == a);
}

TEST(AnyArray, ElementAccess) {
  AnyArray a(0);
  for (int i = 0; i < 3; i++) a.append(new Any(i * 10));
  struct Case {
    Any index;
    int status;
    const char* want;  // text of the result
  };
  Case cases[] = {
      {Any(1), 0, "10"},
      {Any(2LL), 0, "20"},
      {Any(-1), 0, "undefined"},
      {Any(3), 0, "undefined"},
      {Any(0x100000001LL), 0, "10"},  // low 32 bits
      {Any(1.0), 24, "<null>"},
      {Any("1"), 24, "<null>"},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.want);
    Any* result = nullptr;
    EXPECT_EQ(a.getArrayElement(nullptr, &result, &c.index), c.status);
    EXPECT_EQ(result ? text(result->toString(nullptr)) : "<null>", c.want);
    delete result;
  }
}

TEST(AnyArray, WritesOutsideTheArrayAreRefused) {
  AnyArray a(2);
  Any zero(0), two(2), minus(-1), wide(1LL);
  EXPECT_EQ(a.setArrayElement(nullptr, &zero, new Any(5)), 0);
  EXPECT_EQ(a.get(0)->getInt32(), 5);
  EXPECT_EQ(a.setArrayElement(nullptr, &zero, new Any(6)), 0);  // old element deleted
  EXPECT_EQ(a.setArrayElement(nullptr, &two, new Any(1)), 56);
  EXPECT_EQ(a.setArrayElement(nullptr, &minus, new Any(1)), 56);
  EXPECT_EQ(a.setArrayElement(nullptr, &wide, new Any(1)), 24);
  EXPECT_EQ(a.size(), 2);
  AnyArray none(0);
  EXPECT_EQ(none.setArrayElement(nullptr, &zero, new Any(1)), 56);
}

TEST(AnyArray, ClearAndTake) {
  AnyArray a(0);
  a.append(new Any("x"));
  std::unique_ptr<Any> taken(a.take(0));
  EXPECT_STREQ(taken->getString(), "x");
  EXPECT_EQ(a.get(0), nullptr);
  a.clear();
  EXPECT_EQ(a.size(), 0);
  a.append(nullptr);
  EXPECT_EQ(a.size(), 1);
}

}  // namespace
