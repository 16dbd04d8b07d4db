#include "client/pipe/sounding_requests.h"

#include <cmath>
#include <cstdint>
#include <cstring>

namespace vesk1::client {

static_assert(mt::kMaxLayers == kRecurrenceMaxLayers);

RecurrenceModel ToRecurrenceModel(const mt::LayeredEarth& earth) {
  RecurrenceModel model;
  std::memset(&model, 0, sizeof model);
  model.layerCount = static_cast<int32_t>(earth.resistivity.size());
  model.bottomMode = 2;
  for (size_t j = 0; j < earth.resistivity.size(); ++j) {
    model.conductivity[j][0] = static_cast<float>(1.0 / earth.resistivity[j]);
    model.layerFactor[j] = 1.0f;
    if (j < earth.thickness.size()) model.thickness[j] = static_cast<float>(earth.thickness[j]);
  }
  return model;
}

RecurrenceModel LayeredModel(const std::vector<double>& log10Rho,
                             const std::vector<double>& thickness) {
  RecurrenceModel model;
  std::memset(&model, 0, sizeof model);
  model.layerCount = static_cast<int32_t>(log10Rho.size());
  model.bottomMode = 2;
  for (size_t j = 0; j < log10Rho.size() && j < kRecurrenceMaxLayers; ++j) {
    model.conductivity[j][0] = static_cast<float>(std::pow(10.0, -log10Rho[j]));
    model.layerFactor[j] = 1.0f;
    if (j < thickness.size()) model.thickness[j] = static_cast<float>(thickness[j]);
  }
  return model;
}

}  // namespace vesk1::client
