// A 255-period sounding of a 63-layer model, through vesk1_pipe (one worker per processor,
// each with its own copy of the module and the library) against the same computation in this
// process on one thread. Both run in the same program, so they see the same machine load.
#include <benchmark/benchmark.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include "client.h"
#include "fdll_loader.h"
#include "sounding.h"
#include "vesk1/pipe_name.h"

namespace {

namespace fs = std::filesystem;

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
  const vesk1::sounding::LoadedFdll fdll = vesk1::sounding::LoadFdll(VESK1_FDLL_DIR);
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

// vesk1_pipe in a scratch directory with the module and the library beside it.
class Server {
 public:
  Server() {
    directory_ = fs::temp_directory_path() / ("vesk1_sounding_bench_" + std::to_string(getpid()));
    fs::remove_all(directory_);
    fs::create_directories(directory_);
    fs::copy_file(VESK1_CHZD_FILE, directory_ / "vesk1_chzd.so");
    fs::copy_file(fs::path(VESK1_FDLL_DIR) / "vesk1_fdll.so", directory_ / "vesk1_fdll.so");
    pid_ = fork();
    if (pid_ == 0) {
      setenv("TMPDIR", directory_.c_str(), 1);
      if (chdir(directory_.c_str()) != 0) _exit(127);
      std::freopen("server.log", "w", stdout);
      execl(VESK1_PIPE_PROGRAM, VESK1_PIPE_PROGRAM, "1", static_cast<char*>(nullptr));
      _exit(127);
    }
    // Start-up loads one module per worker, a second each; then the pipe appears.
    const std::string path = vesk1::pipe_name::SocketPath(
        vesk1::pipe_name::SocketDirectory(directory_.c_str(), geteuid()), 1);
    for (int attempt = 0; attempt < 600; ++attempt) {
      if (vesk1::client::Connect(path, connection_) == vesk1::client::ClientStatus::kOk) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  }
  ~Server() {
    if (connection_.fd >= 0) {
      vesk1::client::SendRequest(connection_, vesk1::client::StopRequest());
      vesk1::client::WaitForClose(connection_, 5000);
      vesk1::client::Close(connection_);
    }
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
    std::error_code ignored;
    fs::remove_all(directory_, ignored);
  }
  bool Connected() const { return connection_.fd >= 0; }
  bool Exchange(const PipeRequest& request, PipeReply& reply) {
    using vesk1::client::ClientStatus;
    return vesk1::client::SendRequest(connection_, request) == ClientStatus::kOk &&
           vesk1::client::ReceiveReply(connection_, reply, 30000) == ClientStatus::kOk;
  }

 private:
  fs::path directory_;
  pid_t pid_ = -1;
  vesk1::client::Connection connection_;
};

void BM_SoundingThroughServer(benchmark::State& state) {
  Server server;
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
