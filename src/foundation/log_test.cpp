#include "foundation/log.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "testing/test_util.h"

namespace {

// A clock the tests move by hand; zero means the real clock.
std::atomic<long long> g_fakeMicros{0};

void fakeClock(struct timeval* tv) {
  long long us = g_fakeMicros.load();
  tv->tv_sec = static_cast<time_t>(us / 1000000);
  tv->tv_usec = static_cast<suseconds_t>(us % 1000000);
}

// Local time is UTC in these tests, so the file names follow from the clock.
void useFakeClock(int year, int month, int day, int hour, int minute, int second, int millis) {
  setenv("TZ", "UTC", 1);
  tzset();
  struct tm tm = {};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  tm.tm_sec = second;
  g_fakeMicros = static_cast<long long>(timegm(&tm)) * 1000000 + millis * 1000;
  setLogClock(fakeClock);
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);) out.push_back(l);
  return out;
}

std::vector<std::string> filesIn(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// Directory mode: the fixed file, which wins over the directory, is cleared.
void useDir(const std::string& dir) {
  setLog(nullptr);
  setLogDir(dir.c_str());
}

// Strips the "hh:mm:ss.mmm: " prefix after checking its shape.
std::string body(const std::string& line) {
  static const std::regex prefix(R"(^\d\d:\d\d:\d\d\.\d\d\d: )");
  EXPECT_TRUE(std::regex_search(line, prefix)) << line;
  return line.size() >= 14 ? line.substr(14) : line;
}

TEST(LogTest, NothingIsWrittenWithoutFileDirectoryOrCopy) {
  // The check runs in a freshly started copy of this program, where nothing
  // is configured; the directory is handed to it through the environment.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  std::unique_ptr<orvtest::TempDir> own;
  std::string dir;
  if (const char* inherited = getenv("ORV_LOG_TEST_DIR")) {
    dir = inherited;
  } else {
    own = std::make_unique<orvtest::TempDir>();
    dir = own->path();
    setenv("ORV_LOG_TEST_DIR", dir.c_str(), 1);
  }
  const std::string out = dir + "/stdout";
  EXPECT_EXIT(
      {
        if (chdir(dir.c_str()) != 0) _exit(3);
        if (freopen(out.c_str(), "w", stdout) == nullptr) _exit(4);
        log(0, "nobody reads this");
        log(2, "nor this");
        log("other", 0, "nor this");
        fflush(stdout);
        _exit(0);
      },
      testing::ExitedWithCode(0), testing::_);
  unsetenv("ORV_LOG_TEST_DIR");
  EXPECT_EQ(filesIn(dir), std::vector<std::string>{"stdout"});
  EXPECT_EQ(orvtest::readFile(out), "");
}

TEST(LogTest, LinesCarryTimeIdentifierAndErrorText) {
  orvtest::TempDir tmp;
  useFakeClock(2024, 3, 7, 13, 5, 9, 123);
  setLog(tmp.file("fixed.log").c_str());
  setLogErrorTextHook(nullptr);

  struct Case {
    const char* what;
    void (*write)();
    std::vector<std::string> want;
  };
  const Case cases[] = {
      {"plain", [] { log(0, "hello %d", 42); }, {"13:05:09.123: hello 42"}},
      {"identifier", [] { log(LOG_ERROR, 0, 0x1234abcdLL, "tagged"); }, {"13:05:09.123: 000000001234abcd: tagged"}},
      {"errno", [] { log(2, "open failed"); }, {"13:05:09.123: open failed", "    2 No such file or directory"}},
      {"directory error without hook", [] { log(-5, "lookup"); }, {"13:05:09.123: lookup", "    -5 Unknown error"}},
      {"directory error with hook",
       [] {
         setLogErrorTextHook([](int code) -> const char* { return code == 5 ? "Object not found" : nullptr; });
         log(-5, "lookup");
         setLogErrorTextHook(nullptr);
       },
       {"13:05:09.123: lookup", "    -5 Object not found"}},
      {"errno with identifier", [] { log(0, LOG_WARNING, 13, 7, "denied"); },
       {"13:05:09.123: 0000000000000007: denied", "    13 Permission denied"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove(tmp.file("fixed.log"));
    c.write();
    EXPECT_EQ(lines(orvtest::readFile(tmp.file("fixed.log"))), c.want);
  }
  setLogClock(nullptr);
}

// The prefix and the file names use local time; it must agree with the C
// library's across zones, half-hour offsets, daylight-saving changes and
// leap days.
TEST(LogTest, LocalTimeAgreesWithTheCLibrary) {
  orvtest::TempDir tmp;
  setLog(tmp.file("tz.log").c_str());
  struct Case {
    const char* zone;
    long long utc;  // seconds
  };
  const Case cases[] = {
      {"UTC", 951782400},                   // 2000-02-29 00:00:00
      {"America/New_York", 1710054000},     // 2024-03-10 07:00 UTC, the hour after the change
      {"America/New_York", 1710053940},     // one minute before it
      {"Australia/Lord_Howe", 1712415600},  // half-hour daylight-saving zone
      {"Asia/Kathmandu", 1735689599},       // +05:45, last second of 2024 UTC
      {"Pacific/Kiritimati", 1700000000},   // +14:00
      {"Pacific/Pago_Pago", 1700003600},    // -11:00
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.zone);
    setenv("TZ", c.zone, 1);
    tzset();
    g_fakeMicros = c.utc * 1000000 + 456000;
    setLogClock(fakeClock);
    std::filesystem::remove(tmp.file("tz.log"));
    log(0, "x");
    time_t t = static_cast<time_t>(c.utc);
    struct tm tm;
    localtime_r(&t, &tm);
    char want[64];
    strftime(want, sizeof want, "%H:%M:%S.456: x\n", &tm);
    EXPECT_EQ(orvtest::readFile(tmp.file("tz.log")), want);
  }
  setLogClock(nullptr);
  setenv("TZ", "UTC", 1);
  tzset();
}

TEST(LogTest, ThresholdsFilterLines) {
  orvtest::TempDir tmp;
  setLog(tmp.file("t.log").c_str());
  int saved = _log_level;
  _log_level = LOG_WARNING;
  log(LOG_INFO, 0, 0, "dropped info");
  log(LOG_WARNING, 0, 0, "kept warning");
  log(LOG_DEBUG, LOG_DEBUG, 0, 0, "kept at own threshold");
  log(LOG_INFO, LOG_TRACE, 0, 0, "dropped trace");
  log(LOG_TRACE, LOG_CRITICAL, 0, 0, "kept critical");
  _log_level = saved;
  std::vector<std::string> got;
  for (const auto& l : lines(orvtest::readFile(tmp.file("t.log")))) got.push_back(body(l));
  EXPECT_EQ(got, (std::vector<std::string>{"kept warning", "kept at own threshold", "kept critical"}));
}

TEST(LogTest, LongMessageIsCutAtItsLimit) {
  orvtest::TempDir tmp;
  setLog(tmp.file("long.log").c_str());
  const std::string exact(kLogMessageMax, 'x');
  const std::string longer(kLogMessageMax + 500, 'y');
  log(0, "%s", exact.c_str());
  log(0, "%s", longer.c_str());
  log(2, "%s", longer.c_str());  // the error line survives the cut
  auto got = lines(orvtest::readFile(tmp.file("long.log")));
  ASSERT_EQ(got.size(), 4u);
  EXPECT_EQ(body(got[0]), exact);
  EXPECT_EQ(body(got[1]), std::string(kLogMessageMax, 'y'));
  EXPECT_EQ(body(got[2]), std::string(kLogMessageMax, 'y'));
  EXPECT_EQ(got[3], "    2 No such file or directory");
}

TEST(LogTest, DatedFileNamesFollowTheClock) {
  orvtest::TempDir tmp;
  useDir(tmp.path());
  setLogName("orvanex");

  struct Step {
    int day, hour, minute;
    bool hourly;
    const char* file;  // the file the line must land in
  };
  const Step steps[] = {
      {30, 22, 59, false, "orvanex_20240430.log"},
      {30, 23, 0, false, "orvanex_20240430.log"},  // new hour, same daily name
      {30, 23, 0, true, "orvanex_20240430_23.log"},
      {1, 0, 0, true, "orvanex_20240501_00.log"},  // midnight and a new month
      {1, 0, 1, false, "orvanex_20240501.log"},
      {1, 9, 30, true, "orvanex_20240501_09.log"},
  };
  int n = 0;
  for (const Step& s : steps) {
    SCOPED_TRACE(s.file);
    useFakeClock(2024, s.day == 30 ? 4 : 5, s.day, s.hour, s.minute, 0, 0);
    _hourlyLogs = s.hourly;
    std::string before = orvtest::readFile(tmp.file(s.file));
    log(0, "step %d", n);
    std::string after = orvtest::readFile(tmp.file(s.file));
    EXPECT_EQ(after.substr(before.size()).substr(14), "step " + std::to_string(n) + "\n");
    ++n;
  }
  _hourlyLogs = false;
  setLogClock(nullptr);
  EXPECT_EQ(filesIn(tmp.path()), (std::vector<std::string>{"orvanex_20240430.log", "orvanex_20240430_23.log",
                                                            "orvanex_20240501.log", "orvanex_20240501_00.log",
                                                            "orvanex_20240501_09.log"}));
}

TEST(LogTest, NameArgumentPicksTheFileStem) {
  orvtest::TempDir tmp;
  useFakeClock(2023, 12, 31, 8, 0, 0, 0);
  useDir(tmp.path());
  setLogName("agent");
  log(0, "default one");
  log("audit", 0, "audit one");
  log(0, "default two");
  log("audit", 2, "audit two");
  setLogClock(nullptr);
  auto agent = lines(orvtest::readFile(tmp.file("agent_20231231.log")));
  auto audit = lines(orvtest::readFile(tmp.file("audit_20231231.log")));
  ASSERT_EQ(agent.size(), 2u);
  EXPECT_EQ(body(agent[0]), "default one");
  EXPECT_EQ(body(agent[1]), "default two");
  ASSERT_EQ(audit.size(), 3u);
  EXPECT_EQ(body(audit[0]), "audit one");
  EXPECT_EQ(body(audit[1]), "audit two");
  EXPECT_EQ(audit[2], "    2 No such file or directory");
}

TEST(LogTest, FixedFileWinsOverDirectory) {
  orvtest::TempDir tmp;
  setLogDir(tmp.path().c_str());
  setLog(tmp.file("fixed.log").c_str());
  log("named", 0, "to the fixed file");
  EXPECT_EQ(filesIn(tmp.path()), std::vector<std::string>{"fixed.log"});
}

TEST(LogTest, DatedFilesAreSharedReadWriteAndUmaskIsKept) {
  orvtest::TempDir tmp;
  mode_t old = umask(022);
  useDir(tmp.path());
  setLogName("perm");
  log(0, "line");
  mode_t after = umask(old);
  EXPECT_EQ(after, 022);
  auto names = filesIn(tmp.path());
  ASSERT_EQ(names.size(), 1u);
  struct stat st;
  ASSERT_EQ(stat(tmp.file(names[0]).c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0666u);
}

TEST(LogTest, QuietLoggerReopensARemovedFile) {
  orvtest::TempDir tmp;
  setLog(tmp.file("a.log").c_str());
  log(0, "first");
  std::filesystem::remove(tmp.file("a.log"));
  log(0, "second");
  auto got = lines(orvtest::readFile(tmp.file("a.log")));
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(body(got[0]), "second");
}

TEST(LogTest, TooLongPathsAreRefusedAndTheOldSettingStays) {
  orvtest::TempDir tmp;
  setLog(tmp.file("keep.log").c_str());
  const std::string tooLong = "/tmp/" + std::string(75, 'd');  // 80 characters
  ASSERT_EQ(tooLong.size(), 80u);
  testing::internal::CaptureStderr();
  setLog(tooLong.c_str());
  setLogDir(tooLong.c_str());
  setLogName(std::string(132, 'n').c_str());
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("Log file name is too long (80 characters, at most 79)"), std::string::npos) << err;
  EXPECT_NE(err.find("Log directory is too long (80 characters, at most 79)"), std::string::npos) << err;
  EXPECT_NE(err.find("Log name is too long (132 characters, at most 131)"), std::string::npos) << err;
  log(0, "still here");
  auto got = lines(orvtest::readFile(tmp.file("keep.log")));
  ASSERT_EQ(got.size(), 4u);
  EXPECT_EQ(body(got[0]).rfind("Log file name is too long", 0), 0u);
  EXPECT_EQ(body(got[3]), "still here");
  // 79 characters is accepted.
  const std::string fits = tmp.path() + "/" + std::string(78 - tmp.path().size(), 'f');
  ASSERT_EQ(fits.size(), 79u);
  setLog(fits.c_str());
  log(0, "fits");
  EXPECT_EQ(lines(orvtest::readFile(fits)).size(), 1u);
}

TEST(LogTest, NextLogIdIsUniqueAndCarriesThePid) {
  constexpr int kThreads = 4;
  constexpr int kEach = 20000;
  std::vector<std::vector<long long>> got(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&got, t] {
      got[t].reserve(kEach);
      for (int i = 0; i < kEach; ++i) got[t].push_back(nextLogId());
    });
  }
  for (auto& th : threads) th.join();
  std::set<long long> all;
  for (const auto& v : got) {
    for (size_t i = 1; i < v.size(); ++i) EXPECT_LT(v[i - 1], v[i]);  // rises within a thread
    for (long long id : v) {
      EXPECT_EQ(id >> 37, static_cast<long long>(getpid()));
      EXPECT_GE(id & ((1LL << 37) - 1), 1);
      all.insert(id);
    }
  }
  EXPECT_EQ(all.size(), static_cast<size_t>(kThreads * kEach));
}

// Four writers at once: every line arrives whole, once, and each writer's
// lines keep their order, in daily-file mode and in fixed-file mode.
TEST(LogTest, ConcurrentWritersLoseAndInterleaveNothing) {
  constexpr int kThreads = 4;
  constexpr int kEach = 3000;
  orvtest::TempDir tmp;
  struct Mode {
    const char* what;
    bool dir;
  };
  for (const Mode& mode : {Mode{"daily", true}, Mode{"fixed", false}}) {
    SCOPED_TRACE(mode.what);
    if (mode.dir) {
      useDir(tmp.path());
      setLogName(mode.what);
    } else {
      setLog(tmp.file("fixed.log").c_str());
    }
    std::vector<std::thread> threads;
    const std::string pad(200, '.');
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([t, &pad] {
        for (int i = 0; i < kEach; ++i) log(0, "writer %d line %d %s end", t, i, pad.c_str());
      });
    }
    for (auto& th : threads) th.join();

    std::string text;
    for (const auto& name : filesIn(tmp.path())) {
      if (name.rfind(mode.dir ? "daily_" : "fixed", 0) == 0) text += orvtest::readFile(tmp.file(name));
    }
    auto got = lines(text);
    ASSERT_EQ(got.size(), static_cast<size_t>(kThreads * kEach));
    std::vector<int> next(kThreads, 0);
    const std::regex shape(R"(^\d\d:\d\d:\d\d\.\d\d\d: writer (\d) line (\d+) \.{200} end$)");
    for (const auto& l : got) {
      std::smatch m;
      ASSERT_TRUE(std::regex_match(l, m, shape)) << l;
      int t = std::stoi(m[1]);
      int i = std::stoi(m[2]);
      ASSERT_EQ(i, next[t]) << "writer " << t;
      next[t] = i + 1;
    }
  }
}

TEST(LogTest, ForkedChildCanLogWhileParentThreadsLog) {
  orvtest::TempDir tmp;
  setLog(tmp.file("fork.log").c_str());
  std::atomic<bool> stop{false};
  std::thread busy([&stop] {
    while (!stop) log(0, "parent busy");
  });
  int children = 0;
  for (int i = 0; i < 30; ++i) {
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      log(0, "child %d", i);
      _exit(0);
    }
    // A child that deadlocked on an inherited lock would never exit.
    int status = 0;
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    pid_t done = 0;
    while ((done = waitpid(pid, &status, WNOHANG)) == 0 && std::chrono::steady_clock::now() < until) {
      usleep(1000);
    }
    if (done == 0) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      ADD_FAILURE() << "child " << i << " hung";
      break;
    }
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    ++children;
  }
  stop = true;
  busy.join();
  std::string text = orvtest::readFile(tmp.file("fork.log"));
  for (int i = 0; i < children; ++i) {
    EXPECT_NE(text.find(": child " + std::to_string(i) + "\n"), std::string::npos) << i;
  }
}

// Last: the copy cannot be turned off again in this process.
TEST(LogTest, StandardOutputCopyAndStandardOutputStream) {
  orvtest::TempDir tmp;
  setLog(tmp.file("c.log").c_str());
  copyLogToStdout();
  testing::internal::CaptureStdout();
  log(2, "copied");
  setLog(nullptr);  // standard output becomes the stream: still one copy
  log(0, "once");
  std::string out = testing::internal::GetCapturedStdout();
  auto got = lines(out);
  ASSERT_EQ(got.size(), 3u) << out;
  EXPECT_EQ(body(got[0]), "copied");
  EXPECT_EQ(got[1], "    2 No such file or directory");
  EXPECT_EQ(body(got[2]), "once");
  EXPECT_EQ(lines(orvtest::readFile(tmp.file("c.log"))).size(), 2u);
}

}  // namespace
