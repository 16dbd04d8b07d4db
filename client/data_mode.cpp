// vesk1_client data: a measured sounding as read from an EDI or CSV file, without a server.
#include <cstdio>
#include <string>

#include "client/command_line.h"
#include "client/input_file.h"
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
phase, their standard errors and each period's status (used, or why it was left out). Needs no
server.

FILE is an EDI file (impedance sections >ZXXR ... >ZYYI with their .VAR variances, apparent
resistivity and phase sections >RHOXY >PHSXY >RHOYX >PHSYX with their .ERR errors, or spectra
sections >=SPECTRASECT and >SPECTRA, remote reference included) or a CSV file whose header
names its columns: period_s (or frequency_hz), apparent_resistivity_ohm_m, phase_deg, and
optionally apparent_resistivity_error_ohm_m, phase_error_deg and status (rows not marked used
are never fitted).

Options:
  --csv FILE               also write the sounding as CSV, with its status column, to FILE
                           ("-": standard output, instead of the table)
  -h, --help               print this text

)";

constexpr const char* kUsageEnd = R"(
A frequency with a missing value (EMPTY in the file) is kept with the status missing and
counted; the summary line on standard error says what was used and what was set aside. Exit
status: 0 done; 2 bad command line, or the file cannot be read, holds a value that cannot be
right or no usable sounding.
)";

}  // namespace

int RunData(int argc, char** argv) {
  mt::ReadOptions options;
  std::string file, csvFile;
  Arguments args(kProgram, argc, argv);
  while (args.Next()) {
    const std::string& arg = args.word();
    if (const int step = TakeReadOption(args, options); step != kNotMine) {
      if (step != kGoOn) return step;
      continue;
    }
    if (IsHelpOption(arg)) {
      return PrintHelp((std::string(kUsage) + kReadOptionHelp + kUsageEnd).c_str(), false);
    } else if (arg == "--csv") {
      const char* value = args.TakeValue();
      if (value == nullptr)
        return args.UsageError("--csv needs a file name, or - for standard output");
      csvFile = value;
    } else if (arg.size() > 1 && arg[0] == '-') {
      return args.UsageError("unknown option " + arg);
    } else if (!file.empty()) {
      return args.UsageError("more than one file");
    } else {
      file = arg;
    }
  }
  if (file.empty()) return args.UsageError("the sounding file is missing");
  const mt::ReadResult read = ReadSoundingFile(file, options);
  if (!read.error.empty()) {
    std::fprintf(stderr, "%s: %s\n", kProgram, read.error.c_str());
    return kExitBadData;
  }
  int status = kExitOk;
  const std::string csv = mt::FormatSoundingCsv(read.sounding);
  if (csvFile == "-") {
    std::fputs(csv.c_str(), stdout);
  } else {
    std::fputs(mt::FormatSoundingTable(read.sounding).c_str(), stdout);
    if (!csvFile.empty() && !WriteOutputFile(csvFile, csv, kProgram)) status = kExitFailed;
  }
  std::fflush(stdout);
  std::fprintf(stderr, "%s\n", mt::SoundingSummary(file, read.sounding, options).c_str());
  return status;
}

}  // namespace vesk1::client
