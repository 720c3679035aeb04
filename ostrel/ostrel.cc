// ostrel: estimates the trifocal tensor of three views from a file of point
// triplets and writes the triplets that agree with it.
//
// One straight run: banner, command line, match file, (previous-tensor
// filter), estimation, tensor file, support file, (annotated images). The
// libraries return their results; everything shown is printed here.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "annotate.h"
#include "estimator.h"
#include "matchio.h"
#include "numeric_note.h"
#include "options.h"
#include "previous_filter.h"
#include "refinement.h"
#include "report_print.h"
#include "tensor_file.h"
#include "trifocal.h"

namespace {

// The tensor file of an earlier run: read, echoed, or the run ends with
// status 1.
void read_previous_tensor(const std::string &name, TrifocalTensor *tensor) {
  int numbers = 0;
  const Status status = read_tensor(tensor, name, &numbers);
  if (status == Status::cannot_open) {
    std::printf("can't open %s\n", name.c_str());
    std::exit(1);
  }
  if (status == Status::too_few) {
    std::printf("can't read %s: only %d of the 27 tensor numbers\n", name.c_str(), numbers);
    std::exit(1);
  }
  if (status != Status::ok) {
    std::printf("can't read %s: number %d is not a number\n", name.c_str(), numbers + 1);
    std::exit(1);
  }
  print_tensor_echo(stdout, *tensor);
}

// What the faithful estimation needs besides the tensor and the flags.
struct FaithfulRun {
  const OstrelParams *params;
  const OstrelCommandLine *line;
  const MatchRecord *matches;
  int count;
};

// The faithful estimation: its lines printed as they happen, support[]
// written, and *tensor replaced by its result (without any tensor (too few
// matches, no scratch memory) the zero tensor, never the previous run's). A
// fatal numerical error ends the run with status 1, exhausted memory with 2.
void estimate_faithfully(void *context, TrifocalTensor *tensor, int32_t *support) {
  const FaithfulRun &run = *static_cast<const FaithfulRun *>(context);
  EstimationOptions options = estimator_options(*run.params, *run.line);
  ProgressLine line(isatty(STDERR_FILENO) == 1);
  EstimationPrinter printer = {stdout, &options, &line};
  options.progress = print_estimation_step;
  options.progress_context = &printer;
  const EstimationReport report = estimate_tensor(options, run.matches, run.count, support);
  if (report.status == Status::numeric_failure) {
    print_numeric_failure(report.failure_message);
    std::exit(1);
  }
  if (report.status == Status::out_of_memory && report.sampling_end != SamplingEnd::scratch_failed) {
    std::printf("Memory Allocation error in tensoramental\n");
    std::exit(2);
  }
  *tensor = report.tensor;
}

int run(int argc, char **argv) {
  // 1. Banner, before anything else.
  print_banner(argc > 0 ? argv[0] : nullptr);

  // 2-4. Defaults, then the command line.
  OstrelParams params;
  OstrelCommandLine line;
  if (!parse_ostrel_command_line(argc, argv, &params, &line)) {
    print_ostrel_usage();
    return 1;
  }
  const std::string tensor_name = std::string(line.matchFile) + ".TM";

  // 5. The match file.
  std::vector<MatchRecord> records;
  int line_count = -1;
  const Status read_status = read_matches(line.matchFile, &records, &line_count);
  if (read_status == Status::cannot_open) std::printf("can't open %s\n", line.matchFile);
  if (line_count >= 0) std::printf("Match entries in file %d\n", line_count);
  if (read_status != Status::ok) {
    std::printf("Error reading file: %s", line.matchFile);
    std::exit(2);
  }
  MatchRecord *matches = records.data();
  int count = static_cast<int>(records.size());

  // The tensor of the run: filled by the previous-tensor reader and then by
  // the estimator.
  TrifocalTensor tensor{};

  // 6. Previous-tensor filter: only the matches that agree with the tensor
  // of an earlier run go on.
  const TensorMethod method = static_cast<TensorMethod>(params.method);
  if (params.usePreviousTensor) {
    std::printf("Prevous tensor distance %f\n", params.previousTensorDistance);
    read_previous_tensor(std::string(line.previousTensorBase) + ".TM", &tensor);
    NumericNoteScope notes(print_numeric_note, stdout);
    const int kept = filter_by_previous_tensor(method, matches, count, tensor,
                                               params.previousTensorDistance,
                                               print_previous_filter_line, stdout);
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

  // 8-9. Estimation, its lines printed as they happen; with -g or -r the
  // refinement stage follows (or, with -r, comes first).
  std::printf("\nEvaluating the trifocal tensor ........\n");
  FaithfulRun faithful = {&params, &line, matches, count};
  if (line.geometricRefinement)
    run_refinement(params, line, matches, count, estimate_faithfully, &faithful, &tensor, support);
  else
    estimate_faithfully(&faithful, &tensor, support);

  // 10. Tensor file, named match file + ".TM".
  const Status written_tensor = write_tensor(tensor, tensor_name);
  if (written_tensor == Status::cannot_open) {
    std::printf("can't open %s\n", tensor_name.c_str());
    std::exit(1);
  }
  if (written_tensor != Status::ok) {
    std::printf("can't write %s\n", tensor_name.c_str());
    std::exit(1);
  }

  // 11. Support file, named match file + ".TM" + ".matches".
  const std::string support_name = tensor_name + ".matches";
  const Status support_status = write_support_matches(matches, count, support, support_name);
  if (support_status != Status::cannot_open)
    std::printf("Writing %d support matches %s\n", count, support_name.c_str());
  if (support_status != Status::ok) {
    std::printf("can't %s %s\n", support_status == Status::cannot_open ? "open" : "write",
                support_name.c_str());
    std::exit(1);
  }

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
  std::free(support);
  return written < 0 ? 1 : 0;
}

}  // namespace

int main(int argc, char **argv) {
  try {
    return run(argc, argv);
  } catch (const std::bad_alloc &) {
    std::fprintf(stderr, "ostrel: out of memory\n");
    return 2;
  }
}
