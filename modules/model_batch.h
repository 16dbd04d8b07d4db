// What the module computes for the model-batch kind (laid out in common/sounding_request.h):
// several layered earths on one set of thicknesses, each at one set of periods.
#pragma once

#include <vesk1/module.h>

namespace vesk1::sounding {

// One entry per item of the share into `resultBuffer`.
void ComputeModelBatch(const PipeRequest& request, unsigned char* resultBuffer);

}  // namespace vesk1::sounding
