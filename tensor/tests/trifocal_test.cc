// Tensor storage, relations, scale normalisation and the small helpers.
#include "trifocal.h"

#include <gtest/gtest.h>

#include <cmath>

#include "epipoles.h"
#include "fixed_arrays.h"
#include "scene_fixture.h"

namespace {

MatchRecord triplet(double x1, double y1, double x2, double y2, double x3, double y3) {
  MatchRecord r;
  r.first = {x1, y1, 11};
  r.middle = {x2, y2, 12};
  r.last = {x3, y3, 13};
  return r;
}

TrifocalTensor counting_tensor() {
  TrifocalTensor t;
  for (int n = 0; n < 27; ++n) t[n] = 0.5 + n * 0.25 - (n % 4) * 1.5;
  return t;
}

TEST(TrifocalTensor, StorageOrderIsNineIPlusThreeJPlusK) {
  TrifocalTensor t{};
  t(2, 1, 0) = 5.0;
  t(0, 2, 1) = 7.0;
  EXPECT_EQ(t.entry[21], 5.0);
  EXPECT_EQ(t.entry[7], 7.0);
  EXPECT_EQ(t[26], 0.0);
}

TEST(TrilinearRelations, RowDotTensorIsTheResidualInTheFixedOrder) {
  const TrifocalTensor t = counting_tensor();
  const MatchRecord r = triplet(3.0, -2.0, 0.5, 4.0, -1.5, 2.5);
  double residual[4];
  trilinear_residuals(t, r, residual);
  const int order[4][2] = {{0, 0}, {0, 1}, {1, 0}, {1, 1}};
  for (int n = 0; n < 4; ++n) {
    double row[27];
    trilinear_row(r, order[n][0], order[n][1], row);
    int nonzero = 0;
    double dot = 0.0;
    for (int e = 0; e < 27; ++e) {
      nonzero += row[e] != 0.0;
      dot += row[e] * t[e];
    }
    EXPECT_EQ(nonzero, 12);
    EXPECT_NEAR(dot, residual[n], 1e-12);
    EXPECT_EQ(residual[n], trilinear_residual(t, r, order[n][0], order[n][1]));
  }
  // Relation (0, 1) by hand: sum_i p3_i (-T(i,0,1) + y1 T(i,0,2) + x2 T(i,2,1)
  // - y1 x2 T(i,2,2)).
  double expect = 0.0;
  const double p3[3] = {-1.5, 2.5, 1.0};
  for (int i = 0; i < 3; ++i)
    expect += p3[i] * (-t(i, 0, 1) + -2.0 * t(i, 0, 2) + 0.5 * t(i, 2, 1) - -2.0 * 0.5 * t(i, 2, 2));
  EXPECT_DOUBLE_EQ(residual[1], expect);
}

TEST(AffineRelations, RowsMatchTheWrittenEquations) {
  const TrifocalTensor t = counting_tensor();
  const MatchRecord r = triplet(3.0, -2.0, 0.5, 4.0, -1.5, 2.5);
  double residual[4];
  affine_residuals(t, r, residual);
  EXPECT_DOUBLE_EQ(residual[0], 3.0 * t[0] + 0.5 * t[2] + -1.5 * t[4] + 2.5 * t[8] + t[12]);
  EXPECT_DOUBLE_EQ(residual[3], -2.0 * t[1] + 4.0 * t[3] + -1.5 * t[7] + 2.5 * t[11] + t[15]);
  for (int e = 0; e < 4; ++e) {
    double row[16], dot = 0.0;
    affine_row(r, e, row);
    for (int n = 0; n < 16; ++n) dot += row[n] * t[n];
    EXPECT_NEAR(dot, residual[e], 1e-12) << "E" << e + 1;
  }
}

TEST(NormaliseSample, WorkedExampleScalesWithoutCentring) {
  MatchRecord r[2] = {triplet(3, 4, 100, 100, 10, 0), triplet(0, 0, 100, 100, 0, 10)};
  NormalisingTransform f, m, l;
  normalise_sample(r, 2, &f, &m, &l);
  // First image: S = 25, n = 2, s = sqrt(25 / 4) = 2.5.
  EXPECT_DOUBLE_EQ(r[0].first.x, 1.2);
  EXPECT_DOUBLE_EQ(r[0].first.y, 1.6);
  EXPECT_EQ(r[1].first.x, 0.0);
  EXPECT_EQ(r[1].first.y, 0.0);
  const double expect_first[9] = {0.4, 0, 0, 0, 0.4, 0, 0, 0, 1};
  for (int e = 0; e < 9; ++e) EXPECT_DOUBLE_EQ(f.entry[e], expect_first[e]) << e;
  // Middle image: a large common offset stays, divided by s = 100.
  EXPECT_DOUBLE_EQ(m.factor(), 0.01);
  EXPECT_DOUBLE_EQ(r[1].middle.x, 1.0);
  // Last image: s = sqrt(200 / 4).
  EXPECT_DOUBLE_EQ(l.factor(), 1.0 / std::sqrt(50.0));
  EXPECT_EQ(l.entry[2], 0.0);
  EXPECT_EQ(l.entry[5], 0.0);
  // Index members are left alone.
  EXPECT_EQ(r[0].first.index, 11);
  EXPECT_EQ(r[1].last.index, 13);
}

TEST(TensorRescaling, FactorTableAndRoundTrip) {
  const TrifocalTensor original = counting_tensor();
  TrifocalTensor t = original;
  const double ff = 0.25, fm = 0.5, fl = 4.0;
  denormalise_tensor(&t, ff, fm, fl);
  EXPECT_DOUBLE_EQ(t(0, 0, 0), original(0, 0, 0) * fl);
  EXPECT_DOUBLE_EQ(t(0, 2, 2), original(0, 2, 2) * fl * fm * ff);
  EXPECT_DOUBLE_EQ(t(1, 0, 2), original(1, 0, 2) * fl * ff);
  EXPECT_DOUBLE_EQ(t(2, 2, 2), original(2, 2, 2) * fm * ff);
  EXPECT_DOUBLE_EQ(t(2, 2, 0), original(2, 2, 0) * fm);
  for (int j = 0; j < 2; ++j)
    for (int k = 0; k < 2; ++k) EXPECT_EQ(t(2, j, k), original(2, j, k));
  normalise_tensor(&t, ff, fm, fl);
  for (int n = 0; n < 27; ++n) EXPECT_NEAR(t[n], original[n], 1e-14 * std::fabs(original[n]));
}

// A tensor built from normalised positions, de-normalised with the factors of
// the same normalisation, satisfies the relations in pixel coordinates.
TEST(TensorRescaling, DenormalisedTensorHoldsForPixelPositions) {
  const scene::Scene s = scene::random_scene(101, 12);
  std::vector<MatchRecord> copy = s.triplets;
  NormalisingTransform f, m, l;
  normalise_sample(copy.data(), static_cast<int>(copy.size()), &f, &m, &l);
  // The cameras of the normalised images are diag(1/s, 1/s, 1) P.
  FixedMatrix<3, 4> c_first, c_middle, c_last;
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 4; ++c) {
      c_first[r + 1][c + 1] = s.first.m[r][c] * (r < 2 ? f.factor() : 1.0);
      c_middle[r + 1][c + 1] = s.middle.m[r][c] * (r < 2 ? m.factor() : 1.0);
      c_last[r + 1][c + 1] = s.last.m[r][c] * (r < 2 ? l.factor() : 1.0);
    }
  TrifocalTensor t;
  tensor_from_cameras(c_last.get(), c_middle.get(), c_first.get(), &t);
  for (const MatchRecord &r : copy) EXPECT_LT(scene::relative_relation_error(t, r), 1e-10);
  // Before de-normalisation the pixel positions do not fit.
  double worst = 0.0;
  for (const MatchRecord &r : s.triplets) worst = std::fmax(worst, scene::relative_relation_error(t, r));
  EXPECT_GT(worst, 1e-4);
  denormalise_tensor(&t, f.factor(), m.factor(), l.factor());
  for (const MatchRecord &r : s.triplets) EXPECT_LT(scene::relative_relation_error(t, r), 1e-10);
}

TEST(SignedCubeRoot, KeepsTheSignAndMapsZeroToZero) {
  EXPECT_DOUBLE_EQ(signed_cube_root(-8.0), -2.0);
  EXPECT_DOUBLE_EQ(signed_cube_root(27.0), 3.0);
  EXPECT_EQ(signed_cube_root(0.0), 0.0);
  // The exponent is the double nearest 1/3, not 1/3 itself.
  EXPECT_EQ(signed_cube_root(2.0), std::pow(2.0, 0.3333333333333333));
}

}  // namespace
