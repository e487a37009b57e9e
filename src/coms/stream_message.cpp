#include "coms/stream_message.h"

#include <sys/select.h>

#include <algorithm>
#include <ctime>

#include "coms/coms_error.h"
#include "coms/stream_connection.h"
#include "foundation/log.h"

namespace {

long long nowMs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

void sleepMs(long long ms) {
  timeval tv{static_cast<time_t>(ms / 1000), static_cast<suseconds_t>((ms % 1000) * 1000)};
  (void)select(0, nullptr, nullptr, nullptr, &tv);
}

}  // namespace

StreamMessage::StreamMessage(StreamConnection* stream, int mode)
    : SourcedMessage(mode, COMS_NOT_CONNECTED), stream_(stream) {}

void StreamMessage::setFlowLimit(double kilobitsPerSecond) {
  double k = kilobitsPerSecond < 0 ? 1.0 : kilobitsPerSecond;
  sliceBudget_ = k * 0.125 * resolution_;
  currentSlice_ = -1;
  bytesLeft_ = 0;
}

long StreamMessage::pull(char* buffer, size_t n) {
  int want = n > (1u << 30) ? (1 << 30) : static_cast<int>(n);
  return stream_->read(buffer, want);
}

bool StreamMessage::write(const char* data, size_t n) {
  while (n > 0) {
    int k = n > (1u << 30) ? (1 << 30) : static_cast<int>(n);
    int r = stream_->writeBytes(data, k);
    if (r <= 0) return false;
    data += r;
    n -= static_cast<size_t>(r);
  }
  return true;
}

bool StreamMessage::push(const char* data, size_t n) {
  if (sliceBudget_ <= 0.0) return write(data, n);
  while (n > 0) {
    recomputeSlice();
    size_t k = static_cast<size_t>(std::min<long long>(bytesLeft_, static_cast<long long>(n)));
    if (!write(data, k)) return false;
    bytesLeft_ -= static_cast<long long>(k);
    data += k;
    n -= k;
  }
  return true;
}

// A slice's budget, less the fraction under one byte; never 0, or a limit
// under 8 kilobits per second would never send anything.
static long long sliceBytes(double budget, double fraction) {
  auto b = static_cast<long long>(budget - fraction);
  return b < 1 ? 1 : b;
}

void StreamMessage::recomputeSlice() {
  long long now = nowMs();
  long long slice = now / resolution_;
  if (currentSlice_ < 0) sliceStart_ = now;
  if (slice != currentSlice_) {
    bytesLeft_ = sliceBytes(sliceBudget_, 0.99999);
    currentSlice_ = slice;
    sliceStart_ = now;
    return;
  }
  if (bytesLeft_ > 0) return;
  long long delay = (currentSlice_ + 1) * resolution_ - now;
  if (delay > resolution_) {
    log(0, "StreamMessage: Woah, delay greather than resolution: %lld", delay);
    delay = 500;
  }
  if (delay > 0) sleepMs(delay);
  bytesLeft_ = sliceBytes(sliceBudget_, 0.999);
  currentSlice_++;
  sliceStart_ = currentSlice_ * resolution_;
}
