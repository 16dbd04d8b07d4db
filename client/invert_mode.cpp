// vesk1_client invert: Occam's smooth 1D inversion of a measured sounding, with the forward
// responses and sensitivities computed by vesk1_pipe's workers running the sounding module and
// the linear systems solved here with vesk1_fdll.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "client/command_line.h"
#include "client/fdll_solver.h"
#include "client/input_file.h"
#include "client/modes.h"
#include "client/pipe/server_engine.h"
#include "client/pipe/transport.h"
#include "mt/earth.h"
#include "mt/figures.h"
#include "mt/format.h"
#include "mt/investigation.h"
#include "mt/mesh.h"
#include "mt/occam.h"
#include "mt/readers/readers.h"

namespace vesk1::client {
namespace {

using mt::MeasuredPoint;
using mt::Printf;
using mt::Sounding;

constexpr const char* kProgram = "vesk1_client invert";

constexpr const char* kUsage = R"(Usage: vesk1_client invert --data FILE [options] <instance>

Inverts a measured magnetotelluric sounding for the smoothest layered earth that fits it to a
target misfit (Occam's inversion: log10 resistivities of layers whose thicknesses grow
geometrically with depth, first-difference roughness, a search of the Lagrange multiplier in
every iteration). The forward responses and the sensitivities are computed by the vesk1_pipe
server with the given instance number, running the sounding module (vesk1_chzd) with
vesk1_fdll beside it; the linear systems are solved here with vesk1_fdll's LU factorization and
condition estimate. One line per iteration: RMS misfit, roughness, multiplier and time.

The depth of investigation is the cumulative sensitivity depth of the final model: with the
sensitivities of the last iteration, each layer's sensitivity is the sum over all data of
|d datum / d log10 resistivity of the layer| divided by the datum's standard error, and the
depth of investigation is where the sum of these from the top reaches 90% (--doi-fraction) of
the sum over all layers, the half-space included. The last line, the --model-out file (as a
comment) and the --svg figure give it; below it the model shows the smoothing, not the data.

Options:
  --data FILE               the measured sounding, EDI or CSV (see vesk1_client data --help);
                            its used points are fitted
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
  --doi-fraction F          the share of the summed sensitivity above the depth of
                            investigation, above 0 and below 1 (default 0.9)
  --max-depth M             the depth axis of the figure ends at M metres (default: about twice
                            the depth of investigation)
  --fdll FILE               vesk1_fdll to solve with (default: beside vesk1_client, else in
                            ../lib/vesk1/ from it as installed, else in the current directory)
  --timeout MS              give up waiting for a reply after MS milliseconds (default 60000)
  --socket PATH             connect to PATH instead of the instance's pipe
  --stop                    send the stop command afterwards and wait for the server to end
  -h, --help                print this text

)";

constexpr const char* kUsageEnd = R"(
The first line printed is the summary of the measured sounding. A trial step whose system is
ill-conditioned (reciprocal condition estimate below 1e-12) or holds a value that is not a
finite number is reported and not used. When the misfit stops falling above the target, the
target is out of reach: the inversion then keeps the smoothest model within 2% of the least
misfit reached, and the last line says so. The exit status is 0 when a model was found, the
target reached or not; bad data counts as bad input, and a run in which no step could be used
writes nothing and ends with status 5.
)";

struct Options {
  std::string dataFile;
  mt::ReadOptions read;
  OccamOptions occam;
  std::string modelOut, csvFile, svgFile, trueModelFile, fdllFile;
  ServerOptions server;
};

int UsageError(const std::string& message) {
  return client::UsageError(kProgram, message);
}

// The options only this mode takes. Each takes a value, so a word that is no instance number
// and has no word after it is told it needs one, even when it is unknown.
int TakeOwnOption(Arguments& args, Options& o) {
  const std::string arg = args.word();
  if (LooksLikeInstance(arg)) return kNotMine;
  const char* value = args.TakeValue();
  if (value == nullptr) return args.UsageError(arg + " needs a value");
  if (const int taken = TakeOccamOption(args, arg, value, o.occam); taken != kNotMine) {
    return taken;
  }
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
  } else {
    return args.UsageError("unknown option " + arg);
  }
  return kGoOn;
}

// Returns kGoOn when the command line is usable, an exit status otherwise.
int ParseCommandLine(int argc, char** argv, Options& o) {
  Arguments args(kProgram, argc, argv);
  const int status = ReadServerModeLine(args, o.server, &o.read,
                                        [&](Arguments& a) { return TakeOwnOption(a, o); });
  if (status != kGoOn) return status;
  if (o.server.help) {
    return PrintHelp((std::string(kUsage) + kReadOptionHelp + kUsageEnd).c_str(), true);
  }
  if (o.dataFile.empty()) return UsageError("--data FILE is required");
  return RequireServer(args, o.server);
}

// A depth rounded to three significant digits, in metres.
std::string DepthText(double metres) {
  if (!(metres >= 100)) return Printf("%.3g m", metres);
  const double unit = std::pow(10.0, std::floor(std::log10(metres)) - 2);
  return Printf("%.0f m", std::round(metres / unit) * unit);
}

// ", depth of investigation D" for the last line, empty when the data see no layer.
std::string InvestigationText(const mt::Investigation& doi) {
  if (!std::isfinite(doi.depth)) return "";
  return ", depth of investigation " + std::string(doi.belowMesh ? "below the mesh, beyond " : "") +
         DepthText(doi.depth);
}

std::string ModelText(const mt::OccamResult& result, const std::vector<double>& thickness,
                      const Options& o, const mt::Investigation& doi) {
  std::string text = "# Occam inversion of " + o.dataFile + " (" +
                     mt::ComponentName(o.read.component) + " response), RMS misfit " +
                     Printf("%.4g", result.rms) + "\n";
  if (std::isfinite(doi.depth)) {
    text += "# depth of investigation " + DepthText(doi.depth) +
            (doi.belowMesh ? " or more (the half-space's top)" : "") +
            Printf(": the layers above it hold %g%% of the data's summed sensitivity\n",
                   100 * o.occam.doiFraction);
  }
  text += "# resistivity (ohm-m)  thickness (m); the last line is the half-space\n";
  for (size_t j = 0; j < result.model.size(); ++j) {
    text += Printf("%.6g", std::pow(10.0, result.model[j]));
    if (j < thickness.size()) text += Printf(" %.6g", thickness[j]);
    text += "\n";
  }
  return text;
}

// The used points beside the model's response at their periods: `response` holds its log10
// apparent resistivities, then its phases.
std::string FitCsv(const std::vector<MeasuredPoint>& used, const std::vector<double>& response) {
  std::string csv =
      "period_s,apparent_resistivity_ohm_m,apparent_resistivity_error_ohm_m,"
      "model_apparent_resistivity_ohm_m,phase_deg,phase_error_deg,model_phase_deg\n";
  const size_t p = used.size();
  for (size_t i = 0; i < p; ++i) {
    const MeasuredPoint& m = used[i];
    csv +=
        Printf("%.9g,%.9g,%.9g,%.9g,%.9g,%.9g,%.9g\n", m.period, m.resistivity, m.resistivityError,
               std::pow(10.0, response[i]), m.phase, m.phaseError, response[p + i]);
  }
  return csv;
}

// The last line: the misfit reached against the target, or, when the target proved out of
// reach, the least misfit and the one the model was smoothed at.
std::string LastLine(const mt::OccamResult& r, const Options& o, const mt::Investigation& doi) {
  const std::string rest = Printf(" after %.0f iterations, roughness %.4g",
                                  static_cast<double>(r.iterations.size()), r.roughness) +
                           InvestigationText(doi);
  if (r.reachedTarget)
    return Printf("reached RMS %.4f (target %g)", r.rms, o.occam.targetRms) + rest;
  if (r.smoothedAt > 0) {
    return Printf(
               "did not reach the target RMS %g: the least misfit reached is RMS %.4f; kept "
               "the smoothest model within %g%% of it, at RMS %.4f",
               o.occam.targetRms, r.leastRms, 100 * mt::kOutOfReachMargin, r.rms) +
           rest;
  }
  return Printf("did not reach the target: RMS %.4f (target %g)", r.rms, o.occam.targetRms) + rest;
}

// The figure: data with error bars over the recovered model's curve, and the models against
// depth with the depth of investigation.
std::string FigureOf(const Sounding& data, const mt::OccamResult& result,
                     const std::vector<double>& curvePeriods, const std::vector<double>& curveRho,
                     const std::vector<double>& curvePhase, const std::vector<double>& thickness,
                     const mt::LayeredEarth& trueEarth, const Options& o,
                     const mt::Investigation& doi) {
  mt::FitPlot plot;
  plot.title = "Occam inversion of " + std::string(mt::FileName(o.dataFile));
  plot.note = std::string(mt::ComponentName(o.read.component)) + " response, " +
              std::to_string(result.model.size()) + " layers, RMS misfit " +
              Printf("%.3f", result.rms) + " (target " + Printf("%g", o.occam.targetRms) + ")";
  plot.data = mt::MarksOf(data);
  for (size_t k = 0; k < curvePeriods.size(); ++k) {
    plot.curve.push_back({curvePeriods[k], std::pow(10.0, curveRho[k]), curvePhase[k]});
  }
  plot.curveLabel = "response of the recovered model";
  mt::DepthModel recovered{{}, thickness, "recovered model", mt::kModelColour};
  for (double m : result.model) recovered.resistivity.push_back(std::pow(10.0, m));
  plot.models.push_back(recovered);
  if (!trueEarth.resistivity.empty()) {
    plot.models.push_back(
        {trueEarth.resistivity, trueEarth.thickness, "true model", mt::kTrueModelColour});
  }
  plot.investigationDepth = doi.depth;
  plot.maxDepth = o.occam.maxDepth;
  return mt::FormatFitSvg(plot);
}

}  // namespace

int RunInvert(int argc, char** argv, const char* program) {
  Options o;
  if (const int status = ParseCommandLine(argc, argv, o); status != kGoOn) return status;
  const mt::ReadResult read = ReadSoundingFile(o.dataFile, o.read);
  if (!read.error.empty()) {
    std::fprintf(stderr, "vesk1_client invert: %s\n", read.error.c_str());
    return kExitUsage;
  }
  const Sounding& data = read.sounding;
  const mt::FitData fit = mt::FitDataOf(data);
  if (const std::string problem = mt::FitDataProblem(fit); !problem.empty()) {
    std::fprintf(stderr, "vesk1_client invert: %s: %s\n", o.dataFile.c_str(), problem.c_str());
    return kExitUsage;
  }
  mt::LayeredEarth trueEarth;
  if (!o.trueModelFile.empty()) {
    std::string text, problem;
    if (!ReadInputFile(o.trueModelFile, text, problem))
      return UsageError("--true-model " + problem);
    const mt::ModelParse parse = mt::ParseModel(text);
    if (!parse.error.empty()) {
      return UsageError("--true-model " + o.trueModelFile + ": " + parse.error);
    }
    trueEarth = parse.earth;
  }
  const common::LoadedFdll fdll = LoadSolverLibrary(o.fdllFile, program);
  if (fdll.factor == nullptr) {
    std::fprintf(stderr, "vesk1_client invert: no vesk1_fdll with CDLFCRG to solve with (%s)\n",
                 fdll.error.empty() ? "CDLFCRG missing" : fdll.error.c_str());
    return kExitFailed;
  }

  FILE* progressOut = o.csvFile == "-" ? stderr : stdout;
  const int layers = static_cast<int>(o.occam.layers);
  const std::vector<double> thickness = mt::MeshForSounding(data, layers);
  const std::vector<MeasuredPoint> used = mt::UsedPoints(data);
  std::vector<double> periods;
  for (const MeasuredPoint& p : used) periods.push_back(p.period);
  mt::OccamOptions occam;
  occam.targetRms = o.occam.targetRms;
  occam.maxIterations = static_cast<int>(o.occam.maxIterations);
  occam.startLog10Rho = o.occam.startResistivity > 0 ? std::log10(o.occam.startResistivity)
                                                     : mt::MeanLog10Resistivity(data);
  double depth = 0;
  for (double t : thickness) depth += t;
  std::fprintf(progressOut, "%s\n", mt::SoundingSummary(o.dataFile, data, o.read).c_str());
  std::fprintf(progressOut,
               "%d layers, the first %.4g m thick, the half-space from %.4g m; start %.4g ohm-m; "
               "target RMS %g\n",
               layers, thickness.empty() ? 0.0 : thickness[0], depth,
               std::pow(10.0, occam.startLog10Rho), o.occam.targetRms);
  std::fflush(progressOut);

  Connection connection;
  std::string path;
  if (const ClientStatus s =
          ConnectAsAsked(o.server.instance, o.server.socketPath, connection, path);
      s != ClientStatus::kOk) {
    return ReportConnectionFailure("vesk1_client invert: connecting to " + path, s, connection);
  }
  ServerEngine engine(connection, o.server.timeoutMs, periods, thickness);
  const auto start = std::chrono::steady_clock::now();
  FdllSolver solver(fdll.factor);
  const mt::OccamResult result = mt::RunOccam(
      fit, layers, engine, solver, occam,
      [&](const mt::IterationReport& r) {
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
  const mt::Investigation doi =
      mt::DepthOfInvestigation(fit, result.jacobian, thickness, o.occam.doiFraction);
  // The model's curve over the data's range, for the figure.
  std::string error = result.error;
  std::vector<double> curvePeriods, curveRho, curvePhase;
  const double from = periods.front() / 2, to = periods.back() * 2;
  for (int k = 0; k < 120; ++k) curvePeriods.push_back(from * std::pow(to / from, k / 119.0));
  ServerEngine curveEngine(connection, o.server.timeoutMs, curvePeriods, thickness);
  if (error.empty() && !result.iterations.empty() && !o.svgFile.empty()) {
    curveEngine.Responses(result.model, curveRho, curvePhase, error);
  }
  int status = kExitOk;
  if (!error.empty()) {
    std::fprintf(stderr, "vesk1_client invert: %s\n", error.c_str());
    status = engine.status() != ClientStatus::kOk ? ExitCodeFor(engine.status())
                                                  : ExitCodeFor(curveEngine.status());
    if (status == kExitOk) status = kExitFailed;
  }
  if (o.server.stop && engine.status() == ClientStatus::kOk &&
      curveEngine.status() == ClientStatus::kOk) {
    ClientStatus s = SendRequest(connection, StopRequest());
    if (s == ClientStatus::kOk) s = WaitForClose(connection, o.server.timeoutMs);
    if (s != ClientStatus::kOk && status == kExitOk) {
      std::fprintf(stderr, "vesk1_client invert: stopping the server: %s\n", StatusText(s));
      status = ExitCodeFor(s);
    }
  }
  Close(connection);
  if (status != kExitOk) return status;
  if (result.iterations.empty()) {
    std::fprintf(stderr,
                 "vesk1_client invert: no step of the inversion could be used (RMS %.4f at the "
                 "start); no model written\n",
                 result.rms);
    return kExitFailed;
  }

  std::fprintf(progressOut, "%s, %.1f ms; %d requests, %.1f ms on the server\n",
               LastLine(result, o, doi).c_str(), seconds * 1e3, engine.requests(),
               engine.serverMilliseconds());
  if (!o.modelOut.empty() &&
      !WriteOutputFile(o.modelOut, ModelText(result, thickness, o, doi), kProgram)) {
    status = kExitFailed;
  }
  if (!o.csvFile.empty() && !WriteOutputFile(o.csvFile, FitCsv(used, result.response), kProgram)) {
    status = kExitFailed;
  }
  if (!o.svgFile.empty() && !WriteOutputFile(o.svgFile,
                                             FigureOf(data, result, curvePeriods, curveRho,
                                                      curvePhase, thickness, trueEarth, o, doi),
                                             kProgram)) {
    status = kExitFailed;
  }
  std::fflush(stdout);
  return status;
}

}  // namespace vesk1::client
