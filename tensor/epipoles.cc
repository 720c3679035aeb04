// Tensor epipoles and the tensor of three cameras.
#include "epipoles.h"

#include "fixed_arrays.h"
#include "numeric.h"

namespace {

// Eigenvector of the smallest eigenvalue of the symmetric 3x3 matrix m
// (destroyed), after the descending sort.
void smallest_eigenvector(FixedMatrix<3, 3> &m, double out[3]) {
  FixedVector<3> d;
  FixedMatrix<3, 3> v;
  int rotations = 0;
  jacobi(m.get(), 3, d.get(), v.get(), &rotations);
  sort_eigen(d.get(), v.get(), 3);
  for (int r = 0; r < 3; ++r) out[r] = v[r + 1][3];
}

// The 3x4 camera c replaced by rows 1..3 of (c extended by (0,0,0,1)) * g_inv.
void change_frame(double **c, FixedMatrix<4, 4> &g_inv) {
  FixedMatrix<4, 4> extended;
  FixedMatrix<4, 4> product;
  for (int r = 1; r <= 3; ++r)
    for (int col = 1; col <= 4; ++col) extended[r][col] = c[r][col];
  extended[4][1] = extended[4][2] = extended[4][3] = 0.0;
  extended[4][4] = 1.0;
  matrix_product(extended.get(), g_inv.get(), product.get(), 4, 4, 4);
  for (int r = 1; r <= 3; ++r)
    for (int col = 1; col <= 4; ++col) c[r][col] = product[r][col];
}

}  // namespace

void tensor_epipoles(const TrifocalTensor &t, double e_m[3], double e_f[3]) {
  double left[3][3];   // left[i] = u_i, left null vector of slice i (over j)
  double right[3][3];  // right[i] = v_i, right null vector of slice i (over k)
  for (int i = 0; i < 3; ++i) {
    FixedMatrix<3, 3> s;
    FixedVector<3> w;
    FixedMatrix<3, 3> v;
    for (int j = 0; j < 3; ++j)
      for (int k = 0; k < 3; ++k) s[j + 1][k + 1] = t(i, j, k);
    svdcmp(s.get(), 3, 3, w.get(), v.get());
    const int m = index_of_min(w.get(), 3);
    for (int r = 0; r < 3; ++r) {
      left[i][r] = s[r + 1][m];
      right[i][r] = v[r + 1][m];
    }
  }
  FixedMatrix<3, 3> mu;
  FixedMatrix<3, 3> mv;
  for (int a = 1; a <= 3; ++a)
    for (int b = 1; b <= 3; ++b) {
      mu[a][b] = 0.0;
      mv[a][b] = 0.0;
      for (int i = 0; i < 3; ++i) {
        mu[a][b] += left[i][a - 1] * left[i][b - 1];
        mv[a][b] += right[i][a - 1] * right[i][b - 1];
      }
    }
  smallest_eigenvector(mu, e_m);
  smallest_eigenvector(mv, e_f);
}

Status tensor_from_cameras(double **c_last, double **c_middle, double **c_first,
                           TrifocalTensor *t, const char **failure) {
  FixedMatrix<4, 4> g;
  FixedMatrix<4, 4> g_inv;
  for (int r = 1; r <= 3; ++r)
    for (int col = 1; col <= 4; ++col) g[r][col] = c_last[r][col];
  g[4][1] = g[4][2] = g[4][3] = 0.0;
  g[4][4] = 1.0;
  const Status status = lu_invert(g.get(), g_inv.get(), 4, failure);
  if (status != Status::ok) return status;

  change_frame(c_middle, g_inv);
  change_frame(c_first, g_inv);
  for (int r = 1; r <= 3; ++r)
    for (int col = 1; col <= 4; ++col) c_last[r][col] = (r == col) ? 1.0 : 0.0;

  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j)
      for (int k = 0; k < 3; ++k)
        (*t)(i, j, k) = c_middle[j + 1][i + 1] * c_first[k + 1][4] -
                        c_middle[j + 1][4] * c_first[k + 1][i + 1];
  return Status::ok;
}
