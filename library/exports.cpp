// The exported entry points of vesk1_fdll, and nothing else. Each is a one-line transfer to the
// routine of the same name without the leading C (the complex helpers and the recurrence, which
// no message names, to their descriptive names); every argument arrives by address.
#define VESK1_FDLL_BUILDING
#include <vesk1/fdll.h>

#include "complex.h"
#include "linalg/inverse.h"
#include "linalg/lu.h"
#include "recurrence.h"
#include "regression/line_fit.h"
#include "sort.h"

extern "C" {

void CPXMUL(const double* a, const double* b, double* out) {
  vesk1::ComplexMultiply(a, b, out);
}

void CPXEXP(const double* z, double* out) {
  vesk1::ComplexExp(z, out);
}

void CPXROOT(const double* z, double* out) {
  vesk1::ComplexRoot(z, out);
}

void CRECUR1(const double* lambda, const double* parameters, double* results,
             const RecurrenceModel* model) {
  vesk1::LayeredEarthRecurrence(lambda, parameters, results, model);
}

void CDLINRG(const int32_t* n, const double* a, const int32_t* lda, double* ainv,
             const int32_t* ldainv) {
  vesk1::DLINRG(*n, a, *lda, ainv, *ldainv);
}

void CDLFCRG(const int32_t* n, const double* a, const int32_t* lda, double* fac,
             const int32_t* ldfac, int32_t* pivot, double* rcond) {
  vesk1::DLFCRG(*n, a, *lda, fac, *ldfac, pivot, *rcond);
}

void CDSVRGP(const int32_t* n, const double* ra, double* rb, int32_t* iperm) {
  vesk1::DSVRGP(*n, ra, rb, iperm);
}

void CDRLINE(const int32_t* nobs, const double* xobs, const double* yobs, double* bint,
             double* bslope, double* fstat) {
  vesk1::DRLINE(*nobs, xobs, yobs, *bint, *bslope, fstat);
}

}  // extern "C"
