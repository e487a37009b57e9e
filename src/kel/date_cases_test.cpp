// Date cases kept as data (tests/kel/date/cases.tsv), run through KelRunner,
// and the embedding's conversion hooks (date_zone_hooks.h).
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "kel/date.h"
#include "kel/date_zone_hooks.h"
#include "kel/kel_runner.h"
#include "kel/output.h"
#include "model/any.h"
#include "model/obj_ref.h"
#include "testing/test_util.h"

namespace {

// Runs `expression` with TZ set to `zone` ("-": unset); the rendering, or
// "!" and the first line of the error report.
std::string run(const std::string& zone, const std::string& expression) {
  KelRunner runner;
  std::string err;
  if (zone != "-") {
    MemoryFile ignored;
    std::string setZone = "var TZ = \"" + zone + "\";";
    if (runner.runScript(setZone, "zone", false, ignored, err) != 0) return "!" + err;
  }
  MemoryFile out;
  if (runner.runExpression(expression, "expression", out, err) != 0) return "!" + err.substr(0, err.find('\n'));
  std::string text = out.text();
  while (!text.empty() && text.back() == '\n') text.pop_back();
  return text;
}

TEST(DateCases, DataFile) {
  std::ifstream in(orvtest::dataDir() + "/kel/date/cases.tsv");
  ASSERT_TRUE(in.is_open());
  std::string line;
  int number = 0;
  int cases = 0;
  while (std::getline(in, line)) {
    number++;
    if (line.empty() || line[0] == '#') continue;
    if (line.rfind("@now ", 0) == 0) {
      std::string at = line.substr(5);
      if (at == "-") {
        Date::setDebugTime(-1, 0);
      } else {
        long long ms = std::stoll(at);
        Date::setDebugTime(ms / 1000, static_cast<int>(ms % 1000));
      }
      continue;
    }
    size_t a = line.find('\t');
    size_t b = a == std::string::npos ? a : line.find('\t', a + 1);
    ASSERT_NE(b, std::string::npos) << "cases.tsv:" << number << " needs three columns";
    SCOPED_TRACE("cases.tsv:" + std::to_string(number) + ": " + line);
    EXPECT_EQ(run(line.substr(0, a), line.substr(a + 1, b - a - 1)), line.substr(b + 1));
    cases++;
  }
  Date::setDebugTime(-1, 0);
  EXPECT_GT(cases, 80);
}

TEST(DateCases, JsonTextOfAnEmbeddedDateIsAString) {
  Any value(new ObjRef(new Date(1500LL)));
  char* json = value.toJSON(nullptr);
  ASSERT_NE(json, nullptr);
  EXPECT_STREQ(json, "\"1970-01-01T00:00:01.500Z\"");
  std::free(json);
}

// ---- hooks: a fake bridge that puts every zone at +01:00 and names it "HK"

int g_buildTmCalls = 0;
int g_buildTimeCalls = 0;
std::string g_lastZone;
bool g_decline = false;

int fakeBuildTm(bool utc, const char* zoneName, int64_t seconds, struct tm* tm, char* abbreviation, int* offset) {
  g_buildTmCalls++;
  g_lastZone = zoneName != nullptr ? zoneName : "";
  if (g_decline) return 1;
  time_t t = static_cast<time_t>(seconds + (utc ? 0 : 3600));
  gmtime_r(&t, tm);
  std::strcpy(abbreviation, utc ? "UTC" : "HK");
  *offset = utc ? 0 : 60;
  return 0;
}

int fakeBuildTime(const char* zoneName, const struct tm* tm, int64_t* seconds) {
  g_buildTimeCalls++;
  g_lastZone = zoneName != nullptr ? zoneName : "";
  if (g_decline) return 1;
  struct tm copy = *tm;
  *seconds = static_cast<int64_t>(timegm(&copy)) - 3600;
  return 0;
}

class DateHooks : public ::testing::Test {
 protected:
  void SetUp() override {
    DateZoneHooks hooks;
    hooks.buildTm = fakeBuildTm;
    hooks.buildTime = fakeBuildTime;
    setDateZoneHooks(&hooks);
    g_buildTmCalls = g_buildTimeCalls = 0;
    g_decline = false;
  }
  void TearDown() override { setDateZoneHooks(nullptr); }
};

TEST_F(DateHooks, ConvertInTheScriptsZone) {
  struct Case {
    const char* zone;
    const char* expression;
    const char* want;
  };
  const Case cases[] = {
      {"Somewhere/Else", "new Date(0).toString()", "\"Thu Jan 01 1970 01:00:00 GMT+0100 (HK)\""},
      {"Somewhere/Else", "new Date(0).getDate()", "1"},
      {"Somewhere/Else", "new Date(0).toISOString()", "\"1970-01-01T00:00:00.000Z\""},
      {"Somewhere/Else", "Date.parse(\"2024-03-05T10:20\").toISOString()", "\"2024-03-05T09:20:00.000Z\""},
      {"Somewhere/Else", "new Date(0).setDate(2)", "86400000"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expression);
    EXPECT_EQ(run(c.zone, c.expression), c.want);
    EXPECT_EQ(g_lastZone, c.zone);
  }
  EXPECT_GT(g_buildTmCalls, 0);
  EXPECT_GT(g_buildTimeCalls, 0);
}

TEST_F(DateHooks, WithoutTzTheMachinesZoneIsNamed) {
  EXPECT_EQ(run("-", "new Date(0).getDate()"), "1");
  EXPECT_EQ(g_lastZone, Date::getLocalTZ());
}

TEST_F(DateHooks, DecliningHooksFallBackToZoneinfo) {
  g_decline = true;
  EXPECT_EQ(run("Asia/Kolkata", "new Date(0).toString()"), "\"Thu Jan 01 1970 05:30:00 GMT+0530 (IST)\"");
  EXPECT_EQ(run("Asia/Kolkata", "Date.parse(\"1970-01-01T05:30\").getTime()"), "0");
  EXPECT_GT(g_buildTmCalls, 0);
  EXPECT_GT(g_buildTimeCalls, 0);
}

TEST_F(DateHooks, RemovedHooksAreNotCalled) {
  setDateZoneHooks(nullptr);
  EXPECT_EQ(run("Asia/Kolkata", "new Date(0).getDate()"), "1");
  EXPECT_EQ(g_buildTmCalls, 0);
}

}  // namespace
