#include "foundation/input.h"

#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "foundation/diagnostics.h"
#include "foundation/log.h"
#include "foundation/os_info.h"

namespace {

// Error code of a read that waited in vain (the directory's time-out code).
constexpr int kTimeoutCode = 13;
// A converted local file is pulled through the converter in pieces this big.
constexpr size_t kPumpPiece = 65536;

std::string systemText(const char* fmt, int err) {
  char msg[256];
  char buf[400];
  snprintf(buf, sizeof(buf), fmt, s_strerror(err, msg, sizeof(msg)));
  return buf;
}

bool needsConverter(const char* encoding) {
  return encoding != nullptr && *encoding != '\0' && strcasecmp(encoding, "UTF-8") != 0;
}

}  // namespace

Input::Input(int fd, const char* encoding) : fd_(fd), ownsFd_(fd >= 0) {
  log(_debug_io, LOG_DEBUG, 0, 0, "Input: input created to read file descriptor %d, encoding = %s", fd,
      encoding != nullptr ? encoding : "null");
  struct stat st;
  if (fstat(fd, &st) != 0) {
    int err = errno;
    std::lock_guard<std::mutex> lk(data_);
    recordError(kErrorCode, systemText("Unable to stat input file: %s", err));
    closed_ = true;
    return;
  }
  localSize_ = remoteSize_ = st.st_size;
  if (!needsConverter(encoding)) return;
  // The descriptor's bytes are converted into a temporary file that the
  // reads are then served from, as for an arriving file.
  std::lock_guard<std::mutex> lk(data_);
  if (!openTempLocked()) return;
  sourceFd_ = fd;
  pumpSource_ = true;
  localSize_ = 0;
  createConverter(encoding);
}

Input::Input(long long initialSize, CloseCallback closeCallback, const char* encoding)
    : closeCallback_(std::move(closeCallback)) {
  log(_debug_io, LOG_DEBUG, 0, 0, "Input: input created to read remote file, initial size = %lld, encoding = %s",
      initialSize, encoding != nullptr ? encoding : "null");
  std::lock_guard<std::mutex> lk(data_);
  if (!openTempLocked()) return;
  ownsFd_ = true;
  if (needsConverter(encoding)) createConverter(encoding);
}

bool Input::openTempLocked() {
  char name[64];
  int tmp = s_mkstemp(name);
  if (tmp < 0) {
    int err = errno;
    log(_debug_io, LOG_ERROR, 0, 0, "Input: Unable to create a temporary file");
    recordError(kErrorCode, systemText("Unable to open temporary file: %s", err));
    closed_ = true;
    return false;
  }
  fd_ = tmp;
  tempName_ = name;
  return true;
}

void Input::createConverter(const char* encoding) {
  log(_debug_io, LOG_DEBUG, 0, 0, "Input: A converter was created to convert encoding %s to UTF-8", encoding);
  converter_ = std::make_unique<EncodingConverter>(this, encoding);
}

Input::~Input() {
  orv_assert(!deleted_);
  deleted_ = true;
  if (closeCallback_) closeCallback_(this);
  cancelProducers();
  {
    std::lock_guard<std::mutex> lk(data_);
    closed_ = true;
    ++generation_;
  }
  dataCond_.notify_all();
  {
    // Every reader is woken above and leaves at once; the steps only keep
    // the wait visible in the log should one be slow to go.
    std::unique_lock<std::mutex> lk(readers_);
    while (readers_count_ > 0) {
      log(_debug_io, LOG_DEBUG, 0, 0, "Input: reader count is still non-zero. Must wait");
      readersCond_.wait_for(lk, std::chrono::milliseconds(100));
    }
  }
  if (!tempName_.empty()) unlink(tempName_.c_str());
  if (fd_ >= 0 && (ownsFd_ || pumpSource_)) ::close(fd_);
  if (sourceFd_ >= 0) ::close(sourceFd_);
}

void Input::cancelProducers() {
  InputProducer* copy;
  InputProducer* masq;
  {
    std::lock_guard<std::mutex> lk(data_);
    copy = fileCopy_;
    masq = masqReader_;
    fileCopy_ = masqReader_ = nullptr;
  }
  // Outside the lock: a producer's cancel may wait for its thread, which may
  // be about to append.
  for (InputProducer* p : {copy, masq}) {
    if (p != nullptr) {
      p->cancel();
      p->release();
    }
  }
}

void Input::close() {
  InputProducer* copy;
  InputProducer* masq;
  {
    std::lock_guard<std::mutex> lk(data_);
    copy = fileCopy_;
    masq = masqReader_;
  }
  if (copy != nullptr) copy->cancel();
  if (masq != nullptr) masq->cancel();
}

void Input::setFileCopy(InputProducer* copy) {
  std::lock_guard<std::mutex> lk(data_);
  fileCopy_ = copy;
}

void Input::setMasqInputReader(InputProducer* reader) {
  std::lock_guard<std::mutex> lk(data_);
  masqReader_ = reader;
}

void Input::setTimeouts(int firstDataMs, int moreDataMs) {
  std::lock_guard<std::mutex> lk(data_);
  firstDataMs_ = firstDataMs;
  moreDataMs_ = moreDataMs;
}

void Input::recordError(int code, const std::string& text) {
  if (!hasError_) {
    hasError_ = true;
    errorCode_ = code;
    errorText_ = text;
  }
  ++generation_;
}

void Input::handleError(int code, const char* text) {
  {
    std::lock_guard<std::mutex> lk(data_);
    recordError(code, text != nullptr ? text : "");
  }
  dataCond_.notify_all();
}

void Input::encodingError(const char* message) {
  log(_debug_io, LOG_ERROR, 0, 0, "Input: converter failed with message: %s", message);
  recordError(kErrorCode, message);
}

void Input::output(const char* bytes, size_t length) { appendRaw(bytes, length); }

bool Input::appendRaw(const char* bytes, size_t length) {
  if (hasError_) return false;
  while (length > 0) {
    ssize_t n = pwrite(fd_, bytes, length, appendLoc_);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      recordError(kErrorCode, systemText("Unable to write temporary file: %s", n < 0 ? errno : ENOSPC));
      return false;
    }
    appendLoc_ += n;
    localSize_ = (localSize_ < 0 ? 0 : localSize_) + n;
    bytes += n;
    length -= static_cast<size_t>(n);
  }
  ++generation_;
  return true;
}

void Input::endOfInput() {
  if (converter_) converter_->finish();
}

void Input::appendData(const char* data, long long remoteSize, int length) {
  {
    std::lock_guard<std::mutex> lk(data_);
    if (closed_) return;
    log(_debug_io, LOG_TRACE, 0, 0, "Input: appendData() appending %d chars, new length = %lld", length,
        remoteSize);
    if (length < 1) {
      log(_debug_io, LOG_TRACE, 0, 0, "Input: appendData() chars = 0 implies EOF from sender");
      if (remoteSize_ < 0 || remoteSize != 0) remoteSize_ = remoteSize;
      if (localSize_ < 0) localSize_ = 0;
      // The sender is done: whatever the converter holds is converted now,
      // and an incomplete last sequence becomes an error, not a silent loss.
      if (totalXfered_ >= remoteSize_) endOfInput();
    } else {
      totalXfered_ += length;
      remoteSize_ = remoteSize;
      if (localSize_ < 0) localSize_ = 0;
      if (converter_) {
        converter_->append(data, static_cast<size_t>(length));
      } else {
        appendRaw(data, static_cast<size_t>(length));
      }
    }
    ++generation_;
  }
  dataCond_.notify_all();
}

bool Input::waitForChange(std::unique_lock<std::mutex>& lock, int ms) {
  unsigned long long seen = generation_;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms > 0 ? ms : 0);
  while (generation_ == seen) {
    if (dataCond_.wait_until(lock, deadline) == std::cv_status::timeout) return generation_ != seen;
  }
  return true;
}

bool Input::pumpLocal() {
  if (sourceDone_ || hasError_) return false;
  char piece[kPumpPiece];
  ssize_t n;
  do {
    n = pread(sourceFd_, piece, sizeof(piece), sourcePos_);
  } while (n < 0 && errno == EINTR);
  if (n < 0) {
    recordError(kErrorCode, systemText("Unable to read input file: %s", errno));
    return false;
  }
  if (n == 0) {
    sourceDone_ = true;
    endOfInput();
    return false;
  }
  sourcePos_ += n;
  totalXfered_ += n;
  converter_->append(piece, static_cast<size_t>(n));
  return !hasError_;
}

int Input::read(char* buffer, int length) {
  if (length <= 0) return 0;
  {
    std::lock_guard<std::mutex> lk(readers_);
    ++readers_count_;
  }
  int result = readLocked(buffer, length);
  {
    std::lock_guard<std::mutex> lk(readers_);
    if (--readers_count_ == 0) readersCond_.notify_all();
  }
  return result;
}

int Input::readLocked(char* buffer, int length) {
  std::unique_lock<std::mutex> lk(data_);
  if (hasError_) return -2;
  if (closed_) return arriving() ? -2 : -1;
  bool isArriving = arriving();
  if (isArriving && remoteSize_ < 0) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(firstDataMs_);
    while (remoteSize_ < 0 && !hasError_ && !closed_) {
      log(_debug_io, LOG_TRACE, 0, 0, "Input: read() waiting for intial file size");
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0 || !waitForChange(lk, static_cast<int>(left.count()))) {
        if (remoteSize_ >= 0 || hasError_ || closed_) break;
        recordError(kTimeoutCode, "Unable to read. Network timeout (1)");
        return -2;
      }
    }
  }
  if (!isArriving && !pumpSource_ && curReadLoc_ >= localSize_) {
    struct stat st;
    if (fstat(fd_, &st) == 0) localSize_ = st.st_size;
  }
  int total = 0;
  bool complete = false;
  while (total < length && !closed_) {
    if (hasError_) return -2;
    long long avail = (localSize_ < 0 ? 0 : localSize_) - curReadLoc_;
    if (avail <= 0) {
      if (!isArriving && !pumpSource_) {
        complete = true;
        break;
      }
      if (pumpSource_) {
        if (sourceDone_) {
          complete = true;
          break;
        }
        pumpLocal();
        continue;
      }
      if (remoteSize_ >= 0 && totalXfered_ >= remoteSize_) {
        // Everything announced is here; the converter may still hold the
        // end of it.
        if (converter_ && !converter_->failed()) {
          long long before = localSize_;
          endOfInput();
          if (localSize_ != before || hasError_) continue;
        }
        complete = true;
        break;
      }
      if (total > 0) {
        log(_debug_io, LOG_TRACE, 0, 0, "Input: read() all available bytes have been read");
        return total;
      }
      if (!waitForChange(lk, moreDataMs_)) {
        recordError(kTimeoutCode, "Unable to read. Network timeout (2)");
        return -2;
      }
      continue;
    }
    size_t want = static_cast<size_t>(std::min<long long>(length - total, avail));
    ssize_t n;
    do {
      n = pread(fd_, buffer + total, want, curReadLoc_);
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
      log(_debug_io, LOG_ERROR, errno, 0, "Input: read from internal fd failed (%d)", errno);
      return -2;
    }
    if (n == 0) {  // the file shrank under us: what is there is all there is
      localSize_ = curReadLoc_;
      continue;
    }
    curReadLoc_ += n;
    total += static_cast<int>(n);
  }
  if (closed_ && !complete && isArriving && total == 0) return -2;
  if (total == 0) return -1;
  if (total < length) log(_debug_io, LOG_TRACE, 0, 0, "Input: reached EOF before buffer was full, returing what we have");
  return total;
}

long long Input::available() {
  std::lock_guard<std::mutex> lk(data_);
  long long n = (localSize_ < 0 ? 0 : localSize_) - curReadLoc_;
  return n < 0 ? 0 : n;
}

long long Input::size() {
  std::lock_guard<std::mutex> lk(data_);
  if (pumpSource_) {
    while (pumpLocal()) {
    }
  } else if (!arriving() && fd_ >= 0) {
    struct stat st;
    if (fstat(fd_, &st) == 0) localSize_ = st.st_size;
  }
  return localSize_;
}

long long Input::seek(long long offset) {
  std::lock_guard<std::mutex> lk(data_);
  if (offset < 0 || hasError_) return -1;
  if (pumpSource_) {
    while (localSize_ < offset && pumpLocal()) {
    }
  } else if (!arriving()) {
    struct stat st;
    if (fstat(fd_, &st) == 0) localSize_ = st.st_size;
  }
  long long have = localSize_ < 0 ? 0 : localSize_;
  curReadLoc_ = offset < have ? offset : have;
  return curReadLoc_;
}

int Input::getErrorCode() {
  std::lock_guard<std::mutex> lk(data_);
  return errorCode_;
}

std::string Input::getErrorText() {
  std::lock_guard<std::mutex> lk(data_);
  return errorText_;
}

bool Input::isClosed() {
  std::lock_guard<std::mutex> lk(data_);
  return closed_;
}

long long Input::totalTransferred() {
  std::lock_guard<std::mutex> lk(data_);
  return totalXfered_;
}
