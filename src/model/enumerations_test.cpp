#include "model/enumerations.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "model/acl.h"
#include "model/attributes.h"
#include "model/dir_name_entry.h"
#include "model/expect_list.h"
#include "model/java_object.h"

namespace {

std::string text(char* s) {
  if (!s) return "<null>";
  std::string r(s);
  free(s);
  return r;
}

TEST(ClassEnumeration, CursorAndTakeContents) {
  ClassEnumeration a;
  EXPECT_EQ(a.getClass(), nullptr);
  EXPECT_FALSE(a.next());
  ClassEnumeration b;
  b.append("host");
  b.append("user");
  EXPECT_TRUE(b.next());
  EXPECT_STREQ(b.getClass(), "host");
  EXPECT_TRUE(b.next());
  EXPECT_STREQ(b.getClass(), "user");
  EXPECT_FALSE(b.next());
  EXPECT_FALSE(b.next());
  ClassEnumeration c;
  c.append("first");
  c.takeContents(&b);
  EXPECT_EQ(c.size(), 3);
  EXPECT_EQ(b.size(), 0);
  EXPECT_FALSE(b.next());
  EXPECT_EQ(text(c.toString(nullptr)), "[ \"first\", \"host\", \"user\" ]");
  ClassEnumeration copy(c);
  EXPECT_EQ(copy.size(), 3);
}

TEST(DirectoryEnumeration, CursorOwnershipAndCopies) {
  DirectoryEnumeration e;
  EXPECT_EQ(e.getName(), nullptr);
  auto* attrs = new Attributes();
  attrs->setAttribute("k", 1);
  e.append(new DirNameEntry("host", "name", "a"), attrs, new Acl("`o````A,everyone@builtin/G,read"));
  e.append(new DirNameEntry("host", "name", "b"), nullptr, nullptr);
  EXPECT_EQ(e.getName(), nullptr);  // before the first next()
  ASSERT_TRUE(e.next());
  EXPECT_STREQ(e.getName()->getStringAttributeValue("name"), "a");
  EXPECT_EQ(e.getAttributes(), attrs);
  ASSERT_NE(e.getAcl(), nullptr);
  ASSERT_TRUE(e.next());
  EXPECT_EQ(e.getAttributes(), nullptr);
  EXPECT_FALSE(e.next());
  DirectoryEnumeration copy(e);
  EXPECT_EQ(copy.size(), 2);
  ASSERT_TRUE(copy.next());
  EXPECT_NE(copy.getAttributes(), attrs);
  DirectoryEnumeration more;
  more.takeContents(&copy);
  EXPECT_EQ(more.size(), 2);
  EXPECT_EQ(copy.size(), 0);
  EXPECT_STREQ(e.getObjectType(), "DirectoryEnumeration");
}

TEST(ExpectList, TextForms) {
  ExpectList list;
  EXPECT_EQ(text(list.toString(nullptr)), "[  ]");
  list.append(new ExpectEntry("login:", "root", false));
  auto* second = new ExpectEntry("pass.*", "secret", true, "password:");
  list.append(second);
  EXPECT_EQ(list.size(), 2);
  EXPECT_EQ(list.get(1), second);
  EXPECT_EQ(list.get(2), nullptr);
  EXPECT_EQ(list.get(-1), nullptr);
  EXPECT_EQ(text(second->toString(nullptr)), "{ \"send\" : \"secret\", \"isRegex\" : true, \"actual\" : \"password:\" }");
  EXPECT_EQ(text(list.toString(nullptr)),
            "[ , { \"send\" : \"root\", \"isRegex\" : false, \"actual\" : null }, "
            "{ \"send\" : \"secret\", \"isRegex\" : true, \"actual\" : \"password:\" } ]");
  ExpectList copy(list);
  EXPECT_STREQ(copy.get(1)->getActual(), "password:");
}

TEST(JavaObject, BytesAndChallenge) {
  const char bytes[] = {'\xAC', '\xED', 0, 5};
  JavaObject o(bytes, sizeof(bytes));
  JavaObject copy(o);
  ASSERT_EQ(copy.getLength(), 4u);
  EXPECT_EQ(memcmp(copy.getBytes(), bytes, 4), 0);
  EXPECT_EQ(text(o.toString(nullptr)), "JavaObject(4 bytes)");
  EmbDeviceChallenge c("a", "b", nullptr, "d", "e");
  EmbDeviceChallenge cc(c);
  EXPECT_STREQ(cc.get(1), "a");
  EXPECT_EQ(cc.get(3), nullptr);
  EXPECT_EQ(cc.get(6), nullptr);
  EXPECT_EQ(text(c.toString(nullptr)), "EmbDeviceChallenge[a, b, null, d, e]");
}

}  // namespace
