// The inversion's linear solver over vesk1_fdll's CDLFCRG, loaded as the client loads it.
#include "client/fdll_solver.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "common/fdll_loader.h"
#include "tests/fixtures/loaded_fdll.h"

namespace vesk1::client {
namespace {

using test::Fdll;

TEST(SolveWithCondition_WellConditioned, SolutionOfTheSystem) {
  ASSERT_NE(Fdll().factor, nullptr) << Fdll().error;
  // Column-major [[4, 1, 0], [1, 3, 1], [0, 1, 2]], x = (1, -2, 3).
  const std::vector<double> a = {4, 1, 0, 1, 3, 1, 0, 1, 2};
  const std::vector<double> b = {2, -2, 4};
  std::vector<double> x;
  double rcond = 0;
  ASSERT_TRUE(SolveWithCondition(Fdll().factor, 3, a, b, 1e-12, x, rcond));
  EXPECT_NEAR(x[0], 1, 1e-14);
  EXPECT_NEAR(x[1], -2, 1e-14);
  EXPECT_NEAR(x[2], 3, 1e-14);
  EXPECT_GT(rcond, 0.1);
}

// Two nearly equal rows: the estimate lies near 1e-13, the step is refused and x untouched.
TEST(SolveWithCondition_IllConditioned, RefusedWithTheEstimate) {
  ASSERT_NE(Fdll().factor, nullptr) << Fdll().error;
  const std::vector<double> a = {1, 1, 1, 1 + 1e-13};
  std::vector<double> x = {7, 7};
  double rcond = 1;
  EXPECT_FALSE(SolveWithCondition(Fdll().factor, 2, a, {1, 2}, 1e-12, x, rcond));
  EXPECT_LT(rcond, 1e-12);
  EXPECT_GT(rcond, 1e-15);
  EXPECT_EQ(x, (std::vector<double>{7, 7}));
}

// Three right-hand sides with one factorization: each column the solution Solve gives alone.
TEST(SolveColumnsWithCondition_ThreeColumns, EachColumnAsSolvedAlone) {
  ASSERT_NE(Fdll().factor, nullptr) << Fdll().error;
  const std::vector<double> a = {4, 1, 0, 1, 3, 1, 0, 1, 2};
  const std::vector<double> b = {2, -2, 4, 1, 0, 0, 0.5, 7, -3};
  std::vector<double> x;
  double rcond = 0;
  ASSERT_TRUE(SolveColumnsWithCondition(Fdll().factor, 3, a, 3, b, 1e-12, x, rcond));
  ASSERT_EQ(x.size(), 9u);
  for (size_t c = 0; c < 3; ++c) {
    std::vector<double> one;
    double r = 0;
    ASSERT_TRUE(SolveWithCondition(Fdll().factor, 3, a, {b[3 * c], b[3 * c + 1], b[3 * c + 2]},
                                   1e-12, one, r));
    EXPECT_EQ(r, rcond);
    for (size_t j = 0; j < 3; ++j) EXPECT_EQ(x[3 * c + j], one[j]) << c << " " << j;
  }
  // A value that is not finite in the last column refuses the whole system unfactored.
  std::vector<double> bad = b;
  bad[8] = std::numeric_limits<double>::infinity();
  EXPECT_FALSE(SolveColumnsWithCondition(Fdll().factor, 3, a, 3, bad, 1e-12, x, rcond));
  EXPECT_TRUE(std::isnan(rcond));
}

int factorCalls = 0;
void CountingFactor(const int32_t*, const double*, const int32_t*, double*, const int32_t*,
                    int32_t*, double* rcond) {
  ++factorCalls;
  *rcond = 0;  // refused afterwards as ill-conditioned, so the factors are never read
}

// The library stops the process on a NaN pivot: such a system is refused before the call, with
// a NaN estimate; the finite system of the last row does reach it.
TEST(SolveWithCondition_NotFinite, RefusedWithoutCallingTheLibrary) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  struct Case {
    std::vector<double> a, b;
  };
  const Case cases[] = {{{4, nan, 1, 3}, {1, 2}}, {{4, 1, 1, 3}, {1, inf}}, {{4, 1, 1, 3}, {1, 2}}};
  for (size_t k = 0; k < 3; ++k) {
    factorCalls = 0;
    std::vector<double> x = {7, 7};
    double rcond = 0;
    const bool solved =
        SolveWithCondition(CountingFactor, 2, cases[k].a, cases[k].b, 1e-12, x, rcond);
    EXPECT_FALSE(solved) << k;
    EXPECT_EQ(factorCalls, k == 2 ? 1 : 0) << k;
    EXPECT_EQ(std::isnan(rcond), k != 2) << k;
    EXPECT_EQ(x, (std::vector<double>{7, 7}));
  }
}

}  // namespace
}  // namespace vesk1::client
