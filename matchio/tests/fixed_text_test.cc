// put_fixed6 against snprintf("%f"), byte for byte, and the writers' files
// against the fprintf text.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "cli_util.h"
#include "fixed_text.h"
#include "matchio.h"

namespace {

// Counts the values whose put_fixed6 text differs from snprintf's and keeps
// the first few for the failure message.
class Comparison {
 public:
  void check(double v) {
    char ours[kFixed6Room + 8];
    std::memset(ours, '#', sizeof ours);
    const char *end = put_fixed6(ours, v);
    const std::size_t length = static_cast<std::size_t>(end - ours);
    char theirs[kFixed6Room + 8];
    const int n = std::snprintf(theirs, sizeof theirs, "%f", v);
    ++checked_;
    if (n >= 0 && length == static_cast<std::size_t>(n) && std::memcmp(ours, theirs, length) == 0)
      return;
    if (++wrong_ <= 5) {
      std::uint64_t bits;
      std::memcpy(&bits, &v, sizeof bits);
      char hex[32];
      std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(bits));
      report_ += std::string(hex) + ": \"" + std::string(ours, length) + "\" vs \"" + theirs + "\"\n";
    }
  }
  // Checks `v` and its neighbours up to `ulps` steps either way.
  void check_around(double v, int ulps) {
    double down = v, up = v;
    check(v);
    for (int i = 0; i < ulps; ++i) {
      down = std::nextafter(down, -INFINITY);
      up = std::nextafter(up, INFINITY);
      check(down);
      check(up);
    }
  }
  void expect_all_equal(long long at_least) const {
    EXPECT_GE(checked_, at_least);
    EXPECT_EQ(wrong_, 0) << report_;
  }

 private:
  long long checked_ = 0;
  long long wrong_ = 0;
  std::string report_;
};

double from_bits(std::uint64_t bits) {
  double v;
  std::memcpy(&v, &bits, sizeof v);
  return v;
}

TEST(FixedText, RandomValuesAcrossMagnitudes) {
  Comparison c;
  std::mt19937_64 gen(20261209);
  std::uniform_real_distribution<double> exponent(-12.0, 300.0);
  std::uniform_real_distribution<double> pixel(-5000.0, 5000.0);
  for (int i = 0; i < 200000; ++i) {
    const double v = std::pow(10.0, exponent(gen));
    c.check((i & 1) ? -v : v);
    // Coordinates of the size the match files hold.
    c.check(pixel(gen));
    c.check(pixel(gen) * 1e-3);
  }
  // Arbitrary bit patterns: every exponent, denormals, nan payloads.
  for (int i = 0; i < 100000; ++i) c.check(from_bits(gen()));
  c.expect_all_equal(700000);
}

TEST(FixedText, RoundingBoundaries) {
  Comparison c;
  std::mt19937_64 gen(7);
  // Six-decimal steps and the half steps between them, a few ulps either way.
  for (int k = -30000; k <= 30000; ++k) {
    c.check_around(k / 1e6, 2);
    c.check_around((k + 0.5) / 1e6, 2);
  }
  // Halfway cases away from zero, in pixel coordinates.
  std::uniform_int_distribution<long long> micro(-4000000000LL, 4000000000LL);
  for (int i = 0; i < 20000; ++i) c.check_around((static_cast<double>(micro(gen)) + 0.5) / 1e6, 2);
  // Exact binary ties at the seventh decimal: k + j/128 ends in ...5 there.
  for (int k = -300; k <= 300; ++k)
    for (int j = 0; j < 128; ++j) c.check_around(k + j / 128.0, 1);
  c.check_around(0.0000005, 8);
  c.check_around(-0.0000005, 8);
  c.check_around(0.0000015, 8);
  c.check_around(0.0000025, 8);
  c.check_around(0.9999995, 8);
  c.check_around(999999.9999995, 8);
  c.expect_all_equal(300000);
}

TEST(FixedText, IntegersZerosAndExtremes) {
  Comparison c;
  for (int k = -20000; k <= 20000; ++k) c.check(k);
  for (int e = 0; e <= 1023; ++e) {
    c.check_around(std::ldexp(1.0, e), 2);
    c.check_around(-std::ldexp(1.0, e), 2);
  }
  c.check_around(9007199254740992.0, 16);  // 2^53
  c.check_around(-9007199254740992.0, 16);
  c.check(0.0);
  c.check(-0.0);
  // Tiny negatives print as "-0.000000".
  c.check(-1e-7);
  c.check(-4.999999e-7);
  c.check(-1e-300);
  c.check_around(DBL_MAX, 4);
  c.check_around(-DBL_MAX, 4);
  c.check_around(DBL_MIN, 4);
  c.check_around(-DBL_MIN, 4);
  c.check(std::numeric_limits<double>::denorm_min());
  c.check(-std::numeric_limits<double>::denorm_min());
  c.check(from_bits(0x000fffffffffffffULL));
  c.check(from_bits(0x800fffffffffffffULL));
  c.check(std::numeric_limits<double>::quiet_NaN());
  c.check(-std::numeric_limits<double>::quiet_NaN());
  c.check(from_bits(0x7ff0000000000001ULL));
  c.check(from_bits(0xfff8000000000123ULL));
  c.check(INFINITY);
  c.check(-INFINITY);
  c.expect_all_equal(50000);
}

// The three writers' files hold exactly the fprintf text, also for extreme
// and non-finite coordinates.
TEST(FixedText, WrittenFilesEqualFprintfText) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double values[] = {0.0,     -0.0,     -1e-7,   0.0000005, 2.5e-7, 1234.5678905,
                           DBL_MAX, -DBL_MAX, INFINITY, -INFINITY, nan,    -nan,
                           1e22,    -3.25,    4e-320,  639.999999, 1.0 / 3, 9007199254740993.0};
  const int n = static_cast<int>(sizeof values / sizeof values[0]);
  std::vector<MatchRecord> records;
  for (int i = 0; i < 3 * n; ++i) {
    const double a = values[i % n], b = values[(i * 5 + 1) % n], c = values[(i * 7 + 2) % n];
    MatchRecord r{{a, b, 0}, {c, a, 0}, {b, c, 0}};
    if (i % 4 == 3) r.middle = {-1.0, -1.0, -1};  // a pair line
    records.push_back(r);
  }
  std::string triplets, left, right;
  char line[4096];
  for (const MatchRecord &r : records) {
    if (point_absent(r.middle))
      std::snprintf(line, sizeof line, "%f %f %f %f\n", r.first.x, r.first.y, r.last.x, r.last.y);
    else
      std::snprintf(line, sizeof line, "%f %f %f %f %f %f\n", r.first.x, r.first.y, r.middle.x,
                    r.middle.y, r.last.x, r.last.y);
    triplets += line;
    std::snprintf(line, sizeof line, "%f %f \n", r.first.x, r.first.y);
    left += line;
    std::snprintf(line, sizeof line, "%f %f \n", r.last.x, r.last.y);
    right += line;
  }
  qortest::TempDir dir;
  const int count = static_cast<int>(records.size());
  std::vector<int32_t> flags(records.size(), 1);
  std::vector<uint8_t> keep(records.size(), 1);
  ASSERT_EQ(write_support_matches(records.data(), count, flags.data(), dir.file("s.matches")),
            Status::ok);
  ASSERT_EQ(write_filtered_matches(records.data(), count, keep.data(), dir.file("f.filtered")),
            Status::ok);
  ASSERT_EQ(write_filtered_side(records.data(), count, keep.data(), MatchSide::first,
                                dir.file("f.L.filtered")),
            Status::ok);
  ASSERT_EQ(write_filtered_side(records.data(), count, keep.data(), MatchSide::last,
                                dir.file("f.R.filtered")),
            Status::ok);
  EXPECT_EQ(qortest::read_file(dir.file("s.matches")), triplets);
  EXPECT_EQ(qortest::read_file(dir.file("f.filtered")), triplets);
  EXPECT_EQ(qortest::read_file(dir.file("f.L.filtered")), left);
  EXPECT_EQ(qortest::read_file(dir.file("f.R.filtered")), right);
}

}  // namespace
