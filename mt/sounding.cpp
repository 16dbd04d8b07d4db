#include "mt/sounding.h"

#include <algorithm>
#include <cmath>

#include "mt/format.h"

namespace vesk1::mt {
namespace {

// A period printed with %.9g and read back may differ from the band's end in its last digits.
constexpr double kBandTolerance = 1e-9;

// A value as the table shows it: right-aligned in `width`, "-" when missing.
std::string Cell(const char* format, double value, int width) {
  if (std::isfinite(value)) return Printf(format, value);
  return std::string(static_cast<size_t>(width - 1), ' ') + "-";
}

// A value as the CSV file holds it: empty when missing.
std::string Field(double value) {
  return std::isfinite(value) ? Printf("%.9g", value) : std::string();
}

std::string Plural(int count, const char* one, const char* many) {
  return std::to_string(count) + " " + (count == 1 ? one : many);
}

}  // namespace

bool PeriodBand::Holds(double period) const {
  return period >= from * (1 - kBandTolerance) && period <= to * (1 + kBandTolerance);
}

int Sounding::Count(PointStatus status) const {
  return static_cast<int>(std::count_if(
      points.begin(), points.end(), [&](const MeasuredPoint& p) { return p.status == status; }));
}

std::vector<MeasuredPoint> UsedPoints(const Sounding& sounding) {
  std::vector<MeasuredPoint> used;
  for (const MeasuredPoint& p : sounding.points) {
    if (p.status == PointStatus::kUsed) used.push_back(p);
  }
  return used;
}

bool OutOfQuadrant(double phase) {
  return phase < 0 || phase > 90;
}

void SelectPoints(Sounding& sounding, const ReadOptions& options) {
  // A point without a period goes last; the others by increasing period.
  std::stable_sort(sounding.points.begin(), sounding.points.end(),
                   [](const MeasuredPoint& a, const MeasuredPoint& b) {
                     if (std::isnan(a.period) || std::isnan(b.period)) {
                       return !std::isnan(a.period) && std::isnan(b.period);
                     }
                     return a.period < b.period;
                   });
  for (MeasuredPoint& p : sounding.points) {
    if (p.status != PointStatus::kUsed) continue;
    p.resistivity *= options.staticShift;
    p.resistivityError *= options.staticShift;
    p.resistivityError = std::max(p.resistivityError, options.rhoFloor * p.resistivity);
    p.phaseError = std::max(p.phaseError, options.phaseFloor);
    bool excluded = options.keep && !options.keep->Holds(p.period);
    for (const PeriodBand& band : options.exclude) excluded = excluded || band.Holds(p.period);
    if (excluded) {
      p.status = PointStatus::kExcluded;
    } else if (options.dropOutOfQuadrant && OutOfQuadrant(p.phase)) {
      p.status = PointStatus::kOutOfQuadrant;
    }
  }
}

std::vector<std::string> SetAsidePhrases(const Sounding& sounding, const ReadOptions& options) {
  int outside = 0, inside = 0, otherwise = 0;
  for (const MeasuredPoint& p : sounding.points) {
    if (p.status != PointStatus::kExcluded) continue;
    if (options.keep && !options.keep->Holds(p.period)) {
      ++outside;
    } else if (std::any_of(options.exclude.begin(), options.exclude.end(),
                           [&](const PeriodBand& band) { return band.Holds(p.period); })) {
      ++inside;
    } else {
      ++otherwise;  // marked so in the file read
    }
  }
  std::vector<std::string> phrases;
  if (const int missing = sounding.Count(PointStatus::kMissing); missing > 0) {
    phrases.push_back(std::to_string(missing) + " left out for missing values");
  }
  if (outside > 0) {
    phrases.push_back(std::to_string(outside) + " outside --periods " +
                      Printf("%g:%g", options.keep->from, options.keep->to));
  }
  if (inside > 0) phrases.push_back(std::to_string(inside) + " in --exclude-periods");
  if (otherwise > 0) phrases.push_back(std::to_string(otherwise) + " excluded");
  if (const int dropped = sounding.Count(PointStatus::kOutOfQuadrant); dropped > 0) {
    phrases.push_back(Plural(dropped, "phase", "phases") + " outside 0 to 90 degrees, left out");
  }
  return phrases;
}

std::string FormatSoundingTable(const Sounding& sounding) {
  std::string table =
      "    period (s)  app. resistivity (ohm-m)  error (ohm-m)  phase (deg)  error (deg)  "
      "status\n";
  for (const MeasuredPoint& p : sounding.points) {
    table += Cell("%14.6g", p.period, 14) + "  " + Cell("%24.6g", p.resistivity, 24) + "  " +
             Cell("%13.4g", p.resistivityError, 13) + "  " + Cell("%11.3f", p.phase, 11) + "  " +
             Cell("%11.3f", p.phaseError, 11) + "  " + StatusName(p.status) + "\n";
  }
  return table;
}

std::string FormatSoundingCsv(const Sounding& sounding) {
  std::string csv =
      "period_s,apparent_resistivity_ohm_m,apparent_resistivity_error_ohm_m,phase_deg,"
      "phase_error_deg,status\n";
  for (const MeasuredPoint& p : sounding.points) {
    csv += Field(p.period) + "," + Field(p.resistivity) + "," + Field(p.resistivityError) + "," +
           Field(p.phase) + "," + Field(p.phaseError) + "," + StatusName(p.status) + "\n";
  }
  return csv;
}

std::string SoundingSummary(const std::string& file, const Sounding& sounding,
                            const ReadOptions& options) {
  std::string summary = file + ": " + std::to_string(sounding.Count(PointStatus::kUsed)) +
                        " periods from " + sounding.source + ", " +
                        ComponentName(options.component) + " response, error floor " +
                        Printf("%g%%", options.errorFloor * 100);
  if (options.rhoFloor > 0) {
    summary += Printf(", apparent resistivity floor %g%%", options.rhoFloor * 100);
  }
  if (options.phaseFloor > 0) summary += Printf(", phase floor %g degrees", options.phaseFloor);
  if (options.staticShift != 1) summary += Printf(", static shift %g", options.staticShift);
  const bool turned = sounding.rotationLow != 0 || sounding.rotationHigh != 0;
  if (turned) {
    summary += "; given at " +
               (sounding.rotationLow == sounding.rotationHigh
                    ? Printf("%g", sounding.rotationLow)
                    : Printf("%g to %g", sounding.rotationLow, sounding.rotationHigh)) +
               " degrees (" + sounding.rotationName + ")";
  }
  if (options.rotateTo) {
    summary += std::string(turned ? ", " : "; ") + "rotated to " + Printf("%g", *options.rotateTo) +
               " degrees";
  }
  if (sounding.tipper) summary += "; tipper sections not used";
  for (const std::string& phrase : SetAsidePhrases(sounding, options)) summary += "; " + phrase;
  int fitted = 0;
  for (const MeasuredPoint& p : sounding.points) {
    fitted += p.status == PointStatus::kUsed && OutOfQuadrant(p.phase) ? 1 : 0;
  }
  if (fitted > 0) {
    summary += "; " + Plural(fitted, "phase", "phases") + " outside 0 to 90 degrees, fitted";
  }
  return summary;
}

}  // namespace vesk1::mt
