// The model blocks of the sounding module's requests (see common/sounding_request.h), made
// from the layered earths of mt/.
#ifndef VESK1_CLIENT_PIPE_SOUNDING_REQUESTS_H
#define VESK1_CLIENT_PIPE_SOUNDING_REQUESTS_H

#include <cstddef>
#include <span>
#include <vector>

#include "mt/earth.h"
#include "vesk1/fdll.h"
#include "vesk1/module.h"

namespace vesk1::client {

// The model block of a model file's earth: conductivity 1/resistivity, layer factors 1, bottom
// mode 2 (a half-space basement).
RecurrenceModel ToRecurrenceModel(const mt::LayeredEarth& earth);

// The model block of an inversion's model: log10 resistivities from the top down (half-space
// last) and the thicknesses above the half-space, in single precision as the module reads them.
RecurrenceModel LayeredModel(const std::vector<double>& log10Rho,
                             const std::vector<double>& thickness);

// One request of the sensitivity kind and the period-and-layer pairs its items name, each as
// period index * layers + layer.
struct SensitivityRequest {
  PipeRequest request;
  std::vector<size_t> pairs;
};

// The requests for the Jacobian of `log10Rho` on `thickness` at `periods`: every
// period-and-layer pair, as many to a request as a reply holds while their periods fit its table.
std::vector<SensitivityRequest> SensitivityRequests(const std::vector<double>& log10Rho,
                                                    const std::vector<double>& thickness,
                                                    const std::vector<double>& periods);

// Stores a reply's derivatives in `jacobian` (2P rows by `layers` columns, row-major: rows
// 0..P-1 of log10 rho_a, rows P..2P-1 of the phase).
void StoreSensitivities(const SensitivityRequest& request, const PipeReply& reply, size_t periods,
                        size_t layers, std::vector<double>& jacobian);

// log10 of an entry's apparent resistivity (NaN when it is not positive) and its phase.
void ReadSoundingEntry(const PipeReply& reply, size_t entry, double& log10Rho, double& phase);

}  // namespace vesk1::client

#endif  // VESK1_CLIENT_PIPE_SOUNDING_REQUESTS_H
