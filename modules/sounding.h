// One-dimensional magnetotelluric response of a layered earth: apparent resistivity and phase
// for one period, from the layered-medium recurrence of vesk1_fdll.
#pragma once

#include <vesk1/fdll.h>
#include <vesk1/module.h>

namespace vesk1::sounding {

// The magnetic constant the recurrence uses; the impedance has to be formed with the same one.
inline constexpr double kMagneticConstant = 1.2566359828269924e-6;

// One result entry: two float32, apparent resistivity in ohm-metres, then phase in degrees.
struct SoundingPoint {
  float resistivity;
  float phase;
};
static_assert(sizeof(SoundingPoint) == kReplyEntrySize);

// True when the recurrence can be run on the model: 1..63 layers, bottom mode 0, 1 or 2, every
// thickness the recurrence reads finite and not negative, every conductivity finite and not
// zero.
bool ModelIsValid(const RecurrenceModel& model);

// The response at one period (seconds) of a model that ModelIsValid accepts; NaN for both
// values when the period is not a finite positive number.
SoundingPoint ComputePoint(CRECUR1_Entry recur, const RecurrenceModel& model, float period);

// Answers a worker's share: the model in the request's first 1520 bytes, one float32 period
// per item, one SoundingPoint per item into `resultBuffer` (2048 bytes). A missing recurrence or
// an invalid model gives NaN entries. At most 255 entries are written.
void ComputeShare(CRECUR1_Entry recur, const PipeRequest& request, unsigned char* resultBuffer);

}  // namespace vesk1::sounding
