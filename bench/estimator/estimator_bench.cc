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
#include <string>
#include <vector>

#include "estimator.h"
#include "matchio.h"
#include "synthetic_scene.h"
#include "tensor_file.h"
#include "transfer.h"

namespace {

constexpr int kSamples = 1000;  // ostrel's default; the run computes 1001 tensors

// Three views of the box of points [-3, 3] x [-2, 2] x [5, 10], 640 x 480.
std::vector<synthetic::Camera> bench_cameras() {
  return {synthetic::look_at({-1.4, -0.3, -0.2}, {0.6, 0.0, 7.5}, 800, 640, 480),
          synthetic::look_at({0.2, 0.4, -0.2}, {0.0, 0.2, 7.5}, 820, 640, 480),
          synthetic::look_at({1.8, -0.5, -0.2}, {-0.8, 0.0, 7.5}, 790, 640, 480)};
}

const synthetic::PointCloud kCloud({-3.0, -2.0, 5.0}, {3.0, 2.0, 10.0}, 0.0);

// A triplet file of `lines` lines; a share `inliers` of them are scene points
// seen by three cameras with 0.2-pixel noise, the rest random positions in a
// 640 x 480 frame, mixed at random.
std::string make_file(int lines, double inliers, const char *tag) {
  std::string name = std::string("/tmp/estimator_bench_") + tag + "_" + std::to_string(lines) +
                     "_" + std::to_string(getpid()) + ".txt";
  const std::vector<synthetic::Camera> cameras = bench_cameras();
  synthetic::MatchSettings settings;
  settings.margin = 0.0;
  settings.noise = 0.2;
  synthetic::Random r(777);
  std::vector<synthetic::Match> matches;
  synthetic::Match m;
  while (static_cast<int>(matches.size()) < lines) {
    if (r.uniform() < inliers) {
      while (!synthetic::true_match(kCloud, cameras, settings, &r, &m)) {
      }
      matches.push_back(m);
    } else {
      matches.push_back(synthetic::random_match(cameras, settings, &r));
    }
  }
  const std::string text = synthetic::match_lines(matches, 6);
  FILE *f = std::fopen(name.c_str(), "w");
  if (!f) std::abort();
  std::fwrite(text.data(), 1, text.size(), f);
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
  synthetic::Random rnd(5);
  const std::vector<synthetic::Camera> cameras = bench_cameras();
  synthetic::MatchSettings exact;
  exact.margin = 0.0;
  exact.noise = 0.0;
  std::vector<MatchRecord> triplets;
  synthetic::Match m;
  while (triplets.size() < 64)
    if (synthetic::true_match(kCloud, cameras, exact, &rnd, &m))
      triplets.push_back(synthetic::triplet_records({m})[0]);
  std::vector<TrifocalTensor> tensors;
  for (int attempt = 0; tensors.size() < 64; ++attempt) {
    TrifocalTensor t{};
    if (noise_tensors)
      for (int k = 0; k < 6; ++k)
        triplets[k] = synthetic::triplet_records({synthetic::random_match(cameras, exact, &rnd)})[0];
    // Scene tensors from consecutive windows of six triplets.
    const int start = noise_tensors ? 0 : attempt % 58;
    if (compute_tensor(TensorMethod::six_point, triplets.data() + start, 6, &t)) tensors.push_back(t);
    if (attempt > 100000) std::abort();  // no usable sample: a fault of the setup
  }
  // Random positions, as in the pure-noise file.
  for (MatchRecord &r : triplets) {
    const MatchRecord noise = synthetic::triplet_records({synthetic::random_match(cameras, exact, &rnd)})[0];
    r.first = noise.first;
    r.middle = noise.middle;
  }
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
