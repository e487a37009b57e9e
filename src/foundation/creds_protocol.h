// The pipe protocol between the process and its credential child: the
// operation codes, the request the parent writes and the replies the child
// writes back, each read through a bounded reader so that a misbehaving peer
// (a negative or huge length, an absurd count, a truncated stream) gives a
// failed read and never an overrun or an unbounded allocation.
//
// Integers are 4-byte native-order ints; a string is its length followed by
// that many bytes, without terminator. Not thread-safe per object; the
// functions keep no state.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// Operation codes, shared by the lock table, the cache and the protocol.
enum CredOp : int {
  kCredVerifyLogin = 1,  // PAM, then the user by name
  kCredUserById = 2,
  kCredUserByName = 3,
  kCredGroupById = 4,
  kCredGroupByName = 5,
  kCredAllGroups = 6,
  kCredAllUsers = 7,
  kCredHostByName = 8,
};

// Reply codes of the single-answer operations.
enum CredCode : int {
  kCredFound = 0,
  kCredNotFound = 1,
  kCredPamRefused = 2,
  // The name service failed (other than "no such entry"): kept apart from
  // "not found" so the log tells the two apart; the parent treats it like any
  // other failure code.
  kCredLookupError = 3,
  kCredPamStartFailed = 99,
};

// Bounds of what either side accepts. The child never sends more; anything
// beyond them is a broken or hostile peer.
inline constexpr int kCredMaxName = 1024;       // user, group, service and host names in a request
inline constexpr int kCredMaxPassword = 4096;   // a password in a request
inline constexpr int kCredMaxText = 4096;       // a name or home directory in a reply
inline constexpr int kCredMaxGroups = 65536;    // supplementary gids of one user (the kernel's limit)
inline constexpr int kCredMaxRecords = 1 << 20; // records of one enumeration
inline constexpr size_t kCredMaxEnumBytes = size_t{64} << 20;  // name bytes of one enumeration

// Bytes that hold a secret: wiped when released. Its capacity is fixed at
// construction, so appending never leaves a stale copy in freed memory.
class CredSecretBuffer {
 public:
  explicit CredSecretBuffer(size_t capacity);
  ~CredSecretBuffer();
  CredSecretBuffer(const CredSecretBuffer&) = delete;
  CredSecretBuffer& operator=(const CredSecretBuffer&) = delete;

  // False (nothing appended) when the bytes would exceed the capacity.
  [[nodiscard]] bool append(const void* data, size_t n);
  [[nodiscard]] bool appendInt(int32_t v) { return append(&v, sizeof(v)); }
  [[nodiscard]] bool appendString(const char* s, size_t n);

  [[nodiscard]] const char* data() const { return data_.get(); }
  [[nodiscard]] char* data() { return data_.get(); }
  [[nodiscard]] size_t size() const { return size_; }
  // Sets the size back to `n` (<= size()), wiping what lay beyond.
  void truncate(size_t n);
  void wipe();

 private:
  std::unique_ptr<char[]> data_;
  size_t capacity_;
  size_t size_ = 0;
};

// Reads exactly the bytes asked for, or fails.
class CredReader {
 public:
  virtual ~CredReader() = default;
  // True when all `n` bytes were read into `dst`.
  [[nodiscard]] virtual bool read(void* dst, size_t n) = 0;
};

// Reads from a descriptor through a small buffer, giving up at a deadline on
// the monotonic clock (0: no deadline), at end of file or on an error.
class CredFdReader : public CredReader {
 public:
  CredFdReader(int fd, int64_t deadlineMicros) : fd_(fd), deadline_(deadlineMicros) {}
  ~CredFdReader() override;
  [[nodiscard]] bool read(void* dst, size_t n) override;
  // Why the last read failed: 0 end of file, ETIMEDOUT, or an errno value.
  [[nodiscard]] int lastError() const { return lastError_; }

 private:
  bool fill();
  int fd_;
  int64_t deadline_;
  int lastError_ = 0;
  // Wiped on destruction: a request read by the child holds the password.
  char buf_[4096];
  size_t pos_ = 0;
  size_t end_ = 0;
};

// Reads from memory (the fuzz targets and the tests).
class CredBufferReader : public CredReader {
 public:
  CredBufferReader(const void* data, size_t size) : p_(static_cast<const uint8_t*>(data)), left_(size) {}
  [[nodiscard]] bool read(void* dst, size_t n) override;
  [[nodiscard]] size_t remaining() const { return left_; }

 private:
  const uint8_t* p_;
  size_t left_;
};

// Writes whole buffers to a descriptor. Writes from a thread of the parent
// never raise SIGPIPE: a child that is gone gives a failed write.
[[nodiscard]] bool credWriteAll(int fd, const void* data, size_t n);

// Microseconds on the monotonic clock.
[[nodiscard]] int64_t credNowMicros();

// ---- Requests (parent to child) ----

struct CredRequest {
  int op = 0;
  std::string name;     // operations 1, 3, 5, 8
  std::string service;  // operation 1
  int accessOnly = 0;   // operation 1
  int id = 0;           // operations 2, 4
};

// Whether the operation code is one of the eight.
[[nodiscard]] bool credValidOp(int op);

// Encodes a request; `password` (operation 1 only, may be null) goes into the
// secret buffer only. False for an unknown operation or a name, service or
// password beyond the bounds (nothing is sent for it).
[[nodiscard]] bool encodeCredRequest(const CredRequest& req, const char* password,
                                     std::unique_ptr<CredSecretBuffer>* out);

// Reads a request. The password of operation 1 is read into `password`
// (sized for the largest one allowed and wiped by its owner). False on a short
// read, an unknown operation, a negative or oversized length, or a name that
// holds a NUL byte.
[[nodiscard]] bool readCredRequest(CredReader& in, CredRequest* req, CredSecretBuffer* password);

// ---- Replies (child to parent) ----

struct CredUserReply {
  int code = 0;
  int uid = 0;
  int gid = 0;
  std::string name;
  std::string dir;
  std::vector<int> groups;
};

struct CredGroupReply {
  int code = 0;
  int gid = 0;
  std::string name;
};

struct CredHostReply {
  int code = 0;
  int addr = 0;  // IPv4, network order
};

struct CredUserRecord {
  int uid = 0;
  int gid = 0;
  std::string name;
};

struct CredGroupRecord {
  int gid = 0;
  std::string name;
};

// The reply readers return 0 on success, or the step at which the reply broke
// (a positive number for the replies whose failures the log numbers, -1 for
// the others). On failure the output holds whatever was read so far.
[[nodiscard]] int readCredUserReply(CredReader& in, CredUserReply* out);
[[nodiscard]] int readCredGroupReply(CredReader& in, CredGroupReply* out);
[[nodiscard]] int readCredHostReply(CredReader& in, CredHostReply* out);
// The enumerations; `onRecord` sees each record as it arrives (the all-groups
// reply logs them). Bounded by `maxRecords` records and `maxBytes` bytes of
// names in all.
[[nodiscard]] int readCredAllUsersReply(CredReader& in, std::vector<CredUserRecord>* out,
                                        int maxRecords = kCredMaxRecords, size_t maxBytes = kCredMaxEnumBytes);
[[nodiscard]] int readCredAllGroupsReply(CredReader& in, std::vector<CredGroupRecord>* out,
                                         void (*onRecord)(const CredGroupRecord&) = nullptr,
                                         int maxRecords = kCredMaxRecords, size_t maxBytes = kCredMaxEnumBytes);

// Writers of the child side: each returns false on a failed write.
class CredReplyWriter {
 public:
  explicit CredReplyWriter(int fd) : fd_(fd) {}
  [[nodiscard]] bool putInt(int32_t v);
  [[nodiscard]] bool putByte(uint8_t v);
  [[nodiscard]] bool putString(const char* s);
  [[nodiscard]] bool putBytes(const void* data, size_t n);
  // Writes what was put so far.
  [[nodiscard]] bool flush();

 private:
  int fd_;
  std::vector<char> pending_;
};
