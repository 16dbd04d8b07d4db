// The figure of a sampler run, as SVG: the posterior of log10 resistivity against depth as a
// density image with its median and 5 % and 95 % curves, models drawn over it; beside it the
// histograms of interface depths and of the number of layers; below, the data with error bars
// and the 5-95 % band of the sampled models' responses. The conventions are those of the other
// figures (mt/svg.h).
#ifndef VESK1_MT_POSTERIOR_FIGURE_H
#define VESK1_MT_POSTERIOR_FIGURE_H

#include <string>
#include <vector>

#include "mt/figures.h"
#include "mt/posterior.h"

namespace vesk1::mt {

// The colour of the posterior in every panel: its density, its curves, its histograms and the
// band of its responses.
inline constexpr const char* kPosteriorColour = "#6a3d9a";

struct PosteriorPlot {
  std::string title;
  std::string note;                    // a line under the title
  std::vector<std::string> summary;    // lines printed under the layer-count histogram
  DensityImage density;                // its edges set the depth and resistivity axes
  DepthProfile profile;                // the 5, 50 and 95 % curves are drawn
  std::vector<DepthModel> models;      // drawn over the density (an Occam model, the true one)
  std::vector<double> interfaceShare;  // interfaces per sample in each depth bin of `density`
  std::vector<double> layerShare;      // share of the samples with 1, 2, ... layers
  std::vector<MeasuredMark> data;
  ResponseBand band;
};

std::string FormatPosteriorSvg(const PosteriorPlot& plot);

}  // namespace vesk1::mt

#endif  // VESK1_MT_POSTERIOR_FIGURE_H
