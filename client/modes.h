// The modes of vesk1_client, one file each; main.cpp picks one by the command line's first word.
// Each returns the process's exit status (command_line.h lists them).
#ifndef VESK1_CLIENT_MODES_H
#define VESK1_CLIENT_MODES_H

namespace vesk1::client {

// No mode named: one raw request (or the stop command) and its reply printed. argv[0] is the
// program.
int RunRequest(int argc, char** argv);

// A sounding curve of a layered-earth model file, computed by the server. argv[0] is
// "sounding".
int RunSounding(int argc, char** argv);

// A measured sounding as read from an EDI or CSV file, without a server. argv[0] is "data".
int RunData(int argc, char** argv);

// Occam's inversion of a measured sounding, the forward work done by the server. argv[0] is
// "invert"; `program` is the client's own path, beside which vesk1_fdll is looked for.
int RunInvert(int argc, char** argv, const char* program);

// The laterally constrained inversion of a profile's stations. argv[0] is "profile"; `program`
// as for RunInvert.
int RunProfile(int argc, char** argv, const char* program);

// Layered earths sampled in proportion to how well they fit a measured sounding, the chains'
// steps taken by the server. argv[0] is "sample".
int RunSample(int argc, char** argv);

}  // namespace vesk1::client

#endif  // VESK1_CLIENT_MODES_H
