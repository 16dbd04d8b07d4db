// The back end of the regression routines: triangular solves and inverse of a factor that may
// be singular (a zero diagonal element marks a dropped, linearly dependent variable), standard
// errors of the coefficients, and two triangle utilities.
//
// Matrices are column-major with a leading dimension; a triangular matrix lies in the upper
// triangle of its array, and only DC1TRG writes below the diagonal.
#pragma once

#include <cstdint>

namespace vesk1 {

// Solves R * X = B (IPATH 1 or 3) or transpose(R) * X = B (IPATH 2 or 4) for the NB columns of
// B, and with IPATH 3 or 4 also forms RINV = inverse of R, its rows and columns of dropped
// variables zero. NRANK = number of nonzero diagonal elements; a dropped variable gets a zero
// solution, with WARNING code 1 when its right-hand side is not zero (IPATH 1, 3) or not
// consistent within 200 * DMACH(4) relative (IPATH 2, 4). X may be B, RINV may be R.
// TERMINAL codes 1 to 14 for the arguments, 12 or 15 for a nonzero element in a zero row.
void DGIRTS(int32_t n, const double* r, int32_t ldr, int32_t nb, const double* b, int32_t ldb,
            int32_t ipath, int32_t& nrank, double* x, int32_t ldx, double* rinv, int32_t ldrinv);

// SEB(i) = sqrt(S2 * (inverse of transpose(R) * R)(i, i)), 0 for a dropped coefficient, using
// WORK (NCOEF by NCOEF, leading dimension NCOEF; it may be R when R is not needed after).
// TERMINAL codes 1 to 3 for NCOEF and LDR, 5 for S2 < 0, 6 for a nonzero element in a zero row.
void DR2TDB(int32_t ncoef, const double* r, int32_t ldr, double s2, double* seb, double* work);

// Copies the strict upper triangle of the N by N matrix A into its strict lower triangle.
// TERMINAL code 1 for N < 1, 2 for LDA < N.
void DCSFRG(int32_t n, double* a, int32_t lda);

// Sets the strict lower triangle of the N by N matrix A to zero. Codes as DCSFRG.
void DC1TRG(int32_t n, double* a, int32_t lda);

// A row of R with a zero diagonal element must be zero: the first nonzero element of such a
// row is reported with code ICODE; otherwise ICODE advances by one.
void CheckZeroRows(int32_t n, const double* r, int32_t ldr, int32_t& icode);

// Sum of |SX(i) * SY(i)|, i = 1..N, added in index order; increments as in the reference BLAS
// (a negative one starts at element 1 + (1 - N) * INC). 0 for N <= 0.
double AbsoluteProductSum(int32_t n, const double* sx, int32_t incx, const double* sy,
                          int32_t incy);

}  // namespace vesk1
