// Straight-line least-squares fit with summary statistics.
#pragma once

#include <cstdint>

namespace vesk1 {

// Fits y = BINT + BSLOPE * x to the NOBS pairs (XOBS(i), YOBS(i)), leaving out pairs with a
// missing x or y (NaN or DMACH(6)), and returns in FSTAT(1..12): mean of x, mean of y,
// variances of x and y, correlation (clipped to [-1, 1]), standard errors of BINT and BSLOPE,
// regression degrees of freedom and sum of squares, error degrees of freedom and sum of
// squares, and the number of pairs left out. A statistic that cannot be formed is DMACH(6).
// TERMINAL code 1 for NOBS < 1 and FATAL code 1 when no pair is valid; the outputs are then
// not written. While the pairs are fed to the core, WARNING-with-deferred-stop messages are
// neither printed nor stop; one left pending (the fit has no error degrees of freedom) prints
// under DRLINE when it returns.
void DRLINE(int32_t nobs, const double* xobs, const double* yobs, double& bint, double& bslope,
            double* fstat);

// A / B, with DMACH(6) when A or B is missing or both are 0, 0 for a quotient that would
// underflow and DMACH(7) or DMACH(8) (signed machine infinity) for one that would overflow.
double ProtectedDivide(double a, double b);

}  // namespace vesk1
