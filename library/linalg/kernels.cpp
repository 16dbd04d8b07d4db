#include "linalg/kernels.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "errors/errors.h"
#include "linalg/dispatch.h"
#include "linalg/state.h"
#include "workspace.h"

namespace vesk1 {
namespace {

using Index = std::ptrdiff_t;

// Offset of the first element an n-element vector uses under the general rule.
Index FirstOffset(int32_t n, int32_t inc) {
  return inc < 0 ? static_cast<Index>(n - 1) * -static_cast<Index>(inc) : 0;
}

// Reports a failed argument check of a level-2 kernel: the kernel's name is on the stack only
// while the message is issued.
void ReportKernelError(std::string_view name, int32_t code, std::string_view text) {
  E1PSH(name);
  IssueMessage(kTerminal, code, text);
  E1POP(name);
}

// The opening checks of DGEMV and DGER, codes 1 to 5 in this order: M < 0, N < 0, LDA < max(M, 1),
// INCX = 0, INCY = 0. Reports the first failure under the kernel's NAME and returns false;
// returns true when all five pass.
bool CheckShapeAndIncrements(std::string_view name, int32_t m, int32_t n, int32_t lda, int32_t incx,
                             int32_t incy) {
  if (m < 0) {
    StoreIntegerParameter(1, m);
    ReportKernelError(name, 1, "M must be greater than or equal to zero while %(I1) is given.");
  } else if (n < 0) {
    StoreIntegerParameter(1, n);
    ReportKernelError(name, 2, "N must be greater than or equal to zero while %(I1) is given.");
  } else if (lda < m || lda == 0) {
    StoreIntegerParameter(1, lda);
    StoreIntegerParameter(2, m);
    ReportKernelError(name, 3,
                      "LDA must be greater than or equal to M and greater than zero while LDA = "
                      "%(I1) and M = %(I2) are given.");
  } else if (incx == 0) {
    StoreIntegerParameter(1, incx);
    ReportKernelError(name, 4, "INCX must not be equal to zero while %(I1) is given.");
  } else if (incy == 0) {
    StoreIntegerParameter(1, incy);
    ReportKernelError(name, 5, "INCY must not be equal to zero while %(I1) is given.");
  } else {
    return true;
  }
  return false;
}

// Stores the first character of a text argument for "%(L1)".
void StoreFirstLetter(std::string_view text) {
  StoreLiteralParameter(1, text.substr(0, 1));
}

char FirstLetter(std::string_view text) {
  return text.empty() ? ' ' : text.front();
}

// Columns DGEMV adds to y in one pass over it.
constexpr int kGemvColumns = 8;

// y(1 .. m) += c(0) * a(., 0) + ... + c(7) * a(., 7), the columns ld apart, each added in turn
// so that every y(i) sees the same sequence of additions as eight separate axpys.
VESK1_DISPATCH
void AxpyEightColumns(Index m, const double* c, const double* a, Index ld, double* __restrict y) {
  const double* a0 = a;
  const double* a1 = a + ld;
  const double* a2 = a + 2 * ld;
  const double* a3 = a + 3 * ld;
  const double* a4 = a + 4 * ld;
  const double* a5 = a + 5 * ld;
  const double* a6 = a + 6 * ld;
  const double* a7 = a + 7 * ld;
  const double c0 = c[0], c1 = c[1], c2 = c[2], c3 = c[3];
  const double c4 = c[4], c5 = c[5], c6 = c[6], c7 = c[7];
  for (Index i = 0; i < m; ++i) {
    double v = y[i];
    v = v + c0 * a0[i];
    v = v + c1 * a1[i];
    v = v + c2 * a2[i];
    v = v + c3 * a3[i];
    v = v + c4 * a4[i];
    v = v + c5 * a5[i];
    v = v + c6 * a6[i];
    v = v + c7 * a7[i];
    y[i] = v;
  }
}

VESK1_DISPATCH
void AxpyUnit(Index n, double a, const double* x, double* y) {
  for (Index i = 0; i < n; ++i) y[i] = y[i] + a * x[i];
}

// a(., j) += x * c(j) for four columns: one rank-1 step on each.
VESK1_DISPATCH
void RankOneFourColumns(Index m, const double* __restrict x, const double* c, double* a0,
                        double* a1, double* a2, double* a3) {
  const double c0 = c[0], c1 = c[1], c2 = c[2], c3 = c[3];
  for (Index i = 0; i < m; ++i) {
    const double xi = x[i];
    a0[i] = a0[i] + xi * c0;
    a1[i] = a1[i] + xi * c1;
    a2[i] = a2[i] + xi * c2;
    a3[i] = a3[i] + xi * c3;
  }
}

// Rows of C and depth of one call of AddProductsBlock: a block of A (rows by depth) and of B
// (depth by up to 64 columns) stay in the second-level cache while every column takes them.
constexpr Index kProductRows = 256;
constexpr Index kProductDepth = 64;

// Four doubles at any 8-byte aligned address: a 256-bit register where the processor has one.
typedef double Quad __attribute__((vector_size(32), aligned(8)));

// c(i, q) += sum over m < depth of l(i, m) * u[q][m] for i < rows, q < cols, the terms added in
// order of m, one by one, each as the rank-8 kernels of the factorization add theirs. The
// columns of l and c are ld apart; u holds the start of each column of B. Blocks of 8 rows by
// 4 columns are kept in registers over the whole depth.
[[gnu::always_inline]] inline void AddProductsByQuads(Index rows, Index cols, Index depth,
                                                      const double* l, const double* const* u,
                                                      double* c, Index ld) {
  Index q = 0;
  for (; q + 4 <= cols; q += 4) {
    const double* u0 = u[q];
    const double* u1 = u[q + 1];
    const double* u2 = u[q + 2];
    const double* u3 = u[q + 3];
    double* c0 = c + q * ld;
    double* c1 = c0 + ld;
    double* c2 = c1 + ld;
    double* c3 = c2 + ld;
    Index i = 0;
    for (; i + 8 <= rows; i += 8) {
      Quad a0 = *reinterpret_cast<const Quad*>(c0 + i);
      Quad b0 = *reinterpret_cast<const Quad*>(c0 + i + 4);
      Quad a1 = *reinterpret_cast<const Quad*>(c1 + i);
      Quad b1 = *reinterpret_cast<const Quad*>(c1 + i + 4);
      Quad a2 = *reinterpret_cast<const Quad*>(c2 + i);
      Quad b2 = *reinterpret_cast<const Quad*>(c2 + i + 4);
      Quad a3 = *reinterpret_cast<const Quad*>(c3 + i);
      Quad b3 = *reinterpret_cast<const Quad*>(c3 + i + 4);
      const double* lm = l + i;
      for (Index m = 0; m < depth; ++m, lm += ld) {
        const Quad x = *reinterpret_cast<const Quad*>(lm);
        const Quad y = *reinterpret_cast<const Quad*>(lm + 4);
        const double v0 = u0[m], v1 = u1[m], v2 = u2[m], v3 = u3[m];
        a0 = a0 + x * v0;
        b0 = b0 + y * v0;
        a1 = a1 + x * v1;
        b1 = b1 + y * v1;
        a2 = a2 + x * v2;
        b2 = b2 + y * v2;
        a3 = a3 + x * v3;
        b3 = b3 + y * v3;
      }
      *reinterpret_cast<Quad*>(c0 + i) = a0;
      *reinterpret_cast<Quad*>(c0 + i + 4) = b0;
      *reinterpret_cast<Quad*>(c1 + i) = a1;
      *reinterpret_cast<Quad*>(c1 + i + 4) = b1;
      *reinterpret_cast<Quad*>(c2 + i) = a2;
      *reinterpret_cast<Quad*>(c2 + i + 4) = b2;
      *reinterpret_cast<Quad*>(c3 + i) = a3;
      *reinterpret_cast<Quad*>(c3 + i + 4) = b3;
    }
    // The last rows, and below the last columns, with the row loop innermost: a loop over m
    // inside would be a reduction, which the vectorizer may split into separate multiplies
    // and in-order adds, and then its terms would round twice where the kernels round once.
    for (Index m = 0; m < depth && i < rows; ++m) {
      const double* lm = l + m * ld;
      const double v0 = u0[m], v1 = u1[m], v2 = u2[m], v3 = u3[m];
      for (Index r = i; r < rows; ++r) {
        const double x = lm[r];
        c0[r] = c0[r] + x * v0;
        c1[r] = c1[r] + x * v1;
        c2[r] = c2[r] + x * v2;
        c3[r] = c3[r] + x * v3;
      }
    }
  }
  for (; q < cols; ++q) {
    const double* uq = u[q];
    double* cq = c + q * ld;
    for (Index m = 0; m < depth; ++m) {
      const double* lm = l + m * ld;
      const double um = uq[m];
      for (Index i = 0; i < rows; ++i) cq[i] = cq[i] + lm[i] * um;
    }
  }
}

VESK1_DISPATCH
void AddProductsNarrow(Index rows, Index cols, Index depth, const double* l, const double* const* u,
                       double* c, Index ld) {
  AddProductsByQuads(rows, cols, depth, l, u, c, ld);
}

#if defined(__GNUC__) && defined(__x86_64__) && defined(__ELF__) && !defined(__SANITIZE_THREAD__)
#define VESK1_WIDE_PRODUCTS 1

// Eight doubles at any 8-byte aligned address, for processors with 512-bit registers.
typedef double Oct __attribute__((vector_size(64), aligned(8)));

// AddProductsByQuads with blocks of 16 rows by 8 columns in 512-bit registers; the products
// and sums are the same operations, so the results are the same bits.
__attribute__((target("arch=x86-64-v4"))) void AddProductsWide(Index rows, Index cols, Index depth,
                                                               const double* l,
                                                               const double* const* u, double* c,
                                                               Index ld) {
  Index q = 0;
  for (; q + 8 <= cols; q += 8) {
    const double* const* uq = u + q;
    double* cq = c + q * ld;
    Index i = 0;
    for (; i + 16 <= rows; i += 16) {
      Oct a[8];
      Oct b[8];
      for (int s = 0; s < 8; ++s) {
        a[s] = *reinterpret_cast<const Oct*>(cq + s * ld + i);
        b[s] = *reinterpret_cast<const Oct*>(cq + s * ld + i + 8);
      }
      const double* lm = l + i;
      for (Index m = 0; m < depth; ++m, lm += ld) {
        const Oct x = *reinterpret_cast<const Oct*>(lm);
        const Oct y = *reinterpret_cast<const Oct*>(lm + 8);
        for (int s = 0; s < 8; ++s) {
          const double v = uq[s][m];
          a[s] = a[s] + x * v;
          b[s] = b[s] + y * v;
        }
      }
      for (int s = 0; s < 8; ++s) {
        *reinterpret_cast<Oct*>(cq + s * ld + i) = a[s];
        *reinterpret_cast<Oct*>(cq + s * ld + i + 8) = b[s];
      }
    }
    if (i < rows) AddProductsByQuads(rows - i, 8, depth, l + i, uq, cq + i, ld);
  }
  if (q < cols) AddProductsByQuads(rows, cols - q, depth, l, u + q, c + q * ld, ld);
}
#endif

// c(i, q) += sum over m < depth of l(i, m) * u(m, q), as AddProductsByQuads, on the widest
// registers the processor has.
void AddProductsBlock(Index rows, Index cols, Index depth, const double* l, const double* const* u,
                      double* c, Index ld) {
#ifdef VESK1_WIDE_PRODUCTS
  if (__builtin_cpu_supports("x86-64-v4")) {
    AddProductsWide(rows, cols, depth, l, u, c, ld);
    return;
  }
#endif
  AddProductsNarrow(rows, cols, depth, l, u, c, ld);
}

// Rows and depth from which AddProductsInOrder packs its factors: below them the copies cost
// more than the strided reads they save.
constexpr Index kPackedMinimum = 32;

// A register of kLanes doubles; the packed product moves them from and to memory with memcpy,
// so that no alignment is assumed.
template <int kLanes>
struct Register {
  typedef double Type __attribute__((vector_size(kLanes * sizeof(double))));
};

// The product of a block of A, copied into strips of kVectors * kLanes rows (each strip depth
// step after depth step), with packed columns of B (see PackProductColumns): every kVectors
// by kCols tile of vectors of C is held in registers over the block's depth, and each of its
// entries takes its terms in order of m, one by one, as in AddProductsByQuads: the same bits.
template <int kLanes, int kVectors, int kCols>
struct PackedProduct {
  using V = typename Register<kLanes>::Type;
  static constexpr int kRows = kVectors * kLanes;
  static_assert(kPackedRows % kRows == 0 && kProductGroup % kCols == 0);
  static_assert(kProductColumns <= kPackedColumns && kPackedColumns % kProductGroup == 0);

  // Rows i0 .. i0+count-1 and depth steps m0 .. m0+depth-1 of A into `to`, strip by strip,
  // the rows past `count` of the last strip set to 0. Column by column, so that each column's
  // rows are read in one contiguous run.
  [[gnu::always_inline]] static inline void PackRows(const double* a, Index lda, Index i0,
                                                     Index count, Index m0, Index depth,
                                                     double* __restrict to) {
    const Index whole = count / kRows * kRows;
    const double* from = a + i0 + m0 * lda;
    for (Index m = 0; m < depth; ++m, from += lda) {
      double* t = to + m * kRows;
      Index s = 0;
      for (; s < whole; s += kRows, t += kRows * depth) {
        for (int r = 0; r < kRows; ++r) t[r] = from[s + r];
      }
      if (s < count) {
        for (int r = 0; r < kRows; ++r) t[r] = s + r < count ? from[s + r] : 0.0;
      }
    }
  }

  // c(r, q) += sum over m < depth of a(r, m) * b(m, q), for the kRows by kCols tile at c; b
  // holds kCols columns of a packed group, depth steps kProductGroup apart.
  [[gnu::always_inline]] static inline void Tile(Index depth, const double* __restrict a,
                                                 const double* __restrict b, double* c, Index ldc) {
    V sum[kCols][kVectors];
#pragma GCC unroll 8
    for (int q = 0; q < kCols; ++q) {
#pragma GCC unroll 4
      for (int v = 0; v < kVectors; ++v) {
        std::memcpy(&sum[q][v], c + q * ldc + v * kLanes, sizeof(V));
      }
    }
    // Two depth steps per pass: the loop's own instructions then take fewer of the slots the
    // multiply-adds need.
#pragma GCC unroll 2
    for (Index m = 0; m < depth; ++m, a += kRows, b += kProductGroup) {
      V x[kVectors];
#pragma GCC unroll 4
      for (int v = 0; v < kVectors; ++v) std::memcpy(&x[v], a + v * kLanes, sizeof(V));
#pragma GCC unroll 8
      for (int q = 0; q < kCols; ++q) {
        const double y = b[q];
#pragma GCC unroll 4
        for (int v = 0; v < kVectors; ++v) sum[q][v] = sum[q][v] + x[v] * y;
      }
    }
#pragma GCC unroll 8
    for (int q = 0; q < kCols; ++q) {
#pragma GCC unroll 4
      for (int v = 0; v < kVectors; ++v) {
        std::memcpy(c + q * ldc + v * kLanes, &sum[q][v], sizeof(V));
      }
    }
  }

  // Tile for the last rows or columns: the entries that exist go through a local tile.
  [[gnu::always_inline]] static inline void PartTile(Index depth, const double* a, const double* b,
                                                     double* c, Index ldc, Index rows, Index cols) {
    alignas(64) double part[kRows * kCols] = {};
    for (Index q = 0; q < cols; ++q) {
      for (Index r = 0; r < rows; ++r) part[r + q * kRows] = c[r + q * ldc];
    }
    Tile(depth, a, b, part, kRows);
    for (Index q = 0; q < cols; ++q) {
      for (Index r = 0; r < rows; ++r) c[r + q * ldc] = part[r + q * kRows];
    }
  }

  [[gnu::always_inline]] static inline void Run(Index rows, Index cols, Index depth,
                                                const double* a, Index lda, const double* b,
                                                Index packedDepth, double* c, Index ldc) {
    double* packed = LinearAlgebra().products.rows;
    for (Index m0 = 0; m0 < depth; m0 += kPackedDepth) {
      const Index kc = std::min<Index>(kPackedDepth, depth - m0);
      for (Index i0 = 0; i0 < rows; i0 += kPackedRows) {
        const Index mc = std::min<Index>(kPackedRows, rows - i0);
        PackRows(a, lda, i0, mc, m0, kc, packed);
        for (Index g = 0; g < cols; g += kCols) {
          const double* pb = b + g / kProductGroup * kProductGroup * packedDepth +
                             m0 * kProductGroup + g % kProductGroup;
          double* cg = c + i0 + g * ldc;
          const Index usedCols = std::min<Index>(kCols, cols - g);
          // The next group's columns of C are one short run of rows each, a column apart:
          // too short for the processor to fetch ahead by itself, so they are asked for now
          // and arrive while this group's tiles are worked on.
          const Index nextCols = std::min<Index>(kCols, cols - g - kCols);
          for (Index q = 0; q < nextCols; ++q) {
            const double* column = cg + (kCols + q) * ldc;
            for (Index r = 0; r < mc; r += 8) __builtin_prefetch(column + r, 1);
            __builtin_prefetch(column + mc - 1, 1);
          }
          for (Index s = 0; s < mc; s += kRows) {
            const double* pa = packed + s * kc;
            const Index usedRows = std::min<Index>(kRows, mc - s);
            if (usedRows == kRows && usedCols == kCols) {
              Tile(kc, pa, pb, cg + s, ldc);
            } else {
              PartTile(kc, pa, pb, cg + s, ldc, usedRows, usedCols);
            }
          }
        }
      }
    }
  }
};

#ifdef VESK1_WIDE_PRODUCTS
__attribute__((target("arch=x86-64-v4"))) void PackedProductsWide(Index rows, Index cols,
                                                                  Index depth, const double* a,
                                                                  Index lda, const double* b,
                                                                  Index packedDepth, double* c,
                                                                  Index ldc) {
  PackedProduct<8, 3, 8>::Run(rows, cols, depth, a, lda, b, packedDepth, c, ldc);
}

__attribute__((target("arch=x86-64-v3"))) void PackedProductsFused(Index rows, Index cols,
                                                                   Index depth, const double* a,
                                                                   Index lda, const double* b,
                                                                   Index packedDepth, double* c,
                                                                   Index ldc) {
  PackedProduct<4, 3, 4>::Run(rows, cols, depth, a, lda, b, packedDepth, c, ldc);
}
#endif

void PackedProductsBase(Index rows, Index cols, Index depth, const double* a, Index lda,
                        const double* b, Index packedDepth, double* c, Index ldc) {
  PackedProduct<2, 2, 4>::Run(rows, cols, depth, a, lda, b, packedDepth, c, ldc);
}

}  // namespace

namespace {

// PackProductColumns for column q's steps at column(q)[0 ..].
template <class Column>
void PackColumnsOf(Index count, Index cols, Column column, Index m0, Index depth, double* packed) {
  for (Index g = 0; g < cols; g += kProductGroup, packed += kProductGroup * depth) {
    double* to = packed + m0 * kProductGroup;
    const Index used = std::min<Index>(kProductGroup, cols - g);
    for (Index q = 0; q < kProductGroup; ++q) {
      double* t = to + q;
      if (q < used) {
        const double* from = column(g + q);
        for (Index m = 0; m < count; ++m) t[m * kProductGroup] = from[m];
      } else {
        for (Index m = 0; m < count; ++m) t[m * kProductGroup] = 0.0;
      }
    }
  }
}

}  // namespace

void PackProductColumns(Index count, Index cols, const double* b, Index ldb, Index m0, Index depth,
                        double* packed) {
  PackColumnsOf(
      count, cols, [b, ldb](Index q) { return b + q * ldb; }, m0, depth, packed);
}

void PackProductColumns(Index count, Index cols, const double* const* b, Index m0, Index depth,
                        double* packed) {
  PackColumnsOf(
      count, cols, [b](Index q) { return b[q]; }, m0, depth, packed);
}

void AddPackedProducts(Index rows, Index cols, Index depth, const double* a, Index lda,
                       const double* packed, Index packedDepth, double* c, Index ldc) {
#ifdef VESK1_WIDE_PRODUCTS
  // The multiply and add fuse under exactly the condition under which the dispatched kernels
  // fuse theirs.
  if (__builtin_cpu_supports("x86-64-v4")) {
    PackedProductsWide(rows, cols, depth, a, lda, packed, packedDepth, c, ldc);
    return;
  }
  if (__builtin_cpu_supports("x86-64-v3")) {
    PackedProductsFused(rows, cols, depth, a, lda, packed, packedDepth, c, ldc);
    return;
  }
#endif
  PackedProductsBase(rows, cols, depth, a, lda, packed, packedDepth, c, ldc);
}

namespace {}  // namespace

void VectorCopy(int32_t n, const double* x, int32_t incx, double* y, int32_t incy) {
  if (n <= 0) return;
  if (incx == 1 && incy == 1) {
    for (Index i = 0; i < n; ++i) y[i] = x[i];
    return;
  }
  Index ix = FirstOffset(n, incx);
  Index iy = FirstOffset(n, incy);
  for (int32_t i = 0; i < n; ++i, ix += incx, iy += incy) y[iy] = x[ix];
}

void VectorSwap(int32_t n, double* x, int32_t incx, double* y, int32_t incy) {
  if (n <= 0) return;
  if (incx == 1 && incy == 1) {
    for (Index i = 0; i < n; ++i) {
      const double t = x[i];
      x[i] = y[i];
      y[i] = t;
    }
    return;
  }
  Index ix = FirstOffset(n, incx);
  Index iy = FirstOffset(n, incy);
  for (int32_t i = 0; i < n; ++i, ix += incx, iy += incy) {
    const double t = x[ix];
    x[ix] = y[iy];
    y[iy] = t;
  }
}

void VectorScale(int32_t n, double a, double* x, int32_t incx) {
  if (n <= 0) return;
  if (incx == 1) {
    for (Index i = 0; i < n; ++i) x[i] = a * x[i];
    return;
  }
  const Index end = static_cast<Index>(n) * incx;
  for (Index i = 0; i < end; i += incx) x[i] = a * x[i];
}

void VectorAxpy(int32_t n, double a, const double* x, int32_t incx, double* y, int32_t incy) {
  if (n <= 0 || a == 0.0) return;
  if (incx == 1 && incy == 1) {
    AxpyUnit(n, a, x, y);
    return;
  }
  Index ix = FirstOffset(n, incx);
  Index iy = FirstOffset(n, incy);
  for (int32_t i = 0; i < n; ++i, ix += incx, iy += incy) y[iy] = y[iy] + a * x[ix];
}

double VectorAbsSum(int32_t n, const double* x, int32_t incx) {
  double sum = 0.0;
  if (n <= 0) return sum;
  const Index end = static_cast<Index>(n) * incx;
  for (Index i = 0; i < end; i += incx) sum += std::fabs(x[i]);
  return sum;
}

double VectorDot(int32_t n, const double* x, int32_t incx, const double* y, int32_t incy) {
  double sum = 0.0;
  if (n <= 0) return sum;
  if (incx == 1 && incy == 1) {
    for (Index i = 0; i < n; ++i) sum = sum + x[i] * y[i];
    return sum;
  }
  Index ix = FirstOffset(n, incx);
  Index iy = FirstOffset(n, incy);
  for (int32_t i = 0; i < n; ++i, ix += incx, iy += incy) sum = sum + x[ix] * y[iy];
  return sum;
}

void VectorFill(int32_t n, double a, double* x, int32_t incx) {
  if (n <= 0) return;
  const Index end = static_cast<Index>(n) * incx;
  for (Index i = 0; i < end; i += incx) x[i] = a;
}

int32_t IndexOfMaxAbs(int32_t n, const double* x, int32_t incx) {
  if (n <= 0) return 0;
  int32_t best = 1;
  double largest = std::fabs(x[0]);
  Index ix = incx;
  for (int32_t i = 2; i <= n; ++i, ix += incx) {
    const double v = std::fabs(x[ix]);
    if (v > largest) {
      largest = v;
      best = i;
    }
  }
  return best;
}

void IndexOfMaxProduct(int32_t n, const double* x, const double* y, int32_t& imax) {
  imax = 1;
  double best = 0.0;
  if (n <= 0) return;
  double* buffer = LinearAlgebra().pivotSearch.products;
  for (int32_t s = 1; s <= n; s += kPivotChunk) {
    const int32_t count = std::min(n - s + 1, kPivotChunk);
    const double* xs = x + (s - 1);
    const double* ys = y + (s - 1);
    for (int32_t i = 0; i < count; ++i) buffer[i] = xs[i] * ys[i];
    const int32_t j = IndexOfMaxAbs(count, buffer, 1);
    // A strict comparison keeps the earlier index on ties across chunks as well.
    if (std::fabs(buffer[j - 1]) > best) {
      best = std::fabs(buffer[j - 1]);
      imax = s + j - 1;
    }
    if (n - s < kPivotChunk) break;  // s + 400 would pass n; also keeps s from overflowing
  }
}

void AddProductsInOrder(Index rows, int32_t cols, Index depth, const double* a, Index lda,
                        const double* const* b, double* c) {
  if (rows >= kPackedMinimum && depth >= kPackedMinimum) {
    // B a block of depth steps at a time, each block's products added before the next.
    double* packed = LinearAlgebra().products.columns;
    for (Index m0 = 0; m0 < depth; m0 += kPackedDepth) {
      const Index kc = std::min<Index>(kPackedDepth, depth - m0);
      PackColumnsOf(
          kc, cols, [b, m0](Index q) { return b[q] + m0; }, 0, kc, packed);
      AddPackedProducts(rows, cols, kc, a + m0 * lda, lda, packed, kc, c, lda);
    }
    return;
  }
  const double* moved[kProductColumns];
  for (Index i = 0; i < rows; i += kProductRows) {
    const Index count = std::min(kProductRows, rows - i);
    for (Index m = 0; m < depth; m += kProductDepth) {
      for (int32_t q = 0; q < cols; ++q) moved[q] = b[q] + m;
      AddProductsBlock(count, cols, std::min(kProductDepth, depth - m), a + i + m * lda, moved,
                       c + i, lda);
    }
  }
}

void DGEMV(std::string_view trans, int32_t m, int32_t n, double alpha, const double* a, int32_t lda,
           const double* x, int32_t incx, double beta, double* y, int32_t incy) {
  const char t = FirstLetter(trans);
  const bool notrans = SameLetter(t, 'N');
  const bool transposed = SameLetter(t, 'T') || SameLetter(t, 'C');
  if (!CheckShapeAndIncrements("DGEMV", m, n, lda, incx, incy)) return;
  if (!notrans && !transposed) {
    StoreFirstLetter(trans);
    ReportKernelError("DGEMV", 6, "TRANS must be set equal to N or T or C while %(L1) is given.");
    return;
  }
  if (m == 0 || n == 0 || (alpha == 0.0 && beta == 1.0)) return;

  const int32_t nx = notrans ? n : m;
  const int32_t ny = notrans ? m : n;
  // y is scaled on the stored positions 1, 1 + |incy|, ...: the same elements whichever
  // direction the increment walks them.
  const int32_t absIncy = incy < 0 ? -incy : incy;
  if (beta != 1.0) {
    if (beta != 0.0) {
      VectorScale(ny, beta, y, absIncy);
    } else {
      VectorFill(ny, 0.0, y, absIncy);
    }
  }
  if (alpha == 0.0) return;

  Index jx = FirstOffset(nx, incx);
  if (notrans) {
    int32_t j = 1;
    if (incy == 1) {
      // Eight columns per pass over y. A group with a zero coefficient goes column by column,
      // so that the zero column is skipped, as its axpy would skip it.
      double c[kGemvColumns];
      for (; j + kGemvColumns - 1 <= n; j += kGemvColumns) {
        bool zero = false;
        for (int s = 0; s < kGemvColumns; ++s, jx += incx) {
          c[s] = alpha * x[jx];
          zero = zero || c[s] == 0.0;
        }
        if (!zero) {
          AxpyEightColumns(m, c, a + At(1, j, lda), lda, y);
          continue;
        }
        for (int s = 0; s < kGemvColumns; ++s) VectorAxpy(m, c[s], a + At(1, j + s, lda), 1, y, 1);
      }
    }
    for (; j <= n; ++j, jx += incx) VectorAxpy(m, alpha * x[jx], a + At(1, j, lda), 1, y, incy);
  } else {
    Index jy = FirstOffset(ny, incy);
    for (int32_t j = 1; j <= n; ++j, jy += incy) {
      y[jy] = y[jy] + alpha * VectorDot(m, a + At(1, j, lda), 1, x, incx);
    }
  }
}

void DGER(int32_t m, int32_t n, double alpha, const double* x, int32_t incx, const double* y,
          int32_t incy, double* a, int32_t lda) {
  if (!CheckShapeAndIncrements("DGER", m, n, lda, incx, incy)) return;
  if (m == 0 || n == 0 || alpha == 0.0) return;

  Index jy = FirstOffset(n, incy);
  int32_t j = 1;
  if (incx == 1) {
    double c[4];
    while (j + 3 <= n) {
      c[0] = alpha * y[jy];
      c[1] = alpha * y[jy + incy];
      c[2] = alpha * y[jy + 2 * static_cast<Index>(incy)];
      c[3] = alpha * y[jy + 3 * static_cast<Index>(incy)];
      if (c[0] == 0.0 || c[1] == 0.0 || c[2] == 0.0 || c[3] == 0.0) break;
      RankOneFourColumns(m, x, c, a + At(1, j, lda), a + At(1, j + 1, lda), a + At(1, j + 2, lda),
                         a + At(1, j + 3, lda));
      j += 4;
      jy += 4 * static_cast<Index>(incy);
    }
  }
  for (; j <= n; ++j, jy += incy) VectorAxpy(m, alpha * y[jy], x, incx, a + At(1, j, lda), 1);
}

void DTRSV(std::string_view uplo, std::string_view trans, std::string_view diag, int32_t n,
           const double* a, int32_t lda, double* x, int32_t incx) {
  const char u = FirstLetter(uplo);
  const char t = FirstLetter(trans);
  const char d = FirstLetter(diag);
  const bool upper = SameLetter(u, 'U');
  const bool lower = SameLetter(u, 'L');
  const bool unitDiagonal = SameLetter(d, 'U');
  const bool readDiagonal = SameLetter(d, 'N');
  const bool notrans = SameLetter(t, 'N');
  const bool transposed = SameLetter(t, 'T') || SameLetter(t, 'C');
  if (n < 0) {
    StoreIntegerParameter(1, n);
    ReportKernelError("DTRSV", 1, "N must be greater than or equal to zero while %(I1) is given.");
    return;
  }
  if (lda < n || lda == 0) {
    StoreIntegerParameter(1, lda);
    StoreIntegerParameter(2, n);
    ReportKernelError("DTRSV", 2,
                      "LDA must be greater than or equal to N and greater than zero while LDA = "
                      "%(I1) and N = %(I2) are given.");
    return;
  }
  if (incx == 0) {
    StoreIntegerParameter(1, incx);
    ReportKernelError("DTRSV", 3, "INCX must not be equal to zero while %(I1) is given.");
    return;
  }
  if (!notrans && !transposed) {
    StoreFirstLetter(trans);
    ReportKernelError("DTRSV", 4, "TRANS must be set equal to N or T or C while %(L1) is given.");
    return;
  }
  if (!upper && !lower) {
    StoreFirstLetter(uplo);
    ReportKernelError("DTRSV", 5, "UPLO must be set equal to U or L while %(L1) is given.");
    return;
  }
  if (!unitDiagonal && !readDiagonal) {
    StoreFirstLetter(diag);
    ReportKernelError("DTRSV", 6, "DIAG must be set equal to U or N while %(L1) is given.");
    return;
  }
  if (n == 0) return;

  // Element j of x and the sub-vectors x(1 .. j-1) and x(j+1 .. n) under the general rule:
  // with a negative increment the vector's storage runs backwards from x(n), so a tail starts
  // at the base address and a head j - 1 elements long starts n - j + 1 elements in.
  const Index step = incx < 0 ? -static_cast<Index>(incx) : incx;
  auto element = [&](int32_t j) -> double& {
    return incx > 0 ? x[(j - 1) * step] : x[(n - j) * step];
  };
  auto head = [&](int32_t j) -> const double* { return incx > 0 ? x : x + (n - j + 1) * step; };
  auto tail = [&](int32_t j) -> const double* { return incx > 0 ? x + j * step : x; };
  const bool divide = readDiagonal;
  if (upper && notrans) {
    for (int32_t j = n; j >= 1; --j) {
      double& xj = element(j);
      if (j < n) xj -= VectorDot(n - j, a + At(j, j + 1, lda), lda, tail(j), incx);
      if (divide) xj /= a[At(j, j, lda)];
    }
  } else if (upper) {
    for (int32_t j = 1; j <= n; ++j) {
      double& xj = element(j);
      xj -= VectorDot(j - 1, a + At(1, j, lda), 1, head(j), incx);
      if (divide) xj /= a[At(j, j, lda)];
    }
  } else if (notrans) {
    for (int32_t j = 1; j <= n; ++j) {
      double& xj = element(j);
      xj -= VectorDot(j - 1, a + At(j, 1, lda), lda, head(j), incx);
      if (divide) xj /= a[At(j, j, lda)];
    }
  } else {
    for (int32_t j = n; j >= 1; --j) {
      double& xj = element(j);
      if (j < n) xj -= VectorDot(n - j, a + At(j + 1, j, lda), 1, tail(j), incx);
      if (divide) xj /= a[At(j, j, lda)];
    }
  }
}

}  // namespace vesk1
