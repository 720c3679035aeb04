#include "hook.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "estimator.h"

namespace {

using Stage = void (*)(const EstimatorParams &, bool, const MatchRecord *, int, int,
                       TrifocalTensor *, int32_t *);

std::string program_folder() {
  char path[4096];
  const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return ".";
  std::string p(path, static_cast<size_t>(n));
  const size_t slash = p.rfind('/');
  return slash == std::string::npos ? "." : p.substr(0, slash);
}

}  // namespace

void run_refinement_hook(const EstimatorParams &params, bool robust, const MatchRecord *matches,
                         int count, int samples, TrifocalTensor *tensor, int32_t *support) {
  const std::string folder = program_folder();
  void *module = nullptr;
  for (const std::string &name :
       {folder + "/ostrel-refine.so", folder + "/../lib/tarvik/ostrel-refine.so"}) {
    module = dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (module) break;
  }
  Stage stage = module ? reinterpret_cast<Stage>(dlsym(module, "ostrel_refinement_stage")) : nullptr;
  if (!stage) {
    estimate_tensor(params, matches, count, samples, tensor, support);
    std::printf("\n=== Geometric refinement ===\n");
    std::printf("Kept the faithful result: the refinement module ostrel-refine.so cannot be loaded\n");
    return;
  }
  stage(params, robust, matches, count, samples, tensor, support);
}
