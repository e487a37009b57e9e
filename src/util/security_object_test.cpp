#include "util/security_object.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "testing/test_util.h"
#include "util/util_xlators.h"
#include "wire/message.h"

namespace {

// Keys made for these tests only.
class SecurityObjectTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string dir = orvtest::dataDir() + "/util/";
    pub = SecurityObject::publicKeyFromPem(orvtest::readFile(dir + "rsa2048_a.pub.pem").c_str());
    priv = SecurityObject::privateKeyFromPem(orvtest::readFile(dir + "rsa2048_a.key.pem").c_str());
    other = SecurityObject::privateKeyFromPem(orvtest::readFile(dir + "rsa2048_b.key.pem").c_str());
    ASSERT_TRUE(pub && priv && other);
  }
  EvpPkeyPtr pub, priv, other;
};

TEST_F(SecurityObjectTest, LongPasswordInTwoPiecesRoundTrips) {
  std::string password(300, 'p');
  for (size_t i = 0; i < password.size(); ++i) password[i] = static_cast<char>('!' + i % 90);
  SecurityObject so;
  ASSERT_EQ(so.setPassword(pub.get(), password.c_str()), 0);
  EXPECT_EQ(so.kind(), SecurityObject::kPassword);
  // 301 bytes with the terminator: pieces of 224 and 77, one RSA block each.
  EXPECT_EQ(so.cipher().size(), 512u);
  const char* back = so.getPassword(priv.get());
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(std::string(back), password);
}

TEST_F(SecurityObjectTest, StringFormRoundTrips) {
  SecurityObject so;
  ASSERT_EQ(so.setPassword(pub.get(), "secret"), 0);
  char* text = so.getAsString();
  ASSERT_NE(text, nullptr);
  EXPECT_NE(strchr(text, '\n'), nullptr);  // the library's line breaks
  std::unique_ptr<SecurityObject> back(SecurityObject::fromString(text));
  free(text);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->kind(), so.kind());
  EXPECT_EQ(back->cipher(), so.cipher());
  EXPECT_STREQ(back->getPassword(priv.get()), "secret");
  EXPECT_FALSE(std::unique_ptr<SecurityObject>(SecurityObject::fromString("AAAA")));
  EXPECT_FALSE(std::unique_ptr<SecurityObject>(SecurityObject::fromString("not base64 at all!")));
  // A length that does not agree with the bytes.
  EXPECT_FALSE(std::unique_ptr<SecurityObject>(SecurityObject::fromString("AQAAAP8AAAABAgM=")));
}

TEST_F(SecurityObjectTest, WrongKeyAndDamagedCipherFailWith74) {
  SecurityObject so;
  ASSERT_EQ(so.setPassword(pub.get(), "secret"), 0);
  EXPECT_EQ(so.decrypt(other.get()), 74);
  EXPECT_EQ(so.getPassword(other.get()), nullptr);
  std::vector<unsigned char> cut(so.cipher().begin(), so.cipher().end() - 1);
  so.setCipher(cut.data(), cut.size());
  EXPECT_EQ(so.decrypt(priv.get()), 74);
  SecurityObject empty;
  EXPECT_EQ(empty.decrypt(priv.get()), 0);
  EXPECT_TRUE(empty.plain().empty());
  EXPECT_EQ(empty.encrypt(nullptr, reinterpret_cast<const unsigned char*>("x"), 1), 74);
}

TEST_F(SecurityObjectTest, ObjectFormAndClear) {
  registerUtilXlators();
  SecurityObject so;
  ASSERT_EQ(so.setPassword(pub.get(), "pw"), 0);
  Message m(1);
  ASSERT_EQ(m.writeObject(SecurityObject::kObjectId, &so), 0);
  ASSERT_EQ(m.switchToRead(), 0);
  Translatable* obj = nullptr;
  ASSERT_EQ(m.readObject(SecurityObject::kObjectId, &obj), 0);
  std::unique_ptr<SecurityObject> back(static_cast<SecurityObject*>(obj));
  EXPECT_EQ(back->kind(), 1);
  EXPECT_EQ(back->cipher(), so.cipher());
  EXPECT_STREQ(back->getPassword(priv.get()), "pw");
  back->clear();
  EXPECT_TRUE(back->cipher().empty());
  EXPECT_TRUE(back->plain().empty());
  char* text = back->toString(nullptr);
  EXPECT_STREQ(text, "SecurityObject(1)");
  free(text);
  EXPECT_FALSE(SecurityObject::publicKeyFromPem("-----BEGIN PUBLIC KEY-----\nxx\n-----END PUBLIC KEY-----\n"));
}

}  // namespace
