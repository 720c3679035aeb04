// Levenberg-Marquardt for the three-view adjustment.
//
// Unknowns: the first and middle cameras (24 entries; the projective ones are
// kept at unit norm, the affine ones keep their third row) and one point of
// three parameters per triplet. A residual row of view v depends on camera v
// through inv * (A ⊗ x^T), A = [[1, 0, -u], [0, 1, -w]], inv = s_v / h_2, x
// the homogeneous point: so every per-triplet term of the normal equations
// that couples the cameras is a small matrix times x x^T. The reduced camera
// system after eliminating the points is accumulated as
//   S = sum_i K_i ⊗ (x_i x_i^T),   K_i = blockdiag(w inv^2 A^T A) - E_i V_i^-1 E_i^T
// (K_i 6 x 6, E_i 6 x 3 the camera-point coupling, V_i the damped 3 x 3 point
// block), which is 21 x 10 multiply-adds per triplet, and solved by a 24 x 24
// Cholesky factorisation. The robust loss enters as the Huber weight of each
// triplet (iteratively reweighted). The damping follows the usual
// Marquardt scaling by the diagonal, with the gain-ratio update.
#include "bundle.h"

#include <Eigen/Dense>
#include <algorithm>
#include <cmath>
#include <limits>

namespace bundle {

namespace {

using Mat34 = Eigen::Matrix<double, 3, 4, Eigen::RowMajor>;
using Mat4 = Eigen::Matrix4d;
using Mat24 = Eigen::Matrix<double, 24, 24>;
using Vec24 = Eigen::Matrix<double, 24, 1>;
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kMinDiagonal = 1e-6;

Mat34 to_mat(const double p[3][4]) {
  Mat34 m;
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 4; ++c) m(r, c) = p[r][c];
  return m;
}

// Index of the pair (a, b), a <= b < n, in the packed upper triangle.
constexpr int pair_index(int a, int b, int n) { return a * n - a * (a - 1) / 2 + (b - a); }

void homogeneous(const Frame &f, const double pt[3], double x[4]) {
  if (f.affine) x[0] = pt[0], x[1] = pt[1], x[2] = pt[2], x[3] = 1.0;
  else x[0] = pt[0], x[1] = pt[1], x[2] = 1.0, x[3] = pt[2];
}

// One triplet at one point: its residual in pixels (first x, y, middle x,
// y, last x, y), the derivatives of the first four residuals by the point
// parameters (those of the last two are s_2 times the first two unit
// vectors: the last camera is fixed), the projection terms (u, w, inv) the
// camera derivatives need, and the point's Gauss-Newton terms J^T J (packed
// 00 01 02 11 12 22) and J^T r.
struct PointTerms {
  double r[6];
  double j[4][3];
  double u[2], w[2], inv[2];
  double n[6];
  double g[3];
  double sq;  // |r|^2
};

// false when the point projects to infinity in the first or middle image.
// Without derivatives only r and sq are set.
template <bool kAffine>
bool point_terms_of(const Frame &f, const double obs[3][2], const double pt[3], PointTerms *t,
                    bool derivatives) {
  constexpr int ci = kAffine ? 2 : 3, fixed = kAffine ? 3 : 2;
  const double a = pt[0], b = pt[1], c = pt[2];
  for (int v = 0; v < 2; ++v) {
    const double *p = f.p[v];
    const double h0 = p[0] * a + p[1] * b + p[fixed] + p[ci] * c;
    const double h1 = p[4] * a + p[5] * b + p[4 + fixed] + p[4 + ci] * c;
    const double h2 = p[8] * a + p[9] * b + p[8 + fixed] + p[8 + ci] * c;
    if (!(std::fabs(h2) > 1e-300)) return false;
    const double ih = 1.0 / h2;
    const double u = h0 * ih, w = h1 * ih;
    const double s = f.s[v];
    t->r[2 * v] = s * (u - obs[v][0]);
    t->r[2 * v + 1] = s * (w - obs[v][1]);
    if (!derivatives) continue;
    const double inv = s * ih;
    t->u[v] = u, t->w[v] = w, t->inv[v] = inv;
    double *j0 = t->j[2 * v], *j1 = t->j[2 * v + 1];
    j0[0] = inv * (p[0] - u * p[8]);
    j0[1] = inv * (p[1] - u * p[9]);
    j0[2] = inv * (p[ci] - u * p[8 + ci]);
    j1[0] = inv * (p[4] - w * p[8]);
    j1[1] = inv * (p[5] - w * p[9]);
    j1[2] = inv * (p[4 + ci] - w * p[8 + ci]);
  }
  const double s2 = f.s[2];
  t->r[4] = s2 * (a - obs[2][0]);
  t->r[5] = s2 * (b - obs[2][1]);
  if (!derivatives) {
    double sq = 0.0;
    for (int k = 0; k < 6; ++k) sq += t->r[k] * t->r[k];
    t->sq = sq;
    return true;
  }
  double n00 = s2 * s2, n01 = 0.0, n02 = 0.0, n11 = s2 * s2, n12 = 0.0, n22 = 0.0;
  double g0 = s2 * t->r[4], g1 = s2 * t->r[5], g2 = 0.0;
  double sq = t->r[4] * t->r[4] + t->r[5] * t->r[5];
  for (int k = 0; k < 4; ++k) {
    const double *row = t->j[k];
    const double rk = t->r[k];
    n00 += row[0] * row[0], n01 += row[0] * row[1], n02 += row[0] * row[2];
    n11 += row[1] * row[1], n12 += row[1] * row[2], n22 += row[2] * row[2];
    g0 += row[0] * rk, g1 += row[1] * rk, g2 += row[2] * rk;
    sq += rk * rk;
  }
  t->n[0] = n00, t->n[1] = n01, t->n[2] = n02, t->n[3] = n11, t->n[4] = n12, t->n[5] = n22;
  t->g[0] = g0, t->g[1] = g1, t->g[2] = g2;
  t->sq = sq;
  return true;
}

bool point_terms(const Frame &f, const double obs[3][2], const double pt[3], PointTerms *t,
                 bool derivatives = true) {
  return f.affine ? point_terms_of<true>(f, obs, pt, t, derivatives)
                  : point_terms_of<false>(f, obs, pt, t, derivatives);
}

// Inverse of a symmetric 3 x 3 matrix by cofactors; returns the
// determinant (the inverse is meaningful only when it is non-zero).
double inverse_symmetric3(const double a[3][3], double vi[3][3]) {
  const double c00 = a[1][1] * a[2][2] - a[1][2] * a[2][1];
  const double c01 = a[1][2] * a[2][0] - a[1][0] * a[2][2];
  const double c02 = a[1][0] * a[2][1] - a[1][1] * a[2][0];
  const double det = a[0][0] * c00 + a[0][1] * c01 + a[0][2] * c02;
  const double id = 1.0 / det;
  vi[0][0] = c00 * id, vi[0][1] = c01 * id, vi[0][2] = c02 * id;
  vi[1][1] = (a[0][0] * a[2][2] - a[0][2] * a[2][0]) * id;
  vi[1][2] = (a[0][2] * a[1][0] - a[0][0] * a[1][2]) * id;
  vi[2][2] = (a[0][0] * a[1][1] - a[0][1] * a[1][0]) * id;
  vi[1][0] = vi[0][1], vi[2][0] = vi[0][2], vi[2][1] = vi[1][2];
  return det;
}

// Gauss-Newton step of a point: solves n step = -g for the packed J^T J n
// by a Cholesky factorisation. false when n is not positive definite or the
// step is not finite.
bool gn_step(const double n[6], const double g[3], double step[3]) {
  if (!(n[0] > 0.0)) return false;
  const double l00 = std::sqrt(n[0]);
  const double l10 = n[1] / l00, l20 = n[2] / l00;
  const double d1 = n[3] - l10 * l10;
  if (!(d1 > 0.0)) return false;
  const double l11 = std::sqrt(d1);
  const double l21 = (n[4] - l20 * l10) / l11;
  const double d2 = n[5] - l20 * l20 - l21 * l21;
  if (!(d2 > 0.0)) return false;
  const double l22 = std::sqrt(d2);
  const double y0 = -g[0] / l00, y1 = (-g[1] - l10 * y0) / l11,
               y2 = (-g[2] - l20 * y0 - l21 * y1) / l22;
  step[2] = y2 / l22;
  step[1] = (y1 - l21 * step[2]) / l11;
  step[0] = (y0 - l10 * step[1] - l20 * step[2]) / l00;
  return std::isfinite(step[0]) && std::isfinite(step[1]) && std::isfinite(step[2]);
}

}  // namespace

// Linearisation of one triplet at the current estimate.
struct Workspace::Block {
  double e[6][3];      // camera-point coupling, rows (view, camera row)
  double k0[2][3][3];  // camera block per view: w inv^2 A^T A
  double v[3][3];      // point block w Jp^T Jp (undamped)
  double vinv[3][3];   // inverse of the damped point block
  double b[6];         // camera gradient factor: w inv A^T r per view
  double gp[3];        // point gradient w Jp^T r
  double x[4];         // homogeneous point
  double r[6];         // residual
  double w;            // Huber weight
  double sq;           // |r|^2
};

Workspace::Workspace() = default;
Workspace::~Workspace() = default;

int make_frame(const ThreeCameras &pix, const double s[3], bool affine, Frame *f) {
  Mat34 c[3];
  for (int v = 0; v < 3; ++v) {
    c[v] = to_mat(pix.p[v]);
    c[v].row(0) /= s[v];
    c[v].row(1) /= s[v];
  }
  Mat4 h;
  if (affine) {
    Eigen::Vector3d r0 = c[2].block<1, 3>(0, 0).transpose(), r1 = c[2].block<1, 3>(1, 0).transpose();
    Eigen::Vector3d n = r0.cross(r1);
    Mat4 k = Mat4::Zero();
    k.row(0) = c[2].row(0) / c[2](2, 3);
    k.row(1) = c[2].row(1) / c[2](2, 3);
    k.block<1, 3>(2, 0) = n.transpose();
    k(3, 3) = 1.0;
    if (!(std::fabs(k.determinant()) > 1e-12 * (1.0 + n.squaredNorm()))) return 0;
    h = k.inverse();
  } else {
    // H = [P^T (P P^T)^-1 | centre] for the last camera P: P H = [I | 0].
    // The centre is P's null vector, the signed 3 x 3 minors of P.
    const Mat34 &p = c[2];
    const Eigen::Matrix3d pp = p * p.transpose();
    double ppa[3][3], inv[3][3];
    for (int r = 0; r < 3; ++r)
      for (int q = 0; q < 3; ++q) ppa[r][q] = pp(r, q);
    if (!(std::fabs(inverse_symmetric3(ppa, inv)) > 1e-300)) return 0;
    const auto minor = [&p](int a, int b, int d) {
      return p(0, a) * (p(1, b) * p(2, d) - p(1, d) * p(2, b)) -
             p(0, b) * (p(1, a) * p(2, d) - p(1, d) * p(2, a)) +
             p(0, d) * (p(1, a) * p(2, b) - p(1, b) * p(2, a));
    };
    const Eigen::Vector4d centre(minor(1, 2, 3), -minor(0, 2, 3), minor(0, 1, 3), -minor(0, 1, 2));
    const double cn = centre.norm();
    if (!(cn > 0.0)) return 0;
    using Row3 = Eigen::Matrix<double, 3, 3, Eigen::RowMajor>;
    h.block<4, 3>(0, 0) = p.transpose() * Eigen::Map<const Row3>(&inv[0][0]);
    h.col(3) = centre / cn;
  }
  if (!h.allFinite()) return 0;
  for (int v = 0; v < 2; ++v) {
    Mat34 m = c[v] * h;
    if (affine) m /= m(2, 3);
    else m.normalize();
    for (int e = 0; e < 12; ++e) f->p[v][e] = m(e / 4, e % 4);
    if (!m.allFinite()) return 0;
  }
  for (int v = 0; v < 3; ++v) f->s[v] = s[v];
  f->affine = affine;
  return 1;
}

ThreeCameras pixel_cameras(const Frame &f) {
  ThreeCameras out;
  for (int v = 0; v < 3; ++v) {
    Mat34 m;
    if (v < 2) {
      for (int e = 0; e < 12; ++e) m(e / 4, e % 4) = f.p[v][e];
    } else {
      m.setZero();
      m(0, 0) = 1, m(1, 1) = 1;
      if (f.affine) m(2, 3) = 1;
      else m(2, 2) = 1;
    }
    m.row(0) *= f.s[v];
    m.row(1) *= f.s[v];
    for (int r = 0; r < 3; ++r)
      for (int c = 0; c < 4; ++c) out.p[v][r][c] = m(r, c);
  }
  return out;
}

void frame_observations(const Frame &f, const MatchRecord &m, double obs[3][2]) {
  obs[0][0] = m.first.x / f.s[0], obs[0][1] = m.first.y / f.s[0];
  obs[1][0] = m.middle.x / f.s[1], obs[1][1] = m.middle.y / f.s[1];
  obs[2][0] = m.last.x / f.s[2], obs[2][1] = m.last.y / f.s[2];
}

bool residual(const Frame &f, const double obs[3][2], const double pt[3], double r[6],
              double *jp) {
  PointTerms t;
  if (!point_terms(f, obs, pt, &t)) return false;
  std::copy(t.r, t.r + 6, r);
  if (jp) {
    for (int k = 0; k < 4; ++k)
      for (int c = 0; c < 3; ++c) jp[3 * k + c] = t.j[k][c];
    jp[12] = f.s[2], jp[13] = 0.0, jp[14] = 0.0;
    jp[15] = 0.0, jp[16] = f.s[2], jp[17] = 0.0;
  }
  return true;
}

// Start on the last image's ray, the remaining parameter by linear least
// squares over the first two images, then Gauss-Newton steps.
int triangulate(const Frame &f, const MatchRecord &m, double pt[3], double err[3]) {
  return triangulate_from(f, m, nullptr, pt, err);
}

namespace {

// The point on the last image's ray whose remaining parameter fits the first
// two images by linear least squares. false when that fit is degenerate.
bool linear_point_obs(const Frame &f, const double obs[3][2], double pt[3]) {
  const int ci = f.affine ? 2 : 3;     // column of the free parameter c
  const int fixed = f.affine ? 3 : 2;  // column of the fixed 1
  pt[0] = obs[2][0], pt[1] = obs[2][1];
  // Linear: for each free view and coordinate, (P0 - x P2) . X = 0 in c.
  double num = 0.0, den = 0.0;
  for (int v = 0; v < 2; ++v) {
    const double *p = f.p[v];
    for (int r = 0; r < 2; ++r) {
      const double o = obs[v][r];
      const double k = (p[4 * r] - o * p[8]) * pt[0] + (p[4 * r + 1] - o * p[9]) * pt[1] +
                       (p[4 * r + fixed] - o * p[8 + fixed]);
      const double d = p[4 * r + ci] - o * p[8 + ci];
      num += k * d, den += d * d;
    }
  }
  if (!(den > 0.0)) return false;
  pt[2] = -num / den;
  return std::isfinite(pt[2]);
}

}  // namespace

int linear_point(const Frame &f, const MatchRecord &m, double pt[3]) {
  double obs[3][2];
  frame_observations(f, m, obs);
  return linear_point_obs(f, obs, pt);
}

int triangulate_from(const Frame &f, const MatchRecord &m, const double *start, double pt[3],
                     double err[3]) {
  err[0] = err[1] = err[2] = kInf;
  double obs[3][2];
  frame_observations(f, m, obs);
  if (!linear_point_obs(f, obs, pt)) return 0;
  // Two buffers: *t holds the terms at pt, *u those of a trial.
  PointTerms buf[2];
  PointTerms *t = &buf[0], *u = &buf[1];
  if (!point_terms(f, obs, pt, t)) return 0;
  if (start && std::isfinite(start[0]) && std::isfinite(start[1]) && std::isfinite(start[2]) &&
      point_terms(f, obs, start, u) && u->sq < t->sq) {
    std::copy(start, start + 3, pt);
    std::swap(t, u);
  }
  // A relative decrease of 1e-10 changes the errors far below their printed
  // digits: the loop ends after a step that gave less or, when the step's
  // predicted decrease g^T (J^T J)^-1 g is already below that, after
  // taking it without the derivatives at its end, which nothing uses.
  for (int iter = 0; iter < 6; ++iter) {
    double step[3];
    if (!gn_step(t->n, t->g, step)) break;
    const double before = t->sq, bound = 1e-10 * (1.0 + before);
    const bool last = !(-(t->g[0] * step[0] + t->g[1] * step[1] + t->g[2] * step[2]) >= bound);
    const double trial[3] = {pt[0] + step[0], pt[1] + step[1], pt[2] + step[2]};
    if (!point_terms(f, obs, trial, u, !last) || !(u->sq < before)) break;
    pt[0] = trial[0], pt[1] = trial[1], pt[2] = trial[2];
    std::swap(t, u);
    if (last || before - t->sq < bound) break;
  }
  const double *r = t->r;
  for (int v = 0; v < 3; ++v) err[v] = std::sqrt(r[2 * v] * r[2 * v] + r[2 * v + 1] * r[2 * v + 1]);
  return std::isfinite(err[0]) && std::isfinite(err[1]) && std::isfinite(err[2]);
}

double huber_rho(double q, double huber) {
  const double a2 = huber * huber;
  return q <= a2 ? q : 2.0 * huber * std::sqrt(q) - a2;
}

namespace {


// Gradient, Marquardt diagonal and largest gradient entry of the camera
// parameters, summed over the triplets' blocks.
struct CameraTerms {
  Vec24 gc = Vec24::Zero(), diag = Vec24::Zero();
  double gmax = 0.0;
};

// Fills the block of one triplet from its terms t at point parameters pt,
// under the Huber weight of its residual; adds its camera terms to *ct.
// Returns the triplet's share of the objective, Huber(|r|^2).
double linearise(const Frame &f, const PointTerms &t, const double pt[3], double huber,
                 Workspace::Block *bl, CameraTerms *ct) {
  const double sq = t.sq;
  const double w = sq <= huber * huber ? 1.0 : huber / std::sqrt(sq);
  homogeneous(f, pt, bl->x);
  std::copy(t.r, t.r + 6, bl->r);
  bl->w = w;
  bl->sq = sq;
  for (int a = 0; a < 3; ++a) {
    bl->gp[a] = w * t.g[a];
    ct->gmax = std::max(ct->gmax, std::fabs(bl->gp[a]));
  }
  bl->v[0][0] = w * t.n[0], bl->v[0][1] = bl->v[1][0] = w * t.n[1];
  bl->v[0][2] = bl->v[2][0] = w * t.n[2], bl->v[1][1] = w * t.n[3];
  bl->v[1][2] = bl->v[2][1] = w * t.n[4], bl->v[2][2] = w * t.n[5];
  Eigen::Matrix<double, 6, 1> kd;
  for (int v = 0; v < 2; ++v) {
    const double u = t.u[v], wv = t.w[v], inv = t.inv[v];
    const double wi = w * inv, wii = wi * inv;
    // A^T A with A = [[1, 0, -u], [0, 1, -wv]].
    double(*k)[3] = bl->k0[v];
    k[0][0] = wii, k[0][1] = 0.0, k[0][2] = -wii * u;
    k[1][0] = 0.0, k[1][1] = wii, k[1][2] = -wii * wv;
    k[2][0] = k[0][2], k[2][1] = k[1][2], k[2][2] = wii * (u * u + wv * wv);
    kd(3 * v) = k[0][0], kd(3 * v + 1) = k[1][1], kd(3 * v + 2) = k[2][2];
    const double *j0 = t.j[2 * v], *j1 = t.j[2 * v + 1];
    for (int c = 0; c < 3; ++c) {
      bl->e[3 * v][c] = wi * j0[c];
      bl->e[3 * v + 1][c] = wi * j1[c];
      bl->e[3 * v + 2][c] = -wi * (u * j0[c] + wv * j1[c]);
    }
    const double r0 = t.r[2 * v], r1 = t.r[2 * v + 1];
    bl->b[3 * v] = wi * r0;
    bl->b[3 * v + 1] = wi * r1;
    bl->b[3 * v + 2] = -wi * (u * r0 + wv * r1);
  }
  // Camera entry (row a, column c) sits at 4 a + c: a 4 x 6 column-major
  // matrix, updated by outer products.
  const Eigen::Map<const Eigen::Vector4d> x(bl->x);
  const Eigen::Map<const Eigen::Matrix<double, 6, 1>> bv(bl->b);
  const Eigen::Vector4d x2 = x.cwiseProduct(x);
  Eigen::Map<Eigen::Matrix<double, 4, 6>> gc(ct->gc.data()), diag(ct->diag.data());
  gc.noalias() += x * bv.transpose();
  diag.noalias() += x2 * kd.transpose();
  return huber_rho(sq, huber);
}

// One Gauss-Newton step of a point for fixed cameras (kept only when it
// lowers the point's squared error), leaving in *t the terms at the point
// kept. false when the point projects to infinity.
bool polish_point(const Frame &f, const double obs[3][2], double pt[3], PointTerms *t) {
  if (!point_terms(f, obs, pt, t)) return false;
  double step[3];
  if (!gn_step(t->n, t->g, step)) return true;
  const double trial[3] = {pt[0] + step[0], pt[1] + step[1], pt[2] + step[2]};
  PointTerms tt;
  if (!point_terms(f, obs, trial, &tt) || !(tt.sq < t->sq)) return true;
  std::copy(trial, trial + 3, pt);
  *t = tt;
  return true;
}

}  // namespace

bool adjusted_residual(const Workspace &ws, size_t q, double r[6], double *predicted) {
  if (q >= ws.adjusted) return false;
  const Workspace::Block &bl = ws.blocks[ws.current + q];
  // The point's own Gauss-Newton step solves (V / w) step = -gp / w; its
  // predicted decrease of |r|^2 is gp^T V^-1 gp / w.
  double vi[3][3];
  if (!(inverse_symmetric3(bl.v, vi) > 0.0) || !(bl.w > 0.0)) return false;
  const double *g = bl.gp;
  double quad = 0.0;
  for (int a = 0; a < 3; ++a) quad += g[a] * (vi[a][0] * g[0] + vi[a][1] * g[1] + vi[a][2] * g[2]);
  *predicted = quad / bl.w;
  std::copy(bl.r, bl.r + 6, r);
  return std::isfinite(*predicted);
}

// Each iteration solves the damped reduced camera system, moves the points
// by back-substitution and then gives every point one Gauss-Newton step of
// its own for the trial cameras: the points then stay close to their optimum
// for the cameras, which makes the iteration converge in a few steps from a
// start that is several times the final cost. The same pass evaluates the
// trial's objective and linearises it, so an accepted trial starts the next
// iteration without another pass.
bool adjust(Frame *f, const MatchRecord *matches, int count, const int32_t *flags,
            double *points, const Options &o, Workspace *ws, Result *result) {
  *result = Result();
  ws->adjusted = 0;
  std::vector<int> &idx = ws->index;
  idx.clear();
  for (int i = 0; i < count; ++i)
    if (flags[i]) idx.push_back(i);
  const size_t n = idx.size();
  if (ws->capacity < 2 * n) {
    ws->blocks.reset(new Workspace::Block[2 * n]);
    ws->capacity = 2 * n;
  }
  if (ws->trial.size() < 6 * n) ws->trial.resize(6 * n);
  if (ws->obs.size() < n) ws->obs.resize(n);
  Workspace::Observation *obs = ws->obs.data();
  for (size_t q = 0; q < n; ++q) frame_observations(*f, matches[idx[q]], obs[q].v);
  // Current point parameters and blocks in the order of idx, the trial
  // ones in the second halves.
  double *cur = ws->trial.data(), *next = ws->trial.data() + 3 * n;
  Workspace::Block *bcur = ws->blocks.get(), *bnext = ws->blocks.get() + n;
  for (size_t q = 0; q < n; ++q)
    for (int k = 0; k < 3; ++k) cur[3 * q + k] = points[3 * static_cast<size_t>(idx[q]) + k];
  const double huber = o.huber;
  CameraTerms ct, ct_next;
  double cost = 0.0;
  for (size_t q = 0; q < n; ++q) {
    PointTerms t;
    if (!point_terms(*f, obs[q].v, cur + 3 * q, &t)) return false;
    cost += linearise(*f, t, cur + 3 * q, huber, &bcur[q], &ct);
  }
  cost *= 0.5;
  result->initial_cost = cost;
  if (!std::isfinite(cost)) return false;
  // Camera parameters held fixed: the affine cameras' third rows.
  bool fixed[24] = {};
  if (f->affine)
    for (int e = 8; e < 12; ++e) fixed[e] = fixed[12 + e] = true;
  double lambda = 1e-4, growth = 2.0;
  // Column m: the ten products x_c x_d (c <= d) times the m-th entry of K.
  Eigen::Matrix<double, 10, 21> acc;
  Vec24 dc, rhs;
  Mat24 s;
  Frame trial_frame = *f;
  for (int iter = 0; iter < o.max_iterations; ++iter) {
    // Converged when the gradient vanishes.
    if (!(std::max(ct.gmax, ct.gc.cwiseAbs().maxCoeff()) > 1e-10)) break;
    ++result->iterations;
    // Reduced camera system at this damping.
    acc.setZero();
    rhs.setZero();
    Eigen::Map<Eigen::Matrix<double, 4, 6>> rhs46(rhs.data());
    for (size_t q = 0; q < n; ++q) {
      Workspace::Block &bl = bcur[q];
      double vd[3][3];
      for (int a = 0; a < 3; ++a)
        for (int c = 0; c < 3; ++c) vd[a][c] = bl.v[a][c];
      for (int k = 0; k < 3; ++k) vd[k][k] += lambda * std::max(bl.v[k][k], kMinDiagonal);
      inverse_symmetric3(vd, bl.vinv);
      const double(*vi)[3] = bl.vinv;
      double ev[6][3];
      for (int a = 0; a < 6; ++a)
        for (int c = 0; c < 3; ++c)
          ev[a][c] = bl.e[a][0] * vi[0][c] + bl.e[a][1] * vi[1][c] + bl.e[a][2] * vi[2][c];
      Eigen::Matrix<double, 21, 1> kp;
      for (int a = 0, m = 0; a < 6; ++a)
        for (int b = a; b < 6; ++b, ++m)
          kp(m) = -(ev[a][0] * bl.e[b][0] + ev[a][1] * bl.e[b][1] + ev[a][2] * bl.e[b][2]);
      for (int v = 0; v < 2; ++v)
        for (int a = 0; a < 3; ++a)
          for (int b = a; b < 3; ++b) kp(pair_index(3 * v + a, 3 * v + b, 6)) += bl.k0[v][a][b];
      const double *x = bl.x;
      Eigen::Matrix<double, 10, 1> xp;
      xp << x[0] * x[0], x[0] * x[1], x[0] * x[2], x[0] * x[3], x[1] * x[1], x[1] * x[2],
          x[1] * x[3], x[2] * x[2], x[2] * x[3], x[3] * x[3];
      acc.noalias() += xp * kp.transpose();
      Eigen::Matrix<double, 6, 1> t;
      for (int a = 0; a < 6; ++a)
        t(a) = bl.b[a] - (ev[a][0] * bl.gp[0] + ev[a][1] * bl.gp[1] + ev[a][2] * bl.gp[2]);
      rhs46.noalias() -= Eigen::Map<const Eigen::Vector4d>(x) * t.transpose();
    }
    for (int a = 0; a < 6; ++a)
      for (int b = a; b < 6; ++b)
        for (int c = 0; c < 4; ++c)
          for (int d = 0; d < 4; ++d) {
            const double v = acc(pair_index(std::min(c, d), std::max(c, d), 4), pair_index(a, b, 6));
            s(4 * a + c, 4 * b + d) = v;
            s(4 * b + d, 4 * a + c) = v;
          }
    for (int k = 0; k < 24; ++k) s(k, k) += lambda * std::max(ct.diag(k), kMinDiagonal);
    for (int k = 0; k < 24; ++k)
      if (fixed[k]) {
        s.row(k).setZero();
        s.col(k).setZero();
        s(k, k) = 1.0;
        rhs(k) = 0.0;
      }
    Eigen::LLT<Mat24> llt(s);
    bool step_ok = llt.info() == Eigen::Success;
    if (step_ok) {
      dc = llt.solve(rhs);
      step_ok = dc.allFinite();
    }
    double step2 = 0.0, param2 = 0.0, predicted = 0.0, new_cost = kInf;
    if (step_ok) {
      // Points by back-substitution; the model's decrease on the way.
      for (int k = 0; k < 24; ++k) {
        const double pk = f->p[k / 12][k % 12];
        trial_frame.p[k / 12][k % 12] = pk + dc(k);
        step2 += dc(k) * dc(k), param2 += pk * pk;
        predicted += 0.5 * (lambda * std::max(ct.diag(k), kMinDiagonal) * dc(k) * dc(k) - ct.gc(k) * dc(k));
      }
      for (size_t q = 0; q < n; ++q) {
        const Workspace::Block &bl = bcur[q];
        // W^T dc = E^T (dc as 6 x 4) x.
        double y[6];
        for (int a = 0; a < 6; ++a)
          y[a] = dc(4 * a) * bl.x[0] + dc(4 * a + 1) * bl.x[1] + dc(4 * a + 2) * bl.x[2] +
                 dc(4 * a + 3) * bl.x[3];
        double z[3];
        for (int c = 0; c < 3; ++c) {
          z[c] = bl.gp[c];
          for (int a = 0; a < 6; ++a) z[c] += bl.e[a][c] * y[a];
        }
        for (int k = 0; k < 3; ++k) {
          const double dp = -(bl.vinv[k][0] * z[0] + bl.vinv[k][1] * z[1] + bl.vinv[k][2] * z[2]);
          next[3 * q + k] = cur[3 * q + k] + dp;
          step2 += dp * dp, param2 += cur[3 * q + k] * cur[3 * q + k];
          predicted += 0.5 * (lambda * std::max(bl.v[k][k], kMinDiagonal) * dp * dp - bl.gp[k] * dp);
        }
      }
      if (std::sqrt(step2) <= o.parameter_tolerance * (std::sqrt(param2) + o.parameter_tolerance))
        break;
      // The model's decrease matches the real one closely near the optimum
      // (gain ratios within a few per cent of 1): a step that promises less
      // than a hundredth of the function tolerance would move the result by
      // far less than its printed digits, so it is not evaluated and the
      // current estimate with its linearisation stands. (A larger bound
      // would stop early in curved valleys, where each step promises little
      // and there is much to gain over many.)
      if (predicted <= 1e-2 * o.function_tolerance * cost) break;
      if (!f->affine)
        for (int v = 0; v < 2; ++v) {
          Eigen::Map<Eigen::Matrix<double, 12, 1>> pv(trial_frame.p[v]);
          pv.normalize();
        }
      ct_next = CameraTerms();
      new_cost = 0.0;
      for (size_t q = 0; q < n; ++q) {
        PointTerms t;
        double *pt = next + 3 * q;
        bool ok = polish_point(trial_frame, obs[q].v, pt, &t);
        // A point whose depth the views barely fix can be sent far off by
        // the linear step (its block promises that moving it costs almost
        // nothing); when its error grows by more than the Huber threshold
        // squared, it starts again from where it was, which the trial
        // cameras barely move.
        if (!ok || t.sq > bcur[q].sq + huber * huber) {
          double again[3] = {cur[3 * q], cur[3 * q + 1], cur[3 * q + 2]};
          PointTerms ta;
          if (polish_point(trial_frame, obs[q].v, again, &ta) && (!ok || ta.sq < t.sq)) {
            std::copy(again, again + 3, pt);
            t = ta;
            ok = true;
          }
        }
        if (!ok) {
          new_cost = kInf;
          break;
        }
        new_cost += linearise(trial_frame, t, pt, huber, &bnext[q], &ct_next);
      }
      new_cost *= 0.5;
      if (!std::isfinite(new_cost)) new_cost = kInf;
    }
    const double gain = predicted > 0.0 ? (cost - new_cost) / predicted : -1.0;
    if (step_ok && new_cost < kInf && gain > 1e-3) {
      const double decrease = cost - new_cost;
      *f = trial_frame;
      std::swap(cur, next);
      std::swap(bcur, bnext);
      ct = ct_next;
      cost = new_cost;
      ++result->accepted;
      const double t = 2.0 * gain - 1.0;
      lambda *= std::max(1.0 / 3.0, 1.0 - t * t * t);
      growth = 2.0;
      if (decrease <= o.function_tolerance * cost) break;
    } else {
      lambda *= growth;
      growth *= 2.0;
      if (lambda > 1e32) break;
    }
  }
  for (size_t q = 0; q < n; ++q)
    for (int k = 0; k < 3; ++k) points[3 * static_cast<size_t>(idx[q]) + k] = cur[3 * q + k];
  result->final_cost = cost;
  for (int v = 0; v < 2; ++v)
    for (int e = 0; e < 12; ++e)
      if (!std::isfinite(f->p[v][e])) return false;
  if (!std::isfinite(cost)) return false;
  ws->current = static_cast<size_t>(bcur - ws->blocks.get());
  ws->adjusted = n;
  return true;
}

}  // namespace bundle
