#include "client/command_line.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace vesk1::client {

const char* const kExitCodeHelp =
    R"(Exit status: 0 done; 2 bad command line or input; 3 no server listens; 4 the server closed
the pipe (it refused the request or ended) or sent no reply in time; 5 any other failure;
6 the server is already serving a client; 7 the pipe's directory or the server belongs to
another user, or the directory is open to others.
)";

int ExitCodeFor(ClientStatus status) {
  switch (status) {
    case ClientStatus::kOk:
      return kExitOk;
    case ClientStatus::kNoServer:
      return kExitNoServer;
    case ClientStatus::kClosed:
    case ClientStatus::kTimedOut:
      return kExitClosed;
    case ClientStatus::kBusy:
      return kExitBusy;
    case ClientStatus::kRefused:
      return kExitRefused;
    case ClientStatus::kFailed:
      break;
  }
  return kExitFailed;
}

int ReportConnectionFailure(const std::string& what, ClientStatus status,
                            const Connection& connection) {
  if (status == ClientStatus::kRefused && !connection.problem.empty()) {
    std::fprintf(stderr, "%s: %s\n", what.c_str(), connection.problem.c_str());
  } else if (status == ClientStatus::kFailed) {
    std::fprintf(stderr, "%s: %s (%s)\n", what.c_str(), StatusText(status),
                 SystemErrorText(connection.lastError).c_str());
  } else {
    std::fprintf(stderr, "%s: %s\n", what.c_str(), StatusText(status));
  }
  return ExitCodeFor(status);
}

bool IsHelpOption(const std::string& argument) {
  return argument == "--help" || argument == "-h";
}

bool LooksLikeInstance(const std::string& argument) {
  return argument.size() < 2 || argument[0] != '-' ||
         std::isdigit(static_cast<unsigned char>(argument[1])) != 0;
}

bool ParseInstance(const std::string& text, int& instance) {
  std::size_t start = (!text.empty() && (text[0] == '-' || text[0] == '+')) ? 1 : 0;
  if (start == text.size()) return false;
  for (std::size_t i = start; i < text.size(); ++i) {
    if (std::isdigit(static_cast<unsigned char>(text[i])) == 0) return false;
  }
  errno = 0;
  const long long value = std::strtoll(text.c_str(), nullptr, 10);
  if (errno != 0 || value < -2147483648LL || value > 2147483647LL) return false;
  instance = static_cast<int>(value);
  return true;
}

int UsageError(const std::string& program, const std::string& message) {
  std::fprintf(stderr, "%s: %s\nTry '%s --help'.\n", program.c_str(), message.c_str(),
               program.c_str());
  return kExitUsage;
}

int PrintHelp(const char* usage, bool withExitCodes) {
  std::fputs(usage, stdout);
  if (withExitCodes) {
    std::fputs("\n", stdout);
    std::fputs(kExitCodeHelp, stdout);
  }
  return kExitOk;
}

bool Arguments::Next() {
  if (!Has(1)) return false;
  word_ = argv_[++position_];
  return true;
}

const char* Arguments::TakeValue() {
  return Has(1) ? argv_[++position_] : nullptr;
}

int Arguments::UsageError(const std::string& message) const {
  return client::UsageError(program_, message);
}

int TakeReadOption(Arguments& args, mt::ReadOptions& options) {
  const std::string arg = args.word();
  if (arg != "--component" && arg != "--error-floor") return kNotMine;
  const char* value = args.TakeValue();
  if (value == nullptr) return args.UsageError(arg + " needs a value");
  if (arg == "--component") {
    if (!mt::ParseComponent(value, options.component)) {
      return args.UsageError("--component takes det, xy, yx or mean");
    }
    return kGoOn;
  }
  char* end = nullptr;
  const double floor = std::strtod(value, &end);
  if (*value == '\0' || *end != '\0' || !(floor >= 0) || !(floor < 1)) {
    return args.UsageError("--error-floor needs a fraction from 0 to below 1");
  }
  options.errorFloor = floor;
  return kGoOn;
}

namespace {

// The options ReadServerModeLine takes itself.
int TakeServerOption(Arguments& args, ServerOptions& server) {
  const std::string& arg = args.word();
  if (IsHelpOption(arg)) {
    server.help = true;
  } else if (arg == "--stop") {
    server.stop = true;
  } else if (arg == "--socket" || arg == "--timeout") {
    const char* value = args.TakeValue();
    if (value == nullptr) return args.UsageError(arg + " needs a value");
    if (arg == "--socket") {
      server.socketPath = value;
      return kGoOn;
    }
    char* end = nullptr;
    const double ms = std::strtod(value, &end);
    if (*value == '\0' || *end != '\0' || !std::isfinite(ms) || ms != std::floor(ms) || ms < 1 ||
        ms > 86400000) {
      return args.UsageError("--timeout needs a positive number of milliseconds");
    }
    server.timeoutMs = static_cast<int>(ms);
  } else {
    return kNotMine;
  }
  return kGoOn;
}

int TakeInstance(Arguments& args, ServerOptions& server) {
  const std::string& arg = args.word();
  if (!LooksLikeInstance(arg)) return args.UsageError("unknown option " + arg);
  if (server.haveInstance) return args.UsageError("more than one instance number");
  if (!ParseInstance(arg, server.instance)) {
    return args.UsageError("the instance must be a number, not \"" + arg + "\"");
  }
  server.haveInstance = true;
  return kGoOn;
}

}  // namespace

int ReadServerModeLine(Arguments& args, ServerOptions& server, mt::ReadOptions* read,
                       const std::function<int(Arguments&)>& takeOwn) {
  while (args.Next()) {
    int step = read != nullptr ? TakeReadOption(args, *read) : kNotMine;
    if (step == kNotMine) step = TakeServerOption(args, server);
    if (step == kNotMine) step = takeOwn(args);
    if (step == kNotMine) step = TakeInstance(args, server);
    if (step != kGoOn) return step;
  }
  return kGoOn;
}

int RequireServer(const Arguments& args, const ServerOptions& server) {
  if (!server.haveInstance && server.socketPath.empty()) {
    return args.UsageError("the server's instance number is missing");
  }
  return kGoOn;
}

}  // namespace vesk1::client
