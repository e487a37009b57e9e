// StreamMessage: the tagged encoding written straight onto a StreamConnection
// (mode 1) or read straight from one (mode 2), with no framing. A writer may
// hold its sending rate to a bandwidth limit, spread over 100-millisecond
// slices.
//
// Not thread-safe: one thread uses a message (and its stream).
#pragma once

#include <cstdint>

#include "coms/sourced_message.h"

class StreamConnection;

class StreamMessage : public SourcedMessage {
 public:
  // Length of a time slice of the flow limit, in milliseconds.
  static constexpr int kResolution = 100;

  // `mode` 1 writes to `stream`, 2 reads from it.
  StreamMessage(StreamConnection* stream, int mode);

  // Limits writing to `kilobitsPerSecond` (0: no limit; a negative value
  // counts as 1). The budget of a slice is k x 0.125 x 100 bytes, less the
  // fraction below one byte.
  void setFlowLimit(double kilobitsPerSecond);
  [[nodiscard]] double getSliceBudget() const { return sliceBudget_; }

 protected:
  long pull(char* buffer, size_t n) override;
  bool push(const char* data, size_t n) override;

 private:
  bool write(const char* data, size_t n);
  void recomputeSlice();

  StreamConnection* stream_;
  int resolution_ = kResolution;
  double sliceBudget_ = 0.0;
  long long bytesLeft_ = 0;
  long long currentSlice_ = -1;
  long long sliceStart_ = 0;
};
