// Times a whole vandrel run over a sequence of 200 images with 5,000
// triplets in every triplet file (198 files), as the chaining of a long
// video sequence would see them: most tracks continue from one file to the
// next, some end, and new ones take their place.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "vandrel_run.h"

namespace {

constexpr int kImages = 200;
constexpr int kTripletsPerFile = 5000;

struct Track {
  double x, y, dx, dy;  // position in its first image and motion per image
  int first_image;
};

// Writes the triplet files seq<i>.jpg-seq<i+1>.jpg-seq<i+2>.jpg.txt into a
// fresh folder and returns its name. Every track keeps its observed position
// in an image, so that consecutive files agree on it exactly.
std::string make_sequence() {
  char folder[] = "/tmp/vandrel_bench_XXXXXX";
  if (!mkdtemp(folder)) std::abort();
  std::mt19937 rng(12345);
  std::uniform_real_distribution<double> where(0.0, 4000.0);
  std::uniform_real_distribution<double> step(6.0, 20.0);
  std::uniform_real_distribution<double> chance(0.0, 1.0);
  std::vector<Track> live;
  auto at = [](const Track &t, int image, double *x, double *y) {
    *x = t.x + t.dx * (image - t.first_image);
    *y = t.y + t.dy * (image - t.first_image);
  };
  for (int i = 0; i + 2 < kImages; ++i) {
    // One track in ten ends before this file; new tracks fill up the file.
    std::vector<Track> next;
    for (const Track &t : live)
      if (chance(rng) < 0.9) next.push_back(t);
    while (next.size() < static_cast<size_t>(kTripletsPerFile))
      next.push_back(Track{where(rng), where(rng), step(rng), step(rng), i});
    live = next;
    std::string name = std::string(folder) + "/seq" + std::to_string(i) + ".jpg-seq" +
                       std::to_string(i + 1) + ".jpg-seq" + std::to_string(i + 2) + ".jpg.txt";
    FILE *f = std::fopen(name.c_str(), "w");
    if (!f) std::abort();
    for (const Track &t : live) {
      double x[3], y[3];
      for (int k = 0; k < 3; ++k) at(t, i + k, &x[k], &y[k]);
      std::fprintf(f, "%.6f %.6f %.6f %.6f %.6f %.6f\n", x[0], y[0], x[1], y[1], x[2], y[2]);
    }
    std::fclose(f);
  }
  return folder;
}

// The generated sequence, removed again when the benchmark program ends.
struct Sequence {
  std::string folder = make_sequence();
  ~Sequence() {
    for (int i = 0; i + 2 < kImages; ++i)
      std::remove((folder + "/seq" + std::to_string(i) + ".jpg-seq" + std::to_string(i + 1) +
                   ".jpg-seq" + std::to_string(i + 2) + ".jpg.txt")
                      .c_str());
    std::remove((folder + "/tracks.txt").c_str());
    rmdir(folder.c_str());
  }
};

void BM_VandrelRun(benchmark::State &state) {
  static const Sequence sequence;
  const std::string &folder = sequence.folder;
  std::string end = std::to_string(kImages - 1);
  std::vector<std::string> args = {"vandrel", "-p", "seq", "-o",         ".txt", "-s",
                                   "0",       "-e", end,   "-f", "tracks.txt"};
  std::vector<char *> argv;
  for (std::string &a : args) argv.push_back(&a[0]);
  argv.push_back(nullptr);

  // The run reads and writes in the sequence's folder; its console output
  // goes to /dev/null, as it would to a file.
  char here[4096];
  if (!getcwd(here, sizeof here) || chdir(folder.c_str()) != 0) std::abort();
  int devnull = open("/dev/null", O_WRONLY);
  for (auto _ : state) {
    std::fflush(stdout);
    std::fflush(stderr);
    int saved_out = dup(1);
    int saved_err = dup(2);
    dup2(devnull, 1);
    dup2(devnull, 2);
    int status = run_vandrel(static_cast<int>(args.size()), argv.data());
    std::fflush(stdout);
    std::fflush(stderr);
    dup2(saved_out, 1);
    dup2(saved_err, 2);
    close(saved_out);
    close(saved_err);
    if (status != 0) state.SkipWithError("vandrel run failed");
  }
  close(devnull);
  if (chdir(here) != 0) std::abort();
}
BENCHMARK(BM_VandrelRun)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
