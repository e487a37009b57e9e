// URL encoding of query-string texts. Stateless, thread-safe.
#pragma once

// A new copy of `text` (release with free): letters, digits and "~_-." are
// kept, a blank becomes '+', every other byte '%' and two lower-case hex
// digits. A null text gives null.
[[nodiscard]] char* urlEncode(const char* text);
