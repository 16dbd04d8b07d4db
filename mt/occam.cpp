#include "mt/occam.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <limits>

#include "mt/format.h"

namespace vesk1::mt {
namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();
// Trial steps whose scaled system has a poorer condition estimate are refused.
constexpr double kMinRcond = 1e-12;
constexpr double kRidge = 1e-13;
// Models are kept within these log10 resistivities, so every trial stays computable.
constexpr double kLowestLog10Rho = -3.0, kHighestLog10Rho = 7.0;
// The multiplier search, in decades relative to trace(WJ'WJ) / trace(R'R).
constexpr double kSearchHigh = 4.0, kSearchLow = -6.0;

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

double Roughness(const std::vector<double>& m) {
  double sum = 0;
  for (size_t j = 1; j < m.size(); ++j) sum += (m[j] - m[j - 1]) * (m[j] - m[j - 1]);
  return sum;
}

// One Occam iteration's linear problem and its trial models.
class Step {
 public:
  Step(const FitData& data, const std::vector<double>& model, const std::vector<double>& response,
       const std::vector<double>& jacobian, ForwardEngine& engine, LinearSolver& solver,
       IterationReport& report, const std::function<void(const std::string&)>& note)
      : data_(data), model_(model), engine_(engine), solver_(solver), report_(report), note_(note) {
    const size_t rows = data.value.size(), n = model.size();
    // Weighted Jacobian WJ and weighted data W (d - F(m) + J m).
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

  double MultiplierAt(double decades) const { return scale_ * std::pow(10.0, decades); }

  // The model of (mu R'R + WJ'WJ) m = WJ' W d-hat and its misfit; infinite misfit when refused.
  bool Trial(double decades, std::vector<double>& model, double& rms, std::string& error) {
    const size_t n = model_.size();
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
    // A ridge of 1e-13 of each diagonal entry keeps every pivot away from zero, so the library
    // never meets an exactly singular matrix (which it treats as fatal); a system that needs
    // more than that still shows in the condition estimate and is refused.
    for (size_t j = 0; j < n; ++j) a[j * n + j] *= 1.0 + kRidge;
    const auto solveStart = std::chrono::steady_clock::now();
    double rcond = 0;
    const bool solved = solver_.Solve(static_cast<int>(n), a, wtd_, kMinRcond, model, rcond);
    report_.solveSeconds += Seconds(solveStart);
    ++report_.solves;
    if (!solved) {
      ++report_.illConditioned;
      note_(
          Printf("ill-conditioned step at multiplier %.3g (reciprocal condition %.2g): "
                 "not used",
                 mu, rcond));
      rms = kInfinity;
      return true;
    }
    for (double& v : model) v = std::clamp(v, kLowestLog10Rho, kHighestLog10Rho);
    return Misfit(model, rms, error);
  }

  bool Misfit(const std::vector<double>& model, double& rms, std::string& error) {
    std::vector<double> rho, phase;
    const auto start = std::chrono::steady_clock::now();
    const bool ok = engine_.Responses(model, rho, phase, error);
    report_.forwardSeconds += Seconds(start);
    ++report_.forwardRuns;
    if (!ok) return false;
    rms = RmsMisfit(data_, rho, phase);
    return true;
  }

 private:
  const FitData& data_;
  const std::vector<double>& model_;
  ForwardEngine& engine_;
  LinearSolver& solver_;
  IterationReport& report_;
  const std::function<void(const std::string&)>& note_;
  std::vector<double> wtw_;  // WJ' WJ, column-major
  std::vector<double> wtd_;  // WJ' W d-hat
  double scale_ = 1;
};

struct Candidate {
  double decades = 0;
  double rms = kInfinity;
  std::vector<double> model;
};

}  // namespace

OccamResult RunOccam(const FitData& data, int layers, ForwardEngine& engine, LinearSolver& solver,
                     const OccamOptions& options,
                     const std::function<void(const IterationReport&)>& progress,
                     const std::function<void(const std::string&)>& note) {
  OccamResult result;
  const double target = options.targetRms;
  std::vector<double> model(static_cast<size_t>(layers), options.startLog10Rho);
  std::vector<double> response;
  {
    std::vector<double> rho, phase;
    if (!engine.Responses(model, rho, phase, result.error)) return result;
    response = rho;
    response.insert(response.end(), phase.begin(), phase.end());
    result.rms = RmsMisfit(data, rho, phase);
  }
  result.model = model;
  result.roughness = Roughness(model);

  for (int iteration = 1; iteration <= options.maxIterations; ++iteration) {
    IterationReport report;
    report.iteration = iteration;
    const auto iterationStart = std::chrono::steady_clock::now();
    std::vector<double> jacobian;
    const auto sensStart = std::chrono::steady_clock::now();
    if (!engine.Sensitivities(model, jacobian, result.error)) return result;
    report.sensitivitySeconds = Seconds(sensStart);
    Step step(data, model, response, jacobian, engine, solver, report, note);

    // A coarse sweep from smooth to rough, one decade apart.
    std::vector<Candidate> sweep;
    for (double s = kSearchHigh; s >= kSearchLow - 1e-9; s -= 1.0) {
      Candidate c;
      c.decades = s;
      if (!step.Trial(s, c.model, c.rms, result.error)) return result;
      sweep.push_back(std::move(c));
    }
    Candidate best;
    const auto lowest =
        std::min_element(sweep.begin(), sweep.end(),
                         [](const Candidate& a, const Candidate& b) { return a.rms < b.rms; });
    if (lowest->rms > target) {
      // Still above target: the multiplier of the best misfit, by golden sections around the
      // sweep's best.
      double lo = lowest->decades - 1.0, hi = lowest->decades + 1.0;
      best = *lowest;
      const double g = 0.6180339887498949;
      Candidate c1, c2;
      c1.decades = hi - g * (hi - lo);
      c2.decades = lo + g * (hi - lo);
      if (!step.Trial(c1.decades, c1.model, c1.rms, result.error) ||
          !step.Trial(c2.decades, c2.model, c2.rms, result.error)) {
        return result;
      }
      for (int k = 0; k < 6; ++k) {
        if (c1.rms < c2.rms) {
          hi = c2.decades;
          c2 = c1;
          c1.decades = hi - g * (hi - lo);
          if (!step.Trial(c1.decades, c1.model, c1.rms, result.error)) return result;
        } else {
          lo = c1.decades;
          c1 = c2;
          c2.decades = lo + g * (hi - lo);
          if (!step.Trial(c2.decades, c2.model, c2.rms, result.error)) return result;
        }
      }
      for (const Candidate* c : {&c1, &c2}) {
        if (c->rms < best.rms) best = *c;
      }
    }
    if (lowest->rms <= target || best.rms <= target) {
      // At or below target: the largest multiplier that still meets it, by bisection between
      // the smoothest passing and the next smoother failing trial.
      const Candidate* passing = nullptr;
      const Candidate* failing = nullptr;
      for (const Candidate& c : sweep) {  // from smooth to rough
        if (c.rms <= target) {
          passing = &c;
          break;
        }
        failing = &c;
      }
      Candidate ok = passing != nullptr ? *passing : best;
      if (failing != nullptr) {
        double bad = failing->decades;
        for (int k = 0; k < 8; ++k) {
          Candidate mid;
          mid.decades = 0.5 * (ok.decades + bad);
          if (!step.Trial(mid.decades, mid.model, mid.rms, result.error)) return result;
          if (mid.rms <= target) {
            ok = std::move(mid);
          } else {
            bad = mid.decades;
          }
        }
      }
      best = std::move(ok);
    }
    if (!std::isfinite(best.rms)) {
      note("no trial step of this iteration could be used; stopping");
      break;
    }
    // A step that fits worse than the model we have, while still above target, is shortened.
    for (int k = 0; k < 4 && best.rms > target && best.rms >= result.rms; ++k) {
      Candidate half = best;
      for (size_t j = 0; j < model.size(); ++j) half.model[j] = 0.5 * (model[j] + best.model[j]);
      if (!step.Misfit(half.model, half.rms, result.error)) return result;
      best = std::move(half);
    }
    if (best.rms > target && best.rms >= result.rms) {
      note("no step improves the misfit; stopping");
      break;
    }
    const double previousRoughness = result.roughness;
    const double previousRms = result.rms;
    model = best.model;
    result.model = model;
    result.rms = best.rms;
    result.roughness = Roughness(model);
    report.rms = result.rms;
    report.roughness = result.roughness;
    report.multiplier = step.MultiplierAt(best.decades);
    {
      std::vector<double> rho, phase;
      const auto t0 = std::chrono::steady_clock::now();
      if (!engine.Responses(model, rho, phase, result.error)) return result;
      report.forwardSeconds += Seconds(t0);
      ++report.forwardRuns;
      response = rho;
      response.insert(response.end(), phase.begin(), phase.end());
    }
    report.seconds = Seconds(iterationStart);
    result.iterations.push_back(report);
    progress(report);
    // Done when the target is kept and the model no longer smooths out.
    const bool atTarget = result.rms <= target * 1.001;
    if (atTarget && previousRms <= target * 1.001 &&
        std::fabs(result.roughness - previousRoughness) <= 0.01 * previousRoughness + 1e-9) {
      break;
    }
  }
  result.reachedTarget = result.rms <= target * 1.001;
  return result;
}

}  // namespace vesk1::mt
