// The layered-medium recurrence.
#pragma once

#include <vesk1/fdll.h>

namespace vesk1 {

// Magnetic constant of the layered-medium routines, as the library has always used it (it is not
// 4 pi 1e-7). Callers that turn the recurrence's results into impedances must use the same value.
inline constexpr double kMagneticConstant = 1.2566359828269924e-6;

void LayeredEarthRecurrence(const double* lambda, const double* parameters, double* results,
                            const RecurrenceModel* model);

}  // namespace vesk1
