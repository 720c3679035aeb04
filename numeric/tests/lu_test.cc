// LU decomposition, substitution and inverse.
#include <cmath>
#include <random>

#include <gtest/gtest.h>

#include "numeric.h"
#include "test_support.h"

namespace {

using numtest::Matrix;
using numtest::Vector;

TEST(Lu, SingularMatrixGoesThroughWithTinyPivot) {
  Matrix a(2, 2);
  a[1][1] = 1.0;
  a[1][2] = 2.0;
  a[2][1] = 2.0;
  a[2][2] = 4.0;
  int pivots[3] = {0, 0, 0};
  double parity = 0.0;
  ludcmp(a.get(), 2, pivots, &parity);
  // Both rows score 0.5 for the first pivot; the later row wins the tie.
  EXPECT_EQ(pivots[1], 2);
  EXPECT_EQ(pivots[2], 2);
  EXPECT_EQ(parity, -1.0);
  EXPECT_EQ(a[1][1], 2.0);
  EXPECT_EQ(a[1][2], 4.0);
  EXPECT_EQ(a[2][1], 0.5);
  EXPECT_EQ(a[2][2], 1e-20);
}

TEST(Lu, ZeroRowFails) {
  Matrix a(3, 3), y(3, 3);
  a[1][1] = 1.0;
  a[3][2] = 2.0;  // row 2 stays zero
  int pivots[4];
  double parity;
  const char *message = nullptr;
  EXPECT_EQ(ludcmp(a.get(), 3, pivots, &parity, &message), Status::numeric_failure);
  EXPECT_STREQ(message, "Singular matrix in routine LUDCMP");
  message = nullptr;
  EXPECT_EQ(lu_invert(a.get(), y.get(), 3, &message), Status::numeric_failure);
  EXPECT_STREQ(message, "Singular matrix in routine LUDCMP");
}

TEST(Lu, InverseOfTwoByTwoLeavesFactorsBehind) {
  Matrix a(2, 2), y(2, 2);
  a[1][1] = 4.0;
  a[1][2] = 3.0;
  a[2][1] = 6.0;
  a[2][2] = 3.0;
  lu_invert(a.get(), y.get(), 2);
  EXPECT_NEAR(y[1][1], -0.5, 1e-15);
  EXPECT_NEAR(y[1][2], 0.5, 1e-15);
  EXPECT_NEAR(y[2][1], 1.0, 1e-15);
  EXPECT_NEAR(y[2][2], -2.0 / 3.0, 1e-15);
  // Scaled merits are 1/4·4 and (1/6)·6, both 1 in double precision: the
  // later row becomes the first pivot.
  EXPECT_EQ(a[1][1], 6.0);
  EXPECT_EQ(a[1][2], 3.0);
  EXPECT_EQ(a[2][1], 4.0 / 6.0);
  EXPECT_NEAR(a[2][2], 1.0, 1e-15);
}

void check_random_system(std::mt19937_64 &rng, int n) {
  Matrix a(n, n);
  for (int i = 1; i <= n; ++i)
    for (int j = 1; j <= n; ++j) a[i][j] = numtest::uniform(rng, -1.0, 1.0);
  for (int i = 1; i <= n; ++i) a[i][i] += (rng() % 2 ? 1.0 : -1.0) * n * 0.5;
  const Matrix original(a);

  Matrix lu(a);
  int pivots[64];
  ASSERT_LT(n, 64);
  double parity = 0.0;
  ludcmp(lu.get(), n, pivots, &parity);
  // Replay the row swaps on a copy and compare with L·U.
  Matrix permuted(a);
  double swaps = 1.0;
  for (int j = 1; j <= n; ++j) {
    ASSERT_GE(pivots[j], j);
    ASSERT_LE(pivots[j], n);
    if (pivots[j] != j) {
      swaps = -swaps;
      for (int k = 1; k <= n; ++k) std::swap(permuted[j][k], permuted[pivots[j]][k]);
    }
  }
  EXPECT_EQ(parity, swaps);
  for (int i = 1; i <= n; ++i)
    for (int j = 1; j <= n; ++j) {
      double s = 0.0;
      for (int k = 1; k <= std::min(i, j); ++k) s += (k == i ? 1.0 : lu[i][k]) * lu[k][j];
      EXPECT_NEAR(s, permuted[i][j], 1e-13 * n);
    }

  // Solve A x = b for a known x.
  Vector x0(n), b(n);
  for (int j = 1; j <= n; ++j) x0[j] = numtest::uniform(rng, -1.0, 1.0);
  for (int i = 1; i <= n; ++i)
    for (int j = 1; j <= n; ++j) b[i] += original[i][j] * x0[j];
  const Matrix lu_before(lu);
  lu_backsub(lu.get(), n, pivots, b.get());
  for (int j = 1; j <= n; ++j) EXPECT_NEAR(b[j], x0[j], 1e-12);
  for (int i = 1; i <= n; ++i)
    for (int j = 1; j <= n; ++j) ASSERT_EQ(lu[i][j], lu_before[i][j]);

  // A · inverse = I.
  Matrix y(n, n);
  lu_invert(a.get(), y.get(), n);
  for (int i = 1; i <= n; ++i)
    for (int j = 1; j <= n; ++j) {
      double s = 0.0;
      for (int k = 1; k <= n; ++k) s += original[i][k] * y[k][j];
      EXPECT_NEAR(s, i == j ? 1.0 : 0.0, 1e-12);
    }
  // lu_invert leaves exactly the factors ludcmp produces.
  for (int i = 1; i <= n; ++i)
    for (int j = 1; j <= n; ++j) ASSERT_EQ(a[i][j], lu[i][j]);
}

TEST(Lu, RandomSystemsFactorSolveAndInvert) {
  std::mt19937_64 rng(numtest::test_seed("RandomSystems", 5040));
  for (int trial = 0; trial < 200; ++trial) {
    SCOPED_TRACE(trial);
    check_random_system(rng, numtest::uniform_int(rng, 1, 20));
  }
  // Beyond the stack work vectors.
  check_random_system(rng, 40);
}

}  // namespace
