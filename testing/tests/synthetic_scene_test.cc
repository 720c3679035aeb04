// The synthetic scenes: reproducible numbers, camera matrices that agree
// with the projection, and matches whose inlier flags tell the truth.
#include "synthetic_scene.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

using namespace synthetic;

std::vector<Camera> three_cameras(double affine_depth) {
  std::vector<Camera> cameras = {look_at({-1.5, 0.2, -0.5}, {0.3, 0.0, 7.5}, 800, 640, 480),
                                 look_at({0.1, 0.5, -0.3}, {0.0, 0.1, 7.5}, 820, 640, 480),
                                 look_at({1.7, -0.4, -0.4}, {-0.5, 0.0, 7.5}, 790, 640, 480)};
  for (Camera &c : cameras) c.affine_depth = affine_depth;
  return cameras;
}

TEST(SyntheticScene, RandomNumbersAreTheSameEveryRun) {
  Random a(20110211u), b(20110211u);
  double sum = 0.0;
  for (int i = 0; i < 1000; ++i) {
    const double u = a.uniform();
    ASSERT_EQ(u, b.uniform());
    ASSERT_GE(u, 0.0);
    ASSERT_LT(u, 1.0);
    sum += u;
  }
  EXPECT_NEAR(sum / 1000, 0.5, 0.03);
  // splitmix64 from seed 0 starts with this value.
  EXPECT_EQ(Random(0).next(), 0xE220A8397B1DCDAFull);
}

TEST(SyntheticScene, CameraMatrixAgreesWithTheProjection) {
  for (double depth : {0.0, 7.5}) {
    SCOPED_TRACE(depth);
    const Camera c = three_cameras(depth)[0];
    double p[3][4];
    camera_matrix(c, p);
    const Vec3 x = {0.7, -1.1, 6.3};
    double h[3];
    for (int i = 0; i < 3; ++i) h[i] = p[i][0] * x.x + p[i][1] * x.y + p[i][2] * x.z + p[i][3];
    const Projection q = project(c, x);
    EXPECT_NEAR(h[0] / h[2], q.x, 1e-9);
    EXPECT_NEAR(h[1] / h[2], q.y, 1e-9);
    // The ray through the projection meets the point (perspective only).
    if (depth == 0.0) {
      const Vec3 d = ray_direction(c, q.x, q.y);
      const Vec3 to = sub(x, c.centre);
      const Vec3 off = cross(d, to);
      EXPECT_NEAR(dot(off, off), 0.0, 1e-18 * dot(to, to));
    }
  }
}

TEST(SyntheticScene, MatchesAreProjectionsOrMarkedWrong) {
  const std::vector<Camera> cameras = three_cameras(0.0);
  const PointCloud cloud({-3, -2, 5}, {3, 2, 10}, 4.0);
  MatchSettings exact;
  exact.noise = 0.0;
  Random r(7);
  std::vector<bool> inlier;
  const std::vector<Match> matches = make_matches(cloud, cameras, 60, 20, exact, &r, &inlier);
  ASSERT_EQ(matches.size(), 80u);
  ASSERT_EQ(inlier.size(), 80u);
  // The point nearest the rays of views 1 and 2, seen by view 3, is where a
  // true match puts it, and elsewhere for a wrong one.
  int true_ones = 0;
  for (size_t n = 0; n < matches.size(); ++n) {
    const Vec3 d1 = ray_direction(cameras[0], matches[n][0].x, matches[n][0].y);
    const Vec3 d2 = ray_direction(cameras[1], matches[n][1].x, matches[n][1].y);
    const Vec3 w = sub(cameras[0].centre, cameras[1].centre);
    const double a = dot(d1, d1), b = dot(d1, d2), c = dot(d2, d2), d = dot(d1, w), e = dot(d2, w);
    const double s1 = (b * e - c * d) / (a * c - b * b), s2 = (a * e - b * d) / (a * c - b * b);
    const Vec3 x = scale(add(add(cameras[0].centre, scale(d1, s1)), add(cameras[1].centre, scale(d2, s2))), 0.5);
    const Projection q = project(cameras[2], x);
    const double error = std::hypot(q.x - matches[n][2].x, q.y - matches[n][2].y);
    if (inlier[n]) {
      ++true_ones;
      EXPECT_LT(error, 1e-6) << n;
    } else {
      EXPECT_GT(error, 1e-3) << n;
    }
  }
  EXPECT_EQ(true_ones, 60);
  // Records and text keep the view order and the decimals.
  const std::vector<MatchRecord> records = triplet_records(matches);
  EXPECT_EQ(records[3].middle.x, matches[3][1].x);
  EXPECT_EQ(records[3].last.y, matches[3][2].y);
  const std::string text = match_lines({{{1.0, 2.5}, {3.125, 4.0}}}, 2);
  EXPECT_EQ(text, "1.00 2.50 3.12 4.00\n");
  EXPECT_EQ(match_lines({{{1.0, 2.5}}}, 6), "1.000000 2.500000\n");
}

}  // namespace
