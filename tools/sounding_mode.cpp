#include "sounding_mode.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "client.h"
#include "data_mode.h"
#include "measured_data.h"
#include "sounding_model.h"
#include "sounding_output.h"

namespace vesk1::sounding {
namespace {

using client::ClientStatus;

// The same exit codes as the client's other mode.
constexpr int kExitOk = 0;
constexpr int kExitUsage = 2;
constexpr int kExitNoServer = 3;
constexpr int kExitClosed = 4;
constexpr int kExitFailed = 5;

constexpr const char* kUsage = R"(Usage: vesk1_client sounding [options] <instance>

Computes the magnetotelluric sounding curve of a layered earth on the vesk1_pipe server with
the given instance number, which must run the sounding module (vesk1_chzd) with vesk1_fdll
beside it, and prints apparent resistivity and phase per period as a table.

The model file has one layer per line from the top down, "resistivity thickness" in ohm-metres
and metres, and the half-space below as its last line with the resistivity alone. '#' starts a
comment. At most 63 layers, the half-space included.

Options:
  --model FILE         the layered-earth model (required)
  --periods LIST       periods in seconds, comma-separated
  --range FROM TO N    N periods spaced evenly in logarithm from FROM to TO seconds
                       (default: 0.001 10000 40, or the periods of --data)
  --data FILE          a measured sounding (EDI or CSV, see vesk1_client data --help): the
                       model is also computed at its periods, the RMS misfit printed and the
                       measured points drawn with error bars in the SVG
  --component C        with --data: det (default), xy, yx or mean
  --error-floor F      with --data: least error as a fraction of |Z| (default 0.05)
  --csv FILE           also write the curve as CSV to FILE ("-": standard output, instead of
                       the table)
  --svg FILE           also write a plot of the curve as SVG to FILE
  --timeout MS         give up waiting for a reply after MS milliseconds (default 60000)
  --socket PATH        connect to PATH instead of the instance's pipe
  --stop               send the stop command afterwards and wait for the server to end
  --help               print this text

Periods go to the server in requests of at most 255. A period the module cannot compute shows
as nan. Exit status: 0 done; 2 bad command line, model or periods; 3 no server listens; 4 the
server closed the pipe or sent no reply in time; 5 any other failure.
)";

struct Options {
  std::string modelFile;
  std::string periodList;
  bool rangeGiven = false;
  double rangeFrom = 0.001, rangeTo = 10000;
  long rangeCount = 40;
  std::string csvFile;
  std::string svgFile;
  std::string dataFile;
  mt::ReadOptions read;
  int timeoutMs = 60000;
  std::string socketPath;
  bool stop = false;
  bool help = false;
  bool haveInstance = false;
  int instance = 0;
};

int UsageError(const std::string& message) {
  std::fprintf(stderr, "vesk1_client sounding: %s\nTry 'vesk1_client sounding --help'.\n",
               message.c_str());
  return kExitUsage;
}

bool WholeLong(const char* text, long& value) {
  char* end = nullptr;
  errno = 0;
  value = std::strtol(text, &end, 10);
  return *text != '\0' && *end == '\0' && errno == 0;
}

bool WholeDouble(const char* text, double& value) {
  char* end = nullptr;
  value = std::strtod(text, &end);
  return *text != '\0' && *end == '\0';
}

// Returns -1 when the command line is usable, an exit status otherwise.
int ParseCommandLine(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto needs = [&](int count) { return i + count < argc; };
    std::string readError;
    const int taken = mt::TakeReadOption(argc, argv, i, options.read, readError);
    if (taken < 0) return UsageError(readError);
    if (taken > 0) continue;
    if (arg == "--help") {
      options.help = true;
    } else if (arg == "--stop") {
      options.stop = true;
    } else if (arg == "--model" || arg == "--periods" || arg == "--csv" || arg == "--svg" ||
               arg == "--socket" || arg == "--timeout" || arg == "--data") {
      if (!needs(1)) return UsageError(arg + " needs a value");
      const char* value = argv[++i];
      if (arg == "--model") options.modelFile = value;
      if (arg == "--periods") options.periodList = value;
      if (arg == "--csv") options.csvFile = value;
      if (arg == "--svg") options.svgFile = value;
      if (arg == "--socket") options.socketPath = value;
      if (arg == "--data") options.dataFile = value;
      if (arg == "--timeout") {
        long ms = 0;
        if (!WholeLong(value, ms) || ms < 1 || ms > 24L * 3600 * 1000) {
          return UsageError("--timeout needs a positive number of milliseconds");
        }
        options.timeoutMs = static_cast<int>(ms);
      }
    } else if (arg == "--range") {
      if (!needs(3)) return UsageError("--range needs FROM, TO and N");
      if (!WholeDouble(argv[i + 1], options.rangeFrom) ||
          !WholeDouble(argv[i + 2], options.rangeTo) ||
          !WholeLong(argv[i + 3], options.rangeCount)) {
        return UsageError("--range needs two numbers of seconds and a count");
      }
      options.rangeGiven = true;
      i += 3;
    } else if (!arg.empty() && arg[0] == '-') {
      return UsageError("unknown option " + arg);
    } else {
      long instance = 0;
      if (options.haveInstance) return UsageError("more than one instance number");
      if (!WholeLong(arg.c_str(), instance) || instance < 0 || instance > 2147483647L) {
        return UsageError("the instance must be a number, not \"" + arg + "\"");
      }
      options.instance = static_cast<int>(instance);
      options.haveInstance = true;
    }
  }
  if (options.help) {
    std::fputs(kUsage, stdout);
    return kExitOk;
  }
  if (options.modelFile.empty()) return UsageError("--model FILE is required");
  if (!options.periodList.empty() && options.rangeGiven) {
    return UsageError("give either --periods or --range, not both");
  }
  if (!options.haveInstance && options.socketPath.empty()) {
    return UsageError("the server's instance number is missing");
  }
  return -1;
}

int ClientFailure(const char* what, ClientStatus status, const client::Connection& connection) {
  std::fprintf(stderr, "vesk1_client sounding: %s: %s", what, client::StatusText(status));
  if (status == ClientStatus::kFailed) {
    std::fprintf(stderr, " (%s)", std::strerror(connection.lastError));
  }
  std::fputc('\n', stderr);
  return StatusExit(status);
}

bool WriteFile(const std::string& path, const std::string& text) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file << text;
  file.close();
  if (!file) {
    std::fprintf(stderr, "vesk1_client sounding: cannot write %s\n", path.c_str());
    return false;
  }
  return true;
}

// Sends the periods in requests of at most 255 and collects the curve.
int ComputeCurve(client::Connection& connection, const RecurrenceModel& model,
                 const std::vector<float>& periods, int timeoutMs, std::vector<CurvePoint>& curve,
                 double& serverMs) {
  for (size_t start = 0; start < periods.size(); start += kMaxItems) {
    const size_t count = std::min<size_t>(kMaxItems, periods.size() - start);
    PipeRequest request = client::NewRequest();
    std::memcpy(request.moduleData, &model, sizeof model);
    client::SetFloatItems(request, std::span<const float>(periods.data() + start, count));
    request.selectFirst = 1;
    if (const ClientStatus s = client::SendRequest(connection, request); s != ClientStatus::kOk) {
      return ClientFailure("sending a request", s, connection);
    }
    PipeReply reply;
    if (const ClientStatus s = client::ReceiveReply(connection, reply, timeoutMs);
        s != ClientStatus::kOk) {
      return ClientFailure("waiting for the reply", s, connection);
    }
    serverMs += reply.elapsedMs;
    for (size_t k = 0; k < count; ++k) {
      float values[2];
      std::memcpy(values, reply.entries[k], sizeof values);
      curve.push_back({periods[start + k], values[0], values[1]});
    }
  }
  return kExitOk;
}

}  // namespace

int StatusExit(ClientStatus status) {
  switch (status) {
    case ClientStatus::kOk:
      return kExitOk;
    case ClientStatus::kNoServer:
      return kExitNoServer;
    case ClientStatus::kClosed:
    case ClientStatus::kTimedOut:
      return kExitClosed;
    default:
      return kExitFailed;
  }
}

int RunSounding(int argc, char** argv) {
  Options options;
  if (const int status = ParseCommandLine(argc, argv, options); status >= 0) return status;

  std::ifstream file(options.modelFile, std::ios::binary);
  if (!file) return UsageError("cannot read the model file " + options.modelFile);
  const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  const ModelParse parse = ParseModel(text);
  if (!parse.error.empty()) {
    std::fprintf(stderr, "vesk1_client sounding: %s: %s\n", options.modelFile.c_str(),
                 parse.error.c_str());
    return kExitUsage;
  }
  mt::ReadResult measured;
  std::vector<float> dataPeriods;
  if (!options.dataFile.empty()) {
    measured = mt::ReadSoundingFile(options.dataFile, options.read);
    if (!measured.error.empty()) {
      std::fprintf(stderr, "vesk1_client sounding: %s\n", measured.error.c_str());
      return kExitUsage;
    }
    for (const mt::MeasuredPoint& p : measured.sounding.points) {
      dataPeriods.push_back(static_cast<float>(p.period));
    }
  }
  PeriodsParse periods =
      options.periodList.empty()
          ? LogSpacedPeriods(options.rangeFrom, options.rangeTo, options.rangeCount)
          : ParsePeriodList(options.periodList);
  if (!periods.error.empty()) return UsageError(periods.error);
  if (!dataPeriods.empty() && options.periodList.empty() && !options.rangeGiven) {
    periods.periods = dataPeriods;
  }

  client::Connection connection;
  const std::string path =
      options.socketPath.empty() ? client::PipePathFor(options.instance) : options.socketPath;
  if (const ClientStatus s = client::Connect(path, connection); s != ClientStatus::kOk) {
    return ClientFailure(("connecting to " + path).c_str(), s, connection);
  }
  std::vector<CurvePoint> curve;
  double serverMs = 0;
  const RecurrenceModel model = ToRecurrenceModel(parse.earth);
  int status = ComputeCurve(connection, model, periods.periods, options.timeoutMs, curve, serverMs);
  // The model at the measured periods, unless the curve is already computed there.
  std::vector<CurvePoint> atData = curve;
  if (status == kExitOk && !dataPeriods.empty() && periods.periods != dataPeriods) {
    atData.clear();
    status = ComputeCurve(connection, model, dataPeriods, options.timeoutMs, atData, serverMs);
  }
  if (status == kExitOk && options.stop) {
    ClientStatus s = client::SendRequest(connection, client::StopRequest());
    if (s == ClientStatus::kOk) s = client::WaitForClose(connection, options.timeoutMs);
    if (s != ClientStatus::kOk) status = ClientFailure("stopping the server", s, connection);
  }
  client::Close(connection);
  if (curve.size() != periods.periods.size()) return status;

  if (options.csvFile == "-") {
    std::fputs(FormatCsv(curve).c_str(), stdout);
  } else {
    std::fputs(FormatTable(curve).c_str(), stdout);
    if (!options.csvFile.empty() && !WriteFile(options.csvFile, FormatCsv(curve))) {
      status = kExitFailed;
    }
  }
  std::string misfit;
  if (!dataPeriods.empty()) {
    misfit = mt::MisfitText(measured.sounding, atData);
    std::printf("%s\n", misfit.c_str());
  }
  if (!options.svgFile.empty()) {
    const std::string title = "Sounding curve of " + options.modelFile;
    const std::string svg =
        dataPeriods.empty()
            ? FormatSvg(curve, title)
            : mt::FitSvg(measured.sounding, curve, parse.earth,
                         "Sounding curve of " + options.modelFile + " and " + options.dataFile,
                         misfit);
    if (!WriteFile(options.svgFile, svg)) status = kExitFailed;
  }
  std::fflush(stdout);
  const size_t requests = (curve.size() + kMaxItems - 1) / kMaxItems;
  std::fprintf(stderr,
               "vesk1_client sounding: %zu periods in %zu request%s, %.1f ms on the server\n",
               curve.size(), requests, requests == 1 ? "" : "s", serverMs);
  return status;
}

}  // namespace vesk1::sounding
