// printf("%f") text of a double via std::to_chars.
#include "fixed_text.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <system_error>

char *put_fixed6(char *first, double v) {
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
