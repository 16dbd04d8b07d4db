#include "matrices.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <utility>

#include "errors/errors.h"

namespace vesk1::test {

Matrix RandomMatrix(int32_t n, int32_t ld, uint64_t seed) {
  Matrix a{n, ld, std::vector<double>(static_cast<size_t>(ld) * n, kPadding)};
  std::mt19937_64 engine(seed);
  std::uniform_real_distribution<double> uniform(-1.0, 1.0);
  for (int32_t j = 0; j < n; ++j) {
    for (int32_t i = 0; i < n; ++i) a(i, j) = uniform(engine);
  }
  return a;
}

double Norm1(const Matrix& a) {
  double largest = 0.0;
  for (int32_t j = 0; j < a.n; ++j) {
    double sum = 0.0;
    for (int32_t i = 0; i < a.n; ++i) sum += std::fabs(a(i, j));
    largest = std::max(largest, sum);
  }
  return largest;
}

PlainFactors PlainFactor(const Matrix& a, double small) {
  const int32_t n = a.n;
  PlainFactors f{a, std::vector<int32_t>(n), std::vector<double>(n)};
  Matrix& x = f.fac;
  for (int32_t i = 0; i < n; ++i) {
    double largest = 0.0;
    for (int32_t j = 0; j < n; ++j) largest = std::max(largest, std::fabs(x(i, j)));
    f.scale[i] = largest >= small ? 1.0 / largest : 1.0;
  }
  for (int32_t k = 0; k + 1 < n; ++k) {
    int32_t l = k;
    double best = 0.0;
    for (int32_t i = k; i < n; ++i) {
      const double product = std::fabs(x(i, k) * f.scale[i]);
      if (product > best) {
        best = product;
        l = i;
      }
    }
    f.pivot[k] = l + 1;
    std::swap(f.scale[k], f.scale[l]);
    for (int32_t j = k; j < n; ++j) std::swap(x(k, j), x(l, j));
    if (std::fabs(x(k, k)) > small) {
      const double t = -1.0 / x(k, k);
      for (int32_t i = k + 1; i < n; ++i) x(i, k) *= t;
    }
    for (int32_t j = k + 1; j < n; ++j) {
      for (int32_t i = k + 1; i < n; ++i) x(i, j) += x(i, k) * x(k, j);
    }
  }
  f.pivot[n - 1] = n;
  return f;
}

double FactorResidual(const Matrix& a, const Matrix& fac, const std::vector<int32_t>& pivot) {
  const int32_t n = a.n;
  double worst = 0.0;
  std::vector<double> b(n);
  for (int32_t j = 0; j < n; ++j) {
    for (int32_t i = 0; i < n; ++i) b[i] = a(i, j);
    for (int32_t k = 0; k + 1 < n; ++k) {
      std::swap(b[k], b[pivot[k] - 1]);
      for (int32_t i = k + 1; i < n; ++i) b[i] += fac(i, k) * b[k];
    }
    double sum = 0.0;
    for (int32_t i = 0; i < n; ++i) sum += std::fabs(b[i] - (i <= j ? fac(i, j) : 0.0));
    worst = std::max(worst, sum);
  }
  return worst / (n * Norm1(a) * std::numeric_limits<double>::epsilon());
}

void GoOnAfter(int32_t type) {
  int32_t print = 0;
  int32_t stop = 0;
  SetPrintStopAttributes(type, print, stop);
}

double InverseResidual(const Matrix& a, const Matrix& ainv) {
  const int32_t n = a.n;
  double worst = 0.0;
  for (int32_t j = 0; j < n; ++j) {
    double sum = 0.0;
    for (int32_t i = 0; i < n; ++i) {
      long double product = 0.0L;
      for (int32_t m = 0; m < n; ++m) product += static_cast<long double>(ainv(i, m)) * a(m, j);
      sum += std::fabs(static_cast<double>((i == j ? 1.0L : 0.0L) - product));
    }
    worst = std::max(worst, sum);
  }
  return worst / (n * Norm1(a) * Norm1(ainv) * std::numeric_limits<double>::epsilon());
}

}  // namespace vesk1::test
