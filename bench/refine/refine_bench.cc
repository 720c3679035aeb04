// The stages of ostrel -r on a triplet file (the make_examples --eval data,
// for instance): the robust sampler, the whole refinement from its result,
// and, inside the refinement, one adjustment over the sampler's support and
// one re-selection (optimal triangulation of every triplet). Also the
// sampler's six-point step on the same random six-triplet samples of the
// file: the faithful computation (with the sampler's conversion to pixel
// cameras) and the dedicated camera solver (minimal.h).
//
//   bench_refine FILE [benchmark flags]
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <random>
#include <vector>

#include "bundle.h"
#include "matchio.h"
#include "minimal.h"
#include "refine.h"
#include "six_point.h"

namespace {

std::vector<MatchRecord> g_matches;

struct Start {
  std::vector<int32_t> support;
  RobustReport robust;
  bundle::Frame frame{};
};

Start robust_start() {
  Start s;
  s.support.assign(g_matches.size(), 0);
  robust_estimate(g_matches.data(), static_cast<int>(g_matches.size()), RobustOptions(),
                  s.support.data(), &s.robust);
  double sc[3] = {0, 0, 0};
  int n = 0;
  for (size_t i = 0; i < g_matches.size(); ++i) {
    if (!s.support[i]) continue;
    const MatchRecord &m = g_matches[i];
    sc[0] += m.first.x * m.first.x + m.first.y * m.first.y;
    sc[1] += m.middle.x * m.middle.x + m.middle.y * m.middle.y;
    sc[2] += m.last.x * m.last.x + m.last.y * m.last.y;
    ++n;
  }
  for (double &v : sc) v = std::sqrt(v / (2.0 * (n > 0 ? n : 1)));
  bundle::make_frame(s.robust.cameras, sc, false, &s.frame);
  return s;
}

void BM_Robust(benchmark::State &state) {
  std::vector<int32_t> support(g_matches.size(), 0);
  for (auto _ : state) {
    RobustReport r;
    benchmark::DoNotOptimize(robust_estimate(g_matches.data(), static_cast<int>(g_matches.size()),
                                             RobustOptions(), support.data(), &r));
  }
}

void BM_Refine(benchmark::State &state) {
  const Start s = robust_start();
  for (auto _ : state) {
    RefineReport r;
    benchmark::DoNotOptimize(refine_geometry(g_matches.data(), static_cast<int>(g_matches.size()),
                                             s.support.data(), s.robust.cameras, TrifocalTensor{},
                                             RefineOptions(), &r));
  }
}

void BM_Adjust(benchmark::State &state) {
  const Start s = robust_start();
  const int n = static_cast<int>(g_matches.size());
  std::vector<double> pts(3 * g_matches.size(), 0.0);
  for (int i = 0; i < n; ++i) {
    double err[3];
    bundle::triangulate(s.frame, g_matches[static_cast<size_t>(i)], &pts[3 * static_cast<size_t>(i)], err);
  }
  bundle::Options o;
  o.huber = std::sqrt(3.0);
  bundle::Workspace ws;
  bundle::Result res;
  for (auto _ : state) {
    bundle::Frame f = s.frame;
    std::vector<double> p = pts;
    benchmark::DoNotOptimize(bundle::adjust(&f, g_matches.data(), n, s.support.data(), p.data(), o,
                                            &ws, &res));
  }
  state.counters["iterations"] = res.iterations;
}

void BM_Reselect(benchmark::State &state) {
  const Start s = robust_start();
  for (auto _ : state) {
    double sum = 0.0;
    for (const MatchRecord &m : g_matches) {
      double pt[3], err[3];
      if (bundle::triangulate(s.frame, m, pt, err)) sum += err[0];
    }
    benchmark::DoNotOptimize(sum);
  }
}

// 1000 samples of six distinct triplets, the same every run.
struct Six {
  MatchRecord r[6];
};
const std::vector<Six> &six_samples() {
  static const std::vector<Six> samples = [] {
    std::vector<Six> out(1000);
    std::mt19937_64 engine(12345);
    const uint64_t n = g_matches.size();
    for (Six &s : out) {
      uint64_t idx[6];
      for (int q = 0; q < 6; ++q) {
        uint64_t c = engine() % n;
        for (int r = 0; r < q;)
          if (idx[r] == c) c = (c + 1) % n, r = 0;
          else ++r;
        idx[q] = c;
        s.r[q] = g_matches[c];
      }
    }
    return out;
  }();
  return samples;
}

void BM_SixPointFaithful(benchmark::State &state) {
  const std::vector<Six> &samples = six_samples();
  int64_t solutions = 0;
  for (auto _ : state) {
    solutions = 0;
    for (const Six &s : samples) {
      ThreeCameras cams[3];
      const int n = faithful_six_point_cameras(s.r, cams);
      benchmark::DoNotOptimize(cams);
      solutions += n;
    }
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(samples.size()));
  state.counters["solutions"] = static_cast<double>(solutions);
}

void BM_SixPointFast(benchmark::State &state) {
  const std::vector<Six> &samples = six_samples();
  int64_t solutions = 0;
  for (auto _ : state) {
    solutions = 0;
    for (const Six &s : samples) {
      ThreeCameras cams[3];
      const int n = six_point_cameras(s.r, cams);
      benchmark::DoNotOptimize(cams);
      solutions += n;
    }
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(samples.size()));
  state.counters["solutions"] = static_cast<double>(solutions);
}

BENCHMARK(BM_Robust)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Refine)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Adjust)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Reselect)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SixPointFaithful)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SixPointFast)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char **argv) {
  benchmark::Initialize(&argc, argv);
  if (argc < 2) {
    std::fprintf(stderr, "usage: bench_refine FILE [benchmark flags]\n");
    return 2;
  }
  int lines = 0;
  if (read_matches(argv[1], &g_matches, &lines) != Status::ok || g_matches.empty()) {
    std::fprintf(stderr, "bench_refine: cannot read %s\n", argv[1]);
    return 2;
  }
  benchmark::RunSpecifiedBenchmarks();
  return 0;
}
