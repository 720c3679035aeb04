// Synthetic triplet sets for the estimation tests: noisy projections of
// scene points through three projective or three affine cameras, mixed with
// gross outliers at random places in the list, and the same set as the text
// of a match file. Seeded, so every failure can be reproduced.
#pragma once
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "matchio.h"
#include "scene_fixture.h"

namespace synthetic {

struct TripletSet {
  std::vector<MatchRecord> matches;
  std::vector<bool> inlier;  // parallel to matches
};

// Standard normal deviate (Box-Muller) from the fixture's generator.
inline double gaussian(scene::Random &rnd) {
  const double u1 = 1.0 - rnd.uniform(0.0, 1.0);  // in (0, 1]
  const double u2 = rnd.uniform(0.0, 1.0);
  return std::sqrt(-2.0 * std::log(u1)) * std::cos(6.283185307179586 * u2);
}

// Rounds to the six decimals of the match file text, so that a record read
// back from the file equals the record held here.
inline double six_decimals(double v) {
  char text[64];
  std::snprintf(text, sizeof text, "%f", v);
  return std::strtod(text, nullptr);
}

inline void add_noise(scene::Random &rnd, double sigma, MatchPoint *p) {
  p->x = six_decimals(p->x + sigma * gaussian(rnd));
  p->y = six_decimals(p->y + sigma * gaussian(rnd));
}

inline MatchPoint random_point(scene::Random &rnd) {
  MatchPoint p;
  p.x = six_decimals(rnd.uniform(0.0, 640.0));
  p.y = six_decimals(rnd.uniform(0.0, 480.0));
  p.index = 0;
  return p;
}

// Inserts `outliers` gross outliers (independent random positions in a
// 640 x 480 frame in each image) at random places among the inliers.
inline TripletSet mix(scene::Random &rnd, const std::vector<MatchRecord> &inliers, int outliers) {
  TripletSet set;
  const int total = static_cast<int>(inliers.size()) + outliers;
  int left_in = static_cast<int>(inliers.size()), left_out = outliers;
  size_t next = 0;
  for (int n = 0; n < total; ++n) {
    const bool take_outlier = rnd.uniform(0.0, left_in + left_out) < left_out;
    if (take_outlier) {
      MatchRecord r;
      r.first = random_point(rnd);
      r.middle = random_point(rnd);
      r.last = random_point(rnd);
      set.matches.push_back(r);
      set.inlier.push_back(false);
      --left_out;
    } else {
      set.matches.push_back(inliers[next++]);
      set.inlier.push_back(true);
      --left_in;
    }
  }
  return set;
}

// Scene points seen by three projective cameras (scene_fixture.h), with
// Gaussian noise of `sigma` pixels on every coordinate.
inline TripletSet projective_set(uint64_t seed, int points, double sigma, int outliers) {
  scene::Scene s = scene::random_scene(seed, points);
  scene::Random rnd(seed * 7919 + 1);
  for (MatchRecord &r : s.triplets) {
    add_noise(rnd, sigma, &r.first);
    add_noise(rnd, sigma, &r.middle);
    add_noise(rnd, sigma, &r.last);
  }
  return mix(rnd, s.triplets, outliers);
}

// Three affine cameras: a rotation of up to 0.3 rad about each axis, a scale
// near 60 pixels per unit and an image offset near (320, 240); scene points
// in a 6 x 4 x 4 box.
inline TripletSet affine_set(uint64_t seed, int points, double sigma, int outliers) {
  scene::Random rnd(seed);
  double cam[3][2][4];
  for (int c = 0; c < 3; ++c) {
    const double ax = rnd.uniform(-0.3, 0.3), ay = rnd.uniform(-0.3, 0.3),
                 az = rnd.uniform(-0.3, 0.3);
    const double cx = std::cos(ax), sx = std::sin(ax), cy = std::cos(ay), sy = std::sin(ay),
                 cz = std::cos(az), sz = std::sin(az);
    // Rows 1 and 2 of Rz * Ry * Rx.
    const double r[2][3] = {{cz * cy, cz * sy * sx - sz * cx, cz * sy * cx + sz * sx},
                            {sz * cy, sz * sy * sx + cz * cx, sz * sy * cx - cz * sx}};
    const double scale = rnd.uniform(55.0, 65.0);
    const double offset[2] = {rnd.uniform(300.0, 340.0), rnd.uniform(220.0, 260.0)};
    for (int row = 0; row < 2; ++row) {
      for (int col = 0; col < 3; ++col) cam[c][row][col] = scale * r[row][col];
      cam[c][row][3] = offset[row];
    }
  }
  std::vector<MatchRecord> inliers;
  for (int n = 0; n < points; ++n) {
    const double x[3] = {rnd.uniform(-3, 3), rnd.uniform(-2, 2), rnd.uniform(-2, 2)};
    MatchPoint p[3];
    for (int c = 0; c < 3; ++c) {
      p[c].x = cam[c][0][0] * x[0] + cam[c][0][1] * x[1] + cam[c][0][2] * x[2] + cam[c][0][3];
      p[c].y = cam[c][1][0] * x[0] + cam[c][1][1] * x[1] + cam[c][1][2] * x[2] + cam[c][1][3];
      p[c].index = 0;
      add_noise(rnd, sigma, &p[c]);
    }
    inliers.push_back(MatchRecord{p[0], p[2], p[1]});
  }
  return mix(rnd, inliers, outliers);
}

// One match file line, "%f" six times in the file's column order.
inline std::string line_of(const MatchRecord &r) {
  char text[256];
  std::snprintf(text, sizeof text, "%f %f %f %f %f %f\n", r.first.x, r.first.y, r.middle.x,
                r.middle.y, r.last.x, r.last.y);
  return text;
}

inline std::string file_text(const TripletSet &set) {
  std::string text;
  for (const MatchRecord &r : set.matches) text += line_of(r);
  return text;
}

// The lines of the inliers, in file order: what a support file holds when
// exactly the inliers support the tensor.
inline std::string inlier_text(const TripletSet &set) {
  std::string text;
  for (size_t n = 0; n < set.matches.size(); ++n)
    if (set.inlier[n]) text += line_of(set.matches[n]);
  return text;
}

}  // namespace synthetic
