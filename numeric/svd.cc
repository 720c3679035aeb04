// Singular value decomposition (Golub-Reinsch: Householder reduction to
// bidiagonal form, then implicit-shift QR on the bidiagonal) and the
// least-squares back substitution that uses it.
#include <cmath>

#include "numeric.h"
#include "numeric_note.h"
#include "work_array.h"

namespace {

// sqrt(a^2 + b^2) without overflow or destructive underflow.
double hypotenuse(double a, double b) {
  const double p = std::fabs(a);
  const double q = std::fabs(b);
  if (p > q) {
    const double ratio = q / p;
    return p * std::sqrt(1.0 + ratio * ratio);
  }
  if (q != 0.0) {
    const double ratio = p / q;
    return q * std::sqrt(1.0 + ratio * ratio);
  }
  return 0.0;
}

// |a| carrying the sign of b (b = 0 counts as positive).
double with_sign(double a, double b) { return b >= 0.0 ? std::fabs(a) : -std::fabs(a); }

// Is v negligible against the norm of the bidiagonal form?
bool negligible(double v, double anorm) { return std::fabs(v) + anorm == anorm; }

// Applies the plane rotation (c, s) to columns j and i of m, rows 1..rows.
void rotate_columns(double **m, int rows, int j, int i, double c, double s) {
  for (int row = 1; row <= rows; ++row) {
    const double x = m[row][j];
    const double z = m[row][i];
    m[row][j] = x * c + z * s;
    m[row][i] = z * c - x * s;
  }
}

}  // namespace

// The running maximum and the operands of the hypotenuse are ordinary locals
// here (no scratch values at file level), so the routine is reentrant; the
// arithmetic is the same.
Status svdcmp(double **a, int m, int n, double *w, double **v, const char **message) {
  if (m < n) {
    if (message != nullptr) *message = "SVDCMP: You must augment A with extra zero rows";
    return Status::numeric_failure;
  }

  WorkArray<double> r(n);  // superdiagonal of the bidiagonal form
  double g = 0.0, scale = 0.0, anorm = 0.0;
  double s = 0.0, f = 0.0, h = 0.0;
  int l = 1;

  // Householder reduction to bidiagonal form: column i is cleared below the
  // diagonal, row i right of the superdiagonal.
  for (int i = 1; i <= n; ++i) {
    l = i + 1;
    r[i] = scale * g;
    g = s = scale = 0.0;
    if (i <= m) {
      for (int k = i; k <= m; ++k) scale += std::fabs(a[k][i]);
      if (scale != 0.0) {
        for (int k = i; k <= m; ++k) {
          a[k][i] /= scale;
          s += a[k][i] * a[k][i];
        }
        f = a[i][i];
        g = -with_sign(std::sqrt(s), f);
        h = f * g - s;
        a[i][i] = f - g;
        if (i != n) {
          for (int j = l; j <= n; ++j) {
            s = 0.0;
            for (int k = i; k <= m; ++k) s += a[k][i] * a[k][j];
            f = s / h;
            for (int k = i; k <= m; ++k) a[k][j] += f * a[k][i];
          }
        }
        for (int k = i; k <= m; ++k) a[k][i] *= scale;
      }
    }
    w[i] = scale * g;
    g = s = scale = 0.0;
    if (i <= m && i != n) {
      for (int k = l; k <= n; ++k) scale += std::fabs(a[i][k]);
      if (scale != 0.0) {
        for (int k = l; k <= n; ++k) {
          a[i][k] /= scale;
          s += a[i][k] * a[i][k];
        }
        f = a[i][l];
        g = -with_sign(std::sqrt(s), f);
        h = f * g - s;
        a[i][l] = f - g;
        for (int k = l; k <= n; ++k) r[k] = a[i][k] / h;
        if (i != m) {
          for (int j = l; j <= m; ++j) {
            s = 0.0;
            for (int k = l; k <= n; ++k) s += a[j][k] * a[i][k];
            for (int k = l; k <= n; ++k) a[j][k] += s * r[k];
          }
        }
        for (int k = l; k <= n; ++k) a[i][k] *= scale;
      }
    }
    const double size = std::fabs(w[i]) + std::fabs(r[i]);
    if (size > anorm) anorm = size;
  }

  // Accumulate the right-hand transformations into V.
  for (int i = n; i >= 1; --i) {
    if (i < n) {
      if (g != 0.0) {
        // Two divisions in this order avoid a possible underflow.
        for (int j = l; j <= n; ++j) v[j][i] = (a[i][j] / a[i][l]) / g;
        for (int j = l; j <= n; ++j) {
          s = 0.0;
          for (int k = l; k <= n; ++k) s += a[i][k] * v[k][j];
          for (int k = l; k <= n; ++k) v[k][j] += s * v[k][i];
        }
      }
      for (int j = l; j <= n; ++j) v[i][j] = v[j][i] = 0.0;
    }
    v[i][i] = 1.0;
    g = r[i];
    l = i;
  }

  // Accumulate the left-hand transformations into A, which becomes U.
  for (int i = n; i >= 1; --i) {
    l = i + 1;
    g = w[i];
    if (i < n)
      for (int j = l; j <= n; ++j) a[i][j] = 0.0;
    if (g != 0.0) {
      g = 1.0 / g;
      if (i != n) {
        for (int j = l; j <= n; ++j) {
          s = 0.0;
          for (int k = l; k <= m; ++k) s += a[k][i] * a[k][j];
          f = (s / a[i][i]) * g;
          for (int k = i; k <= m; ++k) a[k][j] += f * a[k][i];
        }
      }
      for (int j = i; j <= m; ++j) a[j][i] *= g;
    } else {
      for (int j = i; j <= m; ++j) a[j][i] = 0.0;
    }
    a[i][i] += 1.0;
  }

  // Diagonalise the bidiagonal form, one singular value at a time from the
  // bottom.
  for (int k = n; k >= 1; --k) {
    for (int its = 1; its <= 30; ++its) {
      // Look for a negligible superdiagonal entry r[l] (the matrix splits
      // there) or a negligible diagonal entry w[l-1] (cancel r[l] first).
      // r[1] is always 0, so l = 1 ends the search without cancellation;
      // stopping there explicitly also keeps w[0] out of reach when the
      // input holds NaN and no comparison succeeds.
      bool cancel = false;
      for (l = k; l > 1; --l) {
        if (negligible(r[l], anorm)) break;
        if (negligible(w[l - 1], anorm)) {
          cancel = true;
          break;
        }
      }
      if (cancel) {
        // Chase r[l] out with rotations against w[l-1]. Each rotation
        // leaves c·r[i] behind in r[i]; once f is negligible the remaining
        // entries are untouched, so the sweep ends there.
        const int nm = l - 1;
        double c = 0.0;
        s = 1.0;
        for (int i = l; i <= k; ++i) {
          f = s * r[i];
          r[i] = c * r[i];
          if (negligible(f, anorm)) break;
          g = w[i];
          h = hypotenuse(f, g);
          w[i] = h;
          h = 1.0 / h;
          c = g * h;
          s = -f * h;
          rotate_columns(a, m, nm, i, c, s);
        }
      }
      double z = w[k];
      if (l == k) {
        // Converged: make the singular value non-negative.
        if (z < 0.0) {
          w[k] = -z;
          for (int j = 1; j <= n; ++j) v[j][k] = -v[j][k];
        }
        break;
      }
      if (its == 30) {
        numeric_note("Failed SVD\n");
        if (message != nullptr) *message = "Failed SVD";
        return Status::numeric_failure;
      }
      // Shift from the bottom 2 x 2 minor.
      double x = w[l];
      const int nm = k - 1;
      double y = w[nm];
      g = r[nm];
      h = r[k];
      f = ((y - z) * (y + z) + (g - h) * (g + h)) / (2.0 * h * y);
      g = hypotenuse(f, 1.0);
      f = ((x - z) * (x + z) + h * ((y / (f + with_sign(g, f))) - h)) / x;
      // Next QR transformation.
      double c = 1.0;
      s = 1.0;
      for (int j = l; j <= nm; ++j) {
        const int i = j + 1;
        g = r[i];
        y = w[i];
        h = s * g;
        g = c * g;
        z = hypotenuse(f, h);
        r[j] = z;
        c = f / z;
        s = h / z;
        f = x * c + g * s;
        g = g * c - x * s;
        h = y * s;
        y = y * c;
        rotate_columns(v, n, j, i, c, s);
        z = hypotenuse(f, h);
        w[j] = z;
        if (z != 0.0) {
          z = 1.0 / z;
          c = f * z;
          s = h * z;
        }
        f = c * g + s * y;
        x = c * y - s * g;
        rotate_columns(a, m, j, i, c, s);
      }
      r[l] = 0.0;
      r[k] = f;
      w[k] = x;
    }
  }
  return Status::ok;
}
