// Matrices and measures shared by the linear-algebra tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vesk1::test {

// A column-major n by n matrix stored with leading dimension ld (rows n .. ld-1 hold junk the
// routines must neither read into results nor write).
struct Matrix {
  int32_t n = 0;
  int32_t ld = 0;
  std::vector<double> data;
  double& operator()(int32_t i, int32_t j) { return data[i + static_cast<std::size_t>(j) * ld]; }
  double operator()(int32_t i, int32_t j) const {
    return data[i + static_cast<std::size_t>(j) * ld];
  }
};

// Entries uniform in [-1, 1]; the padding rows hold a recognisable junk value.
Matrix RandomMatrix(int32_t n, int32_t ld, uint64_t seed);

inline constexpr double kPadding = -777.25;

// Largest column sum of magnitudes of the leading n by n block.
double Norm1(const Matrix& a);

// The elimination written out step by step in plain column order: row scales, scaled pivot
// search, exchange, multipliers, update of the whole trailing block. The factored form of
// the library results from it up to rounding.
struct PlainFactors {
  Matrix fac;
  std::vector<int32_t> pivot;
  std::vector<double> scale;
};
PlainFactors PlainFactor(const Matrix& a, double small);

// ||apply(A) - U||_1 / (n ||A||_1 eps), where apply(A) runs each column of A through the
// factored form (exchange, then add the multiple of the pivot row); for an exact
// factorization apply(A) is U.
double FactorResidual(const Matrix& a, const Matrix& fac, const std::vector<int32_t>& pivot);

// Turns off printing and stopping for errors of TYPE, so that a scenario can look at what a
// routine left after reporting one (library state: call it inside a child process only).
void GoOnAfter(int32_t type);

// ||I - AINV * A||_1 / (n ||A||_1 ||AINV||_1 eps).
double InverseResidual(const Matrix& a, const Matrix& ainv);

}  // namespace vesk1::test
