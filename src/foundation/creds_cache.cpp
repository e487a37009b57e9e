#include "foundation/creds_cache.h"

#include <string.h>

#include <cstdio>
#include <unordered_set>

#include "foundation/creds_protocol.h"
#include "foundation/diagnostics.h"
#include "foundation/log.h"
#include "runtime/critical_block.h"

std::atomic<int> _credLookups{0};
std::atomic<int> _credCacheHits{0};
std::atomic<int> _credBlocked{0};
std::atomic<int> _credCacheLocks{0};

namespace {

// Never destroyed: look-ups may still run on other threads while the process
// exits.
CriticalBlock& cacheLock() {
  static CriticalBlock* block = new CriticalBlock();
  return *block;
}

_CredCacheEntry* _credsCache = nullptr;  // guarded by cacheLock()
time_t groupsFilled = 0;                  // guarded by cacheLock(); 0: never

bool fresh(const _CredCacheEntry* e, time_t now) {
  return e->created != 0 && now - e->created <= kCredCacheLifeSeconds;
}

unsigned char kindOf(int op) {
  switch (op) {
    case kCredGroupById:
    case kCredGroupByName:
    case kCredAllGroups:
      return kCredKindGroup;
    case kCredHostByName:
      return kCredKindHost;
    default:
      return kCredKindUser;
  }
}

const std::string& keyName(const _CredCacheEntry* e) { return e->kind == kCredKindGroup ? e->groupName : e->name; }
int keyId(const _CredCacheEntry* e) { return e->kind == kCredKindGroup ? e->gid : e->uid; }

bool matches(const _CredCacheEntry* e, const char* name, int id, int op) {
  switch (op) {
    case kCredUserByName:
    case kCredHostByName:
    case kCredGroupByName:
      return name != nullptr && e->nameKey && keyName(e) == name;
    case kCredUserById:
    case kCredGroupById:
      return e->idKey && keyId(e) == id;
    default:
      return false;  // a login, and the enumerations, are never answered from here
  }
}

// The gid list of a USER line, bounded so that a user in thousands of groups
// still gives one readable line.
std::string gidList(const _CredCacheEntry* e) {
  std::string out;
  char num[16];
  for (int g : e->groups) {
    if (out.size() > 4000) {
      out += " ...";
      break;
    }
    snprintf(num, sizeof(num), " %d", g);
    out += num;
  }
  return out;
}

void logAdd(const _CredCacheEntry* e, bool debugLevel) {
  const int level = debugLevel ? LOG_DEBUG : LOG_TRACE;
  if (level < _debug_creds) return;
  const int t = static_cast<int>(e->created);
  switch (e->kind) {
    case kCredKindUser:
      log(_debug_creds, level, 0, 0, "Creds: addCache(USER, t = %d, user = %s, uid = %d, gid = %d)%s", t,
          e->name.c_str(), e->uid, e->gid, gidList(e).c_str());
      break;
    case kCredKindGroup:
      log(_debug_creds, level, 0, 0, "Creds: addCache(GROUP, t = %d, group = %s, gid = %d)", t,
          e->groupName.c_str(), e->gid);
      break;
    default:
      log(_debug_creds, level, 0, 0, "Creds: addCache(HOST, t = %d, host = %s, uid = %x)", t, e->name.c_str(),
          static_cast<unsigned>(e->uid));
      break;
  }
}

}  // namespace

time_t credCacheNow() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  // Never 0, which marks an expired entry.
  return ts.tv_sec + 1;
}

_CredCacheEntry* findCredsCache(time_t now, const char* name, int id, int op) {
  const unsigned char kind = kindOf(op);
  _CredCacheEntry* hit = nullptr;
  CriticalGuard hold(cacheLock());
  _CredCacheEntry** link = &_credsCache;
  while (*link != nullptr) {
    _CredCacheEntry* e = *link;
    if (!fresh(e, now)) {
      if (e->refs == 0) {
        log(_debug_creds, LOG_TRACE, 0, 0, "Creds: purging cache row, t = %d", static_cast<int>(e->created));
        *link = e->next;
        delete e;
        continue;
      }
    } else if (hit == nullptr && e->kind == kind && matches(e, name, id, op)) {
      hit = e;
    }
    link = &e->next;
  }
  if (hit != nullptr) {
    hit->refs++;
    _credCacheLocks++;
    _credCacheHits++;
    log(_debug_creds, LOG_TRACE, 0, 0, "Creds: cache hit");
  }
  return hit;
}

_CredCacheEntry* addCredsCache(std::unique_ptr<_CredCacheEntry> entry, int refs, bool debugLevel) {
  _CredCacheEntry* e = entry.release();
  e->refs = refs;
  e->linked = true;
  {
    CriticalGuard hold(cacheLock());
    e->created = credCacheNow();
    for (_CredCacheEntry* o = _credsCache; o != nullptr; o = o->next) {
      if (o->kind != e->kind) continue;
      const bool sameName = o->nameKey && e->nameKey && keyName(o) == keyName(e);
      const bool sameId = o->idKey && e->idKey && keyId(o) == keyId(e);
      if (sameName || sameId) o->created = 0;
    }
    e->next = _credsCache;
    _credsCache = e;
    _credCacheLocks += refs;
    // Logged under the lock: once it is released an unreferenced entry may be
    // purged by another thread.
    logAdd(e, debugLevel);
  }
  return e;
}

void addCredsCacheGroups(std::vector<std::unique_ptr<_CredCacheEntry>> entries) {
  std::unordered_set<std::string> names;
  std::unordered_set<int> gids;
  for (const auto& e : entries) {
    names.insert(e->groupName);
    gids.insert(e->gid);
  }
  CriticalGuard hold(cacheLock());
  const time_t now = credCacheNow();
  for (_CredCacheEntry* o = _credsCache; o != nullptr; o = o->next) {
    if (o->kind != kCredKindGroup) continue;
    if ((o->nameKey && names.count(o->groupName) != 0) || (o->idKey && gids.count(o->gid) != 0)) o->created = 0;
  }
  for (auto& owned : entries) {
    _CredCacheEntry* e = owned.release();
    e->kind = kCredKindGroup;
    e->nameKey = e->idKey = true;
    e->refs = 0;
    e->linked = true;
    e->created = now;
    e->next = _credsCache;
    _credsCache = e;
    logAdd(e, true);
  }
}

_CredCacheEntry* privateCredsEntry(std::unique_ptr<_CredCacheEntry> entry) {
  _CredCacheEntry* e = entry.release();
  e->refs = 1;
  e->linked = false;
  e->created = credCacheNow();
  _credCacheLocks++;
  return e;
}

void unlockCredsCache(_CredCacheEntry* e) {
  if (e == nullptr) return;
  bool free = false;
  {
    CriticalGuard hold(cacheLock());
    orv_assert(e->refs > 0);
    e->refs--;
    _credCacheLocks--;
    free = e->refs == 0 && !e->linked;
  }
  if (free) delete e;
}

std::vector<_CredCacheEntry*> collectCredGroups(time_t now) {
  std::vector<_CredCacheEntry*> out;
  CriticalGuard hold(cacheLock());
  for (_CredCacheEntry* e = _credsCache; e != nullptr; e = e->next) {
    if (e->kind != kCredKindGroup || e->negative() || !fresh(e, now)) continue;
    e->refs++;
    _credCacheLocks++;
    out.push_back(e);
  }
  return out;
}

bool credGroupsFillDue(time_t now, time_t maxAge) {
  CriticalGuard hold(cacheLock());
  return groupsFilled == 0 || now - groupsFilled > maxAge;
}

void markCredGroupsFilled(time_t now) {
  CriticalGuard hold(cacheLock());
  groupsFilled = now;
}

int credCacheSize() {
  int n = 0;
  CriticalGuard hold(cacheLock());
  for (_CredCacheEntry* e = _credsCache; e != nullptr; e = e->next) n++;
  return n;
}

extern "C" void flushCredsCache() {
  _CredCacheEntry* list = nullptr;
  {
    CriticalGuard hold(cacheLock());
    _CredCacheEntry* e = _credsCache;
    _credsCache = nullptr;
    groupsFilled = 0;
    while (e != nullptr) {
      _CredCacheEntry* next = e->next;
      e->next = nullptr;
      e->linked = false;
      if (e->refs == 0) {
        e->next = list;
        list = e;
      }
      e = next;
    }
  }
  while (list != nullptr) {
    _CredCacheEntry* next = list->next;
    delete list;
    list = next;
  }
  log(_debug_creds, LOG_TRACE, 0, 0, "Creds: cache flushed");
}

extern "C" void timeoutCredsCache() {
  CriticalGuard hold(cacheLock());
  groupsFilled = 0;
  for (_CredCacheEntry* e = _credsCache; e != nullptr; e = e->next) {
    if (e->created != 0) e->created -= 10000;
  }
}
