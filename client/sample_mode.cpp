// vesk1_client sample: layered earths sampled in proportion to how well they fit a measured
// sounding (mt/sampler.h), the chains' steps taken by vesk1_pipe's workers running the sounding
// module, and what the samples say of the earth (mt/posterior.h).
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <tuple>
#include <vector>

#include "client/command_line.h"
#include "client/input_file.h"
#include "client/modes.h"
#include "client/pipe/sampler_engine.h"
#include "client/pipe/server_engine.h"
#include "client/pipe/transport.h"
#include "common/sampler_request.h"
#include "mt/earth.h"
#include "mt/figures.h"
#include "mt/format.h"
#include "mt/mesh.h"
#include "mt/misfit.h"
#include "mt/posterior.h"
#include "mt/posterior_figure.h"
#include "mt/readers/readers.h"
#include "mt/sampler.h"

namespace vesk1::client {
namespace {

using mt::Printf;

constexpr const char* kProgram = "vesk1_client sample";

constexpr const char* kUsage = R"(Usage: vesk1_client sample --data FILE [options] <instance>

Samples layered earths in proportion to how well they fit a measured magnetotelluric sounding:
a trans-dimensional Bayesian sampler (reversible-jump Markov chains over the number of layers,
their interface depths and their resistivities) with parallel tempering. The chains' steps are
taken by the vesk1_pipe server with the given instance number, running the sounding module
(vesk1_chzd); the same seed gives the same samples whatever the server's number of workers.
The likelihood is Gaussian in log10 apparent resistivity and phase, with the errors invert
fits. The prior: k layers (the half-space included) uniform over 1 to --max-layers, the k - 1
interface depths uniform in log depth within --depth-range, each layer's resistivity uniform
in log within --rho-range.

Options:
  --data FILE              the measured sounding, EDI or CSV (see vesk1_client data --help);
                           its used points are fitted
  --max-layers K           at most K layers, the half-space included, 1 to 63 (default 20)
  --depth-range MIN:MAX    interface depths in metres (default: a fifth of the skin depth of
                           the shortest period to one and a half skin depths of the longest,
                           in the apparent resistivities measured there)
  --rho-range MIN:MAX      resistivities in ohm-metres (default 0.1:100000)
  --chains C               chains at temperature 1, 1 to 64 (default 4)
  --temperatures T         rungs of each chain's ladder of temperatures, geometric from 1 to
                           100, 1 to 16 (default 4); at most 256 chains x temperatures in all;
                           neighbouring rungs exchange their chains' states when the tempered
                           likelihoods allow
  --steps N                steps per chain, burn-in included (default 100000)
  --burn-in B              the first B steps tune the proposal widths toward a quarter to a
                           third accepted and keep nothing (default a quarter of --steps)
  --thin K                 keep every K-th step of the temperature-1 chains (default 20); each
                           request to the server takes K steps per chain, and temperatures are
                           exchanged between requests, so a small K is slower
  --seed S                 the random seed, a whole number 0 to 2^64 - 1 (default 1)
  --prior-only             leave the likelihood out: sample the prior (a check of the sampler)
  --csv FILE               per depth the 5, 16, 50, 84 and 95 % points of log10 resistivity
                           ("-": standard output)
  --samples FILE           the kept samples, one per line: chain, step, layers, chi-squared,
                           then --max-layers - 1 interface depths (m) and --max-layers
                           resistivities (ohm-m), those beyond the sample's layers empty
  --svg FILE               the posterior as a figure: the density of log10 resistivity against
                           depth with its median and 5 % and 95 % curves, the histograms of
                           interface depths and of the number of layers, and the data with the
                           5-95 % band of the sampled models' responses
  --occam-model FILE       a model file (invert --model-out) drawn over the density
  --true-model FILE        a known model drawn over it too
  --timeout MS             give up waiting for a reply after MS milliseconds (default 60000)
  --socket PATH            connect to PATH instead of the instance's pipe
  --stop                   send the stop command afterwards and wait for the server to end
  -h, --help               print this text

)";

constexpr const char* kUsageEnd = R"(
The first line printed is the summary of the measured sounding, the second the sampler's
settings. While it runs, one progress line (steps done, forward runs per second, the share of
each kind of move accepted at temperature 1, the share of exchanges taken, the best RMS misfit
and the time left) is redrawn on a terminal, or printed every few seconds otherwise. At the
end: the split-chain R-hat and effective sample size of the misfit and of the layer count over
the temperature-1 chains (with a warning when an R-hat exceeds 1.1), the layer count's median
and the median depth of the top of the most conductive layer, with their 5-95 % intervals.
)";

constexpr double kDefaultMinRho = 0.1, kDefaultMaxRho = 100000;
// Progress lines: redrawn on a terminal at most this often, printed this often otherwise.
constexpr double kRedrawSeconds = 0.25, kLineSeconds = 5.0;
constexpr int kProfileDepths = 100;
// The figure: bins of its density image, the samples whose responses make the band, and the
// band's periods, over the data's periods widened by a factor at each end.
constexpr int kImageDepthBins = 80, kImageRhoBins = 60;
constexpr size_t kBandSamples = 200;
constexpr int kBandPeriods = 60;
constexpr double kBandWidening = 2;

struct Options {
  std::string dataFile;
  mt::ReadOptions read;
  mt::SamplerOptions sampler;
  long maxLayers = 20;
  bool depthGiven = false, burnInGiven = false;
  double minDepth = 0, maxDepth = 0;
  double minRho = kDefaultMinRho, maxRho = kDefaultMaxRho;
  uint64_t seed = 1;
  bool priorOnly = false;
  std::string csvFile, samplesFile, svgFile, occamModelFile, trueModelFile;
  ServerOptions server;
};

int UsageError(const std::string& message) {
  return client::UsageError(kProgram, message);
}

// "MIN:MAX" with 0 < MIN < MAX.
bool ParseRange(const std::string& text, double& low, double& high) {
  const size_t colon = text.find(':');
  return colon != std::string::npos && ParseNumber(text.substr(0, colon).c_str(), low) &&
         ParseNumber(text.substr(colon + 1).c_str(), high) && low > 0 && low < high;
}

// A whole number from `low` to `high`.
bool ParseCount(const char* text, double low, double high, long& value) {
  double number = 0;
  if (!ParseNumber(text, number) || number != std::floor(number) || number < low || number > high) {
    return false;
  }
  value = static_cast<long>(number);
  return true;
}

// Decimal digits only, within 64 bits.
bool ParseSeed(const std::string& text, uint64_t& seed) {
  if (text.empty() || text.size() > 20) return false;
  uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    const auto digit = static_cast<uint64_t>(c - '0');
    if (value > (UINT64_MAX - digit) / 10) return false;
    value = value * 10 + digit;
  }
  seed = value;
  return true;
}

int TakeOwnOption(Arguments& args, Options& o) {
  const std::string arg = args.word();
  if (LooksLikeInstance(arg)) return kNotMine;
  if (arg == "--prior-only") {
    o.priorOnly = true;
    return kGoOn;
  }
  const char* value = args.TakeValue();
  if (value == nullptr) return args.UsageError(arg + " needs a value");
  long count = 0;
  mt::SamplerOptions& s = o.sampler;
  if (arg == "--data") {
    o.dataFile = value;
  } else if (arg == "--csv") {
    o.csvFile = value;
  } else if (arg == "--samples") {
    o.samplesFile = value;
  } else if (arg == "--svg") {
    o.svgFile = value;
  } else if (arg == "--occam-model") {
    o.occamModelFile = value;
  } else if (arg == "--true-model") {
    o.trueModelFile = value;
  } else if (arg == "--max-layers") {
    if (!ParseCount(value, 1, mt::kMaxLayers, o.maxLayers)) {
      return args.UsageError("--max-layers needs a whole number from 1 to 63");
    }
  } else if (arg == "--depth-range") {
    if (!ParseRange(value, o.minDepth, o.maxDepth)) {
      return args.UsageError("--depth-range needs MIN:MAX, metres with 0 < MIN < MAX");
    }
    o.depthGiven = true;
  } else if (arg == "--rho-range") {
    if (!ParseRange(value, o.minRho, o.maxRho) || o.minRho < 1e-30 || o.maxRho > 1e30) {
      return args.UsageError(
          "--rho-range needs MIN:MAX, ohm-metres with 1e-30 <= MIN < MAX <= 1e30");
    }
  } else if (arg == "--chains") {
    if (!ParseCount(value, 1, 64, count)) {
      return args.UsageError("--chains needs a whole number from 1 to 64");
    }
    s.chains = static_cast<int>(count);
  } else if (arg == "--temperatures") {
    if (!ParseCount(value, 1, 16, count)) {
      return args.UsageError("--temperatures needs a whole number from 1 to 16");
    }
    s.temperatures = static_cast<int>(count);
  } else if (arg == "--steps") {
    if (!ParseCount(value, 1, 1e8, s.steps)) {
      return args.UsageError("--steps needs a whole number from 1 to 100000000");
    }
  } else if (arg == "--burn-in") {
    if (!ParseCount(value, 0, 1e8, s.burnIn)) {
      return args.UsageError("--burn-in needs a whole number from 0 to 100000000");
    }
    o.burnInGiven = true;
  } else if (arg == "--thin") {
    if (!ParseCount(value, 1, 4096, count)) {
      return args.UsageError("--thin needs a whole number from 1 to 4096");
    }
    s.thin = static_cast<int>(count);
  } else if (arg == "--seed") {
    if (!ParseSeed(value, o.seed)) {
      return args.UsageError("--seed needs a whole number from 0 to 18446744073709551615");
    }
  } else {
    return args.UsageError("unknown option " + arg);
  }
  return kGoOn;
}

int ParseCommandLine(int argc, char** argv, Options& o) {
  Arguments args(kProgram, argc, argv);
  const int status = ReadServerModeLine(args, o.server, &o.read,
                                        [&](Arguments& a) { return TakeOwnOption(a, o); });
  if (status != kGoOn) return status;
  if (o.server.help) {
    return PrintHelp((std::string(kUsage) + kReadOptionHelp + kUsageEnd).c_str(), true);
  }
  if (o.dataFile.empty()) return UsageError("--data FILE is required");
  if (!o.burnInGiven) o.sampler.burnIn = o.sampler.steps / 4;
  if (o.sampler.chains * o.sampler.temperatures > 256) {
    return UsageError("--chains x --temperatures must be at most 256");
  }
  if (o.sampler.burnIn >= o.sampler.steps) return UsageError("--burn-in must be below --steps");
  return RequireServer(args, o.server);
}

// The problem the sampler is given: the sounding's used points and the prior of the options.
mt::SamplerProblem ProblemOf(const mt::Sounding& sounding, const Options& o) {
  mt::SamplerProblem problem;
  for (const mt::MeasuredPoint& p : mt::UsedPoints(sounding)) problem.periods.push_back(p.period);
  problem.data = mt::FitDataOf(sounding);
  problem.likelihood = !o.priorOnly;
  mt::SamplerPrior& prior = problem.prior;
  prior.maxLayers = static_cast<int>(o.maxLayers);
  const mt::DepthSpan span = mt::SkinDepthSpan(sounding);
  prior.minLog10Depth = std::log10(o.depthGiven ? o.minDepth : span.top);
  prior.maxLog10Depth = std::log10(o.depthGiven ? o.maxDepth : span.bottom);
  prior.minLog10Rho = std::log10(o.minRho);
  prior.maxLog10Rho = std::log10(o.maxRho);
  return problem;
}

double Percent(long long part, long long whole) {
  return whole > 0 ? 100.0 * static_cast<double>(part) / static_cast<double>(whole) : 0.0;
}

// The share of each kind of move accepted and of exchanges taken.
std::string AcceptanceText(const mt::SamplerProgress& p) {
  const mt::MoveTally& m = p.coldMoves;
  return Printf(
      "accepted: birth %.0f%%, death %.0f%%, move %.0f%%, change %.0f%%; exchanges %.0f%%",
      Percent(m.accepted[mt::kBirth], m.proposed[mt::kBirth]),
      Percent(m.accepted[mt::kDeath], m.proposed[mt::kDeath]),
      Percent(m.accepted[mt::kMove], m.proposed[mt::kMove]),
      Percent(m.accepted[mt::kChange], m.proposed[mt::kChange]),
      Percent(p.swapsTaken, p.swapsOffered));
}

// Prints the progress line: redrawn in place on a terminal, a new line every few seconds
// otherwise.
class ProgressLine {
 public:
  ProgressLine(FILE* out, size_t data) : out_(out), terminal_(IsTerminal(out)), data_(data) {}

  void Update(const mt::SamplerProgress& p) {
    const double elapsed = Seconds();
    const bool last = p.stepsDone == p.stepsTotal;
    if (!last && elapsed - shown_ < (terminal_ ? kRedrawSeconds : kLineSeconds)) return;
    shown_ = elapsed;
    const double left = elapsed * static_cast<double>(p.stepsTotal - p.stepsDone) /
                        static_cast<double>(std::max(p.stepsDone, 1L));
    const std::string line = Printf("steps %.0f/%.0f", static_cast<double>(p.stepsDone),
                                    static_cast<double>(p.stepsTotal)) +
                             (p.burningIn ? " (burn-in)" : "") +
                             Printf(", %.0f forward runs/s, ",
                                    static_cast<double>(p.forwardRuns) / std::max(elapsed, 1e-9)) +
                             AcceptanceText(p) +
                             Printf(", best RMS %.3f, %.0f s left",
                                    std::sqrt(p.bestMisfit / static_cast<double>(data_)), left);
    if (terminal_) {
      // Blanks over what is left of a longer line before, as every console shows them.
      const size_t pad = shownLength_ > line.size() ? shownLength_ - line.size() : 0;
      std::fprintf(out_, "\r%s%s", line.c_str(), std::string(pad, ' ').c_str());
      shownLength_ = line.size();
      if (last) std::fputs("\n", out_);
    } else {
      std::fprintf(out_, "%s\n", line.c_str());
    }
    std::fflush(out_);
  }

  double Seconds() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  }

 private:
  FILE* out_;
  bool terminal_;
  size_t data_;
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
  double shown_ = -1e9;
  size_t shownLength_ = 0;
};

// A model file for the figure, or a usage error's message.
bool ReadModelFile(const std::string& option, const std::string& path, mt::LayeredEarth& earth,
                   std::string& error) {
  std::string text;
  if (!ReadInputFile(path, text, error)) {
    error = option + " " + error;
    return false;
  }
  const mt::ModelParse parse = mt::ParseModel(text);
  if (!parse.error.empty()) {
    error = option + " " + path + ": " + parse.error;
    return false;
  }
  earth = parse.earth;
  return true;
}

// The 5-95 % band of the responses of up to kBandSamples samples, each computed by the server
// (one sounding request per sample: their interfaces differ).
bool ResponseBandOf(Connection& connection, int timeoutMs, const mt::Sounding& sounding,
                    const std::vector<const mt::SampledEarth*>& all, mt::ResponseBand& band,
                    ClientStatus& status, std::string& error) {
  const std::vector<mt::MeasuredPoint> used = mt::UsedPoints(sounding);
  const double from = used.front().period / kBandWidening, to = used.back().period * kBandWidening;
  std::vector<double> periods;
  for (int k = 0; k < kBandPeriods; ++k) {
    periods.push_back(from * std::pow(to / from, k / (kBandPeriods - 1.0)));
  }
  std::vector<std::vector<double>> rho, phase;
  for (const mt::SampledEarth* s : mt::EvenlySpread(all, kBandSamples)) {
    std::vector<double> thickness;
    double above = 0;
    for (double depth : s->depth) {
      thickness.push_back(depth - above);
      above = depth;
    }
    ServerEngine engine(connection, timeoutMs, periods, thickness);
    rho.emplace_back();
    phase.emplace_back();
    if (!engine.Responses(s->log10Rho, rho.back(), phase.back(), error)) {
      status = engine.status();
      return false;
    }
  }
  band = mt::BandOf(periods, rho, phase);
  return true;
}

mt::PosteriorPlot PlotOf(const Options& o, const mt::Sounding& sounding,
                         const mt::SamplerProblem& problem, const mt::SamplerResult& result,
                         const std::vector<mt::DepthModel>& models) {
  const mt::SamplerPrior& prior = problem.prior;
  const std::vector<const mt::SampledEarth*> all = mt::AllSamples(result.chains);
  mt::PosteriorPlot plot;
  plot.title = "Posterior of " + std::string(mt::FileName(o.dataFile));
  plot.note = std::string(mt::ComponentName(o.read.component)) + " response; " +
              Printf("%.0f samples of %.0f chains, seed ", static_cast<double>(all.size()),
                     static_cast<double>(result.chains.size())) +
              std::to_string(o.seed) + (o.priorOnly ? "; prior only" : "");
  plot.summary = mt::PosteriorSummary(result.chains);
  const std::vector<double> depthEdges =
      mt::EvenEdges(prior.minLog10Depth, prior.maxLog10Depth, kImageDepthBins + 1);
  plot.density = mt::DensityOf(
      all, depthEdges, mt::EvenEdges(prior.minLog10Rho, prior.maxLog10Rho, kImageRhoBins + 1));
  plot.profile = mt::ProfileAt(
      all, mt::LogSpacedDepths(prior.minLog10Depth, prior.maxLog10Depth, kProfileDepths));
  const double count = static_cast<double>(std::max<size_t>(all.size(), 1));
  for (long n : mt::InterfaceHistogram(all, depthEdges)) {
    plot.interfaceShare.push_back(static_cast<double>(n) / count);
  }
  for (long n : mt::LayerCountHistogram(all, prior.maxLayers)) {
    plot.layerShare.push_back(static_cast<double>(n) / count);
  }
  plot.models = models;
  plot.data = mt::MarksOf(sounding);
  return plot;
}

}  // namespace

int RunSample(int argc, char** argv) {
  Options o;
  if (const int status = ParseCommandLine(argc, argv, o); status != kGoOn) return status;
  const mt::ReadResult read = ReadSoundingFile(o.dataFile, o.read);
  if (!read.error.empty()) {
    std::fprintf(stderr, "%s: %s\n", kProgram, read.error.c_str());
    return kExitUsage;
  }
  const mt::SamplerProblem problem = ProblemOf(read.sounding, o);
  if (const std::string error = mt::CheckSampler(problem, o.sampler); !error.empty()) {
    return UsageError(error);
  }
  if (problem.periods.size() > static_cast<size_t>(sounding::sampler::kMaxPeriods)) {
    return UsageError(Printf("the sampler fits at most %.0f periods; choose a band with --periods",
                             sounding::sampler::kMaxPeriods));
  }
  std::vector<mt::DepthModel> models;
  for (const auto& [option, file, label, colour] :
       {std::tuple{"--occam-model", o.occamModelFile, "Occam model", mt::kModelColour},
        std::tuple{"--true-model", o.trueModelFile, "true model", mt::kTrueModelColour}}) {
    if (file.empty()) continue;
    mt::LayeredEarth earth;
    std::string error;
    if (!ReadModelFile(option, file, earth, error)) return UsageError(error);
    models.push_back({earth.resistivity, earth.thickness, label, colour});
  }
  FILE* out = o.csvFile == "-" || o.samplesFile == "-" ? stderr : stdout;
  const mt::SamplerPrior& prior = problem.prior;
  std::fprintf(out, "%s\n", mt::SoundingSummary(o.dataFile, read.sounding, o.read).c_str());
  std::fprintf(out,
               "%ld steps per chain (%ld burn-in, every %d-th kept), %d chains x %d temperatures "
               "(1 to %g), seed %llu; at most %d layers, interfaces %.4g to %.4g m, %.4g to %.4g "
               "ohm-m%s\n",
               o.sampler.steps, o.sampler.burnIn, o.sampler.thin, o.sampler.chains,
               o.sampler.temperatures, o.sampler.hottest, static_cast<unsigned long long>(o.seed),
               prior.maxLayers, std::pow(10.0, prior.minLog10Depth),
               std::pow(10.0, prior.maxLog10Depth), o.minRho, o.maxRho,
               o.priorOnly ? "; prior only" : "");
  std::fflush(out);

  Connection connection;
  std::string path;
  if (const ClientStatus s =
          ConnectAsAsked(o.server.instance, o.server.socketPath, connection, path);
      s != ClientStatus::kOk) {
    return ReportConnectionFailure(std::string(kProgram) + ": connecting to " + path, s,
                                   connection);
  }
  ServerChainEngine engine(connection, o.server.timeoutMs, o.seed);
  ProgressLine progress(out, problem.data.value.size());
  const mt::SamplerResult result = mt::RunSampler(
      problem, engine, o.sampler, [&](const mt::SamplerProgress& p) { progress.Update(p); });
  const double seconds = progress.Seconds();
  std::string error = result.error;
  ClientStatus served = engine.status();
  mt::ResponseBand band;
  if (error.empty() && !o.svgFile.empty()) {
    ResponseBandOf(connection, o.server.timeoutMs, read.sounding, mt::AllSamples(result.chains),
                   band, served, error);
  }
  int status = kExitOk;
  if (!error.empty()) {
    std::fprintf(stderr, "%s: %s\n", kProgram, error.c_str());
    status = served != ClientStatus::kOk ? ExitCodeFor(served) : kExitFailed;
  }
  if (o.server.stop && served == ClientStatus::kOk) {
    ClientStatus s = SendRequest(connection, StopRequest());
    if (s == ClientStatus::kOk) s = WaitForClose(connection, o.server.timeoutMs);
    if (s != ClientStatus::kOk && status == kExitOk) {
      std::fprintf(stderr, "%s: stopping the server: %s\n", kProgram, StatusText(s));
      status = ExitCodeFor(s);
    }
  }
  Close(connection);
  if (status != kExitOk) return status;

  std::fprintf(out,
               "%.0f forward runs in %.1f s (%.0f per second), %d requests, %.1f ms on the "
               "server; %s\n",
               static_cast<double>(result.last.forwardRuns), seconds,
               static_cast<double>(result.last.forwardRuns) / std::max(seconds, 1e-9),
               engine.requests(), engine.serverMilliseconds(), AcceptanceText(result.last).c_str());
  for (const std::string& line : mt::PosteriorSummary(result.chains))
    std::fprintf(out, "%s\n", line.c_str());
  std::fflush(out);
  if (!o.csvFile.empty()) {
    const mt::DepthProfile profile = mt::ProfileAt(
        mt::AllSamples(result.chains),
        mt::LogSpacedDepths(prior.minLog10Depth, prior.maxLog10Depth, kProfileDepths));
    if (!WriteOutputFile(o.csvFile, mt::ProfileCsv(profile), kProgram)) status = kExitFailed;
  }
  if (!o.samplesFile.empty() &&
      !WriteOutputFile(o.samplesFile, mt::SamplesCsv(result.chains, prior.maxLayers), kProgram)) {
    status = kExitFailed;
  }
  if (!o.svgFile.empty()) {
    mt::PosteriorPlot plot = PlotOf(o, read.sounding, problem, result, models);
    plot.band = band;
    if (!WriteOutputFile(o.svgFile, mt::FormatPosteriorSvg(plot), kProgram)) status = kExitFailed;
  }
  std::fflush(stdout);
  return status;
}

}  // namespace vesk1::client
