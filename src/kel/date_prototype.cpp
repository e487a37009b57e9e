#include "kel/date_prototype.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "kel/date.h"
#include "kel/date_time_zone.h"
#include "kel/member_names.h"
#include "kel/parser.h"
#include "model/any.h"
#include "model/obj_ref.h"

namespace {

// Indexes of the date members in the shared member-name table.
enum : int {
  kDateParse = 25,
  kDateGetDate = 28,
  kDateGetDay = 29,
  kDateGetTime = 36,
  kDateNow = 39,
  kDateToday = 40,
  kDateTomorrow = 41,
  kDateYesterday = 42,
  kDateToJSON = 43,
  kDateToGMTString = 45,
  kDateToISOString = 46,
  kDateToLocaleDateString = 47,
  kDateToLocaleString = 49,
  kDateToLocaleTimeString = 50,
  kDateToUTCString = 52,
  kDateFormat = 53,
  kDateSetDate = 54,
  kDateSetTime = 55,
  kDateToISOStringFileFormat = 82,
  kDateToISOStringFileFormatLong = 83,
  kDateToTimestamp = 84,
};

Any* newDateValue(Date* date) { return new Any(new ObjRef(date)); }

// The integer value of a 32- or 64-bit argument.
bool integerArgument(const Any* arg, long long* out) {
  if (arg == nullptr) return false;
  if (arg->getType() == ANY_INT32) {
    *out = arg->getInt32();
    return true;
  }
  if (arg->getType() == ANY_INT64) {
    *out = arg->getInt64();
    return true;
  }
  return false;
}

Any* text(const char* s) { return new Any(s); }

// strftime of a fixed pattern into a 132-byte buffer.
Any* formatted(const Date& date, const char* pattern, const char* suffix = nullptr) {
  char buffer[132];
  size_t n = strftime(buffer, sizeof buffer, pattern, &const_cast<Date&>(date).tm());
  if (suffix != nullptr) std::snprintf(buffer + n, sizeof buffer - n, suffix, date.milliseconds());
  return text(buffer);
}

// A day relative to today at local midnight: 0 with *result, or 24 when that
// day lies outside the range of dates.
int dayAt(Parser* parser, int deltaDays, Any** result) {
  auto date = std::make_unique<Date>();
  (void)date->setTime(date->seconds() * 1000);
  date->buildTm(parser, false);
  struct tm& tm = date->tm();
  tm.tm_hour = tm.tm_min = tm.tm_sec = 0;
  tm.tm_mday += deltaDays;
  int rc = date->buildTime(parser);
  if (rc != 0) return rc;
  *result = newDateValue(date.release());
  return 0;
}

class Scanner {
 public:
  explicit Scanner(std::string_view s) : s_(s) {}
  [[nodiscard]] bool done() const { return i_ >= s_.size(); }
  bool eat(char c) {
    if (i_ < s_.size() && s_[i_] == c) {
      i_++;
      return true;
    }
    return false;
  }
  bool digits(int n, int* out) {
    if (s_.size() - i_ < static_cast<size_t>(n)) return false;
    int v = 0;
    for (int k = 0; k < n; k++) {
      char c = s_[i_ + k];
      if (c < '0' || c > '9') return false;
      v = v * 10 + (c - '0');
    }
    i_ += n;
    *out = v;
    return true;
  }
  [[nodiscard]] size_t position() const { return i_; }

 private:
  std::string_view s_;
  size_t i_ = 0;
};

bool isLeapYear(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int monthDays(int y, int m) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && isLeapYear(y) ? 29 : kDays[m - 1];
}

}  // namespace

int DatePrototype::getObjectID() const { return Date::kObjectId; }

char* DatePrototype::toString(Parser*) { return strdup("Date"); }

int DatePrototype::complexParse(Parser* parser, std::string_view whole, Date* date) {
  Scanner in(whole);
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, ms = 0;
  bool zoned = false;
  int offset = 0;  // minutes east of UTC
  bool ok = [&] {
    if (!in.digits(4, &year)) return false;
    (void)in.eat('-');
    if (!in.digits(2, &month)) return false;
    (void)in.eat('-');
    if (!in.digits(2, &day)) return false;
    if (month < 1 || month > 12 || day < 1 || day > monthDays(year, month)) return false;
    if (in.eat('T')) {
      if (!in.digits(2, &hour)) return false;
      (void)in.eat(':');
      if (!in.digits(2, &minute)) return false;
      size_t mark = in.position();
      bool colon = in.eat(':');
      if (in.digits(2, &second)) {
        if (in.eat('.') && !in.digits(3, &ms)) return false;
      } else if (colon) {
        return false;
      } else if (in.position() != mark) {
        return false;
      }
      // 24:00 is the end of the day, as in ISO 8601 and JavaScript.
      bool endOfDay = hour == 24 && minute == 0 && second == 0 && ms == 0;
      if ((hour > 23 && !endOfDay) || minute > 59 || second > 59) return false;
    }
    if (in.eat('Z')) {
      zoned = true;
    } else {
      int sign = in.eat('+') ? 1 : (in.eat('-') ? -1 : 0);
      if (sign != 0) {
        int h = 0, m = 0;
        if (!in.digits(2, &h)) return false;
        if (in.eat(':')) {
          if (!in.digits(2, &m)) return false;
        } else if (!in.done() && !in.digits(2, &m)) {
          return false;
        }
        if (h > 23 || m > 59) return false;
        zoned = true;
        offset = sign * (h * 60 + m);
      }
    }
    return in.done();
  }();
  if (!ok) {
    std::string rest(whole.substr(std::min(in.position(), whole.size())));
    std::string all(whole);
    if (parser != nullptr) parser->printf(5, "Error parsing date at '%s' in '%s'\n", rest.c_str(), all.c_str());
    return kIllegalArgument;
  }
  int64_t seconds;
  if (zoned) {
    seconds = (daysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second) - offset * 60;
  } else {
    // The offset of the zone at that wall-clock time (not at the present
    // one: a summer date parsed in winter keeps its summer offset).
    struct tm fields {};
    fields.tm_year = year - 1900;
    fields.tm_mon = month - 1;
    fields.tm_mday = day;
    fields.tm_hour = hour;
    fields.tm_min = minute;
    fields.tm_sec = second;
    fields.tm_isdst = -1;
    if (!Date::wallClockToSeconds(parser, fields, &seconds)) return kIllegalArgument;
    offset = static_cast<int>((daysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second -
                               seconds) / 60);
  }
  if (date->setTime(seconds * 1000 + ms) != 0) return kIllegalArgument;
  date->setParsedZone(offset);
  return 0;
}

int DatePrototype::format(const Date& date, std::string_view pattern, std::string* out) {
  std::string result;
  const struct tm& tm = const_cast<Date&>(date).tm();
  size_t i = 0;
  while (i < pattern.size()) {
    size_t percent = pattern.find('%', i);
    if (percent == std::string_view::npos) {
      result.append(pattern.substr(i));
      break;
    }
    result.append(pattern.substr(i, percent - i));
    // One conversion: flags, width and an E/O modifier, then its letter.
    size_t k = percent + 1;
    while (k < pattern.size() && std::strchr("_-0^#", pattern[k]) != nullptr) k++;
    int width = 0;
    while (k < pattern.size() && pattern[k] >= '0' && pattern[k] <= '9') {
      width = width * 10 + (pattern[k++] - '0');
      if (width > 255) return kIllegalArgument;  // no result may be that long
    }
    if (k < pattern.size() && (pattern[k] == 'E' || pattern[k] == 'O')) k++;
    if (k >= pattern.size()) {
      result.append(pattern.substr(percent));
      break;
    }
    char conversion = pattern[k];
    if (conversion == 'z' || conversion == 'Z') return kIllegalArgument;
    if (conversion == 's') {
      // The C library would read the fields in the process's zone.
      result.append(std::to_string(date.seconds()));
    } else {
      std::string piece(pattern.substr(percent, k - percent + 1));
      char buffer[256];
      size_t n = strftime(buffer, sizeof buffer, piece.c_str(), &tm);
      result.append(buffer, n);
    }
    i = k + 1;
    if (result.size() > 255) return kIllegalArgument;
  }
  if (result.size() > 255) return kIllegalArgument;
  *out = std::move(result);
  return 0;
}

int DatePrototype::construct(Parser*, Any** result, Translatable** args) const {
  *result = nullptr;
  const Any* first = args != nullptr ? dynamic_cast<const Any*>(args[0]) : nullptr;
  if (first == nullptr) {
    *result = newDateValue(new Date());
    return 0;
  }
  long long ms = 0;
  if (args[1] != nullptr || !integerArgument(first, &ms)) return kNotImplemented;
  if (!Date::inRange(ms)) return kIllegalArgument;
  *result = newDateValue(new Date(ms));
  return 0;
}

int DatePrototype::callMemberFn(Parser* parser, Any** result, Translatable* self, const char* name, Any** args) {
  *result = nullptr;
  const Any* first = args != nullptr ? args[0] : nullptr;
  const int member = kelMemberIndex(name);
  // Members that make a new date work on the prototype and on dates alike.
  switch (member) {
    case kDateNow:
      *result = newDateValue(new Date());
      return 0;
    case kDateToday:
      return dayAt(parser, 0, result);
    case kDateTomorrow:
      return dayAt(parser, 1, result);
    case kDateYesterday:
      return dayAt(parser, -1, result);
    case kDateParse: {
      if (first == nullptr || !first->isString()) return kIllegalArgument;
      const char* s = first->getString();
      auto date = std::make_unique<Date>(0LL);
      int rc = complexParse(parser, s != nullptr ? s : "", date.get());
      if (rc != 0) return rc;
      *result = newDateValue(date.release());
      return 0;
    }
    default:
      break;
  }
  auto* date = dynamic_cast<Date*>(self);
  if (date == nullptr) return Translatable::callMemberFn(parser, result, self, name, args);
  long long value = 0;
  switch (member) {
    case KM_TO_STRING:
      *result = Any::buildFromString(date->toString(parser));
      return 0;
    case kDateGetTime:
      *result = new Any(date->getTime());
      return 0;
    case kDateSetTime:
      if (!integerArgument(first, &value)) return kIllegalArgument;
      if (date->setTime(value) != 0) return kIllegalArgument;
      *result = new Any(date->getTime());
      return 0;
    case kDateSetDate: {
      if (!integerArgument(first, &value)) return kIllegalArgument;
      if (value > 400000000LL || value < -400000000LL) return kIllegalArgument;
      date->buildTm(parser, false);
      const struct tm saved = date->tm();
      date->tm().tm_mday = static_cast<int>(value);
      if (date->buildTime(parser) != 0) {
        date->tm() = saved;
        return kIllegalArgument;
      }
      *result = new Any(date->getTime());
      return 0;
    }
    case kDateGetDate:
    case kDateGetDay:  // the day of the month as well
      date->buildTm(parser, false);
      *result = new Any(date->tm().tm_mday);
      return 0;
    case kDateToISOString:
    case kDateToJSON:
      *result = Any::buildFromString(date->toISOString(parser));
      return 0;
    case kDateToISOStringFileFormat:
      date->buildTm(parser, true);
      *result = formatted(*date, "%04Y-%m-%dT%H-%M-%SZ");
      return 0;
    case kDateToISOStringFileFormatLong:
      date->buildTm(parser, true);
      *result = formatted(*date, "%04Y-%m-%dT%H-%M-%S", "-%03dZ");
      return 0;
    case kDateToTimestamp:
      date->buildTm(parser, true);
      *result = formatted(*date, "'%04Y-%m-%d %H:%M:%S", ".%03d'");
      return 0;
    case kDateToGMTString:
    case kDateToUTCString:
      date->buildTm(parser, true);
      *result = formatted(*date, "%a %b %d %04Y %H:%M:%S GMT");
      return 0;
    case kDateToLocaleDateString:
      date->buildTm(parser, false);
      *result = formatted(*date, "%x");
      return 0;
    case kDateToLocaleString:
      date->buildTm(parser, false);
      *result = formatted(*date, "%x %I:%M:%S %p");
      return 0;
    case kDateToLocaleTimeString:
      date->buildTm(parser, false);
      *result = formatted(*date, "%I:%M:%S %p");
      return 0;
    case kDateFormat: {
      if (first == nullptr) return kMissingArguments;
      if (!first->isString()) return kIllegalArgument;
      date->buildTm(parser, false);
      std::string out;
      const char* pattern = first->getString();
      int rc = format(*date, pattern != nullptr ? pattern : "", &out);
      if (rc != 0) return rc;
      *result = text(out.c_str());
      return 0;
    }
    default:
      return Translatable::callMemberFn(parser, result, self, name, args);
  }
}

void registerDateModule() {
  Parser::registerObject(Date::kObjectId, "Date", new DatePrototype(), false);
  static const int kMembers[] = {kDateGetTime, kDateSetTime, kDateSetDate, kDateGetDate, kDateGetDay, kDateToISOString, kDateToJSON, kDateToISOStringFileFormat, kDateToISOStringFileFormatLong, kDateToTimestamp, kDateToGMTString, kDateToUTCString, kDateToLocaleDateString, kDateToLocaleString, kDateToLocaleTimeString, kDateFormat, 0};
  Parser::registerMembers("Date", kMembers);
}
