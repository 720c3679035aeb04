// Reading a large triplet file: whole-line scanning plus the hashed numbering
// of distinct positions. The target is well under a second for 100,000 lines.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <random>
#include <string>
#include <vector>

#include "matchio.h"

namespace {

// Writes a triplet file of `lines` lines in the writers' "%f" format. About a
// third of the positions of each image repeat an earlier one, as a matcher's
// output does when one feature takes part in several matches.
std::string make_triplet_file(int lines) {
  char name[] = "/tmp/read_matches_bench.XXXXXX";
  int fd = mkstemp(name);
  if (fd < 0) std::abort();
  FILE *f = fdopen(fd, "w");
  std::mt19937 gen(12345);
  std::uniform_real_distribution<double> coord(0.0, 1000.0);
  std::uniform_int_distribution<int> pick(0, 2);
  double prev[6] = {0, 0, 0, 0, 0, 0};
  for (int i = 0; i < lines; ++i) {
    double v[6];
    for (int k = 0; k < 6; k += 2) {
      const bool repeat = i > 0 && pick(gen) == 0;
      v[k] = repeat ? prev[k] : coord(gen);
      v[k + 1] = repeat ? prev[k + 1] : coord(gen);
    }
    std::fprintf(f, "%f %f %f %f %f %f\n", v[0], v[1], v[2], v[3], v[4], v[5]);
    if (pick(gen) != 0)
      for (int k = 0; k < 6; ++k) prev[k] = v[k];
  }
  std::fclose(f);
  return name;
}

void BM_ReadMatches(benchmark::State &state) {
  const int lines = static_cast<int>(state.range(0));
  const std::string path = make_triplet_file(lines);
  for (auto _ : state) {
    std::vector<MatchRecord> records;
    int count = -1;
    read_matches(path.c_str(), &records, &count);
    if (count != lines || records.size() != static_cast<size_t>(lines))
      state.SkipWithError("wrong record count");
    benchmark::DoNotOptimize(records.data());
  }
  state.SetItemsProcessed(state.iterations() * lines);
  std::remove(path.c_str());
}
BENCHMARK(BM_ReadMatches)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

}  // namespace

// The reader prints its line count on standard output; the report goes to
// standard error so that standard output can be discarded.
int main(int argc, char **argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  if (!std::freopen("/dev/null", "w", stdout)) return 1;
  benchmark::ConsoleReporter reporter;
  reporter.SetOutputStream(&std::cerr);
  reporter.SetErrorStream(&std::cerr);
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
