// Reads a triplet file, estimates the trifocal tensor of its three views
// with the default settings and prints how many triplets support it.
//
//   count_support TRIPLET_FILE
//
// Exit status 0 after an estimation, 1 when the file cannot be read or the
// estimation fails (the library's text for the status is printed).
#include <cstdio>
#include <vector>

#include "estimator.h"
#include "matchio.h"
#include "status.h"

int main(int argc, char **argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s TRIPLET_FILE\n", argv[0]);
    return 1;
  }
  std::vector<MatchRecord> matches;
  int line_count = 0;
  Status s = read_matches(argv[1], &matches, &line_count);
  if (s != Status::ok) {
    std::fprintf(stderr, "%s: %s\n", argv[1], status_text(s));
    return 1;
  }
  EstimationOptions options;
  EstimationReport report;
  s = estimate_tensor(matches.data(), static_cast<int>(matches.size()), options, &report);
  if (s != Status::ok) {
    std::fprintf(stderr, "%s: %s\n", argv[1], status_text(s));
    return 1;
  }
  std::printf("%d supporting triplets of %d\n", static_cast<int>(report.supported),
              static_cast<int>(matches.size()));
  return 0;
}
