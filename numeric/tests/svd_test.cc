// Singular value decomposition and least-squares back substitution.
#include <cmath>
#include <limits>
#include <random>

#include <gtest/gtest.h>

#include "numeric.h"
#include "numeric_note.h"
#include "test_support.h"

namespace {

using numtest::Matrix;
using numtest::Vector;

// Largest |(U diag(w) V^T - a)[i][j]|.
double reconstruction_error(const Matrix &u, Vector &w, const Matrix &v, const Matrix &a) {
  double worst = 0.0;
  for (int i = 1; i <= a.rows(); ++i) {
    for (int j = 1; j <= a.cols(); ++j) {
      double sum = 0.0;
      for (int k = 1; k <= a.cols(); ++k) sum += u[i][k] * w[k] * v[j][k];
      worst = std::fmax(worst, std::fabs(sum - a[i][j]));
    }
  }
  return worst;
}

// The 27 x 18 parameter matrix of the constrained refit for epipoles e_f
// (first image) and e_m (middle image): tensor entry (i, j, k) in row
// 9i + 3j + k + 1 is A(j, i)·e_f[k] - e_m[j]·B(k, i), A in columns 1..9,
// B in columns 10..18. Its rank is 15.
void fill_epipole_parameters(Matrix &e, const double *e_f, const double *e_m) {
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j)
      for (int k = 0; k < 3; ++k) {
        const int row = 9 * i + 3 * j + k + 1;
        e[row][3 * j + i + 1] = e_f[k];
        e[row][9 + 3 * k + i + 1] = -e_m[j];
      }
}

// Runs svdcmp on a copy of a and checks the decomposition's defining
// properties; returns the number of singular values below tiny·max(w).
int check_decomposition(const Matrix &a, double tolerance, double tiny) {
  const int m = a.rows(), n = a.cols();
  Matrix u(a);
  Matrix v(n, n);
  Vector w(n);
  EXPECT_EQ(svdcmp(u.get(), m, n, w.get(), v.get()), Status::ok);
  const double scale = std::fmax(numtest::max_abs(a), 1e-300);
  EXPECT_LT(reconstruction_error(u, w, v, a), tolerance * scale);
  EXPECT_LT(numtest::orthonormality_error(u), tolerance);
  EXPECT_LT(numtest::orthonormality_error(v), tolerance);
  double largest = 0.0;
  for (int j = 1; j <= n; ++j) {
    EXPECT_GE(w[j], 0.0);
    largest = std::fmax(largest, w[j]);
  }
  int small = 0;
  for (int j = 1; j <= n; ++j)
    if (w[j] < tiny * largest) ++small;
  return small;
}

TEST(Svd, IdentityGivesMinusIdentityFactors) {
  Matrix a(3, 3), v(3, 3);
  Vector w(3);
  for (int i = 1; i <= 3; ++i) a[i][i] = 1.0;
  ASSERT_EQ(svdcmp(a.get(), 3, 3, w.get(), v.get()), Status::ok);
  for (int i = 1; i <= 3; ++i) {
    EXPECT_EQ(w[i], 1.0);
    for (int j = 1; j <= 3; ++j) {
      EXPECT_EQ(a[i][j], i == j ? -1.0 : 0.0) << i << "," << j;
      EXPECT_EQ(v[i][j], i == j ? -1.0 : 0.0) << i << "," << j;
    }
  }
}

TEST(Svd, SingularValuesComeOutUnordered) {
  Matrix a(3, 3), v(3, 3);
  Vector w(3);
  a[1][1] = 2.0;
  a[2][2] = 3.0;
  a[3][3] = 1.0;
  ASSERT_EQ(svdcmp(a.get(), 3, 3, w.get(), v.get()), Status::ok);
  EXPECT_EQ(w[1], 2.0);
  EXPECT_EQ(w[2], 3.0);
  EXPECT_EQ(w[3], 1.0);
}

TEST(Svd, FewerRowsThanColumnsFails) {
  const numtest::ChildResult r = numtest::run_in_child([] {
    Matrix a(2, 3), v(3, 3);
    Vector w(3);
    const char *message = "";
    const Status status = svdcmp(a.get(), 2, 3, w.get(), v.get(), &message);
    std::printf("%d %s\n", status == Status::numeric_failure, message);
  });
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "1 SVDCMP: You must augment A with extra zero rows\n");
  EXPECT_EQ(r.err, "");
}

TEST(Svd, NotANumberFailsInsteadOfRunningOff) {
  const numtest::ChildResult r = numtest::run_in_child([] {
    Matrix a(4, 3), v(3, 3);
    Vector w(3);
    for (int i = 1; i <= 4; ++i)
      for (int j = 1; j <= 3; ++j) a[i][j] = i + j;
    a[2][2] = std::numeric_limits<double>::quiet_NaN();
    NumericNoteScope to_stdout([](void *, const char *line) { std::fputs(line, stdout); }, nullptr);
    const char *message = "";
    const Status status = svdcmp(a.get(), 4, 3, w.get(), v.get(), &message);
    std::printf("%d %s\n", status == Status::numeric_failure, message);
  });
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "Failed SVD\n1 Failed SVD\n");
}

TEST(Svd, RankSeventeenOfEighteenHasOneNullDirection) {
  std::mt19937_64 rng(numtest::test_seed("RankSeventeen", 1717));
  for (int trial = 0; trial < 20; ++trial) {
    Matrix a(27, 18);
    for (int i = 1; i <= 27; ++i) {
      for (int j = 1; j <= 17; ++j) a[i][j] = numtest::uniform(rng, -1.0, 1.0);
      a[i][18] = a[i][3] - 2.0 * a[i][11];  // a dependent column
    }
    Matrix u(a), v(18, 18);
    Vector w(18);
    ASSERT_EQ(svdcmp(u.get(), 27, 18, w.get(), v.get()), Status::ok);
    int smallest = 1;
    for (int j = 2; j <= 18; ++j)
      if (w[j] < w[smallest]) smallest = j;
    double second = std::numeric_limits<double>::infinity();
    for (int j = 1; j <= 18; ++j)
      if (j != smallest) second = std::fmin(second, w[j]);
    EXPECT_LT(w[smallest], 1e-13);
    EXPECT_GT(second, 1e-3);
    // Column `smallest` of V spans the null space: A v = 0.
    for (int i = 1; i <= 27; ++i) {
      double s = 0.0;
      for (int k = 1; k <= 18; ++k) s += a[i][k] * v[k][smallest];
      EXPECT_LT(std::fabs(s), 1e-13);
    }
    EXPECT_LT(reconstruction_error(u, w, v, a), 1e-13);
  }
}

// Parameter matrices of the constrained refit drive the cancellation branch
// of the diagonalisation (a zero diagonal entry with a non-zero
// superdiagonal entry beside it); the decomposition must still be exact.
TEST(Svd, EpipoleParameterMatricesReconstruct) {
  std::mt19937_64 rng(numtest::test_seed("EpipoleParameterMatrices", 2718));
  for (int trial = 0; trial < 300; ++trial) {
    double e_f[3], e_m[3];
    for (int k = 0; k < 3; ++k) {
      e_f[k] = numtest::uniform(rng, -1.0, 1.0);
      e_m[k] = numtest::uniform(rng, -1.0, 1.0);
    }
    // Epipoles near the image centre or at infinity make some entries zero.
    if (trial % 5 == 1) e_f[2] = 0.0;
    if (trial % 7 == 2) e_m[0] = e_m[1] = 0.0;
    if (trial % 11 == 3) e_f[0] = 0.0;
    Matrix e(27, 18);
    fill_epipole_parameters(e, e_f, e_m);
    SCOPED_TRACE(trial);
    EXPECT_EQ(check_decomposition(e, 1e-13, 1e-12), 3);
  }
}

TEST(Svd, SortWithIndexOrdersValuesAndLeftVectors) {
  std::mt19937_64 rng(numtest::test_seed("SortWithIndex", 99));
  double e_f[3] = {0.3, -0.2, 1.0}, e_m[3] = {0.1, 0.7, 0.9};
  for (int k = 0; k < 3; ++k) e_m[k] += numtest::uniform(rng, -0.1, 0.1);
  Matrix e(27, 18);
  fill_epipole_parameters(e, e_f, e_m);
  Matrix u(e), v(18, 18);
  Vector w(18);
  ASSERT_EQ(svdcmp(u.get(), 27, 18, w.get(), v.get()), Status::ok);
  int index[19];
  for (int j = 1; j <= 18; ++j) index[j] = j;
  sort_with_index(w.get(), index, u.get(), 27, 18);
  for (int j = 2; j <= 18; ++j) EXPECT_GE(w[j - 1], w[j]);
  EXPECT_LT(w[16], 1e-12 * w[1]);
  // index[] names the column of V that belongs to each sorted value.
  Matrix vs(18, 18);
  for (int j = 1; j <= 18; ++j)
    for (int k = 1; k <= 18; ++k) vs[k][j] = v[k][index[j]];
  EXPECT_LT(reconstruction_error(u, w, vs, e), 1e-13);
}

TEST(Svd, RandomMatricesReconstruct) {
  std::mt19937_64 rng(numtest::test_seed("RandomMatrices", 4242));
  for (int trial = 0; trial < 200; ++trial) {
    const int n = numtest::uniform_int(rng, 1, 12);
    const int m = n + numtest::uniform_int(rng, 0, 10);
    const double magnitude = std::pow(10.0, numtest::uniform_int(rng, -8, 8));
    Matrix a(m, n);
    for (int i = 1; i <= m; ++i)
      for (int j = 1; j <= n; ++j)
        a[i][j] = trial % 4 == 0 && numtest::uniform(rng, 0, 1) < 0.5
                      ? 0.0
                      : magnitude * numtest::uniform(rng, -1.0, 1.0);
    SCOPED_TRACE(trial);
    check_decomposition(a, 1e-13, 0.0);
  }
}

TEST(Svd, LargeMatrixUsesHeapWorkVectors) {
  std::mt19937_64 rng(numtest::test_seed("LargeMatrix", 7));
  Matrix a(45, 40);
  for (int i = 1; i <= 45; ++i)
    for (int j = 1; j <= 40; ++j) a[i][j] = numtest::uniform(rng, -1.0, 1.0);
  check_decomposition(a, 1e-12, 0.0);
}

}  // namespace
