#include "foundation/creds_cache.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "foundation/creds_protocol.h"

namespace {

std::unique_ptr<_CredCacheEntry> user(const std::string& name, int uid, int gid) {
  auto e = std::make_unique<_CredCacheEntry>();
  e->kind = kCredKindUser;
  e->name = name;
  e->uid = uid;
  e->gid = gid;
  e->nameKey = e->idKey = true;
  return e;
}

std::unique_ptr<_CredCacheEntry> group(const std::string& name, int gid) {
  auto e = std::make_unique<_CredCacheEntry>();
  e->kind = kCredKindGroup;
  e->groupName = name;
  e->gid = gid;
  e->nameKey = e->idKey = true;
  return e;
}

class CredCacheTest : public testing::Test {
 protected:
  void SetUp() override { flushCredsCache(); }
  void TearDown() override {
    flushCredsCache();
    EXPECT_EQ(_credCacheLocks.load(), 0) << "a test left a reference behind";
  }
};

TEST_F(CredCacheTest, FindsByTheKeyOfTheOperation) {
  unlockCredsCache(addCredsCache(user("alice", 1000, 100), 1));
  unlockCredsCache(addCredsCache(group("staff", 50), 1));
  const time_t now = credCacheNow();
  struct Case {
    const char* name;
    int id;
    int op;
    bool hit;
  };
  const Case cases[] = {
      {"alice", -1, kCredUserByName, true},  {nullptr, 1000, kCredUserById, true},
      {"bob", -1, kCredUserByName, false},   {nullptr, 1001, kCredUserById, false},
      {"staff", -1, kCredGroupByName, true}, {nullptr, 50, kCredGroupById, true},
      {"alice", -1, kCredGroupByName, false}, {nullptr, 1000, kCredGroupById, false},
      {"alice", -1, kCredHostByName, false},
      // A password is checked afresh every time.
      {"alice", -1, kCredVerifyLogin, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.op) + " " + (c.name ? c.name : std::to_string(c.id)));
    _CredCacheEntry* e = findCredsCache(now, c.name, c.id, c.op);
    EXPECT_EQ(e != nullptr, c.hit);
    unlockCredsCache(e);
  }
}

// A negative answer is found only by the key it was asked with.
TEST_F(CredCacheTest, NegativeEntriesAnswerTheirOwnKey) {
  auto byId = std::make_unique<_CredCacheEntry>();
  byId->kind = kCredKindUser;
  byId->_noexist = 1;
  byId->uid = 4242;
  byId->idKey = true;
  unlockCredsCache(addCredsCache(std::move(byId), 1));
  const time_t now = credCacheNow();
  _CredCacheEntry* e = findCredsCache(now, nullptr, 4242, kCredUserById);
  ASSERT_NE(e, nullptr);
  EXPECT_TRUE(e->negative());
  unlockCredsCache(e);
  // Its empty name is not a key.
  EXPECT_EQ(findCredsCache(now, "", -1, kCredUserByName), nullptr);
}

TEST_F(CredCacheTest, ANewAnswerExpiresTheOlderOnesWithItsNameOrId) {
  unlockCredsCache(addCredsCache(user("alice", 1000, 100), 1));
  unlockCredsCache(addCredsCache(user("alice", 1001, 101), 1));
  const time_t now = credCacheNow();
  _CredCacheEntry* e = findCredsCache(now, nullptr, 1000, kCredUserById);
  EXPECT_EQ(e, nullptr) << "the older alice should be expired";
  unlockCredsCache(e);
  e = findCredsCache(now, "alice", -1, kCredUserByName);
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->uid, 1001);
  unlockCredsCache(e);
}

TEST_F(CredCacheTest, TimeoutPurgesUnreferencedEntriesAndKeepsHeldOnes) {
  _CredCacheEntry* held = addCredsCache(user("alice", 1000, 100), 1);
  unlockCredsCache(addCredsCache(user("bob", 1001, 100), 1));
  EXPECT_EQ(credCacheSize(), 2);
  timeoutCredsCache();
  const time_t now = credCacheNow();
  EXPECT_EQ(findCredsCache(now, "alice", -1, kCredUserByName), nullptr);
  EXPECT_EQ(credCacheSize(), 1) << "bob is purged, alice is held";
  EXPECT_EQ(held->name, "alice");
  unlockCredsCache(held);
  EXPECT_EQ(findCredsCache(now, "alice", -1, kCredUserByName), nullptr);
  EXPECT_EQ(credCacheSize(), 0);
}

// A flush never frees an entry a caller still holds.
TEST_F(CredCacheTest, FlushLeavesHeldEntriesToTheirHolders) {
  _CredCacheEntry* held = addCredsCache(user("alice", 1000, 100), 1);
  flushCredsCache();
  EXPECT_EQ(credCacheSize(), 0);
  EXPECT_EQ(held->name, "alice");  // still valid (checked by the sanitizers)
  unlockCredsCache(held);
}

TEST_F(CredCacheTest, PrivateEntriesAreNeverFound) {
  auto failed = user("alice", 1000, 100);
  failed->_error = 1;
  _CredCacheEntry* e = privateCredsEntry(std::move(failed));
  EXPECT_EQ(findCredsCache(credCacheNow(), "alice", -1, kCredUserByName), nullptr);
  EXPECT_EQ(credCacheSize(), 0);
  unlockCredsCache(e);
}

TEST_F(CredCacheTest, GroupFillAndCollection) {
  std::vector<std::unique_ptr<_CredCacheEntry>> groups;
  for (int i = 0; i < 5; i++) groups.push_back(group("g" + std::to_string(i), 100 + i));
  addCredsCacheGroups(std::move(groups));
  auto negative = std::make_unique<_CredCacheEntry>();
  negative->kind = kCredKindGroup;
  negative->_noexist = 1;
  negative->gid = 999;
  negative->idKey = true;
  unlockCredsCache(addCredsCache(std::move(negative), 1));
  std::vector<_CredCacheEntry*> all = collectCredGroups(credCacheNow());
  EXPECT_EQ(all.size(), 5u) << "the negative answer is no group";
  for (_CredCacheEntry* e : all) unlockCredsCache(e);
  // A second fill replaces the first one's entries.
  std::vector<std::unique_ptr<_CredCacheEntry>> again;
  again.push_back(group("g0", 100));
  addCredsCacheGroups(std::move(again));
  all = collectCredGroups(credCacheNow());
  EXPECT_EQ(all.size(), 5u);
  for (_CredCacheEntry* e : all) unlockCredsCache(e);
}

TEST_F(CredCacheTest, GroupFillIsDueAfterAFlush) {
  const time_t now = credCacheNow();
  markCredGroupsFilled(now);
  EXPECT_FALSE(credGroupsFillDue(now, 200));
  EXPECT_TRUE(credGroupsFillDue(now + 201, 200));
  flushCredsCache();
  EXPECT_TRUE(credGroupsFillDue(now, 200));
  markCredGroupsFilled(now);
  timeoutCredsCache();
  EXPECT_TRUE(credGroupsFillDue(now, 200));
}

}  // namespace
