// Tests of the affine, linear and algebraic-minimisation tensor computations
// on synthetic three-view scenes.
#include "linear.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "synthetic_triplets.h"

namespace {

bool same_records(const std::vector<MatchRecord> &a, const std::vector<MatchRecord> &b) {
  for (size_t n = 0; n < a.size(); ++n)
    if (a[n].first.x != b[n].first.x || a[n].first.y != b[n].first.y ||
        a[n].middle.x != b[n].middle.x || a[n].middle.y != b[n].middle.y ||
        a[n].last.x != b[n].last.x || a[n].last.y != b[n].last.y)
      return false;
  return true;
}

// Determinant of slice i relative to the cube of its Frobenius norm: zero
// for a tensor of the camera form, whose slices have rank two.
double relative_slice_determinant(const TrifocalTensor &t, int i) {
  const double *s = &t.entry[9 * i];
  const double det = s[0] * (s[4] * s[8] - s[5] * s[7]) - s[1] * (s[3] * s[8] - s[5] * s[6]) +
                     s[2] * (s[3] * s[7] - s[4] * s[6]);
  double norm = 0.0;
  for (int n = 0; n < 9; ++n) norm += s[n] * s[n];
  return std::fabs(det) / std::pow(std::sqrt(norm), 3.0);
}

// Unit-norm copy with the sign that makes the largest entry positive.
std::vector<double> direction(const TrifocalTensor &t) {
  double norm = 0.0;
  int largest = 0;
  for (int n = 0; n < 27; ++n) {
    norm += t[n] * t[n];
    if (std::fabs(t[n]) > std::fabs(t[largest])) largest = n;
  }
  const double scale = (t[largest] < 0 ? -1.0 : 1.0) / std::sqrt(norm);
  std::vector<double> d(27);
  for (int n = 0; n < 27; ++n) d[n] = t[n] * scale;
  return d;
}

TEST(LinearTensor, ExactTripletsSatisfyTheRelations) {
  for (uint64_t seed : {1, 2, 3}) {
    const std::vector<MatchRecord> triplets = scene::random_scene(seed, 20).triplets;
    const std::vector<MatchRecord> before = triplets;
    TrifocalTensor t;
    ASSERT_EQ(compute_linear_tensor(triplets.data(), 20, &t), 1);
    EXPECT_TRUE(same_records(triplets, before));
    for (const MatchRecord &r : triplets) EXPECT_LT(scene::relative_relation_error(t, r), 1e-9);
  }
}

TEST(LinearTensor, SixTripletsStillGiveATensor) {
  const std::vector<MatchRecord> triplets = scene::random_scene(4, 6).triplets;
  TrifocalTensor t{};
  EXPECT_EQ(compute_linear_tensor(triplets.data(), 6, &t), 1);
  double norm = 0.0;
  for (double v : t.entry) norm += v * v;
  EXPECT_GT(norm, 0.0);
}

TEST(AffineTensor, ExactAffineTripletsSatisfyTheRelations) {
  const std::vector<MatchRecord> triplets = synthetic::affine_set(5, 12, 0.0, 0).matches;
  const std::vector<MatchRecord> before = triplets;
  TrifocalTensor t;
  for (double &v : t.entry) v = 7.5;
  ASSERT_EQ(compute_affine_tensor(triplets.data(), 12, &t), 1);
  EXPECT_TRUE(same_records(triplets, before));
  for (int n = 16; n < 27; ++n) EXPECT_EQ(t[n], 7.5);  // not touched
  // Relations E1..E4 relative to the size of their terms; the positions
  // carry the six-decimal rounding of the file text.
  for (const MatchRecord &r : triplets) {
    double residual[4];
    affine_residuals(t, r, residual);
    double size = 0.0;
    for (int n = 0; n < 16; ++n) size += std::fabs(t[n]) * 500.0;
    for (double v : residual) EXPECT_LT(std::fabs(v) / size, 1e-8);
  }
}

TEST(ConstrainedTensor, ExactTripletsSatisfyTheRelations) {
  const std::vector<MatchRecord> triplets = scene::random_scene(6, 15).triplets;
  TrifocalTensor t;
  ASSERT_EQ(compute_constrained_tensor(triplets.data(), 15, &t, 0), 1);
  for (const MatchRecord &r : triplets) EXPECT_LT(scene::relative_relation_error(t, r), 1e-8);
}

// On noisy data the linear solution has full-rank slices; the constrained
// one has the camera form, so every slice has rank two.
TEST(ConstrainedTensor, ResultHasTheCameraForm) {
  const std::vector<MatchRecord> triplets =
      synthetic::projective_set(7, 40, 0.5, 0).matches;
  TrifocalTensor linear, constrained;
  compute_linear_tensor(triplets.data(), 40, &linear);
  ASSERT_EQ(compute_constrained_tensor(triplets.data(), 40, &constrained, 0), 1);
  double linear_worst = 0.0;
  for (int i = 0; i < 3; ++i) {
    linear_worst = std::fmax(linear_worst, relative_slice_determinant(linear, i));
    EXPECT_LT(relative_slice_determinant(constrained, i), 1e-12) << i;
  }
  EXPECT_GT(linear_worst, 1e-9);
  // Refining from the linear tensor gives the camera form as well.
  TrifocalTensor refined = linear;
  ASSERT_EQ(compute_constrained_tensor(triplets.data(), 40, &refined, 1), 1);
  for (int i = 0; i < 3; ++i) EXPECT_LT(relative_slice_determinant(refined, i), 1e-12) << i;
}

// Refining an exact tensor on noise-free data returns the same tensor up to
// a non-zero factor.
TEST(ConstrainedTensor, RefiningAnExactTensorKeepsIt) {
  const std::vector<MatchRecord> triplets = scene::random_scene(8, 12).triplets;
  TrifocalTensor exact;
  ASSERT_EQ(compute_linear_tensor(triplets.data(), 12, &exact), 1);
  TrifocalTensor refined = exact;
  ASSERT_EQ(compute_constrained_tensor(triplets.data(), 12, &refined, 1), 1);
  const std::vector<double> a = direction(exact), b = direction(refined);
  for (int n = 0; n < 27; ++n) EXPECT_NEAR(a[n], b[n], 1e-7) << n;
}

}  // namespace
