// A measured magnetotelluric sounding, reduced to one curve of apparent resistivity and phase
// with standard errors, and the options of its reduction; printed as a table or as CSV.
#ifndef VESK1_MT_SOUNDING_H
#define VESK1_MT_SOUNDING_H

#include <string>
#include <vector>

#include "mt/response.h"

namespace vesk1::mt {

struct ReadOptions {
  Component component = Component::kDeterminant;
  double errorFloor = 0.05;  // least standard error of every point, as a fraction of |Z|
};

struct Sounding {
  std::vector<MeasuredPoint> points;  // by increasing period
  int leftOut = 0;                    // frequencies dropped for a missing value
  std::string source;                 // what the values came from, for the user
};

// Aligned columns under a header line, and CSV that ParseCsv reads back.
std::string FormatSoundingTable(const Sounding& sounding);
std::string FormatSoundingCsv(const Sounding& sounding);

// The line printed under a sounding: how many points, what they came from, how many were left
// out.
std::string SoundingSummary(const std::string& file, const Sounding& sounding,
                            const ReadOptions& options);

}  // namespace vesk1::mt

#endif  // VESK1_MT_SOUNDING_H
