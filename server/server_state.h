// Every piece of process-wide state of vesk1_pipe, in one place. The main thread owns all of
// it; the fields marked "shared" are the only ones another thread touches.
#ifndef VESK1_SERVER_SERVER_STATE_H
#define VESK1_SERVER_SERVER_STATE_H

#include <atomic>
#include <cstdint>
#include <vector>

#include "platform/platform.h"
#include "vesk1/module.h"

namespace vesk1 {

struct ServerState {
  int workerCount = 0;          // W: processors this process may run on, read once at start
  int loadedCount = 0;          // workers whose module loaded and exported both entries
  WorkerSlot* slots = nullptr;  // W slots in one zeroed block, slot j for worker index j;
                                // each slot is shared with its worker thread (go/done flags)
  std::vector<platform::ModuleHandle> modules;  // per worker, nullptr when loading failed
  PipeRequest* request = nullptr;               // the request buffer, reused for every request
  PipeReply* reply = nullptr;                   // the reply buffer, never cleared between replies
  std::vector<std::int32_t> shares;             // items per worker for previousCount items
  std::int32_t previousCount = 0;  // item count the share table was computed for; 0 at start
  platform::PipeEndpoint pipe;

  // Shared with the watchdog thread: the monotonic start of the job in progress, 0 between
  // jobs. Each job's own start stamp is its generation: a finished job's stamp is gone before
  // the next is stored, so the watchdog never measures one job by another's start.
  std::atomic<std::int64_t> watchedJobStart{0};
  // Shared with the workers: set once the process has been lowered to the lowest priority.
  std::atomic<bool> priorityLowered{false};
};

ServerState& State();

// Ends the process with `status`: removes the socket file this process created (a client
// waiting on it would otherwise find a dead name) and exits without running destructors, as
// worker threads may still be inside the module.
[[noreturn]] void EndServer(int status);

}  // namespace vesk1

#endif  // VESK1_SERVER_SERVER_STATE_H
