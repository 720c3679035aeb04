#include "fixed_text.h"

#include <charconv>
#include <cmath>
#include <system_error>

void append_fixed(std::string *line, double v, int decimals) {
  if (std::isnan(v)) {
    line->append(std::signbit(v) ? "-nan" : "nan");
    return;
  }
  // The largest double has 309 integer digits; with sign, point and up to
  // six decimals the text fits in 320 characters.
  char text[330];
  std::to_chars_result r =
      std::to_chars(text, text + sizeof text, v, std::chars_format::fixed, decimals);
  if (r.ec == std::errc()) {
    line->append(text, r.ptr);
    return;
  }
  // Only more decimals than the listings use can get here.
  int size = std::snprintf(nullptr, 0, "%.*f", decimals, v);
  std::string wide(static_cast<size_t>(size) + 1, '\0');
  std::snprintf(&wide[0], wide.size(), "%.*f", decimals, v);
  line->append(wide.c_str(), static_cast<size_t>(size));
}

void append_integer(std::string *line, long long v) {
  char text[24];
  std::to_chars_result r = std::to_chars(text, text + sizeof text, v);
  line->append(text, r.ptr);
}
