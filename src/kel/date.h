// Date: kel's point in time (object id 9300), seconds and milliseconds since
// the epoch, with a broken-down form computed on demand in the zone the
// script selects (a variable TZ visible from the current scope) or the
// machine's zone. Conversions go through the embedding's hooks when it set
// them (date_zone_hooks.h), else through DateTimeZone. Every Date lies
// within JavaScript's range of +-8.64e15 ms, so each one can be formatted.
// A Date is used by one thread at a time; the debug time is process-wide.
#pragma once

#include <cstdint>
#include <ctime>

#include "model/translatable.h"

class Date : public Translatable {
 public:
  static constexpr int kObjectId = 9300;
  // The farthest instant from the epoch a date may hold, in milliseconds
  // (100,000,000 days, as in JavaScript).
  static constexpr long long kMaxMilliseconds = 8640000000000000LL;

  // The current time (or the debug time when one is set).
  Date();
  // `ms` since the epoch. REQUIRES inRange(ms).
  explicit Date(long long ms);

  [[nodiscard]] static bool inRange(long long ms) { return ms >= -kMaxMilliseconds && ms <= kMaxMilliseconds; }

  [[nodiscard]] long long getTime() const { return seconds_ * 1000 + milliseconds_; }
  // 0, or 24 (nothing changed) when `ms` lies outside the range.
  [[nodiscard]] int setTime(long long ms);
  [[nodiscard]] int64_t seconds() const { return seconds_; }
  [[nodiscard]] int milliseconds() const { return milliseconds_; }

  // Fixes the time new dates take; seconds -1 returns to the clock.
  static void setDebugTime(int64_t seconds, int milliseconds);

  // The machine's zone name: $TZ (without a leading ':') when set, else the
  // target of /etc/localtime after "zoneinfo/", else the C library's zone
  // name. Computed once; the text lives for the process.
  [[nodiscard]] static const char* getLocalTZ();
  // The zone conversions use: the script's TZ (a non-empty string visible
  // from the parser's current scope), else getLocalTZ(). `fromScript` tells
  // which. The text stays valid until the script changes TZ.
  [[nodiscard]] static const char* selectedZone(Parser* parser, bool* fromScript);

  // Fills the broken-down time, zone abbreviation and offset for this
  // instant, in UTC or in the selected zone.
  void buildTm(Parser* parser, bool utc);
  // Sets the instant from the broken-down time's wall-clock fields (out of
  // range fields are normalised) read in the selected zone, keeping the
  // milliseconds. 0, or 24 (nothing changed) when the result would leave the
  // range.
  [[nodiscard]] int buildTime(Parser* parser);
  // The instant of a wall-clock time of the selected zone (for parsing):
  // fields as for buildTime. False when the zone cannot convert it.
  [[nodiscard]] static bool wallClockToSeconds(Parser* parser, const struct tm& fields, int64_t* seconds);

  [[nodiscard]] struct tm& tm() { return tm_; }
  [[nodiscard]] const char* zoneName() const { return zoneName_; }
  [[nodiscard]] int offsetMinutes() const { return offset_; }
  // Records a parsed date's zone: "GMT" and the offset the text gave.
  void setParsedZone(int offsetMinutes);

  // Local "%a %b %d %Y %H:%M:%S GMT+hhmm (abbreviation)".
  char* toString(Parser* parser) override;
  // UTC "%Y-%m-%dT%H:%M:%S.mmmZ" (years of fewer than four digits padded).
  [[nodiscard]] char* toISOString(Parser* parser);
  // The same text as a JSON string, in double quotes (what an enclosing
  // document embeds; the script member toJSON() gives the bare text).
  char* toJSON(Parser* parser) override;
  int getObjectID() const override { return kObjectId; }
  // Equal to another date of the same instant.
  int isEqual(const Principal* principal, bool* out, const Translatable* other) const override;
  // Orders dates by instant.
  int compareTo(const Principal* principal, int* out, const Translatable* other) const override;
  int clone(const Principal* principal, Translatable** out) const override;

 private:
  void setFields(int64_t seconds, int milliseconds);

  int64_t seconds_ = 0;
  int milliseconds_ = 0;  // 0-999
  struct tm tm_ {};
  char zoneName_[13] = "UTC";
  int offset_ = 0;  // minutes east of UTC, of the last buildTm
};
