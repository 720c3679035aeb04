// Point transfer and transfer distances.
#include "transfer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <limits>

#include "epipoles.h"
#include "fixed_arrays.h"
#include "numeric.h"
#include "scene_fixture.h"

namespace {

TrifocalTensor tensor_of(const scene::Scene &s) {
  FixedMatrix<3, 4> l, m, f;
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 4; ++c) {
      l[r + 1][c + 1] = s.last.m[r][c];
      m[r + 1][c + 1] = s.middle.m[r][c];
      f[r + 1][c + 1] = s.first.m[r][c];
    }
  TrifocalTensor t;
  tensor_from_cameras(l.get(), m.get(), f.get(), &t);
  return t;
}

TEST(ProjectiveTransfer, ReturnsEachMissingPosition) {
  for (uint64_t seed : {31u, 32u, 33u}) {
    const scene::Scene s = scene::random_scene(seed, 40);
    TrifocalTensor t = tensor_of(s);
    for (TensorMethod method : {TensorMethod::linear, TensorMethod::algebraic, TensorMethod::six_point}) {
      for (const MatchRecord &r : s.triplets) {
        double x, y;
        transfer_point(method, t, r.first.x, r.first.y, r.middle.x, r.middle.y, -1.0, -1.0, &x, &y);
        EXPECT_NEAR(x, r.last.x, 1e-7);
        EXPECT_NEAR(y, r.last.y, 1e-7);
        transfer_point(method, t, -1.0, -1.0, r.middle.x, r.middle.y, r.last.x, r.last.y, &x, &y);
        EXPECT_NEAR(x, r.first.x, 1e-7);
        EXPECT_NEAR(y, r.first.y, 1e-7);
        transfer_point(method, t, r.first.x, r.first.y, -1.0, -1.0, r.last.x, r.last.y, &x, &y);
        EXPECT_NEAR(x, r.middle.x, 1e-7);
        EXPECT_NEAR(y, r.middle.y, 1e-7);
      }
    }
  }
}

TEST(ProjectiveTransfer, DistancesAndTheirMean) {
  const scene::Scene s = scene::random_scene(34, 5);
  const TrifocalTensor t = tensor_of(s);
  MatchRecord moved = s.triplets[0];
  moved.last.x += 3.0;
  moved.last.y -= 4.0;
  // Moving only the last position: d_last is exactly that offset; the other
  // two transfers now use a wrong last position and miss too.
  const TransferDistances d = transfer_distances(TensorMethod::six_point, t, moved);
  EXPECT_NEAR(d.d_last, 5.0, 1e-7);
  EXPECT_EQ(d.d_last, transfer_distance_last(TensorMethod::six_point, t, moved));
  EXPECT_EQ(d.d_first, transfer_distance_first(TensorMethod::six_point, t, moved));
  EXPECT_EQ(d.d_middle, transfer_distance_middle(TensorMethod::six_point, t, moved));
  EXPECT_GT(d.d_first, 0.01);
  EXPECT_GT(d.d_middle, 0.01);
  EXPECT_EQ(mean_transfer_distance(d), (d.d_last + d.d_first + d.d_middle) / 3.0);
}

// The transfer's arithmetic is part of its output (distances are printed and
// compared with thresholds), so the rows are checked bit for bit against a
// transcription of the three row forms: relations (0,0), (0,1), (1,0), (1,1)
// in that order, each sum over i = 0, 1, 2 accumulated left to right and each
// product evaluated left to right, then N = sum r r^T in row order, jacobi,
// sort_eigen and the third eigenvector. An algebraically equal rewrite (a
// hoisted u_m*c_l, another row order) changes the last bits and fails here.
void reference_projective(const TrifocalTensor &t, const MatchRecord &r, int absent, double *x,
                          double *y) {
  const double u[2] = {r.first.x, r.first.y}, c[2] = {r.middle.x, r.middle.y};
  const double p3[3] = {r.last.x, r.last.y, 1.0};
  double rows[4][3];
  for (int n = 0; n < 4; ++n) {
    const int l = n / 2, m = n % 2;
    if (absent == 0) {  // first
      double q = 0.0, k = 0.0;
      for (int i = 0; i < 3; ++i) q = q + p3[i] * (t(i, l, 2) - c[l] * t(i, 2, 2));
      for (int i = 0; i < 3; ++i) k = k + p3[i] * (c[l] * t(i, 2, m) - t(i, l, m));
      rows[n][0] = m == 0 ? q : 0.0;
      rows[n][1] = m == 1 ? q : 0.0;
      rows[n][2] = k;
    } else if (absent == 1) {  // middle
      double q = 0.0, k = 0.0;
      for (int i = 0; i < 3; ++i) q = q + p3[i] * (t(i, 2, m) - u[m] * t(i, 2, 2));
      for (int i = 0; i < 3; ++i) k = k + p3[i] * (u[m] * t(i, l, 2) - t(i, l, m));
      rows[n][0] = l == 0 ? q : 0.0;
      rows[n][1] = l == 1 ? q : 0.0;
      rows[n][2] = k;
    } else {  // last
      for (int i = 0; i < 3; ++i)
        rows[n][i] = ((-t(i, l, m) + u[m] * t(i, l, 2)) + c[l] * t(i, 2, m)) -
                     (u[m] * c[l]) * t(i, 2, 2);
    }
  }
  FixedMatrix<3, 3> normal, v;
  FixedVector<3> d;
  for (int a = 1; a <= 3; ++a)
    for (int b = 1; b <= 3; ++b) normal[a][b] = 0.0;
  for (int n = 0; n < 4; ++n)
    for (int a = 1; a <= 3; ++a)
      for (int b = 1; b <= 3; ++b) normal[a][b] = normal[a][b] + rows[n][a - 1] * rows[n][b - 1];
  int rotations = 0;
  jacobi(normal.get(), 3, d.get(), v.get(), &rotations);
  sort_eigen(d.get(), v.get(), 3);
  *x = v[1][3] / v[3][3];
  *y = v[2][3] / v[3][3];
}

TEST(ProjectiveTransfer, RowsFollowTheWrittenEvaluationOrderBitForBit) {
  const scene::Scene s = scene::random_scene(36, 12);
  TrifocalTensor t = tensor_of(s);
  // Slightly perturbed positions, so the rows do not vanish exactly.
  for (int n = 0; n < 12; ++n) {
    MatchRecord r = s.triplets[n];
    r.first.x += 0.37, r.middle.y -= 0.21, r.last.x += 0.13;
    double x, y, ex, ey;
    transfer_projective(t, -1, -1, r.middle.x, r.middle.y, r.last.x, r.last.y, &x, &y);
    reference_projective(t, r, 0, &ex, &ey);
    EXPECT_EQ(x, ex) << n;
    EXPECT_EQ(y, ey) << n;
    transfer_projective(t, r.first.x, r.first.y, -1, -1, r.last.x, r.last.y, &x, &y);
    reference_projective(t, r, 1, &ex, &ey);
    EXPECT_EQ(x, ex) << n;
    EXPECT_EQ(y, ey) << n;
    transfer_projective(t, r.first.x, r.first.y, r.middle.x, r.middle.y, -1, -1, &x, &y);
    reference_projective(t, r, 2, &ex, &ey);
    EXPECT_EQ(x, ex) << n;
    EXPECT_EQ(y, ey) << n;
  }
}

// The projective transfer is unchanged when the tensor is multiplied by a
// factor, as a homogeneous object should be.
TEST(ProjectiveTransfer, IndependentOfTheTensorScale) {
  const scene::Scene s = scene::random_scene(35, 3);
  TrifocalTensor t = tensor_of(s), scaled = t;
  for (double &e : scaled.entry) e *= -250.0;
  const MatchRecord &r = s.triplets[1];
  double x1, y1, x2, y2;
  transfer_projective(t, r.first.x, r.first.y, -1, -1, r.last.x, r.last.y, &x1, &y1);
  transfer_projective(scaled, r.first.x, r.first.y, -1, -1, r.last.x, r.last.y, &x2, &y2);
  EXPECT_NEAR(x1, x2, 1e-9);
  EXPECT_NEAR(y1, y2, 1e-9);
}

// Affine cameras: positions are A_v X + b_v. Each affine relation is a
// linear dependence among four image coordinates; the left null vector of
// their 4x3 coefficient block gives it, and the shared entries fix the
// relative scales of the four relations.
struct AffineScene {
  double a[3][2][3];  // view (first, middle, last), row, column
  double b[3][2];
  std::vector<MatchRecord> triplets;
  TrifocalTensor t;
};

// Left null vector of the 4x3 matrix with rows r0..r3 (generalised cross
// product by cofactors).
void left_null(const double *rows[4], double n[4]) {
  for (int skip = 0; skip < 4; ++skip) {
    const double *m[3];
    for (int r = 0, k = 0; r < 4; ++r)
      if (r != skip) m[k++] = rows[r];
    const double det = m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) -
                       m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
                       m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
    n[skip] = (skip % 2 == 0) ? det : -det;
  }
}

AffineScene affine_scene(uint64_t seed, int points) {
  scene::Random rnd(seed);
  AffineScene s;
  for (int v = 0; v < 3; ++v)
    for (int r = 0; r < 2; ++r) {
      for (int c = 0; c < 3; ++c) s.a[v][r][c] = rnd.uniform(-60, 60);
      s.b[v][r] = rnd.uniform(200, 400);
    }
  // Relations over (x1 | y1, x2 | y2, x3, y3): E1 x1 x2, E2 x1 y2, E3 y1 x2, E4 y1 y2.
  const double *x3 = s.a[2][0], *y3 = s.a[2][1];
  double n[4][4];
  for (int e = 0; e < 4; ++e) {
    const double *rows[4] = {s.a[0][e / 2], s.a[1][e % 2], x3, y3};
    left_null(rows, n[e]);
  }
  // Scales: E1 and E3 share T0, E1 and E2 share T2, E2 and E4 share T1.
  const double k1 = 1.0 / n[0][0];
  const double k3 = n[0][0] * k1 / n[2][0];
  const double k2 = n[0][1] * k1 / n[1][1];
  const double k4 = n[1][0] * k2 / n[3][0];
  double *T = s.t.entry;
  for (double &e : s.t.entry) e = 0.0;
  T[0] = n[0][0] * k1, T[2] = n[0][1] * k1, T[4] = n[0][2] * k1, T[8] = n[0][3] * k1;
  T[1] = n[1][0] * k2, T[6] = n[1][2] * k2, T[10] = n[1][3] * k2;
  T[3] = n[2][1] * k3, T[5] = n[2][2] * k3, T[9] = n[2][3] * k3;
  T[7] = n[3][2] * k4, T[11] = n[3][3] * k4;
  // E4 and E3 share T3: the geometry makes the fourth pairing consistent.
  EXPECT_NEAR(n[3][1] * k4, T[3], 1e-9 * std::fabs(T[3]));
  const double bx[4][4] = {{s.b[0][0], s.b[1][0], s.b[2][0], s.b[2][1]},
                           {s.b[0][0], s.b[1][1], s.b[2][0], s.b[2][1]},
                           {s.b[0][1], s.b[1][0], s.b[2][0], s.b[2][1]},
                           {s.b[0][1], s.b[1][1], s.b[2][0], s.b[2][1]}};
  const double k[4] = {k1, k2, k3, k4};
  for (int e = 0; e < 4; ++e) {
    double c = 0.0;
    for (int q = 0; q < 4; ++q) c -= n[e][q] * k[e] * bx[e][q];
    T[12 + e] = c;
  }
  for (int p = 0; p < points; ++p) {
    const double x[3] = {rnd.uniform(-3, 3), rnd.uniform(-3, 3), rnd.uniform(-3, 3)};
    MatchPoint *pos[3];
    MatchRecord r;
    pos[0] = &r.first, pos[1] = &r.middle, pos[2] = &r.last;
    for (int v = 0; v < 3; ++v) {
      double c[2];
      for (int row = 0; row < 2; ++row)
        c[row] = s.a[v][row][0] * x[0] + s.a[v][row][1] * x[1] + s.a[v][row][2] * x[2] + s.b[v][row];
      *pos[v] = MatchPoint{c[0], c[1], 0};
    }
    s.triplets.push_back(r);
  }
  return s;
}

TEST(AffineTransfer, ReturnsEachMissingPosition) {
  const AffineScene s = affine_scene(41, 30);
  for (const MatchRecord &r : s.triplets) {
    double res[4];
    affine_residuals(s.t, r, res);
    for (double e : res) ASSERT_NEAR(e, 0.0, 1e-8);  // the test tensor itself is right
    const TransferDistances d = transfer_distances(TensorMethod::affine, s.t, r);
    EXPECT_LT(d.d_last, 1e-8);
    EXPECT_LT(d.d_first, 1e-8);
    EXPECT_LT(d.d_middle, 1e-8);
  }
  // The projective code path reads the affine tensor differently and fails.
  TrifocalTensor t = s.t;
  EXPECT_FALSE(transfer_distance_last(TensorMethod::six_point, t, s.triplets[0]) < 1e-3);
}

// Transfers whose eigenvector has a zero third component give non-finite
// positions; that must neither crash nor pass a strict "less than" test.
TEST(TransferDegenerate, NonFiniteDistancesFailEveryThreshold) {
  const scene::Scene s = scene::random_scene(42, 2);
  const MatchRecord &r = s.triplets[0];
  TrifocalTensor zero{};
  for (TensorMethod method : {TensorMethod::affine, TensorMethod::six_point}) {
    const TransferDistances d = transfer_distances(method, zero, r);
    for (double v : {d.d_last, d.d_first, d.d_middle}) {
      EXPECT_FALSE(std::isfinite(v)) << static_cast<int>(method);
      EXPECT_FALSE(v < 10.0);
    }
    EXPECT_FALSE(mean_transfer_distance(d) < 1e300);
  }
  // Affine, last absent, T4..T11 zero: the rows do not involve the position.
  const AffineScene a = affine_scene(43, 1);
  TrifocalTensor t = a.t;
  for (int n = 4; n <= 11; ++n) t[n] = 0.0;
  EXPECT_FALSE(transfer_distance_last(TensorMethod::affine, t, a.triplets[0]) < 10.0);
  // A tensor with non-finite entries, as a six-point sample with a zero
  // divisor can produce.
  TrifocalTensor bad = tensor_of(s);
  bad[4] = std::numeric_limits<double>::quiet_NaN();
  bad[20] = std::numeric_limits<double>::infinity();
  testing::internal::CaptureStdout();
  const TransferDistances d = transfer_distances(TensorMethod::six_point, bad, r);
  testing::internal::GetCapturedStdout();
  EXPECT_FALSE(d.d_last < 10.0 && d.d_first < 10.0 && d.d_middle < 10.0);
}


// The block transfer of the scoring loop gives each match's d_last to the
// bit, for scene and random tensors, both methods, absent (-1, -1) positions
// and non-finite coordinates.
TEST(TransferBlock, MatchesTheSingleTransferBitForBit) {
  const scene::Scene s = scene::random_scene(77, 40);
  std::mt19937_64 rng(20261209);
  std::uniform_real_distribution<double> u(-1.0, 1.0), pos(0.0, 640.0);
  const double nan = std::numeric_limits<double>::quiet_NaN();
  for (int trial = 0; trial < 200; ++trial) {
    SCOPED_TRACE(trial);
    TrifocalTensor t = tensor_of(s);
    if (trial % 2 == 1)
      for (double &e : t.entry) e = u(rng) * std::pow(10.0, static_cast<int>(u(rng) * 6));
    const TensorMethod method = trial % 5 == 4 ? TensorMethod::affine : TensorMethod::six_point;
    MatchRecord m[kTransferBlock];
    for (int l = 0; l < kTransferBlock; ++l) {
      m[l] = s.triplets[(trial + l) % 40];
      if (trial % 3 == 2) m[l].last = MatchPoint{pos(rng), pos(rng), 0};  // an outlier
    }
    if (trial % 7 == 3) m[trial % kTransferBlock].first = MatchPoint{-1.0, -1.0, 0};
    if (trial % 11 == 5) m[0].middle.x = nan;
    double block[kTransferBlock];
    transfer_distance_last_block(method, t, m, block);
    for (int l = 0; l < kTransferBlock; ++l) {
      const double single = transfer_distance_last(method, t, m[l]);
      EXPECT_EQ(std::memcmp(&single, &block[l], sizeof(double)), 0) << l << ": " << single
                                                                    << " vs " << block[l];
    }
  }
}

}  // namespace
