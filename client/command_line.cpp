#include "client/command_line.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

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

const char* const kReadOptionHelp =
    R"(Options of the measured sounding:
  --component C            the 1D response of the tensor: det (default, the determinant), xy,
                           yx (-Zyx) or mean ((Zxy - Zyx) / 2)
  --error-floor F          least standard error of every point as a fraction of |Z| (default
                           0.05): 2F relative in apparent resistivity, F radians in phase
  --rho-floor F            least error of the apparent resistivity as a fraction of it (0 to 1),
                           and --phase-floor DEG of the phase in degrees (0 to 90); applied after
                           --error-floor, the larger error wins
  --static-shift F         multiply the apparent resistivities by F (0.001 to 1000) before
                           anything else; phases stay
  --rotate DEG             turn the impedance tensor to DEG degrees clockwise from north before
                           forming xy, yx or mean (det does not change); needs impedance or
                           spectra sections
  --periods MIN:MAX        use only the periods from MIN to MAX seconds
  --exclude-periods A:B[,C:D...]
                           leave out the periods from A to B seconds (and from C to D ...)
  --drop-out-of-quadrant   leave out the points whose phase lies outside 0 to 90 degrees
Points left out stay in the CSV of vesk1_client data with their status (used, excluded,
out-of-quadrant, missing); the summary line counts each kind. Input files must be regular
files of at most 256 MiB.
)";

bool ParseNumber(const char* text, double& value) {
  char* end = nullptr;
  value = std::strtod(text, &end);
  return *text != '\0' && *end == '\0' && std::isfinite(value);
}

namespace {

// "MIN:MAX" with 0 < MIN <= MAX.
bool ParseBand(const std::string& text, mt::PeriodBand& band) {
  const size_t colon = text.find(':');
  return colon != std::string::npos && ParseNumber(text.substr(0, colon).c_str(), band.from) &&
         ParseNumber(text.substr(colon + 1).c_str(), band.to) && band.from > 0 &&
         band.from <= band.to;
}

}  // namespace

int TakeReadOption(Arguments& args, mt::ReadOptions& options, OwnPeriods own) {
  const std::string arg = args.word();
  if (arg == "--drop-out-of-quadrant") {
    options.dropOutOfQuadrant = true;
    return kGoOn;
  }
  if (arg == "--periods" && own == OwnPeriods::kList && args.Has(1) &&
      std::strchr(args.After(1), ':') == nullptr) {
    return kNotMine;
  }
  if (arg != "--component" && arg != "--error-floor" && arg != "--rho-floor" &&
      arg != "--phase-floor" && arg != "--static-shift" && arg != "--rotate" &&
      arg != "--periods" && arg != "--exclude-periods") {
    return kNotMine;
  }
  const char* value = args.TakeValue();
  if (value == nullptr) return args.UsageError(arg + " needs a value");
  double number = 0;
  const bool isNumber = ParseNumber(value, number);
  if (arg == "--component") {
    if (!mt::ParseComponent(value, options.component)) {
      return args.UsageError("--component takes det, xy, yx or mean");
    }
  } else if (arg == "--error-floor") {
    if (!isNumber || !(number >= 0) || !(number < 1)) {
      return args.UsageError("--error-floor needs a fraction from 0 to below 1");
    }
    options.errorFloor = number;
  } else if (arg == "--rho-floor") {
    if (!isNumber || number < 0 || number > 1) {
      return args.UsageError("--rho-floor needs a fraction from 0 to 1");
    }
    options.rhoFloor = number;
  } else if (arg == "--phase-floor") {
    if (!isNumber || number < 0 || number > 90) {
      return args.UsageError("--phase-floor needs degrees from 0 to 90");
    }
    options.phaseFloor = number;
  } else if (arg == "--static-shift") {
    if (!isNumber || number < 0.001 || number > 1000) {
      return args.UsageError("--static-shift needs a factor from 0.001 to 1000");
    }
    options.staticShift = number;
  } else if (arg == "--rotate") {
    if (!isNumber || std::fabs(number) > 360) {
      return args.UsageError("--rotate needs degrees from -360 to 360");
    }
    options.rotateTo = number;
  } else if (arg == "--periods") {
    mt::PeriodBand band;
    if (!ParseBand(value, band)) {
      return args.UsageError("--periods needs MIN:MAX, seconds with 0 < MIN <= MAX");
    }
    options.keep = band;
  } else {
    const std::string list = value;
    for (size_t start = 0; start <= list.size();) {
      const size_t comma = std::min(list.find(',', start), list.size());
      mt::PeriodBand band;
      if (!ParseBand(list.substr(start, comma - start), band)) {
        return args.UsageError("--exclude-periods needs A:B[,C:D...], seconds with 0 < A <= B");
      }
      options.exclude.push_back(band);
      start = comma + 1;
    }
  }
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
                       const std::function<int(Arguments&)>& takeOwn, OwnPeriods own) {
  while (args.Next()) {
    int step = read != nullptr ? TakeReadOption(args, *read, own) : kNotMine;
    if (step == kNotMine) step = TakeServerOption(args, server);
    if (step == kNotMine) step = takeOwn(args);
    if (step == kNotMine) step = TakeInstance(args, server);
    if (step != kGoOn) return step;
  }
  return kGoOn;
}

int TakeOccamOption(Arguments& args, const std::string& arg, const char* value, OccamOptions& o) {
  double number = 0;
  const bool isNumber = ParseNumber(value, number);
  if (arg == "--layers") {
    if (!isNumber || number != std::floor(number) || number < 2 || number > 63) {
      return args.UsageError("--layers needs a whole number from 2 to 63");
    }
    o.layers = static_cast<long>(number);
  } else if (arg == "--target-rms") {
    if (!isNumber || !(number > 0)) return args.UsageError("--target-rms needs a positive number");
    o.targetRms = number;
  } else if (arg == "--max-iterations") {
    if (!isNumber || number != std::floor(number) || number < 1 || number > 1000) {
      return args.UsageError("--max-iterations needs a whole number from 1 to 1000");
    }
    o.maxIterations = static_cast<long>(number);
  } else if (arg == "--start-resistivity") {
    if (!isNumber || !(number > 0)) {
      return args.UsageError("--start-resistivity needs a positive number of ohm-metres");
    }
    o.startResistivity = number;
  } else if (arg == "--doi-fraction") {
    if (!isNumber || !(number > 0 && number < 1)) {
      return args.UsageError("--doi-fraction needs a number above 0 and below 1");
    }
    o.doiFraction = number;
  } else if (arg == "--max-depth") {
    if (!isNumber || !(number > 0)) {
      return args.UsageError("--max-depth needs a positive number of metres");
    }
    o.maxDepth = number;
  } else {
    return kNotMine;
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
