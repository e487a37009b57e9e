#include "model/dir_name.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "model/any.h"
#include "model/dir_name_entry.h"

namespace {

std::string text(char* s) {
  if (!s) return "<null>";
  std::string r(s);
  free(s);
  return r;
}

TEST(DirNameEntry, Parse) {
  struct Case {
    const char* in;
    int error;
    const char* printed;  // toString of the result
  };
  const std::string longName = std::string(256, 'n') + ":";
  const std::string maxName = std::string(255, 'n') + ":";
  const std::string longPiece = "a:x=" + std::string(254, 'v');  // attribute piece of 256 bytes
  const std::string maxPiece = "a:x=" + std::string(253, 'v');   // of 255 bytes
  const Case cases[] = {
      {"a:", 0, "a:"},
      {"host:name=alpha,port=22", 0, "host:name=\"alpha\",port=\"22\""},
      {"a:x=\"p,q\"", 0, "a:x=\"p,q\""},
      {"\"a:b\":x=\"1=2\"", 0, "a:b:x=\"1=2\""},
      {"<expr>:", 0, "expr:"},
      {"a:x=<y+1>", 0, "a:x=<y+1>"},
      {"a:x=1,", 0, "a:x=\"1\""},
      {"a:x=", 0, "a:x=\"\""},
      {"a", 4, nullptr},
      {"", 4, nullptr},
      {"a:x", 5, nullptr},
      {"a:,x=1", 5, nullptr},
      {"a:x=\"1", 1, nullptr},
      {"\"a:", 1, nullptr},
      {"<a:", 8, nullptr},
      {"<:", 8, nullptr},
      {"a:x=<y", 8, nullptr},
      {longName.c_str(), 3, nullptr},
      {maxName.c_str(), 0, maxName.c_str()},
      {longPiece.c_str(), 3, nullptr},
      {maxPiece.c_str(), 0, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.in);
    int error = -1;
    std::unique_ptr<DirNameEntry> e(DirNameEntry::createFromString(c.in, &error));
    EXPECT_EQ(error, c.error);
    EXPECT_EQ(e != nullptr, c.error == 0);
    if (e && c.printed) {
      EXPECT_EQ(text(e->toString(nullptr)), c.printed);
    }
  }
  EXPECT_EQ(DirNameEntry::createFromString("a", nullptr), nullptr);  // null error pointer is fine
}

TEST(DirNameEntry, ParsedParts) {
  int error;
  std::unique_ptr<DirNameEntry> e(DirNameEntry::createFromString("<n>:x=\"p,q\",y=<z>,x=2", &error));
  ASSERT_NE(e, nullptr);
  EXPECT_STREQ(e->getName(), "n");
  EXPECT_TRUE(e->isNameExpression());
  EXPECT_EQ(e->getAttributeCount(), 3);
  EXPECT_STREQ(e->getAttributeName(1), "y");
  EXPECT_TRUE(e->firstAttribute()->getNext()->isExpression());
  EXPECT_STREQ(e->getStringAttributeValue("x"), "p,q");  // the first x
  EXPECT_EQ(e->getAttributeValue(3), nullptr);
  EXPECT_EQ(e->getAttributeValue(-1), nullptr);
  EXPECT_EQ(e->getAttributeValue("nope"), nullptr);
  EXPECT_EQ(e->getAttributeValue(0)->getSubtype(), ANY_SUBTYPE_PLAIN_STRING);
}

TEST(DirNameEntry, NonStringValuesPrintAsNull) {
  DirNameEntry e("host");
  e.setAttribute("name", "alpha");
  e.setAttribute("port", 22);
  EXPECT_EQ(text(e.toString(nullptr)), "host:name=\"alpha\",port=\"null\"");
  DirNameEntry bare(nullptr);
  EXPECT_EQ(text(bare.toString(nullptr)), ":");
}

TEST(DirNameEntry, EqualityIsOneSidedAndHashing) {
  DirNameEntry small("a", "x", "1");
  DirNameEntry big("a", "x", "1", "y", "2");
  EXPECT_TRUE(small == big);
  EXPECT_FALSE(big == small);
  DirNameEntry other("b", "x", "1");
  EXPECT_FALSE(small == other);
  DirNameEntry copy(big);
  EXPECT_TRUE(copy == big);
  EXPECT_EQ(copy.hashValue(), big.hashValue());
  // h = hash(name); per attribute h = h*59 + hash(attr)*33 + value hash
  long long hName = 5381LL * 33 + 'a';
  long long hX = 5381LL * 33 + 'x';
  long long h1 = 5381LL * 33 + '1';
  EXPECT_EQ(small.hashValue(), hName * 59 + hX * 33 + h1);
  DirNameEntry unnamed(nullptr);
  EXPECT_EQ(unnamed.hashValue(), 0);
  // Only the first attribute of a name is compared: repeating a name with
  // another value makes an entry unequal even to its own copy.
  DirNameEntry repeated("a", "x", "1", "x", "2");
  DirNameEntry repeatedCopy(repeated);
  EXPECT_FALSE(repeatedCopy == repeated);
  EXPECT_EQ(repeatedCopy.hashValue(), repeated.hashValue());
}

TEST(DirName, Parse) {
  struct Case {
    const char* in;
    int error;
    int count;
    const char* printed;
  };
  const std::string longComponent = "/" + std::string(256, 'c') + ":";
  const Case cases[] = {
      {"/a:x=1/b:", 0, 2, "/a:x=\"1\"/b:"},
      {"//a:", 0, 1, "//a:"},
      {"a:/b:/", 0, 2, "a:/b:"},
      {"", 0, 0, ""},
      {"/", 0, 0, "/"},
      {"/a:x=\"p,q\"/b:y=\"s/t\"", 0, 2, "/a:x=\"p,q\"/b:y=\"s/t\""},
      {"/a://b:", 4, 0, nullptr},
      {"/a", 4, 0, nullptr},
      {"/a:x", 5, 0, nullptr},
      {"/a:x=\"1", 1, 0, nullptr},
      {"/a:x=<1", 8, 0, nullptr},
      {longComponent.c_str(), 3, 0, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.in);
    int error = -1;
    std::unique_ptr<DirName> n(DirName::createFromString(c.in, &error));
    EXPECT_EQ(error, c.error);
    ASSERT_EQ(n != nullptr, c.error == 0);
    if (!n) continue;
    EXPECT_EQ(n->size(), c.count);
    EXPECT_EQ(text(n->toString(nullptr)), c.printed);
  }
}

TEST(DirName, FlagsEntriesAndRoundTrip) {
  int error;
  std::unique_ptr<DirName> n(DirName::createFromString("/a:x=1/b:", &error));
  ASSERT_NE(n, nullptr);
  EXPECT_TRUE(n->isAbsolute());
  EXPECT_FALSE(n->isDoubleSlash());
  EXPECT_STREQ(n->get(1)->getName(), "b");
  EXPECT_EQ(n->get(2), nullptr);
  std::unique_ptr<DirName> d(DirName::createFromString("//a:", &error));
  EXPECT_TRUE(d->isDoubleSlash());
  EXPECT_FALSE(d->isAbsolute());
  // What toString prints parses back to an equal name.
  std::string printed = text(n->toString(nullptr));
  std::unique_ptr<DirName> again(DirName::createFromString(printed.c_str(), &error));
  ASSERT_NE(again, nullptr);
  EXPECT_TRUE(*again == *n);
  EXPECT_EQ(again->hashValue(), n->hashValue());
  DirName copy(*n);
  EXPECT_TRUE(copy == *n);
  copy.prepend(new DirNameEntry("root"));
  EXPECT_EQ(copy.size(), 3);
  EXPECT_STREQ(copy.get(0)->getName(), "root");
  EXPECT_FALSE(copy == *n);
  EXPECT_EQ(n->hashValue(), n->get(0)->hashValue() * 33 + n->get(1)->hashValue());
}

TEST(DirNameEntry, TokenizerNeverOverruns) {
  char out[4];
  size_t pos = 0;
  EXPECT_EQ(DirNameEntry::parseNextString("abc,d", pos, ",", out, sizeof(out)), 0);
  EXPECT_STREQ(out, "abc");
  EXPECT_EQ(pos, 4u);
  EXPECT_EQ(DirNameEntry::parseNextString("abc,d", pos, ",", out, sizeof(out)), 2);
  EXPECT_STREQ(out, "d");
  pos = 0;
  EXPECT_EQ(DirNameEntry::parseNextString("abcd", pos, ",", out, sizeof(out)), 3);
  pos = 0;
  EXPECT_EQ(DirNameEntry::parseNextString("\"a,b\"", pos, ",", out, sizeof(out)), 2);
  EXPECT_STREQ(out, "a,b");
  pos = 0;
  EXPECT_EQ(DirNameEntry::parseNextString("\"a", pos, ",", out, sizeof(out)), 1);
  pos = 0;
  EXPECT_EQ(DirNameEntry::parseNextString("x", pos, ",", out, 0), 3);
}

}  // namespace
