// A 255-period sounding of a 63-layer model, through vesk1_pipe (one worker per processor,
// each with its own copy of the module and the library) against the same computation in this
// process on one thread. Both run in the same program, so they see the same machine load.
// Then an Occam iteration's 20 trial models of 50 layers at 40 periods: one sounding request
// per model against four model-batch requests of five models.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench_server.h"
#include "client/pipe/transport.h"
#include "common/fdll_loader.h"
#include "common/sounding_request.h"
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

constexpr int kTrialModels = 20;
constexpr int kTrialLayers = 50;
constexpr int kTrialPeriods = 40;

struct Trials {
  std::vector<float> thickness, periods, log10Rho;
};

Trials TrialModels() {
  Trials t;
  for (int j = 0; j + 1 < kTrialLayers; ++j) {
    t.thickness.push_back(static_cast<float>(10 * std::pow(1.2, j)));
  }
  for (int i = 0; i < kTrialPeriods; ++i) {
    t.periods.push_back(static_cast<float>(0.001 * std::pow(1e7, i / (kTrialPeriods - 1.0))));
  }
  for (int m = 0; m < kTrialModels; ++m) {
    for (int j = 0; j < kTrialLayers; ++j) {
      t.log10Rho.push_back(static_cast<float>(2 + std::sin(j / 5.0) * (0.2 + 0.05 * m)));
    }
  }
  return t;
}

// The requests of one round of trial models: 20 sounding requests (the model's conductivities
// in the block, the periods as items) or 4 model-batch requests.
std::vector<PipeRequest> TrialRequests(bool batched) {
  const Trials t = TrialModels();
  std::vector<PipeRequest> requests;
  if (batched) {
    const int perRequest = vesk1::sounding::ModelBatchCapacity(kTrialLayers, kTrialPeriods);
    for (int first = 0; first < kTrialModels; first += perRequest) {
      const int count = std::min(perRequest, kTrialModels - first);
      requests.emplace_back();
      vesk1::sounding::BuildModelBatchRequest(
          t.thickness, t.periods,
          std::span<const float>(t.log10Rho)
              .subspan(static_cast<size_t>(first) * kTrialLayers,
                       static_cast<size_t>(count) * kTrialLayers),
          requests.back());
    }
    return requests;
  }
  for (int m = 0; m < kTrialModels; ++m) {
    PipeRequest request = vesk1::client::NewRequest();
    RecurrenceModel model;
    std::memset(&model, 0, sizeof model);
    model.layerCount = kTrialLayers;
    model.bottomMode = 2;
    for (int j = 0; j < kTrialLayers; ++j) {
      model.thickness[j] = j + 1 < kTrialLayers ? t.thickness[j] : 0.0f;
      model.conductivity[j][0] =
          static_cast<float>(std::pow(10.0, -t.log10Rho[m * kTrialLayers + j]));
      model.layerFactor[j] = 1.0f;
    }
    std::memcpy(request.moduleData, &model, sizeof model);
    vesk1::client::SetFloatItems(request, t.periods);
    request.selectFirst = 1;
    requests.push_back(request);
  }
  return requests;
}

void BM_TrialModelsThroughServer(benchmark::State& state) {
  vesk1::bench::BenchServer server(static_cast<int>(state.range(0)));
  if (!server.Connected()) {
    state.SkipWithError("vesk1_pipe did not start");
    return;
  }
  const std::vector<PipeRequest> requests = TrialRequests(state.range(1) != 0);
  PipeReply reply;
  for (auto _ : state) {
    for (const PipeRequest& request : requests) {
      if (!server.Exchange(request, reply)) {
        state.SkipWithError("the server did not answer");
        return;
      }
    }
  }
  state.counters["requests"] = static_cast<double>(requests.size());
}
BENCHMARK(BM_TrialModelsThroughServer)
    ->ArgsProduct({{1, 2}, {0, 1}})
    ->ArgNames({"workers", "batched"})
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
