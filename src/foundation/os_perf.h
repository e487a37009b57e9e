// The process statistics area: named 32-bit counters, the table of child
// process ids and one performance slot per reactor thread. The host may
// install a shared area; without one the counters live in a private area of
// the module and the child table is inert.
//
// Thread-safe: counters are relaxed atomic loads and stores (a plain increment
// that may lose a count under contention, never a data race); the child table
// is guarded by lockPerfPid(); registration of counters and slots is locked.
#pragma once

#include <vector>

#include <cstdint>
#include <sys/types.h>

inline constexpr int kPerfChildPids = 50;
inline constexpr int kPerfCounters = 64;
inline constexpr int kPerfThreadSlots = 64;
inline constexpr int kPerfNameLength = 20;

// One counter record: 24 bytes, a name of 20 characters and the value.
struct PerfCounter {
  char name[kPerfNameLength];
  int32_t value;
};
static_assert(sizeof(PerfCounter) == 24);

// One reactor thread's record: its name, a state number set by the thread,
// the monotonic time in microseconds at which it started handling events (0
// while it waits) and the number of reactor cycles it ran.
struct PerfThreadSlot {
  char name[kPerfNameLength];
  int32_t state;
  int64_t busySince;
  int64_t cycles;
};

struct PerfData {
  int32_t pid;                           // the owning process
  int32_t childPids[kPerfChildPids];     // -1 ends the table, 0 is a free entry
  int64_t tick;                          // the Java agent's last tick
  int32_t lastStat;                      // counter records in use
  int32_t lastThreadSlot;                // thread slots in use
  PerfCounter counters[kPerfCounters];
  PerfThreadSlot threads[kPerfThreadSlots];
};

// The installed area, or null when the host has none.
extern PerfData* perfData;

extern "C" {
// Installs the host's area (or null to remove it). Call before orvanex_init so
// the counters are registered there; the area must outlive the process's use.
void s_setPerfData(PerfData* area);

// Registers a counter named `name` (cut to 19 characters) and returns the
// address of its value, initially 0. A name registered before returns the
// same address. With every record taken, returns the address of a shared
// overflow value that nobody reads.
int32_t* addStat(const char* name);
// The value of the counter named `name`, or -1 when there is none.
int32_t s_getStat(const char* name);

// The child process table; every call is a no-op without an installed area.
void lockPerfPid();
void unlockPerfPid();
void addPerfPid(pid_t pid);
void removePerfPid(pid_t pid);
void zeroPerfPids();
void killPerfPids();
}

// The children recorded with addPerfPid and not yet removed, whether or not a
// host area is installed; REQUIRES lockPerfPid() held. The signal thread reaps
// only these: other code in the process (the Java VM's Process objects among
// it) waits for its own children by pid and must still find their status.
void ownChildPids(std::vector<pid_t>* out);

extern "C" {

// A reactor thread's slot, or -1 when the table is full. `name` is cut to 19
// characters.
int addPerfThread(const char* name);
}

// The slot's record; null for -1 or a slot out of range.
PerfThreadSlot* perfThreadSlot(int slot);

// Adds one to a counter obtained from addStat. The read and the write are each
// atomic but the pair is not: statistics tolerate a lost count, and the hot
// paths of the reactor pay no locked instruction for them.
inline void statInc(int32_t* counter) {
  __atomic_store_n(counter, __atomic_load_n(counter, __ATOMIC_RELAXED) + 1, __ATOMIC_RELAXED);
}
inline void statSet(int32_t* counter, int32_t value) { __atomic_store_n(counter, value, __ATOMIC_RELAXED); }
inline int32_t statGet(const int32_t* counter) { return __atomic_load_n(counter, __ATOMIC_RELAXED); }

// The process counters that the reactor and the threads count. Until
// orvanex_init registers them they point at values nobody reads, so counting
// is always safe.
struct ProcessStats {
  int32_t* timerFired;      // "evt-timer-fired"
  int32_t* fdFired;         // "evt-ft-fired"
  int32_t* countFired;      // "evt-count-fired"
  int32_t* sigOther;        // "sig-other"
  int32_t* sigChld;         // "sig-chld"
  int32_t* sigWrongThread;  // "sig-wrong-t"
  int32_t* childrenReaped;  // "children-reaped"
  int32_t* poolThreads;     // "pool-threads"
  int32_t* poolRemoved;     // "tp-q-remove"
  int32_t* poolAdded;       // "tp-q-add"
  int32_t* threadsStarted;  // "dthr-started"
  int32_t* threadsExited;   // "dthr-exited"
  int32_t* laterRemoved;    // "lq-removed"
  int32_t* laterAdded;      // "lq-added"
  int32_t* opAdded;         // "np-add"
  int32_t* opRemoved;       // "np-remove"
};
extern ProcessStats _processStats;

// Registers the sixteen counters above, in that order, once per process.
void registerProcessStats();
