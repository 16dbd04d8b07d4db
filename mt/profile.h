// The inversion of a profile: the soundings of many stations along a line, each station a
// layered earth on one mesh, inverted together with lateral constraints (Auken and
// Christiansen, 2004) on Occam's iterations. The roughness adds to each station's vertical
// first differences the differences of the same layer between neighbouring stations, weighted
// by W and by how close the two stations stand; Occam's multiplier search and target work on
// the misfit of all data. The normal equations are block tridiagonal (each station's (WJ)'WJ a
// diagonal block, the lateral differences tying neighbours' blocks by multiples of the
// identity), so each step eliminates station by station, every block factored by the caller's
// solver with its condition estimate. With W = 0 nothing ties the stations: each gets its own
// Occam inversion, multiplier and target.
#ifndef VESK1_MT_PROFILE_H
#define VESK1_MT_PROFILE_H

#include <cstddef>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "mt/forward.h"
#include "mt/misfit.h"
#include "mt/occam.h"

namespace vesk1::mt {

// Stations closer than this share of the mean spacing are tied as if they stood that far apart.
inline constexpr double kClosestSpacingShare = 0.1;

// The station of a progress report or note that concerns all stations together.
inline constexpr size_t kAllStations = std::numeric_limits<size_t>::max();

struct ProfileOptions {
  OccamOptions occam;                 // the target, the iterations; startLog10Rho is not used
  std::vector<double> startLog10Rho;  // the uniform starting model of each station
  double lateralWeight = 1;           // W
};

struct ProfileResult {
  // Each station's model, response, last sensitivities and misfit (model, response, jacobian
  // and rms); with W = 0 its whole inversion.
  std::vector<OccamResult> stations;
  // With W > 0 the joint inversion: all stations' models one after another, its iterations,
  // the misfit of all data, the target reached or found out of reach. With W = 0 only the
  // misfit of all data, whether every station reached the target, and any error.
  OccamResult joint;
};

// Inverts the stations' data at positions `distance` (metres along the line, ascending) on a
// mesh of `layers` layers, as the engine computes it. `progress` gets each iteration of the
// joint inversion (station kAllStations) or, with W = 0, of each station's own; `note` the
// notes of either.
ProfileResult RunProfile(const std::vector<FitData>& data, const std::vector<double>& distance,
                         int layers, StationsEngine& engine, LinearSolver& solver,
                         const ProfileOptions& options,
                         const std::function<void(size_t, const IterationReport&)>& progress,
                         const std::function<void(size_t, const std::string&)>& note);

// The weights W^2 s / d of the lateral differences between neighbouring stations at
// `distance` (ascending), d the distance between the two (at least kClosestSpacingShare of
// the mean spacing s), so that the roughness approximates W^2 s times the integral of the
// squared lateral gradient; all W^2 when the stations stand in one place.
std::vector<double> LateralWeights(const std::vector<double>& distance, double weight);

// Sum of the squared vertical differences of each station's model (`layers` values each, one
// station after another) and of the lateral differences weighted by `lateral`.
double ProfileRoughness(const std::vector<double>& model, size_t layers,
                        const std::vector<double>& lateral);

// The RMS misfit of all data of all stations, from each station's misfit and data.
double JointRms(const std::vector<FitData>& data, const std::vector<double>& stationRms);

// One station of a StationsEngine as a ForwardEngine.
class StationEngine : public ForwardEngine {
 public:
  StationEngine(StationsEngine& all, size_t station) : all_(all), station_(station) {}
  bool Responses(const std::vector<double>& model, std::vector<double>& log10Rho,
                 std::vector<double>& phase, std::string& error) override;
  bool Sensitivities(const std::vector<double>& model, std::vector<double>& jacobian,
                     std::string& error) override;
  bool ResponsesOfMany(const std::vector<std::vector<double>>& models,
                       std::vector<std::vector<double>>& log10Rho,
                       std::vector<std::vector<double>>& phase, std::string& error) override;

 private:
  StationsEngine& all_;
  size_t station_;
};

// One iteration of the joint inversion: the block tridiagonal system and its trial models.
class ProfileStep : public MultiplierStep {
 public:
  // `model`, `response` and `jacobians` of each station as OccamStep takes them for one;
  // `lateral` from LateralWeights.
  ProfileStep(const std::vector<FitData>& data, const std::vector<std::vector<double>>& model,
              const std::vector<std::vector<double>>& response,
              const std::vector<std::vector<double>>& jacobians,
              const std::vector<double>& lateral, StationsEngine& engine, LinearSolver& solver,
              IterationReport& report, const std::function<void(const std::string&)>& note);

  double MultiplierAt(double decades) const override;
  bool Evaluate(const std::vector<double>& decades, std::vector<Trial>& trials,
                std::string& error) override;
  bool Measure(Trial& trial, std::string& error) override;

  // The model of (mu R'R + (WJ)'WJ) m = (WJ)' W d-hat, all stations one after another,
  // unclamped; false when a block is refused, `rcond` then the solver's estimate of it,
  // otherwise the least estimate of all blocks.
  bool SolveJoint(double mu, std::vector<double>& model, double& rcond);

 private:
  bool MeasureAll(std::vector<Trial*>& trials, std::string& error);

  const std::vector<FitData>& data_;
  const std::vector<double>& lateral_;
  StationsEngine& engine_;
  LinearSolver& solver_;
  IterationReport& report_;
  const std::function<void(const std::string&)>& note_;
  size_t layers_ = 0;
  std::vector<std::vector<double>> wtw_;  // each station's (WJ)'WJ, column-major
  std::vector<std::vector<double>> wtd_;  // each station's (WJ)' W d-hat
  double scale_ = 1;
};

}  // namespace vesk1::mt

#endif  // VESK1_MT_PROFILE_H
