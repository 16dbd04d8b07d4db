#include "invert_mode.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "client.h"
#include "command_line.h"
#include "data_mode.h"
#include "fdll_loader.h"
#include "measured_data.h"
#include "occam.h"
#include "sounding_engine.h"
#include "sounding_mode.h"
#include "sounding_model.h"
#include "sounding_output.h"

namespace vesk1::mt {
namespace {

using client::ClientStatus;
using client::kExitFailed;
using client::kExitOk;
using client::kExitUsage;

constexpr const char* kUsage = R"(Usage: vesk1_client invert --data FILE [options] <instance>

Inverts a measured magnetotelluric sounding for the smoothest layered earth that fits it to a
target misfit (Occam's inversion: log10 resistivities of layers whose thicknesses grow
geometrically with depth, first-difference roughness, a search of the Lagrange multiplier in
every iteration). The forward responses and the sensitivities are computed by the vesk1_pipe
server with the given instance number, running the sounding module (vesk1_chzd) with
vesk1_fdll beside it; the linear systems are solved here with vesk1_fdll's LU factorization and
condition estimate. One line per iteration: RMS misfit, roughness, multiplier and time.

Options:
  --data FILE               the measured sounding, EDI or CSV (see vesk1_client data --help)
  --component C             det (default), xy, yx or mean
  --error-floor F           least error as a fraction of |Z| (default 0.05)
  --layers N                layers including the half-space, 2 to 63 (default 50)
  --target-rms X            the misfit to reach (default 1)
  --max-iterations K        at most K iterations (default 30)
  --start-resistivity R     the uniform starting model in ohm-metres (default: the geometric
                            mean of the measured apparent resistivities)
  --model-out FILE          write the model in the --model format of vesk1_client sounding
  --csv FILE                measured and computed values side by side ("-": standard output)
  --svg FILE                plot: data with error bars and the model's curves, and beside them
                            resistivity against depth
  --true-model FILE         a model file drawn in the depth panel for comparison
  --fdll FILE               vesk1_fdll to solve with (default: beside vesk1_client, else in
                            ../lib/vesk1/ from it as installed, else in the current directory)
  --timeout MS              give up waiting for a reply after MS milliseconds (default 60000)
  --socket PATH             connect to PATH instead of the instance's pipe
  --stop                    send the stop command afterwards and wait for the server to end
  -h, --help                print this text

A trial step whose system is ill-conditioned (reciprocal condition estimate below 1e-12) is
reported and not used. The exit status is 0 also when the target was not reached (the last
line says so); bad data counts as bad input.
)";

struct Options {
  std::string dataFile;
  ReadOptions read;
  long layers = 50;
  double targetRms = 1.0;
  long maxIterations = 30;
  double startResistivity = 0;  // 0: from the data
  std::string modelOut, csvFile, svgFile, trueModelFile, fdllFile, socketPath;
  int timeoutMs = 60000;
  bool stop = false;
  bool help = false;
  bool haveInstance = false;
  int instance = 0;
};

int UsageError(const std::string& message) {
  std::fprintf(stderr, "vesk1_client invert: %s\nTry 'vesk1_client invert --help'.\n",
               message.c_str());
  return kExitUsage;
}

bool WholeNumber(const char* text, double& value) {
  char* end = nullptr;
  value = std::strtod(text, &end);
  return *text != '\0' && *end == '\0' && std::isfinite(value);
}

int ParseCommandLine(int argc, char** argv, Options& o) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    std::string error;
    const int taken = TakeReadOption(argc, argv, i, o.read, error);
    if (taken < 0) return UsageError(error);
    if (taken > 0) continue;
    if (client::IsHelpOption(arg)) {
      o.help = true;
      continue;
    }
    if (arg == "--stop") {
      o.stop = true;
      continue;
    }
    if (!client::LooksLikeInstance(arg)) {
      if (i + 1 >= argc) return UsageError(arg + " needs a value");
      const char* value = argv[++i];
      double number = 0;
      const bool isNumber = WholeNumber(value, number);
      if (arg == "--data") {
        o.dataFile = value;
      } else if (arg == "--model-out") {
        o.modelOut = value;
      } else if (arg == "--csv") {
        o.csvFile = value;
      } else if (arg == "--svg") {
        o.svgFile = value;
      } else if (arg == "--true-model") {
        o.trueModelFile = value;
      } else if (arg == "--fdll") {
        o.fdllFile = value;
      } else if (arg == "--socket") {
        o.socketPath = value;
      } else if (arg == "--layers") {
        if (!isNumber || number != std::floor(number) || number < 2 || number > 63) {
          return UsageError("--layers needs a whole number from 2 to 63");
        }
        o.layers = static_cast<long>(number);
      } else if (arg == "--target-rms") {
        if (!isNumber || !(number > 0)) return UsageError("--target-rms needs a positive number");
        o.targetRms = number;
      } else if (arg == "--max-iterations") {
        if (!isNumber || number != std::floor(number) || number < 1 || number > 1000) {
          return UsageError("--max-iterations needs a whole number from 1 to 1000");
        }
        o.maxIterations = static_cast<long>(number);
      } else if (arg == "--start-resistivity") {
        if (!isNumber || !(number > 0)) {
          return UsageError("--start-resistivity needs a positive number of ohm-metres");
        }
        o.startResistivity = number;
      } else if (arg == "--timeout") {
        if (!isNumber || number != std::floor(number) || number < 1 || number > 86400000) {
          return UsageError("--timeout needs a positive number of milliseconds");
        }
        o.timeoutMs = static_cast<int>(number);
      } else {
        return UsageError("unknown option " + arg);
      }
      continue;
    }
    if (o.haveInstance) return UsageError("more than one instance number");
    if (!client::ParseInstance(arg, o.instance)) {
      return UsageError("the instance must be a number, not \"" + arg + "\"");
    }
    o.haveInstance = true;
  }
  if (o.help) {
    std::fputs(kUsage, stdout);
    std::fputs("\n", stdout);
    std::fputs(client::kExitCodeHelp, stdout);
    return kExitOk;
  }
  if (o.dataFile.empty()) return UsageError("--data FILE is required");
  if (!o.haveInstance && o.socketPath.empty()) {
    return UsageError("the server's instance number is missing");
  }
  return -1;
}

bool WriteFile(const std::string& path, const std::string& text) {
  if (path == "-") {
    std::fputs(text.c_str(), stdout);
    return true;
  }
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file << text;
  file.close();
  if (!file) {
    std::fprintf(stderr, "vesk1_client invert: cannot write %s\n", path.c_str());
    return false;
  }
  return true;
}

std::string Printf(const char* format, double a, double b = 0, double c = 0, double d = 0,
                   double e = 0, double f = 0, double g = 0) {
  char buffer[320];
  std::snprintf(buffer, sizeof buffer, format, a, b, c, d, e, f, g);
  return buffer;
}

// The library to solve with: as given, beside this program, or in the current directory.
sounding::LoadedFdll LoadSolver(const std::string& given, const char* program) {
  if (!given.empty()) {
    const bool hasDirectory = given.find_first_of("/\\") != std::string::npos;
    return sounding::LoadFdllFile(hasDirectory ? given : "./" + given);
  }
  // Beside the program (the build tree, a Windows install), then where an install on Linux puts
  // the library (<prefix>/lib/vesk1/ beside <prefix>/bin/), then the current folder.
  const std::string self = client::ProgramDirectory(program);
  if (!self.empty()) {
    for (const std::string& folder : {self, self + "../lib/vesk1/"}) {
      sounding::LoadedFdll found = sounding::LoadFdll(folder.c_str());
      if (found.factor != nullptr) return found;
    }
  }
  return sounding::LoadFdll(".");
}

std::string ModelText(const std::vector<double>& model, const std::vector<double>& thickness,
                      const Options& o, double rms) {
  std::string text = "# Occam inversion of " + o.dataFile + " (" + ComponentName(o.read.component) +
                     " response), RMS misfit " + Printf("%.4g", rms) +
                     "\n# resistivity (ohm-m)  thickness (m); the last line "
                     "is the half-space\n";
  for (size_t j = 0; j < model.size(); ++j) {
    text += Printf("%.6g", std::pow(10.0, model[j]));
    if (j < thickness.size()) text += Printf(" %.6g", thickness[j]);
    text += "\n";
  }
  return text;
}

std::string FitCsv(const Sounding& data, const std::vector<double>& log10Rho,
                   const std::vector<double>& phase) {
  std::string csv =
      "period_s,apparent_resistivity_ohm_m,apparent_resistivity_error_ohm_m,"
      "model_apparent_resistivity_ohm_m,phase_deg,phase_error_deg,model_phase_deg\n";
  for (size_t i = 0; i < data.points.size(); ++i) {
    const MeasuredPoint& p = data.points[i];
    csv += Printf("%.9g,%.9g,%.9g,%.9g,%.9g,%.9g,%.9g\n", p.period, p.resistivity,
                  p.resistivityError, std::pow(10.0, log10Rho[i]), p.phase, p.phaseError, phase[i]);
  }
  return csv;
}

}  // namespace

int RunInvert(int argc, char** argv, const char* program) {
  Options o;
  if (const int status = ParseCommandLine(argc, argv, o); status >= 0) return status;
  const ReadResult read = ReadSoundingFile(o.dataFile, o.read);
  if (!read.error.empty()) {
    std::fprintf(stderr, "vesk1_client invert: %s\n", read.error.c_str());
    return kExitUsage;
  }
  const Sounding& data = read.sounding;
  sounding::LayeredEarth trueEarth;
  if (!o.trueModelFile.empty()) {
    std::ifstream file(o.trueModelFile, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(file)),
                           std::istreambuf_iterator<char>());
    const sounding::ModelParse parse = sounding::ParseModel(text);
    if (!file || !parse.error.empty()) {
      return UsageError("--true-model " + o.trueModelFile + ": " +
                        (parse.error.empty() ? "cannot read the file" : parse.error));
    }
    trueEarth = parse.earth;
  }
  const sounding::LoadedFdll fdll = LoadSolver(o.fdllFile, program);
  if (fdll.factor == nullptr) {
    std::fprintf(stderr, "vesk1_client invert: no vesk1_fdll with CDLFCRG to solve with (%s)\n",
                 fdll.error.empty() ? "CDLFCRG missing" : fdll.error.c_str());
    return kExitFailed;
  }

  FILE* progressOut = o.csvFile == "-" ? stderr : stdout;
  const int layers = static_cast<int>(o.layers);
  const std::vector<double> thickness = MeshForSounding(data, layers);
  std::vector<double> periods;
  double meanLog = 0;
  for (const MeasuredPoint& p : data.points) {
    periods.push_back(p.period);
    meanLog += std::log10(p.resistivity);
  }
  meanLog /= static_cast<double>(data.points.size());
  OccamOptions occam;
  occam.targetRms = o.targetRms;
  occam.maxIterations = static_cast<int>(o.maxIterations);
  occam.startLog10Rho = o.startResistivity > 0 ? std::log10(o.startResistivity) : meanLog;
  double depth = 0;
  for (double t : thickness) depth += t;
  std::fprintf(progressOut, "%s\n", SoundingSummary(o.dataFile, data, o.read).c_str());
  std::fprintf(progressOut,
               "%d layers, the first %.4g m thick, the half-space from %.4g m; start %.4g ohm-m; "
               "target RMS %g\n",
               layers, thickness.empty() ? 0.0 : thickness[0], depth,
               std::pow(10.0, occam.startLog10Rho), o.targetRms);
  std::fflush(progressOut);

  client::Connection connection;
  std::string path;
  if (const ClientStatus s = client::ConnectAsAsked(o.instance, o.socketPath, connection, path);
      s != ClientStatus::kOk) {
    return client::ReportConnectionFailure("vesk1_client invert: connecting to " + path, s,
                                           connection);
  }
  ServerEngine engine(connection, o.timeoutMs, periods, thickness);
  const FitData fit = FitDataOf(data);
  const auto start = std::chrono::steady_clock::now();
  const OccamResult result = RunOccam(
      fit, layers, engine, fdll.factor, occam,
      [&](const IterationReport& r) {
        std::fprintf(progressOut,
                     "iteration %2d: RMS %.4f, roughness %.4g, multiplier %.4g, %.1f ms "
                     "(forward %.1f ms in %d runs, sensitivities %.1f ms, solves %.1f ms)\n",
                     r.iteration, r.rms, r.roughness, r.multiplier, r.seconds * 1e3,
                     r.forwardSeconds * 1e3, r.forwardRuns, r.sensitivitySeconds * 1e3,
                     r.solveSeconds * 1e3);
        std::fflush(progressOut);
      },
      [&](const std::string& message) {
        std::fprintf(progressOut, "  %s\n", message.c_str());
        std::fflush(progressOut);
      });
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  // The fit at the data's periods, and the model's curve over the data's range.
  std::vector<double> rho, phase, curveRho, curvePhase;
  std::string error = result.error;
  std::vector<double> curvePeriods;
  const double from = periods.front() / 2, to = periods.back() * 2;
  for (int k = 0; k < 120; ++k) curvePeriods.push_back(from * std::pow(to / from, k / 119.0));
  ServerEngine curveEngine(connection, o.timeoutMs, curvePeriods, thickness);
  if (error.empty() && !result.model.empty()) {
    if (engine.Responses(result.model, rho, phase, error)) {
      curveEngine.Responses(result.model, curveRho, curvePhase, error);
    }
  }
  int status = kExitOk;
  if (!error.empty()) {
    std::fprintf(stderr, "vesk1_client invert: %s\n", error.c_str());
    status = engine.status() != ClientStatus::kOk ? client::ExitCodeFor(engine.status())
                                                  : client::ExitCodeFor(curveEngine.status());
    if (status == kExitOk) status = kExitFailed;
  }
  if (o.stop && engine.status() == ClientStatus::kOk && curveEngine.status() == ClientStatus::kOk) {
    ClientStatus s = client::SendRequest(connection, client::StopRequest());
    if (s == ClientStatus::kOk) s = client::WaitForClose(connection, o.timeoutMs);
    if (s != ClientStatus::kOk && status == kExitOk) {
      std::fprintf(stderr, "vesk1_client invert: stopping the server: %s\n", client::StatusText(s));
      status = client::ExitCodeFor(s);
    }
  }
  client::Close(connection);
  if (status != kExitOk) return status;

  std::fprintf(progressOut,
               "%s RMS %.4f (target %g) after %zu iterations, roughness %.4g, %.1f ms; %d "
               "requests, %.1f ms on the server\n",
               result.reachedTarget ? "reached" : "did not reach the target:", result.rms,
               o.targetRms, result.iterations.size(), result.roughness, seconds * 1e3,
               engine.requests(), engine.serverMilliseconds());
  if (!o.modelOut.empty() &&
      !WriteFile(o.modelOut, ModelText(result.model, thickness, o, result.rms))) {
    status = kExitFailed;
  }
  if (!o.csvFile.empty() && !WriteFile(o.csvFile, FitCsv(data, rho, phase))) status = kExitFailed;
  if (!o.svgFile.empty()) {
    sounding::FitPlot plot;
    plot.title = "Occam inversion of " + o.dataFile;
    plot.note = std::string(ComponentName(o.read.component)) + " response, " +
                std::to_string(layers) + " layers, RMS misfit " + Printf("%.3f", result.rms) +
                " (target " + Printf("%g", o.targetRms) + ")";
    for (const MeasuredPoint& p : data.points) {
      plot.data.push_back({p.period, p.resistivity, p.resistivityError, p.phase, p.phaseError});
    }
    for (size_t k = 0; k < curvePeriods.size(); ++k) {
      plot.curve.push_back({curvePeriods[k], std::pow(10.0, curveRho[k]), curvePhase[k]});
    }
    plot.curveLabel = "response of the recovered model";
    sounding::DepthModel recovered{{}, thickness, "recovered model", "#1f5fa8"};
    for (double m : result.model) recovered.resistivity.push_back(std::pow(10.0, m));
    plot.models.push_back(recovered);
    if (!trueEarth.resistivity.empty()) {
      plot.models.push_back({trueEarth.resistivity, trueEarth.thickness, "true model", "#b03a2e"});
    }
    if (!WriteFile(o.svgFile, sounding::FormatFitSvg(plot))) status = kExitFailed;
  }
  std::fflush(stdout);
  return status;
}

}  // namespace vesk1::mt
