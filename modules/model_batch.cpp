#include "model_batch.h"

#include <cstring>
#include <limits>

#include "common/sounding_request.h"
#include "response_engine.h"

namespace vesk1::sounding {
namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

bool ShapeFits(const ModelBatchHeader& h) {
  return h.layers >= 1 && h.layers <= kBatchMaxLayers && h.periods >= 1 && h.periods <= kMaxItems &&
         h.models >= 1 && ModelBatchBytes(h.layers, h.periods, h.models) <= kModuleDataSize;
}

}  // namespace

// Items naming the same model one after another are computed in one pass of the vector
// recurrence over their periods; each lane is computed on its own, so the entries are the
// same however the server split the items.
void ComputeModelBatch(const PipeRequest& request, unsigned char* resultBuffer) {
  int count = request.itemCount;
  if (count < 0) count = 0;
  if (count > kMaxItems) count = kMaxItems;
  const SoundingPoint none{kNaN, kNaN};
  for (int k = 0; k < count; ++k) {
    std::memcpy(resultBuffer + kReplyEntrySize * k, &none, sizeof none);
  }
  ModelBatchHeader header;
  std::memcpy(&header, request.moduleData, sizeof header);
  if (!ShapeFits(header)) return;

  const int layers = header.layers;
  float thickness[kBatchMaxLayers];
  const unsigned char* at = request.moduleData + kBatchHeaderSize;
  std::memcpy(thickness, at, 4 * static_cast<size_t>(layers - 1));
  const unsigned char* periods = at + 4 * (layers - 1);
  const unsigned char* models = periods + 4 * header.periods;

  LayeredEarth earth;
  PeriodSet set;
  ResponseSet responses;
  for (int k = 0; k < count;) {
    const uint32_t model = request.items[k] >> 16;
    int end = k + 1;
    while (end < count && request.items[end] >> 16 == model) ++end;
    float values[kBatchMaxLayers];
    if (model < static_cast<uint32_t>(header.models)) {
      std::memcpy(values, models + 4 * static_cast<size_t>(layers) * model,
                  4 * static_cast<size_t>(layers));
    }
    float chosen[kMaxItems];
    int slot[kMaxItems];
    int n = 0;
    for (int i = k; i < end; ++i) {
      const uint32_t index = request.items[i] & 0xFFFFu;
      if (index >= static_cast<uint32_t>(header.periods)) continue;
      float period;
      std::memcpy(&period, periods + 4 * index, sizeof period);
      if (!(period > 0.0f) || period == std::numeric_limits<float>::infinity()) continue;
      chosen[n] = period;
      slot[n++] = i;
    }
    if (n > 0 && model < static_cast<uint32_t>(header.models) &&
        EarthFromLog10Resistivity({values, static_cast<size_t>(layers)},
                                  {thickness, static_cast<size_t>(layers - 1)}, earth) &&
        PeriodSetOf({chosen, static_cast<size_t>(n)}, set)) {
      ComputeResponses(earth, set, ResistivityForm::kOhmMetres, responses);
      for (int i = 0; i < n; ++i) {
        const SoundingPoint point{static_cast<float>(responses.resistivity[i]),
                                  static_cast<float>(responses.phase[i])};
        std::memcpy(resultBuffer + kReplyEntrySize * slot[i], &point, sizeof point);
      }
    }
    k = end;
  }
}

}  // namespace vesk1::sounding
