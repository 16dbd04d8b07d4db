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
  // left out where none applies). A file without a frequency left to use is refused.
  std::string error;
};

// Every reader refuses, with the line and the section, a value that cannot be right (not finite,
// out of its range, a negative variance or error, counts that disagree), and keeps every
// frequency of the file as a point with its status (mt/sounding.h). A UTF-8 byte-order mark
// before the text is skipped.

// Reads an EDI text (a first non-blank character '>') or a CSV text. `name` is the file name
// quoted in messages.
ReadResult ParseSounding(std::string_view text, std::string_view name, const ReadOptions& options);
ReadResult ParseEdi(std::string_view text, std::string_view name, const ReadOptions& options);
// A header line names the columns: period or frequency, apparent resistivity, phase, and
// optionally their errors (absolute, ohm-metres and degrees) and a status (used, excluded,
// out-of-quadrant, missing: a row not marked used is kept as it is and never fitted). '#'
// starts a comment.
ReadResult ParseCsv(std::string_view text, std::string_view name, const ReadOptions& options);

}  // namespace vesk1::mt

#endif  // VESK1_MT_READERS_READERS_H
