// Affine, linear and algebraic-minimisation tensor computations.
#include "linear.h"

#include <cmath>
#include <cstdlib>

#include "epipoles.h"
#include "fixed_arrays.h"
#include "numeric.h"

namespace {

// Samples up to this size are copied on the stack (the estimator draws at
// most ten); larger ones (the refit over all supporting matches) on the heap.
constexpr int kStackRecords = 16;

// The caller's sample copied into working storage that the computation may
// change (normalise or centre) freely.
class SampleCopy {
 public:
  // get() is null when the heap refused the copy.
  SampleCopy(const MatchRecord *sample, int n) {
    records_ = stack_;
    if (n > kStackRecords) {
      heap_ = static_cast<MatchRecord *>(std::malloc(static_cast<size_t>(n) * sizeof(MatchRecord)));
      records_ = heap_;
      if (heap_ == nullptr) return;
    }
    for (int r = 0; r < n; ++r) records_[r] = sample[r];
  }
  ~SampleCopy() { std::free(heap_); }
  SampleCopy(const SampleCopy &) = delete;
  SampleCopy &operator=(const SampleCopy &) = delete;
  MatchRecord *get() { return records_; }

 private:
  MatchRecord stack_[kStackRecords];
  MatchRecord *heap_ = nullptr;
  MatchRecord *records_;
};

constexpr char kCopyFailure[] = "allocation failure in the copy of a tensor sample";

// 0 with *failure set, for a copy that could not be made.
int copy_failed(const char **failure) {
  if (failure != nullptr) *failure = kCopyFailure;
  return 0;
}

template <int N>
void clear(FixedMatrix<N, N> &m) {
  for (int a = 1; a <= N; ++a)
    for (int b = 1; b <= N; ++b) m[a][b] = 0.0;
}

// normal += row^T row for a row of N coefficients (row[0..N-1]). Products are
// commutative bit for bit, so the upper triangle is accumulated and mirrored
// at the end by mirror_upper(); every entry sees the same terms in the same
// order as a full accumulation would.
template <int N>
void add_outer_product(FixedMatrix<N, N> &normal, const double *row) {
  for (int a = 1; a <= N; ++a) {
    const double ra = row[a - 1];
    double *out = normal[a];
    for (int b = a; b <= N; ++b) out[b] += ra * row[b - 1];
  }
}

template <int N>
void mirror_upper(FixedMatrix<N, N> &m) {
  for (int a = 2; a <= N; ++a)
    for (int b = 1; b < a; ++b) m[a][b] = m[b][a];
}

// D^T D of the projective design matrix: four relation rows per triplet of
// the (normalised) copy, in record order.
void accumulate_projective_normal(const MatchRecord *records, int n, FixedMatrix<27, 27> &normal) {
  clear(normal);
  double row[27];
  for (int r = 0; r < n; ++r)
    for (int e = 0; e < 4; ++e) {
      trilinear_row(records[r], e / 2, e % 2, row);
      add_outer_product(normal, row);
    }
  mirror_upper(normal);
}

// Eigen-decomposition of a symmetric matrix (destroyed), sorted descending.
// Returns jacobi's status.
template <int N>
int sorted_eigen(FixedMatrix<N, N> &normal, FixedVector<N> &values, FixedMatrix<N, N> &vectors) {
  int rotations = 0;
  const int ok = jacobi(normal.get(), N, values.get(), vectors.get(), &rotations);
  sort_eigen(values.get(), vectors.get(), N);
  return ok;
}

}  // namespace

int compute_affine_tensor(const MatchRecord *sample, int n, TrifocalTensor *t) {
  if (n < 1) return 0;
  // 1. Means of the six coordinates.
  double sum[6] = {0.0, 0.0, 0.0, 0.0, 0.0, 0.0};
  for (int r = 0; r < n; ++r) {
    sum[0] += sample[r].first.x;
    sum[1] += sample[r].first.y;
    sum[2] += sample[r].middle.x;
    sum[3] += sample[r].middle.y;
    sum[4] += sample[r].last.x;
    sum[5] += sample[r].last.y;
  }
  double mean[6];
  for (int c = 0; c < 6; ++c) mean[c] = sum[c] / n;

  // 2-4. Relations E1..E4 of every centred triplet into the 16x16 normal
  // matrix; centring keeps it well conditioned without any scaling.
  FixedMatrix<16, 16> normal;
  clear(normal);
  double row[16];
  for (int r = 0; r < n; ++r) {
    MatchRecord centred = sample[r];
    centred.first.x -= mean[0];
    centred.first.y -= mean[1];
    centred.middle.x -= mean[2];
    centred.middle.y -= mean[3];
    centred.last.x -= mean[4];
    centred.last.y -= mean[5];
    for (int e = 0; e < 4; ++e) {
      affine_row(centred, e, row);
      add_outer_product(normal, row);
    }
  }
  mirror_upper(normal);
  FixedVector<16> values;
  FixedMatrix<16, 16> vectors;
  sorted_eigen(normal, values, vectors);  // a failed jacobi still gives its vectors
  double *T = t->entry;
  for (int e = 0; e < 16; ++e) T[e] = vectors[e + 1][16];

  // 5. Constant terms back to pixel coordinates.
  const double m1x = mean[0], m1y = mean[1], m2x = mean[2], m2y = mean[3];
  const double m3x = mean[4], m3y = mean[5];
  T[12] = T[12] - (T[0] * m1x + T[2] * m2x + T[4] * m3x + T[8] * m3y);
  T[13] = T[13] - (T[1] * m1x + T[2] * m2y + T[6] * m3x + T[10] * m3y);
  T[14] = T[14] - (T[0] * m1y + T[3] * m2x + T[5] * m3x + T[9] * m3y);
  T[15] = T[15] - (T[1] * m1y + T[3] * m2y + T[7] * m3x + T[11] * m3y);
  return 1;
}

int compute_linear_tensor(const MatchRecord *sample, int n, TrifocalTensor *t,
                          const char **failure) {
  if (n < 1) return 0;
  SampleCopy copy(sample, n);
  if (copy.get() == nullptr) return copy_failed(failure);
  NormalisingTransform nt_first, nt_middle, nt_last;
  normalise_sample(copy.get(), n, &nt_first, &nt_middle, &nt_last);

  FixedMatrix<27, 27> normal;
  accumulate_projective_normal(copy.get(), n, normal);
  FixedVector<27> values;
  FixedMatrix<27, 27> vectors;
  sorted_eigen(normal, values, vectors);  // status ignored
  for (int e = 0; e < 27; ++e) t->entry[e] = vectors[e + 1][27];
  denormalise_tensor(t, nt_first.factor(), nt_middle.factor(), nt_last.factor());
  return 1;
}

int compute_constrained_tensor(const MatchRecord *sample, int n, TrifocalTensor *t,
                               int refine_given, const char **failure) {
  if (n < 1) return 0;
  // 1-2. Normalised copy; its design matrix D is produced row by row below.
  SampleCopy copy(sample, n);
  MatchRecord *records = copy.get();
  if (records == nullptr) return copy_failed(failure);
  NormalisingTransform nt_first, nt_middle, nt_last;
  normalise_sample(records, n, &nt_first, &nt_middle, &nt_last);
  const double f_first = nt_first.factor(), f_middle = nt_middle.factor(),
               f_last = nt_last.factor();

  // 3. Starting tensor in normalised coordinates, held in *t.
  if (refine_given == 0) {
    FixedMatrix<27, 27> normal;
    accumulate_projective_normal(records, n, normal);
    FixedVector<27> values;
    FixedMatrix<27, 27> vectors;
    if (!sorted_eigen(normal, values, vectors)) return 0;
    for (int e = 0; e < 27; ++e) t->entry[e] = vectors[e + 1][27];
  } else {
    normalise_tensor(t, f_first, f_middle, f_last);
  }

  // 4. Epipoles of the starting tensor.
  double e_m[3], e_f[3];
  tensor_epipoles(*t, e_m, e_f);

  // 5. Parameter matrix: camera parameters A (columns 1..9, A(j,i) in column
  // 3j + i + 1) and B (columns 10..18, B(k,i) in column 9 + 3k + i + 1) to
  // the tensor entries (row 9i + 3j + k + 1).
  FixedMatrix<27, 18> e;
  for (int r = 1; r <= 27; ++r)
    for (int c = 1; c <= 18; ++c) e[r][c] = 0.0;
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j)
      for (int k = 0; k < 3; ++k) {
        const int row = 9 * i + 3 * j + k + 1;
        e[row][3 * j + i + 1] = e_f[k];
        e[row][9 + 3 * k + i + 1] = -e_m[j];
      }

  // 6-8. E = U diag(w) V^T. E has rank 15 (the 18 parameters carry a
  // three-parameter ambiguity), so after sorting, the first 15 columns of U
  // span every tensor of this camera form.
  FixedVector<18> w;
  FixedMatrix<18, 18> v;
  if (svdcmp(e.get(), 27, 18, w.get(), v.get()) != Status::ok) return 0;
  FixedIntVector<18> index;
  for (int c = 1; c <= 18; ++c) index[c] = c;
  sort_with_index(w.get(), index.get(), e.get(), 27, 18);
  FixedMatrix<27, 18> &u = e;  // U in place of E; columns 1..15 are used

  // 9. Normal matrix of D U15, row by row.
  FixedMatrix<15, 15> normal15;
  clear(normal15);
  double row[27];
  double reduced[15];
  for (int r = 0; r < n; ++r)
    for (int rel = 0; rel < 4; ++rel) {
      trilinear_row(records[r], rel / 2, rel % 2, row);
      for (int c = 1; c <= 15; ++c) {
        double s = 0.0;
        for (int k = 1; k <= 27; ++k) s += row[k - 1] * u[k][c];
        reduced[c - 1] = s;
      }
      add_outer_product(normal15, reduced);
    }
  mirror_upper(normal15);
  FixedVector<15> values15;
  FixedMatrix<15, 15> vectors15;
  sorted_eigen(normal15, values15, vectors15);  // status ignored
  FixedVector<15> x;
  for (int c = 1; c <= 15; ++c) x[c] = vectors15[c][15];

  // 10. Candidate t' = U15 x.
  FixedVector<27> candidate;
  matrix_vector_product(u.get(), x.get(), candidate.get(), 27, 15);

  // 11. L1 norm of the algebraic residual D t', accumulated in row order.
  double l1 = 0.0;
  for (int r = 0; r < n; ++r)
    for (int rel = 0; rel < 4; ++rel) {
      trilinear_row(records[r], rel / 2, rel % 2, row);
      double s = 0.0;
      for (int k = 1; k <= 27; ++k) s += row[k - 1] * candidate[k];
      l1 += std::fabs(s);
    }
  if (l1 < kConstrainedResidualBound)
    for (int k = 0; k < 27; ++k) t->entry[k] = candidate[k + 1];

  // 12. Back to pixel coordinates.
  denormalise_tensor(t, f_first, f_middle, f_last);
  return 1;
}
