// Six-point tensor computation and its building blocks.
#include "six_point.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "epipoles.h"
#include "fixed_arrays.h"
#include "numeric.h"
#include "scene_fixture.h"
#include "transfer.h"

namespace {

MatchPoint pt(double x, double y) { return MatchPoint{x, y, 0}; }

TEST(SolveCubic, ThreeRealRootsUseTheShortAngleConstants) {
  double x1, x2, x3;
  solve_cubic(-6.0, 11.0, -6.0, &x1, &x2, &x3);  // (x - 1)(x - 2)(x - 3)
  EXPECT_NEAR(x1, 1.0, 1e-14);
  // 6.283184 and 12.566368 fall short of 2 pi and 4 pi, so the other two roots
  // are off by a little more than rounding.
  EXPECT_NEAR(x2, 2.9999997, 1e-7);
  EXPECT_NE(x2, 3.0);
  EXPECT_NEAR(x3, 2.000001, 1e-6);
  EXPECT_GT(std::fabs(x3 - 2.0), 1e-8);
}

TEST(SolveCubic, OneRealRootSetsTheMarkers) {
  double x1, x2, x3;
  solve_cubic(0.0, 1.0, 1.0, &x1, &x2, &x3);  // x^3 + x + 1
  EXPECT_NEAR(x1, -0.6823278038280193, 1e-12);
  EXPECT_EQ(x2, -1.0);
  EXPECT_EQ(x3, -1.0);
  // A negative R takes the other sign: x^3 + x - 1 has the root 0.6823...
  solve_cubic(0.0, 1.0, -1.0, &x1, &x2, &x3);
  EXPECT_NEAR(x1, 0.6823278038280193, 1e-12);
}

TEST(SolveCubic, TripleAndDoubleRootsStayFinite) {
  double x1, x2, x3;
  solve_cubic(-6.0, 12.0, -8.0, &x1, &x2, &x3);  // (x - 2)^3: Q = R = 0
  EXPECT_EQ(x1, 2.0);
  EXPECT_EQ(x2, -1.0);
  EXPECT_EQ(x3, -1.0);
  // Double roots put R / sqrt(Q^3) at +-1, where rounding could leave acos's
  // domain.
  const double roots[][2] = {{1.0, 2.0}, {0.1, 0.7}, {-3.0, 5.0}, {1.0 / 3.0, 2.0 / 7.0}};
  for (const auto &r : roots) {
    const double d = r[0], s = r[1];  // (x - d)^2 (x - s)
    solve_cubic(-(2 * d + s), d * d + 2 * d * s, -d * d * s, &x1, &x2, &x3);
    EXPECT_TRUE(std::isfinite(x1) && std::isfinite(x2) && std::isfinite(x3));
    EXPECT_NEAR(x1, std::fmin(d, s), 1e-6);
  }
}

TEST(BasisTransform, UnitSquare) {
  FixedMatrix<3, 3> to, from;
  basis_transform(pt(0, 0), pt(1, 0), pt(0, 1), pt(1, 1), to.get(), from.get());
  const double expect_from[3][3] = {{0, 1, 0}, {0, 0, 1}, {-1, 1, 1}};  // columns (0,0,-1), (1,0,1), (0,1,1)
  for (int r = 1; r <= 3; ++r)
    for (int c = 1; c <= 3; ++c) EXPECT_NEAR(from[r][c], expect_from[r - 1][c - 1], 1e-15);
  // to_canonical sends p1, p2, p3, p4 to multiples of the canonical basis.
  const double p[4][3] = {{0, 0, 1}, {1, 0, 1}, {0, 1, 1}, {1, 1, 1}};
  const double canonical[4][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {1, 1, 1}};
  for (int n = 0; n < 4; ++n) {
    double img[3];
    for (int r = 0; r < 3; ++r) {
      img[r] = 0.0;
      for (int c = 0; c < 3; ++c) img[r] += to[r + 1][c + 1] * p[n][c];
    }
    double scale = 0.0;
    for (int r = 0; r < 3; ++r)
      if (canonical[n][r] != 0.0) scale = img[r];
    ASSERT_NE(scale, 0.0);
    for (int r = 0; r < 3; ++r) EXPECT_NEAR(img[r], scale * canonical[n][r], 1e-15) << n;
  }
}

TEST(TripleIsCollinear, ThresholdIsStrict) {
  // D = 1000, L = 100: exactly 10.0 is not collinear.
  EXPECT_EQ(triple_is_collinear(10.0, pt(0, 0), pt(100, 0), pt(50, 10)), 0);
  EXPECT_EQ(triple_is_collinear(10.0, pt(0, 0), pt(100, 0), pt(50, 9.99)), 1);
  // The base length is the maximum norm of p - q, not the Euclidean one.
  EXPECT_EQ(triple_is_collinear(10.0, pt(0, 0), pt(100, 100), pt(0, 10)), 0);
  // p == q is 0/0 and counts as collinear.
  EXPECT_EQ(triple_is_collinear(10.0, pt(5, 5), pt(5, 5), pt(300, -40)), 1);
  // A coordinate that is not a number counts as collinear too.
  const double nan = std::numeric_limits<double>::quiet_NaN();
  EXPECT_EQ(triple_is_collinear(10.0, pt(0, 0), pt(100, 0), pt(50, nan)), 1);
}

TEST(BasisIsDegenerate, AnyOfTheFourTriples) {
  EXPECT_EQ(basis_is_degenerate(pt(0, 0), pt(100, 0), pt(0, 100), pt(100, 100)), 0);
  EXPECT_EQ(basis_is_degenerate(pt(0, 0), pt(100, 0), pt(50, 5), pt(100, 100)), 1);
  EXPECT_EQ(basis_is_degenerate(pt(0, 0), pt(100, 0), pt(0, 100), pt(200, 3)), 1);
  EXPECT_EQ(basis_is_degenerate(pt(0, 0), pt(100, 0), pt(0, 100), pt(0, 250)), 1);
  EXPECT_EQ(basis_is_degenerate(pt(0, 0), pt(100, 0), pt(0, 100), pt(50, 50)), 1);
  EXPECT_EQ(basis_is_degenerate(pt(0, 0), pt(100, 0), pt(0, 100), pt(0, 0)), 1);
}

// First scene from `seed` on whose first six triplets the computation
// succeeds. Exact samples with short baselines can fall under the 0.0001
// bound on the third eigenvalue of the 5x5 system and are refused; that is
// the behaviour, not a failure.
std::vector<MatchRecord> accepted_scene(uint64_t seed, int points) {
  for (uint64_t s = seed; s < seed + 50; ++s) {
    std::vector<MatchRecord> triplets = scene::random_scene(s, points).triplets;
    TrifocalTensor t;
    if (compute_six_point_tensor(triplets.data(), 6, &t)) return triplets;
  }
  ADD_FAILURE() << "no scene accepted from seed " << seed;
  return {};
}

// Exact triplets of many random scenes. Every root of the cubic explains the
// six sample triplets; the tensor also fits the rest of the scene when the
// root taken (the smallest) is the true one: always when the cubic has one
// real root, by chance when it has three.
TEST(ComputeSixPointTensor, ExactTripletsFromRandomScenes) {
  int accepted = 0, whole_scene_fits = 0;
  const int scenes = 60;
  for (int seed = 1; seed <= scenes; ++seed) {
    const scene::Scene s = scene::random_scene(1000 + seed, 30);
    TrifocalTensor t;
    if (!compute_six_point_tensor(s.triplets.data(), 6, &t)) continue;
    ++accepted;
    for (int r = 0; r < 6; ++r)
      EXPECT_LT(scene::relative_relation_error(t, s.triplets[r]), 1e-8) << "seed " << seed;
    bool all = true;
    for (const MatchRecord &r : s.triplets) all = all && scene::relative_relation_error(t, r) < 1e-8;
    whole_scene_fits += all;
    if (!all) continue;
    for (const MatchRecord &r : s.triplets) {
      EXPECT_LT(transfer_distance_last(TensorMethod::six_point, t, r), 1e-6) << "seed " << seed;
      EXPECT_LT(transfer_distance_first(TensorMethod::six_point, t, r), 1e-6) << "seed " << seed;
      EXPECT_LT(transfer_distance_middle(TensorMethod::six_point, t, r), 1e-6) << "seed " << seed;
    }
  }
  EXPECT_GE(accepted, scenes / 2);
  EXPECT_GE(whole_scene_fits, accepted / 4);
}

TEST(ComputeSixPointTensor, LaterRecordsOnlyEnterTheNormalisation) {
  const std::vector<MatchRecord> triplets = accepted_scene(2024, 10);
  ASSERT_EQ(triplets.size(), 10u);
  TrifocalTensor six, ten;
  ASSERT_EQ(compute_six_point_tensor(triplets.data(), 6, &six), 1);
  ASSERT_EQ(compute_six_point_tensor(triplets.data(), 10, &ten), 1);
  // Other scales change the tensor's factors but not the geometry.
  bool differs = false;
  for (int n = 0; n < 27; ++n) differs = differs || six[n] != ten[n];
  EXPECT_TRUE(differs);
  int big = 0;
  for (int n = 0; n < 27; ++n)
    if (std::fabs(six[n]) > std::fabs(six[big])) big = n;
  const double factor = ten[big] / six[big];
  for (int n = 0; n < 27; ++n) EXPECT_NEAR(ten[n], factor * six[n], 1e-7 * std::fabs(ten[big]));
}

// The input sample is copied, never modified.
TEST(ComputeSixPointTensor, LeavesTheSampleAlone) {
  const std::vector<MatchRecord> triplets = accepted_scene(300, 8);
  std::vector<MatchRecord> copy = triplets;
  TrifocalTensor t;
  ASSERT_EQ(compute_six_point_tensor(copy.data(), 8, &t), 1);
  for (size_t r = 0; r < copy.size(); ++r) {
    EXPECT_EQ(copy[r].first.x, triplets[r].first.x);
    EXPECT_EQ(copy[r].middle.y, triplets[r].middle.y);
    EXPECT_EQ(copy[r].last.x, triplets[r].last.x);
  }
}

// The tensor file prints twenty decimals, so the six-point arithmetic is
// checked bit for bit against a transcription of its steps in the written
// order (the building blocks normalise_sample, basis_transform, solve_cubic,
// tensor_from_cameras and denormalise_tensor have tests of their own). In
// particular c2 and c1 are single left-to-right sums over the six terms of F
// in their written order, each term contributing its three products in the
// stated order.
int reference_six_point(const std::vector<MatchRecord> &sample, TrifocalTensor *out) {
  std::vector<MatchRecord> copy = sample;
  NormalisingTransform nf, nm, nl;
  normalise_sample(copy.data(), static_cast<int>(copy.size()), &nf, &nm, &nl);
  MatchPoint MatchRecord::*const view[3] = {&MatchRecord::last, &MatchRecord::middle,
                                            &MatchRecord::first};
  FixedMatrix<3, 3> to[3], from[3];
  double x5[3], y5[3], w5[3], x6[3], y6[3], w6[3];
  for (int v = 0; v < 3; ++v) {
    basis_transform(copy[0].*view[v], copy[1].*view[v], copy[2].*view[v], copy[3].*view[v],
                    to[v].get(), from[v].get());
    double img[2][3];
    for (int rec = 0; rec < 2; ++rec) {
      const MatchPoint &p = copy[4 + rec].*view[v];
      for (int row = 0; row < 3; ++row)
        img[rec][row] = ((0.0 + to[v][row + 1][1] * p.x) + to[v][row + 1][2] * p.y) +
                        to[v][row + 1][3] * 1.0;
    }
    x5[v] = img[0][0], y5[v] = img[0][1], w5[v] = img[0][2];
    x6[v] = img[1][0], y6[v] = img[1][1], w6[v] = img[1][2];
  }
  double m[3][6];
  for (int v = 0; v < 3; ++v) {
    m[v][1] = x5[v] * (w6[v] - y6[v]);
    m[v][2] = y5[v] * (x6[v] - w6[v]);
    m[v][3] = w5[v] * (y6[v] - x6[v]);
    m[v][4] = w6[v] * (y5[v] - x5[v]);
    m[v][5] = y6[v] * (x5[v] - w5[v]);
  }
  FixedMatrix<5, 5> n, e;
  FixedVector<5> d;
  for (int a = 1; a <= 5; ++a)
    for (int b = 1; b <= 5; ++b)
      n[a][b] = ((0.0 + m[0][a] * m[0][b]) + m[1][a] * m[1][b]) + m[2][a] * m[2][b];
  int rotations = 0;
  if (!jacobi(n.get(), 5, d.get(), e.get(), &rotations)) return 0;
  sort_eigen(d.get(), e.get(), 5);
  if (std::fabs(d[3]) <= 0.0001) return 0;
  const double g1 = e[1][4], g2 = e[2][4], g3 = e[3][4], g4 = e[4][4], g5 = e[5][4];
  const double h1 = e[1][5], h2 = e[2][5], h3 = e[3][5], h4 = e[4][5], h5 = e[5][5];
  const double c3 = h1 * h2 * h5 + h2 * h3 * h4 + h3 * h4 * h5 - h1 * h3 * h4 - h2 * h3 * h5 -
                    h2 * h4 * h5;
  const double c2 = g1 * h2 * h5 + h1 * g2 * h5 + h1 * h2 * g5 + g2 * h3 * h4 + h2 * g3 * h4 +
                    h2 * h3 * g4 + g3 * h4 * h5 + h3 * g4 * h5 + h3 * h4 * g5 - g1 * h3 * h4 -
                    h1 * g3 * h4 - h1 * h3 * g4 - g2 * h3 * h5 - h2 * g3 * h5 - h2 * h3 * g5 -
                    g2 * h4 * h5 - h2 * g4 * h5 - h2 * h4 * g5;
  const double c1 = h1 * g2 * g5 + g1 * h2 * g5 + g1 * g2 * h5 + h2 * g3 * g4 + g2 * h3 * g4 +
                    g2 * g3 * h4 + h3 * g4 * g5 + g3 * h4 * g5 + g3 * g4 * h5 - h1 * g3 * g4 -
                    g1 * h3 * g4 - g1 * g3 * h4 - h2 * g3 * g5 - g2 * h3 * g5 - g2 * g3 * h5 -
                    h2 * g4 * g5 - g2 * h4 * g5 - g2 * g4 * h5;
  const double c0 = g1 * g2 * g5 + g2 * g3 * g4 + g3 * g4 * g5 - g1 * g3 * g4 - g2 * g3 * g5 -
                    g2 * g4 * g5;
  double lambda, unused2, unused3;
  solve_cubic(c2 / c3, c1 / c3, c0 / c3, &lambda, &unused2, &unused3);
  const double t1 = g1 + lambda * h1, t2 = g2 + lambda * h2, t3 = g3 + lambda * h3;
  const double t4 = g4 + lambda * h4, t5 = g5 + lambda * h5;
  const double X = (t4 - t5) / (t2 - t3), Y = t4 / (t1 - t3), Z = t5 / (t1 - t2);
  FixedMatrix<3, 4> camera[3];
  for (int v = 0; v < 3; ++v) {
    const double w[4][4] = {{w5[v], 0.0, -x5[v], w5[v] - x5[v]},
                            {0.0, w5[v], -y5[v], w5[v] - y5[v]},
                            {X * w6[v], 0.0, -Z * x6[v], w6[v] - x6[v]},
                            {0.0, Y * w6[v], -Z * y6[v], w6[v] - y6[v]}};
    FixedMatrix<4, 4> wtw, ev;
    FixedVector<4> dv;
    for (int a = 1; a <= 4; ++a)
      for (int b = 1; b <= 4; ++b) {
        wtw[a][b] = 0.0;
        for (int r = 0; r < 4; ++r) wtw[a][b] = wtw[a][b] + w[r][a - 1] * w[r][b - 1];
      }
    if (!jacobi(wtw.get(), 4, dv.get(), ev.get(), &rotations)) return 0;
    sort_eigen(dv.get(), ev.get(), 4);
    const double reduced[3][4] = {{ev[1][4] / ev[4][4], 0.0, 0.0, 1.0},
                                  {0.0, ev[2][4] / ev[4][4], 0.0, 1.0},
                                  {0.0, 0.0, ev[3][4] / ev[4][4], 1.0}};
    for (int r = 1; r <= 3; ++r)
      for (int c = 1; c <= 4; ++c)
        camera[v][r][c] = ((0.0 + from[v][r][1] * reduced[0][c - 1]) +
                           from[v][r][2] * reduced[1][c - 1]) +
                          from[v][r][3] * reduced[2][c - 1];
  }
  TrifocalTensor t;
  tensor_from_cameras(camera[0].get(), camera[1].get(), camera[2].get(), &t);
  denormalise_tensor(&t, nf.factor(), nm.factor(), nl.factor());
  *out = t;
  return 1;
}

TEST(ComputeSixPointTensor, FollowsTheWrittenEvaluationOrderBitForBit) {
  int compared = 0;
  for (uint64_t seed = 500; seed < 530; ++seed) {
    std::vector<MatchRecord> sample = scene::random_scene(seed, 8).triplets;
    // A little position noise, as in real data.
    scene::Random rnd(seed);
    for (MatchRecord &r : sample)
      for (MatchPoint *p : {&r.first, &r.middle, &r.last}) {
        p->x += rnd.uniform(-0.5, 0.5);
        p->y += rnd.uniform(-0.5, 0.5);
      }
    TrifocalTensor t{}, expect{};
    const int status = compute_six_point_tensor(sample.data(), 8, &t);
    ASSERT_EQ(status, reference_six_point(sample, &expect)) << "seed " << seed;
    if (!status) continue;
    ++compared;
    for (int e = 0; e < 27; ++e) EXPECT_EQ(t[e], expect[e]) << "seed " << seed << " entry " << e;
  }
  EXPECT_GE(compared, 10);
}

class SixPointRejection : public ::testing::Test {
 protected:
  void SetUp() override {
    triplets_ = accepted_scene(55, 6);
    ASSERT_EQ(triplets_.size(), 6u);
    for (int n = 0; n < 27; ++n) sentinel_[n] = 1000.0 + n;
  }
  void expect_rejected(const char *what) {
    const std::vector<MatchRecord> before = triplets_;
    TrifocalTensor t = sentinel_;
    EXPECT_EQ(compute_six_point_tensor(triplets_.data(), static_cast<int>(triplets_.size()), &t), 0) << what;
    for (int n = 0; n < 27; ++n) EXPECT_EQ(t[n], sentinel_[n]) << what;
    auto same = [](double a, double b) { return a == b || (std::isnan(a) && std::isnan(b)); };
    for (size_t r = 0; r < triplets_.size(); ++r) {
      const MatchRecord &now = triplets_[r], &was = before[r];
      EXPECT_TRUE(same(now.first.x, was.first.x) && same(now.first.y, was.first.y) &&
                  same(now.middle.x, was.middle.x) && same(now.middle.y, was.middle.y) &&
                  same(now.last.x, was.last.x) && same(now.last.y, was.last.y))
          << what << ", record " << r;
    }
  }
  std::vector<MatchRecord> triplets_;
  TrifocalTensor sentinel_;
};

TEST_F(SixPointRejection, CollinearBasisInEachImage) {
  const std::vector<MatchRecord> good = triplets_;
  MatchPoint MatchRecord::*members[3] = {&MatchRecord::first, &MatchRecord::middle, &MatchRecord::last};
  for (MatchPoint MatchRecord::*member : members) {
    triplets_ = good;
    // Third basis point 5 pixels off the line through the first two.
    const MatchPoint &p = triplets_[0].*member, &q = triplets_[1].*member;
    MatchPoint &r = triplets_[2].*member;
    const double dx = q.x - p.x, dy = q.y - p.y, len = std::sqrt(dx * dx + dy * dy);
    r.x = p.x + 0.5 * dx - 5.0 * dy / len;
    r.y = p.y + 0.5 * dy + 5.0 * dx / len;
    expect_rejected("collinear");
  }
}

TEST_F(SixPointRejection, RepeatedBasisPoint) {
  const std::vector<MatchRecord> good = triplets_;
  triplets_[3].middle = triplets_[1].middle;
  expect_rejected("repeated middle");
  triplets_ = good;
  triplets_[2].last = triplets_[0].last;
  expect_rejected("repeated last");
}

TEST_F(SixPointRejection, TooFewOrNonFiniteRecords) {
  const std::vector<MatchRecord> good = triplets_;
  triplets_.resize(5);
  expect_rejected("five records");
  triplets_ = good;
  triplets_[4].first.x = std::numeric_limits<double>::quiet_NaN();
  expect_rejected("NaN fifth");
  triplets_ = good;
  triplets_[3].last.y = std::numeric_limits<double>::infinity();
  expect_rejected("infinite basis");
  triplets_ = good;
  triplets_[5].middle.x = 1e200;  // overflows the sum of squares
  expect_rejected("overflowing scale");
}

// Fifth and sixth triplets that repeat basis points leave no two-dimensional
// null space.
TEST_F(SixPointRejection, FifthAndSixthOnTheBasis) {
  triplets_[4] = triplets_[0];
  triplets_[5] = triplets_[1];
  expect_rejected("fifth and sixth equal to basis points");
}

}  // namespace
