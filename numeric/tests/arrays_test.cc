// Unit-offset arrays, refused allocations and the note sink.
#include <sys/resource.h>

#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "numeric.h"
#include "numeric_note.h"
#include "test_support.h"

#if defined(__SANITIZE_ADDRESS__)
#define NUMERIC_TEST_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define NUMERIC_TEST_UNDER_ASAN 1
#endif
#endif

namespace {

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
}

TEST(Arrays, MatrixRowsAreSeparateAndAddressedFromTheirBounds) {
  double **m = matrix(1, 27, 1, 18);
  for (int i = 1; i <= 27; ++i)
    for (int j = 1; j <= 18; ++j) m[i][j] = 100 * i + j;
  for (int i = 1; i <= 27; ++i)
    for (int j = 1; j <= 18; ++j) ASSERT_EQ(m[i][j], 100 * i + j);
  EXPECT_EQ(m[27][18], 2718.0);
  release_matrix(m, 1, 27, 1, 18);
}

// Lines reported during a computation reach the innermost scope's sink of
// the calling thread and nothing else; the end of a scope restores the outer
// one, and without a scope the lines are dropped.
TEST(NumericNote, InnermostScopeReceivesTheLines) {
  std::string outer, inner;
  const NumericNoteSink append = [](void *context, const char *line) {
    *static_cast<std::string *>(context) += line;
  };
  numeric_note("dropped\n");
  {
    NumericNoteScope a(append, &outer);
    numeric_note("one\n");
    {
      NumericNoteScope b(append, &inner);
      numeric_note("two\n");
    }
    numeric_note("three\n");
  }
  numeric_note("dropped again\n");
  EXPECT_EQ(outer, "one\nthree\n");
  EXPECT_EQ(inner, "two\n");
}

// A refused allocation returns nullptr (no message, no exit); a matrix
// whose later row is refused releases what it had.
TEST(Arrays, RefusedAllocationsReturnNull) {
#ifdef NUMERIC_TEST_UNDER_ASAN
  GTEST_SKIP() << "AddressSanitizer reserves address space; an address-space limit breaks it";
#else
  // Cap the child's address space just above what it uses, then ask for more.
  const numtest::ChildResult r = numtest::run_in_child([] {
    struct rlimit limit;
    limit.rlim_cur = limit.rlim_max = 1ul << 30;  // 1 GiB
    setrlimit(RLIMIT_AS, &limit);
    const int huge = 1 << 28;  // 2 GiB of doubles
    std::printf("%d %d %d\n", vector(1, huge) == nullptr, ivector(1, 2 * huge) == nullptr,
                matrix(1, 3, 1, huge) == nullptr);
    double **small = matrix(1, 3, 1, 3);
    std::printf("%d\n", small != nullptr);
    release_matrix(small, 1, 3, 1, 3);
  });
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "1 1 1\n1\n");
  EXPECT_EQ(r.err, "");
#endif
}

}  // namespace
