// Geometric refinement of a three-view estimate: a projective (or affine)
// bundle adjustment of the cameras and one point per supporting triplet,
// alternated with a re-selection of the supporting triplets by their
// reprojection error after optimal triangulation. Also a robust sampler that
// produces the starting cameras. Nothing here prints or exits: every
// function returns its result and, when it keeps the input, the reason.
#pragma once
#include <cstdint>
#include <vector>

#include "matchio.h"
#include "trifocal.h"

// Three 3x4 cameras in pixel coordinates, row-major: [0] first, [1] middle,
// [2] last image.
struct ThreeCameras {
  double p[3][3][4];
};

struct RefineOptions {
  double distance = 1.0;  // inlier distance, pixels (all three images)
  bool affine = false;    // affine cameras (third row 0 0 0 1)
  int max_rounds = 8;     // adjustment / re-selection rounds
  int iterations = 15;    // Levenberg-Marquardt iterations per round
};

struct RefineReport {
  int refined = 0;           // 1: the refined geometry replaced the input
  char reason[160] = {};     // refined == 0: why the input result was kept
  ThreeCameras cameras{};    // refined cameras, pixel coordinates
  std::vector<double> points;  // 4 per triplet, homogeneous, in the cameras' frame
  std::vector<double> errors;  // 3 per triplet: reprojection error first, middle, last (pixels)
  std::vector<int32_t> support;  // re-selected support flags
  int rounds = 0;
  int supported = 0;
  double rms = 0.0, max = 0.0;  // over the supporting triplets and all three images
  TrifocalTensor tensor{};      // tensor of the refined cameras, faithful scaling
};

// Cameras of a projective tensor (last camera [I | 0] in the scale-normalised
// frame of the flagged triplets), returned in pixel coordinates. 0 when the
// tensor or the flagged set cannot give cameras.
int cameras_from_tensor(const TrifocalTensor &t, const MatchRecord *matches, int count,
                        const int32_t *flags, ThreeCameras *cameras);

// Refines `start` over the triplets flagged in `support`. Returns 1 with the
// refined result in *report, or 0 with report->reason set when the input is
// degenerate (fewer than seven supporting triplets, non-finite coordinates,
// views related by homographies, coincident camera centres, an adjustment
// that fails). `input` is the tensor the start came from: its sign is kept
// and, in affine mode, its entries 16..26. Deterministic: single-threaded solver.
int refine_geometry(const MatchRecord *matches, int count, const int32_t *support,
                    const ThreeCameras &start, const TrifocalTensor &input,
                    const RefineOptions &options,
                    RefineReport *report);

struct RobustOptions {
  double distance = 1.0;
  double confidence = 0.999;
  int max_samples = 1000;
  bool affine = false;
};

struct RobustReport {
  int found = 0;
  char reason[160] = {};
  int samples = 0, hypotheses = 0, local_optimisations = 0, inliers = 0;
  ThreeCameras cameras{};
};

// Robust sampling: every real six-point solution (or the affine cameras of
// four triplets), MSAC scoring of a cheap reprojection error with an exact
// bail-out, local optimisation of every new best, adaptive stop at the
// confidence. support[] receives the inliers of the best hypothesis.
int robust_estimate(const MatchRecord *matches, int count, const RobustOptions &options,
                    int32_t *support, RobustReport *report);

// The stage of stage.h, which runs the functions above in ostrel's order.
struct StageOptions;
struct StageCalls;
struct StageResult;

// The functions above and the stage as the loadable module ostrel-refine.so
// offers them: ostrel_refine_api() (exported with C linkage) returns this
// table.
struct RefineApi {
  int (*cameras_from_tensor)(const TrifocalTensor &t, const MatchRecord *matches, int count,
                             const int32_t *flags, ThreeCameras *cameras);
  int (*refine_geometry)(const MatchRecord *matches, int count, const int32_t *support,
                         const ThreeCameras &start, const TrifocalTensor &input,
                         const RefineOptions &options, RefineReport *report);
  int (*robust_estimate)(const MatchRecord *matches, int count, const RobustOptions &options,
                         int32_t *support, RobustReport *report);
  int (*run_refine_stage)(const MatchRecord *matches, int count, const StageOptions &options,
                          const StageCalls &calls, TrifocalTensor *tensor, int32_t *support,
                          StageResult *result);
};
using RefineApiEntry = const RefineApi *(*)();
