// Dates through kel and through node, side by side: the table
// tests/kel/date/differential.tsv runs in one node process (node as the
// reference for JavaScript's Date) and through KelRunner. Rows marked
// "differs:" document where kel does not follow JavaScript and check kel
// alone. Skips, saying why, when node is not installed.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "kel/date.h"
#include "kel/kel_runner.h"
#include "kel/output.h"
#include "testing/test_util.h"

namespace {

struct Row {
  int line;
  std::string zone;
  std::string kel;
  std::string js;        // empty for a documented difference
  std::string expected;  // kel's rendering for a documented difference
  long long now;         // -1: the clock
};

std::vector<Row> readTable() {
  std::ifstream in(orvtest::dataDir() + "/kel/date/differential.tsv");
  EXPECT_TRUE(in.is_open());
  std::vector<Row> rows;
  std::string line;
  int number = 0;
  long long now = -1;
  while (std::getline(in, line)) {
    number++;
    if (line.empty() || line[0] == '#') continue;
    if (line.rfind("@now ", 0) == 0) {
      now = std::stoll(line.substr(5));
      continue;
    }
    std::vector<std::string> cols;
    size_t from = 0;
    for (;;) {
      size_t tab = line.find('\t', from);
      cols.push_back(line.substr(from, tab == std::string::npos ? std::string::npos : tab - from));
      if (tab == std::string::npos) break;
      from = tab + 1;
    }
    Row row{number, cols[0], cols.size() > 1 ? cols[1] : "", "", "", now};
    if (cols.size() == 4 && cols[2].rfind("differs:", 0) == 0) {
      row.expected = cols[3];
    } else if (cols.size() == 3) {
      row.js = cols[2];
    } else {
      ADD_FAILURE() << "differential.tsv:" << number << ": malformed row";
      continue;
    }
    rows.push_back(row);
  }
  return rows;
}

bool haveNode() {
  const char* path = std::getenv("PATH");
  std::string dirs = path != nullptr ? path : "/usr/bin:/bin";
  size_t from = 0;
  while (from <= dirs.size()) {
    size_t colon = dirs.find(':', from);
    std::string dir = dirs.substr(from, colon == std::string::npos ? std::string::npos : colon - from);
    if (!dir.empty() && access((dir + "/node").c_str(), X_OK) == 0) return true;
    if (colon == std::string::npos) break;
    from = colon + 1;
  }
  return false;
}

std::string jsString(const std::string& s) {
  std::string out = "\"";
  for (char c : s) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

// JavaScript that evaluates every row in its zone and prints one JSON line
// per row ("!" and the message when it throws).
std::string nodeScript(const std::vector<Row>& rows) {
  std::string js = R"JS(
const longNames = {
  "Coordinated Universal Time": "UTC",
  "Central European Standard Time": "CET", "Central European Summer Time": "CEST",
  "India Standard Time": "IST",
  "Australian Central Standard Time": "ACST", "Australian Central Daylight Time": "ACDT",
};
function t(d) { return d.toString().replace(/ \((.*)\)$/, (m, n) => " (" + (longNames[n] || n) + ")"); }
const p = (n, w) => String(n).padStart(w, "0");
const dayNames = ["Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"];
const monthNames = ["Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"];
function f(d) {
  const y = d.getFullYear();
  const cycle = ((y % 400) + 400) % 400 + 2000;  // the calendar repeats every 400 years
  const yday = (Date.UTC(cycle, d.getMonth(), d.getDate()) - Date.UTC(cycle, 0, 1)) / 864e5 + 1;
  return y + "-" + p(d.getMonth() + 1, 2) + "-" + p(d.getDate(), 2) + " " + p(d.getHours(), 2) + ":" +
      p(d.getMinutes(), 2) + ":" + p(d.getSeconds(), 2) + " " + dayNames[d.getDay()] + " " +
      monthNames[d.getMonth()] + " " + p(yday, 3);
}
function day(ms, n) { const d = new Date(ms); d.setDate(d.getDate() + n); d.setHours(0, 0, 0, 0); return d.getTime(); }
const rows = [
)JS";
  for (const Row& row : rows) {
    if (row.js.empty()) continue;
    js += "  [" + jsString(row.zone) + ", " + std::to_string(row.now) + ", " + jsString(row.js) + "],\n";
  }
  js += R"JS(];
let now;
for (const [zone, at, source] of rows) {
  process.env.TZ = zone;
  now = at;
  let out;
  try { out = JSON.stringify(eval(source)); } catch (e) { out = "!" + e.message; }
  console.log(out === undefined ? "undefined" : out);
}
)JS";
  return js;
}

// Runs node over `script` with a bound on its time; its output lines.
std::vector<std::string> runNode(const orvtest::TempDir& dir, const std::string& script) {
  std::string path = dir.file("dates.js");
  orvtest::writeFile(path, script);
  std::string command = "timeout 60 node " + path + " 2>&1";
  std::vector<std::string> lines;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return lines;
  std::string text;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) text.append(buffer, n);
  int status = pclose(pipe);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << text;
  size_t from = 0;
  while (from < text.size()) {
    size_t nl = text.find('\n', from);
    lines.push_back(text.substr(from, nl == std::string::npos ? std::string::npos : nl - from));
    if (nl == std::string::npos) break;
    from = nl + 1;
  }
  return lines;
}

std::string runKel(const Row& row) {
  Date::setDebugTime(row.now >= 0 ? row.now / 1000 : -1, row.now >= 0 ? static_cast<int>(row.now % 1000) : 0);
  KelRunner runner;
  MemoryFile out;
  std::string err;
  std::string setZone = "var TZ = \"" + row.zone + "\";";
  if (runner.runScript(setZone, "zone", false, out, err) != 0) return "!" + err;
  MemoryFile value;
  if (runner.runExpression(row.kel, "expression", value, err) != 0) return "!" + err.substr(0, err.find('\n'));
  std::string text = value.text();
  while (!text.empty() && text.back() == '\n') text.pop_back();
  return text;
}

TEST(DateDifferential, KelAgreesWithNode) {
  std::vector<Row> rows = readTable();
  ASSERT_GT(rows.size(), 50u);
  std::vector<std::string> reference;
  bool node = haveNode();
  if (node) {
    orvtest::TempDir dir;
    reference = runNode(dir, nodeScript(rows));
  }
  size_t next = 0;
  int compared = 0;
  for (const Row& row : rows) {
    SCOPED_TRACE("differential.tsv:" + std::to_string(row.line) + ": [" + row.zone + "] " + row.kel);
    std::string got = runKel(row);
    if (row.js.empty()) {
      EXPECT_EQ(got, row.expected);
      continue;
    }
    if (!node) continue;
    ASSERT_LT(next, reference.size()) << "node gave fewer lines than rows";
    EXPECT_EQ(got, reference[next]) << "node: " << row.js;
    next++;
    compared++;
  }
  Date::setDebugTime(-1, 0);
  if (!node) GTEST_SKIP() << "node is not installed: only the documented differences were checked";
  EXPECT_EQ(next, reference.size());
  EXPECT_GT(compared, 50);
}

}  // namespace
