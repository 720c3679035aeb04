// Writing a support-match file of triplet lines: the writer (to_chars into a
// line buffer, one fwrite a line) against the same file written with
// fprintf("%f %f %f %f %f %f\n"), the way the lines used to be written.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "file_util.h"
#include "matchio.h"

namespace {

std::vector<MatchRecord> make_records(int count) {
  std::mt19937 gen(4242);
  std::uniform_real_distribution<double> coord(0.0, 1000.0);
  std::vector<MatchRecord> records(static_cast<size_t>(count));
  for (MatchRecord &r : records)
    r = {{coord(gen), coord(gen), 0}, {coord(gen), coord(gen), 0}, {coord(gen), coord(gen), 0}};
  return records;
}

std::string temporary_path() {
  char name[] = "/tmp/write_matches_bench.XXXXXX";
  const int fd = mkstemp(name);
  if (fd < 0) std::abort();
  close(fd);
  return name;
}

void BM_WriteFprintf(benchmark::State &state) {
  const int count = static_cast<int>(state.range(0));
  const std::vector<MatchRecord> records = make_records(count);
  const std::string path = temporary_path();
  for (auto _ : state) {
    OutputFile out;
    if (out.open(path) != Status::ok) state.SkipWithError("cannot open");
    for (const MatchRecord &r : records)
      std::fprintf(out.stream(), "%f %f %f %f %f %f\n", r.first.x, r.first.y, r.middle.x,
                   r.middle.y, r.last.x, r.last.y);
    if (out.commit() != Status::ok) state.SkipWithError("cannot write");
  }
  state.SetItemsProcessed(state.iterations() * count);
  std::remove(path.c_str());
}
BENCHMARK(BM_WriteFprintf)->Arg(800)->Arg(20000)->Unit(benchmark::kMicrosecond);

void BM_WriteSupportMatches(benchmark::State &state) {
  const int count = static_cast<int>(state.range(0));
  const std::vector<MatchRecord> records = make_records(count);
  const std::vector<int32_t> flags(records.size(), 1);
  const std::string path = temporary_path();
  for (auto _ : state)
    if (write_support_matches(records.data(), count, flags.data(), path) != Status::ok)
      state.SkipWithError("cannot write");
  state.SetItemsProcessed(state.iterations() * count);
  std::remove(path.c_str());
}
BENCHMARK(BM_WriteSupportMatches)->Arg(800)->Arg(20000)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
