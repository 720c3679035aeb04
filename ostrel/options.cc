#include "options.h"

#include <cstdio>

#include "option_value.h"
#include "version.h"

void print_banner(const char *invocation_name) {
  std::fprintf(stderr, "TARVIK TOOL: %s\nTARVIK VERSION: %s\n",
               invocation_name ? invocation_name : "", kTarvikVersion);
}

void print_ostrel_usage() {
  std::fprintf(stderr, "\nOSTREL USAGE\n\nostrel -f matchesfile ");
  std::fprintf(stderr, "[-n numberOfRandomSamples] [-count] [-l2] \n");
  std::fprintf(stderr, "[-t previous tensor file] [-e previous tensor distance filter (default 10)] \n");
  std::fprintf(stderr, "[-a affine] [-m no refit] [-s stop early count] [-d distance from epiplar line] \n");
  std::fprintf(stderr, "[-i imagefile1] [-j imagefile2] [-k imagefile3] \n");
  std::fprintf(stderr, "Default values are:\n\n\t1000 samples\n");
  std::fprintf(stderr, "\tcount style scoring\n\t1.0 pixels from epipolar line");
  std::fprintf(stderr, "\n\n");
}

bool parse_ostrel_command_line(int argc, char **argv, OstrelParams *params,
                               OstrelCommandLine *line) {
  if (argc < 3) return false;
  for (int i = 1; i < argc; ++i) {
    const char *arg = argv[i];
    // Only the second character names the option; an argument shorter than
    // two characters names none.
    const char letter = arg[0] != '\0' ? arg[1] : '\0';
    const bool takes_value = letter == 'd' || letter == 'e' || letter == 'f' || letter == 'i' ||
                             letter == 'j' || letter == 'k' || letter == 'n' || letter == 'p' ||
                             letter == 's' || letter == 't';
    const char *value = nullptr;
    if (takes_value) {
      if (i + 1 >= argc) return false;  // the value is missing
      value = argv[++i];
    }
    switch (letter) {
      case 'a':
        params->method = 0;
        params->sampleSize = 4;
        break;
      case 'c':
        params->scoring = 0;
        break;
      case 'd':
        read_real_option(value, &params->distance);
        break;
      case 'e':
        std::printf("Arg %d %s\n", i, value);
        read_real_option(value, &params->previousTensorDistance);
        std::printf("Previous tensor filter distance %f\n", params->previousTensorDistance);
        break;
      case 'f':
        line->matchFile = value;
        break;
      case 'i':
        line->imageFile1 = value;
        break;
      case 'j':
        line->imageFile2 = value;
        break;
      case 'k':
        line->imageFile3 = value;
        break;
      case 'l':
        params->scoring = 1;
        break;
      case 'm':
        params->refit = 0;
        break;
      case 'n':
        read_integer_option(value, &line->samples);
        break;
      case 'p': {
        int32_t threads = 0;
        if (read_integer_option(value, &threads) && threads > 0) line->threads = threads;
        break;
      }
      case 's':
        read_real_option(value, &params->successProbability);
        params->stopEarly = 1;
        std::printf("Stop early flag %f\n", params->successProbability);
        break;
      case 't':
        line->previousTensorBase = value;
        params->usePreviousTensor = 1;
        std::printf("Tensormatfile file %s\n", value);
        break;
      case 'g':
        line->geometricRefinement = 1;
        break;
      case 'r':
        line->robustSampling = 1;
        line->geometricRefinement = 1;
        break;
      default:  // b, h, o, q and everything outside a..t
        return false;
    }
  }
  // Without a match file there is nothing to do: a wrong command line.
  return line->matchFile != nullptr;
}

EstimationOptions estimator_options(const OstrelParams &params, const OstrelCommandLine &line) {
  EstimationOptions options;
  options.rule.method = static_cast<TensorMethod>(params.method);
  options.rule.scoring = params.scoring == 1 ? Scoring::l2 : Scoring::count;
  options.rule.distance = params.distance;
  options.sample_size = params.sampleSize;
  options.samples = line.samples;
  options.refit = params.refit != 0;
  options.stop_early = params.stopEarly != 0;
  options.success_probability = params.successProbability;
  options.threads = line.threads;
  return options;
}
