#include "synthetic_scene.h"

#include <cmath>
#include <cstdio>
#include <utility>

namespace synthetic {

uint64_t Random::next() {
  state_ += 0x9E3779B97F4A7C15ull;
  uint64_t z = state_;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

double Random::uniform() { return static_cast<double>(next() >> 11) * (1.0 / 9007199254740992.0); }

double Random::gaussian() {
  // Only additions, so the value is the same on every machine.
  double s = 0.0;
  for (int i = 0; i < 12; ++i) s += uniform();
  return s - 6.0;
}

Vec3 normalise(Vec3 a) { return scale(a, 1.0 / std::sqrt(dot(a, a))); }

Camera look_at(Vec3 centre, Vec3 target, double focal, int width, int height) {
  Camera c;
  c.centre = centre;
  c.forward = normalise(sub(target, centre));
  c.right = normalise(cross({0.0, 1.0, 0.0}, c.forward));
  c.down = cross(c.right, c.forward);
  c.focal = focal;
  c.cx = 0.5 * (width - 1);
  c.cy = 0.5 * (height - 1);
  c.width = width;
  c.height = height;
  return c;
}

Projection project(const Camera &c, Vec3 p) {
  Vec3 d = sub(p, c.centre);
  double xc = dot(c.right, d), yc = dot(c.down, d), zc = dot(c.forward, d);
  if (c.affine_depth > 0.0)
    return {c.focal * xc / c.affine_depth + c.cx, c.focal * yc / c.affine_depth + c.cy, zc};
  return {c.focal * xc / zc + c.cx, c.focal * yc / zc + c.cy, zc};
}

Vec3 ray_direction(const Camera &c, double x, double y) {
  Vec3 d = c.forward;
  d = add(d, scale(c.right, (x - c.cx) / c.focal));
  d = add(d, scale(c.down, (y - c.cy) / c.focal));
  return d;
}

void camera_matrix(const Camera &c, double p[3][4]) {
  const Vec3 rows[3] = {c.right, c.down, c.forward};
  double r[3][4];
  for (int i = 0; i < 3; ++i) {
    r[i][0] = rows[i].x;
    r[i][1] = rows[i].y;
    r[i][2] = rows[i].z;
    r[i][3] = -dot(rows[i], c.centre);
  }
  if (c.affine_depth > 0.0) {
    for (int j = 0; j < 4; ++j) {
      p[0][j] = c.focal * r[0][j] / c.affine_depth;
      p[1][j] = c.focal * r[1][j] / c.affine_depth;
      p[2][j] = j == 3 ? 1.0 : 0.0;
    }
    p[0][3] += c.cx;
    p[1][3] += c.cy;
    return;
  }
  for (int j = 0; j < 4; ++j) {
    p[0][j] = c.focal * r[0][j] + c.cx * r[2][j];
    p[1][j] = c.focal * r[1][j] + c.cy * r[2][j];
    p[2][j] = r[2][j];
  }
}

bool PointCloud::random_point(const Camera &, Random *r, Vec3 *p) const {
  const double x = r->uniform(low_.x, high_.x);
  const double y = r->uniform(low_.y, high_.y);
  *p = {x, y, r->uniform(low_.z, high_.z)};
  return true;
}

bool PointCloud::sees(const Camera &c, Vec3 p, Position *at) const {
  const Projection q = project(c, p);
  if (!(q.depth > 0.0)) return false;
  if (q.x < margin_ || q.x > c.width - 1 - margin_ || q.y < margin_ || q.y > c.height - 1 - margin_)
    return false;
  *at = {q.x, q.y};
  return true;
}

Position observe(Position p, const MatchSettings &settings, Random *r) {
  const double x = p.x + settings.noise * r->gaussian();
  return {x, p.y + settings.noise * r->gaussian()};
}

namespace {

Position random_position(const Camera &c, double margin, Random *r) {
  const double x = margin + r->uniform() * (c.width - 1 - 2 * margin);
  return {x, margin + r->uniform() * (c.height - 1 - 2 * margin)};
}

bool inside(const Camera &c, Position p, double margin) {
  return p.x >= margin && p.x <= c.width - 1 - margin && p.y >= margin &&
         p.y <= c.height - 1 - margin;
}

}  // namespace

Position wrong_position(const Scene &scene, const std::vector<Camera> &cameras, int view,
                        Position right, const MatchSettings &settings, Random *r) {
  const Camera &c = cameras[static_cast<size_t>(view)];
  double kind = r->uniform();
  if (kind < 0.4) return random_position(c, settings.margin, r);
  if (kind < 0.7) {
    for (;;) {
      Vec3 p;
      Position at;
      if (scene.random_point(c, r, &p) && scene.sees(c, p, &at)) return observe(at, settings, r);
    }
  }
  for (;;) {
    const double dx = 2.0 * r->uniform() - 1.0;
    const double dy = 2.0 * r->uniform() - 1.0;
    double n = std::sqrt(dx * dx + dy * dy);
    if (n > 1.0 || n < 0.1) continue;
    double radius = 6.0 + 24.0 * r->uniform();
    Position p{right.x + dx / n * radius, right.y + dy / n * radius};
    if (inside(c, p, settings.margin)) return p;
  }
}

bool true_match(const Scene &scene, const std::vector<Camera> &cameras,
                const MatchSettings &settings, Random *r, Match *match) {
  match->clear();
  Vec3 p;
  if (!scene.random_point(cameras[0], r, &p)) return false;
  for (const Camera &c : cameras) {
    Position at;
    if (!scene.sees(c, p, &at)) return false;
    match->push_back(observe(at, settings, r));
  }
  return true;
}

Match random_match(const std::vector<Camera> &cameras, const MatchSettings &settings, Random *r) {
  Match m;
  for (const Camera &c : cameras) m.push_back(random_position(c, settings.margin, r));
  return m;
}

std::vector<Match> make_matches(const Scene &scene, const std::vector<Camera> &cameras, int inliers,
                                int outliers, const MatchSettings &settings, Random *r,
                                std::vector<bool> *inlier) {
  std::vector<Match> matches;
  std::vector<bool> flags;
  Match m;
  while (static_cast<int>(matches.size()) < inliers + outliers) {
    if (!true_match(scene, cameras, settings, r, &m)) continue;
    const bool wrong = static_cast<int>(matches.size()) >= inliers;
    if (wrong) {
      int view = r->uniform_int(static_cast<int>(cameras.size()));
      m[static_cast<size_t>(view)] =
          wrong_position(scene, cameras, view, m[static_cast<size_t>(view)], settings, r);
    }
    matches.push_back(m);
    flags.push_back(!wrong);
  }
  // Fisher-Yates shuffle, so that the wrong matches are spread through the file.
  for (size_t i = matches.size() - 1; i > 0; --i) {
    size_t j = static_cast<size_t>(r->uniform_int(static_cast<int>(i + 1)));
    std::swap(matches[i], matches[j]);
    std::vector<bool>::swap(flags[i], flags[j]);
  }
  if (inlier) *inlier = flags;
  return matches;
}

std::string match_lines(const std::vector<Match> &matches, int decimals) {
  std::string text;
  char buffer[96];
  for (const Match &m : matches) {
    for (size_t v = 0; v < m.size(); ++v) {
      std::snprintf(buffer, sizeof buffer, v + 1 == m.size() ? "%.*f %.*f\n" : "%.*f %.*f ",
                    decimals, m[v].x, decimals, m[v].y);
      text += buffer;
    }
  }
  return text;
}

std::vector<MatchRecord> triplet_records(const std::vector<Match> &matches) {
  std::vector<MatchRecord> records;
  records.reserve(matches.size());
  for (const Match &m : matches) {
    MatchRecord record;
    record.first = {m[0].x, m[0].y, 0};
    record.middle = {m[1].x, m[1].y, 0};
    record.last = {m[2].x, m[2].y, 0};
    records.push_back(record);
  }
  return records;
}

}  // namespace synthetic
