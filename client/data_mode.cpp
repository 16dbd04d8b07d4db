// vesk1_client data: a measured sounding as read from an EDI or CSV file, without a server.
#include <cstdio>
#include <string>

#include "client/command_line.h"
#include "client/modes.h"
#include "mt/readers/readers.h"
#include "mt/sounding.h"

namespace vesk1::client {
namespace {

constexpr const char* kProgram = "vesk1_client data";
// A file that cannot be read or holds no usable sounding is bad input.
constexpr int kExitBadData = kExitUsage;

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
  -h, --help         print this text

A frequency with a missing value (EMPTY in the file) is left out and counted. Exit status: 0
done; 2 bad command line, or the file cannot be read or holds no usable sounding.
)";

}  // namespace

int RunData(int argc, char** argv) {
  mt::ReadOptions options;
  std::string file;
  bool csv = false;
  Arguments args(kProgram, argc, argv);
  while (args.Next()) {
    const std::string& arg = args.word();
    if (const int step = TakeReadOption(args, options); step != kNotMine) {
      if (step != kGoOn) return step;
      continue;
    }
    if (IsHelpOption(arg)) {
      return PrintHelp(kUsage, false);
    } else if (arg == "--csv") {
      csv = true;
    } else if (!arg.empty() && arg[0] == '-') {
      return args.UsageError("unknown option " + arg);
    } else if (!file.empty()) {
      return args.UsageError("more than one file");
    } else {
      file = arg;
    }
  }
  if (file.empty()) return args.UsageError("the sounding file is missing");
  const mt::ReadResult read = mt::ReadSoundingFile(file, options);
  if (!read.error.empty()) {
    std::fprintf(stderr, "vesk1_client data: %s\n", read.error.c_str());
    return kExitBadData;
  }
  const std::string text =
      csv ? mt::FormatSoundingCsv(read.sounding) : mt::FormatSoundingTable(read.sounding);
  std::fputs(text.c_str(), stdout);
  std::fflush(stdout);
  std::fprintf(stderr, "%s\n", mt::SoundingSummary(file, read.sounding, options).c_str());
  return kExitOk;
}

}  // namespace vesk1::client
