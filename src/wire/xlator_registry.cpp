// The process-wide translator registry. Registrations happen at start-up, but
// lookups from any thread must stay safe even if one comes late: every change
// publishes a new immutable table, and the tables replaced are kept until
// unregisterAll() so that a reader holding one never sees it freed.
#include <algorithm>
#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

#include "wire/message_base.h"
#include "wire/principal_xlator.h"

namespace {

struct Entry {
  int type;
  Xlator fn;
  const char* name;
};

// Sorted by type, one entry per type (the latest registration).
struct Table {
  std::vector<Entry> entries;
};

std::mutex registryLock;
std::atomic<const Table*> current{nullptr};
// Every object is written and read through a lookup: the ids in use are
// small numbers, so they also get a slot of their own.
constexpr int kDirect = 8192;
std::atomic<Xlator> direct[kDirect];
std::vector<std::unique_ptr<Table>>& tables() {
  static auto* all = new std::vector<std::unique_ptr<Table>>();  // lives as long as the process
  return *all;
}

const Entry* lookup(int type) {
  const Table* t = current.load(std::memory_order_acquire);
  if (t == nullptr) return nullptr;
  auto it = std::lower_bound(t->entries.begin(), t->entries.end(), type,
                             [](const Entry& e, int v) { return e.type < v; });
  return it != t->entries.end() && it->type == type ? &*it : nullptr;
}

}  // namespace

void MessageBase::registerObjectXlator(int type, Xlator fn, const char* name) {
  std::lock_guard<std::mutex> guard(registryLock);
  auto next = std::make_unique<Table>();
  if (const Table* t = current.load(std::memory_order_relaxed)) next->entries = t->entries;
  auto& v = next->entries;
  auto it = std::lower_bound(v.begin(), v.end(), type, [](const Entry& e, int t) { return e.type < t; });
  if (it != v.end() && it->type == type) {
    *it = {type, fn, name};
  } else {
    v.insert(it, {type, fn, name});
  }
  current.store(next.get(), std::memory_order_release);
  tables().push_back(std::move(next));
  if (type >= 0 && type < kDirect) direct[type].store(fn, std::memory_order_release);
}

Xlator MessageBase::findXlatorFn(int type) {
  // The principal travels with every directory request: it needs no lookup.
  if (type == 7) return &PrincipalXlator;
  if (type >= 0 && type < kDirect) return direct[type].load(std::memory_order_acquire);
  const Entry* e = lookup(type);
  return e != nullptr ? e->fn : nullptr;
}

const char* MessageBase::findXlatorName(int type) {
  const Entry* e = lookup(type);
  if (e != nullptr && e->name != nullptr) return e->name;
  return type == 7 ? "PrincipalXlator" : nullptr;
}

std::vector<int> MessageBase::registeredTypes() {
  std::vector<int> out;
  if (const Table* t = current.load(std::memory_order_acquire)) {
    for (const Entry& e : t->entries) out.push_back(e.type);
  }
  return out;
}

void MessageBase::unregisterAll() {
  std::lock_guard<std::mutex> guard(registryLock);
  current.store(nullptr, std::memory_order_release);
  for (auto& slot : direct) slot.store(nullptr, std::memory_order_relaxed);
  tables().clear();
}
