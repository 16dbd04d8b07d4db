// Reversible-jump sampling of layered earths from one magnetotelluric sounding: the chain
// logic that the sampler's request kinds run in each worker (sampler_requests.h), and that a
// client may run in its own process with the same results.
//
// The model: k layers (1..maxLayers), the half-space the last; k - 1 interfaces at log10
// depths z, ascending, strictly inside (minLog10Depth, maxLog10Depth); each layer's log10
// resistivity v in [minLog10Rho, maxLog10Rho]. The prior: k uniform, the interfaces uniform and
// ordered ((k-1)! / dz^(k-1)), each v uniform (1 / dv).
// The likelihood: exp(-chi^2 / 2), chi^2 summed over the periods of (w (d - f))^2 in log10
// apparent resistivity and in phase (degrees), w the reciprocal standard error (0 leaves a
// value out); a chain at inverse temperature beta takes it to the power beta.
//
// One step draws one of four moves with equal probability:
//   birth   (k < max) a new interface uniform in depth splits the layer it falls in; the upper
//           part keeps v, the lower one takes v* = v + birthWidth g (g standard normal);
//           accepted with min(1, L'^beta / L^beta * birthWidth sqrt(2 pi) / dv * exp(g^2 / 2));
//   death   (k > 1) one of the k - 1 interfaces, chosen uniformly, goes; the layer below it goes
//           with it and the one above takes its room: the reverse of a birth, accepted with the
//           reciprocal factor;
//   move    (k > 1) one interface moves by depthWidth g and must stay between its neighbours;
//   change  one layer's v moves by rhoWidth g and must stay in range;
// move and change are accepted with min(1, (L'/L)^beta). A move that cannot be made (a birth
// at the most layers, a death or move with one layer, a proposal outside the prior) counts as
// proposed and rejected.
//
// A chain with 0 layers at step 0 first takes its start from the prior, drawn from its own
// stream. Random numbers come from the streams of common/philox.h, so a chain's path depends
// only on the seed, its number, its controls and the data: never on which worker runs it or
// how many steps one request carries. Values are kept in float32, as the requests carry them.
// The plain values (Prior, DataPoint, ChainState, ChainControls) are those of
// common/sampler_request.h.
#pragma once

#include <cstdint>
#include <span>

#include "common/sampler_request.h"
#include "response_engine.h"

namespace vesk1::sounding::sampler {

// The prior and the data prepared for the chains.
class Problem {
 public:
  // False, leaving the problem unusable, unless the prior is as Prior says, 1..kMaxPeriods
  // points are given, every period finite and positive, every value finite and every weight
  // finite and not negative. Without the likelihood the data are checked but never used.
  bool Set(const Prior& prior, std::span<const DataPoint> points, bool likelihood);

  const Prior& prior() const { return prior_; }
  bool likelihood() const { return likelihood_; }
  int periodCount() const { return periods_.count; }

  // chi^2 of an earth (0 without the likelihood); NaN when the earth cannot be computed.
  double ChiSquared(std::span<const float> log10Rho, std::span<const float> thickness) const;

 private:
  Prior prior_;
  bool likelihood_ = false;
  PeriodSet periods_;
  double log10Rho_[kMaxPeriods], log10RhoWeight_[kMaxPeriods];
  double phase_[kMaxPeriods], phaseWeight_[kMaxPeriods];
};

// What a run of steps did.
struct StepTally {
  uint32_t proposed[kMoveKinds] = {};
  uint32_t accepted[kMoveKinds] = {};
  double misfit = 0;      // chi^2 of the state after the steps
  double bestMisfit = 0;  // the least chi^2 of the states the chain passed through
};

// True when `state` is a model of the prior: 1 <= k <= maxLayers, interfaces ascending and
// strictly inside the depth range, values in range, all finite.
bool StateIsValid(const Prior& prior, const ChainState& state);
bool ControlsAreValid(const ChainControls& controls);

// A start drawn from the prior with the chain's own stream, at step 0.
ChainState DrawFromPrior(const Prior& prior, uint64_t seed, uint32_t chain);

// Takes `steps` steps of `state` (advancing state.step), first drawing its start from the
// prior when it has 0 layers at step 0, and tallies them. False, changing nothing, when the
// problem is not set, the state or controls are not valid, steps < 0, or the likelihood cannot
// be computed for the state.
bool AdvanceChain(const Problem& problem, uint64_t seed, const ChainControls& controls, int steps,
                  ChainState& state, StepTally& tally);

}  // namespace vesk1::sounding::sampler
