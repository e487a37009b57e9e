#include "foundation/settings.h"

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "foundation/log.h"
#include "foundation/properties.h"
#include "model/attributes.h"
#include "testing/test_util.h"

namespace {

// A configuration file in a temporary directory, installed as the current
// path, and the log of the test in the same directory.
class SettingsTest : public testing::Test {
 protected:
  void SetUp() override {
    path_ = tmp_.file("orvanex.properties");
    logPath_ = tmp_.file("log");
    setLog(logPath_.c_str());
    s_setOrvanexPropertiesPath(path_.c_str());
  }

  // Writes the file and gives it a modification time of its own, so that each
  // write is a change even within one second.
  void write(const std::string& text) {
    orvtest::writeFile(path_, text);
    stamp();
  }
  void stamp() {
    struct timespec times[2];
    times[0].tv_sec = times[1].tv_sec = 1700000000 + (++stamps_);
    times[0].tv_nsec = times[1].tv_nsec = 0;
    ASSERT_EQ(utimensat(AT_FDCWD, path_.c_str(), times, 0), 0);
  }

  // The log lines written since the last call, without their time prefix.
  std::vector<std::string> newLog() {
    std::string text = orvtest::readFile(logPath_);
    std::vector<std::string> out;
    size_t pos = seen_;
    seen_ = text.size();
    while (pos < text.size()) {
      size_t nl = text.find('\n', pos);
      std::string line = text.substr(pos, nl - pos);
      out.push_back(line.size() >= 14 && line[2] == ':' ? line.substr(14) : line);
      pos = nl + 1;
    }
    return out;
  }

  static void count(Properties* p) {
    ++calls;
    lastSet = p;
  }
  static inline int calls = 0;
  static inline Properties* lastSet = nullptr;

  orvtest::TempDir tmp_;
  std::string path_;
  std::string logPath_;
  int stamps_ = 0;
  size_t seen_ = 0;
};

TEST_F(SettingsTest, MissingFileIsReportedOnceAndKeepsDefaults) {
  s_setOrvanexPropertiesPath(tmp_.file("absent.properties").c_str());
  EXPECT_TRUE(s_testOrvanexProperties(true, nullptr));
  EXPECT_TRUE(s_testOrvanexProperties(true, nullptr));
  EXPECT_EQ(newLog(), std::vector<std::string>{"Warning: file " + tmp_.file("absent.properties") +
                                               " was not found. All properties set to defaults"});
  EXPECT_EQ(s_getIntProperty("listen_queue_size", 123), 123);
}

TEST_F(SettingsTest, ReloadsOnlyWhenTheFileChanges) {
  calls = 0;
  write("a: 1\n");
  ASSERT_TRUE(s_testOrvanexProperties(true, count));
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(lastSet, s_getOrvanexProperties());
  EXPECT_EQ(newLog(), (std::vector<std::string>{"Reading " + path_ + ", ...", "    orvanex.properties: a = 1"}));

  ASSERT_TRUE(s_testOrvanexProperties(true, count));  // unchanged
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(newLog(), std::vector<std::string>{});

  stamp();  // touched, same contents: a full reload
  ASSERT_TRUE(s_testOrvanexProperties(true, count));
  EXPECT_EQ(calls, 2);
  EXPECT_EQ(newLog(), (std::vector<std::string>{"Config file, " + path_ + ", has changed",
                                                "    orvanex.properties: a = 1"}));

  // An edit within the same second as the last load is still a change.
  orvtest::writeFile(path_, "a: 2\n");
  struct stat st;
  ASSERT_EQ(stat(path_.c_str(), &st), 0);
  struct timespec times[2] = {st.st_mtim, st.st_mtim};
  times[0].tv_sec = times[1].tv_sec = 1700000000 + stamps_;
  times[0].tv_nsec = times[1].tv_nsec = 500;
  ASSERT_EQ(utimensat(AT_FDCWD, path_.c_str(), times, 0), 0);
  ASSERT_TRUE(s_testOrvanexProperties(false, count));
  EXPECT_EQ(calls, 3);
  EXPECT_EQ(s_getIntProperty("a", 0), 2);
  EXPECT_EQ(newLog(), std::vector<std::string>{});  // not verbose
}

TEST_F(SettingsTest, FailedLoadKeepsThePreviousSetAndIsNotRetried) {
  write("a: 1\n");
  ASSERT_TRUE(s_testOrvanexProperties(false, nullptr));
  Properties* before = s_getOrvanexProperties();
  write("a: 2\nbroken\n");
  newLog();
  EXPECT_FALSE(s_testOrvanexProperties(false, nullptr));
  EXPECT_EQ(newLog(), (std::vector<std::string>{
                          "Expected <key>: <value> in properties file: " + path_ + " at line 2",
                          "Failed to load " + path_,
                      }));
  EXPECT_EQ(s_getOrvanexProperties(), before);
  EXPECT_EQ(s_getIntProperty("a", 0), 1);
  EXPECT_TRUE(s_testOrvanexProperties(false, nullptr));  // not retried until it changes
  EXPECT_EQ(newLog(), std::vector<std::string>{});
  write("a: 3\n");
  EXPECT_TRUE(s_testOrvanexProperties(false, nullptr));
  EXPECT_EQ(s_getIntProperty("a", 0), 3);
}

TEST_F(SettingsTest, ReloadRefreshesTheSettings) {
  // Each step is a new version of the file; the expectations hold after it.
  struct Step {
    const char* text;
    int debugJava, debugCreds, listenQueue, ftListenQueue, credsBuffer;
    bool hourly, upgrade;
    std::vector<std::string> logged;
  };
  const Step steps[] = {
      {"log_java: DEBUG\nlog_creds: TRACE\nlisten_queue_size: 40\nhourly_logs: on\nupgrade_certs: TRUE\n"
       "ft_listen_queue_size: 7\ncreds_buffer_size: 65536\n",
       2, 1, 40, 7, 65536, true, true, {}},
      {"# invalid texts keep the previous settings\nlog_java: Debug\nlisten_queue_size: -5\nhourly_logs: True\n"
       "log_creds: TRACE\nupgrade_certs: TRUE\nft_listen_queue_size: 7\ncreds_buffer_size: 65536\n",
       2, 1, 40, 7, 65536, true, true,
       {"    orvanex.properties. (property = log_java, line = 2, Use TRACE, DEBUG, INFO, WARNING, ERROR or CRICICAL)",
        "    orvanex.properties. (property = hourly_logs, line = 4, Use ON, OFF, TRUE, or FALSE)",
        "    orvanex.properties: property listen_queue_size is not an integer value"}},
      {"listen_queue_size:\n", 3, 3, 0, 25, 0, false, false, {}},  // empty is 0; missing keys default
      {"other: x\n", 3, 3, 10, 25, 0, false, false, {}},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(s.text);
    write(s.text);
    newLog();
    ASSERT_TRUE(s_testOrvanexProperties(false, nullptr));
    EXPECT_EQ(_debug_java, s.debugJava);
    EXPECT_EQ(_debug_creds, s.debugCreds);
    EXPECT_EQ(_listen_queue_size.load(), s.listenQueue);
    EXPECT_EQ(_ft_listen_queue_size.load(), s.ftListenQueue);
    EXPECT_EQ(_creds_buffer_size.load(), s.credsBuffer);
    EXPECT_EQ(_hourlyLogs, s.hourly);
    EXPECT_EQ(_upgrade_certs.load(), s.upgrade);
    EXPECT_EQ(newLog(), s.logged);
  }
}

TEST_F(SettingsTest, CredentialSettingsFollowTheirKeys) {
  write("libnss-sss_creds_workaround:\nauth_group_lock: admins, ops\n");
  ASSERT_TRUE(s_testOrvanexProperties(false, nullptr));
  EXPECT_TRUE(_creds_nss_workaround.load());
  EXPECT_EQ(authGroupLock(), std::optional<std::string>("admins, ops"));
  EXPECT_EQ(newLog(), (std::vector<std::string>{"libnss-sss creds workaround engaged", "auth_group_lock: 'admins, ops'"}));

  write("auth_group_lock:\n");  // present and empty: no group passes
  ASSERT_TRUE(s_testOrvanexProperties(false, nullptr));
  EXPECT_TRUE(_creds_nss_workaround.load());  // never turned off
  EXPECT_EQ(authGroupLock(), std::optional<std::string>(""));

  write("x: 1\n");
  ASSERT_TRUE(s_testOrvanexProperties(false, nullptr));
  EXPECT_TRUE(_creds_nss_workaround.load());
  EXPECT_EQ(authGroupLock(), std::nullopt);
}

TEST_F(SettingsTest, TypedAccessorsFallBackToDefaults) {
  write("i: 12\nbad_i: 1x\nb: off\nl: ERROR\nd: 2.5\ns: text \n");
  ASSERT_TRUE(s_testOrvanexProperties(false, nullptr));
  newLog();
  EXPECT_EQ(s_getIntProperty("i", 5), 12);
  EXPECT_EQ(s_getIntProperty("missing", 5), 5);
  EXPECT_EQ(s_getIntProperty("bad_i", 5), 5);
  EXPECT_EQ(newLog(), std::vector<std::string>{"    orvanex.properties: property bad_i is not an integer value"});
  EXPECT_FALSE(s_getBoolProperty("b", true));
  EXPECT_TRUE(s_getBoolProperty("missing", true));
  EXPECT_EQ(s_getLevelProperty("l", 1), 5);
  EXPECT_EQ(s_getLevelProperty("i", 1), 1);
  EXPECT_EQ(s_getDoubleProperty("d", 0), 2.5);
  EXPECT_EQ(s_getDoubleProperty("s", 7.5), 7.5);

  std::unique_ptr<Attributes> all(s_getAllProperties());
  EXPECT_EQ(all->size(), 6);
  EXPECT_STREQ(all->getStringAttribute("l"), "ERROR");

  char* s = s_getStringProperty("s", "def");
  EXPECT_STREQ(s, "text ");
  s_freeStringProperty(s);
  s = s_getStringProperty("missing", "def");
  EXPECT_STREQ(s, "def");
  s_freeStringProperty(s);
  EXPECT_EQ(s_getStringProperty("missing", nullptr), nullptr);
}

TEST(SettingsNoSetTest, EveryReaderGivesItsDefaultBeforeTheFirstLoad) {
  // A fresh process: nothing loaded yet.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        cpu_set_t set;
        CPU_ZERO(&set);
        CPU_SET(3, &set);
        char* s = s_getStringProperty("k", "d");
        bool ok = s_getOrvanexProperties() == nullptr && s_getIntProperty("k", 4) == 4 &&
                  s_getBoolProperty("k", true) && s_getLevelProperty("k", 6) == 6 &&
                  s_getDoubleProperty("k", 1.5) == 1.5 && s != nullptr && strcmp(s, "d") == 0 &&
                  s_getStringProperty("k", nullptr) == nullptr && !s_readCpuAffinity(&set) && CPU_ISSET(3, &set) &&
                  s_testOrvanexProperties(true, nullptr);  // no path: nothing to do
        Attributes* all = s_getAllProperties();
        ok = ok && all != nullptr && all->size() == 0;
        delete all;
        _exit(ok ? 0 : 1);
      },
      testing::ExitedWithCode(0), testing::_);
}

TEST_F(SettingsTest, CpuAffinity) {
  struct Case {
    const char* value;  // null: key missing
    bool ok;
    std::vector<int> cpus;
    std::vector<std::string> logged;
  };
  const Case cases[] = {
      {"0, 2,5", true, {0, 2, 5}, {"setting cpu 0", "setting cpu 2", "setting cpu 5"}},
      {"2048", true, {}, {"setting cpu 2048"}},
      {"1023,1024", true, {1023}, {"setting cpu 1023", "setting cpu 1024"}},
      {" 1 ,x, 3y,,4\t", true, {1, 4},
       {"setting cpu 1", "cpu_affinity: 'x' is not a CPU number, ignored",
        "cpu_affinity: '3y' is not a CPU number, ignored", "setting cpu 4"}},
      {"", true, {}, {}},
      {nullptr, false, {7}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value ? c.value : "(missing)");
    write(c.value ? std::string("cpu_affinity: ") + c.value + "\n" : "other: 1\n");
    ASSERT_TRUE(s_testOrvanexProperties(false, nullptr));
    newLog();
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(7, &set);
    EXPECT_EQ(s_readCpuAffinity(&set), c.ok);
    std::vector<int> got;
    for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
      if (CPU_ISSET(cpu, &set)) got.push_back(cpu);
    }
    EXPECT_EQ(got, c.cpus);
    EXPECT_EQ(newLog(), c.logged);
  }
}

TEST_F(SettingsTest, NegativeCpuIsFatal) {
  write("cpu_affinity: 1, -2\n");
  ASSERT_TRUE(s_testOrvanexProperties(false, nullptr));
  newLog();
  GTEST_FLAG_SET(death_test_style, "fast");  // the child logs into this test's file
  EXPECT_EXIT(
      {
        cpu_set_t set;
        (void)s_readCpuAffinity(&set);
      },
      testing::ExitedWithCode(1), testing::_);
  EXPECT_EQ(newLog(), (std::vector<std::string>{"setting cpu 1", "Fatal error: cpu_affinity setting is invalid"}));
}

// Readers on other threads during reloads see the old set or the new one,
// never a freed one (run under the sanitizers).
TEST_F(SettingsTest, ReadersDuringReloadsSeeOldOrNew) {
  write("n: 1\ns: one\n");
  ASSERT_TRUE(s_testOrvanexProperties(false, nullptr));
  std::atomic<bool> stop{false};
  std::atomic<int> bad{0};
  std::vector<std::thread> readers;
  for (int t = 0; t < 2; ++t) {
    readers.emplace_back([&] {
      while (!stop) {
        int n = s_getIntProperty("n", 0);
        char* s = s_getStringProperty("s", "");
        if (!((n == 1 && strcmp(s, "one") == 0) || (n == 2 && strcmp(s, "two") == 0) ||
              (n == 1 && strcmp(s, "two") == 0) || (n == 2 && strcmp(s, "one") == 0))) {
          ++bad;
        }
        s_freeStringProperty(s);
      }
    });
  }
  for (int i = 0; i < 200; ++i) {
    write(i % 2 == 0 ? "n: 2\ns: two\n" : "n: 1\ns: one\n");
    ASSERT_TRUE(s_testOrvanexProperties(false, nullptr));
  }
  stop = true;
  for (auto& th : readers) th.join();
  EXPECT_EQ(bad.load(), 0);
}

}  // namespace
