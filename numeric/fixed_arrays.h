// Fixed-size unit-offset arrays that live on the stack (or inside another
// record). They index exactly like the heap arrays of numeric.h with lower
// bound 1 (v[1..N], m[1..R][1..C]; slot 0 is unused) and can be handed to
// every routine that takes a double* or double**, so hot paths need no heap.
#pragma once

template <int N>
struct FixedVector {
  double cell[N + 1];
  double *get() { return cell; }
  double &operator[](int i) { return cell[i]; }
  const double &operator[](int i) const { return cell[i]; }
};

template <int N>
struct FixedIntVector {
  int cell[N + 1];
  int *get() { return cell; }
  int &operator[](int i) { return cell[i]; }
};

template <int R, int C>
struct FixedMatrix {
  double cell[R + 1][C + 1];
  double *row[R + 1];
  FixedMatrix() {
    for (int i = 0; i <= R; ++i) row[i] = cell[i];
  }
  FixedMatrix(const FixedMatrix &other) : FixedMatrix() { copy_cells(other); }
  FixedMatrix &operator=(const FixedMatrix &other) {
    copy_cells(other);
    return *this;
  }
  double **get() { return row; }
  double *operator[](int i) { return cell[i]; }
  const double *operator[](int i) const { return cell[i]; }

 private:
  void copy_cells(const FixedMatrix &other) {
    for (int i = 0; i <= R; ++i)
      for (int j = 0; j <= C; ++j) cell[i][j] = other.cell[i][j];
  }
};
