#include "linalg/lu.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "errors/errors.h"
#include "linalg/inverse.h"
#include "linalg/kernels.h"
#include "matrices.h"
#include "support/child_process.h"

namespace vesk1 {
namespace {

using test::Matrix;
using test::RandomMatrix;
using test::RunScenario;

struct Factored {
  Matrix fac;
  std::vector<int32_t> pivot;
  double rcond = -1.0;
};

// Calls DLFCRG in this process; for matrices that neither warn nor fail.
Factored Factor(const Matrix& a, int32_t ldfac) {
  Factored f{Matrix{a.n, ldfac, std::vector<double>(static_cast<size_t>(ldfac) * a.n, 5.5)},
             std::vector<int32_t>(a.n, 0)};
  DLFCRG(a.n, a.data.data(), a.ld, f.fac.data.data(), ldfac, f.pivot.data(), f.rcond);
  return f;
}

// Orders around the panel width and beyond, with leading dimensions larger than the order.
// The panel organisation must give the plain column-order result up to rounding: the same
// pivots, the same scales and factors within a few units of the last place.
TEST(DL2TRG_Panels, AgreeWithPlainColumnOrder) {
  for (int32_t n : {1, 2, 3, 7, 8, 9, 10, 15, 16, 17, 24, 25, 33, 64, 71, 130}) {
    SCOPED_TRACE("n = " + std::to_string(n));
    const Matrix a = RandomMatrix(n, n + 3, 100 + n);
    const test::PlainFactors plain = test::PlainFactor(a, SafeMinimum());
    Matrix fac{n, n + 1, std::vector<double>(static_cast<size_t>(n + 1) * n, test::kPadding)};
    std::vector<int32_t> pivot(n, 0);
    std::vector<double> scale(n, 0.0);
    DL2TRG(n, a.data.data(), a.ld, fac.data.data(), fac.ld, pivot.data(), scale.data());
    ASSERT_EQ(N1RTY(1), 0);
    EXPECT_EQ(pivot, plain.pivot);
    EXPECT_EQ(scale, plain.scale);
    double largest = 0.0;
    for (double v : plain.fac.data) largest = std::max(largest, std::fabs(v));
    for (int32_t j = 0; j < n; ++j) {
      for (int32_t i = 0; i < n; ++i) {
        EXPECT_NEAR(fac(i, j), plain.fac(i, j), 1e-13 * largest) << i << "," << j;
      }
      EXPECT_EQ(fac(n, j), test::kPadding) << "padding row written in column " << j;
    }
  }
}

TEST(DLFCRG_RandomMatrices, SmallScaledResidualAndConsistentEstimate) {
  for (int32_t n : {1, 5, 8, 9, 31, 100, 257}) {
    SCOPED_TRACE("n = " + std::to_string(n));
    const Matrix a = RandomMatrix(n, n + 2, 7 * n);
    const Matrix copy = a;
    const Factored f = Factor(a, n + 5);
    EXPECT_EQ(a.data, copy.data) << "A changed";
    EXPECT_EQ(f.pivot.back(), n);
    EXPECT_LT(test::FactorResidual(a, f.fac, f.pivot), 30.0);

    // The estimate, rerun on the routine's own factors, is the routine's RCOND; it lies
    // between the true reciprocal condition and 1, and well within a factor of it.
    double norm = -1.0;
    DNR1RR(n, n, a.data.data(), a.ld, norm);
    EXPECT_EQ(norm, test::Norm1(a));
    std::vector<double> z(n);
    double again = 1.0;
    EstimateReciprocalCondition(n, f.fac.data.data(), f.fac.ld, f.pivot.data(), norm, z.data(),
                                again);
    EXPECT_EQ(again, f.rcond);
    Matrix ainv{n, n, std::vector<double>(static_cast<size_t>(n) * n)};
    DLINRG(n, a.data.data(), a.ld, ainv.data.data(), n);
    const double truth = 1.0 / (test::Norm1(a) * test::Norm1(ainv));
    EXPECT_GE(f.rcond, truth * (1.0 - 1e-10));
    EXPECT_LE(f.rcond, 1.0);
    EXPECT_LE(f.rcond, 20.0 * truth);
  }
}

TEST(DLFCRG_Identity, UnchangedFactorsAndUnitEstimate) {
  for (int32_t n : {2, 5, 12}) {
    Matrix a{n, n, std::vector<double>(static_cast<size_t>(n) * n, 0.0)};
    for (int32_t i = 0; i < n; ++i) a(i, i) = 1.0;
    Factored f = Factor(a, n);
    EXPECT_EQ(f.fac.data, a.data);
    for (int32_t k = 0; k < n; ++k) EXPECT_EQ(f.pivot[k], k + 1);
    if (n == 2) {
      EXPECT_EQ(f.rcond, 1.0);
    } else {
      EXPECT_NEAR(f.rcond, 1.0, 1e-15);
    }
    std::vector<double> scale(n);
    DL2TRG(n, a.data.data(), n, f.fac.data.data(), n, f.pivot.data(), scale.data());
    EXPECT_EQ(scale, std::vector<double>(n, 1.0));
  }
}

// Row 1 is larger, but relative to its own largest entry row 2 is the better pivot.
TEST(DL2TRG_ScaledPivot, RowWithHugeEntryElsewhereDoesNotWin) {
  const std::vector<double> a = {2.0, 1.0, 100000.0, 1.0};
  std::vector<double> fac(4);
  std::vector<int32_t> pivot(2);
  std::vector<double> scale(2);
  DL2TRG(2, a.data(), 2, fac.data(), 2, pivot.data(), scale.data());
  EXPECT_EQ(pivot, (std::vector<int32_t>{2, 2}));
  EXPECT_EQ(fac, (std::vector<double>{1.0, -2.0, 1.0, 99998.0}));
  EXPECT_EQ(scale, (std::vector<double>{1.0, 1.0 / 100000.0}));
}

// Equal scaled magnitudes: the row nearer the diagonal is the pivot, although the other one
// is larger in plain magnitude.
TEST(DL2TRG_ScaledTie, LowerIndexWins) {
  const std::vector<double> a = {2.0, 4.0, 1.0, 3.0};
  std::vector<double> fac(4);
  std::vector<int32_t> pivot(2);
  std::vector<double> scale(2);
  DL2TRG(2, a.data(), 2, fac.data(), 2, pivot.data(), scale.data());
  EXPECT_EQ(pivot, (std::vector<int32_t>{1, 2}));
  EXPECT_EQ(fac, (std::vector<double>{2.0, -2.0, 1.0, 1.0}));
}

// A zero row keeps the scale factor 1 and makes the matrix singular; the factors are still
// returned when the stop table lets the process go on.
TEST(DL2TRG_ZeroRow, UnitScaleAndFatalOutcome) {
  const auto result = RunScenario([] {
    int32_t print = 0;
    int32_t stop = 0;
    SetPrintStopAttributes(kFatal, print, stop);
    const double a[9] = {4.0, 0.0, 1.0, 2.0, 0.0, 8.0, 1.0, 0.0, 1.0};
    double fac[9];
    int32_t pivot[3];
    double scale[3];
    DL2TRG(3, a, 3, fac, 3, pivot, scale);
    std::printf("%d %d scale %g %g %g\n", N1RTY(1), N1RCD(1), scale[0], scale[1], scale[2]);
  });
  EXPECT_EQ(result.output, "4 2 scale 0.25 0.125 1\n");
}

TEST(DLFCRG_InPlace, SameAsSeparateArrays) {
  for (int32_t n : {1, 9, 40}) {
    const Matrix a = RandomMatrix(n, n + 1, 55 + n);
    const Factored separate = Factor(a, a.ld);
    Matrix same = a;
    std::vector<int32_t> pivot(n);
    double rcond = -1.0;
    DLFCRG(n, same.data.data(), same.ld, same.data.data(), same.ld, pivot.data(), rcond);
    for (int32_t j = 0; j < n; ++j) {
      for (int32_t i = 0; i < n; ++i) EXPECT_EQ(same(i, j), separate.fac(i, j));
    }
    EXPECT_EQ(pivot, separate.pivot);
    EXPECT_EQ(rcond, separate.rcond);
  }
}

// The printed blocks of the factorization's checks and outcomes, exact to the blank.
struct PrintedCase {
  const char* name;
  std::function<void()> body;
  const char* expected;
};

void ExpectPrinted(const std::vector<PrintedCase>& cases) {
  for (const PrintedCase& c : cases) {
    const auto result = RunScenario(c.body);
    EXPECT_EQ(result.output, c.expected) << c.name;
  }
}

TEST(DLFCRG_Messages, PrintedExactly) {
  static double fac[16];
  static int32_t pivot[4];
  static double rcond;
  ExpectPrinted({
      {"order zero",
       [] {
         const double a[1] = {1.0};
         DLFCRG(0, a, 1, fac, 1, pivot, rcond);
       },
       R"(
 *** TERMINAL ERROR 1 from DLFCRG.  The order of the matrix must be positive
 ***          while N = 0 is given.
)"},
      {"LDA below N, reported by the worker",
       [] {
         const double a[4] = {1.0, 0.0, 0.0, 1.0};
         DLFCRG(2, a, 1, fac, 2, pivot, rcond);
       },
       R"(
 *** TERMINAL ERROR 2 from DL2CRG.  The order of the matrix must be less than
 ***          or equal to its leading dimension while N = 2 and LDA = 1 are 
 ***          given.
     Here is a traceback of subprogram calls in reverse order:
     Routine name                    Error type  Error code
     ------------                    ----------  ----------
     DL2CRG                               5           2    (Called internally)
     DLFCRG                               0           0
     USER                                 0           0
)"},
      {"zero row",
       [] {
         const double a[4] = {1.0, 0.0, 2.0, 0.0};
         DLFCRG(2, a, 2, fac, 2, pivot, rcond);
         std::printf("not reached\n");
       },
       R"(
 *** FATAL    ERROR 2 from DLFCRG.  The input matrix is singular.  Some of
 ***          the diagonal elements of the upper triangular matrix U of the 
 ***          LU factorization are close to zero.
)"},
      {"tiny single entry",
       [] {
         const double a[1] = {1e-310};
         DLFCRG(1, a, 1, fac, 1, pivot, rcond);
       },
       R"(
 *** FATAL    ERROR 2 from DLFCRG.  The input matrix is singular.  Some of
 ***          the diagonal elements of the upper triangular matrix U of the 
 ***          LU factorization are close to zero.
)"},
      {"pivots fine, estimate at the spacing",
       [] {
         const double a[4] = {1.0, 0.0, 0.0, 0x1p-60};
         DLFCRG(2, a, 2, fac, 2, pivot, rcond);
         std::printf("returned %g\n", rcond);
       },
       R"(
 *** WARNING  ERROR 1 from DLFCRG.  The matrix is algorithmically singular. 
 ***          An estimate of the reciprocal of its L1 condition number is 
 ***          RCOND = 8.673617379884035E-19.
returned 8.67362e-19
)"},
  });
}

// The printed block of a singular matrix, charged to ROUTINE.
std::string SingularFrom(const char* routine) {
  std::string text = "\n *** FATAL    ERROR 2 from ";
  text.append(routine);
  text.append(R"(.  The input matrix is singular.  Some of
 ***          the diagonal elements of the upper triangular matrix U of the 
 ***          LU factorization are close to zero.
)");
  return text;
}

// A NaN or an infinity anywhere in the matrix never gives a silent result: a NaN reaching any
// pivot, the last included, makes the matrix singular, and an RCOND that is NaN draws the
// ill-conditioning warning. Each row calls ROUTINE on the 2 by 2 matrix A (DLINRT as an upper
// triangle) and prints how it returned, if it does.
TEST(DLFCRG_DLINRG_NonFiniteEntry, FailureIsReported) {
  constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
  constexpr double kInf = std::numeric_limits<double>::infinity();
  struct Case {
    const char* name;
    std::string routine;
    std::vector<double> a;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"NaN reaching only the last pivot", "DLFCRG", {1.0, kNaN, 0.0, 1.0}, SingularFrom("DLFCRG")},
      {"NaN reaching only the last pivot", "DLINRG", {1.0, kNaN, 0.0, 1.0}, SingularFrom("DLINRG")},
      {"NaN as the first pivot", "DLFCRG", {kNaN, 0.0, 0.0, 1.0}, SingularFrom("DLFCRG")},
      {"infinity below the diagonal turning the last pivot into NaN",
       "DLFCRG",
       {1.0, kInf, 0.0, 1.0},
       SingularFrom("DLFCRG")},
      {"infinite pivots and an estimate that is NaN",
       "DLFCRG",
       {1.0, kInf, 1e308, 1.0},
       R"(
 *** WARNING  ERROR 1 from DLFCRG.  The matrix is algorithmically singular. 
 ***          An estimate of the reciprocal of its L1 condition number is 
 ***          RCOND = NaN.
returned, RCOND NaN
)"},
      {"infinite pivots and an estimate that is NaN",
       "DLINRG",
       {1.0, kInf, 1e308, 1.0},
       R"(
 *** WARNING  ERROR 1 from DLINRG.  The matrix is too ill-conditioned. An
 ***          estimate of the reciprocal of its L1 condition number is RCOND 
 ***          = NaN.  The inverse might not be accurate.
returned
)"},
      {"NaN on the diagonal",
       "DLINRT",
       {1.0, 0.0, 0.0, kNaN},
       R"(
 *** TERMINAL ERROR 5 from DLINRT.  The matrix to be inverted is singular. 
 ***          The index of the first zero diagonal element of A is 2.
)"},
  };
  for (const Case& c : cases) {
    const auto result = RunScenario([&c] {
      double out[4];
      int32_t pivot[2];
      double rcond = -1.0;
      if (c.routine == "DLFCRG") {
        DLFCRG(2, c.a.data(), 2, out, 2, pivot, rcond);
        std::printf("returned, RCOND %s\n", std::isnan(rcond) ? "NaN" : "not NaN");
      } else if (c.routine == "DLINRG") {
        DLINRG(2, c.a.data(), 2, out, 2);
        std::printf("returned\n");
      } else {
        DLINRT(2, c.a.data(), 2, 2, out, 2);
        std::printf("returned\n");
      }
    });
    EXPECT_EQ(result.output, c.expected) << c.routine << ", " << c.name;
  }
}

// Random matrices with one NaN or one infinity somewhere: every call of either routine ends
// with a warning or a failure, never with a silent result.
TEST(DLFCRG_DLINRG_OneNonFiniteEntry, NeverSilent) {
  const auto result = RunScenario([] {
    int32_t print = 0;
    int32_t stop = 0;
    SetPrintStopAttributes(0, print, stop);
    const double kSpecial[3] = {std::numeric_limits<double>::quiet_NaN(),
                                std::numeric_limits<double>::infinity(),
                                -std::numeric_limits<double>::infinity()};
    for (int32_t trial = 0; trial < 600; ++trial) {
      const int32_t n = 1 + trial % 20;
      Matrix a = RandomMatrix(n, n, 900 + trial);
      const int32_t at = (trial * 7919) % (n * n);
      a(at % n, at / n) = kSpecial[trial % 3];
      std::vector<double> out(static_cast<size_t>(n) * n);
      std::vector<int32_t> pivots(n);
      double estimate = -1.0;
      DLFCRG(n, a.data.data(), n, out.data(), n, pivots.data(), estimate);
      const int32_t factored = N1RTY(1);
      DLINRG(n, a.data.data(), n, out.data(), n);
      const int32_t inverted = N1RTY(1);
      if (factored == 0 || inverted == 0) {
        std::printf("silent: n %d entry (%d,%d) = %g, types %d %d\n", n, at % n + 1, at / n + 1,
                    kSpecial[trial % 3], factored, inverted);
      }
    }
  });
  EXPECT_EQ(result.output, "");
  EXPECT_EQ(result.exitStatus, test::kScenarioReturned);
}

// With the condition flag set to 1 nothing is estimated and nothing warns; any other value is
// refused before anything is factored.
TEST(DL2CRG_ConditionFlag, OneSkipsTheEstimateOthersAreRefused) {
  const auto skipped = RunScenario([] {
    const int32_t option[1] = {17};
    int32_t values[2] = {1, 1};
    IUMAG("MATH", 1, 2, 1, option, values);
    const double a[4] = {1.0, 0.0, 0.0, 0x1p-60};
    double fac[4];
    int32_t pivot[2];
    double rcond = -1.0;
    DLFCRG(2, a, 2, fac, 2, pivot, rcond);
    std::printf("rcond %g pivot %d %d fac %g %g\n", rcond, pivot[0], pivot[1], fac[0], fac[3]);
  });
  EXPECT_EQ(skipped.output, "rcond 1 pivot 1 2 fac 1 8.67362e-19\n");

  const auto refused = RunScenario([] {
    const int32_t option[1] = {17};
    int32_t values[2] = {1, 3};
    IUMAG("MATH", 1, 2, 1, option, values);
    const double a[1] = {2.0};
    double fac[1] = {-9.0};
    int32_t pivot[1] = {-9};
    double rcond = -1.0;
    DLFCRG(1, a, 1, fac, 1, pivot, rcond);
  });
  EXPECT_EQ(refused.output, R"(
 *** TERMINAL ERROR 4 from DL2CRG.  The flag value for computing the matrix
 ***          condition number must be 1 or 2 while 3 is given.
     Here is a traceback of subprogram calls in reverse order:
     Routine name                    Error type  Error code
     ------------                    ----------  ----------
     DL2CRG                               5           4    (Called internally)
     DLFCRG                               0           0
     USER                                 0           0
)");
}

// The estimator written out as plainly as possible, reading row k of U where it lies; every
// sum and product in the order and with the kernels the library uses.
double PlainEstimate(int32_t n, const Matrix& f, const std::vector<int32_t>& pivot, double norm) {
  std::vector<double> z(n, 0.0);
  auto normalize = [&] {
    const double s = 1.0 / VectorAbsSum(n, z.data(), 1);
    VectorScale(n, s, z.data(), 1);
    return s;
  };
  double e = 1.0;
  for (int32_t k = 0; k < n; ++k) {
    if (z[k] != 0.0) e = -z[k] >= 0.0 ? std::fabs(e) : -std::fabs(e);
    const double ukk = std::fabs(f(k, k));
    if (std::fabs(e - z[k]) > ukk) {
      const double s = ukk / std::fabs(e - z[k]);
      VectorScale(n, s, z.data(), 1);
      e = s * e;
    }
    double wp = e - z[k], wm = -e - z[k];
    double sp = std::fabs(wp), sn = std::fabs(wm);
    wp = f(k, k) != 0.0 ? wp / f(k, k) : 1.0;
    wm = f(k, k) != 0.0 ? wm / f(k, k) : 1.0;
    for (int32_t j = k + 1; j < n; ++j) {
      sn = sn + std::fabs(z[j] + wm * f(k, j));
      z[j] = z[j] + wp * f(k, j);
      sp = sp + std::fabs(z[j]);
    }
    if (k + 1 < n && sp < sn) {
      VectorAxpy(n - k - 1, wm - wp, &f.data[k + static_cast<size_t>(k + 1) * f.ld], f.ld,
                 &z[k + 1], 1);
      wp = wm;
    }
    z[k] = wp;
  }
  normalize();
  for (int32_t k = n - 1; k >= 0; --k) {
    if (k + 1 < n)
      z[k] += VectorDot(n - k - 1, &f.data[k + 1 + static_cast<size_t>(k) * f.ld], 1, &z[k + 1], 1);
    if (std::fabs(z[k]) > 1.0) VectorScale(n, 1.0 / std::fabs(z[k]), z.data(), 1);
    std::swap(z[k], z[pivot[k] - 1]);
  }
  normalize();
  double yn = 1.0;
  for (int32_t k = 0; k < n; ++k) {
    const double t = z[pivot[k] - 1];
    z[pivot[k] - 1] = z[k];
    z[k] = t;
    if (k + 1 < n) {
      VectorAxpy(n - k - 1, t, &f.data[k + 1 + static_cast<size_t>(k) * f.ld], 1, &z[k + 1], 1);
    }
    if (std::fabs(z[k]) > 1.0) {
      const double s = 1.0 / std::fabs(z[k]);
      VectorScale(n, s, z.data(), 1);
      yn = s * yn;
    }
  }
  yn = normalize() * yn;
  for (int32_t k = n - 1; k >= 0; --k) {
    const double ukk = f(k, k);
    if (std::fabs(z[k]) > std::fabs(ukk)) {
      const double s = std::fabs(ukk) / std::fabs(z[k]);
      VectorScale(n, s, z.data(), 1);
      yn = s * yn;
    }
    z[k] = ukk != 0.0 ? z[k] / ukk : 1.0;
    VectorAxpy(k, -z[k], &f.data[static_cast<size_t>(k) * f.ld], 1, z.data(), 1);
  }
  yn = normalize() * yn;
  return yn / norm;
}

// The estimate copies the rows of U it reads a few at a time; orders past several such groups,
// a well and an ill-conditioned matrix: the same bits as the plain estimator.
TEST(EstimateReciprocalCondition_RowGroups, SameBitsAsPlainEstimator) {
  for (int32_t n : {1, 2, 63, 64, 65, 300}) {
    for (bool hilbert : {false, true}) {
      SCOPED_TRACE(testing::Message() << "n = " << n << (hilbert ? ", Hilbert" : ""));
      Matrix a = RandomMatrix(n, n + 1, 40 + n);
      for (int32_t j = 0; j < n && hilbert; ++j) {
        for (int32_t i = 0; i < n; ++i) a(i, j) = 1.0 / (i + j + 1) + 1e-12 * a(i, j);
      }
      Matrix fac{n, n + 2, std::vector<double>(static_cast<size_t>(n + 2) * n, 0.0)};
      std::vector<int32_t> pivot(n);
      std::vector<double> z(n);
      DL2TRG(n, a.data.data(), a.ld, fac.data.data(), fac.ld, pivot.data(), z.data());
      const double norm = test::Norm1(a);
      double rcond = -1.0;
      EstimateReciprocalCondition(n, fac.data.data(), fac.ld, pivot.data(), norm, z.data(), rcond);
      const double plain = PlainEstimate(n, fac, pivot, norm);
      EXPECT_EQ(std::memcmp(&rcond, &plain, sizeof rcond), 0) << rcond << " " << plain;
    }
  }
}

// DL2CRG takes the norm in the pass that copies A: RCOND has the bits of the estimate from
// DNR1RR's norm whichever column holds the largest sum (the first, one of a group of four, one
// of the last few).
TEST(DL2CRG_Norm, SameAsDNR1RRWhereverTheLargestSumLies) {
  for (int32_t n : {1, 5, 7}) {
    for (int32_t big = 0; big < n; ++big) {
      SCOPED_TRACE(testing::Message() << "n = " << n << ", column " << big);
      Matrix a = RandomMatrix(n, n + 1, 70 + n);
      // Small entries, so that sums differing by far less than 1 still decide.
      for (double& v : a.data) v *= 1e-3;
      for (int32_t i = 0; i < n; ++i) a(i, big) *= 8.0;
      Matrix fac{n, n, std::vector<double>(static_cast<size_t>(n) * n, 0.0)};
      std::vector<int32_t> pivot(n);
      std::vector<double> work(n);
      double rcond = -1.0;
      DL2CRG(n, a.data.data(), a.ld, fac.data.data(), fac.ld, pivot.data(), rcond, work.data());
      double norm = 0.0;
      DNR1RR(n, n, a.data.data(), a.ld, norm);
      double expected = -1.0;
      EstimateReciprocalCondition(n, fac.data.data(), fac.ld, pivot.data(), norm, work.data(),
                                  expected);
      EXPECT_EQ(std::memcmp(&rcond, &expected, sizeof rcond), 0) << rcond << " " << expected;
    }
  }
}

// The norm adds four columns side by side; each column's sum, and the choice among them, as
// one column at a time: a NaN sum is never the largest, a tie keeps the value.
TEST(DNR1RR_Columns, LargestSumInColumnOrder) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double a[3 * 6] = {1, -2, 0.5, 3, 0, 0, nan, 1, 1, -3, 0, 0, 0.25, 0.25, 0.25, 2, 2, 0.5};
  double result = -1.0;
  DNR1RR(3, 6, a, 3, result);
  EXPECT_EQ(result, 4.5);
  DNR1RR(3, 3, a, 3, result);
  EXPECT_EQ(result, 3.5);
  DNR1RR(2, 4, a + 6, 3, result);
  EXPECT_EQ(result, 4.0);
}

}  // namespace
}  // namespace vesk1
