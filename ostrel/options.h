// ostrel's parameters: the settings of the estimation and the rest of the
// command line, the parser that fills both, the banner and the usage text.
#pragma once
#include <cstdint>

#include "estimator.h"

// The estimation settings as the command line gives them. The members carry
// their defaults.
struct OstrelParams {
  int32_t method = 3;                    // 0 affine, 1 linear projective, 2 algebraic minimisation, 3 six-point
  int32_t scoring = 0;                   // 0 count scoring, 1 L2 scoring
  double distance = 1.0;                 // inlier distance, pixels
  int32_t sampleSize = 6;                // matches drawn per random sample
  int32_t refit = 1;                     // refit on all supporting matches after sampling
  int32_t stopEarly = 0;                 // enable the stop-early rule
  double successProbability = 0.95;      // probability used by the stop-early rule
  int32_t usePreviousTensor = 0;         // run the previous-tensor filter before estimation
  double previousTensorDistance = 10.0;  // rejection distance of that filter, pixels
};

// The rest of ostrel's command line. The names point into the argument
// vector and are null when not given.
struct OstrelCommandLine {
  int32_t samples = 1000;                 // number of random samples (-n)
  const char *matchFile = nullptr;        // -f
  const char *imageFile1 = nullptr;       // -i
  const char *imageFile2 = nullptr;       // -j
  const char *imageFile3 = nullptr;       // -k, only names the second output image
  const char *previousTensorBase = nullptr;  // -t, the match file name of the earlier run
  int32_t geometricRefinement = 0;        // -g: bundle adjustment and re-selection
  int32_t robustSampling = 0;             // -r: robust sampling, implies -g
  int32_t threads = 0;                    // -p, threads of the estimation; 0 for every core
};

// Writes "TARVIK TOOL: <name>\nTARVIK VERSION: 2.11\n" to standard error.
void print_banner(const char *invocation_name);

// Writes ostrel's usage text to standard error.
void print_ostrel_usage();

// Parses argv[1..argc-1] into *params and *line, which must hold their
// defaults, printing the lines that -e, -s and -t print. Returns false for a
// wrong command line: fewer than two arguments, an unknown option letter, a
// value-taking option in last position, or no -f. A -p value that is not a
// positive integer leaves the thread count as it was.
bool parse_ostrel_command_line(int argc, char **argv, OstrelParams *params,
                               OstrelCommandLine *line);

// The estimator's options for these settings (no progress callback).
EstimationOptions estimator_options(const OstrelParams &params, const OstrelCommandLine &line);
