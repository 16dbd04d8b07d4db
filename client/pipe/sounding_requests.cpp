#include "client/pipe/sounding_requests.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#include "client/pipe/transport.h"
#include "common/sounding_request.h"

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

std::vector<SensitivityRequest> SensitivityRequests(const std::vector<double>& log10Rho,
                                                    const std::vector<double>& thickness,
                                                    const std::vector<double>& periods) {
  std::vector<SensitivityRequest> requests;
  const RecurrenceModel base = LayeredModel(log10Rho, thickness);
  const size_t p = periods.size(), n = log10Rho.size(), total = p * n;
  size_t next = 0;
  while (next < total) {
    SensitivityRequest out;
    out.request = NewRequest();
    RecurrenceModel block = base;
    float table[sounding::kSensitivityPeriodCapacity] = {};
    std::vector<uint32_t> words;
    int tableSize = 0;
    size_t lastPeriod = p;
    while (next < total && words.size() < kMaxItems) {
      const size_t period = next / n, layer = next % n;
      if (period != lastPeriod) {
        if (tableSize == sounding::kSensitivityPeriodCapacity) break;
        table[tableSize++] = static_cast<float>(periods[period]);
        lastPeriod = period;
      }
      words.push_back(sounding::SensitivityItem(tableSize - 1, static_cast<int>(layer)));
      out.pairs.push_back(next++);
    }
    std::memcpy(block.unused1, table, sizeof table);
    std::memcpy(out.request.moduleData, &block, sizeof block);
    const int32_t kind = sounding::kSensitivityRequest;
    std::memcpy(out.request.moduleData2, &kind, sizeof kind);
    SetWordItems(out.request, words);
    out.request.selectFirst = 1;
    requests.push_back(std::move(out));
  }
  return requests;
}

void StoreSensitivities(const SensitivityRequest& request, const PipeReply& reply, size_t periods,
                        size_t layers, std::vector<double>& jacobian) {
  for (size_t k = 0; k < request.pairs.size(); ++k) {
    sounding::SensitivityPoint d;
    std::memcpy(&d, reply.entries[k], sizeof d);
    const size_t period = request.pairs[k] / layers, layer = request.pairs[k] % layers;
    jacobian[period * layers + layer] = d.resistivity;
    jacobian[(periods + period) * layers + layer] = d.phase;
  }
}

void ReadSoundingEntry(const PipeReply& reply, size_t entry, double& log10Rho, double& phase) {
  sounding::SoundingPoint point;
  std::memcpy(&point, reply.entries[entry], sizeof point);
  log10Rho = point.resistivity > 0 ? std::log10(point.resistivity)
                                   : std::numeric_limits<double>::quiet_NaN();
  phase = point.phase;
}

}  // namespace vesk1::client
