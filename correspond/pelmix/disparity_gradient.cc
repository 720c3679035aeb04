#include "disparity_gradient.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

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

// Where the gradients of a pass come from.
enum class PairSource {
  evaluated,         // evaluated for every pair
  evaluated_stored,  // evaluated and kept in the triangle (first pass, all active)
  stored,            // read from the triangle
};

// Row a's terms for the active matches b0 <= b < b1 (a < b0): each gradient
// is added to the running score s of a, in increasing b, and to acc[b].
// Returns the new s.
//
// The score of match a thus receives its terms for b < a from the earlier
// rows (through acc[a], in increasing b) and then those of its own row, in
// increasing b overall, which is the order of a sum over all other active
// matches. The gradient of a pair is G[b][a] = disparity_gradient (b, a), the
// later match first, so every difference is a's value minus b's. Only NaN
// coordinates can tell the operand order apart (of two NaN operands the
// first comes out), and then it keeps each gradient bit for bit equal to
// disparity_gradient (b, a).
template <PairSource kSource>
inline double row_terms(const FilterWork &w, int a, int b0, int b1, double s) {
  double *acc = w.acc.data;
  if (kSource == PairSource::stored) {
    const int *order = w.order.data;
    const size_t j = static_cast<size_t>(order[a]);
    const double *row = w.tri.data + w.row_start(j);
    for (int b = b0; b < b1; ++b) {
      const double g = row[static_cast<size_t>(order[b]) - j - 1];
      s += g;
      acc[b] += g;
    }
    return s;
  }
  constexpr bool store = kSource == PairSource::evaluated_stored;
  const double *dx = w.dx.data, *dy = w.dy.data, *mx = w.mx.data, *my = w.my.data;
  const double adx = dx[a], ady = dy[a], amx = mx[a], amy = my[a];
  // Row of the triangle for match a (only used when storing; in the first
  // pass a is also the match number). Element b sits at b - a - 1.
  double *row = store ? w.tri.data + w.row_start(static_cast<size_t>(a)) : nullptr;
  int b = b0;
#ifdef __SSE2__
  const __m128d vdx = _mm_set1_pd(adx), vdy = _mm_set1_pd(ady);
  const __m128d vmx = _mm_set1_pd(amx), vmy = _mm_set1_pd(amy);
  for (; b + 1 < b1; b += 2) {
    const __m128d g = gradient_pair(vdx, vdy, vmx, vmy, dx, dy, mx, my, b);
    if (store) _mm_storeu_pd(row + (b - a - 1), g);
    _mm_storeu_pd(acc + b, _mm_add_pd(_mm_loadu_pd(acc + b), g));
    // Score of a: the lower lane (match b) first, then b + 1.
    s += _mm_cvtsd_f64(g);
    s += _mm_cvtsd_f64(_mm_unpackhi_pd(g, g));
  }
#endif
  for (; b < b1; ++b) {
    const double g = gradient(dx[b], dy[b], mx[b], my[b], adx, ady, amx, amy);
    if (store) row[b - a - 1] = g;
    s += g;
    acc[b] += g;
  }
  return s;
}

// Rows r0 <= a < r1 against the matches c0 <= b < c1 with b > a: the block
// (I, J) of the pair triangle. A diagonal block (c0 == r0) holds the pairs
// inside one range.
template <PairSource kSource>
void score_block(const FilterWork &w, int r0, int r1, int c0, int c1) {
  double *acc = w.acc.data;
  for (int a = r0; a < r1; ++a) {
    const int from = c0 > a ? c0 : a + 1;
    acc[a] = row_terms<kSource>(w, a, from, c1, acc[a]);
  }
}

void score_block(const FilterWork &w, PairSource source, int r0, int r1, int c0, int c1) {
  switch (source) {
    case PairSource::evaluated:
      score_block<PairSource::evaluated>(w, r0, r1, c0, c1);
      break;
    case PairSource::evaluated_stored:
      score_block<PairSource::evaluated_stored>(w, r0, r1, c0, c1);
      break;
    case PairSource::stored:
      score_block<PairSource::stored>(w, r0, r1, c0, c1);
      break;
  }
}

// Matches per block of the pair triangle in a threaded pass.
constexpr int kBlock = 256;
// Below this many active matches a pass runs on the calling thread alone.
constexpr int kThreadedMinimum = 4 * kBlock;

// One pass on the calling thread, row after row; the progress callback hears
// of it every kBlock rows.
void score_pass_serial(const FilterWork &w, PairSource source, FilterProgress *progress,
                       int pass) {
  const int c = w.count;
  for (int r0 = 0; r0 < c; r0 += kBlock) {
    const int r1 = r0 + kBlock < c ? r0 + kBlock : c;
    score_block(w, source, r0, r1, r0, c);
    if (progress) progress->pass_progress(pass, c, static_cast<double>(r1) / c);
  }
}

// Threads that share the passes of one filter run.
//
// The pair triangle is cut into blocks (I, J), I <= J, of kBlock matches a
// side. The score of a match in range I needs, in this order, the terms of
// the blocks (0, I) .. (I - 1, I) (through acc, added row by row), of the
// diagonal block (I, I), and of (I, I + 1), (I, I + 2), ... (its own row);
// acc[b] of a match in range J receives the blocks (0, J), (1, J), ... in
// that order. Block (I, J) therefore waits only for (I, J - 1) and
// (I - 1, J), and all blocks with the same I + J can run at once: of two
// such blocks with I < I', J > J' >= I' > I, so they share no range. Walking
// these anti-diagonals in order, with a barrier
// after each, every score receives exactly the terms of the serial loop in
// exactly its order, so every bit (NaN included) is the same for any number
// of threads. Within an anti-diagonal, block k goes to thread k mod count.
class PassTeam {
 public:
  // Starts up to threads - 1 helpers (the caller is the first member); fewer
  // when the system refuses more.
  explicit PassTeam(int threads) {
    helpers_.reserve(static_cast<size_t>(threads - 1));
    for (int i = 1; i < threads; ++i) {
      try {
        helpers_.emplace_back(&PassTeam::help, this, i);
      } catch (...) {
        break;  // no more threads: the others share the work
      }
    }
    members_ = static_cast<int>(helpers_.size()) + 1;
  }
  ~PassTeam() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      quit_ = true;
      ++start_generation_;
    }
    start_.notify_all();
    for (std::thread &t : helpers_) t.join();
  }
  PassTeam(const PassTeam &) = delete;
  PassTeam &operator=(const PassTeam &) = delete;

  int members() const { return members_; }

  void score_pass(const FilterWork &w, PairSource source, FilterProgress *progress, int pass) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      work_ = &w;
      source_ = source;
      blocks_ = (w.count + kBlock - 1) / kBlock;
      ++start_generation_;
    }
    start_.notify_all();
    const int diagonals = 2 * blocks_ - 1;
    for (int t = 0; t < diagonals; ++t) {
      score_diagonal(0, t);
      barrier();
      if (progress) progress->pass_progress(pass, w.count, static_cast<double>(t + 1) / diagonals);
    }
  }

 private:
  // Blocks (I, t - I) with I <= t - I < blocks_ that belong to `member`.
  void score_diagonal(int member, int t) const {
    const int first = t - blocks_ + 1 > 0 ? t - blocks_ + 1 : 0;
    const int last = t / 2;
    const int c = work_->count;
    for (int i = first + member; i <= last; i += members_) {
      const int j = t - i;
      const int r0 = i * kBlock, r1 = r0 + kBlock < c ? r0 + kBlock : c;
      const int c0 = j * kBlock, c1 = c0 + kBlock < c ? c0 + kBlock : c;
      score_block(*work_, source_, r0, r1, c0, c1);
    }
  }

  // Waits until every member has finished the current anti-diagonal.
  void barrier() {
    std::unique_lock<std::mutex> lock(mutex_);
    const unsigned long long generation = barrier_generation_;
    if (++arrived_ == members_) {
      arrived_ = 0;
      ++barrier_generation_;
      lock.unlock();
      done_.notify_all();
      return;
    }
    done_.wait(lock, [&] { return barrier_generation_ != generation; });
  }

  void help(int member) {
    unsigned long long seen = 0;
    for (;;) {
      {
        std::unique_lock<std::mutex> lock(mutex_);
        start_.wait(lock, [&] { return start_generation_ != seen; });
        seen = start_generation_;
        if (quit_) return;
      }
      const int diagonals = 2 * blocks_ - 1;
      for (int t = 0; t < diagonals; ++t) {
        score_diagonal(member, t);
        barrier();
      }
    }
  }

  std::vector<std::thread> helpers_;
  int members_ = 1;
  std::mutex mutex_;
  std::condition_variable start_, done_;
  unsigned long long start_generation_ = 0;
  bool quit_ = false;
  // The pass in progress (set under the mutex before the start signal).
  const FilterWork *work_ = nullptr;
  PairSource source_ = PairSource::evaluated;
  int blocks_ = 0;
  // The barrier: members arrived at the current one, and how many have opened.
  int arrived_ = 0;
  unsigned long long barrier_generation_ = 0;
};

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
                                    size_t store_budget, int threads) {
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

  // Helper threads, when asked for and when the input is large enough for
  // them to pay.
  std::unique_ptr<PassTeam> team;
  if (threads > 1 && n >= kThreadedMinimum) {
    const int blocks = (n + kBlock - 1) / kBlock;
    try {
      team.reset(new PassTeam(std::min({threads, blocks, kMaxThreads})));
    } catch (const std::exception &) {
      team.reset();  // the passes run on this thread alone, with the same results
    }
    if (team && team->members() < 2) team.reset();
  }

  double median = 0.0;
  bool first_pass = true;
  for (;;) {
    const int pass = ++report->passes;
    if (progress) progress->pass_started(pass, w.count);

    // Scores of this pass; removed matches score 0 until the end.
    for (int j = 0; j < n; ++j) scores[j] = 0.0;
    for (int a = 0; a < w.count; ++a) w.acc.data[a] = 0.0;
    const PairSource source = !w.tri.data ? PairSource::evaluated
                              : first_pass ? PairSource::evaluated_stored
                                           : PairSource::stored;
    if (team && w.count >= kThreadedMinimum)
      team->score_pass(w, source, progress, pass);
    else
      score_pass_serial(w, source, progress, pass);
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
