// Synthetic scenes for tests, benchmarks and the example generator: a
// portable random generator, pinhole cameras, and point correspondences
// between views, true projections with Gaussian noise mixed with wrong
// matches of the kinds a feature matcher makes. Every run gives the same
// numbers on every machine: the generator is written out here, and the
// geometry uses only + - * / and sqrt.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "matchio.h"

namespace synthetic {

// splitmix64.
class Random {
 public:
  explicit Random(uint64_t seed) : state_(seed) {}
  uint64_t next();
  // Uniform in [0, 1) with 53 random bits.
  double uniform();
  double uniform(double lo, double hi) { return lo + (hi - lo) * uniform(); }
  // Uniform integer in [0, n).
  int uniform_int(int n) { return static_cast<int>(uniform() * n); }
  // Approximately standard normal: the sum of twelve uniforms, less 6.
  double gaussian();

 private:
  uint64_t state_;
};

struct Vec3 {
  double x, y, z;
};

inline Vec3 add(Vec3 a, Vec3 b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
inline Vec3 sub(Vec3 a, Vec3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
inline Vec3 scale(Vec3 a, double s) { return {a.x * s, a.y * s, a.z * s}; }
inline double dot(Vec3 a, Vec3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
inline Vec3 cross(Vec3 a, Vec3 b) {
  return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
Vec3 normalise(Vec3 a);

// A pinhole camera. World axes: x to the right, y up, z away from the
// viewer. Image axes: x to the right, y down; the centre of pixel (i, j) is
// at (i, j) and the principal point is the image centre.
struct Camera {
  Vec3 centre;
  Vec3 right, down, forward;  // rows of the rotation
  double focal;               // pixels
  double cx, cy;              // principal point
  int width, height;          // image size, pixels
  // 0 for a perspective camera; a positive depth makes the camera affine
  // (scaled orthographic): every point projects as if it lay at this depth
  // along the viewing direction.
  double affine_depth = 0.0;
};

// A camera at `centre` looking at `target`, its horizon level.
Camera look_at(Vec3 centre, Vec3 target, double focal, int width, int height);

struct Projection {
  double x, y;
  double depth;  // along the viewing direction
};
Projection project(const Camera &c, Vec3 p);

// Direction (not of unit length) of the ray through image position (x, y).
Vec3 ray_direction(const Camera &c, double x, double y);

// The 3 x 4 matrix P = K [R | -R C] of the camera, row by row (for an affine
// camera the first two rows scaled by 1 / depth and the third (0, 0, 0, 1)).
void camera_matrix(const Camera &c, double p[3][4]);

struct Position {
  double x, y;
};
using Match = std::vector<Position>;  // one position per view

// What the match generator asks of a scene.
class Scene {
 public:
  virtual ~Scene() = default;
  // A scene point that `c` sees through a random pixel position (or any
  // random point of the scene); false when there is none this time.
  virtual bool random_point(const Camera &c, Random *r, Vec3 *p) const = 0;
  // Whether `c` sees `p` (in front of it, inside the image, nothing in
  // between) and where.
  virtual bool sees(const Camera &c, Vec3 p, Position *at) const = 0;
};

// Points uniform in the box [low, high], which hides nothing: a camera sees
// a point in front of it that projects inside the image, `margin` pixels
// away from its border.
class PointCloud : public Scene {
 public:
  PointCloud(Vec3 low, Vec3 high, double margin) : low_(low), high_(high), margin_(margin) {}
  bool random_point(const Camera &c, Random *r, Vec3 *p) const override;
  bool sees(const Camera &c, Vec3 p, Position *at) const override;

 private:
  Vec3 low_, high_;
  double margin_;
};

struct MatchSettings {
  double margin = 4.0;  // wrong positions stay this far inside the image
  double noise = 0.30;  // standard deviation of the position noise, pixels
};

// A measured position: `p` with Gaussian noise.
Position observe(Position p, const MatchSettings &settings, Random *r);

// A wrong position for view `view` of a match, of one of the kinds a feature
// matcher produces: anywhere in the image, the position of another point the
// camera sees, or a near miss 6 to 30 pixels away.
Position wrong_position(const Scene &scene, const std::vector<Camera> &cameras, int view,
                        Position right, const MatchSettings &settings, Random *r);

// One attempt at a true match: a random point of the scene (through the
// first camera) that every camera sees, observed with noise in each view.
// False when the point is not seen by all.
bool true_match(const Scene &scene, const std::vector<Camera> &cameras,
                const MatchSettings &settings, Random *r, Match *match);

// A match of independent random positions, one per view, `settings.margin`
// pixels inside each image.
Match random_match(const std::vector<Camera> &cameras, const MatchSettings &settings, Random *r);

// `inliers` true matches of points seen by every camera, found through
// random points of the first camera, and `outliers` wrong ones in which one
// view's position is wrong, in random order. `inlier`, when given, receives
// for every match whether it is a true one.
std::vector<Match> make_matches(const Scene &scene, const std::vector<Camera> &cameras, int inliers,
                                int outliers, const MatchSettings &settings, Random *r,
                                std::vector<bool> *inlier = nullptr);

// The text of a match file: per match "x y" per view with `decimals`
// decimals, separated by spaces, one line per match.
std::string match_lines(const std::vector<Match> &matches, int decimals = 2);

// Three-view matches as records (views in the order first, middle, last).
std::vector<MatchRecord> triplet_records(const std::vector<Match> &matches);

}  // namespace synthetic
