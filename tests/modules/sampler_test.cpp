#include "sampler.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "common/philox.h"
#include "common/sampler_request.h"
#include "common/sounding_request.h"
#include "sampler_memory.h"
#include "sounding.h"

namespace vesk1::sounding::sampler {
namespace {

TEST(Philox4x32_KnownAnswers, MatchThePublishedVectors) {
  struct Row {
    uint32_t counter[4], key[2], expected[4];
  };
  const Row rows[] = {
      {{0, 0, 0, 0}, {0, 0}, {0x6627e8d5, 0xe169c58d, 0xbc57ac4c, 0x9b00dbd8}},
      {{~0u, ~0u, ~0u, ~0u}, {~0u, ~0u}, {0x408f276d, 0x41c83b0e, 0xa20bc7c6, 0x6d5451fd}},
      {{0x243f6a88, 0x85a308d3, 0x13198a2e, 0x03707344},
       {0xa4093822, 0x299f31d0},
       {0xd16cfe09, 0x94fdcceb, 0x5001e420, 0x24126ea1}},
  };
  for (const Row& r : rows) {
    uint32_t out[4];
    Philox4x32(r.counter, r.key, out);
    EXPECT_TRUE(std::equal(out, out + 4, r.expected)) << std::hex << out[0];
  }
}

double ChiSquaredOfCounts(const std::vector<int>& counts, double expected) {
  double sum = 0;
  for (int c : counts) sum += (c - expected) * (c - expected) / expected;
  return sum;
}

// The layer holding a given log10 depth.
int LayerAt(const ChainState& s, float log10Depth) {
  int i = 0;
  while (i + 1 < s.layers && s.log10Depth[i] < log10Depth) ++i;
  return i;
}

// Without data the chains must keep the prior: 4000 chains, each started from the prior and
// taken 2000 steps (several times what the layer count needs to cross its range), give 4000
// independent draws. Their layer counts are uniform over 1..8, the resistivity at a fixed
// depth uniform over its range, and the interfaces, pooled (given k they are k - 1 independent
// uniform draws), uniform in log depth, by chi-squared tests at the 0.1 % level (critical
// values 24.32 for 7 and 27.88 for 9 degrees of freedom). A birth or death ratio that is off
// (without the proposal's density, or with a count factor) moves the counts far past them.
TEST(AdvanceChain_PriorOnly, LayerCountAndResistivityAtADepthAreUniform) {
  const Prior prior{8, 1.0f, 4.0f, -1.0f, 4.0f};
  const DataPoint point{1.0f, 2.0f, 10.0f, 45.0f, 1.0f};
  Problem problem;
  ASSERT_TRUE(problem.Set(prior, {&point, 1}, false));
  const ChainControls controls{1.0f, 0.3f, 0.5f, 0.7f};
  constexpr int kChains = 4000, kSteps = 2000, kBins = 10;
  std::vector<int> layers(prior.maxLayers), rho(kBins), depths(kBins);
  int interfaces = 0;
  for (uint32_t c = 0; c < kChains; ++c) {
    ChainState s = DrawFromPrior(prior, 11, c);
    StepTally tally;
    ASSERT_TRUE(AdvanceChain(problem, 11, controls, kSteps, s, tally));
    ASSERT_TRUE(StateIsValid(prior, s));
    ASSERT_EQ(s.step, static_cast<uint32_t>(kSteps));
    ++layers[s.layers - 1];
    const double v = s.log10Rho[LayerAt(s, 2.5f)];
    ++rho[std::min(kBins - 1, static_cast<int>((v - prior.minLog10Rho) / 5.0 * kBins))];
    for (int j = 0; j + 1 < s.layers; ++j, ++interfaces) {
      ++depths[std::min(kBins - 1, static_cast<int>((s.log10Depth[j] - 1.0) / 3.0 * kBins))];
    }
  }
  const double layerStatistic = ChiSquaredOfCounts(layers, kChains / 8.0);
  const double rhoStatistic = ChiSquaredOfCounts(rho, kChains / static_cast<double>(kBins));
  EXPECT_LT(layerStatistic, 24.32) << testing::PrintToString(layers);
  const double depthStatistic = ChiSquaredOfCounts(depths, interfaces / static_cast<double>(kBins));
  EXPECT_LT(rhoStatistic, 27.88) << testing::PrintToString(rho);
  EXPECT_LT(depthStatistic, 27.88) << testing::PrintToString(depths);
  std::printf("prior-only chi-squared: layers %.2f, resistivity %.2f, interfaces %.2f\n",
              layerStatistic, rhoStatistic, depthStatistic);
}

// 100 ohm-m over 10 ohm-m below 1000 m, measured at 30 periods (phases from 45 to about 60
// degrees and back) with errors of 0.02 in log10 and 0.6 degrees: at 1/T = 1 the sampled
// resistivity at 100 m gathers within 0.05 of log10 100 and the misfit about the number of
// data; at 1/T = 0 the data do not count and the resistivity spreads over the prior.
TEST(AdvanceChain_TwoLayerData, NearTheTruthAtTemperatureOneAndThePriorAtZero) {
  const Prior prior{10, 0.0f, 5.0f, -1.0f, 5.0f};
  std::vector<float> periods;
  for (int i = 0; i < 30; ++i)
    periods.push_back(static_cast<float>(std::pow(10.0, -3 + 6 * i / 29.0)));
  LayeredEarth earth;
  PeriodSet set;
  ResponseSet truth;
  ASSERT_TRUE(EarthFromLog10Resistivity(std::vector<float>{2.0f, 1.0f}, std::vector<float>{1000.0f},
                                        earth) &&
              PeriodSetOf(periods, set));
  ComputeResponses(earth, set, ResistivityForm::kLog10, truth);
  std::vector<DataPoint> data;
  for (int i = 0; i < 30; ++i) {
    // Alternating offsets of one standard error, so the truth is not an exact fit.
    const double sign = i % 2 == 0 ? 1.0 : -1.0;
    data.push_back({periods[i], static_cast<float>(truth.resistivity[i] + 0.02 * sign), 50.0f,
                    static_cast<float>(truth.phase[i] - 0.6 * sign), 1.0f / 0.6f});
  }
  EXPECT_GT(*std::max_element(truth.phase, truth.phase + 30), 55.0);
  Problem problem;
  ASSERT_TRUE(problem.Set(prior, data, true));
  for (const float beta : {1.0f, 0.0f}) {
    const ChainControls controls{beta, 0.2f, 0.1f, 0.3f};
    std::vector<double> surface;
    double misfit = 0;
    for (uint32_t c = 0; c < 4; ++c) {
      ChainState s = DrawFromPrior(prior, 5, c);
      StepTally tally;
      ASSERT_TRUE(AdvanceChain(problem, 5, controls, 3000, s, tally));  // burn-in
      for (int kept = 0; kept < 50; ++kept) {
        ASSERT_TRUE(AdvanceChain(problem, 5, controls, 20, s, tally));
        surface.push_back(s.log10Rho[LayerAt(s, 2.0f)]);
        misfit += tally.misfit / 200;
      }
    }
    std::sort(surface.begin(), surface.end());
    const double spread = surface[180] - surface[20];  // the 10 % and 90 % points
    if (beta == 1.0f) {
      EXPECT_NEAR(surface[100], 2.0, 0.05);
      EXPECT_LT(spread, 0.1);
      EXPECT_GT(misfit, 30);
      EXPECT_LT(misfit, 90);
    } else {
      EXPECT_GT(spread, 3.0);  // 4.8 for the uniform prior over 6 decades
    }
  }
}

TEST(AdvanceChain_BadInput, RefusedAndStateUnchanged) {
  const Prior prior{4, 1.0f, 4.0f, -1.0f, 4.0f};
  const DataPoint point{1.0f, 2.0f, 10.0f, 45.0f, 1.0f};
  Problem problem;
  ASSERT_TRUE(problem.Set(prior, {&point, 1}, true));
  const ChainControls good{1.0f, 0.3f, 0.5f, 0.7f};
  ChainState base;
  base.layers = 3;
  base.log10Depth[0] = 2.0f;
  base.log10Depth[1] = 3.0f;
  base.log10Rho[0] = base.log10Rho[1] = base.log10Rho[2] = 1.0f;
  struct Case {
    const char* what;
    void (*spoil)(ChainState&, ChainControls&);
  };
  const Case cases[] = {
      {"interfaces out of order", [](ChainState& s, ChainControls&) { s.log10Depth[1] = 1.5f; }},
      {"interface on the bound", [](ChainState& s, ChainControls&) { s.log10Depth[1] = 4.0f; }},
      {"resistivity past the range", [](ChainState& s, ChainControls&) { s.log10Rho[2] = 4.1f; }},
      {"beta above 1", [](ChainState&, ChainControls& c) { c.beta = 1.5f; }},
      {"zero width", [](ChainState&, ChainControls& c) { c.birthWidth = 0.0f; }},
  };
  StepTally tally;
  ChainState s = base;
  EXPECT_TRUE(AdvanceChain(problem, 1, good, 3, s, tally));
  for (const Case& c : cases) {
    s = base;
    ChainControls controls = good;
    c.spoil(s, controls);
    const ChainState before = s;
    EXPECT_FALSE(AdvanceChain(problem, 1, controls, 3, s, tally)) << c.what;
    EXPECT_EQ(s.step, before.step) << c.what;
  }
  Problem unset;
  s = base;
  EXPECT_FALSE(AdvanceChain(unset, 1, good, 3, s, tally));
  EXPECT_FALSE(problem.Set(Prior{64, 1.0f, 4.0f, -1.0f, 4.0f}, {&point, 1}, true));
  EXPECT_FALSE(problem.Set(Prior{4, 4.0f, 1.0f, -1.0f, 4.0f}, {&point, 1}, true));
}

// Swapping temperatures that puts the better fit at the colder rung is always taken; the
// reverse is taken with probability exp((betaA - betaB) (misfitA - misfitB) / 2).
TEST(SwapAccepted_Rates, FollowTheTemperedRatio) {
  struct Row {
    double betaA, misfitA, betaB, misfitB, rate;
  };
  for (const Row& r :
       {Row{1.0, 100, 0.5, 50, 1.0}, Row{0.5, 50, 1.0, 100, 1.0},
        Row{1.0, 50, 0.5, 52.772588722239781, 0.5}, Row{1.0, 50, 0.5, 100, std::exp(-12.5)}}) {
    int taken = 0;
    for (uint32_t round = 0; round < 4000; ++round) {
      taken += SwapAccepted(9, round, 3, r.betaA, r.misfitA, r.betaB, r.misfitB);
    }
    EXPECT_NEAR(taken / 4000.0, r.rate, 0.025) << r.betaA << " " << r.misfitA;
  }
}

// Valid requests of the new kinds with random bytes of the block and random items changed:
// answered without a fault, never past the 255 entries of an exactly sized buffer (the
// sanitizer builds watch), and the worker's data set usable afterwards.
TEST(ComputeShare_MutatedRequests, AnsweredWithoutFault) {
  const Prior prior{6, 1.0f, 4.0f, -1.0f, 4.0f};
  std::vector<DataPoint> data(80, DataPoint{1.0f, 2.0f, 10.0f, 45.0f, 1.0f});
  std::vector<PipeRequest> seeds = DataRequests(3, prior, true, data, 255);
  ChainSlot chains[2] = {{DrawFromPrior(prior, 1, 0), {1, 0.2f, 0.2f, 0.2f}},
                         {DrawFromPrior(prior, 1, 1), {0.5f, 0.2f, 0.2f, 0.2f}}};
  seeds.emplace_back();
  ASSERT_TRUE(BuildStepRequest(3, 1, 3, prior.maxLayers, chains, seeds.back()));
  seeds.emplace_back();
  const std::vector<float> h{10, 20}, periods{0.1f, 1, 10}, rho{1, 2, 3, 2, 2, 2};
  ASSERT_TRUE(BuildModelBatchRequest(h, periods, rho, seeds.back()));
  auto memory = std::make_unique<SamplerMemory>();
  auto buffer = std::make_unique<unsigned char[]>(kMaxItems * kReplyEntrySize);
  std::mt19937 random(17);
  for (int trial = 0; trial < 3000; ++trial) {
    PipeRequest request = seeds[random() % seeds.size()];
    for (int change = 0, changes = 1 + random() % 8; change < changes; ++change) {
      const uint32_t word = random() % 3 == 0 ? random() % 64 : random();
      if (random() % 2 == 0) {
        std::memcpy(request.moduleData + 4 * (random() % 380), &word, 4);
      } else {
        request.items[random() % kMaxItems] = word;
      }
    }
    if (random() % 8 == 0) request.itemCount = static_cast<int32_t>(random() % 600) - 100;
    sounding::ComputeShare(nullptr, memory.get(), request, buffer.get());
  }
  for (const PipeRequest& r : DataRequests(4, prior, true, data, 1)) {
    sounding::ComputeShare(nullptr, memory.get(), r, buffer.get());
  }
  PipeRequest steps;
  ASSERT_TRUE(BuildStepRequest(4, 1, 3, prior.maxLayers, chains, steps));
  PipeReply reply;
  sounding::ComputeShare(nullptr, memory.get(), steps, &reply.entries[0][0]);
  EXPECT_EQ(ReadStepReply(reply, prior.maxLayers, chains)[1].status, 0);
}

}  // namespace
}  // namespace vesk1::sounding::sampler
