#include "regression/checks.h"

#include <algorithm>
#include <cstdint>
#include <limits>

#include "errors/errors.h"
#include "workspace.h"

namespace vesk1 {
namespace {

// INTCEP + |IIND|, the number of coefficients, kept within the integers when the arguments are
// absurd (they are reported then).
int32_t CoefficientCount(int32_t intcep, int32_t nind) {
  const int64_t sum = static_cast<int64_t>(intcep) + nind;
  return static_cast<int32_t>(std::clamp<int64_t>(sum, std::numeric_limits<int32_t>::min(),
                                                  std::numeric_limits<int32_t>::max()));
}

// Every entry of LIST (COUNT entries) must be a column of X; one message per bad entry, all
// with the same code.
void CheckIndexList(int32_t count, const int32_t* list, int32_t ncol, std::string_view text,
                    int32_t& icode) {
  for (int32_t k = 1; k <= count; ++k) {
    const int32_t column = list[k - 1];
    if (column < 1 || column > ncol) {
      StoreIntegerParameter(1, k);
      StoreIntegerParameter(2, column);
      StoreIntegerParameter(3, ncol);
      IssueMessage(kTerminal, icode, text);
    }
  }
  ++icode;
}

// A negative frequency or weight VALUE in row IROW: FATAL with CODE, citing the invocation
// number of the caller unless it was a single call (IDO < 1).
void ReportNegative(int32_t ido, int32_t ncall, int32_t irow, double value, int32_t code,
                    std::string_view single, std::string_view invoked) {
  StoreIntegerParameter(1, irow);
  StoreDoubleParameter(1, value);
  if (ido < 1) {
    IssueMessage(kFatal, code, single);
  } else {
    StoreIntegerParameter(2, ncall);
    IssueMessage(kFatal, code, invoked);
  }
}

}  // namespace

int32_t AbsoluteCount(int32_t v) {
  if (v == std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::max();
  return v < 0 ? -v : v;
}

void CheckIntegerRange(int32_t ivalue, std::string_view name, int32_t imin, int32_t imax,
                       int32_t& icode) {
  if (imax < imin) {
    if (ivalue < imin) {
      StoreIntegerParameter(1, ivalue);
      StoreIntegerParameter(2, imin);
      StoreLiteralParameter(1, name);
      IssueMessage(kTerminal, icode,
                   "%(L1) = %(I1).  %(L1) must be greater than or equal to %(I2).");
    }
  } else if (ivalue < imin || ivalue > imax) {
    StoreIntegerParameter(1, ivalue);
    StoreIntegerParameter(2, imin);
    StoreIntegerParameter(3, imax);
    StoreLiteralParameter(1, name);
    IssueMessage(kTerminal, icode,
                 "%(L1) = %(I1).  %(L1) must be greater than or equal to %(I2) and less than or "
                 "equal to %(I3).");
  }
  ++icode;
}

void CheckIntegerOrder(int32_t iv1, std::string_view name1, int32_t iv2, std::string_view name2,
                       int32_t& icode) {
  if (iv2 < iv1) {
    StoreIntegerParameter(1, iv1);
    StoreIntegerParameter(2, iv2);
    StoreLiteralParameter(1, name1);
    StoreLiteralParameter(2, name2);
    IssueMessage(kTerminal, icode,
                 "%(L1) = %(I1) and %(L2) = %(I2).  %(L1) must be less than or equal to %(L2).");
  }
  ++icode;
}

void CheckDimensionPair(int32_t imin, int32_t iv, std::string_view name, int32_t ld,
                        std::string_view ldname, int32_t& icode) {
  if (!name.empty() && name.front() == '*') {
    name.remove_prefix(1);
    ++icode;
  } else {
    CheckIntegerRange(iv, name, imin, -1, icode);
  }
  CheckIntegerRange(ld, ldname, 1, -1, icode);
  if (ld > 0) {
    CheckIntegerOrder(iv, name, ld, ldname, icode);
  } else {
    ++icode;
  }
}

void CheckColumnNumber(int32_t imin, int32_t iv, std::string_view name, int32_t ncol,
                       std::string_view ncolname, int32_t& icode) {
  CheckIntegerRange(iv, name, imin, -1, icode);
  if (ncol > 0) {
    CheckIntegerOrder(iv, name, ncol, ncolname, icode);
  } else {
    ++icode;
  }
}

void CheckRegressionArguments(int32_t ido, int32_t nrow, int32_t ncol, int32_t ldx, int32_t intcep,
                              int32_t iind, const int32_t* indind, int32_t idep,
                              const int32_t* inddep, int32_t ifrq, int32_t iwt, int32_t isub,
                              double tol, int32_t ldb, int32_t ldr, int32_t ldscpe) {
  const int32_t nind = AbsoluteCount(iind);
  const int32_t ndep = AbsoluteCount(idep);
  const int32_t ncoef = CoefficientCount(intcep, nind);
  int32_t icode = 1;
  CheckIntegerRange(ido, "IDO", 0, 3, icode);
  CheckIntegerRange(ncol, "NCOL", 0, -1, icode);
  CheckDimensionPair(0, AbsoluteCount(nrow), "IABS(NROW)", ldx, "LDX", icode);
  CheckIntegerRange(intcep, "INTCEP", 0, 1, icode);
  CheckColumnNumber(0, ifrq, "IFRQ", ncol, "NCOL", icode);
  CheckColumnNumber(0, iwt, "IWT", ncol, "NCOL", icode);
  if (!(tol >= 0.0 && tol <= 1.0)) {
    StoreDoubleParameter(1, tol);
    IssueMessage(kTerminal, icode, "TOL = %(D1).  TOL must be between 0.0 and 1.0, inclusive.");
  }
  ++icode;
  if (intcep == 0) {
    if (isub != 0) {
      StoreIntegerParameter(1, isub);
      IssueMessage(kTerminal, icode,
                   "INTCEP = 0 and ISUB = %(I1).  When INTCEP = 0, ISUB must equal 0.");
    }
    ++icode;
  } else {
    CheckIntegerRange(isub, "ISUB", 0, 1, icode);
  }
  if (ndep >= 1) {
    CheckDimensionPair(0, ncoef, "INTCEP+IABS(IIND)", ldb, "LDB", icode);
    CheckDimensionPair(0, ncoef, "*INTCEP+IABS(IIND)", ldr, "LDR", icode);
    CheckDimensionPair(0, ndep, "IABS(IDEP)", ldscpe, "LDSCPE", icode);
  } else {
    icode += 3;
  }
  if (N1RTY(0) != 0) return;

  if (idep > 0) {
    CheckIndexList(idep, inddep, ncol,
                   "INDDEP(%(I1)) = %(I2) and NCOL = %(I3).  INDDEP(%(I1)) must be greater than "
                   "or equal 1 and less than or equal to NCOL.",
                   icode);
  } else {
    ++icode;
  }
  if (iind > 0) {
    CheckIndexList(iind, indind, ncol,
                   "INDIND(%(I1)) = %(I2) and NCOL = %(I3).  INDIND(%(I1)) must be greater than "
                   "or equal 1 and less than or equal to NCOL.",
                   icode);
  } else {
    ++icode;
  }

  // The checks above leave ways to address storage the caller never passed: columns
  // 1 .. |IIND| or the last |IDEP| columns beyond NCOL, a frequency or weight column of an X
  // with no columns, and a factor R written with any LDR when nothing is dependent.
  CheckIntegerOrder(nind, "IABS(IIND)", ncol, "NCOL", icode);
  CheckIntegerOrder(ndep, "IABS(IDEP)", ncol, "NCOL", icode);
  CheckIntegerOrder(ifrq, "IFRQ", ncol, "NCOL", icode);
  CheckIntegerOrder(iwt, "IWT", ncol, "NCOL", icode);
  if (ndep == 0) {
    CheckIntegerOrder(ncoef, "INTCEP+IABS(IIND)", ldr, "LDR", icode);
  } else {
    ++icode;
  }
}

void DC1WFR(int32_t ido, int32_t ncall, const double* x, int32_t ldx, int32_t irow, int32_t isign,
            int32_t ifrq, int32_t iwt, double /*xmiss*/, int32_t& nmiss, double& freq,
            double& weight, int32_t& iact) {
  RoutineGuard guard("DC1WFR");
  iact = 0;
  if (ifrq > 0) {
    freq = x[At(irow, ifrq, ldx)];
    if (IsNotANumber(freq)) {
      nmiss += isign;
      iact = 2;
    } else if (freq == 0.0) {
      iact = 1;
      return;
    }
  }
  if (iwt > 0) {
    weight = x[At(irow, iwt, ldx)];
    if (IsNotANumber(weight) && iact != 2) {
      nmiss += isign;
      iact = 2;
    }
  }
  if (ifrq <= 0) {
    freq = 1.0;
  } else if (!IsNotANumber(freq) && freq < 0.0) {
    ReportNegative(ido, ncall, irow, freq, 2,
                   "The frequency for row %(I1) of X is %(D1).  Frequencies must be nonnegative.",
                   "The frequency for row %(I1) of X on invocation number %(I2) of this routine is "
                   "%(D1).  Frequencies must be nonnegative.");
    iact = 3;
    return;
  }
  if (isign == -1) freq = -freq;
  if (iwt <= 0) {
    weight = 1.0;
  } else if (!IsNotANumber(weight) && weight < 0.0) {
    ReportNegative(ido, ncall, irow, weight, 1,
                   "The weight for row %(I1) of X was %(D1).  Weights must be nonnegative.",
                   "The weight for row %(I1) of X on invocation number %(I2) of this routine was "
                   "%(D1).  Weights must be nonnegative.");
    iact = 3;
  }
}

int32_t IDANAN(int32_t n, const double* x, int32_t incx) {
  if (n < 0 || incx < 0) {
    RoutineGuard guard("IDANAN");
    if (n < 0) {
      StoreIntegerParameter(1, n);
      IssueMessage(kTerminal, 1,
                   " The length of the input vector is %(I1).  The length must be non-negative.");
    } else {
      StoreIntegerParameter(1, incx);
      IssueMessage(kTerminal, 2,
                   " The length of the incrementation of the input vector is %(I1).  The "
                   "incrementation must be non-negative.");
    }
    return 0;
  }
  if (n == 0 || incx == 0) return 0;
  for (int32_t i = 1; i <= n; ++i) {
    if (IsNotANumber(x[static_cast<std::ptrdiff_t>(i - 1) * incx])) return i;
  }
  return 0;
}

}  // namespace vesk1
