// What every mode of vesk1_client shares on its command line: the exit codes and their one
// description for --help, the help option, and how an instance number is read.
#ifndef VESK1_TOOLS_COMMAND_LINE_H
#define VESK1_TOOLS_COMMAND_LINE_H

#include <string>

#include "client.h"

namespace vesk1::client {

// The exit codes of vesk1_client, the same in every mode.
enum ExitCode : int {
  kExitOk = 0,        // done
  kExitUsage = 2,     // bad command line or input file
  kExitNoServer = 3,  // no server listens on the pipe
  kExitClosed = 4,    // the server closed the pipe (it refused the request or ended) or sent no
                      // reply in time
  kExitFailed = 5,    // any other failure
  kExitBusy = 6,      // the server is already serving a client
  kExitRefused = 7,   // the pipe's directory or the server is not this user's own
};

// The exit codes as --help lists them, one paragraph ending in a newline.
extern const char* const kExitCodeHelp;

// The exit code for a connection's outcome.
int ExitCodeFor(ClientStatus status);

// Prints why a connection failed on standard error, led by `what` ("vesk1_client: <path>"),
// and returns the exit code for it.
int ReportConnectionFailure(const std::string& what, ClientStatus status,
                            const Connection& connection);

// "--help" and "-h".
bool IsHelpOption(const std::string& argument);

// Whether a word is meant as the instance number rather than an option: anything but a word
// that starts with '-' and a letter ("-3" is instance -3, "--stop" an option).
bool LooksLikeInstance(const std::string& argument);

// Reads an instance number as the server reads its own (decimal, with an optional sign), but
// refuses what the server would silently read as another number: anything besides the digits,
// and numbers outside 32 bits. "07" is 7; "0x7", "7a", "" and "99999999999" are refused.
bool ParseInstance(const std::string& text, int& instance);

}  // namespace vesk1::client

#endif  // VESK1_TOOLS_COMMAND_LINE_H
