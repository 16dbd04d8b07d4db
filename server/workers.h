// The worker threads, one per worker with a module, and the watchdog that ends the process
// when a job runs too long.
#ifndef VESK1_SERVER_WORKERS_H
#define VESK1_SERVER_WORKERS_H

#include <atomic>
#include <cstdint>

#include "vesk1/module.h"

namespace vesk1 {

// The go and done flags are plain 32-bit words of the slot the module sees; they are accessed
// through atomic_ref, which must not change their size or need a lock.
static_assert(sizeof(std::int32_t) == 4);
static_assert(std::atomic_ref<std::int32_t>::is_always_lock_free);
static_assert(std::atomic_ref<std::int32_t>::required_alignment <= alignof(std::int32_t));

// The longest each side goes without looking at a flag, even when no wake-up arrives.
inline constexpr int kWorkerPollMilliseconds = 10;
inline constexpr int kMainPollMilliseconds = 5;
// After a job a worker looks for the next one this long, yielding to any other thread, before
// it sleeps on its go flag.
inline constexpr std::int64_t kWorkerSpinNanoseconds = 200'000;
// A job that has run longer than this ends the process with status 0.
inline constexpr std::int64_t kJobLimitNanoseconds = 20'000'000'000LL;
inline constexpr int kWatchdogPollMilliseconds = 100;

// Sets every slot's workerIndex, then starts a thread for each worker that has a module, and
// the watchdog. Returns false when a thread could not be started.
bool StartWorkerThreads();

// Hands a job to a worker: clears its done flag, raises its go flag and wakes it. The slot must
// already hold the job.
void RaiseGoFlag(WorkerSlot& slot);
// Blocks until the worker has set its done flag.
void WaitUntilDone(WorkerSlot& slot);

}  // namespace vesk1

#endif  // VESK1_SERVER_WORKERS_H
