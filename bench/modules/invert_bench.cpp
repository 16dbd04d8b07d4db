// Occam's inversion of a 40-period sounding with 50 layers to RMS 1 through vesk1_pipe: the
// whole inversion's wall time and, per iteration, the time in forward runs, in sensitivities
// and in solves, with the server limited to one worker and with two (one per processor of this
// machine); the same for the shipped example as vesk1_client invert runs it. One Jacobian of 40
// periods by 50 layers alone shows the workers sharing it.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "bench_server.h"
#include "client/fdll_solver.h"
#include "client/input_file.h"
#include "client/pipe/server_engine.h"
#include "common/fdll_loader.h"
#include "in_process_engine.h"
#include "mt/mesh.h"
#include "mt/occam.h"
#include "mt/readers/readers.h"
#include "mt/sounding.h"

namespace {

using namespace vesk1;

const common::LoadedFdll& Fdll() {
  static const common::LoadedFdll fdll =
      common::LoadFdllFile(std::string(VESK1_FDLL_DIR) + "/vesk1_fdll.so");
  return fdll;
}

std::vector<double> Periods() {
  std::vector<double> periods;
  for (int i = 0; i < 40; ++i) periods.push_back(0.001 * std::pow(1e7, i / 39.0));
  return periods;
}

// The main job's three-layer earth (100 ohm-m to 500 m, 10 ohm-m to 2500 m, 1000 ohm-m below)
// at 40 periods with noise of 0.7 of the 5% error floor, from a fixed seed.
const mt::Sounding& Data() {
  static const mt::Sounding data = [] {
    const std::vector<double> periods = Periods();
    test::InProcessEngine engine(Fdll().recur, periods, {500, 2000});
    std::vector<double> rho, phase;
    std::string error;
    engine.Responses({2.0, 1.0, 3.0}, rho, phase, error);
    std::mt19937 random(14);
    auto gauss = [&] {
      const double u1 = (random() + 1.0) / 4294967297.0, u2 = random() / 4294967296.0;
      return std::sqrt(-2 * std::log(u1)) * std::cos(6.283185307179586 * u2);
    };
    mt::Sounding s;
    for (size_t i = 0; i < periods.size(); ++i) {
      const double r = std::pow(10.0, rho[i]) * (1 + 0.07 * gauss());
      s.points.push_back({periods[i], r, phase[i] + 0.035 * gauss() * 57.29577951308232, 0.1 * r,
                          0.05 * 57.29577951308232});
    }
    return s;
  }();
  return data;
}

// A smooth 50-layer model to take the Jacobian at.
std::vector<double> JacobianModel() {
  std::vector<double> model(50);
  for (int j = 0; j < 50; ++j) model[static_cast<size_t>(j)] = 2.0 + std::sin(j / 5.0);
  return model;
}

void BM_InvertThroughServer(benchmark::State& state) {
  if (Fdll().factor == nullptr) {
    state.SkipWithError(Fdll().error.c_str());
    return;
  }
  bench::BenchServer server(static_cast<int>(state.range(0)));
  if (!server.Connected()) {
    state.SkipWithError("vesk1_pipe did not start");
    return;
  }
  const mt::Sounding& data = Data();
  const std::vector<double> thickness = mt::MeshForSounding(data, 50);
  const mt::FitData fit = mt::FitDataOf(data);
  mt::OccamOptions options;
  options.startLog10Rho = 2.0;
  double iterations = 0, forward = 0, sensitivities = 0, solves = 0, runs = 0, rms = 0;
  for (auto _ : state) {
    client::ServerEngine engine(server.Connection(), 30000, Periods(), thickness);
    client::FdllSolver solver(Fdll().factor);
    const mt::OccamResult result = mt::RunOccam(
        fit, 50, engine, solver, options, [](const mt::IterationReport&) {},
        [](const std::string&) {});
    if (!result.error.empty() || !result.reachedTarget) {
      state.SkipWithError(("the inversion failed: " + result.error).c_str());
      return;
    }
    for (const mt::IterationReport& r : result.iterations) {
      forward += r.forwardSeconds;
      sensitivities += r.sensitivitySeconds;
      solves += r.solveSeconds;
      runs += r.forwardRuns;
    }
    iterations += static_cast<double>(result.iterations.size());
    rms = result.rms;
  }
  state.counters["workers"] = static_cast<double>(state.range(0));
  state.counters["iterations"] = iterations / static_cast<double>(state.iterations());
  state.counters["rms"] = rms;
  state.counters["fwd_ms_per_it"] = 1e3 * forward / iterations;
  state.counters["sens_ms_per_it"] = 1e3 * sensitivities / iterations;
  state.counters["solve_ms_per_it"] = 1e3 * solves / iterations;
  state.counters["fwd_runs_per_it"] = runs / iterations;
}
BENCHMARK(BM_InvertThroughServer)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

// The shipped example, examples/measured_site.edi, inverted as vesk1_client invert does (the
// same mesh, start and target), through the server with one worker and with two, the trial
// models in batches (second argument 1) or one request each (0, as before the batches): the
// whole inversion's wall time, and per inversion the time in forward runs, sensitivities and
// solves.
void BM_InvertExample(benchmark::State& state) {
  if (Fdll().factor == nullptr) {
    state.SkipWithError(Fdll().error.c_str());
    return;
  }
  const mt::ReadResult example =
      client::ReadSoundingFile(VESK1_EXAMPLES_DIR "/measured_site.edi", mt::ReadOptions());
  if (!example.error.empty()) {
    state.SkipWithError(example.error.c_str());
    return;
  }
  bench::BenchServer server(static_cast<int>(state.range(0)));
  if (!server.Connected()) {
    state.SkipWithError("vesk1_pipe did not start");
    return;
  }
  const int layers = 50;
  const std::vector<double> thickness = mt::MeshForSounding(example.sounding, layers);
  std::vector<double> periods;
  for (const mt::MeasuredPoint& p : mt::UsedPoints(example.sounding)) periods.push_back(p.period);
  const mt::FitData fit = mt::FitDataOf(example.sounding);
  mt::OccamOptions options;
  options.startLog10Rho = mt::MeanLog10Resistivity(example.sounding);
  double forward = 0, sensitivities = 0, solves = 0, requests = 0, iterations = 0, rms = 0;
  for (auto _ : state) {
    client::ServerEngine engine(server.Connection(), 30000, periods, thickness);
    engine.UseBatches(state.range(1) != 0);
    client::FdllSolver solver(Fdll().factor);
    const mt::OccamResult result = mt::RunOccam(
        fit, layers, engine, solver, options, [](const mt::IterationReport&) {},
        [](const std::string&) {});
    if (!result.error.empty() || !result.reachedTarget) {
      state.SkipWithError(("the inversion failed: " + result.error).c_str());
      return;
    }
    for (const mt::IterationReport& r : result.iterations) {
      forward += r.forwardSeconds;
      sensitivities += r.sensitivitySeconds;
      solves += r.solveSeconds;
    }
    requests += engine.requests();
    iterations += static_cast<double>(result.iterations.size());
    rms = result.rms;
  }
  const double runs = static_cast<double>(state.iterations());
  state.counters["workers"] = static_cast<double>(state.range(0));
  state.counters["batches"] = static_cast<double>(state.range(1));
  state.counters["iterations"] = iterations / runs;
  state.counters["requests"] = requests / runs;
  state.counters["rms"] = rms;
  state.counters["fwd_ms"] = 1e3 * forward / runs;
  state.counters["sens_ms"] = 1e3 * sensitivities / runs;
  state.counters["solve_ms"] = 1e3 * solves / runs;
}
BENCHMARK(BM_InvertExample)
    ->Args({1, 0})
    ->Args({2, 0})
    ->Args({1, 1})
    ->Args({2, 1})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

bool TakeJacobians(benchmark::State& state, mt::ForwardEngine& engine,
                   const std::vector<double>& model) {
  std::vector<double> jacobian;
  std::string error;
  for (auto _ : state) {
    if (!engine.Sensitivities(model, jacobian, error)) {
      state.SkipWithError(error.c_str());
      return false;
    }
  }
  return true;
}

// The baseline: the same Jacobian computed in this process on one thread, the same requests
// answered by the module's code without a pipe.
void BM_SensitivitiesInProcess(benchmark::State& state) {
  const std::vector<double> thickness = mt::MeshForSounding(Data(), 50);
  const std::vector<double> model = JacobianModel();
  test::InProcessEngine engine(Fdll().recur, Periods(), thickness);
  TakeJacobians(state, engine, model);
}
BENCHMARK(BM_SensitivitiesInProcess)->Unit(benchmark::kMillisecond)->UseRealTime();

// One Jacobian, 2000 period-and-layer items in eight requests.
void BM_SensitivitiesThroughServer(benchmark::State& state) {
  bench::BenchServer server(static_cast<int>(state.range(0)));
  if (!server.Connected()) {
    state.SkipWithError("vesk1_pipe did not start");
    return;
  }
  const std::vector<double> thickness = mt::MeshForSounding(Data(), 50);
  const std::vector<double> model = JacobianModel();
  client::ServerEngine engine(server.Connection(), 30000, Periods(), thickness);
  if (!TakeJacobians(state, engine, model)) return;
  state.counters["workers"] = static_cast<double>(state.range(0));
  state.counters["server_ms"] =
      engine.serverMilliseconds() / static_cast<double>(state.iterations());
}
BENCHMARK(BM_SensitivitiesThroughServer)
    ->Arg(1)
    ->Arg(2)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
