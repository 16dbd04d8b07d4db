// vesk1_client profile: the soundings of many stations along a line inverted together with
// lateral constraints, the forward responses and sensitivities of all stations computed by
// vesk1_pipe's workers and the systems solved here with vesk1_fdll; the section, the
// pseudo-sections and each station's misfit as the result.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <numeric>
#include <optional>
#include <string>
#include <vector>

#include "client/command_line.h"
#include "client/fdll_solver.h"
#include "client/input_file.h"
#include "client/modes.h"
#include "client/pipe/stations_engine.h"
#include "client/pipe/transport.h"
#include "mt/format.h"
#include "mt/investigation.h"
#include "mt/mesh.h"
#include "mt/profile.h"
#include "mt/readers/readers.h"
#include "mt/section_figure.h"
#include "mt/stations.h"

namespace vesk1::client {
namespace {

using mt::MeasuredPoint;
using mt::Printf;

constexpr const char* kProgram = "vesk1_client profile";

constexpr const char* kUsage =
    R"(Usage: vesk1_client profile [options] <instance> FILE...
       vesk1_client profile [options] --list LIST <instance>

Inverts the measured soundings of the stations along a line together: one layered earth under
each station, all on one mesh, as smooth as the data allow both downwards and along the line
(a laterally constrained inversion on Occam's iterations: the roughness adds to each station's
vertical first differences the differences of the same layer between neighbouring stations,
weighted by --lateral-weight and by how close the two stand; the multiplier is searched for the
misfit of all data together). The forward responses and the sensitivities of all stations are
computed by the vesk1_pipe server with the given instance number, running the sounding module
(vesk1_chzd) with vesk1_fdll beside it; the joint system is solved here station by station with
vesk1_fdll's LU factorization and condition estimate.

Each FILE is one station (EDI or CSV, see vesk1_client data --help), named after the file
without its extension. Positions come from each EDI file's >HEAD (LAT and LONG in degrees or
degrees:minutes:seconds, south and west negative, and ELEV), else from REFLAT and REFLONG of
>=DEFINEMEAS, or from --stations. The stations are projected onto the line that fits them best
(or the line at --azimuth), their distances measured along it from the first; the worst offset
from the line is printed.

Options:
  --list LIST               the station files, one a line ('#' starts a comment; a path without
                            a folder is taken from LIST's folder), besides those named
  --stations CSV            station positions in metres: lines name,x,y (x east, y north), '#'
                            comments, an optional header; every station must be named
  --azimuth DEG             project onto the line at DEG degrees clockwise from north, the
                            distances growing towards DEG (default: the line that fits best)
  --lateral-weight W        weight of the lateral differences, 0 or more (default 1); 0 inverts
                            every station alone, as vesk1_client invert would on this mesh
  --layers N                layers including the half-space, 2 to 63 (default 40)
  --target-rms X            the misfit of all data to reach (default 1)
  --max-iterations K        at most K iterations (default 30)
  --start-resistivity R     the uniform starting model of every station in ohm-metres
                            (default: the geometric mean of each station's apparent
                            resistivities)
  --doi-fraction F          the share of the summed sensitivity above each station's depth of
                            investigation, above 0 and below 1 (default 0.9)
  --svg FILE                the figure: the model section (resistivity against distance and
                            depth, lighter below each station's depth of investigation), each
                            station's misfit, and pseudo-sections of measured and computed
                            apparent resistivity and phase
  --max-depth M             the section of the figure reaches M metres (default: one and a half
                            times the deepest depth of investigation)
  --csv FILE                one row per station and layer: station, distance, top and bottom of
                            the layer, log10 resistivity, the station's RMS and depth of
                            investigation ("-": standard output)
  --model-dir DIR           one model file per station, DIR/<station>.txt, in the --model format
                            of vesk1_client sounding (DIR is made when missing)
  --fdll FILE               vesk1_fdll to solve with (default: beside vesk1_client, else in
                            ../lib/vesk1/ from it as installed, else in the current directory)
  --timeout MS              give up waiting for a reply after MS milliseconds (default 60000)
  --socket PATH             connect to PATH instead of the instance's pipe
  --stop                    send the stop command afterwards and wait for the server to end
  -h, --help                print this text

)";

constexpr const char* kUsageEnd = R"(
The options of the measured sounding apply to every station. One line per iteration: the RMS
misfit of all data, the roughness, the multiplier and the time, split into forward runs,
sensitivities and solves (with --lateral-weight 0, one line per iteration of each station). At
the end a table gives each station's distance, RMS misfit and depth of investigation. When the
misfit stops falling above the target, the target is out of reach: the inversion keeps the
smoothest model within 2% of the least misfit reached, and the last line says so. A file that
cannot be read, a station without a position and two files of one station name are bad input.
)";

struct Options {
  std::vector<std::string> files;
  std::string listFile, stationsFile;
  std::optional<double> azimuth;
  mt::ReadOptions read;
  OccamOptions occam{.layers = 40};
  double lateralWeight = 1;
  std::string svgFile, csvFile, modelDir, fdllFile;
  ServerOptions server;
};

// One station: its file, its sounding and where it stands.
struct Station {
  std::string name, file;
  mt::Sounding sounding;
  mt::PlanePoint place;
  double elevation = std::nan("");
  double distance = 0, offset = 0;
};

int UsageError(const std::string& message) {
  return client::UsageError(kProgram, message);
}

// The options only this mode takes, and the station files: every word that is no option once
// the instance number is known (or a socket given).
int TakeOwnOption(Arguments& args, Options& o) {
  const std::string arg = args.word();
  if (LooksLikeInstance(arg)) {
    int instance = 0;
    if (!o.server.haveInstance && o.server.socketPath.empty() && ParseInstance(arg, instance)) {
      return kNotMine;
    }
    o.files.push_back(arg);
    return kGoOn;
  }
  const char* value = args.TakeValue();
  if (value == nullptr) return args.UsageError(arg + " needs a value");
  if (const int taken = TakeOccamOption(args, arg, value, o.occam); taken != kNotMine) {
    return taken;
  }
  double number = 0;
  const bool isNumber = ParseNumber(value, number);
  if (arg == "--list") {
    o.listFile = value;
  } else if (arg == "--stations") {
    o.stationsFile = value;
  } else if (arg == "--svg") {
    o.svgFile = value;
  } else if (arg == "--csv") {
    o.csvFile = value;
  } else if (arg == "--model-dir") {
    o.modelDir = value;
  } else if (arg == "--fdll") {
    o.fdllFile = value;
  } else if (arg == "--azimuth") {
    if (!isNumber || std::fabs(number) > 360) {
      return args.UsageError("--azimuth needs degrees from -360 to 360");
    }
    o.azimuth = number;
  } else if (arg == "--lateral-weight") {
    if (!isNumber || number < 0 || number > 1e6) {
      return args.UsageError("--lateral-weight needs a number from 0 to 1e6");
    }
    o.lateralWeight = number;
  } else {
    return args.UsageError("unknown option " + arg);
  }
  return kGoOn;
}

// The files a --list names, a path without a folder taken from the list's folder.
bool ReadList(const std::string& list, std::vector<std::string>& files, std::string& error) {
  std::string text;
  if (!ReadInputFile(list, text, error)) return false;
  const std::filesystem::path folder = std::filesystem::path(list).parent_path();
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    start = end + 1;
    line = line.substr(0, line.find('#'));
    const size_t first = line.find_first_not_of(" \t\r");
    if (first == std::string::npos) continue;
    line = line.substr(first, line.find_last_not_of(" \t\r") - first + 1);
    const std::filesystem::path path(line);
    files.push_back(path.is_absolute() ? line : (folder / path).string());
  }
  return true;
}

int ParseCommandLine(int argc, char** argv, Options& o) {
  Arguments args(kProgram, argc, argv);
  const int status = ReadServerModeLine(args, o.server, &o.read,
                                        [&](Arguments& a) { return TakeOwnOption(a, o); });
  if (status != kGoOn) return status;
  if (o.server.help) {
    return PrintHelp((std::string(kUsage) + kReadOptionHelp + kUsageEnd).c_str(), true);
  }
  if (const int s = RequireServer(args, o.server); s != kGoOn) return s;
  if (!o.listFile.empty()) {
    std::string error;
    if (!ReadList(o.listFile, o.files, error)) return UsageError("--list " + error);
  }
  if (o.files.size() < 2) return UsageError("a profile needs the files of two stations or more");
  return kGoOn;
}

// Reads every station's file; kGoOn, or the exit status after saying what is wrong.
int ReadStations(const Options& o, std::vector<Station>& stations) {
  for (const std::string& file : o.files) {
    const mt::ReadResult read = ReadSoundingFile(file, o.read);
    if (!read.error.empty()) {
      std::fprintf(stderr, "%s: %s\n", kProgram, read.error.c_str());
      return kExitUsage;
    }
    const mt::FitData fit = mt::FitDataOf(read.sounding);
    if (const std::string problem = mt::FitDataProblem(fit); !problem.empty()) {
      std::fprintf(stderr, "%s: %s: %s\n", kProgram, file.c_str(), problem.c_str());
      return kExitUsage;
    }
    Station s;
    s.file = file;
    s.name = std::filesystem::path(file).stem().string();
    s.sounding = read.sounding;
    for (const Station& other : stations) {
      if (other.name == s.name) {
        std::fprintf(stderr, "%s: %s and %s are both station %s\n", kProgram, other.file.c_str(),
                     file.c_str(), s.name.c_str());
        return kExitUsage;
      }
    }
    stations.push_back(std::move(s));
  }
  return kGoOn;
}

// Where each station stands, from --stations or the files; kGoOn, or the exit status after
// naming every station without a position.
int PlaceStations(const Options& o, std::vector<Station>& stations, FILE* out) {
  std::vector<std::string> missing;
  if (!o.stationsFile.empty()) {
    std::string text, error;
    if (!ReadInputFile(o.stationsFile, text, error)) return UsageError("--stations " + error);
    const mt::StationTable table = mt::ParseStationTable(text, o.stationsFile);
    if (!table.error.empty()) {
      std::fprintf(stderr, "%s: %s\n", kProgram, table.error.c_str());
      return kExitUsage;
    }
    for (Station& s : stations) {
      const auto at = table.byName.find(s.name);
      if (at == table.byName.end()) {
        missing.push_back(s.file + ": station " + s.name + " is not in " + o.stationsFile);
      } else {
        s.place = at->second;
      }
    }
  } else {
    std::vector<mt::GeoPosition> positions;
    for (const Station& s : stations) {
      if (s.sounding.position) {
        positions.push_back(*s.sounding.position);
      } else if (!s.sounding.positionProblem.empty()) {
        missing.push_back(s.sounding.positionProblem);
      } else {
        missing.push_back(s.file +
                          ": no position (LAT and LONG in >HEAD, or REFLAT and REFLONG in "
                          ">=DEFINEMEAS); give the stations' positions with --stations CSV");
      }
    }
    if (missing.empty()) {
      const std::vector<mt::PlanePoint> places = mt::LocalMetres(positions);
      for (size_t k = 0; k < stations.size(); ++k) {
        stations[k].place = places[k];
        stations[k].elevation = positions[k].elevation;
      }
    }
  }
  for (const std::string& line : missing) std::fprintf(stderr, "%s: %s\n", kProgram, line.c_str());
  if (!missing.empty()) return kExitUsage;
  std::vector<mt::PlanePoint> places;
  for (const Station& s : stations) places.push_back(s.place);
  const mt::LineProjection line = mt::ProjectOntoLine(places, o.azimuth);
  for (size_t k = 0; k < stations.size(); ++k) {
    stations[k].distance = line.distance[k];
    stations[k].offset = line.offset[k];
  }
  const std::string worstName = stations[line.worst].name;
  const double worstOffset = std::fabs(stations[line.worst].offset);
  std::stable_sort(stations.begin(), stations.end(),
                   [](const Station& a, const Station& b) { return a.distance < b.distance; });
  std::fprintf(out,
               "%zu stations on a line at azimuth %.1f degrees%s, %.3f km long; the farthest from "
               "it is %s, %.0f m off\n",
               stations.size(), line.azimuth, o.azimuth ? " (--azimuth)" : "",
               stations.back().distance / 1000, worstName.c_str(), worstOffset);
  std::fprintf(out, "station    distance (km)  offset (m)  elevation (m)  periods  file\n");
  for (const Station& s : stations) {
    std::fprintf(out, "%-10s %13.3f %11.0f %14s %8d  %s\n", s.name.c_str(), s.distance / 1000,
                 s.offset, std::isfinite(s.elevation) ? Printf("%.1f", s.elevation).c_str() : "-",
                 s.sounding.Count(mt::PointStatus::kUsed), s.file.c_str());
  }
  return kGoOn;
}

std::vector<double> UsedPeriods(const mt::Sounding& sounding) {
  std::vector<double> periods;
  for (const MeasuredPoint& p : mt::UsedPoints(sounding)) periods.push_back(p.period);
  return periods;
}

std::string IterationLine(const mt::IterationReport& r) {
  char line[300];
  std::snprintf(line, sizeof line,
                "iteration %2d: RMS %.4f, roughness %.4g, multiplier %.4g, %.1f ms (forward %.1f "
                "ms in %d runs, sensitivities %.1f ms, solves %.1f ms)",
                r.iteration, r.rms, r.roughness, r.multiplier, r.seconds * 1e3,
                r.forwardSeconds * 1e3, r.forwardRuns, r.sensitivitySeconds * 1e3,
                r.solveSeconds * 1e3);
  return line;
}

// A depth in metres rounded to three significant digits; "-" when there is none.
std::string DepthText(double metres) {
  if (!std::isfinite(metres)) return "-";
  if (!(metres >= 100)) return Printf("%.3g", metres);
  const double unit = std::pow(10.0, std::floor(std::log10(metres)) - 2);
  return Printf("%.0f", std::round(metres / unit) * unit);
}

// The last line: the misfit of all data against the target, or what became of it.
std::string LastLine(const mt::ProfileResult& r, const Options& o, size_t data) {
  const std::string over = Printf(" over all %.0f data", static_cast<double>(data));
  if (o.lateralWeight == 0) {
    size_t reached = 0;
    for (const mt::OccamResult& s : r.stations) reached += s.reachedTarget ? 1 : 0;
    return Printf("each station inverted alone: %.0f of %.0f reached the target RMS %g; RMS %.4f",
                  static_cast<double>(reached), static_cast<double>(r.stations.size()),
                  o.occam.targetRms, r.joint.rms) +
           over;
  }
  const std::string rest =
      over + Printf(" after %.0f iterations, roughness %.4g",
                    static_cast<double>(r.joint.iterations.size()), r.joint.roughness);
  if (r.joint.reachedTarget) {
    return Printf("reached RMS %.4f (target %g)", r.joint.rms, o.occam.targetRms) + rest;
  }
  if (r.joint.smoothedAt > 0) {
    return Printf(
               "did not reach the target RMS %g: the least misfit reached is RMS %.4f; kept "
               "the smoothest model within %g%% of it, at RMS %.4f",
               o.occam.targetRms, r.joint.leastRms, 100 * mt::kOutOfReachMargin, r.joint.rms) +
           rest;
  }
  return Printf("did not reach the target: RMS %.4f (target %g)", r.joint.rms, o.occam.targetRms) +
         rest;
}

std::string SectionCsv(const std::vector<Station>& stations, const mt::ProfileResult& result,
                       const std::vector<double>& thickness, const std::vector<double>& doi) {
  std::string csv =
      "station,distance_m,top_m,bottom_m,log10_resistivity_ohm_m,rms,"
      "investigation_depth_m\n";
  for (size_t s = 0; s < stations.size(); ++s) {
    double top = 0;
    const std::vector<double>& model = result.stations[s].model;
    for (size_t j = 0; j < model.size(); ++j) {
      const std::string bottom = j < thickness.size() ? Printf("%.6g", top + thickness[j]) : "";
      csv += stations[s].name + Printf(",%.6g,%.6g,", stations[s].distance, top) + bottom +
             Printf(",%.6g,%.6g,", model[j], result.stations[s].rms) +
             (std::isfinite(doi[s]) ? Printf("%.6g", doi[s]) : "") + "\n";
      if (j < thickness.size()) top += thickness[j];
    }
  }
  return csv;
}

std::string ModelText(const Station& station, const mt::OccamResult& result,
                      const std::vector<double>& thickness, double doi, const Options& o) {
  std::string text =
      "# Station " + station.name + " of a laterally constrained inversion (" +
      mt::ComponentName(o.read.component) +
      Printf(" response, lateral weight %g)", o.lateralWeight) + " of " + station.file +
      Printf(", %.0f m along the line, RMS misfit %.4g\n", station.distance, result.rms);
  if (std::isfinite(doi)) {
    text += Printf(
        "# depth of investigation %.0f m: the layers above it hold %g%% of the data's "
        "summed sensitivity\n",
        doi, 100 * o.occam.doiFraction);
  }
  text += "# resistivity (ohm-m)  thickness (m); the last line is the half-space\n";
  for (size_t j = 0; j < result.model.size(); ++j) {
    text += Printf("%.6g", std::pow(10.0, result.model[j]));
    if (j < thickness.size()) text += Printf(" %.6g", thickness[j]);
    text += "\n";
  }
  return text;
}

bool WriteModels(const std::vector<Station>& stations, const mt::ProfileResult& result,
                 const std::vector<double>& thickness, const std::vector<double>& doi,
                 const Options& o) {
  std::error_code code;
  std::filesystem::create_directories(o.modelDir, code);
  if (code) {
    std::fprintf(stderr, "%s: cannot make %s: %s\n", kProgram, o.modelDir.c_str(),
                 code.message().c_str());
    return false;
  }
  bool ok = true;
  for (size_t s = 0; s < stations.size(); ++s) {
    const std::string path =
        (std::filesystem::path(o.modelDir) / (stations[s].name + ".txt")).string();
    ok = WriteOutputFile(path, ModelText(stations[s], result.stations[s], thickness, doi[s], o),
                         kProgram) &&
         ok;
  }
  return ok;
}

mt::SectionPlot FigureOf(const std::vector<Station>& stations, const mt::ProfileResult& result,
                         const std::vector<double>& thickness, const std::vector<double>& doi,
                         const Options& o, size_t data) {
  mt::SectionPlot plot;
  plot.title = Printf("Laterally constrained inversion of %.0f stations",
                      static_cast<double>(stations.size()));
  plot.note = std::string(mt::ComponentName(o.read.component)) +
              Printf(
                  " response, %.0f layers, lateral weight %g, RMS misfit %.3f over %.0f data "
                  "(target %g)",
                  static_cast<double>(thickness.size() + 1), o.lateralWeight, result.joint.rms,
                  static_cast<double>(data), o.occam.targetRms);
  plot.thickness = thickness;
  plot.targetRms = o.occam.targetRms;
  plot.maxDepth = o.occam.maxDepth;
  for (size_t s = 0; s < stations.size(); ++s) {
    mt::SectionStation st;
    st.name = stations[s].name;
    st.distance = stations[s].distance;
    st.log10Rho = result.stations[s].model;
    st.investigationDepth = doi[s];
    st.rms = result.stations[s].rms;
    const std::vector<MeasuredPoint> used = mt::UsedPoints(stations[s].sounding);
    const std::vector<double>& response = result.stations[s].response;
    const size_t p = used.size();
    for (size_t i = 0; i < p && response.size() == 2 * p; ++i) {
      st.period.push_back(used[i].period);
      st.measuredLog10Rho.push_back(std::log10(used[i].resistivity));
      st.computedLog10Rho.push_back(response[i]);
      st.measuredPhase.push_back(used[i].phase);
      st.computedPhase.push_back(response[p + i]);
    }
    plot.stations.push_back(std::move(st));
  }
  return plot;
}

}  // namespace

int RunProfile(int argc, char** argv, const char* program) {
  Options o;
  if (const int status = ParseCommandLine(argc, argv, o); status != kGoOn) return status;
  std::vector<Station> stations;
  if (const int status = ReadStations(o, stations); status != kGoOn) return status;
  const common::LoadedFdll fdll = LoadSolverLibrary(o.fdllFile, program);
  if (fdll.factor == nullptr) {
    std::fprintf(stderr, "%s: no vesk1_fdll with CDLFCRG to solve with (%s)\n", kProgram,
                 fdll.error.empty() ? "CDLFCRG missing" : fdll.error.c_str());
    return kExitFailed;
  }
  FILE* progressOut = o.csvFile == "-" ? stderr : stdout;
  if (const int status = PlaceStations(o, stations, progressOut); status != kGoOn) return status;

  const int layers = static_cast<int>(o.occam.layers);
  std::vector<mt::Sounding> soundings;
  std::vector<mt::FitData> data;
  std::vector<std::vector<double>> periods;
  std::vector<double> distance;
  mt::ProfileOptions options;
  options.occam.targetRms = o.occam.targetRms;
  options.occam.maxIterations = static_cast<int>(o.occam.maxIterations);
  options.lateralWeight = o.lateralWeight;
  size_t dataCount = 0;
  for (const Station& s : stations) {
    soundings.push_back(s.sounding);
    data.push_back(mt::FitDataOf(s.sounding));
    dataCount += data.back().value.size();
    periods.push_back(UsedPeriods(s.sounding));
    distance.push_back(s.distance);
    options.startLog10Rho.push_back(o.occam.startResistivity > 0
                                        ? std::log10(o.occam.startResistivity)
                                        : mt::MeanLog10Resistivity(s.sounding));
  }
  const std::vector<double> thickness = mt::MeshForSoundings(soundings, layers);
  std::fprintf(progressOut,
               "%d layers, the first %.4g m thick, the half-space from %.4g m; lateral weight %g; "
               "target RMS %g over all %zu data\n",
               layers, thickness.empty() ? 0.0 : thickness[0],
               std::accumulate(thickness.begin(), thickness.end(), 0.0), o.lateralWeight,
               o.occam.targetRms, dataCount);
  std::fflush(progressOut);

  Connection connection;
  std::string path;
  if (const ClientStatus s =
          ConnectAsAsked(o.server.instance, o.server.socketPath, connection, path);
      s != ClientStatus::kOk) {
    return ReportConnectionFailure(std::string(kProgram) + ": connecting to " + path, s,
                                   connection);
  }
  ServerStationsEngine engine(connection, o.server.timeoutMs, periods, thickness);
  FdllSolver solver(fdll.factor);
  const auto start = std::chrono::steady_clock::now();
  const mt::ProfileResult result = mt::RunProfile(
      data, distance, layers, engine, solver, options,
      [&](size_t s, const mt::IterationReport& r) {
        const std::string who = s == mt::kAllStations ? "" : stations[s].name + " ";
        std::fprintf(progressOut, "%s%s\n", who.c_str(), IterationLine(r).c_str());
        std::fflush(progressOut);
      },
      [&](size_t s, const std::string& message) {
        const std::string who = s == mt::kAllStations ? "" : stations[s].name + ": ";
        std::fprintf(progressOut, "  %s%s\n", who.c_str(), message.c_str());
        std::fflush(progressOut);
      });
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  int status = kExitOk;
  if (!result.joint.error.empty()) {
    std::fprintf(stderr, "%s: %s\n", kProgram, result.joint.error.c_str());
    status = engine.status() != ClientStatus::kOk ? ExitCodeFor(engine.status()) : kExitFailed;
  }
  if (o.server.stop && engine.status() == ClientStatus::kOk) {
    ClientStatus s = SendRequest(connection, StopRequest());
    if (s == ClientStatus::kOk) s = WaitForClose(connection, o.server.timeoutMs);
    if (s != ClientStatus::kOk && status == kExitOk) {
      std::fprintf(stderr, "%s: stopping the server: %s\n", kProgram, StatusText(s));
      status = ExitCodeFor(s);
    }
  }
  Close(connection);
  if (status != kExitOk) return status;
  const bool anyStep =
      o.lateralWeight == 0
          ? std::any_of(result.stations.begin(), result.stations.end(),
                        [](const mt::OccamResult& r) { return !r.iterations.empty(); })
          : !result.joint.iterations.empty();
  if (!anyStep) {
    std::fprintf(stderr,
                 "%s: no step of the inversion could be used (RMS %.4f at the start); nothing "
                 "written\n",
                 kProgram, result.joint.rms);
    return kExitFailed;
  }

  std::vector<double> doi;
  std::fprintf(progressOut, "station    distance (km)     RMS  depth of investigation (m)\n");
  for (size_t s = 0; s < stations.size(); ++s) {
    const mt::Investigation found = mt::DepthOfInvestigation(data[s], result.stations[s].jacobian,
                                                             thickness, o.occam.doiFraction);
    doi.push_back(found.depth);
    std::fprintf(progressOut, "%-10s %13.3f %7.3f  %s%s\n", stations[s].name.c_str(),
                 stations[s].distance / 1000, result.stations[s].rms,
                 found.belowMesh ? "below the mesh, beyond " : "", DepthText(found.depth).c_str());
  }
  std::fprintf(progressOut, "%s, %.1f ms; %d requests, %.1f ms on the server\n",
               LastLine(result, o, dataCount).c_str(), seconds * 1e3, engine.requests(),
               engine.serverMilliseconds());
  std::fflush(progressOut);
  if (!o.csvFile.empty() &&
      !WriteOutputFile(o.csvFile, SectionCsv(stations, result, thickness, doi), kProgram)) {
    status = kExitFailed;
  }
  if (!o.modelDir.empty() && !WriteModels(stations, result, thickness, doi, o)) {
    status = kExitFailed;
  }
  if (!o.svgFile.empty() &&
      !WriteOutputFile(
          o.svgFile, mt::FormatSectionSvg(FigureOf(stations, result, thickness, doi, o, dataCount)),
          kProgram)) {
    status = kExitFailed;
  }
  std::fflush(stdout);
  return status;
}

}  // namespace vesk1::client
