// The cyclic Jacobi iteration and the descending selection sort, written
// once for any matrix that indexes as m[row][column] (1-based): the
// general routines of numeric.h run it on double** arrays of run-time size,
// the 3 x 3 routines on plain stack arrays of compile-time size, which lets
// the compiler keep the matrix in registers. Both perform the same
// operations in the same order, so their results are identical to the bit.
#pragma once

#include <cmath>
#include <type_traits>

#include "numeric_note.h"

namespace jacobi_detail {

// The rotation applied to every pair of entries that the annihilation of
// A[p][q] touches.
inline void rotate(double &g_ref, double &h_ref, double s, double tau) {
  const double g = g_ref;
  const double h = h_ref;
  g_ref = g - s * (h + g * tau);
  h_ref = h + s * (g - h * tau);
}

// The iteration on L independent matrices of the same size in lockstep:
// lane l runs exactly the operations the iteration runs on its matrix alone
// (the lanes only share the loop), so its results are the same to the bit,
// while the processor overlaps the lanes' chains of divisions and square
// roots. b[l] and z[l]: work vectors of n + 1 entries (eigenvalues at the
// start of the sweep and their change during it). ok[l] receives the status
// of lane l; a lane that does not converge notes "Failed Jacobi\n" once, in
// lane order, after the last sweep.
template <int L, typename Matrix, typename Size>
void jacobi_lanes(Matrix *a, Size n, double **d, Matrix *v, int *count, double **b, double **z,
                  int *ok) {
  bool active[L];
  for (int l = 0; l < L; ++l) {
    for (int p = 1; p <= n; ++p) {
      for (int q = 1; q <= n; ++q) v[l][p][q] = 0.0;
      v[l][p][p] = 1.0;
    }
    for (int p = 1; p <= n; ++p) {
      b[l][p] = d[l][p] = a[l][p][p];
      z[l][p] = 0.0;
    }
    count[l] = 0;
    ok[l] = 0;
    active[l] = true;
  }

  for (int sweep = 1; sweep <= 50; ++sweep) {
    double tresh[L];
    int running = 0;
    for (int l = 0; l < L; ++l) {
      if (!active[l]) continue;
      double sm = 0.0;
      for (int p = 1; p <= n - 1; ++p)
        for (int q = p + 1; q <= n; ++q) sm += std::fabs(a[l][p][q]);
      // Off-diagonal part gone: converged. (Exact zero is reached because
      // negligible entries are set to 0 from the fifth sweep on.)
      if (sm == 0.0) {
        ok[l] = 1;
        active[l] = false;
        continue;
      }
      ++running;
      // The first three sweeps rotate only entries above a threshold.
      tresh[l] = sweep < 4 ? 0.2 * sm / static_cast<double>(n * n) : 0.0;
    }
    if (running == 0) return;

    for (int p = 1; p <= n - 1; ++p) {
      for (int q = p + 1; q <= n; ++q) {
        for (int l = 0; l < L; ++l) {
          if (!active[l]) continue;
          Matrix al = a[l];
          Matrix vl = v[l];
          double *dl = d[l];
          const double g = 100.0 * std::fabs(al[p][q]);
          if (sweep > 4 && std::fabs(dl[p]) + g == std::fabs(dl[p]) &&
              std::fabs(dl[q]) + g == std::fabs(dl[q])) {
            // Too small to change either eigenvalue: drop it.
            al[p][q] = 0.0;
          } else if (std::fabs(al[p][q]) > tresh[l]) {
            double h = dl[q] - dl[p];
            double t;
            if (std::fabs(h) + g == std::fabs(h)) {
              // Angle so small that t = 1/(2 theta) is exact enough (and
              // theta^2 would overflow).
              t = al[p][q] / h;
            } else {
              const double theta = 0.5 * h / al[p][q];
              t = 1.0 / (std::fabs(theta) + std::sqrt(1.0 + theta * theta));
              if (theta < 0.0) t = -t;
            }
            const double c = 1.0 / std::sqrt(1.0 + t * t);
            const double s = t * c;
            const double tau = s / (1.0 + c);
            h = t * al[p][q];
            z[l][p] -= h;
            z[l][q] += h;
            dl[p] -= h;
            dl[q] += h;
            al[p][q] = 0.0;
            for (int j = 1; j <= p - 1; ++j) rotate(al[j][p], al[j][q], s, tau);
            for (int j = p + 1; j <= q - 1; ++j) rotate(al[p][j], al[j][q], s, tau);
            for (int j = q + 1; j <= n; ++j) rotate(al[p][j], al[q][j], s, tau);
            for (int j = 1; j <= n; ++j) rotate(vl[j][p], vl[j][q], s, tau);
            ++count[l];
          }
        }
      }
    }
    // Fold the sweep's changes into the eigenvalues in one step, which
    // keeps rounding from accumulating in d.
    for (int l = 0; l < L; ++l) {
      if (!active[l]) continue;
      for (int p = 1; p <= n; ++p) {
        b[l][p] += z[l][p];
        d[l][p] = b[l][p];
        z[l][p] = 0.0;
      }
    }
  }
  for (int l = 0; l < L; ++l)
    if (active[l]) numeric_note("Failed Jacobi\n");
}

// One matrix: returns 1, or 0 after the note.
template <typename Matrix, typename Size>
int jacobi_iterate(Matrix a, Size n, double *d, Matrix v, int *count, double *b, double *z) {
  int ok = 0;
  jacobi_lanes<1>(&a, n, &d, &v, count, &b, &z, &ok);
  return ok;
}

// Position of the largest of d[i..n]; among equal values the last one wins.
template <typename Size>
int largest_from(const double *d, int i, Size n) {
  int k = i;
  double p = d[i];
  for (int j = i + 1; j <= n; ++j) {
    if (d[j] >= p) {
      k = j;
      p = d[j];
    }
  }
  return k;
}

inline void swap_values(double *d, int i, int k) {
  const double t = d[i];
  d[i] = d[k];
  d[k] = t;
}

template <typename Matrix, typename Size>
void swap_columns(Matrix m, Size rows, int i, int k) {
  for (int row = 1; row <= rows; ++row) {
    const double t = m[row][i];
    m[row][i] = m[row][k];
    m[row][k] = t;
  }
}

template <typename Matrix, typename Size>
void sort_descending(double *d, Matrix v, Size n) {
  for (int i = 1; i <= n - 1; ++i) {
    const int k = largest_from(d, i, n);
    if (k != i) {
      swap_values(d, i, k);
      swap_columns(v, n, i, k);
    }
  }
}

}  // namespace jacobi_detail

// jacobi and sort_eigen of numeric.h for 3 x 3 matrices on plain arrays
// indexed 1..3 (row and column 0 unused), inline for the point transfers,
// which run them once per triplet and sample: the same results to the bit.
inline int jacobi3(double a[4][4], double d[4], double v[4][4], int *count) {
  double b[4], z[4];
  return jacobi_detail::jacobi_iterate(a, std::integral_constant<int, 3>(), d, v, count, b, z);
}

inline void sort_eigen3(double d[4], double v[4][4]) {
  jacobi_detail::sort_descending(d, v, std::integral_constant<int, 3>());
}
