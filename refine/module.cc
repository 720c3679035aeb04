// Entry of the loadable module that ostrel opens for -g and -r: the table of
// the refinement functions.
#include "refine.h"

extern "C" __attribute__((visibility("default"))) const RefineApi *ostrel_refine_api() {
  static const RefineApi api = {cameras_from_tensor, refine_geometry, robust_estimate};
  return &api;
}
