// Point transfer through a trifocal tensor and the transfer distances that
// measure how well a match agrees with a tensor.
//
// A transfer predicts the one absent position of a triplet from the other
// two. Absent means both coordinates are exactly -1.0; a real position at
// (-1, -1) is therefore treated as absent. The predicted image is chosen by
// testing `first` first: if first is present, an absent middle selects the
// middle prediction and otherwise the last is predicted; if first is absent,
// first is predicted. Exactly one position must be absent; other calls have
// no defined result (they still return without crashing).
//
// Each transfer builds four rows (a, b, k), meaning a*X + b*Y + k = 0 for the
// position (X, Y) sought, from the four relations in their fixed order,
// accumulates the 3x3 normal matrix sum r r^T in row order, decomposes it
// with jacobi (status ignored) and sort_eigen, and takes the eigenvector of
// the smallest eigenvalue v: X = v1 / v3, Y = v2 / v3. This is the
// homogeneous least-squares solution. When v3 is zero (an all-zero tensor,
// or rows that do not determine the position) the prediction is infinite or
// NaN; distances computed from it are then non-finite and fail every
// strict "less than" test, so such a match never agrees with the tensor.
//
// TensorMethod::affine uses the affine tensor (entries 0..15); every other
// method the projective tensor.
//
// Nothing here allocates on the heap; a transfer runs several times per
// match per random sample.
#pragma once
#include "matchio.h"
#include "trifocal.h"

// Dispatches on the method: transfer_affine for the affine method,
// transfer_projective otherwise. Coordinates are (x, y) of first, middle and last in pixels, one
// pair being (-1, -1); the prediction goes to *out_x, *out_y.
void transfer_point(TensorMethod method, const TrifocalTensor &t, double first_x, double first_y,
                    double middle_x, double middle_y, double last_x, double last_y,
                    double *out_x, double *out_y);

// Projective transfer. With u = first, c = middle, p3 = (last, 1), relation
// (l, m) in the order (0,0), (0,1), (1,0), (1,1) gives the row:
//   first absent:  q = sum_i p3_i (T(i,l,2) - c_l T(i,2,2)) in column m (a for
//                  m = 0, b for m = 1), 0 in the other,
//                  k = sum_i p3_i (c_l T(i,2,m) - T(i,l,m));
//   middle absent: q = sum_i p3_i (T(i,2,m) - u_m T(i,2,2)) in column l,
//                  k = sum_i p3_i (u_m T(i,l,2) - T(i,l,m));
//   last absent:   (a, b, k) = (K_0, K_1, K_2), K_i = -T(i,l,m) + u_m T(i,l,2)
//                  + c_l T(i,2,m) - u_m c_l T(i,2,2).
void transfer_projective(const TrifocalTensor &t, double first_x, double first_y,
                         double middle_x, double middle_y, double last_x, double last_y,
                         double *out_x, double *out_y);

// Affine transfer: the rows of the affine relations E1..E4 (trifocal.h)
// solved for the absent position, with the same solve.
void transfer_affine(const TrifocalTensor &t, double first_x, double first_y, double middle_x,
                     double middle_y, double last_x, double last_y, double *out_x,
                     double *out_y);

// The transfer distances of a match (Euclidean, pixels, sqrt(dx*dx + dy*dy)
// with (dx, dy) = prediction - position):
//   d_last:   last position vs. the transfer of first and middle;
//   d_first:  first position vs. the transfer of middle and last;
//   d_middle: middle position vs. the transfer of first and last.
// Non-finite predictions give non-finite distances (see above).
double transfer_distance_last(TensorMethod method, const TrifocalTensor &t, const MatchRecord &match);
double transfer_distance_first(TensorMethod method, const TrifocalTensor &t, const MatchRecord &match);
double transfer_distance_middle(TensorMethod method, const TrifocalTensor &t, const MatchRecord &match);

// d_last of kTransferBlock consecutive matches at once, the same values as
// one call of transfer_distance_last each: their eigen-decompositions run
// interleaved, which the processor overlaps. A decomposition that does not
// converge notes "Failed Jacobi" only after all of the block's work, so
// callers that show those notes in match order use the single form.
constexpr int kTransferBlock = 4;
void transfer_distance_last_block(TensorMethod method, const TrifocalTensor &t,
                                  const MatchRecord *matches, double *d);

struct TransferDistances {
  double d_last;
  double d_first;
  double d_middle;
};

// All three distances, computed in the order d_last, d_first, d_middle.
TransferDistances transfer_distances(TensorMethod method, const TrifocalTensor &t,
                                     const MatchRecord &match);

// (d_last + d_first + d_middle) / 3, added in that order.
double mean_transfer_distance(const TransferDistances &d);
