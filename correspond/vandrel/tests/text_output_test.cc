#include "text_output.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string>

namespace {

// Collects what a TextOutput writes, through a memory stream.
class Captured {
 public:
  Captured() : stream_(open_memstream(&text_, &size_)) {}
  ~Captured() {
    if (stream_) std::fclose(stream_);
    std::free(text_);
  }
  FILE *stream() { return stream_; }
  std::string text() {
    std::fflush(stream_);
    return std::string(text_, size_);
  }

 private:
  char *text_ = nullptr;
  size_t size_ = 0;
  FILE *stream_;
};

std::string with_printf(double v, int decimals) {
  int size = std::snprintf(nullptr, 0, "%.*f", decimals, v);
  std::string text(static_cast<size_t>(size) + 1, '\0');
  std::snprintf(&text[0], text.size(), "%.*f", decimals, v);
  text.resize(static_cast<size_t>(size));
  return text;
}

TEST(VandrelPutFixed, SpecialValuesAsPrintfWritesThem) {
  const double specials[] = {0.0, -0.0, 0.25, 0.35, 0.05, 10.25, 7.75, -2.5, 0.5, 1.5,
                             5e-7, 1.5e-6, -4.9e-7, 1e300, -1.7976931348623157e308,
                             4.9e-324, std::numeric_limits<double>::infinity(),
                             -std::numeric_limits<double>::infinity(),
                             std::numeric_limits<double>::quiet_NaN(),
                             -std::numeric_limits<double>::quiet_NaN()};
  Captured c;
  std::string expected;
  {
    TextOutput out(c.stream());
    for (double v : specials)
      for (int d : {0, 1, 6, 12, 500}) {
        put_fixed(&out, v, d);
        put_text(&out, "|");
        expected += with_printf(v, d) + "|";
      }
  }
  EXPECT_EQ(c.text(), expected);
}

TEST(VandrelPutFixed, RandomValuesAsPrintfWritesThem) {
  const unsigned seed = 777u;
  std::mt19937_64 rng(seed);
  std::uniform_real_distribution<double> pixels(-5000.0, 5000.0);
  Captured c;
  std::string expected;
  {
    TextOutput out(c.stream());
    for (int i = 0; i < 100000; ++i) {
      // Any bit pattern, a pixel coordinate, and a multiple of 1/20 (many
      // exact ties at one decimal).
      uint64_t bits = rng();
      double any;
      std::memcpy(&any, &bits, sizeof any);
      double tie = static_cast<double>(static_cast<int64_t>(rng() % 2000000) - 1000000) / 20.0;
      for (double v : {any, pixels(rng), tie})
        for (int d : {1, 6}) {
          put_fixed(&out, v, d);
          put_text(&out, " ");
          expected += with_printf(v, d) + " ";
        }
    }
  }
  // Far more than one buffer: the flushes keep the order.
  ASSERT_GT(expected.size(), size_t{1} << 20);
  std::string got = c.text();
  ASSERT_EQ(got.size(), expected.size()) << "seed " << seed;
  EXPECT_TRUE(got == expected) << "seed " << seed;
}

TEST(VandrelPutFixed, ValuesOfEveryMagnitudeBelowABillion) {
  // Values from 1e-12 to just below 1e9, with zero to nine decimals, and
  // values a hair away from rounding boundaries.
  const unsigned seed = 99u;
  std::mt19937_64 rng(seed);
  std::uniform_real_distribution<double> exponent(-12.0, 9.0);
  Captured c;
  std::string expected;
  {
    TextOutput out(c.stream());
    for (int i = 0; i < 100000; ++i) {
      double v = std::pow(10.0, exponent(rng));
      if (rng() & 1) v = -v;
      double near = std::nextafter(std::round(v * 1000.0) / 1000.0 + 0.0005, (rng() & 1) ? 1e10 : -1e10);
      for (double x : {v, near, 999999999.99999988, 0.95, 9.5, 99.95})
        for (int d = 0; d <= 9; ++d) {
          put_fixed(&out, x, d);
          put_text(&out, " ");
          expected += with_printf(x, d) + " ";
        }
    }
  }
  std::string got = c.text();
  ASSERT_EQ(got.size(), expected.size()) << "seed " << seed;
  EXPECT_TRUE(got == expected) << "seed " << seed;
}

TEST(VandrelPutText, IntegersAndLongTexts) {
  Captured c;
  std::string big(100000, 'x');
  {
    TextOutput out(c.stream());
    put_integer(&out, 0);
    put_text(&out, " ");
    put_integer(&out, -42);
    put_text(&out, " ");
    put_integer(&out, std::numeric_limits<long long>::min());
    put_text(&out, big.c_str());
    put_text(&out, "end");
  }
  EXPECT_EQ(c.text(), "0 -42 -9223372036854775808" + big + "end");
}

}  // namespace
