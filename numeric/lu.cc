// LU decomposition by Crout's method with implicit partial pivoting, the
// matching forward and back substitution, and the inverse built from them.
#include <cmath>

#include "numeric.h"
#include "work_array.h"

namespace {
// Stands in for an exactly zero pivot so that a singular matrix still
// decomposes (the caller gets huge but finite entries instead of a crash).
constexpr double kTinyPivot = 1.0e-20;
}  // namespace

Status ludcmp(double **a, int n, int *pivots, double *parity, const char **message) {
  WorkArray<double> scaling(n);  // 1 / largest magnitude of each row
  *parity = 1.0;
  for (int i = 1; i <= n; ++i) {
    double big = 0.0;
    for (int j = 1; j <= n; ++j) {
      const double size = std::fabs(a[i][j]);
      if (size > big) big = size;
    }
    if (big == 0.0) {
      if (message != nullptr) *message = "Singular matrix in routine LUDCMP";
      return Status::numeric_failure;
    }
    scaling[i] = 1.0 / big;
  }

  for (int j = 1; j <= n; ++j) {
    // Upper factor above the diagonal.
    for (int i = 1; i <= j - 1; ++i) {
      double sum = a[i][j];
      for (int k = 1; k <= i - 1; ++k) sum -= a[i][k] * a[k][j];
      a[i][j] = sum;
    }
    // Diagonal and below, choosing the pivot with the largest scaled
    // magnitude (a later row wins a tie). The pivot starts at row j, which
    // the first comparison picks anyway for finite entries; with NaN in the
    // column no comparison succeeds and row j is kept.
    double big = 0.0;
    int pivot = j;
    for (int i = j; i <= n; ++i) {
      double sum = a[i][j];
      for (int k = 1; k <= j - 1; ++k) sum -= a[i][k] * a[k][j];
      a[i][j] = sum;
      const double merit = scaling[i] * std::fabs(sum);
      if (merit >= big) {
        big = merit;
        pivot = i;
      }
    }
    if (pivot != j) {
      for (int k = 1; k <= n; ++k) {
        const double t = a[pivot][k];
        a[pivot][k] = a[j][k];
        a[j][k] = t;
      }
      *parity = -*parity;
      scaling[pivot] = scaling[j];
    }
    pivots[j] = pivot;
    if (a[j][j] == 0.0) a[j][j] = kTinyPivot;
    if (j != n)
      for (int i = j + 1; i <= n; ++i) a[i][j] /= a[j][j];
  }
  return Status::ok;
}

void lu_backsub(double **lu, int n, const int *pivots, double *b) {
  // Forward substitution, undoing the row permutation as it goes; the sum
  // starts only at the first non-zero entry of b.
  int first_nonzero = 0;
  for (int i = 1; i <= n; ++i) {
    const int p = pivots[i];
    double sum = b[p];
    b[p] = b[i];
    if (first_nonzero != 0) {
      for (int j = first_nonzero; j <= i - 1; ++j) sum -= lu[i][j] * b[j];
    } else if (sum != 0.0) {
      first_nonzero = i;
    }
    b[i] = sum;
  }
  // Back substitution.
  for (int i = n; i >= 1; --i) {
    double sum = b[i];
    for (int j = i + 1; j <= n; ++j) sum -= lu[i][j] * b[j];
    b[i] = sum / lu[i][i];
  }
}

Status lu_invert(double **a, double **y, int n, const char **message) {
  WorkArray<int> pivots(n);
  WorkArray<double> column(n);
  double parity;
  const Status status = ludcmp(a, n, pivots.get(), &parity, message);
  if (status != Status::ok) return status;
  for (int j = 1; j <= n; ++j) {
    for (int i = 1; i <= n; ++i) column[i] = 0.0;
    column[j] = 1.0;
    lu_backsub(a, n, pivots.get(), column.get());
    for (int i = 1; i <= n; ++i) y[i][j] = column[i];
  }
  return Status::ok;
}
