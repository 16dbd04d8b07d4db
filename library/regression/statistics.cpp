#include "regression/statistics.h"

#include <cmath>
#include <cstddef>
#include <string_view>

#include "errors/errors.h"
#include "linalg/kernels.h"
#include "regression/checks.h"
#include "workspace.h"

namespace vesk1 {
namespace {

using Index = std::ptrdiff_t;

// Back substitution of R * x = b where some diagonal elements are zero: those components are
// set to zero, with a warning when the right-hand side left for them is not.
void SolveUpperSingular(int32_t n, const double* r, int32_t ldr, double* x, int32_t column) {
  for (int32_t i = n; i >= 1; --i) {
    const double rii = r[At(i, i, ldr)];
    if (rii == 0.0) {
      if (x[i - 1] != 0.0) {
        StoreIntegerParameter(1, i);
        StoreIntegerParameter(2, column);
        StoreDoubleParameter(1, x[i - 1]);
        IssueMessage(kWarning, 1,
                     "The linear system of equations is inconsistent within the computed "
                     "tolerance.  Elements of row %(I1) are zero, but B(%(I1),%(I2)) = %(D1).  "
                     "X(%(I1),%(I2)) is set to zero.");
      }
      x[i - 1] = 0.0;
    } else {
      x[i - 1] = x[i - 1] / rii;
      VectorAxpy(i - 1, -x[i - 1], r + At(1, i, ldr), 1, x, 1);
    }
  }
}

// Forward substitution of transpose(R) * x = b with zero diagonal elements: a component whose
// equation is not satisfied within 200 * DMACH(4) of its terms' size draws a warning.
void SolveTransposeSingular(int32_t n, const double* r, int32_t ldr, double* x, int32_t column) {
  const double relative = 200.0 * DMACH(4);
  for (int32_t i = 1; i <= n; ++i) {
    const double* ri = r + At(1, i, ldr);
    const double s = x[i - 1] - VectorDot(i - 1, ri, 1, x, 1);
    const double rii = r[At(i, i, ldr)];
    if (rii == 0.0) {
      const double t = std::fabs(x[i - 1]) + AbsoluteProductSum(i - 1, ri, 1, x, 1);
      if (std::fabs(s) > t * relative) {
        StoreIntegerParameter(1, i);
        StoreIntegerParameter(2, column);
        IssueMessage(kWarning, 1,
                     "The linear system of equations is inconsistent within the computed "
                     "tolerance.  X(%(I1),%(I2)) is set to zero.");
      }
      x[i - 1] = 0.0;
    } else {
      x[i - 1] = s / rii;
    }
  }
}

// RINV = inverse of the upper triangle of R, row by row, with zero rows and columns for zero
// diagonal elements; RINV may be R.
void InvertUpperSingular(int32_t n, const double* r, int32_t ldr, double* rinv, int32_t ldrinv) {
  for (int32_t j = 1; j <= n; ++j) VectorCopy(j, r + At(1, j, ldr), 1, rinv + At(1, j, ldrinv), 1);
  for (int32_t j = 1; j <= n; ++j) {
    double& diagonal = rinv[At(j, j, ldrinv)];
    if (diagonal == 0.0) {
      VectorFill(j, 0.0, rinv + At(1, j, ldrinv), 1);
      if (j < n) VectorFill(n - j, 0.0, rinv + At(j, j + 1, ldrinv), ldrinv);
      continue;
    }
    diagonal = 1.0 / diagonal;
    VectorScale(j - 1, -diagonal, rinv + At(1, j, ldrinv), 1);
    if (j < n) {
      DGER(j - 1, n - j, 1.0, rinv + At(1, j, ldrinv), 1, rinv + At(j, j + 1, ldrinv), ldrinv,
           rinv + At(1, j + 1, ldrinv), ldrinv);
      VectorScale(n - j, diagonal, rinv + At(j, j + 1, ldrinv), ldrinv);
    }
  }
  DC1TRG(n, rinv, ldrinv);
}

// The frame DCSFRG and DC1TRG share: both checks, then FILL when neither failed.
template <class Fill>
void TriangleUtility(std::string_view name, int32_t n, int32_t lda, Fill fill) {
  RoutineGuard guard(name);
  if (n < 1) {
    StoreIntegerParameter(1, n);
    IssueMessage(kTerminal, 1, "N = %(I1).  The order of A, N, must be greater than 0.");
  }
  if (lda < n) {
    StoreIntegerParameter(1, n);
    StoreIntegerParameter(2, lda);
    IssueMessage(kTerminal, 2,
                 "N = %(I1) and LDA = %(I2).  The order of A, N, must be less than or equal to "
                 "the leading dimension of A, LDA.");
  }
  if (N1RCD(0) != 0) return;
  for (int32_t j = 1; j < n; ++j) fill(j);
}

}  // namespace

void DGIRTS(int32_t n, const double* r, int32_t ldr, int32_t nb, const double* b, int32_t ldb,
            int32_t ipath, int32_t& nrank, double* x, int32_t ldx, double* rinv, int32_t ldrinv) {
  RoutineGuard guard("DGIRTS");
  int32_t icode = 1;
  CheckDimensionPair(1, n, "N", ldr, "LDR", icode);
  CheckIntegerRange(nb, "NB", 0, -1, icode);
  CheckIntegerRange(ipath, "IPATH", 1, 4, icode);
  if (nb < 1) {
    icode += 6;
  } else {
    CheckDimensionPair(1, n, "*N", ldb, "LDB", icode);
    CheckDimensionPair(1, n, "*N", ldx, "LDX", icode);
  }
  const bool inverse = ipath == 3 || ipath == 4;
  if (inverse) CheckDimensionPair(1, n, "*N", ldrinv, "LDRINV", icode);
  if (N1RTY(0) != 0) return;
  CheckZeroRows(n, r, ldr, icode);
  if (N1RTY(0) != 0) return;

  nrank = 0;
  for (int32_t i = 1; i <= n; ++i) {
    if (r[At(i, i, ldr)] != 0.0) ++nrank;
  }
  for (int32_t j = 1; j <= nb; ++j) VectorCopy(n, b + At(1, j, ldb), 1, x + At(1, j, ldx), 1);

  const bool transposed = ipath == 2 || ipath == 4;
  for (int32_t j = 1; j <= nb; ++j) {
    double* xj = x + At(1, j, ldx);
    if (nrank == n) {
      DTRSV("UPPER", transposed ? "TRANSPOSE" : "NOT-TRANS", "NOT-DIAG", n, r, ldr, xj, 1);
    } else if (transposed) {
      SolveTransposeSingular(n, r, ldr, xj, j);
    } else {
      SolveUpperSingular(n, r, ldr, xj, j);
    }
  }
  if (inverse) InvertUpperSingular(n, r, ldr, rinv, ldrinv);
}

void DR2TDB(int32_t ncoef, const double* r, int32_t ldr, double s2, double* seb, double* work) {
  RoutineGuard guard("DR2TDB");
  int32_t icode = 1;
  CheckDimensionPair(1, ncoef, "NCOEF", ldr, "LDR", icode);
  ++icode;
  if (s2 < 0.0) {
    StoreDoubleParameter(1, s2);
    IssueMessage(kTerminal, icode, "S2 = %(D1).  S2 must be nonnegative.");
  }
  if (N1RTY(0) != 0) return;
  ++icode;
  CheckZeroRows(ncoef, r, ldr, icode);
  if (N1RTY(0) != 0) return;

  double scratch[1] = {0.0};
  int32_t rank = 0;
  DGIRTS(ncoef, r, ldr, 0, scratch, 1, 3, rank, scratch, 1, work, ncoef);
  VectorFill(ncoef, 0.0, seb, 1);
  for (int32_t i = 1; i <= ncoef; ++i) {
    double sum = 0.0;
    for (int32_t j = i; j <= ncoef; ++j) {
      if (work[At(j, j, ncoef)] > 0.0) sum += work[At(i, j, ncoef)] * work[At(i, j, ncoef)];
    }
    seb[i - 1] = std::sqrt(sum);
  }
  VectorScale(ncoef, std::sqrt(s2), seb, 1);
}

void DCSFRG(int32_t n, double* a, int32_t lda) {
  TriangleUtility("DCSFRG", n, lda, [&](int32_t j) {
    VectorCopy(n - j, a + At(j, j + 1, lda), lda, a + At(j + 1, j, lda), 1);
  });
}

void DC1TRG(int32_t n, double* a, int32_t lda) {
  TriangleUtility("DC1TRG", n, lda,
                  [&](int32_t j) { VectorFill(n - j, 0.0, a + At(j + 1, j, lda), 1); });
}

void CheckZeroRows(int32_t n, const double* r, int32_t ldr, int32_t& icode) {
  for (int32_t i = 1; i <= n; ++i) {
    if (r[At(i, i, ldr)] != 0.0) continue;
    for (int32_t j = i + 1; j <= n; ++j) {
      if (r[At(i, j, ldr)] != 0.0) {
        StoreIntegerParameter(1, i);
        StoreIntegerParameter(2, j);
        StoreDoubleParameter(1, r[At(i, i, ldr)]);
        StoreDoubleParameter(2, r[At(i, j, ldr)]);
        IssueMessage(kTerminal, icode,
                     "R(%(I1),%(I1)) = %(D1).  Remaining elements for the row must also be zero, "
                     "but R(%(I1),%(I2)) = %(D2) is not.");
        return;
      }
    }
  }
  ++icode;
}

double AbsoluteProductSum(int32_t n, const double* sx, int32_t incx, const double* sy,
                          int32_t incy) {
  if (n <= 0) return 0.0;
  Index ix = incx < 0 ? static_cast<Index>(1 - n) * incx : 0;
  Index iy = incy < 0 ? static_cast<Index>(1 - n) * incy : 0;
  double sum = 0.0;
  for (int32_t i = 0; i < n; ++i, ix += incx, iy += incy) sum += std::fabs(sx[ix] * sy[iy]);
  return sum;
}

}  // namespace vesk1
