#include "linalg/kernels.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "errors/errors.h"
#include "support/child_process.h"

namespace vesk1 {
namespace {

using test::RunScenario;

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Stored position (0-based) of element i (1-based) of an n-element vector, general rule.
size_t Position(int32_t n, int32_t inc, int32_t i) {
  return inc >= 0 ? static_cast<size_t>(i - 1) * inc : static_cast<size_t>(n - i) * -inc;
}

std::vector<double> Random(size_t count, uint64_t seed) {
  std::mt19937_64 engine(seed);
  std::uniform_real_distribution<double> uniform(-1.0, 1.0);
  std::vector<double> v(count);
  for (double& x : v) x = uniform(engine);
  return v;
}

TEST(VectorCopy_NegativeIncrement, WalksStorageBackwards) {
  const std::vector<double> x = {10.0, 20.0, 30.0};
  std::vector<double> y(3, 0.0);
  VectorCopy(3, x.data(), -1, y.data(), 1);
  EXPECT_EQ(y, (std::vector<double>{30.0, 20.0, 10.0}));
}

TEST(VectorAxpy_ZeroScalar, LeavesYUntouchedEvenForInfinities) {
  const std::vector<double> x = {kInf, -kInf, kNaN};
  std::vector<double> y = {1.0, 2.0, 3.0};
  VectorAxpy(3, 0.0, x.data(), 1, y.data(), 1);
  EXPECT_EQ(y, (std::vector<double>{1.0, 2.0, 3.0}));
}

TEST(VectorDot_ZeroIncrement, ReusesOneElement) {
  const std::vector<double> x = {3.0, 100.0};
  const std::vector<double> y = {1.0, 2.0, 4.0};
  EXPECT_EQ(VectorDot(3, x.data(), 0, y.data(), 1), 21.0);
}

// Every combination of increments, including mixed unit and non-unit ones, against the
// addressing rule written out.
TEST(VectorKernels_Increments, FollowTheGeneralRule) {
  const int32_t n = 7;
  for (int32_t incx : {1, 2, -1, -3}) {
    for (int32_t incy : {1, 3, -1, -2}) {
      SCOPED_TRACE("incx " + std::to_string(incx) + " incy " + std::to_string(incy));
      const std::vector<double> x = Random(n * 3, 1);
      const std::vector<double> y0 = Random(n * 3, 2);
      std::vector<double> y = y0;
      VectorAxpy(n, 0.5, x.data(), incx, y.data(), incy);
      std::vector<double> expected = y0;
      double dot = 0.0;
      for (int32_t i = 1; i <= n; ++i) {
        expected[Position(n, incy, i)] += 0.5 * x[Position(n, incx, i)];
        dot += x[Position(n, incx, i)] * y0[Position(n, incy, i)];
      }
      for (size_t k = 0; k < y.size(); ++k) EXPECT_NEAR(y[k], expected[k], 1e-15);
      EXPECT_NEAR(VectorDot(n, x.data(), incx, y0.data(), incy), dot, 1e-14);

      std::vector<double> a = x;
      std::vector<double> b = y0;
      VectorSwap(n, a.data(), incx, b.data(), incy);
      VectorCopy(n, b.data(), incy, a.data(), incx);  // swaps back what the swap moved into a
      EXPECT_EQ(a, x);
      for (int32_t i = 1; i <= n; ++i) {
        EXPECT_EQ(b[Position(n, incy, i)], x[Position(n, incx, i)]);
      }
    }
  }
}

TEST(IndexOfMaxAbs_Ties, FirstIndexWins) {
  const std::vector<double> x = {1.0, -3.0, 3.0};
  EXPECT_EQ(IndexOfMaxAbs(3, x.data(), 1), 2);
  EXPECT_EQ(IndexOfMaxAbs(0, x.data(), 1), 0);
  const std::vector<double> strided = {1.0, 9.0, -2.0, 9.0, 2.0};
  EXPECT_EQ(IndexOfMaxAbs(3, strided.data(), 2), 2);
}

TEST(IndexOfMaxProduct_Chunks, FindsTheLargestAcrossChunkBorders) {
  struct Case {
    const char* name;
    int32_t n;
    std::vector<std::pair<int32_t, double>> products;  // (1-based index, product)
    int32_t expected;
  };
  const std::vector<Case> cases = {
      {"first of the second chunk", 1000, {{400, 5.0}, {401, -6.0}, {999, 5.5}}, 401},
      {"tie across chunks keeps the earlier", 1000, {{7, 2.0}, {407, -2.0}}, 7},
      {"last element", 801, {{801, 1.0}}, 801},
      {"all zero", 1000, {}, 1},
  };
  for (const Case& c : cases) {
    std::vector<double> x(c.n, 0.0);
    std::vector<double> y(c.n, 1.0);
    for (auto [i, v] : c.products) {
      x[i - 1] = v / 4.0;
      y[i - 1] = 4.0;
    }
    int32_t imax = -1;
    IndexOfMaxProduct(c.n, x.data(), y.data(), imax);
    EXPECT_EQ(imax, c.expected) << c.name;
  }
  int32_t imax = -1;
  IndexOfMaxProduct(0, nullptr, nullptr, imax);
  EXPECT_EQ(imax, 1);
}

struct GemvCase {
  const char* trans;
  int32_t m, n;
  double alpha, beta;
  int32_t incx, incy;
};

TEST(DGEMV_Products, MatchTheDefinition) {
  const std::vector<GemvCase> cases = {
      {"N", 5, 4, 1.0, 1.0, 1, 1},    {"NOT-TRANS", 9, 13, -0.5, 2.0, 1, 1},
      {"n", 6, 3, 2.0, 0.0, -2, 3},   {"T", 5, 4, 1.5, -1.0, 1, 1},
      {"t", 7, 9, 1.0, 0.0, 2, -1},   {"C", 4, 6, -1.0, 0.5, -1, -2},
      {"N", 33, 17, 0.25, 1.0, 1, 1},
  };
  for (const GemvCase& c : cases) {
    SCOPED_TRACE(std::string(c.trans) + " " + std::to_string(c.m) + "x" + std::to_string(c.n));
    const bool notrans = c.trans[0] == 'N' || c.trans[0] == 'n';
    const int32_t nx = notrans ? c.n : c.m;
    const int32_t ny = notrans ? c.m : c.n;
    const int32_t lda = c.m + 2;
    const std::vector<double> a = Random(static_cast<size_t>(lda) * c.n, 3);
    const std::vector<double> x = Random(static_cast<size_t>(nx) * std::abs(c.incx), 4);
    const std::vector<double> y0 = Random(static_cast<size_t>(ny) * std::abs(c.incy), 5);
    std::vector<double> y = y0;
    DGEMV(c.trans, c.m, c.n, c.alpha, a.data(), lda, x.data(), c.incx, c.beta, y.data(), c.incy);
    std::vector<double> expected = y0;
    for (int32_t i = 1; i <= ny; ++i) {
      double sum = 0.0;
      for (int32_t k = 1; k <= nx; ++k) {
        const double aik = notrans ? a[(i - 1) + static_cast<size_t>(k - 1) * lda]
                                   : a[(k - 1) + static_cast<size_t>(i - 1) * lda];
        sum += aik * x[Position(nx, c.incx, k)];
      }
      double& yi = expected[Position(ny, c.incy, i)];
      yi = c.alpha * sum + c.beta * yi;
    }
    for (size_t k = 0; k < y.size(); ++k) EXPECT_NEAR(y[k], expected[k], 1e-13) << k;
  }
}

TEST(DGEMV_QuickReturns, TouchNothingThatIsNotNeeded) {
  const std::vector<double> a = {kNaN, kNaN, kNaN, kNaN};
  const std::vector<double> x = {kNaN, kNaN};
  // M = 0: y unchanged even with BETA = 0.
  std::vector<double> y = {5.0, 6.0};
  DGEMV("N", 0, 2, 1.0, a.data(), 1, x.data(), 1, 0.0, y.data(), 1);
  EXPECT_EQ(y, (std::vector<double>{5.0, 6.0}));
  // ALPHA = 0 and BETA = 0: y set to zero without reading A or x.
  DGEMV("N", 2, 2, 0.0, a.data(), 2, x.data(), 1, 0.0, y.data(), 1);
  EXPECT_EQ(y, (std::vector<double>{0.0, 0.0}));
  // A zero entry of x skips its column, as the axpy it stands for would: the infinities in
  // column 2 never reach y, in a group of eight columns and in the columns after it.
  std::vector<double> b(2 * 11);
  for (size_t k = 0; k < b.size(); ++k) b[k] = static_cast<double>(k + 1);
  b[2] = b[3] = kInf;
  b[20] = b[21] = -kInf;
  std::vector<double> z(11, 1.0);
  z[1] = 0.0;
  z[10] = 0.0;
  y = {0.5, 0.25};
  DGEMV("N", 2, 11, 1.0, b.data(), 2, z.data(), 1, 1.0, y.data(), 1);
  double even = 0.5;
  double odd = 0.25;
  for (int32_t j = 0; j < 10; ++j) {
    if (j == 1) continue;
    even += b[2 * j];
    odd += b[2 * j + 1];
  }
  EXPECT_EQ(y, (std::vector<double>{even, odd}));
}

TEST(DGER_Updates, MatchTheDefinition) {
  for (auto [m, n, incx, incy] : std::vector<std::array<int32_t, 4>>{
           {5, 9, 1, 1}, {4, 3, -2, 1}, {7, 6, 1, -3}, {1, 1, 2, 2}, {13, 8, 1, 1}}) {
    SCOPED_TRACE(std::to_string(m) + "x" + std::to_string(n));
    const int32_t lda = m + 1;
    const std::vector<double> a0 = Random(static_cast<size_t>(lda) * n, 6);
    const std::vector<double> x = Random(static_cast<size_t>(m) * std::abs(incx), 7);
    const std::vector<double> y = Random(static_cast<size_t>(n) * std::abs(incy), 8);
    std::vector<double> a = a0;
    DGER(m, n, -1.5, x.data(), incx, y.data(), incy, a.data(), lda);
    for (int32_t j = 1; j <= n; ++j) {
      for (int32_t i = 1; i <= lda; ++i) {
        const size_t at = (i - 1) + static_cast<size_t>(j - 1) * lda;
        const double expected =
            i <= m ? a0[at] - 1.5 * x[Position(m, incx, i)] * y[Position(n, incy, j)] : a0[at];
        EXPECT_NEAR(a[at], expected, 1e-15) << i << "," << j;
      }
    }
  }
}

// All four triangles and both diagonals, with strided and backward x: op(A) * z must give back
// the right-hand side. The unused triangle and, for a unit diagonal, the diagonal hold NaN, so
// reading them would show.
TEST(DTRSV_Solves, ReproduceTheRightHandSide) {
  const int32_t n = 9;
  const int32_t lda = 11;
  for (const char* uplo : {"UPPER", "lower"}) {
    for (const char* trans : {"NOT-TRANS", "TRANSPOSE", "c"}) {
      for (const char* diag : {"NOT-DIAG", "UNIT"}) {
        for (int32_t incx : {1, -1, 2, -3}) {
          SCOPED_TRACE(std::string(uplo) + " " + trans + " " + diag + " " + std::to_string(incx));
          const bool upper = uplo[0] == 'U';
          const bool unit = diag[0] == 'U';
          const bool t = trans[0] != 'N';
          std::vector<double> a = Random(static_cast<size_t>(lda) * n, 9);
          auto at = [&](int32_t i, int32_t j) -> double& {
            return a[i + static_cast<size_t>(j) * lda];
          };
          for (int32_t j = 0; j < n; ++j) {
            for (int32_t i = 0; i < n; ++i) {
              if (i == j) {
                at(i, j) = unit ? kNaN : 2.0 + at(i, j);
              } else if ((i < j) != upper) {
                at(i, j) = kNaN;
              }
            }
          }
          const std::vector<double> b = Random(static_cast<size_t>(n) * std::abs(incx), 10);
          std::vector<double> x = b;
          DTRSV(uplo, trans, diag, n, a.data(), lda, x.data(), incx);
          for (int32_t i = 1; i <= n; ++i) {
            double sum = 0.0;
            for (int32_t k = 1; k <= n; ++k) {
              const int32_t r = t ? k - 1 : i - 1;
              const int32_t c = t ? i - 1 : k - 1;
              const bool stored = r == c || ((r < c) == upper);
              if (!stored) continue;
              const double v = r == c && unit ? 1.0 : at(r, c);
              sum += v * x[Position(n, incx, k)];
            }
            EXPECT_NEAR(sum, b[Position(n, incx, i)], 1e-12) << i;
          }
        }
      }
    }
  }
}

// One case per check, exactly one argument bad. The child turns printing and stopping of
// TERMINAL errors off and reports the kernel's outcome and whether the output was touched.
struct CheckCase {
  const char* name;
  std::function<void(double* y)> call;
  int32_t code;
};

TEST(Level2Kernels_BadArguments, ReportTheirCodeInOrderAndTouchNothing) {
  static const double a[16] = {};
  static const double x[4] = {1, 1, 1, 1};
  const std::vector<CheckCase> cases = {
      {"DGEMV M", [](double* y) { DGEMV("N", -1, 2, 1, a, 2, x, 1, 0, y, 1); }, 1},
      {"DGEMV N", [](double* y) { DGEMV("N", 2, -1, 1, a, 2, x, 1, 0, y, 1); }, 2},
      {"DGEMV LDA<M", [](double* y) { DGEMV("N", 3, 2, 1, a, 2, x, 1, 0, y, 1); }, 3},
      {"DGEMV LDA=0", [](double* y) { DGEMV("N", 0, 2, 1, a, 0, x, 1, 0, y, 1); }, 3},
      {"DGEMV INCX", [](double* y) { DGEMV("N", 2, 2, 1, a, 2, x, 0, 0, y, 1); }, 4},
      {"DGEMV INCY", [](double* y) { DGEMV("N", 2, 2, 1, a, 2, x, 1, 0, y, 0); }, 5},
      {"DGEMV TRANS", [](double* y) { DGEMV("X", 2, 2, 1, a, 2, x, 1, 0, y, 1); }, 6},
      {"DGEMV TRANS after INCX", [](double* y) { DGEMV("X", 2, 2, 1, a, 2, x, 0, 0, y, 1); }, 4},
      {"DGER M", [](double* y) { DGER(-1, 2, 1, x, 1, x, 1, y, 2); }, 1},
      {"DGER N", [](double* y) { DGER(2, -1, 1, x, 1, x, 1, y, 2); }, 2},
      {"DGER LDA=0 M=0", [](double* y) { DGER(0, 2, 1, x, 1, x, 1, y, 0); }, 3},
      {"DGER LDA<M", [](double* y) { DGER(3, 1, 1, x, 1, x, 1, y, 2); }, 3},
      {"DGER INCX", [](double* y) { DGER(2, 2, 1, x, 0, x, 1, y, 2); }, 4},
      {"DGER INCY", [](double* y) { DGER(2, 2, 1, x, 1, x, 0, y, 2); }, 5},
      {"DTRSV N", [](double* y) { DTRSV("U", "N", "N", -1, a, 2, y, 1); }, 1},
      {"DTRSV LDA", [](double* y) { DTRSV("U", "N", "N", 3, a, 2, y, 1); }, 2},
      {"DTRSV INCX", [](double* y) { DTRSV("U", "N", "N", 2, a, 2, y, 0); }, 3},
      {"DTRSV TRANS", [](double* y) { DTRSV("X", "Q", "Z", 2, a, 2, y, 1); }, 4},
      {"DTRSV UPLO", [](double* y) { DTRSV("X", "T", "Z", 2, a, 2, y, 1); }, 5},
      {"DTRSV DIAG", [](double* y) { DTRSV("L", "T", "Z", 2, a, 2, y, 1); }, 6},
  };
  for (const CheckCase& c : cases) {
    const auto result = RunScenario([&] {
      int32_t print = 0;
      int32_t stop = 0;
      SetPrintStopAttributes(kTerminal, print, stop);
      double y[8] = {3, 3, 3, 3, 3, 3, 3, 3};
      c.call(y);
      bool untouched = true;
      for (double v : y) untouched = untouched && v == 3.0;
      std::printf("%d %d %s", N1RTY(1), N1RCD(1), untouched ? "untouched" : "changed");
    });
    EXPECT_EQ(result.output, "5 " + std::to_string(c.code) + " untouched") << c.name;
  }
}

// The printed block of a kernel's check, with the first letter of the text argument cited.
TEST(DGEMV_BadTrans, PrintsTheLetterAndStops) {
  const auto result = RunScenario([] {
    double y[2] = {};
    const double a[4] = {};
    DGEMV("xyz", 2, 2, 1.0, a, 2, y, 1, 0.0, y, 1);
  });
  EXPECT_EQ(result.output, R"(
 *** TERMINAL ERROR 6 from DGEMV.  TRANS must be set equal to N or T or C
 ***          while x is given.
)");
  EXPECT_EQ(result.exitStatus, 0);
}

// DGER shares DGEMV's checks, but reports them under its own name.
TEST(DGER_BadIncrement, PrintsItsOwnName) {
  const auto result = RunScenario([] {
    double a[4] = {};
    const double x[2] = {};
    DGER(2, 2, 1.0, x, 1, x, 0, a, 2);
  });
  EXPECT_EQ(result.output, R"(
 *** TERMINAL ERROR 5 from DGER.  INCY must not be equal to zero while 0 is
 ***          given.
)");
  EXPECT_EQ(result.exitStatus, 0);
}

}  // namespace
}  // namespace vesk1
