// The sampler's served work: sampled models per second (chain steps, one forward run each)
// through vesk1_pipe with one worker and with two, for 1 to 100 steps per chain and request,
// and the same chains in this process on one thread. 16 chains (4 on each of 4 rungs, 1/T
// geometric from 1 to 0.01), at most 20 layers, on a 54-period sounding (10^-4 to 1 s) of a
// 16-layer earth with 1.5 % errors, which keeps the chains at 10 to 12 layers on average
// (mean_layers); two step requests of 8 chains per round, temperatures of neighbouring rungs
// exchanged between rounds. One step per request is the traffic of a client that keeps the
// chains itself and sends each proposal for its misfit.
//
// BM_SamplerThroughClient is vesk1_client sample's own run (mt/sampler.h over the client's
// chain engine, client/pipe/sampler_engine.h) with its defaults on the same sounding and prior:
// 4 chains x 4 temperatures (1 to 100), 20 steps per request (the default --thin; 50 to see
// what fewer requests give), burn-in tuning, exchanges and thinning, each run started from the
// prior. mean_layers is over every walker after every round. BM_SamplerTwoWorkersOverOne runs
// the same in turn on a one-worker and a two-worker server and gives the median ratio of the
// pairs; BM_SamplerSplitBalance gives what two workers could reach on the jobs alone.
//
//   build/release/bin/sampler_bench
//   build/release/bin/sampler_bench --benchmark_filter=ThroughClient     # the client's run only
//   build/release/bin/sampler_bench --benchmark_filter=TwoWorkersOverOne # two workers over one
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <functional>
#include <initializer_list>
#include <memory>
#include <vector>

#include "bench_server.h"
#include "client/pipe/sampler_engine.h"
#include "common/sampler_request.h"
#include "mt/sampler.h"
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

// The 16-layer earth's sounding with errors of `rhoError` in log10 apparent resistivity and
// `phaseError` degrees.
std::vector<sp::DataPoint> Sounding(double rhoError = 0.0065, double phaseError = 0.43) {
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
    data.push_back({periods[i], static_cast<float>(r.resistivity[i]),
                    static_cast<float>(1.0 / rhoError), static_cast<float>(r.phase[i]),
                    static_cast<float>(1.0 / phaseError)});
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

// Whether every server came up; otherwise the benchmark is skipped, saying so.
bool Started(std::initializer_list<vesk1::bench::BenchServer*> servers, benchmark::State& state) {
  for (vesk1::bench::BenchServer* server : servers) {
    if (!server->Connected()) {
      state.SkipWithError("vesk1_pipe did not start");
      return false;
    }
  }
  return true;
}

void BM_SamplerThroughServer(benchmark::State& state) {
  const int workers = static_cast<int>(state.range(0));
  vesk1::bench::BenchServer server(workers);
  if (!Started({&server}, state)) return;
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

// The client's engine, counting the walkers' layers after every round.
class CountingEngine : public vesk1::client::ServerChainEngine {
 public:
  using ServerChainEngine::ServerChainEngine;
  bool Advance(std::vector<vesk1::mt::Walker>& walkers, int steps, std::string& error) override {
    if (!ServerChainEngine::Advance(walkers, steps, error)) return false;
    for (const vesk1::mt::Walker& w : walkers) layers += w.model.layers;
    models += static_cast<double>(walkers.size());
    return true;
  }
  double layers = 0, models = 0;
};

// Runs of 5000 steps per walker, from the prior, with errors of 3.5 % of |Z| (7 % in apparent
// resistivity, 0.035 rad in phase), which keep the walkers at 11 to 12 layers on average: with
// the tighter errors of the request benchmarks a run this short would spend itself adding
// layers toward the most the prior allows (16 on average).
constexpr long kClientSteps = 5000;
constexpr double kClientRhoError = 0.0304007, kClientPhaseError = 2.00535;

// The client's problem: the sounding and prior of the request benchmarks.
vesk1::mt::SamplerProblem ClientProblem() {
  vesk1::mt::SamplerProblem problem;
  problem.prior = {kPrior.maxLayers, kPrior.minLog10Depth, kPrior.maxLog10Depth, kPrior.minLog10Rho,
                   kPrior.maxLog10Rho};
  const std::vector<sp::DataPoint> data = Sounding(kClientRhoError, kClientPhaseError);
  const size_t n = data.size();
  problem.data.value.resize(2 * n);
  problem.data.error.resize(2 * n);
  for (size_t i = 0; i < n; ++i) {
    problem.periods.push_back(data[i].period);
    problem.data.value[i] = data[i].log10Rho;
    problem.data.error[i] = 1.0 / data[i].log10RhoWeight;
    problem.data.value[n + i] = data[i].phase;
    problem.data.error[n + i] = 1.0 / data[i].phaseWeight;
  }
  return problem;
}

// The client's defaults with runs of kClientSteps, a quarter of them burn-in, and `thin` steps
// per request.
vesk1::mt::SamplerOptions ClientOptions(int thin) {
  vesk1::mt::SamplerOptions options;
  options.steps = kClientSteps;
  options.burnIn = kClientSteps / 4;
  options.thin = thin;
  return options;
}

void BM_SamplerThroughClient(benchmark::State& state) {
  const int workers = static_cast<int>(state.range(0));
  vesk1::bench::BenchServer server(workers);
  if (!Started({&server}, state)) return;
  const vesk1::mt::SamplerProblem problem = ClientProblem();
  const vesk1::mt::SamplerOptions options = ClientOptions(static_cast<int>(state.range(1)));
  CountingEngine engine(server.Connection(), 30000, kSeed);
  long long runs = 0;
  for (auto _ : state) {
    const vesk1::mt::SamplerResult r = vesk1::mt::RunSampler(problem, engine, options, nullptr);
    if (!r.error.empty()) {
      state.SkipWithError(r.error.c_str());
      return;
    }
    runs += r.last.forwardRuns;
  }
  state.counters["models_per_s"] =
      benchmark::Counter(static_cast<double>(runs), benchmark::Counter::kIsRate);
  state.counters["mean_layers"] = engine.models > 0 ? engine.layers / engine.models : 0.0;
  state.counters["workers"] = workers;
  // The share of the wall time the server spent on the jobs themselves: the rest is the
  // requests' travel and the client's own work between rounds.
  state.counters["server_ms_per_request"] =
      engine.requests() > 0 ? engine.serverMilliseconds() / engine.requests() : 0.0;
  state.counters["requests"] = engine.requests();
}
BENCHMARK(BM_SamplerThroughClient)
    ->ArgsProduct({{1, 2}, {20, 50}})
    ->ArgNames({"workers", "thin"})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(3.0);

// Two workers over one, as the median of the ratios of runs taken in turn on a one-worker and a
// two-worker server, both started at once: on a machine whose speed drifts from one second to
// the next (a virtual one), each ratio compares runs a fraction of a second apart.
void BM_SamplerTwoWorkersOverOne(benchmark::State& state) {
  vesk1::bench::BenchServer one(1), two(2);
  if (!Started({&one, &two}, state)) return;
  const vesk1::mt::SamplerProblem problem = ClientProblem();
  const vesk1::mt::SamplerOptions options = ClientOptions(static_cast<int>(state.range(0)));
  vesk1::client::ServerChainEngine engineOne(one.Connection(), 30000, kSeed);
  vesk1::client::ServerChainEngine engineTwo(two.Connection(), 30000, kSeed);
  std::vector<double> ratios;
  double secondsOne = 0, secondsTwo = 0;
  long long runs = 0;
  for (auto _ : state) {
    double took[2];
    vesk1::client::ServerChainEngine* engines[2] = {&engineOne, &engineTwo};
    for (int e = 0; e < 2; ++e) {
      const auto start = std::chrono::steady_clock::now();
      const vesk1::mt::SamplerResult r =
          vesk1::mt::RunSampler(problem, *engines[e], options, nullptr);
      took[e] = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      if (!r.error.empty()) {
        state.SkipWithError(r.error.c_str());
        return;
      }
      if (e == 0) runs += r.last.forwardRuns;
    }
    secondsOne += took[0];
    secondsTwo += took[1];
    ratios.push_back(took[0] / took[1]);
  }
  std::sort(ratios.begin(), ratios.end());
  state.counters["two_over_one"] = ratios[ratios.size() / 2];
  state.counters["one_models_per_s"] = static_cast<double>(runs) / secondsOne;
  state.counters["two_models_per_s"] = static_cast<double>(runs) / secondsTwo;
}
BENCHMARK(BM_SamplerTwoWorkersOverOne)
    ->Arg(20)
    ->Arg(50)
    ->ArgName("thin")
    ->Iterations(25)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// The client's run in this process with every request split in two as two workers would take
// it, each half timed: balance is the speedup two workers could reach over one on the jobs
// alone (the sum of both halves' times over the longer's), whatever the round trips cost.
class SplitTimingEngine : public vesk1::client::RequestChainEngine {
 public:
  using RequestChainEngine::RequestChainEngine;
  double whole = 0, longer = 0;

 protected:
  bool Exchange(const PipeRequest& request, PipeReply& reply, std::string&) override {
    const int count = request.itemCount, half = (count + 1) / 2;
    double took[2] = {0, 0};
    for (int h = 0; h < 2; ++h) {
      const int first = h == 0 ? 0 : half, items = h == 0 ? half : count - half;
      if (items == 0) continue;
      PipeRequest job = request;
      std::memmove(job.items, request.items + first, static_cast<size_t>(items) * 4);
      job.itemCount = items;
      const auto start = std::chrono::steady_clock::now();
      ComputeShare(nullptr, memory_[h].get(), job, &reply.entries[first][0]);
      took[h] = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    whole += took[0] + took[1];
    longer += std::max(took[0], took[1]);
    return true;
  }

 private:
  std::unique_ptr<sp::SamplerMemory> memory_[2] = {std::make_unique<sp::SamplerMemory>(),
                                                   std::make_unique<sp::SamplerMemory>()};
};

void BM_SamplerSplitBalance(benchmark::State& state) {
  const vesk1::mt::SamplerProblem problem = ClientProblem();
  const vesk1::mt::SamplerOptions options = ClientOptions(static_cast<int>(state.range(0)));
  SplitTimingEngine engine(kSeed);
  for (auto _ : state) {
    const vesk1::mt::SamplerResult r = vesk1::mt::RunSampler(problem, engine, options, nullptr);
    if (!r.error.empty()) {
      state.SkipWithError(r.error.c_str());
      return;
    }
  }
  state.counters["balance"] = engine.longer > 0 ? engine.whole / engine.longer : 0.0;
}
BENCHMARK(BM_SamplerSplitBalance)
    ->Arg(20)
    ->Arg(50)
    ->ArgName("thin")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
