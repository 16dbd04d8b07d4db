#include "mt/posterior.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>

#include "mt/format.h"

namespace vesk1::mt {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInfinity = std::numeric_limits<double>::infinity();
constexpr double kSqrtTwo = 1.41421356237309504880;
constexpr double kSqrtTwoPi = 2.50662827463100050242;
// A chain's halves need at least two values each.
constexpr size_t kLeastChainLength = 4;
// Blom's offsets of the normal scores of ranks: (r - 3/8) / (S + 1/4).
constexpr double kRankOffset = 0.375, kCountOffset = 0.25;

// Each chain cut into its first and last halves (the middle value of an odd chain left out);
// empty when the chains are too short or unequal.
ChainValues SplitChains(const ChainValues& chains) {
  ChainValues halves;
  if (chains.empty()) return halves;
  const size_t n = chains.front().size();
  if (n < kLeastChainLength) return halves;
  for (const std::vector<double>& chain : chains) {
    if (chain.size() != n) return {};
    const size_t half = n / 2;
    halves.emplace_back(chain.begin(), chain.begin() + static_cast<std::ptrdiff_t>(half));
    halves.emplace_back(chain.end() - static_cast<std::ptrdiff_t>(half), chain.end());
  }
  return halves;
}

// The standard normal quantile of p in (0, 1): the rational start of Abramowitz and Stegun
// 26.2.23 (good to 4.5e-4), then Newton's steps on the distribution function.
double NormalQuantile(double p) {
  const double tail = std::min(p, 1.0 - p);
  const double t = std::sqrt(-2.0 * std::log(tail));
  double x = t - (2.515517 + t * (0.802853 + t * 0.010328)) /
                     (1.0 + t * (1.432788 + t * (0.189269 + t * 0.001308)));
  if (p < 0.5) x = -x;
  for (int step = 0; step < 3; ++step) {
    const double density = std::exp(-0.5 * x * x) / kSqrtTwoPi;
    x -= (0.5 * std::erfc(-x / kSqrtTwo) - p) / density;
  }
  return x;
}

// The values replaced by the normal scores of their ranks over all chains, ties sharing their
// mean rank.
ChainValues RankNormalised(const ChainValues& chains) {
  std::vector<std::pair<double, size_t>> order;
  for (size_t c = 0; c < chains.size(); ++c) {
    for (size_t i = 0; i < chains[c].size(); ++i) order.emplace_back(chains[c][i], order.size());
  }
  std::sort(order.begin(), order.end());
  const double count = static_cast<double>(order.size());
  std::vector<double> score(order.size());
  for (size_t first = 0; first < order.size();) {
    size_t last = first;
    while (last + 1 < order.size() && order[last + 1].first == order[first].first) ++last;
    const double rank = 0.5 * static_cast<double>(first + last) + 1.0;  // from 1
    const double z = NormalQuantile((rank - kRankOffset) / (count + kCountOffset));
    for (size_t k = first; k <= last; ++k) score[order[k].second] = z;
    first = last + 1;
  }
  ChainValues result = chains;
  size_t at = 0;
  for (std::vector<double>& chain : result) {
    for (double& v : chain) v = score[at++];
  }
  return result;
}

double Mean(const std::vector<double>& values) {
  return std::accumulate(values.begin(), values.end(), 0.0) / static_cast<double>(values.size());
}

// The mean within-chain variance W and the variance estimate var+ = (n - 1) / n W + B / n of
// equal-length chains.
void Variances(const ChainValues& chains, double& within, double& plus) {
  const double n = static_cast<double>(chains.front().size());
  const double m = static_cast<double>(chains.size());
  std::vector<double> means;
  within = 0;
  for (const std::vector<double>& chain : chains) {
    const double mean = Mean(chain);
    double sum = 0;
    for (double v : chain) sum += (v - mean) * (v - mean);
    within += sum / (n - 1.0);
    means.push_back(mean);
  }
  within /= m;
  const double grand = Mean(means);
  double between = 0;  // B / n: the variance of the chain means
  if (chains.size() > 1) {
    for (double mean : means) between += (mean - grand) * (mean - grand);
    between /= m - 1.0;
  }
  plus = (n - 1.0) / n * within + between;
}

double Rhat(const ChainValues& chains) {
  double within = 0, plus = 0;
  Variances(chains, within, plus);
  if (within == 0) return plus == 0 ? 1.0 : kInfinity;
  return std::sqrt(plus / within);
}

// The values' distances from their median over all chains.
ChainValues Folded(const ChainValues& chains) {
  std::vector<double> all;
  for (const std::vector<double>& chain : chains) all.insert(all.end(), chain.begin(), chain.end());
  const double median = Quantile(all, 0.5);
  ChainValues result = chains;
  for (std::vector<double>& chain : result) {
    for (double& v : chain) v = std::fabs(v - median);
  }
  return result;
}

// A chain's autocorrelation at `lag` times its variance: the sum of the lagged products about
// its mean over n - 1, so that at lag 0 it is the variance.
double Autocovariance(const std::vector<double>& chain, double mean, size_t lag) {
  double sum = 0;
  for (size_t i = 0; i + lag < chain.size(); ++i)
    sum += (chain[i] - mean) * (chain[i + lag] - mean);
  return sum / (static_cast<double>(chain.size()) - 1.0);
}

}  // namespace

double SplitRhat(const ChainValues& chains) {
  const ChainValues halves = SplitChains(chains);
  if (halves.empty()) return kNaN;
  return std::max(Rhat(RankNormalised(halves)), Rhat(RankNormalised(Folded(halves))));
}

double EffectiveSampleSize(const ChainValues& chains) {
  const ChainValues halves = SplitChains(chains);
  if (halves.empty()) return kNaN;
  const ChainValues z = RankNormalised(halves);
  const size_t n = z.front().size();
  const double total = static_cast<double>(n * z.size());
  double within = 0, plus = 0;
  Variances(z, within, plus);
  if (within == 0) return total;
  std::vector<double> means;
  for (const std::vector<double>& chain : z) means.push_back(Mean(chain));
  // rho(t) = 1 - (W - mean over chains of the autocovariance at t) / var+.
  auto correlation = [&](size_t lag) {
    double mean = 0;
    for (size_t c = 0; c < z.size(); ++c) mean += Autocovariance(z[c], means[c], lag);
    mean /= static_cast<double>(z.size());
    return 1.0 - (within - mean) / plus;
  };
  // Pairs rho(2k) + rho(2k+1) while positive, each at most the one before.
  double sum = 0, previous = kInfinity;
  for (size_t lag = 0; lag + 1 < n; lag += 2) {
    const double pair = std::min(correlation(lag) + correlation(lag + 1), previous);
    if (!(pair > 0)) break;
    sum += pair;
    previous = pair;
  }
  // Antithetic chains could claim more than total log10(total); the estimate is no better.
  const double tau = std::max(-1.0 + 2.0 * sum, 1.0 / std::log10(total));
  return total / tau;
}

ChainValues MisfitValues(const std::vector<std::vector<SampledEarth>>& chains) {
  ChainValues values;
  for (const std::vector<SampledEarth>& chain : chains) {
    values.emplace_back();
    for (const SampledEarth& s : chain) values.back().push_back(s.misfit);
  }
  return values;
}

ChainValues LayerCountValues(const std::vector<std::vector<SampledEarth>>& chains) {
  ChainValues values;
  for (const std::vector<SampledEarth>& chain : chains) {
    values.emplace_back();
    for (const SampledEarth& s : chain) {
      values.back().push_back(static_cast<double>(s.log10Rho.size()));
    }
  }
  return values;
}

double Quantile(std::vector<double>& values, double q) {
  if (values.empty()) return kNaN;
  const double h = (static_cast<double>(values.size()) - 1.0) * q;
  const auto below = static_cast<size_t>(std::floor(h));
  std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(below),
                   values.end());
  const double low = values[below];
  if (below + 1 >= values.size()) return low;
  const double high =
      *std::min_element(values.begin() + static_cast<std::ptrdiff_t>(below) + 1, values.end());
  return low + (h - static_cast<double>(below)) * (high - low);
}

std::vector<double> LogSpacedDepths(double minLog10, double maxLog10, int count) {
  std::vector<double> depths;
  for (int i = 0; i < count; ++i) {
    const double share = count > 1 ? i / (count - 1.0) : 0.0;
    depths.push_back(std::pow(10.0, minLog10 + (maxLog10 - minLog10) * share));
  }
  return depths;
}

double Log10RhoAt(const SampledEarth& earth, double depth) {
  size_t layer = 0;
  while (layer < earth.depth.size() && earth.depth[layer] < depth) ++layer;
  return earth.log10Rho[layer];
}

DepthProfile ProfileAt(const std::vector<const SampledEarth*>& samples,
                       const std::vector<double>& depths) {
  DepthProfile profile;
  profile.depth = depths;
  std::vector<double> values(samples.size());
  for (double depth : depths) {
    for (size_t s = 0; s < samples.size(); ++s) values[s] = Log10RhoAt(*samples[s], depth);
    std::array<double, 5> points{};
    for (size_t k = 0; k < points.size(); ++k) points[k] = Quantile(values, kPosteriorPoints[k]);
    profile.log10Rho.push_back(points);
  }
  return profile;
}

std::vector<const SampledEarth*> AllSamples(const std::vector<std::vector<SampledEarth>>& chains) {
  std::vector<const SampledEarth*> all;
  for (const std::vector<SampledEarth>& chain : chains) {
    for (const SampledEarth& s : chain) all.push_back(&s);
  }
  return all;
}

DepthInterval ConductorTop(const std::vector<const SampledEarth*>& samples) {
  std::vector<double> tops;
  for (const SampledEarth* s : samples) {
    const auto lowest = static_cast<size_t>(
        std::min_element(s->log10Rho.begin(), s->log10Rho.end()) - s->log10Rho.begin());
    tops.push_back(lowest == 0 ? 0.0 : s->depth[lowest - 1]);
  }
  DepthInterval interval;
  interval.median = Quantile(tops, 0.5);
  interval.low = Quantile(tops, 0.05);
  interval.high = Quantile(tops, 0.95);
  return interval;
}

std::vector<long> InterfaceHistogram(const std::vector<const SampledEarth*>& samples,
                                     const std::vector<double>& log10Edges) {
  std::vector<long> counts(log10Edges.size() > 1 ? log10Edges.size() - 1 : 0, 0);
  for (const SampledEarth* s : samples) {
    for (double depth : s->depth) {
      const double z = std::log10(depth);
      const auto above = std::upper_bound(log10Edges.begin(), log10Edges.end(), z);
      if (above == log10Edges.begin() || above == log10Edges.end()) continue;
      ++counts[static_cast<size_t>(above - log10Edges.begin() - 1)];
    }
  }
  return counts;
}

std::vector<long> LayerCountHistogram(const std::vector<const SampledEarth*>& samples,
                                      int maxLayers) {
  std::vector<long> counts(static_cast<size_t>(std::max(maxLayers, 0)), 0);
  for (const SampledEarth* s : samples) {
    const size_t k = s->log10Rho.size();
    if (k >= 1 && k <= counts.size()) ++counts[k - 1];
  }
  return counts;
}

DensityImage DensityOf(const std::vector<const SampledEarth*>& samples,
                       const std::vector<double>& log10DepthEdges,
                       const std::vector<double>& log10RhoEdges) {
  DensityImage image{log10DepthEdges, log10RhoEdges, {}};
  if (log10DepthEdges.size() < 2 || log10RhoEdges.size() < 2 || samples.empty()) return image;
  const double weight = 1.0 / static_cast<double>(samples.size());
  for (size_t d = 0; d + 1 < log10DepthEdges.size(); ++d) {
    const double depth = std::pow(10.0, 0.5 * (log10DepthEdges[d] + log10DepthEdges[d + 1]));
    std::vector<double> row(log10RhoEdges.size() - 1, 0.0);
    for (const SampledEarth* s : samples) {
      const double v = Log10RhoAt(*s, depth);
      const auto above = std::upper_bound(log10RhoEdges.begin(), log10RhoEdges.end(), v);
      if (above == log10RhoEdges.begin() || above == log10RhoEdges.end()) continue;
      row[static_cast<size_t>(above - log10RhoEdges.begin() - 1)] += weight;
    }
    image.share.push_back(row);
  }
  return image;
}

std::vector<double> EvenEdges(double low, double high, int count) {
  std::vector<double> edges;
  for (int i = 0; i < count; ++i) edges.push_back(low + (high - low) * i / (count - 1.0));
  return edges;
}

std::vector<const SampledEarth*> EvenlySpread(const std::vector<const SampledEarth*>& samples,
                                              size_t count) {
  if (samples.size() <= count) return samples;
  if (count < 2) return std::vector<const SampledEarth*>(samples.begin(), samples.begin() + count);
  std::vector<const SampledEarth*> picked;
  for (size_t k = 0; k < count; ++k) {
    picked.push_back(samples[k * (samples.size() - 1) / (count - 1)]);
  }
  return picked;
}

ResponseBand BandOf(const std::vector<double>& periods,
                    const std::vector<std::vector<double>>& log10Rho,
                    const std::vector<std::vector<double>>& phase) {
  ResponseBand band;
  band.period = periods;
  std::vector<double> values;
  auto points = [&](const std::vector<std::vector<double>>& curves, size_t i) {
    values.clear();
    for (const std::vector<double>& c : curves) {
      if (i < c.size() && std::isfinite(c[i])) values.push_back(c[i]);
    }
    return std::array<double, 3>{Quantile(values, 0.05), Quantile(values, 0.5),
                                 Quantile(values, 0.95)};
  };
  for (size_t i = 0; i < periods.size(); ++i) {
    band.log10Rho.push_back(points(log10Rho, i));
    band.phase.push_back(points(phase, i));
  }
  return band;
}

std::vector<std::string> PosteriorSummary(const std::vector<std::vector<SampledEarth>>& chains) {
  std::vector<std::string> lines;
  if (chains.empty() || chains.front().empty()) return {"no samples kept"};
  const ChainValues misfit = MisfitValues(chains);
  const ChainValues layers = LayerCountValues(chains);
  const std::vector<const SampledEarth*> all = AllSamples(chains);
  const double rhatMisfit = SplitRhat(misfit), rhatLayers = SplitRhat(layers);
  if (std::isnan(rhatMisfit) || std::isnan(rhatLayers)) {
    lines.push_back(Printf("too few samples per chain (%.0f) for R-hat: keep at least 4",
                           static_cast<double>(chains.front().size())));
  } else {
    lines.push_back(Printf("R-hat: misfit %.3f, layers %.3f", rhatMisfit, rhatLayers));
    lines.push_back(Printf("effective sample size: misfit %.0f, layers %.0f, of %.0f samples",
                           EffectiveSampleSize(misfit), EffectiveSampleSize(layers),
                           static_cast<double>(all.size())));
    if (rhatMisfit > kRhatWarning || rhatLayers > kRhatWarning) {
      lines.push_back(Printf("warning: R-hat above %.1f, the chains disagree:", kRhatWarning));
      lines.push_back("sample longer, or with more temperatures");
    }
  }
  std::vector<double> counts;
  for (const SampledEarth* s : all) counts.push_back(static_cast<double>(s->log10Rho.size()));
  const double median = Quantile(counts, 0.5), low = Quantile(counts, 0.05);
  const double high = Quantile(counts, 0.95);
  lines.push_back(Printf("layers: median %g, 5-95 %% %g to %g", median, low, high));
  const DepthInterval top = ConductorTop(all);
  lines.push_back(Printf("most conductive layer's top: median %.4g m, 5-95 %% %.4g to %.4g m",
                         top.median, top.low, top.high));
  return lines;
}

std::string ProfileCsv(const DepthProfile& profile) {
  std::string csv =
      "depth_m,p05_log10_rho,p16_log10_rho,p50_log10_rho,p84_log10_rho,p95_log10_rho\n";
  for (size_t i = 0; i < profile.depth.size(); ++i) {
    const std::array<double, 5>& p = profile.log10Rho[i];
    csv +=
        Printf("%.6g,%.6g,%.6g,%.6g,%.6g,%.6g\n", profile.depth[i], p[0], p[1], p[2], p[3], p[4]);
  }
  return csv;
}

std::string SamplesCsv(const std::vector<std::vector<SampledEarth>>& chains, int maxLayers) {
  std::string csv = "chain,step,layers,chi_squared";
  for (int j = 1; j < maxLayers; ++j) csv += Printf(",depth_%.0f_m", j);
  for (int j = 1; j <= maxLayers; ++j) csv += Printf(",rho_%.0f_ohm_m", j);
  csv += "\n";
  for (size_t c = 0; c < chains.size(); ++c) {
    for (const SampledEarth& s : chains[c]) {
      csv += Printf("%.0f,%.0f,%.0f,%.6g", static_cast<double>(c), s.step,
                    static_cast<double>(s.log10Rho.size()), s.misfit);
      for (int j = 0; j + 1 < maxLayers; ++j) {
        csv += j < static_cast<int>(s.depth.size()) ? Printf(",%.6g", s.depth[j]) : ",";
      }
      for (int j = 0; j < maxLayers; ++j) {
        csv += j < static_cast<int>(s.log10Rho.size())
                   ? Printf(",%.6g", std::pow(10.0, s.log10Rho[j]))
                   : ",";
      }
      csv += "\n";
    }
  }
  return csv;
}

}  // namespace vesk1::mt
