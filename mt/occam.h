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
  double decades = 0;  // log10 of the multiplier over the step's scale (OccamStep::MultiplierAt)
  std::vector<double> model;
  std::vector<double> response;  // log10 apparent resistivities, then phases
  double rms = std::numeric_limits<double>::infinity();  // infinite when refused or not finite
};

// One iteration's linear problem at the model m_k and its trial models.
class OccamStep {
 public:
  // `response` is F(m_k) (log10 apparent resistivities, then phases), `jacobian` as
  // ForwardEngine::Sensitivities gives it; the times and counts of the work go to `report`.
  OccamStep(const FitData& data, const std::vector<double>& model,
            const std::vector<double>& response, const std::vector<double>& jacobian,
            ForwardEngine& engine, LinearSolver& solver, IterationReport& report,
            const std::function<void(const std::string&)>& note);

  // The multiplier `decades` decades above trace((WJ)'WJ) / trace(R'R).
  double MultiplierAt(double decades) const;

  // Appends the trial models of the multipliers at `decades`, their responses computed
  // together. False with `error` set when the engine failed.
  bool Evaluate(const std::vector<double>& decades, std::vector<Trial>& trials, std::string& error);
  // Computes the response and misfit of a model set in `trial.model`.
  bool Measure(Trial& trial, std::string& error);

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
bool SearchMultiplier(OccamStep& step, double target, Trial& kept, std::string& error);

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
