#include "linalg/inverse.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <utility>

#include "errors/errors.h"
#include "linalg/dispatch.h"
#include "linalg/kernels.h"
#include "linalg/lu.h"
#include "linalg/state.h"
#include "workspace.h"

namespace vesk1 {
namespace {

using Index = std::ptrdiff_t;

constexpr std::string_view kLdainvText =
    "The order of the matrix must be less than or equal to its leading dimension while N = %(I1) "
    "and LDAINV = %(I2) are given.";

// Offset in the packed strict lower triangle of the first multiplier of column j (1-based):
// columns 1 .. j-1 come first, with n-1, n-2, ... entries.
Index PackedColumnStart(int32_t n, int32_t j) {
  const Index before = j - 1;
  return before * n - before * (before + 1) / 2;
}

// Four doubles at any 8-byte aligned address: a 256-bit register where the processor has one.
typedef double Quad __attribute__((vector_size(32), aligned(8)));

// Columns that the steps of the inverse's last levels take together, row by row.
constexpr int kEight = 8;

// Rows 0 .. rows-1 of the eight columns at c (ld apart) take, right to left, the products of
// the columns right of each: column a gets coef[a][b] times column b for b = a+1 .. 7, in order,
// each term added as DGEMV's column by column steps add it (so no coefficient may be 0: DGEMV
// skips such a column). Column 7 is not changed.
VESK1_DISPATCH
void AddRightColumnsOfEight(Index rows, double* c, Index ld, const double (*coef)[kEight]) {
  double* column[kEight];
  for (int s = 0; s < kEight; ++s) column[s] = c + s * ld;
  Index r = 0;
  for (; r + 4 <= rows; r += 4) {
    Quad v[kEight];
    for (int s = 0; s < kEight; ++s) v[s] = *reinterpret_cast<const Quad*>(column[s] + r);
    for (int a = kEight - 2; a >= 0; --a) {
      for (int b = a + 1; b < kEight; ++b) v[a] = v[a] + v[b] * coef[a][b];
    }
    for (int s = 0; s < kEight - 1; ++s) *reinterpret_cast<Quad*>(column[s] + r) = v[s];
  }
  for (; r < rows; ++r) {
    double v[kEight];
    for (int s = 0; s < kEight; ++s) v[s] = column[s][r];
    for (int a = kEight - 2; a >= 0; --a) {
      for (int b = a + 1; b < kEight; ++b) v[a] = v[a] + v[b] * coef[a][b];
    }
    for (int s = 0; s < kEight - 1; ++s) column[s][r] = v[s];
  }
}

// Rows 0 .. rows-1 of the eight columns at c (ld apart) times the upper triangle T from the
// right, right to left: column q becomes scale[q] times itself plus t[q][s] times column s for
// s = 0 .. q-1, in order, as DGEMV with BETA = scale[q] forms it (no t[q][s] may be 0). The
// scaled column is rounded before its first term is added, as DGEMV scales Y first: the barrier
// keeps the compiler from fusing the scaling into that addition.
VESK1_DISPATCH
void TriangleFromRightOfEight(Index rows, double* c, Index ld, const double (*t)[kEight],
                              const double* scale) {
  double* column[kEight];
  for (int s = 0; s < kEight; ++s) column[s] = c + s * ld;
  Index r = 0;
  for (; r + 4 <= rows; r += 4) {
    Quad v[kEight];
    for (int s = 0; s < kEight; ++s) v[s] = *reinterpret_cast<const Quad*>(column[s] + r);
    for (int q = kEight - 1; q >= 0; --q) {
      v[q] = __builtin_assoc_barrier(scale[q] * v[q]);
      for (int s = 0; s < q; ++s) v[q] = v[q] + v[s] * t[q][s];
    }
    for (int s = 0; s < kEight; ++s) *reinterpret_cast<Quad*>(column[s] + r) = v[s];
  }
  for (; r < rows; ++r) {
    double v[kEight];
    for (int s = 0; s < kEight; ++s) v[s] = column[s][r];
    for (int q = kEight - 1; q >= 0; --q) {
      v[q] = __builtin_assoc_barrier(scale[q] * v[q]);
      for (int s = 0; s < q; ++s) v[q] = v[q] + v[s] * t[q][s];
    }
    for (int s = 0; s < kEight; ++s) column[s][r] = v[s];
  }
}

// Columns of the inverse that take the products of the columns to their right together, and
// the columns that go one by one inside such a block.
constexpr int32_t kAssemblyBlock = 256;
constexpr int32_t kAssemblyColumns = 8;

// Columns j0 .. j1-1 (1-based) of AINV take the products of the columns right of each up to
// j1 - 1 with the multipliers, right to left: the right half first, then the left half takes
// the right half's columns in one product and goes on by itself. A few columns go one by one.
template <class Multipliers>
void AssembleColumns(int32_t n, double* ainv, int32_t ldainv, Multipliers multipliers, int32_t j0,
                     int32_t j1) {
  if (j1 - j0 <= kAssemblyColumns) {
    // Eight columns go row by row in one pass unless a coefficient is 0.
    double coef[kEight][kEight];
    bool rowwise = j1 - j0 == kEight;
    for (int32_t a = 0; a < kEight - 1 && rowwise; ++a) {
      for (int32_t b = a + 1; b < kEight; ++b) {
        coef[a][b] = multipliers(j0 + a)[j0 + b];
        rowwise = rowwise && coef[a][b] != 0.0;
      }
    }
    if (rowwise) {
      AddRightColumnsOfEight(n, ainv + At(1, j0, ldainv), ldainv, coef);
      return;
    }
    for (int32_t i = j1 - 1; i >= j0; --i) {
      if (i + 1 < j1) {
        DGEMV("N", n, j1 - 1 - i, 1.0, ainv + At(1, i + 1, ldainv), ldainv, multipliers(i) + i + 1,
              1, 1.0, ainv + At(1, i, ldainv), 1);
      }
    }
    return;
  }
  const int32_t middle =
      j0 + std::max(kAssemblyColumns, (j1 - j0) / 2 / kAssemblyColumns * kAssemblyColumns);
  AssembleColumns(n, ainv, ldainv, multipliers, middle, j1);
  const double* b[kProductColumns];
  for (int32_t j = j0; j < middle; ++j) b[j - j0] = multipliers(j) + middle;
  AddProductsInOrder(n, middle - j0, j1 - middle, ainv + At(1, middle, ldainv), ldainv, b,
                     ainv + At(1, j0, ldainv));
  AssembleColumns(n, ainv, ldainv, multipliers, j0, middle);
}

// Turns AINV = inverse of U (strict lower triangle zero) into the inverse of A: the inverse of
// U times the inverse of L, then the column exchanges of the pivots in reverse order. PACKED
// holds the multipliers, column after column, as DL2NRG saved them. Right to left, column i
// takes the sum over the columns r > i of column r times the multiplier of row r in column i;
// each multiplier column first takes the later exchanges (it would otherwise have to meet the
// columns in the order those exchanges leave them), so that the exchanges of the columns can
// wait until the end and a block of columns can take the columns right of it at once.
void AssembleInverse(int32_t n, double* ainv, int32_t ldainv, double* packed,
                     const int32_t* pivot) {
  const Index ld = ldainv;
  // Multiplier column j (1-based) holds rows j+1 .. n; row r at packed[start + r - j - 1].
  auto multipliers = [&](int32_t j) { return packed + PackedColumnStart(n, j) - (j + 1); };
  for (int32_t j = 1; j < n - 1; ++j) {
    double* column = multipliers(j);
    for (int32_t m = j + 1; m < n; ++m) {
      const int32_t p = pivot[m - 1];
      if (p != m) std::swap(column[m], column[p]);
    }
  }
  // Steps J0 .. J1-1 (1-based column numbers) form one wide block: the columns right of it
  // give it their products at once, a segment of them at a time as the scratch holds them
  // packed, so that each column of AINV is read for many columns of the block; then the block
  // takes its own.
  double* packs = LinearAlgebra().products.factorColumns;
  const double* b[kAssemblyBlock];
  for (int32_t J1 = n; J1 > 1;) {
    const int32_t J0 = std::max(1, J1 - kAssemblyBlock);
    const int32_t width = J1 - J0;
    const Index segment = kFactorColumnsSize / PackedColumnsSize(width, 1);
    for (int32_t d0 = J1; d0 <= n; d0 += static_cast<int32_t>(segment)) {
      const Index depth = std::min<Index>(segment, n - d0 + 1);
      for (int32_t j = J0; j < J1; ++j) b[j - J0] = multipliers(j) + d0;
      PackProductColumns(depth, width, b, 0, depth, packs);
      AddPackedProducts(n, width, depth, ainv + At(1, d0, ldainv), ld, packs, depth,
                        ainv + At(1, J0, ldainv), ld);
    }
    AssembleColumns(n, ainv, ldainv, multipliers, J0, J1);
    J1 = J0;
  }
  for (int32_t i = n - 1; i >= 1; --i) {
    const int32_t p = pivot[i - 1];
    if (p != i) VectorSwap(n, ainv + At(1, i, ldainv), 1, ainv + At(1, p, ldainv), 1);
  }
}

// Columns of an upper triangular inverse computed together.
constexpr int32_t kInverseColumns = 128;
// Rows or columns of a triangle that take their products step by step.
constexpr int32_t kInverseSteps = 8;

// Steps j0 .. last (1-based) of the column by column inversion of the upper triangular block
// j0 .. j1 of X, in place: each step finishes its column and updates the block's columns to its
// right up to j1. The diagonal entries of the steps must not be negligible.
void InvertUpperColumns(double* x, int32_t ld, int32_t j0, int32_t last, int32_t j1) {
  for (int32_t i = j0; i <= last; ++i) {
    double& d = x[At(i, i, ld)];
    d = 1.0 / d;
    VectorScale(i - j0, -d, x + At(j0, i, ld), 1);
    if (i < j1) {
      DGER(i - j0, j1 - i, 1.0, x + At(j0, i, ld), 1, x + At(i, i + 1, ld), ld,
           x + At(j0, i + 1, ld), ld);
      VectorScale(j1 - i, d, x + At(i, i + 1, ld), ld);
    }
  }
}

// Rows r0 .. r1 of the columns c0 .. c1 (1-based) times the upper triangle T = X(r0 .. r1,
// r0 .. r1), diagonal included, from the left, in place: the top half first takes its own
// triangle and then the products with the bottom half's rows, which then take their own. A few
// rows go step by step.
void TriangleTimesRows(double* x, int32_t ldx, int32_t r0, int32_t r1, int32_t c0, int32_t c1) {
  if (r1 - r0 < kInverseSteps) {
    const Index ld = ldx;
    const double* t = x + At(r0, r0, ldx);  // t[i + k * ld] = T(r0 + i, r0 + k)
    const int32_t count = r1 - r0 + 1;
    if (count == kInverseSteps) {
      // The common case: the triangle's entries read once for all the columns, and each
      // column's rows held in registers while they take them.
      double tk[kInverseSteps][kInverseSteps];
      for (int32_t k = 0; k < kInverseSteps; ++k) {
        for (int32_t i = 0; i <= k; ++i) tk[k][i] = t[i + k * ld];
      }
      for (int32_t q = c0; q <= c1; ++q) {
        double* column = x + At(r0, q, ldx);
        double y[kInverseSteps];
#pragma GCC unroll 8
        for (int32_t i = 0; i < kInverseSteps; ++i) y[i] = column[i];
#pragma GCC unroll 8
        for (int32_t k = 0; k < kInverseSteps; ++k) {
          const double yk = y[k];
          if (yk != 0.0) {
#pragma GCC unroll 8
            for (int32_t i = 0; i < k; ++i) y[i] = y[i] + yk * tk[k][i];
          }
          y[k] = yk * tk[k][k];
        }
#pragma GCC unroll 8
        for (int32_t i = 0; i < kInverseSteps; ++i) column[i] = y[i];
      }
      return;
    }
    for (int32_t q = c0; q <= c1; ++q) {
      double* y = x + At(r0, q, ldx);
      for (int32_t k = 0; k < count; ++k) {
        const double yk = y[k];
        if (yk != 0.0) {
          for (int32_t i = 0; i < k; ++i) y[i] = y[i] + yk * t[i + k * ld];
        }
        y[k] = yk * t[k + k * ld];
      }
    }
    return;
  }
  const int32_t middle =
      r0 + std::max(kInverseSteps, (r1 - r0 + 1) / 2 / kInverseSteps * kInverseSteps);
  TriangleTimesRows(x, ldx, r0, middle - 1, c0, c1);
  const double* b[kInverseColumns];
  for (int32_t q = c0; q <= c1; ++q) b[q - c0] = x + At(middle, q, ldx);
  AddProductsInOrder(middle - r0, c1 - c0 + 1, r1 - middle + 1, x + At(r0, middle, ldx), ldx, b,
                     x + At(r0, c0, ldx));
  TriangleTimesRows(x, ldx, middle, r1, c0, c1);
}

// Rows 1 .. rows of the columns c0 .. c1 (1-based) times the upper triangle X(c0 .. c1, c0 ..
// c1), diagonal included, from the right, in place: the right half first takes its own
// triangle and then the products of the left half's columns, which then take their own. A few
// columns go one by one.
void ColumnsTimesTriangle(double* x, int32_t ldx, int32_t rows, int32_t c0, int32_t c1) {
  if (c1 - c0 < kInverseSteps) {
    // Eight columns go row by row in one pass unless an entry of the triangle is 0.
    double t[kEight][kEight];
    double scale[kEight];
    bool rowwise = c1 - c0 + 1 == kEight;
    for (int32_t q = 0; q < kEight && rowwise; ++q) {
      scale[q] = x[At(c0 + q, c0 + q, ldx)];
      for (int32_t s = 0; s < q; ++s) {
        t[q][s] = x[At(c0 + s, c0 + q, ldx)];
        rowwise = rowwise && t[q][s] != 0.0;
      }
    }
    if (rowwise) {
      TriangleFromRightOfEight(rows, x + At(1, c0, ldx), ldx, t, scale);
      return;
    }
    for (int32_t q = c1; q >= c0; --q) {
      double* y = x + At(1, q, ldx);
      const double d = x[At(q, q, ldx)];
      if (q == c0) {
        VectorScale(rows, d, y, 1);
      } else {
        DGEMV("N", rows, q - c0, 1.0, x + At(1, c0, ldx), ldx, x + At(c0, q, ldx), 1, d, y, 1);
      }
    }
    return;
  }
  const int32_t middle =
      c0 + std::max(kInverseSteps, (c1 - c0 + 1) / 2 / kInverseSteps * kInverseSteps);
  ColumnsTimesTriangle(x, ldx, rows, middle, c1);
  const double* b[kInverseColumns];
  for (int32_t q = middle; q <= c1; ++q) b[q - middle] = x + At(c0, q, ldx);
  AddProductsInOrder(rows, c1 - middle + 1, middle - c0, x + At(1, c0, ldx), ldx, b,
                     x + At(1, middle, ldx));
  ColumnsTimesTriangle(x, ldx, rows, c0, middle - 1);
}

// Inverts the upper triangular X (N by N, no negligible diagonal entry) in place, a block of
// columns at a time, left to right. With X11 the inverse found so far and U12, U22 the block's
// rows above and on the diagonal: X12 = -(X11 * U12) * inverse(U22). Both products are formed
// in place: the first top down, a segment of U12's rows at a time (as many as the scratch holds
// packed): the segment's rows are packed, the rows above take their products with them in one
// pass, and then the segment's rows take their own triangle of X11; the second right to left
// (each column takes only columns at or left of it); the sign comes last.
void InvertUpperInBlocks(int32_t n, double* x, int32_t ldx) {
  const Index ld = ldx;
  double* packs = LinearAlgebra().products.factorColumns;
  for (int32_t j0 = 1; j0 <= n; j0 += kInverseColumns) {
    const int32_t j1 = std::min(n, j0 + kInverseColumns - 1);
    const int32_t width = j1 - j0 + 1;
    const Index segment = kFactorColumnsSize / PackedColumnsSize(width, 1);
    for (int32_t d0 = 1; d0 < j0; d0 += static_cast<int32_t>(segment)) {
      const int32_t d1 = static_cast<int32_t>(std::min<Index>(j0 - 1, d0 + segment - 1));
      const Index depth = d1 - d0 + 1;
      if (d0 > 1) {
        PackProductColumns(depth, width, x + At(d0, j0, ldx), ld, 0, depth, packs);
        AddPackedProducts(d0 - 1, width, depth, x + At(1, d0, ldx), ld, packs, depth,
                          x + At(1, j0, ldx), ld);
      }
      TriangleTimesRows(x, ldx, d0, d1, j0, j1);
    }
    InvertUpperColumns(x, ldx, j0, j1, j1);
    if (j0 > 1) {
      ColumnsTimesTriangle(x, ldx, j0 - 1, j0, j1);
      for (int32_t q = j0; q <= j1; ++q) VectorScale(j0 - 1, -1.0, x + At(1, q, ldx), 1);
    }
  }
}

}  // namespace

void DLINRG(int32_t n, const double* a, int32_t lda, double* ainv, int32_t ldainv) {
  RoutineGuard guard("DLINRG");
  if (n <= 0) {
    StoreIntegerParameter(1, n);
    IssueMessage(kTerminal, 1,
                 "The order of the matrix must be positive while N = %(i1) is given.");
    return;
  }
  // N(N+1)/2 in 64 bits cannot overflow for a 32-bit N; a size whose bytes cannot be
  // represented is refused before anything is allocated.
  const uint64_t order = static_cast<uint64_t>(n);
  Workspace<int32_t> iwork(order);
  Workspace<double> work(iwork ? order * (order + 1) / 2 : 0);
  if (!iwork || !work) {
    IssueStorageFailure(n);
    return;
  }
  DL2NRG(n, a, lda, ainv, ldainv, work.get(), iwork.get());
}

void DL2NRG(int32_t n, const double* a, int32_t lda, double* ainv, int32_t ldainv, double* work,
            int32_t* iwork) {
  RoutineGuard guard("DL2NRG");
  CheckOrderAndLeadingDimensions(n, lda, ldainv, kLdainvText);
  if (N1RTY(0) != 0) return;

  const Index packed = static_cast<Index>(n) * (n - 1) / 2;
  double* v = work + packed;  // v[r - 1] is V(r)
  double rcond = 1.0;
  DL2CRG(n, a, lda, ainv, ldainv, iwork, rcond, v);
  // A FATAL outcome is a singular matrix; a TERMINAL one (possible only when the stop table
  // lets the process go on) means nothing was factored and IWORK holds no pivots. Either way
  // there is nothing to invert.
  const int32_t outcome = N1RTY(1);
  if (outcome == kFatal || outcome == kTerminal) return;

  for (int32_t j = 1; j < n; ++j) {
    VectorCopy(n - j, ainv + At(j + 1, j, ldainv), 1, work + PackedColumnStart(n, j), 1);
  }
  DLINRT(n, ainv, ldainv, 2, ainv, ldainv);
  AssembleInverse(n, ainv, ldainv, work, iwork);

  if (IllConditioned(rcond)) {
    StoreDoubleParameter(1, rcond);
    IssueMessage(kWarning, 1,
                 "The matrix is too ill-conditioned. An estimate of the reciprocal of its L1 "
                 "condition number is RCOND = %(D1).  The inverse might not be accurate.");
  }
}

void DLINRT(int32_t n, const double* a, int32_t lda, int32_t ipath, double* ainv, int32_t ldainv) {
  RoutineGuard guard("DLINRT");
  if (CheckOrderAndLeadingDimensions(n, lda, ldainv, kLdainvText) && ipath != 1 && ipath != 2) {
    StoreIntegerParameter(1, ipath);
    IssueMessage(kTerminal, 4, "IPATH must be either 1 or 2 while a value of %(I1) is given.");
  }
  if (N1RCD(0) != 0) return;

  const double small = SafeMinimum();
  auto x = [&](int32_t i, int32_t j) -> double& { return ainv[At(i, j, ldainv)]; };
  int32_t singularAt = 0;
  // In place (as DL2NRG inverts U) the triangle is already where it belongs.
  const bool copy = a != ainv || lda != ldainv;
  if (ipath == 1) {
    for (int32_t j = 1; j <= n; ++j) {
      VectorFill(j - 1, 0.0, ainv + At(1, j, ldainv), 1);
      if (copy) VectorCopy(n - j + 1, a + At(j, j, lda), 1, ainv + At(j, j, ldainv), 1);
    }
    for (int32_t i = n; i >= 1; --i) {
      if (NegligiblePivot(x(i, i), small)) {
        singularAt = i;
        break;
      }
      x(i, i) = 1.0 / x(i, i);
      const double t = -x(i, i);
      if (i < n) {
        VectorScale(n - i, t, ainv + At(i + 1, i, ldainv), 1);
        DGER(n - i, i - 1, 1.0, ainv + At(i + 1, i, ldainv), 1, ainv + At(i, 1, ldainv), ldainv,
             ainv + At(i + 1, 1, ldainv), ldainv);
      }
      VectorScale(i - 1, x(i, i), ainv + At(i, 1, ldainv), ldainv);
    }
  } else {
    for (int32_t j = 1; j <= n; ++j) {
      if (j < n) VectorFill(n - j, 0.0, ainv + At(j + 1, j, ldainv), 1);
      if (copy) VectorCopy(j, a + At(1, j, lda), 1, ainv + At(1, j, ldainv), 1);
    }
    // A matrix that is not singular is inverted in blocks; a singular one column by column,
    // which leaves the columns before the singular index as computed.
    int32_t first = 1;
    while (first <= n && !NegligiblePivot(x(first, first), small)) ++first;
    if (first > n) {
      InvertUpperInBlocks(n, ainv, ldainv);
    } else {
      InvertUpperColumns(ainv, ldainv, 1, first - 1, n);
      singularAt = first;
    }
  }
  if (singularAt != 0) {
    StoreIntegerParameter(1, singularAt);
    IssueMessage(kTerminal, 5,
                 "The matrix to be inverted is singular.  The index of the first zero diagonal "
                 "element of A is %(I1).");
  }
}

}  // namespace vesk1
