#include "refinement.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "refine.h"

namespace {

// Fewest supporting triplets the refinement starts from.
constexpr int kMinSupport = 7;

std::string program_folder() {
  char path[4096];
  const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return ".";
  std::string p(path, static_cast<size_t>(n));
  const size_t slash = p.rfind('/');
  return slash == std::string::npos ? "." : p.substr(0, slash);
}

// The module's function table, or null when it cannot be opened.
const RefineApi *open_module() {
  const std::string folder = program_folder();
  void *module = nullptr;
  for (const std::string &name :
       {folder + "/ostrel-refine.so", folder + "/../lib/tarvik/ostrel-refine.so"}) {
    module = dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (module) break;
  }
  if (!module) return nullptr;
  const RefineApiEntry entry = reinterpret_cast<RefineApiEntry>(dlsym(module, "ostrel_refine_api"));
  return entry ? entry() : nullptr;
}

}  // namespace

void run_refinement(const OstrelParams &params, const OstrelCommandLine &line,
                    const MatchRecord *matches, int count, FaithfulEstimation faithful,
                    void *context, TrifocalTensor *tensor, int32_t *support) {
  const RefineApi *api = open_module();
  if (!api) {
    faithful(context, tensor, support);
    std::printf("\n=== Geometric refinement ===\n");
    std::printf("Kept the faithful result: the refinement module ostrel-refine.so cannot be loaded\n");
    return;
  }
  const bool robust = line.robustSampling != 0;
  const bool affine = static_cast<TensorMethod>(params.method) == TensorMethod::affine;
  const int samples = line.samples;
  RefineOptions ro;
  ro.distance = params.distance;
  ro.affine = affine;
  RefineReport report;
  ThreeCameras start{};
  bool have_start = false;
  std::vector<int32_t> flags(static_cast<size_t>(count > 0 ? count : 1), 0);
  if (robust) {
    RobustOptions o;
    o.distance = params.distance;
    o.affine = affine;
    o.max_samples = samples;
    if (params.stopEarly) o.confidence = params.successProbability;
    RobustReport rr;
    const int found = api->robust_estimate(matches, count, o, flags.data(), &rr);
    std::printf("\n=== Robust sampling ===\n");
    std::printf("Samples %d hypotheses %d local optimisations %d\n", rr.samples, rr.hypotheses,
                rr.local_optimisations);
    if (found) {
      std::printf("Inliers %d of %d\n", rr.inliers, count);
      start = rr.cameras;
      have_start = true;
    } else {
      std::printf("No robust estimate: %s; faithful sampling follows\n", rr.reason);
    }
  }
  if (!have_start) {
    faithful(context, tensor, support);
    for (int i = 0; i < count; ++i) flags[static_cast<size_t>(i)] = support[i];
    if (!affine && count > 0)
      have_start = api->cameras_from_tensor(*tensor, matches, count, flags.data(), &start);
  }
  if (affine && !robust) {
    // The affine tensor gives no cameras here; the robust sampler's affine
    // hypotheses over the faithful support start the adjustment.
    RobustOptions o;
    o.distance = params.distance;
    o.affine = true;
    o.max_samples = samples;
    std::vector<MatchRecord> in;
    for (int i = 0; i < count; ++i)
      if (support[i]) in.push_back(matches[i]);
    RobustReport rr;
    std::vector<int32_t> sub(in.size() + 1, 0);
    have_start = static_cast<int>(in.size()) >= kMinSupport &&
                 api->robust_estimate(in.data(), static_cast<int>(in.size()), o, sub.data(), &rr);
    if (have_start) start = rr.cameras;
  }
  int ok = 0;
  if (have_start && count > 0)
    ok = api->refine_geometry(matches, count, flags.data(), start, *tensor, ro, &report);
  else
    std::snprintf(report.reason, sizeof report.reason, "no starting cameras");
  // An unusable robust result: the faithful result stands.
  if (!ok && robust && have_start) faithful(context, tensor, support);
  std::printf("\n=== Geometric refinement ===\n");
  if (!ok) {
    std::printf("Kept the faithful result: %s\n", report.reason);
    return;
  }
  *tensor = report.tensor;
  for (int i = 0; i < count; ++i) support[i] = report.support[static_cast<size_t>(i)];
  std::printf("Rounds %d\n", report.rounds);
  std::printf("Supporting triplets %d of %d\n", report.supported, count);
  std::printf("RMS reprojection error = %lf pixels\n", report.rms);
  std::printf("Maximum reprojection error = %lf pixels\n", report.max);
}
