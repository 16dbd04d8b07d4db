#include "regression/core.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "errors/errors.h"
#include "printed.h"
#include "support/child_process.h"

namespace vesk1 {
namespace {

using test::ExpectPrinted;
using test::PrintedCase;
using test::RunScenario;
using Rows = std::vector<std::vector<double>>;

// A model of DR2IVN and the caller's arrays for it, sized exactly.
struct CoreFit {
  int32_t intcep = 1, iind, idep, ifrq = 0, iwt = 0, isub;
  std::vector<int32_t> indind, inddep;
  double tol;
  int32_t ncoef = intcep + std::abs(iind), ndep = std::abs(idep);
  static std::vector<double> Filled(int32_t n) { return std::vector<double>(n, 7.0); }
  std::vector<double> b = Filled(ncoef * ndep), r = Filled(ncoef * ncoef), dscale = Filled(ncoef),
                      scpe = Filled(ndep * ndep), xmin = Filled(ncoef), xmax = Filled(ncoef),
                      work = Filled(ncoef + ndep);
  int32_t nrank = -1, nmiss = -1;
  double dfe = -1;
  explicit CoreFit(int32_t isub, int32_t iind = -2, int32_t idep = -1, double tol = 1e-8)
      : iind(iind), idep(idep), isub(isub), tol(tol) {}

  // Adds (SIGN +1) or deletes (SIGN -1) ROWS with one call of IDO.
  void Call(int32_t ido, const Rows& rows, int sign = 1) {
    const auto n = static_cast<int32_t>(rows.size());
    const auto ncol = static_cast<int32_t>(rows.empty() ? 1 : rows[0].size());
    std::vector<double> x(static_cast<size_t>(n * ncol) + 1);
    for (int32_t i = 0; i < n; ++i) {
      for (int32_t j = 0; j < ncol; ++j) x[static_cast<size_t>(i + j * n)] = rows[i][j];
    }
    DR2IVN(ido, sign * n, ncol, x.data(), std::max(n, 1), intcep, iind, indind.data(), idep,
           inddep.data(), ifrq, iwt, isub, tol, b.data(), ncoef, r.data(), ncoef, dscale.data(),
           nrank, dfe, scpe.data(), std::max(ndep, 1), nmiss, xmin.data(), xmax.data(),
           work.data());
  }
};

Rows RandomRows(int n, int ncol, unsigned seed) {
  std::mt19937_64 gen(seed);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  Rows rows(n, std::vector<double>(ncol));
  for (auto& row : rows) {
    for (double& v : row) v = u(gen);
  }
  return rows;
}

void ExpectNear(const std::vector<double>& got, const std::vector<double>& want, double tol) {
  ASSERT_EQ(got.size(), want.size());
  for (size_t i = 0; i < got.size(); ++i) {
    EXPECT_NEAR(got[i], want[i], tol * std::max(1.0, std::fabs(want[i]))) << i;
  }
}

TEST(DR2IVN_Blocks, SameFitAsOneCall) {
  for (int32_t isub : {0, 1}) {
    SCOPED_TRACE("ISUB " + std::to_string(isub));
    const Rows rows = RandomRows(20, 5, 11);
    CoreFit whole(isub, -3, -2), blocks(isub, -3, -2);
    whole.Call(0, rows);
    const int cuts[5] = {0, 3, 9, 10, 20}, idos[4] = {1, 2, 2, 3};
    for (int k = 0; k < 4; ++k) {
      blocks.Call(idos[k], Rows(rows.begin() + cuts[k], rows.begin() + cuts[k + 1]));
    }
    ExpectNear(blocks.b, whole.b, 1e-13);
    ExpectNear(blocks.r, whole.r, 1e-13);
    ExpectNear(blocks.scpe, whole.scpe, 1e-13);
    EXPECT_EQ(blocks.dfe, 16.0);
    EXPECT_EQ(whole.dfe, 16.0);
    EXPECT_EQ(blocks.nrank, 4);
    EXPECT_EQ(blocks.scpe[1], blocks.scpe[2]) << "SCPE symmetric";
  }
}

TEST(DR2IVN_Deletion, SameFitAsTheRemainingRows) {
  for (int32_t isub : {0, 1}) {
    SCOPED_TRACE("ISUB " + std::to_string(isub));
    Rows rows = RandomRows(16, 3, 5);
    rows[0][0] = rows[0][1] = -5;  // the column extremes stay in rows that are kept
    rows[1][0] = rows[1][1] = 5;
    rows[3][2] = NAN;  // a deleted row with a missing value takes back its count
    Rows kept(rows.begin(), rows.begin() + 2);
    kept.insert(kept.end(), rows.begin() + 6, rows.end());
    CoreFit downdated(isub), refit(isub);
    downdated.Call(1, rows);
    EXPECT_EQ(downdated.nmiss, 1);
    downdated.Call(3, Rows(rows.begin() + 2, rows.begin() + 6), -1);
    refit.Call(0, kept);
    ExpectNear(downdated.b, refit.b, 1e-12);
    ExpectNear(downdated.scpe, refit.scpe, 1e-12);
    EXPECT_NEAR(downdated.dfe, refit.dfe, 1e-12);
    EXPECT_EQ(downdated.nmiss, 0);
    EXPECT_EQ(downdated.xmin, refit.xmin);
    EXPECT_EQ(downdated.xmax, refit.xmax);
  }
}

TEST(DR2IVN_WeightsAndFrequencies, SameAsNormalEquations) {
  // Columns: x1, x2, frequency, weight, y.
  const Rows rows = {{0.5, 1.0, 2, 1.0, 3.0},   {1.5, -1.0, 1, 0.5, 2.0},  {2.0, 0.5, 3, 2.0, 5.5},
                     {-1.0, 2.0, 1, 1.0, 0.5},  {3.0, 1.5, 0, 9.0, 99.},   {1.0, 1.0, 1, 0.0, 77.},
                     {0.0, -2.0, 2, 1.5, -1.0}, {2.5, 0.0, NAN, 1.0, 1.0}, {1.0, NAN, 1, 1.0, 1.0},
                     {4.0, 3.0, 1, 0.25, 6.0}};
  // The weighted normal equations of the six rows with a positive frequency and weight, solved
  // by Gaussian elimination: the coefficients and the weighted residual sum of squares.
  const std::vector<double> beta = {0.99410044431637168, 1.8392906514433471, 0.82797830209619172};
  const double sse = 7.8707091927928019;
  for (int32_t isub : {0, 1}) {
    SCOPED_TRACE("ISUB " + std::to_string(isub));
    CoreFit fit(isub, 2, 1);
    fit.indind = {1, 2}, fit.inddep = {5}, fit.ifrq = 3, fit.iwt = 4;
    fit.Call(0, rows);
    ExpectNear(fit.b, beta, 1e-13);
    EXPECT_NEAR(fit.scpe[0], sse, 1e-12);
    EXPECT_EQ(fit.dfe, 11.0 - 3.0);  // frequencies 2+1+3+1+2+1, the zero-weight row's 1
    EXPECT_EQ(fit.nmiss, 2);
    EXPECT_EQ(fit.xmax[1], 4.0);
    EXPECT_EQ(fit.xmin[2], -2.0);
  }
}

TEST(DR2IVN_DependentColumns, DroppedWithZeroCoefficient) {
  const auto nearSum = [](double a, double b) { return a + b + 1e-9 * a * a; };
  const struct {
    const char* name;
    std::function<double(double, double)> third;  // the third regressor from the first two
    double tol;
    int32_t rank;
  } cases[] = {
      {"a copy of x1", [](double a, double) { return a; }, 1e-8, 3},
      {"a nonzero constant beside the intercept", [](double, double) { return 2.5; }, 1e-8, 3},
      {"identically zero", [](double, double) { return 0.0; }, 0.0, 3},
      {"x1 + x2 within 1e-9: kept with TOL = 0", nearSum, 0.0, 4},
      {"x1 + x2 within 1e-9: dropped with TOL = 1e-6", nearSum, 1e-6, 3},
  };
  for (int32_t isub : {0, 1}) {
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(c.name) + (isub ? ", ISUB 1" : ""));
      Rows rows = RandomRows(12, 4, 3);
      for (auto& row : rows) row[2] = c.third(row[0], row[1]);
      CoreFit fit(isub, -3, -1, c.tol);
      fit.Call(0, rows);
      EXPECT_EQ(fit.nrank, c.rank);
      EXPECT_EQ(fit.dfe, 12.0 - c.rank);
      if (c.rank == 3) {
        EXPECT_EQ(fit.b[3], 0.0);
        EXPECT_EQ(fit.r[15], 0.0);
      }
      for (int32_t j = 0; j < 4; ++j) EXPECT_GE(fit.r[j * 5], 0.0) << "diagonal " << j;
    }
  }
}

// With DSCALE(1) just below the upper bound the construction must not rescale: that bound is
// 16780000, not 4096 squared.
TEST(ConstructModifiedGivens_Bounds, RescalesOnlyOutside) {
  const struct {
    double d1, d2, x1, y1, d1After, flag;
  } cases[] = {{16778000.0, 1.0, 1.0, 1e-6, 16778000.0, 0.0},
               {16781000.0, 1.0, 1.0, 1e-6, 16781000.0 / 16777216.0, -1.0},
               {1e-8, 1.0, 1.0, 1e-6, 1e-8 / 1.0001 * 16777216.0, -1.0},
               {1.0, 0.0, 3.0, 4.0, 1.0, -2.0},
               {-1.0, 1.0, 3.0, 4.0, 0.0, -1.0}};
  for (const auto& c : cases) {
    double d1 = c.d1, d2 = c.d2, x1 = c.x1, param[5] = {};
    ConstructModifiedGivens(d1, d2, x1, c.y1, param);
    EXPECT_EQ(param[0], c.flag) << c.d1;
    EXPECT_NEAR(d1, c.d1After, 1e-9 * c.d1After) << c.d1;
  }
}

// One child runs every case with TERMINAL errors neither printed nor stopping and lists the
// code each call left; the caller's arrays must come back untouched.
TEST(DR2IVN_BadArguments, CodesAndUntouchedArrays) {
  // A valid two-row fit of a 2 by 3 X; each case spoils it.
  struct Args {
    int32_t ido = 0, nrow = 2, ncol = 3, ldx = 2, intcep = 1, iind = -2, idep = -1, ifrq = 0,
            iwt = 0, isub = 1, ldb = 3, ldr = 3, ldscpe = 1;
    double tol = 0.5;
    int32_t indind[2] = {1, 2}, inddep[1] = {3};
  };
  struct Bad {
    const char* name;
    std::function<void(Args&)> set;
    int code;
  };
  static const std::vector<Bad> cases = {
      {"IDO 4", [](Args& a) { a.ido = 4; }, 1},
      {"NCOL -1", [](Args& a) { a.ncol = -1; }, 2},
      {"LDX 0", [](Args& a) { a.ldx = 0; }, 4},
      {"NROW -3 LDX 2", [](Args& a) { a.nrow = -3; }, 5},
      {"NROW most negative", [](Args& a) { a.nrow = std::numeric_limits<int32_t>::min(); }, 5},
      {"INTCEP 2", [](Args& a) { a.intcep = 2, a.ldb = a.ldr = 4; }, 6},
      {"IFRQ -1", [](Args& a) { a.ifrq = -1; }, 7},
      {"IFRQ 4", [](Args& a) { a.ifrq = 4; }, 8},
      {"IWT 5", [](Args& a) { a.iwt = 5; }, 10},
      {"TOL NaN", [](Args& a) { a.tol = NAN; }, 11},
      {"INTCEP 0 ISUB 1", [](Args& a) { a.intcep = 0; }, 12},
      {"ISUB 2", [](Args& a) { a.isub = 2; }, 12},
      {"LDB 2", [](Args& a) { a.ldb = 2; }, 15},
      {"LDR 2", [](Args& a) { a.ldr = 2; }, 18},
      {"LDSCPE 0", [](Args& a) { a.ldscpe = 0; }, 20},
      {"INDDEP 4", [](Args& a) { a.idep = 1, a.inddep[0] = 4; }, 22},
      {"INDIND 0", [](Args& a) { a.iind = 2, a.indind[0] = 0; }, 23},
      {"IIND -4 beyond NCOL", [](Args& a) { a.iind = -4, a.ldb = a.ldr = 5; }, 24},
      {"IDEP -4 beyond NCOL", [](Args& a) { a.idep = -4, a.ldscpe = 4; }, 25},
      {"NCOL 0 with IFRQ 1", [](Args& a) { a.ncol = 0, a.iind = 0, a.idep = 0, a.ifrq = 1; }, 20},
      {"no dependent variable, LDR 2", [](Args& a) { a.idep = 0, a.ldr = 2; }, 22},
  };
  std::string expected;
  for (const Bad& c : cases)
    expected += std::string(c.name) + ": 5 " + std::to_string(c.code) + "\n";
  const auto result = RunScenario([] {
    int32_t print = 0, stop = 0;
    SetPrintStopAttributes(kTerminal, print, stop);
    for (const Bad& c : cases) {
      Args a;
      c.set(a);
      // Every array exactly as large as the arguments say (valid ones where they are bad), so
      // AddressSanitizer sees any access beyond them.
      const auto size = [](int64_t v) {
        return static_cast<size_t>(std::clamp<int64_t>(v, 1, 64));
      };
      const int64_t ncoef = a.intcep + std::abs(static_cast<int64_t>(a.iind));
      const int64_t ndep = std::abs(static_cast<int64_t>(a.idep));
      std::vector<double> x(6, 1.0), b(size(a.ldb * ndep), 7.0), r(size(a.ldr * ncoef), 7.0),
          dscale(size(ncoef), 7.0), scpe(size(a.ldscpe * ndep), 7.0), xmin(size(ncoef), 7.0),
          xmax(size(ncoef), 7.0), work(size(ncoef + ndep), 7.0);
      int32_t nrank = 7, nmiss = 7;
      double dfe = 7.0;
      DR2IVN(a.ido, a.nrow, a.ncol, x.data(), a.ldx, a.intcep, a.iind, a.indind, a.idep, a.inddep,
             a.ifrq, a.iwt, a.isub, a.tol, b.data(), a.ldb, r.data(), a.ldr, dscale.data(), nrank,
             dfe, scpe.data(), a.ldscpe, nmiss, xmin.data(), xmax.data(), work.data());
      bool untouched = nrank == 7 && nmiss == 7 && dfe == 7.0;
      for (const auto* v : {&b, &r, &dscale, &scpe, &xmin, &xmax, &work}) {
        for (double e : *v) untouched = untouched && e == 7.0;
      }
      std::printf("%s: %d %d%s\n", c.name, N1RTY(1), N1RCD(1), untouched ? "" : " CHANGED");
    }
  });
  EXPECT_EQ(result.output, expected);
}

// A fit of the two rows of X (2 by 3, y in column 3), regressors columns 1..|IIND|.
void CallWith(int32_t ido, int32_t nrow, int32_t ldx, int32_t iind, int32_t ldr, double tol,
              int32_t ifrq = 0, const double* data = nullptr) {
  static const double kData[6] = {1, 2, 3, 4, 5, 6};
  static double b[5], r[25], dscale[5], scpe[1], xmin[5], xmax[5], work[6];
  static int32_t nrank = 0, nmiss = 0;
  static double dfe = 0;
  const int32_t indind[1] = {1}, inddep[1] = {3};
  DR2IVN(ido, nrow, 3, data ? data : kData, ldx, 1, iind, indind, -1, inddep, ifrq, 0, 1, tol, b, 5,
         r, ldr, dscale, nrank, dfe, scpe, 1, nmiss, xmin, xmax, work);
}

TEST(DR2IVN_Messages, PrintedExactly) {
  static const double kNegativeFrequency[6] = {1, 2, 3, -4, 5, 6};
  static const double kNegativeWeight[6] = {1, 2, -3, 4, 5, 6};
  ExpectPrinted({
      {"NROW -3 with LDX 2", [] { CallWith(0, -3, 2, -2, 5, 0.5); }, R"(
 *** TERMINAL ERROR 5 from DR2IVN.  IABS(NROW) = 3 and LDX = 2.  IABS(NROW)
 ***          must be less than or equal to LDX.
)"},
      {"LDR below the coefficients, named without the star", [] { CallWith(0, 2, 2, -2, 2, 0.5); },
       R"(
 *** TERMINAL ERROR 18 from DR2IVN.  INTCEP+IABS(IIND) = 3 and LDR = 2. 
 ***          INTCEP+IABS(IIND) must be less than or equal to LDR.
)"},
      {"TOL above 1", [] { CallWith(0, 2, 2, -2, 5, 1.5); }, R"(
 *** TERMINAL ERROR 11 from DR2IVN.  TOL = 1.500000000000000E+00.  TOL must
 ***          be between 0.0 and 1.0, inclusive.
)"},
      {"regressor list longer than NCOL", [] { CallWith(0, 2, 2, -4, 5, 0.5); }, R"(
 *** TERMINAL ERROR 24 from DR2IVN.  IABS(IIND) = 4 and NCOL = 3.  IABS(IIND)
 ***          must be less than or equal to NCOL.
)"},
      {"negative frequency on the second call",
       [] {
         CallWith(1, 2, 2, -1, 5, 0.5, 2);
         CallWith(2, 2, 2, -1, 5, 0.5, 2, kNegativeFrequency);
       },
       R"(
 *** FATAL    ERROR 2 from DR2IVN.  The frequency for row 2 of X on
 ***          invocation number 2 of this routine is -4.000000000000000E+00.  
 ***          Frequencies must be nonnegative.
)"},
      {"negative weight with IDO 0",
       [] {
         static double b[2], r[4], dscale[2], scpe[1], xmin[2], xmax[2], work[3];
         int32_t nrank = 0, nmiss = 0;
         double dfe = 0;
         const int32_t inddep[1] = {3};
         DR2IVN(0, 2, 3, kNegativeWeight, 2, 1, -1, nullptr, 1, inddep, 0, 2, 0, 0.5, b, 2, r, 2,
                dscale, nrank, dfe, scpe, 1, nmiss, xmin, xmax, work);
       },
       R"(
 *** FATAL    ERROR 1 from DR2IVN.  The weight for row 1 of X was
 ***          -3.000000000000000E+00.  Weights must be nonnegative.
)"},
      {"one row: no error degrees of freedom", [] { CallWith(0, 1, 2, -1, 5, 0.5); }, R"(
 *** WARNING  ERROR 4 from DR2IVN.  DFE = 0.000000000000000E+00.  Statistical
 ***          inference is not possible.  More observations are needed.
)"},
      {"deleting the row that holds a column's extremes",
       [] {
         CallWith(1, 2, 2, -1, 5, 0.5);
         CallWith(2, -1, 2, -1, 5, 0.5);
         std::printf("returned\n");
       },
       R"(
 *** WARNING  ERROR 5 from DR2IVN.  Downdating is requested, but XMIN(2)
 ***          equals the current value (= 1.000000000000000E+00) of the 
 ***          associated regressor variable.  Downdating of XMIN cannot occur.
returned
)"},
  });
}

}  // namespace
}  // namespace vesk1
