// DateTimeZone: the zoneinfo reader and the POSIX rules, against the C
// library's own conversion of the same zones, and malformed input.
#include "kel/date_time_zone.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

#include "testing/test_util.h"

namespace {

TEST(DateTimeZone, CalendarRoundTrips) {
  for (int64_t days : {-100000001LL, -719468LL, -1LL, 0LL, 59LL, 11016LL, 2932896LL, 100000000LL}) {
    int64_t year;
    int month, day;
    civilFromDays(days, &year, &month, &day);
    EXPECT_EQ(daysFromCivil(year, month, day), days);
  }
  EXPECT_EQ(daysFromCivil(2024, 3, 0), daysFromCivil(2024, 2, 29));
  EXPECT_EQ(daysFromCivil(2024, 13, 1), daysFromCivil(2025, 1, 1));
  EXPECT_EQ(daysFromCivil(2024, -1, 1), daysFromCivil(2023, 11, 1));
}

// Each zone against glibc's localtime_r under the same TZ, hour by hour
// across two years and at scattered instants far from now.
TEST(DateTimeZone, AgreesWithTheCLibrary) {
  const char* zones[] = {"Europe/Berlin", "Australia/Adelaide", "Asia/Kolkata", "America/New_York",
                         "America/Santiago", "Pacific/Chatham", "CET-1CEST,M3.5.0,M10.5.0/3"};
  const char* saved = std::getenv("TZ");
  std::string savedTz = saved != nullptr ? saved : "";
  for (const char* name : zones) {
    SCOPED_TRACE(name);
    auto zone = DateTimeZone::find(name);
    ASSERT_NE(zone, nullptr);
    setenv("TZ", name, 1);
    tzset();
    std::vector<int64_t> instants;
    for (int64_t t = 1704067200; t < 1704067200 + 2 * 366 * 86400; t += 3600) instants.push_back(t);
    for (int64_t t : {-2208988800LL, 0LL, 946684800LL, 4102444800LL, 7258118400LL}) instants.push_back(t);
    for (int64_t t : instants) {
      time_t c = static_cast<time_t>(t);
      struct tm tm {};
      ASSERT_NE(localtime_r(&c, &tm), nullptr);
      DateTimeZone::Offset offset = zone->lookup(t);
      ASSERT_EQ(offset.seconds, tm.tm_gmtoff) << t;
      ASSERT_STREQ(offset.abbreviation, tm.tm_zone) << t;
      ASSERT_EQ(offset.dst, tm.tm_isdst > 0) << t;
      // Every wall-clock time that exists maps back to an instant showing it.
      int64_t local = t + offset.seconds;
      EXPECT_EQ(zone->toUtc(local) + zone->lookup(zone->toUtc(local)).seconds, local) << t;
    }
  }
  if (saved != nullptr) {
    setenv("TZ", savedTz.c_str(), 1);
  } else {
    unsetenv("TZ");
  }
  tzset();
}

TEST(DateTimeZone, NamesThatAreNotZones) {
  const char* names[] = {"", "Nowhere/City", "../../etc/passwd", "/etc/localtime", "Europe/../../etc/passwd",
                         "Europe//Berlin", "a b", "CET-1CEST,M13.5.0,M10.5.0", "X", "ABC+99"};
  for (const char* name : names) {
    SCOPED_TRACE(name);
    EXPECT_EQ(DateTimeZone::find(name), nullptr);
  }
  // The same answer comes from the cache.
  EXPECT_EQ(DateTimeZone::find("Nowhere/City"), nullptr);
  EXPECT_EQ(DateTimeZone::find("Europe/Berlin"), DateTimeZone::find("Europe/Berlin"));
}

TEST(DateTimeZone, PosixRules) {
  struct Case {
    const char* rule;
    int64_t at;
    int32_t offset;
    const char* abbreviation;
  };
  const Case cases[] = {
      {"UTC0", 0, 0, "UTC"},
      {"<+0330>-3:30", 0, 12600, "+0330"},
      {"EST5EDT", 1720000000, -4 * 3600, "EDT"},  // US rules when none are given
      {"EST5EDT", 1704067200, -5 * 3600, "EST"},
      {"AEST-10AEDT,M10.1.0,M4.1.0/3", 1704067200, 11 * 3600, "AEDT"},  // southern summer
      {"AEST-10AEDT,M10.1.0,M4.1.0/3", 1720000000, 10 * 3600, "AEST"},
      {"XST3XDT,J60/0,J300/0", daysFromCivil(2024, 3, 1) * 86400 + 3 * 3600, -2 * 3600, "XDT"},
      {"XST3XDT,59/0,300/0", daysFromCivil(2024, 2, 29) * 86400 + 3 * 3600, -2 * 3600, "XDT"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.rule);
    auto zone = DateTimeZone::fromPosixRule(c.rule);
    ASSERT_NE(zone, nullptr);
    DateTimeZone::Offset offset = zone->lookup(c.at);
    EXPECT_EQ(offset.seconds, c.offset);
    EXPECT_STREQ(offset.abbreviation, c.abbreviation);
  }
}

// Every prefix of a real zone file, and the file with single bytes changed,
// is either refused or read into a zone that converts without fault.
TEST(DateTimeZone, DamagedFilesAreRefusedOrHarmless) {
  std::string image = orvtest::readFile("/usr/share/zoneinfo/Europe/Berlin");
  if (image.empty()) GTEST_SKIP() << "no zoneinfo files on this machine";
  ASSERT_NE(DateTimeZone::fromTzif(image), nullptr);
  auto exercise = [](const std::shared_ptr<const DateTimeZone>& zone) {
    if (zone == nullptr) return;
    for (int64_t t : {-8640000000000LL, -1LL, 0LL, 1711846800LL, 8640000000000LL}) {
      (void)zone->lookup(t);
      (void)zone->toUtc(t);
    }
  };
  for (size_t n = 0; n < image.size(); n += 7) exercise(DateTimeZone::fromTzif(image.substr(0, n)));
  unsigned seed = 12345;
  for (int k = 0; k < 2000; k++) {
    std::string damaged = image;
    seed = seed * 1103515245 + 12345;
    size_t at = (seed >> 8) % damaged.size();
    damaged[at] = static_cast<char>(damaged[at] ^ (1 + (seed >> 3) % 255));
    exercise(DateTimeZone::fromTzif(damaged));
  }
  EXPECT_EQ(DateTimeZone::fromTzif(""), nullptr);
  EXPECT_EQ(DateTimeZone::fromTzif("TZif2"), nullptr);
}

}  // namespace
