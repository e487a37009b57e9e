// TraceReader: reads the records of a memory trace one at a time from a
// stream, checking every length against what is left, so that a truncated or
// damaged trace ends the reading with a description and the offset where the
// bad record starts, never with a crash or a huge allocation.
// Not thread-safe; one reader per stream.
#pragma once

#include <cstdint>
#include <istream>
#include <string>
#include <vector>

#include "foundation/memhooks/trace_format.h"

struct TraceRecord {
  memtrace::RecordKind kind = memtrace::kRecordAlloc;
  uint64_t offset = 0;          // where the record starts in the trace
  std::vector<uint64_t> frames;  // allocation, release, message
  uint64_t size = 0;             // allocation
  uint64_t address = 0;          // allocation (0: failed), release
  uint64_t start = 0;            // mapping
  uint64_t end = 0;              // mapping
  std::string text;              // mapping path or message text
};

class TraceReader {
 public:
  enum class Status { kRecord, kEnd, kTruncated, kDamaged };

  // Frame counts and text lengths above these are taken as damage.
  static constexpr uint32_t kMaxFrameCount = 4096;
  static constexpr uint64_t kMaxTextLength = 64ull << 20;

  explicit TraceReader(std::istream& in) : _in(in) {}

  // Reads the next record into *record (written only for kRecord). After
  // kTruncated or kDamaged, error() says what and where, and every later call
  // returns the same status.
  [[nodiscard]] Status next(TraceRecord* record);

  // Bytes consumed so far.
  [[nodiscard]] uint64_t offset() const { return _offset; }
  [[nodiscard]] const std::string& error() const { return _error; }

 private:
  bool readBytes(void* out, size_t length);
  template <typename T>
  bool readValue(T* out) {
    return readBytes(out, sizeof *out);
  }
  bool readText(uint64_t length, std::string* out);
  Status readFrames(TraceRecord* record, const char* name);
  Status fail(Status status, uint64_t recordOffset, const std::string& what);

  std::istream& _in;
  uint64_t _offset = 0;
  Status _stopped = Status::kRecord;
  std::string _error;
};
