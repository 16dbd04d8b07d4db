// Every piece of mutable state of the regression routines. One thread at a time may be inside
// one loaded instance of the library; nothing here is locked.
#pragma once

#include <cstdint>

namespace vesk1 {

// The arrays DRLINE hands to the regression core for its straight line (two coefficients: the
// intercept and the slope; one dependent variable). Zero at load; DRLINE fills them on every
// call before they are read, and their contents after a call mean nothing to its caller.
struct RegressionWork {
  double row[2];     // the current data pair (x, y), a one-row data matrix with LDX = 1
  double b[2];       // accumulated right-hand sides, then BINT and BSLOPE
  double r[4];       // the triangular factor R, 2 by 2, leading dimension 2
  double dscale[2];  // row scale factors of the factor
  double scpe[1];    // error sum of squares of y
  double xmin[2];    // smallest value of each model column
  double xmax[2];    // largest value of each model column
  double work[3];    // the current row in model order: 1, x, y
  int32_t nrank;     // rank of the fitted line, 1 or 2
  double dfe;        // sum of frequencies, then the degrees of freedom for error
  int32_t nmiss;     // pairs with a missing value
};

// What the regression core keeps from one call to the next besides the caller's arrays.
// Zero at load; both are set by the call that starts a fit before they are read.
struct RegressionCore {
  int32_t ncall;    // invocation number within the current fit (1 after initialization)
  double param[5];  // the latest modified Givens transformation: flag, H11, H21, H12, H22
};

struct RegressionState {
  RegressionWork lineFit;  // arrays of DRLINE
  RegressionCore core;     // invocation counter and transformation record of DR2IVN
};

RegressionState& Regression();

}  // namespace vesk1
