// Occam's smooth one-dimensional inversion of a magnetotelluric sounding (Constable, Parker and
// Constable, 1987): the smoothest model of layer log-resistivities that fits the data to a
// target misfit. The forward responses and sensitivities come from a ForwardEngine and the
// linear systems are solved by a LinearSolver, both given by the caller.
#ifndef VESK1_MT_OCCAM_H
#define VESK1_MT_OCCAM_H

#include <functional>
#include <string>
#include <vector>

#include "mt/forward.h"
#include "mt/misfit.h"

namespace vesk1::mt {

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
  double seconds = 0;     // wall time of the whole iteration
  double forwardSeconds = 0;
  double sensitivitySeconds = 0;
  double solveSeconds = 0;
  int forwardRuns = 0;
  int solves = 0;
  int illConditioned = 0;  // trial steps refused for a poor condition estimate
};

struct OccamResult {
  std::vector<double> model;  // log10 resistivities, half-space last
  double rms = 0;
  double roughness = 0;
  bool reachedTarget = false;
  std::string error;  // empty unless the engine failed
  std::vector<IterationReport> iterations;
};

// Runs the inversion. `progress` is called after each iteration; `note` with messages such as
// a refused ill-conditioned step.
OccamResult RunOccam(const FitData& data, int layers, ForwardEngine& engine, LinearSolver& solver,
                     const OccamOptions& options,
                     const std::function<void(const IterationReport&)>& progress,
                     const std::function<void(const std::string&)>& note);

}  // namespace vesk1::mt

#endif  // VESK1_MT_OCCAM_H
