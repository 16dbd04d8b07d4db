// The sampler run as the client runs it, its requests answered in this process by the sounding
// module's computation: the same samples however the requests are split, and a posterior that
// holds the earth a noisy sounding was made from.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "in_process_chain_engine.h"
#include "mt/mesh.h"
#include "mt/misfit.h"
#include "mt/posterior.h"
#include "mt/sampler.h"
#include "mt/sounding.h"
#include "response_engine.h"
#include "sampler.h"

namespace vesk1::mt {
namespace {

constexpr double kNoise = 0.03;  // of |Z|: 6 % in apparent resistivity, 0.03 rad in phase
constexpr double kLn10 = 2.302585092994046;
constexpr double kDegrees = 57.29577951308232;
constexpr double kTwoPi = 6.283185307179586;

// A standard normal number (Box and Muller), the same with every standard library.
double Gauss(std::mt19937& engine) {
  const double u1 = (static_cast<double>(engine()) + 1.0) / 4294967297.0;
  const double u2 = static_cast<double>(engine()) / 4294967296.0;
  return std::sqrt(-2.0 * std::log(u1)) * std::cos(kTwoPi * u2);
}

// A conductor in a resistive earth: 100 ohm-m to 500 m, 5 ohm-m to 2500 m, 100 ohm-m below, at
// 40 periods from 0.001 to 10000 s, with errors of 3 % of |Z| and, from a fixed seed, noise of
// that size. (Over a basement much more resistive than the cover, the conductor's bottom would
// be as sharp as its top.)
constexpr float kConductor = 0.69897f, kTop = 500.0f, kBottom = 2500.0f;
Sounding ThreeLayerSounding() {
  std::vector<float> periods;
  for (int i = 0; i < 40; ++i)
    periods.push_back(static_cast<float>(std::pow(10.0, -3 + 7 * i / 39.0)));
  sounding::LayeredEarth earth;
  sounding::PeriodSet set;
  sounding::ResponseSet r;
  const std::vector<float> log10Rho{2.0f, kConductor, 2.0f}, thickness{kTop, kBottom - kTop};
  EXPECT_TRUE(sounding::EarthFromLog10Resistivity(log10Rho, thickness, earth) &&
              sounding::PeriodSetOf(periods, set));
  sounding::ComputeResponses(earth, set, sounding::ResistivityForm::kLog10, r);
  std::mt19937 engine(14);
  Sounding s;
  for (int i = 0; i < 40; ++i) {
    const double rho = std::pow(10.0, r.resistivity[i] + Gauss(engine) * 2 * kNoise / kLn10);
    const double phase = r.phase[i] + Gauss(engine) * kNoise * kDegrees;
    s.points.push_back({periods[i], rho, phase, 2 * kNoise * rho, kNoise * kDegrees});
  }
  return s;
}

SamplerProblem ProblemOf(const Sounding& s) {
  SamplerProblem problem;
  for (const MeasuredPoint& p : s.points) problem.periods.push_back(p.period);
  problem.data = FitDataOf(s);
  const DepthSpan span = SkinDepthSpan(s);
  problem.prior = {20, std::log10(span.top), std::log10(span.bottom), -1.0, 5.0};
  return problem;
}

SamplerResult Sample(const SamplerProblem& problem, const SamplerOptions& options, int workers,
                     int* dataRequests = nullptr) {
  test::InProcessChainEngine engine(7, workers);
  SamplerResult result = RunSampler(problem, engine, options, nullptr);
  if (dataRequests != nullptr) *dataRequests = engine.dataRequests();
  return result;
}

// Nine walkers go in requests of five and four (120 and 96 items). Split over 100 workers the
// first reaches 60 of them and the second 96, so the data go out with each count: a worker
// without them would leave its entries of a chain empty.
TEST(RunSampler_InProcessWorkers, SameSamplesWithOneWorkerAndAHundred) {
  const SamplerProblem problem = ProblemOf(ThreeLayerSounding());
  SamplerOptions options;
  options.chains = 3;
  options.temperatures = 3;
  options.steps = 300;
  options.burnIn = 100;
  options.thin = 10;
  int oneData = 0, manyData = 0;
  const SamplerResult one = Sample(problem, options, 1, &oneData);
  const SamplerResult many = Sample(problem, options, 100, &manyData);
  ASSERT_EQ(one.error, "");
  ASSERT_EQ(many.error, "");
  EXPECT_EQ(oneData, 2);
  EXPECT_EQ(manyData, 2);
  ASSERT_EQ(one.chains.size(), 3u);
  EXPECT_GT(one.last.swapsTaken, 0);
  // Each kept misfit is the chi-squared of its own earth (the exchanges are decided on them).
  sounding::sampler::Problem chi;
  std::vector<sounding::sampler::DataPoint> points;
  for (size_t i = 0; i < problem.periods.size(); ++i) {
    const size_t p = problem.periods.size();
    points.push_back({static_cast<float>(problem.periods[i]),
                      static_cast<float>(problem.data.value[i]),
                      static_cast<float>(1 / problem.data.error[i]),
                      static_cast<float>(problem.data.value[p + i]),
                      static_cast<float>(1 / problem.data.error[p + i])});
  }
  ASSERT_TRUE(chi.Set({20, 1, 6, -1, 5}, points, true));
  for (const SampledEarth& s : one.chains[0]) {
    std::vector<float> rho(s.log10Rho.begin(), s.log10Rho.end()), thickness;
    for (size_t j = 0; j < s.depth.size(); ++j) {
      thickness.push_back(static_cast<float>(s.depth[j] - (j > 0 ? s.depth[j - 1] : 0.0)));
    }
    EXPECT_NEAR(s.misfit, chi.ChiSquared(rho, thickness), 1e-3 * s.misfit);
  }
  for (size_t c = 0; c < 3; ++c) {
    ASSERT_EQ(one.chains[c].size(), 20u);
    ASSERT_EQ(many.chains[c].size(), 20u);
    for (size_t k = 0; k < 20; ++k) {
      const SampledEarth &a = one.chains[c][k], &b = many.chains[c][k];
      EXPECT_EQ(a.step, b.step);
      EXPECT_EQ(a.misfit, b.misfit);
      EXPECT_EQ(a.depth, b.depth);
      EXPECT_EQ(a.log10Rho, b.log10Rho);
    }
  }
}

// Each row: walkers' costs, the requests they go in, and the cost every share of `width`
// walkers must carry. Sixteen walkers of 8 and 1 in two requests: every quarter of a request
// (four workers, and so two) carries 9. Four of 1 to 4 in one: each half carries 5, which only
// dealing the costliest first gives.
TEST(BalancedOrder, EveryShareOfARequestCarriesAsMuch) {
  struct Row {
    std::vector<double> cost;
    size_t requests, width;
    double share;
  };
  std::vector<double> eightsAndOnes;
  for (int w = 0; w < 16; ++w) eightsAndOnes.push_back((w / 4) % 2 == 0 ? 8 : 1);
  for (const Row& row : {Row{eightsAndOnes, 2, 2, 9}, Row{{1, 2, 3, 4}, 1, 2, 5}}) {
    const std::vector<int> order = client::BalancedOrder(row.cost, row.requests);
    std::vector<int> sorted = order;
    std::sort(sorted.begin(), sorted.end());
    for (size_t w = 0; w < sorted.size(); ++w) ASSERT_EQ(sorted[w], static_cast<int>(w));
    for (size_t first = 0; first < order.size(); first += row.width) {
      double share = 0;
      for (size_t k = first; k < first + row.width; ++k) share += row.cost[order[k]];
      EXPECT_EQ(share, row.share) << row.cost.size() << " walkers, from " << first;
    }
  }
}

// Walkers of 8 and 1 layers travel out of their order; each is still answered as its own.
TEST(RequestChainEngine_Order, EachWalkerTakesItsOwnAnswer) {
  const SamplerProblem problem = ProblemOf(ThreeLayerSounding());
  const SamplerPrior& p = problem.prior;
  test::InProcessChainEngine engine(7, 1);
  std::string error;
  ASSERT_TRUE(engine.SetProblem(problem, error)) << error;
  std::vector<Walker> walkers(16, Walker{{}, 1, 0.1f, 0.1f, 0.1f});
  for (size_t w = 0; w < walkers.size(); ++w) {
    ChainModel& m = walkers[w].model;
    m.stream = static_cast<uint32_t>(w);
    m.layers = (w / 4) % 2 == 0 ? 8 : 1;
    for (int j = 0; j + 1 < m.layers; ++j) {
      m.log10Depth[static_cast<size_t>(j)] = static_cast<float>(
          p.minLog10Depth + (j + 1) * (p.maxLog10Depth - p.minLog10Depth) / m.layers);
    }
    m.log10Rho.fill(1.0f);
  }
  const std::vector<Walker> before = walkers;
  ASSERT_TRUE(engine.Advance(walkers, 1, error)) << error;
  for (size_t w = 0; w < before.size(); ++w) {
    std::vector<Walker> alone{before[w]};
    ASSERT_TRUE(engine.Advance(alone, 1, error)) << error;
    EXPECT_EQ(alone[0].misfit, walkers[w].misfit) << w;
  }
}

// The 5-95 % interval at the conductor's middle depth holds its resistivity, and interfaces
// gather within 20 % of its top.
TEST(RunSampler_ThreeLayerSounding, PosteriorHoldsTheConductor) {
  const SamplerProblem problem = ProblemOf(ThreeLayerSounding());
  SamplerOptions options;
  options.chains = 2;
  options.temperatures = 3;
  options.steps = 20000;
  options.burnIn = 5000;
  options.thin = 10;
  const SamplerResult r = Sample(problem, options, 1);
  ASSERT_EQ(r.error, "");
  const std::vector<const SampledEarth*> all = AllSamples(r.chains);
  ASSERT_EQ(all.size(), 3000u);
  const DepthProfile middle = ProfileAt(all, {0.5 * (kTop + kBottom)});
  EXPECT_LE(middle.log10Rho[0][0], kConductor);
  EXPECT_GE(middle.log10Rho[0][4], kConductor);
  // Bins of a twentieth of a decade.
  std::vector<double> edges;
  for (double z = problem.prior.minLog10Depth; z < problem.prior.maxLog10Depth; z += 0.05) {
    edges.push_back(z);
  }
  const std::vector<long> counts = InterfaceHistogram(all, edges);
  const size_t peak =
      static_cast<size_t>(std::max_element(counts.begin(), counts.end()) - counts.begin());
  const double depth = std::pow(10.0, 0.5 * (edges[peak] + edges[peak + 1]));
  EXPECT_NEAR(depth, kTop, 0.2 * kTop);
}

}  // namespace
}  // namespace vesk1::mt
