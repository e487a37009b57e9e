#include "model/acl.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "model/principal.h"

namespace {

std::vector<std::string> tokens(const char* text, const char* delimiters) {
  std::string copy = text;
  std::vector<std::string> out;
  char* save = nullptr;
  for (char* t = orv_strtok_r(copy.data(), delimiters, &save); t; t = orv_strtok_r(nullptr, delimiters, &save)) {
    out.emplace_back(t);
  }
  return out;
}

TEST(Acl, TokenizerKeepsEmptyTokens) {
  EXPECT_EQ(tokens("a``b`", "`"), (std::vector<std::string>{"a", "", "b", ""}));
  EXPECT_EQ(tokens("", "`"), (std::vector<std::string>{""}));
  EXPECT_EQ(tokens("abc", ","), (std::vector<std::string>{"abc"}));
  EXPECT_EQ(tokens(",,", ",;"), (std::vector<std::string>{"", "", ""}));
}

// An ordinary user: login "alice", product user "alice@corp" in group "ops".
const char* kAlice = "1`alice,x`alice;corp,y,ops`";
const char* kAdmin = "1`root,x`admin,y,Administrators";

TEST(Acl, Permissions) {
  Principal alice(kAlice, "corp", nullptr, 1);
  Principal admin(kAdmin, "corp", nullptr, 2);
  struct Case {
    const char* acl;
    const char* permission;
    bool want;
  };
  const Case cases[] = {
      {"`````A,everyone@builtin/G,read", "read", true},
      {"`````A,everyone@builtin/G,read", "write", false},
      {"`````D,everyone@builtin/G,read`A,everyone@builtin/G,read", "read", false},
      {"`````A,everyone@builtin/G,read`D,everyone@builtin/G,read", "read", true},
      {"`````A,Everyone@BUILTIN/G,read", "read", true},
      {"`````A,everyone@builtin/G,Read", "read", false},  // permissions are case-sensitive
      {"`alice;corp````A,owner@builtin/G,write", "write", true},
      {"`bob````A,owner@builtin/G,write", "write", false},
      {"``ops```A,groupowner@builtin/G,exec", "exec", true},
      {"`ops````A,groupowner@builtin/G,exec", "exec", false},
      {"`````A,alice@corp/U,read", "read", false},  // the whole specification, suffix included, is looked up
      {"`````A,ops@corp/G,read", "read", false},
      {"`````A,alice;corp@H-host/U,read", "read", false},  // host domains never match
      {"`````A,nobody@builtin/G,read", "read", false},
      {"`````A,everyone@builtin,read", "read", false},  // no "/X" suffix
      {"`````A,everyone@b/,read", "read", false},
      {"`````A", "read", false},
      {"garbage", "read", false},
      {"", "read", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.acl);
    EXPECT_EQ(Acl::hasPermission(&alice, c.acl, c.permission, nullptr), c.want);
    // Administrators pass every check, even with an empty ACL.
    EXPECT_TRUE(Acl::hasPermission(&admin, c.acl, c.permission, nullptr));
  }
  const char* extra[] = {"ops", nullptr};
  EXPECT_TRUE(Acl::hasPermission(&alice, "", "anything", extra));
  EXPECT_FALSE(Acl::hasPermission(nullptr, "`````A,everyone@builtin/G,read", "read", nullptr));
  EXPECT_FALSE(Acl::hasPermission(&alice, nullptr, "read", nullptr));
  EXPECT_FALSE(Acl::hasPermission(&alice, "`````A,everyone@builtin/G,read", nullptr, nullptr));
}

TEST(Acl, NamedPrincipalsOfOtherDomains) {
  // A principal whose identity lists the whole specification as a name.
  Principal p("1`bob,x,bob@corp/U`", "corp", nullptr, 1);
  EXPECT_TRUE(Acl::isPrincipalMatch(&p, "", "", "bob@corp/U"));
  EXPECT_TRUE(Acl::hasPermission(&p, "`````A,bob@corp/U,read", "read", nullptr));
  EXPECT_FALSE(Acl::isPrincipalMatch(&p, "", "", "bob@H-corp/U"));
}

TEST(Acl, AclPermission) {
  Principal alice(kAlice, "corp", nullptr, 1);
  Principal admin(kAdmin, "corp", nullptr, 2);
  Acl owned("x`alice,bob`");
  Acl notOwned("x`bob`");
  Acl productOwned("x`alice@corp`");
  Acl malformed("x`alice");
  EXPECT_TRUE(Acl::hasAclPermission(&alice, &owned));
  EXPECT_FALSE(Acl::hasAclPermission(&alice, &notOwned));
  EXPECT_TRUE(Acl::hasAclPermission(&alice, &productOwned));
  EXPECT_FALSE(Acl::hasAclPermission(&alice, &malformed));
  EXPECT_TRUE(Acl::hasAclPermission(&admin, &notOwned));
  EXPECT_FALSE(Acl::hasAclPermission(nullptr, &owned));
  EXPECT_FALSE(Acl::hasAclPermission(&alice, nullptr));
}

}  // namespace
