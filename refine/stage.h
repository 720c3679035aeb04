// The refinement stage of ostrel's -g and -r as one call: the robust sampler
// (-r) or the caller's faithful estimation, the starting cameras, the
// adjustment and its fallbacks. It decides; it prints nothing. The caller
// runs the faithful estimation (ostrel prints its lines, the Python module
// runs it quietly) and is told when the robust sampler has finished, so that
// a program can show that block before the faithful estimation's lines.
#pragma once
#include <cstdint>

#include "matchio.h"
#include "refine.h"
#include "trifocal.h"

struct StageOptions {
  double distance = 1.0;            // inlier distance, pixels
  bool affine = false;              // affine cameras and tensor (-a)
  bool robust = false;              // robust sampler first (-r)
  int samples = 1000;               // robust sampler's largest number of samples (-n)
  bool stop_early = false;          // -s: the robust sampler's confidence is
  double success_probability = 0.99;  // success_probability instead of 0.999
};

struct StageResult {
  int status = 0;          // 0, or the faithful callback's nonzero value that ended the stage
  int robust_ran = 0;      // the robust sampler ran
  int robust_found = 0;    // ... and gave starting cameras
  RobustReport robust;     // its report when it ran
  int faithful_runs = 0;   // times the faithful estimation ran: 0 (-r that refined), 1 or 2
  int fell_back = 0;       // with -r: the faithful estimation ran after the robust sampler
  int refined = 0;         // the refined geometry replaced the faithful result
  RefineReport report;     // refined: cameras, points, errors...; otherwise report.reason says why
};

// The faithful estimation as the caller runs it: writes support[0..count)
// and replaces *tensor. Returns 0 to go on; a nonzero value ends the stage,
// which returns it in StageResult::status.
using StageFaithful = int (*)(void *context, TrifocalTensor *tensor, int32_t *support);
// Told once, right after the robust sampler, before anything else runs.
using StageRobustDone = void (*)(void *context, const StageResult &so_far);

struct StageCalls {
  StageFaithful faithful = nullptr;
  StageRobustDone robust_done = nullptr;  // may be null
  void *context = nullptr;
};

// Runs the stage on count matches. *tensor is, on entry, the tensor a robust
// start is refined against (its sign is kept; ostrel's is zero or the
// previous run's). On return *tensor and support[] hold the refined result
// when result->refined, and otherwise the faithful result. support has room
// for count flags. Returns result->status.
int run_refine_stage(const MatchRecord *matches, int count, const StageOptions &options,
                     const StageCalls &calls, TrifocalTensor *tensor, int32_t *support,
                     StageResult *result);
