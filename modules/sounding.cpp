#include "sounding.h"

#include <cmath>
#include <complex>
#include <cstring>
#include <limits>

#include "model_batch.h"
#include "sampler_memory.h"

namespace vesk1::sounding {
namespace {

using Complex = std::complex<double>;
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

SensitivityPoint ComputeSensitivity(const RecurrenceModel& model, float period, int layer) {
  SensitivityRecursion recursion;
  if (!ModelIsValid(model) || model.bottomMode != 2 || !recursion.Prepare(model, period)) {
    return {kNaN, kNaN};
  }
  return recursion.Derivative(model, layer);
}

bool SensitivityRecursion::Prepare(const RecurrenceModel& model, float period) {
  n_ = 0;
  if (!std::isfinite(period) || period <= 0.0f) return false;
  const int n = model.layerCount;
  const double omega = 2.0 * kPi / static_cast<double>(period);
  const Complex iOmegaMu(0.0, omega * kMagneticConstant);
  // Bottom up: each layer's wavenumber k, intrinsic impedance zeta = i omega mu / k, the tanh
  // of k h (from exp(-2 k h), which cannot overflow) and the impedance Z at its top.
  for (int j = n - 1; j >= 0; --j) {
    const Complex sigma(model.conductivity[j][0], model.conductivity[j][1]);
    k_[j] = std::sqrt(iOmegaMu * sigma);
    zeta_[j] = iOmegaMu / k_[j];
    if (j == n - 1) {
      z_[j] = zeta_[j];
      continue;
    }
    const Complex e = std::exp(-2.0 * k_[j] * static_cast<double>(model.thickness[j]));
    t_[j] = (1.0 - e) / (1.0 + e);
    oneMinusT2_[j] = 4.0 * e / ((1.0 + e) * (1.0 + e));
    z_[j] = zeta_[j] * (z_[j + 1] + zeta_[j] * t_[j]) / (zeta_[j] + z_[j + 1] * t_[j]);
  }
  // Top down: dZ_0 / dZ_j, the product of dZ_i / dZ_{i+1} = zeta^2 (1 - t^2) / (zeta + Z_{i+1}
  // t)^2 over the layers above j.
  up_[0] = 1.0;
  for (int i = 0; i + 1 < n; ++i) {
    const Complex den = zeta_[i] + z_[i + 1] * t_[i];
    up_[i + 1] = up_[i] * zeta_[i] * zeta_[i] * oneMinusT2_[i] / (den * den);
  }
  n_ = n;
  return true;
}

SensitivityPoint SensitivityRecursion::Derivative(const RecurrenceModel& model, int layer) const {
  if (layer < 0 || layer >= n_) return {kNaN, kNaN};
  // dZ of the layer's own top with respect to ln sigma: zeta scales as sigma^-1/2, k as
  // sigma^1/2.
  Complex dz;
  const Complex dZeta = -0.5 * zeta_[layer];
  if (layer == n_ - 1) {
    dz = dZeta;
  } else {
    const double h = model.thickness[layer];
    const Complex below = z_[layer + 1];
    const Complex dT = oneMinusT2_[layer] * h * 0.5 * k_[layer];
    const Complex num = below + zeta_[layer] * t_[layer];
    const Complex den = zeta_[layer] + below * t_[layer];
    const Complex dNum = dZeta * t_[layer] + zeta_[layer] * dT;
    const Complex dDen = dZeta + below * dT;
    dz = dZeta * num / den + zeta_[layer] * (dNum * den - num * dDen) / (den * den);
  }
  // ln rho = -ln sigma; log10 ratios equal ln ratios; the phase turns with Im of d ln Z.
  const Complex dLnZ = -up_[layer] * dz / z_[0];
  constexpr double kLn10 = 2.302585092994046;
  return {static_cast<float>(2.0 * dLnZ.real()),
          static_cast<float>(dLnZ.imag() * kLn10 * 180.0 / kPi)};
}

void ComputeShare(CRECUR1_Entry recur, const PipeRequest& request, unsigned char* resultBuffer) {
  ComputeShare(recur, nullptr, request, resultBuffer);
}

void ComputeShare(CRECUR1_Entry recur, sampler::SamplerMemory* memory, const PipeRequest& request,
                  unsigned char* resultBuffer) {
  int count = request.itemCount;
  if (count < 0) count = 0;
  if (count > kMaxItems) count = kMaxItems;
  int32_t kind;
  std::memcpy(&kind, request.moduleData2, sizeof kind);
  if (kind == kModelBatchRequest) {
    ComputeModelBatch(request, resultBuffer);
    return;
  }
  if (kind == kSamplerDataRequest || kind == kSamplerStepRequest) {
    sampler::SamplerMemory none;
    sampler::SamplerMemory& m = memory != nullptr ? *memory : none;
    if (kind == kSamplerDataRequest && memory != nullptr) {
      m.AnswerData(request, resultBuffer);
    } else if (kind == kSamplerDataRequest) {
      const sampler::DataAck refused{0, -1};
      for (int k = 0; k < count; ++k) {
        std::memcpy(resultBuffer + kReplyEntrySize * k, &refused, sizeof refused);
      }
    } else {
      m.AnswerSteps(request, resultBuffer);
    }
    return;
  }
  RecurrenceModel model;
  static_assert(sizeof model == sizeof request.moduleData);
  std::memcpy(&model, request.moduleData, sizeof model);
  const bool usable = recur != nullptr && ModelIsValid(model);
  float periods[kSensitivityPeriodCapacity];
  std::memcpy(periods, model.unused1, sizeof periods);
  // The items of a sensitivity request come period by period: one recursion serves every
  // layer of a period.
  SensitivityRecursion recursion;
  uint32_t preparedPeriod = kSensitivityPeriodCapacity;
  bool prepared = false;
  const bool differentiable = usable && model.bottomMode == 2;
  for (int k = 0; k < count; ++k) {
    SoundingPoint point{kNaN, kNaN};
    if (usable && kind == kSoundingRequest) {
      float period;
      std::memcpy(&period, &request.items[k], sizeof period);
      point = ComputePoint(recur, model, period);
    } else if (usable && kind == kSensitivityRequest) {
      const uint32_t word = request.items[k];
      const uint32_t periodIndex = word >> 16;
      if (differentiable && periodIndex < static_cast<uint32_t>(kSensitivityPeriodCapacity)) {
        if (periodIndex != preparedPeriod) {
          prepared = recursion.Prepare(model, periods[periodIndex]);
          preparedPeriod = periodIndex;
        }
        if (prepared) {
          const SensitivityPoint d = recursion.Derivative(model, static_cast<int>(word & 0xFFFFu));
          point = {d.resistivity, d.phase};
        }
      }
    }
    std::memcpy(resultBuffer + kReplyEntrySize * k, &point, sizeof point);
  }
}

}  // namespace vesk1::sounding
