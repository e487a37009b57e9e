// The credential lock table and its watchdog. The table (60 slots) keeps two
// threads from running the same look-up at once (the second waits, then finds
// the first one's answer in the cache) and tells the watchdog thread which
// children are running, so that it can kill one that hangs.
//
// Thread-safe: the table and its waiters are guarded by one condition block
// (_credThreadLock); the watchdog sleeps on a block of its own. Neither is
// held while a child runs, nor together with the cache's lock.
#pragma once

#include <sys/types.h>

#include <cstdint>

inline constexpr int kCredLockSlots = 60;
// The part of a name that identifies a slot's look-up.
inline constexpr int kCredSlotNameLength = 20;

// The watchdog's default periods: a pass every 7 seconds, killing children
// that have run for more than 15.
inline constexpr int kCredWatchdogPeriodMs = 7000;
inline constexpr int kCredHungLimitMs = 15000;

// Takes a slot for the look-up (name, id, op) and returns its index. While a
// busy slot holds the same operation, id and name (its first 20 characters,
// or both without a name), waits for it and tries again: the caller then
// finds that look-up's answer in the cache. With every slot busy, logs
// "Creds: Warning: cred lock table too small" and returns -1; the look-up
// then runs without a slot. Starts the watchdog on first use.
[[nodiscard]] int lockOrWait(const char* name, int id, int op);

// Frees the slot (nothing for a negative index) and wakes every waiter.
void unlockCredSlot(int slot);

// Records the child of the look-up under `slot` and when it started, so the
// watchdog can kill it once it has run too long; clearCredSlotChild forgets
// it. Both do nothing for a negative slot.
void setCredSlotChild(int slot, pid_t pid);
void clearCredSlotChild(int slot);

// A child whose reply has been read but that has not ended yet: the watchdog
// reaps it on its next passes and kills it once it outlives the hung limit.
void addCredStraggler(pid_t pid, int64_t startMicros);

// The watchdog's periods (tests shorten them). Values <= 0 restore the
// defaults. Takes effect at the watchdog's next pass.
void setCredWatchdogTiming(int periodMs, int hungMs);
[[nodiscard]] int credWatchdogPeriodMs();
[[nodiscard]] int credHungLimitMs();

// How long the parent itself waits for a reply before it gives up and kills
// the child: past the watchdog's last chance, so that the watchdog acts first
// and this bound only matters for a look-up that ran without a slot.
[[nodiscard]] int64_t credReplyLimitMicros();

// The number of busy slots (tests).
[[nodiscard]] int credBusySlots();

extern "C" {
// Stops the watchdog (sets _credExit and joins it) and flushes the cache.
// Called at shutdown; a later look-up starts a new watchdog.
void credCleanup();
}
