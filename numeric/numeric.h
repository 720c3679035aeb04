// Unit-offset numerical arrays, the matrix decompositions (SVD, cyclic
// Jacobi, LU) with their descending sorts, and the small matrix helpers of
// the tensor algebra.
//
// Arrays are addressed with the caller's own inclusive index ranges
// (almost always starting at 1): v[first..last], m[row_first..row_last]
// [col_first..col_last]. The caller keeps the bounds and passes them again
// to the matching release routine.
//
// Nothing here prints or ends the process. A routine that cannot go on
// returns Status::numeric_failure and, when the caller passes `message`,
// points it at a fixed text naming the failure (the text a program shows).
// Lines that a decomposition reports while the computation goes on ("Failed
// Jacobi\n", "Failed SVD\n") go to the note sink of numeric_note.h.
#pragma once
#include "status.h"

// ---- Allocation and release ----------------------------------------------
// Each returns nullptr when the heap refuses the block (a matrix releases
// the rows it had already obtained).
double *vector(int first, int last);
int *ivector(int first, int last);
double **matrix(int row_first, int row_last, int col_first, int col_last);

void release_vector(double *v, int first, int last);
void release_ivector(int *v, int first, int last);
void release_matrix(double **m, int row_first, int row_last, int col_first, int col_last);

// ---- Decompositions -------------------------------------------------------
// A (m x n, m >= n) = U diag(w) V^T; A is replaced by U, V is V itself.
// Singular values are not ordered. Status::ok; numeric_failure after the note
// "Failed SVD\n" when the iteration does not converge (message "Failed SVD"),
// or without a note when m < n (message "SVDCMP: You must augment A with
// extra zero rows").
Status svdcmp(double **a, int m, int n, double *w, double **v, const char **message = nullptr);
// Eigen-decomposition of the symmetric n x n matrix a (strict upper triangle
// destroyed): eigenvalues in d, normalised eigenvectors in the columns of v,
// rotations in *count. Returns 1, or 0 after the note "Failed Jacobi\n".
int jacobi(double **a, int n, double *d, double **v, int *count);
// Descending selection sorts (among equal values the last one wins).
void sort_eigen(double *d, double **v, int n);
void sort_with_index(double *d, int *index, double **m, int rows, int n);
// LU decomposition with implicit partial pivoting (Crout). A matrix with an
// all-zero row gives numeric_failure (message "Singular matrix in routine
// LUDCMP") and leaves a partly scaled matrix behind.
Status ludcmp(double **a, int n, int *pivots, double *parity, const char **message = nullptr);
void lu_backsub(double **lu, int n, const int *pivots, double *b);
// y = a^-1 (a is replaced by its factors); fails as ludcmp does, y then
// unspecified.
Status lu_invert(double **a, double **y, int n, const char **message = nullptr);

// ---- Unit-offset helpers (indices from 1) ------------------------------------

// C[i][j] = sum_{k=1..n} A[i][k]*B[k][j] for i = 1..r, j = 1..c; each C[i][j]
// starts at 0 and accumulates in increasing k. C must not alias A or B.
void matrix_product(const double *const *a, const double *const *b, double **c, int r, int n,
                    int c_cols);

// B[i][j] = A[i][j] for i = 1..r, j = 1..c.
void matrix_copy(const double *const *a, double **b, int r, int c);

// y[i] = sum_{j=1..n} A[i][j]*x[j] for i = 1..r, starting from 0.
void matrix_vector_product(const double *const *a, const double *x, double *y, int r, int n);

// sum_{i=1..n} |v[i]| (the L1 norm), accumulated in increasing i.
double abs_sum(const double *v, int n);

// Index (1..n) of the smallest v[i]; the running minimum is replaced only by
// a strictly smaller element, so the first of equal minima wins.
int index_of_min(const double *v, int n);
