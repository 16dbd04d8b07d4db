// The sampler's two request kinds (the layouts are at the top of sounding.h): what a client
// uses to build them and read their replies, and what each worker's module instance keeps and
// computes for them.
//
// A sampling run, as a client drives it:
//   1. DataRequests hands the prior and the sounding to the workers under a data id. Each
//      worker keeps the last complete data set it was given (the module instance is the
//      worker's own). Only workers with a share of a request see it, so send the data with
//      the item count of the step requests that follow (the server then splits both alike);
//      a step reply that says kNoData asks for the data again with that request's item count,
//      after which the same step request may simply be sent again: a step request changes
//      nothing in a worker.
//   2. DrawFromPrior (sampler.h) gives each chain its start; the client keeps every chain's
//      state and its controls (inverse temperature, proposal widths).
//   3. BuildStepRequest carries up to ChainsPerStepRequest chains; each worker advances the
//      chains whose items it holds by the request's number of steps and answers each chain's
//      new state, misfit and move tallies (ReadStepReply). The new state is the chain's
//      sample at that step: with steps = thinning, every reply gives one kept sample per chain.
//   4. Between requests the client may exchange the temperatures of neighbouring chains
//      (SwapAccepted), tune the widths during burn-in, and so on; chains never move between
//      workers, since they travel with the requests, and their paths do not depend on how the
//      server splits the items.
#pragma once

#include <vesk1/module.h>

#include <cstdint>
#include <span>
#include <vector>

#include "sampler.h"

namespace vesk1::sounding::sampler {

// The blocks and answers as they lie in the records (sounding.h gives the whole layouts).
struct DataBlockHeader {
  uint32_t dataId;
  int32_t periodCount, first, count, maxLayers, flags;
  float minLog10Depth, maxLog10Depth, minLog10Rho, maxLog10Rho;
};
struct StepBlockHeader {
  uint32_t dataId, seedLow, seedHigh;
  int32_t steps, chainCount, maxLayers;
  uint32_t reserved[2];
};
// Followed by float log10Depth[maxLayers - 1] and float log10Rho[maxLayers].
struct ChainRecordHeader {
  uint32_t chain, step;
  int32_t layers;
  float beta, depthWidth, rhoWidth, birthWidth;
};
// The same values follow; then 0 to the end of the last entry.
struct ChainAnswerHeader {
  float misfit;
  int32_t layers;  // or a StepStatus
  float bestMisfit;
  uint32_t step;
  uint16_t proposed[kMoveKinds], accepted[kMoveKinds];
};
static_assert(sizeof(DataBlockHeader) == 40 && sizeof(StepBlockHeader) == 32);
static_assert(sizeof(ChainRecordHeader) == 28 && sizeof(ChainAnswerHeader) == 32);

inline constexpr int kDataPointsPerRequest =
    (kModuleDataSize - static_cast<int>(sizeof(DataBlockHeader))) /
    static_cast<int>(sizeof(DataPoint));
inline constexpr int32_t kPriorOnly = 1;  // flag bit of the data kind: likelihood off
inline constexpr int kMaxStepsPerRequest = 4096;

// Bytes of one chain in a step request, and entries of its answer.
inline constexpr int ChainRecordSize(int maxLayers) {
  return static_cast<int>(sizeof(ChainRecordHeader)) + 4 * (2 * maxLayers - 1);
}
inline constexpr int EntriesPerChain(int maxLayers) {
  return (static_cast<int>(sizeof(ChainAnswerHeader)) + 4 * (2 * maxLayers - 1) + 7) / 8;
}
static_assert(ChainRecordSize(20) == 184 && EntriesPerChain(20) == 24);
// How many chains one step request carries (0 for a maxLayers outside 1..kMaxLayers).
int ChainsPerStepRequest(int maxLayers);

// The item word asking for entry `part` of chain `slot`'s answer.
inline uint32_t StepItem(int slot, int part) {
  return (static_cast<uint32_t>(slot) << 8) | static_cast<uint32_t>(part);
}

// The acknowledgement each item of a data request gets: the id of the complete data set the
// worker now holds (0 for none) and the points it holds of the set being assembled (-1 when
// the request was refused).
struct DataAck {
  uint32_t readyId;
  int32_t received;
};
static_assert(sizeof(DataAck) == kReplyEntrySize);

// Status of a chain's answer: 0 or one of these.
enum StepStatus : int32_t {
  kNoData = -1,      // the worker holds no complete data set with the request's id
  kBadChain = -2,    // the chain's state or controls are not valid for the prior
  kBadRequest = -3,  // the header, the slot or the part is outside what the request allows
};

// The requests (ceil(points / 74) of them) that give a data set to the workers, each with
// `itemCount` items (1..255). Empty when dataId is 0 or the prior or points are not valid.
std::vector<PipeRequest> DataRequests(uint32_t dataId, const Prior& prior, bool likelihood,
                                      std::span<const DataPoint> points, int itemCount);
DataAck ReadDataAck(const PipeReply& reply, int entry);

// A chain as a step request carries it.
struct ChainSlot {
  ChainState state;
  ChainControls controls;
};

// A step request for chains.size() (1..ChainsPerStepRequest(maxLayers)) chains, each asking
// for all of its EntriesPerChain(maxLayers) entries, chain by chain. False when it does not fit
// or steps is outside 1..kMaxStepsPerRequest.
bool BuildStepRequest(uint32_t dataId, uint64_t seed, int steps, int maxLayers,
                      std::span<const ChainSlot> chains, PipeRequest& request);

// One chain's answer.
struct ChainOutcome {
  int32_t status = kBadRequest;  // 0, or a StepStatus
  ChainState state;              // after the steps (when status is 0)
  uint16_t proposed[kMoveKinds] = {}, accepted[kMoveKinds] = {};
  float misfit = 0, bestMisfit = 0;  // chi^2 of the state, the least chi^2 passed through
};

// The answers to a request made by BuildStepRequest with these `chains` and `maxLayers`.
std::vector<ChainOutcome> ReadStepReply(const PipeReply& reply, int maxLayers,
                                        std::span<const ChainSlot> chains);

// What one worker's module instance keeps between requests, and answers with.
class SamplerMemory {
 public:
  // Answers a share of a data request or a step request into `resultBuffer`.
  void AnswerData(const PipeRequest& request, unsigned char* resultBuffer);
  void AnswerSteps(const PipeRequest& request, unsigned char* resultBuffer) const;

  uint32_t readyId() const { return readyId_; }

 private:
  bool SameSet(const DataBlockHeader& h) const;
  void AnswerChain(const StepBlockHeader& h, const unsigned char* record,
                   unsigned char* answer) const;

  Problem problem_;       // the complete data set
  uint32_t readyId_ = 0;  // its id, 0 for none
  // The set being assembled from data requests.
  DataBlockHeader assembling_{};
  DataPoint points_[kMaxPeriods];
  bool received_[kMaxPeriods] = {};
  int receivedCount_ = 0;
};

}  // namespace vesk1::sounding::sampler
