#include "foundation/creds_protocol.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

// Bytes of a reply or request, built field by field.
struct Bytes {
  std::string b;
  Bytes& i(int32_t v) {
    b.append(reinterpret_cast<const char*>(&v), sizeof(v));
    return *this;
  }
  Bytes& c(uint8_t v) {
    b.push_back(static_cast<char>(v));
    return *this;
  }
  Bytes& s(const std::string& v) {
    i(static_cast<int32_t>(v.size()));
    b += v;
    return *this;
  }
  Bytes& raw(const std::string& v) {
    b += v;
    return *this;
  }
};

Bytes goodUser() {
  return Bytes().i(0).i(1000).i(100).s("alice").s("/home/alice").i(3).i(100).i(4).i(27);
}

TEST(CredProtocol, UserReplyRoundTrip) {
  const Bytes reply = goodUser();
  CredBufferReader in(reply.b.data(), reply.b.size());
  CredUserReply r;
  ASSERT_EQ(readCredUserReply(in, &r), 0);
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.uid, 1000);
  EXPECT_EQ(r.gid, 100);
  EXPECT_EQ(r.name, "alice");
  EXPECT_EQ(r.dir, "/home/alice");
  EXPECT_EQ(r.groups, (std::vector<int>{100, 4, 27}));
  EXPECT_EQ(in.remaining(), 0u);
}

// A broken reply fails at the step the log names, whatever it claims.
TEST(CredProtocol, BrokenUserRepliesFailAtTheirStep) {
  struct Case {
    const char* what;
    Bytes reply;
    int step;
  };
  const Case cases[] = {
      {"empty", Bytes(), 2},
      {"code only half", Bytes().raw(std::string("\0\0", 2)), 2},
      {"no uid", Bytes().i(0), 3},
      {"no gid", Bytes().i(0).i(1), 4},
      {"negative name length", Bytes().i(0).i(1).i(1).i(-5).raw("alice"), 5},
      {"huge name length", Bytes().i(0).i(1).i(1).i(0x7fffffff).raw("alice"), 5},
      {"name just over the bound", Bytes().i(0).i(1).i(1).i(kCredMaxText + 1), 5},
      {"name cut short", Bytes().i(0).i(1).i(1).i(5).raw("ali"), 5},
      {"no home", Bytes().i(0).i(1).i(1).s("alice"), 6},
      {"negative count", Bytes().i(0).i(1).i(1).s("a").s("/").i(-1), 7},
      {"ten million groups", Bytes().i(0).i(1).i(1).s("a").s("/").i(10000000).i(1).i(2), 7},
      {"gids cut short", Bytes().i(0).i(1).i(1).s("a").s("/").i(3).i(1).i(2), 19},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    CredBufferReader in(c.reply.b.data(), c.reply.b.size());
    CredUserReply r;
    EXPECT_EQ(readCredUserReply(in, &r), c.step);
  }
}

TEST(CredProtocol, EveryTruncationOfAReplyFails) {
  const Bytes reply = goodUser();
  for (size_t n = 0; n < reply.b.size(); n++) {
    SCOPED_TRACE(n);
    CredBufferReader in(reply.b.data(), n);
    CredUserReply r;
    EXPECT_NE(readCredUserReply(in, &r), 0);
  }
}

TEST(CredProtocol, FailureCodesCarryNoBody) {
  for (int code : {1, 2, 99, 12345, -1}) {
    SCOPED_TRACE(code);
    const Bytes reply = Bytes().i(code);
    CredBufferReader in(reply.b.data(), reply.b.size());
    CredUserReply r;
    EXPECT_EQ(readCredUserReply(in, &r), 0);
    EXPECT_EQ(r.code, code);
  }
}

TEST(CredProtocol, GroupAndHostReplies) {
  {
    const Bytes reply = Bytes().i(0).i(27).s("sudo");
    CredBufferReader in(reply.b.data(), reply.b.size());
    CredGroupReply r;
    ASSERT_EQ(readCredGroupReply(in, &r), 0);
    EXPECT_EQ(r.gid, 27);
    EXPECT_EQ(r.name, "sudo");
  }
  {
    const Bytes reply = Bytes().i(0).i(27).i(-3);
    CredBufferReader in(reply.b.data(), reply.b.size());
    CredGroupReply r;
    EXPECT_EQ(readCredGroupReply(in, &r), -1);
  }
  {
    const Bytes reply = Bytes().i(0).raw(std::string("\x7f\0\0\x02", 4));
    CredBufferReader in(reply.b.data(), reply.b.size());
    CredHostReply r;
    ASSERT_EQ(readCredHostReply(in, &r), 0);
    EXPECT_EQ(std::memcmp(&r.addr, "\x7f\0\0\x02", 4), 0);
  }
  {
    const Bytes reply = Bytes().i(0).raw("\x7f");
    CredBufferReader in(reply.b.data(), reply.b.size());
    CredHostReply r;
    EXPECT_EQ(readCredHostReply(in, &r), -1);
  }
}

TEST(CredProtocol, Enumerations) {
  struct Case {
    const char* what;
    Bytes reply;
    int step;
    size_t records;
  };
  const Case cases[] = {
      {"two and the end", Bytes().c(1).i(10).s("wheel").c(1).i(11).s("staff").c(0), 0, 2},
      {"none", Bytes().c(0), 0, 0},
      {"no end byte", Bytes().c(1).i(10).s("wheel"), 100, 1},
      {"bad marker", Bytes().c(1).i(10).s("wheel").c(7), 104, 1},
      {"no gid", Bytes().c(1), 101, 0},
      {"negative length", Bytes().c(1).i(10).i(-1), 102, 0},
      {"huge length", Bytes().c(1).i(10).i(1 << 30).raw("x"), 102, 0},
      {"name cut short", Bytes().c(1).i(10).i(5).raw("whe"), 103, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    CredBufferReader in(c.reply.b.data(), c.reply.b.size());
    std::vector<CredGroupRecord> out;
    EXPECT_EQ(readCredAllGroupsReply(in, &out), c.step);
    EXPECT_EQ(out.size(), c.records);
  }
  const Bytes users = Bytes().c(1).i(0).i(0).s("root").c(1).i(1000).i(100).s("alice").c(0);
  CredBufferReader in(users.b.data(), users.b.size());
  std::vector<CredUserRecord> out;
  ASSERT_EQ(readCredAllUsersReply(in, &out), 0);
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(out[1].name, "alice");
  EXPECT_EQ(out[1].gid, 100);
}

// An enumeration that never ends stops at the record bound instead of
// growing without limit.
TEST(CredProtocol, EndlessEnumerationStopsAtTheBound) {
  constexpr int kBound = 1000;
  Bytes group = Bytes().c(1).i(5).s("g");
  Bytes user = Bytes().c(1).i(5).i(5).s("u");
  std::string groups, users;
  for (int i = 0; i <= kBound; i++) {
    groups += group.b;
    users += user.b;
  }
  CredBufferReader gin(groups.data(), groups.size());
  std::vector<CredGroupRecord> gout;
  EXPECT_EQ(readCredAllGroupsReply(gin, &gout, nullptr, kBound), 104);
  EXPECT_EQ(gout.size(), static_cast<size_t>(kBound));
  CredBufferReader uin(users.data(), users.size());
  std::vector<CredUserRecord> uout;
  EXPECT_EQ(readCredAllUsersReply(uin, &uout, kBound), -1);
  EXPECT_EQ(uout.size(), static_cast<size_t>(kBound));
}

// Names of an enumeration are bounded in total, however many records.
TEST(CredProtocol, EnumerationNamesAreBoundedInTotal) {
  constexpr size_t kBytes = 64 * 1024;
  const std::string name(kCredMaxText, 'n');
  Bytes group = Bytes().c(1).i(5).s(name);
  Bytes user = Bytes().c(1).i(5).i(5).s(name);
  std::string groups, users;
  for (size_t i = 0; i < kBytes / name.size() + 2; i++) {
    groups += group.b;
    users += user.b;
  }
  CredBufferReader gin(groups.data(), groups.size());
  std::vector<CredGroupRecord> gout;
  EXPECT_EQ(readCredAllGroupsReply(gin, &gout, nullptr, kCredMaxRecords, kBytes), 104);
  EXPECT_EQ(gout.size() * name.size(), kBytes);
  CredBufferReader uin(users.data(), users.size());
  std::vector<CredUserRecord> uout;
  EXPECT_EQ(readCredAllUsersReply(uin, &uout, kCredMaxRecords, kBytes), -1);
  EXPECT_EQ(uout.size() * name.size(), kBytes);
}

TEST(CredProtocol, RequestsRoundTrip) {
  struct Case {
    CredRequest req;
    const char* password;
  };
  std::vector<Case> cases;
  for (int op = 1; op <= 8; op++) {
    CredRequest r;
    r.op = op;
    if (op == 1 || op == 3 || op == 5 || op == 8) r.name = "alice";
    if (op == 1) {
      r.service = "svc";
      r.accessOnly = 1;
    }
    if (op == 2 || op == 4) r.id = 4242;
    cases.push_back({r, op == 1 ? "s3cret" : nullptr});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.req.op);
    std::unique_ptr<CredSecretBuffer> buf;
    ASSERT_TRUE(encodeCredRequest(c.req, c.password, &buf));
    CredBufferReader in(buf->data(), buf->size());
    CredRequest back;
    CredSecretBuffer password(kCredMaxPassword + 1);
    ASSERT_TRUE(readCredRequest(in, &back, &password));
    EXPECT_EQ(in.remaining(), 0u);
    EXPECT_EQ(back.op, c.req.op);
    EXPECT_EQ(back.name, c.req.name);
    EXPECT_EQ(back.service, c.req.service);
    EXPECT_EQ(back.accessOnly, c.req.accessOnly);
    EXPECT_EQ(back.id, c.req.id);
    if (c.password != nullptr) {
      EXPECT_STREQ(password.data(), c.password);
    }
  }
}

// The child refuses requests no parent of ours sends.
TEST(CredProtocol, AbsurdRequestsAreRefused) {
  struct Case {
    const char* what;
    Bytes req;
  };
  const std::string bigPassword(kCredMaxPassword + 1, 'p');
  const Case cases[] = {
      {"empty", Bytes()},
      {"operation 0", Bytes().i(0)},
      {"operation 9", Bytes().i(9)},
      {"negative operation", Bytes().i(-1)},
      {"negative name length", Bytes().i(3).i(-1)},
      {"huge name length", Bytes().i(3).i(0x7fffffff).raw("alice")},
      {"name over the bound", Bytes().i(3).s(std::string(kCredMaxName + 1, 'a'))},
      {"name with a NUL", Bytes().i(3).s(std::string("ali\0ce", 6))},
      {"name cut short", Bytes().i(3).i(5).raw("ali")},
      {"no id", Bytes().i(2)},
      {"password over the bound", Bytes().i(1).s("alice").s(bigPassword).s("svc").i(0)},
      {"negative password length", Bytes().i(1).s("alice").i(-7)},
      {"password with a NUL", Bytes().i(1).s("alice").s(std::string("pa\0ss", 5)).s("svc").i(0)},
      {"no service", Bytes().i(1).s("alice").s("pw")},
      {"no access flag", Bytes().i(1).s("alice").s("pw").s("svc")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    CredBufferReader in(c.req.b.data(), c.req.b.size());
    CredRequest r;
    CredSecretBuffer password(kCredMaxPassword + 1);
    EXPECT_FALSE(readCredRequest(in, &r, &password));
    EXPECT_EQ(password.size(), 0u);
  }
}

TEST(CredProtocol, TheParentRefusesToEncodeWhatTheChildWouldRefuse) {
  CredRequest r;
  r.op = 3;
  r.name.assign(kCredMaxName + 1, 'a');
  std::unique_ptr<CredSecretBuffer> buf;
  EXPECT_FALSE(encodeCredRequest(r, nullptr, &buf));
  r.op = 1;
  r.name = "alice";
  const std::string big(kCredMaxPassword + 1, 'p');
  EXPECT_FALSE(encodeCredRequest(r, big.c_str(), &buf));
  r.op = 42;
  EXPECT_FALSE(encodeCredRequest(r, nullptr, &buf));
  EXPECT_EQ(buf, nullptr);
}

TEST(CredProtocol, SecretBufferKeepsToItsCapacity) {
  CredSecretBuffer b(8);
  EXPECT_TRUE(b.appendInt(1));
  EXPECT_FALSE(b.appendString("toolong", 7));
  EXPECT_EQ(b.size(), 4u);
  EXPECT_TRUE(b.append("abcd", 4));
  EXPECT_FALSE(b.append("x", 1));
  b.truncate(4);
  EXPECT_EQ(b.size(), 4u);
  b.wipe();
  EXPECT_EQ(b.size(), 0u);
  for (int i = 0; i < 8; i++) EXPECT_EQ(b.data()[i], 0);
}

// A reader on a pipe gives up at its deadline, and reports end of file.
TEST(CredProtocol, FdReaderDeadlineAndEnd) {
  int p[2];
  ASSERT_EQ(pipe(p), 0);
  {
    CredFdReader in(p[0], credNowMicros() + 50000);
    int v = 0;
    const int64_t start = credNowMicros();
    EXPECT_FALSE(in.read(&v, sizeof(v)));
    EXPECT_EQ(in.lastError(), ETIMEDOUT);
    EXPECT_LT(credNowMicros() - start, 5000000);
  }
  const int32_t one = 1;
  ASSERT_EQ(write(p[1], &one, sizeof(one)), 4);
  close(p[1]);
  CredFdReader in(p[0], credNowMicros() + 5000000);
  int32_t v = 0;
  EXPECT_TRUE(in.read(&v, sizeof(v)));
  EXPECT_EQ(v, 1);
  EXPECT_FALSE(in.read(&v, sizeof(v)));
  EXPECT_EQ(in.lastError(), 0);
  close(p[0]);
}

// Writing to a pipe whose reader is gone fails instead of raising SIGPIPE.
TEST(CredProtocol, WriteToAClosedPipeFails) {
  int p[2];
  ASSERT_EQ(pipe(p), 0);
  close(p[0]);
  EXPECT_FALSE(credWriteAll(p[1], "abc", 3));
  close(p[1]);
}

}  // namespace
