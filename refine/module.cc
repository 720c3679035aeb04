// Entry of the loadable module that ostrel opens for -g and -r: the table of
// the refinement functions and of the stage that runs them.
#include "refine.h"
#include "stage.h"

extern "C" __attribute__((visibility("default"))) const RefineApi *ostrel_refine_api() {
  static const RefineApi api = {cameras_from_tensor, refine_geometry, robust_estimate,
                                 run_refine_stage};
  return &api;
}
