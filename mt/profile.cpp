#include "mt/profile.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <memory>

namespace vesk1::mt {
namespace {

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

std::vector<size_t> AllStations(size_t count) {
  std::vector<size_t> stations(count);
  for (size_t s = 0; s < count; ++s) stations[s] = s;
  return stations;
}

// Station s's part of a vector holding every station's `size` values one after another.
std::vector<double> Part(const std::vector<double>& all, size_t s, size_t size) {
  return {all.begin() + static_cast<std::ptrdiff_t>(s * size),
          all.begin() + static_cast<std::ptrdiff_t>((s + 1) * size)};
}

// Each station's responses, log10 apparent resistivities then phases, one after another, and
// their misfit over all data.
double JoinResponses(const std::vector<FitData>& data, std::vector<std::vector<double>>& rho,
                     std::vector<std::vector<double>>& phase, std::vector<double>& joined) {
  std::vector<double> rms;
  joined.clear();
  for (size_t s = 0; s < data.size(); ++s) {
    rms.push_back(RmsMisfit(data[s], rho[s], phase[s]));
    joined.insert(joined.end(), rho[s].begin(), rho[s].end());
    joined.insert(joined.end(), phase[s].begin(), phase[s].end());
  }
  return JointRms(data, rms);
}

// All stations at once: one model of `layers` values per station, one after another.
class JointProblem : public OccamProblem {
 public:
  JointProblem(const std::vector<FitData>& data, size_t layers,
               const std::vector<double>& startLog10Rho, const std::vector<double>& lateral,
               StationsEngine& engine, LinearSolver& solver)
      : data_(data),
        layers_(layers),
        start_(startLog10Rho),
        lateral_(lateral),
        engine_(engine),
        solver_(solver) {}

  bool Start(OccamResult& result) override {
    std::vector<std::vector<double>> models, rho, phase;
    for (double start : start_) models.emplace_back(layers_, start);
    if (!engine_.Responses(AllStations(data_.size()), models, rho, phase, result.error)) {
      return false;
    }
    result.model.clear();
    for (const auto& m : models) result.model.insert(result.model.end(), m.begin(), m.end());
    result.rms = JoinResponses(data_, rho, phase, result.response);
    result.roughness = Roughness(result.model);
    return true;
  }

  std::unique_ptr<MultiplierStep> Linearise(const OccamResult& current,
                                            std::vector<double>& jacobian,
                                            IterationReport& report,
                                            const std::function<void(const std::string&)>& note,
                                            std::string& error) override {
    std::vector<std::vector<double>> models, responses, jacobians;
    size_t at = 0;
    for (size_t s = 0; s < data_.size(); ++s) {
      models.push_back(Part(current.model, s, layers_));
      const size_t size = data_[s].value.size();
      responses.emplace_back(current.response.begin() + static_cast<std::ptrdiff_t>(at),
                             current.response.begin() + static_cast<std::ptrdiff_t>(at + size));
      at += size;
    }
    const auto start = std::chrono::steady_clock::now();
    if (!engine_.Sensitivities(AllStations(data_.size()), models, jacobians, error)) {
      return nullptr;
    }
    report.sensitivitySeconds = Seconds(start);
    jacobian.clear();
    for (const auto& j : jacobians) jacobian.insert(jacobian.end(), j.begin(), j.end());
    return std::make_unique<ProfileStep>(data_, models, responses, jacobians, lateral_, engine_,
                                         solver_, report, note);
  }

  double Roughness(const std::vector<double>& model) const override {
    return ProfileRoughness(model, layers_, lateral_);
  }

 private:
  const std::vector<FitData>& data_;
  size_t layers_;
  const std::vector<double>& start_;
  const std::vector<double>& lateral_;
  StationsEngine& engine_;
  LinearSolver& solver_;
};

// The joint result taken apart into each station's model, response, sensitivities and misfit.
std::vector<OccamResult> StationsOf(const std::vector<FitData>& data, size_t layers,
                                    const OccamResult& joint) {
  std::vector<OccamResult> stations(data.size());
  size_t at = 0, jacobianAt = 0;
  for (size_t s = 0; s < data.size(); ++s) {
    OccamResult& r = stations[s];
    r.model = Part(joint.model, s, layers);
    const size_t size = data[s].value.size(), p = size / 2;
    r.response.assign(joint.response.begin() + static_cast<std::ptrdiff_t>(at),
                      joint.response.begin() + static_cast<std::ptrdiff_t>(at + size));
    at += size;
    if (joint.jacobian.size() >= jacobianAt + size * layers) {
      r.jacobian.assign(joint.jacobian.begin() + static_cast<std::ptrdiff_t>(jacobianAt),
                        joint.jacobian.begin() +
                            static_cast<std::ptrdiff_t>(jacobianAt + size * layers));
    }
    jacobianAt += size * layers;
    r.rms = RmsMisfit(data[s], std::vector<double>(r.response.begin(), r.response.begin() + p),
                      std::vector<double>(r.response.begin() + p, r.response.end()));
    r.roughness = Roughness(r.model);
  }
  return stations;
}

}  // namespace

ProfileResult RunProfile(const std::vector<FitData>& data, const std::vector<double>& distance,
                         int layers, StationsEngine& engine, LinearSolver& solver,
                         const ProfileOptions& options,
                         const std::function<void(size_t, const IterationReport&)>& progress,
                         const std::function<void(size_t, const std::string&)>& note) {
  ProfileResult result;
  for (size_t s = 0; s < data.size(); ++s) {
    if (const std::string problem = FitDataProblem(data[s]); !problem.empty()) {
      result.joint.error = "station " + std::to_string(s + 1) + ": " + problem;
      return result;
    }
  }
  if (data.empty() || distance.size() != data.size() ||
      options.startLog10Rho.size() != data.size() || layers < 1) {
    result.joint.error = "the profile's stations, positions and starting models disagree";
    return result;
  }
  if (options.lateralWeight == 0) {
    std::vector<double> rms;
    result.joint.reachedTarget = true;
    for (size_t s = 0; s < data.size(); ++s) {
      StationEngine one(engine, s);
      OccamOptions own = options.occam;
      own.startLog10Rho = options.startLog10Rho[s];
      result.stations.push_back(RunOccam(
          data[s], layers, one, solver, own,
          [&](const IterationReport& r) { progress(s, r); },
          [&](const std::string& text) { note(s, text); }));
      const OccamResult& r = result.stations.back();
      if (!r.error.empty()) {
        result.joint.error = r.error;
        return result;
      }
      rms.push_back(r.rms);
      result.joint.reachedTarget = result.joint.reachedTarget && r.reachedTarget;
    }
    result.joint.rms = JointRms(data, rms);
    return result;
  }
  const std::vector<double> lateral = LateralWeights(distance, options.lateralWeight);
  JointProblem problem(data, static_cast<size_t>(layers), options.startLog10Rho, lateral, engine,
                       solver);
  result.joint = RunOccamIterations(
      problem, options.occam, [&](const IterationReport& r) { progress(kAllStations, r); },
      [&](const std::string& text) { note(kAllStations, text); });
  if (result.joint.error.empty()) {
    result.stations = StationsOf(data, static_cast<size_t>(layers), result.joint);
  }
  return result;
}

std::vector<double> LateralWeights(const std::vector<double>& distance, double weight) {
  std::vector<double> lateral;
  if (distance.size() < 2) return lateral;
  const double mean = (distance.back() - distance.front()) / static_cast<double>(distance.size() - 1);
  for (size_t g = 0; g + 1 < distance.size(); ++g) {
    const double gap = distance[g + 1] - distance[g];
    lateral.push_back(weight * weight *
                      (mean > 0 ? mean / std::max(gap, kClosestSpacingShare * mean) : 1.0));
  }
  return lateral;
}

double ProfileRoughness(const std::vector<double>& model, size_t layers,
                        const std::vector<double>& lateral) {
  if (layers == 0) return 0;
  const size_t stations = model.size() / layers;
  double sum = 0;
  for (size_t s = 0; s < stations; ++s) sum += Roughness(Part(model, s, layers));
  for (size_t s = 0; s + 1 < stations && s < lateral.size(); ++s) {
    for (size_t j = 0; j < layers; ++j) {
      const double d = model[(s + 1) * layers + j] - model[s * layers + j];
      sum += lateral[s] * d * d;
    }
  }
  return sum;
}

double JointRms(const std::vector<FitData>& data, const std::vector<double>& stationRms) {
  double sum = 0, count = 0;
  for (size_t s = 0; s < data.size() && s < stationRms.size(); ++s) {
    const double n = static_cast<double>(data[s].value.size());
    sum += n * stationRms[s] * stationRms[s];
    count += n;
  }
  return count > 0 ? std::sqrt(sum / count) : std::numeric_limits<double>::infinity();
}

bool StationEngine::Responses(const std::vector<double>& model, std::vector<double>& log10Rho,
                              std::vector<double>& phase, std::string& error) {
  std::vector<std::vector<double>> rho, phs;
  if (!all_.Responses({station_}, {model}, rho, phs, error)) return false;
  log10Rho = std::move(rho[0]);
  phase = std::move(phs[0]);
  return true;
}

bool StationEngine::Sensitivities(const std::vector<double>& model, std::vector<double>& jacobian,
                                  std::string& error) {
  std::vector<std::vector<double>> jacobians;
  if (!all_.Sensitivities({station_}, {model}, jacobians, error)) return false;
  jacobian = std::move(jacobians[0]);
  return true;
}

bool StationEngine::ResponsesOfMany(const std::vector<std::vector<double>>& models,
                                    std::vector<std::vector<double>>& log10Rho,
                                    std::vector<std::vector<double>>& phase, std::string& error) {
  return all_.Responses(std::vector<size_t>(models.size(), station_), models, log10Rho, phase,
                        error);
}

ProfileStep::ProfileStep(const std::vector<FitData>& data,
                         const std::vector<std::vector<double>>& model,
                         const std::vector<std::vector<double>>& response,
                         const std::vector<std::vector<double>>& jacobians,
                         const std::vector<double>& lateral, StationsEngine& engine,
                         LinearSolver& solver, IterationReport& report,
                         const std::function<void(const std::string&)>& note)
    : data_(data),
      lateral_(lateral),
      engine_(engine),
      solver_(solver),
      report_(report),
      note_(note),
      layers_(model.empty() ? 0 : model[0].size()) {
  const size_t n = layers_, stations = data.size();
  wtw_.resize(stations);
  wtd_.resize(stations);
  double trace = 0;
  for (size_t s = 0; s < stations; ++s) {
    NormalEquations(data[s], model[s], response[s], jacobians[s], wtw_[s], wtd_[s]);
    for (size_t j = 0; j < n; ++j) trace += wtw_[s][j * n + j];
  }
  // trace(R'R): 2 (n - 1) for each station's first differences, 2 n w for each pair of
  // neighbours tied with weight w.
  double roughTrace = 2.0 * static_cast<double>(stations) * static_cast<double>(n - 1);
  for (double w : lateral) roughTrace += 2.0 * static_cast<double>(n) * w;
  scale_ = roughTrace > 0 && trace > 0 ? trace / roughTrace : 1.0;
}

double ProfileStep::MultiplierAt(double decades) const {
  return scale_ * std::pow(10.0, decades);
}

// Block elimination from the first station to the last. With D_s the diagonal blocks and
// b_s = -mu w_s the multiple of the identity tying stations s and s + 1, the pivot blocks are
// P_0 = D_0, P_s = D_s - b_{s-1}^2 P_{s-1}^-1 and the right-hand sides y_s = g_s - b_{s-1}
// P_{s-1}^-1 y_{s-1}; then m_last = P_last^-1 y_last and m_s = P_s^-1 y_s - b_s P_s^-1 m_{s+1}.
// The system is symmetric positive definite, so no pivoting across blocks is needed and no
// pivot block is worse conditioned than the whole.
bool ProfileStep::SolveJoint(double mu, std::vector<double>& model, double& rcond) {
  const size_t n = layers_, stations = wtw_.size();
  const int order = static_cast<int>(n);
  std::vector<double> inverses(stations * n * n), solved(stations * n);  // P_s^-1, P_s^-1 y_s
  std::vector<double> a, rhs, x;
  rcond = std::numeric_limits<double>::infinity();
  for (size_t s = 0; s < stations; ++s) {
    const double before = s > 0 ? mu * lateral_[s - 1] : 0;  // -b_{s-1}
    const double after = s + 1 < stations ? mu * lateral_[s] : 0;
    a = wtw_[s];
    for (size_t j = 0; j < n; ++j) {
      // R'R of first differences: 1, 2, ..., 2, 1 on the diagonal, -1 beside it; the lateral
      // differences add their weights to the diagonal.
      a[j * n + j] += mu * (j == 0 || j == n - 1 ? (n == 1 ? 0.0 : 1.0) : 2.0) + before + after;
      if (j + 1 < n) {
        a[j * n + j + 1] -= mu;
        a[(j + 1) * n + j] -= mu;
      }
    }
    for (size_t j = 0; j < n; ++j) a[j * n + j] *= 1.0 + kRidge;
    const bool last = s + 1 == stations;
    rhs.assign(last ? n : n * (n + 1), 0.0);
    for (size_t j = 0; j < n; ++j) rhs[(last ? 0 : n * n) + j] = wtd_[s][j];
    if (s > 0) {
      const double* previous = &inverses[(s - 1) * n * n];
      for (size_t k = 0; k < n * n; ++k) a[k] -= before * before * previous[k];
      for (size_t j = 0; j < n; ++j) {
        rhs[(last ? 0 : n * n) + j] += before * solved[(s - 1) * n + j];
      }
    }
    if (!last) {
      for (size_t j = 0; j < n; ++j) rhs[j * n + j] = 1;
    }
    double blockRcond = 0;
    if (!solver_.SolveColumns(order, a, last ? 1 : order + 1, rhs, kMinRcond, x, blockRcond)) {
      rcond = blockRcond;
      return false;
    }
    rcond = std::min(rcond, blockRcond);
    if (!last) std::copy(x.begin(), x.begin() + static_cast<std::ptrdiff_t>(n * n),
                         inverses.begin() + static_cast<std::ptrdiff_t>(s * n * n));
    std::copy(x.end() - static_cast<std::ptrdiff_t>(n), x.end(),
              solved.begin() + static_cast<std::ptrdiff_t>(s * n));
  }
  model.assign(stations * n, 0.0);
  for (size_t s = stations; s-- > 0;) {
    for (size_t j = 0; j < n; ++j) model[s * n + j] = solved[s * n + j];
    if (s + 1 == stations) continue;
    const double tie = mu * lateral_[s];  // -b_s
    const double* inverse = &inverses[s * n * n];
    for (size_t k = 0; k < n; ++k) {
      const double next = tie * model[(s + 1) * n + k];
      for (size_t j = 0; j < n; ++j) model[s * n + j] += inverse[k * n + j] * next;
    }
  }
  return true;
}

bool ProfileStep::Evaluate(const std::vector<double>& decades, std::vector<Trial>& trials,
                           std::string& error) {
  const size_t first = trials.size();
  for (double d : decades) {
    Trial trial;
    trial.decades = d;
    const double mu = MultiplierAt(d);
    const auto start = std::chrono::steady_clock::now();
    double rcond = 0;
    const bool solved = SolveJoint(mu, trial.model, rcond);
    report_.solveSeconds += Seconds(start);
    ++report_.solves;
    if (solved) {
      for (double& v : trial.model) v = std::clamp(v, kLowestLog10Rho, kHighestLog10Rho);
    } else {
      ++report_.illConditioned;
      note_(RefusedStepNote(mu, rcond));
      trial.model.clear();
    }
    trials.push_back(std::move(trial));
  }
  std::vector<Trial*> solved;
  for (size_t k = first; k < trials.size(); ++k) {
    if (!trials[k].model.empty()) solved.push_back(&trials[k]);
  }
  return MeasureAll(solved, error);
}

bool ProfileStep::Measure(Trial& trial, std::string& error) {
  std::vector<Trial*> one = {&trial};
  return MeasureAll(one, error);
}

// The responses of every station's part of every trial, in one call to the engine.
bool ProfileStep::MeasureAll(std::vector<Trial*>& trials, std::string& error) {
  if (trials.empty()) return true;
  const size_t stations = data_.size();
  std::vector<size_t> which;
  std::vector<std::vector<double>> models, rho, phase;
  for (const Trial* t : trials) {
    for (size_t s = 0; s < stations; ++s) {
      which.push_back(s);
      models.push_back(Part(t->model, s, layers_));
    }
  }
  const auto start = std::chrono::steady_clock::now();
  const bool ok = engine_.Responses(which, models, rho, phase, error);
  report_.forwardSeconds += Seconds(start);
  report_.forwardRuns += static_cast<int>(models.size());
  if (!ok) return false;
  for (size_t k = 0; k < trials.size(); ++k) {
    std::vector<std::vector<double>> r(rho.begin() + static_cast<std::ptrdiff_t>(k * stations),
                                       rho.begin() +
                                           static_cast<std::ptrdiff_t>((k + 1) * stations));
    std::vector<std::vector<double>> p(phase.begin() + static_cast<std::ptrdiff_t>(k * stations),
                                       phase.begin() +
                                           static_cast<std::ptrdiff_t>((k + 1) * stations));
    trials[k]->rms = JoinResponses(data_, r, p, trials[k]->response);
  }
  return true;
}

}  // namespace vesk1::mt
