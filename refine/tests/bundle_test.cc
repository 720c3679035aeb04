// The adjustment's own Levenberg-Marquardt against Ceres Solver on the same
// problem from the same start: Ceres (automatic derivatives, dense Schur,
// the unit-sphere / fixed-row camera manifolds, the same Huber loss) is the
// reference optimum. Synthetic scenes with noise and outliers, projective and
// affine cameras, starts near and farther from the optimum.
#include <ceres/ceres.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "bundle.h"
#include "refine.h"
#include "scene_cameras.h"
#include "synthetic_triplets.h"

namespace {

// The reprojection residual written once more, generically, for Ceres's
// automatic derivatives.
struct AutoResidual {
  double obs[3][2];
  double s[3];
  bool affine;
  template <typename T>
  bool operator()(const T *p0, const T *p1, const T *pt, T *r) const {
    const T one(1.0);
    const T x[4] = {pt[0], pt[1], affine ? pt[2] : one, affine ? one : pt[2]};
    const T *ps[2] = {p0, p1};
    for (int v = 0; v < 2; ++v) {
      T h[3];
      for (int q = 0; q < 3; ++q)
        h[q] = ps[v][4 * q] * x[0] + ps[v][4 * q + 1] * x[1] + ps[v][4 * q + 2] * x[2] +
               ps[v][4 * q + 3] * x[3];
      r[2 * v] = s[v] * (h[0] / h[2] - obs[v][0]);
      r[2 * v + 1] = s[v] * (h[1] / h[2] - obs[v][1]);
    }
    r[4] = s[2] * (pt[0] - obs[2][0]);
    r[5] = s[2] * (pt[1] - obs[2][1]);
    return true;
  }
};

ceres::CostFunction *auto_cost(const bundle::Frame &f, const MatchRecord &m) {
  AutoResidual *a = new AutoResidual;
  bundle::frame_observations(f, m, a->obs);
  for (int v = 0; v < 3; ++v) a->s[v] = f.s[v];
  a->affine = f.affine;
  return new ceres::AutoDiffCostFunction<AutoResidual, 6, 12, 12, 3>(a);
}

// Ceres's converged cost of the problem, from frame f and points pts.
double ceres_cost(bundle::Frame f, const std::vector<MatchRecord> &m, std::vector<double> pts,
                  double huber) {
  ceres::Problem::Options po;
  po.loss_function_ownership = ceres::DO_NOT_TAKE_OWNERSHIP;
  ceres::Problem problem(po);
  ceres::HuberLoss loss(huber);
  for (size_t i = 0; i < m.size(); ++i)
    problem.AddResidualBlock(auto_cost(f, m[i]), &loss, f.p[0], f.p[1], &pts[3 * i]);
  for (int v = 0; v < 2; ++v) {
    if (f.affine) problem.SetManifold(f.p[v], new ceres::SubsetManifold(12, {8, 9, 10, 11}));
    else problem.SetManifold(f.p[v], new ceres::SphereManifold<12>());
  }
  ceres::Solver::Options so;
  so.linear_solver_type = ceres::DENSE_SCHUR;
  so.max_num_iterations = 200;
  so.function_tolerance = 1e-14;
  so.parameter_tolerance = 1e-14;
  so.gradient_tolerance = 1e-16;
  so.num_threads = 1;
  so.logging_type = ceres::SILENT;
  ceres::Solver::Summary summary;
  ceres::Solve(so, &problem, &summary);
  EXPECT_NE(summary.termination_type, ceres::FAILURE);
  return summary.final_cost;
}

synthetic::TripletSet with_mistakes(synthetic::TripletSet set) {
  scene::Random rnd(99);
  for (size_t i = 0; i < set.matches.size(); i += 8) {
    set.matches[i].middle.x += rnd.uniform(2.0, 6.0);
    set.matches[i].first.y -= rnd.uniform(0.0, 3.0);
  }
  return set;
}

struct Problem {
  bundle::Frame start;
  std::vector<MatchRecord> matches;
  std::vector<double> points;
};

// Start: the given pixel cameras, each free entry moved by up to `shake`
// relative to the camera's largest entry, the points triangulated there.
Problem make_problem(const synthetic::TripletSet &set, const ThreeCameras &cams, bool affine,
                     double shake, uint64_t seed) {
  Problem p;
  p.matches = set.matches;
  const int n = static_cast<int>(p.matches.size());
  double s[3] = {0, 0, 0};
  for (const MatchRecord &r : p.matches) {
    s[0] += r.first.x * r.first.x + r.first.y * r.first.y;
    s[1] += r.middle.x * r.middle.x + r.middle.y * r.middle.y;
    s[2] += r.last.x * r.last.x + r.last.y * r.last.y;
  }
  for (double &v : s) v = std::sqrt(v / (2.0 * n));
  EXPECT_EQ(1, bundle::make_frame(cams, s, affine, &p.start));
  scene::Random rnd(seed);
  for (int v = 0; v < 2; ++v) {
    double big = 0.0;
    for (double e : p.start.p[v]) big = std::max(big, std::fabs(e));
    for (int e = 0; e < (affine ? 8 : 12); ++e) p.start.p[v][e] += shake * big * rnd.uniform(-1, 1);
  }
  p.points.assign(3 * static_cast<size_t>(n), 0.0);
  for (int i = 0; i < n; ++i) {
    double err[3];
    bundle::triangulate(p.start, p.matches[static_cast<size_t>(i)], &p.points[3 * static_cast<size_t>(i)],
                        err);
  }
  return p;
}

// Our solver's final cost from the problem's start.
double own_cost(const Problem &p, const bundle::Options &o, bundle::Result *res) {
  bundle::Frame f = p.start;
  std::vector<double> pts = p.points;
  std::vector<int32_t> flags(p.matches.size(), 1);
  bundle::Workspace ws;
  EXPECT_TRUE(bundle::adjust(&f, p.matches.data(), static_cast<int>(p.matches.size()), flags.data(),
                             pts.data(), o, &ws, res));
  return res->final_cost;
}

void expect_same_optimum(const Problem &p, double huber, const char *what) {
  const double reference = ceres_cost(p.start, p.matches, p.points, huber);
  bundle::Options tight;
  tight.huber = huber;
  tight.max_iterations = 200;
  tight.function_tolerance = 1e-14;
  tight.parameter_tolerance = 1e-14;
  bundle::Result res;
  const double converged = own_cost(p, tight, &res);
  EXPECT_LT(res.final_cost, res.initial_cost) << what;
  EXPECT_NEAR(converged, reference, 1e-7 * reference) << what;
  // The settings of refine_geometry (15 iterations, 1e-7) get there too.
  bundle::Options product;
  product.huber = huber;
  const double quick = own_cost(p, product, &res);
  EXPECT_NEAR(quick, reference, 1e-4 * reference) << what << " after " << res.iterations;
}

TEST(Bundle, ProjectiveReachesTheCeresOptimum) {
  for (uint64_t seed : {3u, 12u, 40u}) {
    // 0.5 px noise and one triplet in eight moved by 2-6 px (the mistakes
    // a support set still holds), so that the Huber loss is active.
    const synthetic::TripletSet set = with_mistakes(synthetic::projective_set(seed, 120, 0.5, 0));
    for (double shake : {1e-4, 3e-3}) {
      const Problem p = make_problem(set, true_cameras(seed), false, shake, seed + 5);
      expect_same_optimum(p, std::sqrt(3.0), "projective");
    }
  }
}

TEST(Bundle, AffineReachesTheCeresOptimum) {
  for (uint64_t seed : {2u, 9u}) {
    const synthetic::TripletSet set = with_mistakes(synthetic::affine_set(seed, 100, 0.4, 0));
    RobustOptions ro;
    ro.affine = true;
    ro.distance = 1.5;
    RobustReport rr;
    std::vector<int32_t> support(set.matches.size(), 0);
    ASSERT_EQ(1, robust_estimate(set.matches.data(), static_cast<int>(set.matches.size()), ro,
                                 support.data(), &rr));
    const Problem p = make_problem(set, rr.cameras, true, 2e-3, seed);
    expect_same_optimum(p, std::sqrt(3.0), "affine");
  }
}

TEST(Bundle, PointDerivativesMatchAutomaticOnes) {
  const synthetic::TripletSet set = synthetic::projective_set(7, 20, 0.3, 0);
  for (bool affine : {false, true}) {
    Problem p = make_problem(set, true_cameras(7), false, 1e-3, 1);
    if (affine)
      for (int v = 0; v < 2; ++v) {
        p.start.p[v][8] = p.start.p[v][9] = p.start.p[v][10] = 0.0;
        p.start.p[v][11] = 1.0;
      }
    p.start.affine = affine;
    for (size_t i = 0; i < 5; ++i) {
      const double pt[3] = {p.points[3 * i], p.points[3 * i + 1], affine ? 0.3 : p.points[3 * i + 2]};
      double obs[3][2], r[6], jp[18];
      bundle::frame_observations(p.start, p.matches[i], obs);
      ASSERT_TRUE(bundle::residual(p.start, obs, pt, r, jp));
      ceres::CostFunction *c = auto_cost(p.start, p.matches[i]);
      const double *params[3] = {p.start.p[0], p.start.p[1], pt};
      double ra[6], j0[72], j1[72], j2[18];
      double *jac[3] = {j0, j1, j2};
      ASSERT_TRUE(c->Evaluate(params, ra, jac));
      delete c;
      for (int k = 0; k < 6; ++k) EXPECT_NEAR(r[k], ra[k], 1e-9 * (1.0 + std::fabs(ra[k])));
      for (int k = 0; k < 18; ++k) EXPECT_NEAR(jp[k], j2[k], 1e-7 * (1.0 + std::fabs(j2[k])));
    }
  }
}

}  // namespace

// The re-selection keeps an adjusted point when adjusted_residual says a
// further step of it gains nothing: its errors must then be those of a
// fresh optimal triangulation with the adjusted cameras.
TEST(Bundle, AdjustedResidualsAreTheOptimalTriangulations) {
  const synthetic::TripletSet set = with_mistakes(synthetic::projective_set(21, 150, 0.5, 0));
  const Problem p = make_problem(set, true_cameras(21), false, 3e-3, 4);
  bundle::Frame f = p.start;
  std::vector<double> pts = p.points;
  std::vector<int32_t> flags(p.matches.size(), 0);
  for (size_t i = 0; i < flags.size(); i += 3) flags[i] = 1;  // every third triplet
  bundle::Workspace ws;
  bundle::Result res;
  ASSERT_TRUE(bundle::adjust(&f, p.matches.data(), static_cast<int>(p.matches.size()),
                             flags.data(), pts.data(), bundle::Options(), &ws, &res));
  size_t q = 0, kept = 0;
  for (size_t i = 0; i < flags.size(); ++i) {
    if (!flags[i]) continue;
    double r[6], predicted, pt[3], err[3];
    ASSERT_TRUE(bundle::adjusted_residual(ws, q++, r, &predicted));
    ASSERT_TRUE(bundle::triangulate(f, p.matches[i], pt, err));
    if (predicted >= 1e-10) continue;
    ++kept;
    for (int v = 0; v < 3; ++v)
      EXPECT_NEAR(std::hypot(r[2 * v], r[2 * v + 1]), err[v], 1e-6) << i;
  }
  EXPECT_GT(kept, q / 2);
  double r[6], predicted;
  EXPECT_FALSE(bundle::adjusted_residual(ws, q, r, &predicted));
}
