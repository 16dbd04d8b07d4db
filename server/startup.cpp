#include "startup.h"

#include <cstring>
#include <string>

#include "console.h"
#include "platform/platform.h"
#include "server_state.h"

namespace vesk1 {
namespace {

constexpr int kLoadAttempts = 10;
constexpr int kLoadRetryMilliseconds = 1000;

// Makes sure the worker's directory exists; a new one gets the module files. The file-system
// calls stand in for a shell: no command line is built from the directory name.
void EnsureWorkerDirectory(const std::string& directory) {
  if (platform::DirectoryExists(directory)) return;
  // Neither failure is reported here: the load that follows fails and says what matters.
  if (platform::MakeDirectory(directory) != platform::kNoError) return;
  platform::CopyMatchingFiles(".", platform::ModuleCopyPattern(), directory);
}

// Loads the worker's module, retrying a failed load up to ten times; the pause follows only a
// failure, so W workers start in well under W seconds.
platform::ModuleHandle LoadWithRetries(const std::string& path) {
  for (int attempt = 0; attempt < kLoadAttempts; ++attempt) {
    platform::ErrorCode error = platform::kNoError;
    if (platform::ModuleHandle module = platform::OpenModule(path, &error)) return module;
    platform::SleepMilliseconds(kLoadRetryMilliseconds);
  }
  return nullptr;
}

// Loads and initialises one worker's module instance; false leaves the slot without one.
bool PrepareWorker(int workerNumber, WorkerSlot& slot, platform::ModuleHandle& module) {
  const std::string directory = platform::WorkerDirectoryName(workerNumber);
  EnsureWorkerDirectory(directory);
  module = LoadWithRetries(directory + platform::ModuleFileName());
  if (module == nullptr) return false;

  auto load =
      reinterpret_cast<ModuleLoadEntry>(platform::FindEntry(module, VESK1_MODULE_LOAD_NAME));
  auto compute =
      reinterpret_cast<ModuleComputeEntry>(platform::FindEntry(module, VESK1_MODULE_COMPUTE_NAME));
  if (load == nullptr || compute == nullptr) {
    // A module without both entries cannot be driven; its slot must never be called.
    platform::CloseModule(module);
    module = nullptr;
    return false;
  }
  load(directory.c_str());
  slot.computeEntry = compute;
  slot.resultBuffer = new unsigned char[kResultBufferSize]();
  return true;
}

}  // namespace

void AllocateBuffers(int workerCount) {
  ServerState& state = State();
  state.workerCount = workerCount;
  state.slots = new WorkerSlot[static_cast<std::size_t>(workerCount)]();
  state.modules.assign(static_cast<std::size_t>(workerCount), nullptr);
  state.shares.assign(static_cast<std::size_t>(workerCount), 0);
  state.previousCount = 0;
  state.reply = new PipeReply();
}

int PrepareWorkers() {
  ServerState& state = State();
  state.loadedCount = 0;
  for (int n = 1; n <= state.workerCount; ++n) {
    const auto j = static_cast<std::size_t>(n - 1);
    if (PrepareWorker(n, state.slots[j], state.modules[j])) ++state.loadedCount;
  }
  return state.loadedCount;
}

void OpenPipeAndWaitForClient(int instance) {
  ServerState& state = State();
  const platform::ErrorCode created = platform::ListenOnPipe(instance, state.pipe);
  if (created != platform::kNoError) {
    Print("CreateNamedPipe: Error %ld\n", created);
    EndServer(0);
  }
  Print("Waiting for connect...\n");
  const platform::ErrorCode accepted = platform::AcceptClient(state.pipe);
  if (accepted != platform::kNoError) {
    if (const char* name = platform::AcceptErrorName(accepted)) {
      Print("ConnectNamedPipe: %s", name);
    } else {
      Print("ConnectNamedPipe: Error %ld\n", accepted);
    }
    platform::ClosePipe(state.pipe);
    EndServer(0);
  }
  Print("\nConnected. Waiting for command...\n");
}

}  // namespace vesk1
