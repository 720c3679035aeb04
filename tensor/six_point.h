// The six-point minimal computation of a projective trifocal tensor.
//
// The first four triplets of a sample fix a projective basis in each image
// (mapped to (1,0,0), (0,1,0), (0,0,1), (1,1,1)) and in space (E1..E4). The
// fifth and sixth triplets then leave a one-parameter family of solutions
// that a cubic cuts down; the smallest real root gives the sixth space point,
// the three reduced cameras follow, and the tensor is formed from them.
#pragma once
#include "matchio.h"
#include "status.h"
#include "trifocal.h"

// Computes the tensor of the first six triplets of sample[0..n-1] (n >= 6;
// records beyond the sixth only enter the scale normalisation). Returns 1
// with all 27 entries of *t written, or 0 with *t untouched when the sample
// is rejected, or when a fatal numerical error occurred (then *failure, when
// given, names it; a rejected sample leaves it alone):
//   - three of the first four positions of one image lie within 10.0 pixels
//     of a line (basis_is_degenerate, tested on first, then middle, then
//     last), or two of them coincide, or a coordinate is not finite;
//   - jacobi fails on the 5x5 system, or its third-largest eigenvalue has
//     magnitude <= 0.0001 (no two-dimensional null space);
//   - jacobi fails on one of the 4x4 camera systems;
//   - the last image's camera has a row that the LU decomposition in
//     tensor_from_cameras would find to be entirely zero;
//   - n < 6.
// The divisions by the leading cubic coefficient, by the differences of the
// null-space coordinates and by the camera eigenvectors' fourth entries are
// not guarded: a zero divisor yields non-finite tensor entries (returned
// with 1), which the transfer treats as disagreement.
// The caller's sample is not modified. Nothing is allocated on the heap for
// n <= 16.
int compute_six_point_tensor(const MatchRecord *sample, int n, TrifocalTensor *t,
                             const char **failure = nullptr);

// One solution of the six-point computation: its tensor (pixel coordinates,
// scaled as compute_six_point_tensor scales it) and its cameras in the
// scale-normalised coordinates (positions times the factors below), in the
// projective frame where the last image's camera is [I | 0].
struct SixPointSolution {
  TrifocalTensor tensor;
  double middle[3][4];
  double first[3][4];
  double f_first, f_middle, f_last;  // 1/s of each image's normalisation
};

// Every real solution of the six-point computation of the first six
// triplets of sample[0..n-1]: each real root of the cubic (polished by
// Newton steps, since the second and third roots of solve_cubic carry a
// small error) gives one solution. Returns their number, 0..3, in the order
// of solve_cubic's roots (the first is the root that
// compute_six_point_tensor keeps); roots whose cameras fail or come out
// non-finite are left out. Rejects the same samples as
// compute_six_point_tensor; a fatal numerical error ends the computation of
// a root as it does there (*failure, when given, names it). Nothing is
// allocated on the heap for n <= 16.
int compute_six_point_solutions(const MatchRecord *sample, int n, SixPointSolution out[3],
                                const char **failure = nullptr);

// Projective basis of one image. from_canonical (3x3, unit-offset) has the
// columns mu1*p1, mu2*p2, mu3*p3 (homogeneous (x, y, 1)), where
// mu = K^-1 (x4, y4, 1) and K has the columns p1, p2, p3: it maps (1,0,0),
// (0,1,0), (0,0,1) to multiples of p1, p2, p3 and (1,1,1) to p4.
// to_canonical is its inverse. Both inverses come from lu_invert, which fails
// (numeric_failure, *failure naming it) if K has an all-zero row (three
// points with x = 0, which the degeneracy test excludes).
Status basis_transform(const MatchPoint &p1, const MatchPoint &p2, const MatchPoint &p3,
                       const MatchPoint &p4, double **to_canonical, double **from_canonical,
                       const char **failure = nullptr);

// Real roots of x^3 + a x^2 + b x + c. With Q = (a^2 - 3b)/9 and
// R = (2a^3 - 9ab + 27c)/54:
//   - three real roots (Q^3 - R^2 not negative): theta = acos(R / sqrt(Q^3)),
//     x1 = -2 sqrt(Q) cos(theta/3) - a/3 (the smallest root), and x2, x3 with
//     theta + 6.283184 and theta + 12.566368 (decimal constants slightly
//     short of 2 pi and 4 pi, so x2 and x3 carry a small error);
//   - one real root: s = -1 for R < 0 else +1,
//     A0 = signed_cube_root(|R| + sqrt(R^2 - Q^3)), x1 = -s (A0 + Q/A0) - a/3,
//     and x2 = x3 = -1.0 as markers;
//   - a triple root (Q = R = 0): x1 = -a/3, x2 = x3 = -1.0.
// R / sqrt(Q^3) is clamped into [-1, 1] so that rounding near a double root
// cannot turn acos into NaN.
void solve_cubic(double a, double b, double c, double *x1, double *x2, double *x3);

// The real roots of x^3 + a x^2 + b x + c: solve_cubic's roots, one when
// the cubic has a single real root and three otherwise, each polished by up
// to three Newton steps (kept only when they lower the magnitude of the
// value; the second and third roots of solve_cubic carry a small error).
// Returns their number.
int real_cubic_roots(double a, double b, double c, double roots[3]);

// 1 when r lies too close to the line through p and q: twice the triangle
// area D = |(p.x - r.x)(q.y - r.y) - (q.x - r.x)(p.y - r.y)| over the base
// length in the maximum norm L = max(|p.x - q.x|, |p.y - q.y|) is below the
// threshold (pixels). A value equal to the threshold is not collinear. When
// p and q coincide (0/0), or any coordinate makes D/L not a number, the
// triple counts as collinear.
int triple_is_collinear(double threshold, const MatchPoint &p, const MatchPoint &q,
                        const MatchPoint &r);

// 1 when any of the triples (p1,p2,p3), (p1,p2,p4), (p1,p3,p4), (p2,p3,p4),
// tested in this order, is collinear at threshold 10.0 pixels; else 0.
int basis_is_degenerate(const MatchPoint &p1, const MatchPoint &p2, const MatchPoint &p3,
                        const MatchPoint &p4);
