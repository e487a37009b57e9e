// Where memory-trace records go: a file, or a memory-analyzer process
// listening on a Unix socket. System calls only, no allocation, so the hooks
// may use it while they hold their lock. Thread-safe (no shared state).
#pragma once

#include <cstddef>

namespace memtrace {

// Creates or truncates the trace file (write only, mode 0666 before the
// umask, closed on exec). Returns the descriptor, or -1 with errno set.
[[nodiscard]] int openTraceFile(const char* path);

// Connects a Unix stream socket to `path` (at most 107 characters). While the
// connection fails it prints "Unable to bind to server socket" and tries again
// every `retryMillis`, without limit when `attempts` is 0. Returns the
// descriptor (closed on exec), or -1 after printing why.
[[nodiscard]] int connectTraceSocket(const char* path, unsigned retryMillis, unsigned attempts);

// Writes exactly `length` bytes, continuing after partial writes and
// interruptions. A socket is written without raising SIGPIPE. Returns false
// when the destination refuses the bytes.
[[nodiscard]] bool writeAll(int fd, bool isSocket, const void* data, size_t length);

// Writes `text` and a newline to standard error, unbuffered.
void printLine(const char* text);

}  // namespace memtrace
