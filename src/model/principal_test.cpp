#include "model/principal.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>
#include <openssl/x509v3.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

// Sections: version and policies; login user, server item, login groups;
// product user, server item, product groups; two native identities.
const char* kFull =
    "1,P1:v1,T2,LONG:abcdef"
    "`root,x,wheel,adm"
    "`alice;corp,y,Administrators@corp,ops"
    "`alice@sshd01,tok1,grpA,grpB"
    "`bob;x@x-orv-ftp02,tok2";

std::vector<std::string> list(char** l) {
  std::vector<std::string> out;
  if (!l) return {"<null>"};
  for (char** p = l; *p; p++) out.emplace_back(*p);
  Principal::freeList(l);
  return out;
}

std::string text(char* s) {
  if (!s) return "<null>";
  std::string r(s);
  free(s);
  return r;
}

TEST(Principal, Users) {
  Principal p(kFull, "corp", "SIG", 0x1234);
  char buf[64];
  ASSERT_EQ(p.getLoginUser(buf, sizeof(buf)), 0);
  EXPECT_STREQ(buf, "root");
  ASSERT_EQ(p.getOrvanexUser(buf, sizeof(buf)), 0);
  EXPECT_STREQ(buf, "alice@corp");
  char tiny[4];
  EXPECT_EQ(p.getOrvanexUser(tiny, sizeof(tiny)), -1);
  Principal bare("no sections", "d", nullptr, 0);
  EXPECT_EQ(bare.getLoginUser(buf, sizeof(buf)), -1);
  EXPECT_EQ(bare.getOrvanexUser(buf, sizeof(buf)), -1);
  EXPECT_EQ(bare.getLoginGroups(), nullptr);
  EXPECT_FALSE(bare.getPolicy("P1", buf, sizeof(buf)));
  EXPECT_FALSE(bare.containsPrincipalName("no sections"));
  EXPECT_STREQ(bare.getSignature(), "PV");
}

TEST(Principal, Groups) {
  Principal p(kFull, "corp", "SIG", 1);
  EXPECT_EQ(list(p.getLoginGroups()), (std::vector<std::string>{"wheel", "adm"}));
  EXPECT_EQ(list(p.getOrvanexGroups()), (std::vector<std::string>{"Administrators@corp", "ops"}));
  Principal noGroups("1`u,x`v,y", "d", nullptr, 0);
  EXPECT_EQ(list(noGroups.getOrvanexGroups()), std::vector<std::string>{});
  Principal twoSections("1`u,x", "d", nullptr, 0);
  EXPECT_EQ(list(twoSections.getOrvanexGroups()), (std::vector<std::string>{"<null>"}));
  EXPECT_TRUE(p.containsOrvanexGroup("Administrators"));
  EXPECT_TRUE(p.containsOrvanexGroup("Administrators@elsewhere"));
  EXPECT_TRUE(p.containsOrvanexGroup("ops@corp"));
  EXPECT_FALSE(p.containsOrvanexGroup("administrators"));
  EXPECT_FALSE(p.containsOrvanexGroup("wheel"));  // a login group, not a product group
}

TEST(Principal, Names) {
  Principal p(kFull, "corp", "SIG", 1);
  struct Case {
    const char* name;
    bool want;
  };
  const Case cases[] = {
      {"root", true},          // first item of section 2
      {"alice;corp", true},    // first item of section 3, exactly as written
      {"alice@corp", false},   // the first item is compared exactly
      {"ops", true},           // a later item
      {"Administrators;corp", true},  // later items take ';' as '@'
      {"y", true},
      {"1", false},            // section 1 does not count
      {"P1:v1", false},
      {"tok1", true},
      {"nobody", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(p.containsPrincipalName(c.name), c.want);
  }
}

TEST(Principal, Policies) {
  Principal p(kFull, "corp", "SIG", 1);
  char buf[8];
  ASSERT_TRUE(p.getPolicy("P1", buf, sizeof(buf)));
  EXPECT_STREQ(buf, "v1");
  ASSERT_TRUE(p.getPolicy("T2", buf, sizeof(buf)));
  EXPECT_STREQ(buf, "");
  ASSERT_TRUE(p.getPolicy("LONG", buf, 4));
  EXPECT_STREQ(buf, "abc");  // cut to the buffer
  EXPECT_FALSE(p.getPolicy("P", buf, sizeof(buf)));
  EXPECT_FALSE(p.getPolicy("1", buf, sizeof(buf)));  // the version is no policy
  EXPECT_TRUE(p.isPolicySet("LONG"));
  EXPECT_FALSE(p.isPolicySet("T"));
  EXPECT_EQ(list(p.getAllPolicies()), (std::vector<std::string>{"P1:v1", "T2", "LONG:abcdef"}));
}

TEST(Principal, TrialRunToken) {
  Principal p("1,P`u,x`v,y", "corp", "SIG", 7);
  std::unique_ptr<Principal> t(p.createTrialRunToken());
  EXPECT_STREQ(t->getEncoded(), "2,T,P`u,x`v,y");
  EXPECT_TRUE(t->isPolicySet("T"));
  EXPECT_EQ(t->getSessionId(), 7);
  std::unique_ptr<Principal> again(t->createTrialRunToken());
  EXPECT_STREQ(again->getEncoded(), t->getEncoded());
}

TEST(Principal, NativeLogins) {
  Principal p(kFull, "corp", "SIG", 1);
  EXPECT_EQ(list(p.getNativeUsers()), (std::vector<std::string>{"alice", "bob@x"}));
  EXPECT_EQ(list(p.getNativeGroups("SSHD")), (std::vector<std::string>{"grpA", "grpB"}));
  char login[32], token[32], service[32], own[32];
  const char* services[] = {"ftp", "X-orv-FTP", nullptr};
  ASSERT_EQ(p.getBestNativeLogin(services, nullptr, login, sizeof(login), token, sizeof(token), service,
                                 sizeof(service), own, sizeof(own)),
            0);
  EXPECT_STREQ(login, "bob@x");
  EXPECT_STREQ(token, "tok2");
  EXPECT_STREQ(service, "X-orv-FTP");
  EXPECT_STREQ(own, "x-orv-ftp02");
  const char* sshd[] = {"sshd", nullptr};
  ASSERT_EQ(p.getBestNativeLogin(sshd, "ALICE", login, sizeof(login), token, 3, service, sizeof(service), own,
                                 sizeof(own)),
            0);
  EXPECT_STREQ(login, "alice");
  EXPECT_STREQ(token, "to");  // cut to its buffer
  EXPECT_EQ(p.getBestNativeLogin(sshd, "bob", login, sizeof(login), token, sizeof(token), service, sizeof(service),
                                 own, sizeof(own)),
            -1);
  const char* none[] = {"telnet", nullptr};
  EXPECT_EQ(p.getBestNativeLogin(none, nullptr, login, sizeof(login), token, sizeof(token), service,
                                 sizeof(service), own, sizeof(own)),
            -1);
}

TEST(Principal, TextForms) {
  Principal p("1`u", "corp", "SIG", 42);
  EXPECT_EQ(text(p.toString(nullptr)), "{corp, 1`u, SIG}");
  std::string auth = text(p.asAuthString());
  // Decode with OpenSSL and compare, terminating zero included.
  unsigned char decoded[128];
  int n = EVP_DecodeBlock(decoded, reinterpret_cast<const unsigned char*>(auth.data()), (int)auth.size());
  std::string want = std::string("corp|1`u|42|SIG") + '\0';
  ASSERT_GE(n, (int)want.size());
  EXPECT_EQ(std::string(reinterpret_cast<char*>(decoded), want.size()), want);
  EXPECT_EQ(auth.find('\n'), std::string::npos);
}

X509* makeCertificate(const char* encoded, const char* signature, long serial) {
  EVP_PKEY* key = EVP_RSA_gen(2048);
  X509* cert = X509_new();
  ASN1_INTEGER_set(X509_get_serialNumber(cert), serial);
  X509_gmtime_adj(X509_getm_notBefore(cert), 0);
  X509_gmtime_adj(X509_getm_notAfter(cert), 3600);
  X509_set_pubkey(cert, key);
  X509_NAME* name = X509_get_subject_name(cert);
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("corp.example"), -1,
                             -1, 0);
  X509_set_issuer_name(cert, name);
  auto addData = [&](const char* oid, const char* data) {
    ASN1_OBJECT* obj = OBJ_txt2obj(oid, 1);
    ASN1_OCTET_STRING* os = ASN1_OCTET_STRING_new();
    ASN1_OCTET_STRING_set(os, reinterpret_cast<const unsigned char*>(data), (int)strlen(data));
    X509_EXTENSION* ext = X509_EXTENSION_create_by_OBJ(nullptr, obj, 0, os);
    X509_add_ext(cert, ext, -1);
    X509_EXTENSION_free(ext);
    ASN1_OCTET_STRING_free(os);
    ASN1_OBJECT_free(obj);
  };
  if (encoded) addData("1.1.1.1", encoded);
  if (signature) addData("1.1.1.2", signature);
  X509_sign(cert, key, EVP_sha256());
  EVP_PKEY_free(key);
  return cert;
}

TEST(Principal, FromCertificate) {
  X509* cert = makeCertificate(kFull, "SIGNED", 0x5151);
  std::unique_ptr<Principal> p(Principal::createFromCertificate(cert));
  X509_free(cert);
  ASSERT_NE(p, nullptr);
  EXPECT_STREQ(p->getEncoded(), kFull);
  EXPECT_STREQ(p->getSignature(), "SIGNED");
  EXPECT_STREQ(p->getDomain(), "corp.example");
  EXPECT_EQ(p->getSessionId(), 0x5151);
  X509* unsignedCert = makeCertificate("1`u", nullptr, 3);
  p.reset(Principal::createFromCertificate(unsignedCert));
  X509_free(unsignedCert);
  ASSERT_NE(p, nullptr);
  EXPECT_STREQ(p->getSignature(), "PV");
  X509* bare = makeCertificate(nullptr, "S", 3);
  EXPECT_EQ(Principal::createFromCertificate(bare), nullptr);
  X509_free(bare);
}

Principal* serverFactory() { return new Principal("1`server", "d", nullptr, 9); }

TEST(Principal, ServerPrincipal) {
  std::unique_ptr<Principal> empty(Principal::createServerPrincipal());
  EXPECT_EQ(empty->getEncoded(), nullptr);
  _makeServerPrincipal = serverFactory;
  std::unique_ptr<Principal> server(Principal::createServerPrincipal());
  _makeServerPrincipal = nullptr;
  EXPECT_STREQ(server->getEncoded(), "1`server");
}

}  // namespace
