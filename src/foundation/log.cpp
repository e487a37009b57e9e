// The process-wide log. A line is formatted completely on the caller's stack
// before any lock is taken; then exactly one writer at a time owns the open
// stream. While writers queue, the stream is handed from one to the next, so
// a busy process does not open and close the file for every line; the last
// writer out closes it, so a quiet process holds no log file open.
//
// The condition block is a statically initialised pthread mutex and
// condition: they need no constructor and are never destroyed, so a line
// logged from another module's static destructor or an atexit handler is
// still safe. The logger sits below the runtime and must not depend on it.
#include "foundation/log.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

int _log_level = LOG_INFO;
int _debug_logs = LOG_INFO;
int _debug_ft = LOG_INFO;
int _debug_creds = LOG_INFO;
int _debug_coms = LOG_INFO;
int _debug_netclient = LOG_INFO;
int _debug_domain = LOG_INFO;
int _debug_kel = LOG_INFO;
int _debug_io = LOG_INFO;
int _debug_java = LOG_INFO;
int _debug_csv = LOG_INFO;
bool _hourlyLogs = false;

namespace {

constexpr size_t kPathSize = 80;   // _logFile, _logDir: 79 characters and the NUL
constexpr size_t kNameSize = 132;  // _slName and the `name` argument
constexpr int kMaxHandOvers = 100;  // reopen after this many consecutive hand-overs
// A line: time prefix (14), identifier (18), message, newline, then the
// optional error line (four blanks, number, blank, text, newline).
constexpr size_t kPrefixRoom = 64;
constexpr size_t kErrorRoom = 320;
constexpr size_t kLineSize = kPrefixRoom + kLogMessageMax + 1 + 1 + kErrorRoom;
// dir / name _YYYYMMDD_HH.log
constexpr size_t kFilePathSize = kPathSize + 1 + kNameSize + 32;

struct LogBlock {
  pthread_mutex_t mutex;
  pthread_cond_t cond;
};
LogBlock _logBlock = {PTHREAD_MUTEX_INITIALIZER, PTHREAD_COND_INITIALIZER};

// Guarded by _logBlock, or owned by the running writer (see below).
char _slName[kNameSize] = "orvanex";
char _logFile[kPathSize];
char _logDir[kPathSize];
bool _toStdout = false;  // a null file or directory made standard output the stream
// The open stream: a descriptor, kStdout, or kNone. Lines are written with
// write(2) from a buffer on the stack, so writing allocates nothing (not even
// a stdio buffer), which keeps logging safe in a forked child.
constexpr int kNone = -1;
constexpr int kStdout = -2;
int _loggerLf = kNone;
int _runningHmy = 0;
int _noClose = 0;
int _running = 0;
int _waiting = 0;
long long _logId = 1;
// What the open stream was opened for: it is reused only for lines that
// would go to the same file.
char _streamStem[kNameSize];
bool _streamHourly = false;

std::atomic<bool> _copyStdout{false};
std::atomic<LogErrorTextFn> _errorTextHook{nullptr};
std::atomic<LogClockFn> _clock{nullptr};

// The configuration (_slName, _logFile, _logDir, _toStdout) and the stream
// record (_runningHmy, _streamStem, _streamHourly) are changed only by the
// thread that has entered the logger and is marked running, so the running
// writer may read them without holding the mutex.

// Waits while another writer runs, then takes the open stream. The wait is
// re-checked every second so that a lost wake-up cannot stall the process.
int enterLogger() {
  pthread_mutex_lock(&_logBlock.mutex);
  ++_waiting;
  while (_running != 0) {
    struct timespec until;
    clock_gettime(CLOCK_MONOTONIC, &until);
    until.tv_sec += 1;
    pthread_cond_clockwait(&_logBlock.cond, &_logBlock.mutex, CLOCK_MONOTONIC, &until);
  }
  _running = 1;
  int lf = _loggerLf;
  _loggerLf = kNone;
  pthread_mutex_unlock(&_logBlock.mutex);
  return lf;
}

bool fileConfigured() { return _logFile[0] != '\0' || _logDir[0] != '\0'; }

void closeStream(int lf) {
  if (lf >= 0) close(lf);
}

// The whole buffer, or false.
bool writeAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    ssize_t n = write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

// Standard output is shared with printf users: their buffered text goes
// first, so the order on the terminal is the order of the calls.
void writeStdout(const char* data, size_t size) {
  fflush(stdout);
  writeAll(STDOUT_FILENO, data, size);
}

// Hands the stream to the next writer, or closes it when nobody waits.
void leaveLogger(int lf) {
  int toClose = kNone;
  pthread_mutex_lock(&_logBlock.mutex);
  _running = 0;
  --_waiting;
  if (_waiting > 0 || lf == kNone) {
    ++_noClose;
    _loggerLf = lf;
  } else if (fileConfigured() && lf >= 0) {
    toClose = lf;
    _loggerLf = kNone;
    _noClose = 0;
  } else {
    _loggerLf = lf;
  }
  pthread_cond_signal(&_logBlock.cond);
  pthread_mutex_unlock(&_logBlock.mutex);
  // The stream is no longer shared: close it without holding up the others.
  closeStream(toClose);
}

// Local time without localtime_r on every line: the offset from UTC is
// looked up once a minute and shared through one atomic word (the minute and
// the offset packed together, so they never tear). Besides saving a lock per
// line, this keeps a forked child from calling localtime_r, whose internal
// lock may have been held by another thread of the parent at the fork.
std::atomic<unsigned long long> _tzCache{0};  // (minute + 1) << 20 | (offset + 2^19); 0: empty
bool _forkedChild = false;
constexpr long kOffsetBias = 1L << 19;

long localOffset(time_t sec) {
  const long long minute = static_cast<long long>(sec) / 60;
  const unsigned long long cached = _tzCache.load(std::memory_order_relaxed);
  if (cached != 0 && (static_cast<long long>(cached >> 20) == minute + 1 || _forkedChild)) {
    return static_cast<long>(cached & 0xFFFFF) - kOffsetBias;
  }
  struct tm tm;
  localtime_r(&sec, &tm);
  const long offset = tm.tm_gmtoff;
  if (offset > -kOffsetBias && offset < kOffsetBias && minute >= 0) {
    _tzCache.store((static_cast<unsigned long long>(minute + 1) << 20) |
                       static_cast<unsigned long long>(offset + kOffsetBias),
                   std::memory_order_relaxed);
  }
  return offset;
}

// Broken-down local time of `sec` (the fields the log uses), by the civil
// calendar arithmetic of the proleptic Gregorian calendar.
void localTime(time_t sec, struct tm* out) {
  const long long local = static_cast<long long>(sec) + localOffset(sec);
  long long days = local / 86400;
  long long rest = local % 86400;
  if (rest < 0) {
    rest += 86400;
    --days;
  }
  out->tm_hour = static_cast<int>(rest / 3600);
  out->tm_min = static_cast<int>(rest / 60 % 60);
  out->tm_sec = static_cast<int>(rest % 60);
  const long long z = days + 719468;
  const long long era = (z >= 0 ? z : z - 146096) / 146097;
  const long long doe = z - era * 146097;
  const long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const long long mp = (5 * doy + 2) / 153;
  const int day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  const int month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  out->tm_year = static_cast<int>(yoe + era * 400 + (month <= 2 ? 1 : 0)) - 1900;
  out->tm_mon = month - 1;
  out->tm_mday = day;
}

void now(struct timeval* tv) {
  LogClockFn fn = _clock.load(std::memory_order_acquire);
  if (fn != nullptr) {
    fn(tv);
  } else {
    gettimeofday(tv, nullptr);
  }
}

// Creates the dated file readable and writable by everyone (0666), as the
// tools that collect the logs expect, without changing the process umask:
// other threads create files at the same time and must keep their own modes.
int openDatedFile(const char* path) {
  for (int attempt = 0; attempt < 3; ++attempt) {
    int fd = open(path, O_WRONLY | O_APPEND | O_CLOEXEC);
    if (fd >= 0 || errno != ENOENT) return fd;
    fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_CLOEXEC, 0666);
    if (fd >= 0) {
      fchmod(fd, 0666);
      return fd;
    }
    if (errno != EEXIST) return -1;
    // Created by another process between the two calls: open it again.
  }
  return -1;
}

// Reports a refused setting through the log and on standard error, so that it
// is seen even when the log itself has nowhere to go yet.
void refuse(const char* what, const char* value, size_t limit) {
  if (value[0] == '\0') {
    fprintf(stderr, "%s is empty; the previous setting stays\n", what);
    log(0, "%s is empty; the previous setting stays", what);
    return;
  }
  fprintf(stderr, "%s is too long (%zu characters, at most %zu); the previous setting stays: %s\n", what,
          strlen(value), limit, value);
  log(0, "%s is too long (%zu characters, at most %zu); the previous setting stays: %s", what, strlen(value),
      limit, value);
}

// Runs `change` as the running writer, then drops the open stream so that the
// next line opens whatever the new configuration names.
template <typename Change>
void reconfigure(Change change) {
  int lf = enterLogger();
  change();
  closeStream(lf);
  lf = _toStdout && !fileConfigured() ? kStdout : kNone;
  _noClose = 0;
  leaveLogger(lf);
}

// Warms the local-time cache first, so that the child has an offset to work
// with and never needs localtime_r.
void atforkPrepare() {
  localOffset(time(nullptr));
  pthread_mutex_lock(&_logBlock.mutex);
}
void atforkParent() { pthread_mutex_unlock(&_logBlock.mutex); }
// The child has only the forking thread: no writer is running there. The
// descriptor of the parent's running writer is not known here; the one at
// rest is the child's own copy and is closed.
void atforkChild() {
  _forkedChild = true;
  _running = 0;
  _waiting = 0;
  closeStream(_loggerLf);
  if (_loggerLf != kStdout) _loggerLf = kNone;
  _noClose = 0;
  pthread_mutex_init(&_logBlock.mutex, nullptr);
  pthread_cond_init(&_logBlock.cond, nullptr);
}

[[maybe_unused]] const int kAtforkRegistered = pthread_atfork(atforkPrepare, atforkParent, atforkChild);

size_t errorLine(char* out, size_t room, int err) {
  if (err == 0) return 0;
  const char* text;
  char buf[256];
  if (err > 0) {
    text = strerror_r(err, buf, sizeof buf);
  } else {
    LogErrorTextFn hook = _errorTextHook.load(std::memory_order_acquire);
    text = hook != nullptr ? hook(-err) : nullptr;
    if (text == nullptr) text = "Unknown error";
  }
  int n = snprintf(out, room, "    %d %s\n", err, text);
  if (n < 0) return 0;
  if (static_cast<size_t>(n) >= room) {
    n = static_cast<int>(room - 1);
    out[n - 1] = '\n';
  }
  return static_cast<size_t>(n);
}

}  // namespace

void __log(const char* name, long long id, int err, const char* fmt, va_list ap) {
  struct timeval tv;
  now(&tv);
  struct tm tm;
  localTime(tv.tv_sec, &tm);

  char line[kLineSize];
  size_t n = static_cast<size_t>(snprintf(line, kPrefixRoom, "%02d:%02d:%02d.%03d: ", tm.tm_hour, tm.tm_min,
                                          tm.tm_sec, static_cast<int>(tv.tv_usec / 1000)));
  if (id != 0) n += static_cast<size_t>(snprintf(line + n, kPrefixRoom - n, "%016llx: ", id));
  int m = vsnprintf(line + n, kLogMessageMax + 1, fmt, ap);
  if (m < 0) m = 0;
  if (m > kLogMessageMax) m = kLogMessageMax;
  n += static_cast<size_t>(m);
  line[n++] = '\n';
  n += errorLine(line + n, kErrorRoom, err);

  const bool hourly = std::atomic_ref<bool>(_hourlyLogs).load(std::memory_order_relaxed);
  const bool copy = _copyStdout.load(std::memory_order_relaxed);

  int lf = enterLogger();
  const bool dirMode = _logFile[0] == '\0' && _logDir[0] != '\0';
  const int hmy = dirMode ? tm.tm_mday * 32 + tm.tm_hour : 0;
  const char* stem = _slName;
  if (dirMode && name != nullptr && name[0] != '\0' && strlen(name) < kNameSize) stem = name;

  if (lf >= 0) {
    const bool sameFile =
        hmy == _runningHmy && (!dirMode || (hourly == _streamHourly && strcmp(stem, _streamStem) == 0));
    if (!sameFile || _noClose > kMaxHandOvers) {
      close(lf);
      lf = kNone;
      _noClose = 0;
    }
  }
  if (lf == kNone) {
    if (_logFile[0] != '\0') {
      lf = open(_logFile, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
    } else if (dirMode) {
      char path[kFilePathSize];
      if (hourly) {
        snprintf(path, sizeof path, "%s/%s_%04d%02d%02d_%02d.log", _logDir, stem, tm.tm_year + 1900,
                 tm.tm_mon + 1, tm.tm_mday, tm.tm_hour);
      } else {
        snprintf(path, sizeof path, "%s/%s_%04d%02d%02d.log", _logDir, stem, tm.tm_year + 1900, tm.tm_mon + 1,
                 tm.tm_mday);
      }
      lf = openDatedFile(path);
    } else if (_toStdout) {
      lf = kStdout;
    }
    if (lf < 0 && lf != kStdout) lf = kNone;
    if (lf != kNone) {
      _runningHmy = hmy;
      _streamHourly = hourly;
      memcpy(_streamStem, stem, strlen(stem) + 1);
    }
  }

  // One write per line keeps lines whole in a file shared with other
  // processes (O_APPEND).
  if (lf >= 0) {
    if (!writeAll(lf, line, n)) {
      // A full disk or a broken file system: drop the line, reopen for the
      // next one.
      close(lf);
      lf = kNone;
      _noClose = 0;
    }
  } else if (lf == kStdout) {
    writeStdout(line, n);
  }
  if (copy && lf != kStdout) writeStdout(line, n);
  leaveLogger(lf);
}

void log(int err, const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  __log(nullptr, 0, err, fmt, ap);
  va_end(ap);
}

void log(const char* name, int err, const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  __log(name, 0, err, fmt, ap);
  va_end(ap);
}

void log(int level, int err, long long id, const char* fmt, ...) {
  if (level < std::atomic_ref<int>(_log_level).load(std::memory_order_relaxed)) return;
  va_list ap;
  va_start(ap, fmt);
  __log(nullptr, id, err, fmt, ap);
  va_end(ap);
}

void log(int threshold, int level, int err, long long id, const char* fmt, ...) {
  if (level < threshold) return;
  va_list ap;
  va_start(ap, fmt);
  __log(nullptr, id, err, fmt, ap);
  va_end(ap);
}

void setLogDir(const char* dir) {
  if (dir != nullptr && strlen(dir) >= kPathSize) {
    refuse("Log directory", dir, kPathSize - 1);
    return;
  }
  reconfigure([dir] {
    if (dir == nullptr) {
      _logDir[0] = '\0';
      _logFile[0] = '\0';
      _toStdout = true;
    } else {
      memcpy(_logDir, dir, strlen(dir) + 1);
    }
  });
}

void setLogName(const char* name) {
  if (name == nullptr || name[0] == '\0') {
    refuse("Log name", "", kNameSize - 1);
    return;
  }
  if (strlen(name) >= kNameSize) {
    refuse("Log name", name, kNameSize - 1);
    return;
  }
  reconfigure([name] { memcpy(_slName, name, strlen(name) + 1); });
}

void setLog(const char* path) {
  if (path != nullptr && strlen(path) >= kPathSize) {
    refuse("Log file name", path, kPathSize - 1);
    return;
  }
  reconfigure([path] {
    if (path == nullptr) {
      _logDir[0] = '\0';
      _logFile[0] = '\0';
      _toStdout = true;
    } else {
      memcpy(_logFile, path, strlen(path) + 1);
    }
  });
}

void copyLogToStdout() { _copyStdout.store(true, std::memory_order_relaxed); }

long long nextLogId() {
  pthread_mutex_lock(&_logBlock.mutex);
  long long counter = _logId++;
  pthread_mutex_unlock(&_logBlock.mutex);
  return (static_cast<long long>(getpid()) << 37) | counter;
}

void setLogErrorTextHook(LogErrorTextFn fn) { _errorTextHook.store(fn, std::memory_order_release); }

void setLogClock(LogClockFn fn) { _clock.store(fn, std::memory_order_release); }
