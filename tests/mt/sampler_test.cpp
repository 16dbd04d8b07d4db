// The sampler's orchestration against a scripted engine: which temperatures and widths the
// walkers are given, which rungs exchange, what is kept, and what is refused.
#include "mt/sampler.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace vesk1::mt {
namespace {

// Takes no real steps: each walker keeps one layer whose log10 resistivity is its stream
// number and one interface at 100 m, moves `steps` steps on, reports a misfit of its stream
// number and `acceptedShare` of `steps` moves of each kind accepted. Records every call.
class ScriptedEngine : public ChainEngine {
 public:
  bool SetProblem(const SamplerProblem&, std::string&) override {
    ++problems;
    return true;
  }
  bool Advance(std::vector<Walker>& walkers, int steps, std::string& error) override {
    if (failAt == static_cast<int>(rounds.size())) {
      error = "no reply";
      return false;
    }
    rounds.push_back(walkers);
    for (Walker& w : walkers) {
      w.model.layers = 2;
      w.model.log10Depth[0] = 2.0f;
      w.model.log10Rho[0] = static_cast<float>(w.model.stream);
      w.model.step += static_cast<uint32_t>(steps);
      w.misfit = w.model.stream;
      w.bestMisfit = w.model.stream + 0.5;
      for (int m = 0; m < kMoveKinds; ++m) {
        w.proposed[static_cast<size_t>(m)] = steps;
        w.accepted[static_cast<size_t>(m)] = static_cast<int>(std::lround(acceptedShare * steps));
      }
    }
    return true;
  }
  bool SwapAccepted(uint32_t round, uint32_t pair, double betaA, double misfitA, double betaB,
                    double misfitB) override {
    offers.push_back({round, pair, betaA, misfitA, betaB, misfitB});
    return acceptSwaps;
  }

  struct Offer {
    uint32_t round, pair;
    double betaA, misfitA, betaB, misfitB;
  };
  double acceptedShare = 0.3;
  bool acceptSwaps = false;
  int failAt = -1;
  int problems = 0;
  std::vector<std::vector<Walker>> rounds;  // the walkers as each Advance got them
  std::vector<Offer> offers;
};

SamplerProblem SmallProblem() {
  SamplerProblem problem;
  problem.prior = {20, 1.0, 5.0, -1.0, 5.0};
  problem.periods = {0.1, 1.0};
  problem.data.value = {1.0, 1.0, 45.0, 45.0};
  problem.data.error = {0.05, 0.05, 1.0, 1.0};
  return problem;
}

SamplerOptions Rounds(int chains, int temperatures, long steps, long burnIn, int thin) {
  SamplerOptions o;
  o.chains = chains;
  o.temperatures = temperatures;
  o.steps = steps;
  o.burnIn = burnIn;
  o.thin = thin;
  return o;
}

TEST(RunSampler_Ladder, TemperaturesGeometricFromOneToTheHottestOnEveryLadder) {
  ScriptedEngine engine;
  const SamplerResult r = RunSampler(SmallProblem(), engine, Rounds(2, 4, 10, 0, 10), nullptr);
  ASSERT_EQ(r.error, "");
  ASSERT_EQ(engine.rounds.size(), 1u);
  const std::vector<Walker>& w = engine.rounds[0];
  ASSERT_EQ(w.size(), 8u);
  const float betas[4] = {1.0f, static_cast<float>(1 / std::pow(100.0, 1 / 3.0)),
                          static_cast<float>(1 / std::pow(100.0, 2 / 3.0)), 0.01f};
  for (size_t k = 0; k < w.size(); ++k) {
    EXPECT_EQ(w[k].model.stream, k);
    EXPECT_EQ(w[k].model.layers, 0) << "walkers start unstarted, at step 0";
    EXPECT_FLOAT_EQ(w[k].beta, betas[k % 4]) << "walker " << k;
    // A tenth of each range to start with; births never narrower than a sixth of the range.
    EXPECT_FLOAT_EQ(w[k].depthWidth, 0.4f);
    EXPECT_FLOAT_EQ(w[k].rhoWidth, 0.6f);
    EXPECT_FLOAT_EQ(w[k].birthWidth, 1.0f);
  }
  EXPECT_EQ(engine.problems, 1);
}

// One ladder of three rungs, every exchange taken: round 0 offers (0, 1), round 1 (1, 2), and
// so on. The walker kept each round is the one on rung 0 during it.
TEST(RunSampler_Exchanges, EvenPairsInEvenRoundsOddInOddAndTheColdWalkerKept) {
  ScriptedEngine engine;
  engine.acceptSwaps = true;
  const SamplerResult r = RunSampler(SmallProblem(), engine, Rounds(1, 3, 4, 0, 1), nullptr);
  ASSERT_EQ(r.error, "");
  ASSERT_EQ(engine.offers.size(), 4u);
  const uint32_t pairs[4] = {0, 1, 0, 1};
  for (uint32_t k = 0; k < 4; ++k) {
    EXPECT_EQ(engine.offers[k].round, k);
    EXPECT_EQ(engine.offers[k].pair, pairs[k]);
    EXPECT_GT(engine.offers[k].betaA, engine.offers[k].betaB) << "the colder rung first";
  }
  // Round 1 offers rungs 1 and 2, held by walkers 0 and 2 after round 0's exchange.
  EXPECT_EQ(engine.offers[1].misfitA, 0.0);
  EXPECT_EQ(engine.offers[1].misfitB, 2.0);
  // Rung 0 holds walkers 0, 1, 1, 2 in rounds 0 to 3.
  ASSERT_EQ(r.chains.size(), 1u);
  const float kept[4] = {0, 1, 1, 2};
  ASSERT_EQ(r.chains[0].size(), 4u);
  for (size_t k = 0; k < 4; ++k) {
    EXPECT_EQ(r.chains[0][k].log10Rho.front(), kept[k]) << "round " << k;
    EXPECT_EQ(r.chains[0][k].step, k + 1);
  }
  EXPECT_EQ(engine.rounds[1][1].beta, 1.0f) << "walker 1 takes rung 0's temperature";
  EXPECT_EQ(r.last.swapsOffered, 4);
  EXPECT_EQ(r.last.swapsTaken, 4);
}

TEST(RunSampler_Exchanges, PairsNamedByLadderAndRung) {
  ScriptedEngine engine;
  RunSampler(SmallProblem(), engine, Rounds(2, 3, 2, 0, 1), nullptr);
  ASSERT_EQ(engine.offers.size(), 4u);
  EXPECT_EQ(engine.offers[0].pair, 0u);
  EXPECT_EQ(engine.offers[1].pair, 3u);
  EXPECT_EQ(engine.offers[2].pair, 1u);
  EXPECT_EQ(engine.offers[3].pair, 4u);
}

// Ten rounds of burn-in tune twice (every five rounds); the widths then stay as they are.
TEST(RunSampler_Tuning, WidthsFollowTheAcceptanceDuringBurnInThenStay) {
  struct Row {
    double accepted;
    double factor;  // on the move and change widths after burn-in
  };
  const Row rows[] = {{0.1, 1 / 1.44}, {0.24, 1 / 1.44}, {0.3, 1.0}, {0.34, 1.44}, {0.5, 1.44}};
  for (const Row& row : rows) {
    ScriptedEngine engine;
    engine.acceptedShare = row.accepted;
    const SamplerResult r =
        RunSampler(SmallProblem(), engine, Rounds(1, 2, 1500, 1000, 100), nullptr);
    ASSERT_EQ(r.error, "");
    ASSERT_EQ(engine.rounds.size(), 15u);
    for (size_t round : {size_t{10}, size_t{14}}) {
      const Walker& w = engine.rounds[round][0];
      EXPECT_FLOAT_EQ(w.depthWidth, static_cast<float>(0.4 * row.factor)) << row.accepted;
      EXPECT_FLOAT_EQ(w.rhoWidth, static_cast<float>(0.6 * row.factor)) << row.accepted;
      EXPECT_FLOAT_EQ(w.birthWidth, 1.0f) << row.accepted;
    }
    EXPECT_FLOAT_EQ(engine.rounds[5][0].rhoWidth, static_cast<float>(0.6 * std::sqrt(row.factor)));
    ASSERT_EQ(r.rungs.size(), 2u);
    EXPECT_FLOAT_EQ(r.rungs[1].rhoWidth, static_cast<float>(0.6 * row.factor));
  }
}

TEST(RunSampler_Tuning, WidthsStayWithinTheirRange) {
  ScriptedEngine engine;
  engine.acceptedShare = 1.0;
  const SamplerResult r = RunSampler(SmallProblem(), engine, Rounds(1, 1, 200, 199, 1), nullptr);
  ASSERT_EQ(r.rungs.size(), 1u);
  EXPECT_FLOAT_EQ(r.rungs[0].depthWidth, 4.0f);
  EXPECT_FLOAT_EQ(r.rungs[0].rhoWidth, 6.0f);
  EXPECT_FLOAT_EQ(r.rungs[0].birthWidth, 6.0f);
  engine.acceptedShare = 0.0;
  EXPECT_FLOAT_EQ(
      RunSampler(SmallProblem(), engine, Rounds(1, 1, 200, 199, 1), nullptr).rungs[0].rhoWidth,
      0.001f);
}

// 95 steps in rounds of 10 are 10 rounds (100 steps); a burn-in of 20 steps takes two of them.
TEST(RunSampler_Thinning, OneSamplePerLadderAndRoundAfterBurnIn) {
  ScriptedEngine engine;
  std::vector<SamplerProgress> seen;
  const SamplerResult r = RunSampler(SmallProblem(), engine, Rounds(3, 2, 95, 20, 10),
                                     [&](const SamplerProgress& p) { seen.push_back(p); });
  ASSERT_EQ(r.error, "");
  ASSERT_EQ(r.chains.size(), 3u);
  for (const std::vector<SampledEarth>& chain : r.chains) {
    ASSERT_EQ(chain.size(), 8u);
    EXPECT_EQ(chain.front().step, 30u);
    EXPECT_EQ(chain.back().step, 100u);
    EXPECT_EQ(chain.front().depth, std::vector<double>{100.0});
  }
  EXPECT_EQ(r.chains[2][0].misfit, 4.0);
  ASSERT_EQ(seen.size(), 10u);
  EXPECT_TRUE(seen[1].burningIn);
  EXPECT_FALSE(seen[2].burningIn);
  EXPECT_EQ(seen[9].stepsDone, 100);
  EXPECT_EQ(seen[9].stepsTotal, 100);
  EXPECT_EQ(seen[9].forwardRuns, 600);
  // The tallies start afresh with the sampling: eight rounds of three cold walkers.
  EXPECT_EQ(seen[9].coldMoves.proposed[kBirth], 240);
  EXPECT_EQ(seen[9].coldMoves.accepted[kChange], 72);
  EXPECT_EQ(seen[9].swapsOffered, 12);  // rungs (0, 1) in the even rounds 2 to 8
  EXPECT_EQ(seen[9].bestMisfit, 0.5);
}

TEST(RunSampler_EngineFails, StopsWithItsError) {
  ScriptedEngine engine;
  engine.failAt = 3;
  const SamplerResult r = RunSampler(SmallProblem(), engine, Rounds(1, 1, 10, 0, 1), nullptr);
  EXPECT_EQ(r.error, "no reply");
  EXPECT_EQ(engine.rounds.size(), 3u);
}

TEST(CheckSampler_OneBadValue, SaysWhat) {
  struct Case {
    void (*spoil)(SamplerProblem&, SamplerOptions&);
    const char* message;
  };
  const Case cases[] = {
      {[](SamplerProblem& p, SamplerOptions&) { p.prior.maxLayers = 64; },
       "the most layers must be 1 to 63"},
      {[](SamplerProblem& p, SamplerOptions&) { p.prior.maxLayers = 0; },
       "the most layers must be 1 to 63"},
      {[](SamplerProblem& p, SamplerOptions&) { p.prior.maxLog10Depth = 1.0; },
       "the depth range must be two depths, the shallower first"},
      {[](SamplerProblem& p, SamplerOptions&) { p.prior.minLog10Rho = NAN; },
       "the resistivity range must be two resistivities, the lower first"},
      {[](SamplerProblem& p, SamplerOptions&) { p.periods.clear(); },
       "the sounding has no used points"},
      {[](SamplerProblem&, SamplerOptions& o) { o.chains = 65; }, "the chains must number 1 to 64"},
      {[](SamplerProblem&, SamplerOptions& o) { o.temperatures = 0; },
       "the temperatures must number 1 to 16"},
      {[](SamplerProblem&, SamplerOptions& o) {
         o.chains = 17;
         o.temperatures = 16;
       },
       "chains x temperatures must be at most 256"},
      {[](SamplerProblem&, SamplerOptions& o) { o.hottest = 0.5; },
       "the hottest temperature must be 1 to 1e6"},
      {[](SamplerProblem&, SamplerOptions& o) { o.thin = 4097; },
       "the thinning must be 1 to 4096 steps"},
      {[](SamplerProblem&, SamplerOptions& o) { o.steps = 0; },
       "the steps must number 1 to 100000000"},
      {[](SamplerProblem&, SamplerOptions& o) { o.burnIn = o.steps; },
       "the burn-in must be shorter than the steps"},
      {[](SamplerProblem&, SamplerOptions& o) {
         o.steps = 100;
         o.burnIn = 90;
         o.thin = 20;
       },
       "no samples would be kept: sample longer after the burn-in"},
      {[](SamplerProblem&, SamplerOptions& o) {
         o.steps = 100000000;
         o.thin = 1;
       },
       "more than 2000000 samples would be kept: thin more"},
  };
  SamplerProblem good = SmallProblem();
  SamplerOptions fine;
  ASSERT_EQ(CheckSampler(good, fine), "");
  for (const Case& c : cases) {
    SamplerProblem p = good;
    SamplerOptions o = fine;
    c.spoil(p, o);
    EXPECT_EQ(CheckSampler(p, o), c.message);
    ScriptedEngine engine;
    EXPECT_EQ(RunSampler(p, engine, o, nullptr).error, c.message);
    EXPECT_EQ(engine.problems, 0);
  }
}

}  // namespace
}  // namespace vesk1::mt
