#include "complex.h"

namespace vesk1 {

void ComplexMultiply(const double* a, const double* b, double* out) {
  const Complex product = Multiply({a[0], a[1]}, {b[0], b[1]});
  out[0] = product.re;
  out[1] = product.im;
}

void ComplexExp(const double* z, double* out) {
  const Complex result = Exponential({z[0], z[1]});
  out[0] = result.re;
  out[1] = result.im;
}

void ComplexRoot(const double* z, double* out) {
  const Complex result = SquareRoot({z[0], z[1]});
  out[0] = result.re;
  out[1] = result.im;
}

}  // namespace vesk1
