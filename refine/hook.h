// ostrel's entry to the -g / -r stage. The stage and Ceres Solver live in a
// loadable module (ostrel-refine.so beside the program, or in
// ../lib/tarvik), opened only when -g or -r is given, so that runs without
// them load and map exactly what they did before.
#pragma once
#include <cstdint>

#include "matchio.h"
#include "params.h"
#include "trifocal.h"

// Opens the module and runs its stage (see run_refinement_stage in
// refine.h). When the module cannot be opened the faithful estimator runs
// and the refinement block says why.
void run_refinement_hook(const EstimatorParams &params, bool robust, const MatchRecord *matches,
                         int count, int samples, TrifocalTensor *tensor, int32_t *support);
