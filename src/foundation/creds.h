// Unix credentials: every user, group and host-name look-up of the process,
// and every password check. None runs in the process itself: a look-up the
// cache cannot answer forks a short-lived child that re-executes the host
// program with "-testcred" (see creds_child.h), so a name service that hangs
// or crashes cannot take the agent down; a watchdog kills children that hang.
// Answers are cached for five minutes (creds_cache.h).
//
// Thread-safe: every function may be called from any thread and may block
// for the life of a child process (bounded by the watchdog). Unless stated,
// functions return 0 on success and -1 on failure, and write their outputs
// only on success.
#pragma once

#include <grp.h>
#include <pwd.h>
#include <stddef.h>
#include <sys/types.h>

// Enumeration snapshots (opaque).
struct CredPwEnum;
struct CredGrEnum;

extern "C" {

// The user by name or uid: fills pw_name, pw_uid, pw_gid and pw_dir, copying
// the strings one after the other into `buf` (pw_passwd, pw_gecos and
// pw_shell point at an empty string there), and sets *result to `pwd`. As in
// the C library, *result is null after a failure; a `buf` too small for the
// strings fails with errno ERANGE.
int s_getpwnam_r(const char* name, struct passwd* pwd, char* buf, size_t buflen, struct passwd** result);
int s_getpwuid_r(uid_t uid, struct passwd* pwd, char* buf, size_t buflen, struct passwd** result);

// The group by name or gid: fills gr_name and gr_gid (gr_passwd is empty and
// gr_mem an empty list, both in `buf`). As above.
int s_getgrnam_r(const char* name, struct group* grp, char* buf, size_t buflen, struct group** result);
int s_getgrgid_r(gid_t gid, struct group* grp, char* buf, size_t buflen, struct group** result);

// The uid of a user, the gid of a group, or -1.
int s_get_uid(const char* name);
int s_get_gid(const char* groupName);

// Copies the name of a user or group into `dst` (with its terminator, which
// must fit in `len` bytes: a name that does not fit fails, it is never cut).
int s_getusername(uid_t uid, char* dst, size_t len);
int s_getgroupname(gid_t gid, char* dst, size_t len);

// Copies at most *n supplementary gids of the user into `gids` and sets *n to
// the number copied. -1 when either pointer is null or the user is unknown.
int s_getgroups(uid_t uid, int* gids, int* n);

// A newly allocated, null-terminated array of the names of the user's groups;
// a gid whose group cannot be found is listed as its decimal number. Free it
// with s_free_grouplist.
int s_getgrouplist(const char* name, char*** list);
void s_free_grouplist(char** list);

// Snapshots of every user (taken by a child) and of every group (the cache,
// refilled by a child when the last fill is more than 200 seconds old).
// s_getpwent_r fills pw_name, pw_uid and pw_gid (strings in `buf`) and
// returns 0, or -1 at the end; s_getgrent_r fills gr_name and gr_gid and
// returns 1 while it yields a group, 0 at the end. Either returns -1 with
// errno ERANGE, without moving on, when `buf` is too small.
int s_setpwent(struct CredPwEnum** handle);
int s_getpwent_r(struct CredPwEnum* handle, struct passwd* pwd, char* buf, size_t buflen);
void s_endpwent(struct CredPwEnum* handle);
int s_setgrent(struct CredGrEnum** handle);
int s_getgrent_r(struct CredGrEnum* handle, struct group* grp, char* buf, size_t buflen);
void s_endgrent(struct CredGrEnum* handle);

// Checks the password (or, with `accessOnly`, only the account) through PAM
// in a child, every time, and returns the user's group names as
// s_getgrouplist does, or null on failure. A null or empty service means
// "login"; the domain is not used. With auth_group_lock set, the user must
// also be a member of one of the groups it names.
char** s_verify_login(const char* service, const char* user, const char* domain, const char* password,
                      int accessOnly);

// 1 when the login succeeds and the user is an administrator: "root", or,
// in a process that does not run as root, the user the process runs as.
// Else 0.
int s_verify_admin_user(const char* service, const char* user, const char* password);

}  // extern "C"

// The first IPv4 address of the host (network order) into *addr. (The C
// name s_gethostbyname belongs to the re-entrant resolver of the OS layer,
// which this overload sits beside.)
int s_gethostbyname(const char* name, int* addr);
