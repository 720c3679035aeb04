// Unit-offset vectors and matrices.
//
// A handle is a plain pointer that the caller indexes with its own bounds.
// Shifting a pointer to a block so that v[first] is the block's first element
// would make the handle point outside the block whenever first > 0, and such
// pointer arithmetic is undefined in C++. Instead every block we allocate
// covers the index range min(first, 0) .. max(last, 0): it always contains
// index 0, so the handle is an ordinary pointer into the block (at index 0 of
// the caller's numbering) and every index the caller uses lies inside it. For
// the usual lower bound 1 this costs one unused slot per vector or row. The
// release routines recompute the block start from the lower bound alone.
//
// Views (submatrix, convert_matrix) point into memory allocated elsewhere, so
// their column offsets cannot be kept inside a block we own; their row
// handles are computed as addresses (see shifted_address).
#include <cstdint>
#include <cstdlib>

#include "numeric.h"

namespace {

// Lowest and highest index of the block that backs the caller's range.
long long block_low(int first) { return first < 0 ? first : 0; }
long long block_high(int last) { return last > 0 ? last : 0; }

// Allocates the block for first..last and returns the handle (the address of
// index 0), or nullptr when the heap refuses.
template <typename T>
T *allocate_block(int first, int last) {
  const long long count = block_high(last) - block_low(first) + 1;
  if (static_cast<unsigned long long>(count) > SIZE_MAX / sizeof(T)) return nullptr;
  T *block = static_cast<T *>(std::malloc(static_cast<std::size_t>(count) * sizeof(T)));
  if (block == nullptr) return nullptr;
  return block - block_low(first);
}

template <typename T>
void free_block(T *handle, int first) {
  if (handle == nullptr) return;
  std::free(handle + block_low(first));
}

template <typename T>
T **allocate_matrix(int row_first, int row_last, int col_first, int col_last,
                    const char *rows_message, const char *row_message) {
  T **m = allocate_block<T *>(row_first, row_last);
  if (m == nullptr) numeric_error(rows_message);
  for (long long i = block_low(row_first); i <= block_high(row_last); ++i) m[i] = nullptr;
  for (int i = row_first; i <= row_last; ++i) {
    m[i] = allocate_block<T>(col_first, col_last);
    if (m[i] == nullptr) numeric_error(row_message);
  }
  return m;
}

template <typename T>
void free_matrix(T **m, int row_first, int row_last, int col_first) {
  if (m == nullptr) return;
  for (int i = row_last; i >= row_first; --i) free_block(m[i], col_first);
  free_block(m, row_first);
}

// The address `delta` elements away from `base`. A view's row handle is
// addressed from the view's own first column, which may lie before the
// memory it shares; computing it through an integer keeps the language's
// pointer-arithmetic rules (valid only inside one array) out of play. Every
// element the caller then reaches through the handle is inside that memory.
double *shifted_address(double *base, long long delta) {
  const std::uintptr_t address = reinterpret_cast<std::uintptr_t>(base) +
                                 static_cast<std::uintptr_t>(delta) * sizeof(double);
  return reinterpret_cast<double *>(address);
}

}  // namespace

double *vector(int first, int last) {
  double *v = allocate_block<double>(first, last);
  if (v == nullptr) numeric_error("allocation failure in vector()");
  return v;
}

int *ivector(int first, int last) {
  int *v = allocate_block<int>(first, last);
  if (v == nullptr) numeric_error("allocation failure in ivector()");
  return v;
}

double *dvector(int first, int last) {
  double *v = allocate_block<double>(first, last);
  if (v == nullptr) numeric_error("allocation failure in dvector()");
  return v;
}

double **matrix(int row_first, int row_last, int col_first, int col_last) {
  return allocate_matrix<double>(row_first, row_last, col_first, col_last,
                                 "allocation failure 1 in matrix()",
                                 "allocation failure 2 in matrix()");
}

double **dmatrix(int row_first, int row_last, int col_first, int col_last) {
  return allocate_matrix<double>(row_first, row_last, col_first, col_last,
                                 "allocation failure 1 in dmatrix()",
                                 "allocation failure 2 in dmatrix()");
}

int **imatrix(int row_first, int row_last, int col_first, int col_last) {
  return allocate_matrix<int>(row_first, row_last, col_first, col_last,
                              "allocation failure 1 in imatrix()",
                              "allocation failure 2 in imatrix()");
}

double **submatrix(double **a, int old_row_first, int old_row_last, int old_col_first,
                   int /*old_col_last*/, int new_row_first, int new_col_first) {
  const int new_row_last = new_row_first + (old_row_last - old_row_first);
  double **m = allocate_block<double *>(new_row_first, new_row_last);
  if (m == nullptr) numeric_error("allocation failure in submatrix()");
  const long long column_shift = static_cast<long long>(old_col_first) - new_col_first;
  for (int i = old_row_first, k = new_row_first; i <= old_row_last; ++i, ++k)
    m[k] = shifted_address(a[i], column_shift);
  return m;
}

double **convert_matrix(double *a, int row_first, int row_last, int col_first, int col_last) {
  double **m = allocate_block<double *>(row_first, row_last);
  if (m == nullptr) numeric_error("allocation failure in convert_matrix()");
  const long long columns = static_cast<long long>(col_last) - col_first + 1;
  for (int i = row_first; i <= row_last; ++i) {
    const long long row_start = (static_cast<long long>(i) - row_first) * columns;
    m[i] = shifted_address(a, row_start - col_first);
  }
  return m;
}

void release_vector(double *v, int first, int /*last*/) { free_block(v, first); }

void release_ivector(int *v, int first, int /*last*/) { free_block(v, first); }

void release_dvector(double *v, int first, int /*last*/) { free_block(v, first); }

void release_matrix(double **m, int row_first, int row_last, int col_first, int /*col_last*/) {
  free_matrix(m, row_first, row_last, col_first);
}

void release_dmatrix(double **m, int row_first, int row_last, int col_first, int /*col_last*/) {
  free_matrix(m, row_first, row_last, col_first);
}

void release_imatrix(int **m, int row_first, int row_last, int col_first, int /*col_last*/) {
  free_matrix(m, row_first, row_last, col_first);
}

void release_submatrix(double **b, int row_first, int /*row_last*/, int /*col_first*/,
                       int /*col_last*/) {
  free_block(b, row_first);
}

void release_convert_matrix(double **b, int row_first, int /*row_last*/, int /*col_first*/,
                            int /*col_last*/) {
  free_block(b, row_first);
}
