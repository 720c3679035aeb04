// The three-view bundle adjustment behind refine_geometry and the robust
// sampler's local optimisation: the cameras in a scale-normalised frame with
// the last camera canonical, the reprojection residual of one triplet, its
// optimal triangulation, and a Levenberg-Marquardt solver for this one
// structure (two free 3x4 cameras, one 3-parameter point per triplet, the
// points eliminated by the Schur complement). Internal to the refinement;
// the tests reach it to compare the solver with a general one.
#pragma once
#include <cstdint>
#include <memory>
#include <vector>

#include "matchio.h"
#include "refine.h"

namespace bundle {

// Cameras in the normalised frame (positions divided by s per image). The
// last camera is fixed: [I | 0] for projective cameras (points (a, b, 1, w)),
// [[1,0,0,0],[0,1,0,0],[0,0,0,1]] for affine ones (points (a, b, z, 1)).
// p[0] is the first camera, p[1] the middle one, row-major.
struct Frame {
  double s[3];
  double p[2][12];
  bool affine;
};

// Pixel cameras -> frame. 0 when the last camera is rank deficient or the
// transformed cameras are not finite.
int make_frame(const ThreeCameras &pix, const double s[3], bool affine, Frame *f);
ThreeCameras pixel_cameras(const Frame &f);

// Observations of a triplet in the frame's coordinates.
void frame_observations(const Frame &f, const MatchRecord &m, double obs[3][2]);

// Reprojection residual of a triplet in pixels (first x, y, middle x, y,
// last x, y) for point parameters pt; with jp, also its derivatives by the
// three parameters (6 x 3, row-major). false when the point projects to
// infinity in the first or middle image.
bool residual(const Frame &f, const double obs[3][2], const double pt[3], double r[6],
              double *jp);

// The linear point: on the last image's ray, its remaining parameter fitted
// to the first two images by linear least squares. 0 when that fit is
// degenerate.
int linear_point(const Frame &f, const MatchRecord &m, double pt[3]);

// Optimal triangulation: point parameters and the three errors in pixels.
// 0 when the point cannot be placed.
int triangulate(const Frame &f, const MatchRecord &m, double pt[3], double err[3]);
// The same from the better of the linear start and `start` (point
// parameters of a nearby solution, for instance before the cameras moved).
int triangulate_from(const Frame &f, const MatchRecord &m, const double *start, double pt[3],
                     double err[3]);

// The adjustment's objective, 1/2 sum of Huber(|r|^2) with the Huber
// threshold `huber` on the norm of a triplet's six residuals (pixels).
double huber_rho(double squared_norm, double huber);

struct Options {
  double huber = 1.0;
  int max_iterations = 15;
  double function_tolerance = 1e-7;   // stop: relative cost decrease below this
  double parameter_tolerance = 1e-9;  // stop: relative step below this
};

struct Result {
  double initial_cost = 0.0, final_cost = 0.0;
  int iterations = 0, accepted = 0;
};

// Per-triplet terms of the linearised problem, kept between calls so that
// repeated adjustments allocate nothing once it has grown.
struct Workspace {
  struct Block;
  std::unique_ptr<Block[]> blocks;  // left uninitialised: every use writes first
  size_t capacity = 0;               // blocks allocated
  std::vector<double> trial;  // trial point parameters
  std::vector<int> index;     // flagged triplets
  struct Observation {
    double v[3][2];
  };
  std::vector<Observation> obs;  // their positions in the frame's coordinates
  size_t current = 0;   // first block of the final linearisation
  size_t adjusted = 0;  // triplets of the last successful adjust (0 after a failure)
  Workspace();
  ~Workspace();
};

// Levenberg-Marquardt over the flagged triplets from f and the point
// parameters (3 per triplet, only the flagged ones are read and written).
// false when the start cannot be evaluated or the result is not finite.
bool adjust(Frame *f, const MatchRecord *matches, int count, const int32_t *flags,
            double *points, const Options &o, Workspace *ws, Result *result);

// After a successful adjust: the residual (pixels) of the q-th flagged
// triplet (in file order) at its final point and cameras, and the decrease
// of its squared norm that a further Gauss-Newton step of the point alone
// would predict. false when q is out of range or the point's block is
// singular.
bool adjusted_residual(const Workspace &ws, size_t q, double r[6], double *predicted);

}  // namespace bundle
