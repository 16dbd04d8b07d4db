#include "mt/investigation.h"

#include <cmath>
#include <limits>

namespace vesk1::mt {

Investigation DepthOfInvestigation(const FitData& data, const std::vector<double>& jacobian,
                                   const std::vector<double>& thickness, double share) {
  Investigation result;
  result.depth = std::numeric_limits<double>::quiet_NaN();
  const size_t n = thickness.size() + 1, rows = data.error.size();
  if (rows == 0 || jacobian.size() != rows * n) return result;
  std::vector<double> layer(n, 0.0);
  double total = 0;
  for (size_t i = 0; i < rows; ++i) {
    for (size_t j = 0; j < n; ++j) layer[j] += std::fabs(jacobian[i * n + j]) / data.error[i];
  }
  for (double s : layer) total += s;
  if (!(total > 0) || !std::isfinite(total)) return result;
  double top = 0, above = 0;
  for (size_t j = 0; j + 1 < n; ++j) {
    const double through = above + layer[j] / total;
    if (through >= share) {
      result.depth = top + thickness[j] * (share - above) / (through - above);
      return result;
    }
    above = through;
    top += thickness[j];
  }
  result.depth = top;
  result.belowMesh = true;
  return result;
}

}  // namespace vesk1::mt
