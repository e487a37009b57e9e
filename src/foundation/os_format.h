// Small formatting and hashing helpers shared by the whole system.
// Thread-safe: pure functions.
#pragma once

#include <cstddef>
#include <cstdint>

extern "C" {
// Writes `value` in decimal with a comma every three digits (1234567 ->
// "1,234,567"; 0 -> "0"; negative values get a leading '-'). Returns the
// length written, or -1 when `len` cannot hold the text and its NUL (dst is
// then left empty).
int s_format_number(char* dst, size_t len, long long value);

// In a number with a decimal point, removes trailing zeros but keeps one digit
// after the point: "1.500" -> "1.5", "2.000" -> "2.0". Edits `str` in place;
// returns it.
char* trimNumeric(char* str);

// 64-bit hash: start at 1125899906842597, then h = h * 31 + (c - '0') for
// every character (wrap-around). A null text gives the start value.
int64_t makeHash(const char* str);
// djb2: start at 5381, then h = h * 33 + c for every byte taken as a signed
// char (wrap-around). A null text gives 5381.
int64_t getHashValue(const char* str);
}
