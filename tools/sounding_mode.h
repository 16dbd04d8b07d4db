// vesk1_client sounding: a magnetotelluric sounding curve of a layered-earth model file,
// computed by vesk1_pipe running the sounding module.
#ifndef VESK1_TOOLS_SOUNDING_MODE_H
#define VESK1_TOOLS_SOUNDING_MODE_H

#include "client.h"

namespace vesk1::sounding {

// The client's exit status for the outcome of a transfer: 0 done, 3 no server listens, 4 the
// server closed the pipe or sent no reply in time, 5 any other failure.
int StatusExit(client::ClientStatus status);

// argv[0] is "sounding"; returns the process exit status.
int RunSounding(int argc, char** argv);

}  // namespace vesk1::sounding

#endif  // VESK1_TOOLS_SOUNDING_MODE_H
