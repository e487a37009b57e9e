#include "foundation/os_info.h"

#include <cctype>
#include <cstddef>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mntent.h>
#include <sys/statfs.h>
#include <sys/utsname.h>
#include <unistd.h>

namespace {

// Copies what fits; the fields are documented as cut to their size.
void copyText(char* dst, size_t size, const char* src) {
  if (dst == nullptr || size == 0) return;
  size_t n = strnlen(src, size - 1);
  std::memcpy(dst, src, n);
  dst[n] = '\0';
}

void stripLineEnd(char* s) { s[std::strcspn(s, "\r\n")] = '\0'; }

void readDistribution(char* dst) {
  dst[0] = '\0';
  char line[1024];
  if (FILE* f = std::fopen("/etc/redhat-release", "r")) {
    if (std::fgets(line, sizeof(line), f) != nullptr) {
      stripLineEnd(line);
      copyText(dst, kDistributionSize, line);
    }
    std::fclose(f);
    if (dst[0] != '\0') return;
  }
  if (FILE* f = std::fopen("/etc/lsb-release", "r")) {
    static const char kKey[] = "DISTRIB_DESCRIPTION=";
    while (std::fgets(line, sizeof(line), f) != nullptr) {
      if (std::strncmp(line, kKey, sizeof(kKey) - 1) != 0) continue;
      stripLineEnd(line);
      char* v = line + sizeof(kKey) - 1;
      size_t n = std::strlen(v);
      if (n >= 2 && v[0] == '"' && v[n - 1] == '"') {
        v[n - 1] = '\0';
        v++;
      }
      copyText(dst, kDistributionSize, v);
      break;
    }
    std::fclose(f);
  }
}

long long readBootTime() {
  long long boot = 0;
  if (FILE* f = std::fopen("/proc/stat", "r")) {
    char line[512];
    while (std::fgets(line, sizeof(line), f) != nullptr) {
      if (std::strncmp(line, "btime ", 6) == 0) {
        boot = std::atoll(line + 6);
        break;
      }
    }
    std::fclose(f);
  }
  return boot;
}

char* dupText(const char* s) { return strdup(s != nullptr ? s : ""); }

}  // namespace

extern "C" int s_get_os_info(char* sysname, char* release, char* version, char* machine, char* distribution,
                             long long* memory, long long* bootTime, int* cpus) {
  struct utsname u;
  if (::uname(&u) != 0) return -1;
  copyText(sysname, kOsNameSize, u.sysname);
  copyText(release, kOsNameSize, u.release);
  copyText(version, kOsNameSize, u.version);
  copyText(machine, kOsNameSize, u.machine);
  if (distribution != nullptr) readDistribution(distribution);
  if (memory != nullptr) {
    long pages = ::sysconf(_SC_PHYS_PAGES);
    long size = ::sysconf(_SC_PAGESIZE);
    *memory = pages > 0 && size > 0 ? static_cast<long long>(pages) * size : 0;
  }
  if (bootTime != nullptr) *bootTime = readBootTime();
  if (cpus != nullptr) *cpus = static_cast<int>(::sysconf(_SC_NPROCESSORS_CONF));
  return 0;
}

extern "C" FsStat* s_getfsstat() {
  FILE* f = ::setmntent("/etc/mtab", "r");
  if (f == nullptr) return nullptr;
  FsStat* head = nullptr;
  FsStat** tail = &head;
  struct mntent entry;
  char buf[4096];
  while (::getmntent_r(f, &entry, buf, sizeof(buf)) != nullptr) {
    auto* s = static_cast<FsStat*>(std::calloc(1, sizeof(FsStat)));
    if (s == nullptr) break;
    s->device = dupText(entry.mnt_fsname);
    s->mountPoint = dupText(entry.mnt_dir);
    s->type = dupText(entry.mnt_type);
    struct statfs64 sf;
    if (::statfs64(entry.mnt_dir, &sf) == 0) {
      long long unit = static_cast<long long>(sf.f_bsize) / 1024;
      if (unit == 0) {
        // Blocks smaller than a kilobyte: scale without losing them to zero.
        s->totalKb = static_cast<long long>(sf.f_blocks) * sf.f_bsize / 1024;
        s->freeKb = static_cast<long long>(sf.f_bfree) * sf.f_bsize / 1024;
        s->availableKb = static_cast<long long>(sf.f_bavail) * sf.f_bsize / 1024;
      } else {
        s->totalKb = unit * static_cast<long long>(sf.f_blocks);
        s->freeKb = unit * static_cast<long long>(sf.f_bfree);
        s->availableKb = unit * static_cast<long long>(sf.f_bavail);
      }
      s->files = static_cast<long long>(sf.f_files);
      s->freeFiles = static_cast<long long>(sf.f_ffree);
    }
    *tail = s;
    tail = &s->next;
  }
  ::endmntent(f);
  return head;
}

extern "C" void s_free_fsstat(FsStat* list) {
  while (list != nullptr) {
    FsStat* next = list->next;
    std::free(list->device);
    std::free(list->mountPoint);
    std::free(list->type);
    std::free(list);
    list = next;
  }
}

extern "C" bool s_fsOk(const char* type) {
  if (type == nullptr) return false;
  return std::strncmp(type, "ext", 3) == 0 || std::strncmp(type, "hfs", 3) == 0 || std::strcmp(type, "nfs") == 0;
}

extern "C" int s_readdir_r(DIR* dir, struct dirent* entry, struct dirent** result) {
  // readdir on a stream that only this caller reads is thread-safe in glibc;
  // readdir_r is deprecated and can overrun for long names.
  errno = 0;
  struct dirent* e = ::readdir(dir);
  if (e == nullptr) {
    *result = nullptr;
    return errno;
  }
  // The entry in the stream's buffer may be shorter than a struct dirent:
  // copy the fixed part and the name only.
  size_t nameLen = strnlen(e->d_name, sizeof(entry->d_name) - 1);
  std::memcpy(entry, e, offsetof(struct dirent, d_name));
  std::memcpy(entry->d_name, e->d_name, nameLen);
  entry->d_name[nameLen] = '\0';
  *result = entry;
  return 0;
}

extern "C" int s_setnonblocking(int fd) {
  int flags = ::fcntl(fd, F_GETFL, 0);
  if (flags < 0) return -1;
  return ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0 ? -1 : 0;
}

extern "C" char* s_inet_ntoa(char* dst, size_t len, struct in_addr addr) {
  const auto* b = reinterpret_cast<const unsigned char*>(&addr.s_addr);
  std::snprintf(dst, len, "%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
  return dst;
}

extern "C" int s_gethostname(char* name, size_t len) {
  if (name == nullptr || len == 0) return -1;
  if (::gethostname(name, len) != 0) return -1;
  name[len - 1] = '\0';
  for (char* p = name; *p; p++) *p = static_cast<char>(std::tolower(static_cast<unsigned char>(*p)));
  return 0;
}

extern "C" struct servent* s_getservbyname(const char* name, const char* proto, struct servent* result,
                                           char* buf, size_t len) {
  struct servent* out = nullptr;
  if (::getservbyname_r(name, proto, result, buf, len, &out) != 0) return nullptr;
  return out;
}

extern "C" struct hostent* s_gethostbyname(const char* name, struct hostent* result, char* buf, size_t len) {
  struct hostent* out = nullptr;
  int herr = 0;
  if (::gethostbyname_r(name, result, buf, len, &out, &herr) != 0) return nullptr;
  return out;
}

extern "C" int s_mkstemp(char* buf) {
  std::strcpy(buf, "/tmp/orvanex.XXXXXXXX");
  return ::mkstemp(buf);
}

extern "C" char* s_strerror(int err, char* dst, size_t len) {
  if (dst == nullptr || len == 0) return dst;
  // The GNU form may return a static text instead of filling dst.
  const char* text = ::strerror_r(err, dst, len);
  if (text != dst) std::snprintf(dst, len, "%s", text);
  return dst;
}

extern "C" int s_getSocketErrno() { return errno; }

extern "C" char* s_getFileKind(char* dst, size_t len) {
  std::snprintf(dst, len, "%s", "text/text");
  return dst;
}

extern "C" long long s_fixFileTime(long long seconds) { return seconds * 1000; }
