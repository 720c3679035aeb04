// The disparity-gradient filter of pelmix: every match is scored by the sum
// of its disparity gradients to the other remaining matches, and matches
// scoring far above the median are removed, pass after pass, until a pass
// removes none.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "matchio.h"
#include "status.h"

// sqrt((x2 - x1)^2 + (y2 - y1)^2).
double point_distance(double x1, double y1, double x2, double y2);

// |d_j - d_k| / |m_j - m_k| with d = last - first (the disparity) and
// m = (first + last) / 2 (the midpoint); middle positions are ignored.
// Two matches with the same midpoint have no defined gradient; such a pair
// counts as 0, so it adds nothing to either score.
double disparity_gradient(const MatchRecord &j, const MatchRecord &k);

// Bytes the filter may spend on holding the pairwise gradients between
// passes; above it the gradients are evaluated again in every pass.
constexpr size_t kGradientStoreBudget = size_t(256) << 20;

// What one run of the filter found.
struct FilterReport {
  // Final score of each match: the sum of its gradients to the matches left
  // in the last pass, 999999.0 for each removed match. Reserve n + 1 slots
  // before the call to have this memory taken when the caller chooses; the
  // filter then allocates nothing for it.
  std::vector<double> scores;
  // The matches to keep: score strictly below median * scale.
  std::vector<uint8_t> keep;
  // Median of the last pass, or 1e30 when that median was below 1e-20 in
  // magnitude.
  double median = 0.0;
  int passes = 0;
  // The median of each pass as computed, before that replacement.
  std::vector<double> pass_medians;
};

// Receives the passes of a filter run as they happen.
class FilterProgress {
 public:
  virtual ~FilterProgress() = default;
  // A pass over `remaining` matches begins (passes count from 1).
  virtual void pass_started(int pass, int remaining) {
    (void)pass;
    (void)remaining;
  }
  // The pass computed `median` (before a tiny median is replaced).
  virtual void pass_median(int pass, double median) {
    (void)pass;
    (void)median;
  }
  // Part `done` (0 to 1) of the pairs of the pass is scored; called from
  // the thread that called the filter, a few hundred times a pass at most.
  virtual void pass_progress(int pass, int remaining, double done) {
    (void)pass;
    (void)remaining;
    (void)done;
  }
};

// Runs the filter over matches[0..n-1]: every pass scores the remaining
// matches and removes those whose score is not at most scale * median,
// until a pass removes none (or all). Status::ok, or Status::out_of_memory
// when its work storage cannot be allocated (the report is then partial).
// `store_budget` bounds the memory for stored gradients (tests and
// benchmarks use it to force either path; both give identical results).
// With `threads` above 1 the pair loop of each pass runs on up to that many
// threads (at most kMaxThreads; inputs below about a thousand matches stay
// on the calling thread); every result is bit for bit the same for any
// thread count.
Status filter_by_disparity_gradient(const MatchRecord *matches, int n, double scale,
                                    FilterReport *report, FilterProgress *progress = nullptr,
                                    size_t store_budget = kGradientStoreBudget, int threads = 1);

// The most threads one filter run uses.
constexpr int kMaxThreads = 64;
