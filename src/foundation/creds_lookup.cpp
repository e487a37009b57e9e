#include "foundation/creds_lookup.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <string.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <memory>
#include <string>

#include "foundation/creds_locks.h"
#include "foundation/log.h"
#include "foundation/os_perf.h"
#include "foundation/settings.h"
#include "host/host_globals.h"

// The memory-tracing library's post-fork hook, when that library is in the
// process.
extern "C" void orv_post_fork_hooks(void) __attribute__((weak));

namespace {

constexpr int kTries = 3;

std::atomic<int> _enumerationLimit{kCredMaxRecords};

// The host executable, re-executed in credential mode; empty when the host
// set none.
std::string commandToRun() { return std::string(commandPath, strnlen(commandPath, sizeof(commandPath))); }

// Moves a descriptor above the standard three, so that putting the pipes on
// the child's standard input and output never clobbers one with the other.
bool aboveStandard(int* fd) {
  if (*fd > STDERR_FILENO) return true;
  const int moved = fcntl(*fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
  close(*fd);
  *fd = moved;
  return moved >= 0;
}

void closeFd(int* fd) {
  if (*fd >= 0) close(*fd);
  *fd = -1;
}

// In the forked child, until exec: only async-signal-safe calls (the log is
// safe in a forked child).
[[noreturn]] void execChild(int in, int out, const char* path, char* const argv[]) {
  if (orv_post_fork_hooks != nullptr) orv_post_fork_hooks();
  // The forking thread's mask would carry over into the program.
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  // Kept to report a failed exec where the parent's log goes, not into the pipe.
  const int savedOut = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
  if (dup2(in, STDIN_FILENO) < 0 || dup2(out, STDOUT_FILENO) < 0) _exit(1);
  const int devNull = open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (devNull < 0 || dup2(devNull, STDERR_FILENO) < 0) _exit(1);
  // Nothing else of the parent's (sockets, files, other look-ups' pipes)
  // reaches the program.
  close_range(STDERR_FILENO + 1, ~0U, CLOSE_RANGE_CLOEXEC);
  execv(path, argv);
  const int err = errno;
  if (savedOut >= 0) dup2(savedOut, STDOUT_FILENO);
  log(err, "lookup: unable to execute -testcred command");
  _exit(-2);
}

// One child: its pipes, its slot record, and its reaping.
class CredChild {
 public:
  explicit CredChild(int slot) : slot_(slot) {}
  ~CredChild() { finish(false); }
  CredChild(const CredChild&) = delete;
  CredChild& operator=(const CredChild&) = delete;

  bool start() {
    const std::string path = commandToRun();
    if (path.empty()) {
      log(_debug_creds, LOG_WARNING, 0, 0, "Creds: no command to execute for -testcred (commandPath is not set)");
      return false;
    }
    // Built before the fork: the child may not allocate.
    char bufsize[16];
    snprintf(bufsize, sizeof(bufsize), "%d", _creds_buffer_size.load());
    std::vector<const char*> args = {"orvanex"};
    if (_creds_nss_workaround.load()) args.push_back("-nss_workaround");
    if (_debug_creds == 1) args.push_back("-debug_creds");
    args.push_back("-bufsize");
    args.push_back(bufsize);
    args.push_back("-testcred");
    args.push_back(nullptr);
    char* const* argv = const_cast<char* const*>(args.data());

    int req[2] = {-1, -1};
    int rep[2] = {-1, -1};
    if (pipe2(req, O_CLOEXEC) != 0) {
      log(_debug_creds, LOG_WARNING, errno, 0, "Creds: unable to create a pipe for the child process");
      return false;
    }
    if (pipe2(rep, O_CLOEXEC) != 0) {
      log(_debug_creds, LOG_WARNING, errno, 0, "Creds: unable to create a pipe for the child process");
      closeFd(&req[0]);
      closeFd(&req[1]);
      return false;
    }
    if (!aboveStandard(&req[0]) || !aboveStandard(&req[1]) || !aboveStandard(&rep[0]) || !aboveStandard(&rep[1])) {
      for (int* fd : {&req[0], &req[1], &rep[0], &rep[1]}) closeFd(fd);
      return false;
    }
    _credLookups++;
    lockPerfPid();
    const pid_t pid = fork();
    if (pid == 0) execChild(req[0], rep[1], path.c_str(), argv);
    const int forkErr = errno;
    if (pid > 0) addPerfPid(pid);
    unlockPerfPid();
    closeFd(&req[0]);
    closeFd(&rep[1]);
    if (pid < 0) {
      log(_debug_creds, LOG_WARNING, forkErr, 0, "Creds: unable to fork the child process");
      closeFd(&req[1]);
      closeFd(&rep[0]);
      return false;
    }
    pid_ = pid;
    start_ = credNowMicros();
    setCredSlotChild(slot_, pid);
    request_ = req[1];
    reply_ = rep[0];
    return true;
  }

  [[nodiscard]] bool send(const CredSecretBuffer& request) {
    const bool ok = credWriteAll(request_, request.data(), request.size());
    // The child reads exactly one request; closing tells a confused one so.
    closeFd(&request_);
    if (!ok) log(_debug_creds, LOG_WARNING, errno, 0, "Creds: unable to send the request to the child process");
    return ok;
  }

  [[nodiscard]] int replyFd() const { return reply_; }
  [[nodiscard]] int64_t deadline() const { return start_ + credReplyLimitMicros(); }

  // Closes the pipes, forgets the child in its slot and reaps it. A child
  // whose reply was broken or late is killed first: whatever it still does
  // is of no use.
  void finish(bool killIt) {
    closeFd(&request_);
    closeFd(&reply_);
    if (pid_ <= 0) return;
    // The slot forgets the pid before it is reaped, so the watchdog never
    // signals a pid that may already belong to another process.
    clearCredSlotChild(slot_);
    if (killIt) kill(pid_, SIGKILL);
    reap();
    pid_ = -1;
  }

 private:
  // A child that sent its reply ends at once; one that does not is handed to
  // the watchdog rather than waited for here.
  void reap() {
    const int64_t giveUp = credNowMicros() + 50000;
    struct timespec pause = {0, 250000};
    for (;;) {
      int status = 0;
      const pid_t r = waitpid(pid_, &status, WNOHANG);
      if (r == pid_ || (r < 0 && errno == ECHILD)) {
        lockPerfPid();
        removePerfPid(pid_);
        unlockPerfPid();
        return;
      }
      if (r < 0 && errno == EINTR) continue;
      if (credNowMicros() >= giveUp) break;
      nanosleep(&pause, nullptr);
      if (pause.tv_nsec < 8000000) pause.tv_nsec *= 2;
    }
    addCredStraggler(pid_, start_);
  }

  int slot_;
  pid_t pid_ = -1;
  int64_t start_ = 0;
  int request_ = -1;
  int reply_ = -1;
};

void logReadFailure(int step) {
  if (step > 0) {
    log(_debug_creds, LOG_WARNING, 0, 0, "Creds: unable to read error reply from child process (%d)", step);
  } else {
    log(_debug_creds, LOG_WARNING, 0, 0, "Creds: unable to read error reply from child process");
  }
}

void setFailure(_CredCacheEntry* e, int code) {
  if (code == kCredNotFound) {
    e->_noexist = 1;
  } else {
    e->_error = 1;
  }
}

// The entry of a user reply (operations 1, 2, 3).
std::unique_ptr<_CredCacheEntry> userEntry(const CredRequest& req, CredUserReply& r) {
  auto e = std::make_unique<_CredCacheEntry>();
  e->kind = kCredKindUser;
  if (r.code == kCredFound) {
    e->name = std::move(r.name);
    e->uid = r.uid;
    e->gid = r.gid;
    e->dir = std::move(r.dir);
    e->groups = std::move(r.groups);
    e->ngroups = static_cast<int>(e->groups.size());
    e->nameKey = e->idKey = true;
  } else {
    setFailure(e.get(), r.code);
    if (req.op == kCredUserById) {
      e->uid = req.id;
      e->idKey = true;
    } else {
      e->name = req.name;
      e->nameKey = true;
    }
  }
  return e;
}

std::unique_ptr<_CredCacheEntry> groupEntry(const CredRequest& req, CredGroupReply& r) {
  auto e = std::make_unique<_CredCacheEntry>();
  e->kind = kCredKindGroup;
  if (r.code == kCredFound) {
    e->groupName = std::move(r.name);
    e->gid = r.gid;
    e->nameKey = e->idKey = true;
  } else {
    setFailure(e.get(), r.code);
    if (req.op == kCredGroupById) {
      e->gid = req.id;
      e->idKey = true;
    } else {
      e->groupName = req.name;
      e->nameKey = true;
    }
  }
  return e;
}

std::unique_ptr<_CredCacheEntry> hostEntry(const CredRequest& req, const CredHostReply& r) {
  auto e = std::make_unique<_CredCacheEntry>();
  e->kind = kCredKindHost;
  e->name = req.name;
  e->nameKey = true;
  if (r.code == kCredFound) {
    e->uid = r.addr;
  } else {
    setFailure(e.get(), r.code);
  }
  return e;
}

// Starts a child and sends it the request; null when either fails.
std::unique_ptr<CredChild> startChild(int slot, const CredRequest& req, const char* password) {
  std::unique_ptr<CredSecretBuffer> request;
  if (!encodeCredRequest(req, password, &request)) {
    log(_debug_creds, LOG_WARNING, 0, 0, "Creds: request refused: name, service or password too long");
    return nullptr;
  }
  auto child = std::make_unique<CredChild>(slot);
  if (!child->start()) return nullptr;
  const bool sent = child->send(*request);
  request->wipe();
  if (!sent) {
    child->finish(true);
    return nullptr;
  }
  return child;
}

// At trace level: an enumeration may bring back a whole directory's groups,
// and a broken child a million records; neither belongs in the log by
// default.
void logGroupRecord(const CredGroupRecord& r) {
  if (_debug_creds > LOG_TRACE) return;
  log(_debug_creds, LOG_TRACE, 0, 0, "read gid = %d", r.gid);
  log(_debug_creds, LOG_TRACE, 0, 0, "read n = %d", static_cast<int>(r.name.size()));
  log(_debug_creds, LOG_TRACE, 0, 0, "read group = %s", r.name.c_str());
}

}  // namespace

void setCredEnumerationLimit(int records) {
  _enumerationLimit.store(records > 0 ? records : kCredMaxRecords);
}

_CredCacheEntry* safeLookup(int slot, const CredRequest& req, const char* password) {
  std::unique_ptr<CredChild> child = startChild(slot, req, password);
  if (child == nullptr) return nullptr;
  CredFdReader in(child->replyFd(), child->deadline());
  std::unique_ptr<_CredCacheEntry> entry;
  int step = 0;
  switch (req.op) {
    case kCredVerifyLogin:
    case kCredUserById:
    case kCredUserByName: {
      CredUserReply r;
      step = readCredUserReply(in, &r);
      if (step == 0) entry = userEntry(req, r);
      break;
    }
    case kCredGroupById:
    case kCredGroupByName: {
      CredGroupReply r;
      step = readCredGroupReply(in, &r);
      if (step == 0) entry = groupEntry(req, r);
      break;
    }
    case kCredHostByName: {
      CredHostReply r;
      step = readCredHostReply(in, &r);
      if (step == 0) entry = hostEntry(req, r);
      break;
    }
    default:
      step = -1;
      break;
  }
  if (step != 0) {
    if (in.lastError() == ETIMEDOUT) {
      log(_debug_creds, LOG_WARNING, 0, 0, "Creds: no reply from child process within %d ms",
          static_cast<int>(credReplyLimitMicros() / 1000));
    }
    logReadFailure(step);
    child->finish(true);
    return nullptr;
  }
  child->finish(false);
  // A failed login answers nothing but this call: cached under the user's
  // name it would make every look-up of that user fail for minutes after a
  // mistyped password.
  if (req.op == kCredVerifyLogin && entry->negative()) return privateCredsEntry(std::move(entry));
  return addCredsCache(std::move(entry), 1);
}

_CredCacheEntry* lookup(int slot, const CredRequest& req, const char* password) {
  const int tries = req.op == kCredVerifyLogin ? 1 : kTries;
  for (int i = 0; i < tries; i++) {
    _CredCacheEntry* e = safeLookup(slot, req, password);
    if (e != nullptr) return e;
  }
  return nullptr;
}

bool lookupAllUsers(int slot, std::vector<CredUserRecord>* out) {
  CredRequest req;
  req.op = kCredAllUsers;
  for (int i = 0; i < kTries; i++) {
    std::unique_ptr<CredChild> child = startChild(slot, req, nullptr);
    if (child == nullptr) continue;
    CredFdReader in(child->replyFd(), child->deadline());
    std::vector<CredUserRecord> users;
    const int step = readCredAllUsersReply(in, &users, _enumerationLimit.load());
    if (step != 0) {
      logReadFailure(step);
      child->finish(true);
      continue;
    }
    child->finish(false);
    *out = std::move(users);
    return true;
  }
  return false;
}

bool lookupAllGroups(int slot) {
  CredRequest req;
  req.op = kCredAllGroups;
  for (int i = 0; i < kTries; i++) {
    std::unique_ptr<CredChild> child = startChild(slot, req, nullptr);
    if (child == nullptr) continue;
    CredFdReader in(child->replyFd(), child->deadline());
    std::vector<CredGroupRecord> groups;
    const int step = readCredAllGroupsReply(in, &groups, logGroupRecord, _enumerationLimit.load());
    if (step != 0) {
      logReadFailure(step);
      child->finish(true);
      continue;
    }
    child->finish(false);
    std::vector<std::unique_ptr<_CredCacheEntry>> entries;
    entries.reserve(groups.size());
    for (CredGroupRecord& g : groups) {
      auto e = std::make_unique<_CredCacheEntry>();
      e->gid = g.gid;
      e->groupName = std::move(g.name);
      entries.push_back(std::move(e));
    }
    addCredsCacheGroups(std::move(entries));
    return true;
  }
  return false;
}
