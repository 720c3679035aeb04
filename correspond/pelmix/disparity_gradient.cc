#include "disparity_gradient.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "select_median.h"

namespace {

// Score given to every removed match.
constexpr double kRemovedScore = 999999.0;
// A median this close to zero (all remaining gradients zero, as for a pure
// translation) is replaced so that nothing is removed for scoring 0.
constexpr double kTinyMedian = 1e-20;
constexpr double kReplacedMedian = 1e30;

// The two vectors a match contributes to every gradient.
struct MatchParts {
  double dx, dy;  // disparity: last - first
  double mx, my;  // midpoint: (first + last) / 2
};

inline MatchParts parts_of(const MatchRecord &m) {
  MatchParts p;
  p.dx = m.last.x - m.first.x;
  p.dy = m.last.y - m.first.y;
  p.mx = (m.first.x + m.last.x) / 2;
  p.my = (m.first.y + m.last.y) / 2;
  return p;
}

inline double distance(double x1, double y1, double x2, double y2) {
  const double tx = x2 - x1;
  const double ty = y2 - y1;
  return std::sqrt(tx * tx + ty * ty);
}

// The one formula every path evaluates, so stored and recomputed gradients
// are the same numbers bit for bit. Coincident midpoints give 0 (the pair
// is skipped: +0.0 added to a score leaves it unchanged).
inline double gradient(double jdx, double jdy, double jmx, double jmy, double kdx, double kdy,
                       double kmx, double kmy) {
  const double spread = distance(jmx, jmy, kmx, kmy);
  if (spread == 0.0) return 0.0;
  return distance(jdx, jdy, kdx, kdy) / spread;
}

// Owns one malloc'ed block; released when the filter returns.
template <typename T>
struct Buffer {
  T *data = nullptr;
  Buffer() = default;
  Buffer(const Buffer &) = delete;
  Buffer &operator=(const Buffer &) = delete;
  ~Buffer() { free(data); }
  // Allocates count elements; false when the size overflows or malloc fails.
  bool allocate(size_t count) {
    if (count == 0) count = 1;
    if (count > SIZE_MAX / sizeof(T)) return false;
    data = static_cast<T *>(malloc(count * sizeof(T)));
    return data != nullptr;
  }
};

// Work storage of one filter run. The matches still active are kept in
// increasing match order in `order`, with their disparities, midpoints and
// running scores packed into the first `count` slots of the parallel arrays.
struct FilterWork {
  int count = 0;
  Buffer<int> order;
  Buffer<double> dx, dy, mx, my;
  Buffer<double> acc;
  Buffer<double> sorted;  // median work array, unit offset, n + 2 slots
  // Upper triangle of the gradient matrix (row j holds k = j+1..n-1), or
  // null when it does not fit the budget.
  Buffer<double> tri;
  size_t n = 0;

  size_t row_start(size_t j) const { return j * (n - 1) - j * (j - 1) / 2; }
};

#ifdef __SSE2__
// Two gradients at once: matches b and b + 1 against match a, each as
// `gradient` with the later match first. Every lane performs the same IEEE
// operations on the same operands in the same order as `gradient` (packed
// subtract, multiply, add, square root and divide round exactly as their
// scalar forms), so the results are identical bit for bit.
inline __m128d gradient_pair(__m128d adx, __m128d ady, __m128d amx, __m128d amy,
                             const double *dx, const double *dy, const double *mx,
                             const double *my, int b) {
  const __m128d tx = _mm_sub_pd(amx, _mm_loadu_pd(mx + b));
  const __m128d ty = _mm_sub_pd(amy, _mm_loadu_pd(my + b));
  const __m128d spread = _mm_sqrt_pd(_mm_add_pd(_mm_mul_pd(tx, tx), _mm_mul_pd(ty, ty)));
  const __m128d ux = _mm_sub_pd(adx, _mm_loadu_pd(dx + b));
  const __m128d uy = _mm_sub_pd(ady, _mm_loadu_pd(dy + b));
  const __m128d apart = _mm_sqrt_pd(_mm_add_pd(_mm_mul_pd(ux, ux), _mm_mul_pd(uy, uy)));
  // Coincident midpoints: +0.0 in place of the undefined quotient.
  const __m128d same = _mm_cmpeq_pd(spread, _mm_setzero_pd());
  return _mm_andnot_pd(same, _mm_div_pd(apart, spread));
}
#endif

// One pass over the pairs a < b of the active matches with every gradient
// evaluated. Each gradient is added to the scores of both matches; the
// score of match a thus receives its terms for b < a from the earlier rows
// and those for b > a from its own row, in increasing b overall, which is
// the order of a sum over all other active matches. The gradient of a pair
// is G[b][a] = disparity_gradient (b, a), the later match first, so every
// difference is a's value minus b's. Only NaN coordinates can tell the
// operand order apart (of two NaN operands the first comes out), and then it
// keeps each gradient bit for bit equal to disparity_gradient (b, a). When
// `store` is set (first pass, all matches active) the gradients are kept in
// the triangle.
void score_pairs_evaluated(FilterWork &w, bool store) {
  const int c = w.count;
  const double *dx = w.dx.data, *dy = w.dy.data, *mx = w.mx.data, *my = w.my.data;
  double *acc = w.acc.data;
  for (int a = 0; a < c; ++a) {
    const double adx = dx[a], ady = dy[a], amx = mx[a], amy = my[a];
    // Row of the triangle for match a (only used when storing; in the
    // first pass a is also the match number). Element b sits at b - a - 1.
    double *row = store ? w.tri.data + w.row_start(static_cast<size_t>(a)) : nullptr;
    double s = acc[a];
    int b = a + 1;
#ifdef __SSE2__
    const __m128d vdx = _mm_set1_pd(adx), vdy = _mm_set1_pd(ady);
    const __m128d vmx = _mm_set1_pd(amx), vmy = _mm_set1_pd(amy);
    for (; b + 1 < c; b += 2) {
      const __m128d g = gradient_pair(vdx, vdy, vmx, vmy, dx, dy, mx, my, b);
      if (store) _mm_storeu_pd(row + (b - a - 1), g);
      _mm_storeu_pd(acc + b, _mm_add_pd(_mm_loadu_pd(acc + b), g));
      // Score of a: the lower lane (match b) first, then b + 1.
      s += _mm_cvtsd_f64(g);
      s += _mm_cvtsd_f64(_mm_unpackhi_pd(g, g));
    }
#endif
    for (; b < c; ++b) {
      const double g = gradient(dx[b], dy[b], mx[b], my[b], adx, ady, amx, amy);
      if (store) row[b - a - 1] = g;
      s += g;
      acc[b] += g;
    }
    acc[a] = s;
  }
}

// The same pass reading the stored gradients of the active pairs.
void score_pairs_stored(FilterWork &w) {
  const int c = w.count;
  const int *order = w.order.data;
  double *acc = w.acc.data;
  for (int a = 0; a < c; ++a) {
    const size_t j = static_cast<size_t>(order[a]);
    const double *row = w.tri.data + w.row_start(j);
    double s = acc[a];
    for (int b = a + 1; b < c; ++b) {
      const double g = row[static_cast<size_t>(order[b]) - j - 1];
      s += g;
      acc[b] += g;
    }
    acc[a] = s;
  }
}

}  // namespace

double point_distance(double x1, double y1, double x2, double y2) {
  return distance(x1, y1, x2, y2);
}

double disparity_gradient(const MatchRecord &j, const MatchRecord &k) {
  const MatchParts pj = parts_of(j);
  const MatchParts pk = parts_of(k);
  return gradient(pj.dx, pj.dy, pj.mx, pj.my, pk.dx, pk.dy, pk.mx, pk.my);
}

Status filter_by_disparity_gradient(const MatchRecord *matches, int n, double scale,
                                    FilterReport *report, FilterProgress *progress,
                                    size_t store_budget) {
  report->passes = 0;
  report->pass_medians.clear();
  report->keep.clear();
  // Nothing to score: no pass, and a median that keeps everything.
  if (n <= 0) {
    report->scores.clear();
    report->median = kReplacedMedian;
    return Status::ok;
  }
  FilterWork w;
  w.n = static_cast<size_t>(n);
  const size_t un = w.n;
  // While the passes run, keep[j] tells whether match j is still active.
  std::vector<uint8_t> &active = report->keep;
  try {
    report->scores.resize(un);
    if (!w.sorted.allocate(un + 2)) return Status::out_of_memory;
    active.assign(un, 1);
  } catch (const std::bad_alloc &) {
    return Status::out_of_memory;
  }
  if (!w.order.allocate(un) || !w.dx.allocate(un) || !w.dy.allocate(un) || !w.mx.allocate(un) ||
      !w.my.allocate(un) || !w.acc.allocate(un))
    return Status::out_of_memory;
  double *scores = report->scores.data();

  // The triangle holds n (n - 1) / 2 gradients. It only saves time, so
  // when it exceeds the budget or cannot be allocated every pass evaluates
  // the gradients again, with the same results.
  const size_t pairs = un * (un - 1) / 2;
  if (pairs > 0 && pairs <= store_budget / sizeof(double))
    w.tri.allocate(pairs);  // leaves tri.data null on failure

  for (int j = 0; j < n; ++j) {
    const MatchParts p = parts_of(matches[j]);
    w.dx.data[j] = p.dx;
    w.dy.data[j] = p.dy;
    w.mx.data[j] = p.mx;
    w.my.data[j] = p.my;
    w.order.data[j] = j;
  }
  w.count = n;

  double median = 0.0;
  bool first_pass = true;
  for (;;) {
    const int pass = ++report->passes;
    if (progress) progress->pass_started(pass, w.count);

    // Scores of this pass; removed matches score 0 until the end.
    for (int j = 0; j < n; ++j) scores[j] = 0.0;
    for (int a = 0; a < w.count; ++a) w.acc.data[a] = 0.0;
    if (w.tri.data && !first_pass)
      score_pairs_stored(w);
    else
      score_pairs_evaluated(w, w.tri.data != nullptr);
    first_pass = false;
    for (int a = 0; a < w.count; ++a) scores[w.order.data[a]] = w.acc.data[a];

    // Median of the active scores, in match order from index 1 on.
    for (int a = 0; a < w.count; ++a) w.sorted.data[a + 1] = w.acc.data[a];
    const double m = select_median(w.count / 2, w.sorted.data, w.count);
    try {
      report->pass_medians.push_back(m);
    } catch (const std::bad_alloc &) {
      return Status::out_of_memory;
    }
    if (progress) progress->pass_median(pass, m);
    median = std::fabs(m) < kTinyMedian ? kReplacedMedian : m;

    // Removal: keep a match only while scale * median >= its score (a NaN
    // score fails the test and is removed).
    const double limit = scale * median;
    int kept = 0;
    for (int a = 0; a < w.count; ++a) {
      const int j = w.order.data[a];
      if (limit >= w.acc.data[a]) {
        w.order.data[kept] = j;
        w.dx.data[kept] = w.dx.data[a];
        w.dy.data[kept] = w.dy.data[a];
        w.mx.data[kept] = w.mx.data[a];
        w.my.data[kept] = w.my.data[a];
        ++kept;
      } else {
        active[j] = 0;
      }
    }
    const bool removed = kept < w.count;
    w.count = kept;
    // Stop when nothing was removed, or when everything was: an empty set
    // has no median, so the median of this pass stands.
    if (!removed || kept == 0) break;
  }
  report->median = median;

  // Removed matches take the removed score; then the selection of the
  // output: a score strictly below median * scale (a score equal to it is
  // not kept, although the passes kept it).
  for (int j = 0; j < n; ++j) {
    if (!active[j]) scores[j] = kRemovedScore;
    active[j] = scores[j] < median * scale;
  }
  return Status::ok;
}
