// Unit-offset numerical arrays, the fatal run-time error of the numerical
// code, and the matrix decompositions (SVD, cyclic Jacobi, LU) with their
// descending sorts.
//
// Arrays are addressed with the caller's own inclusive index ranges
// (almost always starting at 1): v[first..last], m[row_first..row_last]
// [col_first..col_last]. The caller keeps the bounds and passes them again
// to the matching release routine.
#pragma once

// ---- Fatal error --------------------------------------------------------
// Writes "Numerical Recipes run-time error...", the message and
// "...now exiting to system..." to standard error, then exits with status 1.
[[noreturn]] void numeric_error(const char *message);

// A test or fuzz driver may install a handler that takes over from the
// default exit: numeric_error writes its three lines, then calls the handler,
// which must not return (it may throw or jump). Should it return anyway, the
// process exits with status 1 as usual. Passing nullptr restores the default.
// Returns the handler that was installed before.
using NumericErrorHandler = void (*)(const char *message);
NumericErrorHandler set_numeric_error_handler(NumericErrorHandler handler);

// ---- Allocation and release ----------------------------------------------
double *vector(int first, int last);
int *ivector(int first, int last);
double *dvector(int first, int last);
double **matrix(int row_first, int row_last, int col_first, int col_last);
double **dmatrix(int row_first, int row_last, int col_first, int col_last);
int **imatrix(int row_first, int row_last, int col_first, int col_last);
double **submatrix(double **a, int old_row_first, int old_row_last, int old_col_first,
                   int old_col_last, int new_row_first, int new_col_first);
double **convert_matrix(double *a, int row_first, int row_last, int col_first, int col_last);

void release_vector(double *v, int first, int last);
void release_ivector(int *v, int first, int last);
void release_dvector(double *v, int first, int last);
void release_matrix(double **m, int row_first, int row_last, int col_first, int col_last);
void release_dmatrix(double **m, int row_first, int row_last, int col_first, int col_last);
void release_imatrix(int **m, int row_first, int row_last, int col_first, int col_last);
void release_submatrix(double **b, int row_first, int row_last, int col_first, int col_last);
void release_convert_matrix(double **b, int row_first, int row_last, int col_first, int col_last);

// ---- Decompositions -------------------------------------------------------
// A (m x n, m >= n) = U diag(w) V^T; A is replaced by U, V is V itself.
// Singular values are not ordered. Returns 1, or 0 after "Failed SVD".
int svdcmp(double **a, int m, int n, double *w, double **v);
// x = V diag(1/w) U^T b, components with w[j] == 0 contributing 0.
void svd_backsub(double **u, double *w, double **v, int m, int n, double *b, double *x);
// Eigen-decomposition of the symmetric n x n matrix a (strict upper triangle
// destroyed): eigenvalues in d, normalised eigenvectors in the columns of v,
// rotations in *count. Returns 1, or 0 after "Failed Jacobi".
int jacobi(double **a, int n, double *d, double **v, int *count);
// Descending selection sorts (among equal values the last one wins).
void sort_eigen(double *d, double **v, int n);
void sort_eigen_pair(double *d, double **p, double **q, int n);
void sort_with_index(double *d, int *index, double **m, int rows, int n);
// LU decomposition with implicit partial pivoting (Crout).
void ludcmp(double **a, int n, int *pivots, double *parity);
void lu_backsub(double **lu, int n, const int *pivots, double *b);
void lu_invert(double **a, double **y, int n);
