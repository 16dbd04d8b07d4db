// The sampler's served work: sampled models per second (chain steps, one forward run each)
// through vesk1_pipe with one worker and with two, for 1 to 100 steps per chain and request,
// and the same chains in this process on one thread. 16 chains (4 on each of 4 rungs, 1/T
// geometric from 1 to 0.01), at most 20 layers, on a 54-period sounding (10^-4 to 1 s) of a
// 16-layer earth with 1.5 % errors, which keeps the chains at 10 to 12 layers on average
// (mean_layers); two step requests of 8 chains per round, temperatures of neighbouring rungs
// exchanged between rounds. One step per request is the traffic of a client that keeps the
// chains itself and sends each proposal for its misfit.
//
//   build/release/bin/sampler_bench
#include <benchmark/benchmark.h>

#include <cmath>
#include <functional>
#include <memory>
#include <vector>

#include "bench_server.h"
#include "common/sampler_request.h"
#include "response_engine.h"
#include "sampler_memory.h"
#include "sounding.h"

namespace {

using namespace vesk1::sounding;
namespace sp = vesk1::sounding::sampler;

constexpr int kMaxLayers = 20;
constexpr int kRungs = 4;
constexpr int kChains = 4 * kRungs;
constexpr int kPerRequest = 8;
constexpr uint32_t kDataId = 1;
constexpr uint64_t kSeed = 2024;
constexpr sp::Prior kPrior{kMaxLayers, 1.0f, 4.5f, -1.0f, 5.0f};

std::vector<sp::DataPoint> Sounding() {
  std::vector<float> rho, thickness, periods;
  for (int j = 0; j < 16; ++j) {
    rho.push_back(j % 2 == 0 ? 3.0f : 0.5f);
    if (j < 15) thickness.push_back(static_cast<float>(20.0 * std::pow(1.4, j)));
  }
  for (int i = 0; i < 54; ++i)
    periods.push_back(static_cast<float>(std::pow(10.0, -4 + 4 * i / 53.0)));
  LayeredEarth earth;
  PeriodSet set;
  ResponseSet r;
  EarthFromLog10Resistivity(rho, thickness, earth);
  PeriodSetOf(periods, set);
  ComputeResponses(earth, set, ResistivityForm::kLog10, r);
  std::vector<sp::DataPoint> data;
  for (int i = 0; i < 54; ++i) {
    data.push_back({periods[i], static_cast<float>(r.resistivity[i]), 1.0f / 0.0065f,
                    static_cast<float>(r.phase[i]), 1.0f / 0.43f});
  }
  return data;
}

using Exchange = std::function<bool(const PipeRequest&, PipeReply&)>;

// The chains as a client keeps them, and one round of requests and swaps.
class Chains {
 public:
  Chains() {
    for (uint32_t c = 0; c < kChains; ++c) {
      const int rung = static_cast<int>(c % kRungs);
      const auto beta = static_cast<float>(std::pow(0.01, rung / (kRungs - 1.0)));
      slots_[c] = {sp::DrawFromPrior(kPrior, kSeed, c), {beta, 0.15f, 0.25f, 0.4f}};
    }
  }

  bool SendData(const Exchange& exchange) {
    PipeReply reply;
    for (const PipeRequest& r : sp::DataRequests(kDataId, kPrior, true, Sounding(),
                                                 kPerRequest * sp::EntriesPerChain(kMaxLayers))) {
      if (!exchange(r, reply)) return false;
    }
    return sp::ReadDataAck(reply, 0).readyId == kDataId;
  }

  bool Round(const Exchange& exchange, int steps) {
    for (int first = 0; first < kChains; first += kPerRequest) {
      const std::span<sp::ChainSlot> group(slots_ + first, kPerRequest);
      PipeRequest request;
      PipeReply reply;
      if (!sp::BuildStepRequest(kDataId, kSeed, steps, kMaxLayers, group, request) ||
          !exchange(request, reply)) {
        return false;
      }
      const std::vector<sp::ChainOutcome> out = sp::ReadStepReply(reply, kMaxLayers, group);
      for (int c = 0; c < kPerRequest; ++c) {
        if (out[c].status != 0) return false;
        group[c].state = out[c].state;
        misfit_[first + c] = out[c].misfit;
        layers_ += out[c].state.layers;
        ++kept_;
      }
    }
    // Exchange temperatures of neighbouring rungs, even pairs in even rounds, odd in odd.
    for (int chain = 0; chain < 4; ++chain) {
      for (int rung = static_cast<int>(round_ % 2); rung + 1 < kRungs; rung += 2) {
        sp::ChainSlot* a = AtRung(chain, rung);
        sp::ChainSlot* b = AtRung(chain, rung + 1);
        if (sp::SwapAccepted(kSeed, round_, static_cast<uint32_t>(chain * kRungs + rung),
                             a->controls.beta, misfit_[a - slots_], b->controls.beta,
                             misfit_[b - slots_])) {
          std::swap(a->controls, b->controls);
        }
      }
    }
    ++round_;
    return true;
  }

  double MeanLayers() const { return kept_ > 0 ? layers_ / kept_ : 0.0; }
  void ResetCounts() { layers_ = kept_ = 0; }

 private:
  // The chain of group `chain` that now holds rung `rung`'s temperature.
  sp::ChainSlot* AtRung(int chain, int rung) {
    const auto beta = static_cast<float>(std::pow(0.01, rung / (kRungs - 1.0)));
    for (int c = chain * kRungs; c < (chain + 1) * kRungs; ++c) {
      if (slots_[c].controls.beta == beta) return &slots_[c];
    }
    return &slots_[chain * kRungs];
  }

  sp::ChainSlot slots_[kChains];
  double misfit_[kChains] = {};
  uint32_t round_ = 0;
  double layers_ = 0, kept_ = 0;
};

// The chains are burnt in here, in this process, before timing (the same functions the workers
// run, so the states are those the server would reach), until their layer counts are the
// posterior's.
constexpr int kBurnInSteps = 30000;
constexpr int kBurnInStepsPerRound = 100;

Exchange InProcess(sp::SamplerMemory& memory) {
  return [&memory](const PipeRequest& q, PipeReply& r) {
    ComputeShare(nullptr, &memory, q, &r.entries[0][0]);
    return true;
  };
}

void Measure(benchmark::State& state, const Exchange& exchange, int steps) {
  Chains chains;
  auto memory = std::make_unique<sp::SamplerMemory>();
  chains.SendData(InProcess(*memory));
  for (int done = 0; done < kBurnInSteps; done += kBurnInStepsPerRound) {
    chains.Round(InProcess(*memory), kBurnInStepsPerRound);
  }
  chains.ResetCounts();
  if (!chains.SendData(exchange)) {
    state.SkipWithError("the data set did not reach the workers");
    return;
  }
  for (auto _ : state) {
    if (!chains.Round(exchange, steps)) {
      state.SkipWithError("a round failed");
      return;
    }
  }
  state.counters["models_per_s"] = benchmark::Counter(
      static_cast<double>(state.iterations()) * kChains * steps, benchmark::Counter::kIsRate);
  state.counters["mean_layers"] = chains.MeanLayers();
}

void BM_SamplerThroughServer(benchmark::State& state) {
  const int workers = static_cast<int>(state.range(0));
  vesk1::bench::BenchServer server(workers);
  if (!server.Connected()) {
    state.SkipWithError("vesk1_pipe did not start");
    return;
  }
  Measure(
      state, [&](const PipeRequest& q, PipeReply& r) { return server.Exchange(q, r); },
      static_cast<int>(state.range(1)));
  state.counters["workers"] = workers;
}
BENCHMARK(BM_SamplerThroughServer)
    ->ArgsProduct({{1, 2}, {1, 5, 25, 100}})
    ->ArgNames({"workers", "steps"})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_SamplerInProcess(benchmark::State& state) {
  auto memory = std::make_unique<sp::SamplerMemory>();
  Measure(state, InProcess(*memory), static_cast<int>(state.range(0)));
}
BENCHMARK(BM_SamplerInProcess)
    ->Arg(25)
    ->ArgName("steps")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
