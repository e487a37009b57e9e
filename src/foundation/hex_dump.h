// Hex dumps for the trace levels of the log: lines of 32 bytes, each byte as
// two lower-case hex digits and a blank (a short last line padded to the full
// width), then the same bytes as characters ('.' for non-printable ones).
// Stateless, thread-safe.
#pragma once

#include <cstddef>
#include <string>

// One dump line of the first min(n, 32) bytes, without a line break.
[[nodiscard]] std::string hexDumpLine(const unsigned char* bytes, size_t n);

// Prints the lines to standard output, then "%d bytes...\n".
void hex(const void* bytes, int length);
// Logs "--- %d bytes...", each line, then "---".
void logHex(const void* bytes, int length);
