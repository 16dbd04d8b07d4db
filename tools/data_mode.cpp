#include "data_mode.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "occam.h"

namespace vesk1::mt {
namespace {

constexpr int kExitOk = 0;
constexpr int kExitUsage = 2;
constexpr int kExitBadData = 2;

constexpr const char* kUsage = R"(Usage: vesk1_client data [options] FILE

Reads a measured magnetotelluric sounding and prints it as read: period, apparent resistivity,
phase and their standard errors. Needs no server.

FILE is an EDI file (impedance sections >ZXXR ... >ZYYI with their .VAR variances, apparent
resistivity and phase sections >RHOXY >PHSXY >RHOYX >PHSYX with their .ERR errors, or spectra
sections >=SPECTRASECT and >SPECTRA, remote reference included) or a CSV file whose header
names its columns: period_s (or frequency_hz), apparent_resistivity_ohm_m, phase_deg, and
optionally apparent_resistivity_error_ohm_m and phase_error_deg.

Options:
  --component C      the 1D response of the tensor: det (default, the determinant), xy, yx
                     (-Zyx) or mean ((Zxy - Zyx) / 2)
  --error-floor F    least standard error of every point as a fraction of |Z| (default 0.05):
                     2F relative in apparent resistivity, F radians in phase
  --csv              print CSV instead of the table
  --help             print this text

A frequency with a missing value (EMPTY in the file) is left out and counted. Exit status: 0
done; 2 bad command line, or the file cannot be read or holds no usable sounding.
)";

int UsageError(const std::string& message) {
  std::fprintf(stderr, "vesk1_client data: %s\nTry 'vesk1_client data --help'.\n", message.c_str());
  return kExitUsage;
}

}  // namespace

int TakeReadOption(int argc, char** argv, int& i, ReadOptions& options, std::string& error) {
  const std::string arg = argv[i];
  if (arg != "--component" && arg != "--error-floor") return 0;
  if (i + 1 >= argc) {
    error = arg + " needs a value";
    return -1;
  }
  const char* value = argv[++i];
  if (arg == "--component") {
    if (!ParseComponent(value, options.component)) {
      error = "--component takes det, xy, yx or mean";
      return -1;
    }
    return 1;
  }
  char* end = nullptr;
  const double floor = std::strtod(value, &end);
  if (*value == '\0' || *end != '\0' || !(floor >= 0) || !(floor < 1)) {
    error = "--error-floor needs a fraction from 0 to below 1";
    return -1;
  }
  options.errorFloor = floor;
  return 1;
}

std::string SoundingSummary(const std::string& file, const Sounding& sounding,
                            const ReadOptions& options) {
  char line[512];
  std::snprintf(line, sizeof line, "%s: %zu periods from %s, %s response, error floor %g%%",
                file.c_str(), sounding.points.size(), sounding.source.c_str(),
                ComponentName(options.component), options.errorFloor * 100);
  std::string summary = line;
  if (sounding.leftOut > 0) {
    summary += "; " + std::to_string(sounding.leftOut) + " left out for missing values";
  }
  return summary;
}

std::string MisfitText(const Sounding& sounding, const std::vector<sounding::CurvePoint>& model) {
  std::vector<double> log10Rho, phase;
  for (const sounding::CurvePoint& p : model) {
    log10Rho.push_back(p.resistivity > 0 ? std::log10(p.resistivity) : NAN);
    phase.push_back(p.phase);
  }
  const double rms = RmsMisfit(FitDataOf(sounding), log10Rho, phase);
  char line[200];
  std::snprintf(line, sizeof line,
                "RMS misfit %.4f over %zu data (%zu periods, log10 apparent resistivity and phase)",
                rms, 2 * sounding.points.size(), sounding.points.size());
  return line;
}

std::string FitSvg(const Sounding& sounding, const std::vector<sounding::CurvePoint>& curve,
                   const sounding::LayeredEarth& earth, const std::string& title,
                   const std::string& note) {
  sounding::FitPlot plot;
  plot.title = title;
  plot.note = note;
  for (const MeasuredPoint& p : sounding.points) {
    plot.data.push_back({p.period, p.resistivity, p.resistivityError, p.phase, p.phaseError});
  }
  plot.curve = curve;
  plot.curveLabel = "model response";
  plot.models.push_back({earth.resistivity, earth.thickness, "model", "#1f5fa8"});
  return sounding::FormatFitSvg(plot);
}

int RunData(int argc, char** argv) {
  ReadOptions options;
  std::string file;
  bool csv = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    std::string error;
    const int taken = TakeReadOption(argc, argv, i, options, error);
    if (taken < 0) return UsageError(error);
    if (taken > 0) continue;
    if (arg == "--help") {
      std::fputs(kUsage, stdout);
      return kExitOk;
    } else if (arg == "--csv") {
      csv = true;
    } else if (!arg.empty() && arg[0] == '-') {
      return UsageError("unknown option " + arg);
    } else if (!file.empty()) {
      return UsageError("more than one file");
    } else {
      file = arg;
    }
  }
  if (file.empty()) return UsageError("the sounding file is missing");
  const ReadResult read = ReadSoundingFile(file, options);
  if (!read.error.empty()) {
    std::fprintf(stderr, "vesk1_client data: %s\n", read.error.c_str());
    return kExitBadData;
  }
  const std::string text =
      csv ? FormatSoundingCsv(read.sounding) : FormatSoundingTable(read.sounding);
  std::fputs(text.c_str(), stdout);
  std::fflush(stdout);
  std::fprintf(stderr, "%s\n", SoundingSummary(file, read.sounding, options).c_str());
  return kExitOk;
}

}  // namespace vesk1::mt
