// The sampler's six-point solver against the faithful six-point computation:
// the same number of solutions and the same cameras (as sets) on random
// samples of synthetic scenes, the true geometry among the noise-free
// solutions, and the same rejections of degenerate samples.
#include <gtest/gtest.h>

#include <Eigen/Dense>
#include <cmath>
#include <cstdio>
#include <limits>
#include <vector>

#include "minimal.h"
#include "six_point.h"
#include "synthetic_triplets.h"

namespace {


// Largest over the three views of |a - s b| / |a| with the least-squares
// scale s: how far a is from b up to one factor per camera.
double camera_distance(const ThreeCameras &a, const ThreeCameras &b) {
  double worst = 0.0;
  for (int v = 0; v < 3; ++v) {
    double ab = 0.0, bb = 0.0, aa = 0.0;
    for (int r = 0; r < 3; ++r)
      for (int c = 0; c < 4; ++c) {
        ab += a.p[v][r][c] * b.p[v][r][c];
        bb += b.p[v][r][c] * b.p[v][r][c];
        aa += a.p[v][r][c] * a.p[v][r][c];
      }
    const double s = ab / bb;
    double diff = 0.0;
    for (int r = 0; r < 3; ++r)
      for (int c = 0; c < 4; ++c) {
        const double d = a.p[v][r][c] - s * b.p[v][r][c];
        diff += d * d;
      }
    const double rel = std::sqrt(diff / aa);
    if (!(rel <= worst)) worst = rel;
  }
  return worst;
}

void draw(scene::Random &rnd, const std::vector<MatchRecord> &pool, MatchRecord sample[6]) {
  int idx[6];
  const int n = static_cast<int>(pool.size());
  for (int q = 0; q < 6; ++q) {
    int c = static_cast<int>(rnd.uniform(0.0, n));
    for (int r = 0; r < q;)
      if (idx[r] == c) c = (c + 1) % n, r = 0;
      else ++r;
    idx[q] = c;
    sample[q] = pool[static_cast<size_t>(c)];
  }
}

// Pixel reprojection error of the worst of the three views after the linear
// triangulation of r from all three cameras.
double reprojection_error(const ThreeCameras &cams, const MatchRecord &r) {
  const MatchPoint *pt[3] = {&r.first, &r.middle, &r.last};
  Eigen::Matrix<double, 6, 4> a;
  for (int v = 0; v < 3; ++v)
    for (int c = 0; c < 4; ++c) {
      a(2 * v, c) = pt[v]->x * cams.p[v][2][c] - cams.p[v][0][c];
      a(2 * v + 1, c) = pt[v]->y * cams.p[v][2][c] - cams.p[v][1][c];
    }
  for (int row = 0; row < 6; ++row) a.row(row).normalize();
  const Eigen::Vector4d x = Eigen::JacobiSVD<Eigen::Matrix<double, 6, 4>>(a, Eigen::ComputeFullV)
                                .matrixV()
                                .col(3);
  double worst = 0.0;
  for (int v = 0; v < 3; ++v) {
    double h[3];
    for (int i = 0; i < 3; ++i)
      h[i] = cams.p[v][i][0] * x[0] + cams.p[v][i][1] * x[1] + cams.p[v][i][2] * x[2] +
             cams.p[v][i][3] * x[3];
    const double e = std::hypot(h[0] / h[2] - pt[v]->x, h[1] / h[2] - pt[v]->y);
    if (!(e <= worst)) worst = e;
  }
  return worst;
}

// Random samples of noise-free and noisy (0.5 px, six decimals) scenes: the
// counts agree and every faithful solution has its own fast solution equal
// to it up to one scale factor per camera. The solutions' order is not
// compared (the two null-space bases differ, so the cubic's roots come in
// another order).
TEST(SixPointCameras, MatchFaithfulSolutionsAsSets) {
  int samples = 0, solutions = 0, three_real = 0, reordered = 0;
  double worst = 0.0;
  for (int noisy = 0; noisy < 2; ++noisy)
    for (uint64_t seed = 1; seed <= 30; ++seed) {
      const std::vector<MatchRecord> pool =
          noisy ? synthetic::projective_set(seed, 40, 0.5, 0).matches
                : scene::random_scene(seed, 40).triplets;
      scene::Random rnd(seed * 31 + static_cast<uint64_t>(noisy));
      for (int k = 0; k < 40; ++k) {
        MatchRecord sample[6];
        draw(rnd, pool, sample);
        ThreeCameras slow[3], fast[3];
        const int ns = faithful_six_point_cameras(sample, slow);
        const int nf = six_point_cameras(sample, fast);
        ASSERT_EQ(ns, nf) << "seed " << seed << " noisy " << noisy << " sample " << k;
        ++samples, solutions += ns, three_real += ns == 3;
        bool used[3] = {false, false, false};
        for (int s = 0; s < ns; ++s) {
          int best = -1;
          double best_d = std::numeric_limits<double>::infinity();
          for (int f = 0; f < nf; ++f) {
            const double d = camera_distance(slow[s], fast[f]);
            if (!used[f] && d < best_d) best = f, best_d = d;
          }
          ASSERT_GE(best, 0);
          used[best] = true;
          reordered += best != s;
          if (best_d > worst) worst = best_d;
          EXPECT_LT(best_d, 1e-7) << "seed " << seed << " noisy " << noisy << " sample " << k;
          // The last camera is the same diag(1/f, 1/f, 1) [I | 0].
          for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 4; ++c) EXPECT_EQ(slow[s].p[2][r][c], fast[best].p[2][r][c]);
        }
      }
    }
  std::printf("samples %d, solutions %d, three real %d, reordered %d, worst %.3g\n", samples,
              solutions, three_real, reordered, worst);
  EXPECT_GT(three_real, 0);  // the sets of three are exercised
}

// Noise-free: on every sample with solutions, one of them reprojects every
// scene point, not only the six, to the true positions.
TEST(SixPointCameras, NoiseFreeSolutionReprojectsTheScene) {
  for (uint64_t seed = 1; seed <= 10; ++seed) {
    const std::vector<MatchRecord> pool = scene::random_scene(seed, 40).triplets;
    scene::Random rnd(seed);
    for (int k = 0; k < 10; ++k) {
      MatchRecord sample[6];
      draw(rnd, pool, sample);
      ThreeCameras cams[3];
      const int n = six_point_cameras(sample, cams);
      if (n == 0) continue;
      double best = std::numeric_limits<double>::infinity();
      for (int h = 0; h < n; ++h) {
        double worst = 0.0;
        for (const MatchRecord &r : pool) {
          const double e = reprojection_error(cams[h], r);
          if (!(e <= worst)) worst = e;
        }
        if (worst < best) best = worst;
      }
      EXPECT_LT(best, 1e-6) << "seed " << seed << " sample " << k;
    }
  }
}

// Degenerate samples, rejected by both: a basis with three positions on a
// line (in each image in turn) or a repeated triplet; a fifth or sixth
// triplet that repeats the one before, or three identical views (the 3x5
// system loses rank); non-finite coordinates.
TEST(SixPointCameras, RejectTheFaithfulComputationsDegenerateSamples) {
  const std::vector<MatchRecord> pool = scene::random_scene(7, 6).triplets;
  ThreeCameras slow[3], fast[3];
  // The unedited sample has solutions.
  ASSERT_GT(faithful_six_point_cameras(pool.data(), slow), 0);
  ASSERT_EQ(six_point_cameras(pool.data(), fast), faithful_six_point_cameras(pool.data(), slow));
  void (*const edits[])(MatchRecord *) = {
      [](MatchRecord *s) { s[2].first = {0.5 * (s[0].first.x + s[1].first.x) + 3.0,
                                         0.5 * (s[0].first.y + s[1].first.y), 0}; },
      [](MatchRecord *s) { s[3].middle = {0.25 * s[1].middle.x + 0.75 * s[2].middle.x,
                                          0.25 * s[1].middle.y + 0.75 * s[2].middle.y, 0}; },
      [](MatchRecord *s) { s[3].last = {2.0 * s[0].last.x - s[2].last.x,
                                        2.0 * s[0].last.y - s[2].last.y, 0}; },
      [](MatchRecord *s) { s[1] = s[0]; },
      [](MatchRecord *s) { s[4] = s[3]; },
      [](MatchRecord *s) { s[5] = s[4]; },
      [](MatchRecord *s) {
        for (int r = 0; r < 6; ++r) s[r].middle = s[r].last = s[r].first;
      },
      [](MatchRecord *s) { s[2].middle.y = std::numeric_limits<double>::quiet_NaN(); },
      [](MatchRecord *s) { s[5].last.x = std::numeric_limits<double>::quiet_NaN(); },
      [](MatchRecord *s) { s[4].first.y = std::numeric_limits<double>::infinity(); },
  };
  int n = 0;
  for (auto edit : edits) {
    MatchRecord s[6];
    for (int r = 0; r < 6; ++r) s[r] = pool[static_cast<size_t>(r)];
    edit(s);
    EXPECT_EQ(faithful_six_point_cameras(s, slow), 0) << "case " << n;
    EXPECT_EQ(six_point_cameras(s, fast), 0) << "case " << n;
    ++n;
  }
}

}  // namespace
