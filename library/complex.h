// Complex arithmetic of the library's own routines, spelled out operation by operation so that
// every routine rounds the same way on every platform (the C++ library's operators check for
// infinities and divide differently), and the exported complex helpers.
#pragma once

#include <complex>

namespace vesk1 {

// A complex double in the library's layout: real part, then imaginary part.
struct Complex {
  double re;
  double im;
};

inline Complex Add(Complex a, Complex b) {
  return {a.re + b.re, a.im + b.im};
}

inline Complex Multiply(Complex a, Complex b) {
  return {a.re * b.re - a.im * b.im, a.im * b.re + a.re * b.im};
}

inline Complex Scale(double s, Complex a) {
  return {s * a.re, s * a.im};
}

inline Complex Negate(Complex a) {
  return {-a.re, -a.im};
}

inline Complex OnePlus(Complex a) {
  return {1.0 + a.re, 0.0 + a.im};
}

inline Complex OneMinus(Complex a) {
  return {1.0 - a.re, 0.0 - a.im};
}

// c / d as c times the conjugate of d, times the reciprocal of |d|^2.
inline Complex Divide(Complex c, Complex d) {
  const double reciprocal = 1.0 / (d.re * d.re + d.im * d.im);
  const Complex t = Multiply(c, {d.re, -d.im});
  return {t.re * reciprocal, t.im * reciprocal};
}

// The platform's principal square root and exponential, applied to the value in full.
inline Complex SquareRoot(Complex z) {
  const std::complex<double> r = std::sqrt(std::complex<double>(z.re, z.im));
  return {r.real(), r.imag()};
}

inline Complex Exponential(Complex z) {
  const std::complex<double> r = std::exp(std::complex<double>(z.re, z.im));
  return {r.real(), r.imag()};
}

// out = a * b; a and b are read completely first, so out may be either of them.
void ComplexMultiply(const double* a, const double* b, double* out);
// out = exp(z); out may be z.
void ComplexExp(const double* z, double* out);
// out = principal square root of z; out may be z.
void ComplexRoot(const double* z, double* out);

}  // namespace vesk1
