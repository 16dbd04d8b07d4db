// The laterally constrained inversion of a profile through vesk1_pipe: 20, 40 and 60 stations
// of 40 periods on 40 layers to RMS 1, the server limited to two workers (and to one); the
// whole inversion's wall time, the server's share of it, and the time in forward runs,
// sensitivities and solves. Beside it one joint system of 20 to 60 stations solved block by
// block, as the inversion solves it, against the whole matrix factored at once.
//
//   build/release/bin/profile_bench
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "bench_server.h"
#include "client/fdll_solver.h"
#include "client/pipe/stations_engine.h"
#include "common/fdll_loader.h"
#include "in_process_engine.h"
#include "mt/mesh.h"
#include "mt/profile.h"

namespace {

using namespace vesk1;

constexpr int kLayers = 40;
constexpr double kSpacing = 500;  // metres between stations

const common::LoadedFdll& Fdll() {
  static const common::LoadedFdll fdll =
      common::LoadFdllFile(std::string(VESK1_FDLL_DIR) + "/vesk1_fdll.so");
  return fdll;
}

std::vector<double> Periods() {
  std::vector<double> periods;
  for (int i = 0; i < 40; ++i) periods.push_back(0.001 * std::pow(1e6, i / 39.0));
  return periods;
}

double Gauss(std::mt19937& random) {
  const double u1 = (random() + 1.0) / 4294967297.0, u2 = random() / 4294967296.0;
  return std::sqrt(-2 * std::log(u1)) * std::cos(6.283185307179586 * u2);
}

// A profile like the shipped example's: 100 ohm-m over a 5 ohm-m conductor whose top deepens
// from 400 to 1600 m along the line while it thins from 1000 to 250 m, over 1000 ohm-m; 40
// periods from 0.001 to 1000 s, errors at the 5% floor and noise of 0.7 of them (fixed seed).
struct Profile {
  std::vector<mt::Sounding> soundings;
  std::vector<mt::FitData> data;
  std::vector<double> distance;
};

Profile MakeProfile(int stations) {
  Profile profile;
  const std::vector<double> periods = Periods();
  std::mt19937 random(23);
  for (int s = 0; s < stations; ++s) {
    const double t = stations > 1 ? s / (stations - 1.0) : 0;
    const double top = 400 * std::pow(4.0, t), thick = 1000 * std::pow(0.25, t);
    test::InProcessEngine engine(Fdll().recur, periods, {top, thick});
    std::vector<double> rho, phase;
    std::string error;
    engine.Responses({2.0, std::log10(5.0), 3.0}, rho, phase, error);
    mt::Sounding sounding;
    for (size_t i = 0; i < periods.size(); ++i) {
      const double r = std::pow(10.0, rho[i]) * (1 + 0.07 * Gauss(random));
      sounding.points.push_back({periods[i], r, phase[i] + 0.035 * Gauss(random) * 57.29577951308232,
                                 0.1 * r, 0.05 * 57.29577951308232});
    }
    profile.data.push_back(mt::FitDataOf(sounding));
    profile.soundings.push_back(std::move(sounding));
    profile.distance.push_back(kSpacing * s);
  }
  return profile;
}

void BM_ProfileThroughServer(benchmark::State& state) {
  if (Fdll().factor == nullptr) {
    state.SkipWithError(Fdll().error.c_str());
    return;
  }
  const int stations = static_cast<int>(state.range(0));
  const Profile profile = MakeProfile(stations);
  bench::BenchServer server(static_cast<int>(state.range(1)));
  if (!server.Connected()) {
    state.SkipWithError("vesk1_pipe did not start");
    return;
  }
  const std::vector<double> thickness = mt::MeshForSoundings(profile.soundings, kLayers);
  mt::ProfileOptions options;
  options.startLog10Rho.assign(static_cast<size_t>(stations), 2.0);
  double iterations = 0, forward = 0, sensitivities = 0, solves = 0, serverMs = 0,
         requests = 0, rms = 0;
  for (auto _ : state) {
    client::ServerStationsEngine engine(server.Connection(), 30000,
                                        std::vector<std::vector<double>>(profile.data.size(),
                                                                         Periods()),
                                        thickness);
    client::FdllSolver solver(Fdll().factor);
    const mt::ProfileResult result = mt::RunProfile(
        profile.data, profile.distance, kLayers, engine, solver, options,
        [](size_t, const mt::IterationReport&) {}, [](size_t, const std::string&) {});
    if (!result.joint.error.empty() || !result.joint.reachedTarget) {
      state.SkipWithError(("the inversion failed: " + result.joint.error).c_str());
      return;
    }
    for (const mt::IterationReport& r : result.joint.iterations) {
      forward += r.forwardSeconds;
      sensitivities += r.sensitivitySeconds;
      solves += r.solveSeconds;
    }
    iterations += static_cast<double>(result.joint.iterations.size());
    serverMs += engine.serverMilliseconds();
    requests += engine.requests();
    rms = result.joint.rms;
  }
  const double runs = static_cast<double>(state.iterations());
  state.counters["stations"] = stations;
  state.counters["workers"] = static_cast<double>(state.range(1));
  state.counters["iterations"] = iterations / runs;
  state.counters["rms"] = rms;
  state.counters["requests"] = requests / runs;
  state.counters["server_ms"] = serverMs / runs;
  state.counters["fwd_ms"] = 1e3 * forward / runs;
  state.counters["sens_ms"] = 1e3 * sensitivities / runs;
  state.counters["solve_ms"] = 1e3 * solves / runs;
}
BENCHMARK(BM_ProfileThroughServer)
    ->Args({20, 2})
    ->Args({40, 2})
    ->Args({60, 2})
    ->Args({20, 1})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// One iteration's joint system of `stations` stations with random sensitivities, as
// ProfileStep builds it.
struct JointSystem {
  std::vector<mt::FitData> data;
  std::vector<std::vector<double>> model, response, jacobian;
  std::vector<double> lateral;
};

JointSystem MakeSystem(int stations) {
  JointSystem system;
  std::mt19937 random(5);
  const size_t rows = 80;
  for (int s = 0; s < stations; ++s) {
    mt::FitData d;
    std::vector<double> m, r, j;
    for (size_t i = 0; i < rows; ++i) {
      d.value.push_back(Gauss(random));
      d.error.push_back(0.05);
      r.push_back(Gauss(random));
    }
    for (int k = 0; k < kLayers; ++k) m.push_back(2 + 0.1 * Gauss(random));
    for (size_t k = 0; k < rows * kLayers; ++k) j.push_back(0.1 * Gauss(random));
    system.data.push_back(d);
    system.model.push_back(m);
    system.response.push_back(r);
    system.jacobian.push_back(j);
  }
  system.lateral.assign(static_cast<size_t>(stations - 1), 1.0);
  return system;
}

void BM_JointSolveByBlocks(benchmark::State& state) {
  if (Fdll().factor == nullptr) {
    state.SkipWithError(Fdll().error.c_str());
    return;
  }
  const JointSystem system = MakeSystem(static_cast<int>(state.range(0)));
  test::InProcessStationsEngine engine(Fdll().recur, {}, {});
  client::FdllSolver solver(Fdll().factor);
  mt::IterationReport report;
  const std::function<void(const std::string&)> note = [](const std::string&) {};
  mt::ProfileStep step(system.data, system.model, system.response, system.jacobian,
                       system.lateral, engine, solver, report, note);
  std::vector<double> x;
  double rcond = 0;
  for (auto _ : state) {
    if (!step.SolveJoint(step.MultiplierAt(0), x, rcond)) {
      state.SkipWithError("refused");
      return;
    }
  }
  state.counters["unknowns"] = static_cast<double>(x.size());
}
BENCHMARK(BM_JointSolveByBlocks)->Arg(20)->Arg(40)->Arg(60)->Unit(benchmark::kMillisecond);

// The baseline: the same system assembled whole (20 stations: 800 unknowns) and factored at
// once by CDLFCRG.
void BM_JointSolveWhole(benchmark::State& state) {
  if (Fdll().factor == nullptr) {
    state.SkipWithError(Fdll().error.c_str());
    return;
  }
  const int stations = static_cast<int>(state.range(0));
  const JointSystem system = MakeSystem(stations);
  const size_t n = kLayers, size = n * static_cast<size_t>(stations);
  std::vector<double> a(size * size, 0.0), b(size, 0.0), x;
  for (size_t s = 0; s < static_cast<size_t>(stations); ++s) {
    std::vector<double> wtw, wtd;
    mt::NormalEquations(system.data[s], system.model[s], system.response[s], system.jacobian[s],
                        wtw, wtd);
    for (size_t j = 0; j < n; ++j) {
      b[s * n + j] = wtd[j];
      for (size_t k = 0; k < n; ++k) a[(s * n + k) * size + s * n + j] = wtw[k * n + j];
      a[(s * n + j) * size + s * n + j] += 1.0;
      if (s + 1 < static_cast<size_t>(stations)) {
        a[(s * n + j) * size + (s + 1) * n + j] -= 0.5;
        a[((s + 1) * n + j) * size + s * n + j] -= 0.5;
      }
    }
  }
  client::FdllSolver solver(Fdll().factor);
  double rcond = 0;
  for (auto _ : state) {
    if (!solver.Solve(static_cast<int>(size), a, b, 0, x, rcond)) {
      state.SkipWithError("refused");
      return;
    }
  }
  state.counters["unknowns"] = static_cast<double>(size);
}
BENCHMARK(BM_JointSolveWhole)->Arg(20)->Arg(40)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
