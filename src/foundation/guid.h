// Process-unique identifiers and the hardware address of the host.
// makeGuid is serialized by its own lock; getFirstMac keeps no state.
#pragma once

#include <cstddef>

// A new 36-character identifier (release with freeGuid): a time-based UUID in
// its text form in which digit i (0 to 31, hyphens skipped) is replaced by
// the letter 'g' + its value whenever bit i of a process-wide call counter is
// set. Two calls in one process never return the same text. Null only when
// the UUID library fails.
[[nodiscard]] char* makeGuid();
void freeGuid(char* guid);

// Writes the hardware address of the first interface with a usable IPv4
// address (not 0.0.0.0, 255.255.255.255, 127.0.0.1 or multicast) as
// "xx:xx:xx:xx:xx:xx" into `dst` (at least 18 bytes) and returns 0; -1 when
// there is none or it cannot be read (logged).
[[nodiscard]] int getFirstMac(char* dst, size_t length = 18);
