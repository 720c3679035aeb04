// pelmix: reads a pair or triplet file, removes the matches that fail the
// disparity-gradient test and writes the kept ones next to the input.
#include <unistd.h>

#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "disparity_gradient.h"
#include "matchio.h"
#include "option_value.h"
#include "progress_line.h"
#include "version.h"

namespace {

constexpr double kDefaultMedianScale = 3.5;

struct RunOptions {
  const char *match_file = nullptr;
  double median_scale = kDefaultMedianScale;
  bool side_output = false;
  int threads = 0;  // -p; 0: every core the system reports
};

[[noreturn]] void usage_and_exit() {
  fprintf(stderr, "\nPELMIX USAGE\n\n");
  fprintf(stderr, "pelmix [-h] [-f file] [-m medianScale] ");
  fprintf(stderr, "[-z Zhang Style Output]\n\n");
  fprintf(stderr, "Default values are:\n\n\t3.5 median Scale factor\n");
  fprintf(stderr, "\tNO Zhang output");
  fprintf(stderr, "\n\n");
  exit(1);
}

// An option is known by the second character of its argument alone; the
// value of -f, -m and -p is the next argument. Returns false for a wrong
// command line.
bool parse_command_line(int argc, char **argv, RunOptions *options) {
  if (argc < 3) return false;
  for (int i = 1; i < argc; ++i) {
    // An argument of one character (or none) has no option letter.
    const char letter = argv[i][0] != '\0' ? argv[i][1] : '\0';
    switch (letter) {
      case 'f':
        if (i + 1 >= argc) return false;
        options->match_file = argv[++i];
        break;
      case 'm':
        if (i + 1 >= argc) return false;
        // An unreadable number leaves the scale as it was.
        read_real_option(argv[++i], &options->median_scale);
        break;
      case 'z':
        options->side_output = true;
        break;
      case 'p': {
        if (i + 1 >= argc) return false;
        // A value that is not a positive number leaves the default.
        int32_t threads = 0;
        if (read_integer_option(argv[++i], &threads) && threads > 0) options->threads = threads;
        break;
      }
      default:
        return false;
    }
  }
  // Without a match file there is nothing to do: a wrong command line.
  return options->match_file != nullptr;
}

// Prints each pass of the filter as it happens. When standard error is a
// terminal and the run has taken a second, one progress line there shows the
// pass and the matches left, redrawn at most ten times a second and erased
// before anything else is printed and at the end.
class PassPrinter : public FilterProgress {
 public:
  explicit PassPrinter(bool terminal) : line_(terminal) {}

  void pass_started(int pass, int remaining) override {
    erase();
    printf("Disparity gradient iteration...\n");
    show(pass, remaining, 0.0);
  }
  void pass_median(int, double median) override {
    erase();
    printf("Median %f\n", median);
  }
  void pass_progress(int pass, int remaining, double done) override {
    show(pass, remaining, done);
  }

  // Removes the progress line, if one is shown.
  void erase() { line_.erase(); }

 private:
  void show(int pass, int remaining, double done) {
    if (!line_.due()) return;
    char text[96];
    snprintf(text, sizeof text, "pelmix: pass %d, %d matches left, %3d%%", pass, remaining,
             static_cast<int>(done * 100.0));
    line_.draw(text);
  }

  ProgressLine line_;
};

// The threads of the run: -p, or every core the system reports.
int thread_count(const RunOptions &options) {
  if (options.threads > 0) return options.threads;
  const unsigned cores = std::thread::hardware_concurrency();
  return cores > 0 ? static_cast<int>(cores) : 1;
}

// Reports the outcome of one output file: "Writing matches..." once the file
// was opened (when `announce` is given), and a file that cannot be opened or
// written ends the run with status 1.
void write_or_exit(Status status, const std::string &name, const RunOptions *announce,
                   double median) {
  if (announce && status != Status::cannot_open)
    printf("Writing matches: Scale factor = %lf , median = %lf\n", announce->median_scale, median);
  if (status == Status::ok) return;
  printf("can't %s %s\n", status == Status::cannot_open ? "open" : "write", name.c_str());
  exit(1);
}

}  // namespace

int main(int argc, char **argv) {
  fprintf(stderr, "TARVIK TOOL: %s\nTARVIK VERSION: %s\n", argc > 0 ? argv[0] : "",
          kTarvikVersion);

  RunOptions options;
  if (!parse_command_line(argc, argv, &options)) usage_and_exit();

  std::vector<MatchRecord> records;
  int line_count = -1;
  const Status read_status = read_matches(options.match_file, &records, &line_count);
  if (read_status == Status::cannot_open) printf("can't open %s\n", options.match_file);
  if (line_count >= 0) printf("Match entries in file %d\n", line_count);
  if (read_status != Status::ok) {
    printf("Error reading file, no correspondences read!\n");
    exit(2);
  }
  const MatchRecord *matches = records.data();
  const int count = static_cast<int>(records.size());

  // The scores take their memory here, before the count is announced, with
  // one slot to spare.
  FilterReport report;
  try {
    report.scores.reserve(static_cast<size_t>(count) + 1);
  } catch (const std::bad_alloc &) {
    printf("Error allocating memory\n");
    exit(2);
  }

  printf("Total number of correspondences %d\n", count);

  PassPrinter printer(isatty(STDERR_FILENO) == 1);
  const Status filtered = filter_by_disparity_gradient(matches, count, options.median_scale, &report,
                                                       &printer, kGradientStoreBudget,
                                                       thread_count(options));
  printer.erase();
  if (filtered != Status::ok) {
    printf("Error allocating memory in compute dispgrad\n");
    exit(2);
  }

  const std::string base = options.match_file;
  const uint8_t *keep = report.keep.data();
  write_or_exit(write_filtered_matches(matches, count, keep, base + ".filtered"),
                base + ".filtered", &options, report.median);
  if (options.side_output) {
    write_or_exit(write_filtered_side(matches, count, keep, MatchSide::first, base + ".L.filtered"),
                  base + ".L.filtered", nullptr, report.median);
    write_or_exit(write_filtered_side(matches, count, keep, MatchSide::last, base + ".R.filtered"),
                  base + ".R.filtered", &options, report.median);
  }
  return 0;
}
