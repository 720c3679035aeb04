// Tests of the disparity-gradient filter and its median selection.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "cli_util.h"
#include "disparity_gradient.h"
#include "matchio.h"
#include "select_median.h"

namespace {

MatchRecord pair_match(double x1, double y1, double x2, double y2) {
  MatchRecord r;
  r.first = {x1, y1, 0};
  r.last = {x2, y2, 0};
  r.middle = {-1.0, -1.0, 0};
  return r;
}

// A match with the given midpoint and disparity (first = m - d/2,
// last = m + d/2; exact for the half-integers used here).
MatchRecord match_at(double mx, double my, double dx, double dy) {
  return pair_match(mx - dx / 2, my - dy / 2, mx + dx / 2, my + dy / 2);
}

struct FilterRun {
  std::vector<double> scores;
  std::vector<uint8_t> keep;
  double median = 0.0;
  std::string out;  // the passes as pelmix prints them
  int passes = 0;
  std::vector<double> pass_medians;
};

// Writes each pass as the program does.
class PassText : public FilterProgress {
 public:
  explicit PassText(std::string *out) : out_(out) {}
  void pass_started(int pass, int) override {
    EXPECT_EQ(pass, ++passes_);
    *out_ += "Disparity gradient iteration...\n";
  }
  void pass_median(int, double median) override {
    // The pairs were all scored before the median.
    EXPECT_EQ(done_, 1.0);
    done_ = 0.0;
    char line[64];
    snprintf(line, sizeof line, "Median %f\n", median);
    *out_ += line;
  }
  void pass_progress(int pass, int, double done) override {
    EXPECT_EQ(pass, passes_);
    EXPECT_GT(done, done_);
    done_ = done;
  }

 private:
  std::string *out_;
  int passes_ = 0;
  double done_ = 0.0;
};

FilterRun run_filter(const std::vector<MatchRecord> &m, double scale,
                     size_t budget = kGradientStoreBudget, int threads = 1) {
  FilterRun run;
  FilterReport report;
  PassText text(&run.out);
  testing::internal::CaptureStdout();
  EXPECT_EQ(filter_by_disparity_gradient(m.data(), static_cast<int>(m.size()), scale, &report,
                                         &text, budget, threads),
            Status::ok);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");  // the filter prints nothing
  EXPECT_EQ(report.scores.size(), m.size());
  EXPECT_EQ(report.keep.size(), m.size());
  EXPECT_EQ(report.pass_medians.size(), static_cast<size_t>(report.passes));
  run.scores = report.scores;
  run.keep = report.keep;
  run.median = report.median;
  run.passes = report.passes;
  run.pass_medians = report.pass_medians;
  return run;
}

bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// Three matches with gradients G01 = 1, G02 = 1, G12 = 10.
std::vector<MatchRecord> three_matches() {
  return {match_at(0, 0, 0, 0), match_at(0, 45, 45, 0), match_at(0, 55, -55, 0)};
}

// Four matches whose disparity equals their midpoint (gradient 1 between
// any two) on the circle of centre (-1, 0) and radius 100, and a fifth at
// the origin with disparity (9999, 0): its gradient to each of the four is
// 100 (ratio of distances to (9999, 0) and to the origin on that circle).
std::vector<MatchRecord> five_matches() {
  return {match_at(99, 0, 99, 0), match_at(-101, 0, -101, 0), match_at(-1, 100, -1, 100),
          match_at(-1, -100, -1, -100), match_at(0, 0, 9999, 0)};
}

TEST(PointDistance, IsEuclidean) {
  EXPECT_EQ(point_distance(1, 2, 4, 6), 5.0);
  EXPECT_EQ(point_distance(4, 6, 1, 2), 5.0);
  EXPECT_EQ(point_distance(-3, 7, -3, 7), 0.0);
}

TEST(DisparityGradient, RatioOfDisparityDifferenceToMidpointDistance) {
  const std::vector<MatchRecord> m = three_matches();
  EXPECT_EQ(disparity_gradient(m[0], m[1]), 1.0);
  EXPECT_EQ(disparity_gradient(m[0], m[2]), 1.0);
  EXPECT_EQ(disparity_gradient(m[1], m[2]), 10.0);
  EXPECT_EQ(disparity_gradient(m[2], m[1]), 10.0);
  // The middle position plays no part.
  MatchRecord t = m[1];
  t.middle = {1000.0, -500.0, 3};
  EXPECT_EQ(disparity_gradient(t, m[2]), 10.0);
}

TEST(DisparityGradient, CoincidentMidpointsCountAsZero) {
  // Same midpoint, different disparities: no gradient is defined.
  EXPECT_EQ(disparity_gradient(match_at(5, 5, 1, 0), match_at(5, 5, -3, 2)), 0.0);
  // Identical matches.
  EXPECT_EQ(disparity_gradient(match_at(5, 5, 1, 0), match_at(5, 5, 1, 0)), 0.0);
}

TEST(SelectMedian, WorkedCases) {
  double odd[] = {99, 11, 2, 11};
  EXPECT_EQ(select_median(1, odd, 3), 11.0);
  EXPECT_EQ(odd[0], -1e30);
  double even[] = {0, 3, 3, 1, 7};
  EXPECT_EQ(select_median(2, even, 4), 3.0);  // upper of the middle pair
  double even2[] = {0, 4, 1, 2, 3};
  EXPECT_EQ(select_median(2, even2, 4), 3.0);
  double one[] = {0, 42};
  EXPECT_EQ(select_median(0, one, 1), 42.0);
}

TEST(SelectMedian, AgreesWithSortingForEveryRank) {
  std::mt19937 rng(12345);
  for (int trial = 0; trial < 300; ++trial) {
    const int count = 1 + static_cast<int>(rng() % 40);
    std::vector<double> v(count + 1);
    // Few distinct values on some trials, to exercise equal keys.
    const unsigned spread = (trial % 3 == 0) ? 3 : 1000;
    for (int i = 1; i <= count; ++i) v[i] = static_cast<double>(rng() % spread);
    std::vector<double> sorted(v.begin() + 1, v.end());
    std::sort(sorted.begin(), sorted.end());
    for (int k = 0; k < count; ++k) {
      std::vector<double> work = v;
      const double got = select_median(k, work.data(), count);
      ASSERT_EQ(got, sorted[k]) << "trial " << trial << " k " << k;
      std::vector<double> after(work.begin() + 1, work.end());
      std::sort(after.begin(), after.end());
      ASSERT_EQ(after, sorted);  // a permutation of the input
    }
  }
}

TEST(SelectMedian, ValuesBelowTheSentinelStayInBounds) {
  double v[] = {0, -1e300, 5, -1e300, -1e299};
  EXPECT_EQ(select_median(1, v, 4), -1e300);
}

TEST(Filter, ThreeMatchesOnePass) {
  const FilterRun r = run_filter(three_matches(), 3.5);
  EXPECT_EQ(r.scores[0], 2.0);
  EXPECT_EQ(r.scores[1], 11.0);
  EXPECT_EQ(r.scores[2], 11.0);
  EXPECT_EQ(r.median, 11.0);
  EXPECT_EQ(r.out, "Disparity gradient iteration...\nMedian 11.000000\n");
  EXPECT_EQ(r.passes, 1);
  // Kept: strictly below 11 x 3.5.
  EXPECT_EQ(r.keep, (std::vector<uint8_t>{1, 1, 1}));
}

TEST(Filter, FarMatchRemovedThenSecondPassOverTheRest) {
  const FilterRun r = run_filter(five_matches(), 3.5);
  EXPECT_EQ(r.out,
            "Disparity gradient iteration...\nMedian 103.000000\n"
            "Disparity gradient iteration...\nMedian 3.000000\n");
  for (int j = 0; j < 4; ++j) EXPECT_EQ(r.scores[j], 3.0) << j;
  EXPECT_EQ(r.scores[4], 999999.0);
  EXPECT_EQ(r.median, 3.0);  // upper middle of four equal scores
  EXPECT_EQ(r.pass_medians, (std::vector<double>{103.0, 3.0}));
  EXPECT_EQ(r.keep, (std::vector<uint8_t>{1, 1, 1, 1, 0}));
}

TEST(Filter, PureTranslationKeepsEverything) {
  std::vector<MatchRecord> m;
  for (int i = 0; i < 6; ++i) m.push_back(pair_match(i * 7.0, i * 3.0, i * 7.0 + 12.5, i * 3.0 - 4));
  const FilterRun r = run_filter(m, 3.5);
  EXPECT_EQ(r.out, "Disparity gradient iteration...\nMedian 0.000000\n");
  EXPECT_EQ(r.median, 1e30);
  for (int j = 0; j < 6; ++j) EXPECT_EQ(r.scores[j], 0.0);
}

TEST(Filter, SingleMatch) {
  const FilterRun r = run_filter({pair_match(1, 2, 3, 4)}, 3.5);
  EXPECT_EQ(r.out, "Disparity gradient iteration...\nMedian 0.000000\n");
  EXPECT_EQ(r.scores[0], 0.0);
  EXPECT_EQ(r.median, 1e30);
}

TEST(Filter, RemovedMatchesThenAnAllZeroPass) {
  // Four translated matches at distance 5 from an outlier in their middle
  // whose disparity differs by 10: scores 2, 2, 2, 2 and 8, median 2; the
  // outlier goes, and the remaining four all score 0.
  const std::vector<MatchRecord> m = {match_at(3, 4, 6, 2), match_at(-3, 4, 6, 2),
                                      match_at(0, 0, 16, 2), match_at(3, -4, 6, 2),
                                      match_at(-3, -4, 6, 2)};
  const FilterRun r = run_filter(m, 3.5);
  EXPECT_EQ(r.out,
            "Disparity gradient iteration...\nMedian 2.000000\n"
            "Disparity gradient iteration...\nMedian 0.000000\n");
  EXPECT_EQ(r.median, 1e30);
  EXPECT_EQ(r.scores[2], 999999.0);
  EXPECT_EQ(r.scores[0], 0.0);
  EXPECT_EQ(r.scores[4], 0.0);
}

TEST(Filter, ScoreEqualToTheLimitIsKeptByTheFilter) {
  // Scale 1: limit 11 equals the two larger scores; the filter keeps them.
  const FilterRun r = run_filter(three_matches(), 1.0);
  EXPECT_EQ(r.out, "Disparity gradient iteration...\nMedian 11.000000\n");
  EXPECT_EQ(r.scores[1], 11.0);
  // ... but the output selection is strict: only the score 2 is written.
  EXPECT_EQ(r.keep, (std::vector<uint8_t>{1, 0, 0}));
}

TEST(Filter, RemovedMatchesAreWrittenWhenTheMedianWasReplaced) {
  // The outlier removed in the first pass scores 999999, below 1e30 x 3.5
  // once the last pass's zero median is replaced: the selection keeps it.
  const std::vector<MatchRecord> m = {match_at(3, 4, 6, 2), match_at(-3, 4, 6, 2),
                                      match_at(0, 0, 16, 2), match_at(3, -4, 6, 2),
                                      match_at(-3, -4, 6, 2)};
  const FilterRun r = run_filter(m, 3.5);
  EXPECT_EQ(r.pass_medians, (std::vector<double>{2.0, 0.0}));
  EXPECT_EQ(r.keep, (std::vector<uint8_t>{1, 1, 1, 1, 1}));
}

TEST(Filter, EmptyInputHasNoPass) {
  FilterReport report;
  EXPECT_EQ(filter_by_disparity_gradient(nullptr, 0, 3.5, &report), Status::ok);
  EXPECT_EQ(report.passes, 0);
  EXPECT_EQ(report.median, 1e30);
  EXPECT_TRUE(report.scores.empty() && report.keep.empty());
}

TEST(Filter, PairsWithTheSameMidpointAreSkipped) {
  // Matches 0 and 1 share a midpoint; each still scores against match 2.
  const std::vector<MatchRecord> m = {match_at(0, 0, 1, 0), match_at(0, 0, 7, 0),
                                      match_at(0, 3, 1, 3)};
  const FilterRun r = run_filter(m, 3.5);
  EXPECT_EQ(r.scores[0], 1.0);
  EXPECT_EQ(r.scores[1], std::sqrt(45.0) / 3.0);
  EXPECT_EQ(r.scores[2], 1.0 + std::sqrt(45.0) / 3.0);
}

TEST(Filter, ScaleBelowOneRemovingEverythingEndsTheIteration) {
  // Scale 0.5 on the three-match example: limit 5.5 removes both 11s, then
  // the lone remaining match scores 0 (median 0 -> 1e30). Scale -1 removes
  // everything in the first pass; that pass's median stands.
  FilterRun r = run_filter(three_matches(), 0.5);
  EXPECT_EQ(r.out,
            "Disparity gradient iteration...\nMedian 11.000000\n"
            "Disparity gradient iteration...\nMedian 0.000000\n");
  EXPECT_EQ(r.median, 1e30);
  r = run_filter(three_matches(), -1.0);
  EXPECT_EQ(r.out, "Disparity gradient iteration...\nMedian 11.000000\n");
  EXPECT_EQ(r.median, 11.0);
  for (int j = 0; j < 3; ++j) EXPECT_EQ(r.scores[j], 999999.0);
}

// Straightforward filter: the full gradient matrix, then per match the sum
// over all other active matches in increasing order, as a check on the
// pair loop's summation order.
FilterRun reference_filter(const std::vector<MatchRecord> &m, double scale) {
  const int n = static_cast<int>(m.size());
  std::vector<std::vector<double>> g(n, std::vector<double>(n, 0.0));
  for (int j = 0; j < n; ++j)
    for (int k = 0; k < j; ++k) g[j][k] = g[k][j] = disparity_gradient(m[j], m[k]);
  FilterRun r;
  r.scores.assign(n, 0.0);
  std::vector<int> active(n, 1);
  std::vector<double> work(n + 2);
  char line[64];
  for (;;) {
    r.out += "Disparity gradient iteration...\n";
    int c = 0;
    for (int j = 0; j < n; ++j) {
      r.scores[j] = 0.0;
      if (!active[j]) continue;
      for (int k = 0; k < n; ++k)
        if (k != j && active[k]) r.scores[j] += g[j][k];
      work[++c] = r.scores[j];
    }
    const double med = select_median(c / 2, work.data(), c);
    snprintf(line, sizeof line, "Median %f\n", med);
    r.out += line;
    r.median = std::fabs(med) < 1e-20 ? 1e30 : med;
    bool removed = false;
    int left = 0;
    for (int j = 0; j < n; ++j) {
      if (!active[j]) continue;
      if (!(scale * r.median >= r.scores[j])) {
        active[j] = 0;
        removed = true;
      } else {
        ++left;
      }
    }
    if (!removed || left == 0) break;
  }
  for (int j = 0; j < n; ++j)
    if (!active[j]) r.scores[j] = 999999.0;
  return r;
}

TEST(Filter, GradientOperandsInTheOrderOfTheMatrixEntry) {
  // G[1][0] is disparity_gradient (1, 0), whose differences are match 0's
  // values minus match 1's. Only NaNs show the order: of two NaN operands a
  // subtraction returns the first. Match 0 has disparity inf - inf (the
  // default NaN, sign set), match 1 a NaN read from a file (sign clear), so
  // the gradient, both scores, the median and the printed "Median" line carry
  // the sign of match 0's NaN, through the stored and the evaluated path.
  const std::vector<MatchRecord> m = {pair_match(INFINITY, 0, INFINITY, 0),
                                      pair_match(NAN, 0, NAN, 0)};
  const double g = disparity_gradient(m[1], m[0]);
  ASSERT_TRUE(std::isnan(g));
  ASSERT_TRUE(std::signbit(g));
  const FilterRun ref = reference_filter(m, 3.5);
  ASSERT_EQ(ref.out, "Disparity gradient iteration...\nMedian -nan\n");
  for (size_t budget : {kGradientStoreBudget, size_t(0)}) {
    const FilterRun r = run_filter(m, 3.5, budget);
    EXPECT_EQ(r.out, ref.out);
    EXPECT_TRUE(same_bits(r.median, g)) << r.out;
  }
}

// Noisy matches on a smooth disparity field plus some gross outliers and a
// few duplicated midpoints.
std::vector<MatchRecord> noisy_matches(int n, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> pos(0.0, 640.0), noise(-0.7, 0.7), wild(-80.0, 80.0);
  std::vector<MatchRecord> m;
  for (int i = 0; i < n; ++i) {
    const double x = pos(rng), y = pos(rng);
    double dx = 12.0 + 0.02 * x + noise(rng), dy = -3.0 + 0.01 * y + noise(rng);
    if (rng() % 7 == 0) {
      dx += wild(rng);
      dy += wild(rng);
    }
    m.push_back(pair_match(x, y, x + dx, y + dy));
    if (rng() % 50 == 0 && i + 1 < n) {
      m.push_back(pair_match(x + 1, y - 2, x + dx - 1, y + dy + 2));  // same midpoint
      ++i;
    }
  }
  return m;
}

std::string filtered_file(const std::vector<MatchRecord> &m, const FilterRun &r, double scale) {
  qortest::TempDir dir;
  const std::string base = dir.file("m.txt");
  for (size_t i = 0; i < m.size(); ++i)
    EXPECT_EQ(r.keep[i], r.scores[i] < r.median * scale) << i;
  EXPECT_EQ(write_filtered_matches(m.data(), static_cast<int>(m.size()), r.keep.data(),
                                   base + ".filtered"),
            Status::ok);
  return qortest::read_file(base + ".filtered");
}

TEST(Filter, StoredAndRecomputedGradientsMatchTheReferenceBitForBit) {
  for (unsigned seed = 1; seed <= 6; ++seed) {
    const std::vector<MatchRecord> m = noisy_matches(150 + 37 * static_cast<int>(seed), seed);
    const double scale = seed % 2 ? 3.5 : 1.5;
    const FilterRun ref = reference_filter(m, scale);
    const FilterRun stored = run_filter(m, scale);
    const FilterRun recomputed = run_filter(m, scale, 0);
    ASSERT_GT(std::count(ref.out.begin(), ref.out.end(), '\n'), 2) << "want several passes";
    EXPECT_EQ(stored.out, ref.out);
    EXPECT_EQ(recomputed.out, ref.out);
    EXPECT_TRUE(same_bits(stored.median, ref.median));
    EXPECT_TRUE(same_bits(recomputed.median, ref.median));
    for (size_t j = 0; j < m.size(); ++j) {
      ASSERT_TRUE(same_bits(stored.scores[j], ref.scores[j])) << "seed " << seed << " j " << j;
      ASSERT_TRUE(same_bits(recomputed.scores[j], ref.scores[j])) << "seed " << seed << " j " << j;
    }
    const std::string a = filtered_file(m, stored, scale);
    EXPECT_FALSE(a.empty());
    EXPECT_EQ(a, filtered_file(m, recomputed, scale));
  }
}

TEST(Filter, BudgetJustBelowTheTriangleGivesTheSameResult) {
  const std::vector<MatchRecord> m = noisy_matches(400, 99);
  const size_t triangle = m.size() * (m.size() - 1) / 2 * sizeof(double);
  const FilterRun fits = run_filter(m, 3.5, triangle);
  const FilterRun over = run_filter(m, 3.5, triangle - 1);
  EXPECT_EQ(fits.out, over.out);
  EXPECT_EQ(0, std::memcmp(fits.scores.data(), over.scores.data(), m.size() * sizeof(double)));
}

TEST(Filter, ThreadedPassesGiveTheBitsOfOneThread) {
  // Sizes around whole blocks of the threaded pair loop, NaN coordinates and
  // coincident midpoints, with stored and re-evaluated gradients.
  unsigned seed = 40;
  for (int n : {1024, 1100, 1537}) {
    std::vector<MatchRecord> m = noisy_matches(n, ++seed);
    // A NaN coordinate makes every score NaN: one pass removes everything.
    const bool with_nan = n == 1100;
    if (with_nan) m[37].first.x = NAN;
    for (size_t budget : {kGradientStoreBudget, size_t(0)}) {
      const FilterRun one = run_filter(m, 1.5, budget, 1);
      ASSERT_EQ(one.passes > 1, !with_nan);
      for (int threads : {2, 3, 8}) {
        SCOPED_TRACE("n " + std::to_string(n) + " budget " + std::to_string(budget) + " threads " +
                     std::to_string(threads));
        const FilterRun many = run_filter(m, 1.5, budget, threads);
        EXPECT_EQ(many.out, one.out);
        EXPECT_TRUE(same_bits(many.median, one.median));
        EXPECT_EQ(many.keep, one.keep);
        for (int j = 0; j < n; ++j) ASSERT_TRUE(same_bits(many.scores[j], one.scores[j])) << j;
      }
    }
  }
}

}  // namespace
