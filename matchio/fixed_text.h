// The text printf("%f") gives a double in the C locale, formatted without
// printf's format parsing and exact multiprecision conversion. The match
// writers put every coordinate through this.
#pragma once

#include <cstddef>

// Room one number needs: sign, the 309 integer digits of the largest double,
// the point and six decimals, plus a byte for snprintf's terminating NUL.
constexpr std::size_t kFixed6Room = 320;

// Writes `v` as "%f" does to [first, first + kFixed6Room) and returns the end
// of the text. No NUL is appended; a byte past the text may be overwritten.
// Values below 2^32 in magnitude are converted exactly in integer arithmetic
// (the digits and the round-half-even of "%f"); other finite values go
// through std::to_chars (fixed, 6 decimals, the same digits and rounding);
// nan, -nan, inf and -inf, and anything to_chars refuses, go through
// snprintf itself.
char *put_fixed6(char *first, double v);
