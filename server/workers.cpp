#include "workers.h"

#include <thread>

#include "platform/platform.h"
#include "server_state.h"

namespace vesk1 {
namespace {

// Runs the module once for every select flag set, in the order first, second, third, with the
// result buffer in that position and the slot as the fourth argument.
void RunJob(WorkerSlot& slot) {
  const PipeRequest& request = slot.request;
  void* buffer = slot.resultBuffer;
  if (request.selectFirst != 0) slot.computeEntry(buffer, nullptr, nullptr, &slot);
  if (request.selectSecond != 0) slot.computeEntry(nullptr, buffer, nullptr, &slot);
  if (request.selectThird != 0) slot.computeEntry(nullptr, nullptr, buffer, &slot);
}

// Looks for `flag` raised for up to kWorkerSpinNanoseconds, yielding the processor between
// looks. A worker looks for its next job this way before it sleeps: a client that streams its
// requests sends the next within tens of microseconds, and a sleeping thread on an idle
// processor (a virtual one above all) can take as long again to wake.
void YieldUntilRaised(std::atomic_ref<std::int32_t> flag) {
  const std::int64_t until = platform::MonotonicNanoseconds() + kWorkerSpinNanoseconds;
  while (flag.load(std::memory_order_relaxed) == 0 && platform::MonotonicNanoseconds() <= until) {
    std::this_thread::yield();
  }
}

void WorkerThread(void* argument) {
  WorkerSlot& slot = *static_cast<WorkerSlot*>(argument);
  std::atomic_ref<std::int32_t> go(slot.goFlag);
  std::atomic_ref<std::int32_t> done(slot.doneFlag);
  ServerState& state = State();
  for (;;) {
    // With one processor the look would take it from the main thread and the client, which
    // then answer later (about a tenth slower on small requests).
    if (state.workerCount > 1) YieldUntilRaised(go);
    // Acquire: everything the main thread wrote into the slot is visible once go reads 1.
    while (go.load(std::memory_order_acquire) == 0) {
      platform::WaitOnWord(&slot.goFlag, 0, kWorkerPollMilliseconds);
    }
    go.store(0, std::memory_order_relaxed);
    // Nice values are per thread on Linux: the first job lowers the whole process once, and
    // threads started later inherit it.
    if (!state.priorityLowered.exchange(true, std::memory_order_relaxed)) {
      platform::UseLowestPriority();
    }
    RunJob(slot);
    // Release: the module's results are visible to the main thread once done reads 1.
    done.store(1, std::memory_order_release);
    platform::WakeWordWaiters(&slot.doneFlag);
  }
}

// One watchdog serves every job. The start stamp is read after the clock, so a stamp it sees
// belongs to a job still running at that moment, which had already run longer than the limit.
void WatchdogThread(void*) {
  ServerState& state = State();
  for (;;) {
    platform::SleepMilliseconds(kWatchdogPollMilliseconds);
    const std::int64_t now = platform::MonotonicNanoseconds();
    const std::int64_t start = state.watchedJobStart.load(std::memory_order_acquire);
    if (start != 0 && now - start > kJobLimitNanoseconds) EndServer(0);
  }
}

}  // namespace

bool StartWorkerThreads() {
  ServerState& state = State();
  for (int i = 0; i < state.workerCount; ++i) {
    WorkerSlot& slot = state.slots[i];
    slot.workerIndex = i;
    if (slot.computeEntry == nullptr) continue;  // never called: no thread to poll for it
    if (platform::StartThread(WorkerThread, &slot) != platform::kNoError) return false;
  }
  return platform::StartThread(WatchdogThread, nullptr) == platform::kNoError;
}

void RaiseGoFlag(WorkerSlot& slot) {
  std::atomic_ref<std::int32_t>(slot.doneFlag).store(0, std::memory_order_relaxed);
  std::atomic_ref<std::int32_t>(slot.goFlag).store(1, std::memory_order_release);
  platform::WakeWordWaiters(&slot.goFlag);
}

void WaitUntilDone(WorkerSlot& slot) {
  std::atomic_ref<std::int32_t> done(slot.doneFlag);
  while (done.load(std::memory_order_acquire) == 0) {
    platform::WaitOnWord(&slot.doneFlag, 0, kMainPollMilliseconds);
  }
}

}  // namespace vesk1
