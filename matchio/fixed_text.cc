// printf("%f") text of a double: exact integer arithmetic for pixel-sized
// values, std::to_chars for the others.
#include "fixed_text.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <system_error>

namespace {

// Values below 2^32 in magnitude (every pixel coordinate): v = m 2^-s
// exactly, so v 10^6 = m 10^6 2^-s is a 128-bit product shifted right,
// rounded half to even on the exact remainder as printf rounds; then the
// digits. false when v is out of that range.
bool put_small_fixed6(char **at, double v) {
  std::uint64_t bits;
  std::memcpy(&bits, &v, sizeof bits);
  const bool negative = bits >> 63;
  const int biased = static_cast<int>((bits >> 52) & 0x7ff);
  std::uint64_t m = bits & ((std::uint64_t{1} << 52) - 1);
  if (biased >= 1023 + 32) return false;  // |v| >= 2^32, or not finite
  int shift;                              // v = m 2^-shift
  if (biased == 0) {
    shift = 1074;  // zero and the subnormals
  } else {
    m |= std::uint64_t{1} << 52;
    shift = 1075 - biased;  // at least 1075 - 1054 = 21
  }
  std::uint64_t n = 0;  // round(|v| 10^6)
  if (shift < 100) {
    const unsigned __int128 p = static_cast<unsigned __int128>(m) * 1000000u;  // < 2^73
    const unsigned __int128 one = 1;
    const unsigned __int128 rem = p & ((one << shift) - 1), half = one << (shift - 1);
    n = static_cast<std::uint64_t>(p >> shift);
    if (rem > half || (rem == half && (n & 1))) ++n;
  }  // else |v| 10^6 < 2^73 2^-100: rounds to 0
  char *out = *at;
  if (negative) *out++ = '-';
  const std::uint64_t whole = n / 1000000u;
  std::uint32_t frac = static_cast<std::uint32_t>(n % 1000000u);
  char digits[24];
  int k = 0;
  std::uint64_t w = whole;
  do {
    digits[k++] = static_cast<char>('0' + w % 10);
    w /= 10;
  } while (w);
  while (k) *out++ = digits[--k];
  *out++ = '.';
  for (int i = 5; i >= 0; --i) {
    out[i] = static_cast<char>('0' + frac % 10);
    frac /= 10;
  }
  *at = out + 6;
  return true;
}

}  // namespace

char *put_fixed6(char *first, double v) {
  char *at = first;
  if (put_small_fixed6(&at, v)) return at;
  if (std::isfinite(v)) {
    const std::to_chars_result r =
        std::to_chars(first, first + (kFixed6Room - 1), v, std::chars_format::fixed, 6);
    if (r.ec == std::errc()) return r.ptr;
  }
  // The infinities and nans keep printf's own spelling ("-nan" included).
  const int n = std::snprintf(first, kFixed6Room, "%f", v);
  if (n <= 0) return first;
  return first + (static_cast<std::size_t>(n) < kFixed6Room ? n : kFixed6Room - 1);
}
