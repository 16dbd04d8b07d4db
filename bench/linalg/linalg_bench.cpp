// DLFCRG against dgetrf + dgecon, DLINRG against dgetrf + dgetri (each LAPACK build single-
// threaded), at N = 100, 500, 1000, 2000 and 4000 (the reference build, far slower, up to 2000);
// DSVRGP against std::sort of (value, index) pairs on 10^6 random doubles. Every benchmark of
// one size works on the same matrix; the counter "vs_ours" of a LAPACK run is its time divided
// by ours in the same run, and "GFLOPs" counts 2/3 N^3 operations for a factorization and 2 N^3
// for an inverse, whatever the routine does. With --benchmark_repetitions, compare the medians.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <map>
#include <numeric>
#include <random>
#include <utility>
#include <vector>

#include "lapack.h"
#include "linalg/inverse.h"
#include "linalg/lu.h"
#include "sort.h"

namespace vesk1::bench {
namespace {

std::vector<double> RandomMatrix(int n) {
  std::mt19937_64 engine(12345 + n);
  std::uniform_real_distribution<double> uniform(-1.0, 1.0);
  std::vector<double> a(static_cast<std::size_t>(n) * n);
  for (double& v : a) v = uniform(engine);
  return a;
}

// Seconds per iteration of our routine at each size, for the LAPACK runs' ratio counter.
std::map<std::pair<int, int>, double>& OurTimes() {
  static std::map<std::pair<int, int>, double> times;
  return times;
}

enum Job { kFactor = 0, kInverse = 1 };

void Record(benchmark::State& state, Job job, bool ours, double seconds) {
  const int n = static_cast<int>(state.range(0));
  const double perIteration = seconds / static_cast<double>(state.iterations());
  const double cube = static_cast<double>(n) * n * n;
  state.counters["GFLOPs"] = (job == kFactor ? 2.0 / 3.0 : 2.0) * cube / perIteration * 1e-9;
  if (ours) {
    OurTimes()[{job, n}] = perIteration;
  } else if (auto it = OurTimes().find({job, n}); it != OurTimes().end()) {
    state.counters["vs_ours"] = perIteration / it->second;
  }
}

template <class Body>
void Timed(benchmark::State& state, Job job, bool ours, Body body) {
  double seconds = 0.0;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    body();
    seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  }
  Record(state, job, ours, seconds);
}

void BM_DLFCRG(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const std::vector<double> a = RandomMatrix(n);
  std::vector<double> fac(a.size());
  std::vector<int32_t> pivot(n);
  double rcond = 0.0;
  Timed(state, kFactor, true, [&] {
    DLFCRG(n, a.data(), n, fac.data(), n, pivot.data(), rcond);
    benchmark::DoNotOptimize(rcond);
  });
}

void FactorWithLapack(benchmark::State& state, const Lapack& lapack) {
  if (!lapack.Usable()) {
    state.SkipWithError("LAPACK build not loadable");
    return;
  }
  const int n = static_cast<int>(state.range(0));
  const std::vector<double> a = RandomMatrix(n);
  std::vector<double> fac(a.size());
  std::vector<int> pivot(n);
  std::vector<double> work(4 * static_cast<std::size_t>(n));
  std::vector<int> iwork(n);
  double rcond = 0.0;
  Timed(state, kFactor, false, [&] {
    int info = 0;
    const double norm = lapack.dlange("1", &n, &n, a.data(), &n, work.data(), 1);
    std::copy(a.begin(), a.end(), fac.begin());
    lapack.dgetrf(&n, &n, fac.data(), &n, pivot.data(), &info);
    lapack.dgecon("1", &n, fac.data(), &n, &norm, &rcond, work.data(), iwork.data(), &info, 1);
    benchmark::DoNotOptimize(rcond);
  });
}

void BM_Reference_dgetrf_dgecon(benchmark::State& state) {
  FactorWithLapack(state, ReferenceLapack());
}
void BM_OpenBLAS_dgetrf_dgecon(benchmark::State& state) {
  FactorWithLapack(state, OpenBlasLapack());
}

void BM_DLINRG(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const std::vector<double> a = RandomMatrix(n);
  std::vector<double> ainv(a.size());
  Timed(state, kInverse, true, [&] {
    DLINRG(n, a.data(), n, ainv.data(), n);
    benchmark::DoNotOptimize(ainv.data());
  });
}

void InvertWithLapack(benchmark::State& state, const Lapack& lapack) {
  if (!lapack.Usable()) {
    state.SkipWithError("LAPACK build not loadable");
    return;
  }
  const int n = static_cast<int>(state.range(0));
  const std::vector<double> a = RandomMatrix(n);
  std::vector<double> ainv(a.size());
  std::vector<int> pivot(n);
  int lwork = -1;
  int info = 0;
  double optimal = 0.0;
  lapack.dgetri(&n, ainv.data(), &n, pivot.data(), &optimal, &lwork, &info);
  lwork = std::max(n, static_cast<int>(optimal));
  std::vector<double> work(lwork);
  Timed(state, kInverse, false, [&] {
    std::copy(a.begin(), a.end(), ainv.begin());
    lapack.dgetrf(&n, &n, ainv.data(), &n, pivot.data(), &info);
    lapack.dgetri(&n, ainv.data(), &n, pivot.data(), work.data(), &lwork, &info);
    benchmark::DoNotOptimize(ainv.data());
  });
}

void BM_Reference_dgetrf_dgetri(benchmark::State& state) {
  InvertWithLapack(state, ReferenceLapack());
}
void BM_OpenBLAS_dgetrf_dgetri(benchmark::State& state) {
  InvertWithLapack(state, OpenBlasLapack());
}

constexpr int kSortLength = 1000000;

std::vector<double> RandomValues() {
  std::mt19937_64 engine(777);
  std::uniform_real_distribution<double> uniform(-1.0, 1.0);
  std::vector<double> v(kSortLength);
  for (double& x : v) x = uniform(engine);
  return v;
}

void BM_DSVRGP(benchmark::State& state) {
  const std::vector<double> ra = RandomValues();
  std::vector<double> rb(ra.size());
  std::vector<int32_t> iperm(ra.size());
  for (auto _ : state) {
    std::iota(iperm.begin(), iperm.end(), 1);
    DSVRGP(kSortLength, ra.data(), rb.data(), iperm.data());
    benchmark::DoNotOptimize(rb.data());
  }
}

void BM_StdSortPairs(benchmark::State& state) {
  const std::vector<double> ra = RandomValues();
  std::vector<std::pair<double, int32_t>> pairs(ra.size());
  for (auto _ : state) {
    for (int32_t i = 0; i < kSortLength; ++i) pairs[i] = {ra[i], i + 1};
    std::sort(pairs.begin(), pairs.end());
    benchmark::DoNotOptimize(pairs.data());
  }
}

// Ours first at each size, so the LAPACK runs that follow can report their ratio to it.
void Sizes(benchmark::internal::Benchmark* b) {
  b->Arg(100)->Arg(500)->Arg(1000)->Arg(2000)->Arg(4000);
  b->Unit(benchmark::kMillisecond)->UseRealTime();
}

// The reference build takes minutes at 4000.
void ReferenceSizes(benchmark::internal::Benchmark* b) {
  b->Arg(100)->Arg(500)->Arg(1000)->Arg(2000)->Unit(benchmark::kMillisecond)->UseRealTime();
}

BENCHMARK(BM_DLFCRG)->Apply(Sizes);
BENCHMARK(BM_Reference_dgetrf_dgecon)->Apply(ReferenceSizes);
BENCHMARK(BM_OpenBLAS_dgetrf_dgecon)->Apply(Sizes);
BENCHMARK(BM_DLINRG)->Apply(Sizes);
BENCHMARK(BM_Reference_dgetrf_dgetri)->Apply(ReferenceSizes);
BENCHMARK(BM_OpenBLAS_dgetrf_dgetri)->Apply(Sizes);
BENCHMARK(BM_DSVRGP)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StdSortPairs)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace vesk1::bench

int main(int argc, char** argv) {
  // Before any LAPACK build is loaded: OpenBLAS reads this when it starts.
  setenv("OPENBLAS_NUM_THREADS", "1", 1);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
