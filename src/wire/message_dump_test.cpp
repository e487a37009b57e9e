// The tree printed by MessageDump (and so by `orvwire dump`), checked against
// the cases in tests/wire/dump: NAME.hex is the input (hex bytes, '#' comment
// lines; a "# frame" line makes it framed) and NAME.out the expected text,
// followed by an "error ..." line when the input is malformed. Run with
// ORV_UPDATE_GOLDEN=1 to rewrite the .out files after a deliberate change.
#include "wire/message_dump.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "testing/test_util.h"
#include "wire/message.h"
#include "wire/model_xlators.h"
#include "wire/wire_test_util.h"

namespace {

struct HexCase {
  std::string bytes;
  bool framed = false;
};

HexCase loadHex(const std::string& path) {
  HexCase c;
  std::istringstream in(orvtest::readFile(path));
  std::string line, hex;
  while (std::getline(in, line)) {
    if (!line.empty() && line[0] == '#') {
      if (line == "# frame") c.framed = true;
      continue;
    }
    hex += line + "\n";
  }
  c.bytes = wiretest::unhex(hex);
  return c;
}

std::string render(const std::string& out, int rc, const MessageDump::Error& e) {
  if (rc == 0) return out;
  return out + "error " + std::to_string(e.code) + " at offset " + std::to_string(e.offset) + ": " + e.text + "\n";
}

std::string dumpDir() { return orvtest::dataDir() + "/wire/dump"; }

TEST(MessageDump, Cases) {
  registerModelXlators();
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dumpDir())) {
    if (entry.path().extension() == ".hex") names.push_back(entry.path().stem().string());
  }
  std::sort(names.begin(), names.end());
  ASSERT_GE(names.size(), 10u);
  const bool update = std::getenv("ORV_UPDATE_GOLDEN") != nullptr;
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    HexCase c = loadHex(dumpDir() + "/" + name + ".hex");
    std::string out;
    MessageDump::Error e;
    int rc = MessageDump::dumpBytes(c.bytes.data(), c.bytes.size(), c.framed, out, &e);
    std::string got = render(out, rc, e);
    const std::string wantPath = dumpDir() + "/" + name + ".out";
    if (update) orvtest::writeFile(wantPath, got);
    EXPECT_EQ(got, orvtest::readFile(wantPath));
    // The same bytes in chunks of a few bytes give the same tree.
    if (!c.framed) {
      for (size_t chunk : {1, 3}) {
        Message m;
        wiretest::readerOf(m, c.bytes, chunk);
        std::string chunked;
        MessageDump::Error ce;
        int crc = MessageDump::dumpItems(m, chunked, &ce);
        EXPECT_EQ(render(chunked, crc, ce), got) << "chunk size " << chunk;
      }
    }
  }
}

TEST(MessageDump, DeepNestingStopsWithAnError) {
  std::string deep;
  for (int i = 0; i < 100000; ++i) deep += wiretest::unhex("09 00 00 03 E8 0B 02");
  std::string out;
  MessageDump::Error e;
  EXPECT_EQ(MessageDump::dumpBytes(deep.data(), deep.size(), false, out, &e), MSG_ERR_BAD_TYPE);
  EXPECT_EQ(e.text, "Invalid or unexpected type");
  EXPECT_FALSE(out.empty());
}

// Runs the real tool on a file; returns its exit status and both outputs.
struct ToolRun {
  int status;
  std::string out;
  std::string err;
};

ToolRun orvwire(const std::string& args) {
  orvtest::TempDir dir;
  std::string cmd = std::string(ORV_BINARY_DIR) + "/bin/orvwire " + args + " >" + dir.file("out") + " 2>" +
                    dir.file("err");
  int rc = std::system(cmd.c_str());
  return {WIFEXITED(rc) ? WEXITSTATUS(rc) : -1, orvtest::readFile(dir.file("out")),
          orvtest::readFile(dir.file("err"))};
}

TEST(MessageDump, OrvwireTool) {
  if (!std::filesystem::exists(std::string(ORV_BINARY_DIR) + "/bin/orvwire")) GTEST_SKIP() << "orvwire not built";
  orvtest::TempDir dir;
  HexCase any = loadHex(dumpDir() + "/any_int32.hex");
  orvtest::writeFile(dir.file("any.bin"), any.bytes);
  orvtest::writeFile(dir.file("cut.bin"), any.bytes.substr(0, 20));

  ToolRun ok = orvwire("dump " + dir.file("any.bin"));
  EXPECT_EQ(ok.status, 0);
  EXPECT_EQ(ok.out, orvtest::readFile(dumpDir() + "/any_int32.out"));
  EXPECT_EQ(ok.err, "");

  ToolRun in = orvwire("dump <" + dir.file("any.bin"));
  EXPECT_EQ(in.status, 0);
  EXPECT_EQ(in.out, ok.out);

  ToolRun cut = orvwire("dump " + dir.file("cut.bin"));
  EXPECT_EQ(cut.status, 1);
  EXPECT_NE(cut.out.find("field 2: int32 7"), std::string::npos);
  EXPECT_EQ(cut.err, "orvwire: error -16 at offset 19: Missing field code\n");

  HexCase framed = loadHex(dumpDir() + "/framed.hex");
  orvtest::writeFile(dir.file("framed.bin"), framed.bytes);
  ToolRun f = orvwire("dump --frame " + dir.file("framed.bin"));
  EXPECT_EQ(f.status, 0);
  EXPECT_NE(f.out.find("frame: message type 9"), std::string::npos);

  EXPECT_EQ(orvwire("--help").status, 0);
  EXPECT_EQ(orvwire("").status, 2);
  EXPECT_EQ(orvwire("dump --bogus").status, 2);
  EXPECT_EQ(orvwire("frobnicate").status, 2);
  ToolRun missing = orvwire("dump " + dir.file("nope.bin"));
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.err.find("cannot open"), std::string::npos);
}

}  // namespace
