// The process-wide log, shared by the host daemon and every module loaded into
// it. Lines go to a fixed file, or to one file per day (or per hour) in a log
// directory, and optionally also to standard output.
//
// Thread-safe: any thread may log, also a forked child. Formatting happens
// before the log lock is taken; one writer at a time writes, and a busy
// process hands one open stream from writer to writer instead of opening the
// file for every line (a quiet one holds no log file open). A log file that
// cannot be opened or written drops the line; logging never fails its caller.
#pragma once

#include <cstdarg>

struct timeval;

// Levels. A message is written when its level is at or above the threshold
// that applies to it.
enum : int {
  LOG_TRACE = 1,
  LOG_DEBUG = 2,
  LOG_INFO = 3,
  LOG_WARNING = 4,
  LOG_ERROR = 5,
  LOG_CRITICAL = 6,
};

// Global threshold of the filtered form log(level, err, id, fmt, ...).
extern int _log_level;

// Per-component thresholds, refreshed from the properties log_roll, log_ft,
// log_creds, log_coms, log_netclient, log_domain, log_kel, log_io, log_java and
// log_csv (default INFO). Pass one as the first argument of the threshold form.
extern int _debug_logs;
extern int _debug_ft;
extern int _debug_creds;
extern int _debug_coms;
extern int _debug_netclient;
extern int _debug_domain;
extern int _debug_kel;
extern int _debug_io;
extern int _debug_java;
extern int _debug_csv;

// One file per hour instead of per day (property hourly_logs).
extern bool _hourlyLogs;

// `err`, in every form: 0 for none; > 0 an errno value, printed with strerror on
// a second line; < 0 a directory error code, printed with its description.

// Unconditional line.
void log(int err, const char* fmt, ...) __attribute__((format(printf, 2, 3)));
// Unconditional line, written to the file whose stem is `name` instead of the
// default log name (directory mode only).
void log(const char* name, int err, const char* fmt, ...) __attribute__((format(printf, 3, 4)));
// Written only when level >= _log_level. A non-zero `id` (see nextLogId) is
// printed before the text.
void log(int level, int err, long long id, const char* fmt, ...) __attribute__((format(printf, 4, 5)));
// Written only when level >= threshold; components pass their own threshold:
//   log(_debug_creds, LOG_TRACE, 0, 0, "Creds: unlock slot %d", slot);
void log(int threshold, int level, int err, long long id, const char* fmt, ...)
    __attribute__((format(printf, 5, 6)));

// The common writer behind the four forms. `name` may be null.
void __log(const char* name, long long id, int err, const char* fmt, va_list ap);

// Log into dated files in `dir`: <dir>/<name>_YYYYMMDD.log, or with hourly
// logs <dir>/<name>_YYYYMMDD_HH.log. A null `dir` makes standard output the
// open stream instead (and clears the fixed file and the directory). A
// directory of more than 79 characters is refused: the previous setting stays
// and the refusal is logged and printed on standard error.
void setLogDir(const char* dir);
// Replaces the default log name (the stem of the file names, "orvanex"). A
// null, empty or longer than 131 characters name is refused as above.
void setLogName(const char* name);
// Log into the fixed file `path`, opened for append; it wins over the
// directory. A null `path` makes standard output the open stream instead (and
// clears the file and the directory). A path of more than 79 characters is
// refused as above.
void setLog(const char* path);
// Also writes every line to standard output from now on (never turned off).
// Lines that already go to standard output are not written twice.
void copyLogToStdout();

// A process-unique identifier to tag related lines: the process id shifted
// left by 37 bits, OR-ed with a counter that starts at 1.
[[nodiscard]] long long nextLogId();

// The text of a directory error code (1 to 123), installed at start-up by the
// data model so that the lowest layer can print it without depending upward.
// With no hook installed, negative codes print "Unknown error".
using LogErrorTextFn = const char* (*)(int code);
void setLogErrorTextHook(LogErrorTextFn fn);

// The clock behind the time prefix and the file names (gettimeofday when
// null). Tests install a fixed clock to cross hours and days.
using LogClockFn = void (*)(struct timeval* now);
void setLogClock(LogClockFn fn);

// Longest message text of one line; longer messages are cut to this length.
inline constexpr int kLogMessageMax = 16382;
