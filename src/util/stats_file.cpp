#include "util/stats_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "foundation/log.h"
#include "wire/byte_order.h"
#include "wire/message.h"

namespace {

constexpr size_t kFrameHeader = 8;  // payload length and message type
// No day of statistics comes near this; a stream that inflates past it is
// refused rather than allowed to take the memory of the process.
constexpr uint64_t kMaxInflated = 1ull << 30;

struct GzCloser {
  void operator()(gzFile f) const {
    if (f != nullptr) gzclose(f);
  }
};

// Inflates one or more concatenated gzip members. False on any damage,
// truncation, trailing bytes that are not another member, or excess size.
bool gunzip(const unsigned char* in, size_t n, std::string* out) {
  z_stream zs;
  memset(&zs, 0, sizeof zs);
  if (inflateInit2(&zs, 15 + 16) != Z_OK) return false;
  zs.next_in = const_cast<unsigned char*>(in);
  zs.avail_in = static_cast<uInt>(std::min<size_t>(n, 1u << 30));
  size_t fed = zs.avail_in;
  bool ok = n > 0;
  unsigned char buf[65536];
  while (ok) {
    zs.next_out = buf;
    zs.avail_out = sizeof buf;
    int rc = inflate(&zs, Z_NO_FLUSH);
    out->append(reinterpret_cast<char*>(buf), sizeof buf - zs.avail_out);
    if (out->size() > kMaxInflated) {
      ok = false;
      break;
    }
    if (zs.avail_in == 0 && fed < n) {  // inputs over 1 GiB arrive in slices
      size_t more = std::min<size_t>(n - fed, 1u << 30);
      zs.next_in = const_cast<unsigned char*>(in) + fed;
      zs.avail_in = static_cast<uInt>(more);
      fed += more;
    }
    if (rc == Z_STREAM_END) {
      if (zs.avail_in == 0 && fed == n) break;
      // Another member may follow, as gzip itself writes for appended files.
      if (zs.avail_in < 2 || zs.next_in[0] != 0x1f || zs.next_in[1] != 0x8b) {
        ok = false;
        break;
      }
      if (inflateReset(&zs) != Z_OK) ok = false;
      continue;
    }
    if (rc == Z_OK) continue;
    if (rc == Z_BUF_ERROR && zs.avail_in > 0) continue;
    ok = false;  // truncated (Z_BUF_ERROR with no input left) or damaged
  }
  inflateEnd(&zs);
  return ok;
}

}  // namespace

void StatsFile::add(StatEntry entry) {
  if (start_ == 0) start_ = entry.time;
  if (entry.time > end_) end_ = entry.time;
  entries_.push_back(std::move(entry));
}

const StatEntry* StatsFile::findLatestContainingClsid(int64_t cls) const {
  const StatEntry* best = nullptr;
  for (const StatEntry& e : entries_) {
    if ((best == nullptr || e.time > best->time) && e.hasClass(cls)) best = &e;
  }
  return best;
}

int StatsFile::encode(MessageBase* m) const {
  m->writeInt32(version_);
  m->writeInt64(start_);
  m->writeInt64(end_);
  m->writeInt32(static_cast<int>(entries_.size()));
  for (const StatEntry& e : entries_) e.encode(m);
  return m->getError() == 0 ? 0 : -1;
}

StatsFile* StatsFile::readFromMessage(MessageBase* m) {
  auto file = std::make_unique<StatsFile>();
  int version, count;
  long long start, end;
  if (m->readInt32(version) != 0 || m->readInt64(start) != 0 || m->readInt64(end) != 0 || m->readInt32(count) != 0)
    return nullptr;
  // An entry is at least a time and a row count: 9 + 5 bytes.
  if (count < 0 || static_cast<uint64_t>(count) * 14 > m->bytesAvailable(*m->getLocation())) {
    m->setError(MSG_ERR_INCOMPLETE);
    return nullptr;
  }
  file->version_ = version;
  file->start_ = start;
  file->end_ = end;
  file->entries_.resize(static_cast<size_t>(count));
  for (int i = 0; i < count; ++i) {
    if (StatEntry::decode(m, &file->entries_[i]) != 0) return nullptr;
  }
  return file.release();
}

namespace {

// Encodes `file` as a framed message of type 0; the buffer form is every
// byte after the first (the connection's frame code).
std::unique_ptr<Message> frame(const StatsFile& file) {
  auto m = std::make_unique<Message>(0);
  if (file.encode(m.get()) != 0 || m->setFrameLength() != 0) return nullptr;
  return m;
}

template <class Sink>
bool forEachBufferPiece(const Message& m, Sink&& sink) {
  bool first = true;
  for (const MessageChunk* c = m.firstChunk(); c != nullptr; c = c->next) {
    const char* p = c->data;
    size_t n = c->used;
    if (first) {
      ++p;
      --n;
      first = false;
    }
    if (n > 0 && !sink(p, n)) return false;
  }
  return true;
}

}  // namespace

std::string StatsFile::writeToBuffer() const {
  if (hasEncoded()) return encoded_;
  std::string out;
  auto m = frame(*this);
  if (!m) return out;
  out.reserve(m->size());
  forEachBufferPiece(*m, [&](const char* p, size_t n) {
    out.append(p, n);
    return true;
  });
  return out;
}

void StatsFile::writeToBuffer(char** bytes, size_t* length) const {
  std::string b = writeToBuffer();
  char* p = static_cast<char*>(malloc(b.size() > 0 ? b.size() : 1));
  if (p == nullptr) {
    *bytes = nullptr;
    *length = 0;
    return;
  }
  memcpy(p, b.data(), b.size());
  *bytes = p;
  *length = b.size();
}

StatsFile* StatsFile::readFromBuffer(const char* bytes, size_t length) {
  if (bytes == nullptr || length < kFrameHeader) return nullptr;
  const auto* h = reinterpret_cast<const unsigned char*>(bytes);
  uint32_t payload = wire::get32(h);
  uint32_t type = wire::get32(h + 4);
  if (type != 0 || payload != length - kFrameHeader) return nullptr;
  Message m(bytes + kFrameHeader, length - kFrameHeader, true);
  StatsFile* file = readFromMessage(&m);
  if (file != nullptr && m.bytesAvailable(*m.getLocation()) != 0) {
    delete file;  // bytes after the file: not the form we wrote
    return nullptr;
  }
  return file;
}

int StatsFile::decode() {
  if (!hasEncoded()) return 0;
  std::unique_ptr<StatsFile> f(readFromBuffer(encoded_.data(), encoded_.size()));
  if (!f) return -1;
  version_ = f->version_;
  start_ = f->start_;
  end_ = f->end_;
  entries_ = std::move(f->entries_);
  encoded_.clear();
  return 0;
}

int StatsFile::writeToFile(const char* path) const {
  std::string tmp = std::string(path) + ".XXXXXX";
  int fd = mkstemp(tmp.data());
  if (fd < 0) return -errno;
  auto fail = [&](int err) {
    if (fd >= 0) ::close(fd);
    unlink(tmp.c_str());
    return -err;
  };
  fchmod(fd, 0644);
  if (write(fd, kMagic, kMagicSize) != static_cast<ssize_t>(kMagicSize)) return fail(errno != 0 ? errno : EIO);
  int gzfd = dup(fd);
  if (gzfd < 0) return fail(errno);
  gzFile gz = gzdopen(gzfd, hasEncoded() ? "ab" : "ab9");
  if (gz == nullptr) {
    ::close(gzfd);
    return fail(ENOMEM);
  }
  gzbuffer(gz, 65536);
  long long handed = 0;
  bool ok = true;
  auto put = [&](const char* p, size_t n) {
    while (n > 0) {
      unsigned piece = static_cast<unsigned>(std::min<size_t>(n, 1u << 30));
      if (gzwrite(gz, p, piece) != static_cast<int>(piece)) return ok = false;
      p += piece;
      n -= piece;
      handed += piece;
    }
    return true;
  };
  if (hasEncoded()) {
    put(encoded_.data(), encoded_.size());
  } else {
    auto m = frame(*this);
    if (!m) {
      gzclose(gz);
      return fail(EINVAL);
    }
    forEachBufferPiece(*m, put);
  }
  int rc = gzclose(gz);
  if (!ok || rc != Z_OK) return fail(rc == Z_ERRNO && errno != 0 ? errno : EIO);
  if (fsync(fd) != 0) return fail(errno);
  if (::close(fd) != 0) {
    fd = -1;
    return fail(errno);
  }
  fd = -1;
  if (rename(tmp.c_str(), path) != 0) return fail(errno);
  return static_cast<int>(handed > 0x7fffffff ? 0x7fffffff : handed);
}

StatsFile* StatsFile::readFromFileBytes(const char* bytes, size_t length) {
  if (bytes == nullptr || length < kMagicSize || memcmp(bytes, kMagic, kMagicSize) != 0) return nullptr;
  std::string plain;
  if (!gunzip(reinterpret_cast<const unsigned char*>(bytes) + kMagicSize, length - kMagicSize, &plain))
    return nullptr;
  return readFromBuffer(plain.data(), plain.size());
}

StatsFile* StatsFile::readFromFile(const char* path) {
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  std::string bytes;
  char magic[kMagicSize];
  ssize_t n = read(fd, magic, kMagicSize);
  if (n != static_cast<ssize_t>(kMagicSize) || memcmp(magic, kMagic, kMagicSize) != 0) {
    ::close(fd);
    return nullptr;
  }
  bytes.assign(magic, kMagicSize);
  struct stat st;
  if (fstat(fd, &st) == 0 && st.st_size > 0) bytes.reserve(static_cast<size_t>(st.st_size));
  char buf[65536];
  for (;;) {
    n = read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      ::close(fd);
      return nullptr;
    }
    if (n == 0) break;
    bytes.append(buf, static_cast<size_t>(n));
  }
  ::close(fd);
  return readFromFileBytes(bytes.data(), bytes.size());
}

void StatsFile::dump(FILE* stream) const {
  if (hasEncoded() && entries_.empty()) {
    StatsFile copy(*this);
    if (copy.decode() == 0) {
      copy.dump(stream);
      return;
    }
  }
  fprintf(stream, "%s - %s (%d)\n", statTimeText(start_).c_str(), statTimeText(end_).c_str(),
          static_cast<int>(entries_.size()));
  for (const StatEntry& e : entries_) e.dump(stream);
}

char* StatsFile::toString(Parser*) {
  char buf[160];
  snprintf(buf, sizeof buf, "{ \"version\" : %d, \"start\" : %lld, \"end\" : %lld, \"entries\" : %d }", version_,
           static_cast<long long>(start_), static_cast<long long>(end_), static_cast<int>(entries_.size()));
  return strdup(buf);
}

int StatsFileXlator(MessageBase* m, Translatable** object, int direction) {
  if (direction == XLATE_ENCODE) {
    const auto* file = static_cast<const StatsFile*>(*object);
    std::string bytes = file->writeToBuffer();
    m->writeBytesField(1, bytes.size(), bytes.data());
    m->writeInt64Field(2, file->start());
    return m->getError() == 0 ? 0 : -1;
  }
  size_t n = 0;
  char* bytes = nullptr;
  long long start = 0;
  if (m->readBytesField(1, n, bytes) != 0) return -1;
  if (m->readInt64Field(2, start) != 0) {
    MessageBase::freeBytes(bytes);
    return -1;
  }
  auto* file = new StatsFile();
  file->setEncoded(std::string(bytes != nullptr ? bytes : "", n));
  MessageBase::freeBytes(bytes);
  file->setRange(start, 0);
  *object = file;
  return 0;
}
