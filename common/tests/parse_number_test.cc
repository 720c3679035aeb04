// The number reader against the C library's "%lf" on the forms match files
// hold and on the malformed ones where readers tend to part ways.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <string>

#include "parse_number.h"

namespace {

void expect_like_scanf(const std::string &text) {
  double expected = 0.0;
  int used = 0;
  const bool found = std::sscanf(text.c_str(), "%lf%n", &expected, &used) == 1;
  const char *end = nullptr;
  const double got = parse_number(text.c_str(), &end);
  ASSERT_EQ(end != text.c_str(), found) << text;
  if (!found) return;
  EXPECT_EQ(end - text.c_str(), used) << text;
  EXPECT_EQ(std::memcmp(&got, &expected, sizeof got) == 0 || (got != got && expected != expected),
            true)
      << text;
}

TEST(ParseNumber, AgreesWithScanfOnEdgeForms) {
  for (const char *text :
       {"0", "-0", "+0.0", "12.5", " \t 7", "1.", ".5", "-.5", ".", "-", "+", "", "abc", "1e",
        "1e5", "1.5E-3x", "0x", "0x1p3", "0x1P", "inf", "-infinity", "nan", "nan(12)", "1.5abc",
        "123456789012345", "1234567890123456", "0.1234567890123456789", "99999999999999999999",
        "1e400", "4.9e-324", "00000000000000001.5", "3.14159 2.71828"})
    expect_like_scanf(text);
}

TEST(ParseNumber, AgreesWithScanfOnRandomDecimals) {
  std::mt19937_64 rng(20261209);
  for (int i = 0; i < 20000; ++i) {
    const int int_digits = static_cast<int>(rng() % 9);
    const int frac_digits = static_cast<int>(rng() % 12);
    std::string text = rng() % 3 == 0 ? "-" : "";
    for (int d = 0; d < int_digits; ++d) text += static_cast<char>('0' + rng() % 10);
    if (frac_digits > 0 || rng() % 2) text += '.';
    for (int d = 0; d < frac_digits; ++d) text += static_cast<char>('0' + rng() % 10);
    expect_like_scanf(text);
  }
}

TEST(ParseNumber, ParseNumbersCountsLikeScanf) {
  double v[6] = {9, 9, 9, 9, 9, 9};
  EXPECT_EQ(parse_numbers("1 2 3 4 5 6 7", v, 6), 6);
  EXPECT_EQ(v[5], 6.0);
  double w[6] = {9, 9, 9, 9, 9, 9};
  EXPECT_EQ(parse_numbers("1.5 2.5 x 4", w, 6), 2);
  EXPECT_EQ(w[1], 2.5);
  EXPECT_EQ(w[2], 9.0);  // values past the count are left alone
  EXPECT_EQ(parse_numbers("", w, 6), 0);
  EXPECT_EQ(parse_numbers("   ", w, 6), 0);
}

}  // namespace
