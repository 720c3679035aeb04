// Unit-offset arrays, views and the fatal run-time error.
#include <sys/resource.h>

#include <stdexcept>
#include <string>

#include <gtest/gtest.h>

#include "numeric.h"
#include "test_support.h"

#if defined(__SANITIZE_ADDRESS__)
#define NUMERIC_TEST_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define NUMERIC_TEST_UNDER_ASAN 1
#endif
#endif

namespace {

const char kErrorFirst[] = "Numerical Recipes run-time error...\n";
const char kErrorLast[] = "...now exiting to system...\n";

std::string fatal_text(const std::string &message) {
  return kErrorFirst + message + "\n" + kErrorLast;
}

TEST(Arrays, VectorsHoldExactlyTheirRange) {
  // Out-of-range writes would be reported by AddressSanitizer.
  double *v = vector(1, 3);
  v[1] = 1.5;
  v[2] = 2.5;
  v[3] = 3.5;
  EXPECT_EQ(v[1] + v[2] + v[3], 7.5);
  release_vector(v, 1, 3);

  int *iv = ivector(-3, -1);
  for (int i = -3; i <= -1; ++i) iv[i] = 10 * i;
  EXPECT_EQ(iv[-3], -30);
  EXPECT_EQ(iv[-1], -10);
  release_ivector(iv, -3, -1);

  double *dv = dvector(5, 9);
  for (int i = 5; i <= 9; ++i) dv[i] = i;
  EXPECT_EQ(dv[9], 9.0);
  release_dvector(dv, 5, 9);
}

TEST(Arrays, MatrixRowsAreSeparateAndAddressedFromTheirBounds) {
  double **m = matrix(1, 27, 1, 18);
  for (int i = 1; i <= 27; ++i)
    for (int j = 1; j <= 18; ++j) m[i][j] = 100 * i + j;
  for (int i = 1; i <= 27; ++i)
    for (int j = 1; j <= 18; ++j) ASSERT_EQ(m[i][j], 100 * i + j);
  EXPECT_EQ(m[27][18], 2718.0);
  release_matrix(m, 1, 27, 1, 18);

  double **odd = dmatrix(0, 2, 5, 7);
  for (int i = 0; i <= 2; ++i)
    for (int j = 5; j <= 7; ++j) odd[i][j] = 10 * i + j;
  EXPECT_EQ(odd[0][5], 5.0);
  EXPECT_EQ(odd[2][7], 27.0);
  release_dmatrix(odd, 0, 2, 5, 7);

  int **im = imatrix(-2, 0, -5, -3);
  for (int i = -2; i <= 0; ++i)
    for (int j = -5; j <= -3; ++j) im[i][j] = 10 * i + j;
  EXPECT_EQ(im[-2][-5], -25);
  EXPECT_EQ(im[0][-3], -3);
  release_imatrix(im, -2, 0, -5, -3);
}

TEST(Arrays, SubmatrixSharesElements) {
  double **a = matrix(1, 4, 1, 4);
  for (int i = 1; i <= 4; ++i)
    for (int j = 1; j <= 4; ++j) a[i][j] = 10 * i + j;
  // Rows 2..3, columns 3..4 of a, addressed as [1..2][1..2].
  double **b = submatrix(a, 2, 3, 3, 4, 1, 1);
  EXPECT_EQ(b[1][1], 23.0);
  EXPECT_EQ(b[1][2], 24.0);
  EXPECT_EQ(b[2][1], 33.0);
  b[2][2] = -1.0;
  EXPECT_EQ(a[3][4], -1.0);
  release_submatrix(b, 1, 2, 1, 2);
  // A view whose numbering lies far beyond the shared rows and columns.
  double **c = submatrix(a, 1, 2, 1, 2, 10, 20);
  EXPECT_EQ(c[10][20], 11.0);
  EXPECT_EQ(c[11][21], 22.0);
  release_submatrix(c, 10, 11, 20, 21);
  EXPECT_EQ(a[4][4], 44.0);
  release_matrix(a, 1, 4, 1, 4);
}

TEST(Arrays, ConvertMatrixViewsAFlatArrayRowByRow) {
  double flat[6] = {1, 2, 3, 4, 5, 6};
  double **m = convert_matrix(flat, 1, 2, 1, 3);
  EXPECT_EQ(m[1][1], 1.0);
  EXPECT_EQ(m[1][3], 3.0);
  EXPECT_EQ(m[2][1], 4.0);
  EXPECT_EQ(m[2][3], 6.0);
  m[2][2] = 50.0;
  EXPECT_EQ(flat[4], 50.0);
  release_convert_matrix(m, 1, 2, 1, 3);
  EXPECT_EQ(flat[5], 6.0);

  double **z = convert_matrix(flat, 0, 1, 0, 2);
  EXPECT_EQ(z[0][0], 1.0);
  EXPECT_EQ(z[1][0], 4.0);
  release_convert_matrix(z, 0, 1, 0, 2);
}

TEST(NumericError, WritesThreeLinesAndExitsWithOne) {
  const numtest::ChildResult r = numtest::run_in_child([] { numeric_error("some message"); });
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, fatal_text("some message"));
  EXPECT_EQ(r.out, "");
}

TEST(NumericError, InstalledHandlerTakesOverAfterTheMessage) {
  const numtest::ChildResult r = numtest::run_in_child([] {
    set_numeric_error_handler([](const char *message) { throw std::runtime_error(message); });
    try {
      numeric_error("intercepted");
    } catch (const std::runtime_error &e) {
      std::printf("caught %s\n", e.what());
    }
    // Restoring the default exits again.
    set_numeric_error_handler(nullptr);
    numeric_error("second");
  });
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "caught intercepted\n");
  EXPECT_EQ(r.err, fatal_text("intercepted") + fatal_text("second"));
}

TEST(NumericError, RefusedAllocationsEndTheProcessWithTheirMessage) {
#ifdef NUMERIC_TEST_UNDER_ASAN
  GTEST_SKIP() << "AddressSanitizer reserves address space; an address-space limit breaks it";
#else
  // Cap the child's address space just above what it uses, then ask for more.
  auto limited = [](const std::function<void()> &body) {
    return numtest::run_in_child([&body] {
      struct rlimit limit;
      limit.rlim_cur = limit.rlim_max = 1ul << 30;  // 1 GiB
      setrlimit(RLIMIT_AS, &limit);
      body();
    });
  };
  const int huge = 1 << 28;  // 2 GiB of doubles
  numtest::ChildResult r = limited([huge] { vector(1, huge); });
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, fatal_text("allocation failure in vector()"));
  r = limited([huge] { ivector(1, 2 * huge); });
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, fatal_text("allocation failure in ivector()"));
  r = limited([huge] { matrix(1, 3, 1, huge); });
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, fatal_text("allocation failure 2 in matrix()"));
  r = limited([huge] { dmatrix(1, huge, 1, 3); });
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, fatal_text("allocation failure 1 in dmatrix()"));
  r = limited([huge] { imatrix(1, 2, 1, 2 * huge); });
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, fatal_text("allocation failure 2 in imatrix()"));
#endif
}

}  // namespace
