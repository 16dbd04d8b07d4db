// A sounding curve computed for a model: apparent resistivity and phase per period, printed
// as an aligned table or as CSV.
#ifndef VESK1_MT_CURVE_H
#define VESK1_MT_CURVE_H

#include <string>
#include <vector>

namespace vesk1::mt {

struct CurvePoint {
  double period;       // seconds
  double resistivity;  // apparent resistivity, ohm-metres; NaN where none was computed
  double phase;        // degrees; NaN where none was computed
};

// Columns right-aligned under a header line; NaN shows as "nan".
std::string FormatTable(const std::vector<CurvePoint>& curve);
// A header line, then one line per point, values with nine significant digits.
std::string FormatCsv(const std::vector<CurvePoint>& curve);

}  // namespace vesk1::mt

#endif  // VESK1_MT_CURVE_H
