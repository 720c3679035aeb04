#include "refinement.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "refine.h"
#include "stage.h"

namespace {

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

// The faithful estimation of the program as the stage calls it, and the
// robust block printed as soon as the sampler ends, before the faithful
// estimation's lines when it follows.
struct StageContext {
  FaithfulEstimation faithful;
  void *context;
  int count;
};

int faithful_step(void *context, TrifocalTensor *tensor, int32_t *support) {
  const StageContext &c = *static_cast<const StageContext *>(context);
  c.faithful(c.context, tensor, support);
  return 0;
}

void print_robust_block(void *context, const StageResult &so_far) {
  const StageContext &c = *static_cast<const StageContext *>(context);
  const RobustReport &rr = so_far.robust;
  std::printf("\n=== Robust sampling ===\n");
  std::printf("Samples %d hypotheses %d local optimisations %d\n", rr.samples, rr.hypotheses,
              rr.local_optimisations);
  if (so_far.robust_found)
    std::printf("Inliers %d of %d\n", rr.inliers, c.count);
  else
    std::printf("No robust estimate: %s; faithful sampling follows\n", rr.reason);
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
  StageOptions options;
  options.distance = params.distance;
  options.affine = static_cast<TensorMethod>(params.method) == TensorMethod::affine;
  options.robust = line.robustSampling != 0;
  options.samples = line.samples;
  options.stop_early = params.stopEarly != 0;
  options.success_probability = params.successProbability;
  StageContext stage_context = {faithful, context, count};
  StageCalls calls;
  calls.faithful = faithful_step;
  calls.robust_done = print_robust_block;
  calls.context = &stage_context;
  StageResult result;
  api->run_refine_stage(matches, count, options, calls, tensor, support, &result);
  const RefineReport &report = result.report;
  std::printf("\n=== Geometric refinement ===\n");
  if (!result.refined) {
    std::printf("Kept the faithful result: %s\n", report.reason);
    return;
  }
  std::printf("Rounds %d\n", report.rounds);
  std::printf("Supporting triplets %d of %d\n", report.supported, count);
  std::printf("RMS reprojection error = %lf pixels\n", report.rms);
  std::printf("Maximum reprojection error = %lf pixels\n", report.max);
}
