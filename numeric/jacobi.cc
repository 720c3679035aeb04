// Cyclic Jacobi eigen-decomposition of a symmetric matrix, and the
// descending selection sorts that order eigenvalues (or singular values)
// together with their vectors.
#include <cmath>

#include "numeric.h"
#include "jacobi_body.h"
#include "numeric_note.h"
#include "work_array.h"

int jacobi(double **a, int n, double *d, double **v, int *count) {
  WorkArray<double> b(n);
  WorkArray<double> z(n);
  return jacobi_detail::jacobi_iterate(a, n, d, v, count, b.get(), z.get());
}

void sort_eigen(double *d, double **v, int n) { jacobi_detail::sort_descending(d, v, n); }

void sort_with_index(double *d, int *index, double **m, int rows, int n) {
  for (int i = 1; i <= n - 1; ++i) {
    const int k = jacobi_detail::largest_from(d, i, n);
    if (k != i) {
      jacobi_detail::swap_values(d, i, k);
      const int t = index[i];
      index[i] = index[k];
      index[k] = t;
      jacobi_detail::swap_columns(m, rows, i, k);
    }
  }
}
