// The credential look-ups end to end: real children (creds_test_child, and
// orvanexd when it is built) doing real PAM and name-service calls against
// pam_wrapper's pam_matrix and nss_wrapper's files, never the machine's own
// users. The wrappers are preloaded into the children only, through the
// environment they inherit.
#include "foundation/creds.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "foundation/creds_cache.h"
#include "foundation/creds_child.h"
#include "foundation/creds_locks.h"
#include "foundation/creds_lookup.h"
#include "foundation/creds_protocol.h"
#include "foundation/log.h"
#include "foundation/settings.h"
#include "host/host_globals.h"
#include "testing/test_util.h"

extern char** environ;

namespace {

constexpr const char* kPassword = "Zq7-secret-pw";

// Runs a program with `input` on its standard input, collecting its standard
// output; kills it after `timeoutMs`. Returns the wait status, or -1.
int runProgram(const std::vector<std::string>& args, const std::string& input, std::string* output,
               int timeoutMs = 30000) {
  int in[2], out[2];
  if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) return -1;
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_adddup2(&fa, in[0], 0);
  posix_spawn_file_actions_adddup2(&fa, out[1], 1);
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = -1;
  const int rv = posix_spawn(&pid, argv[0], &fa, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&fa);
  close(in[0]);
  close(out[1]);
  if (rv != 0) {
    close(in[1]);
    close(out[0]);
    return -1;
  }
  signal(SIGPIPE, SIG_IGN);
  if (!input.empty()) (void)!write(in[1], input.data(), input.size());
  close(in[1]);
  const int64_t deadline = credNowMicros() + int64_t{timeoutMs} * 1000;
  char buf[4096];
  for (;;) {
    const int64_t left = deadline - credNowMicros();
    if (left <= 0) {
      kill(pid, SIGKILL);
      break;
    }
    struct pollfd p = {out[0], POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left / 1000 + 1)) <= 0) continue;
    const ssize_t n = read(out[0], buf, sizeof(buf));
    if (n <= 0) break;
    output->append(buf, static_cast<size_t>(n));
  }
  close(out[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  return status;
}

int countLines(const std::string& text) { return static_cast<int>(std::count(text.begin(), text.end(), '\n')); }

int occurrences(const std::string& text, const std::string& what) {
  int n = 0;
  for (size_t pos = text.find(what); pos != std::string::npos; pos = text.find(what, pos + 1)) n++;
  return n;
}

// Waits (at most 30 seconds) until `done` holds.
template <typename F>
bool waitFor(F done) {
  for (int i = 0; i < 3000; i++) {
    if (done()) return true;
    usleep(10000);
  }
  return done();
}

class CredsTest : public testing::Test {
 protected:
  void SetUp() override {
    const std::string d = tmp_.path();
    std::string passwd =
        "root:x:0:0:root:/root:/bin/sh\n"
        "alice:x:1000:100:Alice:/home/alice:/bin/sh\n"
        "bob:x:1001:100:Bob:/home/bob:/bin/sh\n"
        "carol:x:1002:4444:Carol:/home/carol:/bin/sh\n";
    for (int i = 0; i <= 60; i++) {
      passwd += "u" + std::to_string(i) + ":x:" + std::to_string(2000 + i) + ":100:U:/home/u:/bin/sh\n";
    }
    orvtest::writeFile(d + "/passwd", passwd);
    std::string group = "root:x:0:\nusers:x:100:\nstaff:x:50:alice\nadmins:x:60:carol\n";
    for (int i = 1; i <= 120; i++) group += "g" + std::to_string(i) + ":x:" + std::to_string(2000 + i) + ":bob\n";
    orvtest::writeFile(d + "/group", group);
    orvtest::writeFile(d + "/hosts", "127.0.0.2 myhost.example myhost\n");
    ASSERT_EQ(mkdir((d + "/services").c_str(), 0700), 0);
    const std::string passdb = d + "/passdb";
    orvtest::writeFile(passdb, std::string("alice:") + kPassword + ":svc\nbob:pw:other-svc\ncarol:pw3:svc\nroot:rootpw:svc\n");
    const std::string matrix = std::string("auth required ") + PAM_WRAPPER_MODULE_DIR + "/pam_matrix.so passdb=" +
                               passdb + "\naccount required " + PAM_WRAPPER_MODULE_DIR +
                               "/pam_matrix.so passdb=" + passdb + "\n";
    orvtest::writeFile(d + "/services/svc", matrix);
    orvtest::writeFile(d + "/services/login", std::string("auth required ") + PAM_WRAPPER_MODULE_DIR +
                                                   "/pam_matrix.so passdb=" + passdb + "\naccount required pam_permit.so\n");
    orvtest::writeFile(d + "/services/refuse", "auth required pam_deny.so\naccount required pam_deny.so\n");
    orvtest::writeFile(d + "/services/other", "auth required pam_deny.so\naccount required pam_deny.so\n");

    setenv("LD_PRELOAD", NSS_WRAPPER_LIBRARY, 1);
    setenv("PAM_WRAPPER", "1", 1);
    setenv("PAM_WRAPPER_SERVICE_DIR", (d + "/services").c_str(), 1);
    // The wrappers' deep binding does not mix with the sanitizers' own
    // interposition; the children of a sanitizer build need it off. This
    // pam_wrapper (1.1.4) reads the uid wrapper's variable for it.
    setenv("PAM_WRAPPER_DISABLE_DEEPBIND", "1", 1);
    setenv("UID_WRAPPER_DISABLE_DEEPBIND", "1", 1);
    setenv("NSS_WRAPPER_PASSWD", (d + "/passwd").c_str(), 1);
    setenv("NSS_WRAPPER_GROUP", (d + "/group").c_str(), 1);
    setenv("NSS_WRAPPER_HOSTS", (d + "/hosts").c_str(), 1);
    // A sanitized child runs with the wrappers loaded ahead of its runtime.
    // The child has one thread; what the thread sanitizer reports in it is
    // the wrappers' own locking (nss_wrapper unlocks a mutex it never locked).
    setenv("ASAN_OPTIONS", "verify_asan_link_order=0:detect_leaks=0", 1);
    setenv("TSAN_OPTIONS", "report_bugs=0", 1);
    setenv("CREDS_TEST_COUNT_FILE", (d + "/count").c_str(), 1);
    setenv("CREDS_TEST_TRACE", (d + "/trace").c_str(), 1);
    unsetenv("CREDS_FAKE_MODE");
    unsetenv("CREDS_TEST_DELAY_MS");
    unsetenv("CREDS_TEST_GATE");
    setChild(CREDS_TEST_CHILD);
    setLog((d + "/log").c_str());
    _debug_creds = LOG_INFO;
    setCredWatchdogTiming(0, 0);
    flushCredsCache();
  }

  void TearDown() override {
    credCleanup();
    if (pamLock_ >= 0) close(pamLock_);
    EXPECT_EQ(_credCacheLocks.load(), 0) << "a reference on a cache entry was not released";
    EXPECT_EQ(credBusySlots(), 0);
    _debug_creds = LOG_INFO;
    _creds_buffer_size = 0;
    _creds_nss_workaround = false;
    setAuthGroupLock(nullptr);
    setCredWatchdogTiming(0, 0);
    setCredEnumerationLimit(0);
    setLog(nullptr);
  }

  // Preloads pam_wrapper into the children from now on. pam_wrapper keeps
  // its state in one of a few fixed directories /tmp/pam.X and takes them
  // from other processes it believes gone, so children of concurrent test
  // processes that all run PAM can pull its state from under each other;
  // the tests that need PAM take turns on a lock file (waiting at most two
  // minutes), and the others do not load it.
  void usePam() {
    pamLock_ = open("/tmp/orvtest-pam-wrapper.lock", O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (pamLock_ >= 0) {
      for (int i = 0; i < 12000 && flock(pamLock_, LOCK_EX | LOCK_NB) != 0; i++) usleep(10000);
    }
    setenv("LD_PRELOAD", (std::string(PAM_WRAPPER_LIBRARY) + ":" + getenv("LD_PRELOAD")).c_str(), 1);
  }

  static void setChild(const std::string& path) {
    ASSERT_LT(path.size(), sizeof(commandPath));
    memcpy(commandPath, path.c_str(), path.size() + 1);
  }

  int children() const { return countLines(orvtest::readFile(tmp_.file("count"))); }
  std::string logText() const { return orvtest::readFile(tmp_.file("log")); }
  bool logHas(const std::string& text) const { return logText().find(text) != std::string::npos; }

  orvtest::TempDir tmp_;
  int pamLock_ = -1;
};

std::vector<std::string> toVector(char** list) {
  std::vector<std::string> out;
  for (char** p = list; p != nullptr && *p != nullptr; p++) out.push_back(*p);
  return out;
}

TEST_F(CredsTest, UserByNameAndById) {
  struct passwd pw;
  struct passwd* result = nullptr;
  char buf[1024];
  ASSERT_EQ(s_getpwnam_r("alice", &pw, buf, sizeof(buf), &result), 0);
  ASSERT_EQ(result, &pw);
  EXPECT_STREQ(pw.pw_name, "alice");
  EXPECT_EQ(pw.pw_uid, 1000u);
  EXPECT_EQ(pw.pw_gid, 100u);
  EXPECT_STREQ(pw.pw_dir, "/home/alice");
  EXPECT_STREQ(pw.pw_shell, "");
  EXPECT_EQ(children(), 1);

  // Answered from the cache, by name and by uid.
  EXPECT_EQ(s_get_uid("alice"), 1000);
  char name[32];
  ASSERT_EQ(s_getusername(1000, name, sizeof(name)), 0);
  EXPECT_STREQ(name, "alice");
  EXPECT_EQ(children(), 1);

  // A buffer too small fails with ERANGE, it never cuts the strings.
  char small[8];
  EXPECT_EQ(s_getpwnam_r("alice", &pw, small, sizeof(small), &result), -1);
  EXPECT_EQ(errno, ERANGE);
  EXPECT_EQ(result, nullptr);
  EXPECT_EQ(s_getusername(1000, name, 5), -1);

  ASSERT_EQ(s_getpwuid_r(1001, &pw, buf, sizeof(buf), &result), 0);
  EXPECT_STREQ(pw.pw_name, "bob");
}

TEST_F(CredsTest, NamesThatDoNotExistAreCachedAsSuch) {
  EXPECT_EQ(s_get_uid("nosuchuser"), -1);
  EXPECT_EQ(s_get_gid("nosuchgroup"), -1);
  char name[32];
  EXPECT_EQ(s_getusername(777, name, sizeof(name)), -1);
  const int started = children();
  EXPECT_EQ(started, 3);
  EXPECT_EQ(s_get_uid("nosuchuser"), -1);
  EXPECT_EQ(s_getusername(777, name, sizeof(name)), -1);
  EXPECT_EQ(children(), started) << "negative answers come from the cache";
  timeoutCredsCache();
  EXPECT_EQ(s_get_uid("nosuchuser"), -1);
  EXPECT_EQ(children(), started + 1) << "a timed-out answer is fetched again";
}

TEST_F(CredsTest, Groups) {
  struct group gr;
  struct group* result = nullptr;
  char buf[256];
  ASSERT_EQ(s_getgrnam_r("staff", &gr, buf, sizeof(buf), &result), 0);
  EXPECT_STREQ(gr.gr_name, "staff");
  EXPECT_EQ(gr.gr_gid, 50u);
  ASSERT_NE(gr.gr_mem, nullptr);
  EXPECT_EQ(gr.gr_mem[0], nullptr);
  EXPECT_EQ(s_get_gid("admins"), 60);
  char name[32];
  ASSERT_EQ(s_getgroupname(60, name, sizeof(name)), 0);
  EXPECT_STREQ(name, "admins");
  // A gid without a name.
  EXPECT_EQ(s_getgroupname(4444, name, sizeof(name)), -1);
  EXPECT_EQ(s_getgrgid_r(4444, &gr, buf, sizeof(buf), &result), -1);
  EXPECT_EQ(result, nullptr);
}

TEST_F(CredsTest, GroupListNamesEveryGroupOrItsNumber) {
  char** list = nullptr;
  ASSERT_EQ(s_getgrouplist("alice", &list), 0);
  std::vector<std::string> names = toVector(list);
  s_free_grouplist(list);
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"staff", "users"}));

  // carol's primary gid has no group: listed as its number.
  ASSERT_EQ(s_getgrouplist("carol", &list), 0);
  names = toVector(list);
  s_free_grouplist(list);
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"4444", "admins"}));

  EXPECT_EQ(s_getgrouplist("nosuchuser", &list), -1);
}

// bob is in 121 groups: every one of them comes back.
TEST_F(CredsTest, AUserInMoreThanAHundredGroupsKeepsThemAll) {
  int gids[200];
  int n = 200;
  ASSERT_EQ(s_getgroups(1001, gids, &n), 0);
  EXPECT_EQ(n, 121);
  std::sort(gids, gids + n);
  EXPECT_EQ(gids[0], 100);
  EXPECT_EQ(gids[120], 2120);
  // At most *n are copied.
  n = 5;
  ASSERT_EQ(s_getgroups(1001, gids, &n), 0);
  EXPECT_EQ(n, 5);
  EXPECT_EQ(s_getgroups(1001, nullptr, &n), -1);
  EXPECT_EQ(s_getgroups(1001, gids, nullptr), -1);
}

// A small configured buffer grows instead of reporting "not found".
TEST_F(CredsTest, ASmallBufferSizeStillFindsEverything) {
  _creds_buffer_size = 16;
  EXPECT_EQ(s_get_uid("alice"), 1000);
  EXPECT_EQ(s_get_gid("g120"), 2120);
}

// A module that answers ERANGE yet fills the group in: with the work-around
// the first answer counts; without it the buffer grows and the group is
// found all the same.
TEST_F(CredsTest, TheErangeWorkAround) {
  setenv("LD_PRELOAD", (std::string(CREDS_BUGGY_NSS) + ":" + getenv("LD_PRELOAD")).c_str(), 1);
  _creds_buffer_size = 16;
  _debug_creds = LOG_TRACE;
  _creds_nss_workaround = true;
  char name[32];
  ASSERT_EQ(s_getgroupname(2120, name, sizeof(name)), 0);
  EXPECT_STREQ(name, "g120");
  std::string trace = orvtest::readFile(tmp_.file("trace"));
  EXPECT_NE(trace.find("ERANGE work-around: group 2120 found"), std::string::npos) << trace;
  _creds_nss_workaround = false;
  ASSERT_EQ(s_getgroupname(2119, name, sizeof(name)), 0);
  EXPECT_STREQ(name, "g119");
  trace = orvtest::readFile(tmp_.file("trace"));
  EXPECT_EQ(trace.find("ERANGE work-around: group 2119"), std::string::npos);
}

TEST_F(CredsTest, HostByName) {
  int addr = 0;
  ASSERT_EQ(s_gethostbyname("myhost.example", &addr), 0);
  EXPECT_EQ(memcmp(&addr, "\x7f\0\0\x02", 4), 0);
  EXPECT_EQ(s_gethostbyname("nosuchhost.invalid", &addr), -1);
}

TEST_F(CredsTest, Enumerations) {
  _debug_creds = LOG_TRACE;
  CredPwEnum* pwe = nullptr;
  ASSERT_EQ(s_setpwent(&pwe), 0);
  struct passwd pw;
  char buf[256];
  std::vector<std::string> users;
  char tiny[2];
  EXPECT_EQ(s_getpwent_r(pwe, &pw, tiny, sizeof(tiny)), -1);
  EXPECT_EQ(errno, ERANGE);
  while (s_getpwent_r(pwe, &pw, buf, sizeof(buf)) == 0) users.push_back(pw.pw_name);
  s_endpwent(pwe);
  EXPECT_EQ(users.size(), 65u);
  EXPECT_EQ(users[1], "alice") << "the ERANGE did not skip an entry";

  CredGrEnum* gre = nullptr;
  ASSERT_EQ(s_setgrent(&gre), 0);
  struct group gr;
  int groups = 0;
  while (s_getgrent_r(gre, &gr, buf, sizeof(buf)) == 1) groups++;
  s_endgrent(gre);
  EXPECT_EQ(groups, 124);
  EXPECT_TRUE(logHas("read group = g120"));
  const int started = children();
  // Within 200 seconds the cache serves the enumeration and the look-ups.
  ASSERT_EQ(s_setgrent(&gre), 0);
  s_endgrent(gre);
  EXPECT_EQ(s_get_gid("g7"), 2007);
  EXPECT_EQ(children(), started);
}

TEST_F(CredsTest, LoginIsCheckedByPamEveryTime) {
  usePam();
  char** groups = s_verify_login("svc", "alice", "LOCAL", kPassword, 0);
  ASSERT_NE(groups, nullptr);
  std::vector<std::string> names = toVector(groups);
  s_free_grouplist(groups);
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"staff", "users"}));
  const int started = children();
  groups = s_verify_login("svc", "alice", "LOCAL", kPassword, 0);
  ASSERT_NE(groups, nullptr);
  s_free_grouplist(groups);
  EXPECT_EQ(children(), started + 1) << "one child for the password, the groups from the cache";
}

TEST_F(CredsTest, LoginsThatFail) {
  usePam();
  struct Case {
    const char* what;
    const char* service;
    const char* user;
    const char* password;
  };
  const Case cases[] = {
      {"wrong password", "svc", "alice", "wrong"},
      {"unknown user", "svc", "nosuchuser", "whatever"},
      {"a service that refuses", "refuse", "alice", kPassword},
      {"a service the user may not use", "svc", "bob", "pw"},
      {"no such service", "nosuchservice", "alice", kPassword},
      {"empty password", "svc", "alice", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(s_verify_login(c.service, c.user, nullptr, c.password, 0), nullptr);
  }
  // A failed login leaves nothing behind that would fail the user's look-ups.
  EXPECT_EQ(s_get_uid("alice"), 1000);
}

TEST_F(CredsTest, AccessOnlyChecksTheAccountWithoutThePassword) {
  usePam();
  char** groups = s_verify_login("svc", "alice", nullptr, "not-the-password", 1);
  ASSERT_NE(groups, nullptr);
  s_free_grouplist(groups);
  EXPECT_EQ(s_verify_login("svc", "bob", nullptr, "", 1), nullptr) << "bob may not use svc";
}

TEST_F(CredsTest, TheDefaultServiceIsLogin) {
  usePam();
  _debug_creds = LOG_TRACE;
  char** groups = s_verify_login(nullptr, "alice", nullptr, kPassword, 0);
  ASSERT_NE(groups, nullptr);
  s_free_grouplist(groups);
  EXPECT_TRUE(logHas("Creds: s_verify_login, user = alice, service = login"));
}

TEST_F(CredsTest, AuthGroupLock) {
  usePam();
  setAuthGroupLock("nosuchgroup, admins");
  char** groups = s_verify_login("svc", "carol", nullptr, "pw3", 0);
  ASSERT_NE(groups, nullptr) << "carol is in the second group";
  s_free_grouplist(groups);
  EXPECT_EQ(s_verify_login("svc", "alice", nullptr, kPassword, 0), nullptr);
  EXPECT_TRUE(logHas("Creds: s_verify_login, user is not a member of the required group(s) (see auth_group_lock in "
                     "orvanex.properties)"));
  setAuthGroupLock("staff");
  groups = s_verify_login("svc", "alice", nullptr, kPassword, 0);
  ASSERT_NE(groups, nullptr);
  s_free_grouplist(groups);
  setAuthGroupLock("");
  EXPECT_EQ(s_verify_login("svc", "alice", nullptr, kPassword, 0), nullptr) << "an empty lock admits nobody";
}

// With every trace on, the password appears in no log line and no trace file.
TEST_F(CredsTest, ThePasswordIsNeverWritten) {
  usePam();
  _debug_creds = LOG_TRACE;
  char** groups = s_verify_login("svc", "alice", nullptr, kPassword, 0);
  ASSERT_NE(groups, nullptr);
  s_free_grouplist(groups);
  EXPECT_EQ(s_verify_login("svc", "alice", nullptr, "Wr0ng-pw-123", 0), nullptr);
  const std::string log = logText();
  EXPECT_NE(log.find("Creds: s_verify_login, succeeds. Groups: "), std::string::npos);
  EXPECT_NE(log.find("Creds: lockOrWait: locking slot"), std::string::npos);
  EXPECT_EQ(log.find(kPassword), std::string::npos);
  EXPECT_EQ(log.find("Wr0ng-pw-123"), std::string::npos);
  const std::string trace = orvtest::readFile(tmp_.file("trace"));
  EXPECT_NE(trace.find("Session started"), std::string::npos);
  EXPECT_NE(trace.find("pam_authenticate = 0"), std::string::npos);
  EXPECT_EQ(trace.find(kPassword), std::string::npos);
  EXPECT_EQ(trace.find("Wr0ng-pw-123"), std::string::npos);
  struct stat st;
  ASSERT_EQ(stat(tmp_.file("trace").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0077, 0u) << "the trace is private to its owner";
}

// The trace never follows a link planted where it is written.
TEST_F(CredsTest, TheTraceRefusesALink) {
  const std::string target = tmp_.file("target");
  orvtest::writeFile(target, "");
  ASSERT_EQ(symlink(target.c_str(), tmp_.file("trace").c_str()), 0);
  _debug_creds = LOG_TRACE;
  EXPECT_EQ(s_get_uid("alice"), 1000);
  EXPECT_EQ(orvtest::readFile(target), "");
}

TEST_F(CredsTest, TheChildGetsExactlyItsArguments) {
  setenv("CREDS_FAKE_MODE", "argv", 1);
  setenv("CREDS_FAKE_ARGV_FILE", tmp_.file("argv").c_str(), 1);
  EXPECT_EQ(s_get_uid("alice"), -1);
  _creds_nss_workaround = true;
  _creds_buffer_size = 777;
  _debug_creds = LOG_TRACE;
  EXPECT_EQ(s_get_uid("bob"), -1);
  EXPECT_EQ(orvtest::readFile(tmp_.file("argv")),
            "orvanex -bufsize 0 -testcred\n"
            "orvanex -nss_workaround -debug_creds -bufsize 777 -testcred\n");
}

// Two threads asking for one user start one child; the second waits for the
// first and takes its answer from the cache.
TEST_F(CredsTest, TwoThreadsAskingForOneUserStartOneChild) {
  const std::string gate = tmp_.file("gate");
  setenv("CREDS_TEST_GATE", gate.c_str(), 1);
  const int blocked = _credBlocked.load();
  std::atomic<int> uids[2] = {{0}, {0}};
  std::thread a([&] { uids[0] = s_get_uid("alice"); });
  ASSERT_TRUE(waitFor([&] { return children() == 1; }));
  std::thread b([&] { uids[1] = s_get_uid("alice"); });
  const bool waited = waitFor([&] { return _credBlocked.load() > blocked; });
  orvtest::writeFile(gate, "");
  a.join();
  b.join();
  EXPECT_TRUE(waited);
  EXPECT_EQ(uids[0].load(), 1000);
  EXPECT_EQ(uids[1].load(), 1000);
  EXPECT_EQ(children(), 1);
}

// 61 distinct look-ups at once: the 61st finds the table full, runs without
// a slot and still completes.
TEST_F(CredsTest, ASixtyFirstConcurrentLookupStillCompletes) {
  const std::string gate = tmp_.file("gate");
  setenv("CREDS_TEST_GATE", gate.c_str(), 1);
  std::vector<std::thread> threads;
  std::atomic<int> found{0};
  for (int i = 0; i <= 60; i++) {
    threads.emplace_back([i, &found] {
      if (s_get_uid(("u" + std::to_string(i)).c_str()) == 2000 + i) found++;
    });
  }
  const bool full = waitFor([&] { return children() == 61; });
  const int busy = credBusySlots();
  orvtest::writeFile(gate, "");
  for (std::thread& t : threads) t.join();
  EXPECT_TRUE(full);
  EXPECT_EQ(busy, kCredLockSlots);
  EXPECT_EQ(found.load(), 61);
  EXPECT_TRUE(logHas("Creds: Warning: cred lock table too small"));
}

// A child that never answers is killed by the watchdog; the look-up is tried
// three times, a login once.
TEST_F(CredsTest, TheWatchdogKillsAHungChild) {
  setCredWatchdogTiming(100, 300);
  setenv("CREDS_FAKE_MODE", "hang", 1);
  const std::string failed = "Creds: unable to read error reply from child process (2)";
  const int64_t start = credNowMicros();
  EXPECT_EQ(s_get_uid("alice"), -1);
  EXPECT_EQ(occurrences(logText(), failed), 3);
  EXPECT_EQ(s_verify_login("svc", "alice", nullptr, kPassword, 0), nullptr);
  EXPECT_EQ(occurrences(logText(), failed), 4);
  EXPECT_LT(credNowMicros() - start, 20000000);
  EXPECT_EQ(occurrences(logText(), "Creds: credSafetyTimer will kill sub-process"), 4);
}

TEST_F(CredsTest, TheWatchdogLogsTheCounters) {
  setCredWatchdogTiming(50, 15000);
  _debug_creds = LOG_DEBUG;
  EXPECT_EQ(s_get_uid("alice"), 1000);
  for (int i = 0; i < 100 && !logHas("Creds: lookups = "); i++) usleep(20000);
  EXPECT_TRUE(logHas("Creds: lookups = "));
  EXPECT_TRUE(logHas(", locks = 0\n"));
}

// A child that answers but does not end is not waited for: the watchdog
// reaps it, killing it at the hung limit.
TEST_F(CredsTest, AChildThatLingersDoesNotHoldUpTheCaller) {
  setCredWatchdogTiming(50, 3000);
  setenv("CREDS_FAKE_MODE", "linger", 1);
  const int64_t start = credNowMicros();
  EXPECT_EQ(s_get_uid("alice"), -1);
  EXPECT_LT(credNowMicros() - start, 2500000) << "the caller waited for the child";
  const pid_t pid = static_cast<pid_t>(std::stoi(orvtest::readFile(tmp_.file("count"))));
  EXPECT_TRUE(waitFor([&] { return kill(pid, 0) != 0; })) << "the lingering child was neither killed nor reaped";
}

// A misbehaving child gives a failed look-up: no crash, no overrun, no
// allocation of what it claims.
TEST_F(CredsTest, AMisbehavingChildGivesAFailedLookup) {
  struct Case {
    const char* mode;
    int tries;  // children a failing look-up starts
  };
  const Case cases[] = {
      {"negative-length", 3}, {"huge-length", 3}, {"many-groups", 3}, {"truncated", 3},
      {"die", 3},             {"exit", 3},        {"bad-code", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mode);
    flushCredsCache();
    const int before = children();
    setenv("CREDS_FAKE_MODE", c.mode, 1);
    const int64_t start = credNowMicros();
    EXPECT_EQ(s_get_uid("alice"), -1);
    EXPECT_EQ(children() - before, c.tries) << logText();
    EXPECT_LT(credNowMicros() - start, 25000000) << "a broken reply is not waited out";
  }
}

TEST_F(CredsTest, AMisbehavingEnumerationFails) {
  setCredEnumerationLimit(10000);
  for (const char* mode : {"enum-endless", "enum-bad-marker", "enum-huge-string"}) {
    SCOPED_TRACE(mode);
    flushCredsCache();
    setenv("CREDS_FAKE_MODE", mode, 1);
    CredGrEnum* gre = nullptr;
    EXPECT_EQ(s_setgrent(&gre), -1);
    CredPwEnum* pwe = nullptr;
    EXPECT_EQ(s_setpwent(&pwe), -1);
  }
}

TEST_F(CredsTest, AProgramThatCannotBeExecutedFails) {
  setChild(tmp_.file("no-such-program"));
  EXPECT_EQ(s_get_uid("alice"), -1);
  EXPECT_TRUE(logHas("lookup: unable to execute -testcred command"));
  setChild("");
  EXPECT_EQ(s_get_uid("alice"), -1);
}

// The child side, driven with crafted requests.
TEST_F(CredsTest, TheChildRefusesAbsurdRequests) {
  auto i32 = [](int32_t v) { return std::string(reinterpret_cast<const char*>(&v), 4); };
  struct Case {
    const char* what;
    std::string request;
  };
  const Case cases[] = {
      {"nothing", ""},
      {"operation 0", i32(0)},
      {"operation 77", i32(77)},
      {"negative name length", i32(3) + i32(-1)},
      {"huge name length", i32(3) + i32(0x7fffffff) + "alice"},
      {"name cut short", i32(3) + i32(5) + "al"},
      {"name with a NUL", i32(3) + i32(6) + std::string("ali\0ce", 6)},
      {"password over the bound", i32(1) + i32(5) + "alice" + i32(kCredMaxPassword + 1) +
                                      std::string(kCredMaxPassword + 1, 'p') + i32(3) + "svc" + i32(0)},
      {"no id", i32(2) + "\x01"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string out;
    const int status = runProgram({CREDS_TEST_CHILD, "orvanex", "-bufsize", "0", "-testcred"}, c.request, &out);
    ASSERT_TRUE(WIFEXITED(status)) << status;
    EXPECT_EQ(WEXITSTATUS(status), 11);
    EXPECT_EQ(out, "");
  }
}

TEST_F(CredsTest, TheChildAnswersACraftedRequest) {
  usePam();
  auto i32 = [](int32_t v) { return std::string(reinterpret_cast<const char*>(&v), 4); };
  std::string out;
  int status = runProgram({CREDS_TEST_CHILD, "-bufsize", "99999999999", "-testcred"}, i32(2) + i32(1002), &out);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  CredBufferReader in(out.data(), out.size());
  CredUserReply r;
  ASSERT_EQ(readCredUserReply(in, &r), 0);
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.name, "carol");
  EXPECT_EQ(r.groups.size(), 2u);
  EXPECT_EQ(in.remaining(), 0u);

  // A refused login answers 2 and ends normally.
  out.clear();
  status = runProgram({CREDS_TEST_CHILD, "-testcred"},
                      i32(1) + i32(5) + "alice" + i32(3) + "bad" + i32(3) + "svc" + i32(0), &out);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(out, i32(2));
}

// The administrator check runs in a process of its own under the uid
// wrapper, which lets it take another effective uid without privileges.
TEST_F(CredsTest, AdministratorCheck) {
#if defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "the uid wrapper's pthread_create hook and the thread sanitizer's crash the process together";
#endif
  usePam();
  const std::string preload = std::string(UID_WRAPPER_LIBRARY) + ":" + getenv("LD_PRELOAD");
  setenv("LD_PRELOAD", preload.c_str(), 1);
  setenv("UID_WRAPPER", "1", 1);
  setenv("UID_WRAPPER_ROOT", "1", 1);
  setenv("CREDS_TEST_LOG", tmp_.file("admin-log").c_str(), 1);
  struct Case {
    const char* what;
    std::vector<std::string> args;
    const char* want;
  };
  const Case cases[] = {
      {"root", {"svc", "root", "rootpw"}, "admin=1\n"},
      {"root with a wrong password", {"svc", "root", "nope"}, "admin=0\n"},
      {"another user while running as root", {"svc", "alice", kPassword}, "admin=0\n"},
      {"the user the process runs as", {"svc", "alice", kPassword, "1000"}, "admin=1\n"},
      {"another user than the process runs as", {"svc", "carol", "pw3", "1000"}, "admin=0\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::string> args = {CREDS_TEST_CHILD, "admin"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    std::string out;
    const int status = runProgram(args, "", &out);
    ASSERT_TRUE(WIFEXITED(status)) << status;
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(out, c.want);
  }
  const std::string log = orvtest::readFile(tmp_.file("admin-log"));
  EXPECT_NE(log.find("Sorry, alice is not admin user"), std::string::npos);
  EXPECT_EQ(log.find(kPassword), std::string::npos);
}

// The host program itself in credential mode.
TEST_F(CredsTest, OrvanexdServesALookup) {
  usePam();
  struct stat st;
  if (stat(ORVANEXD_PROGRAM, &st) != 0) GTEST_SKIP() << "orvanexd is not built";
  setChild(ORVANEXD_PROGRAM);
  EXPECT_EQ(s_get_uid("alice"), 1000);
  char** groups = s_verify_login("svc", "alice", nullptr, kPassword, 0);
  ASSERT_NE(groups, nullptr);
  s_free_grouplist(groups);
}

}  // namespace
