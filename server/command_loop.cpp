#include "command_loop.h"

#include <cstring>
#include <memory>
#include <span>

#include "console.h"
#include "platform/platform.h"
#include "server_state.h"
#include "shares.h"
#include "workers.h"

namespace vesk1 {
namespace {

// A measured span of zero or less is reported as this many milliseconds.
constexpr double kNoElapsedMilliseconds = 1000.0;

bool IsStopCommand(const PipeRequest& request) {
  float first;
  std::memcpy(&first, &request.items[0], sizeof first);
  return first == VESK1_STOP_ITEM;
}

void SplitIfCountChanged(std::int32_t itemCount, std::span<const bool> hasModule) {
  ServerState& state = State();
  if (itemCount == state.previousCount) return;
  state.previousCount = itemCount;
  ComputeShares(itemCount, hasModule, state.shares);
}

// Copies the request into every worker with a share and moves its share's items to the front.
void Distribute(const PipeRequest& request) {
  ServerState& state = State();
  std::int32_t position = 0;
  for (int j = 0; j < state.workerCount; ++j) {
    const std::int32_t share = state.shares[static_cast<std::size_t>(j)];
    if (share <= 0) continue;
    PipeRequest& job = state.slots[j].request;
    std::memcpy(&job, &request, sizeof job);
    std::memcpy(job.items, request.items + position, static_cast<std::size_t>(share) * 4);
    job.itemCount = share;
    state.slots[j].jobValue = 0.0;
    position += share;
  }
}

void Gather(PipeReply& reply) {
  ServerState& state = State();
  std::int32_t position = 0;
  for (int j = 0; j < state.workerCount; ++j) {
    const std::int32_t share = state.shares[static_cast<std::size_t>(j)];
    if (share <= 0) continue;
    std::memcpy(reply.entries[position], state.slots[j].resultBuffer,
                static_cast<std::size_t>(share) * kReplyEntrySize);
    position += share;
  }
}

// Runs one job on the workers that have a share and returns its elapsed milliseconds. Workers
// without items are not called: they have nothing to compute and nothing to gather.
double RunOnWorkers() {
  ServerState& state = State();
  const std::int64_t start = platform::MonotonicNanoseconds();
  for (int j = 0; j < state.workerCount; ++j) {
    if (state.shares[static_cast<std::size_t>(j)] > 0) RaiseGoFlag(state.slots[j]);
  }
  for (int j = 0; j < state.workerCount; ++j) {
    if (state.shares[static_cast<std::size_t>(j)] > 0) WaitUntilDone(state.slots[j]);
  }
  const std::int64_t end = platform::MonotonicNanoseconds();
  const double elapsed = static_cast<double>(end - start) / 1e6;
  return elapsed > 0.0 ? elapsed : kNoElapsedMilliseconds;
}

}  // namespace

void ServeRequests() {
  ServerState& state = State();
  // Only workers whose module loaded are given items; the others are never called.
  const auto workerCount = static_cast<std::size_t>(state.workerCount);
  std::unique_ptr<bool[]> hasModule(new bool[workerCount]);
  for (std::size_t j = 0; j < workerCount; ++j) {
    hasModule[j] = state.slots[j].computeEntry != nullptr;
  }
  const std::span<const bool> workersWithModule(hasModule.get(), workerCount);

  PipeRequest& request = *state.request;
  PipeReply& reply = *state.reply;
  for (;;) {
    const platform::ErrorCode readError = platform::ReadFull(state.pipe, &request, sizeof request);
    if (readError != platform::kNoError) {
      Print("ReadFile: Error %ld\n", readError);
      EndServer(1);
    }
    if (request.magic != RecordMagic || IsStopCommand(request)) EndServer(1);
    // A count past the reply's 255 entries would overrun both records; treat it like a record
    // that is not ours.
    if (request.itemCount < 0 || request.itemCount > kMaxItems) EndServer(1);
    if (request.itemCount == 0) continue;

    state.watchedJobStart.store(platform::MonotonicNanoseconds(), std::memory_order_release);
    Print("\n%d:  Command is processing", request.itemCount);
    SplitIfCountChanged(request.itemCount, workersWithModule);
    Distribute(request);
    const double elapsed = RunOnWorkers();
    Gather(reply);
    reply.elapsedMs = static_cast<float>(elapsed);
    reply.magic = static_cast<float>(RecordMagic);
    Print("--- %d\n", static_cast<int>(reply.elapsedMs));
    if (platform::WriteFull(state.pipe, &reply, sizeof reply) != platform::kNoError) {
      EndServer(1);
    }
    state.watchedJobStart.store(0, std::memory_order_release);
  }
}

}  // namespace vesk1
