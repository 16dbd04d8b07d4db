// How deep a sounding sees, from the sensitivities of its inversion: the depth above which the
// layers hold a given share of the data's error-weighted sensitivity, summed from the top (the
// cumulative sensitivity of Christiansen and Auken, 2012). Below it the model says little:
// whatever it shows there comes from the smoothing, not from the data.
#ifndef VESK1_MT_INVESTIGATION_H
#define VESK1_MT_INVESTIGATION_H

#include <vector>

#include "mt/misfit.h"

namespace vesk1::mt {

// The share of the summed sensitivity the depth of investigation holds above it by default.
inline constexpr double kInvestigationShare = 0.9;

struct Investigation {
  double depth = 0;        // metres; NaN when the data are sensitive to no layer
  bool belowMesh = false;  // the share is reached only in the half-space: depth is its top
};

// With s_j = sum_i |J_ij| / e_i, the sensitivity of all data to layer j (e_i the standard
// errors of `data`, J as ForwardEngine::Sensitivities gives it, the half-space the last of the
// thickness.size() + 1 columns): the depth where s_0 + s_1 + ..., running from the top, reaches
// `share` of the sum over all layers, linear in depth within the layer where it does.
Investigation DepthOfInvestigation(const FitData& data, const std::vector<double>& jacobian,
                                   const std::vector<double>& thickness, double share);

}  // namespace vesk1::mt

#endif  // VESK1_MT_INVESTIGATION_H
