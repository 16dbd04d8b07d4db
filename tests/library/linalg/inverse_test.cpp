#include "linalg/inverse.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "errors/errors.h"
#include "linalg/lu.h"
#include "matrices.h"
#include "support/child_process.h"

namespace vesk1 {
namespace {

using test::Matrix;
using test::RandomMatrix;
using test::RunScenario;

Matrix Invert(const Matrix& a, int32_t ldainv) {
  Matrix ainv{a.n, ldainv, std::vector<double>(static_cast<size_t>(ldainv) * a.n, test::kPadding)};
  DLINRG(a.n, a.data.data(), a.ld, ainv.data.data(), ldainv);
  return ainv;
}

TEST(DLINRG_RandomMatrices, SmallScaledResidual) {
  for (int32_t n : {1, 2, 5, 8, 9, 17, 64, 150}) {
    SCOPED_TRACE("n = " + std::to_string(n));
    const Matrix a = RandomMatrix(n, n + 1, 31 * n);
    const Matrix copy = a;
    const Matrix ainv = Invert(a, n + 2);
    EXPECT_EQ(a.data, copy.data) << "A changed";
    EXPECT_LT(test::InverseResidual(a, ainv), 30.0);
    for (int32_t j = 0; j < n; ++j) {
      EXPECT_EQ(ainv(n, j), test::kPadding) << "padding written in column " << j;
    }
  }
}

TEST(DLINRG_OrderOne, Reciprocal) {
  const double a[1] = {-4.0};
  double ainv[1] = {0.0};
  DLINRG(1, a, 1, ainv, 1);
  EXPECT_EQ(ainv[0], -0.25);
}

// Every pivot is 1 and the column exchanges alone produce the transpose, exactly.
TEST(DLINRG_Permutation, InverseIsTheTranspose) {
  const std::vector<int32_t> image = {3, 0, 4, 1, 5, 2, 7, 6, 9, 8};
  const int32_t n = static_cast<int32_t>(image.size());
  Matrix p{n, n, std::vector<double>(static_cast<size_t>(n) * n, 0.0)};
  for (int32_t j = 0; j < n; ++j) p(image[j], j) = 1.0;
  const Matrix ainv = Invert(p, n);
  for (int32_t i = 0; i < n; ++i) {
    for (int32_t j = 0; j < n; ++j) EXPECT_EQ(ainv(i, j), p(j, i)) << i << "," << j;
  }
  std::vector<int32_t> pivot(n);
  double rcond = 0.0;
  Matrix fac = p;
  DLFCRG(n, p.data.data(), n, fac.data.data(), n, pivot.data(), rcond);
  EXPECT_NEAR(rcond, 1.0, 1e-15);
}

TEST(DLINRG_InPlace, SameAsSeparateArrays) {
  for (int32_t n : {1, 3, 20}) {
    const Matrix a = RandomMatrix(n, n + 2, 3 + n);
    const Matrix separate = Invert(a, a.ld);
    Matrix same = a;
    DLINRG(n, same.data.data(), same.ld, same.data.data(), same.ld);
    EXPECT_EQ(same.data, separate.data);
  }
}

// Triangular inverses, in place and into a second array: the product with the triangle is the
// identity and the other strict triangle is cleared; the unread triangle of A holds NaN.
TEST(DLINRT_Triangles, InverseAndClearedTriangle) {
  const int32_t n = 13;
  for (int32_t ipath : {1, 2}) {
    for (bool inPlace : {false, true}) {
      SCOPED_TRACE("ipath " + std::to_string(ipath) + (inPlace ? " in place" : ""));
      auto inTriangle = [&](int32_t i, int32_t j) { return ipath == 1 ? i >= j : i <= j; };
      Matrix triangle = RandomMatrix(n, n + 1, 77);
      for (int32_t i = 0; i < n; ++i) triangle(i, i) += 3.0;
      Matrix a = triangle;
      for (int32_t j = 0; j < n; ++j) {
        for (int32_t i = 0; i < n; ++i) {
          if (!inTriangle(i, j)) a(i, j) = NAN;
        }
      }
      Matrix ainv =
          inPlace ? a : Matrix{n, n, std::vector<double>(static_cast<size_t>(n) * n, 9.0)};
      DLINRT(n, a.data.data(), a.ld, ipath, inPlace ? a.data.data() : ainv.data.data(), ainv.ld);
      if (inPlace) ainv = a;
      for (int32_t i = 0; i < n; ++i) {
        for (int32_t j = 0; j < n; ++j) {
          if (!inTriangle(i, j)) {
            EXPECT_EQ(ainv(i, j), 0.0) << i << "," << j;
            continue;
          }
          double sum = 0.0;
          for (int32_t m = 0; m < n; ++m) {
            if (inTriangle(i, m) && inTriangle(m, j)) sum += ainv(i, m) * triangle(m, j);
          }
          EXPECT_NEAR(sum, i == j ? 1.0 : 0.0, 1e-14) << i << "," << j;
        }
      }
    }
  }
}

struct PrintedCase {
  const char* name;
  std::function<void()> body;
  const char* expected;
};

TEST(DLINRT_Messages, PrintedExactly) {
  static double ainv[25];
  const std::vector<PrintedCase> cases = {
      {"lower, zero diagonal at 2 and 4: the highest is met first",
       [] {
         double a[25] = {};
         for (int i = 0; i < 5; ++i) a[i * 6] = 1.0;
         a[1 * 6] = 0.0;
         a[3 * 6] = 0.0;
         DLINRT(5, a, 5, 1, ainv, 5);
       },
       R"(
 *** TERMINAL ERROR 5 from DLINRT.  The matrix to be inverted is singular. 
 ***          The index of the first zero diagonal element of A is 4.
)"},
      {"upper, zero diagonal at 2 and 4: the lowest is met first",
       [] {
         double a[25] = {};
         for (int i = 0; i < 5; ++i) a[i * 6] = 1.0;
         a[1 * 6] = 0.0;
         a[3 * 6] = 0.0;
         DLINRT(5, a, 5, 2, ainv, 5);
       },
       R"(
 *** TERMINAL ERROR 5 from DLINRT.  The matrix to be inverted is singular. 
 ***          The index of the first zero diagonal element of A is 2.
)"},
      {"IPATH 3 leaves AINV untouched",
       [] {
         const double a[4] = {1.0, 2.0, 3.0, 4.0};
         double out[4] = {7.0, 7.0, 7.0, 7.0};
         int32_t print = -1;
         int32_t stop = 0;
         SetPrintStopAttributes(kTerminal, print, stop);
         DLINRT(2, a, 2, 3, out, 2);
         std::printf("%d %d %g %g %g %g\n", N1RTY(1), N1RCD(1), out[0], out[1], out[2], out[3]);
       },
       R"(
 *** TERMINAL ERROR 4 from DLINRT.  IPATH must be either 1 or 2 while a value
 ***          of 3 is given.
5 4 7 7 7 7
)"},
  };
  for (const PrintedCase& c : cases) {
    EXPECT_EQ(RunScenario(c.body).output, c.expected) << c.name;
  }
}

TEST(DLINRG_Messages, PrintedExactly) {
  static double ainv[16];
  const std::vector<PrintedCase> cases = {
      {"order zero",
       [] {
         const double a[1] = {1.0};
         DLINRG(0, a, 1, ainv, 1);
       },
       R"(
 *** TERMINAL ERROR 1 from DLINRG.  The order of the matrix must be positive
 ***          while N = 0 is given.
)"},
      {"workspace that cannot be represented",
       [] {
         const double a[1] = {1.0};
         DLINRG(2147483647, a, 1, ainv, 1);
       },
       R"(
 *** TERMINAL ERROR 2 from DLINRG.  The required storage cannot be allocated.
 ***          The workspace is based on N, where N = 2147483647.
)"},
      {"singular: the factorization's message, no ill-conditioning warning",
       [] {
         const double a[4] = {1.0, 2.0, 2.0, 4.0};
         DLINRG(2, a, 2, ainv, 2);
       },
       R"(
 *** FATAL    ERROR 2 from DLINRG.  The input matrix is singular.  Some of
 ***          the diagonal elements of the upper triangular matrix U of the 
 ***          LU factorization are close to zero.
)"},
      {"ill-conditioned: both routines warn, the inverse's text is the one printed",
       [] {
         const double a[4] = {1.0, 0.0, 0.0, 0x1p-60};
         DLINRG(2, a, 2, ainv, 2);
         // (+ 0.0 shows a zero of either sign as 0)
         std::printf("returned %g %g %g %g\n", ainv[0] + 0.0, ainv[1] + 0.0, ainv[2] + 0.0,
                     ainv[3] + 0.0);
       },
       R"(
 *** WARNING  ERROR 1 from DLINRG.  The matrix is too ill-conditioned. An
 ***          estimate of the reciprocal of its L1 condition number is RCOND 
 ***          = 8.673617379884035E-19.  The inverse might not be accurate.
returned 1 0 0 1.15292e+18
)"},
      {"LDAINV below N",
       [] {
         const double a[4] = {1.0, 0.0, 0.0, 1.0};
         DLINRG(2, a, 2, ainv, 1);
       },
       R"(
 *** TERMINAL ERROR 3 from DL2NRG.  The order of the matrix must be less than
 ***          or equal to its leading dimension while N = 2 and LDAINV = 1 
 ***          are given.
     Here is a traceback of subprogram calls in reverse order:
     Routine name                    Error type  Error code
     ------------                    ----------  ----------
     DL2NRG                               5           3    (Called internally)
     DLINRG                               0           0
     USER                                 0           0
)"},
  };
  for (const PrintedCase& c : cases) {
    EXPECT_EQ(RunScenario(c.body).output, c.expected) << c.name;
  }
}

// A refused condition flag is a TERMINAL outcome of the factorization; when the stop table lets
// the process go on, the inverse stops there instead of exchanging columns by pivots that were
// never set.
TEST(DL2NRG_RefusedFlag, StopsWithoutTouchingAinv) {
  const auto result = RunScenario([] {
    const int32_t option[1] = {17};
    int32_t values[2] = {1, 5};
    IUMAG("MATH", 1, 2, 1, option, values);
    int32_t print = 0;
    int32_t stop = 0;
    SetPrintStopAttributes(kTerminal, print, stop);
    const double a[9] = {0.0, 1.0, 0.0, 0.0, 0.0, 1.0, 1.0, 0.0, 0.0};
    double ainv[9] = {-1, -1, -1, -1, -1, -1, -1, -1, -1};
    int32_t iwork[3] = {1000000, -1000000, 77};
    double work[6];
    DL2NRG(3, a, 3, ainv, 3, work, iwork);
    bool untouched = true;
    for (double v : ainv) untouched = untouched && v == -1.0;
    std::printf("%d %d %s\n", N1RTY(1), N1RCD(1), untouched ? "untouched" : "changed");
  });
  EXPECT_EQ(result.output, "5 4 untouched\n");
}

}  // namespace
}  // namespace vesk1
