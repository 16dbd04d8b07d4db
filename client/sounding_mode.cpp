// vesk1_client sounding: a magnetotelluric sounding curve of a layered-earth model file,
// computed by vesk1_pipe running the sounding module.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "client/command_line.h"
#include "client/input_file.h"
#include "client/modes.h"
#include "client/pipe/sounding_requests.h"
#include "client/pipe/transport.h"
#include "mt/curve.h"
#include "mt/earth.h"
#include "mt/figures.h"
#include "mt/misfit.h"
#include "mt/readers/readers.h"

namespace vesk1::client {
namespace {

using mt::CurvePoint;

constexpr const char* kProgram = "vesk1_client sounding";

constexpr const char* kUsage = R"(Usage: vesk1_client sounding [options] <instance>

Computes the magnetotelluric sounding curve of a layered earth on the vesk1_pipe server with
the given instance number, which must run the sounding module (vesk1_chzd) with vesk1_fdll
beside it, and prints apparent resistivity and phase per period as a table.

The model file has one layer per line from the top down, "resistivity thickness" in ohm-metres
and metres, and the half-space below as its last line with the resistivity alone. '#' starts a
comment. At most 63 layers, the half-space included.

Options:
  --model FILE         the layered-earth model (required)
  --periods LIST       periods in seconds, comma-separated (MIN:MAX, with a colon, is the band
                       of the measured periods used, see below)
  --range FROM TO N    N periods spaced evenly in logarithm from FROM to TO seconds
                       (default: 0.001 10000 40, or the periods of --data)
  --data FILE          a measured sounding (EDI or CSV, see vesk1_client data --help): the
                       model is also computed at its used periods, its summary printed first,
                       the RMS misfit printed and the measured points drawn with error bars in
                       the SVG
  --csv FILE           also write the curve as CSV to FILE ("-": standard output, instead of
                       the table)
  --svg FILE           also write a plot of the curve as SVG to FILE
  --timeout MS         give up waiting for a reply after MS milliseconds (default 60000)
  --socket PATH        connect to PATH instead of the instance's pipe
  --stop               send the stop command afterwards and wait for the server to end
  -h, --help           print this text

)";

constexpr const char* kUsageEnd = R"(
Periods go to the server in requests of at most 255. A period the module cannot compute shows
as nan. A bad model file or period list counts as bad input.
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
  ServerOptions server;
};

int UsageError(const std::string& message) {
  return client::UsageError(kProgram, message);
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

// The options only this mode takes.
int TakeOwnOption(Arguments& args, Options& options) {
  const std::string arg = args.word();
  if (arg == "--model" || arg == "--periods" || arg == "--csv" || arg == "--svg" ||
      arg == "--data") {
    const char* value = args.TakeValue();
    if (value == nullptr) return args.UsageError(arg + " needs a value");
    if (arg == "--model") options.modelFile = value;
    if (arg == "--periods") options.periodList = value;
    if (arg == "--csv") options.csvFile = value;
    if (arg == "--svg") options.svgFile = value;
    if (arg == "--data") options.dataFile = value;
    return kGoOn;
  }
  if (arg != "--range") return kNotMine;
  if (!args.Has(3)) return args.UsageError("--range needs FROM, TO and N");
  if (!WholeDouble(args.After(1), options.rangeFrom) ||
      !WholeDouble(args.After(2), options.rangeTo) ||
      !WholeLong(args.After(3), options.rangeCount)) {
    return args.UsageError("--range needs two numbers of seconds and a count");
  }
  options.rangeGiven = true;
  args.Skip(3);
  return kGoOn;
}

// Returns kGoOn when the command line is usable, an exit status otherwise.
int ParseCommandLine(int argc, char** argv, Options& options) {
  Arguments args(kProgram, argc, argv);
  const int status = ReadServerModeLine(
      args, options.server, &options.read, [&](Arguments& a) { return TakeOwnOption(a, options); },
      OwnPeriods::kList);
  if (status != kGoOn) return status;
  if (options.server.help) {
    return PrintHelp((std::string(kUsage) + kReadOptionHelp + kUsageEnd).c_str(), true);
  }
  if (options.modelFile.empty()) return UsageError("--model FILE is required");
  if (!options.periodList.empty() && options.rangeGiven) {
    return UsageError("give either --periods or --range, not both");
  }
  return RequireServer(args, options.server);
}

int ClientFailure(const std::string& what, ClientStatus status, const Connection& connection) {
  return ReportConnectionFailure(std::string(kProgram) + ": " + what, status, connection);
}

// Sends the periods in requests of at most 255 and collects the curve.
int ComputeCurve(Connection& connection, const RecurrenceModel& model,
                 const std::vector<float>& periods, int timeoutMs, std::vector<CurvePoint>& curve,
                 double& serverMs) {
  for (size_t start = 0; start < periods.size(); start += kMaxItems) {
    const size_t count = std::min<size_t>(kMaxItems, periods.size() - start);
    PipeRequest request = NewRequest();
    std::memcpy(request.moduleData, &model, sizeof model);
    SetFloatItems(request, std::span<const float>(periods.data() + start, count));
    request.selectFirst = 1;
    if (const ClientStatus s = SendRequest(connection, request); s != ClientStatus::kOk) {
      return ClientFailure("sending a request", s, connection);
    }
    PipeReply reply;
    if (const ClientStatus s = ReceiveReply(connection, reply, timeoutMs); s != ClientStatus::kOk) {
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

int RunSounding(int argc, char** argv) {
  Options options;
  if (const int status = ParseCommandLine(argc, argv, options); status != kGoOn) return status;

  std::string text, error;
  if (!ReadInputFile(options.modelFile, text, error)) {
    std::fprintf(stderr, "%s: %s\n", kProgram, error.c_str());
    return kExitUsage;
  }
  const mt::ModelParse parse = mt::ParseModel(text);
  if (!parse.error.empty()) {
    std::fprintf(stderr, "vesk1_client sounding: %s: %s\n", options.modelFile.c_str(),
                 parse.error.c_str());
    return kExitUsage;
  }
  mt::ReadResult measured;
  std::vector<float> dataPeriods;
  if (!options.dataFile.empty()) {
    measured = ReadSoundingFile(options.dataFile, options.read);
    if (!measured.error.empty()) {
      std::fprintf(stderr, "vesk1_client sounding: %s\n", measured.error.c_str());
      return kExitUsage;
    }
    std::fprintf(options.csvFile == "-" ? stderr : stdout, "%s\n",
                 mt::SoundingSummary(options.dataFile, measured.sounding, options.read).c_str());
    for (const mt::MeasuredPoint& p : mt::UsedPoints(measured.sounding)) {
      dataPeriods.push_back(static_cast<float>(p.period));
    }
  }
  mt::PeriodsParse periods =
      options.periodList.empty()
          ? mt::LogSpacedPeriods(options.rangeFrom, options.rangeTo, options.rangeCount)
          : mt::ParsePeriodList(options.periodList);
  if (!periods.error.empty()) return UsageError(periods.error);
  if (!dataPeriods.empty() && options.periodList.empty() && !options.rangeGiven) {
    periods.periods = dataPeriods;
  }

  Connection connection;
  std::string path;
  if (const ClientStatus s =
          ConnectAsAsked(options.server.instance, options.server.socketPath, connection, path);
      s != ClientStatus::kOk) {
    return ClientFailure("connecting to " + path, s, connection);
  }
  std::vector<CurvePoint> curve;
  double serverMs = 0;
  const RecurrenceModel model = ToRecurrenceModel(parse.earth);
  int status =
      ComputeCurve(connection, model, periods.periods, options.server.timeoutMs, curve, serverMs);
  // The model at the measured periods, unless the curve is already computed there.
  std::vector<CurvePoint> atData = curve;
  if (status == kExitOk && !dataPeriods.empty() && periods.periods != dataPeriods) {
    atData.clear();
    status =
        ComputeCurve(connection, model, dataPeriods, options.server.timeoutMs, atData, serverMs);
  }
  if (status == kExitOk && options.server.stop) {
    ClientStatus s = SendRequest(connection, StopRequest());
    if (s == ClientStatus::kOk) s = WaitForClose(connection, options.server.timeoutMs);
    if (s != ClientStatus::kOk) status = ClientFailure("stopping the server", s, connection);
  }
  Close(connection);
  if (curve.size() != periods.periods.size()) return status;

  if (options.csvFile == "-") {
    std::fputs(mt::FormatCsv(curve).c_str(), stdout);
  } else {
    std::fputs(mt::FormatTable(curve).c_str(), stdout);
    if (!options.csvFile.empty() &&
        !WriteOutputFile(options.csvFile, mt::FormatCsv(curve), kProgram)) {
      status = kExitFailed;
    }
  }
  std::string misfit;
  if (!dataPeriods.empty()) {
    misfit = mt::MisfitText(measured.sounding, atData);
    std::printf("%s\n", misfit.c_str());
  }
  if (!options.svgFile.empty()) {
    const std::string title = "Sounding curve of " + std::string(mt::FileName(options.modelFile));
    const std::string svg =
        dataPeriods.empty()
            ? mt::FormatSvg(curve, title)
            : mt::FitSvg(measured.sounding, curve, parse.earth,
                         title + " and " + std::string(mt::FileName(options.dataFile)), misfit);
    if (!WriteOutputFile(options.svgFile, svg, kProgram)) status = kExitFailed;
  }
  std::fflush(stdout);
  const size_t requests = (curve.size() + kMaxItems - 1) / kMaxItems;
  std::fprintf(stderr,
               "vesk1_client sounding: %zu periods in %zu request%s, %.1f ms on the server\n",
               curve.size(), requests, requests == 1 ? "" : "s", serverMs);
  return status;
}

}  // namespace vesk1::client
