// DLFCRG against dgetrf + dgecon, DLINRG against dgetrf + dgetri (each LAPACK build single-
// threaded), at N = 100, 500, 1000, 2000 and 4000 (the reference build, far slower, up to 2000);
// DSVRGP against std::sort of (value, index) pairs on 10^6 random doubles. Every benchmark of
// one size works on the same matrix. Times are the process's CPU time, which a machine shared
// with other work disturbs less than the wall clock; each benchmark runs three times unless
// --benchmark_repetitions says otherwise, the repetitions of all the benchmarks shuffled
// together. At N = 4000 ours and OpenBLAS's are a few per cent apart, less than this machine
// drifts in a minute: seven or more repetitions give a median worth comparing. "GFLOPs" counts
// 2/3 N^3 operations for a factorization and 2 N^3 for an inverse, whatever the routine does. At
// the end a table gives, per size, the medians of our rate and OpenBLAS's and the ratio of their
// times (above 1: ours is faster), the sort's ratio to std::sort (below 1: ours is faster), and
// the load average before and after the run; a second table gives the same from the minima of
// the repetitions.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <map>
#include <numeric>
#include <random>
#include <string>
#include <string_view>
#include <tuple>
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

enum Job { kFactor = 0, kInverse = 1, kSort = 2 };
// Whose routine ran: ours, the baseline of the goal (OpenBLAS, or std::sort for the sort), or the
// reference LAPACK.
enum Who { kOurs = 0, kBaseline = 1, kReference = 2 };

// Seconds per iteration of every repetition, by job, routine and size, for the closing table.
std::map<std::tuple<int, int, int>, std::vector<double>>& Times() {
  static std::map<std::tuple<int, int, int>, std::vector<double>> times;
  return times;
}

double CpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

double Operations(Job job, int n) {
  const double cube = static_cast<double>(n) * n * n;
  return (job == kFactor ? 2.0 / 3.0 : 2.0) * cube;
}

template <class Body>
void Timed(benchmark::State& state, Job job, Who who, Body body) {
  double seconds = 0.0;
  for (auto _ : state) {
    const double start = CpuSeconds();
    body();
    const double used = CpuSeconds() - start;
    state.SetIterationTime(used);
    seconds += used;
  }
  const int n = job == kSort ? 0 : static_cast<int>(state.range(0));
  const double perIteration = seconds / static_cast<double>(state.iterations());
  if (job != kSort) state.counters["GFLOPs"] = Operations(job, n) / perIteration * 1e-9;
  Times()[{job, who, n}].push_back(perIteration);
}

void BM_DLFCRG(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const std::vector<double> a = RandomMatrix(n);
  std::vector<double> fac(a.size());
  std::vector<int32_t> pivot(n);
  double rcond = 0.0;
  Timed(state, kFactor, kOurs, [&] {
    DLFCRG(n, a.data(), n, fac.data(), n, pivot.data(), rcond);
    benchmark::DoNotOptimize(rcond);
  });
}

void FactorWithLapack(benchmark::State& state, const Lapack& lapack, Who who) {
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
  Timed(state, kFactor, who, [&] {
    int info = 0;
    const double norm = lapack.dlange("1", &n, &n, a.data(), &n, work.data(), 1);
    std::copy(a.begin(), a.end(), fac.begin());
    lapack.dgetrf(&n, &n, fac.data(), &n, pivot.data(), &info);
    lapack.dgecon("1", &n, fac.data(), &n, &norm, &rcond, work.data(), iwork.data(), &info, 1);
    benchmark::DoNotOptimize(rcond);
  });
}

void BM_Reference_dgetrf_dgecon(benchmark::State& state) {
  FactorWithLapack(state, ReferenceLapack(), kReference);
}
void BM_OpenBLAS_dgetrf_dgecon(benchmark::State& state) {
  FactorWithLapack(state, OpenBlasLapack(), kBaseline);
}

void BM_DLINRG(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const std::vector<double> a = RandomMatrix(n);
  std::vector<double> ainv(a.size());
  Timed(state, kInverse, kOurs, [&] {
    DLINRG(n, a.data(), n, ainv.data(), n);
    benchmark::DoNotOptimize(ainv.data());
  });
}

void InvertWithLapack(benchmark::State& state, const Lapack& lapack, Who who) {
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
  Timed(state, kInverse, who, [&] {
    std::copy(a.begin(), a.end(), ainv.begin());
    lapack.dgetrf(&n, &n, ainv.data(), &n, pivot.data(), &info);
    lapack.dgetri(&n, ainv.data(), &n, pivot.data(), work.data(), &lwork, &info);
    benchmark::DoNotOptimize(ainv.data());
  });
}

void BM_Reference_dgetrf_dgetri(benchmark::State& state) {
  InvertWithLapack(state, ReferenceLapack(), kReference);
}
void BM_OpenBLAS_dgetrf_dgetri(benchmark::State& state) {
  InvertWithLapack(state, OpenBlasLapack(), kBaseline);
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
  Timed(state, kSort, kOurs, [&] {
    std::iota(iperm.begin(), iperm.end(), 1);
    DSVRGP(kSortLength, ra.data(), rb.data(), iperm.data());
    benchmark::DoNotOptimize(rb.data());
  });
}

void BM_StdSortPairs(benchmark::State& state) {
  const std::vector<double> ra = RandomValues();
  std::vector<std::pair<double, int32_t>> pairs(ra.size());
  Timed(state, kSort, kBaseline, [&] {
    for (int32_t i = 0; i < kSortLength; ++i) pairs[i] = {ra[i], i + 1};
    std::sort(pairs.begin(), pairs.end());
    benchmark::DoNotOptimize(pairs.data());
  });
}

void Sizes(benchmark::internal::Benchmark* b) {
  b->Arg(100)->Arg(500)->Arg(1000)->Arg(2000)->Arg(4000);
  b->Unit(benchmark::kMillisecond)->UseManualTime();
}

// The reference build takes minutes at 4000.
void ReferenceSizes(benchmark::internal::Benchmark* b) {
  b->Arg(100)->Arg(500)->Arg(1000)->Arg(2000)->Unit(benchmark::kMillisecond)->UseManualTime();
}

BENCHMARK(BM_DLFCRG)->Apply(Sizes);
BENCHMARK(BM_Reference_dgetrf_dgecon)->Apply(ReferenceSizes);
BENCHMARK(BM_OpenBLAS_dgetrf_dgecon)->Apply(Sizes);
BENCHMARK(BM_DLINRG)->Apply(Sizes);
BENCHMARK(BM_Reference_dgetrf_dgetri)->Apply(ReferenceSizes);
BENCHMARK(BM_OpenBLAS_dgetrf_dgetri)->Apply(Sizes);
BENCHMARK(BM_DSVRGP)->Unit(benchmark::kMillisecond)->UseManualTime();
BENCHMARK(BM_StdSortPairs)->Unit(benchmark::kMillisecond)->UseManualTime();

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const std::size_t h = v.size() / 2;
  return v.size() % 2 == 1 ? v[h] : 0.5 * (v[h - 1] + v[h]);
}

double Minimum(std::vector<double> v) {
  return *std::min_element(v.begin(), v.end());
}

// The median (or with LEAST the minimum) of one routine's times, or 0 when it did not run.
double SummaryTime(Job job, Who who, int n, bool least) {
  const auto it = Times().find({job, who, n});
  if (it == Times().end() || it->second.empty()) return 0.0;
  return least ? Minimum(it->second) : Median(it->second);
}

std::string LoadAverage() {
  std::ifstream file("/proc/loadavg");
  std::string one, five, fifteen;
  file >> one >> five >> fifteen;
  return one + " " + five + " " + fifteen;
}

// A rate in GFLOP/s, or a dash when the routine did not run.
std::string Rate(Job job, int n, double seconds) {
  if (seconds <= 0.0) return "-";
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", Operations(job, n) / seconds * 1e-9);
  return text;
}

std::string Ratio(double theirs, double ours) {
  if (theirs <= 0.0 || ours <= 0.0) return "-";
  char text[32];
  std::snprintf(text, sizeof text, "%.2fx", theirs / ours);
  return text;
}

// One table of the medians or the minima of the repetitions: the minimum is the time least
// disturbed by other work on the machine.
void PrintTable(bool least) {
  std::printf(
      "\n%s of CPU time, OpenBLAS single-threaded in the same run (ratio = their time / ours)\n",
      least ? "Minima" : "Medians");
  std::printf("%6s | %8s %8s %7s | %8s %8s %7s\n", "N", "DLFCRG", "dgetrf+", "ratio", "DLINRG",
              "dgetrf+", "ratio");
  std::printf("%6s | %8s %8s %7s | %8s %8s %7s\n", "", "GFLOP/s", "dgecon", "", "GFLOP/s", "dgetri",
              "");
  for (int n : {100, 500, 1000, 2000, 4000}) {
    const double f = SummaryTime(kFactor, kOurs, n, least);
    const double fo = SummaryTime(kFactor, kBaseline, n, least);
    const double i = SummaryTime(kInverse, kOurs, n, least);
    const double io = SummaryTime(kInverse, kBaseline, n, least);
    if (f <= 0.0 && fo <= 0.0 && i <= 0.0 && io <= 0.0) continue;
    std::printf("%6d | %8s %8s %7s | %8s %8s %7s\n", n, Rate(kFactor, n, f).c_str(),
                Rate(kFactor, n, fo).c_str(), Ratio(fo, f).c_str(), Rate(kInverse, n, i).c_str(),
                Rate(kInverse, n, io).c_str(), Ratio(io, i).c_str());
  }
  const double sort = SummaryTime(kSort, kOurs, 0, least);
  const double stdSort = SummaryTime(kSort, kBaseline, 0, least);
  if (sort > 0.0 && stdSort > 0.0) {
    std::printf("DSVRGP %.1f ms, std::sort of pairs %.1f ms: %.3fx of std::sort\n", sort * 1e3,
                stdSort * 1e3, sort / stdSort);
  }
}

void PrintSummary(const std::string& loadBefore) {
  PrintTable(false);
  PrintTable(true);
  std::printf("load average before: %s, after: %s\n", loadBefore.c_str(), LoadAverage().c_str());
}

}  // namespace
}  // namespace vesk1::bench

int main(int argc, char** argv) {
  // Before any LAPACK build is loaded: OpenBLAS reads this when it starts.
  setenv("OPENBLAS_NUM_THREADS", "1", 1);
  // Three repetitions unless the command line asks for another number, and the repetitions of
  // all the benchmarks run in a shuffled order unless it says otherwise: this machine's speed
  // drifts from one minute to the next, and ours and the baseline's repetitions then meet the
  // same drift instead of one set running in a faster minute than the other.
  std::vector<char*> args(argv, argv + argc);
  std::string repetitions = "--benchmark_repetitions=3";
  std::string interleaving = "--benchmark_enable_random_interleaving=true";
  auto given = [&](std::string_view flag) {
    for (int i = 1; i < argc; ++i) {
      if (std::string_view(argv[i]).starts_with(flag)) return true;
    }
    return false;
  };
  if (!given("--benchmark_repetitions")) args.push_back(repetitions.data());
  if (!given("--benchmark_enable_random_interleaving")) args.push_back(interleaving.data());
  int count = static_cast<int>(args.size());
  benchmark::Initialize(&count, args.data());
  const std::string loadBefore = vesk1::bench::LoadAverage();
  benchmark::RunSpecifiedBenchmarks();
  vesk1::bench::PrintSummary(loadBefore);
  benchmark::Shutdown();
  return 0;
}
