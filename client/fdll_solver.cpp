#include "client/fdll_solver.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <utility>

#include "client/pipe/transport.h"

namespace vesk1::client {

bool SolveWithCondition(CDLFCRG_Entry factor, int n, const std::vector<double>& a,
                        const std::vector<double>& b, double minRcond, std::vector<double>& x,
                        double& rcond) {
  const size_t size = static_cast<size_t>(n);
  // The library stops the whole process on a matrix it cannot factor (a NaN reaches a pivot),
  // so a system that is not all finite numbers never gets there.
  const auto finite = [](double v) { return std::isfinite(v); };
  if (n <= 0 ||
      !std::all_of(a.begin(), a.begin() + static_cast<std::ptrdiff_t>(size * size), finite) ||
      !std::all_of(b.begin(), b.begin() + n, finite)) {
    rcond = std::numeric_limits<double>::quiet_NaN();
    return false;
  }
  std::vector<double> d(size), scaled(size * size), fac(size * size), y(size);
  for (size_t j = 0; j < size; ++j) {
    const double diagonal = a[j * size + j];
    d[j] = diagonal > 0 ? 1.0 / std::sqrt(diagonal) : 1.0;
  }
  for (size_t j = 0; j < size; ++j) {
    for (size_t i = 0; i < size; ++i) scaled[j * size + i] = d[i] * a[j * size + i] * d[j];
    y[j] = d[j] * b[j];
  }
  std::vector<int32_t> pivot(size);
  const int32_t order = n;
  rcond = 0;
  factor(&order, scaled.data(), &order, fac.data(), &order, pivot.data(), &rcond);
  if (!(rcond >= minRcond)) return false;
  // The factored form: apply the exchanges and the negated multipliers column by column, which
  // leaves U times the solution; then solve with U.
  for (size_t k = 0; k + 1 < size; ++k) {
    const size_t l = static_cast<size_t>(pivot[k] - 1);
    std::swap(y[k], y[l]);
    for (size_t i = k + 1; i < size; ++i) y[i] += fac[k * size + i] * y[k];
  }
  for (size_t k = size; k-- > 0;) {
    y[k] /= fac[k * size + k];
    for (size_t i = 0; i < k; ++i) y[i] -= fac[k * size + i] * y[k];
  }
  x.resize(size);
  for (size_t j = 0; j < size; ++j) x[j] = d[j] * y[j];
  return true;
}

common::LoadedFdll LoadSolverLibrary(const std::string& given, const char* program) {
  if (!given.empty()) {
    const bool hasDirectory = given.find_first_of("/\\") != std::string::npos;
    return common::LoadFdllFile(hasDirectory ? given : "./" + given);
  }
  // Beside the program (the build tree, a Windows install), then where an install on Linux puts
  // the library (<prefix>/lib/vesk1/ beside <prefix>/bin/), then the current folder.
  const std::string self = ProgramDirectory(program);
  if (!self.empty()) {
    for (const std::string& folder : {self, self + "../lib/vesk1/"}) {
      common::LoadedFdll found = common::LoadFdll(folder.c_str());
      if (found.factor != nullptr) return found;
    }
  }
  return common::LoadFdll(".");
}

}  // namespace vesk1::client
