// Small unit-offset matrix helpers.
#include <cmath>

#include "numeric.h"

void matrix_product(const double *const *a, const double *const *b, double **c, int r, int n,
                    int c_cols) {
  for (int i = 1; i <= r; ++i)
    for (int j = 1; j <= c_cols; ++j) {
      c[i][j] = 0.0;
      for (int k = 1; k <= n; ++k) c[i][j] += a[i][k] * b[k][j];
    }
}

void matrix_copy(const double *const *a, double **b, int r, int c) {
  for (int i = 1; i <= r; ++i)
    for (int j = 1; j <= c; ++j) b[i][j] = a[i][j];
}

void matrix_vector_product(const double *const *a, const double *x, double *y, int r, int n) {
  for (int i = 1; i <= r; ++i) {
    y[i] = 0.0;
    for (int j = 1; j <= n; ++j) y[i] += a[i][j] * x[j];
  }
}

double abs_sum(const double *v, int n) {
  double sum = 0.0;
  for (int i = 1; i <= n; ++i) sum += std::fabs(v[i]);
  return sum;
}

int index_of_min(const double *v, int n) {
  int best = 1;
  for (int i = 2; i <= n; ++i)
    if (v[i] < v[best]) best = i;
  return best;
}
