// Building the sounding module's requests of the model-batch and sampler kinds and reading
// their replies: the client's side of common/sounding_request.h and common/sampler_request.h.
#include "common/sounding_request.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "common/philox.h"
#include "common/sampler_request.h"

namespace vesk1::sounding {
namespace {

PipeRequest NewRequest(RequestKind kind, int itemCount) {
  PipeRequest request;
  std::memset(&request, 0, sizeof request);
  request.magic = RecordMagic;
  request.selectFirst = 1;
  request.itemCount = itemCount;
  const int32_t word = kind;
  std::memcpy(request.moduleData2, &word, sizeof word);
  return request;
}

}  // namespace

bool BuildModelBatchRequest(std::span<const float> thickness, std::span<const float> periods,
                            std::span<const float> log10Resistivity,
                            std::span<const uint32_t> items, PipeRequest& request) {
  const long long layers = static_cast<long long>(thickness.size()) + 1;
  const long long periodCount = static_cast<long long>(periods.size());
  if (layers > kBatchMaxLayers || periodCount < 1 || periodCount > kMaxItems ||
      log10Resistivity.empty() || log10Resistivity.size() % layers != 0 || items.empty() ||
      items.size() > static_cast<size_t>(kMaxItems)) {
    return false;
  }
  const long long models = static_cast<long long>(log10Resistivity.size()) / layers;
  if (ModelBatchBytes(layers, periodCount, models) > kModuleDataSize) return false;
  for (uint32_t item : items) {
    if ((item >> 16) >= models || (item & 0xffffu) >= periodCount) return false;
  }
  request = NewRequest(kModelBatchRequest, static_cast<int>(items.size()));
  const ModelBatchHeader header{static_cast<int32_t>(layers), static_cast<int32_t>(periodCount),
                                static_cast<int32_t>(models), 0};
  unsigned char* at = request.moduleData;
  std::memcpy(at, &header, sizeof header);
  at += sizeof header;
  std::memcpy(at, thickness.data(), thickness.size_bytes());
  at += thickness.size_bytes();
  std::memcpy(at, periods.data(), periods.size_bytes());
  at += periods.size_bytes();
  std::memcpy(at, log10Resistivity.data(), log10Resistivity.size_bytes());
  std::copy(items.begin(), items.end(), request.items);
  return true;
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
  request = NewRequest(kModelBatchRequest, models * periodCount);
  const ModelBatchHeader header{layers, periodCount, models, 0};
  unsigned char* at = request.moduleData;
  std::memcpy(at, &header, sizeof header);
  at += sizeof header;
  std::memcpy(at, thickness.data(), thickness.size_bytes());
  at += thickness.size_bytes();
  std::memcpy(at, periods.data(), periods.size_bytes());
  at += periods.size_bytes();
  std::memcpy(at, log10Resistivity.data(), log10Resistivity.size_bytes());
  for (int m = 0; m < models; ++m) {
    for (int i = 0; i < periodCount; ++i) request.items[m * periodCount + i] = ModelBatchItem(m, i);
  }
  return true;
}

namespace sampler {
namespace {

bool PriorLooksValid(const Prior& p) {
  auto ordered = [](float low, float high) {
    return std::isfinite(low) && std::isfinite(high) && low < high;
  };
  return p.maxLayers >= 1 && p.maxLayers <= kMaxLayers &&
         ordered(p.minLog10Depth, p.maxLog10Depth) && ordered(p.minLog10Rho, p.maxLog10Rho);
}

}  // namespace

std::vector<PipeRequest> DataRequests(uint32_t dataId, const Prior& prior, bool likelihood,
                                      std::span<const DataPoint> points, int itemCount) {
  std::vector<PipeRequest> requests;
  const auto n = static_cast<int>(points.size());
  if (dataId == 0 || itemCount < 1 || itemCount > kMaxItems || n < 1 || n > kMaxPeriods ||
      !PriorLooksValid(prior)) {
    return requests;
  }
  for (int first = 0; first < n; first += kDataPointsPerRequest) {
    const int count = std::min(kDataPointsPerRequest, n - first);
    PipeRequest request = NewRequest(kSamplerDataRequest, itemCount);
    const DataBlockHeader header{dataId,
                                 n,
                                 first,
                                 count,
                                 prior.maxLayers,
                                 likelihood ? 0 : kPriorOnly,
                                 prior.minLog10Depth,
                                 prior.maxLog10Depth,
                                 prior.minLog10Rho,
                                 prior.maxLog10Rho};
    std::memcpy(request.moduleData, &header, sizeof header);
    std::memcpy(request.moduleData + sizeof header, points.data() + first,
                sizeof(DataPoint) * static_cast<size_t>(count));
    requests.push_back(request);
  }
  return requests;
}

DataAck ReadDataAck(const PipeReply& reply, int entry) {
  DataAck ack;
  std::memcpy(&ack, reply.entries[entry], sizeof ack);
  return ack;
}

bool BuildStepRequest(uint32_t dataId, uint64_t seed, int steps, int maxLayers,
                      std::span<const ChainSlot> chains, PipeRequest& request) {
  const auto chainCount = static_cast<int>(chains.size());
  if (steps < 1 || steps > kMaxStepsPerRequest || chainCount < 1 ||
      chainCount > ChainsPerStepRequest(maxLayers)) {
    return false;
  }
  const StepBlockHeader header{dataId,
                               static_cast<uint32_t>(seed),
                               static_cast<uint32_t>(seed >> 32),
                               steps,
                               chainCount,
                               maxLayers,
                               {0, 0}};
  const int entries = EntriesPerChain(maxLayers);
  request = NewRequest(kSamplerStepRequest, chainCount * entries);
  std::memcpy(request.moduleData, &header, sizeof header);
  for (int c = 0; c < chainCount; ++c) {
    const ChainSlot& slot = chains[static_cast<size_t>(c)];
    unsigned char* at = request.moduleData + sizeof header + ChainRecordSize(maxLayers) * c;
    const ChainRecordHeader record{slot.state.chain,         slot.state.step,
                                   slot.state.layers,        slot.controls.beta,
                                   slot.controls.depthWidth, slot.controls.rhoWidth,
                                   slot.controls.birthWidth};
    std::memcpy(at, &record, sizeof record);
    const int k = slot.state.layers;
    if (k >= 1 && k <= maxLayers) {
      std::memcpy(at + sizeof record, slot.state.log10Depth, 4 * static_cast<size_t>(k - 1));
      std::memcpy(at + sizeof record + 4 * (maxLayers - 1), slot.state.log10Rho,
                  4 * static_cast<size_t>(k));
    }
    for (int part = 0; part < entries; ++part)
      request.items[c * entries + part] = StepItem(c, part);
  }
  return true;
}

std::vector<ChainOutcome> ReadStepReply(const PipeReply& reply, int maxLayers,
                                        std::span<const ChainSlot> chains) {
  std::vector<ChainOutcome> outcomes(chains.size());
  const int entries = EntriesPerChain(maxLayers);
  if (maxLayers < 1 || maxLayers > kMaxLayers ||
      static_cast<long long>(entries) * static_cast<long long>(chains.size()) > kMaxItems) {
    return outcomes;
  }
  for (size_t c = 0; c < chains.size(); ++c) {
    const unsigned char* at = reply.entries[c * entries];
    ChainAnswerHeader answer;
    std::memcpy(&answer, at, sizeof answer);
    ChainOutcome& out = outcomes[c];
    out.status = answer.layers < 0 ? answer.layers : 0;
    if (answer.layers > maxLayers || answer.layers == 0) out.status = kBadRequest;
    if (out.status != 0) continue;
    out.state.chain = chains[c].state.chain;
    out.state.step = answer.step;
    out.state.layers = answer.layers;
    std::memcpy(out.state.log10Depth, at + sizeof answer,
                4 * static_cast<size_t>(answer.layers - 1));
    std::memcpy(out.state.log10Rho, at + sizeof answer + 4 * (maxLayers - 1),
                4 * static_cast<size_t>(answer.layers));
    std::copy_n(answer.proposed, kMoveKinds, out.proposed);
    std::copy_n(answer.accepted, kMoveKinds, out.accepted);
    out.misfit = answer.misfit;
    out.bestMisfit = answer.bestMisfit;
  }
  return outcomes;
}

bool SwapAccepted(uint64_t seed, uint32_t round, uint32_t pair, double betaA, double misfitA,
                  double betaB, double misfitB) {
  uint32_t w[4];
  DrawWords(seed, round, pair, kSwapDraws, w);
  return std::log(UniformOf(w[0])) < 0.5 * (betaA - betaB) * (misfitA - misfitB);
}

}  // namespace sampler
}  // namespace vesk1::sounding
