// ostrel: estimates the trifocal tensor of three views from a file of point
// triplets and writes the triplets that agree with it.
//
// One straight run: banner, command line, match file, (previous-tensor
// filter), estimation, tensor file, support file, (annotated images).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "annotate.h"
#include "estimator.h"
#include "matchio.h"
#include "params.h"
#include "previous_filter.h"
#include "hook.h"
#include "tensor_file.h"
#include "trifocal.h"

int main(int argc, char **argv) {
  // 1. Banner, before anything else.
  print_banner(argc > 0 ? argv[0] : nullptr);

  // 2-4. Defaults, then the command line.
  EstimatorParams params;
  OstrelCommandLine line;
  if (!parse_ostrel_command_line(argc, argv, &params, &line)) {
    print_ostrel_usage();
    return 1;
  }

  // 5. The match file.
  MatchRecord *matches = nullptr;
  int count = read_matches(&matches, line.matchFile);
  if (count == 0) {
    std::printf("Error reading file: %s", line.matchFile);
    std::exit(2);
  }

  // The tensor of the run, 27 doubles in storage order: filled by the
  // previous-tensor reader and then by the estimator.
  TrifocalTensor tensor{};

  // 6. Previous-tensor filter: only the matches that agree with the tensor
  // of an earlier run go on.
  if (params.usePreviousTensor) {
    std::printf("Prevous tensor distance %f\n", params.previousTensorDistance);
    read_tensor(&tensor, line.previousTensorBase);
    const int kept = filter_by_previous_tensor(params, matches, count, tensor,
                                               params.previousTensorDistance);
    std::printf("Original match count %d updated match count %d", count, kept);
    count = kept;
  }

  // 7. Support flags, one per (kept) match, cleared so that the support file
  // is defined also when the estimator flags nothing. At least one slot, so
  // that a filter that kept nothing is not mistaken for exhausted memory.
  int32_t *support = static_cast<int32_t *>(
      std::calloc(static_cast<size_t>(count > 0 ? count : 1), sizeof(int32_t)));
  if (!support) {
    std::printf("Error Allocating memory in compfund");
    std::exit(2);
  }

  // 8-9. Estimation.
  std::printf("\nEvaluating the trifocal tensor ........\n");
  if (line.geometricRefinement)
    run_refinement_hook(params, line.robustSampling != 0, matches, count, line.samples, &tensor,
                        support);
  else
    estimate_tensor(params, matches, count, line.samples, &tensor, support);

  // 10. Tensor file, named match file + ".TM".
  write_tensor(tensor, line.matchFile);

  // 11. Support file, named match file + ".TM" + ".matches".
  const std::string support_base = std::string(line.matchFile) + ".TM";
  write_support_matches(matches, count, support, support_base.c_str());

  // 12-13. Annotated copies of the first two images: on image 1 where each
  // supported point goes in image 2, on image 2 where it goes in image 3.
  // The third image only names the second output.
  // An image that cannot be read is skipped; one that cannot be written is
  // a failed run (status 1), never reported as success.
  int written = 0;
  if (line.imageFile1)
    written = write_annotated_image(line.imageFile1, line.imageFile2, matches, count, support,
                                    &MatchRecord::first, &MatchRecord::middle);
  if (written >= 0 && line.imageFile2)
    written = write_annotated_image(line.imageFile2, line.imageFile3, matches, count, support,
                                    &MatchRecord::middle, &MatchRecord::last);
  if (written < 0) {
    std::free(matches);
    std::free(support);
    return 1;
  }

  // 14. Release.
  std::free(matches);
  std::free(support);
  return 0;
}
