// The exported entry points of vesk1_fdll, and nothing else. Each is a one-line transfer to the
// routine of the same name without the leading C; every argument arrives by address.
#define VESK1_FDLL_BUILDING
#include <vesk1/fdll.h>

#include "complex.h"
#include "recurrence.h"

extern "C" {

void CPXMUL(const double* a, const double* b, double* out) {
  vesk1::PXMUL(a, b, out);
}

void CPXEXP(const double* z, double* out) {
  vesk1::PXEXP(z, out);
}

void CPXROOT(const double* z, double* out) {
  vesk1::PXROOT(z, out);
}

void CRECUR1(const double* lambda, const double* parameters, double* results,
             const RecurrenceModel* model) {
  vesk1::RECUR1(lambda, parameters, results, model);
}

}  // extern "C"
