// The change-root prefix and the file functions that honour it. When a
// prefix is set, every absolute path handed to these functions is rewritten to
// lie under it; a path that would not fit the caller's buffer is refused with
// ENAMETOOLONG, never cut into a different path.
//
// Thread-safety: set the prefix once at start-up, before other threads use
// these functions; the functions themselves are thread-safe.
#pragma once

#include <cstddef>
#include <cstdio>
#include <dirent.h>
#include <sys/stat.h>
#include <sys/types.h>

// The size of every path buffer of this layer, terminating NUL included.
inline constexpr size_t kPathBufferSize = 4096;

extern "C" {
// Sets the prefix (trailing slashes removed); null or "" removes it. Returns
// 0, or -1 with errno ENAMETOOLONG when it does not fit (the old one stays).
int s_set_chroot_path(const char* path);
// The prefix, or null when none is set.
const char* s_get_chroot_path();

// With no prefix, or a relative `path`, returns `path` itself. Otherwise
// writes prefix + path into `buf` (any run of leading slashes counts as one)
// and returns `buf`. Returns null with errno ENAMETOOLONG when the result and
// its NUL do not fit in `len` bytes; `buf` is then left empty.
const char* s_adjust_path(char* buf, size_t len, const char* path);

// Reads HOME/security/chroot.conf under `root`: "name: value" lines, with
// comments ('#') and lines starting with '/' ignored. Copies the value of the
// key `name` into `dst` and returns 0; -1 when there is no such key, no file,
// or the value does not fit in `len` bytes (dst is then untouched).
int s_getchroot(char* dst, size_t len, const char* root, const char* name);

// The system calls of the same name, on the adjusted path. The ones with an
// `adjust` flag adjust only when it is true. A path that cannot be adjusted
// fails with ENAMETOOLONG as the system call would.
FILE* s_fopen(const char* path, const char* mode);
int s_open(const char* path, int flags, mode_t mode, bool adjust);
int s_stat(const char* path, struct stat* buf, bool adjust);
int s_lstat(const char* path, struct stat* buf, bool adjust);
DIR* s_opendir(const char* path, bool adjust);
int s_rename(const char* from, const char* to);
int s_chmod(const char* path, mode_t mode);
int s_chown(const char* path, uid_t uid, gid_t gid);
int s_mkdir(const char* path, mode_t mode);
int s_access(const char* path, int mode);
int s_unlink(const char* path);
// `target` must exist (checked with s_stat). A symbolic link keeps `target`'s
// text as given; a hard link's target is adjusted like any path. 0, or -1 on
// failure with a log line.
int s_link(const char* target, const char* link);
int s_symlink(const char* target, const char* link);
// Sets the modification time to `msec` milliseconds since the epoch, keeping
// the access time. 0 or -1.
int s_setTLM(const char* path, long long msec);

// Removes `path` and, for a directory, everything below it, depth first,
// without following symbolic links. Stops at the first failure. Returns 0, 23
// (not permitted), 15 (no such path) or 34 (any other failure).
int s_remove_path(const char* path);
// Gives `path` and everything below it to uid/gid, without following symbolic
// links (a link itself is re-owned). Codes as s_remove_path.
int s_chown_recursively(const char* path, uid_t uid, gid_t gid);
// The permission test of the file's mode bits for a user who is not
// necessarily the caller: 0 when `uid` (with group `gid` and the
// zero-terminated supplementary `groups`, may be null) may access `path` with
// `mode` (R_OK 4, W_OK 2, X_OK 1, or-ed), -1 otherwise or when the status
// call fails.
int s_access_as(const char* path, int mode, uid_t uid, gid_t gid, const gid_t* groups);
}
