// Reading a process's memory map (the "/proc/<pid>/maps" format) without
// allocating, for the mapping records of a memory trace. Lines of any length
// are handled: a line too long for the scanner's buffer is skipped whole
// rather than split. Thread-safe (no shared state).
#pragma once

#include <cstddef>
#include <cstdint>

namespace memtrace {

struct MapsLine {
  uint64_t start = 0;
  uint64_t end = 0;
  bool executable = false;
  // The path column, possibly empty; points into the caller's line and is not
  // terminated.
  const char* path = nullptr;
  size_t pathLength = 0;
};

// Parses one line (without its newline): "start-end perms offset dev inode  path".
// Returns false, leaving *out untouched, when the line is not in that form.
[[nodiscard]] bool parseMapsLine(const char* line, size_t length, MapsLine* out);

using MapsVisitor = void (*)(void* context, const MapsLine& line);

// Calls `visit` for every well-formed line of the file at `path`. Returns false
// when the file cannot be opened.
bool scanMapsFile(const char* path, MapsVisitor visit, void* context);

// The same for "/proc/<pid>/maps" of the calling process.
bool scanOwnMaps(MapsVisitor visit, void* context);

}  // namespace memtrace
