// CDRLINE on 10^6 pairs against the cost floor of a straight-line fit: the plain two-pass
// closed form (means, then the sums of squares and products about them) over the same pairs,
// timed in the same run. Both report pairs per second; the ratio of their times is the figure
// to watch (the goal is at most 10).
#include <benchmark/benchmark.h>
#include <vesk1/fdll.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

namespace {

constexpr int32_t kPairs = 1000000;

// x about 1e3 with unit spread, y on a noisy line: nothing missing, nothing degenerate.
struct Pairs {
  std::vector<double> x, y;
  Pairs() : x(kPairs), y(kPairs) {
    std::mt19937_64 gen(42);
    std::normal_distribution<double> noise(0.0, 1.0);
    for (int32_t i = 0; i < kPairs; ++i) {
      x[i] = 1000.0 + noise(gen);
      y[i] = 3.0 + 2.0 * x[i] + 0.1 * noise(gen);
    }
  }
};

const Pairs& BenchPairs() {
  static const Pairs pairs;
  return pairs;
}

void PairsPerSecond(benchmark::State& state) {
  state.counters["pairs_per_second"] = benchmark::Counter(
      static_cast<double>(state.iterations()) * kPairs, benchmark::Counter::kIsRate);
}

void BM_CDRLINE(benchmark::State& state) {
  const Pairs& p = BenchPairs();
  const int32_t nobs = kPairs;
  double bint = 0, bslope = 0, fstat[12] = {};
  for (auto _ : state) {
    CDRLINE(&nobs, p.x.data(), p.y.data(), &bint, &bslope, fstat);
    benchmark::DoNotOptimize(fstat);
  }
  PairsPerSecond(state);
}
BENCHMARK(BM_CDRLINE)->Unit(benchmark::kMillisecond);

// The closed form with the same outputs a caller needs most: both coefficients, the sums of
// squares and the standard errors.
void BM_TwoPassClosedForm(benchmark::State& state) {
  const Pairs& p = BenchPairs();
  double out[6] = {};
  for (auto _ : state) {
    const double* x = p.x.data();
    const double* y = p.y.data();
    double sx = 0, sy = 0;
    for (int32_t i = 0; i < kPairs; ++i) {
      sx += x[i];
      sy += y[i];
    }
    const double n = kPairs;
    const double mx = sx / n, my = sy / n;
    double sxx = 0, sxy = 0, syy = 0;
    for (int32_t i = 0; i < kPairs; ++i) {
      const double dx = x[i] - mx, dy = y[i] - my;
      sxx += dx * dx;
      sxy += dx * dy;
      syy += dy * dy;
    }
    const double slope = sxy / sxx;
    const double sse = syy - slope * sxy;
    const double s2 = sse / (n - 2);
    out[0] = my - slope * mx;
    out[1] = slope;
    out[2] = slope * sxy;
    out[3] = sse;
    out[4] = std::sqrt(s2 * (1 / n + mx * mx / sxx));
    out[5] = std::sqrt(s2 / sxx);
    benchmark::DoNotOptimize(out);
  }
  PairsPerSecond(state);
}
BENCHMARK(BM_TwoPassClosedForm)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
