#include "foundation/memhooks/maps_scanner.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "testing/test_util.h"

using namespace memtrace;

namespace {

TEST(MapsScanner, ParsesLines) {
  struct Case {
    std::string line;
    bool ok;
    uint64_t start, end;
    bool exec;
    std::string path;
  };
  const Case cases[] = {
      {"55d0c6a00000-55d0c6a02000 r-xp 00002000 08:01 1234567    /usr/bin/cat", true, 0x55d0c6a00000,
       0x55d0c6a02000, true, "/usr/bin/cat"},
      {"7f0000000000-7f0000001000 r--p 00000000 08:01 42 /lib/libc.so.6", true, 0x7f0000000000, 0x7f0000001000,
       false, "/lib/libc.so.6"},
      {"7ffd1000-7ffd3000 r-xp 00000000 00:00 0                          [vdso]", true, 0x7ffd1000, 0x7ffd3000, true,
       "[vdso]"},
      {"10000-20000 rwxp 00000000 00:00 0", true, 0x10000, 0x20000, true, ""},
      {"10000-20000 r-xp 00000000 08:01 7 /opt/my dir/lib x.so (deleted)", true, 0x10000, 0x20000, true,
       "/opt/my dir/lib x.so (deleted)"},
      {"ffffffffff600000-ffffffffff601000 --xp 00000000 00:00 0 [vsyscall]", true, 0xffffffffff600000,
       0xffffffffff601000, true, "[vsyscall]"},
      {"", false, 0, 0, false, ""},
      {"garbage", false, 0, 0, false, ""},
      {"1000-", false, 0, 0, false, ""},
      {"2000-1000 r-xp 0 0:0 0 /x", false, 0, 0, false, ""},
      {"1000-2000 r-x", false, 0, 0, false, ""},
      {"1000-2000 r-xp 0 08:01", false, 0, 0, false, ""},
      {"11111111111111111-2 r-xp 0 0:0 0 /x", false, 0, 0, false, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    MapsLine m;
    m.start = 77;
    bool ok = parseMapsLine(c.line.data(), c.line.size(), &m);
    ASSERT_EQ(ok, c.ok);
    if (!ok) {
      EXPECT_EQ(m.start, 77u) << "untouched on failure";
      continue;
    }
    EXPECT_EQ(m.start, c.start);
    EXPECT_EQ(m.end, c.end);
    EXPECT_EQ(m.executable, c.exec);
    EXPECT_EQ(std::string(m.path, m.pathLength), c.path);
  }
}

struct Seen {
  std::vector<std::string> paths;
};

void collect(void* context, const MapsLine& m) {
  static_cast<Seen*>(context)->paths.emplace_back(m.path, m.pathLength);
}

TEST(MapsScanner, OverlongLinesAreSkippedWholeNotSplit) {
  orvtest::TempDir dir;
  std::string longPath = "/" + std::string(20000, 'a');
  std::string text = "1000-2000 r-xp 0 0:0 0 /first\n"
                     "3000-4000 r-xp 0 0:0 0 " + longPath + "\n"
                     "5000-6000 r-xp 0 0:0 0 /after\n"
                     "7000-8000 r-xp 0 0:0 0 /no-newline";
  orvtest::writeFile(dir.file("maps"), text);
  Seen seen;
  ASSERT_TRUE(scanMapsFile(dir.file("maps").c_str(), collect, &seen));
  EXPECT_EQ(seen.paths, (std::vector<std::string>{"/first", "/after", "/no-newline"}));
  EXPECT_FALSE(scanMapsFile(dir.file("missing").c_str(), collect, &seen));
}

TEST(MapsScanner, OwnMapsShowThisProgram) {
  Seen seen;
  ASSERT_TRUE(scanOwnMaps(collect, &seen));
  bool found = false;
  for (const std::string& p : seen.paths) found = found || p.find("memhooks_tests") != std::string::npos;
  EXPECT_TRUE(found);
}

}  // namespace
