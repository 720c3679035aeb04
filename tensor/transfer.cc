// Point transfer and transfer distances.
#include "transfer.h"

#include <cmath>

#include "jacobi_body.h"

namespace {

bool absent(double x, double y) { return x == -1.0 && y == -1.0; }

// Which position the rows are built for.
enum class Absent { kFirst, kMiddle, kLast };

Absent absent_position(double first_x, double first_y, double middle_x, double middle_y) {
  if (!absent(first_x, first_y)) return absent(middle_x, middle_y) ? Absent::kMiddle : Absent::kLast;
  return Absent::kFirst;
}

// The 3x3 normal matrix sum r r^T of the four rows, accumulated in row order.
void normal_of(const double rows[4][3], double normal[4][4]) {
  for (int s = 1; s <= 3; ++s)
    for (int t = 1; t <= 3; ++t) normal[s][t] = 0.0;
  for (int r = 0; r < 4; ++r)
    for (int s = 1; s <= 3; ++s)
      for (int t = 1; t <= 3; ++t) normal[s][t] += rows[r][s - 1] * rows[r][t - 1];
}

// The eigenvector of the smallest eigenvalue made inhomogeneous (after the
// descending sort it is the last column).
void smallest_point(double d[4], double v[4][4], double *out_x, double *out_y) {
  sort_eigen3(d, v);
  *out_x = v[1][3] / v[3][3];
  *out_y = v[2][3] / v[3][3];
}

// Least-squares solution of the four rows: normal matrix, jacobi, sort, and
// the eigenvector of the smallest eigenvalue made inhomogeneous.
void solve_rows(const double rows[4][3], double *out_x, double *out_y) {
  double normal[4][4];
  normal_of(rows, normal);
  double d[4];
  double v[4][4];
  int rotations = 0;
  jacobi3(normal, d, v, &rotations);
  smallest_point(d, v, out_x, out_y);
}

double distance(double px, double py, double x, double y) {
  const double dx = px - x;
  const double dy = py - y;
  return std::sqrt(dx * dx + dy * dy);
}

}  // namespace

namespace {

void projective_rows(const TrifocalTensor &t, double first_x, double first_y, double middle_x,
                     double middle_y, double last_x, double last_y, double rows[4][3]) {
  const double u[2] = {first_x, first_y};
  const double c[2] = {middle_x, middle_y};
  const double p3[3] = {last_x, last_y, 1.0};
  // One loop per absent position (the choice made once, not per row); each
  // entry is the same expression, evaluated in the same order, in all three.
  switch (absent_position(first_x, first_y, middle_x, middle_y)) {
    case Absent::kFirst:
      for (int r = 0; r < 4; ++r) {
        const int l = r / 2;
        const int m = r % 2;
        double q = 0.0, k = 0.0;
        for (int i = 0; i < 3; ++i) q += p3[i] * (t(i, l, 2) - c[l] * t(i, 2, 2));
        for (int i = 0; i < 3; ++i) k += p3[i] * (c[l] * t(i, 2, m) - t(i, l, m));
        rows[r][m] = q;
        rows[r][1 - m] = 0.0;
        rows[r][2] = k;
      }
      break;
    case Absent::kMiddle:
      for (int r = 0; r < 4; ++r) {
        const int l = r / 2;
        const int m = r % 2;
        double q = 0.0, k = 0.0;
        for (int i = 0; i < 3; ++i) q += p3[i] * (t(i, 2, m) - u[m] * t(i, 2, 2));
        for (int i = 0; i < 3; ++i) k += p3[i] * (u[m] * t(i, l, 2) - t(i, l, m));
        rows[r][l] = q;
        rows[r][1 - l] = 0.0;
        rows[r][2] = k;
      }
      break;
    case Absent::kLast:
      for (int r = 0; r < 4; ++r) {
        const int l = r / 2;
        const int m = r % 2;
        for (int i = 0; i < 3; ++i)
          rows[r][i] = -t(i, l, m) + u[m] * t(i, l, 2) + c[l] * t(i, 2, m) -
                       u[m] * c[l] * t(i, 2, 2);
      }
      break;
  }
}

void affine_rows(const TrifocalTensor &t, double first_x, double first_y, double middle_x,
                 double middle_y, double last_x, double last_y, double rows[4][3]) {
  const double x1 = first_x, y1 = first_y, x2 = middle_x, y2 = middle_y;
  const double x3 = last_x, y3 = last_y;
  const double *T = t.entry;
  auto set = [&rows](int r, double a, double b, double k) {
    rows[r][0] = a;
    rows[r][1] = b;
    rows[r][2] = k;
  };
  switch (absent_position(first_x, first_y, middle_x, middle_y)) {
    case Absent::kFirst:
      set(0, T[0], 0.0, x2 * T[2] + x3 * T[4] + y3 * T[8] + T[12]);
      set(1, T[1], 0.0, y2 * T[2] + x3 * T[6] + y3 * T[10] + T[13]);
      set(2, 0.0, T[0], x2 * T[3] + x3 * T[5] + y3 * T[9] + T[14]);
      set(3, 0.0, T[1], y2 * T[3] + x3 * T[7] + y3 * T[11] + T[15]);
      break;
    case Absent::kMiddle:
      set(0, T[2], 0.0, x1 * T[0] + x3 * T[4] + y3 * T[8] + T[12]);
      set(1, 0.0, T[2], x1 * T[1] + x3 * T[6] + y3 * T[10] + T[13]);
      set(2, T[3], 0.0, y1 * T[0] + x3 * T[5] + y3 * T[9] + T[14]);
      set(3, 0.0, T[3], y1 * T[1] + x3 * T[7] + y3 * T[11] + T[15]);
      break;
    case Absent::kLast:
      set(0, T[4], T[8], x1 * T[0] + x2 * T[2] + T[12]);
      set(1, T[6], T[10], x1 * T[1] + y2 * T[2] + T[13]);
      set(2, T[5], T[9], y1 * T[0] + x2 * T[3] + T[14]);
      set(3, T[7], T[11], y1 * T[1] + y2 * T[3] + T[15]);
      break;
  }
}

void point_rows(TensorMethod method, const TrifocalTensor &t, double first_x, double first_y,
                double middle_x, double middle_y, double last_x, double last_y,
                double rows[4][3]) {
  if (method == TensorMethod::affine)
    affine_rows(t, first_x, first_y, middle_x, middle_y, last_x, last_y, rows);
  else
    projective_rows(t, first_x, first_y, middle_x, middle_y, last_x, last_y, rows);
}

}  // namespace

void transfer_projective(const TrifocalTensor &t, double first_x, double first_y,
                         double middle_x, double middle_y, double last_x, double last_y,
                         double *out_x, double *out_y) {
  double rows[4][3];
  projective_rows(t, first_x, first_y, middle_x, middle_y, last_x, last_y, rows);
  solve_rows(rows, out_x, out_y);
}

void transfer_affine(const TrifocalTensor &t, double first_x, double first_y, double middle_x,
                     double middle_y, double last_x, double last_y, double *out_x,
                     double *out_y) {
  double rows[4][3];
  affine_rows(t, first_x, first_y, middle_x, middle_y, last_x, last_y, rows);
  solve_rows(rows, out_x, out_y);
}

void transfer_point(TensorMethod method, const TrifocalTensor &t, double first_x, double first_y,
                    double middle_x, double middle_y, double last_x, double last_y,
                    double *out_x, double *out_y) {
  if (method == TensorMethod::affine)
    transfer_affine(t, first_x, first_y, middle_x, middle_y, last_x, last_y, out_x, out_y);
  else
    transfer_projective(t, first_x, first_y, middle_x, middle_y, last_x, last_y, out_x, out_y);
}

double transfer_distance_last(TensorMethod method, const TrifocalTensor &t, const MatchRecord &match) {
  double x, y;
  transfer_point(method, t, match.first.x, match.first.y, match.middle.x, match.middle.y, -1.0,
                 -1.0, &x, &y);
  return distance(x, y, match.last.x, match.last.y);
}

double transfer_distance_first(TensorMethod method, const TrifocalTensor &t, const MatchRecord &match) {
  double x, y;
  transfer_point(method, t, -1.0, -1.0, match.middle.x, match.middle.y, match.last.x,
                 match.last.y, &x, &y);
  return distance(x, y, match.first.x, match.first.y);
}

double transfer_distance_middle(TensorMethod method, const TrifocalTensor &t, const MatchRecord &match) {
  double x, y;
  transfer_point(method, t, match.first.x, match.first.y, -1.0, -1.0, match.last.x,
                 match.last.y, &x, &y);
  return distance(x, y, match.middle.x, match.middle.y);
}

void transfer_distance_last_block(TensorMethod method, const TrifocalTensor &t,
                                  const MatchRecord *matches, double *d) {
  using Matrix = double (*)[4];
  constexpr int L = kTransferBlock;
  double normal[L][4][4], values[L][4], vectors[L][4][4], b[L][4], z[L][4];
  Matrix a[L], v[L];
  double *dv[L], *bv[L], *zv[L];
  for (int l = 0; l < L; ++l) {
    const MatchRecord &m = matches[l];
    double rows[4][3];
    point_rows(method, t, m.first.x, m.first.y, m.middle.x, m.middle.y, -1.0, -1.0, rows);
    normal_of(rows, normal[l]);
    a[l] = normal[l], v[l] = vectors[l], dv[l] = values[l], bv[l] = b[l], zv[l] = z[l];
  }
  int rotations[L], ok[L];
  jacobi_detail::jacobi_lanes<L>(a, std::integral_constant<int, 3>(), dv, v, rotations, bv, zv, ok);
  for (int l = 0; l < L; ++l) {
    double x, y;
    smallest_point(values[l], vectors[l], &x, &y);
    d[l] = distance(x, y, matches[l].last.x, matches[l].last.y);
  }
}

TransferDistances transfer_distances(TensorMethod method, const TrifocalTensor &t,
                                     const MatchRecord &match) {
  TransferDistances d;
  d.d_last = transfer_distance_last(method, t, match);
  d.d_first = transfer_distance_first(method, t, match);
  d.d_middle = transfer_distance_middle(method, t, match);
  return d;
}

double mean_transfer_distance(const TransferDistances &d) {
  return (d.d_last + d.d_first + d.d_middle) / 3.0;
}
