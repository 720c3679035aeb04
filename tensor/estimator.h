// Random-sampling estimation of the trifocal tensor: draw samples of
// distinct matches, compute a tensor from each, score every match by its
// transfer distances, keep the best tensor with its support flags, then
// assess its transfer error and refit it on all supporting matches.
//
// The estimator prints nothing: it returns an EstimationReport and, while
// it runs, calls the progress callback of its options at each step that a
// caller may want to show at that moment (a new best tensor, the end of
// sampling, the assessments, and the lines that the numerical routines
// report).
#pragma once
#include <cstdint>
#include <vector>

#include "matchio.h"
#include "status.h"
#include "trifocal.h"

// Room in the sample for this many matches: sample_size must lie in 1..10.
constexpr int kMaxSampleSize = 10;

// What one match adds to a tensor's score, and when it agrees with it.
struct ScoringRule {
  TensorMethod method = TensorMethod::six_point;  // transfer used for the distances
  Scoring scoring = Scoring::count;
  double distance = 1.0;  // inlier distance D, pixels
};

// How sampling came to its end.
enum class SamplingEnd {
  completed,             // N + 1 tensors were computed
  stopped_early,         // the stop-early rule ended it (EstimationReport::stop_counter)
  failure_bound,         // too many failed samples in a row (EstimationReport::failures)
  not_enough_matches,    // fewer matches than sample_size: nothing was drawn
  bad_sample_size,       // sample_size outside 1..kMaxSampleSize: nothing was drawn
  scratch_failed,        // the scratch flags could not be allocated: nothing was drawn
};

// A sampled tensor that beat every tensor before it.
struct BestEvent {
  double score;  // its score
  int count;     // its number of supporting matches
};

// Mean and maximum transfer distance over the supporting matches.
struct Assessment {
  double mean = 0.0;
  double maximum = 0.0;
};

// Steps at which the progress callback is called.
enum class EstimationStep {
  new_best,           // report.best_events.back() was just taken
  sampling_ended,     // report.sampling_end, .stop_counter, .failures are final
  supported_counted,  // report.supported (of report.match_count) is final
  assessing_original, // the original assessment is about to be computed
  original_assessed,  // report.original holds it
  assessing_refit,    // the refit assessment is about to be computed
  refit_assessed,     // report.refit holds it
  numeric_note,       // a numerical routine reported `note` (a whole line)
  sample_taken,       // a drawn sample was taken in order: report.samples_drawn,
                      // .samples_computed and .best_events are current
};

struct EstimationReport;
using EstimationCallback = void (*)(void *context, EstimationStep step,
                                    const EstimationReport &report, const char *note);

struct EstimationOptions {
  ScoringRule rule;
  int32_t sample_size = 6;             // matches drawn per random sample
  int32_t samples = 1000;              // N, the number of random samples requested
  bool refit = true;                   // refit on all supporting matches after sampling
  bool stop_early = false;             // enable the stop-early rule
  double success_probability = 0.95;   // probability used by the stop-early rule
  // Threads that compute and score the samples: 0 for every core. Small runs
  // stay on one thread. The report is the same for every value.
  int threads = 0;
  EstimationCallback progress = nullptr;  // may be null
  void *progress_context = nullptr;
};

struct EstimationReport {
  // ok; out_of_memory when the scratch flags (sampling_end == scratch_failed,
  // the tensor all zero) or the copy of the supporting matches for the refit
  // could not be allocated (the run ended after supported_counted);
  // numeric_failure when a computation met a fatal numerical error
  // (failure_message names it; the run ended there); invalid_argument for a
  // bad sample size.
  Status status = Status::ok;
  const char *failure_message = nullptr;
  TrifocalTensor tensor{};  // the best tensor, refit when that helped; zero when none
  std::vector<BestEvent> best_events;
  long long samples_drawn = 0;  // samples drawn, failed ones included
  long long samples_computed = 0;  // samples that gave a tensor (the ones scored)
  SamplingEnd sampling_end = SamplingEnd::completed;
  int stop_counter = 0;         // the sample counter when the stop-early rule fired
  long long failures = 0;       // failed samples in a row when the bound was reached
  int match_count = 0;          // matches the estimation was given
  int supported = 0;            // matches flagged in support[]
  Assessment original;          // of the best sampled tensor
  Assessment refit;             // of the final tensor
  // The support flags, one per match: filled by the estimate_tensor that
  // takes no support buffer (the other one writes the caller's buffer).
  std::vector<int32_t> support;
};

// Runs the estimator over matches[0..count-1]: N + 1 successful tensor
// computations unless the stop-early rule ends sampling first (N <= 0 still
// computes one). The random generator starts from its seed in every call, so
// equal inputs give equal reports.
//
// support[] (count entries, cleared by the caller) receives the support flags
// of the best sampled tensor; they are written only when some tensor is
// supported by at least one match. With count below sample_size the report
// says not_enough_matches and the tensor stays zero.
//
// Samples whose computation fails are not counted. So that data on which
// every computation fails cannot keep the loop drawing forever, sampling
// ends after max(10000, 100 x N) consecutive failed samples.
//
// After sampling: the supporting count, the original assessment, the refit
// with compute_constrained_tensor (refine_given = 1) on the supporting
// matches when refit is set and at least one match supports the tensor, kept
// only when it lowers the mean transfer error, and the refit assessment (made
// also without a refit).
//
// The scoring of a sampled tensor stops once it cannot beat the best one
// (score_tensor_bounded) wherever that cannot change what is reported: for
// finite tensors on finite matches of moderate magnitude (up to 1e30), on
// which no transfer reports a failed decomposition.
//
// Per-sample work allocates nothing on the heap: the scratch flags are
// allocated once per call, everything else lives on the stack (a new best
// adds one entry to best_events).
//
// With several threads the samples are still drawn in the generator's one
// sequence, a batch at a time; the threads compute and score the batch, and
// the results are taken strictly in sample order, so the best tensor, the
// events, the stop-early rule and the failure bound come out as with one
// thread (samples drawn past the end of sampling are discarded). A sample
// whose computation reports a numerical line is computed again when it is
// taken, so that its lines reach the callback in order, and only for the
// samples that one thread would have computed. The flags of every slot of a
// batch are allocated once per call; when they cannot be, or no thread can
// be started, the run stays on one thread.
EstimationReport estimate_tensor(const EstimationOptions &options, const MatchRecord *matches,
                                 int count, int32_t *support);

// The same with the support flags held in report->support (count entries,
// cleared first). Returns report->status; Status::out_of_memory also when the
// flags themselves cannot be allocated.
Status estimate_tensor(const MatchRecord *matches, int count, const EstimationOptions &options,
                       EstimationReport *report);

// Tensor of the sample by `method`, the algebraic minimisation with
// refine_given = 0. Non-zero when a tensor was produced; 0 when the sample is
// rejected, or, with *failure set, when a fatal numerical error occurred.
int compute_tensor(TensorMethod method, const MatchRecord *sample, int sample_size,
                   TrifocalTensor *t, const char **failure = nullptr);

// Support score of one tensor over matches[0..count-1]. For each match the
// distances are computed in the order d_last, d_first, d_middle, each only
// while the ones before are strictly below D; the match supports the tensor
// when all three are strictly below D (a distance equal to D, or not a
// number, does not support). A supporting match adds 1 under count scoring
// or 1 - m^2 / D^2, m the mean of its three distances, under L2 scoring
// (which also counts it in *l2_count). flags[] (count entries) is cleared
// first and then marks the supporting matches.
double score_tensor(const ScoringRule &rule, const MatchRecord *matches, int count,
                    const TrifocalTensor &t, int32_t *flags, int *l2_count);

// score_tensor for a tensor that is of use only when its score is above
// `best`. Scoring stops as soon as that can no longer happen: each match not
// yet scored adds at most 1, so once score + matches left <= best (with L2
// scoring a margin of one part in a million above it, which covers the
// rounding of the remaining additions) the tensor cannot be taken; *pruned
// is then set, and the result, *l2_count and flags[] are incomplete (the
// result is <= best). Otherwise the result, *l2_count and flags[] are those
// of score_tensor, bit for bit. The last-image transfers run two matches at
// a time, so the lines of a failing eigen-decomposition can come a match
// early: the estimator uses this form only where no transfer can fail.
double score_tensor_bounded(const ScoringRule &rule, const MatchRecord *matches, int count,
                            const TrifocalTensor &t, double best, int32_t *flags, int *l2_count,
                            bool *pruned);

// Mean and maximum over the flagged matches of the mean transfer distance
// (d_last + d_first + d_middle) / 3, all three computed with the transfer of
// `method`. The maximum starts at 0.0 and is replaced by any m >= it. With
// no flagged match both results are 0.
Assessment assess_tensor(TensorMethod method, const MatchRecord *matches, int count,
                         const TrifocalTensor &tensor, const int32_t *support);

// log(1 - p) / log(1 - w^s) in double precision, returned in single
// precision: the number of samples after which a sample of s supporting
// matches has been drawn with probability p when a share w of the matches
// supports the tensor. w = 1 gives 0; w = 0 gives minus infinity.
float samples_needed(float p, int32_t s, float w);

// Uniform doubles in [0, 1): three linear congruential generators, the first
// two filling a shuffle table of 97 values that the third picks from. Every
// generator starts from the same seed, so it draws the same sequence.
class UniformRandom {
 public:
  UniformRandom();
  double next();

 private:
  int32_t s1_ = 0, s2_ = 0, s3_ = 0;
  double table_[98] = {};  // slots 1..97
};
