// Facts about the machine and small wrappers over the C library's
// non-reentrant or awkward calls. Thread-safe unless noted.
#pragma once

#include <cstddef>
#include <cstdint>
#include <dirent.h>
#include <netdb.h>
#include <netinet/in.h>

// Sizes of the text fields filled by s_get_os_info, NUL included.
inline constexpr size_t kOsNameSize = 65;          // the uname fields
inline constexpr size_t kDistributionSize = 81;

// One mounted file system, from /etc/mtab, sizes in kilobytes.
struct FsStat {
  char* device;
  char* mountPoint;
  char* type;
  long long totalKb;
  long long freeKb;
  long long availableKb;
  long long files;
  long long freeFiles;
  FsStat* next;
};

extern "C" {
// Fills the four uname texts (kOsNameSize bytes each), the distribution
// (kDistributionSize bytes: the first line of /etc/redhat-release, else the
// DISTRIB_DESCRIPTION of /etc/lsb-release without its quotes, else ""), the
// physical memory in bytes, the boot time in seconds since the epoch (0 when
// unknown) and the configured processors. Any pointer may be null. 0, or -1
// when uname fails.
int s_get_os_info(char* sysname, char* release, char* version, char* machine, char* distribution,
                  long long* memory, long long* bootTime, int* cpus);

// The mounted file systems in /etc/mtab order, or null when none can be read.
// Free the list with s_free_fsstat.
FsStat* s_getfsstat();
void s_free_fsstat(FsStat* list);
// True for the types whose names begin with "ext" or "hfs", and for "nfs".
bool s_fsOk(const char* type);

// Copies the next entry of `dir` into *entry; *result is entry, or null at the
// end. 0, or an errno value.
int s_readdir_r(DIR* dir, struct dirent* entry, struct dirent** result);
// Adds O_NONBLOCK to the descriptor's flags. 0 or -1.
int s_setnonblocking(int fd);
// "%u.%u.%u.%u" of an address in network byte order; returns dst.
char* s_inet_ntoa(char* dst, size_t len, struct in_addr addr);
// The host name, lower-cased. 0 or -1.
int s_gethostname(char* name, size_t len);
// Reentrant look-ups; the result's pointers point into `buf`. Null when not
// found or when `buf` is too small.
struct servent* s_getservbyname(const char* name, const char* proto, struct servent* result, char* buf,
                                size_t len);
struct hostent* s_gethostbyname(const char* name, struct hostent* result, char* buf, size_t len);
// Creates and opens a temporary file from "/tmp/orvanex.XXXXXXXX"; writes its
// name into `buf` (at least 22 bytes) and returns the descriptor, or -1.
int s_mkstemp(char* buf);
// The text of `err` in `dst`; returns dst.
char* s_strerror(int err, char* dst, size_t len);
int s_getSocketErrno();
// Always "text/text"; returns dst.
char* s_getFileKind(char* dst, size_t len);
// Seconds to milliseconds.
long long s_fixFileTime(long long seconds);
}
