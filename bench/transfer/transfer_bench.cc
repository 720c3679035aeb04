// Cost of one point transfer and one six-point tensor computation, with an
// allocation-free baseline transfer written here (four rows, 3x3 normal
// matrix, cyclic Jacobi on plain arrays, sort) measured side by side.
// transfer_point should stay within 1.3 times the baseline.
#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "epipoles.h"
#include "fixed_arrays.h"
#include "six_point.h"
#include "transfer.h"

namespace {

// Three cameras K [R | t] and 64 exact triplets of scene points in front of
// them.
struct Setup {
  TrifocalTensor tensor;
  std::vector<MatchRecord> triplets;
};

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

MatchPoint project(const double m[3][4], const double x[4]) {
  double h[3];
  for (int i = 0; i < 3; ++i) h[i] = m[i][0] * x[0] + m[i][1] * x[1] + m[i][2] * x[2] + m[i][3] * x[3];
  return MatchPoint{h[0] / h[2], h[1] / h[2], 0};
}

const Setup &setup() {
  static const Setup s = [] {
    Setup out;
    double first[3][4], middle[3][4], last[3][4];
    camera(800, -0.15, 1.5, 0.3, first);
    camera(820, 0.02, -0.2, -0.4, middle);
    camera(790, 0.18, -1.8, 0.5, last);
    for (int n = 0; n < 64; ++n) {
      const double x[4] = {-3.0 + 6.0 * ((n * 37) % 64) / 63.0, -2.0 + 4.0 * ((n * 11) % 64) / 63.0,
                           5.0 + 5.0 * ((n * 23) % 64) / 63.0, 1.0};
      out.triplets.push_back(MatchRecord{project(first, x), project(last, x), project(middle, x)});
    }
    FixedMatrix<3, 4> cl, cm, cf;
    for (int r = 0; r < 3; ++r)
      for (int c = 0; c < 4; ++c) {
        cl[r + 1][c + 1] = last[r][c];
        cm[r + 1][c + 1] = middle[r][c];
        cf[r + 1][c + 1] = first[r][c];
      }
    tensor_from_cameras(cl.get(), cm.get(), cf.get(), &out.tensor);
    return out;
  }();
  return s;
}

// ---- Baseline: the same least-squares transfer on plain fixed arrays -------

void baseline_jacobi(double a[3][3], double d[3], double v[3][3]) {
  double b[3], z[3];
  for (int p = 0; p < 3; ++p) {
    for (int q = 0; q < 3; ++q) v[p][q] = (p == q) ? 1.0 : 0.0;
    b[p] = d[p] = a[p][p];
    z[p] = 0.0;
  }
  for (int sweep = 1; sweep <= 50; ++sweep) {
    const double sm = std::fabs(a[0][1]) + std::fabs(a[0][2]) + std::fabs(a[1][2]);
    if (sm == 0.0) return;
    const double tresh = sweep < 4 ? 0.2 * sm / 9.0 : 0.0;
    for (int p = 0; p < 2; ++p)
      for (int q = p + 1; q < 3; ++q) {
        const double g = 100.0 * std::fabs(a[p][q]);
        if (sweep > 4 && std::fabs(d[p]) + g == std::fabs(d[p]) &&
            std::fabs(d[q]) + g == std::fabs(d[q])) {
          a[p][q] = 0.0;
        } else if (std::fabs(a[p][q]) > tresh) {
          double h = d[q] - d[p], t;
          if (std::fabs(h) + g == std::fabs(h)) {
            t = a[p][q] / h;
          } else {
            const double theta = 0.5 * h / a[p][q];
            t = 1.0 / (std::fabs(theta) + std::sqrt(1.0 + theta * theta));
            if (theta < 0.0) t = -t;
          }
          const double c = 1.0 / std::sqrt(1 + t * t), s = t * c, tau = s / (1.0 + c);
          h = t * a[p][q];
          z[p] -= h, z[q] += h, d[p] -= h, d[q] += h;
          a[p][q] = 0.0;
          auto rot = [s, tau](double &x, double &y) {
            const double gx = x, hy = y;
            x = gx - s * (hy + gx * tau);
            y = hy + s * (gx - hy * tau);
          };
          for (int j = 0; j < p; ++j) rot(a[j][p], a[j][q]);
          for (int j = p + 1; j < q; ++j) rot(a[p][j], a[j][q]);
          for (int j = q + 1; j < 3; ++j) rot(a[p][j], a[q][j]);
          for (int j = 0; j < 3; ++j) rot(v[j][p], v[j][q]);
        }
      }
    for (int p = 0; p < 3; ++p) {
      b[p] += z[p];
      d[p] = b[p];
      z[p] = 0.0;
    }
  }
}

// Predicts the last position from first and middle.
void baseline_transfer_last(const TrifocalTensor &t, double x1, double y1, double x2, double y2,
                            double *out_x, double *out_y) {
  const double u[2] = {x1, y1}, c[2] = {x2, y2};
  double rows[4][3];
  for (int r = 0; r < 4; ++r) {
    const int l = r / 2, m = r % 2;
    for (int i = 0; i < 3; ++i)
      rows[r][i] = -t(i, l, m) + u[m] * t(i, l, 2) + c[l] * t(i, 2, m) - u[m] * c[l] * t(i, 2, 2);
  }
  double n[3][3] = {};
  for (int r = 0; r < 4; ++r)
    for (int s = 0; s < 3; ++s)
      for (int q = 0; q < 3; ++q) n[s][q] += rows[r][s] * rows[r][q];
  double d[3], v[3][3];
  baseline_jacobi(n, d, v);
  // Descending selection sort with the eigenvector columns.
  for (int i = 0; i < 2; ++i) {
    int k = i;
    for (int j = i + 1; j < 3; ++j)
      if (d[j] >= d[k]) k = j;
    if (k != i) {
      const double td = d[i];
      d[i] = d[k], d[k] = td;
      for (int row = 0; row < 3; ++row) {
        const double tv = v[row][i];
        v[row][i] = v[row][k], v[row][k] = tv;
      }
    }
  }
  *out_x = v[0][2] / v[2][2];
  *out_y = v[1][2] / v[2][2];
}

void BM_BaselineTransfer(benchmark::State &state) {
  const Setup &s = setup();
  size_t n = 0;
  for (auto _ : state) {
    const MatchRecord &r = s.triplets[n++ & 63];
    double x, y;
    baseline_transfer_last(s.tensor, r.first.x, r.first.y, r.middle.x, r.middle.y, &x, &y);
    benchmark::DoNotOptimize(x);
    benchmark::DoNotOptimize(y);
  }
}
BENCHMARK(BM_BaselineTransfer);

void BM_TransferPoint(benchmark::State &state) {
  const Setup &s = setup();
  size_t n = 0;
  for (auto _ : state) {
    const MatchRecord &r = s.triplets[n++ & 63];
    double x, y;
    transfer_point(TensorMethod::six_point, s.tensor, r.first.x, r.first.y, r.middle.x, r.middle.y, -1.0, -1.0, &x, &y);
    benchmark::DoNotOptimize(x);
    benchmark::DoNotOptimize(y);
  }
}
BENCHMARK(BM_TransferPoint);

void BM_SixPointTensor(benchmark::State &state) {
  const Setup &s = setup();
  size_t n = 0;
  TrifocalTensor t;
  double accepted = 0;
  for (auto _ : state) {
    const MatchRecord *sample = &s.triplets[6 * (n++ % 10)];
    const int ok = compute_six_point_tensor(sample, 6, &t);
    benchmark::DoNotOptimize(ok);
    benchmark::ClobberMemory();
    accepted += ok;
  }
  // Share of the samples that went all the way to a tensor.
  state.counters["accepted"] = accepted / static_cast<double>(state.iterations());
}
BENCHMARK(BM_SixPointTensor);

}  // namespace

BENCHMARK_MAIN();
