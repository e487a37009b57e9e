#include "util/stats_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <random>
#include <string>

#include "testing/test_util.h"
#include "util/util_xlators.h"
#include "wire/message.h"

namespace {

StatsFile makeFile(int entries, int rows, int64_t t0 = 1700000000, int step = 10) {
  StatsFile f;
  for (int e = 0; e < entries; ++e) {
    StatEntry entry(t0 + e * step);
    for (int r = 0; r < rows; ++r) {
      std::string label = "disk /dev/sd" + std::to_string(r);
      entry.addRow(StatRow(r % 5, r, label.c_str(),
                           {StatData::ofLong(e * 1000 + r), StatData::ofDouble(e + r / 8.0),
                            StatData::ofLong(-(int64_t{1} << 40) - r)}));
    }
    f.add(std::move(entry));
  }
  return f;
}

void expectSame(const StatsFile& a, const StatsFile& b) {
  EXPECT_EQ(a.version(), b.version());
  EXPECT_EQ(a.start(), b.start());
  EXPECT_EQ(a.end(), b.end());
  EXPECT_TRUE(a.entries() == b.entries());
}

std::string run(const std::string& cmd) {
  std::string out;
  FILE* p = popen(cmd.c_str(), "r");
  if (p == nullptr) return out;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  pclose(p);
  return out;
}

TEST(StatsFileTest, AddTracksStartAndEnd) {
  StatsFile f;
  f.add(StatEntry(200));
  f.add(StatEntry(100));
  f.add(StatEntry(300));
  EXPECT_EQ(f.start(), 200);
  EXPECT_EQ(f.end(), 300);
  EXPECT_EQ(f.version(), 10);
}

TEST(StatsFileTest, LongLabelsAreCut) {
  StatRow r(1, 2, std::string(300, 'q').c_str(), {});
  EXPECT_EQ(r.label.size(), 255u);
  StatRow r256(1, 2, std::string(256, 'q').c_str(), {});
  EXPECT_EQ(r256.label.size(), 256u);
}

TEST(StatsFileTest, FindLatestContainingClsid) {
  StatsFile empty;
  EXPECT_EQ(empty.findLatestContainingClsid(1), nullptr);
  StatsFile f;
  StatEntry a(100), b(300), c(200);
  a.addRow(StatRow(7, 1, "x", {}));
  c.addRow(StatRow(7, 1, "x", {}));
  b.addRow(StatRow(8, 1, "y", {}));
  f.add(a);
  f.add(b);
  f.add(c);
  ASSERT_NE(f.findLatestContainingClsid(7), nullptr);
  EXPECT_EQ(f.findLatestContainingClsid(7)->time, 200);
  EXPECT_EQ(f.findLatestContainingClsid(8)->time, 300);
  EXPECT_EQ(f.findLatestContainingClsid(9), nullptr);
}

TEST(StatsFileTest, BufferFormRoundTripAndLayout) {
  StatsFile f = makeFile(3, 4);
  std::string b = f.writeToBuffer();
  ASSERT_GE(b.size(), 8u);
  // 4-byte big-endian payload length, then message type 0, then version 10.
  uint32_t len = (uint8_t(b[0]) << 24) | (uint8_t(b[1]) << 16) | (uint8_t(b[2]) << 8) | uint8_t(b[3]);
  EXPECT_EQ(len, b.size() - 8);
  EXPECT_EQ(b.substr(4, 4), std::string("\0\0\0\0", 4));
  EXPECT_EQ(b.substr(8, 5), std::string("\x02\0\0\0\x0a", 5));
  std::unique_ptr<StatsFile> back(StatsFile::readFromBuffer(b.data(), b.size()));
  ASSERT_TRUE(back);
  expectSame(f, *back);
  char* raw;
  size_t n;
  f.writeToBuffer(&raw, &n);
  EXPECT_EQ(std::string(raw, n), b);
  free(raw);
  // Every prefix and any extra byte is refused.
  for (size_t cut = 0; cut < b.size(); cut += 7) {
    std::unique_ptr<StatsFile> bad(StatsFile::readFromBuffer(b.data(), cut));
    EXPECT_FALSE(bad) << cut;
  }
  std::string longer = b + "x";
  EXPECT_FALSE(std::unique_ptr<StatsFile>(StatsFile::readFromBuffer(longer.data(), longer.size())));
}

TEST(StatsFileTest, ObjectFormKeepsBytesUntilDecoded) {
  registerUtilXlators();
  StatsFile f = makeFile(5, 3);
  Message m(1);
  ASSERT_EQ(m.writeObject(StatsFile::kObjectId, &f), 0);
  ASSERT_EQ(m.switchToRead(), 0);
  Translatable* obj = nullptr;
  ASSERT_EQ(m.readObject(StatsFile::kObjectId, &obj), 0);
  std::unique_ptr<StatsFile> got(static_cast<StatsFile*>(obj));
  ASSERT_TRUE(got);
  EXPECT_TRUE(got->hasEncoded());
  EXPECT_EQ(got->start(), f.start());
  EXPECT_TRUE(got->entries().empty());
  // Written on as a file, the kept bytes go out unchanged and read back whole.
  orvtest::TempDir dir;
  ASSERT_GT(got->writeToFile(dir.file("kept.stats").c_str()), 0);
  std::unique_ptr<StatsFile> fromFile(StatsFile::readFromFile(dir.file("kept.stats").c_str()));
  ASSERT_TRUE(fromFile);
  expectSame(f, *fromFile);
  ASSERT_EQ(got->decode(), 0);
  expectSame(f, *got);
}

TEST(StatsFileTest, FileIsMagicAndARealGzipStream) {
  orvtest::TempDir dir;
  std::string path = dir.file("20240102-101010.stats");
  StatsFile f = makeFile(20, 10);
  int handed = f.writeToFile(path.c_str());
  std::string buffer = f.writeToBuffer();
  EXPECT_EQ(handed, static_cast<int>(buffer.size()));
  std::string file = orvtest::readFile(path);
  EXPECT_EQ(file.substr(0, 18), "?orvanex-perfdata\n");
  EXPECT_EQ(run("tail -c +19 '" + path + "' | zcat"), buffer);
  std::unique_ptr<StatsFile> back(StatsFile::readFromFile(path.c_str()));
  ASSERT_TRUE(back);
  expectSame(f, *back);
  // No temporary file is left beside it.
  EXPECT_EQ(run("ls '" + dir.path() + "' | wc -l"), "1\n");
}

TEST(StatsFileTest, FileWrittenByGzipReadsBack) {
  orvtest::TempDir dir;
  StatsFile f = makeFile(7, 5);
  orvtest::writeFile(dir.file("plain"), f.writeToBuffer());
  // One member, and the same bytes as two members (as appended gzip files are).
  run("head -c 100 '" + dir.file("plain") + "' > '" + dir.file("p1") + "'; tail -c +101 '" + dir.file("plain") +
      "' > '" + dir.file("p2") + "'");
  run("(printf '?orvanex-perfdata\\n'; gzip -c '" + dir.file("plain") + "') > '" + dir.file("one.stats") + "'");
  run("(printf '?orvanex-perfdata\\n'; gzip -c '" + dir.file("p1") + "'; gzip -1 -c '" + dir.file("p2") + "') > '" +
      dir.file("two.stats") + "'");
  for (const char* name : {"one.stats", "two.stats"}) {
    SCOPED_TRACE(name);
    std::unique_ptr<StatsFile> back(StatsFile::readFromFile(dir.file(name).c_str()));
    ASSERT_TRUE(back);
    expectSame(f, *back);
  }
}

TEST(StatsFileTest, DamagedFilesFailCleanly) {
  orvtest::TempDir dir;
  std::string path = dir.file("good.stats");
  ASSERT_GT(makeFile(30, 6).writeToFile(path.c_str()), 0);
  const std::string good = orvtest::readFile(path);
  auto reads = [&](const std::string& bytes) {
    std::unique_ptr<StatsFile> viaBytes(StatsFile::readFromFileBytes(bytes.data(), bytes.size()));
    orvtest::writeFile(dir.file("bad.stats"), bytes);
    std::unique_ptr<StatsFile> viaFile(StatsFile::readFromFile(dir.file("bad.stats").c_str()));
    EXPECT_EQ(!viaBytes, !viaFile);
    return viaFile != nullptr;
  };
  EXPECT_TRUE(reads(good));
  for (size_t i = 0; i < 18; ++i) {  // a wrong byte anywhere in the magic
    std::string bad = good;
    bad[i] ^= 0x20;
    EXPECT_FALSE(reads(bad)) << "magic byte " << i;
  }
  for (size_t cut : {size_t{0}, size_t{10}, size_t{18}, size_t{19}, size_t{30}, good.size() / 2, good.size() - 8,
                     good.size() - 1}) {
    EXPECT_FALSE(reads(good.substr(0, cut))) << "cut at " << cut;
  }
  std::mt19937 rng(7);
  for (int i = 0; i < 40; ++i) {  // garbage inside the compressed stream
    // (past the gzip header, whose time stamp and flags no check covers)
    std::string bad = good;
    size_t at = 28 + rng() % (good.size() - 28);
    bad[at] = static_cast<char>(bad[at] ^ (1 + rng() % 255));
    EXPECT_FALSE(reads(bad)) << "flipped byte " << at;
  }
  EXPECT_FALSE(reads(good + "trailing garbage"));
  EXPECT_FALSE(StatsFile::readFromFile(dir.file("missing.stats").c_str()));
  // A sound gzip stream around a damaged buffer form.
  std::string buffer = makeFile(3, 3).writeToBuffer();
  buffer[13] = 0x7f;  // an unknown tag where the start time belongs
  orvtest::writeFile(dir.file("inner"), buffer);
  run("(printf '?orvanex-perfdata\\n'; gzip -c '" + dir.file("inner") + "') > '" + dir.file("inner.stats") + "'");
  EXPECT_FALSE(StatsFile::readFromFile(dir.file("inner.stats").c_str()));
}

TEST(StatsFileTest, WriteFailureReportsErrnoAndLeavesNothing) {
  EXPECT_EQ(makeFile(1, 1).writeToFile("/nonexistent-dir/x.stats"), -ENOENT);
}

TEST(StatsFileTest, DumpListing) {
  StatsFile f;
  StatEntry e(0);
  e.addRow(StatRow(3, 4, "cpu", {StatData::ofLong(5), StatData::ofDouble(1.5)}));
  f.add(e);
  char* text = nullptr;
  size_t size = 0;
  FILE* mem = open_memstream(&text, &size);
  f.dump(mem);
  fclose(mem);
  std::string t = statTimeText(0);
  EXPECT_EQ(std::string(text, size), t + " - " + t + " (1)\n    " + t +
                                         ":\n        cls: 3, id: 4, label: cpu, (1) 5, (2) 1.500000, \n");
  free(text);
}

class ConsolidateTest : public ::testing::Test {
 protected:
  void SetUp() override { fflush(stdout); }
  static StatsFile fileAt(int64_t start, int n, int64_t cls) {
    StatsFile f;
    for (int i = 0; i < n; ++i) {
      StatEntry e(start + i);
      e.addRow(StatRow(cls, i, "r", {StatData::ofLong(start * 100 + i)}));
      f.add(e);
    }
    return f;
  }
  orvtest::TempDir dir;
};

TEST_F(ConsolidateTest, NothingToDo) {
  orvtest::writeFile(dir.file("20240101-000001.stats.bak"), "x");
  EXPECT_EQ(StatsFile::consolidate(dir.path().c_str(), 20240101), 0);
  EXPECT_NE(access(dir.file("20240101-000000.stats").c_str(), F_OK), 0);
}

TEST_F(ConsolidateTest, MergesInStartOrderAndDeletesSources) {
  ASSERT_GT(fileAt(300, 2, 3).writeToFile(dir.file("20240101-000300.stats").c_str()), 0);
  ASSERT_GT(fileAt(100, 2, 1).writeToFile(dir.file("20240101-000100.stats").c_str()), 0);
  ASSERT_GT(fileAt(200, 2, 2).writeToFile(dir.file("20240101-000200.stats").c_str()), 0);
  ASSERT_GT(fileAt(900, 2, 9).writeToFile(dir.file("20240102-000900.stats").c_str()), 0);  // another day
  orvtest::writeFile(dir.file("20240101-broken.stats"), "not statistics");
  EXPECT_EQ(StatsFile::consolidate(dir.path().c_str(), 2024, 1, 1), 0);
  std::unique_ptr<StatsFile> out(StatsFile::readFromFile(dir.file("20240101-000000.stats").c_str()));
  ASSERT_TRUE(out);
  ASSERT_EQ(out->entries().size(), 6u);
  EXPECT_EQ(out->entries()[0].time, 100);
  EXPECT_EQ(out->entries()[2].time, 200);
  EXPECT_EQ(out->entries()[4].time, 300);
  EXPECT_EQ(out->start(), 100);
  EXPECT_EQ(out->end(), 301);
  for (const char* gone : {"20240101-000100.stats", "20240101-000200.stats", "20240101-000300.stats"}) {
    EXPECT_NE(access(dir.file(gone).c_str(), F_OK), 0) << gone;
  }
  EXPECT_EQ(access(dir.file("20240101-broken.stats").c_str(), F_OK), 0);
  EXPECT_EQ(access(dir.file("20240102-000900.stats").c_str(), F_OK), 0);
}

TEST_F(ConsolidateTest, EarlierResultOfTheDayIsMergedNotLost) {
  ASSERT_GT(fileAt(100, 3, 1).writeToFile(dir.file("20240101-000100.stats").c_str()), 0);
  ASSERT_EQ(StatsFile::consolidate(dir.path().c_str(), 20240101), 0);
  // More files arrive later the same day; one of them was merged before and
  // survived (its delete had failed): its entries must not appear twice.
  ASSERT_GT(fileAt(500, 2, 5).writeToFile(dir.file("20240101-000500.stats").c_str()), 0);
  ASSERT_GT(fileAt(50, 1, 7).writeToFile(dir.file("20240101-000050.stats").c_str()), 0);
  ASSERT_GT(fileAt(100, 3, 1).writeToFile(dir.file("20240101-000100.stats").c_str()), 0);
  ASSERT_EQ(StatsFile::consolidate(dir.path().c_str(), 20240101), 0);
  std::unique_ptr<StatsFile> out(StatsFile::readFromFile(dir.file("20240101-000000.stats").c_str()));
  ASSERT_TRUE(out);
  ASSERT_EQ(out->entries().size(), 6u);
  EXPECT_EQ(out->entries()[0].time, 50);
  EXPECT_EQ(out->entries()[1].time, 100);
  EXPECT_EQ(out->entries()[4].time, 500);
  EXPECT_EQ(run("ls '" + dir.path() + "'"), "20240101-000000.stats\n");
  // Run again with only the result: it stays as it is.
  ASSERT_EQ(StatsFile::consolidate(dir.path().c_str(), 20240101), 0);
  EXPECT_TRUE(std::unique_ptr<StatsFile>(StatsFile::readFromFile(dir.file("20240101-000000.stats").c_str())));
}

TEST_F(ConsolidateTest, WriteFailureKeepsTheSources) {
  ASSERT_GT(fileAt(100, 1, 1).writeToFile(dir.file("20240101-000100.stats").c_str()), 0);
  ASSERT_GT(fileAt(200, 1, 1).writeToFile(dir.file("20240101-000200.stats").c_str()), 0);
  if (geteuid() == 0) {
    // Root writes through permissions: block the result's name instead.
    ASSERT_EQ(mkdir(dir.file("20240101-000000.stats").c_str(), 0755), 0);
  } else {
    chmod(dir.path().c_str(), 0555);
  }
  EXPECT_EQ(StatsFile::consolidate(dir.path().c_str(), 20240101), -1);
  chmod(dir.path().c_str(), 0755);
  EXPECT_EQ(access(dir.file("20240101-000100.stats").c_str(), F_OK), 0);
  EXPECT_EQ(access(dir.file("20240101-000200.stats").c_str(), F_OK), 0);
}

}  // namespace
