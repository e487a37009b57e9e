// The byte layout of memory traces and of guarded blocks, shared by the
// allocator hooks that write traces and the programs that read them. Plain
// constants only: usable from the hooks before any constructor has run.
//
// A trace is a sequence of records in native byte order, written back to back,
// each starting with a one-byte marker:
//   1 allocation  frame count n (4), n return addresses (8 each), size (8), address (8)
//   2 release     frame count n (4), n return addresses (8 each), address (8)
//   3 mapping     start (8), end (8), path length (4), path bytes
//   4 message     frame count n (4), n return addresses (8 each), text length (8), text bytes
// An allocation whose address is 0 failed; its size is all ones when the
// requested size itself overflowed (calloc).
#pragma once

#include <cstddef>
#include <cstdint>

namespace memtrace {

enum RecordKind : uint8_t {
  kRecordAlloc = 1,
  kRecordRelease = 2,
  kRecordMapping = 3,
  kRecordMessage = 4,
};

// Frames are taken to this depth with the hook's own frame first; that frame
// is left out, so a record carries at most kMaxFrames return addresses.
inline constexpr int kStackDepth = 30;
inline constexpr int kMaxFrames = kStackDepth - 1;

// Guarded block, from its start: requested size (8), pre-guard (16), user
// data (size), post-guard (16). Traces name a guarded block by its start,
// which is the user address minus kUserOffset.
inline constexpr size_t kSizeFieldBytes = 8;
inline constexpr size_t kGuardBytes = 16;
inline constexpr size_t kUserOffset = kSizeFieldBytes + kGuardBytes;  // 24
inline constexpr size_t kGuardOverhead = kUserOffset + kGuardBytes;   // 40
// "ZZZZpreg" + "uardZZZZ" and "ZZZZpost" + "guardZZZ", without terminators.
inline constexpr char kPreGuard[kGuardBytes + 1] = "ZZZZpreguardZZZZ";
inline constexpr char kPostGuard[kGuardBytes + 1] = "ZZZZpostguardZZZ";
// Freed guarded blocks are overwritten with this byte.
inline constexpr unsigned char kFreedFill = 'X';

// Message texts written when a guard was found damaged.
inline constexpr char kPreGuardDamagedInFree[] = "PREGUARD was destroyed. Detected in free()";
inline constexpr char kPostGuardDamagedInFree[] = "POSTGUARD was destroyed. Detected in free()";
inline constexpr char kPreGuardDamagedInRealloc[] = "PREGUARD was destroyed. Detected in realloc()";
inline constexpr char kPostGuardDamagedInRealloc[] = "POSTGUARD was destroyed. Detected in realloc()";

// Sizes of the fixed parts.
inline constexpr size_t kFramesHeaderBytes = 1 + 4;  // marker + frame count
inline constexpr size_t kMaxAllocRecordBytes = kFramesHeaderBytes + kMaxFrames * 8 + 8 + 8;
inline constexpr size_t kMappingHeaderBytes = 1 + 8 + 8 + 4;

}  // namespace memtrace
