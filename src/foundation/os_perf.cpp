#include "foundation/os_perf.h"

#include <csignal>
#include <cstring>
#include <mutex>

#include "foundation/log.h"
#include "runtime/critical_block.h"

PerfData* perfData = nullptr;

namespace {

// Where the counters live when the host installed no area.
PerfData ownStats;
int32_t unreadSink[32];
int32_t overflowSink;

PerfData* statsArea() { return perfData != nullptr ? perfData : &ownStats; }

// Guards counter and slot registration (not the counting itself).
std::mutex& registrationLock() {
  static std::mutex m;
  return m;
}

CriticalBlock& pidLock() {
  static CriticalBlock block;
  return block;
}

void copyName(char (&dst)[kPerfNameLength], const char* name) {
  std::memset(dst, 0, sizeof(dst));
  if (name != nullptr) std::strncpy(dst, name, sizeof(dst) - 1);
}

}  // namespace

ProcessStats _processStats = {
    &unreadSink[0],  &unreadSink[1],  &unreadSink[2],  &unreadSink[3],  &unreadSink[4],  &unreadSink[5],
    &unreadSink[6],  &unreadSink[7],  &unreadSink[8],  &unreadSink[9],  &unreadSink[10], &unreadSink[11],
    &unreadSink[12], &unreadSink[13], &unreadSink[14], &unreadSink[15],
};

extern "C" void s_setPerfData(PerfData* area) {
  std::lock_guard<std::mutex> hold(registrationLock());
  perfData = area;
}

extern "C" int32_t* addStat(const char* name) {
  std::lock_guard<std::mutex> hold(registrationLock());
  PerfData* area = statsArea();
  char key[kPerfNameLength];
  copyName(key, name);
  for (int i = 0; i < area->lastStat; i++) {
    if (std::strncmp(area->counters[i].name, key, kPerfNameLength) == 0) return &area->counters[i].value;
  }
  if (area->lastStat >= kPerfCounters) return &overflowSink;
  PerfCounter& c = area->counters[area->lastStat];
  std::memcpy(c.name, key, sizeof(key));
  statSet(&c.value, 0);
  area->lastStat++;
  return &c.value;
}

extern "C" int32_t s_getStat(const char* name) {
  std::lock_guard<std::mutex> hold(registrationLock());
  PerfData* area = statsArea();
  char key[kPerfNameLength];
  copyName(key, name);
  for (int i = 0; i < area->lastStat; i++) {
    if (std::strncmp(area->counters[i].name, key, kPerfNameLength) == 0) return statGet(&area->counters[i].value);
  }
  return -1;
}

void registerProcessStats() {
  static std::once_flag once;
  std::call_once(once, [] {
    _processStats.timerFired = addStat("evt-timer-fired");
    _processStats.fdFired = addStat("evt-ft-fired");
    _processStats.countFired = addStat("evt-count-fired");
    _processStats.sigOther = addStat("sig-other");
    _processStats.sigChld = addStat("sig-chld");
    _processStats.sigWrongThread = addStat("sig-wrong-t");
    _processStats.childrenReaped = addStat("children-reaped");
    _processStats.poolThreads = addStat("pool-threads");
    _processStats.poolRemoved = addStat("tp-q-remove");
    _processStats.poolAdded = addStat("tp-q-add");
    _processStats.threadsStarted = addStat("dthr-started");
    _processStats.threadsExited = addStat("dthr-exited");
    _processStats.laterRemoved = addStat("lq-removed");
    _processStats.laterAdded = addStat("lq-added");
    _processStats.opAdded = addStat("np-add");
    _processStats.opRemoved = addStat("np-remove");
  });
}

extern "C" void lockPerfPid() { pidLock().enter(); }
extern "C" void unlockPerfPid() { pidLock().exit(); }

namespace {
// Guarded by pidLock(). Kept apart from the host's table, which may be absent
// or full, because reaping depends on it.
std::vector<pid_t>& ownChildren() {
  static std::vector<pid_t>* children = new std::vector<pid_t>();
  return *children;
}
}  // namespace

void ownChildPids(std::vector<pid_t>* out) { *out = ownChildren(); }

extern "C" void addPerfPid(pid_t pid) {
  if (pid > 0) ownChildren().push_back(pid);
  if (perfData == nullptr) return;
  int32_t* pids = perfData->childPids;
  if (pids[0] <= 0) {
    pids[0] = pid;
    return;
  }
  for (int i = 0; i < kPerfChildPids; i++) {
    // A -1 ends the table: taking it extends the table by one entry, so the
    // next one must end it again.
    if (pids[i] == -1) {
      pids[i] = pid;
      if (i + 1 < kPerfChildPids) pids[i + 1] = -1;
      return;
    }
    if (pids[i] == 0) {
      pids[i] = pid;
      return;
    }
  }
  log(0, "Child process table full: pid %d not recorded", static_cast<int>(pid));
}

extern "C" void removePerfPid(pid_t pid) {
  std::vector<pid_t>& own = ownChildren();
  for (size_t i = 0; i < own.size(); i++) {
    if (own[i] == pid) {
      own[i] = own.back();
      own.pop_back();
      break;
    }
  }
  if (perfData == nullptr || pid <= 0) return;
  for (int i = 0; i < kPerfChildPids && perfData->childPids[i] != -1; i++) {
    if (perfData->childPids[i] == pid) perfData->childPids[i] = 0;
  }
}

extern "C" void zeroPerfPids() {
  if (perfData == nullptr) return;
  for (int i = 0; i < kPerfChildPids; i++) perfData->childPids[i] = -1;
}

extern "C" void killPerfPids() {
  if (perfData == nullptr) return;
  for (int i = 0; i < kPerfChildPids && perfData->childPids[i] != -1; i++) {
    pid_t pid = perfData->childPids[i];
    if (pid > 0) {
      log(0, "Killing child process %d", static_cast<int>(pid));
      ::kill(pid, SIGKILL);
    }
  }
}

extern "C" int addPerfThread(const char* name) {
  std::lock_guard<std::mutex> hold(registrationLock());
  PerfData* area = statsArea();
  if (area->lastThreadSlot >= kPerfThreadSlots) return -1;
  int slot = area->lastThreadSlot++;
  PerfThreadSlot& s = area->threads[slot];
  copyName(s.name, name);
  __atomic_store_n(&s.state, 0, __ATOMIC_RELAXED);
  __atomic_store_n(&s.busySince, 0, __ATOMIC_RELAXED);
  __atomic_store_n(&s.cycles, 0, __ATOMIC_RELAXED);
  return slot;
}

PerfThreadSlot* perfThreadSlot(int slot) {
  if (slot < 0 || slot >= kPerfThreadSlots) return nullptr;
  return &statsArea()->threads[slot];
}
