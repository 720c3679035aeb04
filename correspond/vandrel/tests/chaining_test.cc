#include "chaining.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "console_report.h"
#include "options.h"

namespace {

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

TripletBuffer make_buffer(std::vector<Triplet> triplets) {
  TripletBuffer b;
  b.triplets = std::move(triplets);
  return b;
}

// Runs one step and returns what it printed.
std::string step(ChainTable *table, long long s, std::vector<Triplet> triplets) {
  TripletBuffer b = make_buffer(std::move(triplets));
  ConsolePrinter printer;
  CaptureStdout();
  chain_and_print(s, b, table, &printer);
  return GetCapturedStdout();
}

TEST(VandrelChainTriplets, NewChainsAndOneExtensionWithRunningSums) {
  ChainTable table;
  EXPECT_EQ(step(&table, 1, {{{10.4, 20.0}, {30.0, 40.0}, {50.0, 60.0}}}), "");
  ASSERT_EQ(table.chains.size(), 1u);
  EXPECT_EQ(table.chains[0].firstPosition, 1);
  EXPECT_TRUE(table.chains[0].open);
  EXPECT_TRUE(table.chains[0].extended);

  EXPECT_EQ(step(&table, 2, {{{30.7, 40.2}, {50.9, 60.5}, {70.25, 80.5}}}),
            "Match 30.700000 40.200000 50.900000 60.500000 index 0 0\n"
            "Matched entry 0 new index 4\n");
  ASSERT_EQ(table.chains.size(), 1u);
  const Chain &c = table.chains[0];
  ASSERT_EQ(c.points.size(), 4u);
  EXPECT_EQ(c.points[0].count, 1);
  EXPECT_EQ(c.points[1].count, 2);
  EXPECT_EQ(c.points[2].count, 2);
  EXPECT_EQ(c.points[3].count, 1);
  // The first observation exactly, the later one in whole pixels.
  EXPECT_EQ(c.points[1].sum.x, 30.0 + 30.0);
  EXPECT_EQ(c.points[1].sum.y, 40.0 + 40.0);
  EXPECT_EQ(c.points[2].sum.x, 50.0 + 50.0);
  EXPECT_EQ(c.points[2].sum.y, 60.0 + 60.0);
  EXPECT_EQ(c.points[3].point.x, 70.25);
  EXPECT_EQ(c.points[3].sum.y, 80.5);
  // The points themselves keep the first observation.
  EXPECT_EQ(c.points[1].point.x, 30.0);
  EXPECT_EQ(c.points[0].sum.x, 10.4);
}

TEST(VandrelChainTriplets, AnExtendedChainIsNoCandidateAgainInTheSameStep) {
  ChainTable table;
  step(&table, 1, {{{0, 0}, {10, 0}, {20, 0}}});
  std::string out = step(&table, 2, {{{10, 0}, {20, 0}, {30, 0}}, {{10, 0}, {20, 0}, {40, 0}}});
  EXPECT_EQ(out,
            "Match 10.000000 0.000000 20.000000 0.000000 index 0 0\n"
            "Matched entry 0 new index 4\n");
  ASSERT_EQ(table.chains.size(), 2u);
  EXPECT_EQ(table.chains[0].points.size(), 4u);
  EXPECT_EQ(table.chains[0].points[3].point.x, 30.0);
  EXPECT_EQ(table.chains[1].points.size(), 3u);
  EXPECT_EQ(table.chains[1].firstPosition, 2);
  EXPECT_EQ(table.chains[1].points[2].point.x, 40.0);
}

TEST(VandrelChainTriplets, TheLowerIndexWinsWhenTwoChainsFit) {
  ChainTable table;
  step(&table, 1, {{{0, 0}, {10.2, 0}, {20.1, 0}}, {{5, 5}, {10.7, 0.5}, {20.9, 0.9}}});
  std::string out = step(&table, 2, {{{10.5, 0.1}, {20.5, 0.3}, {30, 0}}});
  EXPECT_EQ(out,
            "Match 10.500000 0.100000 20.500000 0.300000 index 0 0\n"
            "Matched entry 0 new index 4\n");
  EXPECT_EQ(table.chains[0].points.size(), 4u);
  EXPECT_EQ(table.chains[1].points.size(), 3u);
  // Chain 1 received nothing and is closed.
  EXPECT_FALSE(table.chains[1].open);
  EXPECT_TRUE(table.chains[0].open);
  // A second fitting triplet in the same step takes the next chain.
  ChainTable t2;
  step(&t2, 1, {{{0, 0}, {10.2, 0}, {20.1, 0}}, {{5, 5}, {10.7, 0.5}, {20.9, 0.9}}});
  out = step(&t2, 2, {{{10.5, 0.1}, {20.5, 0.3}, {30, 0}}, {{10, 0}, {20, 0}, {40, 0}}});
  EXPECT_EQ(out,
            "Match 10.500000 0.100000 20.500000 0.300000 index 0 0\n"
            "Matched entry 0 new index 4\n"
            "Match 10.000000 0.000000 20.000000 0.000000 index 1 1\n"
            "Matched entry 1 new index 4\n");
}

TEST(VandrelChainTriplets, MatchingComparesWholePixelsTruncatedTowardZero) {
  struct Case {
    ImagePoint stored;
    ImagePoint probe;
    bool agrees;
  };
  const Case cases[] = {
      {{10.1, 20.7}, {10.9, 20.2}, true},
      {{0.4, 3.9}, {-0.5, 3.0}, true},
      {{10.9, 20.2}, {11.0, 20.2}, false},
      {{-1.2, 5.0}, {-0.9, 5.0}, false},
      {{-1.2, 5.0}, {-1.9, 5.5}, true},
  };
  for (const Case &k : cases) {
    ChainTable table;
    step(&table, 1, {{{100, 100}, k.stored, {200, 200}}});
    step(&table, 2, {{k.probe, {200.5, 200.5}, {300, 300}}});
    EXPECT_EQ(table.chains.size(), k.agrees ? 1u : 2u)
        << k.stored.x << "," << k.stored.y << " against " << k.probe.x << "," << k.probe.y;
  }
  // The second shared position must agree as well.
  ChainTable table;
  step(&table, 1, {{{100, 100}, {10, 10}, {200, 200}}});
  step(&table, 2, {{{10, 10}, {201, 200}, {300, 300}}});
  EXPECT_EQ(table.chains.size(), 2u);
}

TEST(VandrelChainTriplets, AClosedChainStaysClosed) {
  ChainTable table;
  step(&table, 1, {{{0, 0}, {10, 0}, {20, 0}}});
  step(&table, 2, {});  // an empty file closes every open chain
  EXPECT_FALSE(table.chains[0].open);
  EXPECT_EQ(table.chains.size(), 1u);
  EXPECT_EQ(step(&table, 3, {{{10, 0}, {20, 0}, {30, 0}}}), "");
  ASSERT_EQ(table.chains.size(), 2u);
  EXPECT_EQ(table.chains[0].points.size(), 3u);
  EXPECT_EQ(table.chains[1].firstPosition, 3);
}

TEST(VandrelChainTriplets, NewChainsWaitForTheNextStep) {
  ChainTable table;
  // The second triplet would continue the first one's chain, but chains
  // started in a step are no candidates in that step.
  step(&table, 1, {{{0, 0}, {10, 0}, {20, 0}}, {{10, 0}, {20, 0}, {30, 0}}});
  EXPECT_EQ(table.chains.size(), 2u);
}

TEST(VandrelChainTriplets, ChainsGrowPastAHundredPoints) {
  ChainTable table;
  step(&table, 1, {{{0, 0}, {10, 0}, {20, 0}}});
  for (int s = 2; s <= 150; ++s) {
    double x = 10.0 * (s - 1);
    step(&table, s, {{{x, 0}, {x + 10, 0}, {x + 20, 0}}});
  }
  ASSERT_EQ(table.chains.size(), 1u);
  EXPECT_EQ(table.chains[0].points.size(), 152u);
  EXPECT_EQ(table.chains[0].points[151].point.x, 1510.0);
  EXPECT_EQ(table.chains[0].points[75].count, 3);
  CaptureStdout();
  chain_length_histogram(table);
  EXPECT_EQ(GetCapturedStdout(), "Histo index 152 entry 1\n");
}

// The straightforward rule, searching every chain for each triplet, to
// check the indexed search against.
struct PlainChain {
  bool open, extended;
  std::vector<ImagePoint> points, sums;
  std::vector<int> counts;
};

void plain_step(const std::vector<Triplet> &triplets, std::vector<PlainChain> *chains) {
  size_t n = chains->size();
  for (size_t c = 0; c < n; ++c) (*chains)[c].extended = false;
  for (const Triplet &t : triplets) {
    size_t found = n;
    for (size_t c = 0; c < n && found == n; ++c) {
      const PlainChain &ch = (*chains)[c];
      size_t l = ch.points.size();
      if (ch.open && !ch.extended && (int)t.first.x == (int)ch.points[l - 2].x &&
          (int)t.first.y == (int)ch.points[l - 2].y && (int)t.middle.x == (int)ch.points[l - 1].x &&
          (int)t.middle.y == (int)ch.points[l - 1].y)
        found = c;
    }
    if (found < n) {
      PlainChain &ch = (*chains)[found];
      size_t l = ch.points.size();
      ch.sums[l - 2].x += (int)t.first.x;
      ch.sums[l - 2].y += (int)t.first.y;
      ch.sums[l - 1].x += (int)t.middle.x;
      ch.sums[l - 1].y += (int)t.middle.y;
      ch.counts[l - 2]++;
      ch.counts[l - 1]++;
      ch.points.push_back(t.last);
      ch.sums.push_back(t.last);
      ch.counts.push_back(1);
      ch.extended = true;
    } else {
      chains->push_back(PlainChain{true, true, {t.first, t.middle, t.last},
                                   {t.first, t.middle, t.last}, {1, 1, 1}});
    }
  }
  for (size_t c = 0; c < n; ++c)
    if ((*chains)[c].open && !(*chains)[c].extended) (*chains)[c].open = false;
}

TEST(VandrelChainTriplets, IndexedSearchAgreesWithSearchingEveryChain) {
  const unsigned seed = 20240611u;
  std::mt19937 rng(seed);
  // Few distinct whole-pixel values, so that many chains share keys and the
  // lowest-index rule is exercised; fractions and negative values test the
  // truncation.
  std::uniform_int_distribution<int> coord(-3, 3);
  std::uniform_real_distribution<double> frac(-0.95, 0.95);
  auto point = [&] { return ImagePoint{coord(rng) * 10 + frac(rng), coord(rng) * 10 + frac(rng)}; };
  ChainTable table;
  std::vector<PlainChain> plain;
  for (int s = 1; s <= 30; ++s) {
    std::vector<Triplet> triplets;
    for (int i = 0; i < 300; ++i) triplets.push_back(Triplet{point(), point(), point()});
    // Reuse positions of open chains so that many triplets continue one.
    for (size_t c = 0; c < plain.size() && triplets.size() < 500; c += 3) {
      const PlainChain &ch = plain[c];
      size_t l = ch.points.size();
      triplets.push_back(Triplet{ch.points[l - 2], ch.points[l - 1], point()});
    }
    std::shuffle(triplets.begin(), triplets.end(), rng);
    step(&table, s, triplets);
    plain_step(triplets, &plain);
  }
  ASSERT_EQ(table.chains.size(), plain.size()) << "seed " << seed;
  size_t longest = 0;
  for (size_t c = 0; c < plain.size(); ++c) {
    const Chain &a = table.chains[c];
    const PlainChain &b = plain[c];
    ASSERT_EQ(a.points.size(), b.points.size()) << "chain " << c << " seed " << seed;
    ASSERT_EQ(a.open, b.open) << "chain " << c;
    longest = std::max(longest, b.points.size());
    for (size_t k = 0; k < b.points.size(); ++k) {
      EXPECT_EQ(a.points[k].point.x, b.points[k].x);
      EXPECT_EQ(a.points[k].sum.x, b.sums[k].x);
      EXPECT_EQ(a.points[k].sum.y, b.sums[k].y);
      EXPECT_EQ(a.points[k].count, b.counts[k]);
    }
  }
  EXPECT_GT(longest, 5u);  // the data did build long chains
}

TEST(VandrelListChains, EveryPointWithItsRenumberedImage) {
  ChainTable table;
  step(&table, 1, {{{1.5, 2.25}, {20, 30}, {40, 50}}});
  step(&table, 2, {{{20, 30}, {40, 50}, {60.125, 70}}});
  TrackSettings s;
  s.imageOffset = 100;
  s.newNumbers = {0, 7, 8};  // positions 3 and up keep their own numbers
  s.reverse = true;          // the listing never reverses
  CaptureStdout();
  list_chains(table, s);
  EXPECT_EQ(GetCapturedStdout(),
            "Point number 0 image 1 renumbered image 107 x value 1.500000 y value 2.250000 "
            "chainlength 4\n"
            "Point number 0 image 2 renumbered image 108 x value 20.000000 y value 30.000000 "
            "chainlength 4\n"
            "Point number 0 image 3 renumbered image 103 x value 40.000000 y value 50.000000 "
            "chainlength 4\n"
            "Point number 0 image 4 renumbered image 104 x value 60.125000 y value 70.000000 "
            "chainlength 4\n");
}

TEST(VandrelChainLengthHistogram, CountsPerLengthInIncreasingOrder) {
  ChainTable table;
  CaptureStdout();
  chain_length_histogram(table);
  EXPECT_EQ(GetCapturedStdout(), "");
  step(&table, 1, {{{0, 0}, {10, 0}, {20, 0}}, {{0, 50}, {10, 50}, {20, 50}},
                   {{0, 90}, {10, 90}, {20, 90}}});
  step(&table, 2, {{{10, 50}, {20, 50}, {30, 50}}});
  step(&table, 3, {{{20, 50}, {30, 50}, {40, 50}}, {{0, 0}, {10, 0}, {20, 0}}});
  CaptureStdout();
  chain_length_histogram(table);
  EXPECT_EQ(GetCapturedStdout(), "Histo index 3 entry 3\nHisto index 5 entry 1\n");
}

}  // namespace

namespace {

// Records the extensions the chaining reports.
struct Extensions : ChainingEvents {
  std::vector<std::vector<long long>> seen;  // index, chain, new length
  void chain_extended(const Triplet &t, size_t index, int chain, size_t new_length) override {
    seen.push_back({static_cast<long long>(t.first.x), static_cast<long long>(index), chain,
                    static_cast<long long>(new_length)});
  }
};

TEST(VandrelChainTriplets, ReportsExtensionsThroughItsEventsAndPrintsNothing) {
  ChainTable table;
  Extensions events;
  TripletBuffer b = make_buffer({{{0, 0}, {10, 0}, {20, 0}}, {{0, 50}, {10, 50}, {20, 50}}});
  CaptureStdout();
  chain_triplets(1, b, &table, &events);
  b = make_buffer({{{5, 5}, {9, 9}, {1, 1}}, {{10, 50}, {20, 50}, {30, 50}}});
  chain_triplets(2, b, &table, &events);
  chain_triplets(3, make_buffer({{{20, 50}, {30, 50}, {40, 50}}}), &table, nullptr);
  EXPECT_EQ(GetCapturedStdout(), "");
  EXPECT_EQ(events.seen, (std::vector<std::vector<long long>>{{10, 1, 1, 4}}));
  EXPECT_EQ(table.chains[1].points.size(), 5u);
  EXPECT_EQ(chain_length_counts(table), (std::vector<long>{0, 0, 0, 2, 0, 1}));
}

}  // namespace
