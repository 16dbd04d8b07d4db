// vesk1_pipe: serves one client over a pipe, spreading each request over one worker per
// processor, each running its own instance of the computation module.
//
//   vesk1_pipe <instance>
#include <cstdlib>

#include "command_loop.h"
#include "console.h"
#include "platform/platform.h"
#include "server_state.h"
#include "startup.h"
#include "workers.h"

int main(int argc, char** argv) {
  using namespace vesk1;

  // Nothing starts without the program's own module handle.
  if (!platform::ProgramModuleAvailable()) {
    platform::PrintWideAndFlush(L"Fatal Error: GetModuleHandle failed\n");
    return 1;
  }

  // A console or client that goes away must never end the server by a signal.
  platform::SurviveBrokenPipes();

  const int workerCount = platform::ProcessorCount();
  if (argc < 2) return 0;  // no instance: nothing to serve, nothing printed

  const int instance = std::atoi(argv[1]);
  Print("%s", platform::PipeDisplayName(instance).c_str());

  AllocateBuffers(workerCount);
  if (PrepareWorkers() == 0) {
    // Serving without a single module would only answer with garbage or crash.
    Print("\nNo worker could load its module %s; stopping.\n", platform::ModuleFileName());
    return 1;
  }

  State().request = new PipeRequest();
  Print("\n(VESK_PIPE SERVER %s)\nV_TORMIK\n", argv[1]);

  OpenPipeAndWaitForClient(instance);

  if (!StartWorkerThreads()) {
    Print("Could not start the worker threads.\n");
    EndServer(1);
  }
  ServeRequests();
}
