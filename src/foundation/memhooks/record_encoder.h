// Encoding of memory-trace records into a caller's buffer. Pure functions that
// neither allocate nor lock, so the allocator hooks can use them at any time.
// Thread-safe.
#pragma once

#include <cstddef>
#include <cstdint>

#include "foundation/memhooks/trace_format.h"

namespace memtrace {

// Each function writes one record, or the fixed part of one, at `out` and
// returns the number of bytes written. `frames` holds `count` return addresses;
// a count outside [0, kMaxFrames] is clamped. REQUIRES: `out` has room for
// kMaxAllocRecordBytes (kMappingHeaderBytes for the mapping header).

size_t encodeAlloc(uint8_t* out, void* const* frames, int count, uint64_t size, uint64_t address);
size_t encodeRelease(uint8_t* out, void* const* frames, int count, uint64_t address);
// Marker, frames and text length; the text bytes follow separately.
size_t encodeMessageHeader(uint8_t* out, void* const* frames, int count, uint64_t textLength);
// Marker, range and path length; the path bytes follow separately.
size_t encodeMappingHeader(uint8_t* out, uint64_t start, uint64_t end, uint32_t pathLength);

}  // namespace memtrace
