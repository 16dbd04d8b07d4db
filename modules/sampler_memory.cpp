#include "sampler_memory.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "common/sounding_request.h"

namespace vesk1::sounding::sampler {
namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

int ClampedItemCount(const PipeRequest& request) {
  return std::clamp(request.itemCount, 0, static_cast<int32_t>(kMaxItems));
}

Prior PriorOf(const DataBlockHeader& h) {
  return {h.maxLayers, h.minLog10Depth, h.maxLog10Depth, h.minLog10Rho, h.maxLog10Rho};
}

bool StepHeaderFits(const StepBlockHeader& h) {
  return h.maxLayers >= 1 && h.maxLayers <= kMaxLayers && h.steps >= 1 &&
         h.steps <= kMaxStepsPerRequest && h.chainCount >= 1 &&
         h.chainCount <= ChainsPerStepRequest(h.maxLayers);
}

// Values of a chain as they follow its record or answer header.
void ReadValues(const unsigned char* at, int maxLayers, ChainState& s) {
  std::memcpy(s.log10Depth, at, 4 * static_cast<size_t>(maxLayers - 1));
  std::memcpy(s.log10Rho, at + 4 * (maxLayers - 1), 4 * static_cast<size_t>(maxLayers));
}
// Only the used ones; the rest stay 0.
void WriteValues(const ChainState& s, int maxLayers, unsigned char* at) {
  std::memcpy(at, s.log10Depth, 4 * static_cast<size_t>(s.layers - 1));
  std::memcpy(at + 4 * (maxLayers - 1), s.log10Rho, 4 * static_cast<size_t>(s.layers));
}

uint16_t Count16(uint32_t n) {
  return static_cast<uint16_t>(std::min<uint32_t>(n, 0xFFFF));
}

}  // namespace

bool SamplerMemory::SameSet(const DataBlockHeader& h) const {
  const DataBlockHeader& a = assembling_;
  return a.dataId == h.dataId && a.periodCount == h.periodCount && a.maxLayers == h.maxLayers &&
         a.flags == h.flags && a.minLog10Depth == h.minLog10Depth &&
         a.maxLog10Depth == h.maxLog10Depth && a.minLog10Rho == h.minLog10Rho &&
         a.maxLog10Rho == h.maxLog10Rho;
}

// A new id or prior starts a new set; points arriving again overwrite themselves. The set
// replaces the one in use only when its last point has come and it checks out.
void SamplerMemory::AnswerData(const PipeRequest& request, unsigned char* resultBuffer) {
  DataBlockHeader h;
  std::memcpy(&h, request.moduleData, sizeof h);
  int32_t received = -1;
  if (h.dataId != 0 && h.periodCount >= 1 && h.periodCount <= kMaxPeriods && h.first >= 0 &&
      h.count >= 1 && h.count <= kDataPointsPerRequest && h.first + h.count <= h.periodCount) {
    if (!SameSet(h)) {
      assembling_ = h;
      std::fill_n(received_, kMaxPeriods, false);
      receivedCount_ = 0;
    }
    std::memcpy(points_ + h.first, request.moduleData + sizeof h,
                sizeof(DataPoint) * static_cast<size_t>(h.count));
    for (int i = h.first; i < h.first + h.count; ++i) {
      if (!received_[i]) ++receivedCount_;
      received_[i] = true;
    }
    received = receivedCount_;
    if (receivedCount_ == h.periodCount) {
      Problem next;
      if (next.Set(PriorOf(h), {points_, static_cast<size_t>(h.periodCount)},
                   (h.flags & kPriorOnly) == 0)) {
        problem_ = next;
        readyId_ = h.dataId;
      } else {
        received = -1;
        assembling_ = DataBlockHeader{};
      }
    }
  }
  const DataAck ack{readyId_, received};
  for (int k = 0; k < ClampedItemCount(request); ++k) {
    std::memcpy(resultBuffer + kReplyEntrySize * k, &ack, sizeof ack);
  }
}

void SamplerMemory::AnswerChain(const StepBlockHeader& h, const unsigned char* record,
                                unsigned char* answer) const {
  const int k = h.maxLayers;
  std::memset(answer, 0, static_cast<size_t>(kReplyEntrySize) * EntriesPerChain(k));
  ChainAnswerHeader out{};
  out.misfit = kNaN;
  out.bestMisfit = kNaN;
  ChainRecordHeader in;
  std::memcpy(&in, record, sizeof in);
  ChainState state;
  state.chain = in.chain;
  state.step = in.step;
  state.layers = in.layers;
  const ChainControls controls{in.beta, in.depthWidth, in.rhoWidth, in.birthWidth};
  StepTally tally;
  if (readyId_ == 0 || h.dataId != readyId_) {
    out.layers = kNoData;
  } else if (problem_.prior().maxLayers != k) {
    out.layers = kBadRequest;
  } else if (in.layers < 0 || in.layers > k) {
    out.layers = kBadChain;
  } else {
    ReadValues(record + sizeof in, k, state);
    const uint64_t seed = (static_cast<uint64_t>(h.seedHigh) << 32) | h.seedLow;
    if (!AdvanceChain(problem_, seed, controls, h.steps, state, tally)) {
      out.layers = kBadChain;
    } else {
      out.misfit = static_cast<float>(tally.misfit);
      out.bestMisfit = static_cast<float>(tally.bestMisfit);
      out.layers = state.layers;
      out.step = state.step;
      for (int m = 0; m < kMoveKinds; ++m) {
        out.proposed[m] = Count16(tally.proposed[m]);
        out.accepted[m] = Count16(tally.accepted[m]);
      }
      WriteValues(state, k, answer + sizeof out);
    }
  }
  std::memcpy(answer, &out, sizeof out);
}

// Each chain named by the share's items is advanced once, whatever number of its entries the
// share holds; a chain whose entries the server split between two workers is advanced by
// both, with the same result.
void SamplerMemory::AnswerSteps(const PipeRequest& request, unsigned char* resultBuffer) const {
  StepBlockHeader h;
  std::memcpy(&h, request.moduleData, sizeof h);
  const bool fits = StepHeaderFits(h);
  const int entries = fits ? EntriesPerChain(h.maxLayers) : 0;
  unsigned char answers[kMaxItems * kReplyEntrySize];
  bool answered[kMaxChainSlots] = {};
  const ChainAnswerHeader refused{kNaN, kBadRequest, kNaN, 0, {}, {}};
  for (int k = 0; k < ClampedItemCount(request); ++k) {
    const uint32_t slot = request.items[k] >> 8;
    const uint32_t part = request.items[k] & 0xFFu;
    unsigned char* entry = resultBuffer + kReplyEntrySize * k;
    if (!fits || slot >= static_cast<uint32_t>(h.chainCount) ||
        part >= static_cast<uint32_t>(entries)) {
      std::memcpy(entry, &refused, kReplyEntrySize);
      continue;
    }
    unsigned char* answer = answers + kReplyEntrySize * entries * slot;
    if (!answered[slot]) {
      AnswerChain(h, request.moduleData + sizeof h + ChainRecordSize(h.maxLayers) * slot, answer);
      answered[slot] = true;
    }
    std::memcpy(entry, answer + kReplyEntrySize * part, kReplyEntrySize);
  }
}

}  // namespace vesk1::sounding::sampler
