// Vector and matrix kernels of the dense linear algebra.
//
// A vector is the address of its first stored element and an increment. Two addressing rules:
// - general (VectorCopy, VectorSwap, VectorAxpy, VectorDot and the vectors of DGEMV, DGER,
//   DTRSV): element i of an n-element vector lies at 1 + (i - 1) * inc for inc >= 0 and at
//   1 + (n - i) * |inc| for inc < 0; an increment of 0 reuses one element n times;
// - positive (VectorScale, VectorFill, VectorAbsSum, IndexOfMaxAbs): elements at 1, 1 + inc,
//   ..., and inc must be at least 1.
// The vector operations check nothing and do nothing for n <= 0. DGEMV, DGER and DTRSV follow
// the reference BLAS routines of the same names and report bad arguments as TERMINAL errors.
// Matrices are column-major: element (i, j), counted from 1, at (i - 1) + (j - 1) * ld.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace vesk1 {

// y(i) = x(i), i = 1 .. n in order.
void VectorCopy(int32_t n, const double* x, int32_t incx, double* y, int32_t incy);

// Exchanges x(i) and y(i).
void VectorSwap(int32_t n, double* x, int32_t incx, double* y, int32_t incy);

// x(i) = a * x(i) (positive rule).
void VectorScale(int32_t n, double a, double* x, int32_t incx);

// y(i) = a * x(i) + y(i); nothing at all when a = 0, even when x holds infinities.
void VectorAxpy(int32_t n, double a, const double* x, int32_t incx, double* y, int32_t incy);

// Sum of |x(i)|, added in index order (positive rule); 0 for n <= 0.
double VectorAbsSum(int32_t n, const double* x, int32_t incx);

// Sum of x(i) * y(i), added in index order; 0 for n <= 0.
double VectorDot(int32_t n, const double* x, int32_t incx, const double* y, int32_t incy);

// x(i) = a (positive rule).
void VectorFill(int32_t n, double a, double* x, int32_t incx);

// The first i with the largest |x(i)| (positive rule); 0 for n <= 0.
int32_t IndexOfMaxAbs(int32_t n, const double* x, int32_t incx);

// imax = the first i with the largest |x(i) * y(i)|, unit strides; 1 when every product is 0
// or n <= 0. Works through the library's 400-double pivot buffer, chunk by chunk.
void IndexOfMaxProduct(int32_t n, const double* x, const double* y, int32_t& imax);

// Columns of B that one call of AddProductsInOrder takes at most.
inline constexpr int32_t kProductColumns = 128;

// C = C + A * B, A rows by depth, B depth by cols (cols <= kProductColumns), C rows by cols:
// every entry of C takes its terms a(i, m) * b(m, q) one by one, in order of m, each added
// with one rounding where the processor fuses multiply and add (as the other kernels here do)
// and with two where it does not. A and C are column-major with the leading dimension lda;
// b[q] is the address of column q of B. C must not overlap A or B.
void AddProductsInOrder(std::ptrdiff_t rows, int32_t cols, std::ptrdiff_t depth, const double* a,
                        std::ptrdiff_t lda, const double* const* b, double* c);

// Columns of B in the packed form of AddPackedProducts: groups of kProductGroup columns, each
// group depth step after depth step. With a packed depth D, element (m, q) of B, counted from
// 0, lies at (q / 8) * 8 * D + m * 8 + q % 8; the columns past the last one of the last group
// hold 0.
inline constexpr int32_t kProductGroup = 8;

// Doubles that COLS columns of depth D take in the packed form.
inline std::ptrdiff_t PackedColumnsSize(std::ptrdiff_t cols, std::ptrdiff_t depth) {
  return (cols + kProductGroup - 1) / kProductGroup * kProductGroup * depth;
}

// Copies depth steps m0 .. m0+count-1 of the COLS columns of B into PACKED, whose packed depth
// is DEPTH; column q's step m0 + m is b[m + q * ldb].
void PackProductColumns(std::ptrdiff_t count, std::ptrdiff_t cols, const double* b,
                        std::ptrdiff_t ldb, std::ptrdiff_t m0, std::ptrdiff_t depth,
                        double* packed);

// The same with column q's step m0 + m at b[q][m].
void PackProductColumns(std::ptrdiff_t count, std::ptrdiff_t cols, const double* const* b,
                        std::ptrdiff_t m0, std::ptrdiff_t depth, double* packed);

// C = C + A * B as AddProductsInOrder, bit for bit, A rows by depth (leading dimension lda), B
// the first DEPTH steps of columns packed with depth PACKEDDEPTH, C rows by cols (leading
// dimension ldc), any number of columns. C must not overlap A or PACKED.
void AddPackedProducts(std::ptrdiff_t rows, std::ptrdiff_t cols, std::ptrdiff_t depth,
                       const double* a, std::ptrdiff_t lda, const double* packed,
                       std::ptrdiff_t packedDepth, double* c, std::ptrdiff_t ldc);

// y = alpha * op(A) * x + beta * y, A m by n, op(A) = A for TRANS "N", its transpose for "T"
// or "C" (first letter, either case). Codes 1 to 6: m < 0, n < 0, lda < max(m, 1), incx = 0,
// incy = 0, bad TRANS, checked in this order; a failed check leaves y untouched.
void DGEMV(std::string_view trans, int32_t m, int32_t n, double alpha, const double* a, int32_t lda,
           const double* x, int32_t incx, double beta, double* y, int32_t incy);

// A = alpha * x * transpose(y) + A, A m by n. Codes 1 to 5: m < 0, n < 0, lda < max(m, 1),
// incx = 0, incy = 0.
void DGER(int32_t m, int32_t n, double alpha, const double* x, int32_t incx, const double* y,
          int32_t incy, double* a, int32_t lda);

// Solves op(A) * z = x for triangular A (UPLO "U" or "L"; DIAG "U" takes the diagonal as 1
// without reading it, "N" reads it) and overwrites x with z. No test for a zero diagonal.
// Codes 1 to 6: n < 0, lda < max(n, 1), incx = 0, bad TRANS, bad UPLO, bad DIAG.
void DTRSV(std::string_view uplo, std::string_view trans, std::string_view diag, int32_t n,
           const double* a, int32_t lda, double* x, int32_t incx);

}  // namespace vesk1
