#include "triplet_file.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "cli_util.h"
#include "console_report.h"
#include "options.h"

namespace {

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

TEST(VandrelBuildTripletName, JoinsThreeImageNamesAndPostamble) {
  TrackSettings s;
  s.preamble = "seq";
  s.postamble = ".txt";
  EXPECT_EQ(build_triplet_name(s, 7), "seq7.jpg-seq8.jpg-seq9.jpg.txt");
  s.preamble = "";
  s.postamble = "";
  s.extension = "png";
  EXPECT_EQ(build_triplet_name(s, -1), "-1.png-0.png-1.png");
  // Long texts are kept whole.
  s.preamble = std::string(300, 'p');
  EXPECT_EQ(build_triplet_name(s, 0).size(), 3 * (300 + 1 + 1 + 3) + 2u);
}

class VandrelReadTriplets : public testing::Test {
 protected:
  // Reads `text` as a triplet file and returns what was printed.
  std::string read(const std::string &text, int minimum_disparity = 5) {
    std::string name = dir.file("t.txt");
    qortest::write_file(name, text);
    ConsolePrinter printer;
    CaptureStdout();
    ok = read_triplets(name, minimum_disparity, &buffer, &printer) == Status::ok;
    return GetCapturedStdout();
  }
  qortest::TempDir dir;
  TripletBuffer buffer;
  bool ok = false;
};

TEST_F(VandrelReadTriplets, DisparityAtTheThresholdDropsTheTriplet) {
  std::string out = read(
      "0 0 3 4 20 20\n"          // first to middle exactly 5: dropped
      "0 0 5.0001 0 20 0\n"      // 5.0001 apart: kept
      "0 0 10 0 13 4\n"          // middle to last exactly 5: dropped
      "0 0 10 0 10 0\n"          // middle and last equal: dropped
      "0 0 0 0 0 0\n");          // both too close: one message only
  EXPECT_TRUE(ok);
  EXPECT_EQ(out, "Too small disparity\nToo small disparity\nToo small disparity\nToo small disparity\n");
  ASSERT_EQ(buffer.triplets.size(), 1u);
  EXPECT_EQ(buffer.triplets[0].middle.x, 5.0001);
  EXPECT_EQ(buffer.triplets[0].last.x, 20.0);
}

TEST_F(VandrelReadTriplets, ThresholdFollowsTheSetting) {
  EXPECT_EQ(read("0 0 3 4 20 20\n", 4), "");
  EXPECT_EQ(buffer.triplets.size(), 1u);
  EXPECT_EQ(read("0 0 3 4 20 20\n", 10), "Too small disparity\n");
  EXPECT_EQ(buffer.triplets.size(), 0u);
}

TEST_F(VandrelReadTriplets, SkipsBlankAndShortLinesAndKeepsFileOrder) {
  std::string out = read(
      "\n"
      "   \t \n"
      "1 2 3 4 5\n"
      "10.5 20.25 30 40 50 60 extra words 7\n"
      "not numbers at all\n"
      "-1e2 -2E1 0x10 40 +50 60\r\n"
      "100 100 200 200 300 300");  // no final line feed
  EXPECT_EQ(out, "");
  ASSERT_EQ(buffer.triplets.size(), 3u);
  const Triplet &a = buffer.triplets[0];
  EXPECT_EQ(a.first.x, 10.5);
  EXPECT_EQ(a.first.y, 20.25);
  EXPECT_EQ(a.middle.x, 30.0);
  EXPECT_EQ(a.middle.y, 40.0);
  EXPECT_EQ(a.last.x, 50.0);
  EXPECT_EQ(a.last.y, 60.0);
  EXPECT_EQ(buffer.triplets[1].first.x, -100.0);
  EXPECT_EQ(buffer.triplets[1].first.y, -20.0);
  EXPECT_EQ(buffer.triplets[1].middle.x, 16.0);
  EXPECT_EQ(buffer.triplets[2].last.y, 300.0);
}

TEST_F(VandrelReadTriplets, NumbersDoNotRunOnIntoTheNextLine) {
  read("1 2 3\n40 50 60\n70 80 90 100 110 120\n");
  ASSERT_EQ(buffer.triplets.size(), 1u);
  EXPECT_EQ(buffer.triplets[0].first.x, 70.0);
}

TEST_F(VandrelReadTriplets, ALongLineIsOneTriplet) {
  // Each number printed with 60 decimals: the line is far longer than 100
  // characters and must still give exactly one triplet.
  std::string digits(60, '3');
  std::string line;
  for (int v : {10, 20, 30, 40, 50, 60}) line += std::to_string(v) + "." + digits + " ";
  read(line + "\n" + line + "\n");
  ASSERT_EQ(buffer.triplets.size(), 2u);
  EXPECT_DOUBLE_EQ(buffer.triplets[1].last.y, 60.333333333333333);
}

TEST_F(VandrelReadTriplets, NumbersConvertExactlyAsTheCLibraryDoes) {
  // Short and long decimals, signs, leading and trailing points, exponents,
  // hexadecimal, huge and tiny values: every one must give strtod's double.
  const unsigned seed = 4242u;
  std::mt19937_64 rng(seed);
  const char *fixed[] = {"0",      "-0",         "+7",    ".5",        "5.",
                         "1e3",    "2.5E-3",     "0x1p4", "inf",       "-nan",
                         "1e400",  "1e-400",     "123456789012345.5",
                         "123456789012345",      "0.1234567890123456789",
                         "000000000000000000012.5", "9007199254740993"};
  std::vector<std::string> numbers(std::begin(fixed), std::end(fixed));
  for (int i = 0; i < 3000; ++i) {
    std::string n = (rng() % 3 == 0) ? "-" : "";
    n += std::to_string(rng() % 100000000000ull);
    int decimals = static_cast<int>(rng() % 12);
    if (decimals > 0) {
      std::string frac = std::to_string(rng());
      n += "." + frac.substr(0, static_cast<size_t>(decimals));
    }
    numbers.push_back(n);
  }
  // Each number stands as the last coordinate beside values far apart.
  std::string text;
  for (const std::string &n : numbers) text += "-1000 -1000 0 0 1000 " + n + "\n";
  read(text, -1);  // no disparity limit: every triplet is kept
  ASSERT_EQ(buffer.triplets.size(), numbers.size());
  for (size_t i = 0; i < numbers.size(); ++i) {
    double expected = std::strtod(numbers[i].c_str(), nullptr);
    double got = buffer.triplets[i].last.y;
    if (std::isnan(expected)) {
      EXPECT_TRUE(std::isnan(got)) << numbers[i];
    } else {
      EXPECT_EQ(std::memcmp(&got, &expected, sizeof got), 0)
          << numbers[i] << " seed " << seed << ": " << got << " against " << expected;
    }
  }
}

TEST_F(VandrelReadTriplets, MalformedNumbersReadAsTheSixNumberFormatReadsThem) {
  // Where the line conversion and strtod part ways: the line conversion takes
  // a dangling exponent ("1e", "0x1p") as part of its number, refuses "0x"
  // without hexadecimal digits, and stops a nan before its parenthesised
  // characters. Every line must give what the six-number format gives.
  const char *lines[] = {"1e 2 30 4 50 6",        "1e+ 2 30 4 50 6",    "1 2 30 4 50 6e-",
                         "0x1p 2 30 4 50 6",      "1 2 30 4 50 0x",     "1 2 30 4 50 0xp3",
                         "1 2 30 4 50 0x.p1",     "nan(12) 2 30 4 50 6", "NAN(abc) 2 30 4 50 6",
                         "1 2 30 4 50 nan(7)",    "1 2 30 4 50 1e5x",   "1 2 30 4 50 12abc",
                         "-inf 2 30 4 50 infinity", "1 2 30 4 50 0x1.8p3"};
  std::string text;
  std::vector<std::vector<double>> expected;
  for (const char *line : lines) {
    text += std::string(line) + "\n";
    double v[6];
    if (std::sscanf(line, "%lf %lf %lf %lf %lf %lf\n", &v[0], &v[1], &v[2], &v[3], &v[4], &v[5]) == 6)
      expected.emplace_back(v, v + 6);
  }
  read(text, -1);
  ASSERT_EQ(buffer.triplets.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    const Triplet &t = buffer.triplets[i];
    const double got[6] = {t.first.x, t.first.y, t.middle.x, t.middle.y, t.last.x, t.last.y};
    for (int k = 0; k < 6; ++k) {
      if (std::isnan(expected[i][static_cast<size_t>(k)]))
        EXPECT_TRUE(std::isnan(got[k])) << "triplet " << i << " value " << k;
      else
        EXPECT_EQ(got[k], expected[i][static_cast<size_t>(k)]) << "triplet " << i << " value " << k;
    }
  }
}

TEST_F(VandrelReadTriplets, ManyTripletsInOneFile) {
  std::string text;
  for (int i = 0; i < 5000; ++i)
    text += std::to_string(i) + " 0 " + std::to_string(i) + " 10 " + std::to_string(i) + " 20\n";
  read(text);
  ASSERT_EQ(buffer.triplets.size(), 5000u);
  EXPECT_EQ(buffer.triplets[4999].first.x, 4999.0);
}

TEST_F(VandrelReadTriplets, ReplacesWhatTheBufferHeld) {
  read("0 0 10 0 20 0\n0 0 10 0 20 0\n");
  EXPECT_EQ(buffer.triplets.size(), 2u);
  read("");
  EXPECT_TRUE(ok);
  EXPECT_EQ(buffer.triplets.size(), 0u);
}

TEST(VandrelReadTripletsOpen, MissingFileIsReportedAndEmptiesTheBuffer) {
  qortest::TempDir dir;
  TripletBuffer buffer;
  buffer.triplets.push_back(Triplet{{0, 0}, {10, 0}, {20, 0}});
  CaptureStdout();
  EXPECT_EQ(read_triplets(dir.file("missing.txt"), 5, &buffer), Status::cannot_open);
  EXPECT_EQ(GetCapturedStdout(), "");
  EXPECT_TRUE(buffer.triplets.empty());
}

}  // namespace
