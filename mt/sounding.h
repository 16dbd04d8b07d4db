// A measured magnetotelluric sounding, reduced to one curve of apparent resistivity and phase
// with standard errors, the options of its reduction, and what was set aside and why; printed as
// a table or as CSV.
#ifndef VESK1_MT_SOUNDING_H
#define VESK1_MT_SOUNDING_H

#include <optional>
#include <string>
#include <vector>

#include "mt/response.h"

namespace vesk1::mt {

// Periods in seconds from `from` to `to`, both ends included (within a relative 1e-9, so that a
// period printed and read back stays in its band).
struct PeriodBand {
  double from = 0, to = 0;
  bool Holds(double period) const;
};

struct ReadOptions {
  Component component = Component::kDeterminant;
  double errorFloor = 0.05;  // least standard error of every point, as a fraction of |Z|
  double rhoFloor = 0;       // least error of the apparent resistivity, relative, after the above
  double phaseFloor = 0;     // least error of the phase, degrees, after the above
  double staticShift = 1;    // factor on every apparent resistivity (and its error), first of all
  std::optional<double> rotateTo;   // rotate the tensor to this angle (degrees clockwise from
                                    // north) before forming the response
  std::optional<PeriodBand> keep;   // only periods in this band are used
  std::vector<PeriodBand> exclude;  // periods in these bands are not used
  bool dropOutOfQuadrant = false;   // points whose phase is outside 0 to 90 degrees are not used
};

struct Sounding {
  // Every frequency of the file by increasing period (one without a period last), each with its
  // status: only kUsed points are fitted (UsedPoints), the others are kept for the table, the
  // CSV file, the summary and the figures.
  std::vector<MeasuredPoint> points;
  std::string source;  // what the values came from, for the user
  // The angle the file gives its values at (degrees clockwise from north): the section or
  // attribute it came from ("ZROT", "RHOROT", "ROTSPEC"; empty when none) and its range.
  std::string rotationName;
  double rotationLow = 0, rotationHigh = 0;
  bool tipper = false;  // the file holds tipper sections, which no response uses

  int Count(PointStatus status) const;
};

// The points a fit uses, by increasing period.
std::vector<MeasuredPoint> UsedPoints(const Sounding& sounding);

// Whether a phase lies outside 0 to 90 degrees, the quadrant of every response of a layered
// earth (yx after its sign change).
bool OutOfQuadrant(double phase);

// What every reader does last: sorts the points by period, then, for each point read as used,
// multiplies its apparent resistivity and error by the static shift, raises its errors to the
// floors, and sets it aside when outside --periods, inside --exclude-periods or, with
// --drop-out-of-quadrant, out of its quadrant. Points read with another status stay as read.
void SelectPoints(Sounding& sounding, const ReadOptions& options);

// One phrase per kind of point set aside, "3 left out for missing values", "2 outside --periods
// 0.01:100", "1 in --exclude-periods", "4 excluded", "2 with the phase outside 0 to 90 degrees,
// left out"; none for a kind with no point.
std::vector<std::string> SetAsidePhrases(const Sounding& sounding, const ReadOptions& options);

// Aligned columns under a header line, and CSV that ParseCsv reads back; both with a status
// column, and a value that is missing shown as "-" in the table and left empty in the CSV.
std::string FormatSoundingTable(const Sounding& sounding);
std::string FormatSoundingCsv(const Sounding& sounding);

// The line printed before or under a sounding: how many periods are used, what they came from,
// the response, the floors and shift, the angle of the file and any rotation, tipper sections
// not used, what was set aside and how many phases lie outside their quadrant.
std::string SoundingSummary(const std::string& file, const Sounding& sounding,
                            const ReadOptions& options);

}  // namespace vesk1::mt

#endif  // VESK1_MT_SOUNDING_H
