#include "sampler.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "common/philox.h"

namespace vesk1::sounding::sampler {
namespace {

constexpr double kTwoPi = 6.28318530717958647693;
constexpr double kSqrtTwoPi = 2.50662827463100050242;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Box and Muller's transform of two words.
double Gaussian(uint32_t a, uint32_t b) {
  return std::sqrt(-2.0 * std::log(UniformOf(a))) * std::cos(kTwoPi * UniformOf(b));
}

// An index in 0..count-1 from a uniform number.
int Pick(double u, int count) {
  return std::min(static_cast<int>(u * count), count - 1);
}

bool InRange(float v, float low, float high) {
  return v >= low && v <= high;  // NaN is in no range
}

double Misfit(const Problem& problem, const ChainState& s) {
  if (!problem.likelihood()) return 0.0;
  float thickness[kMaxLayers];
  double above = 0.0;
  for (int j = 0; j + 1 < s.layers; ++j) {
    const double depth = std::pow(10.0, static_cast<double>(s.log10Depth[j]));
    thickness[j] = static_cast<float>(depth - above);
    above = depth;
  }
  return problem.ChiSquared({s.log10Rho, static_cast<size_t>(s.layers)},
                            {thickness, static_cast<size_t>(s.layers - 1)});
}

// The proposed state of one move from `from`, and the log of the move's prior-and-proposal
// ratio (everything in the acceptance but the likelihood). False when the move cannot be made.
// Entries past the counts are left 0.
bool Propose(MoveKind kind, const Prior& p, const ChainControls& c, double pick, double g,
             const ChainState& from, ChainState& to, double& logRatio) {
  const int k = from.layers;
  const double birthNorm =
      std::log(c.birthWidth * kSqrtTwoPi / (static_cast<double>(p.maxLog10Rho) - p.minLog10Rho));
  to = from;
  logRatio = 0.0;
  switch (kind) {
    case kBirth: {
      if (k >= p.maxLayers) return false;
      const auto z = static_cast<float>(
          p.minLog10Depth + (static_cast<double>(p.maxLog10Depth) - p.minLog10Depth) * pick);
      if (!(z > p.minLog10Depth && z < p.maxLog10Depth)) return false;
      int i = 0;  // the new interface's index, and the layer it splits
      while (i < k - 1 && from.log10Depth[i] < z) ++i;
      if (i < k - 1 && from.log10Depth[i] == z) return false;
      const auto v = static_cast<float>(from.log10Rho[i] + static_cast<double>(c.birthWidth) * g);
      if (!InRange(v, p.minLog10Rho, p.maxLog10Rho)) return false;
      for (int j = k - 1; j > i; --j) to.log10Depth[j] = from.log10Depth[j - 1];
      to.log10Depth[i] = z;
      for (int j = k; j > i + 1; --j) to.log10Rho[j] = from.log10Rho[j - 1];
      to.log10Rho[i + 1] = v;
      to.layers = k + 1;
      const double d = (static_cast<double>(v) - from.log10Rho[i]) / c.birthWidth;
      logRatio = birthNorm + 0.5 * d * d;
      return true;
    }
    case kDeath: {
      if (k <= 1) return false;
      const int j = Pick(pick, k - 1);
      for (int m = j; m + 1 < k - 1; ++m) to.log10Depth[m] = from.log10Depth[m + 1];
      to.log10Depth[k - 2] = 0.0f;
      for (int m = j + 1; m + 1 < k; ++m) to.log10Rho[m] = from.log10Rho[m + 1];
      to.log10Rho[k - 1] = 0.0f;
      to.layers = k - 1;
      const double d =
          (static_cast<double>(from.log10Rho[j + 1]) - from.log10Rho[j]) / c.birthWidth;
      logRatio = -birthNorm - 0.5 * d * d;
      return true;
    }
    case kMove: {
      if (k <= 1) return false;
      const int j = Pick(pick, k - 1);
      const auto z = static_cast<float>(from.log10Depth[j] + static_cast<double>(c.depthWidth) * g);
      const float lower = j > 0 ? from.log10Depth[j - 1] : p.minLog10Depth;
      const float upper = j < k - 2 ? from.log10Depth[j + 1] : p.maxLog10Depth;
      if (!(z > lower && z < upper)) return false;
      to.log10Depth[j] = z;
      return true;
    }
    case kChange:
    default: {
      const int i = Pick(pick, k);
      const auto v = static_cast<float>(from.log10Rho[i] + static_cast<double>(c.rhoWidth) * g);
      if (!InRange(v, p.minLog10Rho, p.maxLog10Rho)) return false;
      to.log10Rho[i] = v;
      return true;
    }
  }
}

// The k - 1 interfaces ascending and strictly inside the depth range.
bool DepthsAreValid(const Prior& p, const ChainState& s) {
  float above = p.minLog10Depth;
  for (int j = 0; j + 1 < s.layers; ++j) {
    if (!(s.log10Depth[j] > above)) return false;
    above = s.log10Depth[j];
  }
  return above < p.maxLog10Depth;
}

bool PriorIsValid(const Prior& p) {
  return p.maxLayers >= 1 && p.maxLayers <= kMaxLayers && std::isfinite(p.minLog10Depth) &&
         std::isfinite(p.maxLog10Depth) && p.minLog10Depth < p.maxLog10Depth &&
         std::isfinite(p.minLog10Rho) && std::isfinite(p.maxLog10Rho) &&
         p.minLog10Rho < p.maxLog10Rho && std::fabs(p.minLog10Rho) <= kEngineMaxLog10Resistivity &&
         std::fabs(p.maxLog10Rho) <= kEngineMaxLog10Resistivity;
}

}  // namespace

bool Problem::Set(const Prior& prior, std::span<const DataPoint> points, bool likelihood) {
  periods_.count = 0;
  const auto n = static_cast<int>(points.size());
  if (!PriorIsValid(prior) || n < 1 || n > kMaxPeriods) return false;
  float periods[kMaxPeriods];
  for (int i = 0; i < n; ++i) {
    const DataPoint& d = points[static_cast<size_t>(i)];
    if (!std::isfinite(d.log10Rho) || !std::isfinite(d.phase) ||
        !(d.log10RhoWeight >= 0.0f && std::isfinite(d.log10RhoWeight)) ||
        !(d.phaseWeight >= 0.0f && std::isfinite(d.phaseWeight))) {
      return false;
    }
    periods[i] = d.period;
    log10Rho_[i] = d.log10Rho;
    log10RhoWeight_[i] = d.log10RhoWeight;
    phase_[i] = d.phase;
    phaseWeight_[i] = d.phaseWeight;
  }
  if (!PeriodSetOf({periods, static_cast<size_t>(n)}, periods_)) return false;
  prior_ = prior;
  likelihood_ = likelihood;
  return true;
}

double Problem::ChiSquared(std::span<const float> log10Rho,
                           std::span<const float> thickness) const {
  if (!likelihood_) return 0.0;
  LayeredEarth earth;
  if (periods_.count == 0 || !EarthFromLog10Resistivity(log10Rho, thickness, earth)) return kNaN;
  ResponseSet r;
  ComputeResponses(earth, periods_, ResistivityForm::kLog10, r);
  double sum = 0.0;
  for (int i = 0; i < periods_.count; ++i) {
    const double a = log10RhoWeight_[i] * (log10Rho_[i] - r.resistivity[i]);
    const double b = phaseWeight_[i] * (phase_[i] - r.phase[i]);
    sum += a * a + b * b;
  }
  return sum;
}

bool StateIsValid(const Prior& prior, const ChainState& s) {
  if (!PriorIsValid(prior) || s.layers < 1 || s.layers > prior.maxLayers) return false;
  if (!DepthsAreValid(prior, s)) return false;
  for (int j = 0; j < s.layers; ++j) {
    if (!InRange(s.log10Rho[j], prior.minLog10Rho, prior.maxLog10Rho)) return false;
  }
  return true;
}

bool ControlsAreValid(const ChainControls& c) {
  auto positive = [](float w) { return w > 0.0f && std::isfinite(w); };
  return c.beta >= 0.0f && c.beta <= 1.0f && positive(c.depthWidth) && positive(c.rhoWidth) &&
         positive(c.birthWidth);
}

ChainState DrawFromPrior(const Prior& p, uint64_t seed, uint32_t chain) {
  ChainState s;
  s.chain = chain;
  if (!PriorIsValid(p)) return s;
  uint32_t block = 0, words[4];
  int used = 4;
  auto next = [&] {
    if (used == 4) {
      DrawWords(seed, block++, chain, kStartDraws, words);
      used = 0;
    }
    return UniformOf(words[used++]);
  };
  s.layers = 1 + Pick(next(), p.maxLayers);
  const double depthRange = static_cast<double>(p.maxLog10Depth) - p.minLog10Depth;
  // Sorted uniform draws have the ordered prior's density; a draw that rounds onto a bound or
  // onto another is drawn again, a null set of the continuous prior.
  for (bool distinct = false; !distinct;) {
    for (int j = 0; j + 1 < s.layers; ++j) {
      s.log10Depth[j] = static_cast<float>(p.minLog10Depth + depthRange * next());
    }
    std::sort(s.log10Depth, s.log10Depth + (s.layers - 1));
    distinct = DepthsAreValid(p, s);
  }
  const double rhoRange = static_cast<double>(p.maxLog10Rho) - p.minLog10Rho;
  for (int j = 0; j < s.layers; ++j) {
    s.log10Rho[j] = static_cast<float>(p.minLog10Rho + rhoRange * next());
  }
  return s;
}

bool AdvanceChain(const Problem& problem, uint64_t seed, const ChainControls& controls, int steps,
                  ChainState& state, StepTally& tally) {
  const Prior& p = problem.prior();
  if (problem.periodCount() == 0 || steps < 0 || !ControlsAreValid(controls)) return false;
  const ChainState given = state;
  if (state.layers == 0 && state.step == 0) state = DrawFromPrior(p, seed, state.chain);
  if (!StateIsValid(p, state)) {
    state = given;
    return false;
  }
  double misfit = Misfit(problem, state);
  if (!std::isfinite(misfit)) {
    state = given;
    return false;
  }
  tally = StepTally{};
  tally.bestMisfit = misfit;
  ChainState proposal;
  for (int s = 0; s < steps; ++s, ++state.step) {
    uint32_t w[8];
    DrawWords(seed, state.step, state.chain, kStepDraws, w);
    DrawWords(seed, state.step, state.chain, kMoreStepDraws, w + 4);
    const auto kind = static_cast<MoveKind>(w[0] >> 30);
    ++tally.proposed[kind];
    double logRatio;
    if (!Propose(kind, p, controls, UniformOf(w[1]), Gaussian(w[2], w[3]), state, proposal,
                 logRatio)) {
      continue;
    }
    const double proposedMisfit = Misfit(problem, proposal);
    if (!std::isfinite(proposedMisfit)) continue;
    const double logAcceptance = logRatio - 0.5 * controls.beta * (proposedMisfit - misfit);
    if (std::log(UniformOf(w[4])) < logAcceptance) {
      state = proposal;
      misfit = proposedMisfit;
      ++tally.accepted[kind];
      tally.bestMisfit = std::min(tally.bestMisfit, misfit);
    }
  }
  tally.misfit = misfit;
  return true;
}

}  // namespace vesk1::sounding::sampler
