// Trifocal tensor representation, relations, normalisation and helpers.
#include "trifocal.h"

#include <cmath>

namespace {

// Coordinates of one triplet: u = first, c = middle, p3 = (last, 1).
struct TripletCoordinates {
  double u[2];
  double c[2];
  double p3[3];
};

TripletCoordinates coordinates_of(const MatchRecord &triplet) {
  TripletCoordinates q;
  q.u[0] = triplet.first.x;
  q.u[1] = triplet.first.y;
  q.c[0] = triplet.middle.x;
  q.c[1] = triplet.middle.y;
  q.p3[0] = triplet.last.x;
  q.p3[1] = triplet.last.y;
  q.p3[2] = 1.0;
  return q;
}

// Multiplies every entry by w[i] * w'[j] * w''[k], the factors built once in
// a local table and applied in one pass over the storage order.
void scale_tensor(TrifocalTensor *t, double f_first, double f_middle, double f_last) {
  const double w_last[3] = {f_last, f_last, 1.0};
  const double w_middle[3] = {1.0, 1.0, f_middle};
  const double w_first[3] = {1.0, 1.0, f_first};
  double factor[27];
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j)
      for (int k = 0; k < 3; ++k) factor[9 * i + 3 * j + k] = w_last[i] * w_middle[j] * w_first[k];
  for (int n = 0; n < 27; ++n) t->entry[n] *= factor[n];
}

}  // namespace

void trilinear_row(const MatchRecord &triplet, int l, int m, double row[27]) {
  const TripletCoordinates q = coordinates_of(triplet);
  for (int n = 0; n < 27; ++n) row[n] = 0.0;
  for (int i = 0; i < 3; ++i) {
    row[9 * i + 3 * l + m] = -q.p3[i];
    row[9 * i + 3 * l + 2] = q.u[m] * q.p3[i];
    row[9 * i + 3 * 2 + m] = q.c[l] * q.p3[i];
    row[9 * i + 3 * 2 + 2] = -q.u[m] * q.c[l] * q.p3[i];
  }
}

double trilinear_residual(const TrifocalTensor &t, const MatchRecord &triplet, int l, int m) {
  const TripletCoordinates q = coordinates_of(triplet);
  double sum = 0.0;
  for (int i = 0; i < 3; ++i) {
    const double inner = -t(i, l, m) + q.u[m] * t(i, l, 2) + q.c[l] * t(i, 2, m) -
                         q.u[m] * q.c[l] * t(i, 2, 2);
    sum += q.p3[i] * inner;
  }
  return sum;
}

void trilinear_residuals(const TrifocalTensor &t, const MatchRecord &triplet,
                         double residual[4]) {
  for (int r = 0; r < 4; ++r) residual[r] = trilinear_residual(t, triplet, r / 2, r % 2);
}

void affine_row(const MatchRecord &triplet, int e, double row[16]) {
  const double x1 = triplet.first.x, y1 = triplet.first.y;
  const double x2 = triplet.middle.x, y2 = triplet.middle.y;
  const double x3 = triplet.last.x, y3 = triplet.last.y;
  for (int n = 0; n < 16; ++n) row[n] = 0.0;
  switch (e) {
    case 0:
      row[0] = x1, row[2] = x2, row[4] = x3, row[8] = y3, row[12] = 1.0;
      break;
    case 1:
      row[1] = x1, row[2] = y2, row[6] = x3, row[10] = y3, row[13] = 1.0;
      break;
    case 2:
      row[0] = y1, row[3] = x2, row[5] = x3, row[9] = y3, row[14] = 1.0;
      break;
    default:
      row[1] = y1, row[3] = y2, row[7] = x3, row[11] = y3, row[15] = 1.0;
      break;
  }
}

void affine_residuals(const TrifocalTensor &t, const MatchRecord &triplet, double residual[4]) {
  const double x1 = triplet.first.x, y1 = triplet.first.y;
  const double x2 = triplet.middle.x, y2 = triplet.middle.y;
  const double x3 = triplet.last.x, y3 = triplet.last.y;
  const double *T = t.entry;
  residual[0] = x1 * T[0] + x2 * T[2] + x3 * T[4] + y3 * T[8] + T[12];
  residual[1] = x1 * T[1] + y2 * T[2] + x3 * T[6] + y3 * T[10] + T[13];
  residual[2] = y1 * T[0] + x2 * T[3] + x3 * T[5] + y3 * T[9] + T[14];
  residual[3] = y1 * T[1] + y2 * T[3] + x3 * T[7] + y3 * T[11] + T[15];
}

void normalise_sample(MatchRecord *records, int n, NormalisingTransform *first,
                      NormalisingTransform *middle, NormalisingTransform *last) {
  MatchPoint MatchRecord::*const member[3] = {&MatchRecord::first, &MatchRecord::middle,
                                              &MatchRecord::last};
  NormalisingTransform *const transform[3] = {first, middle, last};
  for (int image = 0; image < 3; ++image) {
    MatchPoint MatchRecord::*const which = member[image];
    double sum = 0.0;
    for (int r = 0; r < n; ++r) {
      const MatchPoint &p = records[r].*which;
      sum += p.x * p.x + p.y * p.y;
    }
    const double s = std::sqrt(sum / (2.0 * n));
    NormalisingTransform *nt = transform[image];
    for (int e = 0; e < 9; ++e) nt->entry[e] = 0.0;
    nt->entry[0] = 1.0 / s;
    nt->entry[4] = 1.0 / s;
    nt->entry[8] = 1.0;
    for (int r = 0; r < n; ++r) {
      MatchPoint &p = records[r].*which;
      p.x = p.x / s;
      p.y = p.y / s;
    }
  }
}

void denormalise_tensor(TrifocalTensor *t, double f_first, double f_middle, double f_last) {
  scale_tensor(t, f_first, f_middle, f_last);
}

void normalise_tensor(TrifocalTensor *t, double f_first, double f_middle, double f_last) {
  scale_tensor(t, 1.0 / f_first, 1.0 / f_middle, 1.0 / f_last);
}

double signed_cube_root(double x) {
  const double e = 1.0 / 3.0;  // 0.3333333333333333, the double nearest 1/3
  if (x > 0.0) return std::pow(x, e);
  return -std::pow(-x, e);
}
