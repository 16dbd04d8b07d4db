// LU factorization of a real general matrix with scaled partial pivoting, and an estimate of
// the reciprocal of its L1 condition number.
//
// The factored form: U in the upper triangle of FAC, diagonal included; below it the
// multipliers, negated, in the rows where they were formed (row i of the working matrix became
// row i + FAC(i, k) * row k at step k; later exchanges are not applied to earlier columns).
// PIVOT(k) is the row exchanged with row k at step k, and PIVOT(N) = N.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>
#include <string_view>

namespace vesk1 {

// Columns of the matrix that the factorization brings up to date together (a multiple of the
// panel width of 8): the pending panels' updates reach each such tile just before it is
// eliminated. Tiles form blocks (a multiple of the tile width): a finished block gives its
// steps to all the columns to its right at once. kChosenBlock lets the order choose the block:
// kBlockColumns columns from 4 * kBlockColumns on, two tiles below, so that a smaller matrix is
// not one block whose tiles each read all the columns before them. The results do not depend
// on either width; a tile width of at least N gives the order of work in which every panel
// updates the whole trailing matrix at once.
inline constexpr int32_t kTileColumns = 64;
inline constexpr int32_t kBlockColumns = 256;
inline constexpr int32_t kChosenBlock = 0;
inline constexpr int32_t kWholeTrailingMatrix = std::numeric_limits<int32_t>::max();

// Factors the N by N matrix A into FAC and PIVOT and estimates RCOND. A is not changed; FAC may
// be the storage of A when LDFAC = LDA. Allocates N doubles of workspace.
// Codes: TERMINAL 1 N <= 0, TERMINAL 2 no storage; the errors of DL2CRG and DL2TRG.
void DLFCRG(int32_t n, const double* a, int32_t lda, double* fac, int32_t ldfac, int32_t* pivot,
            double& rcond);

// DLFCRG with the caller's workspace WORK of N doubles; the widths are passed to DL2TRG. RCOND is 1
// unless the condition flag (option 17 of chapter 1 of "MATH", second value) is 2, the default, and
// the matrix is not singular. Codes: TERMINAL 1 N < 1, 2 LDA < N, 3 LDFAC < N, 4 flag not 1 or 2;
// WARNING 1 when RCOND <= DMACH(4) or RCOND is NaN.
void DL2CRG(int32_t n, const double* a, int32_t lda, double* fac, int32_t ldfac, int32_t* pivot,
            double& rcond, double* work, int32_t tileColumns = kTileColumns,
            int32_t blockColumns = kChosenBlock);

// Copies A into FAC and factors it. On return SCALE (N doubles) holds the row scale factors,
// 1 / (largest magnitude of the row of A), in final row order. Codes: TERMINAL 1 N < 1,
// 2 LDA < N, 3 LDFAC < N; FATAL 2 when a pivot is at most the safe minimum or is NaN (no
// division by it takes place; FAC and PIVOT then hold what the elimination left). TILECOLUMNS
// and BLOCKCOLUMNS set only the order in which the columns receive their updates, never a
// result bit.
void DL2TRG(int32_t n, const double* a, int32_t lda, double* fac, int32_t ldfac, int32_t* pivot,
            double* scale, int32_t tileColumns = kTileColumns, int32_t blockColumns = kChosenBlock);

// RESULT = the largest column sum of magnitudes of the NRA by NCA matrix A. Codes: TERMINAL
// 1 NRA > LDA, 2 NRA <= 0, 3 NCA <= 0 (2 and 3 may both be reported); RESULT is not written
// after a failed check.
void DNR1RR(int32_t nra, int32_t nca, const double* a, int32_t lda, double& result);

// Copies the N by N leading block of A into B, column by column. B may be A. Codes: TERMINAL
// 1 N < 1, 2 LDA < N, 3 LDB < N.
void DCRGRG(int32_t n, const double* a, int32_t lda, double* b, int32_t ldb);

// The condition estimator of DL2CRG on a factored form: RCOND = YN / NORM, an estimate of
// 1 / (norm1(A) * norm1(inverse of A)), using Z (N doubles) as scratch. RCOND is left as it is
// when NORM = 0. Reports nothing.
void EstimateReciprocalCondition(int32_t n, const double* fac, int32_t ldfac, const int32_t* pivot,
                                 double norm, double* z, double& rcond);

// The singularity threshold: the safe minimum DMACH(1), or 1 / DMACH(2) when their product
// is below 1.
double SafeMinimum();

// The pivot test of the factorization and the inverse: true unless |P| exceeds SMALL, so a
// NaN pivot counts as negligible and the matrix is reported singular.
inline bool NegligiblePivot(double p, double small) {
  return !(std::fabs(p) > small);
}

// The condition test of the factorization and the inverse: true when RCOND is at most the
// spacing DMACH(4) or is NaN (an estimate from non-finite factors says nothing good).
bool IllConditioned(double rcond);

// The opening checks the square-matrix routines share, in their order: code 1 N < 1, code 2
// LDA < N, code 3 the second matrix's leading dimension `ld` < N, whose message is
// `ldText` (it names that argument). Issues the first failing check as a TERMINAL error and
// returns false; returns true when all three pass.
bool CheckOrderAndLeadingDimensions(int32_t n, int32_t lda, int32_t ld, std::string_view ldText);

}  // namespace vesk1
