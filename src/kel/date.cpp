#include "kel/date.h"

#include <sys/time.h>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>

#include "kel/abstract_var_set.h"
#include "kel/date_time_zone.h"
#include "kel/date_zone_hooks.h"
#include "kel/parser.h"
#include "model/any.h"

namespace {

std::atomic<int64_t> g_debugSeconds{-1};
std::atomic<int> g_debugMilliseconds{0};

constexpr int kIllegalArgument = 24;

// The zone the fallback converts in: the script's zone (UTC, with a trace,
// when no zone of that name exists) or the machine's.
std::shared_ptr<const DateTimeZone> fallbackZone(Parser* parser, const char* name, bool fromScript) {
  if (!fromScript) return DateTimeZone::local();
  std::shared_ptr<const DateTimeZone> zone = DateTimeZone::find(name);
  if (zone != nullptr) return zone;
  if (parser != nullptr) parser->printf(5, "Unknown time zone '%s', using UTC\n", name);
  return DateTimeZone::utc();
}

// Broken-down form of wall-clock seconds.
void fillTm(struct tm& tm, int64_t local) {
  const int64_t days = floorDiv(local, 86400);
  const int64_t second = local - days * 86400;
  int64_t year;
  int month, day;
  civilFromDays(days, &year, &month, &day);
  tm.tm_year = static_cast<int>(year - 1900);
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = static_cast<int>(second / 3600);
  tm.tm_min = static_cast<int>(second / 60 % 60);
  tm.tm_sec = static_cast<int>(second % 60);
  tm.tm_wday = static_cast<int>(((days % 7) + 11) % 7);  // 1970-01-01 was a Thursday
  tm.tm_yday = static_cast<int>(days - daysFromCivil(year, 1, 1));
}

// Wall-clock seconds of the fields of `tm`, normalised as timegm does.
int64_t wallClock(const struct tm& tm) {
  const int64_t days = daysFromCivil(static_cast<int64_t>(tm.tm_year) + 1900, static_cast<int64_t>(tm.tm_mon) + 1, 1) +
                       tm.tm_mday - 1;
  return days * 86400 + static_cast<int64_t>(tm.tm_hour) * 3600 + static_cast<int64_t>(tm.tm_min) * 60 + tm.tm_sec;
}

}  // namespace

Date::Date() {
  int64_t debug = g_debugSeconds.load(std::memory_order_relaxed);
  if (debug != -1) {
    setFields(debug, g_debugMilliseconds.load(std::memory_order_relaxed));
    return;
  }
  struct timeval now {};
  gettimeofday(&now, nullptr);
  setFields(now.tv_sec, static_cast<int>(now.tv_usec / 1000));
}

Date::Date(long long ms) { (void)setTime(ms); }

void Date::setFields(int64_t seconds, int milliseconds) {
  seconds_ = seconds;
  milliseconds_ = milliseconds;
}

int Date::setTime(long long ms) {
  if (!inRange(ms)) return kIllegalArgument;
  // Floor division keeps the milliseconds in 0-999 before 1970 too, so that
  // -1 is 23:59:59.999 of the day before.
  int64_t seconds = floorDiv(ms, 1000);
  setFields(seconds, static_cast<int>(ms - seconds * 1000));
  return 0;
}

void Date::setDebugTime(int64_t seconds, int milliseconds) {
  g_debugMilliseconds.store(milliseconds, std::memory_order_relaxed);
  g_debugSeconds.store(seconds, std::memory_order_relaxed);
}

const char* Date::getLocalTZ() {
  static char name[256];
  static std::once_flag once;
  std::call_once(once, [] {
    const char* tz = std::getenv("TZ");
    if (tz != nullptr && *tz == ':') tz++;
    if (tz != nullptr && *tz != '\0') {
      std::snprintf(name, sizeof name, "%s", tz);
      return;
    }
    char link[256];
    ssize_t n = readlink("/etc/localtime", link, sizeof link - 1);
    if (n > 0) {
      link[n] = '\0';
      const char* part = std::strstr(link, "zoneinfo/");
      if (part != nullptr) {
        std::snprintf(name, sizeof name, "%s", part + 9);
        return;
      }
    }
    tzset();
    std::snprintf(name, sizeof name, "%s", tzname[daylight != 0 ? 1 : 0]);
  });
  return name;
}

const char* Date::selectedZone(Parser* parser, bool* fromScript) {
  *fromScript = false;
  AbstractVarSet* scope = parser != nullptr ? parser->getCurrentScope() : nullptr;
  if (scope != nullptr) {
    const Any* tz = scope->get("TZ");
    if (tz != nullptr && tz->isString() && tz->getString() != nullptr && tz->getString()[0] != '\0') {
      *fromScript = true;
      return tz->getString();
    }
  }
  return getLocalTZ();
}

void Date::buildTm(Parser* parser, bool utc) {
  DateZoneHooks hooks = dateZoneHooks();
  bool fromScript = false;
  const char* zone = nullptr;
  if (hooks.buildTm != nullptr || !utc) zone = selectedZone(parser, &fromScript);
  if (hooks.buildTm != nullptr) {
    struct tm tm {};
    char abbreviation[DateZoneHooks::kAbbreviationSize + 1] = {};
    int offset = 0;
    if (hooks.buildTm(utc, zone, seconds_, &tm, abbreviation, &offset) == 0) {
      tm_ = tm;
      std::snprintf(zoneName_, sizeof zoneName_, "%.*s", static_cast<int>(DateZoneHooks::kAbbreviationSize - 1),
                    abbreviation);
      offset_ = offset;
      tm_.tm_gmtoff = static_cast<long>(offset) * 60;
      tm_.tm_zone = zoneName_;
      return;
    }
  }
  DateTimeZone::Offset offset;
  offset.abbreviation = "GMT";
  if (!utc) offset = fallbackZone(parser, zone, fromScript)->lookup(seconds_);
  fillTm(tm_, seconds_ + offset.seconds);
  tm_.tm_isdst = offset.dst ? 1 : 0;
  std::snprintf(zoneName_, sizeof zoneName_, "%s", offset.abbreviation);
  offset_ = offset.seconds / 60;
  tm_.tm_gmtoff = offset.seconds;
  tm_.tm_zone = zoneName_;
}

bool Date::wallClockToSeconds(Parser* parser, const struct tm& fields, int64_t* seconds) {
  bool fromScript = false;
  const char* zone = selectedZone(parser, &fromScript);
  DateZoneHooks hooks = dateZoneHooks();
  if (hooks.buildTime != nullptr && hooks.buildTime(zone, &fields, seconds) == 0) return true;
  *seconds = fallbackZone(parser, zone, fromScript)->toUtc(wallClock(fields));
  return true;
}

int Date::buildTime(Parser* parser) {
  // Fields far out of range (setDate(2000000000)) are refused before any
  // arithmetic could overflow.
  const int64_t limit = kMaxMilliseconds / 1000 / 86400 * 2;
  if (tm_.tm_mday > limit || tm_.tm_mday < -limit) return kIllegalArgument;
  int64_t seconds = 0;
  if (!wallClockToSeconds(parser, tm_, &seconds)) return kIllegalArgument;
  if (seconds > kMaxMilliseconds / 1000 || seconds < -kMaxMilliseconds / 1000 ||
      !inRange(seconds * 1000 + milliseconds_)) {
    return kIllegalArgument;
  }
  seconds_ = seconds;
  return 0;
}

void Date::setParsedZone(int offsetMinutes) {
  std::snprintf(zoneName_, sizeof zoneName_, "GMT");
  offset_ = offsetMinutes;
}

char* Date::toString(Parser* parser) {
  buildTm(parser, false);
  char text[132];
  size_t n = strftime(text, sizeof text, "%a %b %d %04Y %H:%M:%S", &tm_);
  int offset = offset_ < 0 ? -offset_ : offset_;
  std::snprintf(text + n, sizeof text - n, " GMT%c%02d%02d (%s)", offset_ < 0 ? '-' : '+', offset / 60, offset % 60,
                zoneName_);
  return strdup(text);
}

char* Date::toISOString(Parser* parser) {
  buildTm(parser, true);
  char text[132];
  // Four digits at least, so that years before 1000 stay ISO 8601 (and
  // readable by Date.parse).
  size_t n = strftime(text, sizeof text, "%04Y-%m-%dT%H:%M:%S", &tm_);
  std::snprintf(text + n, sizeof text - n, ".%03dZ", milliseconds_);
  return strdup(text);
}

char* Date::toJSON(Parser* parser) {
  // A JSON text, as the data model writes its own dates: the ISO form in
  // quotes (a bare one would make the enclosing document unreadable).
  char* iso = toISOString(parser);
  size_t n = std::strlen(iso);
  char* quoted = static_cast<char*>(std::malloc(n + 3));
  quoted[0] = '"';
  std::memcpy(quoted + 1, iso, n);
  quoted[n + 1] = '"';
  quoted[n + 2] = '\0';
  std::free(iso);
  return quoted;
}

int Date::isEqual(const Principal*, bool* out, const Translatable* other) const {
  const auto* date = dynamic_cast<const Date*>(other);
  *out = date != nullptr && date->seconds_ == seconds_ && date->milliseconds_ == milliseconds_;
  return 0;
}

int Date::compareTo(const Principal*, int* out, const Translatable* other) const {
  const auto* date = dynamic_cast<const Date*>(other);
  if (date == nullptr) return 21;
  long long a = getTime(), b = date->getTime();
  *out = a < b ? -1 : (a > b ? 1 : 0);
  return 0;
}

int Date::clone(const Principal*, Translatable** out) const {
  auto* copy = new Date(getTime());
  *out = copy;
  return 0;
}
