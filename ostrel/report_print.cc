#include "report_print.h"

namespace {

void print_assessment(FILE *out, const Assessment &a) {
  std::fprintf(out, "\n=== Error assessment ===\n");
  std::fprintf(out, "Average distance = %lf pixels\n", a.mean);
  std::fprintf(out, "Maximum distance = %lf pixels\n", a.maximum);
}

}  // namespace

void print_estimation_step(void *printer, EstimationStep step, const EstimationReport &report,
                           const char *note) {
  const EstimationPrinter &p = *static_cast<const EstimationPrinter *>(printer);
  FILE *out = p.out;
  if (step == EstimationStep::sample_taken) {
    if (p.line == nullptr || !p.line->due()) return;
    char text[128];
    const int best = report.best_events.empty() ? 0 : report.best_events.back().count;
    std::snprintf(text, sizeof text, "ostrel: %lld of %lld samples, best support %d of %d",
                  report.samples_computed, static_cast<long long>(p.options->samples) + 1, best,
                  report.match_count);
    p.line->draw(text);
    return;
  }
  // Every other step prints, or ends sampling: the line goes first.
  if (p.line != nullptr) p.line->erase();
  switch (step) {
    case EstimationStep::sample_taken:
      break;
    case EstimationStep::new_best: {
      const BestEvent &e = report.best_events.back();
      if (p.options->rule.scoring == Scoring::l2)
        std::fprintf(out, "NEW T: with %lf Score! with %d Matches...\n", e.score, e.count);
      else
        std::fprintf(out, "NEW T: with %d Matches!\n", e.count);
      break;
    }
    case EstimationStep::sampling_ended:
      switch (report.sampling_end) {
        case SamplingEnd::completed:
          break;
        case SamplingEnd::stopped_early:
          std::fprintf(out, "Stopped early samples %d prob. success %f\n", report.stop_counter,
                       p.options->success_probability);
          break;
        case SamplingEnd::failure_bound:
          std::fprintf(out, "Sampling stopped: %lld samples in a row gave no tensor\n",
                       report.failures);
          break;
        case SamplingEnd::not_enough_matches:
          std::fprintf(out, "Not enough correspondences for Random Sampling to occur");
          break;
        case SamplingEnd::bad_sample_size:
          std::fprintf(out, "Sample size %d outside 1..%d\n", p.options->sample_size, kMaxSampleSize);
          break;
        case SamplingEnd::scratch_failed:
          std::fprintf(out, "Memory Allocation failure! In FMCRS...\n");
          break;
      }
      break;
    case EstimationStep::supported_counted:
      std::fprintf(out, "Total possible matches %d final actual matches %d\n", report.match_count,
                   report.supported);
      break;
    case EstimationStep::assessing_original:
      std::fprintf(out, "\n=== Original assessment ===");
      break;
    case EstimationStep::original_assessed:
      print_assessment(out, report.original);
      break;
    case EstimationStep::assessing_refit:
      std::fprintf(out, "\n=== Refit assessment ===");
      break;
    case EstimationStep::refit_assessed:
      print_assessment(out, report.refit);
      break;
    case EstimationStep::numeric_note:
      std::fputs(note, out);
      break;
  }
}

void print_previous_filter_line(void *out, double mean_distance, int kept) {
  FILE *f = static_cast<FILE *>(out);
  std::fprintf(f, "D error %f\n", mean_distance);
  std::fprintf(f, "Actualmatches %d\n", kept);
}

void print_numeric_note(void *out, const char *line) { std::fputs(line, static_cast<FILE *>(out)); }

void print_tensor_echo(FILE *out, const TrifocalTensor &t) {
  for (int i = 0; i < 3; ++i)
    std::fprintf(out, "Tensor %d %f %f %f\n", i, t(i, 0, 0), t(i, 0, 1), t(i, 0, 2));
}

void print_numeric_failure(const char *message) {
  std::fprintf(stderr, "Numerical Recipes run-time error...\n");
  std::fprintf(stderr, "%s\n", message);
  std::fprintf(stderr, "...now exiting to system...\n");
}
