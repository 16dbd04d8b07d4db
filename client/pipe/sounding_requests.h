// The model blocks of the sounding module's requests (see common/sounding_request.h), made
// from the layered earths of mt/.
#ifndef VESK1_CLIENT_PIPE_SOUNDING_REQUESTS_H
#define VESK1_CLIENT_PIPE_SOUNDING_REQUESTS_H

#include <vector>

#include "mt/earth.h"
#include "vesk1/fdll.h"

namespace vesk1::client {

// The model block of a model file's earth: conductivity 1/resistivity, layer factors 1, bottom
// mode 2 (a half-space basement).
RecurrenceModel ToRecurrenceModel(const mt::LayeredEarth& earth);

// The model block of an inversion's model: log10 resistivities from the top down (half-space
// last) and the thicknesses above the half-space, in single precision as the module reads them.
RecurrenceModel LayeredModel(const std::vector<double>& log10Rho,
                             const std::vector<double>& thickness);

}  // namespace vesk1::client

#endif  // VESK1_CLIENT_PIPE_SOUNDING_REQUESTS_H
