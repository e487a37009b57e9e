#include "coms/file_message.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "foundation/log.h"

FileMessage::FileMessage(const char* path, int mode)
    : SourcedMessage(mode, MSG_ERR_INCOMPLETE), path_(path != nullptr ? path : "") {
  int flags = mode == MSG_MODE_WRITE ? O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC : O_RDONLY | O_CLOEXEC;
  fd_ = path != nullptr ? ::open(path, flags, 0644) : -1;
  if (fd_ < 0) {
    log(_debug_coms, LOG_ERROR, errno, 0, "FileMessage: cannot open %s", path_.c_str());
    setError(MSG_ERR_INCOMPLETE);
  }
}

FileMessage::FileMessage(int fd, int mode, bool ownsDescriptor)
    : SourcedMessage(mode, MSG_ERR_INCOMPLETE), fd_(fd), owns_(ownsDescriptor) {
  if (fd_ < 0) setError(MSG_ERR_INCOMPLETE);
}

FileMessage::~FileMessage() {
  if (fd_ >= 0 && close() != 0) {
    log(_debug_coms, LOG_ERROR, 0, 0, "FileMessage: %s was not written whole", path_.c_str());
  }
}

bool FileMessage::writeAll(const char* data, size_t n) {
  while (n > 0) {
    ssize_t r = ::write(fd_, data, n);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) {
      log(_debug_coms, LOG_ERROR, errno, 0, "FileMessage: write to %s failed", path_.c_str());
      failed_ = true;
      return false;
    }
    data += r;
    n -= static_cast<size_t>(r);
  }
  return true;
}

bool FileMessage::push(const char* data, size_t n) {
  if (fd_ < 0 || failed_) return false;
  if (buffer_.size() + n > kChunkSize) {
    if (flush() != 0) return false;
    if (n >= kChunkSize) return writeAll(data, n);
  }
  buffer_.insert(buffer_.end(), data, data + n);
  return true;
}

int FileMessage::flush() {
  if (fd_ < 0 || failed_) return -1;
  if (!buffer_.empty()) {
    bool ok = writeAll(buffer_.data(), buffer_.size());
    buffer_.clear();
    if (!ok) {
      setError(MSG_ERR_INCOMPLETE);
      return -1;
    }
  }
  return 0;
}

int FileMessage::close() {
  if (fd_ < 0) return failed_ ? -1 : 0;
  int rc = getMode() == MSG_MODE_WRITE ? flush() : 0;
  if (owns_ && ::close(fd_) != 0 && getMode() == MSG_MODE_WRITE) {
    log(_debug_coms, LOG_ERROR, errno, 0, "FileMessage: close of %s failed", path_.c_str());
    rc = -1;
  }
  fd_ = -1;
  if (rc != 0) failed_ = true;
  return rc;
}

long FileMessage::pull(char* buffer, size_t n) {
  if (fd_ < 0) return -1;
  for (;;) {
    ssize_t r = ::read(fd_, buffer, n);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) log(_debug_coms, LOG_ERROR, errno, 0, "FileMessage: read of %s failed", path_.c_str());
    return static_cast<long>(r);
  }
}
