// The linear-algebra and sort exports, called through the loaded library as its callers do.
#include <gtest/gtest.h>
#include <vesk1/fdll.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "loaded_library.h"
#include "support/child_process.h"

namespace vesk1::test {
namespace {

TEST(CDLFCRG_ScaledPivotExample, FactorsThroughTheExport) {
  const auto factor = RequireEntry<CDLFCRG_Entry>("CDLFCRG");
  ASSERT_NE(factor, nullptr);
  const int32_t n = 2;
  const double a[4] = {2.0, 1.0, 100000.0, 1.0};
  double fac[4] = {};
  int32_t pivot[2] = {};
  double rcond = -1.0;
  factor(&n, a, &n, fac, &n, pivot, &rcond);
  EXPECT_EQ(pivot[0], 2);
  EXPECT_EQ(pivot[1], 2);
  EXPECT_EQ(fac[1], -2.0);
  EXPECT_EQ(fac[3], 99998.0);
  // Condition 1-norm: ||A|| = 100001, ||A^-1|| = 100002 / 99998.
  EXPECT_GE(rcond, 99998.0 / (100001.0 * 100002.0) * (1 - 1e-12));
  EXPECT_LE(rcond, 1.0);
}

TEST(CDLINRG_SmallMatrix, InverseThroughTheExport) {
  const auto invert = RequireEntry<CDLINRG_Entry>("CDLINRG");
  ASSERT_NE(invert, nullptr);
  const int32_t n = 3;
  const int32_t lda = 4;
  const double a[12] = {4.0, 2.0, 1.0, 0.0, 1.0, 5.0, 2.0, 0.0, 0.0, 1.0, 3.0, 0.0};
  double ainv[9] = {};
  invert(&n, a, &lda, ainv, &n);
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) {
      double sum = 0.0;
      for (int m = 0; m < 3; ++m) sum += ainv[i + 3 * m] * a[m + 4 * j];
      EXPECT_NEAR(sum, i == j ? 1.0 : 0.0, 1e-15) << i << "," << j;
    }
  }
}

TEST(CDSVRGP_SmallExample, SortsThroughTheExport) {
  const auto sort = RequireEntry<CDSVRGP_Entry>("CDSVRGP");
  ASSERT_NE(sort, nullptr);
  const int32_t n = 3;
  const double ra[3] = {3.0, 1.0, 2.0};
  double rb[3] = {};
  int32_t iperm[3] = {1, 2, 3};
  sort(&n, ra, rb, iperm);
  EXPECT_EQ(std::vector<double>(rb, rb + 3), (std::vector<double>{1.0, 2.0, 3.0}));
  EXPECT_EQ(std::vector<int32_t>(iperm, iperm + 3), (std::vector<int32_t>{2, 3, 1}));
}

TEST(CDRLINE_WorkedExample, FitsThroughTheExport) {
  const auto fit = RequireEntry<CDRLINE_Entry>("CDRLINE");
  ASSERT_NE(fit, nullptr);
  const int32_t nobs = 3;
  const double x[3] = {1, 2, 3}, y[3] = {2, 4, 7};
  double bint = 0, bslope = 0, fstat[12] = {};
  fit(&nobs, x, y, &bint, &bslope, fstat);
  EXPECT_NEAR(bint, -2.0 / 3, 1e-14);
  EXPECT_NEAR(bslope, 2.5, 1e-14);
  EXPECT_NEAR(fstat[10], 1.0 / 6, 1e-14);
  EXPECT_EQ(fstat[11], 0.0);
}

TEST(CDRLINE_NoPairs, ReportedUnderTheRoutinesOwnName) {
  const auto result = RunScenario([] {
    const auto fit = Fdll().Find<CDRLINE_Entry>("CDRLINE");
    const int32_t nobs = -1;
    double bint = 0, bslope = 0, fstat[12] = {};
    fit(&nobs, nullptr, nullptr, &bint, &bslope, fstat);
    std::printf("not reached\n");
  });
  EXPECT_EQ(result.output, R"(
 *** TERMINAL ERROR 1 from DRLINE.  The number of data points must be at
 ***          least one but NOBS = -1 is given.
)");
  EXPECT_EQ(result.exitStatus, 0);
}

// The prefixed name is never printed and never stands on the routine-name stack.
TEST(CDLINRG_OrderZero, ReportedUnderTheRoutinesOwnName) {
  const auto result = RunScenario([] {
    const auto invert = Fdll().Find<CDLINRG_Entry>("CDLINRG");
    const int32_t n = 0;
    const double a[1] = {1.0};
    double ainv[1] = {};
    invert(&n, a, &n, ainv, &n);
    std::printf("not reached\n");
  });
  EXPECT_EQ(result.output, R"(
 *** TERMINAL ERROR 1 from DLINRG.  The order of the matrix must be positive
 ***          while N = 0 is given.
)");
  EXPECT_EQ(result.exitStatus, 0);
}

}  // namespace
}  // namespace vesk1::test
