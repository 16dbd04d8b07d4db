// The requests of the sounding module (vesk1_chzd) and its reply entries: what the module reads
// and the client writes, shared so the two can never disagree.
//
// How the module reads a request (the server hands over all of its bytes):
//   bytes 0..1519     the layered earth, a RecurrenceModel;
//   bytes 1528..1531  the request kind, an int32 (kRequestKindOffset): 0 or absent a sounding,
//                     1 sensitivities; any other kind is answered with NaN entries;
// and for each kind:
//   sounding       item k is a float32 period in seconds; entry k is a SoundingPoint.
//   sensitivities  the model's first unused area (RecurrenceModel::unused1, request bytes 8 to
//                  259) holds a table of up to 63 float32 periods in seconds; item k is the word
//                  (period index << 16) | layer index, both counted from 0, the basement being
//                  layer layerCount - 1; entry k is a SensitivityPoint. Only a model with a
//                  half-space basement (bottom mode 2) has them; others give NaN entries, as do
//                  an index outside the table or the model and a period that is not positive.
// Each item is computed on its own, so the server may split the items among its workers in
// any way.
#ifndef VESK1_COMMON_SOUNDING_REQUEST_H
#define VESK1_COMMON_SOUNDING_REQUEST_H

#include <cstddef>
#include <cstdint>

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

enum RequestKind : int32_t { kSoundingRequest = 0, kSensitivityRequest = 1 };
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

}  // namespace vesk1::sounding

#endif  // VESK1_COMMON_SOUNDING_REQUEST_H
