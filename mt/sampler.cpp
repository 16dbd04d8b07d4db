#include "mt/sampler.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace vesk1::mt {
namespace {

// Bounds of a run.
constexpr int kMaxChains = 64, kMaxTemperatures = 16, kMaxWalkers = 256;
constexpr int kMaxThin = 4096;  // steps in one round: the most one request to an engine takes
constexpr long kMaxSteps = 100000000;
constexpr long long kMaxKeptSamples = 2000000;
constexpr double kMaxTemperature = 1e6;
// Widths start at this share of their prior's range and stay within [kLeastWidth, range].
constexpr double kStartWidthShare = 0.1;
constexpr double kLeastWidth = 1e-3;
// Burn-in tuning: every kTuneRounds rounds, the width of each rung's interface moves and of its
// resistivity changes is narrowed by kTuneFactor when fewer than kLeastAcceptance of them were
// accepted, and widened when more than kMostAcceptance were.
constexpr int kTuneRounds = 5;
constexpr double kLeastAcceptance = 0.25, kMostAcceptance = 1.0 / 3.0, kTuneFactor = 1.2;

// A born layer's value is drawn about the one it splits with the rung's change width, but never
// narrower than this share of the resistivity range: a layer born close to its neighbour's
// value changes the response little, and when its draw is narrow the acceptance's factor
// birthWidth sqrt(2 pi) / range makes births rare and deaths of distinct layers rarer still.
constexpr double kLeastBirthShare = 1.0 / 6.0;

float BirthWidth(float rhoWidth, double rhoRange) {
  return static_cast<float>(std::max(static_cast<double>(rhoWidth), kLeastBirthShare * rhoRange));
}

// The walkers of all ladders, which rung each stands on, and each rung's temperature and
// widths. Walker l * T + r starts on rung r of ladder l; exchanges move walkers between rungs,
// never between ladders.
class Ladders {
 public:
  Ladders(const SamplerPrior& prior, const SamplerOptions& options)
      : prior_(prior), chains_(options.chains), temperatures_(options.temperatures) {
    const double depthRange = prior.maxLog10Depth - prior.minLog10Depth;
    const double rhoRange = prior.maxLog10Rho - prior.minLog10Rho;
    for (int r = 0; r < temperatures_; ++r) {
      const double share = temperatures_ > 1 ? r / (temperatures_ - 1.0) : 0.0;
      RungWidths rung;
      rung.temperature = std::pow(options.hottest, share);
      rung.depthWidth = static_cast<float>(kStartWidthShare * depthRange);
      rung.rhoWidth = static_cast<float>(kStartWidthShare * rhoRange);
      rung.birthWidth = BirthWidth(rung.rhoWidth, rhoRange);
      rungs_.push_back(rung);
    }
    tallies_.resize(rungs_.size());
    walkers_.resize(static_cast<size_t>(chains_ * temperatures_));
    for (size_t w = 0; w < walkers_.size(); ++w) {
      walkers_[w].model.stream = static_cast<uint32_t>(w);
      rungOf_.push_back(static_cast<int>(w) % temperatures_);
      walkerAt_.push_back(static_cast<int>(w));
    }
  }

  std::vector<Walker>& walkers() { return walkers_; }
  const std::vector<RungWidths>& rungs() const { return rungs_; }
  int chains() const { return chains_; }

  // Gives every walker its rung's temperature and widths.
  void Dress() {
    for (size_t w = 0; w < walkers_.size(); ++w) {
      const RungWidths& rung = rungs_[static_cast<size_t>(rungOf_[w])];
      Walker& walker = walkers_[w];
      walker.beta = static_cast<float>(1.0 / rung.temperature);
      walker.depthWidth = rung.depthWidth;
      walker.rhoWidth = rung.rhoWidth;
      walker.birthWidth = rung.birthWidth;
    }
  }

  const Walker& At(int ladder, int rung) const {
    return walkers_[static_cast<size_t>(walkerAt_[Slot(ladder, rung)])];
  }

  // Adds the round's moves to the tallies of `cold` (the temperature-1 walkers') and of each
  // rung's tuning.
  void Count(MoveTally& cold) {
    for (size_t w = 0; w < walkers_.size(); ++w) {
      const int rung = rungOf_[w];
      for (int m = 0; m < kMoveKinds; ++m) {
        tallies_[static_cast<size_t>(rung)].proposed[m] += walkers_[w].proposed[m];
        tallies_[static_cast<size_t>(rung)].accepted[m] += walkers_[w].accepted[m];
        if (rung == 0) {
          cold.proposed[m] += walkers_[w].proposed[m];
          cold.accepted[m] += walkers_[w].accepted[m];
        }
      }
    }
  }

  // Each rung's move and change widths toward a quarter to a third accepted, from the moves
  // counted since the last tuning.
  void Tune() {
    const double depthRange = prior_.maxLog10Depth - prior_.minLog10Depth;
    const double rhoRange = prior_.maxLog10Rho - prior_.minLog10Rho;
    for (size_t r = 0; r < rungs_.size(); ++r) {
      RungWidths& rung = rungs_[r];
      rung.depthWidth = Tuned(rung.depthWidth, tallies_[r], kMove, depthRange);
      rung.rhoWidth = Tuned(rung.rhoWidth, tallies_[r], kChange, rhoRange);
      rung.birthWidth = BirthWidth(rung.rhoWidth, rhoRange);
      tallies_[r] = MoveTally{};
    }
  }

  // Offers the exchanges of round `round`: on every ladder the pairs of rungs (r, r + 1) with
  // r even in even rounds and odd in odd ones. Pair l * T + r draws from its own stream.
  void OfferSwaps(ChainEngine& engine, uint32_t round, long long& offered, long long& taken) {
    for (int ladder = 0; ladder < chains_; ++ladder) {
      for (int r = static_cast<int>(round % 2); r + 1 < temperatures_; r += 2) {
        const int a = walkerAt_[Slot(ladder, r)], b = walkerAt_[Slot(ladder, r + 1)];
        const Walker& lower = walkers_[static_cast<size_t>(a)];
        const Walker& upper = walkers_[static_cast<size_t>(b)];
        ++offered;
        if (engine.SwapAccepted(round, static_cast<uint32_t>(Slot(ladder, r)), lower.beta,
                                lower.misfit, upper.beta, upper.misfit)) {
          std::swap(walkerAt_[Slot(ladder, r)], walkerAt_[Slot(ladder, r + 1)]);
          rungOf_[static_cast<size_t>(a)] = r + 1;
          rungOf_[static_cast<size_t>(b)] = r;
          ++taken;
        }
      }
    }
  }

 private:
  size_t Slot(int ladder, int rung) const {
    return static_cast<size_t>(ladder * temperatures_ + rung);
  }

  static float Tuned(float width, const MoveTally& tally, SamplerMove kind, double range) {
    if (tally.proposed[kind] == 0) return width;
    const double rate =
        static_cast<double>(tally.accepted[kind]) / static_cast<double>(tally.proposed[kind]);
    double tuned = width;
    if (rate < kLeastAcceptance) tuned /= kTuneFactor;
    if (rate > kMostAcceptance) tuned *= kTuneFactor;
    return static_cast<float>(std::clamp(tuned, kLeastWidth, range));
  }

  SamplerPrior prior_;
  int chains_, temperatures_;
  std::vector<RungWidths> rungs_;
  std::vector<MoveTally> tallies_;  // per rung, since the last tuning
  std::vector<Walker> walkers_;
  std::vector<int> rungOf_;    // per walker, the rung it stands on
  std::vector<int> walkerAt_;  // per ladder and rung, the walker standing there
};

SampledEarth Sample(const Walker& walker) {
  SampledEarth s;
  const ChainModel& m = walker.model;
  s.step = m.step;
  s.misfit = walker.misfit;
  for (int j = 0; j + 1 < m.layers; ++j) {
    s.depth.push_back(std::pow(10.0, static_cast<double>(m.log10Depth[static_cast<size_t>(j)])));
  }
  for (int j = 0; j < m.layers; ++j) s.log10Rho.push_back(m.log10Rho[static_cast<size_t>(j)]);
  return s;
}

long Rounds(long steps, int thin) {
  return (steps + thin - 1) / thin;
}

}  // namespace

std::string CheckSampler(const SamplerProblem& problem, const SamplerOptions& o) {
  const SamplerPrior& p = problem.prior;
  auto finite = [](double v) { return std::isfinite(v); };
  if (p.maxLayers < 1 || p.maxLayers > kMaxLayers) return "the most layers must be 1 to 63";
  if (!finite(p.minLog10Depth) || !finite(p.maxLog10Depth) ||
      !(p.minLog10Depth < p.maxLog10Depth)) {
    return "the depth range must be two depths, the shallower first";
  }
  if (!finite(p.minLog10Rho) || !finite(p.maxLog10Rho) || !(p.minLog10Rho < p.maxLog10Rho)) {
    return "the resistivity range must be two resistivities, the lower first";
  }
  if (problem.periods.empty() || problem.data.value.size() != 2 * problem.periods.size() ||
      problem.data.error.size() != problem.data.value.size()) {
    return "the sounding has no used points";
  }
  if (o.chains < 1 || o.chains > kMaxChains) return "the chains must number 1 to 64";
  if (o.temperatures < 1 || o.temperatures > kMaxTemperatures) {
    return "the temperatures must number 1 to 16";
  }
  if (o.chains * o.temperatures > kMaxWalkers) return "chains x temperatures must be at most 256";
  if (!(o.hottest >= 1 && o.hottest <= kMaxTemperature)) {
    return "the hottest temperature must be 1 to 1e6";
  }
  if (o.thin < 1 || o.thin > kMaxThin) return "the thinning must be 1 to 4096 steps";
  if (o.steps < 1 || o.steps > kMaxSteps) return "the steps must number 1 to 100000000";
  if (o.burnIn < 0 || o.burnIn >= o.steps) return "the burn-in must be shorter than the steps";
  const long kept = Rounds(o.steps, o.thin) - Rounds(o.burnIn, o.thin);
  if (kept < 1) return "no samples would be kept: sample longer after the burn-in";
  if (static_cast<long long>(kept) * o.chains > kMaxKeptSamples) {
    return "more than 2000000 samples would be kept: thin more";
  }
  return "";
}

SamplerResult RunSampler(const SamplerProblem& problem, ChainEngine& engine,
                         const SamplerOptions& options,
                         const std::function<void(const SamplerProgress&)>& progress) {
  SamplerResult result;
  result.error = CheckSampler(problem, options);
  if (!result.error.empty() || !engine.SetProblem(problem, result.error)) return result;
  Ladders ladders(problem.prior, options);
  const long rounds = Rounds(options.steps, options.thin);
  const long burnInRounds = Rounds(options.burnIn, options.thin);
  SamplerProgress& state = result.last;
  state.stepsTotal = rounds * options.thin;
  state.bestMisfit = std::numeric_limits<double>::infinity();
  result.chains.resize(static_cast<size_t>(options.chains));
  for (long round = 0; round < rounds; ++round) {
    if (round == burnInRounds) {
      // The sampling starts: the widths stay as tuned, the tallies start afresh.
      state.burningIn = false;
      state.coldMoves = MoveTally{};
      state.swapsOffered = state.swapsTaken = 0;
    }
    ladders.Dress();
    std::vector<Walker>& walkers = ladders.walkers();
    if (!engine.Advance(walkers, options.thin, result.error)) return result;
    ladders.Count(state.coldMoves);
    for (const Walker& w : walkers) state.bestMisfit = std::min(state.bestMisfit, w.bestMisfit);
    if (state.burningIn) {
      if ((round + 1) % kTuneRounds == 0) ladders.Tune();
    } else {
      for (int ladder = 0; ladder < ladders.chains(); ++ladder) {
        result.chains[static_cast<size_t>(ladder)].push_back(Sample(ladders.At(ladder, 0)));
      }
    }
    ladders.OfferSwaps(engine, static_cast<uint32_t>(round), state.swapsOffered, state.swapsTaken);
    state.stepsDone = (round + 1) * options.thin;
    state.forwardRuns += static_cast<long long>(walkers.size()) * options.thin;
    if (progress) progress(state);
  }
  result.rungs = ladders.rungs();
  return result;
}

}  // namespace vesk1::mt
