#include "sounding.h"

#include <cmath>
#include <complex>
#include <cstring>
#include <limits>

namespace vesk1::sounding {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

bool UsableThickness(float t) {
  return std::isfinite(t) && t >= 0.0f;
}

}  // namespace

bool ModelIsValid(const RecurrenceModel& model) {
  const int n = model.layerCount;
  if (n < 1 || n > kRecurrenceMaxLayers) return false;
  if (model.bottomMode < 0 || model.bottomMode > 2) return false;
  // The basement's thickness is read only by the bottom modes that end in a boundary.
  const int readThicknesses = model.bottomMode == 2 ? n - 1 : n;
  for (int j = 0; j < readThicknesses; ++j) {
    if (!UsableThickness(model.thickness[j])) return false;
  }
  for (int j = 0; j < n; ++j) {
    const float re = model.conductivity[j][0];
    const float im = model.conductivity[j][1];
    if (!std::isfinite(re) || !std::isfinite(im) || (re == 0.0f && im == 0.0f)) return false;
  }
  return true;
}

SoundingPoint ComputePoint(CRECUR1_Entry recur, const RecurrenceModel& model, float period) {
  if (!std::isfinite(period) || period <= 0.0f) return {kNaN, kNaN};
  const double omega = 2.0 * kPi / static_cast<double>(period);
  const double lambda = 0.0;
  const double parameters[3] = {omega, 0.0, 0.0};
  double results[8] = {};
  recur(&lambda, parameters, results, &model);

  // Z = -i omega mu Gamma / u1 with u1 the principal root of -i omega mu sigma1.
  const double omegaMu = omega * kMagneticConstant;
  const std::complex<double> gamma(results[0], results[1]);
  const std::complex<double> sigma1(model.conductivity[0][0], model.conductivity[0][1]);
  const std::complex<double> minusIOmegaMu(0.0, -omegaMu);
  const std::complex<double> topRoot = std::sqrt(minusIOmegaMu * sigma1);
  const std::complex<double> impedance = minusIOmegaMu * gamma / topRoot;
  // The recurrence's time convention puts Z in the fourth quadrant; the phase is quoted with
  // the opposite sign, so a uniform half-space reads +45 degrees.
  return {static_cast<float>(std::norm(impedance) / omegaMu),
          static_cast<float>(-std::arg(impedance) * 180.0 / kPi)};
}

void ComputeShare(CRECUR1_Entry recur, const PipeRequest& request, unsigned char* resultBuffer) {
  int count = request.itemCount;
  if (count < 0) count = 0;
  if (count > kMaxItems) count = kMaxItems;
  RecurrenceModel model;
  static_assert(sizeof model == sizeof request.moduleData);
  std::memcpy(&model, request.moduleData, sizeof model);
  const bool usable = recur != nullptr && ModelIsValid(model);
  for (int k = 0; k < count; ++k) {
    float period;
    std::memcpy(&period, &request.items[k], sizeof period);
    const SoundingPoint point =
        usable ? ComputePoint(recur, model, period) : SoundingPoint{kNaN, kNaN};
    std::memcpy(resultBuffer + kReplyEntrySize * k, &point, sizeof point);
  }
}

}  // namespace vesk1::sounding
