// Round trips of every data-model translator, as stand-alone objects, held in
// an Any (decoded later) and copied with the Any, from messages cut into
// chunks of a few bytes; plus the byte layouts peers rely on.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>

#include "model/acl.h"
#include "model/any.h"
#include "model/attributes.h"
#include "model/dir_name.h"
#include "model/dir_name_entry.h"
#include "model/enumerations.h"
#include "model/expect_list.h"
#include "model/java_object.h"
#include "model/principal.h"
#include "wire/message.h"
#include "wire/model_xlators.h"
#include "wire/wire_test_util.h"

namespace {

using wiretest::hex;
using wiretest::payload;
using wiretest::unhex;

class ModelXlators : public ::testing::Test {
 protected:
  void SetUp() override { registerModelXlators(); }
};

std::string encode(int type, const Translatable* object, bool container = false) {
  Message m(0);
  EXPECT_EQ(container ? m.writeContainer(type, object) : m.writeObject(type, object), 0);
  EXPECT_EQ(m.getError(), 0);
  return payload(m);
}

Translatable* decode(int type, const std::string& bytes, size_t chunk, bool container = false) {
  Message m;
  wiretest::readerOf(m, bytes, chunk);
  Translatable* out = nullptr;
  int rc = container ? m.readContainer(type, &out) : m.readObject(type, &out);
  EXPECT_EQ(rc, 0) << MessageBase::errorText(m.getError());
  EXPECT_EQ(m.getError(), 0);
  return out;
}

DirNameEntry* sampleEntry(int i) {
  auto* e = new DirNameEntry("host");
  e->setAttribute("name", ("alpha" + std::to_string(i)).c_str());
  e->setAttribute("port", 8443 + i);
  e->setAttributeExpression("zone", "$zone + 1");
  return e;
}

Attributes* sampleAttributes() {
  auto* a = new Attributes();
  a->appendAttribute("os", new Any("linux"), 1);
  a->appendAttribute("cpus", new Any(8), 0);
  return a;
}

std::string text(Translatable* t) {
  char* s = t->toString(nullptr);
  std::string r = s != nullptr ? s : "(null)";
  free(s);
  return r;
}

struct Case {
  const char* name;
  int type;
  bool container;
  std::function<Translatable*()> make;
  // Compares a decoded object with the original.
  std::function<void(Translatable* want, Translatable* got)> check;
};

void sameText(Translatable* want, Translatable* got) { EXPECT_EQ(text(got), text(want)); }

TEST_F(ModelXlators, EveryTranslatorRoundTrips) {
  const Case cases[] = {
      {"Acl", 1014, false, [] { return new Acl("1`owner`group```A,everyone@builtin/G,read"); }, sameText},
      {"Acl without text", 1014, false, [] { return new Acl(nullptr); },
       [](Translatable*, Translatable* got) { EXPECT_EQ(static_cast<Acl*>(got)->getText(), nullptr); }},
      {"DirNameEntry", 1004, false, [] { return sampleEntry(1); },
       [](Translatable* want, Translatable* got) {
         auto* a = static_cast<DirNameEntry*>(want);
         auto* b = static_cast<DirNameEntry*>(got);
         EXPECT_EQ(text(b), text(a));
         EXPECT_TRUE(*a == *b);
         EXPECT_EQ(b->getAttributeCount(), 3);
         EXPECT_TRUE(b->firstAttribute()->getNext()->getNext()->isExpression());
         EXPECT_EQ(b->getAttributeValue("port")->getInt32(), 8444);
       }},
      {"DirNameEntry expression name", 1004, false,
       [] {
         auto* e = new DirNameEntry("cls");
         e->setNameIsExpression(true);
         return e;
       },
       [](Translatable*, Translatable* got) {
         EXPECT_TRUE(static_cast<DirNameEntry*>(got)->isNameExpression());
         EXPECT_EQ(static_cast<DirNameEntry*>(got)->getAttributeCount(), 0);
       }},
      {"DirName", 1007, false,
       [] {
         int error = 0;
         return DirName::createFromString("//a:x=1,y=\"p,q\"/b:/<c>:z=<w>", &error);
       },
       [](Translatable* want, Translatable* got) {
         EXPECT_EQ(text(got), text(want));
         EXPECT_TRUE(*static_cast<DirName*>(got) == *static_cast<DirName*>(want));
         EXPECT_TRUE(static_cast<DirName*>(got)->isDoubleSlash());
       }},
      {"relative DirName", 1007, false,
       [] {
         int error = 0;
         return DirName::createFromString("a:/b:", &error);
       },
       sameText},
      {"DirectoryEnumeration", 1010, false,
       [] {
         auto* d = new DirectoryEnumeration();
         for (int i = 0; i < 3; ++i) d->append(sampleEntry(i), sampleAttributes(), new Acl("1`a`b```"));
         d->append(sampleEntry(9), nullptr, nullptr);
         return d;
       },
       [](Translatable* want, Translatable* got) {
         EXPECT_EQ(text(got), text(want));
         auto* d = static_cast<DirectoryEnumeration*>(got);
         ASSERT_EQ(d->size(), 4);
         ASSERT_TRUE(d->next());
         EXPECT_STREQ(d->getName()->getStringAttributeValue("name"), "alpha0");
         EXPECT_EQ(d->getAttributes()->getAttribute("cpus")->getInt32(), 8);
         EXPECT_STREQ(d->getAcl()->getText(), "1`a`b```");
         ASSERT_TRUE(d->next() && d->next() && d->next());
         EXPECT_EQ(d->getAttributes(), nullptr);
         EXPECT_EQ(d->getAcl(), nullptr);
       }},
      {"empty DirectoryEnumeration", 1010, false, [] { return new DirectoryEnumeration(); },
       [](Translatable*, Translatable* got) { EXPECT_EQ(static_cast<DirectoryEnumeration*>(got)->size(), 0); }},
      {"ClassEnumeration", 1020, false,
       [] {
         auto* c = new ClassEnumeration();
         c->append("host");
         c->append("disk");
         c->append("");
         return c;
       },
       [](Translatable* want, Translatable* got) {
         EXPECT_EQ(text(got), text(want));
         EXPECT_EQ(static_cast<ClassEnumeration*>(got)->size(), 3);
       }},
      {"ExpectList", 2391, false,
       [] {
         auto* l = new ExpectList();
         l->append(new ExpectEntry("login:", "root\n", false));
         l->append(new ExpectEntry("[Pp]assword", "secret\n", true, "Password:"));
         return l;
       },
       [](Translatable* want, Translatable* got) {
         auto* a = static_cast<ExpectList*>(want);
         auto* b = static_cast<ExpectList*>(got);
         ASSERT_EQ(b->size(), 2);
         for (int i = 0; i < 2; ++i) {
           EXPECT_STREQ(b->get(i)->getExpect(), a->get(i)->getExpect());
           EXPECT_STREQ(b->get(i)->getSend(), a->get(i)->getSend());
           EXPECT_EQ(b->get(i)->isRegex(), a->get(i)->isRegex());
         }
         EXPECT_EQ(b->get(0)->getActual(), nullptr);
         EXPECT_STREQ(b->get(1)->getActual(), "Password:");
       }},
      {"ExpectEntry", 2390, false, [] { return new ExpectEntry(nullptr, "x", true, "y"); },
       [](Translatable*, Translatable* got) {
         auto* e = static_cast<ExpectEntry*>(got);
         EXPECT_EQ(e->getExpect(), nullptr);
         EXPECT_STREQ(e->getSend(), "x");
         EXPECT_TRUE(e->isRegex());
       }},
      {"JavaObject", 2431, false, [] { return new JavaObject("\xAC\xED\0\x05t\0\x01x", 9); },
       [](Translatable*, Translatable* got) {
         auto* j = static_cast<JavaObject*>(got);
         EXPECT_EQ(std::string(j->getBytes(), j->getLength()), std::string("\xAC\xED\0\x05t\0\x01x", 9));
       }},
      {"EmbDeviceChallenge", 50501, false, [] { return new EmbDeviceChallenge("a", "", nullptr, "d", "e\xC3\xA9"); },
       [](Translatable*, Translatable* got) {
         auto* c = static_cast<EmbDeviceChallenge*>(got);
         EXPECT_STREQ(c->get(1), "a");
         EXPECT_STREQ(c->get(2), "");
         EXPECT_EQ(c->get(3), nullptr);
         EXPECT_STREQ(c->get(5), "e\xC3\xA9");
       }},
      {"Principal", 7, false, [] { return new Principal("1,p`alice,x,g1`alice,y,Administrators", "dom", "sig", 0x1234567890LL); },
       [](Translatable*, Translatable* got) {
         auto* p = static_cast<Principal*>(got);
         EXPECT_STREQ(p->getEncoded(), "1,p`alice,x,g1`alice,y,Administrators");
         EXPECT_STREQ(p->getDomain(), "dom");
         EXPECT_STREQ(p->getSignature(), "sig");
         EXPECT_EQ(p->getSessionId(), 0x1234567890LL);
       }},
      {"Principal as 97", 97, false, [] { return new Principal("e", "d", nullptr, -1); },
       [](Translatable*, Translatable* got) { EXPECT_STREQ(static_cast<Principal*>(got)->getSignature(), "PV"); }},
      {"Attributes entry list", 1003, true, [] { return sampleAttributes(); }, sameText},
      {"name attribute list", 1006, true, [] { return sampleEntry(4); },
       [](Translatable*, Translatable* got) { EXPECT_EQ(static_cast<DirNameEntry*>(got)->getAttributeCount(), 3); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::unique_ptr<Translatable> original(c.make());
    ASSERT_NE(original, nullptr);
    const std::string bytes = encode(c.type, original.get(), c.container);
    for (size_t chunk : {1, 2, 3, 7, 4096}) {
      SCOPED_TRACE("chunk size " + std::to_string(chunk));
      std::unique_ptr<Translatable> back(decode(c.type, bytes, chunk, c.container));
      ASSERT_NE(back, nullptr);
      c.check(original.get(), back.get());
      EXPECT_EQ(encode(c.type, back.get(), c.container), bytes);
    }
    if (c.container) continue;
    // Held in an Any: sent, kept encoded, decoded on demand, and copied. (Code
    // 7 of an Any is a string: a principal is held under its other id, 97.)
    const int id = c.type == 7 ? 97 : c.type;
    Any held(id, c.make());
    std::unique_ptr<Any> got(static_cast<Any*>(decode(1000, encode(1000, &held), 3)));
    ASSERT_NE(got, nullptr);
    EXPECT_TRUE(got->isOpaque());
    Translatable* inner = nullptr;
    ASSERT_TRUE(got->getObject(&inner));
    c.check(original.get(), inner);
    Any copy(held);
    ASSERT_NE(copy.getHeldObject(), nullptr);
    EXPECT_NE(copy.getHeldObject(), held.getHeldObject());
    c.check(original.get(), copy.getHeldObject());
  }
}

TEST_F(ModelXlators, PrincipalLayoutAndMissingSignature) {
  Principal p("enc", "dom", "sig", 5);
  EXPECT_EQ(hex(encode(7, &p)),
            "09 00 00 00 07 0B 01 06 00 00 00 03 65 6E 63 0B 02 06 00 00 00 03 64 6F 6D "
            "0B 03 03 00 00 00 00 00 00 00 05 0B 04 06 00 00 00 03 73 69 67 0A");
  // Without field 4 the signature is "PV"; the session id may come as int32.
  std::unique_ptr<Principal> q(static_cast<Principal*>(
      decode(7, unhex("09 00 00 00 07 0B 01 07 0B 02 06 00 00 00 01 64 0B 03 02 00 00 00 09 0A"), 2)));
  ASSERT_NE(q, nullptr);
  EXPECT_STREQ(q->getSignature(), "PV");
  EXPECT_EQ(q->getEncoded(), nullptr);
  EXPECT_EQ(q->getSessionId(), 9);
  // Type 7 needs no registration.
  MessageBase::unregisterAll();
  EXPECT_NE(MessageBase::findXlatorFn(7), nullptr);
  registerModelXlators();
}

TEST_F(ModelXlators, DirNameLayout) {
  int error = 0;
  std::unique_ptr<DirName> name(DirName::createFromString("/a:", &error));
  ASSERT_NE(name, nullptr);
  EXPECT_EQ(hex(encode(1007, name.get())),
            "09 00 00 03 EF 0B 01 02 00 00 00 01 0B 02 02 00 00 00 00 0B 03 0C 00 00 03 F1 "
            "09 00 00 03 F0 0B 01 09 00 00 03 EC 0B 01 06 00 00 00 01 61 0B 02 02 00 00 00 00 "
            "0B 03 0C 00 00 03 EE 0D 0A 0A 0D 0A");
}

TEST_F(ModelXlators, ListsWithWrongItemsAreRefused) {
  struct Bad {
    const char* name;
    const char* hex;
    int type;
  };
  const Bad cases[] = {
      {"class list holding a directory entry", "09 00 00 03 FC 0B 01 0C 00 00 03 FE 09 00 00 03 F3 0A 0D 0A", 1020},
      {"name holding an Acl", "09 00 00 03 EF 0B 01 02 00 00 00 00 0B 02 02 00 00 00 00 0B 03 0C 00 00 03 F1 "
       "09 00 00 03 F6 0A 0D 0A", 1007},
      {"entry list of the wrong container", "09 00 00 03 F2 0B 01 0C 00 00 03 FE 0D 0A", 1010},
      {"challenge missing a field", "09 00 00 C5 45 0B 01 07 0B 02 07 0B 03 07 0B 04 07 0A", 50501},
  };
  for (const Bad& c : cases) {
    SCOPED_TRACE(c.name);
    Message m;
    wiretest::readerOf(m, unhex(c.hex), 3);
    Translatable* out = nullptr;
    EXPECT_EQ(m.readObject(c.type, &out), -1);
    EXPECT_EQ(out, nullptr);
    EXPECT_NE(m.getError(), 0);
  }
}

}  // namespace
