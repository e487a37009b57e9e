#include "foundation/os_path.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/time.h>
#include <unistd.h>

#include "foundation/log.h"

namespace {

char _chrootPath[kPathBufferSize];

// Holds the adjusted form of one path for the length of one call.
class AdjustedPath {
 public:
  AdjustedPath(const char* path, bool adjust = true)
      : path_(path == nullptr ? nullptr : adjust ? s_adjust_path(buf_, sizeof(buf_), path) : path) {
    if (path == nullptr) errno = EFAULT;
  }
  // Null when the path could not be adjusted (errno is set).
  const char* get() const { return path_; }

 private:
  char buf_[kPathBufferSize];
  const char* path_;
};

}  // namespace

extern "C" int s_set_chroot_path(const char* path) {
  if (path == nullptr || *path == '\0') {
    _chrootPath[0] = '\0';
    return 0;
  }
  size_t n = std::strlen(path);
  while (n > 1 && path[n - 1] == '/') n--;
  if (n == 1 && path[0] == '/') n = 0;  // "/" as a prefix changes nothing
  if (n >= sizeof(_chrootPath)) {
    errno = ENAMETOOLONG;
    return -1;
  }
  std::memcpy(_chrootPath, path, n);
  _chrootPath[n] = '\0';
  return 0;
}

extern "C" const char* s_get_chroot_path() { return _chrootPath[0] != '\0' ? _chrootPath : nullptr; }

extern "C" const char* s_adjust_path(char* buf, size_t len, const char* path) {
  if (path == nullptr || _chrootPath[0] == '\0' || path[0] != '/') return path;
  while (path[1] == '/') path++;
  size_t prefix = std::strlen(_chrootPath);
  size_t rest = std::strlen(path);
  if (buf == nullptr || len == 0 || prefix + rest + 1 > len) {
    if (buf != nullptr && len > 0) buf[0] = '\0';
    errno = ENAMETOOLONG;
    return nullptr;
  }
  std::memcpy(buf, _chrootPath, prefix);
  std::memcpy(buf + prefix, path, rest + 1);
  return buf;
}

extern "C" int s_getchroot(char* dst, size_t len, const char* root, const char* name) {
  if (dst == nullptr || len == 0 || root == nullptr || name == nullptr) return -1;
  std::string file = std::string(root) + "/security/chroot.conf";
  FILE* f = std::fopen(file.c_str(), "r");
  if (f == nullptr) return -1;
  int rv = -1;
  char line[1025];
  while (std::fgets(line, sizeof(line), f) != nullptr) {
    size_t got = std::strlen(line);
    bool whole = got > 0 && line[got - 1] == '\n';
    if (!whole && !std::feof(f)) {
      // An over-long line is skipped whole: reading its tail as a line of its
      // own could match a key that is not there.
      int c;
      while ((c = std::fgetc(f)) != EOF && c != '\n') {
      }
      continue;
    }
    char* p = line;
    while (*p == ' ' || *p == '\t') p++;
    if (*p == '\0' || *p == '\n' || *p == '\r' || *p == '#' || *p == '/') continue;
    char* colon = std::strchr(p, ':');
    if (colon == nullptr) continue;
    size_t keyLen = static_cast<size_t>(colon - p);
    if (keyLen > 79) continue;
    if (std::strlen(name) != keyLen || std::strncmp(p, name, keyLen) != 0) continue;
    char* value = colon + 1;
    while (*value == ' ' || *value == '\t') value++;
    size_t valueLen = std::strcspn(value, "\r\n");
    if (valueLen + 1 > len) break;  // refused rather than cut
    std::memcpy(dst, value, valueLen);
    dst[valueLen] = '\0';
    rv = 0;
    break;
  }
  std::fclose(f);
  return rv;
}

extern "C" FILE* s_fopen(const char* path, const char* mode) {
  AdjustedPath p(path);
  return p.get() != nullptr ? std::fopen(p.get(), mode) : nullptr;
}

extern "C" int s_open(const char* path, int flags, mode_t mode, bool adjust) {
  AdjustedPath p(path, adjust);
  return p.get() != nullptr ? ::open(p.get(), flags, mode) : -1;
}

extern "C" int s_stat(const char* path, struct stat* buf, bool adjust) {
  AdjustedPath p(path, adjust);
  return p.get() != nullptr ? ::stat(p.get(), buf) : -1;
}

extern "C" int s_lstat(const char* path, struct stat* buf, bool adjust) {
  AdjustedPath p(path, adjust);
  return p.get() != nullptr ? ::lstat(p.get(), buf) : -1;
}

extern "C" DIR* s_opendir(const char* path, bool adjust) {
  AdjustedPath p(path, adjust);
  return p.get() != nullptr ? ::opendir(p.get()) : nullptr;
}

extern "C" int s_rename(const char* from, const char* to) {
  AdjustedPath a(from);
  AdjustedPath b(to);
  if (a.get() == nullptr || b.get() == nullptr) return -1;
  return std::rename(a.get(), b.get());
}

extern "C" int s_chmod(const char* path, mode_t mode) {
  AdjustedPath p(path);
  return p.get() != nullptr ? ::chmod(p.get(), mode) : -1;
}

extern "C" int s_chown(const char* path, uid_t uid, gid_t gid) {
  AdjustedPath p(path);
  return p.get() != nullptr ? ::chown(p.get(), uid, gid) : -1;
}

extern "C" int s_mkdir(const char* path, mode_t mode) {
  AdjustedPath p(path);
  return p.get() != nullptr ? ::mkdir(p.get(), mode) : -1;
}

extern "C" int s_access(const char* path, int mode) {
  AdjustedPath p(path);
  return p.get() != nullptr ? ::access(p.get(), mode) : -1;
}

extern "C" int s_unlink(const char* path) {
  AdjustedPath p(path);
  return p.get() != nullptr ? ::unlink(p.get()) : -1;
}

namespace {

int makeLink(const char* target, const char* link, bool symbolic) {
  struct stat st;
  if (target == nullptr || s_stat(target, &st, true) != 0) {
    log(errno, "Unable to stat(%s) target for link", target != nullptr ? target : "(null)");
    return -1;
  }
  AdjustedPath l(link);
  // A hard link names an existing file, which lies under the prefix like any
  // other; a symbolic link keeps its text as given.
  AdjustedPath t(target, !symbolic);
  int rv = l.get() == nullptr || t.get() == nullptr ? -1
           : symbolic                               ? ::symlink(target, l.get())
                                                    : ::link(t.get(), l.get());
  if (rv != 0) {
    log(errno, "Unable to create link target: %s link: %s", target, link != nullptr ? link : "(null)");
    return -1;
  }
  return 0;
}

}  // namespace

extern "C" int s_link(const char* target, const char* link) { return makeLink(target, link, false); }
extern "C" int s_symlink(const char* target, const char* link) { return makeLink(target, link, true); }

extern "C" int s_setTLM(const char* path, long long msec) {
  AdjustedPath p(path);
  if (p.get() == nullptr) return -1;
  struct timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT;  // keep the access time
  long long sec = msec / 1000;
  long long rem = msec % 1000;
  if (rem < 0) {
    rem += 1000;
    sec -= 1;
  }
  times[1].tv_sec = static_cast<time_t>(sec);
  times[1].tv_nsec = static_cast<long>(rem * 1000000);
  return ::utimensat(AT_FDCWD, p.get(), times, 0) == 0 ? 0 : -1;
}
