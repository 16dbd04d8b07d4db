#include "mt/sounding.h"

#include <cstdio>

#include "mt/format.h"

namespace vesk1::mt {

std::string FormatSoundingTable(const Sounding& sounding) {
  std::string table =
      "    period (s)  app. resistivity (ohm-m)  error (ohm-m)  phase (deg)  error (deg)\n";
  for (const MeasuredPoint& p : sounding.points) {
    table += Printf("%14.6g  %24.6g  %13.4g  %11.3f  %11.3f\n", p.period, p.resistivity,
                    p.resistivityError, p.phase, p.phaseError);
  }
  return table;
}

std::string FormatSoundingCsv(const Sounding& sounding) {
  std::string csv =
      "period_s,apparent_resistivity_ohm_m,apparent_resistivity_error_ohm_m,phase_deg,"
      "phase_error_deg\n";
  for (const MeasuredPoint& p : sounding.points) {
    csv += Printf("%.9g,%.9g,%.9g,%.9g,%.9g\n", p.period, p.resistivity, p.resistivityError,
                  p.phase, p.phaseError);
  }
  return csv;
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

}  // namespace vesk1::mt
