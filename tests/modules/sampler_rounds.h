// A small client of the sampler's request kinds for the tests: eight chains on a three-layer
// sounding, taken through a few requests with temperature swaps between them, answered by
// whatever `exchange` stands for (module instances, or the real server).
#ifndef VESK1_TESTS_MODULES_SAMPLER_ROUNDS_H
#define VESK1_TESTS_MODULES_SAMPLER_ROUNDS_H

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <vector>

#include "common/sampler_request.h"
#include "response_engine.h"

namespace vesk1::test {

namespace sp = sounding::sampler;

inline constexpr sp::Prior kPrior{12, 0.5f, 5.0f, -1.0f, 5.0f};
inline constexpr uint64_t kSeed = 0x5EED0001;
inline constexpr int kRoundsItemCount = 8 * sp::EntriesPerChain(12);

// A three-layer earth (100 ohm-m to 600 m, 10 ohm-m to 2600 m, 1000 ohm-m below) at 54
// periods from 10^-4 to 10^3 s, with errors of 0.02 in log10 and 0.6 degrees, no noise.
inline std::vector<sp::DataPoint> ThreeLayerData() {
  std::vector<float> periods;
  for (int i = 0; i < 54; ++i)
    periods.push_back(static_cast<float>(std::pow(10.0, -4 + 7 * i / 53.0)));
  sounding::LayeredEarth earth;
  sounding::PeriodSet set;
  sounding::ResponseSet r;
  const std::vector<float> rho{2.0f, 1.0f, 3.0f}, h{600.0f, 2000.0f};
  EXPECT_TRUE(sounding::EarthFromLog10Resistivity(rho, h, earth) &&
              sounding::PeriodSetOf(periods, set));
  sounding::ComputeResponses(earth, set, sounding::ResistivityForm::kLog10, r);
  std::vector<sp::DataPoint> data;
  for (int i = 0; i < 54; ++i) {
    data.push_back({periods[i], static_cast<float>(r.resistivity[i]), 50.0f,
                    static_cast<float>(r.phase[i]), 1.0f / 0.6f});
  }
  return data;
}

// Eight chains on four rungs (1/T = 1, 0.46, 0.22, 0.1), started by the workers from the prior,
// the data sent with the step requests' item count, 6 requests of 25 steps, neighbouring chains'
// temperatures exchanged between requests: every chain's state after every request, the kept
// samples of the run. `swaps` counts the exchanges taken.
inline std::vector<sp::ChainState> SampleRounds(
    const std::function<PipeReply(const PipeRequest&)>& exchange, int* swaps = nullptr) {
  std::vector<sp::ChainSlot> chains(8);
  const float ladder[4] = {1.0f, 0.46f, 0.22f, 0.1f};
  for (uint32_t c = 0; c < 8; ++c) {
    chains[c].state.chain = c;  // 0 layers at step 0: the first request draws the start
    chains[c].controls = {ladder[c % 4], 0.2f, 0.3f, 0.5f};
  }
  for (const PipeRequest& r :
       sp::DataRequests(7, kPrior, true, ThreeLayerData(), kRoundsItemCount)) {
    EXPECT_EQ(sp::ReadDataAck(exchange(r), kRoundsItemCount - 1).readyId, 7u);
  }
  std::vector<sp::ChainState> kept;
  for (uint32_t round = 0; round < 6; ++round) {
    PipeRequest request;
    EXPECT_TRUE(sp::BuildStepRequest(7, kSeed, 25, kPrior.maxLayers, chains, request));
    EXPECT_EQ(request.itemCount, kRoundsItemCount);
    const std::vector<sp::ChainOutcome> out =
        sp::ReadStepReply(exchange(request), kPrior.maxLayers, chains);
    for (uint32_t c = 0; c < 8; ++c) {
      EXPECT_EQ(out[c].status, 0) << "chain " << c;
      chains[c].state = out[c].state;
      kept.push_back(out[c].state);
    }
    // Pairs (0, 1) and (2, 3) of each group of four in even rounds, (1, 2) in odd ones.
    for (uint32_t first = round % 2; first + 1 < 8; first += 2) {
      if (first % 4 == 3) continue;
      sp::ChainSlot& a = chains[first];
      sp::ChainSlot& b = chains[first + 1];
      if (sp::SwapAccepted(kSeed, round, first, a.controls.beta, out[first].misfit, b.controls.beta,
                           out[first + 1].misfit)) {
        std::swap(a.controls.beta, b.controls.beta);
        if (swaps != nullptr) ++*swaps;
      }
    }
  }
  return kept;
}

inline bool SameStates(const std::vector<sp::ChainState>& a, const std::vector<sp::ChainState>& b) {
  return a.size() == b.size() &&
         std::memcmp(a.data(), b.data(), a.size() * sizeof(sp::ChainState)) == 0;
}

}  // namespace vesk1::test

#endif  // VESK1_TESTS_MODULES_SAMPLER_ROUNDS_H
