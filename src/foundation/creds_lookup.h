// The parent side of a credential look-up: forks a child that re-executes the
// host program (commandPath) with "-testcred", writes the request to it,
// reads its reply with a bound on time and size, and turns the answer into a
// cache entry. The child records itself in its lock slot so the watchdog can
// kill it when it hangs.
//
// Thread-safe: any number of look-ups may run at once; each owns its child
// and its pipes.
#pragma once

#include <sys/types.h>

#include <vector>

#include "foundation/creds_cache.h"
#include "foundation/creds_protocol.h"

// One child run for operations 1 to 5 and 8. Returns the answer as an entry
// carrying one reference for the caller: a positive or negative answer is
// cached (a failed login excepted, which stays private to the caller), a
// broken or missing reply gives null. `password` is used for operation 1
// only and wiped from every buffer of ours after the write.
[[nodiscard]] _CredCacheEntry* safeLookup(int slot, const CredRequest& req, const char* password);

// safeLookup once for a login, up to three times for the others, until one
// gives an entry.
[[nodiscard]] _CredCacheEntry* lookup(int slot, const CredRequest& req, const char* password);

// Every user (operation 7), into a private list. Up to three tries.
[[nodiscard]] bool lookupAllUsers(int slot, std::vector<CredUserRecord>* out);

// Every group (operation 6), entered into the cache without a reference.
// Up to three tries.
[[nodiscard]] bool lookupAllGroups(int slot);


// The most records an enumeration reply may hold (tests lower it); <= 0
// restores kCredMaxRecords.
void setCredEnumerationLimit(int records);
