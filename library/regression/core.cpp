#include "regression/core.h"

#include <cmath>
#include <cstddef>

#include "errors/errors.h"
#include "linalg/kernels.h"
#include "regression/checks.h"
#include "regression/state.h"
#include "regression/statistics.h"
#include "workspace.h"

namespace vesk1 {
namespace {

using Index = std::ptrdiff_t;

// Scale factors of the modified Givens construction are kept between these bounds by powers
// of 4096. The upper bound is 16780000, a little above 4096 squared, and must stay so: the
// rescaling of a factor that lands between the two would differ.
constexpr double kGam = 4096.0;
constexpr double kGamSquared = 16777216.0;
constexpr double kLowerScale = 5.96e-8;
constexpr double kUpperScale = 16780000.0;

// The shape of the model and the caller's arrays that hold the fit.
struct Fit {
  int32_t intcep;
  int32_t nind;
  int32_t ndep;
  int32_t ncoef;
  int32_t isub;
  double* b;
  int32_t ldb;
  double* r;
  int32_t ldr;
  double* dscale;
  double* dfe;
  double* scpe;
  int32_t ldscpe;
  int32_t* nmiss;
  double* xmin;
  double* xmax;
  double* work;  // the current row: model columns, then dependent values

  double& R(int32_t i, int32_t j) const { return r[At(i, j, ldr)]; }
  double& B(int32_t i, int32_t k) const { return b[At(i, k, ldb)]; }
  double& SCPE(int32_t l, int32_t k) const { return scpe[At(l, k, ldscpe)]; }
};

// A deleted row holds the stored extreme of regressor COLUMN, which cannot be taken back.
void WarnExtremeKept(int32_t column, double value, int32_t code, std::string_view text) {
  StoreIntegerParameter(1, column);
  StoreDoubleParameter(1, value);
  IssueMessage(kWarningDeferredStop, code, text);
}

// Brings the row in WORK (complete and free of missing values) into the fit with frequency
// FREQ (negative for a deletion) and weight WEIGHT.
// AddLinePairs repeats this update for the straight line, step for step, and both copies must
// stay: this one reads and writes the fit in the caller's arrays, whose sizes and leading
// dimensions are known only at run time and which the compiler must assume may overlap the
// row, so every number makes a round trip through memory on every row; the straight-line fit
// feeds thousands of pairs in one call and keeps its eleven numbers in registers across all of
// them, which is most of its speed. A change of the arithmetic here must be made there too; the
// pair-by-pair test of the straight-line fit compares the two to the last bit.
void UpdateWithRow(const Fit& f, double freq, double weight, int32_t isign, double* param) {
  double* work = f.work;
  const int32_t ncoef = f.ncoef;
  *f.dfe += freq;
  if (isign > 0) {
    if (ncoef > 0 && IsNotANumber(f.xmin[0])) {
      VectorCopy(ncoef, work, 1, f.xmin, 1);
      VectorCopy(ncoef, work, 1, f.xmax, 1);
    }
    for (int32_t j = 0; j < ncoef; ++j) {
      if (f.xmin[j] >= work[j]) f.xmin[j] = work[j];
      if (f.xmax[j] <= work[j]) f.xmax[j] = work[j];
    }
  } else {
    for (int32_t j = f.intcep + 1; j <= ncoef; ++j) {
      if (f.xmin[j - 1] == work[j - 1]) {
        WarnExtremeKept(j, work[j - 1], 5,
                        "Downdating is requested, but XMIN(%(I1)) equals the current value (= "
                        "%(D1)) of the associated regressor variable.  Downdating of XMIN cannot "
                        "occur.");
      }
      if (f.xmax[j - 1] == work[j - 1]) {
        WarnExtremeKept(j, work[j - 1], 6,
                        "Downdating is requested, but XMAX(%(I1)) equals the current value (= "
                        "%(D1)) of the associated regressor variable.  Downdating of XMAX cannot "
                        "occur.");
      }
    }
  }
  if (weight == 0.0) return;
  double w = weight * freq;

  double* y = work + ncoef;
  int32_t jstart = 1;
  if (f.isub == 1) {
    // Row 1 keeps the weighted sums; the row is then centred on the new running means, and
    // only its centred part (scaled by W0 / new total) enters the factor below row 1.
    jstart = 2;
    const double w0 = f.R(1, 1);
    f.R(1, 1) = w0 + w;
    for (int32_t j = 2; j <= ncoef; ++j) f.R(1, j) += w * work[j - 1];
    for (int32_t k = 1; k <= f.ndep; ++k) f.B(1, k) += w * y[k - 1];
    const double total = f.R(1, 1);
    if (total == 0.0) return;
    f.dscale[0] = 1.0 / total;
    for (int32_t j = 2; j <= ncoef; ++j) work[j - 1] -= f.dscale[0] * f.R(1, j);
    for (int32_t k = 1; k <= f.ndep; ++k) y[k - 1] -= f.dscale[0] * f.B(1, k);
    if (w0 == 0.0) return;
    w = w * total / w0;
  }

  for (int32_t j = jstart; j <= ncoef; ++j) {
    ConstructModifiedGivens(f.dscale[j - 1], w, f.R(j, j), work[j - 1], param);
    ApplyModifiedGivens(f.ndep, &f.B(j, 1), f.ldb, y, 1, param);
    if (j < ncoef) ApplyModifiedGivens(ncoef - j, &f.R(j, j + 1), f.ldr, work + j, 1, param);
  }
  for (int32_t k = 1; k <= f.ndep; ++k) {
    for (int32_t l = 1; l <= k; ++l) f.SCPE(l, k) += y[l - 1] * w * y[k - 1];
  }
}

// Whether column J must leave the model: a constant column other than the first nonzero one,
// or one whose reduced diagonal is not above TOL of its length in the centred scaled factor.
bool IsDependent(const Fit& f, int32_t j, double tol, int32_t& nconst) {
  const double low = f.xmin[j - 1];
  const double high = f.xmax[j - 1];
  if (!IsNotANumber(low) && !IsNotANumber(high) && low == high) {
    if (low == 0.0) return true;
    ++nconst;
    return nconst > 1;
  }
  if (j <= f.intcep + 1) return false;
  const int32_t first = f.intcep + 1;
  const double* column = &f.R(first, j);
  const double s = TripleProductSum(j - f.intcep, column, 1, f.dscale + first - 1, 1, column, 1);
  const double rjj = f.R(j, j);
  // Written so that an unordered comparison counts as dependent.
  return !(rjj * rjj * f.dscale[j - 1] > s * (tol * tol));
}

// Folds row J of the factor into the rows below it and clears it; what is left of its
// right-hand sides becomes residual.
void RemoveColumn(const Fit& f, int32_t j, double* param) {
  for (int32_t i = j + 1; i <= f.ncoef; ++i) {
    ConstructModifiedGivens(f.dscale[i - 1], f.dscale[j - 1], f.R(i, i), f.R(j, i), param);
    ApplyModifiedGivens(f.ndep, &f.B(i, 1), f.ldb, &f.B(j, 1), f.ldb, param);
    if (i < f.ncoef) {
      ApplyModifiedGivens(f.ncoef - i, &f.R(i, i + 1), f.ldr, &f.R(j, i + 1), f.ldr, param);
    }
  }
  for (int32_t k = 1; k <= f.ndep; ++k) {
    for (int32_t l = 1; l <= k; ++l) f.SCPE(l, k) += f.B(j, l) * f.dscale[j - 1] * f.B(j, k);
  }
  for (int32_t k = 1; k <= f.ndep; ++k) f.B(j, k) = 0.0;
  for (int32_t i = j; i <= f.ncoef; ++i) f.R(j, i) = 0.0;
}

void Finish(const Fit& f, double tol, int32_t& nrank, double* param) {
  int32_t nconst = 0;
  for (int32_t j = 1; j <= f.ncoef; ++j) {
    if (IsDependent(f, j, tol, nconst)) RemoveColumn(f, j, param);
  }
  // With no coefficient there is nothing to solve (and no order DGIRTS would accept).
  nrank = 0;
  if (f.ncoef > 0) {
    DGIRTS(f.ncoef, f.r, f.ldr, f.ndep, f.b, f.ldb, 1, nrank, f.b, f.ldb, f.r, f.ldr);
  }
  *f.dfe -= nrank;
  if (!(*f.dfe > 0.0)) {
    StoreDoubleParameter(1, *f.dfe);
    IssueMessage(kWarningDeferredStop, 4,
                 "DFE = %(D1).  Statistical inference is not possible.  More observations are "
                 "needed.");
  }
  for (int32_t j = 1; j <= f.ncoef; ++j) {
    const double root = std::sqrt(f.dscale[j - 1]);
    f.dscale[j - 1] = f.R(j, j) < 0.0 ? -root : root;
  }
  for (int32_t j = 1; j <= f.ncoef; ++j) {
    for (int32_t i = j; i <= f.ncoef; ++i) f.R(j, i) *= f.dscale[j - 1];
  }
  VectorFill(f.ncoef, 1.0, f.dscale, 1);
}

// Puts the model columns and the dependent values of row I of X into WORK; false when one of
// them is missing (the row is then counted in NMISS).
bool LoadRow(const Fit& f, const double* x, int32_t ldx, int32_t ncol, int32_t i, int32_t iind,
             const int32_t* indind, int32_t idep, const int32_t* inddep, int32_t isign) {
  double* work = f.work;
  if (f.intcep == 1) work[0] = 1.0;
  for (int32_t j = 1; j <= f.nind; ++j) {
    work[f.intcep + j - 1] = x[At(i, iind > 0 ? indind[j - 1] : j, ldx)];
  }
  if (IDANAN(f.nind, work + f.intcep, 1) > 0) {
    *f.nmiss += isign;
    return false;
  }
  for (int32_t k = 1; k <= f.ndep; ++k) {
    work[f.ncoef + k - 1] = x[At(i, idep > 0 ? inddep[k - 1] : ncol - f.ndep + k, ldx)];
  }
  if (IDANAN(f.ndep, work + f.ncoef, 1) > 0) {
    *f.nmiss += isign;
    return false;
  }
  return true;
}

}  // namespace

void DR2IVN(int32_t ido, int32_t nrow, int32_t ncol, const double* x, int32_t ldx, int32_t intcep,
            int32_t iind, const int32_t* indind, int32_t idep, const int32_t* inddep, int32_t ifrq,
            int32_t iwt, int32_t isub, double tol, double* b, int32_t ldb, double* r, int32_t ldr,
            double* dscale, int32_t& nrank, double& dfe, double* scpe, int32_t ldscpe,
            int32_t& nmiss, double* xmin, double* xmax, double* work) {
  RoutineGuard guard("DR2IVN");
  CheckRegressionArguments(ido, nrow, ncol, ldx, intcep, iind, indind, idep, inddep, ifrq, iwt,
                           isub, tol, ldb, ldr, ldscpe);
  if (N1RTY(0) != 0) return;

  RegressionCore& core = Regression().core;
  const int32_t nind = AbsoluteCount(iind);
  const int32_t ndep = AbsoluteCount(idep);
  const Fit f{intcep, nind, ndep, intcep + nind, isub,   b,    ldb,  r,   ldr,
              dscale, &dfe, scpe, ldscpe,        &nmiss, xmin, xmax, work};
  if (ido <= 1) {
    dfe = 0.0;
    core.ncall = 1;
    nmiss = 0;
    for (int32_t j = 1; j <= f.ncoef; ++j) VectorFill(f.ncoef, 0.0, r + At(1, j, ldr), 1);
    for (int32_t k = 1; k <= ndep; ++k) VectorFill(f.ncoef, 0.0, b + At(1, k, ldb), 1);
    VectorFill(f.ncoef, 1.0, dscale, 1);
    for (int32_t k = 1; k <= ndep; ++k) VectorFill(k, 0.0, scpe + At(1, k, ldscpe), 1);
    VectorFill(f.ncoef, DMACH(6), xmin, 1);
    VectorFill(f.ncoef, DMACH(6), xmax, 1);
  } else {
    ++core.ncall;
  }

  const int32_t isign = nrow >= 0 ? 1 : -1;
  const int32_t rows = AbsoluteCount(nrow);
  for (int32_t i = 1; i <= rows; ++i) {
    double freq = isign;
    double weight = 1.0;
    // Without frequency and weight columns DC1WFR could only hand back these two values.
    if (ifrq > 0 || iwt > 0) {
      int32_t iact = 0;
      DC1WFR(ido, core.ncall, x, ldx, i, isign, ifrq, iwt, DMACH(6), nmiss, freq, weight, iact);
      if (iact == 3) return;
      if (iact != 0) continue;
    }
    if (!LoadRow(f, x, ldx, ncol, i, iind, indind, idep, inddep, isign)) continue;
    UpdateWithRow(f, freq, weight, isign, core.param);
  }

  if (ido == 0 || ido == 3) Finish(f, tol, nrank, core.param);
  if (ndep > 0) DCSFRG(ndep, scpe, ldscpe);
}

void AddLinePairs(int32_t n, const double* x, const double* y, double* b, double* r, double* dscale,
                  double& dfe, double* scpe, int32_t& nmiss, double* xmin, double* xmax,
                  double* work) {
  // The row update of UpdateWithRow for this one layout, operation for operation, with the fit
  // held in locals; the results are the same to the last bit. It is a second copy on purpose:
  // UpdateWithRow works through the caller's arrays, which it must assume may overlap, so it
  // cannot keep the fit in registers from one pair to the next, and that is where this loop's
  // speed comes from. Change the arithmetic in both places together; the pair-by-pair test of
  // the straight-line fit compares them bit for bit.
  RegressionCore& core = Regression().core;
  const double missing = DMACH(6);
  auto isMissing = [missing](double v) { return v == missing || v != v; };
  double r11 = r[0], r12 = r[2], r22 = r[3], b1 = b[0], b2 = b[1], sse = scpe[0];
  double d1 = dscale[0], d2 = dscale[1], count = dfe;
  double lowX = xmin[1], highX = xmax[1];
  double param[5] = {core.param[0], core.param[1], core.param[2], core.param[3], core.param[4]};
  int32_t skipped = 0;
  for (int32_t i = 0; i < n; ++i) {
    const double xi = x[i];
    const double yi = y[i];
    if (isMissing(xi) || isMissing(yi)) {
      ++skipped;
      continue;
    }
    count += 1.0;
    if (isMissing(xmin[0])) {
      xmin[0] = xmax[0] = 1.0;
      lowX = highX = xi;
    }
    if (xmin[0] >= 1.0) xmin[0] = 1.0;
    if (xmax[0] <= 1.0) xmax[0] = 1.0;
    if (lowX >= xi) lowX = xi;
    if (highX <= xi) highX = xi;

    double w = 1.0 * 1.0;
    const double w0 = r11;
    r11 = w0 + w;
    r12 += w * xi;
    b1 += w * yi;
    const double total = r11;
    if (total == 0.0) continue;
    d1 = 1.0 / total;
    double xc = xi - d1 * r12;
    double yc = yi - d1 * b1;
    if (w0 == 0.0) continue;
    w = w * total / w0;
    ConstructModifiedGivens(d2, w, r22, xc, param);
    ApplyModifiedGivens(1, &b2, 2, &yc, 1, param);
    sse += yc * w * yc;
  }
  r[0] = r11;
  r[2] = r12;
  r[3] = r22;
  b[0] = b1;
  b[1] = b2;
  scpe[0] = sse;
  dscale[0] = d1;
  dscale[1] = d2;
  dfe = count;
  xmin[1] = lowX;
  xmax[1] = highX;
  work[0] = 1.0;
  nmiss += skipped;
  core.ncall += n;
  for (int k = 0; k < 5; ++k) core.param[k] = param[k];
}

void ConstructModifiedGivens(double& d1, double& d2, double& x1, double y1, double* param) {
  double flag = -1.0;
  double h11 = 0.0, h21 = 0.0, h12 = 0.0, h22 = 0.0;
  bool zero = d1 < 0.0;
  if (!zero) {
    const double p2 = d2 * y1;
    if (p2 == 0.0) {
      param[0] = -2.0;
      return;
    }
    const double p1 = d1 * x1;
    const double q2 = p2 * y1;
    const double q1 = p1 * x1;
    if (std::fabs(q1) > std::fabs(q2)) {
      h21 = -y1 / x1;
      h12 = p2 / p1;
      const double u = 1.0 - h12 * h21;
      if (u > 0.0) {
        flag = 0.0;
        d1 = d1 / u;
        d2 = d2 / u;
        x1 = x1 * u;
      } else {
        zero = true;
      }
    } else if (q2 < 0.0) {
      zero = true;
    } else {
      flag = 1.0;
      h11 = p1 / p2;
      h22 = x1 / y1;
      const double u = 1.0 + h11 * h22;
      const double oldD1 = d1;
      d1 = d2 / u;
      d2 = oldD1 / u;
      x1 = y1 * u;
    }
  }
  if (zero) {
    flag = -1.0;
    h11 = h21 = h12 = h22 = 0.0;
    d1 = d2 = x1 = 0.0;
  } else {
    auto makeExplicit = [&] {
      if (flag == 0.0) {
        h11 = h22 = 1.0;
      } else if (flag == 1.0) {
        h21 = -1.0;
        h12 = 1.0;
      }
      flag = -1.0;
    };
    while (d1 != 0.0 && (d1 <= kLowerScale || d1 >= kUpperScale)) {
      makeExplicit();
      if (d1 <= kLowerScale) {
        d1 *= kGamSquared;
        x1 /= kGam;
        h11 /= kGam;
        h12 /= kGam;
      } else {
        d1 /= kGamSquared;
        x1 *= kGam;
        h11 *= kGam;
        h12 *= kGam;
      }
    }
    while (d2 != 0.0 && (std::fabs(d2) <= kLowerScale || std::fabs(d2) >= kUpperScale)) {
      makeExplicit();
      if (std::fabs(d2) <= kLowerScale) {
        d2 *= kGamSquared;
        h21 /= kGam;
        h22 /= kGam;
      } else {
        d2 /= kGamSquared;
        h21 *= kGam;
        h22 *= kGam;
      }
    }
  }
  param[0] = flag;
  if (flag < 0.0) {
    param[1] = h11;
    param[2] = h21;
    param[3] = h12;
    param[4] = h22;
  } else if (flag == 0.0) {
    param[2] = h21;
    param[3] = h12;
  } else {
    param[1] = h11;
    param[4] = h22;
  }
}

void ApplyModifiedGivens(int32_t n, double* sx, int32_t incx, double* sy, int32_t incy,
                         const double* param) {
  const double flag = param[0];
  if (n <= 0 || flag == -2.0) return;
  Index kx = incx < 0 ? static_cast<Index>(1 - n) * incx : 0;
  Index ky = incy < 0 ? static_cast<Index>(1 - n) * incy : 0;
  for (int32_t i = 0; i < n; ++i, kx += incx, ky += incy) {
    const double w = sx[kx];
    const double z = sy[ky];
    if (flag == 0.0) {
      sx[kx] = w + z * param[3];
      sy[ky] = w * param[2] + z;
    } else if (flag == 1.0) {
      sx[kx] = w * param[1] + z;
      sy[ky] = -w + z * param[4];
    } else {
      sx[kx] = w * param[1] + z * param[3];
      sy[ky] = w * param[2] + z * param[4];
    }
  }
}

double TripleProductSum(int32_t n, const double* sx, int32_t incx, const double* sy, int32_t incy,
                        const double* sz, int32_t incz) {
  if (n <= 0) return 0.0;
  Index ix = incx < 0 ? static_cast<Index>(1 - n) * incx : 0;
  Index iy = incy < 0 ? static_cast<Index>(1 - n) * incy : 0;
  Index iz = incz < 0 ? static_cast<Index>(1 - n) * incz : 0;
  double sum = 0.0;
  for (int32_t i = 0; i < n; ++i, ix += incx, iy += incy, iz += incz) {
    sum += sx[ix] * sy[iy] * sz[iz];
  }
  return sum;
}

}  // namespace vesk1
