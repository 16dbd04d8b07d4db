// Inverse of a real general matrix from its LU factorization, and of a triangular matrix.
#pragma once

#include <cstdint>

namespace vesk1 {

// AINV = the inverse of the N by N matrix A. A is not changed; AINV may be the storage of A
// when LDAINV = LDA. Allocates N integers and N(N+1)/2 doubles of workspace.
// Codes: TERMINAL 1 N <= 0, TERMINAL 2 no storage (also when the size cannot be represented);
// the errors of DL2NRG.
void DLINRG(int32_t n, const double* a, int32_t lda, double* ainv, int32_t ldainv);

// DLINRG with the caller's workspace: WORK of N(N+1)/2 doubles, IWORK of N integers. Factors A
// into AINV (DL2CRG), inverts U in place (DLINRT), then folds in the multipliers and the row
// exchanges. Stops after a FATAL or TERMINAL outcome of the factorization, leaving in AINV what
// it left. Codes: TERMINAL 1 N < 1, 2 LDA < N, 3 LDAINV < N; WARNING 1 when the estimated
// reciprocal condition is at most DMACH(4) or is NaN (the inverse is still returned).
void DL2NRG(int32_t n, const double* a, int32_t lda, double* ainv, int32_t ldainv, double* work,
            int32_t* iwork);

// AINV = the inverse of the lower (IPATH 1) or upper (IPATH 2) triangular N by N matrix A, the
// other strict triangle of AINV set to zero. Only the named triangle of A is read; AINV may be
// the storage of A when LDAINV = LDA. Codes: TERMINAL 1 N < 1, 2 LDA < N, 3 LDAINV < N, 4 IPATH
// not 1 or 2, 5 a diagonal entry at most the safe minimum or NaN (the first met: the highest index
// for IPATH 1, the lowest for IPATH 2).
void DLINRT(int32_t n, const double* a, int32_t lda, int32_t ipath, double* ainv, int32_t ldainv);

}  // namespace vesk1
