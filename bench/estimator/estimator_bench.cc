// A whole ostrel run with default settings (six-point samples, count
// scoring, 1000 samples, 1-pixel distance, refit): read the match file,
// estimate, write the tensor file and the support file, the same calls the
// program makes. Files of 2,000 and 20,000 triplets, once half scene points
// and half gross outliers, once pure noise. Reported per run and per
// (sample x match); beside it the cost of one transfer_point, the bound
// for the pure-noise run being 1.3 x samples x matches x that cost (on pure
// noise almost every match fails its first distance, so a sample costs one
// transfer per match).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "estimator.h"
#include "matchio.h"
#include "tensor_file.h"
#include "transfer.h"

namespace {

constexpr int kSamples = 1000;  // ostrel's default; the run computes 1001 tensors

void camera(double f, double angle, double tx, double ty, double m[3][4]) {
  const double c = std::cos(angle), s = std::sin(angle);
  const double r[3][3] = {{c, 0, s}, {0, 1, 0}, {-s, 0, c}};
  const double k[3][3] = {{f, 0, 320}, {0, f, 240}, {0, 0, 1}};
  const double t[3] = {tx, ty, 0.2};
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) {
      m[i][j] = 0;
      for (int q = 0; q < 3; ++q) m[i][j] += k[i][q] * r[q][j];
    }
    m[i][3] = 0;
    for (int q = 0; q < 3; ++q) m[i][3] += k[i][q] * t[q];
  }
}

void project(const double m[3][4], const double x[3], double *u, double *v) {
  double h[3];
  for (int i = 0; i < 3; ++i) h[i] = m[i][0] * x[0] + m[i][1] * x[1] + m[i][2] * x[2] + m[i][3];
  *u = h[0] / h[2];
  *v = h[1] / h[2];
}

// A triplet file of `lines` lines; a share `inliers` of them are scene points
// seen by three cameras with 0.2-pixel noise, the rest random positions in a
// 640 x 480 frame, mixed at random.
std::string make_file(int lines, double inliers, const char *tag) {
  std::string name = std::string("/tmp/estimator_bench_") + tag + "_" + std::to_string(lines) +
                     "_" + std::to_string(getpid()) + ".txt";
  FILE *f = std::fopen(name.c_str(), "w");
  if (!f) std::abort();
  std::mt19937_64 gen(777);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  std::normal_distribution<double> noise(0.0, 0.2);
  double first[3][4], middle[3][4], last[3][4];
  camera(800, -0.15, 1.5, 0.3, first);
  camera(820, 0.02, -0.2, -0.4, middle);
  camera(790, 0.18, -1.8, 0.5, last);
  for (int n = 0; n < lines; ++n) {
    double p[6];
    if (unit(gen) < inliers) {
      const double x[3] = {-3 + 6 * unit(gen), -2 + 4 * unit(gen), 5 + 5 * unit(gen)};
      project(first, x, &p[0], &p[1]);
      project(middle, x, &p[2], &p[3]);
      project(last, x, &p[4], &p[5]);
      for (double &v : p) v += noise(gen);
    } else {
      for (int k = 0; k < 6; k += 2) p[k] = 640 * unit(gen), p[k + 1] = 480 * unit(gen);
    }
    std::fprintf(f, "%f %f %f %f %f %f\n", p[0], p[1], p[2], p[3], p[4], p[5]);
  }
  std::fclose(f);
  return name;
}

// Standard output of the run goes to /dev/null; the benchmark's own report
// keeps the real one.
class QuietStdout {
 public:
  QuietStdout() {
    std::fflush(stdout);
    saved_ = dup(1);
    FILE *null = std::fopen("/dev/null", "w");
    dup2(fileno(null), 1);
    std::fclose(null);
  }
  ~QuietStdout() {
    std::fflush(stdout);
    dup2(saved_, 1);
    close(saved_);
  }

 private:
  int saved_;
};

void run_ostrel(const std::string &path, int threads, int *supported) {
  QuietStdout quiet;
  std::vector<MatchRecord> records;
  int lines = -1;
  read_matches(path.c_str(), &records, &lines);
  MatchRecord *matches = records.data();
  const int count = static_cast<int>(records.size());
  std::vector<int32_t> support(count, 0);
  EstimationOptions options;
  options.samples = kSamples;
  options.threads = threads;
  const EstimationReport report = estimate_tensor(options, matches, count, support.data());
  write_tensor(report.tensor, path + ".TM");
  write_support_matches(matches, count, support.data(), path + ".TM.matches");
  *supported = 0;
  for (int32_t s : support) *supported += s;
}

// range(0) triplets, range(1) threads (0 for every core).
void BM_Ostrel(benchmark::State &state, double inliers, const char *tag) {
  const int lines = static_cast<int>(state.range(0));
  const int threads = static_cast<int>(state.range(1));
  const std::string path = make_file(lines, inliers, tag);
  int supported = 0;
  double seconds = 0.0;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    run_ostrel(path, threads, &supported);
    seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  }
  const double per_run = seconds / static_cast<double>(state.iterations());
  state.counters["seconds"] = per_run;
  state.counters["us_per_sample_match"] = per_run * 1e6 / (kSamples + 1) / lines;
  state.counters["supported"] = supported;
  std::remove(path.c_str());
  std::remove((path + ".TM").c_str());
  std::remove((path + ".TM.matches").c_str());
}

void BM_OstrelHalfOutliers(benchmark::State &state) { BM_Ostrel(state, 0.5, "half"); }
void BM_OstrelPureNoise(benchmark::State &state) { BM_Ostrel(state, 0.0, "noise"); }
BENCHMARK(BM_OstrelHalfOutliers)->Args({2000, 1})->Args({20000, 1})->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_OstrelPureNoise)->Args({2000, 1})->Args({20000, 1})->Unit(benchmark::kMillisecond)->Iterations(1);
// The same run on 1, 2 and every thread, side by side: the parallel
// efficiency is the one-thread time over threads x the time.
BENCHMARK(BM_OstrelPureNoise)
    ->Args({20000, 1})
    ->Args({20000, 2})
    ->Args({20000, 0})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);
BENCHMARK(BM_OstrelHalfOutliers)
    ->Args({5000, 1})
    ->Args({5000, 2})
    ->Args({5000, 0})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

// The scoring of sampled tensors, as the estimator meets them: 5,000
// triplets, half scene points with 0.2-pixel noise and half gross outliers,
// and the tensors of the samples the estimator's generator draws until 256
// give a tensor, each scored against the best of them. Full scoring of every
// match (the reference) beside scoring that stops once a tensor can no
// longer beat the best.
struct ScoringSetup {
  std::vector<MatchRecord> matches;
  std::vector<TrifocalTensor> tensors;
  double best = 0.0;
};

const ScoringSetup &scoring_setup() {
  static ScoringSetup setup;
  if (!setup.matches.empty()) return setup;
  const std::string path = make_file(5000, 0.5, "scoring");
  int lines = -1;
  {
    QuietStdout quiet;
    read_matches(path.c_str(), &setup.matches, &lines);
  }
  std::remove(path.c_str());
  const int count = static_cast<int>(setup.matches.size());
  UniformRandom random;
  std::vector<int32_t> flags(count);
  ScoringRule rule;
  rule.distance = 2.0;
  while (setup.tensors.size() < 256) {
    MatchRecord sample[6];
    for (MatchRecord &r : sample) r = setup.matches[static_cast<int>(random.next() * count) % count];
    TrifocalTensor t;
    if (!compute_tensor(TensorMethod::six_point, sample, 6, &t)) continue;
    setup.tensors.push_back(t);
    int l2 = 0;
    const double score = score_tensor(rule, setup.matches.data(), count, t, flags.data(), &l2);
    if (score > setup.best) setup.best = score;
  }
  return setup;
}

void BM_Scoring(benchmark::State &state, bool bounded) {
  const ScoringSetup &setup = scoring_setup();
  const int count = static_cast<int>(setup.matches.size());
  std::vector<int32_t> flags(count);
  ScoringRule rule;
  rule.distance = 2.0;
  size_t n = 0;
  for (auto _ : state) {
    const TrifocalTensor &t = setup.tensors[n++ % 256];
    int l2 = 0;
    bool pruned = false;
    const double score =
        bounded ? score_tensor_bounded(rule, setup.matches.data(), count, t, setup.best,
                                       flags.data(), &l2, &pruned)
                : score_tensor(rule, setup.matches.data(), count, t, flags.data(), &l2);
    benchmark::DoNotOptimize(score);
  }
  state.counters["best"] = setup.best;
}
void BM_ScoringFull(benchmark::State &state) { BM_Scoring(state, false); }
void BM_ScoringPruned(benchmark::State &state) { BM_Scoring(state, true); }
BENCHMARK(BM_ScoringFull)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ScoringPruned)->Unit(benchmark::kMicrosecond);

// One transfer of the last position of a random triplet, the unit of the
// bound. With the tensor of a scene (as in the tensor-algebra benchmark) the
// eigen-decomposition converges in few sweeps; the tensors that six random
// triplets give, as in the pure-noise run, are badly scaled and need more,
// so both are measured: the second is what a pure-noise sample pays per match.
void BM_TransferPoint(benchmark::State &state, bool noise_tensors) {
  std::mt19937_64 gen(5);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  double first[3][4], middle[3][4], last[3][4];
  camera(800, -0.15, 1.5, 0.3, first);
  camera(820, 0.02, -0.2, -0.4, middle);
  camera(790, 0.18, -1.8, 0.5, last);
  std::vector<MatchRecord> triplets(64);
  for (MatchRecord &r : triplets) {
    const double x[3] = {-3 + 6 * unit(gen), -2 + 4 * unit(gen), 5 + 5 * unit(gen)};
    project(first, x, &r.first.x, &r.first.y);
    project(middle, x, &r.middle.x, &r.middle.y);
    project(last, x, &r.last.x, &r.last.y);
  }
  std::vector<TrifocalTensor> tensors;
  for (int attempt = 0; tensors.size() < 64; ++attempt) {
    TrifocalTensor t{};
    if (noise_tensors)
      for (int k = 0; k < 6; ++k) {
        MatchRecord &r = triplets[k];
        r.first.x = 640 * unit(gen), r.first.y = 480 * unit(gen);
        r.middle.x = 640 * unit(gen), r.middle.y = 480 * unit(gen);
        r.last.x = 640 * unit(gen), r.last.y = 480 * unit(gen);
      }
    // Scene tensors from consecutive windows of six triplets.
    const int start = noise_tensors ? 0 : attempt % 58;
    if (compute_tensor(TensorMethod::six_point, triplets.data() + start, 6, &t)) tensors.push_back(t);
    if (attempt > 100000) std::abort();  // no usable sample: a fault of the setup
  }
  // Random positions, as in the pure-noise file.
  for (MatchRecord &r : triplets)
    r.first.x = 640 * unit(gen), r.first.y = 480 * unit(gen), r.middle.x = 640 * unit(gen),
    r.middle.y = 480 * unit(gen);
  size_t n = 0;
  for (auto _ : state) {
    const MatchRecord &r = triplets[n & 63];
    const TrifocalTensor &t = tensors[(n / 64) & 63];
    ++n;
    double x, y;
    transfer_point(TensorMethod::six_point, t, r.first.x, r.first.y, r.middle.x, r.middle.y, -1.0,
                   -1.0, &x, &y);
    benchmark::DoNotOptimize(x);
    benchmark::DoNotOptimize(y);
  }
}
void BM_TransferSceneTensor(benchmark::State &state) { BM_TransferPoint(state, false); }
void BM_TransferNoiseTensors(benchmark::State &state) { BM_TransferPoint(state, true); }
BENCHMARK(BM_TransferSceneTensor);
BENCHMARK(BM_TransferNoiseTensors);

}  // namespace

BENCHMARK_MAIN();
