// Cyclic Jacobi eigen-decomposition and the descending sorts.
#include <cmath>
#include <cstring>
#include <limits>
#include <random>

#include <gtest/gtest.h>

#include "jacobi_body.h"
#include "numeric.h"
#include "numeric_note.h"
#include "test_support.h"

namespace {

using numtest::Matrix;
using numtest::Vector;

void expect_unit_column(const Matrix &v, int column, int unit_row) {
  for (int i = 1; i <= v.rows(); ++i)
    EXPECT_EQ(v[i][column], i == unit_row ? 1.0 : 0.0) << "row " << i << " column " << column;
}

TEST(Jacobi, DiagonalMatrixNeedsNoRotation) {
  Matrix a(3, 3), v(3, 3);
  Vector d(3);
  a[1][1] = 1.0;
  a[2][2] = 3.0;
  a[3][3] = 2.0;
  int count = -1;
  ASSERT_EQ(jacobi(a.get(), 3, d.get(), v.get(), &count), 1);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(d[1], 1.0);
  EXPECT_EQ(d[2], 3.0);
  EXPECT_EQ(d[3], 2.0);
  for (int j = 1; j <= 3; ++j) expect_unit_column(v, j, j);

  sort_eigen(d.get(), v.get(), 3);
  EXPECT_EQ(d[1], 3.0);
  EXPECT_EQ(d[2], 2.0);
  EXPECT_EQ(d[3], 1.0);
  expect_unit_column(v, 1, 2);
  expect_unit_column(v, 2, 3);
  expect_unit_column(v, 3, 1);
}

TEST(Jacobi, SmallExampleAndUntouchedLowerTriangle) {
  // Eigenvalues 3 (vector (1,1,0)/sqrt 2), 1 ((1,-1,0)/sqrt 2) and 3 (e3).
  Matrix a(3, 3), v(3, 3);
  Vector d(3);
  const double entries[3][3] = {{2, 1, 0}, {1, 2, 0}, {0, 0, 3}};
  for (int i = 1; i <= 3; ++i)
    for (int j = 1; j <= 3; ++j) a[i][j] = entries[i - 1][j - 1];
  int count = 0;
  ASSERT_EQ(jacobi(a.get(), 3, d.get(), v.get(), &count), 1);
  EXPECT_EQ(count, 1);
  // Only the strict upper triangle changes, and it ends at zero.
  for (int i = 1; i <= 3; ++i)
    for (int j = 1; j <= 3; ++j) EXPECT_EQ(a[i][j], j > i ? 0.0 : entries[i - 1][j - 1]);
  sort_eigen(d.get(), v.get(), 3);
  EXPECT_NEAR(d[1], 3.0, 1e-15);
  EXPECT_NEAR(d[2], 3.0, 1e-15);
  EXPECT_NEAR(d[3], 1.0, 1e-15);
  EXPECT_NEAR(std::fabs(v[1][3]), std::sqrt(0.5), 1e-15);
  EXPECT_NEAR(v[1][3] + v[2][3], 0.0, 1e-15);
  EXPECT_EQ(v[3][3], 0.0);
}

TEST(Jacobi, NotANumberFailsAfterFiftySweeps) {
  const numtest::ChildResult r = numtest::run_in_child([] {
    Matrix a(3, 3), v(3, 3);
    Vector d(3);
    a[1][2] = a[2][1] = std::numeric_limits<double>::quiet_NaN();
    int count = 0;
    NumericNoteScope to_stdout([](void *, const char *line) { std::fputs(line, stdout); }, nullptr);
    std::printf("%d\n", jacobi(a.get(), 3, d.get(), v.get(), &count));
  });
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "Failed Jacobi\n0\n");
}

TEST(Sorts, EqualValuesLetTheLastOneWin) {
  // Two equal largest values at positions 1 and 2 are swapped.
  Matrix v(3, 3);
  Vector d(3);
  for (int i = 1; i <= 3; ++i) v[i][i] = 1.0;
  d[1] = 5.0;
  d[2] = 5.0;
  d[3] = 1.0;
  sort_eigen(d.get(), v.get(), 3);
  EXPECT_EQ(d[1], 5.0);
  EXPECT_EQ(d[2], 5.0);
  EXPECT_EQ(d[3], 1.0);
  expect_unit_column(v, 1, 2);
  expect_unit_column(v, 2, 1);
  expect_unit_column(v, 3, 3);
}

TEST(Sorts, SortWithIndexCarriesIndexAndColumns) {
  // M has 2 rows and 4 columns; its columns follow d.
  Matrix m(2, 4);
  Vector d(4);
  int index[5] = {0, 1, 2, 3, 4};
  const double values[5] = {0, 1.0, 4.0, 2.0, 4.0};
  for (int j = 1; j <= 4; ++j) {
    d[j] = values[j];
    m[1][j] = j;
    m[2][j] = -j;
  }
  sort_with_index(d.get(), index, m.get(), 2, 4);
  // d = (1, 4, 2, 4): the first pass takes the later 4 (position 4) and
  // swaps it with position 1; the other passes find nothing larger.
  const int expected[5] = {0, 4, 2, 3, 1};
  for (int j = 1; j <= 4; ++j) {
    EXPECT_EQ(index[j], expected[j]);
    EXPECT_EQ(d[j], values[expected[j]]);
    EXPECT_EQ(m[1][j], expected[j]);
    EXPECT_EQ(m[2][j], -expected[j]);
  }
}

void check_random_symmetric(std::mt19937_64 &rng, int n) {
  Matrix a(n, n), v(n, n);
  Vector d(n);
  for (int i = 1; i <= n; ++i)
    for (int j = i; j <= n; ++j) a[i][j] = a[j][i] = numtest::uniform(rng, -1.0, 1.0);
  if (n > 2 && rng() % 3 == 0) {
    // A repeated eigenvalue: rank-one update of a multiple of the identity.
    for (int i = 1; i <= n; ++i)
      for (int j = 1; j <= n; ++j) a[i][j] = (i == j ? 2.0 : 0.0) + 0.1 * i * j;
  }
  const Matrix original(a);
  int count = 0;
  ASSERT_EQ(jacobi(a.get(), n, d.get(), v.get(), &count), 1);
  for (int i = 1; i <= n; ++i)
    for (int j = 1; j <= n; ++j) ASSERT_EQ(a[i][j], j > i ? 0.0 : original[i][j]);
  EXPECT_LT(numtest::orthonormality_error(v), 1e-13);
  // A v_j = d_j v_j.
  for (int j = 1; j <= n; ++j)
    for (int i = 1; i <= n; ++i) {
      double s = 0.0;
      for (int k = 1; k <= n; ++k) s += original[i][k] * v[k][j];
      EXPECT_NEAR(s, d[j] * v[i][j], 1e-13 * n);
    }
  sort_eigen(d.get(), v.get(), n);
  for (int j = 2; j <= n; ++j) EXPECT_GE(d[j - 1], d[j]);
  // The columns still pair with their eigenvalues.
  for (int i = 1; i <= n; ++i) {
    double s = 0.0;
    for (int k = 1; k <= n; ++k) s += original[i][k] * v[k][n];
    EXPECT_NEAR(s, d[n] * v[i][n], 1e-13 * n);
  }
}

TEST(Jacobi, RandomSymmetricMatricesSatisfyTheEigenEquation) {
  std::mt19937_64 rng(numtest::test_seed("RandomSymmetric", 8128));
  for (int trial = 0; trial < 200; ++trial) {
    SCOPED_TRACE(trial);
    check_random_symmetric(rng, numtest::uniform_int(rng, 1, 27));
  }
  // Beyond the stack work vectors.
  check_random_symmetric(rng, 40);
}


// The inline 3 x 3 routines of the point transfers must give the general
// routines' results to the bit, rotation count and status included, on
// ordinary, rank-deficient, repeated-eigenvalue, tiny, huge and NaN input.
TEST(Jacobi, ThreeByThreeMatchesTheGeneralRoutineBitForBit) {
  std::mt19937_64 rng(numtest::test_seed("Jacobi3", 3));
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  const double nan = std::numeric_limits<double>::quiet_NaN();
  for (int trial = 0; trial < 3000; ++trial) {
    SCOPED_TRACE(trial);
    double rows[4][3];
    const double scale = std::pow(10.0, numtest::uniform_int(rng, -150, 150));
    for (auto &row : rows)
      for (double &x : row) x = u(rng) * scale;
    if (trial % 7 == 1)
      for (auto &row : rows) row[2] = row[0] + row[1];  // rank 2
    if (trial % 7 == 2)
      for (auto &row : rows) row[1] = row[2] = 0.0;  // two zero eigenvalues
    if (trial % 7 == 3) rows[trial % 4][trial % 3] = nan;
    Matrix a(3, 3), v(3, 3);
    Vector d(3);
    double a3[4][4], v3[4][4], d3[4];
    for (int s = 1; s <= 3; ++s)
      for (int t = 1; t <= 3; ++t) {
        double sum = 0.0;
        for (const auto &row : rows) sum += row[s - 1] * row[t - 1];
        a[s][t] = a3[s][t] = sum;
      }
    int count = 0, count3 = 0;
    const int ok = jacobi(a.get(), 3, d.get(), v.get(), &count);
    const int ok3 = jacobi3(a3, d3, v3, &count3);
    sort_eigen(d.get(), v.get(), 3);
    sort_eigen3(d3, v3);
    ASSERT_EQ(ok, ok3);
    ASSERT_EQ(count, count3);
    for (int s = 1; s <= 3; ++s) {
      ASSERT_EQ(std::memcmp(&d[s], &d3[s], sizeof(double)), 0) << "eigenvalue " << s;
      for (int t = 1; t <= 3; ++t) {
        ASSERT_EQ(std::memcmp(&v[s][t], &v3[s][t], sizeof(double)), 0) << s << "," << t;
        if (t > s) {
          ASSERT_EQ(std::memcmp(&a[s][t], &a3[s][t], sizeof(double)), 0);
        }
      }
    }
  }
}

}  // namespace
