// ostrel's -g / -r stage. The refinement and Ceres Solver live in a loadable
// module (ostrel-refine.so beside the program, or in ../lib/tarvik), opened
// only when -g or -r is given, so that runs without them load and map
// exactly what they did before.
#pragma once
#include <cstdint>

#include "matchio.h"
#include "options.h"
#include "trifocal.h"

// The faithful estimation as the program runs it: prints its lines, writes
// support[] and replaces *tensor (and ends the run on a fatal error).
using FaithfulEstimation = void (*)(void *context, TrifocalTensor *tensor, int32_t *support);

// Runs the stage (run_refine_stage of the module: the robust sampler (-r) or
// the faithful estimation, then the refinement) and prints the blocks the
// manual page documents, the robust block as soon as the sampler ends. Replaces
// *tensor and support[] when the refinement succeeds; otherwise they hold
// the faithful result. When the module cannot be opened the faithful
// estimation runs and the refinement block says why.
void run_refinement(const OstrelParams &params, const OstrelCommandLine &line,
                    const MatchRecord *matches, int count, FaithfulEstimation faithful,
                    void *context, TrifocalTensor *tensor, int32_t *support);
