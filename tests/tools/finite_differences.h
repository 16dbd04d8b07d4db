// The sensitivities of the sounding module checked the plain way: central differences of the
// apparent resistivity and phase computed with vesk1_fdll's recurrence in double precision.
#ifndef VESK1_TESTS_TOOLS_FINITE_DIFFERENCES_H_
#define VESK1_TESTS_TOOLS_FINITE_DIFFERENCES_H_

#include <cmath>
#include <complex>
#include <vector>

#include "sounding.h"
#include "sounding_engine.h"

namespace vesk1::test {

struct DoubleResponse {
  double log10Rho;
  double phase;  // degrees
};

// The module's impedance formula without its final rounding to single precision.
inline DoubleResponse ResponseInDouble(CRECUR1_Entry recur, const RecurrenceModel& model,
                                       double period) {
  const double omega = 2.0 * 3.14159265358979323846 / period;
  const double lambda = 0.0;
  const double parameters[3] = {omega, 0.0, 0.0};
  double results[8] = {};
  recur(&lambda, parameters, results, &model);
  const double omegaMu = omega * sounding::kMagneticConstant;
  const std::complex<double> gamma(results[0], results[1]);
  const std::complex<double> sigma1(model.conductivity[0][0], model.conductivity[0][1]);
  const std::complex<double> minusIOmegaMu(0.0, -omegaMu);
  const std::complex<double> z = minusIOmegaMu * gamma / std::sqrt(minusIOmegaMu * sigma1);
  return {std::log10(std::norm(z) / omegaMu), -std::arg(z) * 180.0 / 3.14159265358979323846};
}

// 2P by N, row-major, as ForwardEngine::Sensitivities gives it. Steps of 1e-3 in log10 of the
// resistivity, taken as the single-precision conductivities actually stored.
inline std::vector<double> FiniteDifferenceJacobian(CRECUR1_Entry recur,
                                                    const std::vector<double>& log10Rho,
                                                    const std::vector<double>& thickness,
                                                    const std::vector<double>& periods) {
  const size_t p = periods.size(), n = log10Rho.size();
  std::vector<double> jacobian(2 * p * n);
  const RecurrenceModel base = mt::LayeredModel(log10Rho, thickness);
  for (size_t j = 0; j < n; ++j) {
    RecurrenceModel up = base, down = base;
    const float sigma = base.conductivity[j][0];
    up.conductivity[j][0] = static_cast<float>(sigma * std::pow(10.0, -1e-3));
    down.conductivity[j][0] = static_cast<float>(sigma * std::pow(10.0, 1e-3));
    const double step = std::log10(static_cast<double>(down.conductivity[j][0]) /
                                   static_cast<double>(up.conductivity[j][0]));
    for (size_t i = 0; i < p; ++i) {
      const double period = static_cast<float>(periods[i]);
      const DoubleResponse a = ResponseInDouble(recur, up, period);
      const DoubleResponse b = ResponseInDouble(recur, down, period);
      jacobian[i * n + j] = (a.log10Rho - b.log10Rho) / step;
      jacobian[(p + i) * n + j] = (a.phase - b.phase) / step;
    }
  }
  return jacobian;
}

}  // namespace vesk1::test

#endif  // VESK1_TESTS_TOOLS_FINITE_DIFFERENCES_H_
