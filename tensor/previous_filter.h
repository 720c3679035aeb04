// Thinning of the matches with the tensor of an earlier run (ostrel -t).
#pragma once
#include "matchio.h"
#include "params.h"
#include "trifocal.h"

// Keeps the matches whose mean transfer distance (d_last + d_first +
// d_middle) / 3 under `tensor`, with the transfer of params.method (affine
// for 0, also for a tensor written by a projective run), is strictly below
// `distance`; a mean equal to or above it, or not a number, drops the match.
// For every match, in order, prints "D error %f\n" with its mean and
// "Actualmatches %d\n" with the kept count so far. Kept records (all three
// positions and their indices) move to the front of matches[] in their input
// order; the places behind them are of no further use. Returns the kept
// count. The caller's tensor is not changed.
int filter_by_previous_tensor(const EstimatorParams &params, MatchRecord *matches, int count,
                              const TrifocalTensor &tensor, double distance);
