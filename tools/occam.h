// Occam's smooth one-dimensional inversion of a magnetotelluric sounding (Constable, Parker and
// Constable, 1987): the smoothest model of layer log-resistivities that fits the data to a
// target misfit. The forward responses and sensitivities come from a ForwardEngine (the server's
// workers, or the module's computation in this process); the linear systems are solved with
// vesk1_fdll's LU factorization with condition estimate.
#ifndef VESK1_TOOLS_OCCAM_H
#define VESK1_TOOLS_OCCAM_H

#include <functional>
#include <string>
#include <vector>

#include "measured_data.h"
#include "vesk1/fdll.h"

namespace vesk1::mt {

// Computes responses and sensitivities of layered earths with fixed thicknesses at fixed
// periods; models are log10 resistivities from the top down, the half-space last.
class ForwardEngine {
 public:
  virtual ~ForwardEngine() = default;
  // log10 of the apparent resistivity and the phase in degrees, one per period. False with
  // `error` set when the computation could not be done (not when a value is NaN).
  virtual bool Responses(const std::vector<double>& model, std::vector<double>& log10Rho,
                         std::vector<double>& phase, std::string& error) = 0;
  // The Jacobian, 2P rows by N columns, row-major: rows 0..P-1 d log10 rho_a / d m_j, rows
  // P..2P-1 d phase (degrees) / d m_j.
  virtual bool Sensitivities(const std::vector<double>& model, std::vector<double>& jacobian,
                             std::string& error) = 0;
};

// Thicknesses of the `layers` - 1 layers above the half-space, growing geometrically: the first
// `firstThickness` metres, the half-space's top at `bottomDepth` metres.
std::vector<double> GeometricThicknesses(int layers, double firstThickness, double bottomDepth);

// The mesh for a sounding: the first layer a fifth of the skin depth of the shortest period in
// the apparent resistivity measured there, the half-space below one and a half skin depths of
// the longest period.
std::vector<double> MeshForSounding(const Sounding& sounding, int layers);

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

// Data of a sounding as the inversion fits them: log10 rho_a then phases, with standard errors.
struct FitData {
  std::vector<double> value;
  std::vector<double> error;
};
FitData FitDataOf(const Sounding& sounding);

// sqrt(sum(((d - f) / sd)^2) / N) over the 2P data; infinite when a response is not finite.
double RmsMisfit(const FitData& data, const std::vector<double>& log10Rho,
                 const std::vector<double>& phase);

// Solves a x = b (n by n, column-major) with CDLFCRG after scaling a symmetrically by its
// diagonal. Returns false and leaves x alone when the estimate of the reciprocal condition
// number of the scaled matrix is below `minRcond`; `rcond` receives the estimate.
bool SolveWithCondition(CDLFCRG_Entry factor, int n, const std::vector<double>& a,
                        const std::vector<double>& b, double minRcond, std::vector<double>& x,
                        double& rcond);

// Runs the inversion. `progress` is called after each iteration; `note` with messages such as
// a refused ill-conditioned step.
OccamResult RunOccam(const FitData& data, int layers, ForwardEngine& engine, CDLFCRG_Entry factor,
                     const OccamOptions& options,
                     const std::function<void(const IterationReport&)>& progress,
                     const std::function<void(const std::string&)>& note);

}  // namespace vesk1::mt

#endif  // VESK1_TOOLS_OCCAM_H
