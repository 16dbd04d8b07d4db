// The model-batch request kind: several layered earths on one set of thicknesses, each at
// one set of periods, in one request (the layout is at the top of sounding.h). What the module
// computes for it, and what a client uses to build one and read its reply.
#pragma once

#include <vesk1/module.h>

#include <cstdint>
#include <span>

namespace vesk1::sounding {

// Where the parts of a model batch lie in the module block.
inline constexpr int kBatchHeaderSize = 16;
inline constexpr int kBatchMaxLayers = 128;

// The item word naming one model and one period of a batch, both counted from 0.
inline uint32_t ModelBatchItem(int model, int periodIndex) {
  return (static_cast<uint32_t>(model) << 16) | static_cast<uint32_t>(periodIndex);
}

// The most models one request carries with `layers` layers and `periods` periods when every
// model is asked at every period: bounded by the module block and by the reply's 255 entries.
// 0 when not even one fits or the counts are out of range.
int ModelBatchCapacity(int layers, int periods);

// Fills `request` with a batch of `modelCount` = log10Resistivity.size() / layers models
// (model m's log10 resistivities in ohm-metres at [m * layers, (m + 1) * layers), top down,
// half-space last), `thickness` (layers - 1 values, metres) and `periods` (seconds), and one
// item per model and period, model by model, so reply entry m * periods + i is model m at
// period i (a SoundingPoint). False, leaving `request` unspecified, when the models do not
// fit (see ModelBatchCapacity) or the sizes disagree.
bool BuildModelBatchRequest(std::span<const float> thickness, std::span<const float> periods,
                            std::span<const float> log10Resistivity, PipeRequest& request);

// The module's side: one entry per item of the share into `resultBuffer`.
void ComputeModelBatch(const PipeRequest& request, unsigned char* resultBuffer);

}  // namespace vesk1::sounding
