#include "model_batch.h"

#include <cstring>
#include <limits>

#include "response_engine.h"
#include "sounding.h"

namespace vesk1::sounding {
namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr int kMaxBatchPeriods = kMaxItems;

struct BatchHeader {
  int32_t layers;
  int32_t periods;
  int32_t models;
  int32_t reserved;
};
static_assert(sizeof(BatchHeader) == kBatchHeaderSize);

// Bytes the block needs for this many layers, periods and models.
long long BatchBytes(long long layers, long long periods, long long models) {
  return kBatchHeaderSize + 4 * ((layers - 1) + periods + models * layers);
}

bool ShapeFits(const BatchHeader& h) {
  return h.layers >= 1 && h.layers <= kBatchMaxLayers && h.periods >= 1 &&
         h.periods <= kMaxBatchPeriods && h.models >= 1 &&
         BatchBytes(h.layers, h.periods, h.models) <= kModuleDataSize;
}

}  // namespace

int ModelBatchCapacity(int layers, int periods) {
  if (layers < 1 || layers > kBatchMaxLayers || periods < 1 || periods > kMaxBatchPeriods) return 0;
  const long long room = kModuleDataSize - BatchBytes(layers, periods, 0);
  if (room < 0) return 0;
  const long long byBlock = room / (4LL * layers);
  const long long byEntries = kMaxItems / periods;
  return static_cast<int>(byBlock < byEntries ? byBlock : byEntries);
}

bool BuildModelBatchRequest(std::span<const float> thickness, std::span<const float> periods,
                            std::span<const float> log10Resistivity, PipeRequest& request) {
  const int layers = static_cast<int>(thickness.size()) + 1;
  const int periodCount = static_cast<int>(periods.size());
  const int capacity = ModelBatchCapacity(layers, periodCount);
  if (capacity == 0 || log10Resistivity.empty() || log10Resistivity.size() % layers != 0) {
    return false;
  }
  const int models = static_cast<int>(log10Resistivity.size() / layers);
  if (models > capacity) return false;

  std::memset(&request, 0, sizeof request);
  request.magic = RecordMagic;
  request.selectFirst = 1;
  const int32_t kind = kModelBatchRequest;
  std::memcpy(request.moduleData2, &kind, sizeof kind);
  const BatchHeader header{layers, periodCount, models, 0};
  unsigned char* at = request.moduleData;
  std::memcpy(at, &header, sizeof header);
  at += sizeof header;
  std::memcpy(at, thickness.data(), thickness.size_bytes());
  at += thickness.size_bytes();
  std::memcpy(at, periods.data(), periods.size_bytes());
  at += periods.size_bytes();
  std::memcpy(at, log10Resistivity.data(), log10Resistivity.size_bytes());
  request.itemCount = models * periodCount;
  for (int m = 0; m < models; ++m) {
    for (int i = 0; i < periodCount; ++i) request.items[m * periodCount + i] = ModelBatchItem(m, i);
  }
  return true;
}

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
  BatchHeader header;
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
