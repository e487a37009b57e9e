#include "trace_reader.h"

#include <cstdio>

using namespace memtrace;

bool TraceReader::readBytes(void* out, size_t length) {
  if (length == 0) return true;
  _in.read(static_cast<char*>(out), static_cast<std::streamsize>(length));
  size_t got = static_cast<size_t>(_in.gcount());
  _offset += got;
  return got == length;
}

bool TraceReader::readText(uint64_t length, std::string* out) {
  // In pieces: a length that runs past the end costs no more memory than the
  // bytes that are really there.
  out->clear();
  char buf[65536];
  while (length > 0) {
    size_t piece = length < sizeof buf ? static_cast<size_t>(length) : sizeof buf;
    _in.read(buf, static_cast<std::streamsize>(piece));
    size_t got = static_cast<size_t>(_in.gcount());
    _offset += got;
    out->append(buf, got);
    if (got != piece) return false;
    length -= piece;
  }
  return true;
}

TraceReader::Status TraceReader::fail(Status status, uint64_t recordOffset, const std::string& what) {
  char where[64];
  std::snprintf(where, sizeof where, " at offset %llu", static_cast<unsigned long long>(recordOffset));
  _stopped = status;
  _error = (status == Status::kTruncated ? "trace truncated: " : "trace damaged: ") + what + where;
  return status;
}

TraceReader::Status TraceReader::readFrames(TraceRecord* record, const char* name) {
  uint64_t at = record->offset;
  uint32_t count;
  if (!readValue(&count)) return fail(Status::kTruncated, at, std::string(name) + " cut short");
  if (count > kMaxFrameCount) {
    return fail(Status::kDamaged, at, std::string(name) + " with frame count " + std::to_string(count));
  }
  record->frames.resize(count);
  if (count > 0 && !readBytes(record->frames.data(), count * sizeof(uint64_t))) {
    return fail(Status::kTruncated, at, std::string(name) + " cut short");
  }
  return Status::kRecord;
}

TraceReader::Status TraceReader::next(TraceRecord* out) {
  if (_stopped != Status::kRecord) return _stopped;
  uint64_t at = _offset;
  uint8_t marker;
  if (!readBytes(&marker, 1)) {
    _stopped = Status::kEnd;
    return _stopped;
  }
  TraceRecord r;
  r.offset = at;
  const char* name = "record";
  switch (marker) {
    case kRecordAlloc:
    case kRecordRelease:
    case kRecordMessage: {
      name = marker == kRecordAlloc ? "allocation record" : marker == kRecordRelease ? "release record" : "message record";
      r.kind = static_cast<RecordKind>(marker);
      if (Status s = readFrames(&r, name); s != Status::kRecord) return s;
      if (marker == kRecordAlloc) {
        if (!readValue(&r.size) || !readValue(&r.address)) return fail(Status::kTruncated, at, "allocation record cut short");
      } else if (marker == kRecordRelease) {
        if (!readValue(&r.address)) return fail(Status::kTruncated, at, "release record cut short");
      } else {
        uint64_t length;
        if (!readValue(&length)) return fail(Status::kTruncated, at, "message record cut short");
        if (length > kMaxTextLength) {
          return fail(Status::kDamaged, at, "message record with text length " + std::to_string(length));
        }
        if (!readText(length, &r.text)) return fail(Status::kTruncated, at, "message record cut short");
      }
      break;
    }
    case kRecordMapping: {
      r.kind = kRecordMapping;
      uint32_t length;
      if (!readValue(&r.start) || !readValue(&r.end) || !readValue(&length)) {
        return fail(Status::kTruncated, at, "mapping record cut short");
      }
      if (length > 65536) return fail(Status::kDamaged, at, "mapping record with path length " + std::to_string(length));
      if (!readText(length, &r.text)) return fail(Status::kTruncated, at, "mapping record cut short");
      break;
    }
    default: {
      char what[48];
      std::snprintf(what, sizeof what, "unknown record marker 0x%02x", marker);
      return fail(Status::kDamaged, at, what);
    }
  }
  *out = std::move(r);
  return Status::kRecord;
}
