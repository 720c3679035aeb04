// pelmix: reads a pair or triplet file, removes the matches that fail the
// disparity-gradient test and writes the kept ones next to the input.
#include <cstdio>
#include <cstdlib>

#include "disparity_gradient.h"
#include "matchio.h"

namespace {

constexpr double kToolkitVersion = 2.11;
constexpr double kDefaultMedianScale = 3.5;

struct RunOptions {
  const char *match_file = nullptr;
  double median_scale = kDefaultMedianScale;
  bool side_output = false;
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
// value of -f and -m is the next argument. Returns false for a wrong
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
        sscanf(argv[++i], "%lf", &options->median_scale);
        break;
      case 'z':
        options->side_output = true;
        break;
      default:
        return false;
    }
  }
  // Without a match file there is nothing to do: a wrong command line.
  return options->match_file != nullptr;
}

}  // namespace

int main(int argc, char **argv) {
  fprintf(stderr, "TARVIK TOOL: %s\nTARVIK VERSION: %.2f\n", argc > 0 ? argv[0] : "",
          kToolkitVersion);

  RunOptions options;
  if (!parse_command_line(argc, argv, &options)) usage_and_exit();

  MatchRecord *matches = nullptr;
  const int count = read_matches(&matches, options.match_file);
  if (count <= 0) {
    printf("Error reading file, no correspondences read!\n");
    exit(2);
  }

  double *scores = static_cast<double *>(malloc((static_cast<size_t>(count) + 1) * sizeof(double)));
  if (scores == nullptr) {
    printf("Error allocating memory\n");
    exit(2);
  }

  printf("Total number of correspondences %d\n", count);

  double median = 0.0;
  filter_by_disparity_gradient(matches, scores, count, &median, options.median_scale);

  write_filtered_matches(matches, count, scores, median, options.median_scale,
                         options.match_file);
  if (options.side_output)
    write_filtered_sides(matches, count, scores, median, options.median_scale,
                         options.match_file);

  free(matches);
  free(scores);
  return 0;
}
