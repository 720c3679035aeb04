// Work vectors of the decompositions, indexed 1..n like the arrays of
// numeric.h. The decompositions run thousands of times per estimation on
// matrices of 3 to 27 rows, so a work vector of up to kWorkStackSize
// elements lives inside this object on the stack and costs no allocation;
// a larger one comes from vector()/ivector(); when the heap refuses it the
// constructor throws std::bad_alloc. The vector is released on every return
// path, failures included.
#pragma once

#include <new>

#include "numeric.h"

constexpr int kWorkStackSize = 32;

template <typename T>
class WorkArray {
 public:
  explicit WorkArray(int n) : n_(n), data_(n <= kWorkStackSize ? stack_ : allocate(n)) {}
  ~WorkArray() {
    if (data_ != stack_) release(data_, n_);
  }
  WorkArray(const WorkArray &) = delete;
  WorkArray &operator=(const WorkArray &) = delete;

  T &operator[](int i) { return data_[i]; }
  T *get() { return data_; }

 private:
  static double *allocate_as(double *, int n) { return vector(1, n); }
  static int *allocate_as(int *, int n) { return ivector(1, n); }
  static T *allocate(int n) {
    T *data = allocate_as(static_cast<T *>(nullptr), n);
    if (data == nullptr) throw std::bad_alloc();
    return data;
  }
  static void release(double *v, int n) { release_vector(v, 1, n); }
  static void release(int *v, int n) { release_ivector(v, 1, n); }

  int n_;
  T stack_[kWorkStackSize + 1];
  T *data_;
};
