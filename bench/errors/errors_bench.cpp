// Cost of the reporting calls every routine makes: a push/pop pair without an error (the
// regression core makes several per data row) and the outcome query N1RTY.
#include <benchmark/benchmark.h>

#include "errors/errors.h"

namespace vesk1 {
namespace {

void BM_PushPopPair(benchmark::State& state) {
  for (auto _ : state) {
    E1PSH("DLINRG");
    E1POP("DLINRG");
  }
}
BENCHMARK(BM_PushPopPair);

// As inside the library: a guard one level below the caller's routine.
void BM_NestedGuard(benchmark::State& state) {
  E1PSH("DRLINE");
  for (auto _ : state) {
    RoutineGuard guard("DR2LIN");
    benchmark::ClobberMemory();
  }
  E1POP("DRLINE");
}
BENCHMARK(BM_NestedGuard);

void BM_N1RTY(benchmark::State& state) {
  E1PSH("DLINRG");
  int32_t option = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(option);
    benchmark::DoNotOptimize(N1RTY(option));
  }
  E1POP("DLINRG");
}
BENCHMARK(BM_N1RTY);

}  // namespace
}  // namespace vesk1
