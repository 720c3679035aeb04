// The disparity-gradient filter of pelmix: every match is scored by the sum
// of its disparity gradients to the other remaining matches, and matches
// scoring far above the median are removed, pass after pass, until a pass
// removes none.
#pragma once
#include <cstddef>

#include "matchio.h"

// sqrt((x2 - x1)^2 + (y2 - y1)^2).
double point_distance(double x1, double y1, double x2, double y2);

// |d_j - d_k| / |m_j - m_k| with d = last - first (the disparity) and
// m = (first + last) / 2 (the midpoint); middle positions are ignored.
// Two matches with the same midpoint have no defined gradient; such a pair
// counts as 0, so it adds nothing to either score.
double disparity_gradient(const MatchRecord &j, const MatchRecord &k);

// Runs the filter over matches[0..n-1]. On return scores[j] holds the final
// score of each kept match and 999999.0 for each removed one; *median holds
// the median of the last pass, or 1e30 when that median was below 1e-20 in
// magnitude. A match is removed in a pass when its score is not at most
// scale * median. Prints "Disparity gradient iteration..." and "Median %f"
// for every pass. Ends the process with status 2 when its work storage
// cannot be allocated.
void filter_by_disparity_gradient(const MatchRecord *matches, double *scores, int n,
                                  double *median, double scale);

// Bytes the filter may spend on holding the pairwise gradients between
// passes; above it the gradients are evaluated again in every pass.
constexpr size_t kGradientStoreBudget = size_t(256) << 20;

// The filter with an explicit store budget (tests and benchmarks use it to
// force either path; both give identical scores and median).
void filter_by_disparity_gradient_budget(const MatchRecord *matches, double *scores, int n,
                                         double *median, double scale, size_t store_budget);
