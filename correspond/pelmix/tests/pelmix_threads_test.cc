// pelmix with any number of threads gives the bytes of one thread: standard
// output, standard error, exit status and every output file, on inputs of
// every shape (pairs, triplets, NaN coordinates, duplicates, coincident
// midpoints, 1 to 20,000 matches) with and without -z and with several -m.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "cli_util.h"

namespace {

struct Input {
  std::string name;
  int matches;
  bool triplets;
  double nan_share;        // share of lines with one NaN coordinate
  double duplicate_share;  // share of lines written twice
  double outlier_share;
  std::vector<std::string> options;
};

// Matches on a smooth disparity field with noise and gross outliers.
std::string match_text(const Input &in, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> pos(0.0, 1600.0), noise(-0.8, 0.8), wild(-120.0, 120.0),
      chance(0.0, 1.0);
  std::string text;
  char line[200];
  for (int i = 0; i < in.matches; ++i) {
    double x = pos(rng), y = pos(rng);
    double dx = 25.0 + 0.01 * x + noise(rng), dy = -4.0 + 0.005 * y + noise(rng);
    if (chance(rng) < in.outlier_share) {
      dx += wild(rng);
      dy += wild(rng);
    }
    double v[6] = {x, y, x + dx / 2, y + dy / 2, x + dx, y + dy};
    if (!in.triplets) {
      v[2] = v[4];
      v[3] = v[5];
    }
    const int count = in.triplets ? 6 : 4;
    if (chance(rng) < in.nan_share) v[rng() % count] = NAN;
    std::string l;
    for (int k = 0; k < count; ++k) {
      std::snprintf(line, sizeof line, k ? " %.3f" : "%.3f", v[k]);
      l += line;
    }
    l += '\n';
    text += l;
    if (chance(rng) < in.duplicate_share) text += l;
  }
  return text;
}

struct Outcome {
  qortest::RunResult run;
  std::vector<std::string> files;  // .filtered, .L.filtered, .R.filtered ("" when missing)
};

Outcome run_pelmix(const std::string &text, const std::vector<std::string> &options,
                   const std::vector<std::string> &threads) {
  qortest::TempDir dir;
  qortest::write_file(dir.file("m.txt"), text);
  std::vector<std::string> args = {"-f", "m.txt"};
  args.insert(args.end(), options.begin(), options.end());
  args.insert(args.end(), threads.begin(), threads.end());
  Outcome o;
  o.run = qortest::run_program(qortest::program_path("pelmix"), args, dir.path(), "pelmix");
  for (const char *suffix : {".filtered", ".L.filtered", ".R.filtered"})
    o.files.push_back(qortest::read_file(dir.file(std::string("m.txt") + suffix)));
  return o;
}

TEST(PelmixThreads, EveryThreadCountGivesTheSameBytes) {
  std::vector<Input> inputs = {
      {"one pair", 1, false, 0, 0, 0, {}},
      {"two triplets", 2, true, 0, 0, 0, {}},
      {"small pairs", 40, false, 0, 0, 0.2, {"-z"}},
      {"small triplets", 300, true, 0, 0.1, 0.15, {}},
      {"just below the threaded size", 1023, false, 0, 0, 0.1, {}},
      {"threaded size", 1024, false, 0, 0, 0.1, {"-z"}},
      {"one block more", 1281, true, 0, 0, 0.1, {}},
      {"pairs", 2000, false, 0, 0, 0.12, {}},
      {"pairs -z", 2000, false, 0, 0, 0.12, {"-z"}},
      {"pairs, scale 2", 2500, false, 0, 0, 0.12, {"-m", "2"}},
      {"pairs, scale 1", 2500, false, 0, 0, 0.12, {"-m", "1", "-z"}},
      {"pairs, scale 0.5", 1800, false, 0, 0, 0.12, {"-m", "0.5"}},
      {"pairs, scale 0", 1500, false, 0, 0, 0.12, {"-m", "0"}},
      {"pairs, scale -1", 1500, false, 0, 0, 0.12, {"-m", "-1", "-z"}},
      {"pairs, scale 10", 1700, false, 0, 0, 0.3, {"-m", "10"}},
      {"no outliers", 3000, false, 0, 0, 0, {}},
      {"many outliers", 3000, false, 0, 0, 0.5, {"-z"}},
      {"triplets", 2600, true, 0, 0, 0.12, {}},
      {"triplets -z", 2600, true, 0, 0, 0.12, {"-z"}},
      {"triplets, scale 1.5", 2200, true, 0, 0, 0.2, {"-m", "1.5"}},
      {"NaN pairs", 2000, false, 0.01, 0, 0.1, {}},
      {"NaN pairs -z", 2000, false, 0.05, 0, 0.1, {"-z"}},
      {"NaN triplets", 2000, true, 0.02, 0, 0.1, {}},
      {"one NaN in many", 4000, false, 0.0003, 0, 0.1, {}},
      {"duplicates", 2000, false, 0, 0.3, 0.1, {}},
      {"duplicates -z", 2000, false, 0, 0.5, 0.1, {"-z"}},
      {"duplicate triplets", 2000, true, 0, 0.3, 0.1, {"-m", "2.5"}},
      {"NaN and duplicates", 3000, false, 0.01, 0.2, 0.2, {"-z"}},
      {"large", 6000, false, 0, 0, 0.12, {}},
      {"large triplets", 8000, true, 0.001, 0.01, 0.12, {"-z"}},
      // Beyond the stored-gradient budget: every pass evaluates again.
      {"gradients evaluated in every pass", 20000, false, 0.0005, 0.01, 0.12, {"-z"}},
  };
  const std::vector<std::vector<std::string>> thread_options = {
      {"-p", "2"}, {"-p", "3"}, {"-p", "8"}, {}};
  unsigned seed = 1;
  for (const Input &in : inputs) {
    SCOPED_TRACE(in.name);
    const std::string text = match_text(in, seed++);
    const Outcome one = run_pelmix(text, in.options, {"-p", "1"});
    ASSERT_EQ(one.run.status, 0) << one.run.out;
    for (const std::vector<std::string> &threads : thread_options) {
      SCOPED_TRACE(threads.empty() ? "no -p" : threads[1]);
      const Outcome many = run_pelmix(text, in.options, threads);
      EXPECT_EQ(many.run.status, one.run.status);
      EXPECT_EQ(many.run.out, one.run.out);
      EXPECT_EQ(many.run.err, one.run.err);
      EXPECT_EQ(many.files, one.files);
    }
  }
}

TEST(PelmixThreads, ValuesThatAreNotPositiveLeaveTheDefault) {
  const std::string text = match_text({"", 1500, false, 0, 0, 0.1, {}}, 99);
  const Outcome plain = run_pelmix(text, {}, {});
  for (const char *value : {"0", "-3", "x", ""}) {
    SCOPED_TRACE(value);
    const Outcome o = run_pelmix(text, {}, {"-p", value});
    EXPECT_EQ(o.run.status, 0);
    EXPECT_EQ(o.run.out, plain.run.out);
    EXPECT_EQ(o.files, plain.files);
  }
  // -p without its value stays a wrong command line.
  const Outcome missing = run_pelmix(text, {}, {"-p"});
  EXPECT_EQ(missing.run.status, 1);
  EXPECT_EQ(missing.run.out, "");
}

}  // namespace
