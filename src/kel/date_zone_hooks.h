// DateZoneHooks: the seam through which an embedding (the Java bridge)
// supplies kel's time-zone conversions. The bridge registers its table once
// at start-up; kel dates use it when it is set and fall back to their own
// conversion (the zoneinfo files, date_time_zone.h) otherwise or when a hook
// declines. Registration and lookup are atomic; a hook itself may be called
// from any thread that runs kel (the bridge serialises kel work anyway).
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>

struct DateZoneHooks {
  // Size of the zone-abbreviation buffer handed to buildTm (11 characters
  // and the terminating zero).
  static constexpr size_t kAbbreviationSize = 12;

  // Converts `seconds` since the epoch to the broken-down time of the zone
  // `zoneName` (an IANA name such as "Europe/Berlin", or whatever the
  // script's TZ variable holds), or of UTC when `utc` is true. On success
  // returns 0 and fills every field of *tm (tm_wday and tm_yday included;
  // tm_gmtoff and tm_zone may be left alone), the zero-terminated
  // abbreviation ("CEST", at most 11 characters) and the offset east of UTC
  // in minutes. Any other result means "not converted": kel then uses its own
  // conversion. Must not keep the pointers.
  int (*buildTm)(bool utc, const char* zoneName, int64_t seconds, struct tm* tm, char* zoneAbbreviation,
                 int* offsetMinutes) = nullptr;

  // The inverse: the instant of the wall-clock time tm_year, tm_mon,
  // tm_mday, tm_hour, tm_min, tm_sec (other fields ignored; fields may lie
  // outside their ranges and are normalised) in the zone `zoneName`. A time
  // skipped by a forward shift is read with the offset before the shift; a
  // time that occurs twice gives the earlier instant (as JavaScript and
  // java.time do). 0 and *seconds on success; any other result: not
  // converted, kel uses its own conversion.
  int (*buildTime)(const char* zoneName, const struct tm* tm, int64_t* seconds) = nullptr;
};

// Installs `hooks` (copied; null or a table of null hooks removes them).
// Meant for start-up, before kel executions run; safe at any time.
void setDateZoneHooks(const DateZoneHooks* hooks);

// The installed hooks (null members for those not installed). The values
// are read atomically, each one on its own.
[[nodiscard]] DateZoneHooks dateZoneHooks();
