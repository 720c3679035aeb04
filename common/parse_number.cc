#include "parse_number.h"

#include <cstdint>
#include <cstdio>

namespace {

// Exact powers of ten: every one up to 10^22 is a double without rounding.
const double kPowersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                               1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                               1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

bool is_space(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

// With at most 15 digits the digits form an exact integer below 2^53 and the
// power of ten is exact, so the one division is correctly rounded and gives
// the C library's result bit for bit. "1e" and "0x1p" are one number to
// "%lf", "0x" none at all, and "nan(12)" stops before the parenthesis: only
// the C library itself reproduces such edges, so they go to it.
double parse_number(const char *p, const char **end) {
  const char *start = p;
  while (is_space(*p)) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  uint64_t digits = 0;
  int count = 0;
  int decimals = 0;
  while (is_digit(*p)) {
    digits = digits * 10 + static_cast<uint64_t>(*p++ - '0');
    ++count;
    if (count > 15) break;
  }
  if (*p == '.' && count <= 15) {
    ++p;
    while (is_digit(*p)) {
      digits = digits * 10 + static_cast<uint64_t>(*p++ - '0');
      ++count;
      ++decimals;
      if (count > 15) break;
    }
  }
  const bool plain = count > 0 && count <= 15 && !is_digit(*p) && *p != 'e' && *p != 'E' &&
                     *p != 'x' && *p != 'X';
  if (!plain) {
    double v = 0.0;
    int used = 0;
    if (std::sscanf(start, "%lf%n", &v, &used) != 1) {
      *end = start;
      return 0.0;
    }
    *end = start + used;
    return v;
  }
  *end = p;
  const double v = static_cast<double>(digits) / kPowersOfTen[decimals];
  return negative ? -v : v;
}

int parse_numbers(const char *line, double *values, int wanted) {
  const char *p = line;
  for (int i = 0; i < wanted; ++i) {
    const char *end = nullptr;
    const double v = parse_number(p, &end);
    if (end == p) return i;
    values[i] = v;
    p = end;
  }
  return wanted;
}
