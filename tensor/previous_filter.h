// Thinning of the matches with the tensor of an earlier run.
#pragma once
#include "matchio.h"
#include "trifocal.h"

// Called for every match, in order, with its mean transfer distance and the
// kept count so far (after deciding on this match).
using PreviousFilterCallback = void (*)(void *context, double mean_distance, int kept);

// Keeps the matches whose mean transfer distance (d_last + d_first +
// d_middle) / 3 under `tensor`, with the transfer of `method` (affine for the
// affine method, also for a tensor written by a projective run), is strictly
// below `distance`; a mean equal to or above it, or not a number, drops the
// match. Kept records (all three positions and their indices) move to the
// front of matches[] in their input order; the places behind them are of no
// further use. Returns the kept count. The caller's tensor is not changed.
// `on_match` (may be null) sees every match as described above; lines that
// the transfer's decompositions report go to the numeric note sink of the
// calling thread.
int filter_by_previous_tensor(TensorMethod method, MatchRecord *matches, int count,
                              const TrifocalTensor &tensor, double distance,
                              PreviousFilterCallback on_match = nullptr, void *context = nullptr);
