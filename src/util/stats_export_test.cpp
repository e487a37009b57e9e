#include "util/stats_export.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>

#include "testing/test_util.h"
#include "util/stats_file.h"

namespace {

StatsFile dayOfCpu(int64_t t0, int points) {
  StatsFile f;
  for (int i = 0; i < points; ++i) {
    StatEntry e(t0 + i * 600);
    e.addRow(StatRow(1, 0, "cpu", {StatData::ofDouble(50 + 40 * std::sin(i / 10.0)), StatData::ofLong(i)}));
    e.addRow(StatRow(2, 7, "disk \"sda\" <io>", {StatData::ofLong(1000 + i * 3)}));
    f.add(e);
  }
  return f;
}

// Python's own parsers are the judges of what we write.
int pythonCheck(const std::string& code, const std::string& path) {
  std::string cmd = "python3 -c '" + code + "' '" + path + "' 2>&1";
  return system(cmd.c_str());
}

TEST(StatsExportTest, JsonIsValidAndComplete) {
  StatsFile f = dayOfCpu(1700000000, 5);
  StatEntry odd(1700009000);
  odd.addRow(StatRow(3, 1, "odd\n\x01", {StatData::ofDouble(NAN), StatData::ofDouble(-0.5)}));
  f.add(odd);
  std::string json = statsFileToJSON(f);
  orvtest::TempDir dir;
  orvtest::writeFile(dir.file("f.json"), json);
  EXPECT_EQ(pythonCheck("import json,sys; d=json.load(open(sys.argv[1])); "
                        "assert len(d[\"entries\"])==6; r=d[\"entries\"][5][\"rows\"][0]; "
                        "assert r[\"label\"]==\"odd\\n\\x01\" and r[\"data\"]==[None,-0.5], r; "
                        "assert d[\"entries\"][0][\"rows\"][1][\"data\"]==[1000]",
                        dir.file("f.json")),
            0);
}

TEST(StatsExportTest, SeriesFollowTheSelection) {
  StatsFile a = dayOfCpu(1700000000, 3);
  StatsFile b = dayOfCpu(1700000000 + 1800, 3);
  PlotSelection sel;
  auto all = collectSeries({&a, &b}, sel);
  ASSERT_EQ(all.size(), 3u);  // cpu[0], cpu[1], disk[0]
  EXPECT_EQ(all[0].points.size(), 6u);
  sel.hasCls = true;
  sel.cls = 2;
  auto disk = collectSeries({&b, &a}, sel);
  ASSERT_EQ(disk.size(), 1u);
  EXPECT_EQ(disk[0].points.front().first, 1700000000);  // time order across files
  sel.hasCls = false;
  sel.label = "nothing";
  EXPECT_TRUE(collectSeries({&a}, sel).empty());
}

TEST(StatsExportTest, SvgIsWellFormedWithAxesAndLegend) {
  StatsFile f = dayOfCpu(1700000000, 7 * 144);  // a week at ten-minute steps
  PlotSelection sel;
  sel.title = "cpu & disk";
  auto series = collectSeries({&f}, sel);
  std::string svg = plotSeriesSVG(series, sel, 2);
  orvtest::TempDir dir;
  orvtest::writeFile(dir.file("p.svg"), svg);
  EXPECT_EQ(pythonCheck("import sys, xml.dom.minidom as m; d=m.parse(sys.argv[1]); "
                        "assert len(d.getElementsByTagName(\"polyline\"))==3",
                        dir.file("p.svg")),
            0);
  EXPECT_NE(svg.find("cpu &amp; disk"), std::string::npos);
  EXPECT_NE(svg.find("disk &quot;sda&quot; &lt;io&gt;"), std::string::npos);
  EXPECT_NE(svg.find("(2 more series not drawn)"), std::string::npos);
  EXPECT_NE(svg.find("time ("), std::string::npos);
  std::string empty = plotSeriesSVG({}, sel, 0);
  EXPECT_NE(empty.find("no data"), std::string::npos);
}

}  // namespace
