// Small text helpers shared by the data-model classes. Stateless, thread-safe.
#pragma once

#include <cstddef>

namespace modeltext {

// djb2 over the bytes taken as signed char: h = 5381, h = h*33 + c, with
// 64-bit wrap-around. A null text hashes to 0.
[[nodiscard]] long long hashText(const char* text);

// In a number with a decimal point, removes trailing '0's after the point but
// keeps the first digit after it (2.500000 -> 2.5, 3.000000 -> 3.0).
void trimNumeric(char* number);

// A malloc'd copy of `n` bytes of `text` plus a NUL; aborts when memory is
// exhausted.
[[nodiscard]] char* dupBytes(const char* text, size_t n);
// strdup that aborts when memory is exhausted; null stays null.
[[nodiscard]] char* dup(const char* text);

}  // namespace modeltext
