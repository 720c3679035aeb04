// Conversions between a trifocal tensor, its two epipoles and three camera
// matrices.
//
// Camera form. With the last image's camera [I | 0], the middle image's
// camera [A | e_m] and the first image's camera [B | e_f],
//   T(i, j, k) = A(j, i) * e_f[k] - e_m[j] * B(k, i),  i, j, k in 0..2.
// e_m and e_f are the epipoles in the middle and first images: the images of
// the last camera's centre.
#pragma once
#include "status.h"
#include "trifocal.h"

// Epipoles of T in the middle image (e_m) and the first image (e_f), each a
// homogeneous point of unit Euclidean norm with the sign the eigenvector
// routine produces.
//
// For each slice T_i (rows j, columns k) the singular value decomposition
// gives its left null vector u_i (over j) and right null vector v_i (over k),
// chosen by index_of_min over the unordered singular values. e_m is the
// eigenvector of the smallest eigenvalue of sum_i u_i u_i^T, the direction
// closest to perpendicular to all three left null vectors; e_f likewise from
// the v_i. Decomposition failures report their own line ("Failed SVD",
// "Failed Jacobi") and the values are used as they stand.
void tensor_epipoles(const TrifocalTensor &t, double e_m[3], double e_f[3]);

// Tensor of three cameras given as 3x4 unit-offset matrices (rows 1..3,
// columns 1..4, column 4 the translation). The projective frame is changed so
// that c_last becomes [I | 0]: c_middle and c_first are replaced by
// themselves times the inverse of c_last extended by the row (0, 0, 0, 1),
// and c_last is overwritten with [I | 0]. The tensor then follows from the
// camera form above:
//   T(i, j, k) = Cm(j, i) * Cf(k, 3) - Cm(j, 3) * Cf(k, i)   (zero-based).
// c_last must be of full rank; a row of c_last that is entirely zero makes
// lu_invert fail: numeric_failure, *failure naming it, *t unchanged.
Status tensor_from_cameras(double **c_last, double **c_middle, double **c_first,
                           TrifocalTensor *t, const char **failure = nullptr);
