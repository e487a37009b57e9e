// Feeds arbitrary bytes to the date readers: Date.parse's reader, a zoneinfo
// image, a POSIX TZ rule and a format pattern (the first byte picks which).
// None may crash, read past its input or leave a date outside its range.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "kel/date.h"
#include "kel/date_prototype.h"
#include "kel/date_time_zone.h"

namespace {

void exercise(const std::shared_ptr<const DateTimeZone>& zone) {
  if (zone == nullptr) return;
  for (int64_t t : {-8640000000000LL, -2208988800LL, -1LL, 0LL, 1711846800LL, 4102444800LL, 8640000000000LL}) {
    (void)zone->lookup(t);
    (void)zone->toUtc(t);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const int mode = data[0] % 4;
  std::string_view input(reinterpret_cast<const char*>(data + 1), size - 1);
  switch (mode) {
    case 0: {
      Date date(0LL);
      if (DatePrototype::complexParse(nullptr, input, &date) == 0 && !Date::inRange(date.getTime())) abort();
      break;
    }
    case 1:
      exercise(DateTimeZone::fromTzif(input));
      break;
    case 2:
      exercise(DateTimeZone::fromPosixRule(input));
      break;
    default: {
      Date date(1733505300123LL);
      date.buildTm(nullptr, false);
      std::string out;
      if (DatePrototype::format(date, input, &out) == 0 && out.size() > 255) abort();
      break;
    }
  }
  return 0;
}
