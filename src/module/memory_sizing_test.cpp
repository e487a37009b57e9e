#include "module/memory_sizing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <string>
#include <vector>

namespace {

// 16 GiB of 4 KiB pages: A = 16384 MB.
SizingInputs sixteenGig() {
  SizingInputs in;
  in.physPages = 4194304;
  in.pageSize = 4096;
  in.shareFactor = 1.0;
  return in;
}

bool contains(const std::vector<std::string>& v, const std::string& s) {
  return std::find(v.begin(), v.end(), s) != v.end();
}

TEST(MemorySizing, SixteenGigFullShare) {
  const MemorySizing m = computeMemorySizing(sixteenGig());
  EXPECT_EQ(m.avail, 16384.0L);
  EXPECT_NEAR(static_cast<double>(m.x), 4452.17, 0.01);
  EXPECT_EQ(m.dh, 741);
  EXPECT_EQ(m.sh, 2967);
  EXPECT_EQ(m.dm, 741);
  EXPECT_EQ(m.eden, 741);
  EXPECT_EQ(m.heap(), 3908);
  EXPECT_EQ(m.impliedXmx(), 4649);
}

TEST(MemorySizing, AvailableMemoryScalesPagesBeforeMultiplying) {
  struct Case {
    long long pages;
    long long pageSize;
    long double want;
  };
  const Case cases[] = {
      {4194304, 4096, 16384},  // 16 GiB
      {1023, 4096, 0},         // under 1024 pages: nothing
      {2048, 65536, 128},      // 128 MiB of 64 KiB pages
      {1LL << 40, 4096, 4294967296.0L},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.pages);
    SizingInputs in;
    in.physPages = c.pages;
    in.pageSize = c.pageSize;
    in.shareFactor = 1.0;
    EXPECT_EQ(computeMemorySizing(in).avail, c.want);
  }
}

TEST(MemorySizing, ReportWithoutOverridesUnderZgc) {
  const MemorySizing m = computeMemorySizing(sixteenGig());
  const std::vector<std::string> want = {
      "Sizing server...",
      "    Available memory is: 16384 meg",
      "           Share Factor: 1.00%",
      "                      X: 4452 meg",
      "                     DH: 741 meg ",
      "                     SH: 2967 meg ",
      "                     DM: 741 meg ",
      "                      J: 200 meg",
      "            Implied Xmx: 4649 meg",
  };
  EXPECT_EQ(sizingReport(m, /*zgc=*/true), want);
  EXPECT_EQ(sizingRecord(m),
            "XS#6 { \"avail\": 16384, \"scale\": 1.000000, \"dh\": 741, \"sh\": 2967, \"dm\": 741, \"eden\": 741 }");
}

TEST(MemorySizing, OverrideMarkers) {
  struct Case {
    const char* name;
    int dh, sh, dm;
    double eden;
    std::vector<std::string> want;  // lines that must appear
    long long heap;
  };
  const Case cases[] = {
      {"dh override", 100, 0, 0, 0.25,
       {"                     DH: 100 meg (override)", "                     SH: 2967 meg ",
        "                   Eden: 741 meg ", "                     DM: 741 meg "},
       100 + 2967 + 200},
      {"sh and dm", 0, 1000, 50, 0.25,
       {"                     DH: 741 meg ", "                     SH: 1000 meg (override)",
        "                   Eden: 250 meg ", "                     DM: 50 meg (override)"},
       741 + 1000 + 200},
      // An unset eden factor uses 0.25 and is still marked: the marker
      // compares with 0.25.
      {"eden unset", 0, 0, 0, 0.0, {"                   Eden: 741 meg (override)"}, 3908},
      {"eden exactly default", 0, 0, 0, 0.25, {"                   Eden: 741 meg "}, 3908},
      {"eden half", 0, 0, 0, 0.5, {"                   Eden: 1483 meg (override)"}, 3908},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SizingInputs in = sixteenGig();
    in.dh = c.dh;
    in.sh = c.sh;
    in.dm = c.dm;
    in.eden = c.eden;
    const MemorySizing m = computeMemorySizing(in);
    const std::vector<std::string> report = sizingReport(m, /*zgc=*/false);
    for (const std::string& line : c.want) EXPECT_TRUE(contains(report, line)) << line;
    EXPECT_EQ(m.heap(), c.heap);
  }
}

TEST(MemorySizing, EdenLineOnlyWithoutZgcButAlwaysInRecord) {
  const MemorySizing m = computeMemorySizing(sixteenGig());
  const auto hasEden = [](const std::vector<std::string>& lines) {
    return std::any_of(lines.begin(), lines.end(),
                       [](const std::string& l) { return l.find("Eden:") != std::string::npos; });
  };
  EXPECT_FALSE(hasEden(sizingReport(m, true)));
  EXPECT_TRUE(hasEden(sizingReport(m, false)));
  EXPECT_NE(sizingRecord(m).find("\"eden\": 741"), std::string::npos);
}

TEST(MemorySizing, OptionsInOrder) {
  const MemorySizing m = computeMemorySizing(sixteenGig());
  struct Case {
    const char* name;
    bool zgc, xmx, xms;
    std::vector<std::string> want;
  };
  const Case cases[] = {
      {"zgc, nothing given", true, false, false,
       {"-Xmx3908m", "-Xms3908m", "-Djava.awt.headlesss=true", "-XX:MaxDirectMemorySize=741m", "-Dorvanex.dm=741",
        "-Dorvanex.dh=741"}},
      {"not zgc", false, false, false,
       {"-Xmx3908m", "-Xms3908m", "-Djava.awt.headlesss=true", "-XX:NewSize=741m", "-XX:MaxNewSize=741m",
        "-XX:MaxDirectMemorySize=741m", "-Dorvanex.dm=741", "-Dorvanex.dh=741"}},
      {"xmx given", true, true, false,
       {"-Xms3908m", "-Djava.awt.headlesss=true", "-XX:MaxDirectMemorySize=741m", "-Dorvanex.dm=741",
        "-Dorvanex.dh=741"}},
      {"both given", true, true, true,
       {"-Djava.awt.headlesss=true", "-XX:MaxDirectMemorySize=741m", "-Dorvanex.dm=741", "-Dorvanex.dh=741"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> opts;
    appendSizingOptions(m, c.zgc, c.xmx, c.xms, &opts);
    EXPECT_EQ(opts, c.want);
  }
}

TEST(MemorySizing, OutOfRangeShareFactorIsHeldAtTheLimit) {
  SizingInputs in = sixteenGig();
  in.shareFactor = 1e30;
  const MemorySizing m = computeMemorySizing(in);
  EXPECT_EQ(m.dh, INT_MAX);
  EXPECT_EQ(m.sh, INT_MAX);
  EXPECT_EQ(m.heap(), 2LL * INT_MAX + 200);  // no overflow in the sum
  std::vector<std::string> opts;
  appendSizingOptions(m, true, false, false, &opts);
  EXPECT_EQ(opts[0], "-Xmx4294967494m");
}

}  // namespace
