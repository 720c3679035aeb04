// The sampler's six-point solver. The first four triplets map to the
// canonical basis of each image; the fifth and sixth give one row per view
// of a 3x5 linear system whose two-dimensional null space, cut by a cubic,
// fixes the sixth space point; each view's reduced camera is the null
// vector of a rank-3 4x4 system. Everything is of fixed size, on the stack.
#include "minimal.h"

#include <cmath>

#include "six_point.h"
#include "trifocal.h"

namespace {

// The null space of the 3x5 system is two-dimensional only when its third
// singular value squared exceeds this (the rejection of the faithful
// computation, there on the third eigenvalue of the 5x5 normal matrix).
constexpr double kNullSpaceTolerance = 0.0001;

// One image's canonical frame: from maps (1,0,0), (0,1,0), (0,0,1) to
// multiples of the first three positions and (1,1,1) to the fourth; to is
// its inverse. q5, q6 are the fifth and sixth positions in that frame.
struct Frame {
  double from[3][3];
  double to[3][3];
  double q5[3], q6[3];
};

void cross(const double a[3], const double b[3], double out[3]) {
  out[0] = a[1] * b[2] - a[2] * b[1];
  out[1] = a[2] * b[0] - a[0] * b[2];
  out[2] = a[0] * b[1] - a[1] * b[0];
}

double dot3(const double a[3], const double b[3]) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }

void apply(const double m[3][3], const double p[3], double out[3]) {
  for (int r = 0; r < 3; ++r) out[r] = m[r][0] * p[0] + m[r][1] * p[1] + m[r][2] * p[2];
}

// K has the columns p1, p2, p3; the rows of adj(K) are p2 x p3, p3 x p1,
// p1 x p2. With nu = adj(K) p4 = det(K) mu: from = K diag(mu) and
// to = diag(1/nu) adj(K), its exact inverse.
void make_frame(const MatchPoint *const pts[6], Frame *f) {
  double p[6][3];
  for (int i = 0; i < 6; ++i) p[i][0] = pts[i]->x, p[i][1] = pts[i]->y, p[i][2] = 1.0;
  double adj[3][3];
  cross(p[1], p[2], adj[0]);
  cross(p[2], p[0], adj[1]);
  cross(p[0], p[1], adj[2]);
  const double det = dot3(p[0], adj[0]);
  double nu[3];
  apply(adj, p[3], nu);
  for (int c = 0; c < 3; ++c) {
    const double mu = nu[c] / det;
    for (int r = 0; r < 3; ++r) f->from[r][c] = mu * p[c][r];
    for (int k = 0; k < 3; ++k) f->to[c][k] = adj[c][k] / nu[c];
  }
  apply(f->to, p[4], f->q5);
  apply(f->to, p[5], f->q6);
}

// F(t) = t0 t1 t4 + t1 t2 t3 + t2 t3 t4 - t0 t2 t3 - t1 t2 t4 - t1 t3 t4, the
// cubic constraint on the null-space coordinates.
struct Term {
  int p, q, r;
  double sign;
};
constexpr Term kTerms[6] = {{0, 1, 4, 1.0},  {1, 2, 3, 1.0},  {2, 3, 4, 1.0},
                            {0, 2, 3, -1.0}, {1, 2, 4, -1.0}, {1, 3, 4, -1.0}};

// Coefficients of F(g + lambda h) = c[3] lambda^3 + ... + c[0].
void cubic_coefficients(const double g[5], const double h[5], double c[4]) {
  c[0] = c[1] = c[2] = c[3] = 0.0;
  for (const Term &t : kTerms) {
    c[3] += t.sign * h[t.p] * h[t.q] * h[t.r];
    c[2] += t.sign * (g[t.p] * h[t.q] * h[t.r] + h[t.p] * g[t.q] * h[t.r] + h[t.p] * h[t.q] * g[t.r]);
    c[1] += t.sign * (h[t.p] * g[t.q] * g[t.r] + g[t.p] * h[t.q] * g[t.r] + g[t.p] * g[t.q] * h[t.r]);
    c[0] += t.sign * g[t.p] * g[t.q] * g[t.r];
  }
}

// Whether the symmetric 3x3 matrix a minus tau I is positive definite
// (its LDL^T pivots are positive), i.e. the smallest eigenvalue of a
// exceeds tau. NaN fails.
bool exceeds(const double a[3][3], double tau) {
  const double d1 = a[0][0] - tau;
  if (!(d1 > 0.0)) return false;
  const double l21 = a[1][0] / d1, l31 = a[2][0] / d1;
  const double d2 = a[1][1] - tau - l21 * a[1][0];
  if (!(d2 > 0.0)) return false;
  const double e32 = a[2][1] - l31 * a[1][0];
  const double d3 = a[2][2] - tau - l31 * a[2][0] - e32 * e32 / d2;
  return d3 > 0.0;
}

// Orthonormal basis g, h of the null space of the 3x5 matrix m: columns 4
// and 5 of Q in the Householder QR of m^T.
void null_space(const double m[3][5], double g[5], double h[5]) {
  double a[5][3];
  for (int r = 0; r < 5; ++r)
    for (int c = 0; c < 3; ++c) a[r][c] = m[c][r];
  double v[3][5] = {};
  double vv[3] = {0.0, 0.0, 0.0};
  for (int k = 0; k < 3; ++k) {
    double norm2 = 0.0;
    for (int r = k; r < 5; ++r) norm2 += a[r][k] * a[r][k];
    const double alpha = a[k][k] < 0.0 ? std::sqrt(norm2) : -std::sqrt(norm2);
    for (int r = k; r < 5; ++r) v[k][r] = a[r][k];
    v[k][k] -= alpha;
    for (int r = k; r < 5; ++r) vv[k] += v[k][r] * v[k][r];
    if (!(vv[k] > 0.0)) continue;  // column already zero below the diagonal
    for (int c = k + 1; c < 3; ++c) {
      double s = 0.0;
      for (int r = k; r < 5; ++r) s += v[k][r] * a[r][c];
      s = 2.0 * s / vv[k];
      for (int r = k; r < 5; ++r) a[r][c] -= s * v[k][r];
    }
  }
  double *const out[2] = {g, h};
  for (int n = 0; n < 2; ++n) {
    double *y = out[n];
    for (int r = 0; r < 5; ++r) y[r] = (r == 3 + n) ? 1.0 : 0.0;
    for (int k = 2; k >= 0; --k) {
      if (!(vv[k] > 0.0)) continue;
      double s = 0.0;
      for (int r = k; r < 5; ++r) s += v[k][r] * y[r];
      s = 2.0 * s / vv[k];
      for (int r = k; r < 5; ++r) y[r] -= s * v[k][r];
    }
  }
}

// Determinant of rows a, b, c of a 4-column matrix over the columns other
// than `skip`.
double minor3(const double a[4], const double b[4], const double c[4], int skip) {
  int k[3], n = 0;
  for (int i = 0; i < 4; ++i)
    if (i != skip) k[n++] = i;
  return a[k[0]] * (b[k[1]] * c[k[2]] - b[k[2]] * c[k[1]]) -
         a[k[1]] * (b[k[0]] * c[k[2]] - b[k[2]] * c[k[0]]) +
         a[k[2]] * (b[k[0]] * c[k[1]] - b[k[1]] * c[k[0]]);
}

// The diagonal (alpha, beta, gamma) of the view's reduced camera rows
// (alpha, 0, 0, 1), (0, beta, 0, 1), (0, 0, gamma, 1), which map (1,1,1,1)
// to the fifth position and (x, y, z, 1) to the sixth: the null vector of
// the rank-3 system w, taken as the column of adj(w) of largest norm (the
// vector orthogonal to the three rows that remain when one row is left
// out), divided by its fourth entry.
void reduced_diagonal(const Frame &f, double x, double y, double z, double d[3]) {
  const double *q5 = f.q5, *q6 = f.q6;
  const double w[4][4] = {{q5[2], 0.0, -q5[0], q5[2] - q5[0]},
                          {0.0, q5[2], -q5[1], q5[2] - q5[1]},
                          {x * q6[2], 0.0, -z * q6[0], q6[2] - q6[0]},
                          {0.0, y * q6[2], -z * q6[1], q6[2] - q6[1]}};
  double best[4] = {0.0, 0.0, 0.0, 0.0};
  double best_norm = -1.0;
  for (int left = 0; left < 4; ++left) {
    const double *rows[3];
    int n = 0;
    for (int r = 0; r < 4; ++r)
      if (r != left) rows[n++] = w[r];
    double v[4], norm = 0.0;
    for (int i = 0; i < 4; ++i) {
      v[i] = minor3(rows[0], rows[1], rows[2], i);
      if (i % 2) v[i] = -v[i];
      norm += v[i] * v[i];
    }
    if (norm > best_norm) {
      best_norm = norm;
      for (int i = 0; i < 4; ++i) best[i] = v[i];
    }
  }
  for (int i = 0; i < 3; ++i) d[i] = best[i] / best[3];
}

bool finite_record(const MatchRecord &r) {
  return std::isfinite(r.first.x) && std::isfinite(r.first.y) && std::isfinite(r.middle.x) &&
         std::isfinite(r.middle.y) && std::isfinite(r.last.x) && std::isfinite(r.last.y);
}

bool usable_factor(double f) { return std::isfinite(f) && f > 0.0; }

}  // namespace

int six_point_cameras(const MatchRecord sample[6], ThreeCameras out[3]) {
  if (basis_is_degenerate(sample[0].first, sample[1].first, sample[2].first, sample[3].first) ||
      basis_is_degenerate(sample[0].middle, sample[1].middle, sample[2].middle,
                          sample[3].middle) ||
      basis_is_degenerate(sample[0].last, sample[1].last, sample[2].last, sample[3].last))
    return 0;
  MatchRecord copy[6];
  for (int r = 0; r < 6; ++r) copy[r] = sample[r];
  NormalisingTransform nt[3];  // first, middle, last
  normalise_sample(copy, 6, &nt[0], &nt[1], &nt[2]);
  const double factor[3] = {nt[0].factor(), nt[1].factor(), nt[2].factor()};
  for (double f : factor)
    if (!usable_factor(f)) return 0;
  for (const MatchRecord &r : copy)
    if (!finite_record(r)) return 0;

  // Frames in the order first, middle, last (the views of ThreeCameras).
  MatchPoint MatchRecord::*const member[3] = {&MatchRecord::first, &MatchRecord::middle,
                                              &MatchRecord::last};
  Frame frame[3];
  double m[3][5];
  for (int v = 0; v < 3; ++v) {
    const MatchPoint *pts[6];
    for (int r = 0; r < 6; ++r) pts[r] = &(copy[r].*member[v]);
    make_frame(pts, &frame[v]);
    const double *q5 = frame[v].q5, *q6 = frame[v].q6;
    m[v][0] = q5[0] * (q6[2] - q6[1]);
    m[v][1] = q5[1] * (q6[0] - q6[2]);
    m[v][2] = q5[2] * (q6[1] - q6[0]);
    m[v][3] = q6[2] * (q5[1] - q5[0]);
    m[v][4] = q6[1] * (q5[0] - q5[2]);
  }
  double gram[3][3];
  for (int a = 0; a < 3; ++a)
    for (int b = 0; b < 3; ++b) {
      gram[a][b] = 0.0;
      for (int c = 0; c < 5; ++c) gram[a][b] += m[a][c] * m[b][c];
    }
  if (!exceeds(gram, kNullSpaceTolerance)) return 0;

  double g[5], h[5], c[4];
  null_space(m, g, h);
  cubic_coefficients(g, h, c);
  const double a = c[2] / c[3], b = c[1] / c[3], c0 = c[0] / c[3];
  if (!std::isfinite(a) || !std::isfinite(b) || !std::isfinite(c0)) return 0;
  double roots[3];
  const int real = real_cubic_roots(a, b, c0, roots);

  int found = 0;
  for (int k = 0; k < real; ++k) {
    const double lambda = roots[k];
    double t[5];
    for (int i = 0; i < 5; ++i) t[i] = g[i] + lambda * h[i];
    const double x = (t[3] - t[4]) / (t[1] - t[2]);
    const double y = t[3] / (t[0] - t[2]);
    const double z = t[4] / (t[0] - t[1]);
    double d[3][3];
    for (int v = 0; v < 3; ++v) reduced_diagonal(frame[v], x, y, z, d[v]);

    // The last image's camera C = from [diag(d) | 1] must have no all-zero row.
    const Frame &fl = frame[2];
    bool vanishing = false;
    for (int row = 0; row < 3; ++row) {
      const double e[4] = {fl.from[row][0] * d[2][0], fl.from[row][1] * d[2][1],
                           fl.from[row][2] * d[2][2],
                           fl.from[row][0] + fl.from[row][1] + fl.from[row][2]};
      double big = 0.0;
      for (double v : e)
        if (std::fabs(v) > big) big = std::fabs(v);
      vanishing = vanishing || big == 0.0;
    }
    if (vanishing) continue;

    // With G = [C_last; 0 0 0 1], C_v G^-1 = [F_v diag(rho) to_last | F_v (1 - rho)]
    // for rho = d_v / d_last entrywise: the frame where the last camera is [I | 0].
    ThreeCameras &cams = out[found];
    bool finite = true;
    for (int v = 0; v < 2; ++v) {
      const Frame &fv = frame[v];
      const double rho[3] = {d[v][0] / d[2][0], d[v][1] / d[2][1], d[v][2] / d[2][2]};
      for (int row = 0; row < 3; ++row) {
        const double bv[3] = {fv.from[row][0] * rho[0], fv.from[row][1] * rho[1],
                              fv.from[row][2] * rho[2]};
        double p[4];
        for (int col = 0; col < 3; ++col)
          p[col] = bv[0] * fl.to[0][col] + bv[1] * fl.to[1][col] + bv[2] * fl.to[2][col];
        p[3] = fv.from[row][0] * (1.0 - rho[0]) + fv.from[row][1] * (1.0 - rho[1]) +
               fv.from[row][2] * (1.0 - rho[2]);
        for (int col = 0; col < 4; ++col) {
          const double e = row < 2 ? p[col] / factor[v] : p[col];
          cams.p[v][row][col] = e;
          finite = finite && std::isfinite(e);
        }
      }
    }
    if (!finite) continue;
    for (int row = 0; row < 3; ++row)
      for (int col = 0; col < 4; ++col) {
        const double e = row == col ? 1.0 : 0.0;
        cams.p[2][row][col] = row < 2 ? e / factor[2] : e;
      }
    ++found;
  }
  return found;
}

int faithful_six_point_cameras(const MatchRecord sample[6], ThreeCameras out[3]) {
  SixPointSolution sol[3];
  const int n = compute_six_point_solutions(sample, 6, sol);
  for (int h = 0; h < n; ++h) {
    const double fs[3] = {sol[h].f_first, sol[h].f_middle, sol[h].f_last};
    for (int v = 0; v < 3; ++v)
      for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 4; ++c) {
          const double e = v == 0 ? sol[h].first[r][c]
                                  : (v == 1 ? sol[h].middle[r][c] : (r == c ? 1.0 : 0.0));
          out[h].p[v][r][c] = r < 2 ? e / fs[v] : e;
        }
  }
  return n;
}
