#include "foundation/creds_child.h"

#include <errno.h>
#include <fcntl.h>
#include <grp.h>
#include <netdb.h>
#include <pwd.h>
#include <security/pam_appl.h>
#include <signal.h>
#include <string.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "foundation/creds_protocol.h"

namespace {

// The largest buffer a look-up grows to when the name service answers ERANGE.
constexpr size_t kMaxNssBuffer = size_t{8} << 20;
// Room for supplementary groups at the first getgrouplist call.
constexpr int kFirstGroupRoom = 100;
// The largest argument list read back from /proc/self/cmdline.
constexpr size_t kMaxCmdline = 65536;

// The -debug_creds trace: appended to a file only this user owns. A fixed
// name in a shared directory is a classic target, so a link or a file of
// someone else's is refused rather than followed or written.
class CredTrace {
 public:
  CredTrace(bool on, const std::string& path) {
    if (!on || path.empty()) return;
    fd_ = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd_ < 0) return;
    struct stat st;
    if (fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != geteuid()) {
      close(fd_);
      fd_ = -1;
    }
  }
  ~CredTrace() {
    if (fd_ >= 0) close(fd_);
  }
  CredTrace(const CredTrace&) = delete;
  CredTrace& operator=(const CredTrace&) = delete;

  void line(const char* fmt, ...) __attribute__((format(printf, 2, 3))) {
    if (fd_ < 0) return;
    char buf[2048];
    va_list ap;
    va_start(ap, fmt);
    int n = vsnprintf(buf, sizeof(buf) - 1, fmt, ap);
    va_end(ap);
    if (n < 0) return;
    if (static_cast<size_t>(n) > sizeof(buf) - 2) n = sizeof(buf) - 2;
    buf[n++] = '\n';
    ssize_t ignored = write(fd_, buf, static_cast<size_t>(n));
    (void)ignored;
  }

 private:
  int fd_ = -1;
};

bool isRange(int rc) { return rc == ERANGE || (rc < 0 && errno == ERANGE); }

// The codes by which the C library's look-ups say "no such entry".
bool isNotFound(int rc) {
  if (rc < 0) rc = errno;
  return rc == 0 || rc == ENOENT || rc == ESRCH || rc == EBADF || rc == EPERM;
}

size_t firstBufferSize(int configured, int sysconfName) {
  if (configured > 0) return std::min(static_cast<size_t>(configured), kMaxNssBuffer);
  const long suggested = sysconf(sysconfName);
  if (suggested <= 0) return 4096;
  return std::min(static_cast<size_t>(suggested), kMaxNssBuffer);
}

// Doubles `buf` for another try; false when it is already at the limit.
bool grow(std::vector<char>* buf) {
  if (buf->size() >= kMaxNssBuffer) return false;
  buf->assign(std::min(buf->size() * 2, kMaxNssBuffer), '\0');
  return true;
}

// The conversation of a login: every hidden prompt that asks for the
// password ("Passw...") gets a copy of it; other prompts get no answer.
int conversation(int n, const struct pam_message** msg, struct pam_response** resp, void* appdata) {
  if (n <= 0 || n > PAM_MAX_NUM_MSG || msg == nullptr || resp == nullptr) return PAM_CONV_ERR;
  const char* password = static_cast<const char*>(appdata);
  auto* answers = static_cast<struct pam_response*>(calloc(static_cast<size_t>(n), sizeof(struct pam_response)));
  if (answers == nullptr) return PAM_BUF_ERR;
  for (int i = 0; i < n; i++) {
    const struct pam_message* m = msg[i];
    if (m == nullptr || m->msg_style != PAM_PROMPT_ECHO_OFF || m->msg == nullptr || strncmp(m->msg, "Passw", 5) != 0) {
      continue;
    }
    answers[i].resp = strdup(password);
    if (answers[i].resp == nullptr) {
      for (int j = 0; j < i; j++) {
        if (answers[j].resp != nullptr) {
          explicit_bzero(answers[j].resp, strlen(answers[j].resp));
          free(answers[j].resp);
        }
      }
      free(answers);
      return PAM_BUF_ERR;
    }
  }
  *resp = answers;
  return PAM_SUCCESS;
}

class Child {
 public:
  Child(int outFd, const CredChildOptions& options) : out_(outFd), opt_(options), trace_(options.debug, options.tracePath) {}

  int run(int inFd) {
    trace_.line("----\nSession started");
    trace_.line("nss_workaround = %d, bufsize = %d", opt_.nssWorkaround ? 1 : 0, opt_.bufsize);
    CredFdReader in(inFd, 0);
    CredRequest req;
    // The largest password and its terminator.
    CredSecretBuffer password(kCredMaxPassword + 1);
    if (!readCredRequest(in, &req, &password)) {
      trace_.line("bad or short request");
      return 11;
    }
    trace_.line("op = %d", req.op);
    if (!req.name.empty()) trace_.line("name = %s", req.name.c_str());
    switch (req.op) {
      case kCredVerifyLogin: {
        const std::string service = req.service.empty() ? std::string("login") : req.service;
        trace_.line("service = %s, access only = %d", service.c_str(), req.accessOnly);
        const int code = verify(req, service, password.data());
        password.wipe();
        if (code != kCredFound) return reply(out_.putInt(code));
        return user(kCredUserByName, req);
      }
      case kCredUserById:
      case kCredUserByName:
        return user(req.op, req);
      case kCredGroupById:
      case kCredGroupByName:
        return group(req);
      case kCredAllGroups:
        return allGroups();
      case kCredAllUsers:
        return allUsers();
      case kCredHostByName:
        return host(req);
      default:
        return 11;
    }
  }

 private:
  // The status for the end of an answer.
  int reply(bool ok) {
    if (ok && out_.flush()) return 0;
    trace_.line("write failed");
    return 1;
  }

  // PAM: kCredFound, kCredPamRefused or kCredPamStartFailed.
  int verify(const CredRequest& req, const std::string& service, const char* password) {
    struct pam_conv conv = {conversation, const_cast<char*>(password)};
    pam_handle_t* pamh = nullptr;
    int rv = pam_start(service.c_str(), req.name.c_str(), &conv, &pamh);
    trace_.line("pam_start = %d", rv);
    if (rv != PAM_SUCCESS || pamh == nullptr) return kCredPamStartFailed;
    rv = pam_set_item(pamh, PAM_USER, req.name.c_str());
    trace_.line("pam_set_item(PAM_USER) = %d", rv);
    // Only modules may set the tokens in some PAM versions; a refusal here
    // leaves the password to the conversation.
    rv = pam_set_item(pamh, PAM_AUTHTOK, password);
    trace_.line("pam_set_item(PAM_AUTHTOK) = %d", rv);
    rv = pam_set_item(pamh, PAM_OLDAUTHTOK, password);
    trace_.line("pam_set_item(PAM_OLDAUTHTOK) = %d", rv);
    rv = PAM_SUCCESS;
    if (req.accessOnly == 0) {
      rv = pam_authenticate(pamh, 0);
      trace_.line("pam_authenticate = %d", rv);
    }
    if (rv == PAM_SUCCESS) {
      rv = pam_acct_mgmt(pamh, 0);
      trace_.line("pam_acct_mgmt = %d", rv);
    }
    pam_end(pamh, rv);
    return rv == PAM_SUCCESS ? kCredFound : kCredPamRefused;
  }

  int user(int op, const CredRequest& req) {
    std::vector<char> buf(firstBufferSize(opt_.bufsize, _SC_GETPW_R_SIZE_MAX));
    struct passwd pw;
    int code = kCredLookupError;
    for (;;) {
      struct passwd* res = nullptr;
      errno = 0;
      const int rc = op == kCredUserById
                         ? getpwuid_r(static_cast<uid_t>(req.id), &pw, buf.data(), buf.size(), &res)
                         : getpwnam_r(req.name.c_str(), &pw, buf.data(), buf.size(), &res);
      trace_.line("%s = %d (buffer %zu)", op == kCredUserById ? "getpwuid_r" : "getpwnam_r", rc, buf.size());
      if (rc == 0 && res != nullptr) {
        code = kCredFound;
        break;
      }
      if (isRange(rc) && grow(&buf)) continue;
      code = isNotFound(rc) ? kCredNotFound : kCredLookupError;
      break;
    }
    if (code != kCredFound) return reply(out_.putInt(code));
    bool ok = out_.putInt(kCredFound) && out_.putInt(static_cast<int32_t>(pw.pw_uid)) &&
              out_.putInt(static_cast<int32_t>(pw.pw_gid)) && out_.putString(pw.pw_name) &&
              out_.putString(pw.pw_dir);
    std::vector<gid_t> groups = groupList(pw.pw_name, pw.pw_gid);
    ok = ok && out_.putInt(static_cast<int32_t>(groups.size()));
    for (size_t i = 0; ok && i < groups.size(); i++) ok = out_.putInt(static_cast<int32_t>(groups[i]));
    return reply(ok);
  }

  // Every group of the user, however many (up to the kernel's limit): a list
  // cut short would silently take memberships away.
  std::vector<gid_t> groupList(const char* name, gid_t gid) {
    std::vector<gid_t> groups(kFirstGroupRoom);
    for (int attempt = 0; attempt < 4; attempt++) {
      int n = static_cast<int>(groups.size());
      const int rv = getgrouplist(name, gid, groups.data(), &n);
      trace_.line("getgrouplist = %d, n = %d", rv, n);
      if (rv >= 0) {
        groups.resize(static_cast<size_t>(std::max(0, std::min(n, static_cast<int>(groups.size())))));
        return groups;
      }
      if (n <= static_cast<int>(groups.size()) || n > kCredMaxGroups) break;
      groups.assign(static_cast<size_t>(n), 0);
    }
    return {};
  }

  int group(const CredRequest& req) {
    std::vector<char> buf(firstBufferSize(opt_.bufsize, _SC_GETGR_R_SIZE_MAX));
    struct group gr;
    int code = kCredLookupError;
    for (;;) {
      struct group* res = nullptr;
      errno = 0;
      const int rc = req.op == kCredGroupById
                         ? getgrgid_r(static_cast<gid_t>(req.id), &gr, buf.data(), buf.size(), &res)
                         : getgrnam_r(req.name.c_str(), &gr, buf.data(), buf.size(), &res);
      trace_.line("%s = %d (buffer %zu)", req.op == kCredGroupById ? "getgrgid_r" : "getgrnam_r", rc, buf.size());
      if (rc == 0 && res != nullptr) {
        code = kCredFound;
        break;
      }
      if (isRange(rc)) {
        // Some name-service modules answer ERANGE and still fill the group
        // in; with the work-around on, such an answer for the gid asked for
        // counts.
        if (opt_.nssWorkaround && req.op == kCredGroupById && res == &gr && gr.gr_gid == static_cast<gid_t>(req.id) &&
            nameInBuffer(gr.gr_name, buf)) {
          trace_.line("ERANGE work-around: group %d found", req.id);
          code = kCredFound;
          break;
        }
        if (grow(&buf)) continue;
      }
      code = isNotFound(rc) ? kCredNotFound : kCredLookupError;
      break;
    }
    if (code != kCredFound) return reply(out_.putInt(code));
    return reply(out_.putInt(kCredFound) && out_.putInt(static_cast<int32_t>(gr.gr_gid)) && out_.putString(gr.gr_name));
  }

  // A name the work-around may send: null-terminated inside the buffer, or
  // somewhere else the module put it.
  static bool nameInBuffer(const char* name, const std::vector<char>& buf) {
    if (name == nullptr) return false;
    const char* begin = buf.data();
    const char* end = begin + buf.size();
    if (name < begin || name >= end) return true;
    return memchr(name, '\0', static_cast<size_t>(end - name)) != nullptr;
  }

  int allGroups() {
    std::vector<char> buf(firstBufferSize(opt_.bufsize, _SC_GETGR_R_SIZE_MAX));
    bool ok = true;
    int count = 0;
    setgrent();
    while (ok) {
      struct group gr;
      struct group* res = nullptr;
      errno = 0;
      const int rc = getgrent_r(&gr, buf.data(), buf.size(), &res);
      if (rc == 0 && res != nullptr) {
        ok = out_.putByte(1) && out_.putInt(static_cast<int32_t>(gr.gr_gid)) && out_.putString(gr.gr_name);
        count++;
        continue;
      }
      if (isRange(rc) && grow(&buf)) continue;
      break;
    }
    endgrent();
    trace_.line("groups = %d", count);
    return reply(ok && out_.putByte(0));
  }

  int allUsers() {
    std::vector<char> buf(std::max<size_t>(8192, opt_.bufsize > 0 ? std::min<size_t>(opt_.bufsize, kMaxNssBuffer) : 0));
    bool ok = true;
    int count = 0;
    setpwent();
    while (ok) {
      struct passwd pw;
      struct passwd* res = nullptr;
      errno = 0;
      const int rc = getpwent_r(&pw, buf.data(), buf.size(), &res);
      if (rc == 0 && res != nullptr) {
        ok = out_.putByte(1) && out_.putInt(static_cast<int32_t>(pw.pw_uid)) &&
             out_.putInt(static_cast<int32_t>(pw.pw_gid)) && out_.putString(pw.pw_name);
        count++;
        continue;
      }
      if (isRange(rc) && grow(&buf)) continue;
      break;
    }
    endpwent();
    trace_.line("users = %d", count);
    return reply(ok && out_.putByte(0));
  }

  int host(const CredRequest& req) {
    struct hostent* h = gethostbyname(req.name.c_str());
    const bool found = h != nullptr && h->h_addrtype == AF_INET && h->h_length == 4 && h->h_addr_list != nullptr &&
                       h->h_addr_list[0] != nullptr;
    trace_.line("gethostbyname = %s", found ? "found" : "not found");
    if (!found) return reply(out_.putInt(kCredNotFound));
    return reply(out_.putInt(kCredFound) && out_.putBytes(h->h_addr_list[0], 4));
  }

  CredReplyWriter out_;
  const CredChildOptions& opt_;
  CredTrace trace_;
};

// The process's own argument list, from /proc/self/cmdline.
std::vector<std::string> ownArguments() {
  std::vector<std::string> args;
  const int fd = open("/proc/self/cmdline", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return args;
  std::string text;
  char chunk[4096];
  for (;;) {
    const ssize_t n = read(fd, chunk, sizeof(chunk));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    text.append(chunk, static_cast<size_t>(n));
    if (text.size() > kMaxCmdline) break;
  }
  close(fd);
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\0', pos);
    if (end == std::string::npos) end = text.size();
    args.emplace_back(text, pos, end - pos);
    pos = end + 1;
  }
  return args;
}

}  // namespace

void parseCredChildArgs(int argc, const char* const* argv, CredChildOptions* out) {
  for (int i = 1; i < argc; i++) {
    const char* a = argv[i];
    if (a == nullptr) break;
    if (strcmp(a, "-nss_workaround") == 0) {
      out->nssWorkaround = true;
    } else if (strcmp(a, "-debug_creds") == 0) {
      out->debug = true;
    } else if (strcmp(a, "-bufsize") == 0 && i + 1 < argc && argv[i + 1] != nullptr) {
      const char* v = argv[++i];
      char* end = nullptr;
      errno = 0;
      const long n = strtol(v, &end, 10);
      const bool valid = *v != '\0' && *end == '\0' && errno == 0 && n >= 0 && n <= INT32_MAX;
      out->bufsize = valid ? static_cast<int>(n) : 0;
    }
  }
}

int runCredChild(int inFd, int outFd, const CredChildOptions& options) {
  Child child(outFd, options);
  return child.run(inFd);
}

void runTestcredProcess(const char* tracePath) {
  // A parent that is gone gives a failed write (status 1), not a signal.
  signal(SIGPIPE, SIG_IGN);
  // The process holds a password: no core file, no tracing by others.
  prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
  CredChildOptions options;
  {
    const std::vector<std::string> args = ownArguments();
    std::vector<const char*> argv;
    for (const std::string& a : args) argv.push_back(a.c_str());
    parseCredChildArgs(static_cast<int>(argv.size()), argv.data(), &options);
  }
  if (tracePath != nullptr) options.tracePath = tracePath;
  // The pipes move off the standard descriptors, which then lead to
  // /dev/null: a module that prints or reads there cannot touch the protocol.
  const int in = fcntl(STDIN_FILENO, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
  const int out = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
  if (in < 0) exit(11);
  if (out < 0) exit(1);
  const int devNull = open("/dev/null", O_RDWR | O_CLOEXEC);
  if (devNull >= 0) {
    dup2(devNull, STDIN_FILENO);
    dup2(devNull, STDOUT_FILENO);
    if (devNull > STDERR_FILENO) close(devNull);
  }
  const int status = runCredChild(in, out, options);
  close(in);
  close(out);
  // exit, not _exit: the libraries' own clean-up (a PAM test harness
  // removes its state directory there) still runs.
  exit(status);
}

extern "C" void testcred() { runTestcredProcess(nullptr); }
