#include "foundation/memhooks/trace_sink.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include <cstring>

namespace memtrace {
namespace {

void writeStderr(const char* data, size_t length) {
  while (length > 0) {
    ssize_t n = write(2, data, length);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    data += n;
    length -= static_cast<size_t>(n);
  }
}

void sleepMillis(unsigned millis) {
  timespec ts{static_cast<time_t>(millis / 1000), static_cast<long>(millis % 1000) * 1000000L};
  while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

}  // namespace

void printLine(const char* text) {
  writeStderr(text, std::strlen(text));
  writeStderr("\n", 1);
}

int openTraceFile(const char* path) {
  int fd;
  do {
    fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

int connectTraceSocket(const char* path, unsigned retryMillis, unsigned attempts) {
  sockaddr_un addr;
  std::memset(&addr, 0, sizeof addr);
  addr.sun_family = AF_UNIX;
  size_t length = std::strlen(path);
  if (length >= sizeof addr.sun_path) {
    // Retrying could never help: the name does not fit a socket address.
    printLine("Memory trace socket path too long");
    return -1;
  }
  std::memcpy(addr.sun_path, path, length + 1);
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    printLine("Unable to create socket for memory hooks");
    return -1;
  }
  for (unsigned attempt = 1;; ++attempt) {
    if (connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0) return fd;
    if (errno == EINTR) continue;
    printLine("Unable to bind to server socket");
    if (attempts != 0 && attempt >= attempts) break;
    sleepMillis(retryMillis);
  }
  close(fd);
  return -1;
}

bool writeAll(int fd, bool isSocket, const void* data, size_t length) {
  const char* p = static_cast<const char*>(data);
  while (length > 0) {
    ssize_t n = isSocket ? send(fd, p, length, MSG_NOSIGNAL) : write(fd, p, length);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    length -= static_cast<size_t>(n);
  }
  return true;
}

}  // namespace memtrace
