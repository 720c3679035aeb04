#include "fixed_text.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>

namespace {

std::string with_printf(double v, int decimals) {
  char text[400];
  std::snprintf(text, sizeof text, "%.*f", decimals, v);
  return text;
}

std::string with_append(double v, int decimals) {
  std::string s = "<";
  append_fixed(&s, v, decimals);
  return s.substr(1);
}

TEST(AppendFixed, SpecialValuesAsPrintfWritesThem) {
  const double specials[] = {0.0, -0.0, 0.25, 0.35, 0.05, 10.25, 7.75, -2.5, 0.5, 1.5,
                             5e-7, 1.5e-6, -4.9e-7, 1e300, -1.7976931348623157e308,
                             4.9e-324, std::numeric_limits<double>::infinity(),
                             -std::numeric_limits<double>::infinity(),
                             std::numeric_limits<double>::quiet_NaN(),
                             -std::numeric_limits<double>::quiet_NaN()};
  for (double v : specials)
    for (int d : {0, 1, 6, 12}) EXPECT_EQ(with_append(v, d), with_printf(v, d)) << v << " " << d;
}

TEST(AppendFixed, RandomValuesAsPrintfWritesThem) {
  const unsigned seed = 777u;
  std::mt19937_64 rng(seed);
  std::uniform_real_distribution<double> pixels(-5000.0, 5000.0);
  for (int i = 0; i < 200000; ++i) {
    // Any bit pattern, a pixel coordinate, and a multiple of 1/20 (many ties).
    uint64_t bits = rng();
    double any;
    std::memcpy(&any, &bits, sizeof any);
    double tie = static_cast<double>(static_cast<int64_t>(rng() % 2000000) - 1000000) / 20.0;
    for (double v : {any, pixels(rng), tie})
      for (int d : {1, 6}) ASSERT_EQ(with_append(v, d), with_printf(v, d)) << "seed " << seed;
  }
}

TEST(AppendInteger, AsPrintfWritesIt) {
  std::string s;
  append_integer(&s, 0);
  s += ' ';
  append_integer(&s, -42);
  s += ' ';
  append_integer(&s, std::numeric_limits<long long>::min());
  EXPECT_EQ(s, "0 -42 -9223372036854775808");
}

}  // namespace
