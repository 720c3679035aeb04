// Random-sampling estimator, its tensor dispatch, assessment, stop-early
// bound and random generator.
#include "estimator.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "linear.h"
#include "six_point.h"
#include "transfer.h"

namespace {

// ---- Random generator ------------------------------------------------------

struct Congruential {
  int32_t multiplier, increment, modulus;
};
// Products stay below 2^31: 7141 x 259199 + 54773 < 1.86e9.
constexpr Congruential kGen1 = {7141, 54773, 259200};
constexpr Congruential kGen2 = {8121, 28411, 134456};
constexpr Congruential kGen3 = {4561, 51349, 243000};
constexpr double kReciprocal1 = 1.0 / 259200;
constexpr double kReciprocal2 = 1.0 / 134456;
constexpr int kTableSize = 97;

struct GeneratorState {
  bool initialised = false;
  int32_t s1 = 0, s2 = 0, s3 = 0;
  double table[kTableSize + 1] = {};  // slots 1..97
};
GeneratorState generator;

void step(int32_t *s, const Congruential &g) { *s = (g.multiplier * *s + g.increment) % g.modulus; }

double table_value() { return (generator.s1 + generator.s2 * kReciprocal2) * kReciprocal1; }

// ---- Sampling ----------------------------------------------------------------

// Consecutive failed samples after which sampling ends: far beyond what real
// data reaches, which fails a sample only now and then.
long long failure_bound(int samples) {
  const long long bound = 100LL * samples;
  return bound > 10000 ? bound : 10000;
}

// Draws sample_size distinct matches into sample[] (positions only).
void draw_sample(const MatchRecord *matches, int count, int sample_size, MatchRecord *sample) {
  int drawn[kMaxSampleSize + 2];
  for (int place = 0; place < sample_size; ++place) {
    int c = static_cast<int>(uniform_random() * count);
    if (c >= count) c = count - 1;  // cannot happen for u < 1; keeps the index in range
    for (int q = 0; q < place;) {
      if (c == drawn[q]) {
        c = (c + 1) % count;
        q = 0;  // compare again from the first drawn index
      } else {
        ++q;
      }
    }
    const MatchRecord &m = matches[c];
    MatchRecord &s = sample[place];
    s.first.x = m.first.x, s.first.y = m.first.y, s.first.index = 0;
    s.middle.x = m.middle.x, s.middle.y = m.middle.y, s.middle.index = 0;
    s.last.x = m.last.x, s.last.y = m.last.y, s.last.index = 0;
    drawn[place] = c;
  }
}

// End of one sample: takes the counter's value, then increments it; sampling
// goes on while the value taken was below N. The increment is made only when
// sampling goes on (the value after the last sample is never used), so the
// counter cannot overflow when N is the largest int32.
bool another_sample(int *counter, int samples) {
  if (*counter >= samples) return false;
  ++*counter;
  return true;
}

void print_assessment(double mean, double maximum) {
  std::printf("\n=== Error assessment ===\n");
  std::printf("Average distance = %lf pixels\n", mean);
  std::printf("Maximum distance = %lf pixels\n", maximum);
}

}  // namespace

double uniform_random() {
  if (!generator.initialised) {
    generator.initialised = true;
    generator.s1 = (54773 - 1) % 259200;
    step(&generator.s1, kGen1);
    generator.s2 = generator.s1 % 134456;
    step(&generator.s1, kGen1);
    generator.s3 = generator.s1 % 243000;
    for (int j = 1; j <= kTableSize; ++j) {
      step(&generator.s1, kGen1);
      step(&generator.s2, kGen2);
      generator.table[j] = table_value();
    }
  }
  step(&generator.s1, kGen1);
  step(&generator.s2, kGen2);
  step(&generator.s3, kGen3);
  const int j = 1 + (kTableSize * generator.s3) / 243000;
  const double value = generator.table[j];
  generator.table[j] = table_value();
  return value;
}

float samples_needed(float p, int32_t s, float w) {
  const double bound = std::log(1.0 - p) / std::log(1.0 - std::pow(static_cast<double>(w), s));
  return static_cast<float>(bound);
}

int compute_tensor(const EstimatorParams *params, const MatchRecord *sample, int sample_size,
                   TrifocalTensor *t) {
  switch (params->method) {
    case 0:
      return compute_affine_tensor(params, sample, sample_size, t);
    case 1:
      return compute_linear_tensor(params, sample, sample_size, t);
    case 2:
      return compute_constrained_tensor(params, sample, sample_size, t, 0);
    case 3:
      return compute_six_point_tensor(params, sample, sample_size, t);
    default:
      return 0;
  }
}

void assess_tensor(const EstimatorParams &params, const MatchRecord *matches, int count,
                   const TrifocalTensor &tensor, const int32_t *support, double *mean,
                   double *maximum) {
  double total = 0.0;
  double largest = 0.0;
  int flagged = 0;
  for (int n = 0; n < count; ++n) {
    if (support[n] == 0) continue;
    const TransferDistances d = transfer_distances(params.method, tensor, matches[n]);
    const double m = (d.d_last + d.d_first + d.d_middle) / 3;
    total += m;
    if (m >= largest) largest = m;
    ++flagged;
  }
  // An empty support set has no error to report: 0 and 0 rather than 0/0.
  *mean = flagged > 0 ? total / flagged : 0.0;
  *maximum = largest;
}

double score_tensor(const EstimatorParams &params, const MatchRecord *matches, int count,
                    const TrifocalTensor &t, int32_t *flags, int *l2_count) {
  const double d = params.distance;
  const int method = params.method;
  std::memset(flags, 0, static_cast<size_t>(count) * sizeof(int32_t));
  double score = 0.0;
  *l2_count = 0;
  for (int n = 0; n < count; ++n) {
    const MatchRecord &match = matches[n];
    const double d_last = transfer_distance_last(method, t, match);
    if (!(d_last < d)) continue;
    const double d_first = transfer_distance_first(method, t, match);
    if (!(d_first < d)) continue;
    const double d_middle = transfer_distance_middle(method, t, match);
    if (!(d_middle < d)) continue;
    const double m = (d_last + d_first + d_middle) / 3;
    if (params.scoring == 1) {
      score += 1 - (m * m) / (d * d);
      ++*l2_count;
    } else {
      score += 1;
    }
    flags[n] = 1;
  }
  return score;
}

void estimate_tensor(const EstimatorParams &params, const MatchRecord *matches, int count,
                     int samples, TrifocalTensor *tensor, int32_t *support) {
  TrifocalTensor working;
  for (int e = 0; e < 27; ++e) tensor->entry[e] = 0.0, working.entry[e] = 0.0;
  const int sample_size = params.sampleSize;
  if (sample_size < 1 || sample_size > kMaxSampleSize) {
    std::printf("Sample size %d outside 1..%d\n", sample_size, kMaxSampleSize);
    return;
  }
  if (count < sample_size) {
    std::printf("Not enough correspondences for Random Sampling to occur");
    return;
  }
  int32_t *flags = static_cast<int32_t *>(std::malloc(static_cast<size_t>(count) * sizeof(int32_t)));
  if (flags == nullptr) {
    std::printf("Memory Allocation failure! In FMCRS...\n");
    return;
  }

  MatchRecord sample[kMaxSampleSize];
  double best = 0.0;
  int counter = 0;
  const long long max_failures = failure_bound(samples);
  long long failures = 0;
  bool stop = false;
  do {
    draw_sample(matches, count, sample_size, sample);
    if (!compute_tensor(&params, sample, sample_size, &working)) {
      --counter;  // a failed sample is not counted
      if (++failures >= max_failures) {
        std::printf("Sampling stopped: %lld samples in a row gave no tensor\n", failures);
        break;
      }
      continue;
    }
    failures = 0;
    int l2_count = 0;
    const double score = score_tensor(params, matches, count, working, flags, &l2_count);
    if (score > best) {
      if (params.scoring == 1)
        std::printf("NEW T: with %lf Score! with %d Matches...\n", score, l2_count);
      else
        std::printf("NEW T: with %d Matches!\n", static_cast<int>(score));
      best = score;
      *tensor = working;
      std::memcpy(support, flags, static_cast<size_t>(count) * sizeof(int32_t));
    }
    if (params.stopEarly) {
      const float bound = samples_needed(static_cast<float>(params.successProbability),
                                         sample_size, static_cast<float>(best / count));
      if (static_cast<double>(counter) > static_cast<double>(bound)) {
        std::printf("Stopped early samples %d prob. success %f\n", counter,
                    params.successProbability);
        stop = true;
      }
    }
  } while (!stop && another_sample(&counter, samples));
  std::free(flags);

  // Gather the supporting matches.
  int supported = 0;
  for (int n = 0; n < count; ++n)
    if (support[n] != 0) ++supported;
  std::printf("Total possible matches %d final actual matches %d\n", count, supported);
  MatchRecord *inliers = nullptr;
  if (supported > 0) {
    inliers = static_cast<MatchRecord *>(std::malloc(static_cast<size_t>(supported) * sizeof(MatchRecord)));
    if (inliers == nullptr) {
      std::printf("Memory Allocation error in tensoramental\n");
      std::exit(2);
    }
    int k = 0;
    for (int n = 0; n < count; ++n)
      if (support[n] != 0) inliers[k++] = matches[n];
  }

  // Error of the best sampled tensor.
  working = *tensor;
  double mean = 0.0, maximum = 0.0;
  std::printf("\n=== Original assessment ===");
  assess_tensor(params, matches, count, *tensor, support, &mean, &maximum);
  print_assessment(mean, maximum);

  // Refit on all supporting matches; kept only when it lowers the mean error.
  // Without supporting matches there is nothing to refit on.
  if (params.refit && supported > 0) {
    if (compute_constrained_tensor(&params, inliers, supported, &working, 1)) {
      double refit_mean = 0.0, refit_maximum = 0.0;
      assess_tensor(params, matches, count, working, support, &refit_mean, &refit_maximum);
      if (refit_mean < mean) *tensor = working;
    }
  }

  std::printf("\n=== Refit assessment ===");
  assess_tensor(params, matches, count, *tensor, support, &mean, &maximum);
  print_assessment(mean, maximum);
  std::free(inliers);
}
