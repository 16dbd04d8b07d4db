// Start-up of vesk1_pipe up to the first request: buffers, worker directories and module
// instances, the pipe and the wait for the one client.
#ifndef VESK1_SERVER_STARTUP_H
#define VESK1_SERVER_STARTUP_H

#include <string>
#include <vector>

namespace vesk1 {

// Allocates the slots, the reply buffer and the share table for `workerCount` workers.
void AllocateBuffers(int workerCount);

// For each worker N = 1..W in order: makes sure "./N/" exists (a new one receives a copy of
// every "vesk1*" module file of the current directory, or of the install when the current
// directory has none; an existing one is used as it is when it is safe to load code from, and
// refused otherwise), loads the module from it, calls CLOADFCHZD with the directory and stores
// CHZD in the slot. A load is tried up to ten times, a second apart after each failure; a
// worker left without a module is reported with the reason. Returns the number of workers whose
// module loaded.
int PrepareWorkers();

// Creates the pipe, waits for a client of this user (hanging up on others) and reports both on
// the console; then accepts no further client. On failure prints why (a refused socket
// directory, the system's code) and ends the process with status 0.
void OpenPipeAndWaitForClient(int instance);

// The line printed for a worker whose module did not load, led by the newline that ends the
// line before: "\nWorker 2 could not load its module from ./2/: <the system's reason>".
std::string DescribeLoadFailure(int workerNumber, const std::string& directory,
                                const std::string& reason);
// The hint for a worker directory used as it stood: which module files of the source named
// `sourceName` ("the current directory", or the install's folder) it lacks (`current` holds
// the source's, `inWorker` its own), in name order; empty when none.
std::string DescribeMissingFiles(const std::string& directory, std::vector<std::string> current,
                                 const std::vector<std::string>& inWorker,
                                 const std::string& sourceName);

}  // namespace vesk1

#endif  // VESK1_SERVER_STARTUP_H
