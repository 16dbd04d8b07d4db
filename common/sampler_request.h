// The sampler's two request kinds (laid out at the top of common/sounding_request.h): the
// records as they lie in the requests and replies, the values a client keeps, and the
// functions that build the requests and read the replies. The chain logic itself is the
// module's (modules/sampler.h), which a test may also run in its own process.
//
// A sampling run, as a client drives it:
//   1. DataRequests hands the prior and the sounding to the workers under a data id. Each
//      worker keeps the last complete data set it was given (the module instance is the
//      worker's own). Only workers with a share of a request see it, so send the data with
//      the item count of the step requests that follow (the server then splits both alike);
//      a step reply that says kNoData asks for the data again with that request's item count,
//      after which the same step request may simply be sent again: a step request changes
//      nothing in a worker.
//   2. Each chain starts as a record with 0 layers at step 0: its first request draws its
//      start from the prior with the chain's own stream. The client keeps every chain's
//      state and its controls (inverse temperature, proposal widths).
//   3. BuildStepRequest carries up to ChainsPerStepRequest chains; each worker advances the
//      chains whose items it holds by the request's number of steps and answers each chain's
//      new state, misfit and move tallies (ReadStepReply). The new state is the chain's sample
//      at that step: with steps = thinning, every reply gives one kept sample per chain.
//   4. Between requests the client may exchange the temperatures of neighbouring chains
//      (SwapAccepted), tune the widths during burn-in, and so on. Chains never move between
//      workers, since they travel with the requests, and their paths do not depend on how the
//      server splits the items: the same seed gives the same samples with any number of workers.
#ifndef VESK1_COMMON_SAMPLER_REQUEST_H
#define VESK1_COMMON_SAMPLER_REQUEST_H

#include <algorithm>
#include <cstdint>
#include <span>
#include <vector>

#include "vesk1/module.h"

namespace vesk1::sounding::sampler {

// Layers of a sampled earth, the half-space included, and periods of a sounding.
inline constexpr int kMaxLayers = 63;
inline constexpr int kMaxPeriods = 128;

// The prior: k uniform over 1..maxLayers, the k - 1 interfaces uniform in log10 depth and
// ordered, strictly inside the depth range, each layer's log10 resistivity uniform in its range.
struct Prior {
  int32_t maxLayers = 0;                       // 1..kMaxLayers
  float minLog10Depth = 0, maxLog10Depth = 0;  // metres; min < max
  float minLog10Rho = 0, maxLog10Rho = 0;      // ohm-metres; min < max, within +-30
};

// One period of the sounding, as the data kind carries it.
struct DataPoint {
  float period;          // seconds
  float log10Rho;        // log10 of the apparent resistivity in ohm-metres
  float log10RhoWeight;  // 1 / its standard error; 0 leaves it out
  float phase;           // degrees
  float phaseWeight;     // 1 / its standard error in degrees; 0 leaves it out
};
static_assert(sizeof(DataPoint) == 20);

// Where a chain is.
struct ChainState {
  uint32_t chain = 0;  // its stream number
  uint32_t step = 0;   // steps taken, the position in its stream
  int32_t layers = 0;  // k; 0 at step 0: not started, drawn from the prior by the first request
  float log10Depth[kMaxLayers - 1] = {};  // the k - 1 interfaces, ascending
  float log10Rho[kMaxLayers] = {};        // the k layers, top down
};

// How a chain moves; set by the client, per chain, for each request.
struct ChainControls {
  float beta = 1;        // 1 / temperature, 0..1
  float depthWidth = 0;  // standard deviation of an interface move, log10 metres, > 0
  float rhoWidth = 0;    // of a resistivity change, log10 ohm-metres, > 0
  float birthWidth = 0;  // of a born layer's value about the split one's, > 0
};

enum MoveKind { kBirth, kDeath, kMove, kChange, kMoveKinds };

// The records as they lie in the blocks and replies.
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
static_assert(kDataPointsPerRequest == 74);
inline constexpr int32_t kPriorOnly = 1;  // flag bit of the data kind: likelihood off
inline constexpr int kMaxStepsPerRequest = 4096;
// The most chains a step request can name: slots are 8 bits of the item word.
inline constexpr int kMaxChainSlots = 256;

// Bytes of one chain in a step request, and entries of its answer.
inline constexpr int ChainRecordSize(int maxLayers) {
  return static_cast<int>(sizeof(ChainRecordHeader)) + 4 * (2 * maxLayers - 1);
}
inline constexpr int EntriesPerChain(int maxLayers) {
  return (static_cast<int>(sizeof(ChainAnswerHeader)) + 4 * (2 * maxLayers - 1) + 7) / 8;
}
static_assert(ChainRecordSize(20) == 184 && EntriesPerChain(20) == 24);

// How many chains one step request carries (0 for a maxLayers outside 1..kMaxLayers).
inline int ChainsPerStepRequest(int maxLayers) {
  if (maxLayers < 1 || maxLayers > kMaxLayers) return 0;
  const int byBlock =
      (kModuleDataSize - static_cast<int>(sizeof(StepBlockHeader))) / ChainRecordSize(maxLayers);
  const int byEntries = kMaxItems / EntriesPerChain(maxLayers);
  return std::min({byBlock, byEntries, kMaxChainSlots});
}

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
// `itemCount` items (1..255). Empty when dataId is 0, the counts are out of range or the prior
// is not one Prior describes; the values are checked by the workers, which refuse a set with
// a bad one.
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

// The client's decision on exchanging the temperatures of two chains between requests, from
// the seed's swap stream (round, pair): accepted with
// min(1, exp((betaA - betaB) (misfitA - misfitB) / 2)), misfits being chi^2.
bool SwapAccepted(uint64_t seed, uint32_t round, uint32_t pair, double betaA, double misfitA,
                  double betaB, double misfitB);

}  // namespace vesk1::sounding::sampler

#endif  // VESK1_COMMON_SAMPLER_REQUEST_H
