// A 255-period sounding of a 63-layer model, through vesk1_pipe (one worker per processor,
// each with its own copy of the module and the library) against the same computation in this
// process on one thread. Both run in the same program, so they see the same machine load.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <thread>

#include "bench_server.h"
#include "client/pipe/transport.h"
#include "common/fdll_loader.h"
#include "sounding.h"

namespace {

// 63 layers of alternating resistivity over a half-space, 255 periods from 1 ms to 10000 s.
PipeRequest SoundingRequest() {
  PipeRequest request = vesk1::client::NewRequest();
  RecurrenceModel model;
  std::memset(&model, 0, sizeof model);
  model.layerCount = 63;
  model.bottomMode = 2;
  for (int j = 0; j < 63; ++j) {
    model.thickness[j] = 20.0f + 5.0f * static_cast<float>(j);
    model.conductivity[j][0] = j % 2 == 0 ? 0.01f : 0.2f;
    model.layerFactor[j] = 1.0f;
  }
  std::memcpy(request.moduleData, &model, sizeof model);
  float periods[kMaxItems];
  for (int i = 0; i < kMaxItems; ++i) {
    periods[i] =
        static_cast<float>(0.001 * std::pow(1e7, i / (static_cast<double>(kMaxItems) - 1.0)));
  }
  vesk1::client::SetFloatItems(request, periods);
  request.selectFirst = 1;
  return request;
}

void BM_SoundingInProcess(benchmark::State& state) {
  const vesk1::common::LoadedFdll fdll = vesk1::common::LoadFdll(VESK1_FDLL_DIR);
  if (fdll.recur == nullptr) {
    state.SkipWithError(fdll.error.c_str());
    return;
  }
  const PipeRequest request = SoundingRequest();
  auto buffer = std::make_unique<unsigned char[]>(kResultBufferSize);
  for (auto _ : state) {
    vesk1::sounding::ComputeShare(fdll.recur, request, buffer.get());
    benchmark::DoNotOptimize(buffer.get());
  }
}
BENCHMARK(BM_SoundingInProcess)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_SoundingThroughServer(benchmark::State& state) {
  vesk1::bench::BenchServer server;
  if (!server.Connected()) {
    state.SkipWithError("vesk1_pipe did not start");
    return;
  }
  const PipeRequest request = SoundingRequest();
  PipeReply reply;
  double serverMs = 0;
  for (auto _ : state) {
    if (!server.Exchange(request, reply)) {
      state.SkipWithError("the server did not answer");
      return;
    }
    serverMs += reply.elapsedMs;
  }
  state.counters["workers"] = static_cast<double>(std::thread::hardware_concurrency());
  state.counters["server_ms"] = serverMs / static_cast<double>(state.iterations());
}
BENCHMARK(BM_SoundingThroughServer)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
