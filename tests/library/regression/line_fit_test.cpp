#include "regression/line_fit.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <limits>
#include <vector>

#include "errors/errors.h"
#include "printed.h"
#include "regression/core.h"
#include "support/child_process.h"

namespace vesk1 {
namespace {

using test::ExpectPrinted;
using test::PrintedCase;
using test::RunScenario;

const double kMissing = DMACH(6);
const double kNaN = std::numeric_limits<double>::quiet_NaN();
using V = std::vector<double>;

struct LineFit {
  double bint = -99.0;
  double bslope = -99.0;
  std::array<double, 12> fstat{};
};

LineFit Fit(const std::vector<double>& x, const std::vector<double>& y) {
  LineFit out;
  out.fstat.fill(-99.0);
  DRLINE(static_cast<int32_t>(x.size()), x.data(), y.data(), out.bint, out.bslope,
         out.fstat.data());
  return out;
}

TEST(DRLINE_KnownFits, CoefficientsAndStatistics) {
  const double m = kMissing;
  // BINT, BSLOPE, FSTAT(1..12) of the worked example.
  const double r = 0.99339926779878274, se0 = 0.62360956446232352, se1 = 0.28867513459481287;
  V worked = {-2.0 / 3, 2.5, 2, 13.0 / 3, 1, 19.0 / 3, r, se0, se1, 1, 12.5, 1, 1.0 / 6, 0};
  V workedTwoMissing = worked;
  workedTwoMissing[13] = 2;
  const double sd = std::sqrt(14.0 / 3 / 4);
  const struct {
    const char* name;
    V x, y, want;  // BINT, BSLOPE, FSTAT(1..12)
  } cases[] = {
      {"worked example", {1, 2, 3}, {2, 4, 7}, worked},
      {"one pair: rank 1", {5}, {7}, {7, 0, 5, 7, m, m, m, m, m, 0, 0, 0, 0, 0}},
      {"x all equal: SSE the spread of y",
       {2, 2, 2, 2},
       {1, 2, 3, 6},
       {3, 0, 2, 3, 0, 14.0 / 3, m, sd, 0, 0, 0, 3, 14, 0}},
      {"two points", {1, 3}, {5, 1}, {7, -2, 2, 3, 2, 8, -1, m, m, 1, 8, 0, 0, 0}},
      {"two points, equal y: r is 0/0", {1, 3}, {4, 4}, {4, 0, 2, 4, 2, 0, m, m, m, 1, 0, 0, 0, 0}},
      {"NaN x, marker y: out, counted", {kNaN, 1, 2, 7, 3}, {1, 2, 4, m, 7}, workedTwoMissing},
      {"exact line: r exactly 1",
       {0.1, 0.2, 0.3, 0.7},
       {0.3, 0.6, 0.9, 2.1},
       {0, 3, 0.325, 0.975, 0.0691666666666667, 0.6225, 1, 0, 0, 1, 1.8675, 2, 0, 0}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const LineFit f = Fit(c.x, c.y);
    std::vector<double> got = {f.bint, f.bslope};
    got.insert(got.end(), f.fstat.begin(), f.fstat.end());
    for (size_t k = 0; k < got.size(); ++k) {
      if (c.want[k] == kMissing) {
        EXPECT_EQ(got[k], kMissing) << k;
      } else {
        EXPECT_NEAR(got[k], c.want[k], 1e-13 * std::max(1.0, std::fabs(c.want[k]))) << k;
      }
    }
    EXPECT_LE(std::fabs(f.fstat[4]) == kMissing ? 0.0 : std::fabs(f.fstat[4]), 1.0);
  }
}

// x about 1e6 with a spread of 0.05 and y about 1e8: sums of squares formed from raw sums would
// lose every digit. The data are exact binary fractions with residuals orthogonal to (1, x),
// so every statistic has a closed form computed here in integers.
TEST(DRLINE_BadlyCentredData, AgreesWithTheClosedForm) {
  const int m = 50;  // k = -m .. m
  const double c = 1.0e6, h = 1.0 / 1024, d = 1.0e8, s = 1.0 / 256;
  std::vector<double> x, y;
  long long sumE2 = 0;  // sum of (64 e_k)^2
  for (int k = -m; k <= m; ++k) {
    const long long e64 = static_cast<long long>(k) * k - 850;  // 850 = m (m + 1) / 3
    sumE2 += e64 * e64;
    x.push_back(c + h * k);
    y.push_back(d + s * k + static_cast<double>(e64) / 64);
  }
  const double n = 2 * m + 1, sumK2 = 85850;  // m (m + 1) (2m + 1) / 3
  const double slope = s / h, sxx = h * h * sumK2, ssr = s * s * sumK2;
  const double sse = static_cast<double>(sumE2) / 4096, s2 = sse / (n - 2);
  const double r = std::sqrt(ssr / (ssr + sse)), seInt = std::sqrt(s2 * (1 / n + c * c / sxx));
  const double want[11] = {
      c,     d,  sxx / (n - 1), (ssr + sse) / (n - 1), r, seInt, std::sqrt(s2 / sxx), 1, ssr,
      n - 2, sse};
  const LineFit f = Fit(x, y);
  const auto digits = [](double got, double expected) {
    const double rel = std::fabs(got - expected) / std::fabs(expected);
    return rel == 0 ? 17.0 : -std::log10(rel);
  };
  double fewest = std::min(digits(f.bint, d - slope * c), digits(f.bslope, slope));
  for (int k = 0; k < 11; ++k) fewest = std::min(fewest, digits(f.fstat[k], want[k]));
  EXPECT_EQ(f.fstat[11], 0.0);
  // Rounding the data themselves (relative 1e-16 on x about 1e6, spread 0.05) moves the slope
  // by about 2e-9, so eight digits is what any backward-stable method can promise here.
  EXPECT_GE(fewest, 7.5);
}

// DRLINE takes the pairs between the first and the last without a core call each; the fit must
// be the one of feeding every pair to DR2IVN, to the last bit.
TEST(DRLINE_PairByPair, SameBitsAsOneCoreCallPerPair) {
  const int32_t n = 5000;
  std::vector<double> x(n), y(n);
  for (int32_t i = 0; i < n; ++i) {
    x[i] = 1e3 * std::sin(0.37 * i) + 1e3;
    y[i] = 1e5 + 3 * x[i] + 0.01 * std::cos(1.3 * i) * x[i];
  }
  x[7] = kNaN;
  y[4000] = kMissing;
  double b[2], r[4], dscale[2], scpe[1], xmin[2], xmax[2], work[3], dfe = 0;
  int32_t nrank = 0, nmiss = 0;
  const int32_t regressor[1] = {1}, dependent[1] = {2};
  for (int32_t i = 0; i < n; ++i) {
    const double row[2] = {x[i], y[i]};
    const int32_t ido = i == 0 ? 1 : (i == n - 1 ? 3 : 2);
    DR2IVN(ido, 1, 2, row, 1, 1, 1, regressor, 1, dependent, 0, 0, 1, 100 * DMACH(4), b, 2, r, 2,
           dscale, nrank, dfe, scpe, 1, nmiss, xmin, xmax, work);
  }
  const LineFit f = Fit(x, y);
  EXPECT_EQ(f.bint, b[0]);
  EXPECT_EQ(f.bslope, b[1]);
  EXPECT_EQ(f.fstat[0], r[2] / r[0]);
  EXPECT_EQ(f.fstat[10], scpe[0]);
  EXPECT_EQ(f.fstat[11], 2.0);
  EXPECT_EQ(nmiss, 2);
}

TEST(ProtectedDivide_Cases, Quotients) {
  const double big = DMACH(2), tiny = DMACH(1);
  struct Case {
    double a, b, q;
  };
  const std::vector<Case> cases = {{6, 3, 2},
                                   {1, 0.5, 2},
                                   {0, 0, kMissing},
                                   {kMissing, 1, kMissing},
                                   {1, kNaN, kMissing},
                                   {tiny, 4, 0},
                                   {big, 0.5, DMACH(7)},
                                   {-1, 0, DMACH(8)},
                                   {1, 0, DMACH(7)},
                                   {1, -0.0, DMACH(7)},
                                   {-1, -0.0, DMACH(8)},
                                   {-1, -1e-320, DMACH(7)},
                                   {1, -1e-320, DMACH(8)}};
  for (const Case& c : cases) {
    EXPECT_EQ(ProtectedDivide(c.a, c.b), c.q) << c.a << " / " << c.b;
  }
}

void SetAttributes(int32_t type, int32_t print, int32_t stop) {
  SetPrintStopAttributes(type, print, stop);
}

// Calls DRLINE on X and Y (NOBS their length unless given) with outputs preset to 1, 2 and
// zeros; prints the error left, BINT, BSLOPE, FSTAT(1), FSTAT(10) and the type-6 attributes.
void Report(const V& x, const V& y, int32_t nobs = 0) {
  double bint = 1, bslope = 2, fstat[12] = {};
  DRLINE(nobs ? nobs : static_cast<int32_t>(x.size()), x.data(), y.data(), bint, bslope, fstat);
  int32_t print = 0, stop = 0;
  SetPrintStopAttributes(-kWarningDeferredStop, print, stop);
  std::printf("returned %d %d %g %g %g %g; type 6 print %d stop %d\n", N1RTY(1), N1RCD(1), bint,
              bslope, fstat[0], fstat[9], print, stop);
}

TEST(DRLINE_Messages, PrintedExactly) {
  ExpectPrinted({
      {"NOBS = 0", [] { Fit({}, {}); }, R"(
 *** TERMINAL ERROR 1 from DRLINE.  The number of data points must be at
 ***          least one but NOBS = 0 is given.
)"},
      {"NOBS = -3 with terminal errors not stopping: outputs untouched, attributes unchanged",
       [] {
         SetAttributes(kTerminal, 0, 0);
         SetAttributes(kWarningDeferredStop, 1, 1);
         Report({}, {}, -3);
       },
       "returned 5 1 1 2 0 0; type 6 print 1 stop 1\n"},
      {"every pair has a missing value: attributes restored, outputs untouched",
       [] {
         SetAttributes(kFatal, 0, 0);
         Report({kNaN, 1}, {1, kMissing});
       },
       "returned 4 1 1 2 0 0; type 6 print 1 stop 0\n"},
      {"every pair has a missing value, default tables", [] { Fit({kMissing}, {1}); }, R"(
 *** FATAL    ERROR 1 from DRLINE.  There are no valid data points.  Each
 ***          (x,y) pair contains NaN (not a number).
)"},
      {"two points: DFE warning once, under DRLINE",
       [] {
         Report({1, 3}, {5, 1});
       },
       R"(
 *** WARNING  ERROR 4 from DRLINE.  DFE = 0.000000000000000E+00.  Statistical
 ***          inference is not possible.  More observations are needed.
returned 6 4 7 -2 2 0; type 6 print 1 stop 0
)"},
      {"one pair, type 6 set not to print: silent, the caller's attributes kept",
       [] {
         SetAttributes(kWarningDeferredStop, 0, 0);
         Report({5}, {7});
       },
       "returned 6 4 7 0 5 0; type 6 print 0 stop 0\n"},
      {"one pair, type 6 set to stop: the restored attribute ends the process at return",
       [] {
         SetAttributes(kWarningDeferredStop, 0, 1);
         Report({5}, {7});
       },
       ""},
      {"three points: nothing printed",
       [] {
         Report({1, 2, 3}, {2, 4, 7});
       },
       "returned 0 0 -0.666667 2.5 2 1; type 6 print 1 stop 0\n"},
  });
}

}  // namespace
}  // namespace vesk1
