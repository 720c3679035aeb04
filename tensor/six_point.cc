// Six-point tensor computation.
#include "six_point.h"

#include <cmath>
#include <vector>

#include "epipoles.h"
#include "fixed_arrays.h"
#include "numeric.h"

namespace {

// Samples up to this size are copied on the stack; the estimator draws six.
constexpr int kStackRecords = 16;

// Threshold of the basis degeneracy test, in pixels.
constexpr double kCollinearThreshold = 10.0;

// A null space of the 5x5 system smaller than two dimensions shows in a third
// eigenvalue (descending) of at most this magnitude.
constexpr double kNullSpaceTolerance = 0.0001;

// The cubic constraint F(t) = t1 t2 t5 + t2 t3 t4 + t3 t4 t5 - t1 t3 t4
// - t2 t3 t5 - t2 t4 t5 on the null-space coordinates, term by term.
struct CubicTerm {
  int p, q, r;
  bool negative;
};
constexpr CubicTerm kCubicTerms[6] = {{1, 2, 5, false}, {2, 3, 4, false}, {3, 4, 5, false},
                                      {1, 3, 4, true},  {2, 3, 5, true},  {2, 4, 5, true}};

double cubic_constraint(const double t[6]) {
  return t[1] * t[2] * t[5] + t[2] * t[3] * t[4] + t[3] * t[4] * t[5] - t[1] * t[3] * t[4] -
         t[2] * t[3] * t[5] - t[2] * t[4] * t[5];
}

// Coefficient of F(g + lambda h) that takes one factor from `one` and two
// from `two`, each term contributing one_p two_q two_r, two_p one_q two_r,
// two_p two_q one_r in this order, all in one left-to-right sum.
double mixed_coefficient(const double one[6], const double two[6]) {
  double sum = 0.0;
  for (const CubicTerm &term : kCubicTerms) {
    const double a = one[term.p] * two[term.q] * two[term.r];
    const double b = two[term.p] * one[term.q] * two[term.r];
    const double c = two[term.p] * two[term.q] * one[term.r];
    if (term.negative) {
      sum -= a;
      sum -= b;
      sum -= c;
    } else {
      sum += a;
      sum += b;
      sum += c;
    }
  }
  return sum;
}

bool all_finite(const MatchRecord &record) {
  return std::isfinite(record.first.x) && std::isfinite(record.first.y) &&
         std::isfinite(record.middle.x) && std::isfinite(record.middle.y) &&
         std::isfinite(record.last.x) && std::isfinite(record.last.y);
}

bool usable_factor(double f) { return std::isfinite(f) && f > 0.0; }

// True when a row of the 3x4 camera has no entry of positive magnitude, the
// condition under which the LU decomposition of its 4x4 extension would end
// the process (NaN entries do not count as positive).
bool camera_has_vanishing_row(const FixedMatrix<3, 4> &camera) {
  for (int r = 1; r <= 3; ++r) {
    double big = 0.0;
    for (int c = 1; c <= 4; ++c)
      if (std::fabs(camera[r][c]) > big) big = std::fabs(camera[r][c]);
    if (big == 0.0) return true;
  }
  return false;
}

// One view's positions of records 5 and 6 in its canonical frame.
struct CanonicalPositions {
  double x5, y5, w5;
  double x6, y6, w6;
};

// The view's camera in normalised coordinates, from_canonical times the
// reduced camera rows (alpha, 0, 0, 1), (0, beta, 0, 1), (0, 0, gamma, 1)
// that maps (1,1,1,1) to the fifth position and (X, Y, Z, 1) to the sixth.
// Returns 0 when jacobi fails.
int view_camera(const CanonicalPositions &q, double x, double y, double z,
                FixedMatrix<3, 3> &from_canonical, FixedMatrix<3, 4> &camera) {
  FixedMatrix<4, 4> w;
  w[1][1] = q.w5, w[1][2] = 0.0, w[1][3] = -q.x5, w[1][4] = q.w5 - q.x5;
  w[2][1] = 0.0, w[2][2] = q.w5, w[2][3] = -q.y5, w[2][4] = q.w5 - q.y5;
  w[3][1] = x * q.w6, w[3][2] = 0.0, w[3][3] = -z * q.x6, w[3][4] = q.w6 - q.x6;
  w[4][1] = 0.0, w[4][2] = y * q.w6, w[4][3] = -z * q.y6, w[4][4] = q.w6 - q.y6;

  FixedMatrix<4, 4> normal;
  for (int a = 1; a <= 4; ++a)
    for (int b = 1; b <= 4; ++b) {
      normal[a][b] = 0.0;
      for (int r = 1; r <= 4; ++r) normal[a][b] += w[r][a] * w[r][b];
    }
  FixedVector<4> d;
  FixedMatrix<4, 4> v;
  int rotations = 0;
  if (!jacobi(normal.get(), 4, d.get(), v.get(), &rotations)) return 0;
  sort_eigen(d.get(), v.get(), 4);

  FixedMatrix<3, 4> reduced;
  for (int r = 1; r <= 3; ++r)
    for (int c = 1; c <= 4; ++c) reduced[r][c] = (c == 4) ? 1.0 : 0.0;
  reduced[1][1] = v[1][4] / v[4][4];
  reduced[2][2] = v[2][4] / v[4][4];
  reduced[3][3] = v[3][4] / v[4][4];
  matrix_product(from_canonical.get(), reduced.get(), camera.get(), 3, 3, 4);
  return 1;
}

// Everything of the computation that comes before the root of the cubic:
// the normalisation, the canonical frames, the two null-space vectors and
// the cubic's coefficients.
struct SixPointSetup {
  NormalisingTransform nt_first, nt_middle, nt_last;
  FixedMatrix<3, 3> from_canonical[3];  // last, middle, first
  CanonicalPositions canonical[3];
  double g[6], h[6];
  double c3, c2, c1, c0;
};

// Fills *s from the working copy; 0 when the sample is rejected.
int six_point_setup(MatchRecord *copy, int n, SixPointSetup *s, const char **failure) {
  // Degeneracy of the basis, in pixels: first, middle, then last image.
  if (basis_is_degenerate(copy[0].first, copy[1].first, copy[2].first, copy[3].first)) return 0;
  if (basis_is_degenerate(copy[0].middle, copy[1].middle, copy[2].middle, copy[3].middle))
    return 0;
  if (basis_is_degenerate(copy[0].last, copy[1].last, copy[2].last, copy[3].last)) return 0;

  normalise_sample(copy, n, &s->nt_first, &s->nt_middle, &s->nt_last);
  // Non-finite or overflowing coordinates would reach the LU decompositions
  // as all-zero or all-NaN rows and end the process; refuse them here.
  if (!usable_factor(s->nt_first.factor()) || !usable_factor(s->nt_middle.factor()) ||
      !usable_factor(s->nt_last.factor()))
    return 0;
  for (int r = 0; r < 6; ++r)
    if (!all_finite(copy[r])) return 0;

  // Views in the order last, middle, first (the tensor's i, j, k).
  MatchPoint MatchRecord::*const member[3] = {&MatchRecord::last, &MatchRecord::middle,
                                              &MatchRecord::first};
  FixedMatrix<3, 3> to_canonical[3];
  CanonicalPositions *canonical = s->canonical;
  for (int v = 0; v < 3; ++v) {
    MatchPoint MatchRecord::*const which = member[v];
    if (basis_transform(copy[0].*which, copy[1].*which, copy[2].*which, copy[3].*which,
                        to_canonical[v].get(), s->from_canonical[v].get(), failure) != Status::ok)
      return 0;
    FixedVector<3> p, image;
    p[1] = (copy[4].*which).x, p[2] = (copy[4].*which).y, p[3] = 1.0;
    matrix_vector_product(to_canonical[v].get(), p.get(), image.get(), 3, 3);
    canonical[v].x5 = image[1], canonical[v].y5 = image[2], canonical[v].w5 = image[3];
    p[1] = (copy[5].*which).x, p[2] = (copy[5].*which).y, p[3] = 1.0;
    matrix_vector_product(to_canonical[v].get(), p.get(), image.get(), 3, 3);
    canonical[v].x6 = image[1], canonical[v].y6 = image[2], canonical[v].w6 = image[3];
  }

  // One row per view of the linear constraints on the five null-space
  // coordinates; 3 equations in 5 unknowns leave a 2-D null space.
  FixedMatrix<3, 5> m;
  for (int v = 0; v < 3; ++v) {
    const CanonicalPositions &q = canonical[v];
    m[v + 1][1] = q.x5 * (q.w6 - q.y6);
    m[v + 1][2] = q.y5 * (q.x6 - q.w6);
    m[v + 1][3] = q.w5 * (q.y6 - q.x6);
    m[v + 1][4] = q.w6 * (q.y5 - q.x5);
    m[v + 1][5] = q.y6 * (q.x5 - q.w5);
  }
  FixedMatrix<5, 5> normal;
  for (int a = 1; a <= 5; ++a)
    for (int b = 1; b <= 5; ++b) {
      normal[a][b] = 0.0;
      for (int v = 1; v <= 3; ++v) normal[a][b] += m[v][a] * m[v][b];
    }
  FixedVector<5> d;
  FixedMatrix<5, 5> vectors;
  int rotations = 0;
  if (!jacobi(normal.get(), 5, d.get(), vectors.get(), &rotations)) return 0;
  sort_eigen(d.get(), vectors.get(), 5);
  if (std::fabs(d[3]) <= kNullSpaceTolerance) return 0;

  // Candidate solutions t = g + lambda h; the cubic constraint fixes lambda.
  for (int r = 1; r <= 5; ++r) {
    s->g[r] = vectors[r][4];
    s->h[r] = vectors[r][5];
  }
  s->g[0] = s->h[0] = 0.0;
  s->c3 = cubic_constraint(s->h);
  s->c2 = mixed_coefficient(s->g, s->h);
  s->c1 = mixed_coefficient(s->h, s->g);
  s->c0 = cubic_constraint(s->g);
  return 1;
}

// The tensor (pixel coordinates) of the root lambda; 0 when a camera system
// fails (*failure names a fatal numerical error). When `cameras` is given it receives the middle and first cameras in
// the normalised coordinates, in the frame where the last camera is [I | 0].
int six_point_finish(SixPointSetup &s, double lambda, TrifocalTensor *t,
                     FixedMatrix<3, 4> *cameras, const char **failure) {
  double tv[6];
  for (int r = 1; r <= 5; ++r) tv[r] = s.g[r] + lambda * s.h[r];
  const double x = (tv[4] - tv[5]) / (tv[2] - tv[3]);
  const double y = tv[4] / (tv[1] - tv[3]);
  const double z = tv[5] / (tv[1] - tv[2]);

  FixedMatrix<3, 4> camera[3];  // last, middle, first
  for (int v = 0; v < 3; ++v)
    if (!view_camera(s.canonical[v], x, y, z, s.from_canonical[v], camera[v])) return 0;
  if (camera_has_vanishing_row(camera[0])) return 0;

  TrifocalTensor normalised;
  if (tensor_from_cameras(camera[0].get(), camera[1].get(), camera[2].get(), &normalised,
                          failure) != Status::ok)
    return 0;
  denormalise_tensor(&normalised, s.nt_first.factor(), s.nt_middle.factor(),
                     s.nt_last.factor());
  *t = normalised;
  if (cameras) {
    cameras[0] = camera[1];
    cameras[1] = camera[2];
  }
  return 1;
}

int six_point_on_copy(MatchRecord *copy, int n, TrifocalTensor *t, const char **failure) {
  SixPointSetup s;
  if (!six_point_setup(copy, n, &s, failure)) return 0;
  double lambda, unused2, unused3;
  solve_cubic(s.c2 / s.c3, s.c1 / s.c3, s.c0 / s.c3, &lambda, &unused2, &unused3);
  return six_point_finish(s, lambda, t, nullptr, failure);
}

int six_point_solutions_on_copy(MatchRecord *copy, int n, SixPointSolution out[3],
                                const char **failure) {
  SixPointSetup s;
  if (!six_point_setup(copy, n, &s, failure)) return 0;
  const double a = s.c2 / s.c3, b = s.c1 / s.c3, c = s.c0 / s.c3;
  if (!std::isfinite(a) || !std::isfinite(b) || !std::isfinite(c)) return 0;
  double roots[3];
  const int real = real_cubic_roots(a, b, c, roots);
  int found = 0;
  for (int k = 0; k < real; ++k) {
    const double lambda = roots[k];
    FixedMatrix<3, 4> cameras[2];
    SixPointSolution &sol = out[found];
    if (!six_point_finish(s, lambda, &sol.tensor, cameras, failure)) continue;
    bool finite = true;
    for (int e = 0; e < 27; ++e) finite = finite && std::isfinite(sol.tensor.entry[e]);
    for (int row = 0; row < 3; ++row)
      for (int col = 0; col < 4; ++col) {
        sol.middle[row][col] = cameras[0][row + 1][col + 1];
        sol.first[row][col] = cameras[1][row + 1][col + 1];
        finite = finite && std::isfinite(sol.middle[row][col]) && std::isfinite(sol.first[row][col]);
      }
    if (!finite) continue;
    sol.f_first = s.nt_first.factor();
    sol.f_middle = s.nt_middle.factor();
    sol.f_last = s.nt_last.factor();
    ++found;
  }
  return found;
}

// body(copy) on a working copy of sample[0..n-1] (n >= 6, else 0): on the
// stack for n <= kStackRecords, on the heap beyond.
template <typename Body>
int on_working_copy(const MatchRecord *sample, int n, Body body) {
  if (n < 6) return 0;
  if (n <= kStackRecords) {
    MatchRecord copy[kStackRecords];
    for (int r = 0; r < n; ++r) copy[r] = sample[r];
    return body(copy);
  }
  std::vector<MatchRecord> copy(sample, sample + n);
  return body(copy.data());
}

}  // namespace

int compute_six_point_tensor(const MatchRecord *sample, int n, TrifocalTensor *t,
                             const char **failure) {
  return on_working_copy(sample, n,
                         [&](MatchRecord *copy) { return six_point_on_copy(copy, n, t, failure); });
}

int compute_six_point_solutions(const MatchRecord *sample, int n, SixPointSolution out[3],
                                const char **failure) {
  return on_working_copy(sample, n, [&](MatchRecord *copy) {
    return six_point_solutions_on_copy(copy, n, out, failure);
  });
}

Status basis_transform(const MatchPoint &p1, const MatchPoint &p2, const MatchPoint &p3,
                       const MatchPoint &p4, double **to_canonical, double **from_canonical,
                       const char **failure) {
  const MatchPoint *p[3] = {&p1, &p2, &p3};
  FixedMatrix<3, 3> k, k_inv;
  for (int c = 1; c <= 3; ++c) {
    k[1][c] = p[c - 1]->x;
    k[2][c] = p[c - 1]->y;
    k[3][c] = 1.0;
  }
  const Status status = lu_invert(k.get(), k_inv.get(), 3, failure);
  if (status != Status::ok) return status;
  FixedVector<3> fourth, mu;
  fourth[1] = p4.x, fourth[2] = p4.y, fourth[3] = 1.0;
  matrix_vector_product(k_inv.get(), fourth.get(), mu.get(), 3, 3);
  for (int c = 1; c <= 3; ++c) {
    from_canonical[1][c] = mu[c] * p[c - 1]->x;
    from_canonical[2][c] = mu[c] * p[c - 1]->y;
    from_canonical[3][c] = mu[c] * 1.0;
  }
  FixedMatrix<3, 3> work;
  matrix_copy(from_canonical, work.get(), 3, 3);
  return lu_invert(work.get(), to_canonical, 3, failure);
}

void solve_cubic(double a, double b, double c, double *x1, double *x2, double *x3) {
  const double q = (a * a - 3.0 * b) / 9.0;
  const double r = (2.0 * a * a * a - 9.0 * a * b + 27.0 * c) / 54.0;
  if (q == 0.0 && r == 0.0) {  // triple root
    *x1 = -a / 3.0;
    *x2 = -1.0;
    *x3 = -1.0;
    return;
  }
  if (!(q * q * q - r * r < 0.0)) {
    double cosine = r / std::sqrt(q * q * q);
    if (cosine > 1.0) cosine = 1.0;
    if (cosine < -1.0) cosine = -1.0;
    const double theta = std::acos(cosine);
    const double scale = -2.0 * std::sqrt(q);
    *x1 = scale * std::cos(theta / 3.0) - a / 3.0;
    *x2 = scale * std::cos((theta + 6.283184) / 3.0) - a / 3.0;
    *x3 = scale * std::cos((theta + 12.566368) / 3.0) - a / 3.0;
    return;
  }
  const double s = (r < 0.0) ? -1.0 : 1.0;
  const double a0 = signed_cube_root(std::fabs(r) + std::sqrt(r * r - q * q * q));
  *x1 = -s * (a0 + q / a0) - a / 3.0;
  *x2 = -1.0;
  *x3 = -1.0;
}

int real_cubic_roots(double a, double b, double c, double roots[3]) {
  solve_cubic(a, b, c, &roots[0], &roots[1], &roots[2]);
  const double q = (a * a - 3.0 * b) / 9.0;
  const double r = (2.0 * a * a * a - 9.0 * a * b + 27.0 * c) / 54.0;
  const int real = (q == 0.0 && r == 0.0) || q * q * q - r * r < 0.0 ? 1 : 3;
  // Newton steps towards each root, each kept only when it lowers the
  // magnitude of the value.
  for (int k = 0; k < real; ++k) {
    double x = roots[k];
    for (int step = 0; step < 3; ++step) {
      const double f = ((x + a) * x + b) * x + c;
      const double df = (3.0 * x + 2.0 * a) * x + b;
      if (!(df != 0.0)) break;
      const double next = x - f / df;
      const double fn = ((next + a) * next + b) * next + c;
      if (!(std::fabs(fn) < std::fabs(f))) break;
      x = next;
    }
    roots[k] = x;
  }
  return real;
}

int triple_is_collinear(double threshold, const MatchPoint &p, const MatchPoint &q,
                        const MatchPoint &r) {
  const double area2 = std::fabs((p.x - r.x) * (q.y - r.y) - (q.x - r.x) * (p.y - r.y));
  const double dx = std::fabs(p.x - q.x);
  const double dy = std::fabs(p.y - q.y);
  const double base = (dx > dy) ? dx : dy;
  // Written as "not at least the threshold" so that 0/0 (p equal to q) and
  // any other NaN count as collinear.
  return !(area2 / base >= threshold);
}

int basis_is_degenerate(const MatchPoint &p1, const MatchPoint &p2, const MatchPoint &p3,
                        const MatchPoint &p4) {
  return triple_is_collinear(kCollinearThreshold, p1, p2, p3) ||
         triple_is_collinear(kCollinearThreshold, p1, p2, p4) ||
         triple_is_collinear(kCollinearThreshold, p1, p3, p4) ||
         triple_is_collinear(kCollinearThreshold, p2, p3, p4);
}
