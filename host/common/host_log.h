// Logging for the host stand-in libraries. liborvanex-rt and liborv-java are
// shared libraries of their own: they write into the process-wide log of the
// module when one is present in the process, and to standard error otherwise,
// so they work in the daemon, in tests that link the module's archive, and in
// any other process that loads them. Thread-safe.
#pragma once

// One unconditional log line (printf format).
__attribute__((visibility("hidden"), format(printf, 1, 2))) void hostLog(const char* fmt, ...);
