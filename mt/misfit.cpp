#include "mt/misfit.h"

#include <cmath>
#include <cstdio>
#include <limits>

namespace vesk1::mt {
namespace {

constexpr double kLn10 = 2.302585092994046;
constexpr double kInfinity = std::numeric_limits<double>::infinity();

}  // namespace

FitData FitDataOf(const Sounding& sounding) {
  FitData fit;
  const std::vector<MeasuredPoint> used = UsedPoints(sounding);
  const size_t p = used.size();
  fit.value.resize(2 * p);
  fit.error.resize(2 * p);
  for (size_t i = 0; i < p; ++i) {
    const MeasuredPoint& point = used[i];
    fit.value[i] = std::log10(point.resistivity);
    fit.error[i] = point.resistivityError / point.resistivity / kLn10;
    fit.value[p + i] = point.phase;
    fit.error[p + i] = point.phaseError;
  }
  return fit;
}

double RmsMisfit(const FitData& data, const std::vector<double>& log10Rho,
                 const std::vector<double>& phase) {
  const size_t p = log10Rho.size();
  if (data.value.size() != 2 * p || phase.size() != p || p == 0) return kInfinity;
  double sum = 0;
  for (size_t i = 0; i < 2 * p; ++i) {
    const double f = i < p ? log10Rho[i] : phase[i - p];
    if (!std::isfinite(f)) return kInfinity;
    const double r = (data.value[i] - f) / data.error[i];
    sum += r * r;
  }
  return std::sqrt(sum / static_cast<double>(2 * p));
}

std::string MisfitText(const Sounding& sounding, const std::vector<CurvePoint>& model) {
  std::vector<double> log10Rho, phase;
  for (const CurvePoint& p : model) {
    log10Rho.push_back(p.resistivity > 0 ? std::log10(p.resistivity) : NAN);
    phase.push_back(p.phase);
  }
  const double rms = RmsMisfit(FitDataOf(sounding), log10Rho, phase);
  const size_t used = static_cast<size_t>(sounding.Count(PointStatus::kUsed));
  char line[200];
  std::snprintf(line, sizeof line,
                "RMS misfit %.4f over %zu data (%zu periods, log10 apparent resistivity and phase)",
                rms, 2 * used, used);
  return line;
}

}  // namespace vesk1::mt
