// One-dimensional magnetotelluric response of a layered earth: apparent resistivity and phase
// for one period, from the layered-medium recurrence of vesk1_fdll, and their derivatives with
// respect to each layer's resistivity; and, computed by the module's own vector recurrence
// (response_engine.h), whole batches of models and the chains of a trans-dimensional sampler
// (sampler.h).
//
// The request kinds and their entries are in common/sounding_request.h.
#pragma once

#include <vesk1/fdll.h>
#include <vesk1/module.h>

#include <complex>

#include "common/sounding_request.h"

namespace vesk1::sounding {

namespace sampler {
class SamplerMemory;
}

// The magnetic constant the recurrence uses; the impedance has to be formed with the same one.
inline constexpr double kMagneticConstant = 1.2566359828269924e-6;

// True when the recurrence can be run on the model: 1..63 layers, bottom mode 0, 1 or 2, every
// thickness the recurrence reads finite and not negative, every conductivity finite and not
// zero.
bool ModelIsValid(const RecurrenceModel& model);

// The response at one period (seconds) of a model that ModelIsValid accepts; NaN for both
// values when the period is not a finite positive number.
SoundingPoint ComputePoint(CRECUR1_Entry recur, const RecurrenceModel& model, float period);

// The derivatives at one period (seconds) with respect to log10 of the resistivity of `layer`
// (from 0), computed in double precision by differentiating the impedance's layer-by-layer
// recursion; the scaled conductivity keeps its phase. NaN for both values when the model is
// not valid or has no half-space basement, the layer lies outside it, or the period is not a
// finite positive number.
SensitivityPoint ComputeSensitivity(const RecurrenceModel& model, float period, int layer);

// The layer-by-layer recursion of one model at one period, from which the derivatives with
// respect to every layer follow at a few operations each: Prepare costs what one derivative
// alone would, so a request's items of one period share it.
class SensitivityRecursion {
 public:
  // False when the period is not a finite positive number. The model must be one that
  // ModelIsValid accepts, with a half-space basement.
  bool Prepare(const RecurrenceModel& model, float period);
  // As ComputeSensitivity, for the model and period last prepared.
  SensitivityPoint Derivative(const RecurrenceModel& model, int layer) const;

 private:
  int n_ = 0;  // layers of the prepared model; 0 before a successful Prepare
  std::complex<double> k_[kRecurrenceMaxLayers], zeta_[kRecurrenceMaxLayers];
  std::complex<double> t_[kRecurrenceMaxLayers], oneMinusT2_[kRecurrenceMaxLayers];
  std::complex<double> z_[kRecurrenceMaxLayers];
  std::complex<double> up_[kRecurrenceMaxLayers];  // dZ at the top / dZ at the top of layer j
};

// Answers a worker's share of any kind (see common/sounding_request.h) into `resultBuffer`
// (2048 bytes), one entry per item. For the sounding and sensitivity kinds, a missing
// recurrence or an invalid model gives NaN entries. The sampler's kinds keep their data in
// `sampler`, the module instance's own; without it they answer as a worker that holds no
// data. At most 255 entries are written.
void ComputeShare(CRECUR1_Entry recur, sampler::SamplerMemory* sampler, const PipeRequest& request,
                  unsigned char* resultBuffer);
void ComputeShare(CRECUR1_Entry recur, const PipeRequest& request, unsigned char* resultBuffer);

}  // namespace vesk1::sounding
