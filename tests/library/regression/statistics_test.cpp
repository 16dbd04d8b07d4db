#include "regression/statistics.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <limits>
#include <vector>

#include "errors/errors.h"
#include "printed.h"
#include "regression/checks.h"
#include "support/child_process.h"

namespace vesk1 {
namespace {

using test::ExpectPrinted;
using test::RunScenario;

// R = diag(2, 0, 4) with B = (2, B2, 8): the middle variable is dropped.
void SolveDiagonal(int32_t ipath, double b2) {
  const double r[9] = {2, 0, 0, 0, 0, 0, 0, 0, 4};
  const double b[3] = {2, b2, 8};
  double x[3] = {9, 9, 9};
  int32_t nrank = 0;
  DGIRTS(3, r, 3, 1, b, 3, ipath, nrank, x, 3, nullptr, 1);
  std::printf("rank %d x %g %g %g\n", nrank, x[0], x[1], x[2]);
}

TEST(DGIRTS_ZeroDiagonal, SolutionsAndWarnings) {
  ExpectPrinted({
      {"IPATH 1, inconsistent row 2", [] { SolveDiagonal(1, 5); }, R"(
 *** WARNING  ERROR 1 from DGIRTS.  The linear system of equations is
 ***          inconsistent within the computed tolerance.  Elements of row 2 
 ***          are zero, but B(2,1) = 5.000000000000000E+00.  X(2,1) is set to 
 ***          zero.
rank 2 x 1 0 2
)"},
      {"IPATH 1, consistent", [] { SolveDiagonal(1, 0); }, "rank 2 x 1 0 2\n"},
      {"IPATH 2, inconsistent", [] { SolveDiagonal(2, 5); }, R"(
 *** WARNING  ERROR 1 from DGIRTS.  The linear system of equations is
 ***          inconsistent within the computed tolerance.  X(2,1) is set to 
 ***          zero.
rank 2 x 1 0 2
)"},
      {"IPATH 2, consistent within the relative tolerance",
       [] {
         // Row 2 of transpose(R) is (1, 0): X(2) must equal X(1) = 1 to within 200 eps.
         const double r[4] = {1, 0, 1, 0};
         const double b[2] = {1, 1 + 1e-14};
         double x[2] = {9, 9};
         int32_t nrank = 0;
         DGIRTS(2, r, 2, 1, b, 2, 2, nrank, x, 2, nullptr, 1);
         std::printf("rank %d x %g %g\n", nrank, x[0], x[1]);
       },
       "rank 1 x 1 0\n"},
      {"a nonzero element in a zero row, IPATH 3",
       [] {
         const double r[4] = {0, 0, 3, 1};
         double rinv[4];
         int32_t nrank = 0;
         DGIRTS(2, r, 2, 0, nullptr, 1, 3, nrank, nullptr, 1, rinv, 2);
       },
       R"(
 *** TERMINAL ERROR 15 from DGIRTS.  R(1,1) = 0.000000000000000E+00. 
 ***          Remaining elements for the row must also be zero, but R(1,2) = 
 ***          3.000000000000000E+00 is not.
)"},
      {"NB 1 with LDB 0",
       [] {
         const double r[1] = {1};
         int32_t nrank = 0;
         DGIRTS(1, r, 1, 1, r, 0, 1, nrank, nullptr, 1, nullptr, 1);
       },
       R"(
 *** TERMINAL ERROR 7 from DGIRTS.  LDB = 0.  LDB must be greater than or
 ***          equal to 1.
)"},
  });
}

TEST(DGIRTS_Inverse, SingularFactorGetsZeroRowAndColumn) {
  // Upper triangle of a 3 by 3 R with variable 2 dropped; below the diagonal junk.
  const double r[9] = {2, 99, 99, 0, 0, 99, 1, 0, 4};
  double rinv[9];
  int32_t nrank = 0;
  DGIRTS(3, r, 3, 0, nullptr, 1, 3, nrank, nullptr, 1, rinv, 3);
  EXPECT_EQ(nrank, 2);
  EXPECT_EQ(std::vector<double>(rinv, rinv + 9),
            (std::vector<double>{0.5, 0, 0, 0, 0, 0, -0.125, 0, 0.25}));
}

TEST(DGIRTS_Inverse, InPlaceFullRank) {
  double r[9] = {2, 0, 0, 1, 4, 0, 3, 5, 8};
  const double original[9] = {2, 0, 0, 1, 4, 0, 3, 5, 8};
  int32_t nrank = 0;
  DGIRTS(3, r, 3, 0, nullptr, 1, 4, nrank, nullptr, 1, r, 3);
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) {
      double sum = 0;
      for (int k = 0; k < 3; ++k) sum += r[i + 3 * k] * original[k + 3 * j];
      EXPECT_NEAR(sum, i == j ? 1.0 : 0.0, 1e-15) << i << "," << j;
    }
  }
}

TEST(DR2TDB_StandardErrors, ClosedForm) {
  // R of the columns (1, x) for x = 1, 2, 3: R^T R = [3 6; 6 14].
  const double r[4] = {std::sqrt(3.0), 0, 6 / std::sqrt(3.0), std::sqrt(2.0)};
  double seb[2], work[4];
  DR2TDB(2, r, 2, 1.0 / 6, seb, work);
  EXPECT_NEAR(seb[0], std::sqrt(7.0 / 18), 1e-15);
  EXPECT_NEAR(seb[1], std::sqrt(1.0 / 12), 1e-15);
  DR2TDB(2, r, 2, 0.0, seb, work);
  EXPECT_EQ(seb[0], 0.0);
  const double dropped[4] = {2, 0, 0, 0};
  DR2TDB(2, dropped, 2, 4.0, seb, work);
  EXPECT_EQ(seb[0], 1.0);
  EXPECT_EQ(seb[1], 0.0);
}

void StandardErrors(int32_t ncoef, int32_t ldr, double s2) {
  const double r[1] = {1};
  double seb[1], work[1];  // too short for NCOEF 2: the check must come first
  DR2TDB(ncoef, r, ldr, s2, seb, work);
}

TEST(DCSFRG_DC1TRG, Triangles) {
  double a[9] = {1, 7, 7, 2, 3, 7, 4, 5, 6}, one[1] = {5};
  DCSFRG(3, a, 3);
  EXPECT_EQ(std::vector<double>(a, a + 9), (std::vector<double>{1, 2, 4, 2, 3, 5, 4, 5, 6}));
  DC1TRG(3, a, 3);
  EXPECT_EQ(std::vector<double>(a, a + 9), (std::vector<double>{1, 0, 0, 2, 3, 0, 4, 5, 6}));
  DCSFRG(1, one, 1);
  EXPECT_EQ(one[0], 5);
}

TEST(IDANAN_Positions, FirstMissing) {
  const double x[6] = {1, 2, DMACH(6), 4, std::numeric_limits<double>::quiet_NaN(), 6};
  const struct {
    int32_t n, incx, want;
  } cases[] = {{6, 1, 3}, {2, 1, 0}, {3, 2, 2}, {2, 4, 2}, {6, 0, 0}, {0, 1, 0}};
  for (const auto& c : cases) EXPECT_EQ(IDANAN(c.n, x, c.incx), c.want) << c.n << " " << c.incx;
}

TEST(StatisticsMessages, PrintedExactly) {
  ExpectPrinted({{"DR2TDB: S2 negative", [] { StandardErrors(1, 1, -1.0); }, R"(
 *** TERMINAL ERROR 5 from DR2TDB.  S2 = -1.000000000000000E+00.  S2 must be
 ***          nonnegative.
)"},
                 {"DR2TDB: NCOEF above LDR", [] { StandardErrors(2, 1, 1.0); }, R"(
 *** TERMINAL ERROR 3 from DR2TDB.  NCOEF = 2 and LDR = 1.  NCOEF must be
 ***          less than or equal to LDR.
)"},
                 {"DC1TRG: both checks fail",
                  [] {
                    int32_t print = 0, stop = 0;
                    SetPrintStopAttributes(kTerminal, print, stop);
                    double b[1] = {1};
                    DC1TRG(0, b, -1);
                    std::printf("%d %d %g\n", N1RTY(1), N1RCD(1), b[0]);
                  },
                  "5 2 1\n"},
                 {"DCSFRG: LDA below N",
                  [] {
                    double b[4] = {};
                    DCSFRG(2, b, 1);
                  },
                  R"(
 *** TERMINAL ERROR 2 from DCSFRG.  N = 2 and LDA = 1.  The order of A, N,
 ***          must be less than or equal to the leading dimension of A, LDA.
)"},
                 {"IDANAN: negative length", [] { IDANAN(-1, nullptr, 1); }, R"(
 *** TERMINAL ERROR 1 from IDANAN.   The length of the input vector is -1. 
 ***          The length must be non-negative.
)"}});
}

TEST(DC1WFR_Rows, FrequencyAndWeight) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  // Columns: frequency, weight; one row each.
  struct Case {
    double freq, weight;
    int32_t isign, iact, nmissAfter;
    double freqOut, weightOut;
  };
  const std::vector<Case> cases = {
      {2, 0.5, 1, 0, 0, 2, 0.5},       {2, 0.5, -1, 0, 0, -2, 0.5},
      {0, -9, 1, 1, 0, 0, -1},         {nan, nan, 1, 2, 1, nan, nan},
      {nan, nan, -1, 2, -1, nan, nan}, {1, DMACH(6), 1, 2, 1, 1, DMACH(6)}};
  for (const Case& c : cases) {
    const double x[2] = {c.freq, c.weight};
    int32_t nmiss = 0, iact = -1;
    double freq = -1, weight = -1;
    DC1WFR(0, 1, x, 1, 1, c.isign, 1, 2, DMACH(6), nmiss, freq, weight, iact);
    SCOPED_TRACE(std::to_string(c.freq) + " " + std::to_string(c.weight));
    EXPECT_EQ(iact, c.iact);
    EXPECT_EQ(nmiss, c.nmissAfter);
    EXPECT_TRUE(std::isnan(c.freqOut) || freq == c.freqOut) << freq;  // NaN: not checked
    EXPECT_TRUE(std::isnan(c.weightOut) || weight == c.weightOut) << weight;
  }
}

TEST(CheckRoutines, CodesAdvanceOnePerCheck) {
  const auto result = RunScenario([] {
    int32_t print = 0, stop = 0;
    SetPrintStopAttributes(kTerminal, print, stop);
    int32_t icode = 1;
    CheckDimensionPair(0, 2, "*N", 1, "LD", icode);  // order fails with code 3
    std::printf("%d %d\n", N1RCD(0), icode);
    CheckColumnNumber(0, 5, "IFRQ", 0, "NCOL", icode);  // NCOL 0: order not checked
    std::printf("%d %d\n", N1RCD(0), icode);
    CheckIntegerRange(5, "K", 1, 3, icode);
    std::printf("%d %d\n", N1RCD(0), icode);
  });
  EXPECT_EQ(result.output, "3 4\n3 6\n6 7\n");
}

TEST(AbsoluteProductSum_Increments, ReferenceAddressing) {
  const double x[3] = {1, -2, 3}, y[3] = {-4, 5, 6};
  EXPECT_EQ(AbsoluteProductSum(3, x, 1, y, 1), 4 + 10 + 18);
  EXPECT_EQ(AbsoluteProductSum(3, x, 1, y, -1), 6 + 10 + 12);  // y backwards
  EXPECT_EQ(AbsoluteProductSum(0, x, 1, y, 1), 0);
}

}  // namespace
}  // namespace vesk1
