#include "foundation/creds_protocol.h"

#include <errno.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <climits>

namespace {

// A read step that failed, for the numbered log line of the parent.
constexpr int kUnnumbered = -1;

// The length of a string as sent: [0, limit], else the reply or request is
// broken.
bool readLength(CredReader& in, int limit, int* out) {
  int32_t n = 0;
  if (!in.read(&n, sizeof(n))) return false;
  if (n < 0 || n > limit) return false;
  *out = n;
  return true;
}

bool readString(CredReader& in, int limit, std::string* out) {
  int n = 0;
  if (!readLength(in, limit, &n)) return false;
  std::string s(static_cast<size_t>(n), '\0');
  if (n > 0 && !in.read(s.data(), static_cast<size_t>(n))) return false;
  *out = std::move(s);
  return true;
}

bool readInt(CredReader& in, int* out) {
  int32_t v = 0;
  if (!in.read(&v, sizeof(v))) return false;
  *out = v;
  return true;
}

// Blocks SIGPIPE in the calling thread while it writes to a pipe whose reader
// may be gone, and swallows the signal if the write raised it, so a dead
// child gives EPIPE instead of ending the process.
class SigpipeGuard {
 public:
  SigpipeGuard() {
    sigemptyset(&pipeSet_);
    sigaddset(&pipeSet_, SIGPIPE);
    sigset_t pending;
    sigpending(&pending);
    pendingBefore_ = sigismember(&pending, SIGPIPE) == 1;
    blocked_ = pthread_sigmask(SIG_BLOCK, &pipeSet_, &old_) == 0;
  }
  ~SigpipeGuard() {
    if (!blocked_) return;
    if (!pendingBefore_) {
      sigset_t pending;
      sigpending(&pending);
      if (sigismember(&pending, SIGPIPE) == 1) {
        struct timespec zero = {0, 0};
        while (sigtimedwait(&pipeSet_, nullptr, &zero) < 0 && errno == EINTR) {
        }
      }
    }
    pthread_sigmask(SIG_SETMASK, &old_, nullptr);
  }
  SigpipeGuard(const SigpipeGuard&) = delete;
  SigpipeGuard& operator=(const SigpipeGuard&) = delete;

 private:
  sigset_t pipeSet_;
  sigset_t old_;
  bool pendingBefore_ = false;
  bool blocked_ = false;
};

}  // namespace

// ---- CredSecretBuffer ----

CredSecretBuffer::CredSecretBuffer(size_t capacity)
    : data_(new char[capacity == 0 ? 1 : capacity]), capacity_(capacity) {}

CredSecretBuffer::~CredSecretBuffer() { explicit_bzero(data_.get(), capacity_); }

bool CredSecretBuffer::append(const void* data, size_t n) {
  if (n > capacity_ - size_) return false;
  if (n > 0) memcpy(data_.get() + size_, data, n);
  size_ += n;
  return true;
}

bool CredSecretBuffer::appendString(const char* s, size_t n) {
  if (n > static_cast<size_t>(INT32_MAX) || sizeof(int32_t) + n > capacity_ - size_) return false;
  return appendInt(static_cast<int32_t>(n)) && append(s, n);
}

void CredSecretBuffer::truncate(size_t n) {
  if (n >= size_) return;
  explicit_bzero(data_.get() + n, size_ - n);
  size_ = n;
}

void CredSecretBuffer::wipe() {
  explicit_bzero(data_.get(), capacity_);
  size_ = 0;
}

// ---- Readers and writers ----

int64_t credNowMicros() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

CredFdReader::~CredFdReader() { explicit_bzero(buf_, sizeof(buf_)); }

bool CredFdReader::fill() {
  for (;;) {
    if (deadline_ > 0) {
      const int64_t left = deadline_ - credNowMicros();
      if (left <= 0) {
        lastError_ = ETIMEDOUT;
        return false;
      }
      struct pollfd p = {fd_, POLLIN, 0};
      const int ms = static_cast<int>(std::min<int64_t>(left / 1000 + 1, INT_MAX));
      const int rv = poll(&p, 1, ms);
      if (rv < 0) {
        if (errno == EINTR) continue;
        lastError_ = errno;
        return false;
      }
      if (rv == 0) continue;  // the deadline is checked again above
    }
    const ssize_t n = ::read(fd_, buf_, sizeof(buf_));
    if (n < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      lastError_ = errno;
      return false;
    }
    if (n == 0) {
      lastError_ = 0;
      return false;
    }
    pos_ = 0;
    end_ = static_cast<size_t>(n);
    return true;
  }
}

bool CredFdReader::read(void* dst, size_t n) {
  char* out = static_cast<char*>(dst);
  while (n > 0) {
    if (pos_ == end_) {
      explicit_bzero(buf_, end_);
      pos_ = end_ = 0;
      if (!fill()) return false;
    }
    const size_t take = std::min(n, end_ - pos_);
    memcpy(out, buf_ + pos_, take);
    pos_ += take;
    out += take;
    n -= take;
  }
  return true;
}

bool CredBufferReader::read(void* dst, size_t n) {
  if (n > left_) {
    left_ = 0;
    return false;
  }
  if (n > 0) memcpy(dst, p_, n);
  p_ += n;
  left_ -= n;
  return true;
}

bool credWriteAll(int fd, const void* data, size_t n) {
  SigpipeGuard guard;
  const char* p = static_cast<const char*>(data);
  while (n > 0) {
    const ssize_t w = ::write(fd, p, n);
    if (w < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    p += w;
    n -= static_cast<size_t>(w);
  }
  return true;
}

bool CredReplyWriter::putBytes(const void* data, size_t n) {
  const char* p = static_cast<const char*>(data);
  pending_.insert(pending_.end(), p, p + n);
  // Enumerations stream: keep what is buffered small.
  if (pending_.size() >= 65536) return flush();
  return true;
}

bool CredReplyWriter::putInt(int32_t v) { return putBytes(&v, sizeof(v)); }
bool CredReplyWriter::putByte(uint8_t v) { return putBytes(&v, 1); }

bool CredReplyWriter::putString(const char* s) {
  const size_t n = s == nullptr ? 0 : strlen(s);
  if (n > static_cast<size_t>(INT32_MAX)) return false;
  return putInt(static_cast<int32_t>(n)) && putBytes(s, n);
}

bool CredReplyWriter::flush() {
  const char* p = pending_.data();
  size_t n = pending_.size();
  while (n > 0) {
    const ssize_t w = ::write(fd_, p, n);
    if (w < 0) {
      if (errno == EINTR) continue;
      pending_.clear();
      return false;
    }
    p += w;
    n -= static_cast<size_t>(w);
  }
  pending_.clear();
  return true;
}

// ---- Requests ----

bool credValidOp(int op) { return op >= kCredVerifyLogin && op <= kCredHostByName; }

namespace {

bool takesName(int op) {
  return op == kCredVerifyLogin || op == kCredUserByName || op == kCredGroupByName || op == kCredHostByName;
}

bool takesId(int op) { return op == kCredUserById || op == kCredGroupById; }

}  // namespace

bool encodeCredRequest(const CredRequest& req, const char* password, std::unique_ptr<CredSecretBuffer>* out) {
  if (!credValidOp(req.op)) return false;
  size_t size = sizeof(int32_t);
  size_t passwordLength = 0;
  if (takesName(req.op)) {
    if (req.name.size() > static_cast<size_t>(kCredMaxName)) return false;
    size += sizeof(int32_t) + req.name.size();
  }
  if (req.op == kCredVerifyLogin) {
    passwordLength = password == nullptr ? 0 : strnlen(password, kCredMaxPassword + 1);
    if (passwordLength > static_cast<size_t>(kCredMaxPassword)) return false;
    if (req.service.size() > static_cast<size_t>(kCredMaxName)) return false;
    size += sizeof(int32_t) + passwordLength + sizeof(int32_t) + req.service.size() + sizeof(int32_t);
  }
  if (takesId(req.op)) size += sizeof(int32_t);
  auto buf = std::make_unique<CredSecretBuffer>(size);
  bool ok = buf->appendInt(req.op);
  if (takesName(req.op)) ok = ok && buf->appendString(req.name.data(), req.name.size());
  if (req.op == kCredVerifyLogin) {
    ok = ok && buf->appendString(password == nullptr ? "" : password, passwordLength) &&
         buf->appendString(req.service.data(), req.service.size()) && buf->appendInt(req.accessOnly);
  }
  if (takesId(req.op)) ok = ok && buf->appendInt(req.id);
  if (!ok) return false;
  *out = std::move(buf);
  return true;
}

bool readCredRequest(CredReader& in, CredRequest* req, CredSecretBuffer* password) {
  CredRequest r;
  if (!readInt(in, &r.op) || !credValidOp(r.op)) return false;
  if (takesName(r.op)) {
    if (!readString(in, kCredMaxName, &r.name)) return false;
    // A C name ends at its first NUL: a name holding one would be looked up
    // as a different, shorter name.
    if (r.name.find('\0') != std::string::npos) return false;
  }
  if (r.op == kCredVerifyLogin) {
    int n = 0;
    if (password == nullptr || !readLength(in, kCredMaxPassword, &n)) return false;
    password->wipe();
    // Copied in chunks straight into the wiped buffer (sized by its owner for
    // the largest password and its terminator), never through a string.
    char chunk[256];
    size_t left = static_cast<size_t>(n);
    bool ok = true;
    while (ok && left > 0) {
      const size_t take = std::min(left, sizeof(chunk));
      ok = in.read(chunk, take) && memchr(chunk, '\0', take) == nullptr && password->append(chunk, take);
      left -= take;
    }
    explicit_bzero(chunk, sizeof(chunk));
    if (!ok || !password->append("", 1)) {
      password->wipe();
      return false;
    }
    if (!readString(in, kCredMaxName, &r.service) || r.service.find('\0') != std::string::npos ||
        !readInt(in, &r.accessOnly)) {
      password->wipe();
      return false;
    }
  }
  if (takesId(r.op) && !readInt(in, &r.id)) return false;
  *req = std::move(r);
  return true;
}

// ---- Replies ----

int readCredUserReply(CredReader& in, CredUserReply* out) {
  if (!readInt(in, &out->code)) return 2;
  if (out->code != kCredFound) return 0;
  if (!readInt(in, &out->uid)) return 3;
  if (!readInt(in, &out->gid)) return 4;
  if (!readString(in, kCredMaxText, &out->name)) return 5;
  if (!readString(in, kCredMaxText, &out->dir)) return 6;
  int n = 0;
  if (!readLength(in, kCredMaxGroups, &n)) return 7;
  std::vector<int> groups(static_cast<size_t>(n));
  if (n > 0 && !in.read(groups.data(), groups.size() * sizeof(int))) return 19;
  out->groups = std::move(groups);
  return 0;
}

int readCredGroupReply(CredReader& in, CredGroupReply* out) {
  if (!readInt(in, &out->code)) return kUnnumbered;
  if (out->code != kCredFound) return 0;
  if (!readInt(in, &out->gid) || !readString(in, kCredMaxText, &out->name)) return kUnnumbered;
  return 0;
}

int readCredHostReply(CredReader& in, CredHostReply* out) {
  if (!readInt(in, &out->code)) return kUnnumbered;
  if (out->code != kCredFound) return 0;
  if (!in.read(&out->addr, sizeof(out->addr))) return kUnnumbered;
  return 0;
}

int readCredAllUsersReply(CredReader& in, std::vector<CredUserRecord>* out, int maxRecords, size_t maxBytes) {
  size_t bytes = 0;
  for (;;) {
    uint8_t marker = 0;
    if (!in.read(&marker, 1) || marker > 1) return kUnnumbered;
    if (marker == 0) return 0;
    if (out->size() >= static_cast<size_t>(maxRecords)) return kUnnumbered;
    CredUserRecord r;
    if (!readInt(in, &r.uid) || !readInt(in, &r.gid) || !readString(in, kCredMaxText, &r.name)) return kUnnumbered;
    bytes += r.name.size();
    if (bytes > maxBytes) return kUnnumbered;
    out->push_back(std::move(r));
  }
}

int readCredAllGroupsReply(CredReader& in, std::vector<CredGroupRecord>* out,
                           void (*onRecord)(const CredGroupRecord&), int maxRecords, size_t maxBytes) {
  size_t bytes = 0;
  for (;;) {
    uint8_t marker = 0;
    if (!in.read(&marker, 1)) return 100;
    if (marker == 0) return 0;
    if (marker != 1 || out->size() >= static_cast<size_t>(maxRecords)) return 104;
    CredGroupRecord r;
    if (!readInt(in, &r.gid)) return 101;
    int n = 0;
    if (!readLength(in, kCredMaxText, &n)) return 102;
    r.name.assign(static_cast<size_t>(n), '\0');
    if (n > 0 && !in.read(r.name.data(), r.name.size())) return 103;
    bytes += r.name.size();
    if (bytes > maxBytes) return 104;
    if (onRecord != nullptr) onRecord(r);
    out->push_back(std::move(r));
  }
}
