// Bundle adjustment, optimal triangulation and re-selection.
#include "refine.h"

#include <ceres/ceres.h>

#include <Eigen/Dense>
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

namespace {

using Mat34 = Eigen::Matrix<double, 3, 4, Eigen::RowMajor>;
using Mat4 = Eigen::Matrix4d;
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr int kMinSupport = 7;
constexpr size_t kLoCap = 100;
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

// Reprojection residual of one triplet, in pixels, over the two free cameras
// (first, middle; 12 entries each, normalised frame) and the point's three
// parameters. The last camera is fixed at [I | 0] (projective: the point is
// (a, b, 1, w)) or [[1,0,0,0],[0,1,0,0],[0,0,0,1]] (affine: (a, b, z, 1)).
class TripletCost : public ceres::SizedCostFunction<6, 12, 12, 3> {
 public:
  TripletCost(const double obs[3][2], const double scale[3], bool affine) : affine_(affine) {
    for (int v = 0; v < 3; ++v) {
      obs_[v][0] = obs[v][0], obs_[v][1] = obs[v][1];
      scale_[v] = scale[v];
    }
  }
  bool Evaluate(double const *const *parameters, double *residuals,
                double **jacobians) const override {
    const double *pt = parameters[2];
    double x[4];
    if (affine_) x[0] = pt[0], x[1] = pt[1], x[2] = pt[2], x[3] = 1.0;
    else x[0] = pt[0], x[1] = pt[1], x[2] = 1.0, x[3] = pt[2];
    const int free_index[3] = {0, 1, affine_ ? 2 : 3};
    if (jacobians) {
      for (int b = 0; b < 3; ++b)
        if (jacobians[b]) std::memset(jacobians[b], 0, sizeof(double) * 6 * (b < 2 ? 12 : 3));
    }
    for (int v = 0; v < 2; ++v) {
      const double *p = parameters[v];
      double h[3];
      for (int r = 0; r < 3; ++r)
        h[r] = p[4 * r] * x[0] + p[4 * r + 1] * x[1] + p[4 * r + 2] * x[2] + p[4 * r + 3] * x[3];
      if (!(std::fabs(h[2]) > 1e-300)) return false;
      const double u = h[0] / h[2], w = h[1] / h[2];
      const double s = scale_[v];
      residuals[2 * v] = s * (u - obs_[v][0]);
      residuals[2 * v + 1] = s * (w - obs_[v][1]);
      if (!jacobians) continue;
      const double inv = s / h[2];
      if (jacobians[v]) {
        double *j = jacobians[v] + 2 * v * 12;  // rows 2v and 2v + 1
        for (int c = 0; c < 4; ++c) {
          j[c] = inv * x[c];
          j[8 + c] = -inv * u * x[c];
          j[12 + 4 + c] = inv * x[c];
          j[12 + 8 + c] = -inv * w * x[c];
        }
      }
      if (jacobians[2]) {
        double *j = jacobians[2];
        for (int q = 0; q < 3; ++q) {
          const int c = free_index[q];
          j[(2 * v) * 3 + q] = inv * (p[c] - u * p[8 + c]);
          j[(2 * v + 1) * 3 + q] = inv * (p[4 + c] - w * p[8 + c]);
        }
      }
    }
    residuals[4] = scale_[2] * (pt[0] - obs_[2][0]);
    residuals[5] = scale_[2] * (pt[1] - obs_[2][1]);
    if (jacobians && jacobians[2]) {
      jacobians[2][4 * 3 + 0] = scale_[2];
      jacobians[2][5 * 3 + 1] = scale_[2];
    }
    return true;
  }

 private:
  double obs_[3][2];
  double scale_[3];
  bool affine_;
};

// Cameras in the normalised frame (positions divided by s per image), the
// last one in its canonical form.
struct Frame {
  double s[3];
  double p[2][12];  // first, middle
  bool affine;
};

// Pixel cameras -> normalised frame with the canonical last camera. 0 when
// the last camera is rank deficient.
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
    Eigen::Matrix3d pp = c[2] * c[2].transpose();
    if (!(std::fabs(pp.determinant()) > 1e-300)) return 0;
    Eigen::FullPivLU<Mat34> lu(c[2]);
    Eigen::Vector4d centre = lu.kernel().col(0);
    h.block<4, 3>(0, 0) = c[2].transpose() * pp.inverse();
    h.col(3) = centre.normalized();
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
    from_mat(m, out.p[v]);
  }
  return out;
}

// Optimal triangulation in the frame: point parameters (a, b, c), errors in
// pixels. Start on the last image's ray, the remaining parameter by linear
// least squares over the first two images, then Gauss-Newton steps.
int triangulate_in_frame(const Frame &f, const MatchRecord &m, double pt[3], double err[3]) {
  err[0] = err[1] = err[2] = kInf;
  const double obs[3][2] = {{m.first.x / f.s[0], m.first.y / f.s[0]},
                            {m.middle.x / f.s[1], m.middle.y / f.s[1]},
                            {m.last.x / f.s[2], m.last.y / f.s[2]}};
  const int ci = f.affine ? 2 : 3;  // column of the free parameter c
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
  if (!(den > 0.0)) return 0;
  pt[2] = -num / den;
  double costv = kInf;
  TripletCost cost(obs, f.s, f.affine);
  for (int iter = 0; iter < 6; ++iter) {
    double r[6], jp[18];
    const double *params[3] = {f.p[0], f.p[1], pt};
    double *jac[3] = {nullptr, nullptr, jp};
    if (!cost.Evaluate(params, r, jac)) return 0;
    double c = 0.0;
    for (double e : r) c += e * e;
    if (iter > 0 && !(c < costv)) break;
    costv = c;
    Eigen::Map<Eigen::Matrix<double, 6, 3, Eigen::RowMajor>> j(jp);
    Eigen::Map<Eigen::Matrix<double, 6, 1>> rv(r);
    Eigen::Matrix3d n = j.transpose() * j;
    Eigen::Vector3d g = j.transpose() * rv;
    Eigen::Vector3d step = n.ldlt().solve(-g);
    if (!step.allFinite()) break;
    double trial[3] = {pt[0] + step(0), pt[1] + step(1), pt[2] + step(2)};
    const double *tp[3] = {f.p[0], f.p[1], trial};
    double rt[6];
    if (!cost.Evaluate(tp, rt, nullptr)) break;
    double ct = 0.0;
    for (double e : rt) ct += e * e;
    if (!(ct < c)) break;
    pt[0] = trial[0], pt[1] = trial[1], pt[2] = trial[2];
    if (c - ct < 1e-14 * (1.0 + c)) break;
  }
  double r[6];
  const double *params[3] = {f.p[0], f.p[1], pt};
  if (!cost.Evaluate(params, r, nullptr)) return 0;
  for (int v = 0; v < 3; ++v) err[v] = std::sqrt(r[2 * v] * r[2 * v] + r[2 * v + 1] * r[2 * v + 1]);
  return std::isfinite(err[0]) && std::isfinite(err[1]) && std::isfinite(err[2]);
}

// Re-selection: triangulates every triplet; flags those with all three
// errors strictly below d. Returns the number flagged.
int reselect(const Frame &f, const MatchRecord *matches, int count, double d,
             std::vector<double> *points, std::vector<double> *errors, int32_t *flags) {
  int n = 0;
  for (int i = 0; i < count; ++i) {
    double pt[3] = {0, 0, 0}, err[3];
    const int ok = finite_record(matches[i]) && triangulate_in_frame(f, matches[i], pt, err);
    if (!ok) err[0] = err[1] = err[2] = kInf;
    for (int k = 0; k < 3; ++k) (*points)[3 * i + k] = pt[k];
    for (int v = 0; v < 3; ++v) (*errors)[3 * i + v] = err[v];
    flags[i] = ok && err[0] < d && err[1] < d && err[2] < d;
    n += flags[i];
  }
  return n;
}

// One adjustment over the flagged triplets, points from `points`.
bool adjust(Frame *f, const MatchRecord *matches, int count, const int32_t *flags,
            std::vector<double> *points, const RefineOptions &o) {
  ceres::Problem::Options po;
  po.cost_function_ownership = ceres::TAKE_OWNERSHIP;
  po.loss_function_ownership = ceres::DO_NOT_TAKE_OWNERSHIP;
  ceres::Problem problem(po);
  // Huber at the inlier distance on the triplet's rms error per image.
  ceres::HuberLoss loss(o.distance * std::sqrt(3.0));
  for (int i = 0; i < count; ++i) {
    if (!flags[i]) continue;
    const MatchRecord &m = matches[i];
    const double obs[3][2] = {{m.first.x / f->s[0], m.first.y / f->s[0]},
                              {m.middle.x / f->s[1], m.middle.y / f->s[1]},
                              {m.last.x / f->s[2], m.last.y / f->s[2]}};
    problem.AddResidualBlock(new TripletCost(obs, f->s, f->affine), &loss, f->p[0], f->p[1],
                             points->data() + 3 * i);
  }
  for (int v = 0; v < 2; ++v) {
    if (f->affine) problem.SetManifold(f->p[v], new ceres::SubsetManifold(12, {8, 9, 10, 11}));
    else problem.SetManifold(f->p[v], new ceres::SphereManifold<12>());
  }
  ceres::Solver::Options so;
  so.linear_solver_type = ceres::DENSE_SCHUR;
  so.minimizer_type = ceres::TRUST_REGION;
  so.trust_region_strategy_type = ceres::LEVENBERG_MARQUARDT;
  so.max_num_iterations = o.iterations;
  so.num_threads = 1;
  so.logging_type = ceres::SILENT;
  so.minimizer_progress_to_stdout = false;
  so.function_tolerance = 1e-7;
  so.parameter_tolerance = 1e-9;
  ceres::Solver::Summary summary;
  ceres::Solve(so, &problem, &summary);
  if (summary.termination_type == ceres::FAILURE || !std::isfinite(summary.final_cost))
    return false;
  for (int v = 0; v < 2; ++v)
    for (int e = 0; e < 12; ++e)
      if (!std::isfinite(f->p[v][e])) return false;
  return true;
}

// Share of the flagged triplets that homographies from the last image to the
// first and to the middle image explain within d in both images.
double homography_share(const MatchRecord *matches, int count, const int32_t *flags,
                        const double s[3], double d) {
  Eigen::Matrix3d h[2];
  for (int v = 0; v < 2; ++v) {
    Eigen::Matrix<double, 9, 9> n = Eigen::Matrix<double, 9, 9>::Zero();
    for (int i = 0; i < count; ++i) {
      if (!flags[i]) continue;
      const MatchPoint &a = matches[i].last, &b = view_point(matches[i], v);
      const double x = a.x / s[2], y = a.y / s[2], u = b.x / s[v], w = b.y / s[v];
      Eigen::Matrix<double, 9, 1> r1, r2;
      r1 << x, y, 1, 0, 0, 0, -u * x, -u * y, -u;
      r2 << 0, 0, 0, x, y, 1, -w * x, -w * y, -w;
      n += r1 * r1.transpose() + r2 * r2.transpose();
    }
    Eigen::SelfAdjointEigenSolver<Eigen::Matrix<double, 9, 9>> es(n);
    Eigen::Matrix<double, 9, 1> e = es.eigenvectors().col(0);
    for (int k = 0; k < 9; ++k) h[v](k / 3, k % 3) = e(k);
  }
  int flagged = 0, explained = 0;
  for (int i = 0; i < count; ++i) {
    if (!flags[i]) continue;
    ++flagged;
    bool ok = true;
    for (int v = 0; v < 2; ++v) {
      const MatchPoint &a = matches[i].last, &b = view_point(matches[i], v);
      Eigen::Vector3d q = h[v] * Eigen::Vector3d(a.x / s[2], a.y / s[2], 1.0);
      const double du = (q(0) / q(2)) * s[v] - b.x, dw = (q(1) / q(2)) * s[v] - b.y;
      ok = ok && std::sqrt(du * du + dw * dw) < d;
    }
    explained += ok;
  }
  return flagged > 0 ? static_cast<double>(explained) / flagged : 0.0;
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
  if (homography_share(matches, count, flags.data(), s, o.distance) >= 0.95) {
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
  // Points of the starting cameras.
  reselect(f, matches, count, o.distance, &pts, &errs, next.data());
  int rounds = 0;
  int selected = 0;
  for (;;) {
    ++rounds;
    if (!adjust(&f, matches, count, flags.data(), &pts, o)) {
      set_reason(report, "the adjustment did not converge");
      return 0;
    }
    selected = reselect(f, matches, count, o.distance, &pts, &errs, next.data());
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

// Cheap error of a triplet: the point on the last image's ray whose remaining
// parameter best fits the first two images linearly; the sum of its squared
// reprojection errors there, pixels squared.
double cheap_error2(const Frame &f, const MatchRecord &m) {
  const double obs[2][2] = {{m.first.x / f.s[0], m.first.y / f.s[0]},
                            {m.middle.x / f.s[1], m.middle.y / f.s[1]}};
  const double a = m.last.x / f.s[2], b = m.last.y / f.s[2];
  const int ci = f.affine ? 2 : 3, fixed = f.affine ? 3 : 2;
  double k[2][3], d[2][3];  // h = k + c d per view
  double num = 0.0, den = 0.0;
  for (int v = 0; v < 2; ++v) {
    const double *p = f.p[v];
    for (int r = 0; r < 3; ++r) {
      k[v][r] = p[4 * r] * a + p[4 * r + 1] * b + p[4 * r + fixed];
      d[v][r] = p[4 * r + ci];
    }
    for (int r = 0; r < 2; ++r) {
      const double o = obs[v][r];
      const double kk = k[v][r] - o * k[v][2], dd = d[v][r] - o * d[v][2];
      num += kk * dd, den += dd * dd;
    }
  }
  if (!(den > 0.0)) return kInf;
  const double c = -num / den;
  double e2 = 0.0;
  for (int v = 0; v < 2; ++v) {
    const double h2 = k[v][2] + c * d[v][2];
    const double du = ((k[v][0] + c * d[v][0]) / h2 - obs[v][0]) * f.s[v];
    const double dv = ((k[v][1] + c * d[v][1]) / h2 - obs[v][1]) * f.s[v];
    e2 += du * du + dv * dv;
  }
  return std::isfinite(e2) ? e2 : kInf;
}

// Truncated quadratic over all triplets, ending as soon as it reaches
// `bound` (every term is non-negative, so the bail-out is exact).
double msac_cost(const Frame &f, const MatchRecord *matches, int count, double tau2,
                 double bound, int *inliers) {
  double cost = 0.0;
  int n = 0;
  for (int i = 0; i < count; ++i) {
    const double e2 = cheap_error2(f, matches[i]);
    if (e2 < tau2) cost += e2, ++n;
    else cost += tau2;
    if (cost >= bound) return kInf;
  }
  *inliers = n;
  return cost;
}

// Local optimisation: an adjustment of the hypothesis over (at most 100,
// evenly spread) of its inliers, a few iterations.
bool local_optimise(Frame *f, const MatchRecord *matches, int count, double tau2, double d) {
  std::vector<int32_t> flags(static_cast<size_t>(count), 0);
  std::vector<int> in;
  for (int i = 0; i < count; ++i)
    if (cheap_error2(*f, matches[i]) < tau2) in.push_back(i);
  if (in.size() < 7) return false;
  const size_t keep = in.size() < kLoCap ? in.size() : kLoCap;
  for (size_t q = 0; q < keep; ++q) flags[static_cast<size_t>(in[q * in.size() / keep])] = 1;
  std::vector<double> pts(3 * static_cast<size_t>(count), 0.0);
  for (int i = 0; i < count; ++i) {
    if (!flags[i]) continue;
    double err[3];
    triangulate_in_frame(*f, matches[i], &pts[3 * static_cast<size_t>(i)], err);
  }
  RefineOptions o;
  o.distance = d;
  o.affine = f->affine;
  o.iterations = kLoIter;
  return adjust(f, matches, count, flags.data(), &pts, o);
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
  Frame best{}, f{};
  double best_cost = kInf;
  int best_inliers = 0;
  double needed = static_cast<double>(o.max_samples > 0 ? o.max_samples : 1);
  int k = 0;
  int failures = 0;
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
      SixPointSolution sol[3];
      const int n = compute_six_point_solutions(sample, 6, sol);
      for (int h = 0; h < n; ++h) {
        const double fs[3] = {sol[h].f_first, sol[h].f_middle, sol[h].f_last};
        for (int v = 0; v < 3; ++v)
          for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 4; ++c) {
              double e = v == 0 ? sol[h].first[r][c]
                                : (v == 1 ? sol[h].middle[r][c] : (r == c ? 1.0 : 0.0));
              cams[hyps].p[v][r][c] = r < 2 ? e / fs[v] : e;
            }
        ++hyps;
      }
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
      int inl = 0;
      double cost = msac_cost(f, matches, count, tau2, best_cost, &inl);
      if (!(cost < best_cost)) continue;
      Frame lo = f;
      ++report->local_optimisations;
      if (local_optimise(&lo, matches, count, tau2, o.distance)) {
        int inl_lo = 0;
        const double c_lo = msac_cost(lo, matches, count, tau2, cost, &inl_lo);
        if (c_lo < cost) f = lo, cost = c_lo, inl = inl_lo;
      }
      best = f, best_cost = cost, best_inliers = inl;
      const double w = static_cast<double>(inl) / count;
      const double miss = 1.0 - std::pow(w, sample_size);
      needed = miss <= 0.0 ? 0.0 : (miss >= 1.0 ? needed : std::log(1.0 - p) / std::log(miss));
    }
  }
  report->samples = k;
  if (!(best_cost < kInf) || best_inliers < kMinSupport) {
    std::snprintf(report->reason, sizeof report->reason, "no hypothesis with seven inliers");
    return 0;
  }
  for (int i = 0; i < count; ++i) support[i] = cheap_error2(best, matches[i]) < tau2;
  report->inliers = best_inliers;
  report->cameras = pixel_cameras(best);
  report->found = 1;
  return 1;
}
