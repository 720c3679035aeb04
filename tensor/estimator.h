// Random-sampling estimation of the trifocal tensor: draw samples of
// distinct matches, compute a tensor from each, score every match by its
// transfer distances, keep the best tensor with its support flags, then
// report its transfer error and refit it on all supporting matches.
#pragma once
#include <cstdint>

#include "matchio.h"
#include "params.h"
#include "trifocal.h"

// Room in the sample for this many matches: sampleSize must lie in 1..10.
constexpr int kMaxSampleSize = 10;

// Runs the estimator over matches[0..count-1] with `samples` (N) requested
// samples: N + 1 successful tensor computations unless the stop-early rule
// ends sampling first (N <= 0 still computes one). Prints its progress on
// standard output. On return *tensor holds the best tensor (all zero when no
// tensor was ever supported by a match) and support[] flags its supporting
// matches.
//
// The support flags are written only when some tensor is supported by at
// least one match; the caller clears them beforehand. With count below
// sampleSize the estimator prints "Not enough correspondences for Random
// Sampling to occur" and returns with an all-zero tensor.
//
// Samples whose computation fails are not counted. So that data on which
// every computation fails cannot keep the loop drawing forever, sampling
// ends after max(10000, 100 x N) consecutive failed samples with the line
// "Sampling stopped: %lld samples in a row gave no tensor\n"; the run then
// goes on as if sampling had ended.
//
// After sampling: "Total possible matches ..." line, the original
// assessment, the refit with compute_constrained_tensor (refine_given = 1)
// on the supporting matches when refit is set and at least one match
// supports the tensor, kept only when it lowers the mean transfer error, and
// the refit assessment (printed also without a refit). The support flags
// always describe the best sampled tensor.
//
// Per-sample work allocates nothing on the heap: the scratch flags are
// allocated once per call, everything else lives on the stack.
void estimate_tensor(const EstimatorParams &params, const MatchRecord *matches, int count,
                     int samples, TrifocalTensor *tensor, int32_t *support);

// Tensor of the sample by params->method: 0 affine, 1 linear, 2 algebraic
// minimisation (refine_given = 0), 3 six-point. Non-zero when a tensor was
// produced; 0 when the sample is rejected or the method code is unknown.
int compute_tensor(const EstimatorParams *params, const MatchRecord *sample, int sample_size,
                   TrifocalTensor *t);

// Support score of one tensor over matches[0..count-1], D = params.distance,
// transfer of params.method. For each match the distances are computed in
// the order d_last, d_first, d_middle, each only while the ones before are
// strictly below D; the match supports the tensor when all three are
// strictly below D (a distance equal to D, or not a number, does not
// support). A supporting match adds 1 under count scoring (scoring 0) or
// 1 - m^2 / D^2, m the mean of its three distances, under L2 scoring
// (scoring 1, which also counts it in *l2_count). flags[] (count entries)
// is cleared first and then marks the supporting matches.
double score_tensor(const EstimatorParams &params, const MatchRecord *matches, int count,
                    const TrifocalTensor &t, int32_t *flags, int *l2_count);

// Mean and maximum over the flagged matches of the mean transfer distance
// (d_last + d_first + d_middle) / 3, all three computed with the transfer of
// params.method. The maximum starts at 0.0 and is replaced by any m >= it.
// With no flagged match both results are 0.
void assess_tensor(const EstimatorParams &params, const MatchRecord *matches, int count,
                   const TrifocalTensor &tensor, const int32_t *support, double *mean,
                   double *maximum);

// log(1 - p) / log(1 - w^s) in double precision, returned in single
// precision: the number of samples after which a sample of s supporting
// matches has been drawn with probability p when a share w of the matches
// supports the tensor. w = 1 gives 0; w = 0 gives minus infinity.
float samples_needed(float p, int32_t s, float w);

// Uniform double in [0, 1): three linear congruential generators, the first
// two filling a shuffle table of 97 values that the third picks from. The
// state is process-wide, seeded on first use and never reseeded, so every
// run of the program draws the same sequence.
double uniform_random();
