// s_remove_path, s_chown_recursively and s_access_as (declared in os_path.h).
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include "foundation/log.h"
#include "foundation/os_path.h"

namespace {

constexpr int kNotPermitted = 23;
constexpr int kNoSuchPath = 15;
constexpr int kOtherFailure = 34;

int codeOf(int err) {
  if (err == EPERM || err == EACCES) return kNotPermitted;
  if (err == ENOENT) return kNoSuchPath;
  return kOtherFailure;
}

// Calls `leaf` for every entry below `dir` (depth first, children before
// their directory) and then for `dir` itself. Symbolic links are leaves: a
// walk never leaves the tree it was given.
template <typename Leaf, typename Dir>
int walk(char* path, size_t len, const struct stat& st, Leaf leaf, Dir dirDone) {
  if (!S_ISDIR(st.st_mode)) return leaf(path);
  DIR* d = ::opendir(path);
  if (d == nullptr) {
    int err = errno;
    log(err, "Unable to open directory %s", path);
    return codeOf(err);
  }
  size_t base = std::strlen(path);
  int rv = 0;
  errno = 0;
  while (struct dirent* e = ::readdir(d)) {
    if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
    size_t nameLen = std::strlen(e->d_name);
    if (base + 1 + nameLen + 1 > len) {
      // Refused rather than cut: a shortened name is a different file.
      path[base] = '\0';
      log(ENAMETOOLONG, "Unable to open directory %s", path);
      rv = kOtherFailure;
      break;
    }
    path[base] = '/';
    std::memcpy(path + base + 1, e->d_name, nameLen + 1);
    struct stat child;
    if (::lstat(path, &child) != 0) {
      int err = errno;
      rv = codeOf(err);
    } else {
      rv = walk(path, len, child, leaf, dirDone);
    }
    path[base] = '\0';
    if (rv != 0) break;
    errno = 0;
  }
  ::closedir(d);
  if (rv != 0) return rv;
  return dirDone(path);
}

template <typename Leaf, typename Dir>
int walkFrom(const char* start, Leaf leaf, Dir dirDone) {
  if (start == nullptr) return kNoSuchPath;
  char adjusted[kPathBufferSize];
  const char* p = s_adjust_path(adjusted, sizeof(adjusted), start);
  if (p == nullptr) {
    log(ENAMETOOLONG, "Unable to open directory %s", start);
    return kOtherFailure;
  }
  char path[kPathBufferSize];
  size_t n = std::strlen(p);
  if (n + 1 > sizeof(path)) return kOtherFailure;
  std::memcpy(path, p, n + 1);
  struct stat st;
  if (::lstat(path, &st) != 0) {
    int err = errno;
    return err == EEXIST ? kNoSuchPath : codeOf(err);
  }
  return walk(path, sizeof(path), st, leaf, dirDone);
}

}  // namespace

extern "C" int s_remove_path(const char* start) {
  return walkFrom(
      start,
      [](const char* file) {
        if (::unlink(file) == 0) return 0;
        int err = errno;
        log(err, "Unable to unlink (remove) file: %s", file);
        return codeOf(err);
      },
      [](const char* dir) {
        if (::rmdir(dir) == 0) return 0;
        int err = errno;
        log(err, "Unable to rmdir (remove) directory: %s", dir);
        return codeOf(err);
      });
}

extern "C" int s_chown_recursively(const char* start, uid_t uid, gid_t gid) {
  return walkFrom(
      start,
      [uid, gid](const char* file) {
        if (::lchown(file, uid, gid) == 0) return 0;
        int err = errno;
        log(err, "Unable to chown file: %s", file);
        return codeOf(err);
      },
      [uid, gid](const char* dir) {
        if (::lchown(dir, uid, gid) == 0) return 0;
        int err = errno;
        log(err, "Unable to chown directory: %s", dir);
        return codeOf(err);
      });
}

extern "C" int s_access_as(const char* path, int mode, uid_t uid, gid_t gid, const gid_t* groups) {
  struct stat st;
  if (s_stat(path, &st, true) != 0) return -1;
  if (uid == 0) return 0;
  unsigned want = static_cast<unsigned>(mode) & 7u;
  auto allows = [want](unsigned bits) { return (bits & want) == want; };
  if (allows(st.st_mode & 7u)) return 0;
  if (uid == st.st_uid && allows((st.st_mode >> 6) & 7u)) return 0;
  if (!allows((st.st_mode >> 3) & 7u)) return -1;
  if (st.st_gid == gid) return 0;
  for (const gid_t* g = groups; g != nullptr && *g != 0; g++) {
    if (*g == st.st_gid) return 0;
  }
  return -1;
}
