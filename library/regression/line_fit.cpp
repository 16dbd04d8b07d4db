#include "regression/line_fit.h"

#include <cmath>

#include "errors/errors.h"
#include "regression/core.h"
#include "regression/state.h"
#include "regression/statistics.h"

namespace vesk1 {
namespace {

// The straight line as a model of the core: intercept, x in column 1, y in column 2.
constexpr int32_t kRegressorColumns[1] = {1};
constexpr int32_t kDependentColumns[1] = {2};

// Keeps WARNING-with-deferred-stop messages silent while it lives, and puts back the caller's
// print and stop attributes of that type on every way out.
class SilencedDeferredWarnings {
 public:
  SilencedDeferredWarnings() {
    SetPrintStopAttributes(-kWarningDeferredStop, print_, stop_);
    int32_t off = 0;
    int32_t offToo = 0;
    SetPrintStopAttributes(kWarningDeferredStop, off, offToo);
  }
  ~SilencedDeferredWarnings() { SetPrintStopAttributes(kWarningDeferredStop, print_, stop_); }
  SilencedDeferredWarnings(const SilencedDeferredWarnings&) = delete;
  SilencedDeferredWarnings& operator=(const SilencedDeferredWarnings&) = delete;

 private:
  int32_t print_ = 0;
  int32_t stop_ = 0;
};

// One call of the core with the data pair in W.row: IDO as given, one row added.
void FeedPair(RegressionWork& w, int32_t ido, double tol) {
  DR2IVN(ido, 1, 2, w.row, 1, 1, 1, kRegressorColumns, 1, kDependentColumns, 0, 0, 1, tol, w.b, 2,
         w.r, 2, w.dscale, w.nrank, w.dfe, w.scpe, 1, w.nmiss, w.xmin, w.xmax, w.work);
}

// Feeds every pair to the core; false when the core stopped with a FATAL error.
bool FeedPairs(RegressionWork& w, int32_t nobs, const double* xobs, const double* yobs,
               double tol) {
  w.row[0] = xobs[0];
  w.row[1] = yobs[0];
  FeedPair(w, nobs == 1 ? 0 : 1, tol);
  if (N1RTY(1) == kFatal) return false;
  if (nobs == 1) return true;
  // The pairs between the first and the last go in as intermediate calls would, without a
  // core call each: with these arguments such a call has nothing to check or report.
  AddLinePairs(nobs - 2, xobs + 1, yobs + 1, w.b, w.r, w.dscale, w.dfe, w.scpe, w.nmiss, w.xmin,
               w.xmax, w.work);
  w.row[0] = xobs[nobs - 1];
  w.row[1] = yobs[nobs - 1];
  FeedPair(w, 3, tol);
  return N1RTY(1) != kFatal;
}

}  // namespace

void DRLINE(int32_t nobs, const double* xobs, const double* yobs, double& bint, double& bslope,
            double* fstat) {
  RoutineGuard guard("DRLINE");
  if (nobs < 1) {
    StoreIntegerParameter(1, nobs);
    IssueMessage(kTerminal, 1,
                 "The number of data points must be at least one but NOBS = %(I1) is given.");
    return;
  }
  const double tol = 100.0 * DMACH(4);
  const SilencedDeferredWarnings silenced;
  RegressionWork& w = Regression().lineFit;
  if (!FeedPairs(w, nobs, xobs, yobs, tol)) return;
  if (w.nmiss == nobs) {
    IssueMessage(kFatal, 1,
                 "There are no valid data points.  Each (x,y) pair contains NaN (not a number).");
    return;
  }

  // R(1,1) = sqrt(n), R(1,2) = sum of x / sqrt(n), R(2,2)^2 = Sxx (0 when x was dropped).
  const double missing = DMACH(6);
  const double n = static_cast<double>(nobs - w.nmiss);
  const double r11 = w.r[0];
  const double r12 = w.r[2];
  const double r22 = w.r[3];
  bint = w.b[0];
  bslope = w.b[1];
  fstat[0] = r12 / r11;
  fstat[10] = w.scpe[0];
  fstat[1] = bint + bslope * fstat[0];
  const double ssr = (bslope * r22) * (bslope * r22);
  fstat[8] = ssr;
  const double sxx = r22 * r22;
  const double sst = ssr + fstat[10];
  fstat[7] = w.nrank - 1;
  fstat[9] = n - w.nrank;
  fstat[11] = w.nmiss;
  fstat[2] = ProtectedDivide(sxx, n - 1.0);
  fstat[3] = ProtectedDivide(sst, n - 1.0);
  fstat[4] = w.nrank == 2 ? ProtectedDivide(std::fabs(r22) * bslope, std::sqrt(sst)) : missing;
  if (!IsNotANumber(fstat[4])) {
    if (fstat[4] <= -1.0) fstat[4] = -1.0;
    if (fstat[4] >= 1.0) fstat[4] = 1.0;
  }
  const double s2 = ProtectedDivide(fstat[10], fstat[9]);
  if (IsNotANumber(s2)) {
    fstat[5] = missing;
    fstat[6] = missing;
  } else {
    // R is overwritten by its inverse, which nothing reads afterwards.
    DR2TDB(2, w.r, 2, s2, fstat + 5, w.r);
  }
}

double ProtectedDivide(double a, double b) {
  if (IsNotANumber(a) || IsNotANumber(b)) return DMACH(6);
  if (std::fabs(b) > 1.0) return std::fabs(a) < DMACH(1) * std::fabs(b) ? 0.0 : a / b;
  if (std::fabs(a) < DMACH(2) * std::fabs(b)) return a / b;
  if (a == 0.0) return DMACH(6);
  const bool negativeQuotient = (b < 0.0) != (a < 0.0);
  // B = -0 counts as non-negative here, as the comparison B < 0 says.
  return negativeQuotient ? DMACH(8) : DMACH(7);
}

}  // namespace vesk1
