// Speed and peak memory of the disparity-gradient filter.
//
// Run each size in a process of its own so that the peak resident size is
// that size's alone, e.g.
//   pelmix_bench --benchmark_filter='Filter/50000'
// and the threads side by side with
//   pelmix_bench --benchmark_filter=FilterThreads
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <algorithm>
#include <random>
#include <thread>
#include <vector>

#include "disparity_gradient.h"
#include "matchio.h"

namespace {

// Matches on a smooth disparity field with noise and, when `outliers` is
// set, about one gross outlier in eight, as a feature matcher delivers them.
std::vector<MatchRecord> make_matches(int n, bool outliers) {
  std::mt19937 rng(20240601u + static_cast<unsigned>(n));
  std::uniform_real_distribution<double> pos(0.0, 1600.0), noise(-0.8, 0.8), wild(-120.0, 120.0);
  std::vector<MatchRecord> m(n);
  for (int i = 0; i < n; ++i) {
    const double x = pos(rng), y = pos(rng);
    double dx = 25.0 + 0.01 * x + noise(rng), dy = -4.0 + 0.005 * y + noise(rng);
    if (outliers && rng() % 8 == 0) {
      dx += wild(rng);
      dy += wild(rng);
    }
    m[i].first = {x, y, i};
    m[i].last = {x + dx, y + dy, i};
    m[i].middle = {-1.0, -1.0, 0};
  }
  return m;
}

double peak_rss_mb() {
  struct rusage ru;
  getrusage(RUSAGE_SELF, &ru);
  return static_cast<double>(ru.ru_maxrss) / 1024.0;  // kilobytes on Linux
}

void run_filter(benchmark::State &state, size_t budget, bool outliers, int threads = 1) {
  const int n = static_cast<int>(state.range(0));
  const std::vector<MatchRecord> m = make_matches(n, outliers);
  FilterReport report;
  int passes = 0;
  for (auto _ : state) {
    if (filter_by_disparity_gradient(m.data(), n, 3.5, &report, nullptr, budget, threads) !=
        Status::ok)
      state.SkipWithError("out of memory");
    benchmark::ClobberMemory();
    passes = report.passes;
  }
  // Pairs of the first pass; later passes cover fewer, so with several
  // passes ns_per_pair_pass understates the cost per pair actually scored
  // (exact with one pass).
  const double pairs = static_cast<double>(n) * (n - 1) / 2;
  state.counters["passes"] = passes;
  state.counters["s_per_pass"] =
      benchmark::Counter(static_cast<double>(passes), benchmark::Counter::kIsIterationInvariantRate |
                                                          benchmark::Counter::kInvert);
  state.counters["ns_per_pair_pass"] = benchmark::Counter(
      pairs * passes * 1e-9, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
  state.counters["peak_MB"] = peak_rss_mb();
}

// The filter as the program runs it (gradients stored while they fit).
void BM_Filter(benchmark::State &state) { run_filter(state, kGradientStoreBudget, true); }
// Gradients evaluated again in every pass.
void BM_FilterRecomputed(benchmark::State &state) { run_filter(state, 0, true); }
// The filter on 1, 2 and every core (range 1; 0 is every core), timed by
// the clock on the wall. Compare real_time of the rows: the parallel
// efficiency is time(1) / (threads x time(threads)).
void BM_FilterThreads(benchmark::State &state) {
  int threads = static_cast<int>(state.range(1));
  if (threads == 0) threads = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  state.counters["threads"] = threads;
  run_filter(state, kGradientStoreBudget, true, threads);
}
// Without outliers: a single pass, so ns_per_pair_pass is exact.
void BM_FilterOnePass(benchmark::State &state) { run_filter(state, 0, false); }

// Baseline: one plain pass over the pairs through disparity_gradient, each
// gradient added to both scores.
void BM_PlainPairLoop(benchmark::State &state) {
  const int n = static_cast<int>(state.range(0));
  const std::vector<MatchRecord> m = make_matches(n, true);
  std::vector<double> score(n);
  for (auto _ : state) {
    std::fill(score.begin(), score.end(), 0.0);
    for (int j = 0; j < n; ++j)
      for (int k = j + 1; k < n; ++k) {
        const double g = disparity_gradient(m[j], m[k]);
        score[j] += g;
        score[k] += g;
      }
    benchmark::DoNotOptimize(score.data());
  }
  const double pairs = static_cast<double>(n) * (n - 1) / 2;
  state.counters["ns_per_pair"] = benchmark::Counter(
      pairs * 1e-9, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

BENCHMARK(BM_Filter)->Arg(2000)->Arg(20000)->Arg(50000)->Unit(benchmark::kMillisecond)
    ->Iterations(1);
BENCHMARK(BM_FilterThreads)
    ->ArgsProduct({{5000, 20000}, {1, 2, 0}})
    ->ArgNames({"matches", "threads"})
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FilterRecomputed)->Arg(2000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FilterOnePass)->Arg(2000)->Arg(20000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlainPairLoop)->Arg(2000)->Arg(20000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
