// make_examples: writes the example data of the toolkit.
//
// A small textured 3-D scene (a tiled floor, a brick back wall, a striped
// side wall and three boxes covered in coloured tiles) is ray-cast through
// pinhole cameras with real perspective. The program writes
//
//   <out>/scene/view1.jpg, view2.jpg, view3.jpg  three 480 x 360 views
//   <out>/scene/cameras.txt    the three true 3 x 4 camera matrices
//   <out>/scene/triplets.txt   triplets for ostrel (x y per view, views 1 2 3)
//   <out>/scene/pairs.txt      pairs of views 1 and 2 for pelmix
//   <out>/sequence/img<i>.jpg-img<i+1>.jpg-img<i+2>.jpg.txt   for vandrel,
//                              i = 1..4, from six views along a path
//
// The correspondences are true projections of scene points that every view
// of the line sees (nothing in front of them, inside the image), with
// Gaussian noise added, mixed with wrong matches as a feature matcher makes
// them.
//
// Every run writes the same bytes on every machine: the random numbers come
// from a generator written out here with a fixed seed, the geometry uses only
// + - * / and sqrt (correctly rounded everywhere; no sin, cos, log or exp),
// and the numbers are printed with two decimals.
//
// Usage: make_examples [output folder]   (default "examples")
//        make_examples --frames folder
// The second form renders a test sequence for the workflow instead: twelve
// 480 x 360 views frame1.jpg .. frame12.jpg of a camera moving along a path
// through the scene, and cameras.txt with one line per frame, the 12 entries
// of its 3 x 4 camera matrix row by row.

#include <sys/stat.h>

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "qorimage.h"
#include "synthetic_scene.h"

namespace {

using synthetic::add;
using synthetic::Camera;
using synthetic::cross;
using synthetic::dot;
using synthetic::Match;
using synthetic::normalise;
using synthetic::Position;
using synthetic::Projection;
using synthetic::Random;
using synthetic::scale;
using synthetic::sub;
using synthetic::Vec3;

// ---------------------------------------------------------------------------
// Random numbers: the generator of synthetic_scene.h with a fixed seed.

constexpr uint64_t kSeed = 20110211u;

// A hash of integer lattice coordinates for the procedural textures, in
// [0, 1): the same mixing as the generator, applied to the coordinates.
double lattice_hash(int64_t a, int64_t b, uint64_t salt) {
  Random r(static_cast<uint64_t>(a) * 0x9E3779B1ull ^ static_cast<uint64_t>(b) * 0x85EBCA77C2B2AE63ull ^
           salt * 0xC2B2AE3D27D4EB4Full);
  return r.uniform();
}

// ---------------------------------------------------------------------------
// Vectors.

double component(Vec3 a, int axis) { return axis == 0 ? a.x : axis == 1 ? a.y : a.z; }

// ---------------------------------------------------------------------------
// Cameras. World axes: x to the right, y up, z away from the viewer. Image
// axes: x to the right, y down; the centre of pixel (i, j) is at (i, j).

constexpr int kWidth = 480;
constexpr int kHeight = 360;

// A camera at `centre` looking at `target`, its horizon level.
Camera look_at(Vec3 centre, Vec3 target, double focal) {
  return synthetic::look_at(centre, target, focal, kWidth, kHeight);
}

// ---------------------------------------------------------------------------
// The scene: axis-aligned rectangles and boxes.

enum Texture { FLOOR_TILES, BRICKS, STRIPES, BOX_TILES };

// A rectangle in the plane `axis` = `position`, bounded on the two other axes.
struct Rectangle {
  int axis;
  double position;
  double lo[3], hi[3];  // bounds; the entries of `axis` are unused
  Texture texture;
  uint64_t salt;
};

struct Box {
  Vec3 lo, hi;
  uint64_t salt;
};

const Rectangle kRectangles[] = {
    {1, 0.0, {-5.0, 0.0, -6.0}, {8.0, 0.0, 12.0}, FLOOR_TILES, 11},  // floor
    {2, 12.0, {-5.0, 0.0, 0.0}, {8.0, 5.0, 0.0}, BRICKS, 12},        // back wall
    {0, -5.0, {0.0, 0.0, -6.0}, {0.0, 4.0, 12.0}, STRIPES, 13},      // left wall
};

const Box kBoxes[] = {
    {{-2.8, 0.0, 5.2}, {-1.2, 1.6, 6.8}, 21},
    {{0.6, 0.0, 7.5}, {2.6, 2.4, 9.0}, 22},
    {{-0.3, 0.0, 3.6}, {0.7, 0.8, 4.6}, 23},
};

const Vec3 kLight = {0.4, 0.8, -0.45};  // towards the light, normalised in use

struct Hit {
  double t;      // ray parameter: the point is origin + t * direction
  Vec3 normal;   // facing the ray
  Texture texture;
  uint64_t salt;
  int axis;      // the axis the surface is perpendicular to
};

constexpr double kNoHit = 1e300;

void hit_rectangle(const Rectangle &r, Vec3 o, Vec3 d, Hit *best) {
  double dn = component(d, r.axis);
  if (dn == 0.0) return;
  double t = (r.position - component(o, r.axis)) / dn;
  if (!(t > 1e-9) || t >= best->t) return;
  Vec3 p = add(o, scale(d, t));
  for (int a = 0; a < 3; ++a) {
    if (a == r.axis) continue;
    double v = component(p, a);
    if (v < r.lo[a] || v > r.hi[a]) return;
  }
  Vec3 n = {r.axis == 0 ? 1.0 : 0.0, r.axis == 1 ? 1.0 : 0.0, r.axis == 2 ? 1.0 : 0.0};
  if (dn > 0.0) n = scale(n, -1.0);
  *best = {t, n, r.texture, r.salt, r.axis};
}

// Slab intersection: the ray enters the box where the last of the three
// slabs is entered, if that is before the first slab is left.
void hit_box(const Box &b, Vec3 o, Vec3 d, Hit *best) {
  double t_near = -kNoHit, t_far = kNoHit;
  int near_axis = -1;
  double near_sign = 0.0;
  for (int a = 0; a < 3; ++a) {
    double oa = component(o, a), da = component(d, a);
    double lo = component(b.lo, a), hi = component(b.hi, a);
    if (da == 0.0) {
      if (oa < lo || oa > hi) return;
      continue;
    }
    double t0 = (lo - oa) / da, t1 = (hi - oa) / da;
    double sign = -1.0;  // entering through the low face: normal points down the axis
    if (t0 > t1) {
      double s = t0;
      t0 = t1;
      t1 = s;
      sign = 1.0;
    }
    if (t0 > t_near) {
      t_near = t0;
      near_axis = a;
      near_sign = sign;
    }
    if (t1 < t_far) t_far = t1;
  }
  if (near_axis < 0 || t_near > t_far || !(t_near > 1e-9) || t_near >= best->t) return;
  Vec3 n = {near_axis == 0 ? near_sign : 0.0, near_axis == 1 ? near_sign : 0.0,
            near_axis == 2 ? near_sign : 0.0};
  *best = {t_near, n, BOX_TILES, b.salt, near_axis};
}

Hit trace(Vec3 o, Vec3 d) {
  Hit best{kNoHit, {0.0, 0.0, 0.0}, FLOOR_TILES, 0, 0};
  for (const Rectangle &r : kRectangles) hit_rectangle(r, o, d, &best);
  for (const Box &b : kBoxes) hit_box(b, o, d, &best);
  return best;
}

// ---------------------------------------------------------------------------
// Procedural textures, colours in [0, 1].

struct Colour {
  double r, g, b;
};

double smooth(double t) { return t * t * (3.0 - 2.0 * t); }

// Value noise: hashed values at the lattice points, blended smoothly.
double value_noise(double u, double v, uint64_t salt) {
  double fu = std::floor(u), fv = std::floor(v);
  int64_t iu = static_cast<int64_t>(fu), iv = static_cast<int64_t>(fv);
  double su = smooth(u - fu), sv = smooth(v - fv);
  double a = lattice_hash(iu, iv, salt), b = lattice_hash(iu + 1, iv, salt);
  double c = lattice_hash(iu, iv + 1, salt), d = lattice_hash(iu + 1, iv + 1, salt);
  double top = a + (b - a) * su, bottom = c + (d - c) * su;
  return top + (bottom - top) * sv;
}

Colour mix(Colour a, Colour b, double t) {
  return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

Colour times(Colour a, double f) { return {a.r * f, a.g * f, a.b * f}; }

// A colour picked by hash from a small palette, varied in brightness.
Colour palette_colour(int64_t a, int64_t b, uint64_t salt) {
  static const Colour kPalette[] = {{0.85, 0.25, 0.20}, {0.20, 0.55, 0.85}, {0.95, 0.80, 0.25},
                                    {0.25, 0.70, 0.35}, {0.90, 0.90, 0.88}, {0.15, 0.15, 0.18},
                                    {0.60, 0.35, 0.70}, {0.95, 0.55, 0.20}};
  int k = static_cast<int>(lattice_hash(a, b, salt) * 8.0);
  return times(kPalette[k], 0.75 + 0.25 * lattice_hash(b, a, salt + 1));
}

// Distance of v from the nearest multiple of `period`.
double distance_to_grid(double v, double period) {
  double f = v / period - std::floor(v / period);
  return (f < 0.5 ? f : 1.0 - f) * period;
}

Colour surface_colour(const Hit &h, Vec3 p) {
  // Texture coordinates in the surface's plane, in scene units.
  double u = h.axis == 0 ? p.z : p.x;
  double v = h.axis == 1 ? p.z : p.y;
  double grain = value_noise(u * 7.0, v * 7.0, h.salt);
  switch (h.texture) {
    case FLOOR_TILES: {
      const double size = 0.8;
      int64_t a = static_cast<int64_t>(std::floor(u / size)), b = static_cast<int64_t>(std::floor(v / size));
      Colour light{0.82, 0.78, 0.70}, dark{0.38, 0.32, 0.28};
      Colour c = ((a + b) & 1) ? dark : light;
      c = times(c, 0.85 + 0.3 * grain * lattice_hash(a, b, h.salt));
      if (distance_to_grid(u, size) < 0.025 || distance_to_grid(v, size) < 0.025) c = {0.15, 0.14, 0.13};
      return c;
    }
    case BRICKS: {
      const double height = 0.25, length = 0.6, mortar = 0.025;
      double row = std::floor(v / height);
      double shift = (static_cast<int64_t>(row) & 1) ? 0.5 * length : 0.0;
      double uu = u + shift;
      if (distance_to_grid(v, height) < mortar || distance_to_grid(uu, length) < mortar)
        return {0.78, 0.76, 0.72};
      int64_t brick = static_cast<int64_t>(std::floor(uu / length));
      double shade = lattice_hash(brick, static_cast<int64_t>(row), h.salt);
      Colour c = mix(Colour{0.62, 0.22, 0.14}, Colour{0.85, 0.55, 0.35}, shade);
      return times(c, 0.85 + 0.3 * grain);
    }
    case STRIPES: {
      const double width = 0.5, band = 1.0;
      int64_t a = static_cast<int64_t>(std::floor(u / width)), b = static_cast<int64_t>(std::floor(v / band));
      Colour c = (a & 1) ? Colour{0.30, 0.45, 0.60} : Colour{0.88, 0.86, 0.78};
      return times(c, 0.7 + 0.3 * lattice_hash(a, b, h.salt) + 0.2 * grain);
    }
    case BOX_TILES: {
      const double size = 0.2;
      if (distance_to_grid(u, size) < 0.012 || distance_to_grid(v, size) < 0.012) return {0.1, 0.1, 0.1};
      int64_t a = static_cast<int64_t>(std::floor(u / size)), b = static_cast<int64_t>(std::floor(v / size));
      return times(palette_colour(a, b, h.salt * 4 + static_cast<uint64_t>(h.axis)), 0.9 + 0.2 * grain);
    }
  }
  return {0.0, 0.0, 0.0};
}

// Colour seen along one ray: the texture lit by a distant light, with
// shadows, or the plain sky.
Colour shade(Vec3 o, Vec3 d) {
  Hit h = trace(o, d);
  if (h.t == kNoHit) {
    double up = d.y / std::sqrt(dot(d, d));
    return mix(Colour{0.80, 0.86, 0.93}, Colour{0.45, 0.62, 0.85}, up < 0.0 ? 0.0 : up);
  }
  Vec3 p = add(o, scale(d, h.t));
  Vec3 light = normalise(kLight);
  double lambert = dot(h.normal, light);
  if (lambert < 0.0) lambert = 0.0;
  if (lambert > 0.0 && trace(add(p, scale(h.normal, 1e-6)), light).t != kNoHit) lambert = 0.0;
  return times(surface_colour(h, p), 0.35 + 0.65 * lambert);
}

unsigned char to_byte(double v) {
  double b = v * 255.0 + 0.5;
  if (b < 0.0) return 0;
  if (b > 255.0) return 255;
  return static_cast<unsigned char>(b);
}

// Renders the view of camera `c` with 3 x 3 samples per pixel and writes it
// as a JPEG file of quality 75.
bool render_view(const Camera &c, const std::string &name) {
  QORImage *image = image_create(kWidth, kHeight, QOR_RGB);
  if (!image) return false;
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) {
      Colour sum{0.0, 0.0, 0.0};
      for (int sy = -1; sy <= 1; ++sy) {
        for (int sx = -1; sx <= 1; ++sx) {
          Colour s = shade(c.centre, ray_direction(c, x + sx / 3.0, y + sy / 3.0));
          sum = {sum.r + s.r, sum.g + s.g, sum.b + s.b};
        }
      }
      unsigned char *px = image->pixels + (static_cast<size_t>(y) * kWidth + x) * 3;
      px[0] = to_byte(sum.r / 9.0);
      px[1] = to_byte(sum.g / 9.0);
      px[2] = to_byte(sum.b / 9.0);
    }
  }
  ImageMessages messages;
  const Status written = image_write(name.c_str(), image, 75, &messages);
  image_free(image);
  std::fputs(messages.out.c_str(), stdout);
  std::fputs(messages.err.c_str(), stderr);
  if (messages.fatal_status != 0) std::exit(messages.fatal_status);
  return written == Status::ok;
}

// ---------------------------------------------------------------------------
// Correspondences.

// Points closer than this to the image border are not used.
constexpr double kMargin = 4.0;
// Standard deviation of the position noise, pixels.
constexpr double kNoise = 0.30;

// The ray-cast scene: a point is seen by a camera when it is in front of the
// camera, inside the image and nothing lies in between.
class RayCastScene : public synthetic::Scene {
 public:
  bool random_point(const Camera &c, Random *r, Vec3 *p) const override {
    // A scene point that camera `c` sees through a random pixel position.
    Vec3 d = ray_direction(c, r->uniform() * (kWidth - 1), r->uniform() * (kHeight - 1));
    Hit h = trace(c.centre, d);
    if (h.t == kNoHit) return false;
    *p = add(c.centre, scale(d, h.t));
    return true;
  }

  bool sees(const Camera &c, Vec3 p, Position *at) const override {
    Projection q = project(c, p);
    if (!(q.depth > 0.0)) return false;
    if (q.x < kMargin || q.x > kWidth - 1 - kMargin || q.y < kMargin || q.y > kHeight - 1 - kMargin)
      return false;
    // The point lies at ray parameter 1 from the camera centre.
    Hit h = trace(c.centre, sub(p, c.centre));
    if (h.t < 1.0 - 1e-7) return false;
    *at = {q.x, q.y};
    return true;
  }
};

const RayCastScene kScene;
const synthetic::MatchSettings kMatchSettings = {kMargin, kNoise};

// ---------------------------------------------------------------------------
// Output.

bool write_text(const std::string &name, const std::string &text) {
  FILE *f = std::fopen(name.c_str(), "wb");
  if (!f) {
    std::fprintf(stderr, "make_examples: can't open %s: %s\n", name.c_str(), std::strerror(errno));
    return false;
  }
  bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
  ok = std::fclose(f) == 0 && ok;
  if (!ok) std::fprintf(stderr, "make_examples: can't write %s\n", name.c_str());
  return ok;
}

bool make_folder(const std::string &name) {
  if (mkdir(name.c_str(), 0777) == 0 || errno == EEXIST) return true;
  std::fprintf(stderr, "make_examples: can't create %s: %s\n", name.c_str(), std::strerror(errno));
  return false;
}

// The three views of the scene, seen from left, centre and right.
std::vector<Camera> scene_cameras() {
  return {look_at({-1.6, 1.9, -2.0}, {0.2, 1.1, 7.0}, 410.0), look_at({0.1, 2.2, -2.5}, {0.0, 1.2, 7.0}, 400.0),
          look_at({1.7, 1.7, -1.7}, {-0.3, 1.0, 7.0}, 390.0)};
}

// `views` cameras along a straight path: centre = start + step * i, each
// looking at (turn * centre.x + aim, 1.1, 7.0), so that the view direction
// turns less than the path moves.
std::vector<Camera> path_cameras(int views, Vec3 start, Vec3 step, double turn, double aim) {
  std::vector<Camera> cameras;
  for (int i = 0; i < views; ++i) {
    Vec3 centre{start.x + step.x * i, start.y + step.y * i, start.z + step.z * i};
    Vec3 target{turn * centre.x + aim, 1.1, 7.0};
    cameras.push_back(look_at(centre, target, 400.0));
  }
  return cameras;
}

constexpr int kSequenceViews = 6;

// Six views along a path from left to right, rising a little and turning
// less than the path bends, so that points at every depth move across the
// image by more than vandrel's minimum disparity from one view to the next.
std::vector<Camera> sequence_cameras() {
  return path_cameras(kSequenceViews, {-2.0, 1.6, -2.6}, {0.55, 0.06, 0.25}, 0.85, 0.3);
}

// Triplet files of the sequence: every point of a shared pool seen by the
// three views of a file, each view's position measured once per image so that
// the files of overlapping image runs agree; and a few wrong lines.
bool write_sequence(const std::string &folder, Random *r) {
  const std::vector<Camera> cameras = sequence_cameras();
  const size_t views = cameras.size();
  struct PoolPoint {
    bool seen[kSequenceViews];
    Position at[kSequenceViews];
  };
  std::vector<PoolPoint> pool;
  for (size_t k = 0; k < views; ++k) {
    for (int n = 0; n < 50;) {
      Vec3 p;
      if (!kScene.random_point(cameras[k], r, &p)) continue;
      PoolPoint q;
      for (size_t v = 0; v < views; ++v) {
        Position at;
        q.seen[v] = kScene.sees(cameras[v], p, &at);
        q.at[v] = q.seen[v] ? observe(at, kMatchSettings, r) : Position{0.0, 0.0};
      }
      pool.push_back(q);
      ++n;
    }
  }
  for (size_t first = 0; first + 2 < views; ++first) {
    std::vector<Match> lines;
    for (const PoolPoint &q : pool)
      if (q.seen[first] && q.seen[first + 1] && q.seen[first + 2])
        lines.push_back({q.at[first], q.at[first + 1], q.at[first + 2]});
    const size_t true_lines = lines.size();
    // About one line in twelve is a wrong match, put at a random place.
    const size_t wrong = true_lines / 12;
    std::vector<Camera> three(cameras.begin() + static_cast<long>(first), cameras.begin() + static_cast<long>(first) + 3);
    for (size_t w = 0; w < wrong; ++w) {
      Match m = lines[static_cast<size_t>(r->uniform_int(static_cast<int>(true_lines)))];
      int view = r->uniform_int(3);
      m[static_cast<size_t>(view)] =
          wrong_position(kScene, three, view, m[static_cast<size_t>(view)], kMatchSettings, r);
      size_t at = static_cast<size_t>(r->uniform_int(static_cast<int>(lines.size() + 1)));
      lines.insert(lines.begin() + static_cast<long>(at), m);
    }
    char name[128];
    std::snprintf(name, sizeof name, "img%zu.jpg-img%zu.jpg-img%zu.jpg.txt", first + 1, first + 2, first + 3);
    if (!write_text(folder + "/" + name, match_lines(lines))) return false;
    std::printf("wrote %s/%s: %zu triplets (%zu true, %zu wrong)\n", folder.c_str(), name, lines.size(),
                true_lines, wrong);
  }
  return true;
}

// The cameras' matrices, one line per row, or with `one_line_each` one line
// of all 12 entries per camera (the evaluation folders' form).
std::string camera_lines(const std::vector<Camera> &cameras, bool one_line_each = false) {
  std::string text;
  for (const Camera &c : cameras) {
    double p[3][4];
    camera_matrix(c, p);
    for (int i = 0; i < 3; ++i) {
      char buffer[160];
      std::snprintf(buffer, sizeof buffer, "%.9f %.9f %.9f %.9f%c", p[i][0], p[i][1], p[i][2], p[i][3],
                    one_line_each && i < 2 ? ' ' : '\n');
      text += buffer;
    }
  }
  return text;
}

constexpr int kFrames = 12;

// The cameras of the test sequence: moving right and forward, rising a
// little and turning towards the scene's centre, about 8 to 25 pixels of
// image motion between frames.
std::vector<Camera> frame_cameras() {
  return path_cameras(kFrames, {-2.2, 1.7, -2.4}, {0.3, 0.03, 0.12}, 0.6, 0.1);
}

int write_frames(const std::string &folder) {
  if (!make_folder(folder)) return 1;
  const std::vector<Camera> cameras = frame_cameras();
  for (size_t v = 0; v < cameras.size(); ++v) {
    std::string name = folder + "/frame" + std::to_string(v + 1) + ".jpg";
    if (!render_view(cameras[v], name)) {
      std::fprintf(stderr, "make_examples: can't write %s\n", name.c_str());
      return 1;
    }
  }
  if (!write_text(folder + "/cameras.txt", camera_lines(cameras, true))) return 1;
  std::printf("wrote %s: %d frames frame1.jpg .. frame%d.jpg and cameras.txt\n", folder.c_str(), kFrames,
              kFrames);
  return 0;
}

// An evaluation folder of the ray-cast scene: cameras.txt with one line of
// the 12 entries of each camera (first, middle, last view) and triplets.txt
// with `inliers` true and `outliers` wrong triplets. Seeded apart from the
// examples, so the examples stay as they are.
int write_evaluation(const std::string &folder, int inliers, int outliers) {
  if (!make_folder(folder)) return 1;
  Random r(kSeed + 16);
  const std::vector<Camera> cameras = scene_cameras();
  if (!write_text(folder + "/cameras.txt", camera_lines(cameras, true))) return 1;
  if (!write_text(folder + "/triplets.txt", match_lines(make_matches(kScene, cameras, inliers, outliers, kMatchSettings, &r))))
    return 1;
  std::printf("wrote %s: %d triplets (%d true, %d wrong), noise %.2f pixels\n", folder.c_str(),
              inliers + outliers, inliers, outliers, kNoise);
  return 0;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc == 3 && std::strcmp(argv[1], "--frames") == 0) return write_frames(argv[2]);
  if (argc >= 3 && std::strcmp(argv[1], "--eval") == 0) {
    // make_examples --eval FOLDER [TRUE WRONG]
    const int inliers = argc >= 5 ? std::atoi(argv[3]) : 890;
    const int outliers = argc >= 5 ? std::atoi(argv[4]) : 110;
    if (argc != 3 && argc != 5) return 1;
    if (inliers < 0 || outliers < 0 || inliers + outliers > 1000000) return 1;
    return write_evaluation(argv[2], inliers, outliers);
  }
  if (argc > 2) {
    std::fprintf(stderr, "usage: make_examples [output folder]\n");
    return 1;
  }
  const std::string out = argc == 2 ? argv[1] : "examples";
  const std::string scene = out + "/scene", sequence = out + "/sequence";
  if (!make_folder(out) || !make_folder(scene) || !make_folder(sequence)) return 1;

  Random r(kSeed);
  std::printf("make_examples: random seed %llu\n", static_cast<unsigned long long>(kSeed));

  const std::vector<Camera> cameras = scene_cameras();
  for (size_t v = 0; v < cameras.size(); ++v) {
    std::string name = scene + "/view" + std::to_string(v + 1) + ".jpg";
    if (!render_view(cameras[v], name)) {
      std::fprintf(stderr, "make_examples: can't write %s\n", name.c_str());
      return 1;
    }
    std::printf("wrote %s: %d x %d, JPEG quality 75\n", name.c_str(), kWidth, kHeight);
  }
  if (!write_text(scene + "/cameras.txt", camera_lines(cameras))) return 1;
  std::printf("wrote %s/cameras.txt: the 3 x 4 camera matrices of views 1, 2, 3\n", scene.c_str());

  const int triplet_inliers = 220, triplet_outliers = 80;
  std::vector<Match> triplets = make_matches(kScene, cameras, triplet_inliers, triplet_outliers, kMatchSettings, &r);
  if (!write_text(scene + "/triplets.txt", match_lines(triplets))) return 1;
  std::printf("wrote %s/triplets.txt: %d triplets (%d true, %d wrong), noise %.2f pixels\n", scene.c_str(),
              triplet_inliers + triplet_outliers, triplet_inliers, triplet_outliers, kNoise);

  const int pair_inliers = 200, pair_outliers = 60;
  std::vector<Camera> first_two(cameras.begin(), cameras.begin() + 2);
  std::vector<Match> pairs = make_matches(kScene, first_two, pair_inliers, pair_outliers, kMatchSettings, &r);
  if (!write_text(scene + "/pairs.txt", match_lines(pairs))) return 1;
  std::printf("wrote %s/pairs.txt: %d pairs of views 1 and 2 (%d true, %d wrong)\n", scene.c_str(),
              pair_inliers + pair_outliers, pair_inliers, pair_outliers);

  if (!write_sequence(sequence, &r)) return 1;
  return 0;
}
