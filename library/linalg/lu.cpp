#include "linalg/lu.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <utility>

#include "errors/errors.h"
#include "linalg/dispatch.h"
#include "linalg/kernels.h"
#include "linalg/state.h"
#include "workspace.h"

namespace vesk1 {
namespace {

using Index = std::ptrdiff_t;

// Columns per elimination panel: the trailing update combines this many multiplier columns in
// one pass over each column to the right, with the coefficients held in registers.
constexpr int32_t kPanel = 8;

constexpr std::string_view kLdfacText =
    "The order of the matrix must be less than or equal to its leading dimension while N = %(I1) "
    "and LDFAC = %(I2) are given.";

// Sets Z to Z / sum |Z| and returns the factor used.
double Normalize(int32_t n, double* z) {
  const double s = 1.0 / VectorAbsSum(n, z, 1);
  VectorScale(n, s, z, 1);
  return s;
}

// c(i) += sum over m < count of l(i, m) * coef(m) for i = 0 .. rows-1, the terms added in
// column order; l's columns are ld apart. Multiplies l(i, count-1) by t first when scaleLast
// is set: the loop that forms the newest multipliers is the one that uses them.
template <int kCount>
void UpdateColumnFused(Index rows, double* l, Index ld, const double* coef, double* __restrict c,
                       bool scaleLast, double t) {
  double* last = l + (kCount - 1) * ld;
  for (Index i = 0; i < rows; ++i) {
    if (scaleLast) last[i] = last[i] * t;
    double v = c[i];
    for (int m = 0; m < kCount; ++m) v = v + l[m * ld + i] * coef[m];
    c[i] = v;
  }
}

void UpdateColumn(int32_t count, Index rows, double* l, Index ld, const double* coef, double* c,
                  bool scaleLast, double t) {
  switch (count) {
    case 1:
      UpdateColumnFused<1>(rows, l, ld, coef, c, scaleLast, t);
      break;
    case 2:
      UpdateColumnFused<2>(rows, l, ld, coef, c, scaleLast, t);
      break;
    case 3:
      UpdateColumnFused<3>(rows, l, ld, coef, c, scaleLast, t);
      break;
    case 4:
      UpdateColumnFused<4>(rows, l, ld, coef, c, scaleLast, t);
      break;
    case 5:
      UpdateColumnFused<5>(rows, l, ld, coef, c, scaleLast, t);
      break;
    case 6:
      UpdateColumnFused<6>(rows, l, ld, coef, c, scaleLast, t);
      break;
    default:
      UpdateColumnFused<7>(rows, l, ld, coef, c, scaleLast, t);
      break;
  }
}

// The trailing update of a full panel, four columns at a time: c_q(i) += sum over the 8 panel
// columns m of l(i, m) * coef_q(m). Nearly all the arithmetic of the factorization is here.
VESK1_DISPATCH
void RankEightFourColumns(Index rows, const double* l, Index ld, const double* coef,
                          double* __restrict c0, double* __restrict c1, double* __restrict c2,
                          double* __restrict c3) {
  const double* __restrict l0 = l;
  const double* __restrict l1 = l + ld;
  const double* __restrict l2 = l + 2 * ld;
  const double* __restrict l3 = l + 3 * ld;
  const double* __restrict l4 = l + 4 * ld;
  const double* __restrict l5 = l + 5 * ld;
  const double* __restrict l6 = l + 6 * ld;
  const double* __restrict l7 = l + 7 * ld;
  double a[4][kPanel];
  for (int q = 0; q < 4; ++q) {
    for (int m = 0; m < kPanel; ++m) a[q][m] = coef[q * kPanel + m];
  }
  for (Index i = 0; i < rows; ++i) {
    const double m0 = l0[i], m1 = l1[i], m2 = l2[i], m3 = l3[i];
    const double m4 = l4[i], m5 = l5[i], m6 = l6[i], m7 = l7[i];
    double v0 = c0[i], v1 = c1[i], v2 = c2[i], v3 = c3[i];
    v0 = v0 + m0 * a[0][0];
    v1 = v1 + m0 * a[1][0];
    v2 = v2 + m0 * a[2][0];
    v3 = v3 + m0 * a[3][0];
    v0 = v0 + m1 * a[0][1];
    v1 = v1 + m1 * a[1][1];
    v2 = v2 + m1 * a[2][1];
    v3 = v3 + m1 * a[3][1];
    v0 = v0 + m2 * a[0][2];
    v1 = v1 + m2 * a[1][2];
    v2 = v2 + m2 * a[2][2];
    v3 = v3 + m2 * a[3][2];
    v0 = v0 + m3 * a[0][3];
    v1 = v1 + m3 * a[1][3];
    v2 = v2 + m3 * a[2][3];
    v3 = v3 + m3 * a[3][3];
    v0 = v0 + m4 * a[0][4];
    v1 = v1 + m4 * a[1][4];
    v2 = v2 + m4 * a[2][4];
    v3 = v3 + m4 * a[3][4];
    v0 = v0 + m5 * a[0][5];
    v1 = v1 + m5 * a[1][5];
    v2 = v2 + m5 * a[2][5];
    v3 = v3 + m5 * a[3][5];
    v0 = v0 + m6 * a[0][6];
    v1 = v1 + m6 * a[1][6];
    v2 = v2 + m6 * a[2][6];
    v3 = v3 + m6 * a[3][6];
    v0 = v0 + m7 * a[0][7];
    v1 = v1 + m7 * a[1][7];
    v2 = v2 + m7 * a[2][7];
    v3 = v3 + m7 * a[3][7];
    c0[i] = v0;
    c1[i] = v1;
    c2[i] = v2;
    c3[i] = v3;
  }
}

VESK1_DISPATCH
void RankEightOneColumn(Index rows, const double* l, Index ld, const double* coef,
                        double* __restrict c) {
  const double a0 = coef[0], a1 = coef[1], a2 = coef[2], a3 = coef[3];
  const double a4 = coef[4], a5 = coef[5], a6 = coef[6], a7 = coef[7];
  for (Index i = 0; i < rows; ++i) {
    double v = c[i];
    v = v + l[i] * a0;
    v = v + l[ld + i] * a1;
    v = v + l[2 * ld + i] * a2;
    v = v + l[3 * ld + i] * a3;
    v = v + l[4 * ld + i] * a4;
    v = v + l[5 * ld + i] * a5;
    v = v + l[6 * ld + i] * a6;
    v = v + l[7 * ld + i] * a7;
    c[i] = v;
  }
}

// Forward substitution of rows k+1 .. k+count-1 of column c (0-based) with the multipliers of
// the panel's first `count` columns: each row takes those of the columns before it, in order.
void SubstituteInPanel(const double* fac, Index ld, int32_t k, int32_t count, double* c) {
  for (int32_t r = k + 1; r < k + count; ++r) {
    double v = c[r];
    for (int32_t m = k; m < r; ++m) v = v + fac[r + m * ld] * c[m];
    c[r] = v;
  }
}

// SubstituteInPanel on the whole panel (8 rows) of four columns side by side: the same
// operations in the same order for each column, their chains of additions overlapping. Leaves
// the panel's rows of column s also in panel[s * 8 ..].
void SubstituteInPanelFour(const double* fac, Index ld, int32_t k, double* const* c,
                           double* panel) {
  double v[kPanel][4];
  for (int m = 0; m < kPanel; ++m) {
    for (int s = 0; s < 4; ++s) v[m][s] = c[s][k + m];
  }
  for (int r = 1; r < kPanel; ++r) {
    const double* row = fac + (k + r) + k * ld;
    for (int m = 0; m < r; ++m) {
      const double f = row[m * ld];
      for (int s = 0; s < 4; ++s) v[r][s] = v[r][s] + f * v[m][s];
    }
  }
  for (int s = 0; s < 4; ++s) {
    for (int m = 0; m < kPanel; ++m) {
      c[s][k + m] = v[m][s];
      panel[s * kPanel + m] = v[m][s];
    }
  }
}

// Brings rows k .. k+count-1 of column c (0-based) up to date with the panel's first `count`
// steps: their row exchanges in order, then forward substitution with the panel's multipliers.
void ExchangeAndSubstitute(double* fac, Index ld, const int32_t* pivot, int32_t k, int32_t count,
                           double* c) {
  for (int32_t m = k; m < k + count; ++m) {
    const int32_t p = pivot[m] - 1;
    if (p != m) std::swap(c[m], c[p]);
  }
  SubstituteInPanel(fac, ld, k, count, c);
}

// Rows above a tile that take the earlier panels' terms in one product (whole panels).
constexpr int32_t kTopRows = 64;

// Rows of U that the condition estimate copies together at most.
constexpr int32_t kEstimateRows = 64;

// Steps whose rows BringColumnsUpToDate packs together at most (whole panels); the scratch
// then holds kFactorColumnsSize / kLongestSegment columns of them, and more of fewer steps.
constexpr Index kLongestSegment = 512;

// Rows r0 .. r1-1 of the tile's columns t0 .. t1-1 take the products of the multiplier columns
// m0 .. m1-1 with the rows m0 .. m1-1 of the tile, in the order of those columns.
void AddProducts(double* fac, Index ld, Index r0, Index r1, Index m0, Index m1, Index t0,
                 Index t1) {
  const double* columns[kProductColumns];
  for (Index q0 = t0; q0 < t1; q0 += kProductColumns) {
    const int32_t cols = static_cast<int32_t>(std::min<Index>(kProductColumns, t1 - q0));
    for (int32_t q = 0; q < cols; ++q) columns[q] = fac + m0 + (q0 + q) * ld;
    AddProductsInOrder(r1 - r0, cols, m1 - m0, fac + r0 + m0 * ld, ld, columns, fac + r0 + q0 * ld);
  }
}

// Applies the row exchanges of steps s0 .. s1-1, in order, to the columns c0 .. c1-1. A few
// columns take each exchange in turn, so that the processor fetches their rows at once.
void ExchangeRows(double* fac, Index ld, const int32_t* pivot, int32_t s0, int32_t s1, int32_t c0,
                  int32_t c1) {
  constexpr int32_t kTogether = 8;
  int32_t q = c0;
  for (; q + kTogether <= c1; q += kTogether) {
    double* c = fac + q * ld;
    // The rows the next columns exchange lie anywhere below: they are asked for now, so that
    // they arrive while these columns take their exchanges.
    const bool more = q + 2 * kTogether <= c1;
    for (int32_t m = s0; m < s1; ++m) {
      const int32_t p = pivot[m] - 1;
      if (more) {
        for (int32_t s = kTogether; s < 2 * kTogether; ++s) __builtin_prefetch(c + s * ld + p, 1);
      }
      if (p == m) continue;
      for (int32_t s = 0; s < kTogether; ++s) std::swap(c[s * ld + m], c[s * ld + p]);
    }
  }
  for (; q < c1; ++q) {
    double* c = fac + q * ld;
    for (int32_t m = s0; m < s1; ++m) {
      const int32_t p = pivot[m] - 1;
      if (p != m) std::swap(c[m], c[p]);
    }
  }
}

// Gives the columns c0 .. c1-1 the steps s0 .. s1-1 of the elimination (s1 <= c0; s0 and s1
// on panel boundaries), as the whole-matrix schedule would have given them, entry by entry in
// the same order; the columns must hold every step before s0 already. First the row exchanges
// of the steps, then for each panel its forward substitution on its own 8 rows and its rank-8
// terms on the rows below. The multiplier columns s0 .. s1-1 must have the exchanges of all
// steps before s1 applied (the row order of step s1), so that the exchanges on the columns can
// all come first and the terms of many panels can be added at once.
void BringColumnsUpToDate(int32_t n, double* fac, Index ld, const int32_t* pivot, int32_t s0,
                          int32_t s1, int32_t c0, int32_t c1) {
  // Rows s0 .. s1-1 of the columns, once complete, are the second factor of the products below
  // them: they are packed once, as many columns and steps at a time as the scratch holds. The
  // steps go in segments of at most kLongestSegment, each segment's products reaching every row
  // below it before the next segment begins; the rows stay in the order of step s1 throughout.
  double* packed = LinearAlgebra().products.factorColumns;
  const Index segment = std::min<Index>(s1 - s0, kLongestSegment);
  const int32_t chunk =
      static_cast<int32_t>(kFactorColumnsSize / segment / kProductGroup * kProductGroup);
  for (int32_t q0 = c0; q0 < c1; q0 += chunk) {
    const int32_t q1 = std::min(c1 - q0, chunk) + q0;
    const Index cols = q1 - q0;
    double* columns = fac + q0 * ld;
    ExchangeRows(fac, ld, pivot, s0, s1, q0, q1);
    for (int32_t g0 = s0; g0 < s1; g0 += static_cast<int32_t>(segment)) {
      const int32_t g1 = static_cast<int32_t>(std::min<Index>(g0 + segment, s1));
      const Index depth = g1 - g0;
      const double* multipliers = fac + g0 * ld;
      // The segment's rows in blocks of kTopRows: first the terms of the segment's steps above
      // the block, as one product; then, panel by panel inside the block, the terms of the
      // block's earlier panels and the panel's own forward substitution.
      for (int32_t b0 = g0; b0 < g1; b0 += kTopRows) {
        const int32_t b1 = std::min(b0 + kTopRows, g1);
        AddPackedProducts(b1 - b0, cols, b0 - g0, multipliers + b0, ld, packed, depth, columns + b0,
                          ld);
        for (int32_t k = b0; k < b1; k += kPanel) {
          AddProducts(fac, ld, k, k + kPanel, b0, k, q0, q1);
          int32_t q = q0;
          for (double panel[4 * kPanel]; q + 4 <= q1; q += 4) {
            double* c[4] = {fac + q * ld, fac + (q + 1) * ld, fac + (q + 2) * ld,
                            fac + (q + 3) * ld};
            SubstituteInPanelFour(fac, ld, k, c, panel);
          }
          for (; q < q1; ++q) SubstituteInPanel(fac, ld, k, kPanel, fac + q * ld);
        }
        PackProductColumns(b1 - b0, cols, columns + b0, ld, b0 - g0, depth, packed);
      }
      AddPackedProducts(n - g1, cols, depth, multipliers + g1, ld, packed, depth, columns + g1, ld);
    }
  }
}

// Applies the row exchanges of steps t0 .. t1-1 to the multiplier columns first .. t1-2 left
// of each step, so that each of those columns has the row order of step t1.
void ApplyExchangesToLeftColumns(double* fac, Index ld, const int32_t* pivot, int32_t first,
                                 int32_t t0, int32_t t1) {
  for (int32_t j = first; j < t1 - 1; ++j) {
    double* c = fac + j * ld;
    for (int32_t m = std::max(t0, j + 1); m < t1; ++m) {
      const int32_t p = pivot[m] - 1;
      if (p != m) std::swap(c[m], c[p]);
    }
  }
}

// Undoes the exchanges of the steps before `end` on the multiplier columns first .. end-2 left
// of each, in reverse, leaving every multiplier in the row where it was formed.
void UndoExchangesOnLeftColumns(double* fac, Index ld, const int32_t* pivot, int32_t first,
                                int32_t end) {
  for (int32_t j = first; j < end - 1; ++j) {
    double* c = fac + j * ld;
    for (int32_t m = end - 1; m > j; --m) {
      const int32_t p = pivot[m] - 1;
      if (p != m) std::swap(c[m], c[p]);
    }
  }
}

// The elimination of the columns t0 .. t1-1, which are up to date with every step before t0,
// in panels of 8 columns, 0-based. Inside a panel each column is brought up to date only when
// its turn comes (the exchanges and multipliers of the panel's earlier columns are applied to
// it in one pass); after a full panel every column to its right up to t1 takes the 8 steps at
// once. While a panel is open, its multiplier columns follow the later row exchanges so that
// their rows match the working matrix; the exchanges are undone when the panel closes,
// leaving every multiplier in the row where it was formed. Returns whether a pivot was at most
// `small`.
bool EliminateTile(int32_t n, double* fac, Index ld, int32_t* pivot, double* scale, double small,
                   int32_t t0, int32_t t1) {
  auto column = [&](int32_t j) { return fac + j * ld; };
  bool singular = false;
  for (int32_t k = t0; k < std::min(t1, n - 1); k += kPanel) {
    const int32_t last = std::min(k + kPanel - 1, n - 2);
    const bool full = last == k + kPanel - 1;
    for (int32_t j = k; j <= last; ++j) {
      double* cj = column(j);
      int32_t found = 1;
      IndexOfMaxProduct(n - j, cj + j, scale + j, found);
      const int32_t l = j + found - 1;
      pivot[j] = l + 1;
      if (l != j) {
        std::swap(scale[j], scale[l]);
        std::swap(cj[j], cj[l]);
        for (int32_t m = k; m < j; ++m) std::swap(column(m)[j], column(m)[l]);
      }
      // A pivot at most the safe minimum, or NaN, is never divided by: its column gets no
      // multipliers and the matrix is reported singular at the end.
      const bool usable = !NegligiblePivot(cj[j], small);
      if (!usable) singular = true;
      const double t = usable ? -1.0 / cj[j] : 1.0;
      const Index below = n - 1 - j;
      if (j < k + kPanel - 1) {
        double* next = column(j + 1);
        ExchangeAndSubstitute(fac, ld, pivot, k, j - k + 1, next);
        UpdateColumn(j - k + 1, below, column(k) + j + 1, ld, next + k, next + j + 1, usable, t);
      } else if (usable) {
        VectorScale(static_cast<int32_t>(below), t, cj + j + 1, 1);
      }
    }
    if (full && k + kPanel < t1) {
      const int32_t first = k + kPanel;
      const Index rows = n - first;
      const double* l = column(k) + first;
      int32_t q = t1 - 1;
      double coef[4 * kPanel];
      for (; q - 3 >= first; q -= 4) {
        double* c[4] = {column(q), column(q - 1), column(q - 2), column(q - 3)};
        for (int32_t m = k; m < k + kPanel; ++m) {
          const int32_t p = pivot[m] - 1;
          if (p == m) continue;
          for (int s = 0; s < 4; ++s) std::swap(c[s][m], c[s][p]);
        }
        SubstituteInPanelFour(fac, ld, k, c, coef);
        RankEightFourColumns(rows, l, ld, coef, c[0] + first, c[1] + first, c[2] + first,
                             c[3] + first);
      }
      for (; q >= first; --q) {
        double* c = column(q);
        ExchangeAndSubstitute(fac, ld, pivot, k, kPanel, c);
        RankEightOneColumn(rows, l, ld, c + k, c + first);
      }
    }
    for (int32_t j = last; j > k; --j) {
      const int32_t p = pivot[j] - 1;
      if (p == j) continue;
      for (int32_t m = k; m < j; ++m) std::swap(column(m)[j], column(m)[p]);
    }
  }
  return singular;
}

// The end of the stretch of columns, from `start` up to `end`, that one tile or block of
// `width` columns takes: the last one takes what is left when that is less than two widths (a
// small rest gains nothing from being split).
int32_t StretchEnd(int32_t start, int32_t end, int32_t width) {
  return end - start < 2 * static_cast<int64_t>(width) ? end : start + width;
}

// The elimination of all N columns, block by block and, inside a block, tile by tile. A block
// of `blockColumns` columns (rounded down to whole tiles) holds every step before it when it
// starts; each of its tiles of `tileColumns` columns (rounded down to whole panels) receives
// the pending steps of the block's earlier tiles just before its own elimination, so that it is
// read from memory once for many panels instead of once per panel. A finished block then gives
// its steps to all the columns to its right at once, as products of many panels with many
// columns, which is where nearly all the arithmetic of a large matrix is done. Every entry of FAC
// takes the same operations in the same order whatever the widths; a tile width of at least N
// makes every full panel update the whole trailing matrix at once.
bool Eliminate(int32_t n, double* fac, int32_t ldfac, int32_t* pivot, double* scale, double small,
               int32_t tileColumns, int32_t blockColumns) {
  const Index ld = ldfac;
  const int32_t width = std::max(kPanel, tileColumns / kPanel * kPanel);
  if (blockColumns == kChosenBlock) {
    const int64_t twoTiles =
        std::min<int64_t>(2 * static_cast<int64_t>(width), kWholeTrailingMatrix);
    blockColumns = n >= 4 * kBlockColumns ? kBlockColumns : static_cast<int32_t>(twoTiles);
  }
  const int32_t block = std::max(width, blockColumns / width * width);
  bool singular = false;
  for (int32_t b0 = 0; b0 < n;) {
    const int32_t b1 = StretchEnd(b0, n, block);
    // The multiplier columns of this block follow the later exchanges of the block's steps up
    // to `ordered`, until the block gives its steps to the columns to its right.
    int32_t ordered = b0;
    for (int32_t t0 = b0; t0 < b1;) {
      const int32_t t1 = StretchEnd(t0, b1, width);
      if (t0 > b0) BringColumnsUpToDate(n, fac, ld, pivot, b0, t0, t0, t1);
      if (EliminateTile(n, fac, ld, pivot, scale, small, t0, t1)) singular = true;
      if (t1 < n) {
        ApplyExchangesToLeftColumns(fac, ld, pivot, b0, t0, t1);
        ordered = t1;
      }
      t0 = t1;
    }
    if (b1 < n) BringColumnsUpToDate(n, fac, ld, pivot, b0, b1, b1, n);
    UndoExchangesOnLeftColumns(fac, ld, pivot, b0, ordered);
    b0 = b1;
  }
  return singular;
}

// Copies A into FAC (DCRGRG's copy: nothing moves when FAC is the storage of A) and, in the
// same pass over A, gathers in SCALE the largest magnitude of each row and, when NORM is given,
// sets it to DNR1RR's norm of A. The largest magnitudes are gathered column by column, in
// storage order, but as a search along each row would find them: a later entry takes over
// only when strictly larger (so a NaN never does). The column sums are added as VectorAbsSum
// adds them, each in index order, and compared in column order; four columns go side by side so
// that their chains of additions overlap.
void CopyAndMeasure(int32_t n, const double* a, Index lda, double* fac, Index ldfac,
                    double* scale, double* norm) {
  const bool copy = a != fac || lda != ldfac;
  double first = 0.0;
  for (int32_t i = 0; i < n; ++i) {
    const double v = a[i];
    if (copy) fac[i] = v;
    scale[i] = std::fabs(v);
    first += std::fabs(v);
  }
  double largest = 0.0;
  if (first >= largest) largest = first;
  int32_t j = 1;
  for (; j + 4 <= n; j += 4) {
    const double* c = a + j * lda;
    double* to = fac + j * ldfac;
    double s0 = 0.0, s1 = 0.0, s2 = 0.0, s3 = 0.0;
    for (Index i = 0; i < n; ++i) {
      const double v0 = c[i], v1 = c[lda + i], v2 = c[2 * lda + i], v3 = c[3 * lda + i];
      if (copy) {
        to[i] = v0;
        to[ldfac + i] = v1;
        to[2 * ldfac + i] = v2;
        to[3 * ldfac + i] = v3;
      }
      const double m0 = std::fabs(v0), m1 = std::fabs(v1), m2 = std::fabs(v2);
      const double m3 = std::fabs(v3);
      double m = scale[i];
      m = m0 > m ? m0 : m;
      m = m1 > m ? m1 : m;
      m = m2 > m ? m2 : m;
      m = m3 > m ? m3 : m;
      scale[i] = m;
      s0 += m0;
      s1 += m1;
      s2 += m2;
      s3 += m3;
    }
    for (const double s : {s0, s1, s2, s3}) {
      if (s >= largest) largest = s;
    }
  }
  for (; j < n; ++j) {
    const double* c = a + j * lda;
    double* to = fac + j * ldfac;
    double sum = 0.0;
    for (Index i = 0; i < n; ++i) {
      const double v = c[i];
      if (copy) to[i] = v;
      const double m = std::fabs(v);
      scale[i] = m > scale[i] ? m : scale[i];
      sum += m;
    }
    if (sum >= largest) largest = sum;
  }
  if (norm != nullptr) *norm = largest;
}

// DL2TRG, which also sets NORM, when given, to DNR1RR's norm of A.
void FactorAndMeasure(int32_t n, const double* a, int32_t lda, double* fac, int32_t ldfac,
                      int32_t* pivot, double* scale, int32_t tileColumns, int32_t blockColumns,
                      double* norm) {
  RoutineGuard guard("DL2TRG");
  CheckOrderAndLeadingDimensions(n, lda, ldfac, kLdfacText);
  if (N1RTY(0) != 0) return;

  // Row scales from the input matrix, computed once: the pivot is chosen on |a(i, k)| times
  // the reciprocal of row i's largest magnitude, so a row with one huge entry elsewhere does
  // not win the pivot merely by its size. Tiny or zero rows stay unscaled.
  CopyAndMeasure(n, a, lda, fac, ldfac, scale, norm);
  const double small = SafeMinimum();
  for (int32_t i = 0; i < n; ++i) scale[i] = scale[i] >= small ? 1.0 / scale[i] : 1.0;

  bool singular = Eliminate(n, fac, ldfac, pivot, scale, small, tileColumns, blockColumns);
  pivot[n - 1] = n;
  // The last pivot is tested as the others are: a NaN left there by a NaN anywhere in the
  // matrix makes it singular, never a silent result.
  if (NegligiblePivot(fac[At(n, n, ldfac)], small)) singular = true;
  if (singular) {
    IssueMessage(kFatal, 2,
                 "The input matrix is singular.  Some of the diagonal elements of the upper "
                 "triangular matrix U of the LU factorization are close to zero.");
  }
}

}  // namespace

bool CheckOrderAndLeadingDimensions(int32_t n, int32_t lda, int32_t ld, std::string_view ldText) {
  if (n < 1) {
    StoreIntegerParameter(1, n);
    IssueMessage(kTerminal, 1,
                 "The order of the matrix must be positive while N = %(I1) is given.");
  } else if (n > lda) {
    StoreIntegerParameter(1, n);
    StoreIntegerParameter(2, lda);
    IssueMessage(kTerminal, 2,
                 "The order of the matrix must be less than or equal to its leading dimension "
                 "while N = %(I1) and LDA = %(I2) are given.");
  } else if (n > ld) {
    StoreIntegerParameter(1, n);
    StoreIntegerParameter(2, ld);
    IssueMessage(kTerminal, 3, ldText);
  } else {
    return true;
  }
  return false;
}

bool IllConditioned(double rcond) {
  return !(rcond > DMACH(4));
}

double SafeMinimum() {
  const double tiny = DMACH(1);
  const double huge = DMACH(2);
  return tiny * huge < 1.0 ? 1.0 / huge : tiny;
}

void DLFCRG(int32_t n, const double* a, int32_t lda, double* fac, int32_t ldfac, int32_t* pivot,
            double& rcond) {
  RoutineGuard guard("DLFCRG");
  if (n <= 0) {
    StoreIntegerParameter(1, n);
    IssueMessage(kTerminal, 1,
                 "The order of the matrix must be positive while N = %(i1) is given.");
    return;
  }
  Workspace<double> work(static_cast<uint64_t>(n));
  if (!work) {
    IssueStorageFailure(n);
    return;
  }
  DL2CRG(n, a, lda, fac, ldfac, pivot, rcond, work.get());
}

void DL2CRG(int32_t n, const double* a, int32_t lda, double* fac, int32_t ldfac, int32_t* pivot,
            double& rcond, double* work, int32_t tileColumns, int32_t blockColumns) {
  RoutineGuard guard("DL2CRG");
  CheckOrderAndLeadingDimensions(n, lda, ldfac, kLdfacText);
  if (N1RTY(0) != 0) return;

  rcond = 1.0;
  const int32_t option[1] = {17};
  int32_t values[2] = {0, 0};
  IUMAG("MATH", 1, 1, 1, option, values);
  const int32_t flag = values[1];
  if (flag != 1 && flag != 2) {
    StoreIntegerParameter(1, flag);
    IssueMessage(kTerminal, 4,
                 "The flag value for computing the matrix condition number must be 1 or 2 while "
                 "%(I1) is given.");
    return;
  }
  // The norm is taken while A is copied, before factoring: FAC may be the storage of A.
  double norm = 0.0;
  FactorAndMeasure(n, a, lda, fac, ldfac, pivot, work, tileColumns, blockColumns,
                   flag == 2 ? &norm : nullptr);
  if (N1RTY(1) == kFatal) return;
  if (flag == 2) EstimateReciprocalCondition(n, fac, ldfac, pivot, norm, work, rcond);
  if (IllConditioned(rcond)) {
    StoreDoubleParameter(1, rcond);
    IssueMessage(kWarning, 1,
                 "The matrix is algorithmically singular.  An estimate of the reciprocal of its "
                 "L1 condition number is RCOND = %(D1).");
  }
}

void EstimateReciprocalCondition(int32_t n, const double* fac, int32_t ldfac, const int32_t* pivot,
                                 double norm, double* z, double& rcond) {
  // 1-based views of U (the upper triangle of FAC) and Z.
  auto u = [&](int32_t i, int32_t j) { return fac[At(i, j, ldfac)]; };
  auto zk = [&](int32_t k) -> double& { return z[k - 1]; };

  // Solve transpose(U) * w = e, choosing the signs of e for growth. Step k reads row k of U
  // to the right of the diagonal, which lies across the columns: the rows of a few steps at a
  // time are first copied into the scratch, each into one contiguous run.
  double* copied = LinearAlgebra().products.factorColumns;
  const int32_t together = std::min<Index>(kEstimateRows, kFactorColumnsSize / n);
  VectorFill(n, 0.0, z, 1);
  double e = 1.0;
  for (int32_t k0 = 1; k0 <= n; k0 += std::max(together, 1)) {
    const int32_t k1 = std::min(n, k0 + std::max(together, 1) - 1);
    const Index width = n - k0 + 1;
    if (together > 0) {
      // Eight columns at a time, so that each row of the copy takes a whole run of eight
      // instead of one scattered element per column.
      const Index rows = k1 - k0 + 1;
      const Index ld = ldfac;
      int32_t j = k0;
      for (; j + 7 <= n; j += 8) {
        const double* column = fac + At(k0, j, ldfac);
        double* to = copied + (j - k0);
        for (Index r = 0; r < rows; ++r) {
          for (Index s = 0; s < 8; ++s) to[r * width + s] = column[r + s * ld];
        }
      }
      for (; j <= n; ++j) {
        const double* column = fac + At(k0, j, ldfac);
        for (Index r = 0; r < rows; ++r) copied[r * width + (j - k0)] = column[r];
      }
    }
    for (int32_t k = k0; k <= k1; ++k) {
      if (zk(k) != 0.0) e = -zk(k) >= 0.0 ? std::fabs(e) : -std::fabs(e);
      const double ukk = std::fabs(u(k, k));
      if (std::fabs(e - zk(k)) > ukk) {
        const double s = ukk / std::fabs(e - zk(k));
        VectorScale(n, s, z, 1);
        e = s * e;
      }
      double wp = e - zk(k);
      double wm = -e - zk(k);
      double sp = std::fabs(wp);
      double sn = std::fabs(wm);
      if (u(k, k) != 0.0) {
        wp = wp / u(k, k);
        wm = wm / u(k, k);
      } else {
        wp = 1.0;
        wm = 1.0;
      }
      if (k < n) {
        // u(k, k + 1 + i) = row[i * step].
        const double* row =
            together > 0 ? copied + (k - k0) * width + (k + 1 - k0) : fac + At(k, k + 1, ldfac);
        const Index step = together > 0 ? 1 : ldfac;
        double* right = z + k;
        const Index count = n - k;
        for (Index i = 0; i < count; ++i) {
          const double ukj = row[i * step];
          sn = sn + std::fabs(right[i] + wm * ukj);
          right[i] = right[i] + wp * ukj;
          sp = sp + std::fabs(right[i]);
        }
        if (sp < sn) {
          const double t = wm - wp;
          wp = wm;
          // As VectorAxpy along the row: nothing when t = 0, and the products added with
          // the rounding of its strided loop, which this file shares.
          if (t != 0.0) {
            for (Index i = 0; i < count; ++i) right[i] = right[i] + t * row[i * step];
          }
        }
      }
      zk(k) = wp;
    }
  }
  Normalize(n, z);

  // Solve transpose(L) * y = w.
  for (int32_t k = n; k >= 1; --k) {
    if (k < n) zk(k) = zk(k) + VectorDot(n - k, fac + At(k + 1, k, ldfac), 1, z + k, 1);
    if (std::fabs(zk(k)) > 1.0) VectorScale(n, 1.0 / std::fabs(zk(k)), z, 1);
    std::swap(zk(k), zk(pivot[k - 1]));
  }
  Normalize(n, z);
  double yn = 1.0;

  // Solve L * v = y.
  for (int32_t k = 1; k <= n; ++k) {
    const int32_t l = pivot[k - 1];
    const double t = zk(l);
    zk(l) = zk(k);
    zk(k) = t;
    if (k < n) VectorAxpy(n - k, t, fac + At(k + 1, k, ldfac), 1, z + k, 1);
    if (std::fabs(zk(k)) > 1.0) {
      const double s = 1.0 / std::fabs(zk(k));
      VectorScale(n, s, z, 1);
      yn = s * yn;
    }
  }
  yn = Normalize(n, z) * yn;

  // Solve U * z = v.
  for (int32_t k = n; k >= 1; --k) {
    const double ukk = u(k, k);
    if (std::fabs(zk(k)) > std::fabs(ukk)) {
      const double s = std::fabs(ukk) / std::fabs(zk(k));
      VectorScale(n, s, z, 1);
      yn = s * yn;
    }
    zk(k) = ukk != 0.0 ? zk(k) / ukk : 1.0;
    VectorAxpy(k - 1, -zk(k), fac + At(1, k, ldfac), 1, z, 1);
  }
  yn = Normalize(n, z) * yn;

  if (norm != 0.0) rcond = yn / norm;
}

void DL2TRG(int32_t n, const double* a, int32_t lda, double* fac, int32_t ldfac, int32_t* pivot,
            double* scale, int32_t tileColumns, int32_t blockColumns) {
  FactorAndMeasure(n, a, lda, fac, ldfac, pivot, scale, tileColumns, blockColumns, nullptr);
}

void DNR1RR(int32_t nra, int32_t nca, const double* a, int32_t lda, double& result) {
  RoutineGuard guard("DNR1RR");
  if (nra > lda) {
    StoreIntegerParameter(1, nra);
    StoreIntegerParameter(2, lda);
    IssueMessage(kTerminal, 1,
                 "The number of rows of the input matrix must be less than or equal to the "
                 "leading dimension while NRA = %(I1) and LDA = %(I2) are given.");
    return;
  }
  if (nra <= 0) {
    StoreIntegerParameter(1, nra);
    IssueMessage(kTerminal, 2,
                 "The number of rows of the input matrix must be greater than zero while NRA = "
                 "%(I1) is given.");
  }
  if (nca <= 0) {
    StoreIntegerParameter(1, nca);
    IssueMessage(kTerminal, 3,
                 "The number of columns of the input matrix must be greater than zero while NCA "
                 "= %(I1) is given.");
  }
  if (N1RCD(0) != 0) return;
  // The column sums as VectorAbsSum adds them, each in index order, four columns side by side
  // so that their additions overlap; compared in column order.
  double largest = 0.0;
  int32_t j = 1;
  for (; j + 3 <= nca; j += 4) {
    const double* c = a + At(1, j, lda);
    const Index ld = lda;
    double s0 = 0.0, s1 = 0.0, s2 = 0.0, s3 = 0.0;
    for (Index i = 0; i < nra; ++i) {
      s0 += std::fabs(c[i]);
      s1 += std::fabs(c[ld + i]);
      s2 += std::fabs(c[2 * ld + i]);
      s3 += std::fabs(c[3 * ld + i]);
    }
    for (const double s : {s0, s1, s2, s3}) {
      if (s >= largest) largest = s;
    }
  }
  for (; j <= nca; ++j) {
    const double s = VectorAbsSum(nra, a + At(1, j, lda), 1);
    if (s >= largest) largest = s;
  }
  result = largest;
}

void DCRGRG(int32_t n, const double* a, int32_t lda, double* b, int32_t ldb) {
  RoutineGuard guard("DCRGRG");
  if (n < 1) {
    StoreIntegerParameter(1, n);
    IssueMessage(kTerminal, 1, "The argument N = %(I1).  It must be at least 1.");
  } else if (lda < n) {
    StoreIntegerParameter(1, lda);
    StoreIntegerParameter(2, n);
    IssueMessage(kTerminal, 2,
                 "The argument LDA = %(I1).  It must be at least as large as N = %(I2).");
  } else if (ldb < n) {
    StoreIntegerParameter(1, ldb);
    StoreIntegerParameter(2, n);
    IssueMessage(kTerminal, 3,
                 "The argument LDB = %(I1).  It must be at least as large as N = %(I2).");
  }
  if (N1RTY(0) != 0) return;
  for (int32_t j = 1; j <= n; ++j) {
    const double* from = a + At(1, j, lda);
    double* to = b + At(1, j, ldb);
    if (from == to) continue;  // the self-copy of an in-place factorization
    for (int32_t i = 0; i < n; ++i) to[i] = from[i];
  }
}

}  // namespace vesk1
