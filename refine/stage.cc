#include "stage.h"

#include <cstdio>
#include <vector>

namespace {

// Fewest supporting triplets the refinement starts from.
constexpr int kMinSupport = 7;

int run_faithful(const StageCalls &calls, TrifocalTensor *tensor, int32_t *support,
                 StageResult *result) {
  ++result->faithful_runs;
  result->status = calls.faithful(calls.context, tensor, support);
  return result->status;
}

}  // namespace

int run_refine_stage(const MatchRecord *matches, int count, const StageOptions &options,
                     const StageCalls &calls, TrifocalTensor *tensor, int32_t *support,
                     StageResult *result) {
  *result = StageResult{};
  const bool robust = options.robust;
  const bool affine = options.affine;
  RefineOptions ro;
  ro.distance = options.distance;
  ro.affine = affine;
  ThreeCameras start{};
  bool have_start = false;
  std::vector<int32_t> flags(static_cast<size_t>(count > 0 ? count : 1), 0);
  if (robust) {
    RobustOptions o;
    o.distance = options.distance;
    o.affine = affine;
    o.max_samples = options.samples;
    if (options.stop_early) o.confidence = options.success_probability;
    result->robust_ran = 1;
    result->robust_found = robust_estimate(matches, count, o, flags.data(), &result->robust);
    if (calls.robust_done) calls.robust_done(calls.context, *result);
    if (result->robust_found) {
      start = result->robust.cameras;
      have_start = true;
    } else {
      result->fell_back = 1;
    }
  }
  if (!have_start) {
    if (run_faithful(calls, tensor, support, result)) return result->status;
    for (int i = 0; i < count; ++i) flags[static_cast<size_t>(i)] = support[i];
    if (!affine && count > 0)
      have_start = cameras_from_tensor(*tensor, matches, count, flags.data(), &start);
  }
  if (affine && !robust) {
    // The affine tensor gives no cameras here; the robust sampler's affine
    // hypotheses over the faithful support start the adjustment.
    RobustOptions o;
    o.distance = options.distance;
    o.affine = true;
    o.max_samples = options.samples;
    std::vector<MatchRecord> in;
    for (int i = 0; i < count; ++i)
      if (support[i]) in.push_back(matches[i]);
    RobustReport rr;
    std::vector<int32_t> sub(in.size() + 1, 0);
    have_start = static_cast<int>(in.size()) >= kMinSupport &&
                 robust_estimate(in.data(), static_cast<int>(in.size()), o, sub.data(), &rr);
    if (have_start) start = rr.cameras;
  }
  RefineReport &report = result->report;
  int ok = 0;
  if (have_start && count > 0)
    ok = refine_geometry(matches, count, flags.data(), start, *tensor, ro, &report);
  else
    std::snprintf(report.reason, sizeof report.reason, "no starting cameras");
  if (!ok) {
    // An unusable robust result: the faithful result stands.
    if (robust && have_start) {
      result->fell_back = 1;
      if (run_faithful(calls, tensor, support, result)) return result->status;
    }
    return 0;
  }
  result->refined = 1;
  *tensor = report.tensor;
  for (int i = 0; i < count; ++i) support[i] = report.support[static_cast<size_t>(i)];
  return 0;
}
