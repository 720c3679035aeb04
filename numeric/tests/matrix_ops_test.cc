// The small unit-offset matrix helpers.
#include <gtest/gtest.h>

#include "fixed_arrays.h"
#include "numeric.h"

namespace {

TEST(MatrixHelpers, ProductCopyVectorProductAbsSum) {
  FixedMatrix<2, 3> a;
  FixedMatrix<3, 2> b;
  FixedMatrix<2, 2> c;
  const double av[2][3] = {{1, 2, 3}, {4, 5, 6}};
  const double bv[3][2] = {{7, 8}, {9, 10}, {11, 12}};
  for (int i = 1; i <= 2; ++i)
    for (int j = 1; j <= 3; ++j) {
      a[i][j] = av[i - 1][j - 1];
      b[j][i] = bv[j - 1][i - 1];
    }
  c[1][1] = 1e300;  // must be overwritten, not accumulated into
  matrix_product(a.get(), b.get(), c.get(), 2, 3, 2);
  EXPECT_EQ(c[1][1], 58.0);
  EXPECT_EQ(c[1][2], 64.0);
  EXPECT_EQ(c[2][1], 139.0);
  EXPECT_EQ(c[2][2], 154.0);

  FixedMatrix<2, 3> copy;
  matrix_copy(a.get(), copy.get(), 2, 3);
  for (int i = 1; i <= 2; ++i)
    for (int j = 1; j <= 3; ++j) EXPECT_EQ(copy[i][j], a[i][j]);

  FixedVector<3> x;
  FixedVector<2> y;
  x[1] = 1, x[2] = -1, x[3] = 2;
  y[1] = 1e300;
  matrix_vector_product(a.get(), x.get(), y.get(), 2, 3);
  EXPECT_EQ(y[1], 5.0);
  EXPECT_EQ(y[2], 11.0);
  EXPECT_EQ(abs_sum(x.get(), 3), 4.0);
}

TEST(IndexOfMin, FirstOfEqualMinimaWins) {
  const double v[4] = {0.0, 2.0, 1.0, 1.0};  // v[1..3] = (2, 1, 1)
  EXPECT_EQ(index_of_min(v, 3), 2);
  const double w[4] = {-9.0, 3.0, 3.0, 3.0};
  EXPECT_EQ(index_of_min(w, 3), 1);
  const double z[4] = {0.0, 3.0, 4.0, -1.0};
  EXPECT_EQ(index_of_min(z, 3), 3);
}

}  // namespace
