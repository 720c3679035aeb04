// Bundle adjustment, optimal triangulation and re-selection.
#include "refine.h"

#include <Eigen/Dense>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#include "epipoles.h"
#include "estimator.h"
#include "six_point.h"
#include "linear.h"
#include "numeric.h"
#include "fixed_arrays.h"
#include "bundle.h"
#include "minimal.h"

namespace {

using bundle::Frame;
using bundle::make_frame;
using bundle::pixel_cameras;
using bundle::triangulate;
using Mat34 = Eigen::Matrix<double, 3, 4, Eigen::RowMajor>;
using Mat4 = Eigen::Matrix4d;
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr int kMinSupport = 7;
constexpr double kPlanarTolerance = 1.0;  // pixels
constexpr int kParallaxSample = 128;
constexpr int kParallaxDirections = 128;
constexpr double kParallaxSame = 1.1;
constexpr size_t kLoCap = 100;
constexpr int kLoRepeats = 3;
constexpr int kLoIter = 5;

bool finite_record(const MatchRecord &m) {
  return std::isfinite(m.first.x) && std::isfinite(m.first.y) && std::isfinite(m.middle.x) &&
         std::isfinite(m.middle.y) && std::isfinite(m.last.x) && std::isfinite(m.last.y);
}

const MatchPoint &view_point(const MatchRecord &m, int v) {
  return v == 0 ? m.first : (v == 1 ? m.middle : m.last);
}

Mat34 to_mat(const double p[3][4]) {
  Mat34 m;
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 4; ++c) m(r, c) = p[r][c];
  return m;
}
void from_mat(const Mat34 &m, double p[3][4]) {
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 4; ++c) p[r][c] = m(r, c);
}

// Per-image scale s of the flagged triplets, the root-mean-square coordinate
// (the scale normalisation of the tensor computations).
bool support_scales(const MatchRecord *matches, int count, const int32_t *flags, double s[3]) {
  double sum[3] = {0, 0, 0};
  int n = 0;
  for (int i = 0; i < count; ++i) {
    if (!flags[i]) continue;
    for (int v = 0; v < 3; ++v) {
      const MatchPoint &p = view_point(matches[i], v);
      sum[v] += p.x * p.x + p.y * p.y;
    }
    ++n;
  }
  if (n == 0) return false;
  for (int v = 0; v < 3; ++v) {
    s[v] = std::sqrt(sum[v] / (2.0 * n));
    if (!(s[v] > 0.0) || !std::isfinite(s[v])) return false;
  }
  return true;
}

// Re-selection: triangulates every triplet from the point in *points and
// flags those with all three errors strictly below d. The triplets of the
// adjustment that ws describes (flagged in `adjusted`) keep their adjusted
// point when a further Gauss-Newton step of it would lower its squared
// error by less than the triangulation's own stopping rule: that point is
// already the optimal one. Returns the number flagged.
int reselect(const Frame &f, const MatchRecord *matches, int count, double d,
             const int32_t *adjusted, const bundle::Workspace &ws, std::vector<double> *points,
             std::vector<double> *errors, int32_t *flags) {
  int n = 0;
  size_t q = 0;
  for (int i = 0; i < count; ++i) {
    double *stored = &(*points)[3 * static_cast<size_t>(i)];
    double pt[3] = {0, 0, 0}, err[3];
    int ok = 0;
    double r[6], predicted;
    if (adjusted[i] && bundle::adjusted_residual(ws, q++, r, &predicted) &&
        predicted < 1e-10 * (1.0 + r[0] * r[0] + r[1] * r[1] + r[2] * r[2] + r[3] * r[3] +
                             r[4] * r[4] + r[5] * r[5])) {
      for (int v = 0; v < 3; ++v) err[v] = std::sqrt(r[2 * v] * r[2 * v] + r[2 * v + 1] * r[2 * v + 1]);
      std::copy(stored, stored + 3, pt);
      ok = std::isfinite(err[0]) && std::isfinite(err[1]) && std::isfinite(err[2]);
    } else {
      ok = finite_record(matches[i]) && bundle::triangulate_from(f, matches[i], stored, pt, err);
    }
    if (!ok) err[0] = err[1] = err[2] = kInf;
    for (int k = 0; k < 3; ++k) stored[k] = pt[k];
    for (int v = 0; v < 3; ++v) (*errors)[3 * i + v] = err[v];
    flags[i] = ok && err[0] < d && err[1] < d && err[2] < d;
    n += flags[i];
  }
  return n;
}

// Projective gauge fitted to the points. With the last camera [I | 0]
// fixed, X -> H X with H = [I 0; v^T k] changes no image, and the fourth
// coordinate w of a point becomes (w - v.(a, b, 1)) / k. v is the
// least-squares plane of the flagged points' w over (a, b, 1) and k the rms
// spread about it, so that w comes out centred and of unit scale. In a
// nearly planar scene the original w is mostly that plane and the parallax
// a small remainder; the adjustment's linear model is then poor and its
// steps short (a slanted wall took 15 iterations a round without
// converging, and converges in 3-5 in the fitted gauge). Affine frames are
// left as they are.
void normalise_gauge(Frame *f, const int32_t *flags, int count, double *pts) {
  if (f->affine) return;
  Eigen::Matrix4d n = Eigen::Matrix4d::Zero();  // sums of (a, b, 1, w)(a, b, 1, w)^T
  int used = 0;
  for (int i = 0; i < count; ++i) {
    if (!flags[i]) continue;
    const double *p = pts + 3 * static_cast<size_t>(i);
    const Eigen::Vector4d r(p[0], p[1], 1.0, p[2]);
    n += r * r.transpose();
    ++used;
  }
  if (used < kMinSupport) return;
  const Eigen::Matrix3d a = n.block<3, 3>(0, 0);
  const Eigen::Vector3d aw = n.block<3, 1>(0, 3);
  const Eigen::LDLT<Eigen::Matrix3d> ldlt(a);
  if (ldlt.info() != Eigen::Success) return;
  const Eigen::Vector3d v = ldlt.solve(aw);
  const double rss = n(3, 3) - v.dot(aw);
  if (!v.allFinite() || !(rss > 0.0)) return;
  const double k = std::sqrt(rss / used);
  if (!(k > 1e-12) || !std::isfinite(k)) return;
  // P -> P H: columns a, b, 1 gain v times the w column, which scales by k.
  for (int c = 0; c < 2; ++c) {
    double *p = f->p[c];
    for (int r = 0; r < 3; ++r) {
      double *row = p + 4 * r;
      const double last = row[3];
      row[0] += v(0) * last, row[1] += v(1) * last, row[2] += v(2) * last, row[3] = k * last;
    }
    Eigen::Map<Eigen::Matrix<double, 12, 1>> pv(p);
    pv.normalize();
  }
  for (int i = 0; i < count; ++i) {
    if (!flags[i]) continue;
    double *p = pts + 3 * static_cast<size_t>(i);
    p[2] = (p[2] - (v(0) * p[0] + v(1) * p[1] + v(2))) / k;
  }
}

// Linear points of f for the flagged triplets (zero where the fit is
// degenerate), then the projective gauge fitted to them.
void start_points(Frame *f, const MatchRecord *matches, int count, const int32_t *flags,
                  double *pts) {
  for (int i = 0; i < count; ++i) {
    double *p = pts + 3 * static_cast<size_t>(i);
    if (flags[i] && !bundle::linear_point(*f, matches[i], p)) p[0] = p[1] = p[2] = 0.0;
  }
  normalise_gauge(f, flags, count, pts);
}

// One adjustment over the flagged triplets, points from `points`, until the
// relative decrease falls below `tolerance`.
bool adjust(Frame *f, const MatchRecord *matches, int count, const int32_t *flags,
            std::vector<double> *points, const RefineOptions &o, bundle::Workspace *ws,
            double tolerance, double *cost = nullptr) {
  bundle::Options bo;
  // Huber at the inlier distance on the triplet's rms error per image.
  bo.huber = o.distance * std::sqrt(3.0);
  bo.max_iterations = o.iterations;
  bo.function_tolerance = tolerance;
  bundle::Result res;
  const bool ok = bundle::adjust(f, matches, count, flags, points->data(), bo, ws, &res);
  if (cost) *cost = res.final_cost;
  return ok;
}

// Homographies from the last image to the first and the middle image
// (coordinates divided by s), the linear least-squares fit over the flagged
// triplets.
void fit_homographies(const MatchRecord *matches, int count, const int32_t *flags,
                      const double s[3], Eigen::Matrix3d h[2]) {
  for (int v = 0; v < 2; ++v) {
    // The two rows of a correspondence are (p, 0, -u p) and (0, p, -w p)
    // with p = (x, y, 1), so their normal matrix is built from the sums of
    // p p^T weighted by 1, u, w and u^2 + w^2.
    Eigen::Matrix3d m0 = Eigen::Matrix3d::Zero(), mu = m0, mw = m0, muw = m0;
    for (int i = 0; i < count; ++i) {
      if (!flags[i]) continue;
      const MatchPoint &a = matches[i].last, &b = view_point(matches[i], v);
      const double x = a.x / s[2], y = a.y / s[2], u = b.x / s[v], w = b.y / s[v];
      const Eigen::Vector3d p(x, y, 1.0);
      const Eigen::Matrix3d pp = p * p.transpose();
      m0 += pp;
      mu += u * pp;
      mw += w * pp;
      muw += (u * u + w * w) * pp;
    }
    Eigen::Matrix<double, 9, 9> n = Eigen::Matrix<double, 9, 9>::Zero();
    n.block<3, 3>(0, 0) = m0;
    n.block<3, 3>(3, 3) = m0;
    n.block<3, 3>(0, 6) = -mu;
    n.block<3, 3>(6, 0) = -mu;
    n.block<3, 3>(3, 6) = -mw;
    n.block<3, 3>(6, 3) = -mw;
    n.block<3, 3>(6, 6) = muw;
    Eigen::SelfAdjointEigenSolver<Eigen::Matrix<double, 9, 9>> es(n);
    Eigen::Matrix<double, 9, 1> e = es.eigenvectors().col(0);
    for (int k = 0; k < 9; ++k) h[v](k / 3, k % 3) = e(k);
  }
}

// Whether homographies h transfer triplet m from the last image within r
// pixels of its positions in the first and in the middle image.
bool transfers_within(const Eigen::Matrix3d h[2], const MatchRecord &m, const double s[3],
                      double r) {
  for (int v = 0; v < 2; ++v) {
    const MatchPoint &a = m.last, &b = view_point(m, v);
    const Eigen::Vector3d q = h[v] * Eigen::Vector3d(a.x / s[2], a.y / s[2], 1.0);
    const double du = (q(0) / q(2)) * s[v] - b.x, dw = (q(1) / q(2)) * s[v] - b.y;
    if (!(std::sqrt(du * du + dw * dw) < r)) return false;
  }
  return true;
}

// Share of the flagged triplets that homographies from the last image to the
// first and to the middle image explain within d in both images; h receives
// the homographies.
double homography_share(const MatchRecord *matches, int count, const int32_t *flags,
                        const double s[3], double d, Eigen::Matrix3d h[2]) {
  fit_homographies(matches, count, flags, s, h);
  int flagged = 0, explained = 0;
  for (int i = 0; i < count; ++i) {
    if (!flags[i]) continue;
    ++flagged;
    explained += transfers_within(h, matches[i], s, d);
  }
  return flagged > 0 ? static_cast<double>(explained) / flagged : 0.0;
}

// A start of the adjustment that owes nothing to the sampler, for scenes
// whose parallax is weak: the homographies from the last image that fit the
// flagged triplets best (h on entry, those of their dominant plane), and epipoles from
// the parallax, which moves a point off the plane away from its transfer
// along the line through the epipole. When the parallax is close to the
// noise the adjustment has separate basins (an epipole far outside the
// image for a sideways motion and one inside it for a motion forwards fit
// the points almost equally well), and six-point samples cannot tell them
// apart. In the image with the stronger parallax, the epipole is the best of
// directions spread evenly over the half sphere (a Fibonacci lattice) by
// the truncated sum of squared distances of the positions from their lines
// (over at most kParallaxSample evenly spread triplets); each triplet's
// fourth coordinate w follows from that image, and the other image's
// epipole, scale included, from o x (y + w e) = 0 by linear least squares.
// false when the flagged triplets cannot give such cameras, or when the
// epipole of `current` fits the parallax about as well as the best direction.
bool plane_parallax_start(const MatchRecord *matches, int count, const int32_t *flags,
                          const double s[3], double d, const Frame &current,
                          Eigen::Matrix3d h[2], Frame *out) {
  // Refitted to the triplets they transfer within 3 d in both images, so
  // that a few wrong triplets among the flagged ones cannot bend them; the
  // epipole of the other image comes from those triplets too (a wrong
  // triplet's w, and so its weight there, can be large).
  std::vector<int32_t> near(static_cast<size_t>(count), 0);
  {
    int kept = 0;
    for (int i = 0; i < count; ++i) {
      const bool ok = flags[i] && transfers_within(h, matches[i], s, 3.0 * d);
      near[static_cast<size_t>(i)] = ok;
      kept += ok;
    }
    if (kept < kMinSupport) return false;
    fit_homographies(matches, count, near.data(), s, h);
  }
  // Transfers y (unscaled, as the camera [h | e] gives them) and positions o.
  const auto terms = [&](int i, int v, Eigen::Vector3d *y, Eigen::Vector3d *o) {
    const MatchPoint &a = matches[i].last, &b = view_point(matches[i], v);
    *y = h[v] * Eigen::Vector3d(a.x / s[2], a.y / s[2], 1.0);
    *o = Eigen::Vector3d(b.x / s[v], b.y / s[v], 1.0);
  };
  const double tau2 = d * d;
  double energy[2] = {0.0, 0.0};
  for (int i = 0; i < count; ++i) {
    if (!flags[i]) continue;
    for (int v = 0; v < 2; ++v) {
      Eigen::Vector3d y, o;
      terms(i, v, &y, &o);
      const double p2 = ((y / y(2)) - o).squaredNorm() * s[v] * s[v];
      if (std::isfinite(p2)) energy[v] += p2 < tau2 ? p2 : tau2;
    }
  }
  const int anchor = energy[1] > energy[0] ? 1 : 0, other = 1 - anchor;
  int flagged = 0;
  for (int i = 0; i < count; ++i) flagged += flags[i] != 0;
  const int stride = flagged > kParallaxSample ? flagged / kParallaxSample : 1;
  // The sampled triplets' normalised transfers and positions, in pixels of
  // the anchor image.
  double sy[kParallaxSample][2], so[kParallaxSample][2];
  int sampled = 0, seen = 0;
  for (int i = 0; i < count && sampled < kParallaxSample; ++i) {
    if (!flags[i] || seen++ % stride) continue;
    Eigen::Vector3d y, o;
    terms(i, anchor, &y, &o);
    if (!(std::fabs(y(2)) > 0.0)) continue;
    sy[sampled][0] = y(0) / y(2) * s[anchor], sy[sampled][1] = y(1) / y(2) * s[anchor];
    so[sampled][0] = o(0) * s[anchor], so[sampled][1] = o(1) * s[anchor];
    if (std::isfinite(sy[sampled][0]) && std::isfinite(sy[sampled][1])) ++sampled;
  }
  // Truncated cost of an epipole c (frame coordinates), ending at `bound`.
  const auto line_cost = [&](const Eigen::Vector3d &c, double bound) {
    // The epipole in pixels of the anchor image: (cx, cy, cz).
    const double cx = c(0) * s[anchor], cy = c(1) * s[anchor], cz = c(2);
    double cost = 0.0;
    for (int q = 0; q < sampled && cost < bound; ++q) {
      // Line through the transfer (yx, yy, 1) and the epipole.
      const double yx = sy[q][0], yy = sy[q][1];
      const double l0 = yy * cz - cy, l1 = cx - yx * cz, l2 = yx * cy - yy * cx;
      const double n2 = l0 * l0 + l1 * l1, dist = l0 * so[q][0] + l1 * so[q][1] + l2;
      const double e2 = n2 > 0.0 ? dist * dist / n2 : tau2;
      cost += e2 < tau2 ? e2 : tau2;
    }
    return cost;
  };
  Eigen::Vector3d e[2];
  double best = kInf;
  for (int g = 0; g < kParallaxDirections; ++g) {
    const double z = (g + 0.5) / kParallaxDirections, r = std::sqrt(1.0 - z * z);
    const double phi = 2.399963229728653 * g;  // the golden angle
    const Eigen::Vector3d c(r * std::cos(phi), r * std::sin(phi), z);
    const double cost = line_cost(c, best);
    if (cost < best) best = cost, e[anchor] = c;
  }
  if (!(best < kInf)) return false;
  // Nothing to try when the current cameras' epipole already fits the lines
  // as well as the best direction does (it is then in the same basin).
  const double *pc = current.p[anchor];
  if (line_cost(Eigen::Vector3d(pc[3], pc[7], pc[11]), kInf) <= kParallaxSame * best) return false;
  Eigen::Matrix3d m = Eigen::Matrix3d::Zero();
  Eigen::Vector3d rhs = Eigen::Vector3d::Zero();
  for (int i = 0; i < count; ++i) {
    if (!near[static_cast<size_t>(i)]) continue;
    Eigen::Vector3d y, o;
    terms(i, anchor, &y, &o);
    const Eigen::Vector3d oy = o.cross(y), oe = o.cross(e[anchor]);
    const double den = oe.squaredNorm();
    if (!(den > 0.0)) continue;
    const double w = -oy.dot(oe) / den;
    terms(i, other, &y, &o);
    Eigen::Matrix3d ox;
    ox << 0.0, -o(2), o(1), o(2), 0.0, -o(0), -o(1), o(0), 0.0;
    m += (w * w) * (ox.transpose() * ox);
    rhs -= w * (ox.transpose() * (ox * y));
  }
  const Eigen::LDLT<Eigen::Matrix3d> ldlt(m);
  if (ldlt.info() != Eigen::Success) return false;
  e[other] = ldlt.solve(rhs);
  for (int v = 0; v < 2; ++v) {
    double *p = out->p[v];
    for (int r = 0; r < 3; ++r) {
      for (int c = 0; c < 3; ++c) p[4 * r + c] = h[v](r, c);
      p[4 * r + 3] = e[v](r);
    }
    Eigen::Map<Eigen::Matrix<double, 12, 1>> pv(p);
    if (!pv.allFinite() || !(pv.norm() > 0.0)) return false;
    pv.normalize();
  }
  for (int v = 0; v < 3; ++v) out->s[v] = s[v];
  out->affine = false;
  return true;
}

Eigen::Vector4d centre(const Mat34 &p) {
  Eigen::FullPivLU<Mat34> lu(p);
  Eigen::Vector4d c = lu.kernel().col(0);
  return c.normalized();
}

void set_reason(RefineReport *r, const char *text) {
  std::snprintf(r->reason, sizeof r->reason, "%s", text);
}

// Tensor of the refined cameras in the faithful scaling.
// false when the camera decomposition meets a fatal numerical error
// (*failure names it).
bool tensor_of(const ThreeCameras &cams, bool affine, const MatchRecord *matches, int count,
               const int32_t *flags, const std::vector<double> &pts, const TrifocalTensor &input,
               TrifocalTensor *out, const char **failure) {
  if (affine) {
    // The affine computation on exact projections of the supporting points
    // through the refined cameras.
    std::vector<MatchRecord> exact;
    for (int i = 0; i < count; ++i) {
      if (!flags[i]) continue;
      MatchRecord r = matches[i];
      const Eigen::Vector4d x(pts[4 * i], pts[4 * i + 1], pts[4 * i + 2], pts[4 * i + 3]);
      for (int v = 0; v < 3; ++v) {
        const Eigen::Vector3d h = to_mat(cams.p[v]) * x;
        MatchPoint &p = v == 0 ? r.first : (v == 1 ? r.middle : r.last);
        p.x = h(0) / h(2), p.y = h(1) / h(2);
      }
      exact.push_back(r);
    }
    TrifocalTensor t = input;
    compute_affine_tensor(exact.data(), static_cast<int>(exact.size()), &t);
    *out = t;
    return true;
  }
  double s[3];
  support_scales(matches, count, flags, s);
  FixedMatrix<3, 4> c[3];  // last, middle, first
  for (int v = 0; v < 3; ++v) {
    const int src = 2 - v;
    for (int r = 0; r < 3; ++r)
      for (int k = 0; k < 4; ++k) c[v][r + 1][k + 1] = cams.p[src][r][k] / (r < 2 ? s[src] : 1.0);
  }
  TrifocalTensor t;
  if (tensor_from_cameras(c[0].get(), c[1].get(), c[2].get(), &t, failure) != Status::ok)
    return false;
  // Unit norm in the normalised coordinates, the sign that agrees with the
  // input tensor, then back to pixels.
  TrifocalTensor in = input;
  normalise_tensor(&in, 1.0 / s[0], 1.0 / s[1], 1.0 / s[2]);
  double norm = 0.0, dot = 0.0;
  for (int e = 0; e < 27; ++e) norm += t[e] * t[e], dot += t[e] * in[e];
  const double scale = (dot < 0.0 ? -1.0 : 1.0) / std::sqrt(norm);
  for (int e = 0; e < 27; ++e) t[e] *= scale;
  denormalise_tensor(&t, 1.0 / s[0], 1.0 / s[1], 1.0 / s[2]);
  *out = t;
  return true;
}

}  // namespace

int cameras_from_tensor(const TrifocalTensor &tensor, const MatchRecord *matches, int count,
                        const int32_t *flags, ThreeCameras *cameras) {
  double s[3];
  if (!support_scales(matches, count, flags, s)) return 0;
  TrifocalTensor t = tensor;
  for (int e = 0; e < 27; ++e)
    if (!std::isfinite(t[e])) return 0;
  normalise_tensor(&t, 1.0 / s[0], 1.0 / s[1], 1.0 / s[2]);
  double e_m[3], e_f[3];
  tensor_epipoles(t, e_m, e_f);
  // Camera form T(i,j,k) = A(j,i) e_f[k] - e_m[j] B(k,i) with B^T e_f = 0.
  Mat34 mid = Mat34::Zero(), fir = Mat34::Zero();
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) {
      double a = 0.0;
      for (int k = 0; k < 3; ++k) a += t(i, j, k) * e_f[k];
      mid(j, i) = a;
    }
  for (int i = 0; i < 3; ++i)
    for (int k = 0; k < 3; ++k) {
      double b = 0.0;
      for (int j = 0; j < 3; ++j) b -= e_m[j] * (t(i, j, k) - mid(j, i) * e_f[k]);
      fir(k, i) = b;
    }
  for (int r = 0; r < 3; ++r) mid(r, 3) = e_m[r], fir(r, 3) = e_f[r];
  Mat34 last = Mat34::Zero();
  last(0, 0) = last(1, 1) = last(2, 2) = 1.0;
  Mat34 c[3] = {fir, mid, last};
  for (int v = 0; v < 3; ++v) {
    c[v].row(0) *= s[v];
    c[v].row(1) *= s[v];
    if (!c[v].allFinite()) return 0;
    from_mat(c[v], cameras->p[v]);
  }
  return 1;
}

int refine_geometry(const MatchRecord *matches, int count, const int32_t *support,
                    const ThreeCameras &start, const TrifocalTensor &input,
                    const RefineOptions &o, RefineReport *report) {
  report->refined = 0;
  report->reason[0] = '\0';
  for (int i = 0; i < count; ++i)
    if (!finite_record(matches[i])) {
      set_reason(report, "NaN or infinite coordinates in the triplets");
      return 0;
    }
  std::vector<int32_t> flags(support, support + count);
  int n = 0;
  for (int i = 0; i < count; ++i) n += flags[i] != 0;
  if (n < kMinSupport) {
    set_reason(report, "fewer than seven supporting triplets");
    return 0;
  }
  double s[3];
  if (!support_scales(matches, count, flags.data(), s)) {
    set_reason(report, "all positions of one image at the origin");
    return 0;
  }
  // The views count as related by homographies when those explain 95% of
  // the support within the inlier distance, but never within more than a
  // pixel: a larger distance admits more outliers, it does not make small
  // parallax less real (a nearly planar wall at -d 2 keeps 1-2 px of it).
  Eigen::Matrix3d planar[2];
  const double share = homography_share(matches, count, flags.data(), s,
                                        std::min(o.distance, kPlanarTolerance), planar);
  if (share >= 0.95) {
    set_reason(report, "the views are related by homographies (scene points on one plane, or cameras with one centre)");
    return 0;
  }
  Frame f;
  if (!make_frame(start, s, o.affine, &f)) {
    set_reason(report, "the starting cameras are degenerate");
    return 0;
  }
  std::vector<double> pts(3 * static_cast<size_t>(count)), errs(3 * static_cast<size_t>(count));
  std::vector<int32_t> next(static_cast<size_t>(count));
  // Points of the starting cameras, for the triplets the first adjustment
  // uses (the re-selection after it triangulates every triplet): the linear
  // points, since every iteration of the adjustment moves each point to its
  // optimum for the cameras of its step anyway.
  start_points(&f, matches, count, flags.data(), pts.data());
  int rounds = 0;
  int selected = 0;
  bundle::Workspace ws[2];  // the current adjustment's and the rival start's
  int cur = 0;
  bool rival = !o.affine;
  for (;;) {
    ++rounds;
    // The iterations converge several times over per step near the optimum,
    // so after a relative decrease of 1e-4 the rest is far below 1e-4 of
    // the cost, which moves the rms error by far less than the noise.
    double cost = 0.0;
    if (!adjust(&f, matches, count, flags.data(), &pts, o, &ws[cur], 1e-4, &cost)) {
      set_reason(report, "the adjustment did not converge");
      return 0;
    }
    if (rival) {
      // Once: the same adjustment from the dominant plane and its parallax
      // (plane_parallax_start); the lower cost over the same triplets wins.
      // A start in the other basin of a nearly planar scene ends at a
      // visibly higher cost; elsewhere both reach the same optimum.
      rival = false;
      Frame alt;
      if (plane_parallax_start(matches, count, flags.data(), s, o.distance, f, planar, &alt)) {
        std::vector<double> apts(pts.size(), 0.0);
        start_points(&alt, matches, count, flags.data(), apts.data());
        // A few iterations tell the basins apart; the rounds that follow
        // converge the winner.
        RefineOptions ao = o;
        ao.iterations = kLoIter;
        double alt_cost = kInf;
        if (adjust(&alt, matches, count, flags.data(), &apts, ao, &ws[1 - cur], 1e-3, &alt_cost) &&
            alt_cost < cost) {
          f = alt;
          pts.swap(apts);
          cur = 1 - cur;
        }
      }
    }
    selected = reselect(f, matches, count, o.distance, flags.data(), ws[cur], &pts, &errs, next.data());
    if (selected < kMinSupport) {
      set_reason(report, "fewer than seven triplets support the refined geometry");
      return 0;
    }
    const bool same = next == flags;
    flags = next;
    if (same || rounds >= o.max_rounds) break;
  }
  ThreeCameras cams = pixel_cameras(f);
  const Eigen::Vector4d c0 = centre(to_mat(cams.p[0])), c1 = centre(to_mat(cams.p[1])),
                        c2 = centre(to_mat(cams.p[2]));
  const auto apart = [](const Eigen::Vector4d &a, const Eigen::Vector4d &b) {
    return (a - b).norm() > 1e-6 && (a + b).norm() > 1e-6;
  };
  if (!o.affine && (!apart(c0, c1) || !apart(c1, c2) || !apart(c0, c2))) {
    set_reason(report, "cameras with one centre");
    return 0;
  }
  report->cameras = cams;
  report->support = flags;
  report->errors = errs;
  report->points.assign(4 * static_cast<size_t>(count), 0.0);
  double sum = 0.0, worst = 0.0;
  for (int i = 0; i < count; ++i) {
    double *x = &report->points[4 * static_cast<size_t>(i)];
    const double *p = &pts[3 * static_cast<size_t>(i)];
    if (o.affine) x[0] = p[0], x[1] = p[1], x[2] = p[2], x[3] = 1.0;
    else x[0] = p[0], x[1] = p[1], x[2] = 1.0, x[3] = p[2];
    // The pixel cameras differ from the frame's by the image scaling only.
    if (!flags[i]) continue;
    for (int v = 0; v < 3; ++v) {
      const double e = errs[3 * static_cast<size_t>(i) + v];
      sum += e * e;
      if (e > worst) worst = e;
    }
  }
  report->rounds = rounds;
  report->supported = selected;
  report->rms = std::sqrt(sum / (3.0 * selected));
  report->max = worst;
  const char *failure = nullptr;
  if (!tensor_of(cams, o.affine, matches, count, flags.data(), report->points, input,
                 &report->tensor, &failure)) {
    std::snprintf(report->reason, sizeof report->reason, "the refined cameras give no tensor (%s)",
                  failure ? failure : "numerical failure");
    return 0;
  }
  for (int e = 0; e < 27; ++e)
    if (!std::isfinite(report->tensor[e])) {
      set_reason(report, "the refined cameras give no finite tensor");
      return 0;
    }
  report->refined = 1;
  return 1;
}


namespace {

// splitmix64: a fixed-seed generator of the sampler's own, the same sequence
// on every machine.
struct SampleRandom {
  uint64_t state = 0x5eed2011u;
  uint64_t next() {
    uint64_t z = (state += 0x9e3779b97f4a7c15ULL);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
  }
  int below(int n) { return static_cast<int>(next() % static_cast<uint64_t>(n)); }
};

// A triplet's positions divided by the sampler's per-image scales (the
// frame's s), computed once per call.
struct Scaled {
  double x0, y0, x1, y1, a, b;
};

Scaled scaled(const MatchRecord &m, const double s[3]) {
  return Scaled{m.first.x / s[0], m.first.y / s[0], m.middle.x / s[1],
                m.middle.y / s[1], m.last.x / s[2],  m.last.y / s[2]};
}

// Two doubles processed together (SSE2, part of every x86-64): the same
// IEEE operations as on one double, two triplets at a time.
typedef double Lanes2 __attribute__((vector_size(16)));

// Cheap error of a triplet: the point on the last image's ray whose remaining
// parameter best fits the first two images linearly; the sum of its squared
// reprojection errors there, pixels squared. T is double for one triplet or
// Lanes2 for two: the operations and their order are the same, so a
// triplet's error has the same bits either way. *den is the fit's
// denominator (the error means nothing unless it is positive).
template <typename T>
T cheap_terms(const Frame &f, const T obs[2][2], const T &a, const T &b, T *den_out) {
  const int ci = f.affine ? 2 : 3, fixed = f.affine ? 3 : 2;
  T k[2][3];  // h = k + c d per view
  double d[2][3];
  T num = T{}, den = T{};
  for (int v = 0; v < 2; ++v) {
    const double *p = f.p[v];
    for (int r = 0; r < 3; ++r) {
      k[v][r] = p[4 * r] * a + p[4 * r + 1] * b + p[4 * r + fixed];
      d[v][r] = p[4 * r + ci];
    }
    for (int r = 0; r < 2; ++r) {
      const T &o = obs[v][r];
      const T kk = k[v][r] - o * k[v][2], dd = d[v][r] - o * d[v][2];
      num += kk * dd, den += dd * dd;
    }
  }
  const T c = -num / den;
  T e2 = T{};
  for (int v = 0; v < 2; ++v) {
    const T ih = f.s[v] / (k[v][2] + c * d[v][2]);
    const T du = (k[v][0] + c * d[v][0]) * ih - obs[v][0] * f.s[v];
    const T dv = (k[v][1] + c * d[v][1]) * ih - obs[v][1] * f.s[v];
    e2 += du * du + dv * dv;
  }
  *den_out = den;
  return e2;
}

double cheap_error2(const Frame &f, const Scaled &m) {
  const double obs[2][2] = {{m.x0, m.y0}, {m.x1, m.y1}};
  double den;
  const double e2 = cheap_terms(f, obs, m.a, m.b, &den);
  return den > 0.0 && std::isfinite(e2) ? e2 : kInf;
}

// cheap_error2 of m and n.
void cheap_error2_pair(const Frame &f, const Scaled &m, const Scaled &n, double out[2]) {
  const Lanes2 obs[2][2] = {{Lanes2{m.x0, n.x0}, Lanes2{m.y0, n.y0}},
                            {Lanes2{m.x1, n.x1}, Lanes2{m.y1, n.y1}}};
  Lanes2 den;
  const Lanes2 e2 = cheap_terms(f, obs, Lanes2{m.a, n.a}, Lanes2{m.b, n.b}, &den);
  for (int l = 0; l < 2; ++l) out[l] = den[l] > 0.0 && std::isfinite(e2[l]) ? e2[l] : kInf;
}

// cheap_error2 of every triplet of obs.
void cheap_errors(const Frame &f, const Scaled *obs, int count, double *out) {
  int i = 0;
  for (; i + 1 < count; i += 2) cheap_error2_pair(f, obs[i], obs[i + 1], out + i);
  if (i < count) out[i] = cheap_error2(f, obs[i]);
}

// Sequential probability ratio test on the hypotheses: a triplet consistent
// with the hypothesis multiplies the likelihood ratio by delta / epsilon, an
// inconsistent one by (1 - delta) / (1 - epsilon); the hypothesis is rejected
// as soon as the ratio exceeds a. epsilon is the inlier share of the best
// hypothesis so far, delta the share of triplets consistent with rejected
// ones; a balances the cost of a sample (t_m triplet evaluations, m_s
// hypotheses per sample) against that of evaluating.
struct Sprt {
  bool active = false;
  double epsilon = 0.0, delta = 0.05, a = 0.0;
  double up = 1.0, down = 1.0;
  void update(double t_m, double m_s) {
    active = epsilon > 1.5 * delta && epsilon < 1.0;
    if (!active) return;
    const double c = (1.0 - delta) * std::log((1.0 - delta) / (1.0 - epsilon)) +
                     delta * std::log(delta / epsilon);
    const double a0 = t_m * c / m_s + 1.0;
    a = a0;
    for (int it = 0; it < 10; ++it) a = a0 + std::log(a);
    up = (1.0 - delta) / (1.0 - epsilon);
    down = delta / epsilon;
  }
};

// How a hypothesis' scoring ended.
struct Scored {
  double cost = kInf;  // kInf when rejected
  int inliers = 0;     // consistent triplets among the tested ones
  int tested = 0;
  bool by_test = false;  // rejected by the ratio test (not by the bound)
};

// Truncated quadratic over all triplets (in the order of `obs`), ending as
// soon as it reaches `bound` (every term is non-negative, so the bail-out is
// exact) or, when the test is active, when the test rejects the hypothesis.
Scored msac_cost(const Frame &f, const Scaled *obs, int count, double tau2, double bound,
                 const Sprt &test) {
  Scored out;
  double cost = 0.0, ratio = 1.0;
  int n = 0;
  double pair[2];
  for (int i = 0; i < count; ++i) {
    // Two triplets' errors at a time; the sums and tests still go one by one.
    if (!(i & 1)) {
      if (i + 1 < count) cheap_error2_pair(f, obs[i], obs[i + 1], pair);
      else pair[0] = cheap_error2(f, obs[i]);
    }
    const double e2 = pair[i & 1];
    if (e2 < tau2) cost += e2, ++n, ratio *= test.down;
    else cost += tau2, ratio *= test.up;
    if (cost >= bound || (test.active && ratio > test.a)) {
      out.inliers = n;
      out.tested = i + 1;
      out.by_test = !(cost >= bound);
      return out;
    }
  }
  out.cost = cost;
  out.inliers = n;
  out.tested = count;
  return out;
}

// Buffers of the local optimisation, sized once per robust_estimate call.
struct LocalWork {
  std::vector<int32_t> flags;
  std::vector<int> in;
  std::vector<double> pts;
  std::vector<double> e2;  // cheap errors of every triplet
  bundle::Workspace ws;
  explicit LocalWork(int count)
      : flags(static_cast<size_t>(count), 0), pts(3 * static_cast<size_t>(count), 0.0),
        e2(static_cast<size_t>(count), 0.0) {
    in.reserve(static_cast<size_t>(count));
  }
};

// Local optimisation: an adjustment of the hypothesis over (at most 100,
// evenly spread) of the triplets within twice the scoring threshold, a few
// iterations. A hypothesis from six noisy triplets misplaces many true
// inliers by more than the threshold; taking them in (the robust loss of
// the adjustment keeps the outliers among them from pulling) lets one
// optimisation reach most of the inliers, where fitting only the current
// inliers gained a few at a time (330, 525, 627, then 749 of the box's
// 751 inliers in three optimisations).
bool local_optimise(Frame *f, const MatchRecord *matches, const Scaled *obs, int count,
                    double tau2, double d, LocalWork *lw) {
  std::vector<int> &in = lw->in;
  in.clear();
  cheap_errors(*f, obs, count, lw->e2.data());
  const double wide2 = 4.0 * tau2;
  for (int i = 0; i < count; ++i)
    if (lw->e2[static_cast<size_t>(i)] < wide2) in.push_back(i);
  if (in.size() < 7) return false;
  std::fill(lw->flags.begin(), lw->flags.end(), 0);
  const size_t keep = in.size() < kLoCap ? in.size() : kLoCap;
  for (size_t q = 0; q < keep; ++q) lw->flags[static_cast<size_t>(in[q * in.size() / keep])] = 1;
  for (int i = 0; i < count; ++i) {
    if (!lw->flags[i]) continue;
    double err[3];
    triangulate(*f, matches[i], &lw->pts[3 * static_cast<size_t>(i)], err);
  }
  normalise_gauge(f, lw->flags.data(), count, lw->pts.data());
  RefineOptions o;
  o.distance = d;
  o.affine = f->affine;
  o.iterations = kLoIter;
  // The local optimisation only has to find the inliers (the refinement
  // converges fully afterwards): a looser tolerance.
  return adjust(f, matches, count, lw->flags.data(), &lw->pts, o, &lw->ws, 1e-3);
}

}  // namespace

int robust_estimate(const MatchRecord *matches, int count, const RobustOptions &o,
                    int32_t *support, RobustReport *report) {
  *report = RobustReport();
  const int sample_size = o.affine ? 4 : 6;
  for (int i = 0; i < count; ++i)
    if (!finite_record(matches[i])) {
      std::snprintf(report->reason, sizeof report->reason, "NaN or infinite coordinates in the triplets");
      return 0;
    }
  if (count < kMinSupport) {
    std::snprintf(report->reason, sizeof report->reason, "fewer than seven triplets");
    return 0;
  }
  std::vector<int32_t> all(static_cast<size_t>(count), 1);
  double g[3];
  if (!support_scales(matches, count, all.data(), g)) {
    std::snprintf(report->reason, sizeof report->reason, "all positions of one image at the origin");
    return 0;
  }
  const double tau2 = 4.0 * o.distance * o.distance;
  const double p = o.confidence > 0.0 && o.confidence < 1.0 ? o.confidence : 0.999;
  SampleRandom rnd;
  // Positions scaled once, in file order and in a fixed shuffled order for
  // the scoring (the ratio test assumes the triplets come in random order).
  std::vector<Scaled> sc(static_cast<size_t>(count)), order(static_cast<size_t>(count));
  {
    std::vector<int> perm(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) perm[static_cast<size_t>(i)] = i;
    SampleRandom shuffle;
    shuffle.state = 0x0de7e2a1u;
    for (int i = count - 1; i > 0; --i) std::swap(perm[static_cast<size_t>(i)], perm[static_cast<size_t>(shuffle.below(i + 1))]);
    for (int i = 0; i < count; ++i) {
      sc[static_cast<size_t>(i)] = scaled(matches[i], g);
      order[static_cast<size_t>(i)] = scaled(matches[perm[static_cast<size_t>(i)]], g);
    }
  }
  // Cost of a sample in triplet evaluations and hypotheses per sample, for
  // the ratio test's threshold (measured orders of magnitude).
  const double t_m = o.affine ? 10.0 : 300.0, m_s = o.affine ? 1.0 : 2.4;
  Sprt test;
  const Sprt off;
  double consistent = 0.0, seen = 0.0;  // over rejected hypotheses
  Frame best{}, f{};
  double best_cost = kInf;
  int best_inliers = 0;
  double needed = static_cast<double>(o.max_samples > 0 ? o.max_samples : 1);
  int k = 0;
  int failures = 0;
  LocalWork lw(count);
  while (k < needed && k < (o.max_samples > 0 ? o.max_samples : 1) && failures < 10000) {
    int idx[6];
    MatchRecord sample[6];
    for (int q = 0; q < sample_size; ++q) {
      int c = rnd.below(count);
      for (int r = 0; r < q;)
        if (idx[r] == c) c = (c + 1) % count, r = 0;
        else ++r;
      idx[q] = c;
      sample[q] = matches[c];
    }
    ThreeCameras cams[3];
    int hyps = 0;
    if (o.affine) {
      const MatchRecord &m0 = sample[0];
      for (int v = 0; v < 3; ++v) {
        const MatchPoint &z = view_point(m0, v);
        double(*c)[4] = cams[0].p[v];
        for (int q = 0; q < 3; ++q) {
          const MatchPoint &e = view_point(sample[q + 1], v);
          c[0][q] = e.x - z.x, c[1][q] = e.y - z.y, c[2][q] = 0.0;
        }
        c[0][3] = z.x, c[1][3] = z.y, c[2][3] = 1.0;
      }
      hyps = 1;
    } else {
      hyps = six_point_cameras(sample, cams);
    }
    ++k;
    if (hyps == 0) {
      --k, ++failures;
      continue;
    }
    failures = 0;
    for (int h = 0; h < hyps; ++h) {
      if (!make_frame(cams[h], g, o.affine, &f)) continue;
      ++report->hypotheses;
      const Scored sc_f = msac_cost(f, order.data(), count, tau2, best_cost, test);
      if (!(sc_f.cost < best_cost)) {
        // A rejected hypothesis: its consistent share estimates delta.
        consistent += sc_f.inliers, seen += sc_f.tested;
        if (seen >= 200.0) {
          const double d_new = std::min(0.3, std::max(0.001, consistent / seen));
          if (std::fabs(d_new - test.delta) > 0.1 * test.delta) {
            test.delta = d_new;
            test.update(t_m, m_s);
          }
        }
        continue;
      }
      double cost = sc_f.cost;
      int inl = sc_f.inliers;
      // Local optimisation, repeated from its own inliers while it lowers
      // the cost.
      for (int rep = 0; rep < kLoRepeats; ++rep) {
        Frame lo = f;
        ++report->local_optimisations;
        if (!local_optimise(&lo, matches, sc.data(), count, tau2, o.distance, &lw)) break;
        const Scored sc_lo = msac_cost(lo, order.data(), count, tau2, cost, off);
        if (!(sc_lo.cost < cost)) break;
        f = lo, cost = sc_lo.cost, inl = sc_lo.inliers;
      }
      best = f, best_cost = cost, best_inliers = inl;
      const double w = static_cast<double>(inl) / count;
      test.epsilon = w;
      test.update(t_m, m_s);
      // A good hypothesis passes the test with probability about 1 - 1/a.
      const double pass = test.active ? 1.0 - 1.0 / test.a : 1.0;
      const double miss = 1.0 - std::pow(w, sample_size) * pass;
      needed = miss <= 0.0 ? 0.0 : (miss >= 1.0 ? needed : std::log(1.0 - p) / std::log(miss));
    }
  }
  report->samples = k;
  if (!(best_cost < kInf) || best_inliers < kMinSupport) {
    std::snprintf(report->reason, sizeof report->reason, "no hypothesis with seven inliers");
    return 0;
  }
  cheap_errors(best, sc.data(), count, lw.e2.data());
  for (int i = 0; i < count; ++i) support[i] = lw.e2[static_cast<size_t>(i)] < tau2;
  report->inliers = best_inliers;
  report->cameras = pixel_cameras(best);
  report->found = 1;
  return 1;
}
