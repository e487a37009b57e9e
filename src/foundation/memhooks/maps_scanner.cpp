#include "foundation/memhooks/maps_scanner.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstring>

namespace memtrace {
namespace {

// Room for the fixed columns and the longest path the kernel prints.
constexpr size_t kLineBuffer = 8192;

bool hexNumber(const char*& p, const char* end, uint64_t* out) {
  uint64_t value = 0;
  const char* begin = p;
  while (p < end) {
    char c = *p;
    int digit;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (c >= 'a' && c <= 'f') {
      digit = c - 'a' + 10;
    } else if (c >= 'A' && c <= 'F') {
      digit = c - 'A' + 10;
    } else {
      break;
    }
    if (value >> 60) return false;  // more than 64 bits
    value = value << 4 | static_cast<uint64_t>(digit);
    ++p;
  }
  if (p == begin) return false;
  *out = value;
  return true;
}

void skipBlanks(const char*& p, const char* end) {
  while (p < end && (*p == ' ' || *p == '\t')) ++p;
}

// Skips one column of non-blank characters; false when there is none.
bool skipColumn(const char*& p, const char* end) {
  const char* begin = p;
  while (p < end && *p != ' ' && *p != '\t') ++p;
  return p != begin;
}

}  // namespace

bool parseMapsLine(const char* line, size_t length, MapsLine* out) {
  const char* p = line;
  const char* end = line + length;
  MapsLine m;
  if (!hexNumber(p, end, &m.start) || p == end || *p++ != '-') return false;
  if (!hexNumber(p, end, &m.end) || m.end < m.start) return false;
  skipBlanks(p, end);
  const char* perms = p;
  if (!skipColumn(p, end) || p - perms < 4) return false;
  m.executable = perms[2] == 'x';
  // offset, device, inode
  for (int column = 0; column < 3; ++column) {
    skipBlanks(p, end);
    if (!skipColumn(p, end)) return false;
  }
  skipBlanks(p, end);
  // The path is the rest of the line: it may hold blanks of its own.
  m.path = p;
  m.pathLength = static_cast<size_t>(end - p);
  *out = m;
  return true;
}

bool scanMapsFile(const char* path, MapsVisitor visit, void* context) {
  int fd;
  do {
    fd = open(path, O_RDONLY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return false;
  char buf[kLineBuffer];
  size_t used = 0;
  bool skipping = false;  // inside a line longer than the buffer
  for (;;) {
    ssize_t got = read(fd, buf + used, sizeof buf - used);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    used += static_cast<size_t>(got);
    size_t begin = 0;
    for (;;) {
      char* nl = static_cast<char*>(std::memchr(buf + begin, '\n', used - begin));
      if (nl == nullptr) break;
      size_t lineEnd = static_cast<size_t>(nl - buf);
      MapsLine m;
      if (!skipping && parseMapsLine(buf + begin, lineEnd - begin, &m)) visit(context, m);
      skipping = false;
      begin = lineEnd + 1;
    }
    if (begin == 0 && used == sizeof buf) {
      skipping = true;  // no newline in a full buffer: drop this line's start
      used = 0;
    } else {
      std::memmove(buf, buf + begin, used - begin);
      used -= begin;
    }
  }
  // A last line without its newline.
  MapsLine m;
  if (!skipping && used > 0 && parseMapsLine(buf, used, &m)) visit(context, m);
  close(fd);
  return true;
}

bool scanOwnMaps(MapsVisitor visit, void* context) {
  // "/proc/%d/maps" with the own process id, formatted by hand: stdio may
  // allocate.
  char path[40] = "/proc/";
  char digits[16];
  int n = 0;
  for (unsigned pid = static_cast<unsigned>(getpid()); pid != 0 || n == 0; pid /= 10) {
    digits[n++] = static_cast<char>('0' + pid % 10);
  }
  size_t at = std::strlen(path);
  while (n > 0) path[at++] = digits[--n];
  std::memcpy(path + at, "/maps", 6);
  return scanMapsFile(path, visit, context);
}

}  // namespace memtrace
