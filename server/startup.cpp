#include "startup.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "console.h"
#include "module_files.h"
#include "platform/platform.h"
#include "server_state.h"

namespace vesk1 {
namespace {

constexpr int kLoadAttempts = 10;
constexpr int kLoadRetryMilliseconds = 1000;

// Makes sure the worker's directory exists; a new one gets the source's module files, and the
// first one to get them says where they came from. The file-system calls stand in for a shell:
// no command line is built from the directory name. Returns true when the directory was there
// already and is to be used as it stands.
bool EnsureWorkerDirectory(const std::string& directory, ModuleSource& source) {
  if (platform::MakeDirectory(directory) != platform::kNoError) {
    // Whatever is there is used as it stands once it passes the checks; when nothing could be
    // made and nothing is there, the load that follows fails and says what matters.
    platform::PathFacts facts;
    platform::InspectPath(directory, false, facts);
    return facts.kind != platform::PathFacts::Kind::kMissing;
  }
  Print("%s", source.notice.c_str());
  source.notice.clear();
  // Not reported here either: the load tells what is missing.
  platform::CopyNamedFiles(source.directory, source.files, directory);
  return false;
}

// Loads the worker's module, retrying a failed load up to ten times; the pause follows only a
// failure, so W workers start in well under W seconds. On failure `reason` holds the system's
// account of the last attempt.
platform::ModuleHandle LoadWithRetries(const std::string& path, std::string& reason) {
  for (int attempt = 0; attempt < kLoadAttempts; ++attempt) {
    if (platform::ModuleHandle module = platform::OpenModule(path, &reason)) return module;
    platform::SleepMilliseconds(kLoadRetryMilliseconds);
  }
  return nullptr;
}

// Says why worker `workerNumber` has no module and, for a directory used as it stood, which
// module files of the source it lacks.
void ReportFailedWorker(int workerNumber, const std::string& directory, bool reused,
                        const std::string& reason, const ModuleSource& source) {
  Print("%s", DescribeLoadFailure(workerNumber, directory, reason).c_str());
  if (!reused) return;
  std::vector<std::string> inWorker;
  platform::ListMatchingFiles(directory, platform::ModuleCopyPattern(), inWorker);
  Print("%s", DescribeMissingFiles(directory, source.files, inWorker, source.shownAs).c_str());
}

// Loads and initialises one worker's module instance; false leaves the slot without one and
// says why on the console. A reused directory that is not safe to load code from is refused
// before anything in it is loaded.
bool PrepareWorker(int workerNumber, WorkerSlot& slot, platform::ModuleHandle& module,
                   ModuleSource& source) {
  const std::string directory = platform::WorkerDirectoryName(workerNumber);
  const bool reused = EnsureWorkerDirectory(directory, source);
  if (reused) {
    if (const std::string why = RefusalOfWorkerDirectory(directory); !why.empty()) {
      Print("%s", DescribeRefusal(workerNumber, directory, why).c_str());
      return false;
    }
  }
  const std::string path = directory + platform::ModuleFileName();
  std::string reason;
  module = LoadWithRetries(path, reason);
  if (module == nullptr) {
    ReportFailedWorker(workerNumber, directory, reused, reason, source);
    return false;
  }

  auto load =
      reinterpret_cast<ModuleLoadEntry>(platform::FindEntry(module, VESK1_MODULE_LOAD_NAME));
  auto compute =
      reinterpret_cast<ModuleComputeEntry>(platform::FindEntry(module, VESK1_MODULE_COMPUTE_NAME));
  if (load == nullptr || compute == nullptr) {
    // A module without both entries cannot be driven; its slot must never be called.
    platform::CloseModule(module);
    module = nullptr;
    ReportFailedWorker(workerNumber, directory, reused,
                       path + " exports no " +
                           (load == nullptr ? VESK1_MODULE_LOAD_NAME : VESK1_MODULE_COMPUTE_NAME),
                       source);
    return false;
  }
  load(directory.c_str());
  slot.computeEntry = compute;
  slot.resultBuffer = new unsigned char[kResultBufferSize]();
  return true;
}

// Waits for a client of this server's own user; a client of another user is told nothing and
// hung up on, and the wait goes on.
void WaitForOwnClient(platform::PipeEndpoint& pipe) {
  for (;;) {
    const platform::ErrorCode accepted = platform::AcceptClient(pipe);
    if (accepted != platform::kNoError) {
      if (const char* name = platform::AcceptErrorName(accepted)) {
        Print("ConnectNamedPipe: %s", name);
      } else {
        Print("ConnectNamedPipe: Error %ld\n", accepted);
      }
      platform::ClosePipe(pipe);
      EndServer(0);
    }
    bool sameUser = false;
    unsigned long clientUser = 0;
    const platform::ErrorCode checked = platform::CheckClientUser(pipe, sameUser, clientUser);
    if (checked == platform::kNoError && sameUser) return;
    if (checked != platform::kNoError) {
      Print("Refused a client whose user cannot be told: Error %ld\n", checked);
    } else {
      Print("Refused a client of user %lu: only user %lu may connect.\n", clientUser,
            platform::ThisUser());
    }
    platform::DropClient(pipe);
  }
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
  ModuleSource source = ChooseModuleSource();
  for (int n = 1; n <= state.workerCount; ++n) {
    const auto j = static_cast<std::size_t>(n - 1);
    if (PrepareWorker(n, state.slots[j], state.modules[j], source)) ++state.loadedCount;
  }
  return state.loadedCount;
}

std::string DescribeLoadFailure(int workerNumber, const std::string& directory,
                                const std::string& reason) {
  return "\nWorker " + std::to_string(workerNumber) + " could not load its module from " +
         directory + ": " + reason;
}

std::string DescribeMissingFiles(const std::string& directory, std::vector<std::string> current,
                                 const std::vector<std::string>& inWorker,
                                 const std::string& sourceName) {
  std::sort(current.begin(), current.end());
  std::string missing;
  int count = 0;
  for (const std::string& name : current) {
    if (std::find(inWorker.begin(), inWorker.end(), name) != inWorker.end()) continue;
    missing += (count++ == 0 ? "" : ", ") + name;
  }
  if (count == 0) return "";
  return "\n" + directory + " was used as it stood and lacks " + missing + ", which " + sourceName +
         " has; remove " + directory + " to have it made afresh.";
}

void OpenPipeAndWaitForClient(int instance) {
  ServerState& state = State();
  const platform::ErrorCode created = platform::ListenOnPipe(instance, state.pipe);
  if (created != platform::kNoError) {
    if (!state.pipe.problem.empty()) Print("%s.\n", state.pipe.problem.c_str());
    Print("CreateNamedPipe: Error %ld\n", created);
    EndServer(0);
  }
  Print("Waiting for connect...\n");
  WaitForOwnClient(state.pipe);
  // One client for the server's whole life: from now on a second one is refused at once.
  platform::StopListening(state.pipe);
  Print("\nConnected. Waiting for command...\n");
}

}  // namespace vesk1
