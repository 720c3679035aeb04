// Tensor computations that solve the trilinear relations as homogeneous
// least-squares problems: the affine tensor, the linear projective tensor,
// and the algebraic-minimisation tensor that is consistent with two epipoles.
//
// Each takes the null vector of a small normal matrix (16x16, 27x27, 15x15):
// jacobi, the descending sort_eigen, and the eigenvector of the smallest
// eigenvalue (the last column, unit norm). The normal matrices are
// accumulated row by row, sum over rows of row^T row in the row order of the
// design matrix (four rows per triplet, relations in their fixed order), so
// the 4n-row design matrix is never stored. The caller's sample is never
// modified.
//
// Per-sample use (n up to 16 records) allocates nothing on the heap; larger
// samples (the refit over all supporting matches) take one working copy.
// When that copy cannot be allocated the computation returns 0 with
// *failure (when given) set to "allocation failure in the copy of a tensor
// sample"; a 0 without *failure set is a rejected sample.
#pragma once
#include "matchio.h"
#include "trifocal.h"

// Affine tensor T[0..15] from n >= 1 triplets (four needed for a unique
// answer). Positions are centred by their means, the relations E1..E4 of
// trifocal.h are solved for the centred positions, and the constant terms
// T12..T15 are then moved back to pixel coordinates. T[16..26] are left as
// they were. A jacobi that does not converge reports its own line and the
// eigenvectors are used as they stand. Returns 1 (0 for n < 1).
int compute_affine_tensor(const MatchRecord *sample, int n, TrifocalTensor *t);

// Projective tensor (all 27 entries) from n >= 1 triplets: positions scale
// normalised (normalise_sample), the four relations per triplet solved, the
// result de-normalised. Returns 1 (0 for n < 1 or a failed copy).
int compute_linear_tensor(const MatchRecord *sample, int n, TrifocalTensor *t,
                          const char **failure = nullptr);

// Algebraic minimisation on n >= 1 triplets in normalised positions:
//   refine_given == 0: the starting tensor is the linear solution (a jacobi
//     that fails on the 27x27 normal matrix returns 0); *t is output only;
//   refine_given != 0: *t holds a pixel-coordinate tensor on entry, which is
//     normalised and used as the starting tensor.
// The epipoles of the starting tensor fix the 27x18 parameter matrix E of the
// camera form T(i,j,k) = A(j,i) e_f[k] - e_m[j] B(k,i); E has rank 15, so the
// 15 columns of U of its SVD with the largest singular values span every
// tensor of that form. The unit tensor t' in that span that minimises the
// algebraic error |D t'| replaces the starting tensor when the L1 norm of
// D t' is below the fixed bound 5.0e10 (a NaN norm keeps the start). The
// result is de-normalised into *t and 1 returned; 0 when the SVD of E fails,
// and then *t is unspecified.
int compute_constrained_tensor(const MatchRecord *sample, int n, TrifocalTensor *t,
                               int refine_given, const char **failure = nullptr);

// The residual bound of the algebraic minimisation, in normalised units.
constexpr double kConstrainedResidualBound = 5.0e10;
