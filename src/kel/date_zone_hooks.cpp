#include "kel/date_zone_hooks.h"

#include <atomic>

namespace {

std::atomic<decltype(DateZoneHooks::buildTm)> g_buildTm{nullptr};
std::atomic<decltype(DateZoneHooks::buildTime)> g_buildTime{nullptr};

}  // namespace

void setDateZoneHooks(const DateZoneHooks* hooks) {
  g_buildTm.store(hooks != nullptr ? hooks->buildTm : nullptr, std::memory_order_release);
  g_buildTime.store(hooks != nullptr ? hooks->buildTime : nullptr, std::memory_order_release);
}

DateZoneHooks dateZoneHooks() {
  DateZoneHooks hooks;
  hooks.buildTm = g_buildTm.load(std::memory_order_acquire);
  hooks.buildTime = g_buildTime.load(std::memory_order_acquire);
  return hooks;
}
