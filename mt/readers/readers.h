// The readers of measured soundings, one file per format: EDI files (impedance, apparent
// resistivity and phase, or spectra sections) and CSV files. Each reduces its file to a
// Sounding; none needs a server.
#ifndef VESK1_MT_READERS_READERS_H
#define VESK1_MT_READERS_READERS_H

#include <string>
#include <string_view>

#include "mt/sounding.h"

namespace vesk1::mt {

struct ReadResult {
  Sounding sounding;
  // Empty on success; otherwise "FILE: line N, section >NAME: what is wrong" (the section is
  // left out where none applies). A file without a usable frequency is refused.
  std::string error;
};

// Reads an EDI text (a first non-blank character '>' or a >HEAD section) or a CSV text.
// `name` is the file name quoted in messages.
ReadResult ParseSounding(std::string_view text, std::string_view name, const ReadOptions& options);
ReadResult ParseEdi(std::string_view text, std::string_view name, const ReadOptions& options);
// A header line names the columns: period or frequency, apparent resistivity, phase, and
// optionally their errors (absolute, ohm-metres and degrees). '#' starts a comment.
ReadResult ParseCsv(std::string_view text, std::string_view name, const ReadOptions& options);
// Reads the file and parses it; an unreadable file is an error too.
ReadResult ReadSoundingFile(const std::string& path, const ReadOptions& options);

}  // namespace vesk1::mt

#endif  // VESK1_MT_READERS_READERS_H
