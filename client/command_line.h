// What every mode of vesk1_client shares on its command line: the exit codes and their one
// description for --help, the one usage error, how a mode reads its words, and the options
// every mode that asks a server (or reads a measured sounding) takes.
#ifndef VESK1_CLIENT_COMMAND_LINE_H
#define VESK1_CLIENT_COMMAND_LINE_H

#include <functional>
#include <string>

#include "client/pipe/transport.h"
#include "mt/investigation.h"
#include "mt/sounding.h"

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

// A finite number filling the whole of `text`, as strtod reads it.
bool ParseNumber(const char* text, double& value);

// Prints "<program>: <message>" and "Try '<program> --help'." on standard error and returns
// kExitUsage. `program` is "vesk1_client" or, in a mode, "vesk1_client sounding".
int UsageError(const std::string& program, const std::string& message);

// Prints a mode's --help text on standard output, followed by the exit codes when asked, and
// returns kExitOk.
int PrintHelp(const char* usage, bool withExitCodes);

// What reading one word of a command line came to, besides the exit status (0 or more) of a
// usage error already printed: go on (the word was taken, or the whole line was read), or the
// word is not one the reader knows.
inline constexpr int kGoOn = -1;
inline constexpr int kNotMine = -2;

// One mode's command line, read word by word from left to right.
class Arguments {
 public:
  // `program` names the mode in messages: "vesk1_client sounding". argv[0] is skipped.
  Arguments(std::string program, int argc, char** argv)
      : program_(std::move(program)), argc_(argc), argv_(argv) {}

  // Moves to the next word; false after the last.
  bool Next();
  // The current word.
  const std::string& word() const { return word_; }
  // Whether `count` more words follow the current one.
  bool Has(int count) const { return position_ + count < argc_; }
  // The k-th word after the current one (k >= 1); Has(k) must hold.
  const char* After(int k) const { return argv_[position_ + k]; }
  // Moves past the current option's `count` values.
  void Skip(int count) { position_ += count; }
  // The value after the current option, moved past; nullptr when none is left.
  const char* TakeValue();

  int UsageError(const std::string& message) const;
  const std::string& program() const { return program_; }

 private:
  std::string program_;
  int argc_;
  char** argv_;
  int position_ = 0;
  std::string word_;
};

// What every mode that asks a server takes on its command line.
struct ServerOptions {
  std::string socketPath;  // --socket PATH; empty: the instance's pipe
  int timeoutMs = 60000;   // --timeout MS
  bool stop = false;       // --stop
  bool help = false;       // -h, --help
  bool haveInstance = false;
  int instance = 0;
};

// The options of a measured sounding, the same in every mode that reads one, as --help lists them
// (kReadOptionHelp): --component, --error-floor, --rho-floor, --phase-floor, --static-shift,
// --rotate, --periods MIN:MAX, --exclude-periods and --drop-out-of-quadrant.
extern const char* const kReadOptionHelp;

// Whether a mode has a --periods of its own (the sounding mode's list of periods): then only a
// value with a colon, MIN:MAX, is the band of the measured sounding.
enum class OwnPeriods { kNo, kList };

// One option of a measured sounding, if the current word is one: kGoOn when taken, kNotMine, or
// the exit status of a usage error.
int TakeReadOption(Arguments& args, mt::ReadOptions& options, OwnPeriods own = OwnPeriods::kNo);

// Occam's settings, the same in `invert` and `profile`.
struct OccamOptions {
  long layers = 50;                              // --layers, 2 to 63
  double targetRms = 1.0;                        // --target-rms
  long maxIterations = 30;                       // --max-iterations, 1 to 1000
  double startResistivity = 0;                   // --start-resistivity; 0: from the data
  double doiFraction = mt::kInvestigationShare;  // --doi-fraction
  double maxDepth = 0;                           // --max-depth; 0: from the depth of investigation
};

// One of Occam's options, `arg` with its `value` already taken: kGoOn when taken, kNotMine when
// `arg` is none of them, or the exit status of a usage error.
int TakeOccamOption(Arguments& args, const std::string& arg, const char* value, OccamOptions& o);

// Reads the command line of a mode that asks a server: the measured sounding's options (when
// `read` is given), -h/--help, --stop, --socket PATH, --timeout MS (1 to 86400000) and the
// instance number here, the mode's own options through `takeOwn` (kGoOn, kNotMine or an exit
// status). Any other option is unknown. Returns kGoOn when the whole line was read, otherwise
// the exit status of the usage error printed.
int ReadServerModeLine(Arguments& args, ServerOptions& server, mt::ReadOptions* read,
                       const std::function<int(Arguments&)>& takeOwn,
                       OwnPeriods own = OwnPeriods::kNo);

// After ReadServerModeLine and the mode's own checks: the usage error when neither an instance
// number nor a socket was given, otherwise kGoOn.
int RequireServer(const Arguments& args, const ServerOptions& server);

}  // namespace vesk1::client

#endif  // VESK1_CLIENT_COMMAND_LINE_H
