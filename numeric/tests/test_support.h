// Helpers shared by the tests of the numerical routines.
#pragma once

#include <cstdint>
#include <functional>
#include <random>
#include <string>

#include "numeric.h"

namespace numtest {

// Runs `body` in a forked child with standard output and standard error
// captured; `status` is the exit status (0 when body returns normally,
// 128 + signal number when the child is killed).
struct ChildResult {
  int status = -1;
  std::string out;
  std::string err;
};
ChildResult run_in_child(const std::function<void()> &body);

// Seed of a randomized test: NUMERIC_TEST_SEED from the environment when
// set, else `fallback`. The seed is printed so that a failure can be
// reproduced.
std::uint64_t test_seed(const char *test_name, std::uint64_t fallback);

double uniform(std::mt19937_64 &rng, double lo, double hi);
int uniform_int(std::mt19937_64 &rng, int lo, int hi);

// A heap matrix [1..rows][1..cols] from matrix(), released on scope exit.
class Matrix {
 public:
  Matrix(int rows, int cols) : rows_(rows), cols_(cols), m_(matrix(1, rows, 1, cols)) {
    for (int i = 1; i <= rows; ++i)
      for (int j = 1; j <= cols; ++j) m_[i][j] = 0.0;
  }
  ~Matrix() { release_matrix(m_, 1, rows_, 1, cols_); }
  Matrix(const Matrix &other) : Matrix(other.rows_, other.cols_) {
    for (int i = 1; i <= rows_; ++i)
      for (int j = 1; j <= cols_; ++j) m_[i][j] = other.m_[i][j];
  }
  Matrix &operator=(const Matrix &) = delete;
  double **get() { return m_; }
  double *operator[](int i) { return m_[i]; }
  const double *operator[](int i) const { return m_[i]; }
  int rows() const { return rows_; }
  int cols() const { return cols_; }

 private:
  int rows_, cols_;
  double **m_;
};

// A heap vector [1..n] from vector(), released on scope exit.
class Vector {
 public:
  explicit Vector(int n) : n_(n), v_(vector(1, n)) {
    for (int i = 1; i <= n; ++i) v_[i] = 0.0;
  }
  ~Vector() { release_vector(v_, 1, n_); }
  Vector(const Vector &) = delete;
  Vector &operator=(const Vector &) = delete;
  double *get() { return v_; }
  double &operator[](int i) { return v_[i]; }

 private:
  int n_;
  double *v_;
};

// Largest |entry| of a.
double max_abs(const Matrix &a);
// Largest |(Q^T Q - I)[i][j]| over the columns of q.
double orthonormality_error(const Matrix &q);

}  // namespace numtest
