// The credential cache: the answers of the credential child (users, groups,
// host addresses, and "no such name" answers) kept for five minutes in one
// list, newest first. Entries handed to callers carry a reference and stay
// valid until released with unlockCredsCache, whatever expires or flushes the
// cache in between.
//
// Thread-safe: the list, the entries' reference counts and their creation
// times are guarded by one critical block (_credsCacheLock), never held while
// a child runs and never together with the lock table's block. The counters
// are atomics.
#pragma once

#include <time.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

enum CredKind : unsigned char {
  kCredKindUser = 1,
  kCredKindGroup = 2,
  kCredKindHost = 3,
};

// How long an answer is good for.
inline constexpr time_t kCredCacheLifeSeconds = 300;

struct _CredCacheEntry {
  time_t created = 0;  // 0: expired
  unsigned char kind = 0;
  unsigned char _noexist = 0;  // the child reported "not found"
  unsigned char _error = 0;    // the child reported any other failure
  int refs = 0;
  std::string name;  // the user name, or the host name of a HOST entry
  int uid = -1;      // the uid, or a HOST entry's IPv4 address (network order)
  std::string dir;
  int gid = -1;  // a user's primary gid, or the group's gid
  std::string groupName;
  int ngroups = 0;
  std::vector<int> groups;  // supplementary gids; ngroups == groups.size()
  _CredCacheEntry* next = nullptr;

  // Which keys the entry answers by: a negative answer knows only the key it
  // was asked with (the name for a look-up by name, the id for one by id).
  bool nameKey = false;  // name (USER, HOST) or groupName (GROUP)
  bool idKey = false;    // uid (USER) or gid (GROUP)
  // In the list; a private entry (a failed login) is freed at its last
  // release instead.
  bool linked = false;

  [[nodiscard]] bool negative() const { return _noexist != 0 || _error != 0; }
};

// The counters of the statistics line.
extern std::atomic<int> _credLookups;     // children started
extern std::atomic<int> _credCacheHits;   // answers found in the cache
extern std::atomic<int> _credBlocked;     // waits for an identical look-up
extern std::atomic<int> _credCacheLocks;  // references currently held on entries

// The cache's clock: seconds on the monotonic clock, so that a change of the
// wall clock neither keeps answers forever nor drops them early.
[[nodiscard]] time_t credCacheNow();

// The fresh entry that answers operation `op` for `name` or `id`, with a
// reference taken (and _credCacheHits counted), or null. Operation 1 never
// matches: a password is checked afresh every time. Unreferenced entries
// older than kCredCacheLifeSeconds are freed on the way.
[[nodiscard]] _CredCacheEntry* findCredsCache(time_t now, const char* name, int id, int op);

// Pushes `entry` at the head of the list, created now, with `refs` references
// (1 for the caller, 0 for the all-groups fill), after expiring every older
// entry of its kind that shares its name or its id. Logs the addCache line
// (at trace level, or at debug level when `debugLevel`). Returns the entry.
_CredCacheEntry* addCredsCache(std::unique_ptr<_CredCacheEntry> entry, int refs, bool debugLevel = false);

// The all-groups fill: pushes every entry without a reference, expiring the
// older GROUP entries that share a name or gid with any of them, in one pass
// over the list. Logs each addCache line at debug level.
void addCredsCacheGroups(std::vector<std::unique_ptr<_CredCacheEntry>> entries);

// A private entry: handed to the caller with one reference, never found by a
// search, freed at its release.
[[nodiscard]] _CredCacheEntry* privateCredsEntry(std::unique_ptr<_CredCacheEntry> entry);

// Releases a reference taken by findCredsCache, addCredsCache or
// privateCredsEntry. Null is ignored.
void unlockCredsCache(_CredCacheEntry* entry);

// Every positive GROUP entry younger than kCredCacheLifeSeconds, each with a
// reference taken, newest first.
[[nodiscard]] std::vector<_CredCacheEntry*> collectCredGroups(time_t now);

// Whether the all-groups fill is due: none yet, or the last one (marked
// with markCredGroupsFilled) is more than `maxAge` seconds old. A flush or a
// time-out of the cache makes it due again.
[[nodiscard]] bool credGroupsFillDue(time_t now, time_t maxAge);
void markCredGroupsFilled(time_t now);

// The number of entries in the list (tests).
[[nodiscard]] int credCacheSize();

extern "C" {
// Drops every entry: unreferenced ones are freed now ("Creds: cache flushed"),
// referenced ones leave the list and are freed at their last release.
void flushCredsCache();
// Moves every entry's creation 10 000 seconds into the past, so that each is
// fetched again (and purged once unreferenced).
void timeoutCredsCache();
}
