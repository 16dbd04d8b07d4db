// Argument checks of the regression routines and the two per-row services of the regression
// core: a row's frequency and weight, and the first missing value of a vector.
//
// The checks share a running check counter ICODE that the calling routine starts at 1: every
// elementary check uses exactly one code whether it fails or not, so each condition always has
// the same code. A failing check stores its parameters and issues a TERMINAL error with the
// counter's current value; the check itself never stops anything, the caller asks N1RTY (0).
#pragma once

#include <cstdint>
#include <string_view>

namespace vesk1 {

// |V| for a count given with a sign; the most negative integer gives the largest one, so no
// count ever overflows.
int32_t AbsoluteCount(int32_t v);

// IVALUE >= IMIN, and IVALUE <= IMAX as well unless IMAX < IMIN. One code.
void CheckIntegerRange(int32_t ivalue, std::string_view name, int32_t imin, int32_t imax,
                       int32_t& icode);

// IV1 <= IV2. One code.
void CheckIntegerOrder(int32_t iv1, std::string_view name1, int32_t iv2, std::string_view name2,
                       int32_t& icode);

// IV >= IMIN, LD >= 1 and IV <= LD. Three codes. A NAME beginning with "*" skips the first
// check (the quantity was checked before) and is printed without the "*".
void CheckDimensionPair(int32_t imin, int32_t iv, std::string_view name, int32_t ld,
                        std::string_view ldname, int32_t& icode);

// IV >= IMIN, and IV <= NCOL when NCOL > 0. Two codes.
void CheckColumnNumber(int32_t imin, int32_t iv, std::string_view name, int32_t ncol,
                       std::string_view ncolname, int32_t& icode);

// The argument checks of DR2IVN, issued at its level (codes 1 to 23, or 1 to 17 without
// dependent variables), followed by the checks that keep the core inside the caller's arrays:
// no more regressors or dependent variables than columns, frequency and weight columns within
// X when NCOL is 0, and LDR >= INTCEP + |IIND| when there is no dependent variable.
void CheckRegressionArguments(int32_t ido, int32_t nrow, int32_t ncol, int32_t ldx, int32_t intcep,
                              int32_t iind, const int32_t* indind, int32_t idep,
                              const int32_t* inddep, int32_t ifrq, int32_t iwt, int32_t isub,
                              double tol, int32_t ldb, int32_t ldr, int32_t ldscpe);

// Fetches the frequency and weight of row IROW of X (columns IFRQ and IWT, 0 = none, then 1).
// On return IACT is 0 to use the row, 1 when the frequency is zero, 2 when the frequency or
// the weight is missing (counted once in NMISS with ISIGN, +1 add or -1 delete) and 3 when one
// is negative (FATAL code 2 for a frequency, 1 for a weight; NCALL is printed unless IDO < 1).
// FREQ is negated for a deletion. XMISS is not consulted.
void DC1WFR(int32_t ido, int32_t ncall, const double* x, int32_t ldx, int32_t irow, int32_t isign,
            int32_t ifrq, int32_t iwt, double xmiss, int32_t& nmiss, double& freq, double& weight,
            int32_t& iact);

// Position (1..N) of the first missing element of X(1), X(1 + INCX), ..., or 0 when none.
// TERMINAL code 1 for N < 0 and code 2 for INCX < 0, both under the name IDANAN.
int32_t IDANAN(int32_t n, const double* x, int32_t incx);

}  // namespace vesk1
