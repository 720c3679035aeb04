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
void free_matrix(T **m, int row_first, int row_last, int col_first) {
  if (m == nullptr) return;
  for (int i = row_last; i >= row_first; --i) free_block(m[i], col_first);
  free_block(m, row_first);
}

}  // namespace

double *vector(int first, int last) { return allocate_block<double>(first, last); }

int *ivector(int first, int last) { return allocate_block<int>(first, last); }

double **matrix(int row_first, int row_last, int col_first, int col_last) {
  double **m = allocate_block<double *>(row_first, row_last);
  if (m == nullptr) return nullptr;
  for (long long i = block_low(row_first); i <= block_high(row_last); ++i) m[i] = nullptr;
  for (int i = row_first; i <= row_last; ++i) {
    m[i] = allocate_block<double>(col_first, col_last);
    if (m[i] == nullptr) {
      free_matrix(m, row_first, i - 1, col_first);
      return nullptr;
    }
  }
  return m;
}

void release_vector(double *v, int first, int /*last*/) { free_block(v, first); }

void release_ivector(int *v, int first, int /*last*/) { free_block(v, first); }

void release_matrix(double **m, int row_first, int row_last, int col_first, int /*col_last*/) {
  free_matrix(m, row_first, row_last, col_first);
}
