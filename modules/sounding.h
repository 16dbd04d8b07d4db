// One-dimensional magnetotelluric response of a layered earth: apparent resistivity and phase
// for one period, from the layered-medium recurrence of vesk1_fdll, and their derivatives with
// respect to each layer's resistivity; and, computed by the module's own vector recurrence
// (response_engine.h), whole batches of models and the chains of a trans-dimensional sampler
// (sampler.h).
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
//                  P periods (model_batch.h builds one). The block, all little-endian:
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
//                  another complete set replaces it (sampler_requests.h builds them). The block:
//                    bytes 0..3    uint32 data id, not 0; the step requests name it
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
//   sampler steps  chains of the sampler advanced by S steps each (sampler.h gives the moves
//                  and the random streams, sampler_requests.h builds the request). The block:
//                    bytes 0..3    uint32 data id the chains sample against
//                    bytes 4..11   uint32 seed, low word then high word
//                    bytes 12..15  int32 S, steps per chain, 1..4096
//                    bytes 16..19  int32 C, chains in the block
//                    bytes 20..23  int32 K, as in the data set
//                    bytes 24..31  reserved, 0
//                    then C chain records of 24 + 8 K bytes: uint32 chain (its stream),
//                    uint32 steps taken, int32 layers k, float32 1/temperature (0..1), float32
//                    proposal widths of an interface move (log10 m), a resistivity change and
//                    a birth (log10 ohm-m), float32 log10 depth of the interfaces [K - 1] (the
//                    first k - 1 used, ascending), float32 log10 resistivity [K] (the first k
//                    used, top down). C is at most ChainsPerStepRequest(K): 8 for K = 20.
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
#pragma once

#include <vesk1/fdll.h>
#include <vesk1/module.h>

namespace vesk1::sounding {

namespace sampler {
class SamplerMemory;
}

// The magnetic constant the recurrence uses; the impedance has to be formed with the same one.
inline constexpr double kMagneticConstant = 1.2566359828269924e-6;

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

// True when the recurrence can be run on the model: 1..63 layers, bottom mode 0, 1 or 2, every
// thickness the recurrence reads finite and not negative, every conductivity finite and not
// zero.
bool ModelIsValid(const RecurrenceModel& model);

// The response at one period (seconds) of a model that ModelIsValid accepts; NaN for both
// values when the period is not a finite positive number.
SoundingPoint ComputePoint(CRECUR1_Entry recur, const RecurrenceModel& model, float period);

// The derivatives at one period (seconds) with respect to log10 of the resistivity of `layer`
// (from 0), computed in double precision by differentiating the impedance's layer-by-layer
// recursion; the scaled conductivity keeps its phase. NaN for both values when the model is
// not valid or has no half-space basement, the layer lies outside it, or the period is not a
// finite positive number.
SensitivityPoint ComputeSensitivity(const RecurrenceModel& model, float period, int layer);

// Answers a worker's share of any kind (see the top of this file) into `resultBuffer`
// (2048 bytes), one entry per item. For the sounding and sensitivity kinds, a missing
// recurrence or an invalid model gives NaN entries. The sampler's kinds keep their data in
// `sampler`, the module instance's own; without it they answer as a worker that holds no
// data. At most 255 entries are written.
void ComputeShare(CRECUR1_Entry recur, sampler::SamplerMemory* sampler, const PipeRequest& request,
                  unsigned char* resultBuffer);
void ComputeShare(CRECUR1_Entry recur, const PipeRequest& request, unsigned char* resultBuffer);

}  // namespace vesk1::sounding
