// Occam's inversion in this process: the sounding module's own computation answers the
// requests and vesk1_fdll (loaded as the client loads it) solves the systems.
#include "mt/occam.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "client/fdll_solver.h"
#include "client/input_file.h"
#include "common/fdll_loader.h"
#include "in_process_engine.h"
#include "mt/investigation.h"
#include "mt/mesh.h"
#include "mt/misfit.h"
#include "mt/readers/readers.h"
#include "mt/sounding.h"
#include "tests/fixtures/loaded_fdll.h"

namespace vesk1::mt {
namespace {

using test::Fdll;
using test::LogPeriods;
using test::Noise;
using test::Solver;

constexpr double kPi = 3.14159265358979323846;

// The sounding of a layered earth at `periods`, errors at the 5% floor, and noise of
// `noiseShare` times those errors.
Sounding Synthetic(const std::vector<double>& resistivity, const std::vector<double>& thickness,
                   const std::vector<double>& periods, double noiseShare) {
  test::InProcessEngine engine(Fdll().recur, periods, thickness);
  std::vector<double> model, rho, phase;
  for (double r : resistivity) model.push_back(std::log10(r));
  std::string error;
  EXPECT_TRUE(engine.Responses(model, rho, phase, error)) << error;
  Sounding sounding;
  Noise noise(20261209);
  for (size_t i = 0; i < periods.size(); ++i) {
    const double relative = 0.05;
    const double r = std::pow(10.0, rho[i]) * (1 + 2 * relative * noiseShare * noise.Next());
    const double p = phase[i] + relative * noiseShare * noise.Next() * 180 / kPi;
    sounding.points.push_back({periods[i], r, p, 2 * relative * r, relative * 180 / kPi});
  }
  return sounding;
}

struct Recovered {
  OccamResult result;
  std::vector<double> thickness;
};

Recovered Invert(const Sounding& data, int layers, double target) {
  Recovered r;
  r.thickness = MeshForSounding(data, layers);
  std::vector<double> periods;
  for (const MeasuredPoint& p : UsedPoints(data)) periods.push_back(p.period);
  test::InProcessEngine engine(Fdll().recur, periods, r.thickness);
  OccamOptions options;
  options.targetRms = target;
  options.startLog10Rho = 2.0;
  r.result = RunOccam(
      FitDataOf(data), layers, engine, Solver(), options, [](const IterationReport&) {},
      [](const std::string&) {});
  return r;
}

// Mid-depth of the layer with the least resistivity.
double ConductorDepth(const std::vector<double>& model, const std::vector<double>& thickness) {
  double top = 0, best = 0, least = INFINITY;
  for (size_t j = 0; j < thickness.size() && j < model.size(); ++j) {
    if (model[j] < least) {
      least = model[j];
      best = top + thickness[j] / 2;
    }
    top += thickness[j];
  }
  return best;
}

// 100 ohm-m over 5 ohm-m from 1000 to 1300 m over a 1000 ohm-m basement.
TEST(RunOccam_ThreeLayerEarth, ConductorFoundAtItsDepthAtTheTargetMisfit) {
  ASSERT_NE(Fdll().factor, nullptr) << Fdll().error;
  const std::vector<double> resistivity = {100, 5, 1000}, thickness = {1000, 300};
  const double trueDepth = 1150;
  const std::vector<double> periods = LogPeriods(0.001, 10000, 40);
  for (double noise : {0.0, 0.7}) {
    const Recovered r = Invert(Synthetic(resistivity, thickness, periods, noise), 50, 1.0);
    ASSERT_EQ(r.result.error, "");
    EXPECT_TRUE(r.result.reachedTarget) << "noise " << noise << " RMS " << r.result.rms;
    EXPECT_NEAR(r.result.rms, 1.0, 0.02) << "noise " << noise;
    const double depth = ConductorDepth(r.result.model, r.thickness);
    EXPECT_NEAR(depth, trueDepth, 0.2 * trueDepth) << "noise " << noise;
    // The conductor shows as such: well below the cover.
    double least = INFINITY;
    for (double m : r.result.model) least = std::min(least, m);
    EXPECT_LT(least, std::log10(30.0)) << "noise " << noise;
  }
}

// Counts the models whose responses are computed.
class CountingEngine : public test::InProcessEngine {
 public:
  using InProcessEngine::InProcessEngine;
  bool Responses(const std::vector<double>& model, std::vector<double>& log10Rho,
                 std::vector<double>& phase, std::string& error) override {
    ++models;
    return InProcessEngine::Responses(model, log10Rho, phase, error);
  }
  bool ResponsesOfMany(const std::vector<std::vector<double>>& many,
                       std::vector<std::vector<double>>& log10Rho,
                       std::vector<std::vector<double>>& phase, std::string& error) override {
    models += static_cast<int>(many.size());
    return InProcessEngine::ResponsesOfMany(many, log10Rho, phase, error);
  }
  int models = 0;
};

// The misfit of each iteration's model is what its report says, and the reports come in order.
// The model kept comes with the response its trial computed: no model is computed twice.
TEST(RunOccam_Progress, OneReportPerIterationWithItsMisfit) {
  const std::vector<double> periods = LogPeriods(0.01, 1000, 20);
  const Sounding data = Synthetic({30, 300}, {2000}, periods, 0.0);
  const std::vector<double> thickness = MeshForSounding(data, 20);
  CountingEngine engine(Fdll().recur, periods, thickness);
  std::vector<IterationReport> reports;
  std::vector<std::string> notes;
  OccamOptions options;
  options.startLog10Rho = 1.0;
  const OccamResult result = RunOccam(
      FitDataOf(data), 20, engine, Solver(), options,
      [&](const IterationReport& r) { reports.push_back(r); },
      [&](const std::string& n) { notes.push_back(n); });
  ASSERT_FALSE(reports.empty());
  EXPECT_EQ(reports.size(), result.iterations.size());
  for (size_t i = 0; i < reports.size(); ++i) {
    EXPECT_EQ(reports[i].iteration, static_cast<int>(i) + 1);
    EXPECT_GT(reports[i].forwardRuns, 0);
    EXPECT_GT(reports[i].multiplier, 0);
  }
  EXPECT_EQ(reports.back().rms, result.rms);
  int runs = 1;  // the starting model
  for (const IterationReport& r : reports) runs += r.forwardRuns;
  EXPECT_EQ(engine.models, runs);
  // The same model computed again as the trials are: the same response and misfit.
  std::vector<std::vector<double>> rho, phase;
  std::string error;
  ASSERT_TRUE(engine.ResponsesOfMany({result.model}, rho, phase, error));
  EXPECT_NEAR(RmsMisfit(FitDataOf(data), rho[0], phase[0]), result.rms, 1e-12);
  rho[0].insert(rho[0].end(), phase[0].begin(), phase[0].end());
  EXPECT_EQ(result.response, rho[0]);
}

// An engine whose data do not depend on the model: every trial system is the roughness alone,
// singular but for the ridge, so every step is reported as ill-conditioned and none is used.
class BlindEngine : public ForwardEngine {
 public:
  bool Responses(const std::vector<double>&, std::vector<double>& log10Rho,
                 std::vector<double>& phase, std::string&) override {
    log10Rho.assign(4, 1.0);
    phase.assign(4, 45.0);
    return true;
  }
  bool Sensitivities(const std::vector<double>& model, std::vector<double>& jacobian,
                     std::string&) override {
    jacobian.assign(8 * model.size(), 0.0);
    return true;
  }
};

TEST(RunOccam_IllConditionedSteps, ReportedAndNotUsed) {
  ASSERT_NE(Fdll().factor, nullptr) << Fdll().error;
  FitData data;
  data.value = {2, 2, 2, 2, 45, 45, 45, 45};
  data.error.assign(8, 0.1);
  BlindEngine engine;
  std::vector<std::string> notes;
  int iterations = 0;
  const OccamResult result = RunOccam(
      data, 10, engine, Solver(), {}, [&](const IterationReport&) { ++iterations; },
      [&](const std::string& n) { notes.push_back(n); });
  EXPECT_EQ(result.error, "");
  EXPECT_EQ(iterations, 0);
  EXPECT_FALSE(result.reachedTarget);
  EXPECT_EQ(result.model, std::vector<double>(10, 2.0));
  ASSERT_GE(notes.size(), 2u);
  EXPECT_EQ(notes.front().rfind("ill-conditioned step at multiplier ", 0), 0u) << notes.front();
  EXPECT_EQ(notes.back(), "no trial step of this iteration could be used; stopping");
}

// Every iteration that meets its target keeps the largest multiplier whose model meets it:
// the step of that iteration, rebuilt from the model it started from, is scanned 0.01 decades
// apart, and no larger multiplier of the scan meets the target.
void ExpectSmoothestMeetingTheTarget(const Sounding& data, double start) {
  const int layers = 50;
  const std::vector<double> thickness = MeshForSounding(data, layers);
  std::vector<double> periods;
  for (const MeasuredPoint& p : UsedPoints(data)) periods.push_back(p.period);
  test::InProcessEngine engine(Fdll().recur, periods, thickness);
  const FitData fit = FitDataOf(data);
  OccamOptions options;
  options.startLog10Rho = start;
  const auto quiet = [](const std::string&) {};
  const OccamResult result = RunOccam(
      fit, layers, engine, Solver(), options, [](const IterationReport&) {}, quiet);
  ASSERT_TRUE(result.reachedTarget) << result.rms << result.error;
  std::vector<double> scanned;
  for (double d = -6; d <= 4.001; d += 0.01) scanned.push_back(d);
  int checked = 0;
  for (const IterationReport& r : result.iterations) {
    if (r.rms > r.target) continue;
    OccamOptions before = options;
    before.maxIterations = r.iteration - 1;
    const OccamResult from = RunOccam(
        fit, layers, engine, Solver(), before, [](const IterationReport&) {}, quiet);
    std::vector<double> jacobian;
    std::string error;
    ASSERT_TRUE(engine.Sensitivities(from.model, jacobian, error)) << error;
    IterationReport scratch;
    OccamStep step(fit, from.model, from.response, jacobian, engine, Solver(), scratch, quiet);
    std::vector<Trial> scan;
    ASSERT_TRUE(step.Evaluate(scanned, scan, error)) << error;
    double largest = -INFINITY;
    for (const Trial& t : scan) {
      if (t.rms <= r.target) largest = std::max(largest, t.decades);
    }
    EXPECT_NEAR(std::log10(r.multiplier / step.MultiplierAt(0)), largest, 0.011)
        << "iteration " << r.iteration;
    ++checked;
  }
  EXPECT_GE(checked, 1);
}

TEST(RunOccam_AtTarget, KeepsTheLargestMultiplierThatMeetsIt) {
  ASSERT_NE(Fdll().factor, nullptr) << Fdll().error;
  const std::vector<double> periods = LogPeriods(0.001, 10000, 40);
  for (double noise : {0.0, 0.7}) {
    SCOPED_TRACE(noise);
    ExpectSmoothestMeetingTheTarget(Synthetic({100, 5, 1000}, {1000, 300}, periods, noise), 2.0);
  }
  const ReadResult example =
      client::ReadSoundingFile(VESK1_EXAMPLES_DIR "/measured_site.edi", ReadOptions());
  ASSERT_EQ(example.error, "");
  SCOPED_TRACE("measured_site.edi");
  ExpectSmoothestMeetingTheTarget(example.sounding, MeanLog10Resistivity(example.sounding));
}

// A few points moved far off the three-layer curve: no layered earth fits them to RMS 1. The
// model kept is the smoothest near the least misfit, about as smooth as the one the inversion
// finds when asked for the misfit it reached.
TEST(RunOccam_TargetOutOfReach, KeptModelAsSmoothAsOneAskedForTheMisfitReached) {
  ASSERT_NE(Fdll().factor, nullptr) << Fdll().error;
  Sounding data = Synthetic({100, 5, 1000}, {1000, 300}, LogPeriods(0.001, 10000, 40), 0.7);
  for (size_t k : {6u, 15u, 16u, 31u}) {
    data.points[k].resistivity *= 4;
    data.points[k].phase += 20;
  }
  const Recovered unreachable = Invert(data, 50, 1.0);
  ASSERT_EQ(unreachable.result.error, "");
  const OccamResult& r = unreachable.result;
  EXPECT_FALSE(r.reachedTarget);
  EXPECT_GT(r.leastRms, 1.5);
  EXPECT_DOUBLE_EQ(r.smoothedAt, r.leastRms * (1 + kOutOfReachMargin));
  EXPECT_LE(r.rms, r.smoothedAt * 1.001);
  const Recovered asked = Invert(data, 50, r.rms);
  EXPECT_TRUE(asked.result.reachedTarget) << asked.result.rms;
  EXPECT_LE(r.roughness, 1.5 * asked.result.roughness)
      << "kept " << r.roughness << " at RMS " << r.rms << ", asked " << asked.result.roughness;
}

// Data the system could not be formed from are refused before the engine is asked anything.
TEST(RunOccam_UnusableData, RefusedWithTheDatumNamed) {
  struct Case {
    double value, error;
    const char* message;
  };
  const Case cases[] = {
      {-INFINITY, 0.1, "the apparent resistivity of period 2 of 2 is not a finite number"},
      {2.0, NAN,
       "the error of the apparent resistivity of period 2 of 2 is not a positive "
       "finite number"},
      {2.0, 0.0,
       "the error of the apparent resistivity of period 2 of 2 is not a positive "
       "finite number"},
  };
  for (const Case& c : cases) {
    FitData data;
    data.value = {2.0, c.value, 45, 45};
    data.error = {0.1, c.error, 2, 2};
    CountingEngine engine(Fdll().recur, {1, 10}, {100});
    const OccamResult result = RunOccam(
        data, 2, engine, Solver(), {}, [](const IterationReport&) {}, [](const std::string&) {});
    EXPECT_EQ(result.error, c.message);
    EXPECT_EQ(engine.models, 0);
    EXPECT_TRUE(result.model.empty());
  }
}

// A sounding the starting model already fits: the smoothest trial of the sweep meets the
// target, and the search ends there.
TEST(RunOccam_StartFits, OneIterationAtTheSmoothestTrial) {
  const std::vector<double> periods = LogPeriods(0.01, 1, 3);
  const Sounding data = Synthetic({100}, {}, periods, 0.0);
  const Recovered r = Invert(data, 10, 1.0);
  EXPECT_TRUE(r.result.reachedTarget);
  EXPECT_LT(r.result.roughness, 1e-12);
}

// With s = {2, 2, 2} (the error-weighted sums of |J| per layer) the running share from the top
// is 1/3, 2/3, 1 at the bottoms of the layers 100 m and 300 m thick and the half-space.
TEST(DepthOfInvestigation_HandJacobian, WhereTheRunningShareReachesTheFraction) {
  FitData data;
  data.value = {0, 0};
  data.error = {1, 2};
  const std::vector<double> jacobian = {-1, 2, 1, 2, 0, -2};
  struct Case {
    double share, depth;
    bool belowMesh;
  };
  for (const Case& c : {Case{0.2, 60, false}, Case{0.5, 250, false}, Case{0.9, 400, true}}) {
    const Investigation doi = DepthOfInvestigation(data, jacobian, {100, 300}, c.share);
    EXPECT_NEAR(doi.depth, c.depth, 1e-9) << c.share;
    EXPECT_EQ(doi.belowMesh, c.belowMesh) << c.share;
  }
  EXPECT_TRUE(std::isnan(DepthOfInvestigation(data, {}, {100, 300}, 0.9).depth));
}

TEST(RmsMisfit_HandValues, RootMeanSquareOfNormalisedResiduals) {
  FitData data;
  data.value = {2.0, 1.0, 45.0, 30.0};
  data.error = {0.1, 0.5, 2.0, 1.0};
  // Residuals over errors: 1, 0, -2, 1, so sqrt(6 / 4).
  EXPECT_DOUBLE_EQ(RmsMisfit(data, {1.9, 1.0}, {49.0, 29.0}), std::sqrt(1.5));
  EXPECT_TRUE(std::isinf(RmsMisfit(data, {NAN, 1.0}, {47.0, 29.0})));
  EXPECT_TRUE(std::isinf(RmsMisfit(data, {1.0}, {47.0})));
  // Only used points are fitted and counted: a missing and an excluded one add nothing.
  Sounding sounding;
  sounding.points = {{1, 100, 45, 10, 2},
                     {2, NAN, NAN, NAN, NAN, PointStatus::kMissing},
                     {3, 10, 30, 1, 1, PointStatus::kExcluded}};
  EXPECT_EQ(FitDataOf(sounding).value, (std::vector<double>{2.0, 45.0}));
  EXPECT_EQ(MisfitText(sounding, {{1, 100, 45}}),
            "RMS misfit 0.0000 over 2 data (1 periods, log10 apparent resistivity and phase)");
}

TEST(GeometricThicknesses_Mesh, GrowsFromTheFirstToTheBottomDepth) {
  const std::vector<double> t = GeometricThicknesses(5, 10, 80);
  // Interfaces at 10, 20, 40, 80.
  ASSERT_EQ(t.size(), 4u);
  EXPECT_DOUBLE_EQ(t[0], 10);
  EXPECT_NEAR(t[1], 10, 1e-12);
  EXPECT_NEAR(t[2], 20, 1e-12);
  EXPECT_NEAR(t[3], 40, 1e-12);
  EXPECT_TRUE(GeometricThicknesses(1, 10, 80).empty());
}

}  // namespace
}  // namespace vesk1::mt
