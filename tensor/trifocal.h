// The trifocal tensor: storage, index roles, the trilinear relations, the
// scale normalisation of image positions, and the signed cube root.
//
// Index roles. Entry T(i, j, k) is stored at 9i + 3j + k:
//   i (slowest) belongs to the `last` image and transforms as a point,
//   j           belongs to the `middle` image and transforms as a line,
//   k (fastest) belongs to the `first` image and transforms as a line.
// Slice T_i is the 3x3 matrix with rows j and columns k (storage 9i..9i+8,
// row-major). Every place where 27 numbers leave this module (tensor file,
// design matrices of the tensor computations) uses this storage order.
//
// Nothing here allocates, prints or fails.
#pragma once
#include <cstdint>

#include "matchio.h"

// How a tensor is computed from a sample (and transferred through):
// the affine tensor, the linear projective tensor, the projective tensor by
// algebraic minimisation, or the six-point minimal projective tensor.
enum class TensorMethod : int32_t { affine = 0, linear = 1, algebraic = 2, six_point = 3 };

// How the matches that agree with a tensor add up to its score: 1 each, or
// 1 - m^2 / D^2 each (m the mean transfer distance, D the inlier distance).
enum class Scoring : int32_t { count = 0, l2 = 1 };

// 27 doubles, entry T(i, j, k) at entry[9i + 3j + k]. A plain aggregate:
// `TrifocalTensor t{};` is all zeros, copies are by value.
struct TrifocalTensor {
  double entry[27];

  double &operator()(int i, int j, int k) { return entry[9 * i + 3 * j + k]; }
  double operator()(int i, int j, int k) const { return entry[9 * i + 3 * j + k]; }
  double &operator[](int n) { return entry[n]; }
  double operator[](int n) const { return entry[n]; }
};

// Per-image scaling of positions, a row-major 3x3 matrix that is always
// diag(1/s, 1/s, 1) for the image's scale s (positions are scaled, never
// centred). The tensor rescaling operations read only factor() = 1/s.
struct NormalisingTransform {
  double entry[9];

  double factor() const { return entry[0]; }
};

// ---- Trilinear relations ------------------------------------------------------
//
// For a triplet with p1 = (x1, y1, 1) in `first`, p2 = (x2, y2, 1) in
// `middle` and p3 = (x3, y3, 1) in `last`, write u = (x1, y1) and
// c = (x2, y2). Relation (l, m), l, m in {0, 1}, is
//   sum_{i=0..2} p3_i * ( -T(i,l,m) + u_m*T(i,l,2) + c_l*T(i,2,m)
//                         - u_m*c_l*T(i,2,2) ) = 0,
// four of the nine scalar equations of [p2]x (sum_i p3_i T_i) [p1]x = 0.
// The four relations are always taken in the order
// (l, m) = (0,0), (0,1), (1,0), (1,1); relation number r (0..3) of the
// functions below is (l, m) = (r / 2, r % 2).

// Fills row[0..26] with the coefficients of relation (l, m) for the triplet
// over the storage order: for each i, -p3_i at T(i,l,m), u_m*p3_i at
// T(i,l,2), c_l*p3_i at T(i,2,m), -u_m*c_l*p3_i at T(i,2,2), zero elsewhere.
// Only x/y of the record's three positions are read.
void trilinear_row(const MatchRecord &triplet, int l, int m, double row[27]);

// Value of relation (l, m) for the triplet under T, summed over i = 0, 1, 2
// in that order with each term evaluated left to right as written above.
// Zero (to rounding) when the triplet agrees with the tensor.
double trilinear_residual(const TrifocalTensor &t, const MatchRecord &triplet, int l, int m);

// The four relation values in the fixed order (0,0), (0,1), (1,0), (1,1).
void trilinear_residuals(const TrifocalTensor &t, const MatchRecord &triplet,
                         double residual[4]);

// ---- Affine relations --------------------------------------------------------
//
// The affine tensor uses T[0..15] only. With (x1, y1) = first,
// (x2, y2) = middle, (x3, y3) = last, in this order:
//   E1: x1*T0 + x2*T2 + x3*T4 + y3*T8  + T12 = 0
//   E2: x1*T1 + y2*T2 + x3*T6 + y3*T10 + T13 = 0
//   E3: y1*T0 + x2*T3 + x3*T5 + y3*T9  + T14 = 0
//   E4: y1*T1 + y2*T3 + x3*T7 + y3*T11 + T15 = 0

// Fills row[0..15] with the coefficients of relation E(e+1), e = 0..3.
void affine_row(const MatchRecord &triplet, int e, double row[16]);

// The four affine relation values E1..E4, each summed left to right as
// written above.
void affine_residuals(const TrifocalTensor &t, const MatchRecord &triplet, double residual[4]);

// ---- Scale normalisation -----------------------------------------------------

// For each image separately (first, middle, last): S = sum over the n records
// of (x*x + y*y), s = sqrt(S / (2n)) (the root-mean-square coordinate), every
// x and y of that image replaced by x/s and y/s, and its transform set to
// diag(1/s, 1/s, 1). Index members are left alone. n must be positive; a
// zero scale gives non-finite positions, which callers are expected to have
// excluded (all positions of one image at the origin).
void normalise_sample(MatchRecord *records, int n, NormalisingTransform *first,
                      NormalisingTransform *middle, NormalisingTransform *last);

// Turns a tensor that satisfies the relations for normalised positions into
// one that satisfies them for pixel positions. f_first, f_middle, f_last are
// the factor() (= 1/s) of each image's transform. Entry T(i, j, k) is
// multiplied by w_i * w'_j * w''_k (evaluated left to right) with
//   w  = (f_last, f_last, 1)     over i (last image),
//   w' = (1, 1, f_middle)        over j (middle image),
//   w''= (1, 1, f_first)         over k (first image).
void denormalise_tensor(TrifocalTensor *t, double f_first, double f_middle, double f_last);

// The inverse of denormalise_tensor with the same arguments: each factor is
// first replaced by its reciprocal, then the same table is applied.
void normalise_tensor(TrifocalTensor *t, double f_first, double f_middle, double f_last);

// ---- Scalar helper ------------------------------------------------------------

// Real cube root keeping the sign: pow(x, e) for x > 0, else -pow(-x, e),
// with e the double nearest to 1/3. Zero goes through the second branch.
double signed_cube_root(double x);
