// The regression core: a multivariate least-squares fit built one block of rows at a time,
// rows added or deleted, kept as an upper triangular factor in scaled-row form and updated
// with modified (square-root-free) Givens transformations, so no cross-products matrix is
// ever formed.
//
// Invariant of the factor, z a model row (1 first when there is an intercept, then the
// regressors) and w its weight times frequency: transpose(R) * diag(DSCALE) * R = sum of
// w * z * transpose(z) over the rows added less those deleted. The dependent variables ride
// along in B; what the regressors cannot explain of them goes to the upper triangle of SCPE.
// With ISUB = 1 row 1 holds plain sums instead (R(1,1) = sum w, R(1,j) = sum w z(j),
// B(1,k) = sum w y(k), DSCALE(1) = 1 / sum w) and rows 2.. the factor of the data centred on
// the running weighted means.
#pragma once

#include <cstdint>

namespace vesk1 {

// Adds (NROW >= 0) or deletes (NROW < 0) the |NROW| rows of X to the fit held in B, R,
// DSCALE, DFE, SCPE, NMISS, XMIN and XMAX, which the caller keeps unchanged between calls.
// IDO 0: one call does everything; 1: first call (initialize, add); 2: intermediate; 3: last
// (add, then finish: dependent columns dropped, B solved into the coefficients, NRANK, DFE
// reduced by NRANK, R turned into an ordinary factor with a non-negative diagonal and DSCALE
// all 1). The model has INTCEP + |IIND| coefficients (regressors: columns INDIND(1..IIND), or
// 1..|IIND| when IIND < 0) and |IDEP| dependent variables (columns INDDEP(1..IDEP), or the last
// |IDEP| when IDEP < 0). IFRQ, IWT: frequency and weight columns, 0 = all 1. ISUB = 1 handles
// the intercept through running means. TOL (0..1) is the dependence tolerance. SCPE comes back
// symmetric after every call. WORK holds INTCEP + |IIND| + |IDEP| doubles.
// TERMINAL codes 1 to 28 for arguments (see CheckRegressionArguments); FATAL from DC1WFR for a
// negative frequency or weight (the rows before it stay in the fit, no finish); WARNING with
// deferred stop code 4 when DFE <= 0 after the finish, 5 and 6 when a deleted row holds a
// column's extreme.
void DR2IVN(int32_t ido, int32_t nrow, int32_t ncol, const double* x, int32_t ldx, int32_t intcep,
            int32_t iind, const int32_t* indind, int32_t idep, const int32_t* inddep, int32_t ifrq,
            int32_t iwt, int32_t isub, double tol, double* b, int32_t ldb, double* r, int32_t ldr,
            double* dscale, int32_t& nrank, double& dfe, double* scpe, int32_t ldscpe,
            int32_t& nmiss, double* xmin, double* xmax, double* work);

// Adds the N pairs (X(i), Y(i)) to a straight-line fit that DR2IVN started with INTCEP = 1,
// one regressor, one dependent variable, no frequency or weight column and ISUB = 1, B and R
// with leading dimension 2, SCPE with 1: exactly what N calls of DR2IVN with IDO = 2 and one
// row each would do (with these arguments such a call has nothing to check and nothing to
// report), without their checks and name pushes.
void AddLinePairs(int32_t n, const double* x, const double* y, double* b, double* r, double* dscale,
                  double& dfe, double* scpe, int32_t& nmiss, double* xmin, double* xmax,
                  double* work);

// Builds the modified Givens transformation H that zeroes the second component of
// H * (X1, Y1) for the weighted pair (sqrt(D1) X1, sqrt(D2) Y1) and updates D1, D2 and X1, as
// the reference BLAS DROTMG does; D2 < 0 (a row being deleted) is accepted. PARAM(1) is the
// flag (-2 identity, -1 full, 0 and 1 with implied elements), PARAM(2..5) H11, H21, H12, H22.
void ConstructModifiedGivens(double& d1, double& d2, double& x1, double y1, double* param);

// Applies H of PARAM to the N pairs (SX(i), SY(i)) in place, as the reference BLAS DROTM does.
void ApplyModifiedGivens(int32_t n, double* sx, int32_t incx, double* sy, int32_t incy,
                         const double* param);

// Sum of SX(i) * SY(i) * SZ(i), i = 1..N, added in index order; 0 for N <= 0.
double TripleProductSum(int32_t n, const double* sx, int32_t incx, const double* sy, int32_t incy,
                        const double* sz, int32_t incz);

}  // namespace vesk1
