// What the kept samples of a sampler run say: convergence (split-chain R-hat and effective
// sample size, Vehtari, Gelman, Simpson, Carpenter and Buerkner 2021), the points of log10
// resistivity at each depth, the depth of the most conductive layer, histograms of interface
// depths and layer counts, and the samples and quantiles as CSV.
#ifndef VESK1_MT_POSTERIOR_H
#define VESK1_MT_POSTERIOR_H

#include <array>
#include <string>
#include <vector>

#include "mt/sampler.h"

namespace vesk1::mt {

// A value of every kept sample, chain by chain (each chain in the order it was kept).
using ChainValues = std::vector<std::vector<double>>;

// The rank-normalised split-chain potential scale reduction: each chain cut into halves, all
// values replaced by the normal scores of their ranks (ties share their mean rank), and the
// larger of R-hat of these scores and of the scores of the values' distances from their median.
// 1 when every value is the same; NaN with fewer than 4 values in a chain, or chains of
// unequal lengths.
double SplitRhat(const ChainValues& chains);

// The bulk effective sample size: of the rank-normalised split chains, with the
// autocorrelations summed in pairs as long as the pairs are positive and decreasing (Geyer's
// initial monotone sequence). The number of values when every value is the same; NaN as for
// SplitRhat.
double EffectiveSampleSize(const ChainValues& chains);

// The misfit (chi^2) and the layer count of every kept sample.
ChainValues MisfitValues(const std::vector<std::vector<SampledEarth>>& chains);
ChainValues LayerCountValues(const std::vector<std::vector<SampledEarth>>& chains);

// The q-quantile (0..1) of values, linearly interpolated between the order statistics (the
// sample at (n - 1) q); NaN for no values. `values` is reordered.
double Quantile(std::vector<double>& values, double q);

// The probabilities of the points the posterior is described by, and its points at depths.
inline constexpr std::array<double, 5> kPosteriorPoints = {0.05, 0.16, 0.50, 0.84, 0.95};
struct DepthProfile {
  std::vector<double> depth;                    // metres
  std::vector<std::array<double, 5>> log10Rho;  // at kPosteriorPoints, per depth
};

// `count` depths spaced evenly in log10 from 10^minLog10 to 10^maxLog10 metres, both included.
std::vector<double> LogSpacedDepths(double minLog10, double maxLog10, int count);

// log10 resistivity of a sample at a depth (metres): that of the layer holding it, the upper
// one at an interface.
double Log10RhoAt(const SampledEarth& earth, double depth);

// The points of log10 resistivity over all samples at each of `depths`.
DepthProfile ProfileAt(const std::vector<const SampledEarth*>& samples,
                       const std::vector<double>& depths);

// All samples of all chains, chain by chain.
std::vector<const SampledEarth*> AllSamples(const std::vector<std::vector<SampledEarth>>& chains);

// The depth (metres) of the top of each sample's most conductive layer (0 for the first layer),
// and its median with the 5 % and 95 % points.
struct DepthInterval {
  double median = 0, low = 0, high = 0;
};
DepthInterval ConductorTop(const std::vector<const SampledEarth*>& samples);

// Counts in bins: `edges` (ascending, one more than the bins) of log10 depth for the interface
// depths of all samples; one bin per layer count 1..maxLayers.
std::vector<long> InterfaceHistogram(const std::vector<const SampledEarth*>& samples,
                                     const std::vector<double>& log10Edges);
std::vector<long> LayerCountHistogram(const std::vector<const SampledEarth*>& samples,
                                      int maxLayers);

// The posterior density of log10 resistivity against depth: for the middle of each depth bin,
// the share of the samples whose value there falls in each resistivity bin (values outside the
// edges count in no bin). Edges ascending, in log10 metres and log10 ohm-metres.
struct DensityImage {
  std::vector<double> log10DepthEdges, log10RhoEdges;
  std::vector<std::vector<double>> share;  // [depth bin][resistivity bin]
};
DensityImage DensityOf(const std::vector<const SampledEarth*>& samples,
                       const std::vector<double>& log10DepthEdges,
                       const std::vector<double>& log10RhoEdges);

// `count` edges spaced evenly from `low` to `high`, both included (count >= 2).
std::vector<double> EvenEdges(double low, double high, int count);

// At most `count` of the samples, spread evenly over them, the first and the last included.
std::vector<const SampledEarth*> EvenlySpread(const std::vector<const SampledEarth*>& samples,
                                              size_t count);

// The 5 %, 50 % and 95 % points, per period, of sampled earths' responses: log10 apparent
// resistivity and phase (degrees), [earth][period] as an engine gives them.
struct ResponseBand {
  std::vector<double> period;  // seconds
  std::vector<std::array<double, 3>> log10Rho, phase;
};
ResponseBand BandOf(const std::vector<double>& periods,
                    const std::vector<std::vector<double>>& log10Rho,
                    const std::vector<std::vector<double>>& phase);

// Above this split R-hat the chains are taken to disagree.
inline constexpr double kRhatWarning = 1.1;

// What a run's end reports, line by line: the split R-hat and effective sample size of the
// misfit and of the layer count (or that the chains are too short for them), a warning when
// an R-hat exceeds kRhatWarning, and the medians and 5-95 % intervals of the layer count and
// of the depth of the most conductive layer's top.
std::vector<std::string> PosteriorSummary(const std::vector<std::vector<SampledEarth>>& chains);

// "depth_m,p05_log10_rho,p16_log10_rho,p50_log10_rho,p84_log10_rho,p95_log10_rho" and one line
// per depth, values with six significant digits.
std::string ProfileCsv(const DepthProfile& profile);

// One line per kept sample: "chain,step,layers,chi_squared", then maxLayers - 1 columns of
// interface depths (metres) and maxLayers of resistivities (ohm-metres), those beyond the
// sample's k left empty.
std::string SamplesCsv(const std::vector<std::vector<SampledEarth>>& chains, int maxLayers);

}  // namespace vesk1::mt

#endif  // VESK1_MT_POSTERIOR_H
