// The process counters, the child table, the shutdown list, orvanex_init and
// the machine facts.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <dirent.h>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "foundation/diagnostics.h"
#include "foundation/os_info.h"
#include "foundation/os_init.h"
#include "foundation/os_perf.h"
#include "foundation/os_shutdown.h"

namespace {

TEST(ProcessCounters, RegisteredInOrderByInit) {
  static int hookRuns = 0;
  addOrvanexInitHook([] { hookRuns++; });
  orvanex_init();
  orvanex_init();
  EXPECT_EQ(hookRuns, 1);
  const char* names[] = {"evt-timer-fired", "evt-ft-fired", "evt-count-fired", "sig-other", "sig-chld",
                         "sig-wrong-t",     "children-reaped", "pool-threads", "tp-q-remove", "tp-q-add",
                         "dthr-started",    "dthr-exited", "lq-removed", "lq-added", "np-add", "np-remove"};
  for (const char* n : names) {
    SCOPED_TRACE(n);
    EXPECT_GE(s_getStat(n), 0);
  }
  EXPECT_EQ(_processStats.opAdded, addStat("np-add"));  // same name, same counter
  statInc(addStat("a-counter-with-a-very-long-name"));
  EXPECT_EQ(s_getStat("a-counter-with-a-ve"), 1);  // cut to 19 characters
  EXPECT_EQ(s_getStat("no-such"), -1);
  struct sigaction sa;
  ASSERT_EQ(::sigaction(SIGPIPE, nullptr, &sa), 0);
  EXPECT_EQ(sa.sa_handler, SIG_IGN);
}

TEST(ChildTable, RecordsAndKillsChildrenOnlyWithAnArea) {
  addPerfPid(123);  // no area: nothing happens
  auto area = std::make_unique<PerfData>();
  std::memset(area.get(), 0, sizeof(PerfData));
  s_setPerfData(area.get());
  zeroPerfPids();
  for (int i = 0; i < kPerfChildPids; i++) ASSERT_EQ(area->childPids[i], -1);
  pid_t child = ::fork();
  if (child == 0) {
    ::sleep(30);
    ::_exit(0);
  }
  lockPerfPid();
  addPerfPid(500000);
  addPerfPid(child);
  addPerfPid(500001);
  removePerfPid(500000);
  unlockPerfPid();
  EXPECT_EQ(area->childPids[0], 0);
  EXPECT_EQ(area->childPids[1], child);
  EXPECT_EQ(area->childPids[2], 500001);
  EXPECT_EQ(area->childPids[3], -1);
  addPerfPid(500002);  // the free entry is taken first
  EXPECT_EQ(area->childPids[0], 500002);
  removePerfPid(500002);
  removePerfPid(500001);
  killPerfPids();
  int status = 0;
  pid_t got = 0;
  for (int i = 0; i < 500 && got == 0; i++) {
    got = ::waitpid(child, &status, WNOHANG);
    if (got == 0) ::usleep(10000);
  }
  ASSERT_EQ(got, child);
  EXPECT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(WTERMSIG(status), SIGKILL);
  s_setPerfData(nullptr);
}

class Recorder : public ShutdownHandler {
 public:
  Recorder(std::vector<int>* log, int id) : log_(log), id_(id) {}
  void shutdown() override { log_->push_back(id_); }

 private:
  std::vector<int>* log_;
  int id_;
};

TEST(ShutdownHandlers, FireNewestFirstOnceAndSetTheFlag) {
  std::vector<int> log;
  Recorder a(&log, 1), b(&log, 2), c(&log, 3);
  s_addShutdownHandler(&a);
  s_addShutdownHandler(&b);
  s_addShutdownHandler(&c);
  s_fireShutdownHandlers();
  EXPECT_TRUE(_shutdown);
  EXPECT_EQ(log, (std::vector<int>{3, 2, 1}));
  s_fireShutdownHandlers();
  EXPECT_EQ(log.size(), 3u);  // the list was emptied
  _shutdown = false;
}

TEST(OsInfo, DescribesThisMachine) {
  char sysname[kOsNameSize], release[kOsNameSize], version[kOsNameSize], machine[kOsNameSize];
  char distribution[kDistributionSize];
  long long memory = 0, boot = 0;
  int cpus = 0;
  ASSERT_EQ(s_get_os_info(sysname, release, version, machine, distribution, &memory, &boot, &cpus), 0);
  EXPECT_STREQ(sysname, "Linux");
  EXPECT_GT(std::strlen(release), 0u);
  EXPECT_GT(memory, 1LL << 20);
  EXPECT_GT(boot, 1000000000LL);
  EXPECT_LE(boot, static_cast<long long>(std::time(nullptr)));
  EXPECT_GE(cpus, 1);
  EXPECT_EQ(s_get_os_info(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr), 0);
}

TEST(OsInfo, ListsMountedFileSystems) {
  FsStat* list = s_getfsstat();
  ASSERT_NE(list, nullptr);
  bool root = false;
  for (FsStat* s = list; s != nullptr; s = s->next) {
    if (std::strcmp(s->mountPoint, "/") == 0) {
      root = true;
      EXPECT_GT(s->totalKb, 0);
    }
  }
  EXPECT_TRUE(root);
  s_free_fsstat(list);
  struct Case {
    const char* type;
    bool ok;
  } cases[] = {{"ext4", true}, {"ext2", true}, {"hfsplus", true}, {"nfs", true},
               {"nfs4", false}, {"tmpfs", false}, {"", false}, {nullptr, false}};
  for (const Case& c : cases) EXPECT_EQ(s_fsOk(c.type), c.ok) << (c.type ? c.type : "null");
}

TEST(OsInfo, SmallHelpers) {
  char buf[32];
  struct in_addr a;
  a.s_addr = htonl(0x7f000102);
  EXPECT_STREQ(s_inet_ntoa(buf, sizeof(buf), a), "127.0.1.2");
  EXPECT_STREQ(s_getFileKind(buf, sizeof(buf)), "text/text");
  EXPECT_EQ(s_fixFileTime(12), 12000);
  char host[256];
  ASSERT_EQ(s_gethostname(host, sizeof(host)), 0);
  for (char* p = host; *p; p++) EXPECT_FALSE(*p >= 'A' && *p <= 'Z');
  char name[32];
  int fd = s_mkstemp(name);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(std::strncmp(name, "/tmp/orvanex.", 13), 0);
  ::close(fd);
  ::unlink(name);
  EXPECT_STREQ(s_strerror(ENOENT, buf, sizeof(buf)), "No such file or directory");
  DIR* d = ::opendir("/");
  ASSERT_NE(d, nullptr);
  struct dirent entry;
  struct dirent* result = nullptr;
  int entries = 0;
  bool sawEtc = false;
  while (s_readdir_r(d, &entry, &result) == 0 && result != nullptr) {
    entries++;
    sawEtc = sawEtc || std::strcmp(entry.d_name, "etc") == 0;
  }
  ::closedir(d);
  EXPECT_GT(entries, 2);
  EXPECT_TRUE(sawEtc);
}

}  // namespace
