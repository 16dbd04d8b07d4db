// Start-up of vesk1_pipe up to the first request: buffers, worker directories and module
// instances, the pipe and the wait for the one client.
#ifndef VESK1_SERVER_STARTUP_H
#define VESK1_SERVER_STARTUP_H

namespace vesk1 {

// Allocates the slots, the reply buffer and the share table for `workerCount` workers.
void AllocateBuffers(int workerCount);

// For each worker N = 1..W in order: makes sure "./N/" exists (a new one receives a copy of
// every "vesk1*" module file of the current directory; an existing one is used as it is),
// loads the module from it, calls CLOADFCHZD with the directory and stores CHZD in the slot.
// A load is tried up to ten times, a second apart after each failure. Returns the number of
// workers whose module loaded.
int PrepareWorkers();

// Creates the pipe, waits for the client and reports both on the console. On failure prints
// the system's code and ends the process with status 0.
void OpenPipeAndWaitForClient(int instance);

}  // namespace vesk1

#endif  // VESK1_SERVER_STARTUP_H
