// The requests of the sounding module (vesk1_chzd) and its reply entries: what the module reads
// and the client writes, shared so the two can never disagree. The sampler's two kinds have
// their records in common/sampler_request.h.
//
// How the module reads a request (the server hands over all of its bytes):
//   bytes 0..1519     the module block: a RecurrenceModel for kinds 0 and 1, otherwise as the
//                     kind says;
//   bytes 1528..1531  the request kind, an int32 (kRequestKindOffset): 0 or absent a sounding,
//                     1 sensitivities, 2 a model batch, 3 sampler data, 4 sampler steps; any
//                     other kind is answered with NaN entries;
// and for each kind:
//   sounding       item k is a float32 period in seconds; entry k is a SoundingPoint.
//   sensitivities  the model's first unused area (RecurrenceModel::unused1, request bytes 8 to
//                  259) holds a table of up to 63 float32 periods in seconds; item k is the word
//                  (period index << 16) | layer index, both counted from 0, the basement being
//                  layer layerCount - 1; entry k is a SensitivityPoint. Only a model with a
//                  half-space basement (bottom mode 2) has them; others give NaN entries, as do
//                  an index outside the table or the model and a period that is not positive.
//   model batch    M layered earths over a half-space on one set of L - 1 thicknesses, each at
//                  P periods (BuildModelBatchRequest makes one). The block, all little-endian:
//                    bytes 0..3    int32 L, layers with the half-space, 1..128
//                    bytes 4..7    int32 P, periods, 1..255
//                    bytes 8..11   int32 M, models, at least 1
//                    bytes 12..15  reserved, 0
//                    then float32 thickness[L - 1] (metres), float32 period[P] (seconds) and
//                    float32 log10 resistivity[M][L] (ohm-metres, model by model, top down,
//                    half-space last), 16 + 4 (L - 1 + P + M L) bytes in all, at most 1520
//                    (50 layers at 40 periods: 5 models per request).
//                  Item k is the word (model << 16) | period index, both from 0; entry k is the
//                  SoundingPoint of that model at that period. A block whose counts do not fit,
//                  a model or period index outside it, a period that is not finite and
//                  positive, a log10 resistivity that is not finite or beyond +-30 and a
//                  thickness that is negative or not finite give NaN entries. It needs no
//                  vesk1_fdll.
//   sampler data   a sounding and the prior a sampler samples against, in pieces of up to
//                  74 periods, kept by each worker that gets a share of the request until
//                  another complete set replaces it (DataRequests makes them). The block:
//                    bytes 0..3    uint32 data id, not 0; the step requests name it (a new
//                                  set takes a new id)
//                    bytes 4..7    int32 P, periods of the whole set, 1..128
//                    bytes 8..11   int32 index of this piece's first period
//                    bytes 12..15  int32 periods in this piece, 1..74
//                    bytes 16..19  int32 K, the most layers (the half-space included), 1..63
//                    bytes 20..23  int32 flags: bit 0 switches the likelihood off (prior only)
//                    bytes 24..39  float32 log10 depth range (m) of the interfaces, min, max,
//                                  then log10 resistivity range (ohm-m), min, max
//                    then per period 5 float32: period (s), log10 apparent resistivity,
//                    its weight (1 / standard error, 0 leaves it out), phase (degrees), its
//                    weight (1 / standard error in degrees).
//                  Any items; every entry is uint32 the id of the complete set the worker
//                  holds (0 for none), int32 the periods it holds of the set being assembled
//                  (-1 when this piece was refused: a bad header, or a complete set with a bad
//                  value, which is then dropped).
//   sampler steps  chains of the sampler advanced by S steps each (the moves are described in
//                  modules/sampler.h, the random streams in common/philox.h; BuildStepRequest
//                  makes one). The block:
//                    bytes 0..3    uint32 data id the chains sample against
//                    bytes 4..11   uint32 seed, low word then high word
//                    bytes 12..15  int32 S, steps per chain, 1..4096
//                    bytes 16..19  int32 C, chains in the block
//                    bytes 20..23  int32 K, as in the data set
//                    bytes 24..31  reserved, 0
//                    then C chain records of 24 + 8 K bytes: uint32 chain (its stream),
//                    uint32 steps taken, int32 layers k (0 with steps taken 0: start from the
//                    prior, drawn from the chain's stream), float32 1/temperature (0..1),
//                    float32 proposal widths of an interface move (log10 m), a resistivity
//                    change and a birth (log10 ohm-m), float32 log10 depth of the interfaces
//                    [K - 1] (the first k - 1 used, ascending), float32 log10 resistivity [K]
//                    (the first k used, top down). C is at most ChainsPerStepRequest(K): 8 for
//                    K = 20.
//                  Item k is the word (chain slot << 8) | part; entry k is entry `part` of
//                  that chain's answer, K + 4 entries of which hold: float32 chi^2 of the
//                  state after the steps (0 with the likelihood off), int32 its layers (or
//                  -1 when the worker holds no data set with this id, -2 when the chain's
//                  record is not a model of the prior, -3 when the header, slot or part is
//                  not one the block allows), float32 the least chi^2 passed through, uint32
//                  steps taken after these, uint16 moves proposed [4] and accepted [4]
//                  (birth, death, move, change), then the values as in the record, unused
//                  ones 0.
// Each item is computed on its own, so the server may split the items among its workers in
// any way: a sampler chain whose entries go to two workers is advanced by both alike.
#ifndef VESK1_COMMON_SOUNDING_REQUEST_H
#define VESK1_COMMON_SOUNDING_REQUEST_H

#include <cstddef>
#include <cstdint>
#include <span>

#include "vesk1/fdll.h"
#include "vesk1/module.h"

namespace vesk1::sounding {

// One result entry: two float32, apparent resistivity in ohm-metres, then phase in degrees.
struct SoundingPoint {
  float resistivity;
  float phase;
};
static_assert(sizeof(SoundingPoint) == kReplyEntrySize);

// One sensitivity entry: two float32, the derivatives of log10 of the apparent resistivity and
// of the phase in degrees with respect to log10 of one layer's resistivity.
struct SensitivityPoint {
  float resistivity;
  float phase;
};
static_assert(sizeof(SensitivityPoint) == kReplyEntrySize);

enum RequestKind : int32_t {
  kSoundingRequest = 0,
  kSensitivityRequest = 1,
  kModelBatchRequest = 2,
  kSamplerDataRequest = 3,
  kSamplerStepRequest = 4,
};
// Where the kind lies in a request: the four bytes between the magic and the items.
inline constexpr int kRequestKindOffset = 1528;
// Room of the period table of a sensitivity request, and where it lies in the model block.
inline constexpr int kSensitivityPeriodCapacity = 63;
inline constexpr int kSensitivityPeriodOffset = 8;
static_assert(offsetof(PipeRequest, moduleData2) == kRequestKindOffset);
static_assert(offsetof(RecurrenceModel, unused1) == kSensitivityPeriodOffset);
static_assert(sizeof(RecurrenceModel::unused1) >= 4 * kSensitivityPeriodCapacity);

// The item word of a sensitivity request.
inline uint32_t SensitivityItem(int periodIndex, int layer) {
  return (static_cast<uint32_t>(periodIndex) << 16) | static_cast<uint32_t>(layer);
}

// The model batch's block header.
struct ModelBatchHeader {
  int32_t layers, periods, models, reserved;
};
inline constexpr int kBatchHeaderSize = sizeof(ModelBatchHeader);
inline constexpr int kBatchMaxLayers = 128;
static_assert(kBatchHeaderSize == 16);

// Bytes a model batch's block needs for this many layers, periods and models.
inline constexpr long long ModelBatchBytes(long long layers, long long periods, long long models) {
  return kBatchHeaderSize + 4 * ((layers - 1) + periods + models * layers);
}

// The most models one request carries with `layers` layers and `periods` periods when every
// model is asked at every period: bounded by the module block and by the reply's 255 entries.
// 0 when not even one fits or the counts are out of range.
inline int ModelBatchCapacity(int layers, int periods) {
  if (layers < 1 || layers > kBatchMaxLayers || periods < 1 || periods > kMaxItems) return 0;
  const long long room = kModuleDataSize - ModelBatchBytes(layers, periods, 0);
  const long long byBlock = room < 0 ? 0 : room / (4LL * layers);
  const long long byEntries = kMaxItems / periods;
  return static_cast<int>(byBlock < byEntries ? byBlock : byEntries);
}

// The item word naming one model and one period of a batch, both counted from 0.
inline uint32_t ModelBatchItem(int model, int periodIndex) {
  return (static_cast<uint32_t>(model) << 16) | static_cast<uint32_t>(periodIndex);
}

// Fills `request` with a batch of log10Resistivity.size() / layers models (model m's log10
// resistivities in ohm-metres at [m * layers, (m + 1) * layers), top down, half-space last),
// `thickness` (layers - 1 values, metres) and `periods` (seconds), and one item per model and
// period, model by model, so reply entry m * periods + i is model m at period i. False, leaving
// `request` unspecified, when the models do not fit (ModelBatchCapacity) or the sizes disagree.
bool BuildModelBatchRequest(std::span<const float> thickness, std::span<const float> periods,
                            std::span<const float> log10Resistivity, PipeRequest& request);

// The same with the items given: each a ModelBatchItem word naming a model of the batch and a
// period of `periods`, so reply entry k answers items[k] (models asked at different periods
// share one table). False, leaving `request` unspecified, when the block does not fit (more than
// kModuleDataSize bytes, more than kBatchMaxLayers layers or kMaxItems periods), the sizes
// disagree, there is no item or more than kMaxItems, or an item names a model or period outside
// the batch.
bool BuildModelBatchRequest(std::span<const float> thickness, std::span<const float> periods,
                            std::span<const float> log10Resistivity,
                            std::span<const uint32_t> items, PipeRequest& request);

}  // namespace vesk1::sounding

#endif  // VESK1_COMMON_SOUNDING_REQUEST_H
