#include "foundation/creds.h"

#include <errno.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "foundation/creds_cache.h"
#include "foundation/creds_locks.h"
#include "foundation/creds_lookup.h"
#include "foundation/creds_protocol.h"
#include "foundation/log.h"
#include "foundation/settings.h"

struct CredPwEnum {
  std::vector<CredUserRecord> users;
  size_t next = 0;
};

struct CredGrEnum {
  std::vector<_CredCacheEntry*> groups;  // each holds a reference
  size_t next = 0;
};

namespace {

// The id of the enumerations in the lock table.
constexpr int kNoId = -2;
// How old the last all-groups fill may be before s_setgrent runs another.
constexpr time_t kGroupFillAgeSeconds = 200;

// Holds one reference on a cache entry.
class EntryRef {
 public:
  EntryRef() = default;
  explicit EntryRef(_CredCacheEntry* e) : e_(e) {}
  ~EntryRef() { unlockCredsCache(e_); }
  EntryRef(const EntryRef&) = delete;
  EntryRef& operator=(const EntryRef&) = delete;
  EntryRef(EntryRef&& o) noexcept : e_(o.e_) { o.e_ = nullptr; }
  EntryRef& operator=(EntryRef&& o) noexcept {
    if (this != &o) {
      unlockCredsCache(e_);
      e_ = o.e_;
      o.e_ = nullptr;
    }
    return *this;
  }
  [[nodiscard]] _CredCacheEntry* get() const { return e_; }
  _CredCacheEntry* operator->() const { return e_; }
  explicit operator bool() const { return e_ != nullptr; }

 private:
  _CredCacheEntry* e_ = nullptr;
};

// The frame of every single-answer look-up: a lock slot, the cache, a child
// when the cache has no answer, then the answer if it is a positive one.
// Logs the failure lines under `fn`.
EntryRef fetch(const char* fn, const char* name, int id, int op) {
  if (name != nullptr && strlen(name) > static_cast<size_t>(kCredMaxName)) {
    log(_debug_creds, LOG_WARNING, 0, 0, "Creds: %s, failed, name longer than %d characters", fn, kCredMaxName);
    return EntryRef();
  }
  const int slot = lockOrWait(name, id, op);
  _CredCacheEntry* ce = findCredsCache(credCacheNow(), name, id, op);
  if (ce == nullptr) {
    CredRequest req;
    req.op = op;
    if (name != nullptr) req.name = name;
    req.id = id;
    ce = lookup(slot, req, nullptr);
  }
  unlockCredSlot(slot);
  if (ce == nullptr) {
    log(_debug_creds, LOG_TRACE, 0, 0, "Creds: %s, failed, ce = NULL", fn);
    return EntryRef();
  }
  EntryRef ref(ce);
  if (ce->negative()) {
    log(_debug_creds, LOG_TRACE, 0, 0, "Creds: %s, failed, ce = %p, ce->_error = %d, ce->_noexist = %d", fn,
        static_cast<void*>(ce), ce->_error, ce->_noexist);
    return EntryRef();
  }
  return ref;
}

// Lays strings out one after the other in a caller's buffer.
class BufferFill {
 public:
  BufferFill(char* buf, size_t len) : buf_(buf), len_(buf == nullptr ? 0 : len) {}
  // The copy, or null when it does not fit.
  char* add(const std::string& s) {
    if (s.size() + 1 > len_ - used_) return nullptr;
    char* out = buf_ + used_;
    memcpy(out, s.data(), s.size());
    out[s.size()] = '\0';
    used_ += s.size() + 1;
    return out;
  }
  // Room for `n` pointers, aligned, or null.
  char** addPointers(size_t n) {
    const uintptr_t at = reinterpret_cast<uintptr_t>(buf_ + used_);
    const size_t pad = (alignof(char*) - at % alignof(char*)) % alignof(char*);
    const size_t need = pad + n * sizeof(char*);
    if (need > len_ - used_) return nullptr;
    auto** out = reinterpret_cast<char**>(buf_ + used_ + pad);
    used_ += need;
    return out;
  }

 private:
  char* buf_;
  size_t len_;
  size_t used_ = 0;
};

bool fillPasswd(const _CredCacheEntry* ce, struct passwd* pwd, char* buf, size_t buflen) {
  BufferFill fill(buf, buflen);
  char* name = fill.add(ce->name);
  char* dir = name == nullptr ? nullptr : fill.add(ce->dir);
  if (pwd == nullptr || dir == nullptr) {
    errno = ERANGE;
    return false;
  }
  char* empty = name + ce->name.size();
  pwd->pw_name = name;
  pwd->pw_passwd = empty;
  pwd->pw_uid = static_cast<uid_t>(ce->uid);
  pwd->pw_gid = static_cast<gid_t>(ce->gid);
  pwd->pw_gecos = empty;
  pwd->pw_dir = dir;
  pwd->pw_shell = empty;
  return true;
}

bool fillGroup(const std::string& groupName, int gid, struct group* grp, char* buf, size_t buflen) {
  BufferFill fill(buf, buflen);
  char* name = fill.add(groupName);
  char** members = name == nullptr ? nullptr : fill.addPointers(1);
  if (grp == nullptr || members == nullptr) {
    errno = ERANGE;
    return false;
  }
  members[0] = nullptr;
  grp->gr_name = name;
  grp->gr_passwd = name + groupName.size();
  grp->gr_gid = static_cast<gid_t>(gid);
  grp->gr_mem = members;
  return true;
}

int userLookup(const char* fn, const char* name, int id, int op, struct passwd* pwd, char* buf, size_t buflen,
               struct passwd** result) {
  if (result != nullptr) *result = nullptr;
  EntryRef ce = fetch(fn, name, id, op);
  if (!ce) return -1;
  if (!fillPasswd(ce.get(), pwd, buf, buflen)) {
    log(_debug_creds, LOG_TRACE, 0, 0, "Creds: %s, failed, buffer too small", fn);
    return -1;
  }
  if (result != nullptr) *result = pwd;
  log(_debug_creds, LOG_TRACE, 0, 0, "Creds: %s, succeeds", fn);
  return 0;
}

int groupLookup(const char* fn, const char* name, int id, int op, struct group* grp, char* buf, size_t buflen,
                struct group** result) {
  if (result != nullptr) *result = nullptr;
  EntryRef ce = fetch(fn, name, id, op);
  if (!ce) return -1;
  if (!fillGroup(ce->groupName, ce->gid, grp, buf, buflen)) {
    log(_debug_creds, LOG_TRACE, 0, 0, "Creds: %s, failed, buffer too small", fn);
    return -1;
  }
  if (result != nullptr) *result = grp;
  log(_debug_creds, LOG_TRACE, 0, 0, "Creds: %s, succeeds", fn);
  return 0;
}

int copyName(const std::string& name, char* dst, size_t len) {
  if (dst == nullptr || name.size() + 1 > len) return -1;
  memcpy(dst, name.data(), name.size());
  dst[name.size()] = '\0';
  return 0;
}

// A malloc'd copy, for the lists handed to C callers.
char* heapCopy(const std::string& s) {
  auto* out = static_cast<char*>(malloc(s.size() + 1));
  if (out == nullptr) return nullptr;
  memcpy(out, s.data(), s.size());
  out[s.size()] = '\0';
  return out;
}

// The group names of the gids: each group's name, or the gid in decimal.
char** groupNames(const std::vector<int>& gids) {
  auto** list = static_cast<char**>(calloc(gids.size() + 1, sizeof(char*)));
  if (list == nullptr) return nullptr;
  for (size_t i = 0; i < gids.size(); i++) {
    EntryRef ce = fetch("s_getgroupname", nullptr, gids[i], kCredGroupById);
    list[i] = heapCopy(ce ? ce->groupName : std::to_string(gids[i]));
    if (list[i] == nullptr) {
      s_free_grouplist(list);
      return nullptr;
    }
  }
  return list;
}

bool inList(char** list, const std::string& name) {
  for (char** p = list; p != nullptr && *p != nullptr; p++) {
    if (name == *p) return true;
  }
  return false;
}

// The groups named by auth_group_lock, split at commas and blanks.
std::vector<std::string> splitGroups(const std::string& text) {
  std::vector<std::string> out;
  size_t pos = 0;
  while (pos < text.size()) {
    const size_t start = text.find_first_not_of(", \t", pos);
    if (start == std::string::npos) break;
    size_t end = text.find_first_of(", \t", start);
    if (end == std::string::npos) end = text.size();
    out.push_back(text.substr(start, end - start));
    pos = end;
  }
  return out;
}

}  // namespace

extern "C" int s_getpwnam_r(const char* name, struct passwd* pwd, char* buf, size_t buflen, struct passwd** result) {
  log(_debug_creds, LOG_TRACE, 0, 0, "Creds: s_getpwnam_r, called, name = %s", name == nullptr ? "(null)" : name);
  if (name == nullptr) {
    if (result != nullptr) *result = nullptr;
    return -1;
  }
  return userLookup("s_getpwnam_r", name, -1, kCredUserByName, pwd, buf, buflen, result);
}

extern "C" int s_getpwuid_r(uid_t uid, struct passwd* pwd, char* buf, size_t buflen, struct passwd** result) {
  log(_debug_creds, LOG_TRACE, 0, 0, "Creds: s_getpwuid_r, called, uid = %d", static_cast<int>(uid));
  return userLookup("s_getpwuid_r", nullptr, static_cast<int>(uid), kCredUserById, pwd, buf, buflen, result);
}

extern "C" int s_getgrnam_r(const char* name, struct group* grp, char* buf, size_t buflen, struct group** result) {
  log(_debug_creds, LOG_TRACE, 0, 0, "Creds: s_getgrnam_r, called, name = %s", name == nullptr ? "(null)" : name);
  if (name == nullptr) {
    if (result != nullptr) *result = nullptr;
    return -1;
  }
  return groupLookup("s_getgrnam_r", name, -1, kCredGroupByName, grp, buf, buflen, result);
}

extern "C" int s_getgrgid_r(gid_t gid, struct group* grp, char* buf, size_t buflen, struct group** result) {
  log(_debug_creds, LOG_TRACE, 0, 0, "Creds: s_getgrgid_r, called, gid = %d", static_cast<int>(gid));
  return groupLookup("s_getgrgid_r", nullptr, static_cast<int>(gid), kCredGroupById, grp, buf, buflen, result);
}

extern "C" int s_get_uid(const char* name) {
  log(_debug_creds, LOG_TRACE, 0, 0, "Creds: s_get_uid, called, user = %s", name == nullptr ? "(null)" : name);
  if (name == nullptr) return -1;
  EntryRef ce = fetch("s_get_uid", name, -1, kCredUserByName);
  if (!ce) return -1;
  log(_debug_creds, LOG_TRACE, 0, 0, "Creds: s_get_uid, returning, id = %d", ce->uid);
  return ce->uid;
}

extern "C" int s_get_gid(const char* groupName) {
  log(_debug_creds, LOG_TRACE, 0, 0, "Creds: s_get_gid, called, group = %s",
      groupName == nullptr ? "(null)" : groupName);
  if (groupName == nullptr) return -1;
  EntryRef ce = fetch("s_get_gid", groupName, -1, kCredGroupByName);
  if (!ce) return -1;
  log(_debug_creds, LOG_TRACE, 0, 0, "Creds: s_get_gid, returning, id = %d", ce->gid);
  return ce->gid;
}

extern "C" int s_getusername(uid_t uid, char* dst, size_t len) {
  log(_debug_creds, LOG_TRACE, 0, 0, "Creds: s_getusername, called, uid = %d", static_cast<int>(uid));
  EntryRef ce = fetch("s_getusername", nullptr, static_cast<int>(uid), kCredUserById);
  if (!ce) return -1;
  if (copyName(ce->name, dst, len) != 0) {
    log(_debug_creds, LOG_TRACE, 0, 0, "Creds: s_getusername, failed, name longer than the buffer");
    return -1;
  }
  log(_debug_creds, LOG_TRACE, 0, 0, "Creds: s_getusername, succeeds");
  return 0;
}

extern "C" int s_getgroupname(gid_t gid, char* dst, size_t len) {
  log(_debug_creds, LOG_TRACE, 0, 0, "Creds: s_getgroupname, called, gid = %d", static_cast<int>(gid));
  EntryRef ce = fetch("s_getgroupname", nullptr, static_cast<int>(gid), kCredGroupById);
  if (!ce) return -1;
  if (copyName(ce->groupName, dst, len) != 0) {
    log(_debug_creds, LOG_TRACE, 0, 0, "Creds: s_getgroupname, failed, name longer than the buffer");
    return -1;
  }
  log(_debug_creds, LOG_TRACE, 0, 0, "Creds: s_getgroupname, succeeds");
  return 0;
}

extern "C" int s_getgroups(uid_t uid, int* gids, int* n) {
  log(_debug_creds, LOG_TRACE, 0, 0, "Creds: s_getgroups, called, uid = %d", static_cast<int>(uid));
  if (gids == nullptr || n == nullptr) return -1;
  EntryRef ce = fetch("s_getgroups", nullptr, static_cast<int>(uid), kCredUserById);
  if (!ce) return -1;
  const int count = *n < ce->ngroups ? std::max(*n, 0) : ce->ngroups;
  for (int i = 0; i < count; i++) gids[i] = ce->groups[static_cast<size_t>(i)];
  *n = count;
  log(_debug_creds, LOG_TRACE, 0, 0, "Creds: s_getgroups, succeeds, n = %d", count);
  return 0;
}

extern "C" int s_getgrouplist(const char* name, char*** list) {
  log(_debug_creds, LOG_TRACE, 0, 0, "Creds: s_getgrouplist, called, user = %s", name == nullptr ? "(null)" : name);
  if (name == nullptr || list == nullptr) return -1;
  std::vector<int> gids;
  {
    EntryRef ce = fetch("s_getgrouplist", name, -1, kCredUserByName);
    if (!ce) return -1;
    gids = ce->groups;
  }
  // Each group is its own look-up with its own slot: the user's slot is
  // released by now, and no slot is ever held while another is taken.
  char** names = groupNames(gids);
  if (names == nullptr) {
    log(_debug_creds, LOG_WARNING, ENOMEM, 0, "Creds: s_getgrouplist, failed");
    return -1;
  }
  *list = names;
  log(_debug_creds, LOG_TRACE, 0, 0, "Creds: s_getgrouplist, succeeds, n = %d", static_cast<int>(gids.size()));
  return 0;
}

extern "C" void s_free_grouplist(char** list) {
  if (list == nullptr) return;
  for (char** p = list; *p != nullptr; p++) free(*p);
  free(list);
}

int s_gethostbyname(const char* name, int* addr) {
  log(_debug_creds, LOG_TRACE, 0, 0, "Creds: s_gethostbyname, called, host = %s", name == nullptr ? "(null)" : name);
  if (name == nullptr || addr == nullptr) return -1;
  EntryRef ce = fetch("s_gethostbyname", name, -1, kCredHostByName);
  if (!ce) return -1;
  *addr = ce->uid;
  log(_debug_creds, LOG_TRACE, 0, 0, "Creds: s_gethostbyname, succeeds");
  return 0;
}

extern "C" int s_setpwent(struct CredPwEnum** handle) {
  log(_debug_creds, LOG_TRACE, 0, 0, "Creds: s_setpwent, called");
  if (handle == nullptr) return -1;
  auto e = std::make_unique<CredPwEnum>();
  const int slot = lockOrWait(nullptr, kNoId, kCredAllUsers);
  const bool ok = lookupAllUsers(slot, &e->users);
  unlockCredSlot(slot);
  if (!ok) {
    log(_debug_creds, LOG_TRACE, 0, 0, "Creds: s_setpwent, failed");
    return -1;
  }
  log(_debug_creds, LOG_TRACE, 0, 0, "Creds: s_setpwent, succeeds, n = %d", static_cast<int>(e->users.size()));
  *handle = e.release();
  return 0;
}

extern "C" int s_getpwent_r(struct CredPwEnum* handle, struct passwd* pwd, char* buf, size_t buflen) {
  if (handle == nullptr || pwd == nullptr || handle->next >= handle->users.size()) return -1;
  const CredUserRecord& u = handle->users[handle->next];
  BufferFill fill(buf, buflen);
  char* name = fill.add(u.name);
  if (name == nullptr) {
    errno = ERANGE;
    return -1;
  }
  char* empty = name + u.name.size();
  pwd->pw_name = name;
  pwd->pw_passwd = empty;
  pwd->pw_uid = static_cast<uid_t>(u.uid);
  pwd->pw_gid = static_cast<gid_t>(u.gid);
  pwd->pw_gecos = empty;
  pwd->pw_dir = empty;
  pwd->pw_shell = empty;
  handle->next++;
  return 0;
}

extern "C" void s_endpwent(struct CredPwEnum* handle) { delete handle; }

extern "C" int s_setgrent(struct CredGrEnum** handle) {
  log(_debug_creds, LOG_TRACE, 0, 0, "Creds: s_setgrent, called");
  if (handle == nullptr) return -1;
  if (credGroupsFillDue(credCacheNow(), kGroupFillAgeSeconds)) {
    const int slot = lockOrWait(nullptr, kNoId, kCredAllGroups);
    bool ok = true;
    // A thread that filled the cache while this one waited for the slot
    // spares it the child.
    const time_t now = credCacheNow();
    if (credGroupsFillDue(now, kGroupFillAgeSeconds)) {
      ok = lookupAllGroups(slot);
      if (ok) markCredGroupsFilled(now);
    }
    unlockCredSlot(slot);
    if (!ok) {
      log(_debug_creds, LOG_TRACE, 0, 0, "Creds: s_setgrent, failed");
      return -1;
    }
  }
  auto e = std::make_unique<CredGrEnum>();
  e->groups = collectCredGroups(credCacheNow());
  log(_debug_creds, LOG_TRACE, 0, 0, "Creds: s_setgrent, succeeds, n = %d", static_cast<int>(e->groups.size()));
  *handle = e.release();
  return 0;
}

extern "C" int s_getgrent_r(struct CredGrEnum* handle, struct group* grp, char* buf, size_t buflen) {
  if (handle == nullptr || grp == nullptr || handle->next >= handle->groups.size()) return 0;
  const _CredCacheEntry* ce = handle->groups[handle->next];
  if (!fillGroup(ce->groupName, ce->gid, grp, buf, buflen)) return -1;
  handle->next++;
  return 1;
}

extern "C" void s_endgrent(struct CredGrEnum* handle) {
  if (handle == nullptr) return;
  for (_CredCacheEntry* e : handle->groups) unlockCredsCache(e);
  delete handle;
}

extern "C" char** s_verify_login(const char* service, const char* user, const char* domain, const char* password,
                                 int accessOnly) {
  (void)domain;
  const char* svc = service != nullptr && *service != '\0' ? service : "login";
  log(_debug_creds, LOG_TRACE, 0, 0, "Creds: s_verify_login, user = %s, service = %s",
      user == nullptr ? "(null)" : user, svc);
  if (user == nullptr || strlen(user) > static_cast<size_t>(kCredMaxName) || strlen(svc) > static_cast<size_t>(kCredMaxName)) {
    log(_debug_creds, LOG_TRACE, 0, 0, "Creds: s_verify_login, fails");
    return nullptr;
  }
  CredRequest req;
  req.op = kCredVerifyLogin;
  req.name = user;
  req.service = svc;
  req.accessOnly = accessOnly;
  req.id = -1;
  const int slot = lockOrWait(user, -1, kCredVerifyLogin);
  EntryRef ce(lookup(slot, req, password));
  unlockCredSlot(slot);
  if (!ce) {
    log(_debug_creds, LOG_TRACE, 0, 0, "Creds: s_verify_login, failed, ce = %p", static_cast<void*>(ce.get()));
    log(_debug_creds, LOG_TRACE, 0, 0, "Creds: s_verify_login, fails");
    return nullptr;
  }
  if (ce->negative()) {
    log(_debug_creds, LOG_TRACE, 0, 0, "Creds: s_verify_login, failed, ce = %p, ce->_error = %d, ce->_noexist = %d",
        static_cast<void*>(ce.get()), ce->_error, ce->_noexist);
    log(_debug_creds, LOG_TRACE, 0, 0, "Creds: s_verify_login, fails");
    return nullptr;
  }
  ce = EntryRef();
  char** groups = nullptr;
  if (s_getgrouplist(user, &groups) != 0) {
    log(_debug_creds, LOG_TRACE, 0, 0, "Creds: s_verify_login, fails");
    return nullptr;
  }
  if (_debug_creds == 1) {
    log(_debug_creds, LOG_TRACE, 0, 0, "Creds: s_verify_login, succeeds. Groups: ");
    for (char** p = groups; *p != nullptr; p++) log(_debug_creds, LOG_TRACE, 0, 0, "    %s", *p);
  }
  const std::optional<std::string> lock = authGroupLock();
  if (!lock) return groups;
  log(_debug_creds, LOG_TRACE, 0, 0, "Creds: s_verify_login, auth_group_lock in place");
  for (const std::string& g : splitGroups(*lock)) {
    log(_debug_creds, LOG_TRACE, 0, 0, "Creds: s_verify_login, testing for membership in group '%s'", g.c_str());
    if (inList(groups, g)) {
      log(_debug_creds, LOG_TRACE, 0, 0, "Creds: s_verify_login, group found");
      return groups;
    }
  }
  log(_debug_creds, LOG_WARNING, 0, 0,
      "Creds: s_verify_login, user is not a member of the required group(s) (see auth_group_lock in "
      "orvanex.properties)");
  s_free_grouplist(groups);
  return nullptr;
}

extern "C" int s_verify_admin_user(const char* service, const char* user, const char* password) {
  log(_debug_creds, LOG_TRACE, 0, 0, "Creds: s_verify_admin_user, user = %s, service = %s",
      user == nullptr ? "(null)" : user, service == nullptr ? "(null)" : service);
  const char* who = user == nullptr ? "(null)" : user;
  char** groups = s_verify_login(service, user, "LOCAL", password, 0);
  if (groups == nullptr) {
    log(0, "Sorry, %s is not admin user", who);
    return 0;
  }
  s_free_grouplist(groups);
  if (strcmp(user, "root") == 0) return 1;
  const uid_t euid = geteuid();
  if (euid == 0) {
    log(_debug_creds, LOG_TRACE, 0, 0, "Creds: s_verify_admin_user, fails.  User authenticated but is not root");
    log(0, "Sorry, %s is not admin user", who);
    return 0;
  }
  struct passwd pw;
  struct passwd* result = nullptr;
  std::vector<char> buf(2 * static_cast<size_t>(kCredMaxText) + 16);
  errno = 0;
  if (s_getpwuid_r(euid, &pw, buf.data(), buf.size(), &result) != 0 || result == nullptr) {
    const int err = errno;
    log(_debug_creds, LOG_WARNING, err, 0, "Creds: s_getpwuid_r failed while validating user");
    return 0;
  }
  if (strcmp(pw.pw_name, user) == 0) return 1;
  log(0, "Sorry, %s is not admin user", who);
  return 0;
}
