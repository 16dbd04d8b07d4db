// vesk1_client: one program, six modes. The first word of the command line picks the mode;
// without one the client sends one raw request (or the stop command) and prints the reply.
#include <string>

#include "client/modes.h"

int main(int argc, char** argv) {
  using namespace vesk1::client;
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "sounding") return RunSounding(argc - 1, argv + 1);
  if (mode == "data") return RunData(argc - 1, argv + 1);
  if (mode == "sample") return RunSample(argc - 1, argv + 1);
  if (mode == "invert") return RunInvert(argc - 1, argv + 1, argv[0]);
  if (mode == "profile") return RunProfile(argc - 1, argv + 1, argv[0]);
  return RunRequest(argc, argv);
}
