#include "mt/occam.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>

#include "mt/format.h"

namespace vesk1::mt {
namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();
// Trial steps whose scaled system has a poorer condition estimate are refused.
constexpr double kMinRcond = 1e-12;
// A ridge of this share of each diagonal entry keeps every pivot away from zero, so the
// library never meets an exactly singular matrix (which it treats as fatal); a system that
// needs more than that still shows in the condition estimate and is refused.
constexpr double kRidge = 1e-13;
// Models are kept within these log10 resistivities, so every trial stays computable.
constexpr double kLowestLog10Rho = -3.0, kHighestLog10Rho = 7.0;
// The coarse sweep of the multiplier, from smooth to rough, in decades relative to
// trace((WJ)'WJ) / trace(R'R), one decade apart.
constexpr double kSweepHigh = 4.0, kSweepLow = -6.0, kSweepStep = 1.0;
// The least misfit: each round divides the spacing around the best trial so far by this, and
// tries the new points between it and its neighbours.
constexpr int kLeastDivisions = 3;
constexpr int kLeastRounds = 3;
// The largest multiplier that meets the target: each round tries this many points evenly
// between the smoothest trial that meets it and the next smoother one that does not, until
// the two lie closer than the resolution (decades).
constexpr int kCrossingPoints = 5;
constexpr double kCrossingResolution = 0.005;
// A misfit no more than this share above the target counts as at the target.
constexpr double kTargetTolerance = 0.001;
// Above the target, an iteration that lowers the misfit by less than this share of it shows
// that the target is out of reach.
constexpr double kStallShare = 0.01;
// At the target, the model has settled when its roughness changes by no more than this share
// (plus the floor, for the uniform start) in an iteration.
constexpr double kRoughnessSettled = 0.01, kRoughnessFloor = 1e-9;
// A step that fits worse than the model it started from, above the target, is halved toward
// that model at most this often.
constexpr int kShortenings = 4;

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

// The misfit the iterations aim at, and whether the one asked for proved out of reach.
struct Course {
  double target = 0;
  bool outOfReach = false;
  double least = 0;  // the least misfit reached, once out of reach
};

bool StartingModel(const FitData& data, int layers, double log10Rho, ForwardEngine& engine,
                   OccamResult& result);
bool ShortenStep(OccamStep& step, const OccamResult& current, double target, Trial& kept,
                 std::string& error);
bool Stalled(double before, double after);
void Accept(Trial& kept, std::vector<double>& jacobian, OccamResult& result);
bool Settled(const Course& course, double previousRms, double previousRoughness,
             const OccamResult& result);
bool AtTarget(double rms, double target);

}  // namespace

OccamResult RunOccam(const FitData& data, int layers, ForwardEngine& engine, LinearSolver& solver,
                     const OccamOptions& options,
                     const std::function<void(const IterationReport&)>& progress,
                     const std::function<void(const std::string&)>& note) {
  OccamResult result;
  result.error = FitDataProblem(data);
  if (!result.error.empty()) return result;
  if (!StartingModel(data, layers, options.startLog10Rho, engine, result)) return result;
  Course course{options.targetRms};

  for (int iteration = 1; iteration <= options.maxIterations; ++iteration) {
    IterationReport report;
    report.iteration = iteration;
    report.target = course.target;
    const auto iterationStart = std::chrono::steady_clock::now();
    std::vector<double> jacobian;
    if (!engine.Sensitivities(result.model, jacobian, result.error)) return result;
    report.sensitivitySeconds = Seconds(iterationStart);
    OccamStep step(data, result.model, result.response, jacobian, engine, solver, report, note);

    Trial kept;
    if (!SearchMultiplier(step, course.target, kept, result.error)) return result;
    if (!std::isfinite(kept.rms)) {
      note("no trial step of this iteration could be used; stopping");
      break;
    }
    if (kept.rms > course.target) {
      if (!ShortenStep(step, result, course.target, kept, result.error)) return result;
      if (!course.outOfReach && Stalled(result.rms, kept.rms)) {
        course.outOfReach = true;
        course.least = std::min(result.rms, kept.rms);
        course.target = course.least * (1 + kOutOfReachMargin);
        report.target = course.target;
        note(
            Printf("the target RMS %g is out of reach: the misfit stays at %.4f; smoothing at "
                   "RMS %.4f from here",
                   options.targetRms, course.least, course.target));
        if (!SearchMultiplier(step, course.target, kept, result.error)) return result;
      }
      if (kept.rms > course.target && kept.rms >= result.rms) {
        note("no step improves the misfit; stopping");
        break;
      }
    }
    const double previousRms = result.rms, previousRoughness = result.roughness;
    Accept(kept, jacobian, result);
    report.rms = result.rms;
    report.roughness = result.roughness;
    report.multiplier = step.MultiplierAt(kept.decades);
    report.seconds = Seconds(iterationStart);
    result.iterations.push_back(report);
    progress(report);
    if (Settled(course, previousRms, previousRoughness, result)) break;
  }
  result.reachedTarget = !course.outOfReach && AtTarget(result.rms, options.targetRms);
  if (course.outOfReach) {
    result.leastRms = course.least;
    result.smoothedAt = course.target;
  }
  return result;
}

OccamStep::OccamStep(const FitData& data, const std::vector<double>& model,
                     const std::vector<double>& response, const std::vector<double>& jacobian,
                     ForwardEngine& engine, LinearSolver& solver, IterationReport& report,
                     const std::function<void(const std::string&)>& note)
    : data_(data), engine_(engine), solver_(solver), report_(report), note_(note) {
  const size_t rows = data.value.size(), n = model.size();
  wtw_.assign(n * n, 0.0);
  wtd_.assign(n, 0.0);
  std::vector<double> wj(n);
  for (size_t i = 0; i < rows; ++i) {
    const double w = 1.0 / data.error[i];
    double jm = 0;
    for (size_t j = 0; j < n; ++j) {
      wj[j] = w * jacobian[i * n + j];
      jm += jacobian[i * n + j] * model[j];
    }
    const double wd = w * (data.value[i] - response[i] + jm);
    for (size_t j = 0; j < n; ++j) {
      wtd_[j] += wj[j] * wd;
      for (size_t k = 0; k <= j; ++k) wtw_[k * n + j] += wj[j] * wj[k];
    }
  }
  double trace = 0;
  for (size_t j = 0; j < n; ++j) {
    for (size_t k = 0; k < j; ++k) wtw_[j * n + k] = wtw_[k * n + j];
    trace += wtw_[j * n + j];
  }
  // trace(R'R) of the first differences is 2 (n - 1).
  scale_ = n > 1 && trace > 0 ? trace / (2.0 * static_cast<double>(n - 1)) : 1.0;
}

double OccamStep::MultiplierAt(double decades) const {
  return scale_ * std::pow(10.0, decades);
}

bool OccamStep::Evaluate(const std::vector<double>& decades, std::vector<Trial>& trials,
                         std::string& error) {
  const size_t first = trials.size();
  for (double d : decades) {
    Trial trial;
    trial.decades = d;
    if (!Solve(d, trial.model)) trial.model.clear();
    trials.push_back(std::move(trial));
  }
  std::vector<Trial*> solved;
  for (size_t k = first; k < trials.size(); ++k) {
    if (!trials[k].model.empty()) solved.push_back(&trials[k]);
  }
  return MeasureAll(solved, error);
}

bool OccamStep::Measure(Trial& trial, std::string& error) {
  std::vector<Trial*> one = {&trial};
  return MeasureAll(one, error);
}

// The model of (mu R'R + (WJ)'WJ) m = (WJ)' W d-hat, kept within the computable range; false
// (with a note) when the system is refused.
bool OccamStep::Solve(double decades, std::vector<double>& model) {
  const size_t n = wtd_.size();
  const double mu = MultiplierAt(decades);
  std::vector<double> a = wtw_;
  for (size_t j = 0; j < n; ++j) {
    // R'R of first differences: 1, 2, ..., 2, 1 on the diagonal, -1 beside it.
    a[j * n + j] += mu * (j == 0 || j == n - 1 ? (n == 1 ? 0.0 : 1.0) : 2.0);
    if (j + 1 < n) {
      a[j * n + j + 1] -= mu;
      a[(j + 1) * n + j] -= mu;
    }
  }
  for (size_t j = 0; j < n; ++j) a[j * n + j] *= 1.0 + kRidge;
  const auto solveStart = std::chrono::steady_clock::now();
  double rcond = 0;
  const bool solved = solver_.Solve(static_cast<int>(n), a, wtd_, kMinRcond, model, rcond);
  report_.solveSeconds += Seconds(solveStart);
  ++report_.solves;
  if (solved) {
    for (double& v : model) v = std::clamp(v, kLowestLog10Rho, kHighestLog10Rho);
    return true;
  }
  ++report_.illConditioned;
  note_(std::isnan(rcond)
            ? Printf("step at multiplier %.3g refused: its system holds a value that is not a "
                     "finite number",
                     mu)
            : Printf("ill-conditioned step at multiplier %.3g (reciprocal condition %.2g): "
                     "not used",
                     mu, rcond));
  return false;
}

bool OccamStep::MeasureAll(std::vector<Trial*>& trials, std::string& error) {
  if (trials.empty()) return true;
  std::vector<std::vector<double>> models, rho, phase;
  for (const Trial* t : trials) models.push_back(t->model);
  const auto start = std::chrono::steady_clock::now();
  const bool ok = engine_.ResponsesOfMany(models, rho, phase, error);
  report_.forwardSeconds += Seconds(start);
  report_.forwardRuns += static_cast<int>(trials.size());
  if (!ok) return false;
  for (size_t k = 0; k < trials.size(); ++k) {
    trials[k]->rms = RmsMisfit(data_, rho[k], phase[k]);
    trials[k]->response = std::move(rho[k]);
    trials[k]->response.insert(trials[k]->response.end(), phase[k].begin(), phase[k].end());
  }
  return true;
}

namespace {

std::vector<double> SweepDecades() {
  std::vector<double> decades;
  for (double d = kSweepHigh; d >= kSweepLow - kSweepStep / 2; d -= kSweepStep) {
    decades.push_back(d);
  }
  return decades;
}

// The trial of least misfit; of equal misfits the smoother.
size_t Least(const std::vector<Trial>& trials) {
  size_t best = 0;
  for (size_t k = 1; k < trials.size(); ++k) {
    const Trial& t = trials[k];
    if (t.rms < trials[best].rms ||
        (t.rms == trials[best].rms && t.decades > trials[best].decades)) {
      best = k;
    }
  }
  return best;
}

// Narrows the multiplier of least misfit around the best trial of the sweep.
bool RefineLeast(OccamStep& step, std::vector<Trial>& trials, std::string& error) {
  double spacing = kSweepStep;
  for (int round = 0; round < kLeastRounds; ++round) {
    const double centre = trials[Least(trials)].decades;
    spacing /= kLeastDivisions;
    std::vector<double> decades;
    for (int k = 1; k < kLeastDivisions; ++k) {
      decades.push_back(centre - k * spacing);
      decades.push_back(centre + k * spacing);
    }
    if (!step.Evaluate(decades, trials, error)) return false;
  }
  return true;
}

// The smoothest trial that meets the target (the largest multiplier); trials must hold one.
size_t SmoothestMeeting(const std::vector<Trial>& trials, double target) {
  size_t best = trials.size();
  for (size_t k = 0; k < trials.size(); ++k) {
    if (trials[k].rms <= target &&
        (best == trials.size() || trials[k].decades > trials[best].decades)) {
      best = k;
    }
  }
  return best;
}

// Narrows the largest multiplier that meets the target between the smoothest trial that meets
// it and the next smoother trial, which does not.
bool RefineCrossing(OccamStep& step, double target, std::vector<Trial>& trials,
                    std::string& error) {
  for (;;) {
    const double meets = trials[SmoothestMeeting(trials, target)].decades;
    double fails = kInfinity;
    for (const Trial& t : trials) {
      if (t.decades > meets) fails = std::min(fails, t.decades);
    }
    // Done too when no trial is smoother: the smoothest of the sweep meets the target.
    if (fails == kInfinity || fails - meets <= kCrossingResolution) return true;
    std::vector<double> decades;
    for (int k = 1; k <= kCrossingPoints; ++k) {
      decades.push_back(meets + (fails - meets) * k / (kCrossingPoints + 1));
    }
    if (!step.Evaluate(decades, trials, error)) return false;
  }
}

}  // namespace

bool SearchMultiplier(OccamStep& step, double target, Trial& kept, std::string& error) {
  std::vector<Trial> trials;
  if (!step.Evaluate(SweepDecades(), trials, error)) return false;
  if (trials[Least(trials)].rms > target && !RefineLeast(step, trials, error)) return false;
  if (trials[Least(trials)].rms > target) {
    kept = std::move(trials[Least(trials)]);
    return true;
  }
  if (!RefineCrossing(step, target, trials, error)) return false;
  kept = std::move(trials[SmoothestMeeting(trials, target)]);
  return true;
}

double MeanLog10Resistivity(const Sounding& sounding) {
  const std::vector<MeasuredPoint> used = UsedPoints(sounding);
  double sum = 0;
  for (const MeasuredPoint& p : used) sum += std::log10(p.resistivity);
  return used.empty() ? 0 : sum / static_cast<double>(used.size());
}

double Roughness(const std::vector<double>& model) {
  double sum = 0;
  for (size_t j = 1; j < model.size(); ++j) {
    sum += (model[j] - model[j - 1]) * (model[j] - model[j - 1]);
  }
  return sum;
}

std::string FitDataProblem(const FitData& data) {
  const size_t p = data.value.size() / 2;
  if (p == 0 || data.value.size() != 2 * p || data.error.size() != data.value.size()) {
    return "the sounding has no periods to fit";
  }
  for (size_t i = 0; i < 2 * p; ++i) {
    const std::string which = std::string(i < p ? "apparent resistivity" : "phase") +
                              " of period " + std::to_string(i % p + 1) + " of " +
                              std::to_string(p);
    if (!std::isfinite(data.value[i])) return "the " + which + " is not a finite number";
    if (!(data.error[i] > 0) || !std::isfinite(data.error[i])) {
      return "the error of the " + which + " is not a positive finite number";
    }
  }
  return "";
}

namespace {

// The uniform starting model, its response and misfit.
bool StartingModel(const FitData& data, int layers, double log10Rho, ForwardEngine& engine,
                   OccamResult& result) {
  result.model.assign(static_cast<size_t>(layers), log10Rho);
  std::vector<double> rho, phase;
  if (!engine.Responses(result.model, rho, phase, result.error)) return false;
  result.rms = RmsMisfit(data, rho, phase);
  result.response = std::move(rho);
  result.response.insert(result.response.end(), phase.begin(), phase.end());
  result.roughness = Roughness(result.model);
  return true;
}

// A step that fits worse than the model it started from, while above the target, is halved
// toward that model.
bool ShortenStep(OccamStep& step, const OccamResult& current, double target, Trial& kept,
                 std::string& error) {
  for (int k = 0; k < kShortenings && kept.rms > target && kept.rms >= current.rms; ++k) {
    Trial half;
    half.decades = kept.decades;
    for (size_t j = 0; j < current.model.size(); ++j) {
      half.model.push_back(0.5 * (current.model[j] + kept.model[j]));
    }
    if (!step.Measure(half, error)) return false;
    kept = std::move(half);
  }
  return true;
}

bool Stalled(double before, double after) {
  return after > before * (1 - kStallShare);
}

// The kept trial becomes the current model; its response was computed with it.
void Accept(Trial& kept, std::vector<double>& jacobian, OccamResult& result) {
  result.model = std::move(kept.model);
  result.response = std::move(kept.response);
  result.rms = kept.rms;
  result.roughness = Roughness(result.model);
  result.jacobian = std::move(jacobian);
}

// Done when the model stays at the misfit aimed at and no longer smooths out.
bool Settled(const Course& course, double previousRms, double previousRoughness,
             const OccamResult& result) {
  return AtTarget(result.rms, course.target) && AtTarget(previousRms, course.target) &&
         std::fabs(result.roughness - previousRoughness) <=
             kRoughnessSettled * previousRoughness + kRoughnessFloor;
}

bool AtTarget(double rms, double target) {
  return rms <= target * (1 + kTargetTolerance);
}

}  // namespace
}  // namespace vesk1::mt
