// Occam's smooth one-dimensional inversion of a magnetotelluric sounding (Constable, Parker and
// Constable, 1987): the smoothest model of layer log-resistivities that fits the data to a
// target misfit. The forward responses and sensitivities come from a ForwardEngine and the
// linear systems are solved by a LinearSolver, both given by the caller.
//
// Each iteration linearises the forward model at the current model m_k and solves
// (mu R'R + (WJ)'WJ) m = (WJ)' W (d - F(m_k) + J m_k) for trial multipliers mu. While no trial
// meets the target the model of least misfit is kept; once one does, the smoothest model that
// meets it (the largest mu). When the misfit stops falling above the target, the target is out
// of reach: the least misfit reached, plus kOutOfReachMargin of it, becomes the misfit the
// inversion smooths at from then on.
#ifndef VESK1_MT_OCCAM_H
#define VESK1_MT_OCCAM_H

#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "mt/forward.h"
#include "mt/misfit.h"
#include "mt/sounding.h"

namespace vesk1::mt {

// The share above the least misfit reached at which the inversion smooths when the target
// cannot be reached.
inline constexpr double kOutOfReachMargin = 0.02;

struct OccamOptions {
  double targetRms = 1.0;
  int maxIterations = 30;
  double startLog10Rho = 2.0;  // the uniform starting model
};

struct IterationReport {
  int iteration = 0;
  double rms = 0;         // misfit of the model kept
  double roughness = 0;   // sum of squared differences of neighbouring log10 resistivities
  double multiplier = 0;  // the Lagrange multiplier of the model kept
  double target = 0;      // the misfit this iteration aimed at
  double seconds = 0;     // wall time of the whole iteration
  double forwardSeconds = 0;
  double sensitivitySeconds = 0;
  double solveSeconds = 0;
  int forwardRuns = 0;  // models whose responses were computed
  int solves = 0;
  int illConditioned = 0;  // trial steps refused for a poor condition estimate
};

struct OccamResult {
  std::vector<double> model;     // log10 resistivities, half-space last
  std::vector<double> response;  // the model's log10 apparent resistivities, then its phases
  // The sensitivities of the last iteration (taken at the model it started from), as
  // ForwardEngine::Sensitivities gives them; empty when no iteration kept a model.
  std::vector<double> jacobian;
  double rms = 0;
  double roughness = 0;
  bool reachedTarget = false;
  // When the target proved out of reach: the least misfit reached, and the misfit the model
  // kept was smoothed at (that plus kOutOfReachMargin of it). Zero otherwise.
  double leastRms = 0;
  double smoothedAt = 0;
  std::string error;  // empty unless the data were unusable or the engine failed
  std::vector<IterationReport> iterations;
};

// Runs the inversion. `progress` is called after each iteration; `note` with messages such as
// a refused ill-conditioned step or the target found out of reach.
OccamResult RunOccam(const FitData& data, int layers, ForwardEngine& engine, LinearSolver& solver,
                     const OccamOptions& options,
                     const std::function<void(const IterationReport&)>& progress,
                     const std::function<void(const std::string&)>& note);

// A trial model of one iteration, for one multiplier.
struct Trial {
  double decades = 0;  // log10 of the multiplier over the step's scale (MultiplierAt)
  std::vector<double> model;
  std::vector<double> response;  // log10 apparent resistivities, then phases
  double rms = std::numeric_limits<double>::infinity();  // infinite when refused or not finite
};

// One iteration's problem linearised at the model m_k, as the multiplier search sees it: the
// trial models of (mu R'R + (WJ)'WJ) m = (WJ)' W (d - F(m_k) + J m_k) for trial multipliers mu
// and their misfits. OccamStep is the one of a single sounding; a profile has its own.
class MultiplierStep {
 public:
  virtual ~MultiplierStep() = default;
  // The multiplier `decades` decades above the step's scale, trace((WJ)'WJ) / trace(R'R).
  virtual double MultiplierAt(double decades) const = 0;
  // Appends the trial models of the multipliers at `decades`, their responses computed
  // together; a refused system gives a trial of infinite misfit. False with `error` set when
  // the engine failed.
  virtual bool Evaluate(const std::vector<double>& decades, std::vector<Trial>& trials,
                        std::string& error) = 0;
  // Computes the response and misfit of a model set in `trial.model`.
  virtual bool Measure(Trial& trial, std::string& error) = 0;
};

// What Occam's iterations work on: the data, the forward engine and the roughness of one
// sounding (RunOccam), or of many stations at once.
class OccamProblem {
 public:
  virtual ~OccamProblem() = default;
  // Sets the starting model in `result` with its response, misfit and roughness; false with
  // result.error set when the engine failed.
  virtual bool Start(OccamResult& result) = 0;
  // The sensitivities at `current.model` (into `jacobian`, their time into `report`) and the
  // step linearised there; null with `error` set when the engine failed.
  virtual std::unique_ptr<MultiplierStep> Linearise(
      const OccamResult& current, std::vector<double>& jacobian, IterationReport& report,
      const std::function<void(const std::string&)>& note, std::string& error) = 0;
  // The roughness the iterations minimise.
  virtual double Roughness(const std::vector<double>& model) const = 0;
};

// Occam's iterations on a problem: the multiplier search in every step, the target found out of
// reach when the misfit stops falling above it, and the end once the model at the target no
// longer smooths out. `progress` and `note` as for RunOccam.
OccamResult RunOccamIterations(OccamProblem& problem, const OccamOptions& options,
                               const std::function<void(const IterationReport&)>& progress,
                               const std::function<void(const std::string&)>& note);

// Trial steps whose scaled system has a poorer condition estimate are refused.
inline constexpr double kMinRcond = 1e-12;
// A ridge of this share of each diagonal entry keeps every pivot away from zero, so the
// library never meets an exactly singular matrix (which it treats as fatal); a system that
// needs more than that still shows in the condition estimate and is refused.
inline constexpr double kRidge = 1e-13;
// Models are kept within these log10 resistivities, so every trial stays computable.
inline constexpr double kLowestLog10Rho = -3.0, kHighestLog10Rho = 7.0;

// The normal equations of one sounding's data linearised at `model`: (WJ)'WJ (n by n, both
// triangles) and (WJ)' W (d - F(m_k) + J m_k), W the reciprocal standard errors; `response`
// and `jacobian` as OccamStep takes them.
void NormalEquations(const FitData& data, const std::vector<double>& model,
                     const std::vector<double>& response, const std::vector<double>& jacobian,
                     std::vector<double>& wtw, std::vector<double>& wtd);

// The note of a trial system refused at multiplier `mu` with the solver's `rcond`.
std::string RefusedStepNote(double mu, double rcond);

// One sounding's step.
class OccamStep : public MultiplierStep {
 public:
  // `response` is F(m_k) (log10 apparent resistivities, then phases), `jacobian` as
  // ForwardEngine::Sensitivities gives it; the times and counts of the work go to `report`.
  OccamStep(const FitData& data, const std::vector<double>& model,
            const std::vector<double>& response, const std::vector<double>& jacobian,
            ForwardEngine& engine, LinearSolver& solver, IterationReport& report,
            const std::function<void(const std::string&)>& note);

  double MultiplierAt(double decades) const override;
  bool Evaluate(const std::vector<double>& decades, std::vector<Trial>& trials,
                std::string& error) override;
  bool Measure(Trial& trial, std::string& error) override;

 private:
  bool Solve(double decades, std::vector<double>& model);
  bool MeasureAll(std::vector<Trial*>& trials, std::string& error);

  const FitData& data_;
  ForwardEngine& engine_;
  LinearSolver& solver_;
  IterationReport& report_;
  const std::function<void(const std::string&)>& note_;
  std::vector<double> wtw_;  // (WJ)'WJ, column-major
  std::vector<double> wtd_;  // (WJ)' W (d - F(m_k) + J m_k)
  double scale_ = 1;
};

// The trial an iteration keeps: the largest multiplier whose model meets `target`, or, when no
// trial does, the least misfit. False with `error` set when the engine failed.
bool SearchMultiplier(MultiplierStep& step, double target, Trial& kept, std::string& error);

// The uniform starting model an inversion of `sounding` takes by default: the mean of the log10
// apparent resistivities of its used points (their geometric mean).
double MeanLog10Resistivity(const Sounding& sounding);

// Sum of the squared differences of neighbouring values: the roughness Occam minimises.
double Roughness(const std::vector<double>& model);

// Empty when every datum is a finite number with a positive finite error; otherwise what is
// wrong with the first that is not.
std::string FitDataProblem(const FitData& data);

}  // namespace vesk1::mt

#endif  // VESK1_MT_OCCAM_H
