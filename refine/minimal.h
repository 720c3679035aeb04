// The six-point solver of the robust sampler: the cameras of every real
// solution of the six-point problem, computed as compute_six_point_solutions
// (six_point.h) computes them (the same normalisation, canonical bases,
// linear system, cubic and per-view cameras) but with closed-form null
// spaces and inverses, and without forming the tensors.
#pragma once
#include "matchio.h"
#include "refine.h"

// Every real solution of the six-point problem for sample[0..5], as pixel
// cameras (first, middle, last) in the frame of compute_six_point_solutions:
// the last camera is diag(1/f, 1/f, 1) [I | 0] for the last image's
// normalisation factor f, and the first and middle cameras equal that
// computation's up to rounding. Returns the number of solutions, 0..3, in
// the order of the cubic's roots in this solver's own null-space basis
// (which may differ from the order compute_six_point_solutions returns).
// Rejects (returns 0) the samples that computation rejects: a degenerate
// basis in one image (basis_is_degenerate), non-finite positions or
// normalisation factors, a null space of the 3x5 system that is not
// two-dimensional (third singular value squared at most 0.0001), a cubic
// with non-finite coefficients. A root is left out when the last camera
// has an all-zero row or any camera entry is not finite. Deterministic; no
// heap allocation.
int six_point_cameras(const MatchRecord sample[6], ThreeCameras out[3]);

// The same cameras from compute_six_point_solutions (their order, the
// faithful computation's): the reference that six_point_cameras is tested
// and timed against.
int faithful_six_point_cameras(const MatchRecord sample[6], ThreeCameras out[3]);
