// The true cameras of the shared synthetic scene generator's scene `seed`,
// as the refinement's ThreeCameras: the starting point the tests compare
// the refined geometry with.
#pragma once
#include <cstdint>
#include <cstring>

#include "refine.h"
#include "synthetic_triplets.h"

inline ThreeCameras true_cameras(uint64_t seed) {
  const scene::Scene s = scene::random_scene(seed, 1);
  ThreeCameras c;
  std::memcpy(c.p[0], s.first.m, sizeof c.p[0]);
  std::memcpy(c.p[1], s.middle.m, sizeof c.p[1]);
  std::memcpy(c.p[2], s.last.m, sizeof c.p[2]);
  return c;
}
