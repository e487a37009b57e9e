#include "kel/date_time_zone.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <unordered_map>

// ---- calendar arithmetic (days since 1970-01-01 of a Gregorian date)

int64_t daysFromCivil(int64_t year, int64_t month, int64_t day) {
  // Months outside 1-12 carry into the year, so callers may normalise.
  year += floorDiv(month - 1, 12);
  month = month - 1 - floorDiv(month - 1, 12) * 12 + 1;
  year -= month <= 2;
  const int64_t era = floorDiv(year, 400);
  const int64_t yoe = year - era * 400;
  const int64_t mp = (month + 9) % 12;
  const int64_t doy = (153 * mp + 2) / 5;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468 + (day - 1);
}

void civilFromDays(int64_t days, int64_t* year, int* month, int* day) {
  days += 719468;
  const int64_t era = floorDiv(days, 146097);
  const int64_t doe = days - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  *day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  *month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  *year = yoe + era * 400 + (*month <= 2);
}

namespace {

bool isLeap(int64_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int daysInMonth(int64_t y, int m) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && isLeap(y) ? 29 : kDays[m - 1];
}

}  // namespace

// ---- POSIX TZ rules: "std offset [dst [offset] [,start[/time],end[/time]]]"

struct DateTimeZone::Rule {
  struct When {
    char kind = 'M';  // 'J' (1-365, no Feb 29), 'D' (0-365), 'M' (month.week.day)
    int a = 0, b = 0, c = 0;
    int32_t time = 7200;  // seconds after local midnight, may be negative or past a day
  };
  std::string stdName;
  std::string dstName;
  int32_t stdOffset = 0;  // east of UTC
  int32_t dstOffset = 0;
  bool hasDst = false;
  When start, end;

  // The local day (days since the epoch) on which `w` falls in `year`.
  static int64_t dayOf(const When& w, int64_t year) {
    const int64_t jan1 = daysFromCivil(year, 1, 1);
    if (w.kind == 'J') return jan1 + w.a - 1 + (isLeap(year) && w.a >= 60 ? 1 : 0);
    if (w.kind == 'D') return jan1 + w.a;
    const int64_t first = daysFromCivil(year, w.a, 1);
    const int wdayFirst = static_cast<int>(((first % 7) + 11) % 7);  // 1970-01-01 was a Thursday
    int64_t mday = 1 + (w.c - wdayFirst + 7) % 7 + (w.b - 1) * 7;
    while (mday > daysInMonth(year, w.a)) mday -= 7;
    return first + mday - 1;
  }

  Offset at(int64_t t) const {
    Offset out;
    if (!hasDst) {
      out.seconds = stdOffset;
      out.abbreviation = stdName.c_str();
      return out;
    }
    int64_t y;
    int m, d;
    civilFromDays(floorDiv(t + stdOffset, 86400), &y, &m, &d);
    // Starts are given in standard time, ends in daylight time.
    const int64_t begin = dayOf(start, y) * 86400 + start.time - stdOffset;
    const int64_t finish = dayOf(end, y) * 86400 + end.time - dstOffset;
    bool inDst = begin < finish ? (t >= begin && t < finish) : (t >= begin || t < finish);
    out.seconds = inDst ? dstOffset : stdOffset;
    out.dst = inDst;
    out.abbreviation = inDst ? dstName.c_str() : stdName.c_str();
    return out;
  }
};

namespace {

class RuleReader {
 public:
  explicit RuleReader(std::string_view s) : s_(s) {}
  [[nodiscard]] bool done() const { return i_ >= s_.size(); }
  [[nodiscard]] char peek() const { return done() ? '\0' : s_[i_]; }
  bool eat(char c) {
    if (peek() != c) return false;
    i_++;
    return true;
  }
  bool name(std::string* out) {
    size_t from = i_;
    if (eat('<')) {
      while (!done() && peek() != '>') i_++;
      if (!eat('>')) return false;
      *out = std::string(s_.substr(from + 1, i_ - from - 2));
      return out->size() >= 1;
    }
    while (!done() && ((peek() >= 'A' && peek() <= 'Z') || (peek() >= 'a' && peek() <= 'z'))) i_++;
    *out = std::string(s_.substr(from, i_ - from));
    return out->size() >= 3;
  }
  bool number(int max, int* out) {
    int v = 0, n = 0;
    while (!done() && peek() >= '0' && peek() <= '9') {
      v = v * 10 + (peek() - '0');
      i_++;
      if (++n > 3 || v > max) return false;
    }
    *out = v;
    return n > 0;
  }
  // [+-]hh[:mm[:ss]] with hours up to `maxHours`.
  bool time(int maxHours, int32_t* out) {
    int sign = 1;
    if (eat('-')) {
      sign = -1;
    } else {
      (void)eat('+');
    }
    int h = 0, m = 0, sec = 0;
    if (!number(maxHours, &h)) return false;
    if (eat(':') && (!number(59, &m) || (eat(':') && !number(59, &sec)))) return false;
    *out = sign * (h * 3600 + m * 60 + sec);
    return true;
  }
  bool when(DateTimeZone::Rule::When* w) {
    if (eat('J')) {
      w->kind = 'J';
      if (!number(365, &w->a) || w->a < 1) return false;
    } else if (eat('M')) {
      w->kind = 'M';
      if (!number(12, &w->a) || w->a < 1 || !eat('.') || !number(5, &w->b) || w->b < 1 || !eat('.') ||
          !number(6, &w->c)) {
        return false;
      }
    } else {
      w->kind = 'D';
      if (!number(365, &w->a)) return false;
    }
    if (eat('/')) return time(167, &w->time);
    return true;
  }

 private:
  std::string_view s_;
  size_t i_ = 0;
};

bool parseRule(std::string_view text, DateTimeZone::Rule* rule) {
  RuleReader r(text);
  int32_t west = 0;
  if (!r.name(&rule->stdName) || !r.time(24, &west)) return false;
  rule->stdOffset = -west;
  if (r.done()) return true;
  if (!r.name(&rule->dstName)) return false;
  rule->hasDst = true;
  rule->dstOffset = rule->stdOffset + 3600;
  if (!r.done() && r.peek() != ',') {
    if (!r.time(24, &west)) return false;
    rule->dstOffset = -west;
  }
  if (r.done()) {
    // No dates given: the C library's default (the US rules of 2007).
    rule->start = {'M', 3, 2, 0, 7200};
    rule->end = {'M', 11, 1, 0, 7200};
    return true;
  }
  if (!r.eat(',') || !r.when(&rule->start) || !r.eat(',') || !r.when(&rule->end)) return false;
  return r.done();
}

// ---- TZif images

class Bytes {
 public:
  explicit Bytes(std::string_view b) : b_(b) {}
  bool skip(uint64_t n) {
    if (n > b_.size() - i_) return false;
    i_ += n;
    return true;
  }
  bool u8(uint8_t* out) {
    if (i_ >= b_.size()) return false;
    *out = static_cast<uint8_t>(b_[i_++]);
    return true;
  }
  bool be(int width, int64_t* out) {
    if (static_cast<uint64_t>(width) > b_.size() - i_) return false;
    uint64_t v = 0;
    for (int k = 0; k < width; k++) v = (v << 8) | static_cast<uint8_t>(b_[i_++]);
    *out = width == 4 ? static_cast<int64_t>(static_cast<int32_t>(v)) : static_cast<int64_t>(v);
    return true;
  }
  [[nodiscard]] std::string_view rest() const { return b_.substr(i_); }
  [[nodiscard]] size_t remaining() const { return b_.size() - i_; }

 private:
  std::string_view b_;
  size_t i_ = 0;
};

struct Header {
  char version = 0;
  int64_t isut = 0, isstd = 0, leap = 0, time = 0, type = 0, chars = 0;
};

bool readHeader(Bytes& in, Header* h) {
  std::string_view magic = in.rest().substr(0, 4);
  if (magic != "TZif" || !in.skip(4)) return false;
  uint8_t v;
  if (!in.u8(&v) || !in.skip(15)) return false;
  h->version = static_cast<char>(v);
  return in.be(4, &h->isut) && in.be(4, &h->isstd) && in.be(4, &h->leap) && in.be(4, &h->time) &&
         in.be(4, &h->type) && in.be(4, &h->chars) && h->isut >= 0 && h->isstd >= 0 && h->leap >= 0 &&
         h->time >= 0 && h->type >= 1 && h->type <= 256 && h->chars >= 1 && h->time <= 100000 &&
         h->chars <= 65536 && h->leap <= 100000;
}

uint64_t blockSize(const Header& h, int timeWidth) {
  return static_cast<uint64_t>(h.time) * (timeWidth + 1) + h.type * 6 + h.chars +
         h.leap * (timeWidth + 4) + h.isstd + h.isut;
}

std::mutex g_cacheLock;
std::unordered_map<std::string, std::shared_ptr<const DateTimeZone>>* g_cache = nullptr;
constexpr size_t kMaxCachedNames = 256;

// Names that may be looked up as files: no absolute paths, no "..".
bool isSafeZoneName(std::string_view name) {
  if (name.empty() || name.size() > 255 || name[0] == '/') return false;
  for (char c : name) {
    bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
              c == '-' || c == '+' || c == '/' || c == '.';
    if (!ok) return false;
  }
  size_t from = 0;
  while (from <= name.size()) {
    size_t slash = name.find('/', from);
    std::string_view part = name.substr(from, slash == std::string_view::npos ? name.npos : slash - from);
    if (part.empty() || part == "." || part == "..") return false;
    if (slash == std::string_view::npos) break;
    from = slash + 1;
  }
  return true;
}

// The whole of a regular file of at most 1 MiB, or false.
bool readSmallFile(const std::string& path, std::string* out) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st {};
  bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size <= (1 << 20);
  if (ok) {
    out->resize(static_cast<size_t>(st.st_size));
    size_t got = 0;
    while (got < out->size()) {
      ssize_t n = ::read(fd, out->data() + got, out->size() - got);
      if (n <= 0) break;
      got += static_cast<size_t>(n);
    }
    out->resize(got);
  }
  ::close(fd);
  return ok;
}

std::string zoneDirectory() {
  const char* dir = std::getenv("TZDIR");
  return dir != nullptr && *dir != '\0' ? dir : "/usr/share/zoneinfo";
}

std::shared_ptr<const DateTimeZone> load(std::string_view name) {
  if (isSafeZoneName(name)) {
    std::string bytes;
    if (readSmallFile(zoneDirectory() + "/" + std::string(name), &bytes)) {
      if (auto zone = DateTimeZone::fromTzif(bytes)) return zone;
    }
  }
  if (name == "UTC" || name == "GMT" || name == "Etc/UTC" || name == "Z") return DateTimeZone::utc();
  return DateTimeZone::fromPosixRule(name);
}

}  // namespace

DateTimeZone::~DateTimeZone() = default;

std::shared_ptr<const DateTimeZone> DateTimeZone::fromPosixRule(std::string_view text) {
  auto rule = std::make_unique<Rule>();
  if (!parseRule(text, rule.get())) return nullptr;
  auto zone = std::make_shared<DateTimeZone>();
  zone->rule_ = std::move(rule);
  zone->types_.push_back({zone->rule_->stdOffset, false, 0});
  zone->abbreviations_ = zone->rule_->stdName;
  zone->abbreviations_.push_back('\0');
  return zone;
}

std::shared_ptr<const DateTimeZone> DateTimeZone::fromTzif(std::string_view image) {
  Bytes in(image);
  Header h;
  if (!readHeader(in, &h)) return nullptr;
  int width = 4;
  if (h.version >= '2') {
    // Version 2 and later repeat the data with 64-bit times: skip the first
    // block and read that one.
    if (!in.skip(blockSize(h, 4)) || !readHeader(in, &h)) return nullptr;
    width = 8;
  }
  if (in.remaining() < blockSize(h, width)) return nullptr;
  auto zone = std::make_shared<DateTimeZone>();
  zone->transitions_.resize(static_cast<size_t>(h.time));
  for (int64_t& t : zone->transitions_) {
    if (!in.be(width, &t)) return nullptr;
  }
  if (!std::is_sorted(zone->transitions_.begin(), zone->transitions_.end())) return nullptr;
  zone->transitionTypes_.resize(static_cast<size_t>(h.time));
  for (uint8_t& type : zone->transitionTypes_) {
    if (!in.u8(&type) || type >= h.type) return nullptr;
  }
  for (int64_t k = 0; k < h.type; k++) {
    int64_t offset;
    uint8_t dst, abbreviation;
    if (!in.be(4, &offset) || !in.u8(&dst) || !in.u8(&abbreviation) || abbreviation >= h.chars ||
        offset < -25 * 3600 || offset > 26 * 3600) {
      return nullptr;
    }
    zone->types_.push_back({static_cast<int32_t>(offset), dst != 0, abbreviation});
  }
  zone->abbreviations_.assign(in.rest().substr(0, static_cast<size_t>(h.chars)));
  zone->abbreviations_.push_back('\0');  // every index now ends in a zero
  (void)in.skip(static_cast<uint64_t>(h.chars) + h.leap * (width + 4) + h.isstd + h.isut);
  if (width == 8) {
    std::string_view footer = in.rest();
    if (footer.size() >= 2 && footer[0] == '\n') {
      size_t close = footer.find('\n', 1);
      if (close != std::string_view::npos && close > 1) {
        auto rule = std::make_unique<Rule>();
        if (parseRule(footer.substr(1, close - 1), rule.get())) zone->rule_ = std::move(rule);
      }
    }
  }
  return zone;
}

std::shared_ptr<const DateTimeZone> DateTimeZone::utc() {
  static const std::shared_ptr<const DateTimeZone> zone = fromPosixRule("UTC0");
  return zone;
}

std::shared_ptr<const DateTimeZone> DateTimeZone::find(std::string_view name) {
  std::string key(name);
  {
    std::lock_guard<std::mutex> lock(g_cacheLock);
    if (g_cache == nullptr) g_cache = new std::unordered_map<std::string, std::shared_ptr<const DateTimeZone>>();
    auto it = g_cache->find(key);
    if (it != g_cache->end()) return it->second;
  }
  std::shared_ptr<const DateTimeZone> zone = load(name);
  std::lock_guard<std::mutex> lock(g_cacheLock);
  if (g_cache->size() < kMaxCachedNames) g_cache->emplace(key, zone);
  return zone;
}

std::shared_ptr<const DateTimeZone> DateTimeZone::local() {
  static const std::shared_ptr<const DateTimeZone> zone = [] {
    const char* tz = std::getenv("TZ");
    std::shared_ptr<const DateTimeZone> found;
    if (tz == nullptr) {
      std::string bytes;
      if (readSmallFile("/etc/localtime", &bytes)) found = fromTzif(bytes);
    } else {
      std::string_view name = tz;
      if (!name.empty() && name[0] == ':') name.remove_prefix(1);
      if (!name.empty() && name[0] == '/') {
        std::string bytes;
        if (readSmallFile(std::string(name), &bytes)) found = fromTzif(bytes);
      } else if (!name.empty()) {
        found = find(name);
      }
    }
    return found != nullptr ? found : utc();
  }();
  return zone;
}

DateTimeZone::Offset DateTimeZone::lookup(int64_t t) const {
  const Type* type = &types_[0];
  if (!transitions_.empty() && t >= transitions_.front()) {
    if (t >= transitions_.back() && rule_ != nullptr) return rule_->at(t);
    size_t k = static_cast<size_t>(std::upper_bound(transitions_.begin(), transitions_.end(), t) -
                                   transitions_.begin()) - 1;
    type = &types_[transitionTypes_[k]];
  } else if (transitions_.empty() && rule_ != nullptr) {
    return rule_->at(t);
  }
  Offset out;
  out.seconds = type->offset;
  out.dst = type->dst;
  out.abbreviation = abbreviations_.c_str() + type->abbreviation;
  return out;
}

int64_t DateTimeZone::toUtc(int64_t local) const {
  // The offsets two days either side stand for "before" and "after" any
  // shift near this time (zones shift at most a few times a year).
  const int32_t before = lookup(local - 172800).seconds;
  const int32_t after = lookup(local + 172800).seconds;
  if (lookup(local - before).seconds == before) return local - before;
  if (lookup(local - after).seconds == after) return local - after;
  return local - before;  // skipped by a forward shift
}
