// DateTimeZone: kel's own time-zone conversion, used by dates when no
// embedding hook converts (date_zone_hooks.h). A zone is read once from the
// zoneinfo files (TZif, with the POSIX rule of the file's footer for times
// past its table) or from a POSIX TZ rule text, and kept for the life of the
// process, so conversions never touch the file system again. Zones are
// immutable; find/local/utc are thread-safe.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class DateTimeZone {
 public:
  // What holds at one instant.
  struct Offset {
    int32_t seconds = 0;  // east of UTC
    bool dst = false;
    const char* abbreviation = "UTC";  // lives as long as the zone
  };

  // The zone named `name`: a zoneinfo name ("Europe/Berlin", "UTC") read
  // from $TZDIR or /usr/share/zoneinfo, else a POSIX rule text
  // ("CET-1CEST,M3.5.0,M10.5.0/3"). Null when neither reads. Results,
  // failures included, are cached per name.
  [[nodiscard]] static std::shared_ptr<const DateTimeZone> find(std::string_view name);
  // The process's zone as the C library chooses it: $TZ when set (empty
  // means UTC), else /etc/localtime, else UTC. Read once.
  [[nodiscard]] static std::shared_ptr<const DateTimeZone> local();
  [[nodiscard]] static std::shared_ptr<const DateTimeZone> utc();

  // Reads a TZif image or a POSIX rule text; null when malformed.
  [[nodiscard]] static std::shared_ptr<const DateTimeZone> fromTzif(std::string_view bytes);
  [[nodiscard]] static std::shared_ptr<const DateTimeZone> fromPosixRule(std::string_view rule);

  // The offset in force at `utcSeconds`.
  [[nodiscard]] Offset lookup(int64_t utcSeconds) const;
  // The instant whose wall-clock time here is `localSeconds` (seconds of a
  // wall clock counted like UTC ones): a time skipped by a forward shift is
  // read with the offset before the shift, a repeated time gives the
  // earlier instant.
  [[nodiscard]] int64_t toUtc(int64_t localSeconds) const;

  DateTimeZone() = default;
  DateTimeZone(const DateTimeZone&) = delete;
  DateTimeZone& operator=(const DateTimeZone&) = delete;

  struct Rule;  // a POSIX TZ rule (internal)
  ~DateTimeZone();

 private:
  struct Type {
    int32_t offset;
    bool dst;
    uint8_t abbreviation;  // index into abbreviations_
  };
  std::vector<int64_t> transitions_;
  std::vector<uint8_t> transitionTypes_;
  std::vector<Type> types_;
  std::string abbreviations_;
  std::unique_ptr<Rule> rule_;  // after the last transition (or everywhere)
};

// Calendar arithmetic on the proleptic Gregorian calendar, valid far beyond
// the range of kel dates.
[[nodiscard]] int64_t daysFromCivil(int64_t year, int64_t month, int64_t day);  // month 1-12, day any
void civilFromDays(int64_t days, int64_t* year, int* month, int* day);
[[nodiscard]] inline int64_t floorDiv(int64_t a, int64_t b) {
  int64_t q = a / b;
  return (a % b != 0 && ((a < 0) != (b < 0))) ? q - 1 : q;
}
