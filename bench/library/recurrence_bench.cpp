// The recurrence against its cost floor: the complex square roots and exponentials it has to
// evaluate, timed as a bare loop of the same calls in the same run. Both report ns per layer.
#include <benchmark/benchmark.h>
#include <vesk1/fdll.h>

#include <complex>
#include <cstring>

#include "recurrence.h"

namespace {

RecurrenceModel BenchModel(int layers) {
  RecurrenceModel model;
  std::memset(&model, 0, sizeof model);
  model.layerCount = layers;
  model.bottomMode = 1;
  for (int j = 0; j < layers; ++j) {
    model.thickness[j] = 10.0f + 3.0f * static_cast<float>(j);
    model.conductivity[j][0] = 0.001f * static_cast<float>(1 + (j * 7) % 40);
    model.conductivity[j][1] = 0.0f;
    model.layerFactor[j] = 1.0f + 0.01f * static_cast<float>(j % 5);
  }
  return model;
}

void PerLayer(benchmark::State& state, int layers) {
  state.counters["ns_per_layer"] =
      benchmark::Counter(static_cast<double>(state.iterations()) * layers,
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_CRECUR1(benchmark::State& state) {
  const int layers = static_cast<int>(state.range(0));
  const RecurrenceModel model = BenchModel(layers);
  const double parameters[3] = {2.0, 0.0, 0.0};
  double results[8] = {};
  double lambda = 1e-4;
  for (auto _ : state) {
    vesk1::LayeredEarthRecurrence(&lambda, parameters, results, &model);
    benchmark::DoNotOptimize(results);
    lambda += 1e-12;
  }
  PerLayer(state, layers);
}
BENCHMARK(BM_CRECUR1)->Arg(1)->Arg(10)->Arg(63);

// The calls the recurrence cannot avoid for n layers in bottom mode 1: one root and one
// exponential for the bottom layer, and one of each per upper layer in each recurrence.
void BM_RootExpFloor(benchmark::State& state) {
  const int layers = static_cast<int>(state.range(0));
  const int pairs = 1 + 2 * (layers - 1);
  std::complex<double> z(-3e-6, 1e-6);
  for (auto _ : state) {
    std::complex<double> sum = 0.0;
    for (int i = 0; i < pairs; ++i) {
      const std::complex<double> u = std::sqrt(z);
      sum += std::exp(-(20.0 * u));
      z.imag(z.imag() + 1e-9);
    }
    benchmark::DoNotOptimize(sum);
  }
  PerLayer(state, layers);
}
BENCHMARK(BM_RootExpFloor)->Arg(1)->Arg(10)->Arg(63);

}  // namespace

BENCHMARK_MAIN();
