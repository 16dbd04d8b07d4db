// The module's vector recurrence against CRECUR1 called once per period (as the sounding kind
// does), on one thread, in ns per layer and period: 54 periods from 10^-4 to 1 s, earths of 11
// and 50 layers. Both run in the same program, so they see the same machine load; the rate is
// taken over CPU time.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "common/fdll_loader.h"
#include "response_engine.h"
#include "sounding.h"

namespace {

using namespace vesk1::sounding;

constexpr int kPeriods = 54;

struct Earth {
  RecurrenceModel model;
  std::vector<float> log10Rho, thickness, periods;
};

Earth BenchEarth(int layers) {
  Earth e;
  std::memset(&e.model, 0, sizeof e.model);
  e.model.layerCount = layers;
  e.model.bottomMode = 2;
  for (int j = 0; j < layers; ++j) {
    e.log10Rho.push_back(static_cast<float>(1.0 + (j * 7 % 5) * 0.5));
    e.thickness.push_back(static_cast<float>(30.0 * std::pow(1.15, j)));
    e.model.conductivity[j][0] = static_cast<float>(std::pow(10.0, -e.log10Rho.back()));
    e.model.thickness[j] = e.thickness.back();
    e.model.layerFactor[j] = 1.0f;
  }
  for (int i = 0; i < kPeriods; ++i) {
    e.periods.push_back(static_cast<float>(1e-4 * std::pow(1e4, i / (kPeriods - 1.0))));
  }
  return e;
}

// Seconds of CPU time per layer and period, printed with its prefix ("8.2n" is 8.2 ns).
void PerLayerAndPeriod(benchmark::State& state, int layers) {
  state.counters["per_layer_period"] =
      benchmark::Counter(static_cast<double>(state.iterations()) * layers * kPeriods,
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_CRECUR1PerPeriod(benchmark::State& state) {
  const vesk1::common::LoadedFdll fdll = vesk1::common::LoadFdll(VESK1_FDLL_DIR);
  if (fdll.recur == nullptr) {
    state.SkipWithError(fdll.error.c_str());
    return;
  }
  const int layers = static_cast<int>(state.range(0));
  const Earth e = BenchEarth(layers);
  for (auto _ : state) {
    for (const float period : e.periods) {
      benchmark::DoNotOptimize(ComputePoint(fdll.recur, e.model, period));
    }
  }
  PerLayerAndPeriod(state, layers);
}
BENCHMARK(BM_CRECUR1PerPeriod)->Arg(11)->Arg(50);

// The layer numbers from log10 resistivities and the responses at every period, as the model
// batch and the sampler compute each model.
void BM_VectorRecursion(benchmark::State& state) {
  const auto isa = static_cast<VectorIsa>(state.range(1));
  if (!VectorIsaAvailable(isa)) {
    state.SkipWithError("this processor or build lacks the instruction set");
    return;
  }
  const int layers = static_cast<int>(state.range(0));
  const Earth e = BenchEarth(layers);
  PeriodSet set;
  PeriodSetOf(e.periods, set);
  LayeredEarth earth;
  ResponseSet responses;
  for (auto _ : state) {
    EarthFromLog10Resistivity(e.log10Rho, e.thickness, earth, isa);
    ComputeResponses(earth, set, ResistivityForm::kLog10, responses, isa);
    benchmark::DoNotOptimize(responses);
  }
  state.SetLabel(VectorIsaName(isa));
  PerLayerAndPeriod(state, layers);
}
BENCHMARK(BM_VectorRecursion)
    ->Args({11, static_cast<int>(VectorIsa::kBaseline)})
    ->Args({11, static_cast<int>(VectorIsa::kAvx2)})
    ->Args({50, static_cast<int>(VectorIsa::kBaseline)})
    ->Args({50, static_cast<int>(VectorIsa::kAvx2)});

}  // namespace

BENCHMARK_MAIN();
