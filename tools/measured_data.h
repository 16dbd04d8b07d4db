// Measured magnetotelluric soundings: EDI files (impedance, apparent resistivity and phase, or
// spectra sections) and CSV files, reduced to one curve of apparent resistivity and phase with
// standard errors. Needs no server.
#ifndef VESK1_TOOLS_MEASURED_DATA_H
#define VESK1_TOOLS_MEASURED_DATA_H

#include <complex>
#include <string>
#include <string_view>
#include <vector>

namespace vesk1::mt {

// Which one-dimensional response of the impedance tensor a sounding holds.
enum class Component {
  kDeterminant,  // sqrt(Zxx Zyy - Zxy Zyx), the root with non-negative real part
  kXY,           // Zxy
  kYX,           // -Zyx, so that its phase lies in the first quadrant as Zxy's does
  kMean,         // (Zxy - Zyx) / 2
};

// "det", "xy", "yx", "mean"; false for anything else.
bool ParseComponent(std::string_view name, Component& component);
const char* ComponentName(Component component);

struct MeasuredPoint {
  double period;            // seconds
  double resistivity;       // apparent resistivity, ohm-metres
  double phase;             // degrees
  double resistivityError;  // standard error of the apparent resistivity, ohm-metres
  double phaseError;        // standard error of the phase, degrees
};

// Apparent resistivity in ohm-metres and phase in degrees of an impedance in field units,
// (mV/km)/nT, at a period in seconds: 0.2 T |Z|^2 and arg Z.
double ApparentResistivity(std::complex<double> impedance, double period);
double PhaseDegrees(std::complex<double> impedance);

// The point of an impedance with standard error dZ (same units), after raising dZ to
// errorFloor |Z|: relative error of the apparent resistivity 2 dZ / |Z|, phase error dZ / |Z|
// radians.
MeasuredPoint PointFromImpedance(double period, std::complex<double> impedance, double dZ,
                                 double errorFloor);

struct ReadOptions {
  Component component = Component::kDeterminant;
  double errorFloor = 0.05;  // least standard error of every point, as a fraction of |Z|
};

struct Sounding {
  std::vector<MeasuredPoint> points;  // by increasing period
  int leftOut = 0;                    // frequencies dropped for a missing value
  std::string source;                 // what the values came from, for the user
};

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

// Aligned columns under a header line, and CSV that ParseCsv reads back.
std::string FormatSoundingTable(const Sounding& sounding);
std::string FormatSoundingCsv(const Sounding& sounding);

}  // namespace vesk1::mt

#endif  // VESK1_TOOLS_MEASURED_DATA_H
