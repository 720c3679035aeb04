// Synthetic three-view scenes for the tensor tests: three projective
// cameras in general position, random scene points in front of them, and the
// exact triplets they produce. Seeded, so every failure can be reproduced.
#pragma once
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "matchio.h"
#include "trifocal.h"

namespace scene {

// Uniform doubles in [lo, hi) from the raw 64-bit output, independent of the
// standard library's distribution implementations.
class Random {
 public:
  explicit Random(uint64_t seed) : engine_(seed) {}
  double uniform(double lo, double hi) {
    const double unit = static_cast<double>(engine_() >> 11) * (1.0 / 9007199254740992.0);
    return lo + (hi - lo) * unit;
  }

 private:
  std::mt19937_64 engine_;
};

// A 3x4 camera, zero-based.
struct Camera {
  double m[3][4];
};

// K [R | t] with a focal length near 800 pixels, principal point near
// (320, 240), a rotation of up to about 0.3 rad about each axis and a
// translation of up to about one unit, looking down +Z at points 5..10 away.
inline Camera random_camera(Random &rnd) {
  const double ax = rnd.uniform(-0.3, 0.3), ay = rnd.uniform(-0.3, 0.3),
               az = rnd.uniform(-0.3, 0.3);
  const double rx[3][3] = {{1, 0, 0}, {0, std::cos(ax), -std::sin(ax)}, {0, std::sin(ax), std::cos(ax)}};
  const double ry[3][3] = {{std::cos(ay), 0, std::sin(ay)}, {0, 1, 0}, {-std::sin(ay), 0, std::cos(ay)}};
  const double rz[3][3] = {{std::cos(az), -std::sin(az), 0}, {std::sin(az), std::cos(az), 0}, {0, 0, 1}};
  double ryx[3][3], r[3][3];
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) {
      ryx[i][j] = 0;
      for (int k = 0; k < 3; ++k) ryx[i][j] += ry[i][k] * rx[k][j];
    }
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) {
      r[i][j] = 0;
      for (int k = 0; k < 3; ++k) r[i][j] += rz[i][k] * ryx[k][j];
    }
  const double t[3] = {rnd.uniform(-3, 3), rnd.uniform(-3, 3), rnd.uniform(-1, 1)};
  const double f = rnd.uniform(700, 900);
  const double k[3][3] = {{f, rnd.uniform(-2, 2), rnd.uniform(300, 340)},
                          {0, f * rnd.uniform(0.95, 1.05), rnd.uniform(220, 260)},
                          {0, 0, 1}};
  Camera cam;
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) {
      cam.m[i][j] = 0;
      for (int q = 0; q < 3; ++q) cam.m[i][j] += k[i][q] * r[q][j];
    }
    cam.m[i][3] = 0;
    for (int q = 0; q < 3; ++q) cam.m[i][3] += k[i][q] * t[q];
  }
  return cam;
}

inline MatchPoint project(const Camera &cam, const double x[4]) {
  double h[3];
  for (int i = 0; i < 3; ++i) {
    h[i] = 0;
    for (int j = 0; j < 4; ++j) h[i] += cam.m[i][j] * x[j];
  }
  MatchPoint p;
  p.x = h[0] / h[2];
  p.y = h[1] / h[2];
  p.index = 0;
  return p;
}

struct Scene {
  Camera first, middle, last;
  std::vector<MatchRecord> triplets;
};

inline Scene random_scene(uint64_t seed, int points) {
  Random rnd(seed);
  Scene s;
  s.first = random_camera(rnd);
  s.middle = random_camera(rnd);
  s.last = random_camera(rnd);
  // The first four points near the corners of the field of view, so that no
  // three of them are close to a line in any image; the rest anywhere.
  const double corner[4][2] = {{-1, -1}, {1, -1}, {1, 1}, {-1, 1}};
  for (int n = 0; n < points; ++n) {
    double x[4] = {rnd.uniform(-3, 3), rnd.uniform(-2, 2), rnd.uniform(5, 10), 1.0};
    if (n < 4) {
      x[0] = corner[n][0] * rnd.uniform(2, 3);
      x[1] = corner[n][1] * rnd.uniform(1.2, 2);
    }
    MatchRecord r;
    r.first = project(s.first, x);
    r.middle = project(s.middle, x);
    r.last = project(s.last, x);
    s.triplets.push_back(r);
  }
  return s;
}

// Largest |relation value| over the four relations of the triplet, relative
// to the sum of the magnitudes of the terms that make it up, so that the
// bound is a statement about rounding whatever the tensor's scale.
inline double relative_relation_error(const TrifocalTensor &t, const MatchRecord &r) {
  const double u[2] = {r.first.x, r.first.y};
  const double c[2] = {r.middle.x, r.middle.y};
  const double p3[3] = {r.last.x, r.last.y, 1.0};
  double worst = 0.0;
  for (int l = 0; l < 2; ++l)
    for (int m = 0; m < 2; ++m) {
      double size = 0.0;
      for (int i = 0; i < 3; ++i)
        size += std::fabs(p3[i]) * (std::fabs(t(i, l, m)) + std::fabs(u[m] * t(i, l, 2)) +
                                    std::fabs(c[l] * t(i, 2, m)) +
                                    std::fabs(u[m] * c[l] * t(i, 2, 2)));
      const double e = std::fabs(trilinear_residual(t, r, l, m)) / size;
      if (!(e <= worst)) worst = e;  // NaN propagates as a failure
    }
  return worst;
}

}  // namespace scene
